#pragma once

#include "AvAudioEnc.h"

#include <cstdint>
#include <mutex>

struct AVAudioFifo;
struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVIOContext;
struct AVPacket;
struct SwrContext;

// One output file: the encoder, the resampler where the codec needs another sample format or rate,
// and the muxer writing through the file descriptor.
class AvAudioStream {
public:
    AvAudioStream() = default;
    ~AvAudioStream();
    AvAudioStream(const AvAudioStream&) = delete;
    AvAudioStream& operator=(const AvAudioStream&) = delete;

    AE_ERR Open(const AE_CONFIG& config, const AE_TAGS& tags, const char* path);
    AE_ERR Write(const int16_t* values, uint32_t count);
    // Finishes the file (when nothing failed before) and closes it.
    AE_ERR Close();

    std::mutex m_mutex; // serialises the calls on this stream

private:
    AE_ERR OpenCodec(const AE_CONFIG& config);
    AE_ERR OpenMuxer(const AE_TAGS& tags);
    AE_ERR Finish();
    AE_ERR Convert(const int16_t* values, int frames);
    AE_ERR EncodeBuffered(bool last);
    AE_ERR Encode(AVFrame* frame);
    AE_ERR Fail(AE_ERR error);
    AE_ERR CheckIo();
    void FreeCodec();
    bool CloseFile();

    static int WritePacket(void* opaque, uint8_t* buffer, int size);
    static int64_t Seek(void* opaque, int64_t offset, int whence);

    AE_ERR m_error = AE_ERR_SUCCESSFUL; // the first failure; it sticks
    bool m_closed = false;

    int m_fd = -1;
    int m_ioErrno = 0;

    uint32_t m_format = 0;
    int m_channels = 0;
    int m_inputRate = 0;
    int16_t m_partial[2] = {};
    uint32_t m_partialValues = 0;
    int64_t m_inputFrames = 0; // whole sample frames taken in
    int64_t m_sentFrames = 0;  // samples handed to the encoder, at the coded rate
    int64_t m_endFrames = -1;  // the stream's length at the coded rate, once the input has ended

    AVCodecContext* m_codec = nullptr;
    SwrContext* m_swr = nullptr; // none when the encoder takes the input as it is (FLAC)
    AVAudioFifo* m_fifo = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    uint8_t** m_converted = nullptr;
    int m_convertedCapacity = 0;
    AVFormatContext* m_mux = nullptr;
    AVIOContext* m_io = nullptr;
};
