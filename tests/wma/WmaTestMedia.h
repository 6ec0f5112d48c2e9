#pragma once

#include "TestMedia.h"
#include "WmAudSDK.h"

#include <cstdint>
#include <string>
#include <vector>

// Test input: 44.1 kHz stereo 16-bit PCM, silent except for short 1 kHz bursts, so that where the
// sound lands in the decoded output can be measured.
struct TestSignal {
    std::vector<int16_t> samples;  // interleaved stereo
    std::vector<int> burstCenters; // in sample frames at 44100 Hz
    size_t Frames() const { return samples.size() / 2; }
    const uint8_t* Bytes() const { return reinterpret_cast<const uint8_t*>(samples.data()); }
    uint32_t ByteCount() const { return static_cast<uint32_t>(samples.size() * 2); }
};

// Bursts near the start (inside the first coded frame), in the middle and just before the end.
TestSignal MakeBurstSignal(size_t frames);

WAVEFORMATEX PcmFormat(uint16_t channels = 2, uint32_t rate = 44100);

// The decoded first channel of a file (FFmpeg's decoder, through the ffmpeg program), at its own rate.
struct Decoded {
    bool ok = false;
    int sampleRate = 0;
    std::vector<int16_t> samples; // first channel only
};
Decoded DecodeFile(const std::string& path);

// Energy centroid of the decoded signal around an expected position, minus that position, in samples
// of the decoded rate; and the burst's peak level there.
struct BurstMeasure {
    double offset = 0;
    int peak = 0;
};
BurstMeasure MeasureBurst(const Decoded& decoded, double expectedCenter, int halfWindow);

// Peak level of the decoded signal over [from, to).
int PeakLevel(const Decoded& decoded, size_t from, size_t to);

// Frames per coded WMA frame at a sample rate (FFmpeg's rule for WMA v1/v2).
int WmaFrameLength(int sampleRate);

// The module, loaded once for the test program.
PFN_WMAudioCreateWriter ModuleCreateWriter();

// Creates a writer for a UTF-8 path; nullptr on failure (the result goes to *result when given).
IWMAudioWriter* CreateWriter(const std::string& path, long* result = nullptr);

// Writes the whole signal in chunks of the given size (the program uses 2304 bytes).
long WriteInChunks(IWMAudioWriter* writer, const uint8_t* data, size_t bytes, size_t chunk);
