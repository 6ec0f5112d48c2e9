#include "SoundOptions.h"

#include "IniFile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

const char* const kSection = "Sound";
const char* const kTargetKey = "Loudness Target";
const char* const kTruePeakKey = "True Peak";
const char* const kFadeInKey = "Fade In";
const char* const kFadeOutKey = "Fade Out";

// A decimal number, or nothing for a text that is not one.
bool ParseNumber(const std::optional<std::string>& text, double& out) {
    if (!text)
        return false;
    const char* begin = text->c_str();
    char* end = nullptr;
    const double v = std::strtod(begin, &end);
    if (end == begin || !std::isfinite(v))
        return false;
    out = v;
    return true;
}

std::string Decimal(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", v);
    return text;
}

} // namespace

void SoundOptions::Validate() {
    targetLufs = std::clamp(std::isfinite(targetLufs) ? targetLufs : kDefaultTarget, kMinTarget, kMaxTarget);
    truePeakDbtp =
        std::clamp(std::isfinite(truePeakDbtp) ? truePeakDbtp : kDefaultTruePeak, kMinTruePeak, kMaxTruePeak);
    fadeInMs = std::clamp(fadeInMs, 0, kMaxFadeMs);
    fadeOutMs = std::clamp(fadeOutMs, 0, kMaxFadeMs);
}

void SoundOptions::Load(const CIniFile& ini) {
    *this = SoundOptions{};
    normalize = ParseNumber(ini.Get(kSection, kTargetKey), targetLufs);
    ParseNumber(ini.Get(kSection, kTruePeakKey), truePeakDbtp);
    double ms = 0;
    if (ParseNumber(ini.Get(kSection, kFadeInKey), ms))
        fadeInMs = static_cast<int>(std::clamp(ms, 0.0, double{kMaxFadeMs}));
    if (ParseNumber(ini.Get(kSection, kFadeOutKey), ms))
        fadeOutMs = static_cast<int>(std::clamp(ms, 0.0, double{kMaxFadeMs}));
    Validate();
}

void SoundOptions::Save(CIniFile& ini) const {
    const auto put = [&ini](const char* key, bool set, const std::string& value) {
        if (set)
            ini.Set(kSection, key, value);
        else
            ini.Remove(kSection, key);
    };
    put(kTargetKey, normalize, Decimal(targetLufs));
    put(kTruePeakKey, truePeakDbtp != kDefaultTruePeak, Decimal(truePeakDbtp));
    put(kFadeInKey, fadeInMs > 0, std::to_string(fadeInMs));
    put(kFadeOutKey, fadeOutMs > 0, std::to_string(fadeOutMs));
}
