#include "SoundMeter.h"

#include <cmath>
#include <ebur128.h>

namespace videoedit {

namespace {

constexpr size_t kQueuedChunks = 64;

int MeterChannel(const AVChannelLayout& layout, int index) {
    switch (av_channel_layout_channel_from_index(&layout, static_cast<unsigned>(index))) {
    case AV_CHAN_FRONT_LEFT:
        return EBUR128_LEFT;
    case AV_CHAN_FRONT_RIGHT:
        return EBUR128_RIGHT;
    case AV_CHAN_LOW_FREQUENCY:
    case AV_CHAN_LOW_FREQUENCY_2:
        return EBUR128_UNUSED; // the LFE does not count towards loudness
    case AV_CHAN_SIDE_LEFT:
    case AV_CHAN_BACK_LEFT:
        return EBUR128_LEFT_SURROUND;
    case AV_CHAN_SIDE_RIGHT:
    case AV_CHAN_BACK_RIGHT:
        return EBUR128_RIGHT_SURROUND;
    default:
        return EBUR128_CENTER; // weight 1, as BS.1770 gives every other channel
    }
}

} // namespace

SoundMeter::SoundMeter(const AVChannelLayout& layout, AVSampleFormat format, int sampleRate)
    : m_format(format), m_channels(layout.nb_channels),
      m_frameBytes(static_cast<size_t>(layout.nb_channels * av_get_bytes_per_sample(format))) {
    if (m_channels <= 0 || sampleRate <= 0)
        return;
    m_state = ebur128_init(static_cast<unsigned>(m_channels), static_cast<unsigned long>(sampleRate),
                           EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
    if (!m_state)
        return;
    for (int i = 0; i < m_channels; ++i)
        ebur128_set_channel(m_state, static_cast<unsigned>(i), MeterChannel(layout, i));
    try {
        m_thread = std::thread(&SoundMeter::Run, this);
    } catch (const std::exception&) {
        ebur128_destroy(&m_state);
    }
}

SoundMeter::~SoundMeter() {
    Finish();
    if (m_state)
        ebur128_destroy(&m_state);
}

void SoundMeter::Add(const uint8_t* samples, size_t frames) {
    if (!m_thread.joinable() || frames == 0)
        return;
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_queue.size() < kQueuedChunks; });
    m_queue.emplace_back(samples, samples + frames * m_frameBytes);
    m_changed.notify_all();
}

Loudness SoundMeter::Finish() {
    if (m_thread.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_end = true;
            m_changed.notify_all();
        }
        m_thread.join();
    }
    Loudness result;
    double lufs = -HUGE_VAL;
    if (!m_state || ebur128_loudness_global(m_state, &lufs) != EBUR128_SUCCESS || !std::isfinite(lufs))
        return result;
    double peak = 0;
    for (int i = 0; i < m_channels; ++i) {
        double p = 0;
        if (ebur128_true_peak(m_state, static_cast<unsigned>(i), &p) == EBUR128_SUCCESS)
            peak = std::max(peak, p);
    }
    result.measured = true;
    result.integratedLufs = lufs;
    result.truePeakDbtp = peak > 0 ? 20 * std::log10(peak) : -HUGE_VAL;
    return result;
}

void SoundMeter::Run() {
    for (;;) {
        std::vector<uint8_t> chunk;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return m_end || !m_queue.empty(); });
            if (m_queue.empty())
                return;
            chunk = std::move(m_queue.front());
            m_queue.pop_front();
            m_changed.notify_all();
        }
        Measure(chunk);
    }
}

void SoundMeter::Measure(const std::vector<uint8_t>& chunk) {
    const size_t frames = chunk.size() / m_frameBytes;
    switch (m_format) {
    case AV_SAMPLE_FMT_U8:
        m_widened.resize(chunk.size());
        for (size_t i = 0; i < chunk.size(); ++i)
            m_widened[i] = static_cast<int16_t>((chunk[i] - 128) * 256);
        ebur128_add_frames_short(m_state, m_widened.data(), frames);
        break;
    case AV_SAMPLE_FMT_S16:
        ebur128_add_frames_short(m_state, reinterpret_cast<const short*>(chunk.data()), frames);
        break;
    case AV_SAMPLE_FMT_S32:
        ebur128_add_frames_int(m_state, reinterpret_cast<const int*>(chunk.data()), frames);
        break;
    case AV_SAMPLE_FMT_FLT:
        ebur128_add_frames_float(m_state, reinterpret_cast<const float*>(chunk.data()), frames);
        break;
    default:
        break;
    }
}

} // namespace videoedit
