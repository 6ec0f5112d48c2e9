#include "MediaSupport.h"

#include "TestSupport.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <fstream>
#include <stdexcept>
#include <unistd.h>

std::string MakeLongSource(const std::string& dir) {
    const std::string piece = dir + "piece.aac", source = dir + "long.aac";
    if (!RunFfmpeg({"-f", "lavfi", "-i", ChirpSource(48000, 10), "-c:a", "aac", "-b:a", "48k", "-f", "adts",
                    QString::fromStdString(piece)}))
        throw std::runtime_error("ffmpeg could not make " + piece);
    const std::string bytes = ReadFileText(piece);
    std::ofstream out(source, std::ios::binary);
    for (int i = 0; i < 360; ++i)
        out << bytes;
    return source;
}

bool ProcessHoldsOpen(const std::string& path) {
    char resolved[PATH_MAX];
    const std::string target = realpath(path.c_str(), resolved) ? resolved : path;
    const std::vector<std::string> open = OpenFiles();
    return std::find(open.begin(), open.end(), target) != open.end();
}

namespace {

// An entry point of VideoEdit.so from the program directory, as the program opens it.
template <class Fn> Fn Entry(const char* name) {
    static const LoadedModule lib("VideoEdit.so");
    if (const auto fn = lib.Get<Fn>(name))
        return fn;
    throw std::runtime_error(std::string("VideoEdit.so lacks ") + name + " " + lib.Error());
}

} // namespace

ModuleRun::ModuleRun() : m_ve(Entry<decltype(&veCreate)>("veCreate")(&ModuleRun::OnEvent, this)) {}

ModuleRun::~ModuleRun() {
    Destroy();
}

void ModuleRun::Record(int event, double a, double b, const char* message) {
    std::lock_guard lock(m_mutex);
    if (event == VE_EVENT_EXTRACTION_FINISHED) {
        ++m_finished;
        m_message = message ? message : "";
    } else if (event == VE_EVENT_EXTRACTION_FAILED) {
        ++m_failed;
        m_message = message ? message : "(null)";
    } else if (event == VE_EVENT_EXTRACTION_PROGRESS) {
        ++m_progress;
        m_progressValues.emplace_back(a, b);
    }
    m_changed.notify_all();
}

void ModuleRun::OnEvent(void* user, int event, double a, double b, const char* message) {
    auto* self = static_cast<ModuleRun*>(user);
    self->Record(event, a, b, message);
    std::unique_lock lock(self->m_mutex);
    if (event == VE_EVENT_EXTRACTION_PROGRESS && self->m_progress == 1)
        self->m_changed.wait(lock, [self] { return !self->m_hold; });
}

void ModuleRun::HoldAtFirstProgress() {
    std::lock_guard lock(m_mutex);
    m_hold = true;
}

void ModuleRun::Release() {
    std::lock_guard lock(m_mutex);
    m_hold = false;
    m_changed.notify_all();
}

int ModuleRun::Start(const std::string& source, double start, double end, const std::string& wav,
                     int channels, int rate, int bytesPerSample) {
    Entry<decltype(&veSetSourceRange)>("veSetSourceRange")(m_ve, source.c_str(), start, end);
    return ExtractOnly(wav, channels, rate, bytesPerSample);
}

void ModuleRun::Restart() {
    Release();
    // The previous run ends first, so its events cannot mix with the new run's counts.
    Entry<decltype(&veStopExtraction)>("veStopExtraction")(m_ve);
    std::lock_guard lock(m_mutex);
    m_finished = m_failed = m_progress = 0;
    m_message.clear();
    m_progressValues.clear();
}

int ModuleRun::ExtractOnly(const std::string& wav, int channels, int rate, int bytesPerSample) {
    Restart();
    return Entry<decltype(&veExtractToWav)>("veExtractToWav")(
        m_ve, wav.c_str(), static_cast<int16_t>(channels), rate, static_cast<int16_t>(bytesPerSample));
}

int ModuleRun::StartCopy(const std::string& source, double start, double end, const std::string& out,
                         int track) {
    Entry<decltype(&veSetSourceRange)>("veSetSourceRange")(m_ve, source.c_str(), start, end);
    Restart();
    const VE_COPY_TAGS tags{sizeof(VE_COPY_TAGS), "Copy", "Ärtist", nullptr, nullptr, nullptr};
    return Entry<decltype(&veCopyRange)>("veCopyRange")(m_ve, out.c_str(), track, &tags);
}

bool ModuleRun::WaitForEnd(int timeoutMs) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [this] { return m_finished + m_failed > 0; });
}

bool ModuleRun::WaitForProgress(int timeoutMs) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] {
        return m_progress > 0 || m_finished + m_failed > 0;
    }) && m_progress > 0;
}

void ModuleRun::Stop() {
    Release();
    Entry<decltype(&veStopExtraction)>("veStopExtraction")(m_ve);
}

void ModuleRun::Reset() {
    Release();
    Entry<decltype(&veResetExtraction)>("veResetExtraction")(m_ve);
}

void ModuleRun::Destroy() {
    Release();
    if (m_ve)
        Entry<decltype(&veDestroy)>("veDestroy")(m_ve);
    m_ve = nullptr;
}

bool ModuleRun::Extract(const std::string& source, double start, double end, const std::string& wav,
                        int channels, int rate, int bytesPerSample) {
    Start(source, start, end, wav, channels, rate, bytesPerSample);
    return WaitForEnd() && Finished() == 1 && Failed() == 0;
}
