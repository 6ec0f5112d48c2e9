#pragma once

#include "SoundOptions.h" // settings: what the user asked for
#include "VideoEdit.h"    // CMeasuredLoudness

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// What step 2 does to the sound of the file step 1 wrote: one gain over the whole range and fades at
// its edges, each sample's factor fixed by its frame's position in that file. So a step 2 that reads
// the file in segments, on several threads, from overlapping starts, shapes every frame the same way
// a single reader does. A shape is made once per job after step 1 and then only read, from any
// number of threads at once; the job state keeps it alive while its encoder threads run.
class CSoundShape {
public:
    // What one job's step 2 is to do, and what to tell the user about it.
    struct Plan {
        std::shared_ptr<const CSoundShape> shape; // null: nothing to change, the output stays bit for bit
        std::string note;                         // the loudness line for the user, or empty
        bool measured = false;                    // a loudness was measured (else silence or too short)
        double gainDb = 0;
        double resultLufs = 0; // the measured loudness plus the gain
        bool heldBack = false; // the true-peak ceiling kept the gain below the target's
    };

    // frames: of the file step 1 wrote; rate: its sample rate. Fades are cut to half the range each.
    static Plan Make(const SoundOptions& options, const CMeasuredLoudness& loudness, int64_t frames,
                     int rate);

    double Gain() const { return m_gain; }
    int64_t FadeInFrames() const { return m_fadeIn; }
    int64_t FadeOutFrames() const { return m_fadeOut; }
    // The factor of the frame at that position of the file.
    double Factor(int64_t frame) const;

    // Shapes `frames` interleaved frames that start at frame `first` of the file, in place. 32-bit
    // samples with `bits` 24 keep their low byte zero; integers are rounded and held to their range.
    void Apply(int16_t* samples, int channels, int64_t first, size_t frames) const;
    void Apply(int32_t* samples, int bits, int channels, int64_t first, size_t frames) const;
    void Apply(float* samples, int channels, int64_t first, size_t frames) const;
    void ApplyU8(uint8_t* samples, int channels, int64_t first, size_t frames) const;
    // One 16-bit sample of that frame, shaped as Apply shapes it.
    int16_t ApplyOne(int16_t sample, int64_t frame) const;

private:
    template <class T, class Change>
    void ApplyWith(T* samples, int channels, int64_t first, size_t frames, Change change) const;

    double m_gain = 1;
    int64_t m_frames = 0;
    int64_t m_fadeIn = 0;
    int64_t m_fadeOut = 0;
};
