#include "AvAudioStream.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/base64.h>
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Opus codes 48 kHz only (lower rates are a decoder's choice, not the stream's).
constexpr int kOpusRate = 48000;
// Large writes are converted in slices so the conversion buffer stays small.
constexpr int kSliceFrames = 16384;
constexpr int kIoBufferSize = 256 * 1024;

struct FormatChoice {
    const char* encoder;
    const char* muxer;
};

FormatChoice ChoiceFor(uint32_t format) {
    switch (format) {
    case AE_FORMAT_FLAC:
        return {"flac", "flac"};
    case AE_FORMAT_OPUS:
        return {"libopus", "opus"};
    default:
        return {"aac", "ipod"};
    }
}

AE_ERR ToResult(FfmpegError error) {
    switch (error) {
    case FfmpegError::None:
        return AE_ERR_SUCCESSFUL;
    case FfmpegError::OutOfMemory:
        return AE_ERR_OUT_OF_MEMORY;
    case FfmpegError::DiskFull:
        return AE_ERR_DISK_FULL;
    case FfmpegError::WriteFault:
        return AE_ERR_WRITE_FAULT;
    default:
        return AE_ERR_ENCODER_FAILED;
    }
}

bool HasText(const char* text) {
    return text && *text;
}

AVSampleFormat InputFormat(const AE_CONFIG& c) {
    return c.dwSampleFormat == AE_SAMPLE_S32     ? AV_SAMPLE_FMT_S32
           : c.dwSampleFormat == AE_SAMPLE_FLOAT ? AV_SAMPLE_FMT_FLT
                                                 : AV_SAMPLE_FMT_S16;
}

AVChannelLayout InputLayout(const AE_CONFIG& c) {
    AVChannelLayout layout{};
    if (c.dwChannelMask == 0 || av_channel_layout_from_mask(&layout, c.dwChannelMask) < 0 ||
        layout.nb_channels != static_cast<int>(c.dwChannels))
        av_channel_layout_default(&layout, static_cast<int>(c.dwChannels));
    return layout;
}

AVChannelLayout FromMask(uint64_t mask) {
    AVChannelLayout layout{};
    av_channel_layout_from_mask(&layout, mask);
    return layout;
}

// The layouts an encoder codes as such: Opus's mapping family 1 (Vorbis order) and the ones FFmpeg's
// AAC encoder describes in MP4, by channel count. The first of a count is the one others are mixed to.
const std::vector<uint64_t>& CodedLayouts(uint32_t format, int channels) {
    static const std::vector<uint64_t> kNone;
    static const std::vector<uint64_t> kOpus[] = {{AV_CH_LAYOUT_MONO},         {AV_CH_LAYOUT_STEREO},
                                                  {AV_CH_LAYOUT_SURROUND},     {AV_CH_LAYOUT_QUAD},
                                                  {AV_CH_LAYOUT_5POINT0_BACK}, {AV_CH_LAYOUT_5POINT1_BACK},
                                                  {AV_CH_LAYOUT_6POINT1},      {AV_CH_LAYOUT_7POINT1}};
    static const std::vector<uint64_t> kAac[] = {
        {AV_CH_LAYOUT_MONO},         {AV_CH_LAYOUT_STEREO},
        {AV_CH_LAYOUT_SURROUND},     {AV_CH_LAYOUT_4POINT0, AV_CH_LAYOUT_QUAD},
        {AV_CH_LAYOUT_5POINT0_BACK}, {AV_CH_LAYOUT_5POINT1_BACK},
        {AV_CH_LAYOUT_7POINT1}, // 6.1 has no AAC layout of its own
        {AV_CH_LAYOUT_7POINT1}};
    if (channels < 1 || channels > AE_MAX_CHANNELS)
        return kNone;
    return format == AE_FORMAT_OPUS ? kOpus[channels - 1] : kAac[channels - 1];
}

// Side channels where a layout has no back ones are the surround pair to a listener; when nothing
// lies between them in FFmpeg's order, naming them back channels keeps every channel in its place.
uint64_t SideAsBack(uint64_t mask) {
    constexpr uint64_t kSide = AV_CH_SIDE_LEFT | AV_CH_SIDE_RIGHT;
    constexpr uint64_t kBetween = AV_CH_BACK_LEFT | AV_CH_BACK_RIGHT | AV_CH_FRONT_LEFT_OF_CENTER |
                                  AV_CH_FRONT_RIGHT_OF_CENTER | AV_CH_BACK_CENTER;
    if ((mask & kSide) != kSide || (mask & kBetween))
        return mask;
    return (mask & ~kSide) | AV_CH_BACK_LEFT | AV_CH_BACK_RIGHT;
}

} // namespace

