#pragma once

#include "PcmFile.h" // modules/shared: the file's layout

#include <cstddef>
#include <cstdint>
#include <string>

// Reads the PCM file that step 1 hands to step 2 when an output keeps the source's own sound (FLAC,
// Opus, M4A): rate, channels, channel layout and depth are the source's (see PcmFile.h), and there may
// be more than 4 GB of samples. It reads any WAV file of 16, 24 or 32-bit integer or 32-bit float PCM,
// the design's 44-byte temporary WAV among them, so every step 2 can read what step 1 wrote through it.
//
// Samples come out interleaved in the file's channel order (WAV order: FFmpeg's and FLAC's), in the
// sample type Delivered() names: 16-bit files as int16_t, 24 and 32-bit files as int32_t with the sample
// in the high bits (a 24-bit sample x reads x * 256), float files as float. Sample() gives the type and
// Bits() the bits that count (16, 24, 32; 32 for floats).
//
// Reading is positioned (pread): Seek moves to any frame, and any number of readers may read one file at
// once, each with its own descriptor, so a step 2 in segments opens one reader per segment. A reader is
// used by one thread at a time. Errors: Open and Read report a failure through false or 0 and Error();
// nothing throws. The file is opened read-only and closed by Close or the destructor.
//
// Progress follows the design's unit: AddConsumed counts the frames handed to the encoder, GetPerMille
// tells them against the whole file in per mille (truncated, 1000 only once all are consumed), which
// is what RunChunkLoop reports.
class CSoundShape;

// With a sound shape, what Read delivers is shaped by each frame's position in the file.
class CPcmReader {
public:
    CPcmReader() = default;
    ~CPcmReader() { Close(); }
    CPcmReader(const CPcmReader&) = delete;
    CPcmReader& operator=(const CPcmReader&) = delete;

    // shape, when given, must outlive the reading.
    bool Open(const std::string& path, const CSoundShape* shape = nullptr);
    void Close();
    const std::string& Error() const { return m_error; }

    const PcmFormat& Format() const { return m_layout.format; }
    // The type Read delivers: Int16, Int32 (for 24 and 32-bit files) or Float32.
    PcmSample Delivered() const;
    int Bits() const;
    int DeliveredBytesPerFrame() const;

    int64_t Frames() const { return m_frames; }
    int64_t Position() const { return m_position; }
    // False for a frame beyond the end.
    bool Seek(int64_t frame);
    // Up to `frames` whole frames into buffer (DeliveredBytesPerFrame() each); 0 at the end, or after a
    // read error (Error() then tells it).
    size_t Read(void* buffer, size_t frames);

    void AddConsumed(uint64_t frames) { m_consumed += frames; }
    int GetPerMille() const;

private:
    int m_fd = -1;
    WavLayout m_layout;
    int64_t m_frames = 0;
    int64_t m_position = 0;
    uint64_t m_consumed = 0;
    std::string m_error;
    const CSoundShape* m_shape = nullptr;
};
