#include "SoundShape.h"

#include "JobFrame.h" // Format

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

// Below this a range is hiss or room noise rather than something to bring up to a target: raising it
// by 40 dB and more would give noise, not sound.
constexpr double kQuietestLufs = -60;

// Rounded half away from zero and held to the type's range. Inline arithmetic rather than a call into
// the maths library: it runs for every sample step 2 reads.
template <class T, class F> T Held(F v, F lowest, F highest) {
    const F held = std::clamp(v, lowest, highest);
    return static_cast<T>(held < 0 ? held - F(0.5) : held + F(0.5));
}

} // namespace

CSoundShape::Plan CSoundShape::Make(const SoundOptions& options, const CMeasuredLoudness& loudness,
                                    int64_t frames, int rate) {
    Plan plan;
    double gainDb = 0;
    if (options.normalize) {
        if (!loudness.measured || loudness.integratedLufs < kQuietestLufs) {
            plan.note =
                "Loudness: the range is silent or too quiet to measure; its loudness was left as it is.";
        } else {
            gainDb = options.targetLufs - loudness.integratedLufs;
            // The ceiling holds the gain back; nothing limits the peaks themselves.
            const bool heldBack = loudness.truePeakDbtp + gainDb > options.truePeakDbtp;
            if (heldBack)
                gainDb = options.truePeakDbtp - loudness.truePeakDbtp;
            plan.note = Format("Loudness: measured %.1f LUFS (true peak %.1f dBTP), gain %+.1f dB: %.1f LUFS",
                               loudness.integratedLufs, loudness.truePeakDbtp, gainDb,
                               loudness.integratedLufs + gainDb) +
                        (heldBack ? Format(" instead of %.1f LUFS, held back by the true-peak ceiling of "
                                           "%.1f dBTP.",
                                           options.targetLufs, options.truePeakDbtp)
                                  : std::string("."));
        }
    }
    const auto fadeFrames = [&](int ms) {
        return std::min<int64_t>(std::llround(static_cast<double>(ms) * rate / 1000.0), frames / 2);
    };
    auto shape = std::make_shared<CSoundShape>();
    shape->m_gain = std::pow(10.0, gainDb / 20);
    shape->m_frames = frames;
    shape->m_fadeIn = fadeFrames(options.fadeInMs);
    shape->m_fadeOut = fadeFrames(options.fadeOutMs);
    if (gainDb != 0 || shape->m_fadeIn > 0 || shape->m_fadeOut > 0)
        plan.shape = std::move(shape);
    return plan;
}

// A quarter sine: it leaves and reaches full level with a slope of zero, so neither end of a fade
// can be heard as a corner.
double CSoundShape::Factor(int64_t frame) const {
    double f = m_gain;
    if (frame < m_fadeIn)
        f *= std::sin(std::numbers::pi / 2 * static_cast<double>(frame) / static_cast<double>(m_fadeIn));
    const int64_t fromEnd = m_frames - 1 - frame;
    if (fromEnd < m_fadeOut)
        f *= std::sin(std::numbers::pi / 2 * static_cast<double>(std::max<int64_t>(fromEnd, 0)) /
                      static_cast<double>(m_fadeOut));
    return f;
}

template <class T, class Change>
void CSoundShape::ApplyWith(T* samples, int channels, int64_t first, size_t frames, Change change) const {
    const int64_t end = first + static_cast<int64_t>(frames);
    // Frames between the fades take the one gain; with a gain of 1 they are not touched at all.
    const int64_t steadyFrom = std::clamp(m_fadeIn, first, end);
    const int64_t steadyTo = std::clamp(m_frames - m_fadeOut, steadyFrom, end);
    const auto n = static_cast<size_t>(channels);
    const auto shapeFrames = [&](int64_t from, int64_t to) {
        for (int64_t i = from; i < to; ++i) {
            const double f = Factor(i);
            T* frame = samples + static_cast<size_t>(i - first) * n;
            for (size_t c = 0; c < n; ++c)
                frame[c] = change(frame[c], f);
        }
    };
    shapeFrames(first, steadyFrom);
    if (m_gain != 1) {
        // The bulk of the range: one flat loop over its samples, which the compiler can vectorise.
        T* from = samples + static_cast<size_t>(steadyFrom - first) * n;
        const size_t count = static_cast<size_t>(steadyTo - steadyFrom) * n;
        for (size_t i = 0; i < count; ++i)
            from[i] = change(from[i], m_gain);
    }
    shapeFrames(steadyTo, end);
}

void CSoundShape::Apply(int16_t* samples, int channels, int64_t first, size_t frames) const {
    ApplyWith(samples, channels, first, frames, [](int16_t v, double f) {
        return Held<int16_t>(v * static_cast<float>(f), float{INT16_MIN}, float{INT16_MAX});
    });
}

int16_t CSoundShape::ApplyOne(int16_t sample, int64_t frame) const {
    return Held<int16_t>(sample * static_cast<float>(Factor(frame)), float{INT16_MIN}, float{INT16_MAX});
}

void CSoundShape::Apply(int32_t* samples, int bits, int channels, int64_t first, size_t frames) const {
    if (bits == 24) {
        ApplyWith(samples, channels, first, frames, [](int32_t v, double f) {
            return Held<int32_t>(v / 256.0 * f, -8388608.0, 8388607.0) * 256;
        });
        return;
    }
    ApplyWith(samples, channels, first, frames,
              [](int32_t v, double f) { return Held<int32_t>(v * f, double{INT32_MIN}, double{INT32_MAX}); });
}

void CSoundShape::Apply(float* samples, int channels, int64_t first, size_t frames) const {
    ApplyWith(samples, channels, first, frames, [](float v, double f) { return static_cast<float>(v * f); });
}

void CSoundShape::ApplyU8(uint8_t* samples, int channels, int64_t first, size_t frames) const {
    ApplyWith(samples, channels, first, frames, [](uint8_t v, double f) {
        return static_cast<uint8_t>(Held<int>((v - 128) * static_cast<float>(f), -128.0f, 127.0f) + 128);
    });
}
