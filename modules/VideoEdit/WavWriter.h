#pragma once

#include "PcmFile.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace videoedit {

// Writes all of data at the offset, through interruptions. 0 or an errno value (EIO for a write that
// took nothing).
int PwriteAll(int fd, const uint8_t* data, size_t size, off_t offset);

// Writes a canonical PCM WAV file: a 44-byte header (RIFF, WAVE, a 16-byte "fmt " chunk, "data"),
// then interleaved samples; or, opened with a PcmFormat, the hand-over file of PcmFile.h (104-byte
// header, RF64 past 4 GB). The sizes in the header are written as 0 at first and patched by Close(),
// which also appends the RIFF pad byte after an odd-sized data chunk. Samples go through a large buffer,
// so the file sees few, big writes.
class WavWriter {
public:
    static constexpr size_t kHeaderBytes = 44;

    WavWriter() = default;
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    // Open's result when the path names something other than a regular file (a device, a FIFO).
    static constexpr int kNotRegularFile = -1;

    // Creates or truncates the file (never through a symbolic link; an existing file keeps its mode)
    // and writes the header. Returns 0, an errno value or kNotRegularFile.
    int Open(const std::string& path, int channels, int sampleRate, int bytesPerSample);
    int Open(const std::string& path, const PcmFormat& format);
    // The same on a descriptor that the writer takes over (closed by Close or the destructor).
    int Attach(int fd, int channels, int sampleRate, int bytesPerSample);

    bool IsOpen() const { return m_fd >= 0; }
    int BlockAlign() const { return m_blockAlign; }

    // Room for `frames` sample frames at the end of the buffer; Commit() then adds what was filled.
    // 24-bit samples are given as 32-bit ones (the high 24 bits count), 4 bytes each.
    // Returns nullptr after a write error (see Error()).
    uint8_t* Reserve(size_t frames);
    void Commit(size_t frames);

    // Frames accepted so far (written or buffered).
    uint64_t Frames() const { return m_frames; }
    // The most data bytes the file can describe in this format (the canonical header's RIFF size is
    // 32 bits; the hand-over file has no such limit).
    uint64_t MaxDataBytes() const;

    // Moves the buffered samples into the file. Returns 0 or an errno value.
    int Flush();
    // Flushes, makes the header match the data in the file, and closes. After a write error the data
    // is cut back to the whole frames that reached the file. Returns 0 or the first errno value.
    int Close();
    // The first errno value met, 0 when none.
    int Error() const { return m_error; }

    // The 44 header bytes for a data chunk of `dataBytes`.
    static void BuildHeader(uint8_t* out, int channels, int sampleRate, int bytesPerSample,
                            uint64_t dataBytes);

private:
    int OpenFile(const std::string& path);
    int Start(int channels, int sampleRate, int bytesPerSample);
    int WriteHeader(uint64_t dataBytes);
    int WriteAll(const uint8_t* data, size_t size);

    int m_fd = -1;
    int m_channels = 0;
    int m_sampleRate = 0;
    int m_bytesPerSample = 0;
    int m_blockAlign = 0;
    int m_inputBlockAlign = 0; // of the samples Reserve takes
    bool m_handOver = false;   // the PcmFile.h layout
    PcmFormat m_format;
    size_t m_headerBytes = kHeaderBytes;
    uint64_t m_frames = 0;
    uint64_t m_dataInFile = 0; // data bytes that reached the file
    int m_error = 0;
    std::vector<uint8_t> m_buffer;
    size_t m_used = 0;
};

} // namespace videoedit
