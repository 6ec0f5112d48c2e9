#include "VorbisStream.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

namespace {

// Long blocks of libvorbis at 44.1 kHz are 2048 samples; a chunk of the same length keeps the
// encoder's lookahead to about one chunk.
constexpr uint32_t kFramesPerChunk = 2048;
// libogg closes a page once it holds about 4 KiB, so less than this waits inside it between calls.
constexpr size_t kPageSlack = 16384;

bool AcceptsNominal(long channels, long rate, long nominal) {
    vorbis_info info;
    vorbis_info_init(&info);
    const bool ok = vorbis_encode_setup_managed(&info, channels, rate, -1, nominal, -1) == 0;
    vorbis_info_clear(&info);
    return ok;
}

// The supported nominal bitrate closest to the wanted one, in steps of 1 kbps; -1 when there is none.
long NearestNominal(long channels, long rate, long wanted) {
    if (AcceptsNominal(channels, rate, wanted))
        return wanted;
    for (long step = 1000; step <= 4'000'000; step += 1000) {
        if (wanted - step > 0 && AcceptsNominal(channels, rate, wanted - step))
            return wanted - step;
        if (AcceptsNominal(channels, rate, wanted + step))
            return wanted + step;
    }
    return -1;
}

bool IsValidUtf8(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t extra = 0;
        uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= s.size())
            return false;
        for (size_t k = 1; k <= extra; ++k) {
            const auto cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        static constexpr uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMinimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

// Vorbis comments are UTF-8; older settings files may hold Latin-1 texts.
std::string ToUtf8(const char* text) {
    std::string s(text);
    if (IsValidUtf8(s))
        return s;
    std::string out;
    for (unsigned char c : s) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

void AddComment(vorbis_comment* vc, const char* tag, const char* text) {
    if (text == nullptr || text[0] == '\0')
        return;
    vorbis_comment_add_tag(vc, tag, ToUtf8(text).c_str());
}

} // namespace

VorbisRatePlan PlanVorbisRates(long channels, long rate, uint32_t minBitrate, uint32_t nominalBitrate,
                               uint32_t maxBitrate) {
    VorbisRatePlan plan;
    long lo = static_cast<long>(minBitrate);
    long hi = static_cast<long>(maxBitrate);
    const long nominal = static_cast<long>(nominalBitrate);
    if (lo == 0 && nominal == 0 && hi == 0) {
        plan.quality = 0.5;
        return plan;
    }
    if (nominal != 0) {
        const long n = NearestNominal(channels, rate, nominal);
        plan.nominalBitrate = n;
        plan.averageBitrate = n;
        plan.minBitrate = lo != 0 ? std::min(lo, n) : -1;
        plan.maxBitrate = hi != 0 ? std::max(hi, n) : -1;
        return plan;
    }
    if (lo != 0 && hi != 0 && lo > hi)
        std::swap(lo, hi);
    // The point libvorbis itself would take its tables from; only the limits are managed.
    const long middle = lo != 0 && hi != 0 ? (lo + hi) / 2 : hi != 0 ? hi / 8 * 7 : lo;
    plan.nominalBitrate = NearestNominal(channels, rate, middle);
    plan.minBitrate = lo != 0 ? lo : -1;
    plan.maxBitrate = hi != 0 ? hi : -1;
    return plan;
}

VorbisStream::~VorbisStream() {
    if (m_oggReady)
        ogg_stream_clear(&m_ogg);
    if (m_blockReady)
        vorbis_block_clear(&m_block);
    if (m_dspReady)
        vorbis_dsp_clear(&m_dsp);
    if (m_commentReady)
        vorbis_comment_clear(&m_comment);
    if (m_infoReady)
        vorbis_info_clear(&m_info);
}

VB_ERR VorbisStream::Open(const VB_CONFIG& config, const VB_COMMENT& comment) {
    if (config.dwChannels < 1 || config.dwChannels > 2 || config.dwSampleRate < 1000 ||
        config.dwSampleRate > 200000)
        return VB_ERR_INVALID_PARAMETER;
    m_channels = static_cast<int>(config.dwChannels);
    const long rate = static_cast<long>(config.dwSampleRate);

    vorbis_info_init(&m_info);
    m_infoReady = true;
    const VorbisRatePlan plan =
        PlanVorbisRates(m_channels, rate, config.dwMinBitrate, config.dwNominalBitrate, config.dwMaxBitrate);
    if (plan.quality >= 0) {
        if (vorbis_encode_setup_vbr(&m_info, m_channels, rate, static_cast<float>(plan.quality)) != 0)
            return VB_ERR_UNSUPPORTED;
    } else {
        if (plan.nominalBitrate <= 0 ||
            vorbis_encode_setup_managed(&m_info, m_channels, rate, plan.maxBitrate, plan.nominalBitrate,
                                        plan.minBitrate) != 0)
            return VB_ERR_UNSUPPORTED;
        if (plan.averageBitrate != plan.nominalBitrate) {
            ovectl_ratemanage2_arg manage{};
            if (vorbis_encode_ctl(&m_info, OV_ECTL_RATEMANAGE2_GET, &manage) != 0)
                return VB_ERR_UNSUPPORTED;
            manage.bitrate_average_kbps = plan.averageBitrate > 0 ? plan.averageBitrate / 1000 : 0;
            if (vorbis_encode_ctl(&m_info, OV_ECTL_RATEMANAGE2_SET, &manage) != 0)
                return VB_ERR_UNSUPPORTED;
        }
    }
    if (vorbis_encode_setup_init(&m_info) != 0)
        return VB_ERR_UNSUPPORTED;

    vorbis_comment_init(&m_comment);
    m_commentReady = true;
    AddComment(&m_comment, "ARTIST", comment.pszArtist);
    AddComment(&m_comment, "ALBUM", comment.pszAlbum);
    AddComment(&m_comment, "TITLE", comment.pszTitle);
    AddComment(&m_comment, "COMMENT", comment.pszComment);
    AddComment(&m_comment, "TRACKNUMBER", comment.pszTrackNumber);

    if (vorbis_analysis_init(&m_dsp, &m_info) != 0)
        return VB_ERR_ENCODER_FAILED;
    m_dspReady = true;
    if (vorbis_block_init(&m_dsp, &m_block) != 0)
        return VB_ERR_ENCODER_FAILED;
    m_blockReady = true;

    // Any serial number will do; different ones let streams be chained without clashes.
    static std::atomic<uint32_t> serialSeed{0x51554C4Cu};
    if (ogg_stream_init(&m_ogg, static_cast<int>(serialSeed.fetch_add(0x9E3779B9u))) != 0)
        return VB_ERR_ENCODER_FAILED;
    m_oggReady = true;

    ogg_packet ident, comments, codebooks;
    if (vorbis_analysis_headerout(&m_dsp, &m_comment, &ident, &comments, &codebooks) != 0)
        return VB_ERR_ENCODER_FAILED;
    ogg_stream_packetin(&m_ogg, &ident);
    ogg_stream_packetin(&m_ogg, &comments);
    ogg_stream_packetin(&m_ogg, &codebooks);
    // Audio must start on a fresh page after the headers.
    ogg_page page;
    while (ogg_stream_flush(&m_ogg, &page) != 0)
        AppendPage(page);
    if (ogg_stream_check(&m_ogg) != 0)
        return VB_ERR_ENCODER_FAILED;

    m_samplesPerChunk = kFramesPerChunk * static_cast<uint32_t>(m_channels);
    // One call hands out at most the headers, the pages of one chunk plus the encoder's lookahead of two
    // long blocks, and a page that was still filling. Vorbis at its highest settings stays below half
    // the size of the PCM it codes, so the PCM size of that audio leaves a wide margin.
    const size_t lookahead = 2 * static_cast<size_t>(vorbis_info_blocksize(&m_info, 1));
    const size_t audioBytes = (kFramesPerChunk + lookahead) * static_cast<size_t>(m_channels) * 2;
    m_bufferSize = static_cast<uint32_t>(m_pending.size() + audioBytes + kPageSlack);
    return VB_ERR_SUCCESSFUL;
}

VB_ERR VorbisStream::Write(uint32_t nValues, const int16_t* values, uint8_t* out, uint32_t* written) {
    if (m_finished)
        return VB_ERR_INVALID_HANDLE;
    if (m_failed)
        return VB_ERR_ENCODER_FAILED;
    if (nValues > m_samplesPerChunk)
        return VB_ERR_CHUNK_TOO_LARGE;
    const auto channels = static_cast<uint32_t>(m_channels);
    if (!m_partialFrame.empty() && nValues > 0) {
        const uint32_t need =
            std::min<uint32_t>(channels - static_cast<uint32_t>(m_partialFrame.size()), nValues);
        m_partialFrame.insert(m_partialFrame.end(), values, values + need);
        values += need;
        nValues -= need;
        if (m_partialFrame.size() == channels) {
            m_joined.swap(m_partialFrame);
            m_partialFrame.clear();
            Encode(m_joined.data(), 1);
        }
    }
    const uint32_t frames = nValues / channels;
    Encode(values, frames);
    m_partialFrame.insert(m_partialFrame.end(), values + frames * channels, values + nValues);
    if (!Drain(false)) {
        m_failed = true;
        return VB_ERR_ENCODER_FAILED;
    }
    *written = Deliver(out);
    return VB_ERR_SUCCESSFUL;
}

VB_ERR VorbisStream::Close(uint8_t* out, uint32_t* written) {
    *written = 0;
    if (m_finished)
        return VB_ERR_INVALID_HANDLE;
    m_finished = true;
    if (m_failed)
        return VB_ERR_ENCODER_FAILED;
    // Without audio, libvorbis ends the stream with one empty packet at granule position 0: FFmpeg and
    // libvorbisfile read that as 0 samples, while a stream of headers alone is refused by FFmpeg.
    if (!Drain(true))
        return VB_ERR_ENCODER_FAILED;
    *written = Deliver(out);
    return m_pendingPos < m_pending.size() ? VB_ERR_BUFFER_TOO_SMALL : VB_ERR_SUCCESSFUL;
}

void VorbisStream::Encode(const int16_t* frames, uint32_t frameCount) {
    // vorbis_analysis_wrote with 0 frames would end the stream.
    if (frameCount == 0)
        return;
    float** buffer = vorbis_analysis_buffer(&m_dsp, static_cast<int>(frameCount));
    for (uint32_t i = 0; i < frameCount; ++i)
        for (int c = 0; c < m_channels; ++c)
            buffer[c][i] = static_cast<float>(frames[i * static_cast<uint32_t>(m_channels) + c]) / 32768.0f;
    vorbis_analysis_wrote(&m_dsp, static_cast<int>(frameCount));
}

bool VorbisStream::Drain(bool endOfStream) {
    if (endOfStream && vorbis_analysis_wrote(&m_dsp, 0) != 0)
        return false;
    ogg_packet packet;
    ogg_page page;
    for (;;) {
        const int block = vorbis_analysis_blockout(&m_dsp, &m_block);
        if (block < 0)
            return false;
        if (block == 0)
            break;
        if (vorbis_analysis(&m_block, nullptr) != 0 || vorbis_bitrate_addblock(&m_block) != 0)
            return false;
        int flushed;
        while ((flushed = vorbis_bitrate_flushpacket(&m_dsp, &packet)) == 1) {
            if (ogg_stream_packetin(&m_ogg, &packet) != 0)
                return false;
            // The first audio packet gets a page of its own: a stream whose first audio page is also
            // its last one loses samples in some decoders (FFmpeg's start-time guess needs a page that
            // is not the end of the stream).
            if (m_audioPackets++ == 0)
                while (ogg_stream_flush(&m_ogg, &page) != 0)
                    AppendPage(page);
            while (ogg_stream_pageout(&m_ogg, &page) != 0)
                AppendPage(page);
        }
        if (flushed < 0)
            return false;
    }
    if (endOfStream)
        while (ogg_stream_flush(&m_ogg, &page) != 0)
            AppendPage(page);
    return true;
}

void VorbisStream::AppendPage(const ogg_page& page) {
    m_pending.insert(m_pending.end(), page.header, page.header + page.header_len);
    m_pending.insert(m_pending.end(), page.body, page.body + page.body_len);
}

// Hands out as much as fits; anything beyond the buffer waits for the next call.
uint32_t VorbisStream::Deliver(uint8_t* out) {
    const size_t count = std::min<size_t>(m_pending.size() - m_pendingPos, m_bufferSize);
    if (count > 0)
        std::memcpy(out, m_pending.data() + m_pendingPos, count);
    m_pendingPos += count;
    if (m_pendingPos == m_pending.size()) {
        m_pending.clear();
        m_pendingPos = 0;
    }
    return static_cast<uint32_t>(count);
}