AE_ERR AvAudioStream::Open(const AE_CONFIG& config, const AE_TAGS& tags, const char* path) {
    m_format = config.dwFormat;
    m_channels = static_cast<int>(config.dwChannels);
    m_inputRate = static_cast<int>(config.dwSampleRate);
    m_inputFormat = InputFormat(config);
    m_valueBytes = av_get_bytes_per_sample(m_inputFormat);
    if (AE_ERR err = OpenCodec(config); err != AE_ERR_SUCCESSFUL)
        return err;

    // The file is made only once the encoder is ready, so a refused setting leaves nothing behind.
    struct stat st;
    const bool existed = stat(path, &st) == 0;
    m_fd = open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666); // read too: see FinishAfterFailure
    if (m_fd < 0) {
        NoteError(AVERROR(errno));
        return AE_ERR_CANNOT_CREATE;
    }
    const AE_ERR err = OpenMuxer(tags);
    if (err != AE_ERR_SUCCESSFUL) {
        // Not even a header could be written: nothing of value in the file.
        FreeCodec();
        CloseFile();
        if (!existed)
            unlink(path);
    }
    return err;
}

AvAudioStream::~AvAudioStream() {
    av_channel_layout_uninit(&m_inputLayout);
}

AE_ERR AvAudioStream::OpenCodec(const AE_CONFIG& config) {
    const FormatChoice choice = ChoiceFor(m_format);
    const AVCodec* encoder = avcodec_find_encoder_by_name(choice.encoder);
    const AVOutputFormat* muxer = av_guess_format(choice.muxer, nullptr, nullptr);
    if (!encoder || !muxer)
        return AE_ERR_NO_ENCODER;

    int rate = m_inputRate;
    if (m_format == AE_FORMAT_OPUS) {
        rate = kOpusRate;
    } else if (m_format == AE_FORMAT_AAC) {
        static const int kAacRates[] = {7350,  8000,  11025, 12000, 16000, 22050, 24000,
                                        32000, 44100, 48000, 64000, 88200, 96000};
        rate = kAacRates[std::size(kAacRates) - 1];
        for (int r : kAacRates) {
            if (r >= m_inputRate) {
                rate = r;
                break;
            }
        }
    }

    m_codec = avcodec_alloc_context3(encoder);
    if (!m_codec)
        return AE_ERR_OUT_OF_MEMORY;
    m_inputLayout = InputLayout(config);
    if (m_format == AE_FORMAT_FLAC) {
        // FLAC names any layout; 16-bit input stays 16 bits, all else is coded with 24.
        if (av_channel_layout_copy(&m_codec->ch_layout, &m_inputLayout) < 0)
            return AE_ERR_OUT_OF_MEMORY;
        m_codec->sample_fmt = m_inputFormat == AV_SAMPLE_FMT_S16 ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_S32;
        if (m_codec->sample_fmt == AV_SAMPLE_FMT_S32)
            m_codec->bits_per_raw_sample = 24;
        m_codec->compression_level = static_cast<int>(config.dwCompression);
    } else {
        const std::vector<uint64_t>& coded = CodedLayouts(m_format, m_channels);
        const uint64_t mask = m_inputLayout.order == AV_CHANNEL_ORDER_NATIVE ? m_inputLayout.u.mask : 0;
        uint64_t chosen = coded.front();
        for (uint64_t c : coded)
            if (c == mask || c == SideAsBack(mask))
                chosen = c;
        // Taken as they are where only the names differ; mixed by the resampler otherwise.
        if (chosen == SideAsBack(mask)) {
            av_channel_layout_uninit(&m_inputLayout);
            m_inputLayout = FromMask(chosen);
        }
        m_codec->ch_layout = FromMask(chosen);
        m_codec->sample_fmt = m_format == AE_FORMAT_OPUS ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_FLTP;
        const int64_t pairs = std::max(m_channels, 2);
        m_codec->bit_rate = static_cast<int64_t>(config.dwBitrate) * pairs / 2;
    }
    m_codec->sample_rate = rate;
    m_codec->time_base = AVRational{1, rate};
    if (muxer->flags & AVFMT_GLOBALHEADER)
        m_codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    if (m_format == AE_FORMAT_OPUS)
        av_dict_set(&options, "application", config.dwOpusApplication == AE_OPUS_VOIP ? "voip" : "audio", 0);
    const int opened = avcodec_open2(m_codec, encoder, &options);
    av_dict_free(&options);
    if (opened < 0)
        return opened == AVERROR(ENOMEM) ? AE_ERR_OUT_OF_MEMORY : AE_ERR_INVALID_PARAMETER;
    if (m_codec->frame_size <= 0)
        return AE_ERR_ENCODER_FAILED;
    if (m_format == AE_FORMAT_FLAC && config.dwThreads > 1 && m_codec->extradata_size >= 34) {
        m_runs =
            std::make_unique<FlacRuns>(*m_codec, static_cast<int>(std::min<uint32_t>(config.dwThreads, 16)));
        if (!m_runs->Ready())
            m_runs.reset(); // one encoder, as without threads
    }
    return ToResult(PrepareBuffers(m_inputLayout, m_inputFormat, m_inputRate));
}

