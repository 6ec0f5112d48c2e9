#include "SourceTags.h"

#include "AudioTracks.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

namespace {

// The length of the valid UTF-8 sequence at text[i], or 0.
size_t Utf8Length(std::string_view text, size_t i, uint32_t& cp) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char b = byte(i);
    size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
    if (n == 0 || i + n > text.size())
        return 0;
    cp = n == 1 ? b : n == 2 ? b & 0x1F : n == 3 ? b & 0x0F : b & 0x07;
    for (size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        cp = cp << 6 | (byte(i + k) & 0x3F);
    }
    static const uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kLeast[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0; // overlong, beyond Unicode, or a surrogate
    return n;
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | cp >> 18);
        out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool IsUtf8(std::string_view text) {
    uint32_t cp = 0;
    for (size_t i = 0; i < text.size();) {
        const size_t n = Utf8Length(text, i, cp);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

std::string FirstTag(const AVDictionary* metadata, std::initializer_list<const char*> keys, bool multiLine) {
    for (const char* key : keys) {
        const AVDictionaryEntry* e = av_dict_get(metadata, key, nullptr, 0);
        if (!e || !e->value)
            continue;
        std::string text = CleanTagText(e->value, kMaxTagChars, multiLine);
        if (!text.empty())
            return text;
    }
    return "";
}

// Lower ranks win: the front cover, then a picture named as a cover, then any other.
int CoverRank(const AVStream* st) {
    const AVDictionaryEntry* type = av_dict_get(st->metadata, "comment", nullptr, 0);
    if (type && std::strcmp(type->value, "Cover (front)") == 0)
        return 0;
    const AVDictionaryEntry* name = av_dict_get(st->metadata, "filename", nullptr, 0);
    if (name && std::strncmp(name->value, "cover", 5) == 0)
        return 1;
    return 2;
}

} // namespace

std::string CleanTagText(std::string_view text, size_t maxChars, bool multiLine) {
    const bool utf8 = IsUtf8(text);
    std::string out;
    out.reserve(std::min(text.size(), maxChars * 4));
    size_t chars = 0;
    bool pendingBlank = false;
    for (size_t i = 0; i < text.size() && chars < maxChars;) {
        uint32_t cp = static_cast<unsigned char>(text[i]);
        size_t n = 1;
        if (utf8)
            n = Utf8Length(text, i, cp);
        i += n;
        if (cp == '\n' && multiLine) {
            out += '\n';
            ++chars;
            pendingBlank = false;
            continue;
        }
        if (cp == '\t' || cp == '\n' || cp == ' ') {
            pendingBlank = !out.empty() && out.back() != '\n';
            continue;
        }
        // Other control characters, and the byte-order mark.
        if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0) || cp == 0xFEFF)
            continue;
        if (pendingBlank && chars + 1 < maxChars) {
            out += ' ';
            ++chars;
        }
        pendingBlank = false;
        AppendUtf8(out, cp);
        ++chars;
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
        out.pop_back();
    return out;
}

const char* PictureMime(const uint8_t* data, size_t size) {
    static const uint8_t kPng[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (size >= 4 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF)
        return "image/jpeg";
    if (size >= sizeof kPng && std::memcmp(data, kPng, sizeof kPng) == 0)
        return "image/png";
    return "";
}

const AVStream* FrontCoverStream(const AVFormatContext* fmt) {
    const AVStream* best = nullptr;
    for (unsigned i = 0; fmt && i < fmt->nb_streams; ++i) {
        const AVStream* st = fmt->streams[i];
        if (!(st->disposition & AV_DISPOSITION_ATTACHED_PIC) || st->attached_pic.size <= 0 ||
            !st->attached_pic.data)
            continue;
        if (!best || CoverRank(st) < CoverRank(best))
            best = st;
    }
    return best;
}

SourceTags ReadSourceTags(const AVFormatContext* fmt, int audioStream) {
    SourceTags tags;
    if (!fmt)
        return tags;
    int audioStreams = 0;
    for (unsigned i = 0; i < fmt->nb_streams; ++i)
        if (fmt->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            ++audioStreams;
    const AVDictionary* stream = audioStream >= 0 && audioStream < static_cast<int>(fmt->nb_streams)
                                     ? fmt->streams[audioStream]->metadata
                                     : nullptr;
    auto read = [&](std::string& field, std::initializer_list<const char*> keys, bool fromStream,
                    bool multiLine = false) {
        field = FirstTag(fmt->metadata, keys, multiLine);
        if (field.empty() && fromStream && stream)
            field = FirstTag(stream, keys, multiLine);
    };
    // In a file of several audio tracks, a track's title names the track, not the content.
    read(tags.title, {"title"}, audioStreams == 1);
    read(tags.artist, {"artist", "author", "album_artist"}, true);
    read(tags.album, {"album"}, true);
    read(tags.date, {"date", "year"}, true);
    read(tags.genre, {"genre"}, true);
    read(tags.track, {"track"}, true);
    read(tags.comment, {"comment", "description"}, true, true);

    const AVStream* best = FrontCoverStream(fmt);
    if (best && (static_cast<size_t>(best->attached_pic.size) > kMaxCoverBytes ||
                 !*PictureMime(best->attached_pic.data, static_cast<size_t>(best->attached_pic.size))))
        best = nullptr; // not a picture the outputs can carry
    if (best) {
        const AVPacket& pic = best->attached_pic;
        tags.cover.data.assign(pic.data, pic.data + pic.size);
        tags.cover.mime = PictureMime(pic.data, static_cast<size_t>(pic.size));
        tags.cover.width = std::max(best->codecpar->width, 0);
        tags.cover.height = std::max(best->codecpar->height, 0);
    }
    return tags;
}

bool ReadSourceTags(const std::string& path, int track, SourceTags& tags) {
    AVFormatContext* fmt = OpenMediaFile(path);
    tags = ReadSourceTags(fmt, AudioTrackStream(fmt, track));
    const bool ok = fmt != nullptr;
    avformat_close_input(&fmt);
    return ok;
}
