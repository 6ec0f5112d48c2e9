#include "SoundMeter.h"

#include <cmath>
#include <utility>

namespace videoedit {

namespace {

constexpr size_t kQueuedChunks = 4;
constexpr size_t kChunkFrames = 1 << 16;

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
    : m_peak(layout.nb_channels), m_format(format), m_channels(layout.nb_channels),
      m_frameBytes(static_cast<size_t>(layout.nb_channels * av_get_bytes_per_sample(format))) {
    m_failed = m_channels <= 0 || sampleRate <= 0;
    if (!m_failed)
        m_state = ebur128_init(static_cast<unsigned>(m_channels), static_cast<unsigned long>(sampleRate),
                               EBUR128_MODE_I);
    if (!m_state) {
        m_failed = true;
        return;
    }
    for (int i = 0; i < m_channels; ++i)
        ebur128_set_channel(m_state, static_cast<unsigned>(i), MeterChannel(layout, i));
    m_workers[0].measure = [this](const std::vector<uint8_t>& c) { MeasureLoudness(c); };
    m_workers[1].measure = [this](const std::vector<uint8_t>& c) { MeasurePeak(c); };
    try {
        for (Worker& w : m_workers)
            w.thread = std::thread(&SoundMeter::Run, this, std::ref(w));
    } catch (const std::exception&) {
        m_failed = true;
        Stop();
    }
}

SoundMeter::~SoundMeter() {
    Stop();
    if (m_state)
        ebur128_destroy(&m_state);
}

void SoundMeter::Add(const uint8_t* samples, size_t frames) {
    if (m_failed || frames == 0)
        return;
    m_pending.insert(m_pending.end(), samples, samples + frames * m_frameBytes);
    if (m_pending.size() >= kChunkFrames * m_frameBytes)
        Push(std::exchange(m_pending, {}));
}

void SoundMeter::Push(std::vector<uint8_t>&& samples) {
    const auto chunk = std::make_shared<const std::vector<uint8_t>>(std::move(samples));
    std::unique_lock lock(m_mutex);
    for (Worker& w : m_workers) {
        m_changed.wait(lock, [&w] { return w.queue.size() < kQueuedChunks; });
        w.queue.push_back(chunk);
    }
    m_changed.notify_all();
}

void SoundMeter::Stop() {
    {
        std::lock_guard lock(m_mutex);
        m_end = true;
        m_changed.notify_all();
    }
    for (Worker& w : m_workers)
        if (w.thread.joinable())
            w.thread.join();
}

Loudness SoundMeter::Measure() {
    if (!m_failed && !m_pending.empty())
        Push(std::exchange(m_pending, {}));
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] {
            for (const Worker& w : m_workers)
                if (w.busy || (!w.queue.empty() && w.thread.joinable()))
                    return false;
            return true;
        });
    }
    Loudness result;
    double lufs = -HUGE_VAL;
    if (m_failed || ebur128_loudness_global(m_state, &lufs) != EBUR128_SUCCESS || !std::isfinite(lufs))
        return result;
    result.measured = true;
    result.integratedLufs = lufs;
    const float peak = m_peak.Peak();
    result.truePeakDbtp = peak > 0 ? 20 * std::log10(peak) : -HUGE_VAL;
    return result;
}

void SoundMeter::Run(Worker& worker) {
    for (;;) {
        Chunk chunk;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [&] { return m_end || !worker.queue.empty(); });
            if (worker.queue.empty())
                return;
            chunk = std::move(worker.queue.front());
            worker.queue.pop_front();
            worker.busy = true;
            m_changed.notify_all();
        }
        worker.measure(*chunk);
        std::lock_guard lock(m_mutex);
        worker.busy = false;
        m_changed.notify_all();
    }
}

void SoundMeter::MeasureLoudness(const std::vector<uint8_t>& chunk) {
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

void SoundMeter::MeasurePeak(const std::vector<uint8_t>& chunk) {
    const size_t samples = chunk.size() / static_cast<size_t>(av_get_bytes_per_sample(m_format));
    m_floats.resize(samples);
    const auto convert = [&](const auto* in, float scale, float offset) {
        for (size_t i = 0; i < samples; ++i)
            m_floats[i] = (static_cast<float>(in[i]) - offset) * scale;
    };
    switch (m_format) {
    case AV_SAMPLE_FMT_U8:
        convert(chunk.data(), 1.0f / 128, 128);
        break;
    case AV_SAMPLE_FMT_S16:
        convert(reinterpret_cast<const int16_t*>(chunk.data()), 1.0f / 32768, 0);
        break;
    case AV_SAMPLE_FMT_S32:
        convert(reinterpret_cast<const int32_t*>(chunk.data()), 1.0f / 2147483648.0f, 0);
        break;
    default:
        convert(reinterpret_cast<const float*>(chunk.data()), 1.0f, 0);
        break;
    }
    m_peak.Add(m_floats.data(), samples / static_cast<size_t>(m_channels));
}

} // namespace videoedit
