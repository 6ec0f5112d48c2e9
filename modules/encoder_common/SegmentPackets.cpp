#include "SegmentPackets.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <unistd.h>

namespace {

// A record: position, pts, duration (8 bytes each), flags, key, data size (4 bytes each), joinable (1 byte),
// then the data. Native byte order: the file lives as long as the job.
constexpr size_t kHeaderBytes = 3 * 8 + 3 * 4 + 1;
constexpr size_t kFlushBytes = 1 << 16;

template <typename T> void Put(std::vector<uint8_t>& out, T value) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&value);
    out.insert(out.end(), bytes, bytes + sizeof value);
}

template <typename T> T Get(const uint8_t*& in) {
    T value;
    std::memcpy(&value, in, sizeof value);
    in += sizeof value;
    return value;
}

} // namespace

bool SegmentPacketRoute::Record(const SegmentPacket& packet) {
    Put(m_buffer, packet.position);
    Put(m_buffer, packet.pts);
    Put(m_buffer, packet.duration);
    Put(m_buffer, packet.flags);
    Put(m_buffer, packet.key);
    Put(m_buffer, static_cast<uint32_t>(packet.data.size()));
    Put(m_buffer, static_cast<uint8_t>(packet.joinable ? 1 : 0));
    m_buffer.insert(m_buffer.end(), packet.data.begin(), packet.data.end());
    return m_buffer.size() < kFlushBytes || Flush();
}

bool SegmentPacketRoute::Flush() {
    size_t done = 0;
    while (done < m_buffer.size() && m_errno == 0) {
        const ssize_t n = write(m_fd, m_buffer.data() + done, m_buffer.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            m_errno = n < 0 ? errno : ENOSPC;
        else
            done += static_cast<size_t>(n);
    }
    m_buffer.clear();
    return m_errno == 0;
}

bool SegmentRecordReader::Fill(size_t bytes) {
    if (m_buffer.size() - m_pos >= bytes)
        return true;
    m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<ptrdiff_t>(m_pos));
    m_pos = 0;
    while (m_buffer.size() < bytes) {
        const size_t have = m_buffer.size();
        m_buffer.resize(have + std::max(bytes - have, kFlushBytes));
        const ssize_t n = pread(m_fd, m_buffer.data() + have, m_buffer.size() - have, m_offset);
        if (n < 0 && errno == EINTR) {
            m_buffer.resize(have);
            continue;
        }
        m_buffer.resize(have + static_cast<size_t>(std::max<ssize_t>(n, 0)));
        if (n < 0)
            m_errno = errno;
        if (n <= 0)
            return false;
        m_offset += n;
    }
    return true;
}

const SegmentPacket* SegmentRecordReader::Peek() {
    if (m_hasPeeked)
        return &m_peeked;
    if (!Fill(kHeaderBytes))
        return nullptr;
    const uint8_t* in = m_buffer.data() + m_pos;
    m_peeked.position = Get<int64_t>(in);
    m_peeked.pts = Get<int64_t>(in);
    m_peeked.duration = Get<int64_t>(in);
    m_peeked.flags = Get<uint32_t>(in);
    m_peeked.key = Get<uint32_t>(in);
    const auto size = Get<uint32_t>(in);
    m_peeked.joinable = Get<uint8_t>(in) != 0;
    if (!Fill(kHeaderBytes + size)) {
        if (m_errno == 0)
            m_errno = EIO; // a record cut short: the file was not written whole
        return nullptr;
    }
    in = m_buffer.data() + m_pos + kHeaderBytes;
    m_peeked.data.assign(in, in + size);
    m_pos += kHeaderBytes + size;
    m_hasPeeked = true;
    return &m_peeked;
}

SegmentMeet JoinSegmentPackets(std::deque<SegmentPacket>& held, SegmentRecordReader& next,
                               const std::function<bool(const SegmentPacket&)>& emit) {
    while (!held.empty()) {
        const SegmentPacket& a = held.front();
        const SegmentPacket* b = next.Peek();
        while (b && b->position < a.position) {
            next.Pop();
            b = next.Peek();
        }
        if (next.Errno() != 0)
            return SegmentMeet::Failed;
        const bool met = b && b->position == a.position && a.joinable && b->joinable && a.key == b->key;
        if (!emit(a))
            return SegmentMeet::Failed;
        held.pop_front();
        if (met) {
            next.Pop();
            for (b = next.Peek(); b; b = next.Peek()) {
                if (!emit(*b))
                    return SegmentMeet::Failed;
                next.Pop();
            }
            return next.Errno() == 0 ? SegmentMeet::Met : SegmentMeet::Failed;
        }
    }
    return SegmentMeet::NotYet;
}
