#pragma once

// The layout of the PCM file that step 1 hands to step 2 when an output keeps the source's own sound
// (FLAC, Opus and M4A), in one place for its writer (VideoEdit.so) and its reader (the conversion's
// CPcmReader). The file is a standard one that ffprobe and players read:
//
//   offset  0  "RIFF", size, "WAVE"     "RF64", 0xFFFFFFFF, "WAVE" once the data passes 4 GB
//   offset 12  "JUNK", 28 zero bytes    "ds64": RIFF size, data size, frame count (64 bits each), 0
//   offset 48  "fmt ", 40 bytes         WAVE_FORMAT_EXTENSIBLE: channels, rate, block align, container
//                                       and valid bits, channel mask, PCM or IEEE float subformat
//   offset 96  "data", size             0xFFFFFFFF in an RF64 file
//   offset 104 the samples, interleaved, little-endian, to the end of the data chunk
//
// Samples are 16, 24 or 32-bit integers or 32-bit floats (full scale +-1.0), in containers of their own
// size (24-bit samples take 3 bytes). The channel mask names the channels in WAV order, which is FFmpeg's
// order and FLAC's; 0 means the usual layout for the channel count.
//
// The parser also reads other WAV files: the canonical 44-byte one of the design's temporary file,
// WAVE_FORMAT_PCM or IEEE float, RIFF or RF64.

#include <cstddef>
#include <cstdint>
#include <string>

enum class PcmSample { Int16, Int24, Int32, Float32 };

struct PcmFormat {
    int sampleRate = 0;
    int channels = 0;
    uint32_t channelMask = 0; // WAV speaker bits; 0 when not told
    PcmSample sample = PcmSample::Int16;

    int BytesPerSample() const { return sample == PcmSample::Int16 ? 2 : sample == PcmSample::Int24 ? 3 : 4; }
    int BlockAlign() const { return channels * BytesPerSample(); }
    bool operator==(const PcmFormat&) const = default;
};

constexpr size_t kPcmHeaderBytes = 104;
constexpr int kPcmMaxChannels = 8;

// The header for `dataBytes` of samples: RIFF while the sizes fit in 32 bits, else RF64.
void BuildPcmHeader(uint8_t (&out)[kPcmHeaderBytes], const PcmFormat& format, uint64_t dataBytes);

struct WavLayout {
    PcmFormat format;
    uint64_t dataOffset = 0;
    uint64_t dataBytes = 0; // whole frames, within the file
};

// Reads the header of a WAV file whose first `size` bytes are `head` (a few kilobytes do) and whose
// length is fileSize. A data size of 0 or one past the end of the file (a file still being written, or
// one whose header was never patched) counts as "to the end of the file". False, with the reason, for
// anything that is not 16, 24 or 32-bit integer or 32-bit float PCM of 1 to kPcmMaxChannels.
bool ParseWavHeader(const uint8_t* head, size_t size, uint64_t fileSize, WavLayout& layout,
                    std::string& problem);
