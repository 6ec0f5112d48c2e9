// WmAudSDK.so through its COM-style interface, and the program's wrapper around it.
#include "SystemHelpers.h"
#include "TestMedia.h"
#include "TestSupport.h"
#include "WmAudSDK.h"
#include "WmaWriter.h"

#include <cmath>
#include <dlfcn.h>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

// 1.5 s and a bit of 44.1 kHz stereo, silent but for 10 ms bursts of 1 kHz near the start (inside the
// first coded frame), in the middle and just before the end, so that where the sound lands shows.
constexpr int kFrames = 66483, kBursts[] = {441, kFrames / 2, kFrames - 441};

std::vector<uint8_t> MakeBursts() {
    std::vector<int16_t> s(2 * kFrames, 0);
    const double pi = std::acos(-1.0);
    for (int center : kBursts)
        for (int i = 0; i < 441; ++i)
            s[2 * (center - 220 + i)] = s[2 * (center - 220 + i) + 1] = static_cast<int16_t>(
                20000 * std::pow(std::sin(pi * i / 441), 2) * std::sin(2 * pi * i / 44.1));
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    return {p, p + s.size() * 2};
}

IWMAudioWriter* CreateWriter(const std::string& path) {
    static const LoadedModule module("WmAudSDK.so");
    IWMAudioWriter* writer = nullptr;
    const std::wstring wide = QString::fromStdString(path).toStdWString();
    return module.Get<PFN_WMAudioCreateWriter>("WMAudioCreateWriter")(wide.c_str(), &writer) < 0 ? nullptr
                                                                                                 : writer;
}

WAVEFORMATEX PcmFormat(uint16_t channels = 2, uint32_t rate = 44100) {
    return WAVEFORMATEX{
        WAVE_FORMAT_PCM, channels, rate, rate * channels * 2u, static_cast<uint16_t>(channels * 2), 16, 0};
}

// A writer with its formats set, written in chunks whose sizes cycle through the list.
IWMAudioWriter* Write(const std::string& path, uint32_t bitrate, const std::vector<uint8_t>& bytes,
                      std::vector<size_t> sizes = {2304}, WAVEFORMATEX input = PcmFormat()) {
    IWMAudioWriter* writer = CreateWriter(path);
    EXPECT_TRUE(writer && writer->SetInputFormat(&input) == WM_S_OK &&
                writer->SetOutputFormat(bitrate, 44100, 2, 0) == WM_S_OK);
    for (size_t pos = 0, i = 0; writer && pos < bytes.size(); pos += sizes[i++ % sizes.size()])
        EXPECT_EQ(writer->WriteSamples(&bytes[pos], static_cast<uint32_t>(std::min(sizes[i % sizes.size()],
                                                                                   bytes.size() - pos))),
                  WM_S_OK);
    return writer;
}

// The decoded file holds every burst where the input had it, at full level, and nothing after the end
// but the one or two coded frames FFmpeg's decoder adds there.
void ExpectBurstsInPlace(const std::string& path) {
    const DecodedAudio all = DecodeWithFfmpeg(path);
    ASSERT_TRUE(all.ok) << all.error;
    const double scale = all.rate / 44100.0, window = 0.015 * all.rate;
    std::vector<double> peaks;
    for (int center : kBursts) {
        double weighted = 0, total = 0, peak = 0;
        for (int64_t i = std::max<int64_t>(0, std::lround(center * scale - window));
             i < center * scale + window; ++i) {
            const double v = all.samples[static_cast<size_t>(i * all.channels)];
            weighted += v * v * static_cast<double>(i);
            total += v * v;
            peak = std::max(peak, std::abs(v));
        }
        EXPECT_NEAR(total > 0 ? weighted / total : 0, center * scale, 3.0)
            << "the burst at " << center << " moved";
        peaks.push_back(peak);
    }
    EXPECT_GT(peaks[1], 10000) << "the middle burst is missing";
    for (double peak : peaks)
        EXPECT_NEAR(peak / peaks[1], 1.0, 0.2) << "a burst is damaged";
    const double frame = all.rate <= 22050 ? 1024 : 2048,
                 excess = static_cast<double>(all.frames) - kFrames * scale;
    EXPECT_TRUE(excess >= frame - 2 && excess < 2 * frame + 2) << excess;
}

} // namespace

TEST(WmAudSdk, RefusesWhatItCannotEncodeOrWrite) {
    TempDir dir;
    IWMAudioWriter* writer = CreateWriter(dir.File("refused.wma"));
    ASSERT_NE(writer, nullptr);
    WAVEFORMATEX refused[3] = {PcmFormat(), PcmFormat(), PcmFormat()};
    refused[0].wFormatTag = 3; // float
    refused[1].wBitsPerSample = 24;
    refused[2].nBlockAlign = 2; // does not match two channels
    for (const WAVEFORMATEX& f : refused)
        EXPECT_EQ(writer->SetInputFormat(&f), WM_E_INVALID_FORMAT);
    EXPECT_EQ(writer->SetOutputFormat(128000, 44100, 2, 0), WM_E_UNEXPECTED); // no input format yet
    const WAVEFORMATEX mono = PcmFormat(1, 22050);
    EXPECT_EQ(writer->SetInputFormat(&mono), WM_S_OK);
    for (const auto& [bitrate, rate, channels] :
         {std::tuple{0u, 44100u, 2u}, {128000u, 96000u, 2u}, {128000u, 44100u, 3u}})
        EXPECT_EQ(writer->SetOutputFormat(bitrate, rate, channels, 0), WM_E_INVALIDARG)
            << bitrate << " " << rate;
    EXPECT_EQ(writer->Release(), 0u);
    EXPECT_TRUE(FilesIn(dir.Path()).empty()) << "never started: the empty file it created goes with it";
}

