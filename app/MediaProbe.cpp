#include "MediaProbe.h"

#include "AudioTracks.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

namespace {

double Believable(double seconds) {
    return seconds > 0 && seconds <= kMaxMediaDuration ? seconds : 0;
}

int Interrupt(void* stop) {
    return static_cast<const std::atomic<bool>*>(stop)->load() ? 1 : 0;
}

// Opens a local file as media: "file:" keeps a name such as "http:x.avi" a file, and no other protocol
// may be reached (a playlist posing as a video). Only regular files, which cannot block a read.
int OpenLocal(AVFormatContext** ctx, const std::string& path) {
    if (!SourceFileProblem(path).empty()) {
        avformat_free_context(*ctx); // as avformat_open_input does on failure
        *ctx = nullptr;
        return AVERROR(EINVAL);
    }
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    const int r = avformat_open_input(ctx, ("file:" + path).c_str(), nullptr, &options);
    av_dict_free(&options);
    return r;
}

} // namespace

int OpenLocalMedia(AVFormatContext** ctx, const std::string& path) {
    return OpenLocal(ctx, path);
}

std::string SourceFileProblem(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return std::strerror(errno);
    if (S_ISDIR(st.st_mode))
        return "a folder";
    return S_ISREG(st.st_mode) ? "" : "not a regular file";
}

bool ProbeMediaTimeline(const std::string& path, MediaTimeline& timeline) {
    // What is wrong with a file is told in the program's own words; FFmpeg's notes would only
    // clutter the terminal.
    av_log_set_level(AV_LOG_QUIET);
    AVFormatContext* ctx = nullptr;
    if (OpenLocal(&ctx, path) < 0)
        return false;
    const bool ok = avformat_find_stream_info(ctx, nullptr) >= 0;
    if (ok) {
        timeline = TimelineOf(ctx);
        timeline.length = Believable(timeline.length);
        const int audio = AudioTrackStream(ctx, 0);
        AVPacket* pkt = audio >= 0 ? av_packet_alloc() : nullptr;
        if (pkt) {
            for (unsigned i = 0; i < ctx->nb_streams; ++i)
                ctx->streams[i]->discard = static_cast<int>(i) == audio ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
            timeline.stalled = AudioClockStalls(ctx, audio, pkt);
            av_packet_free(&pkt);
        }
    }
    avformat_close_input(&ctx);
    return ok;
}

double ProbeMediaDuration(const std::string& path) {
    MediaTimeline timeline;
    return ProbeMediaTimeline(path, timeline) ? timeline.length : -1;
}

double ScanMediaDuration(const std::string& path, const std::atomic<bool>& stop) {
    av_log_set_level(AV_LOG_QUIET);
    AVFormatContext* ctx = avformat_alloc_context();
    if (!ctx)
        return 0;
    ctx->interrupt_callback = {&Interrupt, const_cast<std::atomic<bool>*>(&stop)};
    if (OpenLocal(&ctx, path) < 0)
        return 0;
    double seconds = 0;
    AVPacket* pkt = av_packet_alloc();
    const int audio = avformat_find_stream_info(ctx, nullptr) >= 0 ? AudioTrackStream(ctx, 0) : -1;
    if (pkt && audio >= 0) {
        for (unsigned i = 0; i < ctx->nb_streams; ++i)
            ctx->streams[i]->discard = static_cast<int>(i) == audio ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
        const AVStream* st = ctx->streams[audio];
        const MediaTimeline timeline = TimelineOf(ctx);
        StalledClock clock;
        bool stalled = false;
        int64_t first = AV_NOPTS_VALUE, end = AV_NOPTS_VALUE, samples = 0; // counted when stalled
        while (!stop.load() && av_read_frame(ctx, pkt) >= 0) {
            const int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
            if (pkt->stream_index == audio) {
                stalled = clock.Take(pkt->pts, pkt->size) || stalled;
                if (first == AV_NOPTS_VALUE)
                    first = ts;
                if (ts != AV_NOPTS_VALUE)
                    end = std::max(end, ts + std::max<int64_t>(pkt->duration, 0));
                const int n = av_get_audio_frame_duration2(st->codecpar, pkt->size);
                samples = n > 0 && samples >= 0 ? samples + n : -1; // -1: lengths that cannot be told
            }
            av_packet_unref(pkt);
        }
        if (stop.load() || end == AV_NOPTS_VALUE)
            seconds = 0;
        else if (!stalled)
            seconds = Believable(timeline.Seconds(end, st->time_base));
        else if (samples > 0 && st->codecpar->sample_rate > 0)
            seconds = Believable(
                std::max(0.0, first != AV_NOPTS_VALUE ? timeline.Seconds(first, st->time_base) : 0) +
                static_cast<double>(samples) / st->codecpar->sample_rate);
    }
    av_packet_free(&pkt);
    avformat_close_input(&ctx);
    return seconds;
}
