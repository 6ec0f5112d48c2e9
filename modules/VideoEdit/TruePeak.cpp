#include "TruePeak.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace videoedit {

namespace {

constexpr int kTaps = 12;  // per phase: 48 over the four, as BS.1770's interpolator has
constexpr int kPhases = 3; // the points between two samples; the fourth is the sample itself
constexpr size_t kBlock = 1024;

struct Interpolator {
    // h[p][j]: the weight of sample n + j - kTaps / 2 + 1 for the point n + (p + 1) / 4.
    std::array<std::array<float, kTaps>, kPhases> h{};
    float gain = 1; // the most any point can exceed the largest sample around it

    Interpolator() {
        for (int p = 0; p < kPhases; ++p) {
            float sum = 0;
            for (int j = 0; j < kTaps; ++j) {
                const double x = (j - kTaps / 2 + 1) - (p + 1) / 4.0; // distance from the point, in samples
                const double sinc = std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
                const double window = 0.5 * (1 + std::cos(std::numbers::pi * x / (kTaps / 2 + 0.5)));
                h[static_cast<size_t>(p)][static_cast<size_t>(j)] = static_cast<float>(sinc * window);
                sum += std::fabs(h[static_cast<size_t>(p)][static_cast<size_t>(j)]);
            }
            gain = std::max(gain, sum);
        }
    }
};

const Interpolator& Filter() {
    static const Interpolator filter;
    return filter;
}

float MaxAbs(const float* v, size_t n) {
    float m = 0;
    for (size_t i = 0; i < n; ++i) {
        const float a = std::fabs(v[i]);
        m = m < a ? a : m;
    }
    return m;
}

} // namespace

TruePeak::TruePeak(int channels)
    : m_channels(channels),
      m_history(static_cast<size_t>(std::max(channels, 0)), std::vector<float>(kTaps - 1 + kBlock, 0.0f)),
      m_out(kBlock) {}

void TruePeak::Add(const float* interleaved, size_t frames) {
    for (size_t done = 0; done < frames;) {
        const size_t n = std::min(kBlock, frames - done);
        for (int c = 0; c < m_channels; ++c)
            AddChannel(c, interleaved + done * static_cast<size_t>(m_channels), n);
        done += n;
    }
}

// The points computed from a block lag it by half the interpolator: they are those between the samples
// that the history and the block hold, so no point is ever computed from a sample not yet seen.
void TruePeak::AddChannel(int channel, const float* interleaved, size_t frames) {
    std::vector<float>& x = m_history[static_cast<size_t>(channel)];
    float* block = x.data() + kTaps - 1;
    for (size_t i = 0; i < frames; ++i)
        block[i] = interleaved[i * static_cast<size_t>(m_channels) + static_cast<size_t>(channel)];
    const Interpolator& f = Filter();
    const float samples = MaxAbs(x.data(), kTaps - 1 + frames);
    m_peak = std::max(m_peak, MaxAbs(block, frames));
    if (samples * f.gain > m_peak) {
        float* y = m_out.data();
        for (int p = 0; p < kPhases; ++p) {
            std::fill(y, y + frames, 0.0f);
            for (int j = 0; j < kTaps; ++j) {
                const float w = f.h[static_cast<size_t>(p)][static_cast<size_t>(j)];
                const float* in = x.data() + j;
                for (size_t i = 0; i < frames; ++i)
                    y[i] += w * in[i];
            }
            m_peak = std::max(m_peak, MaxAbs(y, frames));
        }
    }
    std::copy(x.begin() + static_cast<std::ptrdiff_t>(frames),
              x.begin() + static_cast<std::ptrdiff_t>(frames + kTaps - 1), x.begin());
}

} // namespace videoedit