// The bitrates the settings offer pick the stream's sample rate and channels; the input keeps its
// place in every profile, and odd byte counts give the very same file as whole chunks.
TEST(WmAudSdk, ProfilesKeepTheInputInPlace) {
    TempDir dir;
    const auto bytes = MakeBursts();
    for (const auto& [requested, rate, channels] :
         {std::tuple{22000, "22050", "1"}, {32000, "32000", "2"}, {160000, "44100", "2"}}) {
        const std::string path = dir.File(std::to_string(requested) + ".wma");
        IWMAudioWriter* writer = Write(path, static_cast<uint32_t>(requested), bytes);
        EXPECT_EQ(writer->Finish(), WM_S_OK);
        EXPECT_EQ(writer->Finish(), WM_S_OK); // finishing twice is harmless
        EXPECT_EQ(writer->WriteSamples(bytes.data(), 4), WM_E_UNEXPECTED);
        EXPECT_EQ(writer->Release(), 0u);
        auto info = ProbeFile(path);
        EXPECT_EQ(info["codec_name"] + " " + info["sample_rate"] + " " + info["channels"],
                  std::string("wmav2 ") + rate + " " + channels);
        ExpectBurstsInPlace(path);
    }
    // The last reference going without Finish, as on cancel, still completes the file; a stray odd byte
    // is dropped.
    auto odd = bytes;
    odd.push_back(0x7F);
    Write(dir.File("split.wma"), 32000, odd, {1, 3, 2, 5, 2303, 7, 4097, 1, 9999})->Release();
    EXPECT_EQ(ReadFileText(dir.File("split.wma")), ReadFileText(dir.File("32000.wma")));
}

namespace {

// A program directory of the test's own with a copy of the module (or none), so whether the wrapper
// unloads it again can be seen.
struct ProgramDirectory {
    TempDir dir;
    explicit ProgramDirectory(const char* module) {
        if (*module)
            std::filesystem::copy_file(module, dir.File("WmAudSDK.so"));
        SetAppDirectoryForTesting(dir.Path());
    }
    ~ProgramDirectory() { SetAppDirectoryForTesting(""); }
    bool ModuleLoaded() const {
        void* handle = dlopen(dir.File("WmAudSDK.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
        return handle && dlclose(handle) == 0;
    }
};

} // namespace

TEST(WmaWriter, EachRefusalHasItsMessageAndLeavesNoFile) {
    TempDir out;
    for (const auto& [module, path, channels, message] :
         {std::tuple{"", out.File("a.wma"), 2, "Could not found WmAudSDK.DLL file"},
          {WMA_NO_ENTRY_DIR "WmAudSDK.so", out.File("a.wma"), 2,
           "Could not found WMAudioCreateWriter library function"},
          {QUILLET_BIN_DIR "WmAudSDK.so", out.File(std::string("nul \0.wma", 9)), 2, "internal error"},
          {QUILLET_BIN_DIR "WmAudSDK.so", out.File("no such folder/a.wma"), 2,
           " Failed to Create Audio Writer (No such file or directory)"},
          {QUILLET_BIN_DIR "WmAudSDK.so", out.File("a.wma"), 65538,
           " Failed to Set Input Format"}}) { // not 2
        ProgramDirectory program(module);
        MessageRecorder recorder;
        CWmaWriter writer;
        EXPECT_FALSE(writer.Open(path, 128000, 44100, channels));
        EXPECT_EQ(recorder.Texts(), std::vector<std::string>{message});
        EXPECT_TRUE(FilesIn(out.Path()).empty()) << message;
    }
}

// The program's use: 2304-byte chunks and an odd last byte, into a name with spaces and non-ASCII
// letters; the file has no tags, and the module is unloaded with the wrapper.
TEST(WmaWriter, WritesAPlayableFileAndUnloadsTheModule) {
    TempDir out;
    ProgramDirectory program(QUILLET_BIN_DIR "WmAudSDK.so");
    MessageRecorder recorder;
    const std::string path = out.File("Été à Köln 音楽 – take 2 𝄞.wma");
    const auto bytes = MakeBursts();
    {
        CWmaWriter writer;
        ASSERT_TRUE(writer.Open(path, 160000, 44100, 2));
        EXPECT_TRUE(program.ModuleLoaded());
        for (size_t pos = 0; pos < bytes.size(); pos += 2304)
            EXPECT_TRUE(
                writer.Write(&bytes[pos], static_cast<unsigned>(std::min<size_t>(2304, bytes.size() - pos))));
        EXPECT_TRUE(writer.Write(bytes.data(), 1));
        EXPECT_TRUE(writer.Close());
        EXPECT_FALSE(writer.Write(bytes.data(), 4)); // nothing open any more
    }
    EXPECT_FALSE(program.ModuleLoaded());
    EXPECT_EQ(recorder.Count(), 0u);
    ExpectBurstsInPlace(path);
    for (const auto& [key, value] : ProbeFile(path))
        EXPECT_NE(key.rfind("TAG:", 0), 0u) << key << "=" << value;
}
