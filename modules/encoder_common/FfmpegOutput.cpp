#include "FfmpegOutput.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

FfmpegOutput::~FfmpegOutput() {
    FreeCodec();
    CloseFile();
}

FfmpegError FfmpegOutput::PrepareBuffers(int inputChannels, int inputRate) {
    AVChannelLayout layout;
    av_channel_layout_default(&layout, inputChannels);
    return PrepareBuffers(layout, AV_SAMPLE_FMT_S16, inputRate);
}

FfmpegError FfmpegOutput::PrepareBuffers(const AVChannelLayout& inputLayout, AVSampleFormat inputFormat,
                                         int inputRate) {
    const AVSampleFormat format = m_codec->sample_fmt;
    const int rate = m_codec->sample_rate;
    if (format != inputFormat || rate != inputRate ||
        av_channel_layout_compare(&m_codec->ch_layout, &inputLayout) != 0) {
        // FFmpeg 5 takes the layouts through pointers to non-const.
        auto* in = const_cast<AVChannelLayout*>(&inputLayout);
        if (swr_alloc_set_opts2(&m_swr, &m_codec->ch_layout, format, rate, in, inputFormat, inputRate, 0,
                                nullptr) < 0 ||
            swr_init(m_swr) < 0)
            return FfmpegError::Encoder;
    }
    m_fifo = av_audio_fifo_alloc(format, m_codec->ch_layout.nb_channels, m_codec->frame_size * 2);
    m_frame = av_frame_alloc();
    m_packet = av_packet_alloc();
    if (!m_fifo || !m_frame || !m_packet)
        return FfmpegError::OutOfMemory;
    m_frame->format = format;
    m_frame->sample_rate = rate;
    m_frame->nb_samples = m_codec->frame_size;
    if (av_channel_layout_copy(&m_frame->ch_layout, &m_codec->ch_layout) < 0 ||
        av_frame_get_buffer(m_frame, 0) < 0)
        return FfmpegError::OutOfMemory;
    return FfmpegError::None;
}

FfmpegError FfmpegOutput::OpenMuxer(const AVOutputFormat* format, int ioBufferSize, int extraFlags) {
    if (avformat_alloc_output_context2(&m_mux, format, nullptr, nullptr) < 0)
        return FfmpegError::OutOfMemory;
    m_mux->flags |= AVFMT_FLAG_CUSTOM_IO | extraFlags;
    auto* ioBuffer = static_cast<uint8_t*>(av_malloc(static_cast<size_t>(ioBufferSize)));
    if (!ioBuffer)
        return FfmpegError::OutOfMemory;
    m_io = avio_alloc_context(ioBuffer, ioBufferSize, 1, this, nullptr, &FfmpegOutput::WritePacket,
                              &FfmpegOutput::Seek);
    if (!m_io) {
        av_free(ioBuffer);
        return FfmpegError::OutOfMemory;
    }
    m_mux->pb = m_io;
    AVStream* stream = avformat_new_stream(m_mux, nullptr);
    if (!stream || avcodec_parameters_from_context(stream->codecpar, m_codec) < 0)
        return FfmpegError::OutOfMemory;
    stream->time_base = m_codec->time_base;
    return FfmpegError::None;
}

FfmpegError FfmpegOutput::WriteHeader(AVDictionary** options) {
    if (const int r = avformat_write_header(m_mux, options); r < 0) {
        NoteError(r);
        const FfmpegError io = IoState();
        return io != FfmpegError::None ? io : FfmpegError::Encoder;
    }
    m_packetEnds.push_back({avio_tell(m_io), 0});
    return IoState();
}

FfmpegError FfmpegOutput::WriteTrailer() {
    m_trailerTried = true;
    if (const int r = av_write_trailer(m_mux); r < 0) {
        NoteError(r);
        const FfmpegError io = IoState();
        return io != FfmpegError::None ? io : FfmpegError::Encoder;
    }
    avio_flush(m_io);
    return IoState();
}

int64_t FfmpegOutput::FinishAfterWriteError() {
    if (m_fd < 0 || !m_io || !m_mux)
        return 0;
    const PacketEnd whole = m_whole;
    if (ftruncate(m_fd, static_cast<off_t>(whole.bytes)) != 0)
        return 0;
    // The muxer writes on as if nothing had failed; the writer keeps only what lands inside the file.
    // A muxer whose ending failed already is not asked again (it has let go of its state).
    if (!m_trailerTried) {
        m_trailerTried = true;
        m_keepBelow = whole.bytes;
        m_io->error = 0;
        m_ioErrno = 0;
        av_write_trailer(m_mux);
        avio_flush(m_io);
        m_keepBelow = -1;
    }
    if (ftruncate(m_fd, static_cast<off_t>(whole.bytes)) != 0 && m_errorText.empty())
        m_errorText = strerror(errno);
    return whole.samples;
}

void FfmpegOutput::NoteError(int averror) {
    if (!m_errorText.empty())
        return;
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(averror, text, sizeof text);
    m_errorText = text;
}

