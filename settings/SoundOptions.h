#pragma once

#include <string>

class CIniFile;

// What step 2 does to the sound besides encoding it: loudness normalisation (ITU-R BS.1770 / EBU R128)
// to a target with a true-peak ceiling, and fades at the range's edges. All off by default, and then
// every output is what it would be without them, bit for bit.
//
// Kept in param.ini's section "Sound", whose keys are written only when they differ from the default
// (so a settings file of a user who never touched them stays as it was):
//   "Loudness Target"  LUFS, -70 to -5; absent: no normalisation
//   "True Peak"        dBTP, -9 to 0 (default -1)
//   "Fade In", "Fade Out"  milliseconds, 0 (default, no fade) to 60000
struct SoundOptions {
    static constexpr double kDefaultTruePeak = -1.0;
    static constexpr double kMinTarget = -70, kMaxTarget = -5;
    static constexpr double kMinTruePeak = -9, kMaxTruePeak = 0;
    static constexpr int kMaxFadeMs = 60000;
    // The presets of the window's list; --normalize without a value takes kDefaultTarget.
    static constexpr double kPresetTargets[] = {-14, -16, -23};
    static constexpr double kDefaultTarget = -16;

    bool normalize = false;
    double targetLufs = kDefaultTarget;
    double truePeakDbtp = kDefaultTruePeak;
    int fadeInMs = 0;
    int fadeOutMs = 0;

    bool ChangesSound() const { return normalize || fadeInMs > 0 || fadeOutMs > 0; }
    // Puts every value into its range (a hand-edited file may hold anything).
    void Validate();
    void Load(const CIniFile& ini);
    void Save(CIniFile& ini) const;
};
