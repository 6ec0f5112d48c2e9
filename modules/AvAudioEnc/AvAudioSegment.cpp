// The segment side of AvAudioStream: packets sorted by their place in the joined stream, and the joins.

#include "AvAudioStream.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <numeric>

namespace {

constexpr uint64_t kOpusRate = 48000;
constexpr uint64_t kOpusFrame = 960; // 20 ms, FFmpeg's default

// The key of an AAC raw data block: its first element and the first channel's window sequence and shape,
// which fix the shape of the frame's right half, the one the next frame's left half overlaps.
bool AacKey(const uint8_t* data, int size, uint32_t* key) {
    uint64_t bits = 0;
    for (int i = 0; i < 4; ++i)
        bits = bits << 8 | (i < size ? data[i] : 0);
    auto take = [&, used = 0](int n) mutable {
        used += n;
        return static_cast<uint32_t>(bits >> (32 - used)) & ((1u << n) - 1);
    };
    if (size < 3)
        return false;
    const uint32_t element = take(3);
    take(4); // instance tag
    uint32_t common = 0;
    if (element == 1) // a channel pair
        common = take(1);
    else if (element != 0 && element != 3) // neither a single channel nor LFE
        return false;
    if (element != 1 || !common)
        take(8); // global gain of an individual channel stream
    take(1);     // reserved
    const uint32_t window = take(3);
    *key = element << 8 | common << 4 | window;
    return true;
}

FfmpegError IoError(int error) {
    return error == ENOSPC || error == EFBIG || error == EDQUOT ? FfmpegError::DiskFull
                                                                : FfmpegError::WriteFault;
}

} // namespace

struct AvAudioStream::Segment {
    Segment(int64_t keepFrom, int64_t holdFrom, int fd) : route(keepFrom, holdFrom, fd) {}
    SegmentPacketRoute route;
    int64_t ptsOffset = 0; // where the stream's time 0 is in the joined stream, at the coded rate
    int64_t padding = 0;   // the encoder's delay: the first packet's time is minus this
    // The join in progress on the output stream: the next segment's records, read as far as needed.
    const AvAudioStream* joining = nullptr;
    std::unique_ptr<SegmentRecordReader> reader;
};

AvAudioStream::AvAudioStream() = default;
AvAudioStream::~AvAudioStream() {
    av_channel_layout_uninit(&m_inputLayout);
}

AE_ERR AvAudioStream::OpenSegment(const AE_CONFIG& config, const AE_TAGS& tags, const char* path,
                                  const AE_SEGMENT& segment, int scratchFd) {
    const bool first = segment.qwOwnFrom == 0;
    if (first ? segment.qwReadFrom != 0 : scratchFd < 0 || segment.qwReadFrom > segment.qwOwnFrom)
        return AE_ERR_INVALID_PARAMETER;
    if (first) {
        if (const AE_ERR err = Open(config, tags, path); err != AE_ERR_SUCCESSFUL)
            return err;
    } else {
        m_format = config.dwFormat;
        m_channels = static_cast<int>(config.dwChannels);
        m_inputRate = static_cast<int>(config.dwSampleRate);
        if (const AE_ERR err = OpenCodec(config); err != AE_ERR_SUCCESSFUL)
            return err;
    }
    // Positions count the codec's frames: a packet's time plus the encoder's delay, over the frame size.
    const int64_t rate = m_codec->sample_rate;
    const int64_t frameSize = m_codec->frame_size;
    auto coded = [&](uint64_t frames, int64_t* out) {
        const auto scaled = static_cast<int64_t>(frames) * rate;
        *out = scaled / m_inputRate;
        return scaled % m_inputRate == 0 && *out % frameSize == 0;
    };
    int64_t readFrom = 0, ownFrom = 0, ownTo = 0;
    if (!coded(segment.qwReadFrom, &readFrom) || !coded(segment.qwOwnFrom, &ownFrom) ||
        !coded(segment.qwOwnTo, &ownTo) || (segment.qwOwnTo != 0 && segment.qwOwnTo <= segment.qwOwnFrom))
        return AE_ERR_INVALID_PARAMETER;
    const int64_t padding = m_codec->initial_padding;
    const int64_t keepFrom = first ? INT64_MIN : (ownFrom + padding) / frameSize - 1;
    const int64_t holdFrom = segment.qwOwnTo == 0 ? INT64_MAX : (ownTo + padding) / frameSize - 1;
    m_segment = std::make_unique<Segment>(keepFrom, holdFrom, first ? -1 : scratchFd);
    m_segment->ptsOffset = readFrom;
    m_segment->padding = padding;
    return AE_ERR_SUCCESSFUL;
}

