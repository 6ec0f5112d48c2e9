#include "MediaProbe.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

double ProbeMediaDuration(const std::string& path) {
    // What is wrong with a file is told in the program's own words; FFmpeg's notes would only
    // clutter the terminal.
    av_log_set_level(AV_LOG_QUIET);
    AVFormatContext* ctx = nullptr;
    if (avformat_open_input(&ctx, path.c_str(), nullptr, nullptr) < 0)
        return -1;
    double seconds = -1;
    if (avformat_find_stream_info(ctx, nullptr) >= 0) {
        if (ctx->duration != AV_NOPTS_VALUE && ctx->duration > 0) {
            seconds = static_cast<double>(ctx->duration) / AV_TIME_BASE;
        } else {
            const int audio = av_find_best_stream(ctx, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
            if (audio >= 0 && ctx->streams[audio]->duration != AV_NOPTS_VALUE)
                seconds = static_cast<double>(ctx->streams[audio]->duration) *
                          av_q2d(ctx->streams[audio]->time_base);
        }
    }
    avformat_close_input(&ctx);
    return seconds;
}
