#include "FlacRuns.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/bswap.h>
#include <libavutil/channel_layout.h>
#include <libavutil/crc.h>
#include <libavutil/md5.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cstring>

namespace {

// Samples of a run: whole FLAC frames, about a quarter of a million samples (a megabyte) at most.
constexpr int kRunSamples = 1 << 18;

int RunFrames(int frameSize, int channels) {
    const int frames = std::max(2, kRunSamples / std::max(1, frameSize * channels));
    return frames * frameSize;
}

// The number as FLAC codes frame numbers (the way UTF-8 codes characters, up to 36 bits).
void PutCodedNumber(std::vector<uint8_t>& out, uint32_t n) {
    if (n < 0x80) {
        out.push_back(static_cast<uint8_t>(n));
        return;
    }
    int bytes = 2;
    while (bytes < 7 && n >= (1u << (5 * bytes + 1)))
        ++bytes;
    out.push_back(static_cast<uint8_t>((0xFF00u >> bytes) | (n >> (6 * (bytes - 1)))));
    for (int i = bytes - 2; i >= 0; --i)
        out.push_back(static_cast<uint8_t>(0x80 | ((n >> (6 * i)) & 0x3F)));
}

} // namespace

FlacRuns::FlacRuns(const AVCodecContext& settings, int threads)
    : m_channels(settings.ch_layout.nb_channels), m_bytes(settings.sample_fmt == AV_SAMPLE_FMT_S16 ? 2 : 4),
      m_bits(settings.sample_fmt == AV_SAMPLE_FMT_S16 ? 16 : 24), m_frameSize(settings.frame_size),
      m_runFrames(RunFrames(settings.frame_size, settings.ch_layout.nb_channels)) {
    m_md5 = av_md5_alloc();
    if (!m_md5 || m_frameSize <= 0 || m_channels <= 0)
        return;
    av_md5_init(m_md5);
    std::vector<AVCodecContext*> codecs;
    for (int i = 0; i < threads; ++i) {
        AVCodecContext* c = avcodec_alloc_context3(settings.codec);
        bool ok = c && av_channel_layout_copy(&c->ch_layout, &settings.ch_layout) >= 0;
        if (ok) {
            c->sample_fmt = settings.sample_fmt;
            c->sample_rate = settings.sample_rate;
            c->bits_per_raw_sample = settings.bits_per_raw_sample;
            c->compression_level = settings.compression_level;
            c->time_base = settings.time_base;
            ok = avcodec_open2(c, settings.codec, nullptr) >= 0 && c->frame_size == m_frameSize;
        }
        if (!ok) {
            avcodec_free_context(&c);
            for (AVCodecContext*& other : codecs)
                avcodec_free_context(&other);
            return;
        }
        codecs.push_back(c);
    }
    try {
        for (AVCodecContext* c : codecs)
            m_workers.emplace_back(&FlacRuns::Work, this, c);
    } catch (const std::exception&) {
        // The workers started so far end with the object; the ones not started free their encoders here.
        for (size_t i = m_workers.size(); i < codecs.size(); ++i)
            avcodec_free_context(&codecs[i]);
        return;
    }
    m_ready = true;
}

FlacRuns::~FlacRuns() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    for (std::thread& t : m_workers)
        t.join();
    av_freep(&m_md5);
}

void FlacRuns::Work(AVCodecContext* codec) {
    for (;;) {
        Run run;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [&] { return m_stop || !m_queue.empty(); });
            if (m_stop)
                break; // a stream given up: what is queued is not wanted any more
            run = std::move(m_queue.front());
            m_queue.pop_front();
        }
        std::vector<Frame> frames;
        const bool ok = Code(codec, run, frames);
        {
            std::lock_guard lock(m_mutex);
            if (!ok)
                m_failed = true;
            m_done[run.index] = std::move(frames);
        }
        m_changed.notify_all();
    }
    avcodec_free_context(&codec);
}

