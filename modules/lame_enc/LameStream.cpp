#include "LameStream.h"

#include <algorithm>
#include <cstring>

namespace {

// LAME fills shared tables on first use; setting streams up one at a time keeps that race-free.
std::mutex g_initMutex;

// The Xing/Info frame is at most one frame: 1441 bytes (MPEG-1 Layer III, 320 kbps, 32 kHz, padded).
constexpr size_t kMaxFrameBytes = 1441;
// How much of a stream after its placeholder frame identifies its file.
constexpr size_t kFingerprintBytes = 4096;

constexpr int kVoiceLowpassHz = 12000;

int QualityOfPreset(int32_t preset) {
    switch (preset) {
    case LQP_NORMAL_QUALITY:
    case LQP_VOICE_QUALITY:
        return 5;
    case LQP_LOW_QUALITY:
        return 7;
    case LQP_HIGH_QUALITY:
        return 2;
    default:
        return -1;
    }
}

bool IsMpeg1Rate(uint32_t rate) {
    return rate == 32000 || rate == 44100 || rate == 48000;
}

} // namespace

BE_ERR ApplyConfig(lame_global_flags* lame, const BE_CONFIG& c) {
    if (c.dwSampleRate < 8000 || c.dwSampleRate > 192000)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    if (c.nMode < BE_MP3_MODE_STEREO || c.nMode > BE_MP3_MODE_MONO)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    if (c.nPreset < LQP_NOPRESET || c.nPreset > LQP_VOICE_QUALITY)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    if (c.dwMpegVersion != MPEG_1 && c.dwMpegVersion != MPEG_2)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    if (c.dwEmphasis > 3 || c.dwEmphasis == 2)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    if (c.dwBitrate > 640 || c.dwMaxBitrate > 640)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    const bool abr = c.bEnableVBR && c.nVbrMethod == VBR_METHOD_ABR;
    if (c.bEnableVBR) {
        if (c.nVbrMethod < VBR_METHOD_NONE || c.nVbrMethod > VBR_METHOD_ABR)
            return BE_ERR_INVALID_FORMAT_PARAMETERS;
        if (abr ? c.dwVbrAbr_bps < 8000 || c.dwVbrAbr_bps > 320000 : c.nVBRQuality < 0 || c.nVBRQuality > 9)
            return BE_ERR_INVALID_FORMAT_PARAMETERS;
    }

    lame_set_in_samplerate(lame, static_cast<int>(c.dwSampleRate));
    lame_set_num_channels(lame, 2);
    if (c.dwReSampleRate != 0)
        lame_set_out_samplerate(lame, static_cast<int>(c.dwReSampleRate));
    else if (IsMpeg1Rate(c.dwSampleRate))
        lame_set_out_samplerate(
            lame, static_cast<int>(c.dwMpegVersion == MPEG_1 ? c.dwSampleRate : c.dwSampleRate / 2));
    static constexpr MPEG_mode kModes[] = {STEREO, JOINT_STEREO, DUAL_CHANNEL, MONO};
    lame_set_mode(lame, kModes[c.nMode]);

    int quality = QualityOfPreset(c.nPreset);
    const int low = c.nQuality & 0xFF;
    if ((c.nQuality >> 8) == (~c.nQuality & 0xFF) && low <= 9)
        quality = low;
    if (quality >= 0)
        lame_set_quality(lame, quality);

    lame_set_extension(lame, c.bPrivate ? 1 : 0);
    lame_set_error_protection(lame, c.bCRC ? 1 : 0);
    lame_set_copyright(lame, c.bCopyright ? 1 : 0);
    lame_set_original(lame, c.bOriginal ? 1 : 0);
    lame_set_emphasis(lame, static_cast<int>(c.dwEmphasis));
    lame_set_strict_ISO(lame, c.bStrictIso ? 1 : 0);
    lame_set_disable_reservoir(lame, c.bNoRes ? 1 : 0);
    lame_set_bWriteVbrTag(lame, c.bWriteVBRHeader ? 1 : 0);

    if (!c.bEnableVBR) {
        lame_set_VBR(lame, vbr_off);
        if (c.dwBitrate != 0)
            lame_set_brate(lame, static_cast<int>(c.dwBitrate));
        return BE_ERR_SUCCESSFUL;
    }
    if (abr) {
        lame_set_VBR(lame, vbr_abr);
        lame_set_VBR_mean_bitrate_kbps(lame, static_cast<int>((c.dwVbrAbr_bps + 500) / 1000));
    } else {
        lame_set_VBR(lame, vbr_mtrh);
        lame_set_VBR_q(lame, c.nVBRQuality);
    }
    if (c.dwBitrate != 0) {
        lame_set_VBR_min_bitrate_kbps(lame, static_cast<int>(c.dwBitrate));
        lame_set_VBR_hard_min(lame, 1);
    }
    // Copies: the record is packed, and std::max takes references.
    const uint32_t minKbps = c.dwBitrate;
    const uint32_t maxKbps = c.dwMaxBitrate;
    if (maxKbps != 0)
        lame_set_VBR_max_bitrate_kbps(lame, static_cast<int>(std::max(maxKbps, minKbps)));
    return BE_ERR_SUCCESSFUL;
}

