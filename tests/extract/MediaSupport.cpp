#include "MediaSupport.h"
#include "TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <chrono>
#include <cmath>
#include <dirent.h>
#include <dlfcn.h>
#include <fstream>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <unistd.h>

bool Ffmpeg(const QStringList& args) {
    std::vector<std::string> list{"-nostdin", "-hide_banner", "-loglevel", "error", "-y"};
    for (const QString& a : args)
        list.push_back(a.toStdString());
    return RunProgram("ffmpeg", list) == 0;
}

std::string MakeLongSource(const std::string& dir) {
    const std::string piece = dir + "piece.aac", source = dir + "long.aac";
    if (!Ffmpeg({"-f", "lavfi", "-i", ChirpSource(48000, 10), "-c:a", "aac", "-b:a", "48k", "-f", "adts",
                 QString::fromStdString(piece)}))
        throw std::runtime_error("ffmpeg could not make " + piece);
    std::ifstream in(piece, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    std::ofstream out(source, std::ios::binary);
    for (int i = 0; i < 360; ++i)
        out << bytes;
    return source;
}

QString ChirpSource(int rate, double seconds, int channels) {
    QStringList exprs{"0.5*sin(2*PI*(200+300*t)*t)", "0.4*sin(2*PI*(500+150*t)*t)"};
    QString expr = exprs[0];
    for (int c = 1; c < channels; ++c)
        expr += "|" + exprs[c % 2];
    return QString("aevalsrc=%1:s=%2:d=%3").arg(expr).arg(rate).arg(seconds);
}

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

Pcm Decode(const std::string& bytes, size_t offset, int channels, int bytesPerSample) {
    Pcm pcm;
    pcm.channels = channels;
    const size_t block = static_cast<size_t>(channels * bytesPerSample);
    const size_t frames = bytes.size() > offset ? (bytes.size() - offset) / block : 0;
    pcm.samples.resize(frames * static_cast<size_t>(channels));
    for (size_t i = 0; i < pcm.samples.size(); ++i) {
        const auto* p = reinterpret_cast<const uint8_t*>(bytes.data()) + offset + i * bytesPerSample;
        pcm.samples[i] = bytesPerSample == 1 ? static_cast<int16_t>((p[0] - 128) * 256)
                                             : static_cast<int16_t>(p[0] | p[1] << 8);
    }
    return pcm;
}

} // namespace

Pcm ReadWavData(const std::string& path, int channels, int bytesPerSample) {
    std::string bytes = ReadAll(path);
    if (bytes.size() >= 44)
        bytes.resize(std::min<size_t>(bytes.size(), 44 + ReadLE32(bytes, 40))); // not the pad byte
    return Decode(bytes, 44, channels, bytesPerSample);
}

Pcm FfmpegRange(const std::string& source, double start, double duration, int channels, int rate,
                int bytesPerSample, bool seekInOutput) {
    QTemporaryDir dir;
    const QString out = dir.filePath("ref.raw");
    const QStringList seek{"-ss", QString::number(start, 'f', 6)};
    const QStringList input{"-i", QString::fromStdString(source)};
    if (!Ffmpeg((seekInOutput ? input + seek : seek + input) +
                QStringList{"-t", QString::number(duration, 'f', 6), "-vn", "-ac", QString::number(channels),
                            "-ar", QString::number(rate), "-f", bytesPerSample == 1 ? "u8" : "s16le", out}))
        throw std::runtime_error("ffmpeg could not decode " + source);
    return Decode(ReadAll(out.toStdString()), 0, channels, bytesPerSample);
}

int BestLag(const Pcm& ours, const Pcm& ref, int minLag, int maxLag, int64_t probeStart,
            int64_t probeFrames) {
    int best = minLag;
    double bestError = std::numeric_limits<double>::max();
    for (int lag = minLag; lag <= maxLag; ++lag) {
        double error = 0;
        int64_t count = 0;
        for (int64_t i = probeStart; i < probeStart + probeFrames && i < ref.Frames(); ++i) {
            const int64_t j = i + lag;
            if (j < 0 || j >= ours.Frames())
                continue;
            for (int c = 0; c < ref.channels; ++c) {
                const double d = ours.At(j, c) - ref.At(i, c);
                error += d * d;
            }
            ++count;
        }
        if (count > probeFrames / 2 && error / static_cast<double>(count) < bestError) {
            bestError = error / static_cast<double>(count);
            best = lag;
        }
    }
    return best;
}

double RelativeError(const Pcm& ours, const Pcm& ref, int lag, int64_t from, int64_t to) {
    double diff = 0, signal = 0;
    for (int64_t i = std::max<int64_t>(from, 0); i < to && i < ref.Frames(); ++i) {
        const int64_t j = i + lag;
        if (j < 0 || j >= ours.Frames())
            continue;
        for (int c = 0; c < ref.channels; ++c) {
            const double d = ours.At(j, c) - ref.At(i, c);
            diff += d * d;
            signal += static_cast<double>(ref.At(i, c)) * ref.At(i, c);
        }
    }
    return signal > 0 ? std::sqrt(diff / signal) : std::numeric_limits<double>::infinity();
}

double Rms(const Pcm& pcm, int channel, int64_t from, int64_t to) {
    double sum = 0;
    int64_t n = 0;
    for (int64_t i = std::max<int64_t>(from, 0); i < to && i < pcm.Frames(); ++i, ++n)
        sum += static_cast<double>(pcm.At(i, channel)) * pcm.At(i, channel);
    return n ? std::sqrt(sum / static_cast<double>(n)) : 0;
}

