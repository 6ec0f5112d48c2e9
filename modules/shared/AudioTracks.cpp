#include "AudioTracks.h"

#include "SourceTags.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
}

namespace {

// Names as players and shops print them; other codecs go by FFmpeg's short name in capitals.
std::string CodecName(AVCodecID id) {
    static const struct {
        AVCodecID id;
        const char* name;
    } kNames[] = {{AV_CODEC_ID_AAC, "AAC"},         {AV_CODEC_ID_AAC_LATM, "AAC"},
                  {AV_CODEC_ID_AC3, "AC-3"},        {AV_CODEC_ID_EAC3, "E-AC-3"},
                  {AV_CODEC_ID_DTS, "DTS"},         {AV_CODEC_ID_TRUEHD, "TrueHD"},
                  {AV_CODEC_ID_MP3, "MP3"},         {AV_CODEC_ID_MP2, "MP2"},
                  {AV_CODEC_ID_OPUS, "Opus"},       {AV_CODEC_ID_VORBIS, "Vorbis"},
                  {AV_CODEC_ID_FLAC, "FLAC"},       {AV_CODEC_ID_ALAC, "ALAC"},
                  {AV_CODEC_ID_WAVPACK, "WavPack"}, {AV_CODEC_ID_TTA, "TTA"},
                  {AV_CODEC_ID_WMAV1, "WMA"},       {AV_CODEC_ID_WMAV2, "WMA"},
                  {AV_CODEC_ID_WMAPRO, "WMA Pro"},  {AV_CODEC_ID_WMALOSSLESS, "WMA Lossless"},
                  {AV_CODEC_ID_COOK, "RealAudio"},  {AV_CODEC_ID_AMR_NB, "AMR"},
                  {AV_CODEC_ID_AMR_WB, "AMR-WB"}};
    for (const auto& n : kNames)
        if (n.id == id)
            return n.name;
    const AVCodecDescriptor* desc = avcodec_descriptor_get(id);
    if (desc && std::strncmp(desc->name, "pcm_", 4) == 0)
        return "PCM";
    std::string name = desc ? desc->name : "unknown";
    for (char& c : name)
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return name;
}

std::string LayoutName(const AVChannelLayout& layout) {
    const int n = layout.nb_channels;
    if (n <= 0)
        return "";
    if (n == 1)
        return "mono";
    if (n == 2)
        return "stereo";
    char text[64] = {};
    if (layout.order == AV_CHANNEL_ORDER_NATIVE &&
        av_channel_layout_describe(&layout, text, sizeof text) > 0) {
        std::string name = text;
        // "5.1(side)" and "5.1" are the same to a listener.
        if (const size_t paren = name.find('('); paren != std::string::npos)
            name.erase(paren);
        return name;
    }
    return std::to_string(n) + " ch";
}

std::string Tag(const AVDictionary* metadata, const char* key) {
    const AVDictionaryEntry* e = av_dict_get(metadata, key, nullptr, 0);
    return e && e->value ? CleanTagText(e->value, 200) : std::string();
}

bool IsAudio(const AVStream* st) {
    return st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
}

} // namespace

std::vector<AudioTrack> ListAudioTracks(const AVFormatContext* fmt) {
    std::vector<AudioTrack> tracks;
    if (!fmt)
        return tracks;
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVStream* st = fmt->streams[i];
        if (!IsAudio(st))
            continue;
        AudioTrack t;
        t.number = static_cast<int>(tracks.size()) + 1;
        t.stream = static_cast<int>(i);
        t.isDefault = (st->disposition & AV_DISPOSITION_DEFAULT) != 0;
        t.language = Tag(st->metadata, "language");
        if (t.language == "und")
            t.language.clear();
        t.title = Tag(st->metadata, "title");
        t.codec = CodecName(st->codecpar->codec_id);
        t.sampleRate = std::max(st->codecpar->sample_rate, 0);
        t.channels = std::max(st->codecpar->ch_layout.nb_channels, 0);
        t.layout = LayoutName(st->codecpar->ch_layout);
        if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
            t.duration = static_cast<double>(st->duration) * av_q2d(st->time_base);
        else if (fmt->duration != AV_NOPTS_VALUE && fmt->duration > 0)
            t.duration = static_cast<double>(fmt->duration) / AV_TIME_BASE;
        tracks.push_back(std::move(t));
    }
    return tracks;
}

int DefaultAudioTrack(const std::vector<AudioTrack>& tracks) {
    for (const AudioTrack& t : tracks)
        if (t.isDefault)
            return t.number;
    return tracks.empty() ? 0 : tracks.front().number;
}

int AudioTrackStream(const AVFormatContext* fmt, int number) {
    if (!fmt || number < 0)
        return -1;
    int first = -1, firstDefault = -1, n = 0;
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVStream* st = fmt->streams[i];
        if (!IsAudio(st))
            continue;
        if (++n == number)
            return static_cast<int>(i);
        if (first < 0)
            first = static_cast<int>(i);
        if (firstDefault < 0 && (st->disposition & AV_DISPOSITION_DEFAULT))
            firstDefault = static_cast<int>(i);
    }
    if (number != 0)
        return -1;
    return firstDefault >= 0 ? firstDefault : first;
}

std::string DescribeAudioTrack(const AudioTrack& track) {
    std::string text = std::to_string(track.number) + ": ";
    if (!track.language.empty())
        text += track.language + ", ";
    text += track.codec;
    if (!track.layout.empty())
        text += " " + track.layout;
    if (!track.title.empty())
        text += ", " + track.title;
    return text;
}

AVFormatContext* OpenMediaFile(const std::string& path) {
    av_log_set_level(AV_LOG_QUIET);
    AVFormatContext* fmt = nullptr;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    // "file:" keeps a name such as "http:x.avi" a local file.
    const int opened = avformat_open_input(&fmt, ("file:" + path).c_str(), nullptr, &options);
    av_dict_free(&options);
    if (opened < 0)
        return nullptr;
    if (avformat_find_stream_info(fmt, nullptr) < 0 && fmt->nb_streams == 0)
        avformat_close_input(&fmt);
    return fmt;
}

bool ProbeAudioTracks(const std::string& path, std::vector<AudioTrack>& tracks) {
    AVFormatContext* fmt = OpenMediaFile(path);
    tracks = ListAudioTracks(fmt);
    const bool ok = fmt != nullptr;
    avformat_close_input(&fmt);
    return ok;
}
