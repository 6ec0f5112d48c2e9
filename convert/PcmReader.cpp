#include "PcmReader.h"

#include "SoundShape.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

static_assert(std::endian::native == std::endian::little, "samples are read as the file stores them");

namespace {

constexpr size_t kHeadBytes = 4096;

// Reads exactly `size` bytes at `offset` unless the file ends first; the count read, or -1.
ssize_t ReadAt(int fd, void* buffer, size_t size, uint64_t offset) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n =
            pread(fd, static_cast<char*>(buffer) + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

} // namespace

bool CPcmReader::Open(const std::string& path, const CSoundShape* shape) {
    Close();
    m_shape = shape;
    m_error.clear();
    m_fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (m_fd < 0 || fstat(m_fd, &st) != 0) {
        m_error = std::strerror(errno);
        Close();
        return false;
    }
    uint8_t head[kHeadBytes];
    const ssize_t got = ReadAt(m_fd, head, sizeof head, 0);
    std::string problem;
    if (got < 0 || !ParseWavHeader(head, static_cast<size_t>(got), static_cast<uint64_t>(st.st_size),
                                   m_layout, problem)) {
        m_error = got < 0 ? std::strerror(errno) : problem;
        Close();
        return false;
    }
    m_frames = static_cast<int64_t>(m_layout.dataBytes / static_cast<uint64_t>(m_layout.format.BlockAlign()));
    m_position = 0;
    m_consumed = 0;
    posix_fadvise(m_fd, static_cast<off_t>(m_layout.dataOffset), 0, POSIX_FADV_SEQUENTIAL);
    return true;
}

void CPcmReader::Close() {
    if (m_fd >= 0)
        close(m_fd);
    m_fd = -1;
}

PcmSample CPcmReader::Delivered() const {
    return Format().sample == PcmSample::Int24 ? PcmSample::Int32 : Format().sample;
}

int CPcmReader::Bits() const {
    switch (Format().sample) {
    case PcmSample::Int16:
        return 16;
    case PcmSample::Int24:
        return 24;
    default:
        return 32;
    }
}

int CPcmReader::DeliveredBytesPerFrame() const {
    return Format().channels * (Delivered() == PcmSample::Int16 ? 2 : 4);
}

bool CPcmReader::Seek(int64_t frame) {
    if (m_fd < 0 || frame < 0 || frame > m_frames)
        return false;
    m_position = frame;
    return true;
}

size_t CPcmReader::Read(void* buffer, size_t frames) {
    if (m_fd < 0)
        return 0;
    frames = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(frames), m_frames - m_position));
    if (frames == 0)
        return 0;
    const auto block = static_cast<size_t>(Format().BlockAlign());
    const uint64_t offset = m_layout.dataOffset + static_cast<uint64_t>(m_position) * block;
    // 24-bit samples are read into the back of the buffer and widened to the front, in place.
    const size_t wide = static_cast<size_t>(DeliveredBytesPerFrame()) * frames;
    auto* out = static_cast<uint8_t*>(buffer);
    uint8_t* raw = out + wide - block * frames;
    const ssize_t got = ReadAt(m_fd, raw, block * frames, offset);
    if (got < 0) {
        m_error = std::strerror(errno);
        return 0;
    }
    frames = static_cast<size_t>(got) / block;
    if (Format().sample == PcmSample::Int24) {
        const size_t samples = frames * static_cast<size_t>(Format().channels);
        for (size_t i = 0; i < samples; ++i) {
            const uint8_t* p = raw + 3 * i;
            const uint32_t v = static_cast<uint32_t>(p[0]) << 8 | static_cast<uint32_t>(p[1]) << 16 |
                               static_cast<uint32_t>(p[2]) << 24;
            std::memcpy(out + 4 * i, &v, 4);
        }
    }
    if (m_shape) {
        const int channels = Format().channels;
        if (Delivered() == PcmSample::Int16)
            m_shape->Apply(reinterpret_cast<int16_t*>(out), channels, m_position, frames);
        else if (Delivered() == PcmSample::Int32)
            m_shape->Apply(reinterpret_cast<int32_t*>(out), Bits(), channels, m_position, frames);
        else
            m_shape->Apply(reinterpret_cast<float*>(out), channels, m_position, frames);
    }
    m_position += static_cast<int64_t>(frames);
    return frames;
}

int CPcmReader::GetPerMille() const {
    if (m_frames <= 0)
        return 0;
    return static_cast<int>(std::min<uint64_t>(m_consumed * 1000 / static_cast<uint64_t>(m_frames), 1000));
}
