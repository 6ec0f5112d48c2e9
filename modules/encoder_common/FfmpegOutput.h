#pragma once

#include <cstdint>
#include <deque>
#include <string>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

struct AVAudioFifo;
struct AVCodecContext;
struct AVDictionary;
struct AVFormatContext;
struct AVFrame;
struct AVIOContext;
struct AVOutputFormat;
struct AVPacket;
struct SwrContext;

// Failures as the FFmpeg-based writer modules see them; each module names them in its own codes.
enum class FfmpegError { None, OutOfMemory, Encoder, WriteFault, DiskFull };

// What the FFmpeg-based writer modules share: an opened encoder fed interleaved input through a
// resampler (where the input's format, rate or layout is not the codec's) and a sample buffer, and a muxer
// writing straight to a file descriptor, so that a full disk shows as the errno it is rather than as a
// generic I/O error.
class FfmpegOutput {
public:
    FfmpegOutput() = default;
    ~FfmpegOutput();
    FfmpegOutput(const FfmpegOutput&) = delete;
    FfmpegOutput& operator=(const FfmpegOutput&) = delete;

protected:
    // For m_codec, opened: the resampler (none when the input is already what the codec takes), the
    // sample buffer, one frame of the codec's size and the packet. The input is interleaved.
    FfmpegError PrepareBuffers(const AVChannelLayout& inputLayout, AVSampleFormat inputFormat, int inputRate);
    // The same for 16-bit input in the usual layout of its channel count.
    FfmpegError PrepareBuffers(int inputChannels, int inputRate);
    // The muxer over m_fd with one stream for m_codec; tags go in before WriteHeader.
    FfmpegError OpenMuxer(const AVOutputFormat* format, int ioBufferSize, int extraFlags);
    FfmpegError WriteHeader(AVDictionary** options);
    FfmpegError WriteTrailer();
    // Frames of input into the sample buffer; data null drains the resampler.
    FfmpegError Resample(const void* data, int frames);
    // Sends one frame (null: the end of the stream), stamped after the ones before, and writes whatever
    // packets come out.
    FfmpegError SendFrame(AVFrame* frame);
    // Writes a packet coded elsewhere (of `samples` samples), stamped after the ones before.
    FfmpegError WriteCoded(AVPacket* packet, int samples);
    FfmpegError IoState() const;
    void FreeCodec();
    // False when the file was open and closing it reported an error (data may be lost).
    bool CloseFile();

    // After a write error (a full disk): cuts the file back to the end of the last packet that reached
    // it whole, then lets the muxer finish it in place: what its ending rewrites inside the file (the
    // header's sizes and duration) is written, what it would add past the end (an index, the last
    // pages) is dropped, so no new room is needed. The file then holds whole packets only. Returns the
    // samples (in the codec's time base) of those packets; exact for muxers that write each packet as
    // it comes (FLAC, Ogg), not for those that gather packets first (ASF).
    int64_t FinishAfterWriteError();
    // The system's or FFmpeg's reason for the first failure, "" when there was none.
    const std::string& ErrorText() const { return m_errorText; }
    void NoteError(int averror); // keeps FFmpeg's text for the error unless a reason is kept already

    int m_fd = -1;
    int m_ioErrno = 0;
    // Each packet goes to the file as soon as the muxer gives it out, for muxers whose ending states a
    // length counted from every packet they were given (ASF): a full disk then loses at most one.
    bool m_flushEachPacket = false;
    int64_t m_sentFrames = 0; // samples handed to the encoder, at the coded rate

    AVCodecContext* m_codec = nullptr;
    SwrContext* m_swr = nullptr;
    AVAudioFifo* m_fifo = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    AVFormatContext* m_mux = nullptr;
    AVIOContext* m_io = nullptr;

private:
    FfmpegError Mux(AVPacket* packet, int64_t samplesEnd);
    static int WritePacket(void* opaque, uint8_t* buffer, int size);
    static int64_t Seek(void* opaque, int64_t offset, int whence);

    uint8_t** m_converted = nullptr;
    int m_convertedCapacity = 0;

    // Where packets end in the file (the muxer's count of bytes after each) and the samples up to
    // there; an entry leaves for m_whole once the file holds every byte up to it.
    struct PacketEnd {
        int64_t bytes = 0, samples = 0;
    };
    std::deque<PacketEnd> m_packetEnds;
    PacketEnd m_whole;
    int64_t m_keepBelow = -1; // while finishing after an error: only bytes below this are written
    bool m_trailerTried = false;
    std::string m_errorText;
};
