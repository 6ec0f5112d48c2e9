#pragma once

#include "../encoder_common/FfmpegOutput.h"
#include "AvAudioEnc.h"
#include "FlacRuns.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

// One output file: the encoder, the resampler where the codec needs another sample format or rate,
// and the muxer writing through the file descriptor.
class AvAudioStream : private FfmpegOutput {
public:
    AvAudioStream() = default;
    ~AvAudioStream();
    AE_ERR Open(const AE_CONFIG& config, const AE_TAGS& tags, const char* path);
    AE_ERR Write(const void* values, uint32_t count);
    // Finishes the file and closes it; after a write error as far as it got (AE_ERR_UNFINISHED when
    // that cannot be done).
    AE_ERR Close();
    using FfmpegOutput::ErrorText;

    std::mutex m_mutex; // serialises the calls on this stream

private:
    AE_ERR OpenCodec(const AE_CONFIG& config);
    AE_ERR OpenMuxer(const AE_TAGS& tags);
    AE_ERR WriteCover(const AE_TAGS& tags);
    AE_ERR Finish();
    AE_ERR FinishAfterFailure();
    AE_ERR Convert(const void* values, int frames);
    AE_ERR EncodeBuffered(bool last);
    AE_ERR Encode(AVFrame* frame);
    AE_ERR Fail(AE_ERR error);
    // FLAC on several threads.
    AE_ERR EncodeRuns();
    AE_ERR FinishRuns();
    bool WriteRunFrame(const FlacRuns::Frame& frame, const std::vector<uint8_t>* streamInfo = nullptr);
    // Success for FfmpegError::None; otherwise the failure, kept as the stream's.
    AE_ERR Check(FfmpegError error);

    AE_ERR m_error = AE_ERR_SUCCESSFUL; // the first failure; it sticks
    bool m_closed = false;

    uint32_t m_format = 0;
    int m_channels = 0;
    int m_inputRate = 0;
    AVSampleFormat m_inputFormat = AV_SAMPLE_FMT_S16;
    AVChannelLayout m_inputLayout{}; // as the resampler takes it (side channels relabelled)
    int m_valueBytes = 2;
    uint8_t m_partial[AE_MAX_CHANNELS * 4] = {};
    uint32_t m_partialValues = 0;
    int m_coverStream = -1;

    std::unique_ptr<FlacRuns> m_runs;
    FlacRuns::Frame
        m_held; // the last frame out, written once the next one is known (STREAMINFO rides on the last)
    bool m_holding = false;
    int64_t m_queuedFrames = 0; // samples handed to the runs
    std::vector<uint8_t> m_runInput;
    int64_t m_inputFrames = 0; // whole sample frames taken in
    int64_t m_endFrames = -1;  // the stream's length at the coded rate, once the input has ended
};
