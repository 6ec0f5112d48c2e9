#include "WmaTestMedia.h"

#include "TestSupport.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cmath>
#include <dlfcn.h>
#include <stdexcept>

namespace {

constexpr double kPi = 3.14159265358979323846;

QByteArray Run(const QString& program, const QStringList& args, bool* ok) {
    std::vector<std::string> list;
    for (const QString& a : args)
        list.push_back(a.toStdString());
    std::string out;
    *ok = RunProgram(program.toStdString(), list, &out, nullptr, 60000) == 0;
    return QByteArray(out.data(), static_cast<qsizetype>(out.size()));
}

} // namespace

TestSignal MakeBurstSignal(size_t frames) {
    TestSignal signal;
    signal.samples.assign(frames * 2, 0);
    const int burstLength = 441; // 10 ms
    signal.burstCenters = {441, static_cast<int>(frames / 2), static_cast<int>(frames) - 441};
    for (int center : signal.burstCenters) {
        int start = center - burstLength / 2;
        for (int i = 0; i < burstLength; ++i) {
            double envelope = std::sin(kPi * i / burstLength);
            double value = 0.6 * envelope * envelope * std::sin(2 * kPi * 1000.0 * i / 44100.0);
            auto s = static_cast<int16_t>(std::lrint(value * 32767));
            signal.samples[2 * (start + i)] = s;
            signal.samples[2 * (start + i) + 1] = s;
        }
    }
    return signal;
}

WAVEFORMATEX PcmFormat(uint16_t channels, uint32_t rate) {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.nBlockAlign = static_cast<uint16_t>(channels * 2);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    f.wBitsPerSample = 16;
    return f;
}

std::map<std::string, std::string> ProbeFile(const std::string& path) {
    bool ok = false;
    QByteArray out = Run("ffprobe",
                         {"-v", "error", "-select_streams", "a:0", "-show_entries",
                          "stream=codec_name,sample_rate,channels,bit_rate:stream_tags:format_tags", "-of",
                          "default=nw=1", QString::fromStdString(path)},
                         &ok);
    std::map<std::string, std::string> info;
    if (!ok)
        return info;
    for (const QByteArray& line : out.split('\n')) {
        int eq = line.indexOf('=');
        if (eq > 0)
            info[line.left(eq).toStdString()] = line.mid(eq + 1).toStdString();
    }
    return info;
}

Decoded DecodeFile(const std::string& path) {
    Decoded decoded;
    auto info = ProbeFile(path);
    if (info["codec_name"] != "wmav2")
        return decoded;
    decoded.sampleRate = std::stoi(info["sample_rate"]);
    decoded.channels = std::stoi(info["channels"]);
    bool ok = false;
    QByteArray pcm = Run("ffmpeg",
                         {"-v", "error", "-i", QString::fromStdString(path), "-map", "0:a:0", "-f", "s16le",
                          "-acodec", "pcm_s16le", "-"},
                         &ok);
    if (!ok)
        return decoded;
    const auto* all = reinterpret_cast<const int16_t*>(pcm.constData());
    size_t frames = static_cast<size_t>(pcm.size()) / 2 / static_cast<size_t>(decoded.channels);
    decoded.samples.resize(frames);
    for (size_t i = 0; i < frames; ++i)
        decoded.samples[i] = all[i * static_cast<size_t>(decoded.channels)];
    decoded.ok = true;
    return decoded;
}

BurstMeasure MeasureBurst(const Decoded& decoded, double expectedCenter, int halfWindow) {
    BurstMeasure m;
    long from = std::max(0L, std::lround(expectedCenter) - halfWindow);
    long to = std::min(static_cast<long>(decoded.samples.size()), std::lround(expectedCenter) + halfWindow);
    double weighted = 0, total = 0;
    for (long i = from; i < to; ++i) {
        double e = static_cast<double>(decoded.samples[static_cast<size_t>(i)]) *
                   decoded.samples[static_cast<size_t>(i)];
        weighted += e * static_cast<double>(i);
        total += e;
        m.peak = std::max(m.peak, std::abs(static_cast<int>(decoded.samples[static_cast<size_t>(i)])));
    }
    m.offset = total > 0 ? weighted / total - expectedCenter : 1e9;
    return m;
}

int PeakLevel(const Decoded& decoded, size_t from, size_t to) {
    int peak = 0;
    for (size_t i = from; i < std::min(to, decoded.samples.size()); ++i)
        peak = std::max(peak, std::abs(static_cast<int>(decoded.samples[i])));
    return peak;
}

int WmaFrameLength(int sampleRate) {
    return sampleRate <= 16000 ? 512 : sampleRate <= 22050 ? 1024 : 2048;
}

PFN_WMAudioCreateWriter ModuleCreateWriter() {
    static void* module = dlopen(QUILLET_BIN_DIR "WmAudSDK.so", RTLD_NOW | RTLD_LOCAL);
    if (!module)
        throw std::runtime_error(std::string("cannot load WmAudSDK.so: ") + dlerror());
    static auto create = reinterpret_cast<PFN_WMAudioCreateWriter>(dlsym(module, "WMAudioCreateWriter"));
    return create;
}

IWMAudioWriter* CreateWriter(const std::string& path, long* result) {
    QString text = QString::fromStdString(path);
    std::wstring wide = text.toStdWString();
    IWMAudioWriter* writer = nullptr;
    long r = ModuleCreateWriter()(wide.c_str(), &writer);
    if (result)
        *result = r;
    return r < 0 ? nullptr : writer;
}

long WriteInChunks(IWMAudioWriter* writer, const uint8_t* data, size_t bytes, size_t chunk) {
    for (size_t pos = 0; pos < bytes; pos += chunk) {
        long r = writer->WriteSamples(data + pos, static_cast<uint32_t>(std::min(chunk, bytes - pos)));
        if (r < 0)
            return r;
    }
    return WM_S_OK;
}
