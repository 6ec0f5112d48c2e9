#pragma once

#include "Extractor.h"
#include "SoundMeter.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/samplefmt.h>
}

struct SwrContext;

namespace videoedit {

class WavWriter;

// The second half of an extraction, on a thread of its own: resamples the decoded frames to the WAV
// format and writes them, up to an exact number of frames. The decoding thread hands frames over
// through a short queue, so that decoding and resampling run side by side.
class OutputStage {
public:
    enum class State { Running, Done, Failed, Stopped };

    // targetFrames: INT64_MAX for "up to the end of the input"; maxFrames: what the WAV file can hold.
    OutputStage(const ExtractionJob& job, const std::atomic<bool>& stop, WavWriter& writer,
                int64_t targetFrames, int64_t maxFrames);
    ~OutputStage();
    OutputStage(const OutputStage&) = delete;
    OutputStage& operator=(const OutputStage&) = delete;

    bool Start();

    // Hands over a decoded frame (taken over) whose samples before `offset` are dropped, or `samples`
    // frames of silence in the format of `like` (which is only looked at). False once the stage has
    // ended: it reached the target, failed, or was stopped.
    bool PushFrame(AVFrame* frame, int offset);
    bool PushSilence(const AVFrame* like, int64_t samples);
    // The input is complete: lets the resampler give out what it holds and waits for the thread.
    State Finish();
    // Ends the thread without draining.
    void Abort();

    State GetState() const;
    // The failure's text, once the thread has ended with State::Failed.
    const std::string& Message() const { return m_message; }
    // The loudness of everything the job's meter was given, this stage's output included (measured =
    // false when the job has no meter); once the stage has finished.
    Loudness MeasuredLoudness();
    // Frames that are in the file, not only in the writer's buffer.
    int64_t FlushedFrames() const { return m_flushed.load(std::memory_order_relaxed); }

private:
    struct Item {
        AVFrame* frame = nullptr;
        int offset = 0;
        int64_t silence = 0;
        bool end = false;
    };

    bool Push(Item item);
    void Run();
    State Process(const Item& item);
    State Configure(const AVFrame* frame);
    State Feed(const AVFrame* frame, int offset);
    State FeedSilence(const AVFrame* like, int64_t samples);
    State Convert(const uint8_t** in, int count);
    State Drain();
    State AfterWrite();
    State Fail(std::string message);
    State WriteFailed();
    bool Stopping() const;
    void StartMeter();
    void Commit(const uint8_t* out, int got);

    const ExtractionJob& m_job;
    const std::atomic<bool>& m_stop;
    WavWriter& m_writer;
    const int64_t m_targetFrames;
    const int64_t m_maxFrames;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Item> m_queue;
    std::vector<AVFrame*> m_used; // processed frames, freed by the decoding thread
    State m_state = State::Running;
    std::atomic<bool> m_abort{false};
    std::thread m_thread;

    std::string m_message;
    std::atomic<int64_t> m_flushed{0};
    std::chrono::steady_clock::time_point m_lastFlush;

    SwrContext* m_swr = nullptr;
    AVChannelLayout m_inLayout{};
    AVChannelLayout m_outLayout{};
    AVSampleFormat m_inFormat = AV_SAMPLE_FMT_NONE;
    AVSampleFormat m_outFormat = AV_SAMPLE_FMT_NONE;
    int m_inRate = 0;
    SoundMeter* m_meter = nullptr; // the job's, when it measures
};

} // namespace videoedit
