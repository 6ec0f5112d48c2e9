// The WAV output has no encoder to shape the sound as it reads: its samples are shaped in place once
// step 1 has written them, so the header step 1 wrote stays right.

#include "Encoders.h"
#include "JobFrame.h"
#include "SoundShape.h"
#include "SystemHelpers.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr off_t kDataOffset = 44;
constexpr size_t kChunkFrames = 1 << 15;

} // namespace

int WavShapeProc() {
    CJobState& job = CurrentJob();
    const CSoundShape* shape = job.m_sound.get();
    const int fd = open(job.m_strOutputPath.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    uint8_t header[kDataOffset];
    if (fd < 0 || !ReadFullyAt(fd, header, sizeof header, 0)) {
        const std::string error = std::strerror(errno);
        if (fd >= 0)
            close(fd);
        return FailJob("Error opening " + job.m_strOutputPath + " (" + error + ")");
    }
    const int channels = header[22] | header[23] << 8;
    const int bits = header[34] | header[35] << 8;
    const off_t end = lseek(fd, 0, SEEK_END);
    const auto frameBytes = static_cast<size_t>(channels * bits / 8);
    if (!shape || channels <= 0 || (bits != 8 && bits != 16) || end < kDataOffset) {
        close(fd);
        return FinishJob();
    }
    const int64_t frames = (end - kDataOffset) / static_cast<off_t>(frameBytes);
    std::vector<uint8_t> buffer(kChunkFrames * frameBytes);
    for (int64_t at = 0; at < frames;) {
        const auto n = static_cast<size_t>(std::min<int64_t>(kChunkFrames, frames - at));
        const off_t offset = kDataOffset + at * static_cast<off_t>(frameBytes);
        if (!ReadFullyAt(fd, buffer.data(), n * frameBytes, offset)) {
            const std::string error = std::strerror(errno);
            close(fd);
            return FailJob("Error reading " + job.m_strOutputPath + " (" + error + ")");
        }
        if (bits == 8)
            shape->ApplyU8(buffer.data(), channels, at, n);
        else
            shape->Apply(reinterpret_cast<int16_t*>(buffer.data()), channels, at, n);
        if (!WriteFullyAt(fd, buffer.data(), n * frameBytes, offset)) {
            const std::string error = std::strerror(errno);
            close(fd);
            return FailJob("Error writing " + job.m_strOutputPath + " (" + error + ")");
        }
        at += static_cast<int64_t>(n);
        ReportProgress(static_cast<int>(at * 1000 / frames));
        if (IsCancelRequested()) {
            close(fd);
            return CancelJob();
        }
    }
    if (close(fd) != 0)
        return FailJob("Error writing " + job.m_strOutputPath + " (" + std::strerror(errno) + ")");
    return FinishJob();
}
