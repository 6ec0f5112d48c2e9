#include "CoverArt.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

QImage ReadFrontCover(const std::string& path) {
    av_log_set_level(AV_LOG_QUIET);
    AVFormatContext* ctx = nullptr;
    if (avformat_open_input(&ctx, path.c_str(), nullptr, nullptr) < 0)
        return {};
    const AVPacket* chosen = nullptr;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVStream* st = ctx->streams[i];
        if (!(st->disposition & AV_DISPOSITION_ATTACHED_PIC) || st->attached_pic.size <= 0)
            continue;
        const AVDictionaryEntry* kind = av_dict_get(st->metadata, "comment", nullptr, 0);
        const bool front = kind && std::string(kind->value) == "Cover (front)";
        if (!chosen || front)
            chosen = &st->attached_pic;
        if (front)
            break;
    }
    QImage cover;
    if (chosen)
        cover.loadFromData(chosen->data, chosen->size);
    avformat_close_input(&ctx);
    return cover;
}