int64_t LeadingSilentFrames(const Pcm& pcm) {
    int64_t i = 0;
    for (; i < pcm.Frames(); ++i)
        for (int c = 0; c < pcm.channels; ++c)
            if (pcm.At(i, c) != 0)
                return i;
    return i;
}

uint32_t ReadLE32(const std::string& b, size_t o) {
    return static_cast<uint32_t>(static_cast<uint8_t>(b[o]) | static_cast<uint8_t>(b[o + 1]) << 8 |
                                 static_cast<uint8_t>(b[o + 2]) << 16 |
                                 static_cast<uint32_t>(static_cast<uint8_t>(b[o + 3])) << 24);
}

uint16_t ReadLE16(const std::string& b, size_t o) {
    return static_cast<uint16_t>(static_cast<uint8_t>(b[o]) | static_cast<uint8_t>(b[o + 1]) << 8);
}

bool ProcessHoldsOpen(const std::string& path) {
    char resolved[PATH_MAX];
    const std::string target = realpath(path.c_str(), resolved) ? resolved : path;
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return false;
    bool found = false;
    while (dirent* e = readdir(dir)) {
        char link[PATH_MAX];
        const std::string fdPath = std::string("/proc/self/fd/") + e->d_name;
        const ssize_t n = readlink(fdPath.c_str(), link, sizeof link - 1);
        if (n > 0 && std::string(link, static_cast<size_t>(n)) == target)
            found = true;
    }
    closedir(dir);
    return found;
}

namespace {

struct Api {
    decltype(&veCreate) create = nullptr;
    decltype(&veDestroy) destroy = nullptr;
    decltype(&veResetExtraction) reset = nullptr;
    decltype(&veSetSourceRange) setSourceRange = nullptr;
    decltype(&veExtractToWav) extractToWav = nullptr;
    decltype(&veStopExtraction) stop = nullptr;
    decltype(&DllRegisterServer) registerServer = nullptr;
};

const Api& Module() {
    static const Api api = [] {
        Api a;
        void* lib = dlopen(QUILLET_BIN_DIR "VideoEdit.so", RTLD_NOW);
        if (!lib)
            throw std::runtime_error(std::string("cannot load VideoEdit.so: ") + dlerror());
        a.create = reinterpret_cast<decltype(a.create)>(dlsym(lib, "veCreate"));
        a.destroy = reinterpret_cast<decltype(a.destroy)>(dlsym(lib, "veDestroy"));
        a.reset = reinterpret_cast<decltype(a.reset)>(dlsym(lib, "veResetExtraction"));
        a.setSourceRange = reinterpret_cast<decltype(a.setSourceRange)>(dlsym(lib, "veSetSourceRange"));
        a.extractToWav = reinterpret_cast<decltype(a.extractToWav)>(dlsym(lib, "veExtractToWav"));
        a.stop = reinterpret_cast<decltype(a.stop)>(dlsym(lib, "veStopExtraction"));
        a.registerServer = reinterpret_cast<decltype(a.registerServer)>(dlsym(lib, "DllRegisterServer"));
        if (!a.create || !a.destroy || !a.reset || !a.setSourceRange || !a.extractToWav || !a.stop ||
            !a.registerServer)
            throw std::runtime_error("VideoEdit.so lacks a function");
        return a;
    }();
    return api;
}

} // namespace

ModuleRun::ModuleRun() : m_ve(Module().create(&ModuleRun::OnEvent, this)) {}

ModuleRun::~ModuleRun() {
    Destroy();
}

long (*ModuleRun::RegisterServer())() {
    return Module().registerServer;
}

void ModuleRun::Record(int event, double a, double b, const char* message) {
    std::lock_guard lock(m_mutex);
    if (event == VE_EVENT_EXTRACTION_FINISHED)
        ++m_finished;
    else if (event == VE_EVENT_EXTRACTION_FAILED) {
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
    Module().setSourceRange(m_ve, source.c_str(), start, end);
    return ExtractOnly(wav, channels, rate, bytesPerSample);
}

int ModuleRun::ExtractOnly(const std::string& wav, int channels, int rate, int bytesPerSample) {
    Release();
    // The previous run ends first, so its events cannot mix with the new run's counts.
    Module().stop(m_ve);
    {
        std::lock_guard lock(m_mutex);
        m_finished = m_failed = m_progress = 0;
        m_message.clear();
        m_progressValues.clear();
    }
    return Module().extractToWav(m_ve, wav.c_str(), static_cast<int16_t>(channels), rate,
                                 static_cast<int16_t>(bytesPerSample));
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
    Module().stop(m_ve);
}

void ModuleRun::Reset() {
    Release();
    Module().reset(m_ve);
}

void ModuleRun::Destroy() {
    Release();
    if (m_ve)
        Module().destroy(m_ve);
    m_ve = nullptr;
}

int ModuleRun::Finished() const {
    std::lock_guard lock(m_mutex);
    return m_finished;
}

int ModuleRun::Failed() const {
    std::lock_guard lock(m_mutex);
    return m_failed;
}

int ModuleRun::Progress() const {
    std::lock_guard lock(m_mutex);
    return m_progress;
}

int ModuleRun::Events() const {
    std::lock_guard lock(m_mutex);
    return m_finished + m_failed + m_progress;
}

std::string ModuleRun::Message() const {
    std::lock_guard lock(m_mutex);
    return m_message;
}

std::vector<std::pair<double, double>> ModuleRun::ProgressValues() const {
    std::lock_guard lock(m_mutex);
    return m_progressValues;
}

bool ModuleRun::Extract(const std::string& source, double start, double end, const std::string& wav,
                        int channels, int rate, int bytesPerSample) {
    Start(source, start, end, wav, channels, rate, bytesPerSample);
    return WaitForEnd() && Finished() == 1 && Failed() == 0;
}
