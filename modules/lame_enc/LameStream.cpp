#include "LameStream.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <numeric>

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

// Frames a segment's stream encodes before its own, so that its psychoacoustic state (the ATH
// adjustment settles slowest, within about 70 frames even in quiet passages) and its MDCT overlap are
// those of one encoder; and frames fed after its own, so that LAME writes its last frame without a flush.
constexpr uint64_t kWarmupFrames = 96;
constexpr uint64_t kTailFrames = 2;

// The length of the MPEG audio Layer III frame at p (4 bytes readable) and its bitrate; 0 when p holds
// no such frame header.
size_t Layer3Frame(const uint8_t* p, int* kbps) {
    static constexpr int kMpeg1Kbps[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    static constexpr int kMpeg2Kbps[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
    static constexpr int kRates[4][3] = {
        {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
    const int version = (p[1] >> 3) & 3; // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    const int rateIndex = (p[2] >> 2) & 3;
    if (p[0] != 0xFF || (p[1] & 0xE6) != 0xE2 || version == 1 || rateIndex == 3)
        return 0;
    *kbps = (version == 3 ? kMpeg1Kbps : kMpeg2Kbps)[p[2] >> 4];
    if (*kbps == 0)
        return 0;
    const int padding = (p[2] >> 1) & 1;
    return static_cast<size_t>((version == 3 ? 144000 : 72000) * *kbps / kRates[version][rateIndex] +
                               padding);
}

// Where a stream's frames fall on the input, and the period after which its frames' padding repeats
// (a constant bitrate whose frames are not a whole number of bytes long pads some of them): a segment
// must start where that pattern starts, or its frames get other sizes than one encoder's.
struct FrameGrid {
    uint64_t values = 0; // 16-bit values of input per frame
    uint64_t paddingPeriod = 1;
    bool resampled = false;
};

FrameGrid GridOf(lame_global_flags* lame) {
    FrameGrid grid;
    const int frameSize = lame_get_framesize(lame);
    const int rate = lame_get_out_samplerate(lame);
    grid.values = 2 * static_cast<uint64_t>(frameSize);
    grid.resampled = lame_get_in_samplerate(lame) != rate;
    if (lame_get_VBR(lame) == vbr_off && rate > 0) {
        const long slotBytes = (frameSize == 1152 ? 144000L : 72000L) * lame_get_brate(lame) % rate;
        if (slotBytes != 0)
            grid.paddingPeriod = static_cast<uint64_t>(rate / std::gcd(slotBytes, static_cast<long>(rate)));
    }
    return grid;
}

} // namespace

BE_ERR SegmentOutput::Filter(uint8_t* out, size_t* size, size_t capacity) {
    pending.insert(pending.end(), out, out + *size);
    size_t pos = 0;
    size_t kept = 0;
    while (pending.size() - pos >= 4) {
        int frameKbps = 0;
        const size_t length = Layer3Frame(&pending[pos], &frameKbps);
        if (length == 0)
            return BE_ERR_ENCODER_FAILED;
        if (pending.size() - pos < length)
            break;
        bool keepIt;
        if (placeholderAhead) {
            placeholderAhead = false;
            keepIt = keepsPlaceholder;
        } else {
            const uint32_t index = seen++;
            keepIt = index >= skip && (keep == 0 || index - skip < keep);
            if (keepIt) {
                bytes += length;
                crc = Crc16(crc, &pending[pos], length);
                kbps.push_back(static_cast<uint16_t>(frameKbps));
            }
        }
        if (keepIt) {
            if (kept + length > capacity)
                return BE_ERR_BUFFER_TOO_SMALL;
            std::memcpy(out + kept, &pending[pos], length);
            kept += length;
        }
        pos += length;
    }
    pending.erase(pending.begin(), pending.begin() + static_cast<ptrdiff_t>(pos));
    *size = kept;
    return BE_ERR_SUCCESSFUL;
}

BE_ERR PlanSegments(const BE_CONFIG& config, uint64_t values, uint32_t maxSegments, uint64_t minValues,
                    std::vector<BE_SEGMENT>* segments) {
    FrameGrid grid;
    {
        std::lock_guard lock(g_initMutex);
        lame_global_flags* probe = lame_init();
        if (probe == nullptr)
            return BE_ERR_OUT_OF_MEMORY;
        const BE_ERR err = ApplyConfig(probe, config);
        const bool ready = err == BE_ERR_SUCCESSFUL && lame_init_params(probe) == 0;
        if (ready)
            grid = GridOf(probe);
        lame_close(probe);
        if (!ready)
            return err != BE_ERR_SUCCESSFUL ? err : BE_ERR_ENCODER_INIT;
    }
    uint64_t count = maxSegments;
    if (minValues > 0)
        count = std::min(count, values / minValues);
    // Segment starts: warm-up frames after a start of the padding pattern, near even shares.
    const uint64_t frames = values / grid.values;
    std::vector<uint64_t> starts{0};
    for (uint64_t i = 1; !grid.resampled && i < count; ++i) {
        const uint64_t target = frames * i / count;
        if (target < kWarmupFrames + grid.paddingPeriod)
            continue;
        const uint64_t k = (target - kWarmupFrames + grid.paddingPeriod / 2) / grid.paddingPeriod;
        const uint64_t start = kWarmupFrames + k * grid.paddingPeriod;
        if (start > starts.back() && start + kTailFrames < frames && start <= UINT32_MAX)
            starts.push_back(start);
    }
    segments->clear();
    for (size_t i = 0; i < starts.size(); ++i) {
        BE_SEGMENT s{};
        const bool last = i + 1 == starts.size();
        s.qwReadFrom = i == 0 ? 0 : (starts[i] - kWarmupFrames) * grid.values;
        s.qwOwnFrom = starts[i] * grid.values;
        s.qwReadTo = last ? values : (starts[i + 1] + kTailFrames) * grid.values;
        s.qwOwnTo = last ? values : starts[i + 1] * grid.values;
        s.dwFirstFrame = static_cast<uint32_t>(starts[i]);
        s.dwFrames = last ? 0 : static_cast<uint32_t>(starts[i + 1] - starts[i]);
        segments->push_back(s);
    }
    return BE_ERR_SUCCESSFUL;
}

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
    m_lamePlaceholder = m_writeTag;
    if (m_writeTag && lame_get_VBR(m_lame) == vbr_off) {
        m_infoFormat.mpegVersion = lame_get_version(m_lame);
        m_infoFormat.sampleRate = lame_get_out_samplerate(m_lame);
        m_infoFormat.mode = static_cast<int>(lame_get_mode(m_lame));
        m_infoFormat.privateBit = config.bPrivate != 0;
        m_infoFormat.copyright = config.bCopyright != 0;
        m_infoFormat.original = config.bOriginal != 0;
        m_infoFormat.emphasis = static_cast<int>(config.dwEmphasis);
        m_lamePlaceholder = LameTagFitsFrame(m_infoFormat, lame_get_brate(m_lame), config.bCRC != 0);
        m_ownInfoFrame = !m_lamePlaceholder && InfoFrameSize(m_infoFormat) > 0;
    }
    // One frame of stereo input; LAME's worst case for n samples per channel is 1.25 n + 7200 bytes,
    // and the first call also carries the placeholder frame.
    const auto frame = static_cast<uint32_t>(lame_get_framesize(m_lame));
    m_samplesPerChunk = 2 * frame;
    m_bufferSize = frame * 5 / 4 + 7200 + static_cast<uint32_t>(kMaxFrameBytes);
    m_samples.resize(m_samplesPerChunk + 1);
    return BE_ERR_SUCCESSFUL;
}

BE_ERR LameStream::OpenSegment(const BE_CONFIG& config, const BE_SEGMENT& segment) {
    const BE_ERR err = Open(config);
    if (err != BE_ERR_SUCCESSFUL)
        return err;
    if (segment.dwFirstFrame == 0 && segment.dwFrames == 0)
        return segment.qwReadFrom == 0 ? BE_ERR_SUCCESSFUL : BE_ERR_INVALID_FORMAT_PARAMETERS; // whole input
    const FrameGrid grid = GridOf(m_lame);
    const uint64_t startFrame = segment.qwReadFrom / grid.values;
    if (grid.resampled || segment.qwReadFrom % grid.values != 0 || startFrame > segment.dwFirstFrame ||
        startFrame % grid.paddingPeriod != 0 || (segment.dwFirstFrame == 0 && startFrame != 0))
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    m_segment = std::make_unique<SegmentOutput>();
    m_segment->skip = static_cast<uint32_t>(segment.dwFirstFrame - startFrame);
    m_segment->keep = segment.dwFrames;
    m_segment->keepsPlaceholder = segment.dwFirstFrame == 0;
    m_segment->placeholderAhead = m_lamePlaceholder || m_ownInfoFrame;
    m_firstFrame = segment.dwFirstFrame;
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
    if (m_segment && m_segment->keep != 0) {
        // The frames after this segment's are the next one's: LAME is not flushed, and every frame of
        // the segment must already have come out of the input fed.
        const bool complete = m_segment->Frames() == m_segment->keep && m_segment->pending.empty();
        return complete ? BE_ERR_SUCCESSFUL : BE_ERR_ENCODER_FAILED;
    }
    const size_t room = PlaceholderRoom(out);
    const int result = lame_encode_flush(m_lame, out + room, static_cast<int>(m_bufferSize - room));
    const BE_ERR taken = TakeOutput(out, room, result, written);
    if (taken != BE_ERR_SUCCESSFUL || !m_writeTag || m_segment)
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
    size_t size = room + static_cast<size_t>(result);
    if (m_segment) {
        const BE_ERR err = m_segment->Filter(out, &size, m_bufferSize);
        if (err != BE_ERR_SUCCESSFUL)
            return err;
    } else {
        m_musicCrc = Crc16(m_musicCrc, out + room, static_cast<size_t>(result));
    }
    Track(out, size);
    *written = static_cast<uint32_t>(size);
    return BE_ERR_SUCCESSFUL;
}

void LameStream::Track(const uint8_t* out, size_t count) {
    m_streamBytes += count;
    const size_t keep = std::min(count, kMaxFrameBytes + kFingerprintBytes - m_head.size());
    m_head.insert(m_head.end(), out, out + keep);
}

BE_ERR LameStream::JoinSegments(const std::vector<LameStream*>& segments, VbrHeaderRecord* record,
                                bool* hasRecord) {
    *hasRecord = false;
    if (segments.empty())
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    // One stream for the whole input is not a segment: its record was kept when it was flushed.
    if (segments.size() == 1 && !segments[0]->m_segment)
        return segments[0]->m_flushed ? BE_ERR_SUCCESSFUL : BE_ERR_INVALID_FORMAT_PARAMETERS;
    uint64_t nextFrame = 0;
    uint64_t frames = 0;
    uint64_t audioBytes = 0;
    uint16_t crc = 0;
    XingSeekTable toc;
    for (size_t i = 0; i < segments.size(); ++i) {
        const LameStream& s = *segments[i];
        const bool last = i + 1 == segments.size();
        if (!s.m_segment || !s.m_flushed || s.m_firstFrame != nextFrame || (s.m_segment->keep == 0) != last)
            return BE_ERR_INVALID_FORMAT_PARAMETERS;
        nextFrame += s.m_segment->keep;
        frames += s.m_segment->Frames();
        audioBytes += s.m_segment->bytes;
        crc = Crc16Combine(crc, s.m_segment->crc, s.m_segment->bytes);
        for (const uint16_t kbps : s.m_segment->kbps)
            toc.Add(kbps);
    }
    const LameStream& first = *segments.front();
    const LameStream& last = *segments.back();
    if (!first.m_writeTag)
        return BE_ERR_SUCCESSFUL;
    // The first segment's output is the placeholder and its frames.
    const uint64_t streamBytes = first.m_streamBytes + audioBytes - first.m_segment->bytes;
    std::vector<uint8_t> tag;
    if (last.m_ownInfoFrame) {
        InfoFrameContents contents;
        contents.audioFrames = static_cast<uint32_t>(frames);
        contents.streamBytes = static_cast<uint32_t>(streamBytes);
        contents.encoderDelay = lame_get_encoder_delay(last.m_lame);
        contents.encoderPadding = lame_get_encoder_padding(last.m_lame);
        contents.bitrateKbps = lame_get_brate(last.m_lame);
        contents.lowpassHz = lame_get_lowpassfreq(last.m_lame);
        contents.quality = lame_get_quality(last.m_lame);
        contents.musicCrc = crc;
        tag = BuildInfoFrame(last.m_infoFormat, contents);
    } else {
        // The last segment's tag (it saw the end: delay and padding are right) with the joined stream's
        // counts, table of contents and checksums.
        tag.resize(kMaxFrameBytes);
        tag.resize(lame_get_lametag_frame(last.m_lame, tag.data(), tag.size()));
        const bool mono = lame_get_mode(last.m_lame) == MONO;
        const size_t xing =
            4 + (lame_get_framesize(last.m_lame) == 1152 ? (mono ? 17 : 32) : (mono ? 9 : 17));
        constexpr size_t kLameTag = 120;
        if (tag.size() < xing + kLameTag + 36 ||
            (std::memcmp(&tag[xing], "Xing", 4) != 0 && std::memcmp(&tag[xing], "Info", 4) != 0) ||
            tag[xing + 7] != 0x0F)
            return BE_ERR_ENCODER_FAILED;
        auto put = [&](size_t at, uint64_t value, int bytes) {
            for (int b = bytes - 1; b >= 0; --b, value >>= 8)
                tag[at + static_cast<size_t>(b)] = static_cast<uint8_t>(value);
        };
        put(xing + 8, frames, 4);
        put(xing + 12, streamBytes, 4);
        toc.Write(&tag[xing + 16]);
        const size_t lameTag = xing + kLameTag;
        put(lameTag + 28, streamBytes, 4);
        put(lameTag + 32, crc, 2);
        put(lameTag + 34, Crc16(0, tag.data(), lameTag + 34), 2);
    }
    if (tag.empty() || tag.size() > first.m_head.size())
        return BE_ERR_SUCCESSFUL;
    record->tagFrame = std::move(tag);
    record->streamBytes = streamBytes;
    const size_t size = record->tagFrame.size();
    const size_t end = std::min(first.m_head.size(), size + kFingerprintBytes);
    record->afterTag.assign(first.m_head.begin() + static_cast<ptrdiff_t>(size),
                            first.m_head.begin() + static_cast<ptrdiff_t>(end));
    *hasRecord = true;
    return BE_ERR_SUCCESSFUL;
}
