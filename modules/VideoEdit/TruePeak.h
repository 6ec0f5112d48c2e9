#pragma once

#include <cstddef>
#include <vector>

namespace videoedit {

// The true peak of interleaved float samples (full scale 1.0): the highest magnitude of the signal
// between its samples, found by 4x oversampling with a windowed-sinc interpolator (ITU-R BS.1770
// Annex 2). libebur128's own true-peak meter costs several times the rest of step 1; this one
// vectorises, and skips the interpolation of any block whose samples, times the most the
// interpolator can gain, cannot pass the peak already found, which is exact and most blocks of
// anything but full-scale music. One thread; not copyable for no reason but size.
class TruePeak {
public:
    explicit TruePeak(int channels);

    void Add(const float* interleaved, size_t frames);
    // The peak so far, linear (1.0 = 0 dBTP).
    float Peak() const { return m_peak; }

private:
    void AddChannel(int channel, const float* interleaved, size_t frames);

    int m_channels;
    float m_peak = 0;
    std::vector<std::vector<float>> m_history; // per channel: the last kTaps - 1 samples, then the block
    std::vector<float> m_out;
};

} // namespace videoedit
