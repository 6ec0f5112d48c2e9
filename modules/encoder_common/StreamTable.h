#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

// Hands out 32-bit handles for encoder streams. Each call looks its stream up and holds a reference, so a
// stream closed by another thread stays alive until the call that uses it is done; callers serialise
// work on one stream through the stream's own mutex.
template <typename Stream> class StreamTable {
public:
    // Returns 0 when no handle is free.
    uint32_t Add(std::shared_ptr<Stream> stream) {
        std::lock_guard lock(m_mutex);
        if (m_streams.size() >= kMaxStreams)
            return 0;
        // Among kMaxStreams + 1 consecutive non-zero values at least one is free.
        for (uint32_t tries = 0; tries <= kMaxStreams + 1; ++tries) {
            uint32_t handle = m_next++;
            if (m_next == 0)
                m_next = 1;
            if (handle != 0 && m_streams.find(handle) == m_streams.end()) {
                m_streams.emplace(handle, std::move(stream));
                return handle;
            }
        }
        return 0;
    }

    std::shared_ptr<Stream> Find(uint32_t handle) const {
        std::lock_guard lock(m_mutex);
        auto it = m_streams.find(handle);
        return it == m_streams.end() ? nullptr : it->second;
    }

    std::shared_ptr<Stream> Remove(uint32_t handle) {
        std::lock_guard lock(m_mutex);
        auto it = m_streams.find(handle);
        if (it == m_streams.end())
            return nullptr;
        auto stream = std::move(it->second);
        m_streams.erase(it);
        return stream;
    }

    size_t Size() const {
        std::lock_guard lock(m_mutex);
        return m_streams.size();
    }

    // Far more than a process can use; a caller that leaks streams eventually gets "no more handles"
    // instead of exhausting memory.
    static constexpr uint32_t kMaxStreams = 4096;

private:
    mutable std::mutex m_mutex;
    std::unordered_map<uint32_t, std::shared_ptr<Stream>> m_streams;
    uint32_t m_next = 1;
};

// The streams of a segment join, found and locked: the output (the first segment's stream), its last segment
// so far (maybe the output itself) and the next one (handle 0: none). They stopped encoding; the locks are
// taken in one order, the output's first, so two joins never wait for each other in a circle.
template <typename Stream> class SegmentJoinStreams {
public:
    enum class Found { Yes, UnknownHandle, Repeated };

    SegmentJoinStreams(const StreamTable<Stream>& table, uint32_t output, uint32_t last, uint32_t next)
        : m_output(table.Find(output)), m_last(table.Find(last)),
          m_next(next != 0 ? table.Find(next) : nullptr) {
        if (!m_output || !m_last || (next != 0 && !m_next)) {
            found = Found::UnknownHandle;
            return;
        }
        if (m_next == m_output || m_next == m_last) {
            found = Found::Repeated;
            return;
        }
        m_outputLock = std::unique_lock(m_output->m_mutex);
        if (m_last != m_output)
            m_lastLock = std::unique_lock(m_last->m_mutex);
        if (m_next)
            m_nextLock = std::unique_lock(m_next->m_mutex);
    }

    Found found = Found::Yes;
    Stream& Output() const { return *m_output; }
    Stream& Last() const { return *m_last; }
    Stream* Next() const { return m_next.get(); }

private:
    std::shared_ptr<Stream> m_output, m_last, m_next;
    std::unique_lock<std::mutex> m_outputLock, m_lastLock, m_nextLock;
};