FfmpegError FfmpegOutput::Resample(const void* data, int frames) {
    if (!m_swr) {
        void* in[1] = {const_cast<void*>(data)};
        if (frames > 0 && av_audio_fifo_write(m_fifo, in, frames) < frames)
            return FfmpegError::OutOfMemory;
        return FfmpegError::None;
    }
    for (;;) {
        const int needed = swr_get_out_samples(m_swr, frames);
        if (needed < 0)
            return FfmpegError::Encoder;
        if (needed > m_convertedCapacity) {
            if (m_converted)
                av_freep(&m_converted[0]);
            av_freep(&m_converted);
            m_convertedCapacity = 0;
            if (av_samples_alloc_array_and_samples(&m_converted, nullptr, m_codec->ch_layout.nb_channels,
                                                   needed, m_codec->sample_fmt, 0) < 0)
                return FfmpegError::OutOfMemory;
            m_convertedCapacity = needed;
        }
        const uint8_t* in[1] = {static_cast<const uint8_t*>(data)};
        const int got = swr_convert(m_swr, m_converted, m_convertedCapacity, data ? in : nullptr, frames);
        if (got < 0)
            return FfmpegError::Encoder;
        if (got > 0 && av_audio_fifo_write(m_fifo, reinterpret_cast<void**>(m_converted), got) < got)
            return FfmpegError::OutOfMemory;
        // Input goes in at once; only draining the resampler may take more than one round.
        if (data || got == 0)
            return FfmpegError::None;
    }
}

FfmpegError FfmpegOutput::SendFrame(AVFrame* frame) {
    if (frame) {
        frame->pts = m_sentFrames;
        m_sentFrames += frame->nb_samples;
    }
    if (const int r = avcodec_send_frame(m_codec, frame); r < 0) {
        NoteError(r);
        return FfmpegError::Encoder;
    }
    for (;;) {
        int ret = avcodec_receive_packet(m_codec, m_packet);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return FfmpegError::None;
        if (ret < 0) {
            NoteError(ret);
            return FfmpegError::Encoder;
        }
        const int64_t samplesEnd = m_packet->pts + m_packet->duration; // in the codec's time base
        const FfmpegError written = Mux(m_packet, samplesEnd);
        av_packet_unref(m_packet);
        if (written != FfmpegError::None)
            return written;
    }
}

FfmpegError FfmpegOutput::WriteCoded(AVPacket* packet, int samples) {
    packet->pts = packet->dts = m_sentFrames;
    packet->duration = samples;
    m_sentFrames += samples;
    return Mux(packet, m_sentFrames);
}

// Hands a coded packet (stamped in the codec's time base) to the muxer and notes where it ends in the
// file, so that a write error can cut back to whole packets.
FfmpegError FfmpegOutput::Mux(AVPacket* packet, int64_t samplesEnd) {
    packet->stream_index = 0;
    av_packet_rescale_ts(packet, m_codec->time_base, m_mux->streams[0]->time_base);
    const int ret = av_write_frame(m_mux, packet);
    if (const FfmpegError io = IoState(); io != FfmpegError::None)
        return io;
    if (ret < 0) {
        NoteError(ret);
        return FfmpegError::Encoder;
    }
    if (m_flushEachPacket) {
        avio_flush(m_io);
        if (const FfmpegError io = IoState(); io != FfmpegError::None)
            return io;
    }
    m_packetEnds.push_back({avio_tell(m_io), samplesEnd});
    return FfmpegError::None;
}

FfmpegError FfmpegOutput::IoState() const {
    if (m_ioErrno == ENOSPC || m_ioErrno == EFBIG || m_ioErrno == EDQUOT)
        return FfmpegError::DiskFull;
    if (m_ioErrno || (m_io && m_io->error < 0))
        return FfmpegError::WriteFault;
    return FfmpegError::None;
}

void FfmpegOutput::FreeCodec() {
    if (m_mux) {
        m_mux->pb = nullptr;
        avformat_free_context(m_mux);
        m_mux = nullptr;
    }
    if (m_io) {
        av_freep(&m_io->buffer);
        avio_context_free(&m_io);
    }
    avcodec_free_context(&m_codec);
    swr_free(&m_swr);
    if (m_fifo) {
        av_audio_fifo_free(m_fifo);
        m_fifo = nullptr;
    }
    av_frame_free(&m_frame);
    av_packet_free(&m_packet);
    if (m_converted)
        av_freep(&m_converted[0]);
    av_freep(&m_converted);
    m_convertedCapacity = 0;
}

bool FfmpegOutput::CloseFile() {
    if (m_fd < 0)
        return true;
    const int fd = m_fd;
    m_fd = -1;
    return close(fd) == 0;
}

int FfmpegOutput::WritePacket(void* opaque, uint8_t* buffer, int size) {
    auto* self = static_cast<FfmpegOutput*>(opaque);
    const off_t at = lseek(self->m_fd, 0, SEEK_CUR);
    // Finishing after an error: rewrites inside the file go through, anything past its end is dropped.
    const int keep = self->m_keepBelow < 0 || at < 0
                         ? size
                         : static_cast<int>(std::clamp<int64_t>(self->m_keepBelow - at, 0, size));
    for (int left = keep; left > 0;) {
        const ssize_t n = write(self->m_fd, buffer, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            self->m_ioErrno = n < 0 ? errno : ENOSPC;
            if (self->m_errorText.empty())
                self->m_errorText = strerror(self->m_ioErrno);
            return AVERROR(self->m_ioErrno);
        }
        buffer += n;
        left -= static_cast<int>(n);
    }
    if (keep < size) {
        lseek(self->m_fd, at + size, SEEK_SET); // where the muxer believes it is
        return size;
    }
    // Every packet that ends inside what the file now holds is whole in it.
    const off_t end = at + size;
    while (!self->m_packetEnds.empty() && self->m_packetEnds.front().bytes <= end) {
        self->m_whole = self->m_packetEnds.front();
        self->m_packetEnds.pop_front();
    }
    return size;
}

int64_t FfmpegOutput::Seek(void* opaque, int64_t offset, int whence) {
    auto* self = static_cast<FfmpegOutput*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat st;
        return fstat(self->m_fd, &st) == 0 ? static_cast<int64_t>(st.st_size) : AVERROR(errno);
    }
    const off_t pos = lseek(self->m_fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    return pos < 0 ? AVERROR(errno) : static_cast<int64_t>(pos);
}
