#include "AvAudioStream.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Opus codes 48 kHz only (lower rates are a decoder's choice, not the stream's).
constexpr int kOpusRate = 48000;
// Large writes are converted in slices so the conversion buffer stays small.
constexpr int kSliceFrames = 16384;
constexpr int kIoBufferSize = 256 * 1024;

struct FormatChoice {
    const char* encoder;
    const char* muxer;
    AVSampleFormat sampleFormat;
};

FormatChoice ChoiceFor(uint32_t format) {
    switch (format) {
    case AE_FORMAT_FLAC:
        return {"flac", "flac", AV_SAMPLE_FMT_S16};
    case AE_FORMAT_OPUS:
        return {"libopus", "opus", AV_SAMPLE_FMT_FLT};
    default:
        return {"aac", "ipod", AV_SAMPLE_FMT_FLTP};
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

} // namespace

AE_ERR AvAudioStream::Open(const AE_CONFIG& config, const AE_TAGS& tags, const char* path) {
    m_format = config.dwFormat;
    m_channels = static_cast<int>(config.dwChannels);
    m_inputRate = static_cast<int>(config.dwSampleRate);
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

AE_ERR AvAudioStream::OpenCodec(const AE_CONFIG& config) {
    const FormatChoice choice = ChoiceFor(m_format);
    const AVCodec* encoder = avcodec_find_encoder_by_name(choice.encoder);
    const AVOutputFormat* muxer = av_guess_format(choice.muxer, nullptr, nullptr);
    if (!encoder || !muxer)
        return AE_ERR_NO_ENCODER;
    const int rate = m_format == AE_FORMAT_OPUS ? kOpusRate : m_inputRate;

    m_codec = avcodec_alloc_context3(encoder);
    if (!m_codec)
        return AE_ERR_OUT_OF_MEMORY;
    m_codec->sample_fmt = choice.sampleFormat;
    m_codec->sample_rate = rate;
    av_channel_layout_default(&m_codec->ch_layout, m_channels);
    m_codec->time_base = AVRational{1, rate};
    if (muxer->flags & AVFMT_GLOBALHEADER)
        m_codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    if (m_format == AE_FORMAT_FLAC) {
        m_codec->compression_level = static_cast<int>(config.dwCompression);
    } else {
        m_codec->bit_rate = config.dwBitrate;
        if (m_format == AE_FORMAT_OPUS)
            av_dict_set(&options, "application", config.dwOpusApplication == AE_OPUS_VOIP ? "voip" : "audio",
                        0);
    }
    const int opened = avcodec_open2(m_codec, encoder, &options);
    av_dict_free(&options);
    if (opened < 0)
        return opened == AVERROR(ENOMEM) ? AE_ERR_OUT_OF_MEMORY : AE_ERR_INVALID_PARAMETER;
    if (m_codec->frame_size <= 0)
        return AE_ERR_ENCODER_FAILED;

    // FLAC takes the input as it is; the others want floats, Opus at its own rate too.
    return ToResult(PrepareBuffers(m_channels, m_inputRate));
}

AE_ERR AvAudioStream::OpenMuxer(const AE_TAGS& tags) {
    const AVOutputFormat* muxer = av_guess_format(ChoiceFor(m_format).muxer, nullptr, nullptr);
    if (AE_ERR err = ToResult(FfmpegOutput::OpenMuxer(muxer, kIoBufferSize, 0)); err != AE_ERR_SUCCESSFUL)
        return err;
    AVStream* stream = m_mux->streams[0];

    // Ogg keeps its comments with the stream, FLAC and MP4 with the file.
    AVDictionary** metadata = m_format == AE_FORMAT_OPUS ? &stream->metadata : &m_mux->metadata;
    const std::pair<const char*, const char*> texts[] = {{"title", tags.pszTitle},
                                                         {"artist", tags.pszArtist},
                                                         {"album", tags.pszAlbum},
                                                         {"date", tags.pszYear},
                                                         {"genre", tags.pszGenre}};
    for (const auto& [key, text] : texts) {
        if (HasText(text) && av_dict_set(metadata, key, text, 0) < 0)
            return AE_ERR_OUT_OF_MEMORY;
    }

    AVDictionary* options = nullptr;
    // The edit list's length in whole samples rather than milliseconds: the exact end of the input.
    if (m_format == AE_FORMAT_AAC)
        av_dict_set_int(&options, "movie_timescale", m_codec->sample_rate, 0);
    const FfmpegError written = WriteHeader(&options);
    av_dict_free(&options);
    return ToResult(written);
}

AE_ERR AvAudioStream::Write(const int16_t* values, uint32_t count) {
    if (m_closed)
        return AE_ERR_INVALID_HANDLE;
    if (m_error != AE_ERR_SUCCESSFUL)
        return m_error;
    const auto channels = static_cast<uint32_t>(m_channels);
    if (m_partialValues > 0) {
        const uint32_t take = std::min(channels - m_partialValues, count);
        std::copy(values, values + take, m_partial + m_partialValues);
        m_partialValues += take;
        values += take;
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
        values += static_cast<size_t>(slice) * channels;
        count -= static_cast<uint32_t>(slice) * channels;
        frames -= static_cast<uint32_t>(slice);
    }
    std::copy(values, values + count, m_partial);
    m_partialValues = count;
    return AE_ERR_SUCCESSFUL;
}

// Takes frames of input into the buffer of coded samples; values null drains the resampler.
AE_ERR AvAudioStream::Convert(const int16_t* values, int frames) {
    m_inputFrames += frames;
    return Check(Resample(values, frames));
}

// Encodes every whole frame in the buffer; with last, the rest too, as a shorter last frame, up to
// the end of the stream once that is known.
AE_ERR AvAudioStream::EncodeBuffered(bool last) {
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
    return Check(SendFrame(frame));
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
    for (int64_t missing = m_endFrames - m_sentFrames - av_audio_fifo_size(m_fifo); missing > 0;) {
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
