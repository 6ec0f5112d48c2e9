#pragma once

#include "TestMedia.h"
#include "VideoEdit/VideoEdit.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// An hour of AAC in ADTS frames (which simply concatenate), made from a ten-second piece: long enough
// that an extraction is still running when its first progress report comes.
std::string MakeLongSource(const std::string& dir);

// True when this process still holds a descriptor open on the path.
bool ProcessHoldsOpen(const std::string& path);

// VideoEdit.so from the program directory, driven through its C interface; records the events.
class ModuleRun {
public:
    ModuleRun();
    ~ModuleRun();
    ModuleRun(const ModuleRun&) = delete;
    ModuleRun& operator=(const ModuleRun&) = delete;

    // SetSourceRange + ExtractToWav; returns ExtractToWav's result.
    int Start(const std::string& source, double start, double end, const std::string& wav, int channels = 2,
              int rate = 44100, int bytesPerSample = 2);
    // ExtractToWav alone, with whatever source the instance has.
    int ExtractOnly(const std::string& wav, int channels = 2, int rate = 44100, int bytesPerSample = 2);
    // SetSourceRange + CopyRange (the "original" output, tagged with an artist); CopyRange's result.
    int StartCopy(const std::string& source, double start, double end, const std::string& out, int track = 0);
    // From now on the first PROGRESS holds the extraction thread in the event procedure until the
    // next Stop, Reset, Destroy or extraction: the run is then surely stopped in its middle.
    void HoldAtFirstProgress();
    // Waits for FINISHED or FAILED (or for a first PROGRESS) with a deadline.
    bool WaitForEnd(int timeoutMs = 60000);
    bool WaitForProgress(int timeoutMs = 60000);
    void Stop();
    void Reset();
    void Destroy();

    int Finished() const { return Locked(m_finished); }
    int Failed() const { return Locked(m_failed); }
    int Progress() const { return Locked(m_progress); }
    int Events() const {
        std::lock_guard lock(m_mutex);
        return m_finished + m_failed + m_progress;
    }
    // FAILED's message, or FINISHED's note ("" without one).
    std::string Message() const { return Locked(m_message); }
    std::vector<std::pair<double, double>> ProgressValues() const { return Locked(m_progressValues); }

    // Extracts and waits; true when FINISHED came (and no FAILED).
    bool Extract(const std::string& source, double start, double end, const std::string& wav,
                 int channels = 2, int rate = 44100, int bytesPerSample = 2);

private:
    template <typename T> T Locked(const T& field) const {
        std::lock_guard lock(m_mutex);
        return field;
    }
    static void OnEvent(void* user, int event, double a, double b, const char* message);
    void Record(int event, double a, double b, const char* message);
    void Release();
    void Restart(); // ends the run before and clears the counts

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
