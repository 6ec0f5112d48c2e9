#include "SystemHelpers.h"
#include "TestSupport.h"
#include "WmaTestMedia.h"

#include <cmath>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// 1.5 s and a bit: not a whole number of coded frames at any profile.
constexpr size_t kSignalFrames = 66483;

struct ProfileCase {
    uint32_t requested;
    int bitrate;
    int sampleRate;
    int channels;
};

void PrintTo(const ProfileCase& c, std::ostream* os) {
    *os << c.requested;
}

IWMAudioWriter* StartWriter(const std::string& path, uint32_t bitrate) {
    IWMAudioWriter* writer = CreateWriter(path);
    if (!writer)
        return nullptr;
    WAVEFORMATEX format = PcmFormat();
    if (writer->SetInputFormat(&format) < 0 || writer->SetOutputFormat(bitrate, 44100, 2, 0) < 0) {
        writer->Release();
        return nullptr;
    }
    return writer;
}

// Writes the samples in the program's 2304-byte chunks and finishes; true when every call succeeded.
bool WriteFile(const std::string& path, uint32_t bitrate, const TestSignal& signal) {
    IWMAudioWriter* writer = StartWriter(path, bitrate);
    if (!writer)
        return false;
    const bool ok = WriteInChunks(writer, signal.Bytes(), signal.ByteCount(), 2304) == WM_S_OK &&
                    writer->Finish() == WM_S_OK;
    writer->Release();
    return ok;
}

// The decoded signal holds every burst of the input where the input had it, at full level, and
// nothing in between.
void ExpectBurstsInPlace(const Decoded& decoded, const TestSignal& signal, double* worstOffset = nullptr) {
    const double scale = decoded.sampleRate / 44100.0;
    const int halfWindow = static_cast<int>(0.015 * decoded.sampleRate);
    BurstMeasure middle = MeasureBurst(decoded, signal.burstCenters[1] * scale, halfWindow);
    ASSERT_GT(middle.peak, 8000) << "the middle burst is missing";
    for (int center : signal.burstCenters) {
        BurstMeasure m = MeasureBurst(decoded, center * scale, halfWindow);
        EXPECT_LE(std::abs(m.offset), 3.0) << "burst at " << center << " moved by " << m.offset << " samples";
        EXPECT_GT(m.peak, middle.peak * 0.8) << "burst at " << center << " is damaged";
        EXPECT_LT(m.peak, middle.peak * 1.25) << "burst at " << center << " is damaged";
        if (worstOffset)
            *worstOffset = std::max(*worstOffset, std::abs(m.offset));
    }
    // Between the bursts and after the end: silence up to coding noise.
    size_t gapFrom = static_cast<size_t>((signal.burstCenters[0] + 2000) * scale);
    size_t gapTo = static_cast<size_t>((signal.burstCenters[1] - 2000) * scale);
    EXPECT_LT(PeakLevel(decoded, gapFrom, gapTo), 200);
    size_t end = static_cast<size_t>(std::lround(signal.Frames() * scale));
    EXPECT_LT(PeakLevel(decoded, end + 100, decoded.samples.size()), 200);
}

// Decoded length: the input's, plus what the last coded frames add. FFmpeg's decoder needs one more
// coded frame after the last one holding input to rebuild it, so the excess is 1 to 2 frames.
void ExpectDecodedLength(const Decoded& decoded, size_t inputFrames) {
    const double expected = inputFrames * (decoded.sampleRate / 44100.0);
    const double frame = WmaFrameLength(decoded.sampleRate);
    const double excess = static_cast<double>(decoded.samples.size()) - expected;
    EXPECT_GE(excess, frame - 2) << "decoded " << decoded.samples.size() << " of " << expected;
    EXPECT_LT(excess, 2 * frame + 2) << "decoded " << decoded.samples.size() << " of " << expected;
}

} // namespace

