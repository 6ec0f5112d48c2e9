#include "MediaTimeline.h"

#include "AudioTracks.h"

#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
}

namespace {

// Formats whose header duration counts from their own zero, not from the first timestamp.
bool DurationFromZero(const AVFormatContext* ctx) {
    const char* name = ctx->iformat ? ctx->iformat->name : "";
    return std::strstr(name, "matroska") || std::strstr(name, "mov");
}

} // namespace

double MediaTimeline::Seconds(int64_t ts, AVRational timeBase) const {
    return static_cast<double>(ts - av_rescale_q(startUs, AV_TIME_BASE_Q, timeBase)) * av_q2d(timeBase);
}

MediaTimeline TimelineOf(const AVFormatContext* ctx) {
    MediaTimeline timeline;
    if (ctx->start_time != AV_NOPTS_VALUE)
        timeline.startUs = ctx->start_time;
    int64_t duration = ctx->duration;
    if (duration != AV_NOPTS_VALUE && duration > 0) {
        if (DurationFromZero(ctx) && timeline.startUs > 0 && duration > timeline.startUs)
            duration -= timeline.startUs;
        timeline.length = static_cast<double>(duration) / AV_TIME_BASE;
    } else {
        // No duration for the file: the audio's own, where its header tells it.
        const int audio = AudioTrackStream(ctx, 0);
        const AVStream* st = audio >= 0 ? ctx->streams[audio] : nullptr;
        if (st && st->duration != AV_NOPTS_VALUE && st->duration > 0)
            timeline.length = static_cast<double>(st->duration) * av_q2d(st->time_base);
    }
    return timeline;
}

bool AudioClockStalls(AVFormatContext* ctx, int audio, AVPacket* pkt) {
    constexpr int kPackets = 2 * StalledClock::kStalledPackets;
    StalledClock clock;
    for (int seen = 0, read = 0; seen < kPackets && read < 64 * kPackets; ++read) {
        if (av_read_frame(ctx, pkt) < 0)
            break;
        const bool stalled = pkt->stream_index == audio && (++seen, clock.Take(pkt->pts, pkt->size));
        av_packet_unref(pkt);
        if (stalled)
            return true;
    }
    return false;
}

bool StalledClock::Take(int64_t pts, int size) {
    if (pts == AV_NOPTS_VALUE || size <= 0)
        return m_stalls >= kStalledPackets;
    m_stalls = m_last != INT64_MIN && pts <= m_last ? m_stalls + 1 : 0;
    m_last = pts;
    return m_stalls >= kStalledPackets;
}
