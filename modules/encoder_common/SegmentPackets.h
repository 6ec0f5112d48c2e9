#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

// What the encoder modules' segment streams share for joining (AAC and Opus in AvAudioEnc.so, Vorbis in
// Vorbis.so). A segment's stream sorts its packets by their position in the joined stream: before its own
// part they are its warm-up (dropped); in its own part they are kept (the first segment's go into the output,
// the others' into the caller's scratch file as records); past it they are held in memory for the join with
// the next segment. Two segments meet at the first position both have coded alike (same key); the output
// takes the packets of the one before up to there and the next one's after it. Not thread-safe: each stream
// is used by one thread at a time, and a join runs after both streams stopped encoding.

struct SegmentPacket {
    int64_t position = 0; // in the joined stream: increasing, and equal where two streams code the same frame
    int64_t pts = 0; // timing for the muxer, in the stream's own units, already that of the joined stream
    int64_t duration = 0;
    uint32_t flags = 0;
    uint32_t key = 0;      // what has to agree for two streams to meet at this packet
    bool joinable = false; // the packet may be a meet at all
    std::vector<uint8_t> data;
};

// Where a segment stream's packets go.
class SegmentPacketRoute {
public:
    enum class Way { Drop, Keep, Hold };

    // keepFrom: its first packet kept; holdFrom: its first packet held (past its own part; never for the last
    // segment); scratchFd: where the kept packets go as records, -1 for the first segment (the output).
    SegmentPacketRoute(int64_t keepFrom, int64_t holdFrom, int scratchFd)
        : m_keepFrom(keepFrom), m_holdFrom(holdFrom), m_fd(scratchFd) {}

    Way WayOf(int64_t position) const {
        return position < m_keepFrom ? Way::Drop : position >= m_holdFrom ? Way::Hold : Way::Keep;
    }
    bool WritesOutput() const { return m_fd < 0; }
    // Appends the packet to the scratch file (buffered); false on a write error (Errno tells).
    bool Record(const SegmentPacket& packet);
    // Writes what is buffered; false on a write error.
    bool Flush();
    int Errno() const { return m_errno; }
    int Fd() const { return m_fd; }

    std::deque<SegmentPacket> held;

private:
    int64_t m_keepFrom;
    int64_t m_holdFrom;
    int m_fd;
    int m_errno = 0;
    std::vector<uint8_t> m_buffer;
};

// Reads a segment's records back from the start of its scratch file. Keeps its place between calls.
class SegmentRecordReader {
public:
    explicit SegmentRecordReader(int fd) : m_fd(fd) {}
    // The next record, or null at the end (or after a read error: Errno tells).
    const SegmentPacket* Peek();
    void Pop() { m_hasPeeked = false; }
    int Errno() const { return m_errno; }

private:
    bool Fill(size_t bytes);
    int m_fd;
    int64_t m_offset = 0;
    std::vector<uint8_t> m_buffer;
    size_t m_pos = 0;
    bool m_hasPeeked = false;
    SegmentPacket m_peeked;
    int m_errno = 0;
};

enum class SegmentMeet { Met, NotYet, Failed };

// Joins the next segment (its records in `next`) after `held`, the held packets of the segment before, each
// packet handed to `emit` in the joined stream's order. Met: `held` up to the meet and the next one's records
// after it are emitted. NotYet: no meet among the held packets, which are all emitted (none of them can be
// the meet any more); more held packets may come with more input, and `next` keeps its place. Failed: `emit`
// failed, or the records could not be read.
SegmentMeet JoinSegmentPackets(std::deque<SegmentPacket>& held, SegmentRecordReader& next,
                               const std::function<bool(const SegmentPacket&)>& emit);
