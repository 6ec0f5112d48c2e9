#include "CopyOutput.h"

#include "Text.h"
#include "WavWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/vorbis_parser.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/intreadwrite.h>
#include <libswresample/swresample.h>
}

namespace videoedit {

namespace {

constexpr int kIoBufferSize = 256 * 1024;

bool IsPcm(AVCodecID id) {
    const AVCodecDescriptor* d = avcodec_descriptor_get(id);
    return d && std::strncmp(d->name, "pcm_", 4) == 0;
}

void SetSkipSamples(AVPacket* pkt, int64_t skipStart, int64_t discardEnd) {
    uint8_t* side = av_packet_new_side_data(pkt, AV_PKT_DATA_SKIP_SAMPLES, 10);
    if (!side)
        return;
    AV_WL32(side, static_cast<uint32_t>(skipStart));
    AV_WL32(side + 4, static_cast<uint32_t>(discardEnd));
}

// ---------------------------------------------------------------------------------------------------
// MP4 boxes: an iTunes-style gapless tag added to the file's metadata once the muxer has written it.

uint32_t ReadBE32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

void PutBE32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

void AppendBox(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& body) {
    uint8_t header[8];
    PutBE32(header, static_cast<uint32_t>(body.size() + 8));
    std::memcpy(header + 4, type, 4);
    out.insert(out.end(), header, header + 8);
    out.insert(out.end(), body.begin(), body.end());
}

// A child box of `type` in [from, to) of buf: its offset, or 0.
size_t FindBox(const std::vector<uint8_t>& buf, size_t from, size_t to, const char* type) {
    while (from + 8 <= to) {
        const uint32_t size = ReadBE32(&buf[from]);
        if (size < 8 || from + size > to)
            return 0;
        if (std::memcmp(&buf[from + 4], type, 4) == 0)
            return from;
        from += size;
    }
    return 0;
}

bool PreadAll(int fd, uint8_t* data, size_t size, off_t at) {
    while (size > 0) {
        const ssize_t n = pread(fd, data, size, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
        at += n;
    }
    return true;
}

// Adds "----:com.apple.iTunes:iTunSMPB" to moov/udta/meta/ilst. The muxer puts moov last, so the box
// grows in place. Returns 0 or an errno value; a file laid out otherwise is left as it is.
int AddITunSmpb(int fd, const std::string& text) {
    const off_t fileSize = lseek(fd, 0, SEEK_END);
    off_t at = 0, moov = -1;
    uint32_t moovSize = 0;
    while (at + 8 <= fileSize) {
        uint8_t header[8];
        if (!PreadAll(fd, header, 8, at))
            return errno ? errno : EIO;
        const uint32_t size = ReadBE32(header);
        if (size < 8)
            return 0; // 64-bit or open-ended boxes: not what the muxer writes at the end
        if (std::memcmp(header + 4, "moov", 4) == 0) {
            moov = at;
            moovSize = size;
        }
        at += size;
    }
    if (moov < 0 || moov + moovSize != fileSize || moovSize > (64u << 20))
        return 0;
    std::vector<uint8_t> buf(moovSize);
    if (!PreadAll(fd, buf.data(), buf.size(), moov))
        return errno ? errno : EIO;
    const size_t udta = FindBox(buf, 8, buf.size(), "udta");
    const size_t meta = udta ? FindBox(buf, udta + 8, udta + ReadBE32(&buf[udta]), "meta") : 0;
    const size_t ilst = meta ? FindBox(buf, meta + 12, meta + ReadBE32(&buf[meta]), "ilst") : 0;
    if (!ilst)
        return 0;

    auto fullBox = [](const std::string& s, uint32_t flags) {
        std::vector<uint8_t> body(4);
        PutBE32(body.data(), flags);
        body.insert(body.end(), s.begin(), s.end());
        return body;
    };
    std::vector<uint8_t> data(4, 0); // locale
    data.insert(data.end(), text.begin(), text.end());
    std::vector<uint8_t> freeform;
    AppendBox(freeform, "mean", fullBox("com.apple.iTunes", 0));
    AppendBox(freeform, "name", fullBox("iTunSMPB", 0));
    std::vector<uint8_t> dataBody = fullBox("", 1); // UTF-8 text
    dataBody.insert(dataBody.end(), data.begin(), data.end());
    AppendBox(freeform, "data", dataBody);
    std::vector<uint8_t> atom;
    AppendBox(atom, "----", freeform);

    const size_t insertAt = ilst + ReadBE32(&buf[ilst]);
    buf.insert(buf.begin() + static_cast<std::ptrdiff_t>(insertAt), atom.begin(), atom.end());
    for (size_t box : {size_t{0}, udta, meta, ilst})
        PutBE32(&buf[box], ReadBE32(&buf[box]) + static_cast<uint32_t>(atom.size()));
    return PwriteAll(fd, buf.data(), buf.size(), moov);
}

// ---------------------------------------------------------------------------------------------------

class Mp4Output : public CopyOutput {
public:
    explicit Mp4Output(bool aac) : m_aac(aac) {}
    // The AAC decoder's output for a frame overlaps the frame before; one is enough, two leave room
    // for the extensions that look further back.
    int PrerollPackets() const override { return m_aac ? 2 : 0; }

protected:
    void HeaderOptions(AVDictionary** options) override {
        // Edit list times in samples, so its length is the range's exactly.
        av_dict_set_int(options, "movie_timescale", m_rate, 0);
    }
    std::string SetUpStream(const PlacedPacket& first,
                            const std::vector<const PlacedPacket*>& history) override {
        m_delay = std::max<int64_t>(0, m_start - first.pos);
        m_firstKept = first.pos + m_delay;
        return CopyOutput::SetUpStream(first, history);
    }
    std::string Copy(const PlacedPacket& packet, bool last, int64_t end) override {
        m_decoded += packet.dur;
        if (last)
            m_kept = std::max<int64_t>(0, end - m_firstKept);
        return CopyOutput::Copy(packet, last, end);
    }
    std::string Complete() override {
        // Whatever was copied, the tag says the same as the edit list: the samples from the start on.
        const int64_t kept = m_kept >= 0 ? m_kept : m_decoded - m_delay;
        char text[160];
        std::snprintf(text, sizeof text,
                      " 00000000 %08X %08X %016llX 00000000 00000000 00000000 00000000 00000000 00000000 "
                      "00000000 00000000",
                      static_cast<unsigned>(m_delay),
                      static_cast<unsigned>(std::max<int64_t>(0, m_decoded - m_delay - kept)),
                      static_cast<unsigned long long>(kept));
        const int err = AddITunSmpb(m_fd, text);
        return err ? "Cannot write the output file " + Quoted(m_path) + " (" + ErrnoText(err) + ")." : "";
    }

private:
    bool m_aac;
    int64_t m_delay = 0; // decoded samples before the range's start
    int64_t m_firstKept = 0;
    int64_t m_decoded = 0; // every sample the copied packets decode to
    int64_t m_kept = -1;   // the range's samples, once the last packet is known
};

// ---------------------------------------------------------------------------------------------------

struct Mp3Header {
    bool valid = false;
    bool mpeg1 = false;
    int version = 0; // the header's two bits: 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    int rateIndex = 0, rate = 0, mode = 0, sideInfo = 0, samples = 0, length = 0;
    bool crc = false;
};

const int kMpeg1Kbps[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
const int kMpeg2Kbps[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
const int kMpeg1Rates[3] = {44100, 48000, 32000};

Mp3Header ParseMp3Header(const uint8_t* p, int size) {
    Mp3Header h;
    if (size < 4 || p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
        return h;
    h.version = (p[1] >> 3) & 3;
    const int layer = (p[1] >> 1) & 3;
    const int bitrateIndex = p[2] >> 4;
    h.rateIndex = (p[2] >> 2) & 3;
    if (h.version == 1 || layer != 1 || bitrateIndex == 0 || bitrateIndex == 15 || h.rateIndex == 3)
        return h;
    h.mpeg1 = h.version == 3;
    h.rate = kMpeg1Rates[h.rateIndex] >> (h.version == 3 ? 0 : h.version == 2 ? 1 : 2);
    h.crc = (p[1] & 1) == 0;
    h.mode = p[3] >> 6;
    const bool mono = h.mode == 3;
    h.sideInfo = h.mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    h.samples = h.mpeg1 ? 1152 : 576;
    const int kbps = (h.mpeg1 ? kMpeg1Kbps : kMpeg2Kbps)[bitrateIndex];
    h.length = (h.mpeg1 ? 144 : 72) * kbps * 1000 / h.rate + ((p[2] >> 1) & 1);
    h.valid = true;
    return h;
}

class Mp3Output : public CopyOutput {
public:
    // Decoding is exact from the second frame after a fresh start whose bit reservoir is complete:
    // the first one lacks the overlap of the one before.
    int PrerollPackets() const override { return 2; }
    int HistoryPackets() const override { return 16; }

protected:
    std::string SetUpStream(const PlacedPacket& first,
                            const std::vector<const PlacedPacket*>& history) override {
        const std::string problem = CopyOutput::SetUpStream(first, history);
        if (!problem.empty())
            return problem;
        // The LAME tag's encoder text stays what it was, where the source had one.
        const AVDictionaryEntry* encoder = av_dict_get(m_source->metadata, "encoder", nullptr, 0);
        if (encoder &&
            (std::strncmp(encoder->value, "LAME", 4) == 0 || std::strncmp(encoder->value, "Lav", 3) == 0))
            av_dict_set(&m_stream->metadata, "encoder", encoder->value, 0);
        return BuildReservoirFrame(first, history) ? "" : "The MP3 frames of the source cannot be read.";
    }

    std::string Copy(const PlacedPacket& packet, bool last, int64_t end) override {
        if (m_reservoir) {
            // Decoders drop the encoder delay the tag states plus their own 529 samples: together the
            // reservoir frame and every sample up to the range's start.
            AVPacket* r = m_reservoir;
            m_reservoir = nullptr;
            SetSkipSamples(r, m_start - (packet.pos - m_frameSamples), 0);
            r->pts = r->dts = packet.pos - m_frameSamples - m_start;
            r->duration = m_frameSamples;
            const std::string problem = Mux(r);
            av_packet_free(&r);
            if (!problem.empty())
                return problem;
        }
        // The last frame states its padding even when it has none to drop: decoders take the tag's
        // padding as including their own delay.
        return MuxAt(packet, packet.pos - m_start, packet.dur, last ? packet.End() - end : -1);
    }

public:
    ~Mp3Output() override { av_packet_free(&m_reservoir); }

private:
    // A frame of silence (all its granules empty) whose bytes are the bit reservoir the first copied
    // frames read from: the end of the main data of the frames before them. Built on the first
    // frame's header with the highest bit rate that holds it.
    bool BuildReservoirFrame(const PlacedPacket& first, const std::vector<const PlacedPacket*>& history) {
        const Mp3Header h = ParseMp3Header(first.pkt->data, first.pkt->size);
        if (!h.valid)
            return false;
        m_frameSamples = h.samples;
        std::vector<uint8_t> mainData;
        for (const PlacedPacket* p : history) {
            const Mp3Header ph = ParseMp3Header(p->pkt->data, p->pkt->size);
            const int skip = 4 + (ph.crc ? 2 : 0) + ph.sideInfo;
            if (!ph.valid || p->pkt->size <= skip)
                continue;
            mainData.insert(mainData.end(), p->pkt->data + skip, p->pkt->data + p->pkt->size);
        }
        const size_t reservoir = std::min<size_t>(mainData.size(), h.mpeg1 ? 511 : 255);
        const int* kbps = h.mpeg1 ? kMpeg1Kbps : kMpeg2Kbps;
        auto bytes = [&](int index) { return (h.mpeg1 ? 144 : 72) * kbps[index] * 1000 / h.rate; };
        int index = 1;
        while (index < 14 && bytes(index) - 4 - h.sideInfo < static_cast<int>(reservoir))
            ++index;
        const int length = bytes(index);
        m_reservoir = av_packet_alloc();
        if (!m_reservoir || av_new_packet(m_reservoir, length) < 0)
            return false;
        uint8_t* f = m_reservoir->data;
        std::memset(f, 0, static_cast<size_t>(length));
        f[0] = 0xFF;
        f[1] = static_cast<uint8_t>(0xE0 | h.version << 3 | 1 << 1 | 1); // layer III, no CRC
        f[2] = static_cast<uint8_t>(index << 4 | h.rateIndex << 2);
        f[3] = first.pkt->data[3]; // the same mode and flags, or demuxers take it for junk
        if (reservoir > 0)         // the first frames of a stream read none
            std::memcpy(f + length - reservoir, mainData.data() + mainData.size() - reservoir, reservoir);
        return true;
    }

    AVPacket* m_reservoir = nullptr;
    int64_t m_frameSamples = 1152;
};

// ---------------------------------------------------------------------------------------------------

// Ogg: the packet holding the range's first sample ends the first page, so the first page is never the
// last one too (ffmpeg's reader places a stream's packets from the first page only when it is not).
class OggOutput : public CopyOutput {
protected:
    bool TagsOnStream() const override { return true; }
    std::string Copy(const PlacedPacket& packet, bool last, int64_t end) override {
        std::string problem = Stamp(packet, last, end);
        if (problem.empty() && !last && packet.pos <= m_start && packet.End() > m_start) {
            const int r = av_write_frame(m_mux, nullptr);
            if (r < 0)
                problem = WriteError(r);
        }
        return problem;
    }
    virtual std::string Stamp(const PlacedPacket& packet, bool last, int64_t end) {
        return CopyOutput::Copy(packet, last, end);
    }
};

class OpusOutput : public OggOutput {
public:
    // RFC 7845 asks for at least 80 ms before a point for the decoder to converge on what decoding from
    // the start gives; ffmpeg's decoder takes about half a second to give the same samples bit for bit.
    // A second stays within what the pre-skip can state.
    int64_t PrerollSamples() const override { return 48000; }

protected:
    std::string SetUpStream(const PlacedPacket& first,
                            const std::vector<const PlacedPacket*>& history) override {
        const std::string problem = CopyOutput::SetUpStream(first, history);
        if (!problem.empty())
            return problem;
        AVCodecParameters* par = m_stream->codecpar;
        const int64_t preSkip = std::max<int64_t>(0, m_start - first.pos);
        if (par->extradata_size < 19 || preSkip > 65535)
            return "The Opus stream of the source has no usable header.";
        // What decoders skip: the samples of the packets copied before the range, with the source's own
        // pre-skip where the copy starts at its beginning.
        AV_WL16(par->extradata + 10, static_cast<uint16_t>(preSkip));
        par->initial_padding = static_cast<int>(preSkip);
        return "";
    }
};

// ---------------------------------------------------------------------------------------------------

class VorbisOutput : public OggOutput {
public:
    // A packet's samples are the overlap of its window with the one before.
    int PrerollPackets() const override { return 1; }

protected:
    std::string SetUpStream(const PlacedPacket& first,
                            const std::vector<const PlacedPacket*>& history) override {
        const std::string problem = CopyOutput::SetUpStream(first, history);
        if (!problem.empty())
            return problem;
        AVVorbisParseContext* parser =
            av_vorbis_parse_init(m_source->codecpar->extradata, m_source->codecpar->extradata_size);
        if (!parser)
            return "The Vorbis stream of the source has no usable header.";
        av_vorbis_parse_reset(parser); // as a reader starts on the first page
        // The length readers give a stream's first packet (which decodes to nothing): taken from the
        // first page's granule position, it places every later packet.
        m_firstLength = av_vorbis_parse_frame(parser, first.pkt->data, first.pkt->size);
        av_vorbis_parse_free(&parser);
        return m_firstLength < 0 ? "The Vorbis stream of the source cannot be read." : "";
    }
    std::string Stamp(const PlacedPacket& packet, bool last, int64_t end) override {
        if (m_firstLength < 0)
            return CopyOutput::Copy(packet, last, end);
        const int length = m_firstLength;
        m_firstLength = -1;
        return MuxAt(packet, packet.End() - m_start - length, length);
    }

private:
    int m_firstLength = -1;
};

// ---------------------------------------------------------------------------------------------------

// FLAC and PCM: decoded and encoded again at the source's own format, so the range is cut to the
// sample and the file's header (STREAMINFO with its MD5, the WAV format) describes exactly it.
class LosslessOutput : public CopyOutput {
public:
    explicit LosslessOutput(bool flac) : m_flac(flac) {}
    ~LosslessOutput() override {
        avcodec_free_context(&m_decoder);
        avcodec_free_context(&m_encoder);
        swr_free(&m_swr);
        av_audio_fifo_free(m_fifo);
        av_frame_free(&m_frame);
        av_frame_free(&m_out);
        av_packet_free(&m_packet);
    }

protected:
    void HeaderOptions(AVDictionary** options) override {
        if (!m_flac)
            av_dict_set(options, "rf64", "auto", 0); // a WAV beyond 4 GB
    }
    std::string SetUpStream(const PlacedPacket&, const std::vector<const PlacedPacket*>&) override {
        const AVCodecParameters* src = m_source->codecpar;
        const AVCodec* decoder = avcodec_find_decoder(src->codec_id);
        m_decoder = decoder ? avcodec_alloc_context3(decoder) : nullptr;
        if (!m_decoder || avcodec_parameters_to_context(m_decoder, src) < 0)
            return "The audio of the source cannot be decoded.";
        m_decoder->pkt_timebase = AVRational{1, m_rate};
        if (avcodec_open2(m_decoder, decoder, nullptr) < 0)
            return "The audio of the source cannot be decoded.";

        const AVSampleFormat packed = av_get_packed_sample_fmt(m_decoder->sample_fmt);
        const int bits = m_decoder->bits_per_raw_sample;
        AVCodecID id = AV_CODEC_ID_FLAC;
        AVSampleFormat format =
            packed == AV_SAMPLE_FMT_S16 || packed == AV_SAMPLE_FMT_U8 ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_S32;
        if (!m_flac) {
            format = packed;
            switch (packed) {
            case AV_SAMPLE_FMT_U8:
                id = AV_CODEC_ID_PCM_U8;
                break;
            case AV_SAMPLE_FMT_S16:
                id = AV_CODEC_ID_PCM_S16LE;
                break;
            case AV_SAMPLE_FMT_S32:
                id = bits > 0 && bits <= 24 ? AV_CODEC_ID_PCM_S24LE : AV_CODEC_ID_PCM_S32LE;
                break;
            case AV_SAMPLE_FMT_FLT:
                id = AV_CODEC_ID_PCM_F32LE;
                break;
            case AV_SAMPLE_FMT_DBL:
                id = AV_CODEC_ID_PCM_F64LE;
                break;
            default:
                return "The samples of the source cannot be written as WAV.";
            }
        }
        const AVCodec* encoder = avcodec_find_encoder(id);
        m_encoder = encoder ? avcodec_alloc_context3(encoder) : nullptr;
        if (!m_encoder)
            return "The encoder for the copy is missing from this system's FFmpeg libraries.";
        m_encoder->sample_fmt = format;
        m_encoder->sample_rate = m_rate;
        m_encoder->bits_per_raw_sample = bits;
        if (av_channel_layout_copy(&m_encoder->ch_layout, &m_decoder->ch_layout) < 0)
            return "Out of memory while copying the audio.";
        m_encoder->time_base = AVRational{1, m_rate};
        if (avcodec_open2(m_encoder, encoder, nullptr) < 0)
            return "The samples of the source cannot be encoded again.";
        if (m_decoder->sample_fmt != format &&
            (swr_alloc_set_opts2(&m_swr, &m_encoder->ch_layout, format, m_rate, &m_decoder->ch_layout,
                                 m_decoder->sample_fmt, m_rate, 0, nullptr) < 0 ||
             swr_init(m_swr) < 0))
            return "The samples of the source cannot be converted.";
        m_fifo = av_audio_fifo_alloc(format, m_encoder->ch_layout.nb_channels, 4096);
        m_frame = av_frame_alloc();
        m_out = av_frame_alloc();
        m_packet = av_packet_alloc();
        if (!m_fifo || !m_frame || !m_out || !m_packet ||
            avcodec_parameters_from_context(m_stream->codecpar, m_encoder) < 0)
            return "Out of memory while copying the audio.";
        m_stream->time_base = AVRational{1, m_rate};
        return "";
    }

    std::string Copy(const PlacedPacket& packet, bool last, int64_t end) override {
        m_cut = last ? end : m_end;
        m_packet->pts = AV_NOPTS_VALUE;
        if (av_packet_ref(m_packet, packet.pkt) < 0)
            return "Out of memory while copying the audio.";
        m_packet->pts = m_packet->dts = packet.pos;
        m_packet->duration = packet.dur;
        m_next = packet.pos;
        const int r = avcodec_send_packet(m_decoder, m_packet);
        av_packet_unref(m_packet);
        if (r < 0 && r != AVERROR(EAGAIN))
            return ""; // a damaged frame: skipped, as a player skips it
        return Receive(false);
    }

    std::string Drain() override {
        avcodec_send_packet(m_decoder, nullptr);
        std::string problem = Receive(true);
        if (problem.empty())
            problem = Encode(true);
        return problem;
    }

private:
    // Decoded frames, cut to the range, into the buffer; whole encoder frames out of it.
    std::string Receive(bool draining) {
        for (;;) {
            const int r = avcodec_receive_frame(m_decoder, m_frame);
            if (r < 0)
                break;
            const int64_t pos = m_frame->pts != AV_NOPTS_VALUE ? m_frame->pts : m_next;
            m_next = pos + m_frame->nb_samples;
            const int64_t from = std::max(pos, m_start), to = std::min(pos + m_frame->nb_samples, m_cut);
            std::string problem;
            if (to > from)
                problem = Take(static_cast<int>(from - pos), static_cast<int>(to - from));
            av_frame_unref(m_frame);
            if (!problem.empty())
                return problem;
        }
        return draining ? "" : Encode(false);
    }

    std::string Take(int offset, int count) {
        const int channels = m_decoder->ch_layout.nb_channels;
        const AVSampleFormat format = static_cast<AVSampleFormat>(m_frame->format);
        uint8_t* planes[AV_NUM_DATA_POINTERS] = {};
        const int planeCount = av_sample_fmt_is_planar(format) ? channels : 1;
        const int bytes = av_get_bytes_per_sample(format) * (av_sample_fmt_is_planar(format) ? 1 : channels);
        for (int i = 0; i < planeCount && i < AV_NUM_DATA_POINTERS; ++i)
            planes[i] = m_frame->extended_data[i] + static_cast<ptrdiff_t>(offset) * bytes;
        if (!m_swr)
            return av_audio_fifo_write(m_fifo, reinterpret_cast<void**>(planes), count) < count
                       ? "Out of memory while copying the audio."
                       : "";
        m_out->nb_samples = count;
        m_out->format = m_encoder->sample_fmt;
        if (av_channel_layout_copy(&m_out->ch_layout, &m_encoder->ch_layout) < 0 ||
            av_frame_get_buffer(m_out, 0) < 0)
            return "Out of memory while copying the audio.";
        const int got =
            swr_convert(m_swr, m_out->extended_data, count, const_cast<const uint8_t**>(planes), count);
        const bool ok =
            got == count &&
            av_audio_fifo_write(m_fifo, reinterpret_cast<void**>(m_out->extended_data), count) == count;
        av_frame_unref(m_out);
        return ok ? "" : "Out of memory while copying the audio.";
    }

    std::string Encode(bool flush) {
        const int size = m_encoder->frame_size > 0 ? m_encoder->frame_size : 4096;
        while (av_audio_fifo_size(m_fifo) >= size || (flush && av_audio_fifo_size(m_fifo) > 0)) {
            const int n = std::min(size, av_audio_fifo_size(m_fifo));
            m_out->nb_samples = n;
            m_out->format = m_encoder->sample_fmt;
            if (av_channel_layout_copy(&m_out->ch_layout, &m_encoder->ch_layout) < 0 ||
                av_frame_get_buffer(m_out, 0) < 0 ||
                av_audio_fifo_read(m_fifo, reinterpret_cast<void**>(m_out->extended_data), n) != n)
                return "Out of memory while copying the audio.";
            m_out->pts = m_encoded;
            m_encoded += n;
            const std::string problem = Send(m_out);
            av_frame_unref(m_out);
            if (!problem.empty())
                return problem;
        }
        return flush ? Send(nullptr) : "";
    }

    std::string Send(AVFrame* frame) {
        if (avcodec_send_frame(m_encoder, frame) < 0)
            return "The samples of the source cannot be encoded again.";
        for (;;) {
            const int r = avcodec_receive_packet(m_encoder, m_packet);
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
                return "";
            if (r < 0)
                return "The samples of the source cannot be encoded again.";
            // The encoder's times count from the range's start already.
            std::string problem = Mux(m_packet);
            av_packet_unref(m_packet);
            if (!problem.empty())
                return problem;
        }
    }

    bool m_flac;
    AVCodecContext* m_decoder = nullptr;
    AVCodecContext* m_encoder = nullptr;
    SwrContext* m_swr = nullptr;
    AVAudioFifo* m_fifo = nullptr;
    AVFrame* m_frame = nullptr;
    AVFrame* m_out = nullptr;
    AVPacket* m_packet = nullptr;
    int64_t m_cut = 0;
    int64_t m_next = 0;
    int64_t m_encoded = 0;
};

// ---------------------------------------------------------------------------------------------------

class WholeFramesOutput : public CopyOutput {
protected:
    std::string SetUpStream(const PlacedPacket& first,
                            const std::vector<const PlacedPacket*>& history) override {
        m_first = first.pos;
        return CopyOutput::SetUpStream(first, history);
    }
    std::string Copy(const PlacedPacket& packet, bool, int64_t) override {
        // The file starts with its first frame; nothing is trimmed.
        return MuxAt(packet, packet.pos - m_first, packet.dur);
    }

private:
    int64_t m_first = 0;
};

} // namespace

bool PlanCopy(const AVCodecParameters* par, CopyPlan* plan) {
    switch (par->codec_id) {
    case AV_CODEC_ID_AAC:
    case AV_CODEC_ID_ALAC:
        *plan = {CopyKind::Mp4, "ipod", ".m4a"};
        return true;
    case AV_CODEC_ID_MP3:
        *plan = {CopyKind::Mp3, "mp3", ".mp3"};
        return true;
    case AV_CODEC_ID_OPUS:
        *plan = {CopyKind::OggOpus, "opus", ".opus"};
        return true;
    case AV_CODEC_ID_VORBIS:
        *plan = {CopyKind::OggVorbis, "ogg", ".ogg"};
        return true;
    case AV_CODEC_ID_FLAC:
        *plan = {CopyKind::Lossless, "flac", ".flac"};
        return true;
    case AV_CODEC_ID_AC3:
        *plan = {CopyKind::WholeFrames, "ac3", ".ac3"};
        return true;
    case AV_CODEC_ID_EAC3:
        *plan = {CopyKind::WholeFrames, "eac3", ".eac3"};
        return true;
    case AV_CODEC_ID_DTS:
        *plan = {CopyKind::WholeFrames, "dts", ".dts"};
        return true;
    case AV_CODEC_ID_MP2:
        *plan = {CopyKind::WholeFrames, "mp2", ".mp2"};
        return true;
    default:
        break;
    }
    if (IsPcm(par->codec_id)) {
        *plan = {CopyKind::Lossless, "wav", ".wav"};
        return true;
    }
    // Matroska takes its own codecs, and the others that have a WAVE format tag (as ACM audio).
    const AVOutputFormat* mka = av_guess_format("matroska", nullptr, nullptr);
    const AVCodecTag* const riff[] = {avformat_get_riff_audio_tags(), nullptr};
    if (!mka || (avformat_query_codec(mka, par->codec_id, FF_COMPLIANCE_NORMAL) != 1 &&
                 av_codec_get_tag(riff, par->codec_id) == 0))
        return false;
    *plan = {CopyKind::WholeFrames, "matroska", ".mka"};
    return true;
}

std::unique_ptr<CopyOutput> CopyOutput::Create(const CopyPlan& plan) {
    std::unique_ptr<CopyOutput> out;
    switch (plan.kind) {
    case CopyKind::Mp4:
        out = std::make_unique<Mp4Output>(true);
        break;
    case CopyKind::Mp3:
        out = std::make_unique<Mp3Output>();
        break;
    case CopyKind::OggOpus:
        out = std::make_unique<OpusOutput>();
        break;
    case CopyKind::OggVorbis:
        out = std::make_unique<VorbisOutput>();
        break;
    case CopyKind::Lossless:
        out = std::make_unique<LosslessOutput>(std::strcmp(plan.muxer, "flac") == 0);
        break;
    case CopyKind::WholeFrames:
        out = std::make_unique<WholeFramesOutput>();
        break;
    }
    out->m_muxer = plan.muxer;
    return out;
}

CopyOutput::~CopyOutput() {
    if (m_mux)
        m_mux->pb = nullptr;
    avformat_free_context(m_mux);
    CloseFile();
}

void CopyOutput::CloseFile() {
    if (m_io) {
        av_freep(&m_io->buffer);
        avio_context_free(&m_io);
    }
    if (m_fd >= 0)
        close(m_fd);
    m_fd = -1;
}

int CopyOutput::WriteToFile(void* opaque, uint8_t* data, int size) {
    auto* self = static_cast<CopyOutput*>(opaque);
    int left = size;
    while (left > 0) {
        const ssize_t n = write(self->m_fd, data, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            self->m_errno = n < 0 ? errno : EIO;
            return AVERROR(self->m_errno);
        }
        data += n;
        left -= static_cast<int>(n);
    }
    return size;
}

int64_t CopyOutput::SeekInFile(void* opaque, int64_t offset, int whence) {
    auto* self = static_cast<CopyOutput*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat st;
        return fstat(self->m_fd, &st) == 0 ? st.st_size : AVERROR(errno);
    }
    const off_t at = lseek(self->m_fd, offset, whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : at;
}

std::string CopyOutput::WriteError(int averror) const {
    const std::string reason = m_errno ? ErrnoText(m_errno) : AvErrorText(averror);
    return "Cannot write the output file " + Quoted(m_path) + " (" + reason + ").";
}

std::string CopyOutput::Open(const std::string& path, const std::string& sourcePath, const AVStream* source,
                             int rate, const CopyTags& tags, int64_t start, int64_t end) {
    m_path = path;
    m_source = source;
    m_rate = rate;
    m_tags = tags;
    m_start = start;
    m_end = end;
    struct stat out, src;
    if (stat(path.c_str(), &out) == 0 && stat(sourcePath.c_str(), &src) == 0 && out.st_dev == src.st_dev &&
        out.st_ino == src.st_ino)
        return "The output file " + Quoted(path) + " is the source file itself; it was not overwritten.";
    // O_NONBLOCK only keeps a FIFO at the path from blocking the open; anything but a file is refused.
    m_fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0666);
    if (m_fd < 0) {
        const int err = errno;
        return "Cannot create the output file " + Quoted(path) + " (" +
               (err == ENXIO || err == ELOOP ? std::string("not a regular file") : ErrnoText(err)) + ").";
    }
    if (fstat(m_fd, &out) != 0 || !S_ISREG(out.st_mode)) {
        CloseFile();
        return "Cannot create the output file " + Quoted(path) + " (not a regular file).";
    }
    m_opened = true;
    m_dev = out.st_dev;
    m_ino = out.st_ino;
    fcntl(m_fd, F_SETFL, fcntl(m_fd, F_GETFL) & ~O_NONBLOCK);

    auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
    m_io = buffer ? avio_alloc_context(buffer, kIoBufferSize, 1, this, nullptr, &CopyOutput::WriteToFile,
                                       &CopyOutput::SeekInFile)
                  : nullptr;
    if (!m_io) {
        av_free(buffer);
        return "Out of memory while copying the audio.";
    }
    if (avformat_alloc_output_context2(&m_mux, nullptr, m_muxer, nullptr) < 0 || !m_mux)
        return "The " + std::string(m_muxer) + " writer is missing from this system's FFmpeg libraries.";
    m_mux->pb = m_io;
    // Whole buffers to the file: by default a custom output is flushed after every packet.
    m_mux->flush_packets = 0;
    m_stream = avformat_new_stream(m_mux, nullptr);
    if (!m_stream)
        return "Out of memory while copying the audio.";
    return "";
}

std::string CopyOutput::SetUpStream(const PlacedPacket&, const std::vector<const PlacedPacket*>&) {
    if (avcodec_parameters_copy(m_stream->codecpar, m_source->codecpar) < 0)
        return "Out of memory while copying the audio.";
    m_stream->codecpar->codec_tag = 0; // the output container's own
    m_stream->time_base = AVRational{1, m_rate};
    return "";
}

void CopyOutput::HeaderOptions(AVDictionary**) {}

std::string CopyOutput::Begin(const PlacedPacket& first, const std::vector<const PlacedPacket*>& history) {
    std::string problem = SetUpStream(first, history);
    if (!problem.empty())
        return problem;
    AVDictionary** metadata = TagsOnStream() ? &m_stream->metadata : &m_mux->metadata;
    const std::pair<const char*, const std::string*> texts[] = {{"title", &m_tags.title},
                                                                {"artist", &m_tags.artist},
                                                                {"album", &m_tags.album},
                                                                {"date", &m_tags.year},
                                                                {"genre", &m_tags.genre}};
    for (const auto& [key, text] : texts) {
        if (!text->empty())
            av_dict_set(metadata, key, text->c_str(), 0);
    }
    AVDictionary* options = nullptr;
    HeaderOptions(&options);
    const int r = avformat_write_header(m_mux, &options);
    av_dict_free(&options);
    if (r < 0)
        return m_errno ? WriteError(r)
                       : "The audio of the source (" +
                             std::string(avcodec_get_name(m_source->codecpar->codec_id)) +
                             ") cannot be written as " + m_muxer + " (" + AvErrorText(r) + ").";
    m_begun = true;
    return "";
}

std::string CopyOutput::Write(const PlacedPacket& packet, bool last, int64_t end) {
    m_longest = std::max(m_longest, packet.dur);
    return Copy(packet, last, end);
}

std::string CopyOutput::Copy(const PlacedPacket& packet, bool last, int64_t end) {
    return MuxAt(packet, packet.pos - m_start, last ? end - packet.pos : packet.dur);
}

std::string CopyOutput::MuxAt(const PlacedPacket& packet, int64_t pts, int64_t duration, int64_t discardEnd) {
    // The data without the source's side data: its trimming is the source's, not the copy's.
    AVPacket* pkt = av_packet_clone(packet.pkt);
    if (!pkt)
        return "Out of memory while copying the audio.";
    av_packet_free_side_data(pkt);
    pkt->pts = pkt->dts = pts;
    pkt->duration = duration;
    if (discardEnd >= 0)
        SetSkipSamples(pkt, 0, discardEnd);
    const std::string problem = Mux(pkt);
    av_packet_free(&pkt);
    return problem;
}

std::string CopyOutput::Mux(AVPacket* pkt) {
    pkt->stream_index = 0;
    av_packet_rescale_ts(pkt, AVRational{1, m_rate}, m_stream->time_base);
    const int r = av_write_frame(m_mux, pkt);
    return r < 0 ? WriteError(r) : "";
}

std::string CopyOutput::Finish() {
    if (!m_begun) {
        Abandon();
        return "";
    }
    std::string problem = Drain();
    const int r = av_write_trailer(m_mux);
    if (problem.empty() && r < 0)
        problem = WriteError(r);
    if (problem.empty() && m_io->error < 0)
        problem = WriteError(m_io->error);
    if (problem.empty())
        problem = Complete();
    m_mux->pb = nullptr;
    avformat_free_context(m_mux);
    m_mux = nullptr;
    if (m_io) {
        av_freep(&m_io->buffer);
        avio_context_free(&m_io);
    }
    if (m_fd >= 0 && close(m_fd) != 0 && problem.empty())
        problem = "Cannot write the output file " + Quoted(m_path) + " (" + ErrnoText(errno) + ").";
    m_fd = -1;
    return problem;
}

void CopyOutput::Abandon() {
    CloseFile();
    // The file this copy opened, and nothing put at the path since.
    struct stat now;
    if (m_opened && lstat(m_path.c_str(), &now) == 0 && S_ISREG(now.st_mode) && now.st_dev == m_dev &&
        now.st_ino == m_ino)
        unlink(m_path.c_str());
}

} // namespace videoedit
