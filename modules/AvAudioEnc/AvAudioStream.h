#pragma once

#include "../encoder_common/FfmpegOutput.h"
#include "AvAudioEnc.h"

#include <cstdint>
#include <mutex>

// One output file: the encoder, the resampler where the codec needs another sample format or rate,
// and the muxer writing through the file descriptor.
class AvAudioStream : private FfmpegOutput {
public:
    AE_ERR Open(const AE_CONFIG& config, const AE_TAGS& tags, const char* path);
    AE_ERR Write(const int16_t* values, uint32_t count);
    // Finishes the file and closes it; after a write error as far as it got (AE_ERR_UNFINISHED when
    // that cannot be done).
    AE_ERR Close();
    using FfmpegOutput::ErrorText;

    std::mutex m_mutex; // serialises the calls on this stream

private:
    AE_ERR OpenCodec(const AE_CONFIG& config);
    AE_ERR OpenMuxer(const AE_TAGS& tags);
    AE_ERR Finish();
    AE_ERR FinishAfterFailure();
    AE_ERR Convert(const int16_t* values, int frames);
    AE_ERR EncodeBuffered(bool last);
    AE_ERR Encode(AVFrame* frame);
    AE_ERR Fail(AE_ERR error);
    // Success for FfmpegError::None; otherwise the failure, kept as the stream's.
    AE_ERR Check(FfmpegError error);

    AE_ERR m_error = AE_ERR_SUCCESSFUL; // the first failure; it sticks
    bool m_closed = false;

    uint32_t m_format = 0;
    int m_channels = 0;
    int m_inputRate = 0;
    int16_t m_partial[2] = {};
    uint32_t m_partialValues = 0;
    int64_t m_inputFrames = 0; // whole sample frames taken in
    int64_t m_endFrames = -1;  // the stream's length at the coded rate, once the input has ended
};
