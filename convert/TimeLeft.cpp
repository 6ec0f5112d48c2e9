#include "TimeLeft.h"

#include "AudioSettings.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>

namespace {

constexpr int kFormats = 16;
// What each format's step 2 kept in the last job of this run; 0 until one has run.
std::atomic<double> g_pace[kFormats] = {};

// Audio seconds per second of each encoder on a slow, busy machine.
double Guess(int format) {
    switch (format) {
    case FORMAT_MP3:
        return 60;
    case FORMAT_OGG:
        return 12;
    case FORMAT_WMA:
        return 150;
    default:
        return 30;
    }
}

} // namespace

void CTimeLeftEstimator::Begin(int steps, double audioSeconds, double step2Pace, double now) {
    m_nSteps = steps;
    m_dAudioSeconds = std::max(0.0, audioSeconds);
    m_dStep2Pace = step2Pace > 0 ? step2Pace : 1;
    m_bKnown = false;
    StartStep(1, now);
}

void CTimeLeftEstimator::StartStep(int step, double now) {
    m_nStep = step;
    m_dStepStart = now;
    m_dFraction = 0;
}

void CTimeLeftEstimator::Update(double fraction, double now) {
    m_dFraction = std::clamp(fraction, 0.0, 1.0);
    m_bKnown = m_bKnown || SecondsLeft(now) >= 0;
}

double CTimeLeftEstimator::SecondsLeft(double now) const {
    const double ran = now - m_dStepStart;
    const double guess2 = m_nSteps == 2 ? m_dAudioSeconds / m_dStep2Pace : 0;
    // At the pace kept so far, the rest of the step takes ran / fraction - ran.
    const bool settled = ran >= kSettleSeconds && m_dFraction > 0;
    const double rest = settled ? ran * (1 - m_dFraction) / m_dFraction : -1;
    if (m_nStep == 1)
        return settled ? rest + guess2 : -1;
    if (settled)
        return rest;
    return m_bKnown ? std::max(0.0, guess2 - ran) : -1;
}

double CTimeLeftEstimator::Step2Pace(double now) const {
    const double ran = now - m_dStepStart;
    if (m_nStep != 2 || ran < kSettleSeconds || m_dFraction <= 0)
        return 0;
    return m_dAudioSeconds * m_dFraction / ran;
}

std::string CTimeLeftEstimator::Text(double seconds) {
    if (seconds < 0)
        return "";
    const long s = static_cast<long>(std::ceil(std::min(seconds, 359999.0)));
    char buf[48];
    std::snprintf(buf, sizeof buf, "Time Left:%02ld:%02ld:%02ld", s / 3600, s % 3600 / 60, s % 60);
    return buf;
}

double ExpectedStep2Pace(int format) {
    const double pace = format >= 0 && format < kFormats ? g_pace[format].load() : 0;
    return pace > 0 ? pace : Guess(format);
}

void RememberStep2Pace(int format, double pace) {
    if (format >= 0 && format < kFormats && pace > 0)
        g_pace[format] = pace;
}
