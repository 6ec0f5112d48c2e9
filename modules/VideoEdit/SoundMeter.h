#pragma once

#include "TruePeak.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <ebur128.h>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

namespace videoedit {

// What the meter found: the integrated loudness (ITU-R BS.1770, EBU R128 gating) and the true peak
// of everything it was given. `measured` is false for a range without a gated block (silence, or
// shorter than 400 ms): no loudness can be told.
struct Loudness {
    bool measured = false;
    double integratedLufs = 0;
    double truePeakDbtp = 0;
};

// Measures what step 1 writes beside the writing, so that it costs step 1 as little time as it can:
// Add copies the samples and returns at once (it waits only while a backlog is queued), and two
// threads of the meter's own take them, one for the loudness (libebur128), one for the true peak.
// Add and Measure are called from one thread at a time (the output stage's of each extraction);
// Measure waits until all that was added is measured; the destructor joins the threads. A meter that
// could not start (out of memory, no threads) reports measured = false.
class SoundMeter {
public:
    // format: the written samples' format (U8, S16, S32 or FLT, interleaved).
    SoundMeter(const AVChannelLayout& layout, AVSampleFormat format, int sampleRate);
    ~SoundMeter();
    SoundMeter(const SoundMeter&) = delete;
    SoundMeter& operator=(const SoundMeter&) = delete;

    void Add(const uint8_t* samples, size_t frames);
    // Everything added so far.
    Loudness Measure();

private:
    using Chunk = std::shared_ptr<const std::vector<uint8_t>>;
    // One consumer of the chunks, on a thread of its own.
    struct Worker {
        std::function<void(const std::vector<uint8_t>&)> measure;
        std::deque<Chunk> queue;
        bool busy = false; // measuring a chunk taken off the queue
        std::thread thread;
    };
    void Run(Worker& worker);
    void Push(std::vector<uint8_t>&& samples);
    void Stop();
    void MeasureLoudness(const std::vector<uint8_t>& chunk);
    void MeasurePeak(const std::vector<uint8_t>& chunk);

    ebur128_state* m_state = nullptr;
    TruePeak m_peak;
    AVSampleFormat m_format;
    int m_channels;
    size_t m_frameBytes;
    bool m_failed = false;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_end = false;
    Worker m_workers[2];
    std::vector<uint8_t> m_pending; // gathered into chunks of a second or more: fewer wake-ups
    std::vector<int16_t> m_widened; // U8 samples as 16-bit for libebur128
    std::vector<float> m_floats;    // the samples as floats for the true peak
};

// The meter of a run of extractions that write one sound: the first extraction that writes makes it
// in its format; the instance keeps it until it is reset. One extraction at a time uses it.
struct MeterSlot {
    std::unique_ptr<SoundMeter> meter;
};

} // namespace videoedit