LameStream::~LameStream() {
    if (m_lame != nullptr)
        lame_close(m_lame);
}

BE_ERR LameStream::Open(const BE_CONFIG& config) {
    std::lock_guard lock(g_initMutex);
    m_lame = lame_init();
    if (m_lame == nullptr)
        return BE_ERR_OUT_OF_MEMORY;
    const BE_ERR err = ApplyConfig(m_lame, config);
    if (err != BE_ERR_SUCCESSFUL)
        return err;
    if (config.nPreset == LQP_VOICE_QUALITY) {
        // LAME picks its lowpass from the final settings; a throw-away encoder tells which one.
        lame_global_flags* probe = lame_init();
        if (probe == nullptr)
            return BE_ERR_OUT_OF_MEMORY;
        ApplyConfig(probe, config);
        const int lowpass = lame_init_params(probe) == 0 ? lame_get_lowpassfreq(probe) : 0;
        lame_close(probe);
        lame_set_lowpassfreq(m_lame, lowpass > 0 ? std::min(lowpass, kVoiceLowpassHz) : kVoiceLowpassHz);
    }
    if (lame_init_params(m_lame) != 0)
        return BE_ERR_ENCODER_INIT;

    m_writeTag = lame_get_bWriteVbrTag(m_lame) != 0;
    if (m_writeTag && lame_get_VBR(m_lame) == vbr_off) {
        m_infoFormat.mpegVersion = lame_get_version(m_lame);
        m_infoFormat.sampleRate = lame_get_out_samplerate(m_lame);
        m_infoFormat.mode = static_cast<int>(lame_get_mode(m_lame));
        m_infoFormat.privateBit = config.bPrivate != 0;
        m_infoFormat.copyright = config.bCopyright != 0;
        m_infoFormat.original = config.bOriginal != 0;
        m_infoFormat.emphasis = static_cast<int>(config.dwEmphasis);
        m_ownInfoFrame = !LameTagFitsFrame(m_infoFormat, lame_get_brate(m_lame), config.bCRC != 0) &&
                         InfoFrameSize(m_infoFormat) > 0;
    }
    // One frame of stereo input; LAME's worst case for n samples per channel is 1.25 n + 7200 bytes,
    // and the first call also carries the placeholder frame.
    const auto frame = static_cast<uint32_t>(lame_get_framesize(m_lame));
    m_samplesPerChunk = 2 * frame;
    m_bufferSize = frame * 5 / 4 + 7200 + static_cast<uint32_t>(kMaxFrameBytes);
    m_samples.resize(m_samplesPerChunk + 1);
    return BE_ERR_SUCCESSFUL;
}