bool FlacRuns::Code(AVCodecContext* codec, const Run& run, std::vector<Frame>& out) {
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    bool ok = frame && packet && av_channel_layout_copy(&frame->ch_layout, &codec->ch_layout) >= 0;
    if (ok) {
        frame->format = codec->sample_fmt;
        frame->sample_rate = codec->sample_rate;
        frame->nb_samples = m_frameSize;
        ok = av_frame_get_buffer(frame, 0) >= 0;
    }
    // Every run but the last is whole frames; so only the stream's last frame is short.
    const uint32_t first = static_cast<uint32_t>(run.index * (m_runFrames / m_frameSize));
    const size_t block = static_cast<size_t>(m_channels * m_bytes);
    for (int done = 0; ok && done < run.frames;) {
        const int n = std::min(m_frameSize, run.frames - done);
        ok = av_frame_make_writable(frame) >= 0;
        if (!ok)
            break;
        std::memcpy(frame->data[0], run.samples.data() + static_cast<size_t>(done) * block,
                    static_cast<size_t>(n) * block);
        frame->nb_samples = n;
        ok = avcodec_send_frame(codec, frame) >= 0;
        while (ok) {
            const int r = avcodec_receive_packet(codec, packet);
            if (r == AVERROR(EAGAIN))
                break;
            Frame coded;
            coded.samples = n;
            ok = r >= 0 && Renumber(std::vector<uint8_t>(packet->data, packet->data + packet->size),
                                    first + static_cast<uint32_t>(out.size()), coded.bytes);
            av_packet_unref(packet);
            if (ok)
                out.push_back(std::move(coded));
        }
        done += n;
    }
    av_packet_free(&packet);
    av_frame_free(&frame);
    return ok;
}

void FlacRuns::UpdateMd5(const uint8_t* samples, int frames) {
    const size_t count = static_cast<size_t>(frames) * static_cast<size_t>(m_channels);
    if (m_bits == 16) {
        av_md5_update(m_md5, samples, count * 2);
        return;
    }
    // As FLAC takes it: each 24-bit sample in 3 bytes, little-endian.
    m_md5Buffer.resize(count * 3);
    for (size_t i = 0; i < count; ++i) {
        int32_t v;
        std::memcpy(&v, samples + 4 * i, 4);
        v >>= 8;
        m_md5Buffer[3 * i] = static_cast<uint8_t>(v);
        m_md5Buffer[3 * i + 1] = static_cast<uint8_t>(v >> 8);
        m_md5Buffer[3 * i + 2] = static_cast<uint8_t>(v >> 16);
    }
    av_md5_update(m_md5, m_md5Buffer.data(), m_md5Buffer.size());
}

bool FlacRuns::Add(const uint8_t* samples, int frames, const Sink& sink) {
    if (!m_ready || m_failed)
        return false;
    UpdateMd5(samples, frames);
    const size_t block = static_cast<size_t>(m_channels * m_bytes);
    while (frames > 0) {
        if (m_filling.samples.empty())
            m_filling.samples.reserve(static_cast<size_t>(m_runFrames) * block);
        const int take = std::min(frames, m_runFrames - m_filling.frames);
        m_filling.samples.insert(m_filling.samples.end(), samples,
                                 samples + static_cast<size_t>(take) * block);
        m_filling.frames += take;
        samples += static_cast<size_t>(take) * block;
        frames -= take;
        if (m_filling.frames == m_runFrames && !Submit(sink, false))
            return false;
    }
    return HandOut(sink);
}

bool FlacRuns::Finish(const Sink& sink) {
    if (!m_ready || !Submit(sink, true))
        return false;
    av_md5_final(m_md5, m_digest);
    return true;
}

// Queues the run being filled (if any), then hands out what is done: with `all`, until every run is
// out; otherwise until few enough are on their way.
bool FlacRuns::Submit(const Sink& sink, bool all) {
    if (m_filling.frames > 0) {
        m_filling.index = m_nextRun++;
        {
            std::lock_guard lock(m_mutex);
            m_queue.push_back(std::move(m_filling));
            ++m_inFlight;
        }
        m_changed.notify_all();
        m_filling = Run{};
    }
    const int64_t most = all ? 0 : 2 * static_cast<int64_t>(m_workers.size());
    while (m_inFlight > most) {
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [&] { return m_failed || m_done.count(m_nextOut) > 0; });
            if (m_failed)
                return false;
        }
        if (!HandOut(sink))
            return false;
    }
    return !m_failed;
}

