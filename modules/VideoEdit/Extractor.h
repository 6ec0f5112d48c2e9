#pragma once

#include "PcmFile.h"
#include "SoundMeter.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct AVFormatContext;

namespace videoedit {

struct ExtractionJob {
    std::string sourcePath;
    // An in-memory source instead of the path (the start-up self-check); sourcePath then only names it.
    const uint8_t* sourceData = nullptr;
    size_t sourceSize = 0;
    double start = 0;
    double end = 0;
    std::string wavPath;
    // A descriptor to write instead of creating wavPath; taken over by the extraction.
    int wavFd = -1;
    // The audio track (AudioTracks.h numbering; 0 the default).
    int track = 0;
    int channels = 2;
    int sampleRate = 44100;
    int bytesPerSample = 2;
    // Instead of the three above: the track's own sound, in the hand-over file of PcmFile.h. The
    // extraction fills in `pcm` once it knows the track.
    bool sourceFormat = false;
    PcmFormat pcm;
    // Where the loudness of what is written is measured (ExtractionResult::loudness); none when null.
    std::shared_ptr<MeterSlot> meter;
    // Set when the job is known to be unworkable before it starts; the run then only fails with it.
    std::string presetError;
};

enum class ExtractionOutcome { Finished, Failed, Stopped };

struct ExtractionResult {
    ExtractionOutcome outcome = ExtractionOutcome::Failed;
    std::string message; // for Failed
    double seconds = 0;  // Finished: the seconds of audio a copy holds (0 from an extraction)
    Loudness loudness;   // Finished: all the job's meter has measured
};

// seconds written so far, seconds of the whole range
using ProgressFn = std::function<void(double, double)>;

// Decodes the job's range of the source's chosen audio track and writes it as a PCM WAV file. Runs on
// the calling thread; returns soon after `stop` becomes true. The WAV file, once created, is always
// closed with a header that matches its data.
ExtractionResult RunExtraction(const ExtractionJob& job, const std::atomic<bool>& stop,
                               const ProgressFn& progress);

// Seeks the source so that the audio stream `audio` reads from at or before ts (in its time base; us the
// same in microseconds), the way that suits the container. False when no way worked.
bool SeekAtOrBefore(AVFormatContext* fmt, int audio, int64_t ts, int64_t us);

// Checks a job's arguments before a thread is started for it; returns the message for the user, or ""
// when the job can run.
std::string ValidateJob(const ExtractionJob& job);

} // namespace videoedit