BE_ERR LameStream::Encode(uint32_t nSamples, const int16_t* samples, uint8_t* out, uint32_t* written) {
    *written = 0;
    if (m_flushed)
        return BE_ERR_STREAM_FLUSHED;
    if (nSamples > m_samplesPerChunk)
        return BE_ERR_CHUNK_TOO_LARGE;
    if (nSamples == 0)
        return BE_ERR_SUCCESSFUL;
    const int16_t* data = samples;
    uint32_t count = nSamples;
    if (m_hasOddValue) {
        m_samples[0] = m_oddValue;
        std::memcpy(m_samples.data() + 1, samples, nSamples * sizeof(int16_t));
        data = m_samples.data();
        ++count;
        m_hasOddValue = false;
    }
    if (count % 2 != 0) {
        m_oddValue = data[count - 1];
        m_hasOddValue = true;
    }
    const uint32_t pairs = count / 2;
    if (pairs == 0)
        return BE_ERR_SUCCESSFUL;
    const size_t room = PlaceholderRoom(out);
    // LAME only reads the samples.
    const int result =
        lame_encode_buffer_interleaved(m_lame, const_cast<short*>(data), static_cast<int>(pairs), out + room,
                                       static_cast<int>(m_bufferSize - room));
    return TakeOutput(out, room, result, written);
}

BE_ERR LameStream::Flush(uint8_t* out, uint32_t* written, VbrHeaderRecord* record, bool* hasRecord) {
    *written = 0;
    *hasRecord = false;
    if (m_flushed)
        return BE_ERR_STREAM_FLUSHED;
    m_flushed = true;
    const size_t room = PlaceholderRoom(out);
    const int result = lame_encode_flush(m_lame, out + room, static_cast<int>(m_bufferSize - room));
    const BE_ERR taken = TakeOutput(out, room, result, written);
    if (taken != BE_ERR_SUCCESSFUL || !m_writeTag)
        return taken;
    std::vector<uint8_t> tag(kMaxFrameBytes);
    size_t size = 0;
    if (m_ownInfoFrame) {
        InfoFrameContents contents;
        contents.audioFrames = static_cast<uint32_t>(lame_get_frameNum(m_lame));
        contents.streamBytes = static_cast<uint32_t>(m_streamBytes);
        contents.encoderDelay = lame_get_encoder_delay(m_lame);
        contents.encoderPadding = lame_get_encoder_padding(m_lame);
        contents.bitrateKbps = lame_get_brate(m_lame);
        contents.lowpassHz = lame_get_lowpassfreq(m_lame);
        contents.quality = lame_get_quality(m_lame);
        contents.musicCrc = m_musicCrc;
        tag = BuildInfoFrame(m_infoFormat, contents);
        size = tag.size();
    } else {
        size = lame_get_lametag_frame(m_lame, tag.data(), tag.size());
    }
    if (size == 0 || size > tag.size() || size > m_head.size())
        return BE_ERR_SUCCESSFUL;
    tag.resize(size);
    record->tagFrame = std::move(tag);
    record->streamBytes = m_streamBytes;
    const size_t end = std::min(m_head.size(), size + kFingerprintBytes);
    record->afterTag.assign(m_head.begin() + static_cast<ptrdiff_t>(size),
                            m_head.begin() + static_cast<ptrdiff_t>(end));
    *hasRecord = true;
    return BE_ERR_SUCCESSFUL;
}

size_t LameStream::PlaceholderRoom(uint8_t* out) {
    if (!m_ownInfoFrame || m_placeholderWritten)
        return 0;
    const std::vector<uint8_t> placeholder = InfoFramePlaceholder(m_infoFormat);
    std::memcpy(out, placeholder.data(), placeholder.size());
    return placeholder.size();
}

BE_ERR LameStream::TakeOutput(uint8_t* out, size_t room, int result, uint32_t* written) {
    if (result == -1)
        return BE_ERR_BUFFER_TOO_SMALL;
    if (result < 0)
        return BE_ERR_ENCODER_FAILED;
    m_placeholderWritten = m_placeholderWritten || room > 0;
    m_musicCrc = Crc16(m_musicCrc, out + room, static_cast<size_t>(result));
    Track(out, room + static_cast<size_t>(result));
    *written = static_cast<uint32_t>(room + static_cast<size_t>(result));
    return BE_ERR_SUCCESSFUL;
}

void LameStream::Track(const uint8_t* out, size_t count) {
    m_streamBytes += count;
    const size_t keep = std::min(count, kMaxFrameBytes + kFingerprintBytes - m_head.size());
    m_head.insert(m_head.end(), out, out + keep);
}