bool FlacRuns::HandOut(const Sink& sink) {
    for (;;) {
        std::vector<Frame> frames;
        {
            std::lock_guard lock(m_mutex);
            auto it = m_done.find(m_nextOut);
            if (m_failed || it == m_done.end())
                return !m_failed;
            frames = std::move(it->second);
            m_done.erase(it);
        }
        ++m_nextOut;
        --m_inFlight;
        for (const Frame& f : frames) {
            const auto size = static_cast<uint32_t>(f.bytes.size());
            m_minFrame = m_nextFrame == 0 ? size : std::min(m_minFrame, size);
            m_maxFrame = std::max(m_maxFrame, size);
            ++m_nextFrame;
            m_samples += static_cast<uint64_t>(f.samples);
            if (!sink(f))
                return false;
        }
    }
}

std::vector<uint8_t> FlacRuns::StreamInfo(const uint8_t* encoderStreamInfo) const {
    std::vector<uint8_t> info(encoderStreamInfo, encoderStreamInfo + 34);
    for (int i = 0; i < 3; ++i) {
        info[static_cast<size_t>(4 + i)] = static_cast<uint8_t>(m_minFrame >> (16 - 8 * i));
        info[static_cast<size_t>(7 + i)] = static_cast<uint8_t>(m_maxFrame >> (16 - 8 * i));
    }
    info[13] = static_cast<uint8_t>((info[13] & 0xF0) | ((m_samples >> 32) & 0x0F));
    for (int i = 0; i < 4; ++i)
        info[static_cast<size_t>(14 + i)] = static_cast<uint8_t>(m_samples >> (24 - 8 * i));
    std::memcpy(info.data() + 18, m_digest, sizeof m_digest);
    return info;
}

bool FlacRuns::Renumber(const std::vector<uint8_t>& in, uint32_t number, std::vector<uint8_t>& out) {
    // Sync code and fixed block size, block size and rate codes, channels and depth, then the number.
    if (in.size() < 8 || in[0] != 0xFF || in[1] != 0xF8)
        return false;
    const uint8_t lead = in[4];
    int numberBytes = 1;
    if (lead >= 0x80) {
        numberBytes = 0;
        while (numberBytes < 7 && (lead & (0x80 >> numberBytes)))
            ++numberBytes;
        if (numberBytes < 2 || numberBytes > 6)
            return false;
    }
    const int blockCode = in[2] >> 4, rateCode = in[2] & 0x0F;
    const size_t extra = (blockCode == 6   ? 1
                          : blockCode == 7 ? 2
                                           : 0) +
                         (rateCode == 12                     ? 1
                          : rateCode == 13 || rateCode == 14 ? 2
                                                             : 0);
    const size_t headerEnd = 4 + static_cast<size_t>(numberBytes) + extra; // where the CRC-8 is
    if (headerEnd + 3 > in.size())
        return false;
    out.assign(in.begin(), in.begin() + 4);
    PutCodedNumber(out, number);
    out.insert(out.end(), in.begin() + static_cast<ptrdiff_t>(headerEnd - extra),
               in.begin() + static_cast<ptrdiff_t>(headerEnd));
    out.push_back(static_cast<uint8_t>(av_crc(av_crc_get_table(AV_CRC_8_ATM), 0, out.data(), out.size())));
    out.insert(out.end(), in.begin() + static_cast<ptrdiff_t>(headerEnd + 1), in.end() - 2);
    const uint16_t crc = static_cast<uint16_t>(av_bswap16(
        static_cast<uint16_t>(av_crc(av_crc_get_table(AV_CRC_16_ANSI), 0, out.data(), out.size()))));
    out.push_back(static_cast<uint8_t>(crc >> 8));
    out.push_back(static_cast<uint8_t>(crc));
    return true;
}
