#include "WavWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace videoedit {

namespace {

constexpr size_t kBufferBytes = 1 << 20;

void PutLE32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

void PutLE16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

} // namespace

int PwriteAll(int fd, const uint8_t* data, size_t size, off_t offset) {
    while (size > 0) {
        const ssize_t n = pwrite(fd, data, size, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        data += n;
        size -= static_cast<size_t>(n);
        offset += n;
    }
    return 0;
}

WavWriter::~WavWriter() {
    Close();
}

void WavWriter::BuildHeader(uint8_t* out, int channels, int sampleRate, int bytesPerSample,
                            uint64_t dataBytes) {
    const uint32_t data = static_cast<uint32_t>(std::min<uint64_t>(dataBytes, 0xFFFFFFFFu - 36 - 1));
    const uint32_t blockAlign = static_cast<uint32_t>(channels * bytesPerSample);
    std::memcpy(out, "RIFF", 4);
    PutLE32(out + 4, 36 + data + (data & 1));
    std::memcpy(out + 8, "WAVEfmt ", 8);
    PutLE32(out + 16, 16);
    PutLE16(out + 20, 1); // PCM
    PutLE16(out + 22, static_cast<uint16_t>(channels));
    PutLE32(out + 24, static_cast<uint32_t>(sampleRate));
    PutLE32(out + 28, static_cast<uint32_t>(sampleRate) * blockAlign);
    PutLE16(out + 32, static_cast<uint16_t>(blockAlign));
    PutLE16(out + 34, static_cast<uint16_t>(bytesPerSample * 8));
    std::memcpy(out + 36, "data", 4);
    PutLE32(out + 40, data);
}

int WavWriter::OpenFile(const std::string& path) {
    Close();
    // O_NONBLOCK only keeps a FIFO planted at the path from blocking the open for ever; anything but
    // a regular file is refused.
    const int fd =
        open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0)
        return errno == ENXIO ? kNotRegularFile : errno; // ENXIO: a FIFO nobody reads
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return kNotRegularFile;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    m_fd = fd;
    return 0;
}

int WavWriter::Open(const std::string& path, int channels, int sampleRate, int bytesPerSample) {
    const int err = OpenFile(path);
    if (err != 0)
        return err;
    m_handOver = false;
    return Start(channels, sampleRate, bytesPerSample);
}

int WavWriter::Open(const std::string& path, const PcmFormat& format) {
    const int err = OpenFile(path);
    if (err != 0)
        return err;
    m_handOver = true;
    m_format = format;
    return Start(format.channels, format.sampleRate, format.BytesPerSample());
}

int WavWriter::Attach(int fd, int channels, int sampleRate, int bytesPerSample) {
    if (m_fd >= 0 && m_fd != fd)
        Close();
    m_fd = fd;
    m_handOver = false;
    return Start(channels, sampleRate, bytesPerSample);
}

int WavWriter::Start(int channels, int sampleRate, int bytesPerSample) {
    m_channels = channels;
    m_sampleRate = sampleRate;
    m_bytesPerSample = bytesPerSample;
    m_blockAlign = channels * bytesPerSample;
    m_inputBlockAlign = bytesPerSample == 3 ? channels * 4 : m_blockAlign;
    m_frames = 0;
    m_dataInFile = 0;
    m_error = 0;
    m_used = 0;
    m_headerBytes = m_handOver ? kPcmHeaderBytes : kHeaderBytes;
    m_buffer.resize(kBufferBytes);
    m_error = WriteHeader(0);
    return m_error;
}

int WavWriter::WriteHeader(uint64_t dataBytes) {
    if (m_handOver) {
        uint8_t header[kPcmHeaderBytes];
        BuildPcmHeader(header, m_format, dataBytes);
        return PwriteAll(m_fd, header, sizeof header, 0);
    }
    uint8_t header[kHeaderBytes];
    BuildHeader(header, m_channels, m_sampleRate, m_bytesPerSample, dataBytes);
    return PwriteAll(m_fd, header, sizeof header, 0);
}

uint64_t WavWriter::MaxDataBytes() const {
    const uint64_t limit = m_handOver ? uint64_t{1} << 62 : 0xFFFFFFFFu - 36 - 1;
    return m_blockAlign > 0
               ? limit / static_cast<uint64_t>(m_blockAlign) * static_cast<uint64_t>(m_blockAlign)
               : 0;
}

uint8_t* WavWriter::Reserve(size_t frames) {
    if (m_fd < 0 || m_error != 0)
        return nullptr;
    // 24-bit samples arrive as 32-bit ones and are packed by Commit.
    const size_t need = frames * static_cast<size_t>(m_inputBlockAlign);
    if (m_used + need > m_buffer.size()) {
        if (Flush() != 0)
            return nullptr;
        if (need > m_buffer.size())
            m_buffer.resize(need);
    }
    return m_buffer.data() + m_used;
}

void WavWriter::Commit(size_t frames) {
    if (m_inputBlockAlign != m_blockAlign) {
        // In place, front to back: each 3-byte sample lands before the 4-byte one it comes from.
        uint8_t* p = m_buffer.data() + m_used;
        const size_t samples = frames * static_cast<size_t>(m_channels);
        for (size_t i = 0; i < samples; ++i) {
            p[3 * i] = p[4 * i + 1];
            p[3 * i + 1] = p[4 * i + 2];
            p[3 * i + 2] = p[4 * i + 3];
        }
    }
    m_used += frames * static_cast<size_t>(m_blockAlign);
    m_frames += frames;
}

int WavWriter::WriteAll(const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = pwrite(m_fd, data, size, static_cast<off_t>(m_headerBytes + m_dataInFile));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        data += n;
        size -= static_cast<size_t>(n);
        m_dataInFile += static_cast<uint64_t>(n);
    }
    return 0;
}

int WavWriter::Flush() {
    if (m_fd < 0)
        return EBADF;
    if (m_error != 0)
        return m_error;
    m_error = WriteAll(m_buffer.data(), m_used);
    m_used = 0;
    return m_error;
}

int WavWriter::Close() {
    if (m_fd < 0)
        return m_error;
    if (m_error == 0)
        Flush();
    // Whatever happened, the file must end up self-consistent: whole frames only, header sizes
    // matching them, and the pad byte after an odd-sized chunk.
    uint64_t data = m_dataInFile / static_cast<uint64_t>(m_blockAlign) * static_cast<uint64_t>(m_blockAlign);
    data = std::min(data, MaxDataBytes());
    uint64_t fileSize = m_headerBytes + data;
    int err = 0;
    if (data & 1) {
        const uint8_t pad = 0;
        err = PwriteAll(m_fd, &pad, 1, static_cast<off_t>(fileSize));
        if (err == 0)
            ++fileSize;
        else
            data &= ~uint64_t{1}; // no room for the pad byte: drop the odd last frame instead
    }
    if (err != 0 || data != m_dataInFile) {
        if (ftruncate(m_fd, static_cast<off_t>(m_headerBytes + data + (data & 1))) != 0 && err == 0)
            err = errno;
    }
    const int headerErr = WriteHeader(data);
    if (close(m_fd) != 0 && m_error == 0)
        m_error = errno;
    m_fd = -1;
    if (m_error == 0)
        m_error = err != 0 ? err : headerErr;
    m_buffer.clear();
    m_buffer.shrink_to_fit();
    m_used = 0;
    return m_error;
}

} // namespace videoedit