AE_ERR AvAudioStream::OpenMuxer(const AE_TAGS& tags) {
    const AVOutputFormat* muxer = av_guess_format(ChoiceFor(m_format).muxer, nullptr, nullptr);
    if (AE_ERR err = ToResult(FfmpegOutput::OpenMuxer(muxer, kIoBufferSize, 0)); err != AE_ERR_SUCCESSFUL)
        return err;
    AVStream* stream = m_mux->streams[0];

    // Ogg keeps its comments with the stream, FLAC and MP4 with the file.
    AVDictionary** metadata = m_format == AE_FORMAT_OPUS ? &stream->metadata : &m_mux->metadata;
    const std::pair<const char*, const char*> texts[] = {
        {"title", tags.pszTitle},    {"artist", tags.pszArtist}, {"album", tags.pszAlbum},
        {"date", tags.pszYear},      {"genre", tags.pszGenre},   {"track", tags.pszTrack},
        {"comment", tags.pszComment}};
    for (const auto& [key, text] : texts) {
        if (HasText(text) && av_dict_set(metadata, key, text, 0) < 0)
            return AE_ERR_OUT_OF_MEMORY;
    }
    if (AE_ERR err = WriteCover(tags); err != AE_ERR_SUCCESSFUL)
        return err;

    AVDictionary* options = nullptr;
    // The edit list's length in whole samples rather than milliseconds: the exact end of the input.
    if (m_format == AE_FORMAT_AAC)
        av_dict_set_int(&options, "movie_timescale", m_codec->sample_rate, 0);
    const FfmpegError written = WriteHeader(&options);
    av_dict_free(&options);
    if (written != FfmpegError::None || m_coverStream < 0)
        return ToResult(written);

    // The picture goes in right after the header: FLAC holds the audio back until it has it.
    AVPacket* picture = av_packet_alloc();
    if (!picture || av_new_packet(picture, static_cast<int>(tags.dwCoverSize)) < 0) {
        av_packet_free(&picture);
        return AE_ERR_OUT_OF_MEMORY;
    }
    std::memcpy(picture->data, tags.pCover, tags.dwCoverSize);
    picture->stream_index = m_coverStream;
    picture->flags |= AV_PKT_FLAG_KEY;
    picture->pts = picture->dts = 0;
    const int r = av_write_frame(m_mux, picture);
    av_packet_free(&picture);
    const FfmpegError io = IoState();
    return io != FfmpegError::None ? ToResult(io) : r < 0 ? AE_ERR_ENCODER_FAILED : AE_ERR_SUCCESSFUL;
}