// Calls every method through the raw method table, by position, as a COM client does.
TEST(WmAudSdkAbi, MethodTableKeepsItsOrder) {
    using QueryFn = WMRESULT (*)(IWMAudioWriter*, const WMGUID*, void**);
    using CountFn = uint32_t (*)(IWMAudioWriter*);
    using PlainFn = WMRESULT (*)(IWMAudioWriter*);
    using InputFn = WMRESULT (*)(IWMAudioWriter*, const WAVEFORMATEX*);
    using OutputFn = WMRESULT (*)(IWMAudioWriter*, uint32_t, uint32_t, uint32_t, uint32_t);
    using WriteFn = WMRESULT (*)(IWMAudioWriter*, const uint8_t*, uint32_t);

    TempDir dir;
    const std::string path = dir.File("table.wma");
    IWMAudioWriter* writer = CreateWriter(path);
    ASSERT_NE(writer, nullptr);
    void** table = *reinterpret_cast<void***>(writer);

    void* object = nullptr;
    EXPECT_EQ(reinterpret_cast<QueryFn>(table[0])(writer, &IID_IWMAudioWriter, &object), WM_S_OK);
    EXPECT_EQ(object, writer);
    const WMGUID other = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    EXPECT_EQ(reinterpret_cast<QueryFn>(table[0])(writer, &other, &object), WM_E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(reinterpret_cast<CountFn>(table[1])(writer), 3u);
    EXPECT_EQ(reinterpret_cast<CountFn>(table[2])(writer), 2u);
    EXPECT_EQ(reinterpret_cast<CountFn>(table[2])(writer), 1u);
    EXPECT_EQ(reinterpret_cast<PlainFn>(table[3])(writer), WM_E_NOTIMPL);
    EXPECT_EQ(reinterpret_cast<PlainFn>(table[6])(writer), WM_E_NOTIMPL);

    const TestSignal signal = MakeBurstSignal(kSignalFrames);
    WAVEFORMATEX eightBit = PcmFormat();
    eightBit.wBitsPerSample = 8;
    const WAVEFORMATEX format = PcmFormat();
    EXPECT_EQ(reinterpret_cast<WriteFn>(table[7])(writer, signal.Bytes(), 4), WM_E_UNEXPECTED);
    EXPECT_EQ(reinterpret_cast<InputFn>(table[4])(writer, &eightBit), WM_E_INVALID_FORMAT);
    EXPECT_EQ(reinterpret_cast<InputFn>(table[4])(writer, &format), WM_S_OK);
    EXPECT_EQ(reinterpret_cast<OutputFn>(table[5])(writer, 128000, 44100, 2, 0), WM_S_OK);
    EXPECT_EQ(reinterpret_cast<WriteFn>(table[7])(writer, signal.Bytes(), signal.ByteCount()), WM_S_OK);
    EXPECT_EQ(reinterpret_cast<PlainFn>(table[8])(writer), WM_S_OK);
    EXPECT_EQ(reinterpret_cast<PlainFn>(table[8])(writer), WM_S_OK); // finishing twice is harmless
    EXPECT_EQ(reinterpret_cast<WriteFn>(table[7])(writer, signal.Bytes(), 4), WM_E_UNEXPECTED);
    EXPECT_EQ(reinterpret_cast<CountFn>(table[2])(writer), 0u);

    Decoded decoded = DecodeFile(path);
    ASSERT_TRUE(decoded.ok);
    ExpectBurstsInPlace(decoded, signal);
}

TEST(WmAudSdkFormats, RefusesWhatItCannotEncode) {
    TempDir dir;
    const std::string path = dir.File("refused.wma");
    IWMAudioWriter* writer = CreateWriter(path);
    ASSERT_NE(writer, nullptr);
    EXPECT_TRUE(FileExists(path));

    std::vector<WAVEFORMATEX> refused;
    for (int i = 0; i < 7; ++i)
        refused.push_back(PcmFormat());
    refused[0].wFormatTag = 3; // float
    refused[1].wBitsPerSample = 24;
    refused[2].nChannels = 3;
    refused[3].nBlockAlign = 2; // does not match two channels
    refused[4].nAvgBytesPerSec = 44100;
    refused[5].nSamplesPerSec = 0;
    refused[6].nChannels = 0;
    for (const WAVEFORMATEX& f : refused)
        EXPECT_EQ(writer->SetInputFormat(&f), WM_E_INVALID_FORMAT);
    EXPECT_EQ(writer->SetInputFormat(nullptr), WM_E_POINTER);
    EXPECT_EQ(writer->SetOutputFormat(128000, 44100, 2, 0), WM_E_UNEXPECTED); // no input format yet

    const WAVEFORMATEX mono = PcmFormat(1, 22050);
    EXPECT_EQ(writer->SetInputFormat(&mono), WM_S_OK);
    EXPECT_EQ(writer->SetOutputFormat(0, 44100, 2, 0), WM_E_INVALIDARG);
    EXPECT_EQ(writer->SetOutputFormat(400000, 44100, 2, 0), WM_E_INVALIDARG);
    EXPECT_EQ(writer->SetOutputFormat(128000, 96000, 2, 0), WM_E_INVALIDARG);
    EXPECT_EQ(writer->SetOutputFormat(128000, 44100, 3, 0), WM_E_INVALIDARG);
    EXPECT_EQ(writer->SetOutputFormat(128000, 44100, 2, 1), WM_E_INVALIDARG);
    EXPECT_EQ(writer->Finish(), WM_E_UNEXPECTED);

    // Never started: the empty file it created goes with it.
    EXPECT_EQ(writer->Release(), 0u);
    EXPECT_FALSE(FileExists(path));
}

TEST(WmAudSdkFormats, MonoInputAtAnotherRateIsCodedAsGiven) {
    TempDir dir;
    const std::string path = dir.File("mono.wma");
    IWMAudioWriter* writer = CreateWriter(path);
    ASSERT_NE(writer, nullptr);
    const WAVEFORMATEX mono = PcmFormat(1, 22050);
    ASSERT_EQ(writer->SetInputFormat(&mono), WM_S_OK);
    ASSERT_EQ(writer->SetOutputFormat(128000, 44100, 2, 0), WM_S_OK);
    std::vector<int16_t> tone(22050);
    for (size_t i = 0; i < tone.size(); ++i)
        tone[i] =
            static_cast<int16_t>(8000 * std::sin(2 * 3.14159265 * 440 * static_cast<double>(i) / 22050));
    EXPECT_EQ(writer->WriteSamples(reinterpret_cast<const uint8_t*>(tone.data()), 44100), WM_S_OK);
    EXPECT_EQ(writer->Finish(), WM_S_OK);
    writer->Release();

    auto info = ProbeFile(path);
    EXPECT_EQ(info["sample_rate"], "22050");
    EXPECT_EQ(info["channels"], "1");
    Decoded decoded = DecodeFile(path);
    ASSERT_TRUE(decoded.ok);
    EXPECT_GT(PeakLevel(decoded, 2000, 20000), 5000);
}

TEST(WmAudSdkCreate, RefusesPathsItCannotWrite) {
    TempDir dir;
    long result = 0;
    EXPECT_EQ(CreateWriter(dir.File("missing folder/out.wma"), &result), nullptr);
    EXPECT_LT(result, 0);
    EXPECT_EQ(CreateWriter(dir.Path(), &result), nullptr); // a directory
    EXPECT_LT(result, 0);

    IWMAudioWriter* writer = reinterpret_cast<IWMAudioWriter*>(1);
    const wchar_t surrogate[] = {L'a', static_cast<wchar_t>(0xD800), L'\0'};
    EXPECT_EQ(ModuleCreateWriter()(surrogate, &writer), WM_E_INVALIDARG);
    EXPECT_EQ(writer, nullptr);
    EXPECT_EQ(ModuleCreateWriter()(L"", &writer), WM_E_INVALIDARG);
    EXPECT_LT(ModuleCreateWriter()(nullptr, &writer), 0);
    EXPECT_LT(ModuleCreateWriter()(L"x.wma", nullptr), 0);
}

class WmAudSdkProfiles : public ::testing::TestWithParam<ProfileCase> {};

// Every bitrate the settings offer makes a file that FFmpeg decodes with the input in place, start
// and end intact.
TEST_P(WmAudSdkProfiles, DecodesWithTheInputInPlace) {
    const ProfileCase c = GetParam();
    TempDir dir;
    const std::string path = dir.File("out.wma");
    const TestSignal signal = MakeBurstSignal(kSignalFrames);
    ASSERT_TRUE(WriteFile(path, c.requested, signal));

    auto info = ProbeFile(path);
    EXPECT_EQ(info["codec_name"], "wmav2");
    EXPECT_EQ(info["bit_rate"], std::to_string(c.bitrate));
    EXPECT_EQ(info["sample_rate"], std::to_string(c.sampleRate));
    EXPECT_EQ(info["channels"], std::to_string(c.channels));

    Decoded decoded = DecodeFile(path);
    ASSERT_TRUE(decoded.ok);
    double worst = 0;
    ExpectBurstsInPlace(decoded, signal, &worst);
    ExpectDecodedLength(decoded, signal.Frames());
    RecordProperty("worst_offset_samples", std::to_string(worst));
}

INSTANTIATE_TEST_SUITE_P(
    EveryListedBitrate, WmAudSdkProfiles,
    ::testing::Values(ProfileCase{22000, 24000, 22050, 1}, ProfileCase{32000, 32000, 32000, 2},
                      ProfileCase{36000, 36000, 32000, 2}, ProfileCase{40000, 40000, 32000, 2},
                      ProfileCase{48000, 48000, 44100, 2}, ProfileCase{64000, 64000, 44100, 2},
                      ProfileCase{80000, 80000, 44100, 2}, ProfileCase{96000, 96000, 44100, 2},
                      ProfileCase{128000, 128000, 44100, 2}, ProfileCase{160000, 160000, 44100, 2}),
    [](const auto& info) { return std::to_string(info.param.requested); });

TEST(WmAudSdkStream, NoSamplesGiveAValidSilentFile) {
    TempDir dir;
    const std::string path = dir.File("empty.wma");
    IWMAudioWriter* writer = StartWriter(path, 128000);
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(writer->WriteSamples(nullptr, 0), WM_S_OK);
    EXPECT_EQ(writer->Finish(), WM_S_OK);
    writer->Release();

    Decoded decoded = DecodeFile(path);
    ASSERT_TRUE(decoded.ok);
    EXPECT_LE(decoded.samples.size(), 2u * 2048);
    EXPECT_EQ(PeakLevel(decoded, 0, decoded.samples.size()), 0);
}

// Byte counts that split samples and sample frames give the very same file as whole chunks; a
// trailing odd byte is dropped.
TEST(WmAudSdkStream, OddByteCountsGiveTheSameFile) {
    TempDir dir;
    const TestSignal signal = MakeBurstSignal(kSignalFrames);
    ASSERT_TRUE(WriteFile(dir.File("whole.wma"), 64000, signal));

    std::vector<uint8_t> bytes(signal.Bytes(), signal.Bytes() + signal.ByteCount());
    bytes.push_back(0x7F); // a stray last byte
    IWMAudioWriter* split = StartWriter(dir.File("split.wma"), 64000);
    ASSERT_NE(split, nullptr);
    const size_t sizes[] = {1, 3, 2, 5, 2303, 7, 4097, 1, 1, 1, 9999};
    size_t pos = 0;
    for (int i = 0; pos < bytes.size(); ++i) {
        size_t n = std::min(sizes[i % std::size(sizes)], bytes.size() - pos);
        ASSERT_EQ(split->WriteSamples(bytes.data() + pos, static_cast<uint32_t>(n)), WM_S_OK);
        pos += n;
    }
    EXPECT_EQ(split->Finish(), WM_S_OK);
    split->Release();

    const std::string a = ReadFileText(dir.File("whole.wma"));
    EXPECT_GT(a.size(), 10000u);
    EXPECT_TRUE(a == ReadFileText(dir.File("split.wma")));
}

// The cancel path: the last reference goes without Finish; the file must still be complete.
TEST(WmAudSdkStream, ReleaseWithoutFinishLeavesAPlayableFile) {
    TempDir dir;
    const std::string path = dir.File("cancelled.wma");
    const TestSignal signal = MakeBurstSignal(kSignalFrames);
    IWMAudioWriter* writer = StartWriter(path, 96000);
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(WriteInChunks(writer, signal.Bytes(), signal.ByteCount(), 2304), WM_S_OK);
    EXPECT_EQ(writer->Release(), 0u);

    Decoded decoded = DecodeFile(path);
    ASSERT_TRUE(decoded.ok);
    ExpectBurstsInPlace(decoded, signal);
    ExpectDecodedLength(decoded, signal.Frames());
}

TEST(WmAudSdkStream, NonAsciiPathWithSpacesAndNoTags) {
    TempDir dir;
    const std::string path = dir.File("Été à Köln 音楽 – take 2 𝄞.wma");
    ASSERT_TRUE(WriteFile(path, 128000, MakeBurstSignal(22050)));
    EXPECT_TRUE(DecodeFile(path).ok);
    auto info = ProbeFile(path);
    ASSERT_EQ(info["codec_name"], "wmav2");
    for (const auto& [key, value] : info)
        EXPECT_NE(key.rfind("TAG:", 0), 0u) << key << "=" << value;
}

// A device that is always full: the header cannot be written, and the caller learns why.
TEST(WmAudSdkDiskFull, NoSpaceForTheHeaderIsReported) {
    IWMAudioWriter* writer = CreateWriter("/dev/full");
    ASSERT_NE(writer, nullptr);
    const WAVEFORMATEX format = PcmFormat();
    ASSERT_EQ(writer->SetInputFormat(&format), WM_S_OK);
    EXPECT_EQ(writer->SetOutputFormat(160000, 44100, 2, 0), WM_E_DISK_FULL);
    EXPECT_EQ(writer->WriteSamples(reinterpret_cast<const uint8_t*>(&format), 4), WM_E_UNEXPECTED);
    EXPECT_EQ(writer->Release(), 0u);
    struct stat st;
    EXPECT_EQ(stat("/dev/full", &st), 0); // not taken for a file of its own
}

// A file size limit reached part way: the writer reports it, and the process lives on.
TEST(WmAudSdkDiskFull, FileSizeLimitGivesNegativeResults) {
    TempDir dir;
    const std::string path = dir.File("limited.wma");
    const TestSignal signal = MakeBurstSignal(44100 * 10);
    ModuleCreateWriter(); // load before forking
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{100000, 100000};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            _exit(10);
        IWMAudioWriter* writer = StartWriter(path, 160000);
        if (!writer)
            _exit(11);
        long written = WriteInChunks(writer, signal.Bytes(), signal.ByteCount(), 2304);
        long finished = writer->Finish();
        writer->Release();
        _exit(written != WM_E_DISK_FULL ? 12 : finished != WM_E_DISK_FULL ? 13 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the writer was killed";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_LE(GetFileSizeBytes(path), 100000);
    EXPECT_GT(GetFileSizeBytes(path), 0); // what fitted stays on disk
}
