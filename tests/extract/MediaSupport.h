#pragma once

#include "VideoEdit/VideoEdit.h"

#include <QStringList>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// An hour of AAC in ADTS frames (which simply concatenate), made from a ten-second piece: long enough
// that an extraction is still running when its first progress report comes.
std::string MakeLongSource(const std::string& dir);

// Runs the ffmpeg command line (arguments passed as they are, no shell); true when it succeeded.
bool Ffmpeg(const QStringList& args);

// A stereo test signal: two gliding tones, different on each channel, so that any shift shows.
QString ChirpSource(int rate, double seconds, int channels = 2);

// Interleaved 16-bit samples (8-bit data is widened to 16 bits around 0).
struct Pcm {
    int channels = 2;
    std::vector<int16_t> samples;
    int64_t Frames() const { return static_cast<int64_t>(samples.size()) / channels; }
    int16_t At(int64_t frame, int channel) const {
        return samples[static_cast<size_t>(frame * channels + channel)];
    }
};

// The samples of a WAV file written by VideoEdit.so: its data chunk, from byte 44.
Pcm ReadWavData(const std::string& path, int channels, int bytesPerSample);
// What ffmpeg's own accurate decoding of the range gives ("-ss S -i src -t D"); with seekInOutput,
// "-i src -ss S -t D", which decodes from the beginning and cuts by the decoded frames' timestamps.
Pcm FfmpegRange(const std::string& source, double start, double duration, int channels, int rate,
                int bytesPerSample = 2, bool seekInOutput = false);

// The shift of `ours` against `ref` with the least squared difference over a probe window of `ref`,
// searched in [minLag, maxLag] (ours[i + lag] ~ ref[i]).
int BestLag(const Pcm& ours, const Pcm& ref, int minLag, int maxLag, int64_t probeStart, int64_t probeFrames);
// RMS of (ours[i + lag] - ref[i]) over ref's frames [from, to), relative to the RMS of ref there.
double RelativeError(const Pcm& ours, const Pcm& ref, int lag, int64_t from, int64_t to);
double Rms(const Pcm& pcm, int channel, int64_t from, int64_t to);
int64_t LeadingSilentFrames(const Pcm& pcm);

uint32_t ReadLE32(const std::string& bytes, size_t offset);
uint16_t ReadLE16(const std::string& bytes, size_t offset);

// True when this process still holds a descriptor open on the path.
bool ProcessHoldsOpen(const std::string& path);

// VideoEdit.so from the program directory, driven through its C interface; records the events.
class ModuleRun {
public:
    ModuleRun();
    ~ModuleRun();
    ModuleRun(const ModuleRun&) = delete;
    ModuleRun& operator=(const ModuleRun&) = delete;

    VideoEditInstance* Instance() const { return m_ve; }
    // SetSourceRange + ExtractToWav; returns ExtractToWav's result.
    int Start(const std::string& source, double start, double end, const std::string& wav, int channels = 2,
              int rate = 44100, int bytesPerSample = 2);
    // ExtractToWav alone, with whatever source the instance has.
    int ExtractOnly(const std::string& wav, int channels = 2, int rate = 44100, int bytesPerSample = 2);
    // From now on the first PROGRESS holds the extraction thread in the event procedure until the
    // next Stop, Reset, Destroy or extraction: the run is then surely stopped in its middle.
    void HoldAtFirstProgress();
    // Waits for FINISHED or FAILED (or for a first PROGRESS) with a deadline.
    bool WaitForEnd(int timeoutMs = 60000);
    bool WaitForProgress(int timeoutMs = 60000);
    void Stop();
    void Reset();
    void Destroy();

    int Finished() const;
    int Failed() const;
    int Progress() const;
    int Events() const;
    std::string Message() const;
    std::vector<std::pair<double, double>> ProgressValues() const;

    // Extracts and waits; true when FINISHED came (and no FAILED).
    bool Extract(const std::string& source, double start, double end, const std::string& wav,
                 int channels = 2, int rate = 44100, int bytesPerSample = 2);

    static long (*RegisterServer())();

private:
    static void OnEvent(void* user, int event, double a, double b, const char* message);
    void Record(int event, double a, double b, const char* message);
    void Release();

    VideoEditInstance* m_ve = nullptr;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_finished = 0;
    int m_failed = 0;
    int m_progress = 0;
    std::string m_message;
    std::vector<std::pair<double, double>> m_progressValues;
    bool m_hold = false;
};
