#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include <ebur128.h>

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

// Measures what step 1 writes, on a thread of its own, so that the measuring does not slow down the
// writing: Add copies the samples and returns at once (it waits only while a few seconds of audio are
// still queued). Add and Finish are called from one thread (the output stage's); Finish joins the
// meter's thread. Errors: a meter that could not start (out of memory) reports measured = false.
class SoundMeter {
public:
    // format: the written samples' format (U8, S16, S32 or FLT, interleaved).
    SoundMeter(const AVChannelLayout& layout, AVSampleFormat format, int sampleRate);
    ~SoundMeter();
    SoundMeter(const SoundMeter&) = delete;
    SoundMeter& operator=(const SoundMeter&) = delete;

    void Add(const uint8_t* samples, size_t frames);
    Loudness Finish();

private:
    void Run();
    void Measure(const std::vector<uint8_t>& chunk);

    ebur128_state* m_state = nullptr;
    AVSampleFormat m_format;
    int m_channels;
    size_t m_frameBytes;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::vector<uint8_t>> m_queue;
    bool m_end = false;
    std::thread m_thread;
    std::vector<int16_t> m_widened; // U8 samples as 16-bit for the meter
};

} // namespace videoedit
