#include "TestMedia.h"
#include "TestSupport.h"

#include <QTemporaryDir>
#include <cmath>
#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <iostream>
#include <iterator>
#include <limits>
#include <stdexcept>

ToolResult RunTool(const std::string& program, const std::vector<std::string>& args) {
    // Through RunProgram (fork and exec), which ThreadSanitizer can follow.
    ToolResult result;
    result.exitCode = RunProgram(program, args, &result.out, &result.err);
    result.finished = result.exitCode >= 0;
    return result;
}

ToolResult RunTool(const QString& program, const QStringList& args) {
    std::vector<std::string> list;
    for (const QString& a : args)
        list.push_back(a.toStdString());
    return RunTool(program.toStdString(), list);
}

bool RunFfmpeg(const QStringList& args) {
    const ToolResult r = RunTool(QString("ffmpeg"),
                                 QStringList{"-hide_banner", "-loglevel", "error", "-nostdin", "-y"} + args);
    if (!r.Ok())
        std::cerr << "ffmpeg failed: " << r.err << '\n';
    return r.Ok();
}

bool MakeTestSource(const std::string& path, double seconds, bool withVideo) {
    const QString d = QString::number(seconds);
    QStringList args{"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=" + d,
                     "-f", "lavfi", "-i", "sine=frequency=660:sample_rate=44100:duration=" + d};
    if (withVideo)
        args += {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=15:duration=" + d};
    args += {"-filter_complex", "[0:a][1:a]amerge=inputs=2[a]", "-map", "[a]"};
    if (withVideo)
        args += {"-map", "2:v"};
    args += QString::fromStdString(path);
    return RunFfmpeg(args);
}

long DecodedFrames(const std::string& path) {
    const ToolResult r = RunTool("ffmpeg", {"-hide_banner", "-loglevel", "error", "-nostdin", "-i", path,
                                            "-f", "s16le", "-ac", "2", "-ar", "44100", "-"});
    return r.Ok() ? static_cast<long>(r.out.size() / 4) : -1;
}

std::string ProbeTag(const std::string& path, const std::string& tag) {
    const ToolResult r =
        RunTool("ffprobe", {"-v", "error", "-show_entries", "format_tags=" + tag + ":stream_tags=" + tag,
                            "-of", "default=noprint_wrappers=1:nokey=1", path});
    return r.Ok() ? QByteArray::fromStdString(r.out).trimmed().split('\n').value(0).toStdString()
                  : std::string();
}

std::map<std::string, std::string> ProbeFile(const std::string& path) {
    const ToolResult r = RunTool("ffprobe", {"-v", "error", "-select_streams", "a:0", "-show_entries",
                                             "stream=codec_name,sample_rate,channels,bit_rate:stream_tags:"
                                             "format_tags",
                                             "-of", "default=nw=1", path});
    std::map<std::string, std::string> info;
    for (const QByteArray& line : QByteArray::fromStdString(r.Ok() ? r.out : "").split('\n')) {
        const int eq = line.indexOf('=');
        if (eq > 0)
            info[line.left(eq).toStdString()] = line.mid(eq + 1).toStdString();
    }
    return info;
}

DecodedAudio DecodeWithFfmpeg(const std::string& path) {
    DecodedAudio audio;
    auto info = ProbeFile(path);
    audio.channels = std::atoi(info["channels"].c_str());
    audio.rate = std::atoi(info["sample_rate"].c_str());
    const ToolResult decode =
        RunTool("ffmpeg", {"-v", "error", "-nostdin", "-i", path, "-map", "0:a:0", "-f", "s16le", "-"});
    audio.error = decode.err;
    if (!decode.Ok() || audio.channels <= 0)
        return audio;
    audio.frames = static_cast<int64_t>(decode.out.size()) / (2 * audio.channels);
    audio.samples.resize(decode.out.size() / 2);
    if (!audio.samples.empty()) // an empty vector's data() may be null, which memcpy must not get
        std::memcpy(audio.samples.data(), decode.out.data(), audio.samples.size() * 2);
    audio.ok = decode.out.size() % static_cast<size_t>(2 * audio.channels) == 0;
    return audio;
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

uint32_t ReadLE32(const std::string& b, size_t o) {
    return static_cast<uint32_t>(ReadLE16(b, o) | static_cast<uint32_t>(ReadLE16(b, o + 2)) << 16);
}

uint16_t ReadLE16(const std::string& b, size_t o) {
    return static_cast<uint16_t>(static_cast<uint8_t>(b[o]) | static_cast<uint8_t>(b[o + 1]) << 8);
}

LoadedModule::LoadedModule(const std::string& fileName) {
    m_handle = dlopen((QUILLET_BIN_DIR + fileName).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m_handle == nullptr)
        m_error = dlerror();
}

LoadedModule::~LoadedModule() {
    if (m_handle != nullptr)
        dlclose(m_handle);
}

void* LoadedModule::Symbol(const char* name) const {
    return m_handle != nullptr ? dlsym(m_handle, name) : nullptr;
}

QString ChirpSource(int rate, double seconds, int channels) {
    const QStringList exprs{"0.5*sin(2*PI*(200+300*t)*t)", "0.4*sin(2*PI*(500+150*t)*t)"};
    QString expr = exprs[0];
    for (int c = 1; c < channels; ++c)
        expr += "|" + exprs[c % 2];
    return QString("aevalsrc=%1:s=%2:d=%3").arg(expr).arg(rate).arg(seconds);
}

namespace {

// A small deterministic generator, so every run encodes the same signal.
struct Lcg {
    uint32_t state;
    int16_t Next() {
        state = state * 1664525u + 1013904223u;
        return static_cast<int16_t>(state >> 16);
    }
};

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

std::vector<int16_t> MakeTone(size_t frames, uint32_t seed) {
    std::vector<int16_t> pcm(frames * 2);
    Lcg noise{seed};
    const double pi = std::acos(-1.0);
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / 44100.0;
        pcm[2 * i] = static_cast<int16_t>(9000 * std::sin(2 * pi * 440 * t) + noise.Next() / 64);
        pcm[2 * i + 1] = static_cast<int16_t>(7000 * std::sin(2 * pi * 660 * t + seed) + noise.Next() / 64);
    }
    return pcm;
}

std::vector<int16_t> MakeNoise(size_t frames, uint32_t seed) {
    std::vector<int16_t> pcm(frames * 2);
    Lcg noise{seed};
    for (auto& v : pcm)
        v = noise.Next();
    return pcm;
}

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
    if (!RunFfmpeg((seekInOutput ? input + seek : seek + input) +
                   QStringList{"-t", QString::number(duration, 'f', 6), "-vn", "-ac",
                               QString::number(channels), "-ar", QString::number(rate), "-f",
                               bytesPerSample == 1 ? "u8" : "s16le", out}))
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