FfmpegError AvAudioStream::TakePacket(AVPacket* packet) {
    if (!m_segment)
        return WriteToMuxer(packet);
    SegmentPacketRoute& route = m_segment->route;
    SegmentPacket p;
    p.pts = packet->pts + m_segment->ptsOffset;
    p.position = (p.pts + m_segment->padding) / m_codec->frame_size;
    const SegmentPacketRoute::Way way = route.WayOf(p.position);
    if (way == SegmentPacketRoute::Way::Drop)
        return FfmpegError::None;
    if (way == SegmentPacketRoute::Way::Keep && route.WritesOutput())
        return WriteToMuxer(packet);
    p.duration = packet->duration;
    p.flags = static_cast<uint32_t>(packet->flags);
    p.data.assign(packet->data, packet->data + packet->size);
    if (m_format == AE_FORMAT_OPUS) {
        // The TOC byte: mode, bandwidth and frame size. Only CELT carries no state a join would break.
        p.key = packet->size > 0 ? packet->data[0] : 0;
        p.joinable = packet->size > 0 && (p.key >> 3) >= 16;
    } else {
        p.joinable = AacKey(packet->data, packet->size, &p.key);
    }
    if (way == SegmentPacketRoute::Way::Hold) {
        route.held.push_back(std::move(p));
        return FfmpegError::None;
    }
    return route.Record(p) ? FfmpegError::None : IoError(route.Errno());
}

AE_ERR AvAudioStream::EndSegment() {
    if (!m_segment || m_closed)
        return AE_ERR_INVALID_HANDLE;
    if (m_error != AE_ERR_SUCCESSFUL || Drain() != AE_ERR_SUCCESSFUL)
        return m_error;
    return m_segment->route.WritesOutput() || m_segment->route.Flush()
               ? AE_ERR_SUCCESSFUL
               : Fail(ToResult(IoError(m_segment->route.Errno())));
}

AE_ERR AvAudioStream::JoinSegment(AvAudioStream& last, AvAudioStream* next, bool* met) {
    *met = false;
    if (!m_segment || !m_segment->route.WritesOutput() || !last.m_segment || (next && !next->m_segment) ||
        m_closed)
        return AE_ERR_INVALID_HANDLE;
    if (m_error != AE_ERR_SUCCESSFUL)
        return m_error;
    auto emit = [&](const SegmentPacket& p) {
        if (av_new_packet(m_packet, static_cast<int>(p.data.size())) < 0) {
            Fail(AE_ERR_OUT_OF_MEMORY);
            return false;
        }
        std::memcpy(m_packet->data, p.data.data(), p.data.size());
        m_packet->pts = m_packet->dts = p.pts;
        m_packet->duration = p.duration;
        m_packet->flags = static_cast<int>(p.flags);
        const FfmpegError written = WriteToMuxer(m_packet);
        av_packet_unref(m_packet);
        return Check(written) == AE_ERR_SUCCESSFUL;
    };
    std::deque<SegmentPacket>& held = last.m_segment->route.held;
    if (!next) {
        for (; !held.empty(); held.pop_front())
            if (!emit(held.front()))
                return m_error;
        *met = true;
        return AE_ERR_SUCCESSFUL;
    }
    SegmentPacketRoute& records = next->m_segment->route;
    if (!records.Flush())
        return Fail(ToResult(IoError(records.Errno())));
    if (m_segment->joining != next) {
        m_segment->joining = next;
        m_segment->reader = std::make_unique<SegmentRecordReader>(records.Fd());
    }
    switch (JoinSegmentPackets(held, *m_segment->reader, emit)) {
    case SegmentMeet::Met:
        *met = true;
        m_segment->joining = nullptr;
        m_segment->reader.reset();
        return AE_ERR_SUCCESSFUL;
    case SegmentMeet::NotYet:
        return AE_ERR_SUCCESSFUL;
    default:
        return m_error != AE_ERR_SUCCESSFUL ? m_error : Fail(AE_ERR_WRITE_FAULT);
    }
}

AE_ERR SegmentGridFor(const AE_CONFIG& config, AE_SEGMENT_GRID* grid) {
    const uint64_t rate = config.dwSampleRate;
    if (config.dwFormat == AE_FORMAT_OPUS) {
        if (config.dwOpusApplication != AE_OPUS_AUDIO ||
            config.dwBitrate < (config.dwChannels >= 2 ? 64000u : 80000u))
            return AE_ERR_INVALID_CONFIG;
        // Starts where the input's frames fall on the 48 kHz stream's 20 ms frames.
        grid->qwStep = rate / std::gcd<uint64_t>(rate, kOpusRate / kOpusFrame);
        grid->qwWarmup = 3 * rate;
        grid->qwMinFrames = 30 * rate;
    } else if (config.dwFormat == AE_FORMAT_AAC) {
        // The frame grid is the input's only where AAC codes the input's rate as it is.
        static const uint32_t kAacRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                             22050, 16000, 12000, 11025, 8000,  7350};
        if (std::find(std::begin(kAacRates), std::end(kAacRates), config.dwSampleRate) == std::end(kAacRates))
            return AE_ERR_INVALID_CONFIG;
        grid->qwStep = 1024;
        // FFmpeg's AAC encoder steers its bit reservoir and rate over tens of seconds: a stream started later
        // codes alike only after about half a minute.
        grid->qwWarmup = 30 * rate;
        grid->qwMinFrames = 60 * rate;
    } else {
        return AE_ERR_INVALID_CONFIG;
    }
    grid->qwTail = rate;
    return AE_ERR_SUCCESSFUL;
}
