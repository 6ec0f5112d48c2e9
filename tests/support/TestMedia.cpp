#include "TestMedia.h"
#include "TestSupport.h"

#include <QTemporaryDir>
#include <cmath>
#include <cstring>
#include <dlfcn.h>
#include <iostream>
#include <limits>
#include <stdexcept>
#include <tuple>

bool RunFfmpeg(const QStringList& args) {
    std::vector<std::string> list{"-hide_banner", "-loglevel", "error", "-nostdin", "-y"};
    for (const QString& a : args)
        list.push_back(a.toStdString());
    std::string err;
    const bool ok = RunProgram("ffmpeg", list, nullptr, &err) == 0;
    if (!ok)
        std::cerr << "ffmpeg failed: " << err << '\n';
    return ok;
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

bool MakeTwoTrackFilm(const std::string& path, double seconds, const QString& secondCodec,
                      const QString& title) {
    const QString d = QString::number(seconds);
    return RunFfmpeg({"-f",
                      "lavfi",
                      "-i",
                      "testsrc=s=64x48:d=" + d,
                      "-f",
                      "lavfi",
                      "-i",
                      ChirpSource(44100, seconds),
                      "-f",
                      "lavfi",
                      "-i",
                      "sine=f=880:r=48000:d=" + d,
                      "-map",
                      "0:v",
                      "-map",
                      "1:a",
                      "-map",
                      "2:a",
                      "-c:a:0",
                      "flac",
                      "-c:a:1",
                      secondCodec,
                      "-metadata:s:a:0",
                      "language=eng",
                      "-metadata:s:a:1",
                      "language=deu",
                      "-metadata:s:a:1",
                      "title=" + title,
                      "-disposition:a:0",
                      "0",
                      "-disposition:a:1",
                      "default",
                      QString::fromStdString(path)});
}

std::map<std::string, std::string> ProbeFile(const std::string& path) {
    std::string out;
    const bool ok = RunProgram("ffprobe",
                               {"-v", "error", "-select_streams", "a:0", "-show_entries",
                                "stream=codec_name,sample_rate,channels,bit_rate:stream_tags:format_tags",
                                "-of", "default=nw=1", path},
                               &out) == 0;
    std::map<std::string, std::string> info;
    for (const QByteArray& line : QByteArray::fromStdString(ok ? out : "").split('\n')) {
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
    std::string out;
    const int code =
        RunProgram("ffmpeg", {"-v", "error", "-nostdin", "-i", path, "-map", "0:a:0", "-f", "s16le", "-"},
                   &out, &audio.error);
    if (code != 0 || audio.channels <= 0)
        return audio;
    audio.frames = static_cast<int64_t>(out.size()) / (2 * audio.channels);
    audio.samples.resize(out.size() / 2);
    if (!audio.samples.empty()) // an empty vector's data() may be null, which memcpy must not get
        std::memcpy(audio.samples.data(), out.data(), audio.samples.size() * 2);
    audio.ok = out.size() % static_cast<size_t>(2 * audio.channels) == 0;
    return audio;
}

std::string DecodeTrackRaw(const std::string& path, int index, const char* format) {
    std::string out, err;
    const int code =
        RunProgram("ffmpeg",
                   {"-v", "error", "-nostdin", "-i", path, "-map", "0:a:" + std::to_string(index), "-af",
                    "aresample=async=1:first_pts=0", "-f", format, "-"},
                   &out, &err);
    return code == 0 ? out : std::string();
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    const std::string text = ReadFileText(path);
    return {text.begin(), text.end()};
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    WriteFileText(path, std::string(bytes.begin(), bytes.end()));
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
    std::string bytes = ReadFileText(path);
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
    return Decode(ReadFileText(out.toStdString()), 0, channels, bytesPerSample);
}

namespace {

// The mean squared difference of ours[i + lag] and ref[i] over ref's frames [from, to), with the
// signal's mean square there and the number of frames compared.
std::tuple<double, double, int64_t> Compare(const Pcm& ours, const Pcm& ref, int lag, int64_t from,
                                            int64_t to) {
    double diff = 0, signal = 0;
    int64_t count = 0;
    for (int64_t i = std::max<int64_t>(from, 0); i < to && i < ref.Frames(); ++i) {
        if (i + lag < 0 || i + lag >= ours.Frames())
            continue;
        for (int c = 0; c < ref.channels; ++c) {
            diff += std::pow(ours.At(i + lag, c) - ref.At(i, c), 2);
            signal += std::pow(ref.At(i, c), 2);
        }
        ++count;
    }
    return {diff, signal, count};
}

} // namespace

int BestLag(const Pcm& ours, const Pcm& ref, int minLag, int maxLag, int64_t probeStart,
            int64_t probeFrames) {
    int best = minLag;
    double bestError = std::numeric_limits<double>::max();
    for (int lag = minLag; lag <= maxLag; ++lag) {
        const auto [diff, signal, count] = Compare(ours, ref, lag, probeStart, probeStart + probeFrames);
        if (count > probeFrames / 2 && diff / static_cast<double>(count) < bestError) {
            bestError = diff / static_cast<double>(count);
            best = lag;
        }
    }
    return best;
}

double RelativeError(const Pcm& ours, const Pcm& ref, int lag, int64_t from, int64_t to) {
    const auto [diff, signal, count] = Compare(ours, ref, lag, from, to);
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

std::vector<Mp3Frame> Mp3Frames(const std::vector<uint8_t>& file) {
    static constexpr int kKbps[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    std::vector<Mp3Frame> frames;
    size_t start = 0;
    if (file.size() >= 10 && std::memcmp(file.data(), "ID3", 3) == 0)
        start = 10 + (static_cast<size_t>(file[6]) << 21 | static_cast<size_t>(file[7]) << 14 |
                      static_cast<size_t>(file[8]) << 7 | file[9]);
    for (size_t pos = start; pos + 4 <= file.size();) {
        const uint8_t* p = &file[pos];
        // MPEG-1 Layer III at 44.1 kHz: what the encoder writes here.
        if (p[0] != 0xFF || (p[1] & 0xFE) != 0xFA || ((p[2] >> 2) & 3) != 0 || kKbps[p[2] >> 4] == 0)
            break;
        Mp3Frame f;
        f.crc = (p[1] & 1) == 0;
        f.kbps = kKbps[p[2] >> 4];
        f.privateBit = p[2] & 1;
        f.mode = p[3] >> 6;
        f.copyright = p[3] & 8;
        f.original = p[3] & 4;
        f.emphasis = p[3] & 3;
        f.offset = pos;
        f.length = static_cast<size_t>(144000 * f.kbps / 44100 + ((p[2] >> 1) & 1));
        frames.push_back(f);
        pos += f.length;
    }
    return frames;
}

VorbisIdent ReadVorbisIdent(const std::vector<uint8_t>& file) {
    VorbisIdent h;
    if (file.size() < 27 || std::memcmp(file.data(), "OggS", 4) != 0)
        return h;
    const size_t start = 27 + file[26];
    if (file.size() < start + 30 || file[start] != 1 || std::memcmp(&file[start + 1], "vorbis", 6) != 0)
        return h;
    const std::string bytes(file.begin() + static_cast<ptrdiff_t>(start),
                            file.begin() + static_cast<ptrdiff_t>(start + 30));
    h.rate = ReadLE32(bytes, 12);
    h.maximum = static_cast<int32_t>(ReadLE32(bytes, 16));
    h.nominal = static_cast<int32_t>(ReadLE32(bytes, 20));
    h.minimum = static_cast<int32_t>(ReadLE32(bytes, 24));
    return h;
}
