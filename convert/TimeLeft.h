#pragma once

#include <string>

// How long a job still needs, over both its steps, from how fast each step has gone so far. A step's own
// pace counts once it has run for kSettleSeconds; until step 2 has, its length is guessed from its
// expected pace (audio seconds encoded per second).
class CTimeLeftEstimator {
public:
    static constexpr double kSettleSeconds = 2.0;

    // A job of 1 or 2 steps over `audioSeconds` of audio. Times are seconds on any steady clock.
    void Begin(int steps, double audioSeconds, double step2Pace, double now);
    void StartStep(int step, double now);
    // How much of the running step is done, 0 to 1.
    void Update(double fraction, double now);
    // Seconds left for the whole job; negative while it cannot be told yet.
    double SecondsLeft(double now) const;
    // The pace step 2 kept (audio seconds per second); 0 when it ran too briefly to tell.
    double Step2Pace(double now) const;

    // "Time Left:hh:mm:ss", whole seconds rounded up; empty for a negative time.
    static std::string Text(double seconds);

private:
    int m_nSteps = 1;
    int m_nStep = 1;
    double m_dAudioSeconds = 0;
    double m_dStep2Pace = 1;
    double m_dStepStart = 0;
    double m_dFraction = 0;
    bool m_bKnown = false; // an estimate has been given, so step 2's first seconds go on from the guess
};

// The expected pace of step 2 for a format: what it kept in the last job of this run, else a cautious guess.
double ExpectedStep2Pace(int format);
void RememberStep2Pace(int format, double pace);