// A cover of JPEG or PNG bytes: an attached picture for FLAC and MP4, a picture comment for Opus
// (FFmpeg's Ogg muxer takes no pictures).
AE_ERR AvAudioStream::WriteCover(const AE_TAGS& tags) {
    if (!tags.pCover || tags.dwCoverSize == 0 || tags.dwCoverSize > (1u << 24) - 1024)
        return AE_ERR_SUCCESSFUL;
    const bool jpeg =
        tags.dwCoverSize > 3 && tags.pCover[0] == 0xFF && tags.pCover[1] == 0xD8 && tags.pCover[2] == 0xFF;
    static const uint8_t kPng[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    const bool png = tags.dwCoverSize > sizeof kPng && std::memcmp(tags.pCover, kPng, sizeof kPng) == 0;
    if (!jpeg && !png)
        return AE_ERR_SUCCESSFUL;
    if (m_format == AE_FORMAT_OPUS) {
        // The FLAC PICTURE block, in base64.
        const std::string mime = jpeg ? "image/jpeg" : "image/png";
        std::vector<uint8_t> block;
        auto put32 = [&](uint32_t v) {
            for (int shift = 24; shift >= 0; shift -= 8)
                block.push_back(static_cast<uint8_t>(v >> shift));
        };
        put32(3); // front cover
        put32(static_cast<uint32_t>(mime.size()));
        block.insert(block.end(), mime.begin(), mime.end());
        put32(0); // no description
        put32(tags.dwCoverWidth);
        put32(tags.dwCoverHeight);
        put32(24);
        put32(0);
        put32(tags.dwCoverSize);
        block.insert(block.end(), tags.pCover, tags.pCover + tags.dwCoverSize);
        std::string text(AV_BASE64_SIZE(block.size()), '\0');
        if (!av_base64_encode(text.data(), static_cast<int>(text.size()), block.data(),
                              static_cast<int>(block.size())))
            return AE_ERR_OUT_OF_MEMORY;
        text.resize(std::strlen(text.c_str()));
        return av_dict_set(&m_mux->streams[0]->metadata, "METADATA_BLOCK_PICTURE", text.c_str(), 0) < 0
                   ? AE_ERR_OUT_OF_MEMORY
                   : AE_ERR_SUCCESSFUL;
    }
    AVStream* cover = avformat_new_stream(m_mux, nullptr);
    if (!cover)
        return AE_ERR_OUT_OF_MEMORY;
    cover->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    cover->codecpar->codec_id = jpeg ? AV_CODEC_ID_MJPEG : AV_CODEC_ID_PNG;
    cover->codecpar->width = static_cast<int>(tags.dwCoverWidth);
    cover->codecpar->height = static_cast<int>(tags.dwCoverHeight);
    cover->disposition = AV_DISPOSITION_ATTACHED_PIC;
    cover->time_base = AVRational{1, 90000};
    if (av_dict_set(&cover->metadata, "comment", "Cover (front)", 0) < 0)
        return AE_ERR_OUT_OF_MEMORY;
    m_coverStream = cover->index;
    return AE_ERR_SUCCESSFUL;
}

AE_ERR AvAudioStream::Write(const void* data, uint32_t count) {
    if (m_closed)
        return AE_ERR_INVALID_HANDLE;
    if (m_error != AE_ERR_SUCCESSFUL)
        return m_error;
    const auto* values = static_cast<const uint8_t*>(data);
    const auto bytes = static_cast<size_t>(m_valueBytes);
    const auto channels = static_cast<uint32_t>(m_channels);
    if (m_partialValues > 0) {
        const uint32_t take = std::min(channels - m_partialValues, count);
        std::memcpy(m_partial + m_partialValues * bytes, values, take * bytes);
        m_partialValues += take;
        values += take * bytes;
        count -= take;
        if (m_partialValues < channels)
            return AE_ERR_SUCCESSFUL;
        m_partialValues = 0;
        if (AE_ERR err = Convert(m_partial, 1); err != AE_ERR_SUCCESSFUL)
            return err;
    }
    for (uint32_t frames = count / channels; frames > 0;) {
        const int slice = static_cast<int>(std::min<uint32_t>(frames, kSliceFrames));
        if (AE_ERR err = Convert(values, slice); err != AE_ERR_SUCCESSFUL)
            return err;
        if (AE_ERR err = EncodeBuffered(false); err != AE_ERR_SUCCESSFUL)
            return err;
        values += static_cast<size_t>(slice) * channels * bytes;
        count -= static_cast<uint32_t>(slice) * channels;
        frames -= static_cast<uint32_t>(slice);
    }
    if (count > 0)
        std::memcpy(m_partial, values, count * bytes);
    m_partialValues = count;
    return AE_ERR_SUCCESSFUL;
}

// Takes frames of input into the buffer of coded samples; values null drains the resampler.
AE_ERR AvAudioStream::Convert(const void* values, int frames) {
    m_inputFrames += frames;
    return Check(Resample(values, frames));
}

// Encodes every whole frame in the buffer; with last, the rest too, as a shorter last frame, up to
// the end of the stream once that is known.
AE_ERR AvAudioStream::EncodeBuffered(bool last) {
    if (m_runs)
        return EncodeRuns(); // whole runs now; the rest when the stream ends
    const int frameSize = m_codec->frame_size;
    while (av_audio_fifo_size(m_fifo) >= frameSize || (last && av_audio_fifo_size(m_fifo) > 0)) {
        int n = frameSize;
        if (m_endFrames >= 0)
            n = static_cast<int>(std::min<int64_t>(n, m_endFrames - m_sentFrames));
        if (n <= 0)
            break;
        m_frame->nb_samples = frameSize;
        if (av_frame_make_writable(m_frame) < 0)
            return Fail(AE_ERR_OUT_OF_MEMORY);
        const int got = av_audio_fifo_read(m_fifo, reinterpret_cast<void**>(m_frame->data), n);
        if (got <= 0)
            return Fail(AE_ERR_ENCODER_FAILED);
        m_frame->nb_samples = got;
        if (AE_ERR err = Encode(m_frame); err != AE_ERR_SUCCESSFUL)
            return err;
    }
    return AE_ERR_SUCCESSFUL;
}

// Sends one frame (null: the end of the stream) and writes whatever packets come out.
AE_ERR AvAudioStream::Encode(AVFrame* frame) {
    if (m_runs)
        return frame ? AE_ERR_SUCCESSFUL : FinishRuns();
    return Check(SendFrame(frame));
}

AE_ERR AvAudioStream::EncodeRuns() {
    const size_t block = static_cast<size_t>(m_channels * av_get_bytes_per_sample(m_codec->sample_fmt));
    while (av_audio_fifo_size(m_fifo) > 0) {
        const int n = std::min(av_audio_fifo_size(m_fifo), kSliceFrames);
        m_runInput.resize(static_cast<size_t>(n) * block);
        void* planes[1] = {m_runInput.data()};
        if (av_audio_fifo_read(m_fifo, planes, n) != n)
            return Fail(AE_ERR_ENCODER_FAILED);
        m_queuedFrames += n;
        if (!m_runs->Add(m_runInput.data(), n, [this](const FlacRuns::Frame& f) { return WriteRunFrame(f); }))
            return Fail(IoState() != FfmpegError::None ? ToResult(IoState()) : AE_ERR_ENCODER_FAILED);
    }
    return AE_ERR_SUCCESSFUL;
}

AE_ERR AvAudioStream::FinishRuns() {
    if (AE_ERR err = EncodeRuns(); err != AE_ERR_SUCCESSFUL)
        return err;
    const bool done = m_runs->Finish([this](const FlacRuns::Frame& f) { return WriteRunFrame(f); });
    if (!done)
        return Fail(IoState() != FfmpegError::None ? ToResult(IoState()) : AE_ERR_ENCODER_FAILED);
    // The last frame carries the STREAMINFO of the whole, which the muxer writes over its first one.
    const std::vector<uint8_t> info = m_runs->StreamInfo(m_codec->extradata);
    if (m_holding && !WriteRunFrame(FlacRuns::Frame{}, &info))
        return Fail(IoState() != FfmpegError::None ? ToResult(IoState()) : AE_ERR_ENCODER_FAILED);
    return AE_ERR_SUCCESSFUL;
}

bool AvAudioStream::WriteRunFrame(const FlacRuns::Frame& frame, const std::vector<uint8_t>* streamInfo) {
    if (m_holding) {
        AVPacket* packet = av_packet_alloc();
        bool ok = packet && av_new_packet(packet, static_cast<int>(m_held.bytes.size())) >= 0;
        if (ok) {
            std::memcpy(packet->data, m_held.bytes.data(), m_held.bytes.size());
            if (streamInfo) {
                uint8_t* side =
                    av_packet_new_side_data(packet, AV_PKT_DATA_NEW_EXTRADATA, streamInfo->size());
                ok = side != nullptr;
                if (ok)
                    std::memcpy(side, streamInfo->data(), streamInfo->size());
            }
        }
        ok = ok && WriteCoded(packet, m_held.samples) == FfmpegError::None;
        av_packet_free(&packet);
        if (!ok)
            return false;
    }
    m_held = frame;
    m_holding = !streamInfo;
    return true;
}

AE_ERR AvAudioStream::Close() {
    if (m_closed)
        return AE_ERR_INVALID_HANDLE;
    m_closed = true;
    AE_ERR result = AE_ERR_SUCCESSFUL;
    if (m_error == AE_ERR_SUCCESSFUL && m_mux)
        Finish();
    if ((m_error == AE_ERR_DISK_FULL || m_error == AE_ERR_WRITE_FAULT) && m_mux)
        result = FinishAfterFailure();
    FreeCodec();
    if (!CloseFile())
        Fail(AE_ERR_WRITE_FAULT);
    return result != AE_ERR_SUCCESSFUL ? result : m_error;
}

AE_ERR AvAudioStream::FinishAfterFailure() {
    // An MP4's index comes after its samples, and describes them all: without room for it the file
    // does not play, and one written in what the cut frees would describe samples that are gone.
    if (m_format == AE_FORMAT_AAC)
        return AE_ERR_UNFINISHED;
    const int64_t samples = FinishAfterWriteError();
    if (m_format != AE_FORMAT_FLAC)
        return AE_ERR_SUCCESSFUL;
    // STREAMINFO, the first block after "fLaC": the samples the file holds, and no MD5 (all zeros
    // means unknown) since the file holds less than was encoded.
    uint8_t head[8 + 34];
    if (pread(m_fd, head, sizeof head, 0) != static_cast<ssize_t>(sizeof head) ||
        std::memcmp(head, "fLaC", 4) != 0 || (head[4] & 0x7F) != 0)
        return AE_ERR_SUCCESSFUL;
    uint8_t* info = head + 8;
    info[13] = static_cast<uint8_t>((info[13] & 0xF0) | ((samples >> 32) & 0x0F));
    for (int i = 0; i < 4; ++i)
        info[14 + i] = static_cast<uint8_t>(samples >> (24 - 8 * i));
    std::memset(info + 18, 0, 16);
    return pwrite(m_fd, info, 34, 8) == 34 ? AE_ERR_SUCCESSFUL : AE_ERR_UNFINISHED;
}

AE_ERR AvAudioStream::Finish() {
    m_partialValues = 0; // half a sample frame cannot be played
    if (m_swr && Convert(nullptr, 0) != AE_ERR_SUCCESSFUL)
        return m_error;
    // Exactly as many coded samples as the input lasts: the resampler's last output may be a sample
    // off the rounded length either way.
    m_endFrames =
        (m_inputFrames * m_codec->sample_rate + m_inputRate / 2) / static_cast<int64_t>(m_inputRate);
    const int frameSize = m_codec->frame_size;
    const int64_t coded = m_runs ? m_queuedFrames : m_sentFrames;
    for (int64_t missing = m_endFrames - coded - av_audio_fifo_size(m_fifo); missing > 0;) {
        const int n = static_cast<int>(std::min<int64_t>(missing, frameSize));
        m_frame->nb_samples = frameSize;
        if (av_frame_make_writable(m_frame) < 0)
            return Fail(AE_ERR_OUT_OF_MEMORY);
        av_samples_set_silence(m_frame->data, 0, n, m_channels, m_codec->sample_fmt);
        if (av_audio_fifo_write(m_fifo, reinterpret_cast<void**>(m_frame->data), n) < n)
            return Fail(AE_ERR_OUT_OF_MEMORY);
        missing -= n;
    }
    if (EncodeBuffered(true) != AE_ERR_SUCCESSFUL || Encode(nullptr) != AE_ERR_SUCCESSFUL)
        return m_error;
    return Check(WriteTrailer());
}

AE_ERR AvAudioStream::Check(FfmpegError error) {
    return error == FfmpegError::None ? AE_ERR_SUCCESSFUL : Fail(ToResult(error));
}

AE_ERR AvAudioStream::Fail(AE_ERR error) {
    if (m_error == AE_ERR_SUCCESSFUL)
        m_error = error;
    return m_error;
}
