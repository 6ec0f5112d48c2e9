// The segment side of VorbisStream: packets sorted by their place in the joined stream, and the joins.

#include "VorbisStream.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <unistd.h>

namespace {

constexpr size_t kWriteBytes = 1 << 16;

// Writes all of it; false on an error.
bool WriteFully(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace

VB_ERR VorbisStream::OpenSegment(const VB_CONFIG& config, const VB_COMMENT& comment,
                                 const VB_SEGMENT& segment, int scratchFd) {
    const bool first = segment.qwOwnFrom == 0;
    if (first ? segment.qwReadFrom != 0 || segment.qwEncodeFrom != 0
              : scratchFd < 0 || segment.qwReadFrom > segment.qwEncodeFrom ||
                    segment.qwEncodeFrom > segment.qwOwnFrom)
        return VB_ERR_INVALID_PARAMETER;
    if (segment.qwOwnTo != 0 && segment.qwOwnTo <= segment.qwOwnFrom)
        return VB_ERR_INVALID_PARAMETER;
    if (const VB_ERR err = Open(config, comment); err != VB_ERR_SUCCESSFUL)
        return err;
    if (!first) { // the first segment's headers serve the joined file
        m_pending.clear();
        m_pendingPos = 0;
    }
    const int64_t keepFrom = first ? INT64_MIN : static_cast<int64_t>(segment.qwOwnFrom);
    const int64_t holdFrom = segment.qwOwnTo == 0 ? INT64_MAX : static_cast<int64_t>(segment.qwOwnTo);
    m_segment = std::make_unique<Segment>(keepFrom, holdFrom, first ? -1 : scratchFd);
    m_segment->start = static_cast<int64_t>(segment.qwReadFrom);
    m_segment->encodeFrom = static_cast<int64_t>(segment.qwEncodeFrom);
    return VB_ERR_SUCCESSFUL;
}

bool VorbisStream::EncodesBlock() const {
    return m_block.granulepos + m_segment->start >= m_segment->encodeFrom;
}

bool VorbisStream::TakeSegmentPacket(const ogg_packet& packet) {
    SegmentPacketRoute& route = m_segment->route;
    const int64_t position = packet.granulepos + m_segment->start;
    const SegmentPacketRoute::Way way = route.WayOf(position);
    if (way == SegmentPacketRoute::Way::Drop)
        return true;
    if (way == SegmentPacketRoute::Way::Keep && route.WritesOutput()) {
        ogg_packet copy = packet;
        copy.granulepos = position;
        return PagePacket(copy);
    }
    SegmentPacket p;
    p.position = p.pts = position;
    p.flags = packet.e_o_s ? 1 : 0;
    // The block's size and, for a long one, the next one's: together they fix the shape of the block's right
    // half, which the next block's left half overlaps.
    p.key = m_block.W ? static_cast<uint32_t>(1 | (m_block.nW ? 2 : 0)) : 0;
    p.joinable = true;
    p.data.assign(packet.packet, packet.packet + packet.bytes);
    if (way == SegmentPacketRoute::Way::Hold) {
        route.held.push_back(std::move(p));
        return true;
    }
    if (route.Record(p))
        return true;
    m_segment->writeFailed = true;
    return false;
}

VB_ERR VorbisStream::DrainFailure() const {
    return m_segment && (m_segment->writeFailed || m_segment->route.Errno() != 0) ? VB_ERR_WRITE_FAULT
                                                                                  : VB_ERR_ENCODER_FAILED;
}

VB_ERR VorbisStream::EndSegment() {
    if (!m_segment || m_finished)
        return VB_ERR_INVALID_HANDLE;
    if (m_failed)
        return VB_ERR_ENCODER_FAILED;
    m_partialFrame.clear(); // half a sample frame cannot be played
    if (!Drain(true) || (!m_segment->route.WritesOutput() && !m_segment->route.Flush())) {
        m_failed = true;
        return DrainFailure();
    }
    return VB_ERR_SUCCESSFUL;
}

VB_ERR VorbisStream::JoinSegment(VorbisStream& last, VorbisStream* next, int outputFd, bool* met) {
    *met = false;
    if (!m_segment || !m_segment->route.WritesOutput() || !last.m_segment || (next && !next->m_segment) ||
        m_finished)
        return VB_ERR_INVALID_HANDLE;
    if (m_failed || (next && next->m_setup != m_setup))
        return VB_ERR_ENCODER_FAILED;
    bool written = true;
    // Pages not handed out yet go first.
    auto writeOut = [&] {
        written =
            written && WriteFully(outputFd, m_pending.data() + m_pendingPos, m_pending.size() - m_pendingPos);
        m_pending.clear();
        m_pendingPos = 0;
        return written;
    };
    auto emit = [&](const SegmentPacket& p) {
        ogg_packet op{};
        op.packet = const_cast<unsigned char*>(p.data.data());
        op.bytes = static_cast<long>(p.data.size());
        op.e_o_s = (p.flags & 1) != 0;
        op.granulepos = p.pts;
        return PagePacket(op) && (m_pending.size() < kWriteBytes || writeOut());
    };
    std::deque<SegmentPacket>& held = last.m_segment->route.held;
    SegmentMeet result = SegmentMeet::Met;
    if (!next) {
        for (; !held.empty() && result == SegmentMeet::Met; held.pop_front())
            result = emit(held.front()) ? SegmentMeet::Met : SegmentMeet::Failed;
        ogg_page page;
        while (result == SegmentMeet::Met && ogg_stream_flush(&m_ogg, &page) != 0)
            AppendPage(page);
    } else {
        SegmentPacketRoute& records = next->m_segment->route;
        if (!records.Flush())
            return VB_ERR_WRITE_FAULT;
        if (m_segment->joining != next) {
            m_segment->joining = next;
            m_segment->reader = std::make_unique<SegmentRecordReader>(records.Fd());
        }
        result = JoinSegmentPackets(held, *m_segment->reader, emit);
        if (result == SegmentMeet::Met) {
            m_segment->joining = nullptr;
            m_segment->reader.reset();
        }
    }
    if (!writeOut() || !written)
        return VB_ERR_WRITE_FAULT;
    if (result == SegmentMeet::Failed)
        return VB_ERR_WRITE_FAULT;
    *met = result == SegmentMeet::Met;
    return VB_ERR_SUCCESSFUL;
}
