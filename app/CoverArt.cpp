#include "CoverArt.h"

#include "SourceTags.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

QImage ReadFrontCover(const std::string& path) {
    av_log_set_level(AV_LOG_QUIET);
    AVFormatContext* ctx = nullptr;
    if (avformat_open_input(&ctx, path.c_str(), nullptr, nullptr) < 0)
        return {};
    QImage cover;
    if (const AVStream* chosen = FrontCoverStream(ctx))
        cover.loadFromData(chosen->attached_pic.data, chosen->attached_pic.size);
    avformat_close_input(&ctx);
    return cover;
}
