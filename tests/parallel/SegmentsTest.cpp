// Step 2 in segments on several threads (MP3, AAC, Opus, Ogg Vorbis), against one encoder over the same WAV
// and against the input; how such a job ends when cancelled or failing; and several sources converted at once
// by quillet-cli -j.

#include "AudioSettings.h"
#include "Encoders.h"
#include "MediaProbe.h"
#include "SegmentJoiner.h"
#include "SoundShape.h"
#include "SystemHelpers.h"
#include "TestMedia.h"
#include "TestSupport.h"

#include <QDir>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>

namespace {

constexpr int kRate = 44100;

// Records the progress and which threads report it.
class ProgressView : public IJobView {
public:
    void SetCaption(const std::string&) override {}
    void SetStep(const std::string&) override {}
    void SetElapsed(const std::string&) override {}
    void SetProgressRange(int, int) override {}
    void SetProgressPos(int pos) override {
        std::lock_guard lock(mutex);
        backwards = backwards || pos < last;
        last = pos;
        threads.insert(std::this_thread::get_id());
    }
    std::mutex mutex;
    int last = -1;
    bool backwards = false;
    std::set<std::thread::id> threads;
};

// The temporary WAV as step 1 leaves it: a 44-byte header (44100 Hz, stereo, 16-bit), then the samples.
void WriteTempWav(const std::string& path, const std::vector<int16_t>& pcm) {
    const auto data = static_cast<uint32_t>(pcm.size() * 2);
    std::string bytes;
    auto le = [&](uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            bytes += static_cast<char>(v >> (8 * i));
    };
    bytes += "RIFF";
    le(36 + data, 4);
    bytes += "WAVEfmt ";
    le(16, 4), le(1, 2), le(2, 2), le(kRate, 4), le(kRate * 4, 4), le(4, 2), le(16, 2);
    bytes += "data";
    le(data, 4);
    bytes.append(reinterpret_cast<const char*>(pcm.data()), pcm.size() * 2);
    WriteFileText(path, bytes);
}

enum class Signal { Sweep, TwoTone, Noise };

// Stereo test signals: an exponential sweep from 50 Hz to 16 kHz (another phase on the right), two tones on
// each channel, and full-scale white noise.
std::vector<int16_t> MakeSignal(Signal signal, int frames) {
    if (signal == Signal::Noise)
        return MakeNoise(static_cast<size_t>(frames), 7);
    std::vector<int16_t> pcm(2 * static_cast<size_t>(frames));
    const double seconds = static_cast<double>(frames) / kRate;
    for (int i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kRate;
        double left, right;
        if (signal == Signal::Sweep) {
            const double phase =
                2 * M_PI * 50 * seconds / std::log(320.0) * (std::pow(320.0, t / seconds) - 1);
            left = 0.5 * std::sin(phase);
            right = 0.5 * std::cos(phase);
        } else {
            left = 0.3 * std::sin(2 * M_PI * 440 * t) + 0.3 * std::sin(2 * M_PI * 3520 * t);
            right = 0.3 * std::sin(2 * M_PI * 660 * t) + 0.2 * std::sin(2 * M_PI * 5000 * t);
        }
        pcm[2 * static_cast<size_t>(i)] = static_cast<int16_t>(std::lround(32767 * left));
        pcm[2 * static_cast<size_t>(i) + 1] = static_cast<int16_t>(std::lround(32767 * right));
    }
    return pcm;
}

using EncodeProc = int (*)();

struct Codec {
    const char* name;
    EncodeProc proc;
    int block;      // frames of one codec frame at the input's rate
    double tail;    // seconds past a boundary where two segments may meet
    int segments;   // forced, so that every segment has its whole warm-up
    double seconds; // of the test input
};

const Codec kMp3{"mp3", &Mp3EncodeProc, 1152, 0, 3, 12};
const Codec kAac{"m4a", &AacEncodeProc, 1024, 1, 2, 80};
const Codec kOpus{"opus", &OpusEncodeProc, 882, 1, 3, 24};
const Codec kOgg{"ogg", &OggEncodeProc, 2048, 2, 3, 24};

// Runs step 2 of the format on the job's WAV as the job's encoder thread does; returns its result.
int RunStep2(const std::shared_ptr<CJobState>& job, EncodeProc proc, ProgressView& view) {
    job->AttachView(&view);
    auto thread = CEncoderThread::Start(job, proc);
    EXPECT_TRUE(WaitFor([&] { return !thread->IsRunning(); }, 240000));
    job->AttachView(nullptr);
    return thread->Result();
}

// The file decoded at the input's rate, and what ffmpeg says about it at -v warning.
struct Decoded {
    Pcm pcm;
    std::string warnings;
    bool ok = false;
};

Decoded Decode(const std::string& path) {
    Decoded d;
    std::string out;
    d.ok =
        RunProgram("ffmpeg",
                   {"-v", "warning", "-nostdin", "-i", path, "-f", "s16le", "-ar", "44100", "-ac", "2", "-"},
                   &out, &d.warnings) == 0;
    d.pcm.samples.resize(out.size() / 2);
    if (!out.empty())
        std::memcpy(d.pcm.samples.data(), out.data(), d.pcm.samples.size() * 2);
    return d;
}

int64_t HeaderLength(const std::string& path) {
    std::string out;
    RunProgram("ffprobe",
               {"-v", "error", "-select_streams", "a:0", "-show_entries", "stream=duration_ts", "-of",
                "default=nw=1:nk=1", path},
               &out);
    return std::atoll(out.c_str());
}

// RMS of the error against the input in blocks of one codec frame.
std::vector<double> BlockErrors(const Pcm& decoded, const std::vector<int16_t>& input, int block) {
    std::vector<double> errors;
    const size_t frames = std::min(decoded.samples.size(), input.size()) / 2;
    for (size_t b = 0; (b + 1) * static_cast<size_t>(block) <= frames; ++b) {
        double sum = 0;
        for (size_t i = 2 * b * static_cast<size_t>(block); i < 2 * (b + 1) * static_cast<size_t>(block);
             ++i) {
            const double e = decoded.samples[i] - input[i];
            sum += e * e;
        }
        errors.push_back(std::sqrt(sum / (2.0 * block)));
    }
    return errors;
}

// The bar every join meets: ffmpeg decodes the file without a warning, to exactly the input's length, and
// the header states the length one encoder's does; where the segments met (the first block, from a boundary
// up to where they may meet, that differs from one encoder's decode: up to the meet both are the same
// encoder's), the error against the input in blocks of one codec frame is nowhere worse than twice its
// median over the file, or than one encoder's own error there where that is worse already.
void CheckJoins(const Codec& format, const std::string& joined, const std::string& single,
                const std::vector<int16_t>& input) {
    const Decoded d = Decode(joined), one = Decode(single);
    ASSERT_TRUE(d.ok && one.ok) << d.warnings;
    EXPECT_EQ(d.warnings, "");
    const auto frames = static_cast<int64_t>(input.size() / 2);
    // ffmpeg keeps the padding of an M4A's last frame: its edit list states the length.
    if (std::string(format.name) == "m4a")
        EXPECT_EQ(HeaderLength(joined), frames);
    else
        EXPECT_EQ(d.pcm.Frames(), frames);
    EXPECT_EQ(HeaderLength(joined), HeaderLength(single));
    const std::vector<double> errors = BlockErrors(d.pcm, input, format.block);
    const std::vector<double> oneErrors = BlockErrors(one.pcm, input, format.block);
    std::vector<double> sorted = errors;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<ptrdiff_t>(sorted.size() / 2),
                     sorted.end());
    const double median = sorted[sorted.size() / 2];
    const auto block = static_cast<size_t>(2 * format.block);
    auto differs = [&](size_t b) {
        return (b + 1) * block > std::min(d.pcm.samples.size(), one.pcm.samples.size()) ||
               !std::equal(d.pcm.samples.begin() + static_cast<ptrdiff_t>(b * block),
                           d.pcm.samples.begin() + static_cast<ptrdiff_t>((b + 1) * block),
                           one.pcm.samples.begin() + static_cast<ptrdiff_t>(b * block));
    };
    for (int i = 1; i < format.segments; ++i) {
        const auto boundary = static_cast<size_t>(frames * i / format.segments / format.block);
        const size_t last =
            boundary + static_cast<size_t>(format.tail * kRate) / static_cast<size_t>(format.block) + 3;
        size_t meet = boundary - 3;
        while (meet <= last && meet < errors.size() && !differs(meet))
            ++meet;
        if (meet > last || meet >= errors.size()) { // nothing to see
            std::printf("%s: join %d decodes as one encoder's\n", format.name, i);
            continue;
        }
        double worst = 0, allowed = 0; // the worst block, and against what is allowed there
        for (size_t b = meet - 1; b <= meet + 3 && b < errors.size(); ++b) {
            worst = std::max(worst, errors[b]);
            allowed = std::max(allowed, errors[b] / std::max(2 * median, oneErrors[b]));
        }
        std::printf("%s: met at %.2f s, worst block %.2fx the median, %.2fx what is allowed\n", format.name,
                    static_cast<double>(meet * static_cast<size_t>(format.block)) / kRate, worst / median,
                    allowed);
        EXPECT_LE(allowed, 1.0) << "join " << i;
    }
}

uint16_t Crc16(uint16_t crc, const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

// MP3 in segments is one encoder's stream byte for byte; the Info frame counts the joined stream and its
// music CRC covers the joined frames.
void CheckMp3IsOneEncoders(const std::string& joined, const std::string& single, bool mono) {
    const auto a = ReadBytes(joined), b = ReadBytes(single);
    EXPECT_TRUE(a == b);
    const auto frames = Mp3Frames(a);
    ASSERT_GT(frames.size(), 2u);
    const size_t xing = frames[0].offset + (mono ? 21 : 36);
    const size_t lameTag = xing + 120;
    auto be16 = [&](size_t at) { return uint32_t(a[at]) << 8 | a[at + 1]; };
    auto be32 = [&](size_t at) { return be16(at) << 16 | be16(at + 2); };
    uint16_t musicCrc = 0;
    for (size_t f = 1; f < frames.size(); ++f)
        musicCrc = Crc16(musicCrc, &a[frames[f].offset], frames[f].length);
    EXPECT_EQ(be32(xing + 8), frames.size() - 1);
    EXPECT_EQ(be32(xing + 12), a.size() - 128 - frames[0].offset); // between the ID3v2 and ID3v1 tags
    EXPECT_EQ(be16(lameTag + 32), musicCrc);
    EXPECT_EQ(be16(lameTag + 34), Crc16(0, &a[frames[0].offset], lameTag + 34 - frames[0].offset));
}

class SegmentsTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetAppDirectoryForTesting(QUILLET_BIN_DIR);
        g_settings.LoadFrom(dir.File("none.ini"));
        g_settings.m_nMp3BitrateIndex = 8; // 128 kbps
    }
    void TearDown() override {
        WaitForEncoderThreads();
        SetSegmentPolicy({});
        SetAppDirectoryForTesting("");
    }

    // Encodes the WAV in `segments` segments (1: one encoder) into `name`; returns the path.
    std::string Encode(const Codec& format, const std::string& wav, int segments, const std::string& name,
                       ProgressView& view) {
        SetSegmentPolicy({segments, 1.0, {}});
        auto job = std::make_shared<CJobState>();
        job->m_sound = shape;
        job->m_strTempWavPath = wav;
        job->m_strOutputPath = dir.File(name);
        EXPECT_EQ(RunStep2(job, format.proc, view), 0) << name;
        return job->m_strOutputPath;
    }

    TempDir dir;
    MessageRecorder messages;
    std::shared_ptr<const CSoundShape> shape; // for every step 2 when set
};

// No bitrate set: quality-based VBR (the defaults manage 128 kbps).
void OggQuality() {
    g_settings.m_nOggMinBitrateIndex = g_settings.m_nOggNominalBitrateIndex =
        g_settings.m_nOggMaxBitrateIndex = 0;
}

struct JoinRow {
    const Codec* format;
    Signal signal;
    const char* mode;
    std::function<void()> settings;
    bool twice;  // also: the same input gives the same file every run
    bool shaped; // with a gain and fades, which every segment applies by its frames' place in the range
};

const JoinRow kJoinRows[] = {
    {&kMp3, Signal::Sweep, "CBR joint stereo", [] { g_settings.m_nMp3ChannelIndex = 1; }, false, false},
    {&kMp3, Signal::Noise, "CBR mono", [] { g_settings.m_nMp3ChannelIndex = 3; }, false, false},
    {&kMp3, Signal::TwoTone, "VBR", [] { g_settings.m_nMp3VbrQualityIndex = 5; }, false, true},
    {&kAac, Signal::Sweep, "ABR 160k", [] {}, true, false},
    {&kAac, Signal::TwoTone, "ABR 160k", [] {}, false, true},
    {&kAac, Signal::Noise, "ABR 160k", [] {}, false, false},
    {&kOpus, Signal::Sweep, "VBR 96k", [] {}, true, false},
    {&kOpus, Signal::TwoTone, "VBR 96k", [] {}, false, true},
    {&kOpus, Signal::Noise, "VBR 96k", [] {}, false, false},
    {&kOgg, Signal::Sweep, "VBR q0.5", [] { OggQuality(); }, true, false},
    {&kOgg, Signal::TwoTone, "managed 128k", [] {}, false, true},
    {&kOgg, Signal::Noise, "VBR q0.5", [] { OggQuality(); }, false, false},
};

class SegmentJoinsTest : public SegmentsTest, public ::testing::WithParamInterface<size_t> {};

} // namespace

// Each format joined as the bar wants it, against one encoder over the same WAV and against the input.
TEST_P(SegmentJoinsTest, JoinsMeetTheBar) {
    const JoinRow& row = kJoinRows[GetParam()];
    const Codec& f = *row.format;
    row.settings();
    auto input = MakeSignal(row.signal, static_cast<int>(f.seconds * kRate));
    const std::string wav = dir.File("in.wav");
    WriteTempWav(wav, input);
    if (row.shaped) {
        SoundOptions options;
        options.normalize = true;
        options.targetLufs = -23;
        options.fadeInMs = 300;
        options.fadeOutMs = 500;
        const auto frames = static_cast<int64_t>(input.size() / 2);
        shape = CSoundShape::Make(options, {true, -20, -10}, frames, kRate).shape;
        shape->Apply(input.data(), 2, 0, static_cast<size_t>(frames)); // what the encoders should hear
    }
    ProgressView view, serialView, againView;
    const std::string ext = std::string(".") + f.name;
    const std::string joined = Encode(f, wav, f.segments, std::string("joined") + ext, view);
    const std::string single = Encode(f, wav, 1, std::string("single") + ext, serialView);
    EXPECT_EQ(view.threads.size(), static_cast<size_t>(f.segments)); // the segments ran side by side
    EXPECT_FALSE(view.backwards);
    EXPECT_EQ(view.last, serialView.last);
    EXPECT_TRUE(messages.Texts().empty());
    if (std::string(f.name) == "mp3")
        CheckMp3IsOneEncoders(joined, single, g_settings.m_nMp3ChannelIndex == 3);
    CheckJoins(f, joined, single, input);
    if (row.twice) {
        QDir().mkpath(QString::fromStdString(dir.File("again")));
        const std::string again = Encode(f, wav, f.segments, std::string("again/joined") + ext, againView);
        // Ogg serial numbers aside: the same audio in the same packets.
        if (std::string(f.name) == "m4a")
            EXPECT_TRUE(ReadBytes(again) == ReadBytes(joined));
        else
            EXPECT_TRUE(Decode(again).pcm.samples == Decode(joined).pcm.samples &&
                        ReadBytes(again).size() == ReadBytes(joined).size());
    }
}

std::string JoinRowName(const ::testing::TestParamInfo<size_t>& info) {
    const JoinRow& row = kJoinRows[info.param];
    static const char* const names[] = {"sweep", "twotone", "noise"};
    return std::string(row.format->name) + "_" + names[static_cast<int>(row.signal)] + "_" +
           std::to_string(info.param);
}

INSTANTIATE_TEST_SUITE_P(Formats, SegmentJoinsTest, ::testing::Range<size_t>(0, std::size(kJoinRows)),
                         JoinRowName);

namespace {

// Segment 2 waits on its first chunk until segments 0 and 1 have finished, then the job is cancelled, or the
// segment fails, or the disk fills: the output has room for about as much again, where the joins put it.
enum class Ending { Cancel, Fail, DiskFull };

struct EndingRow {
    const Codec* format;
    Ending ending;
};

const EndingRow kEndingRows[] = {{&kMp3, Ending::Cancel},  {&kMp3, Ending::Fail},  {&kMp3, Ending::DiskFull},
                                 {&kAac, Ending::Cancel},  {&kAac, Ending::Fail},  {&kAac, Ending::DiskFull},
                                 {&kOpus, Ending::Cancel}, {&kOpus, Ending::Fail}, {&kOpus, Ending::DiskFull},
                                 {&kOgg, Ending::Cancel},  {&kOgg, Ending::Fail},  {&kOgg, Ending::DiskFull}};

class SegmentEndingsTest : public SegmentsTest, public ::testing::WithParamInterface<size_t> {};

} // namespace

// The output keeps the longest run of finished segments from the start, and plays (after a full disk as far
// as it got, an M4A whose index has no room removed, as with one encoder); the scratch files, the temporary
// WAV and the threads are gone.
TEST_P(SegmentEndingsTest, KeepTheFinishedRunFromTheStart) {
    const EndingRow& row = kEndingRows[GetParam()];
    const bool cancel = row.ending == Ending::Cancel, diskFull = row.ending == Ending::DiskFull;
    const Codec& f = *row.format;
    // Three segments (their warm-ups may reach back to the start: the endings do not depend on them).
    const Codec three{f.name, f.proc, f.block, f.tail, 3, 24};
    auto count = [](const char* dir) { return QDir(dir).count() - 2; }; // without . and ..
    std::thread([] {}).join(); // ThreadSanitizer starts a thread of its own with the first one
    const auto threads = count("/proc/self/task"), files = count("/proc/self/fd");
    const auto input = MakeTone(static_cast<size_t>(three.seconds * kRate), 3);
    auto job = std::make_shared<CJobState>();
    job->m_tempWav = CTempWavFile::Reserve(dir.Path());
    ASSERT_TRUE(job->m_tempWav);
    job->m_strTempWavPath = job->m_tempWav->Path();
    std::string claimError;
    job->m_output = COutputClaim::ClaimExact(dir.File(std::string("ended.") + f.name), dir.File("none"),
                                             false, &claimError);
    ASSERT_TRUE(job->m_output) << claimError;
    job->m_strOutputPath = job->m_output->Path();
    WriteTempWav(job->m_strTempWavPath, input);

    std::mutex mutex;
    std::condition_variable changed;
    std::set<size_t> finished;
    auto observe = [&](size_t segment, bool done) -> std::string {
        std::unique_lock lock(mutex);
        if (done) {
            finished.insert(segment);
            changed.notify_all();
            return "";
        }
        if (segment != 2)
            return "";
        EXPECT_TRUE(changed.wait_for(lock, std::chrono::seconds(120), [&] { return finished.size() == 2; }));
        if (row.ending == Ending::Fail)
            return "Test failure";
        if (cancel) {
            job->m_bCancelRequested = 1;
            return "";
        }
        // Past the limit a write fails with EFBIG, as on a full disk (the scratch files stay below it).
        struct stat written {};
        EXPECT_EQ(stat(job->m_strOutputPath.c_str(), &written), 0);
        const rlimit limit{static_cast<rlim_t>(written.st_size) * 2, RLIM_INFINITY};
        setrlimit(RLIMIT_FSIZE, &limit);
        return "";
    };
    std::signal(SIGXFSZ, SIG_IGN);
    SetSegmentPolicy({3, 1.0, observe});
    ProgressView view;
    EXPECT_EQ(RunStep2(job, f.proc, view), -1);
    const rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
    setrlimit(RLIMIT_FSIZE, &unlimited);
    EXPECT_EQ(job->m_bConvertDone.load(), 0);
    EXPECT_EQ(job->m_bConvertFailed.load(), cancel ? 0 : 1);
    EXPECT_EQ(FileExists(job->m_strTempWavPath), !cancel); // after a failure, the job removes it
    if (diskFull) {
        ASSERT_EQ(messages.Texts().size(), 1u);
        const std::string message = messages.Texts()[0];
        EXPECT_TRUE(message.starts_with("Output file write error (File too large)")) << message;
        const Decoded d = Decode(job->m_strOutputPath);
        if (std::string(f.name) == "m4a") {
            EXPECT_FALSE(FileExists(job->m_strOutputPath));
            EXPECT_NE(message.find("was removed"), std::string::npos) << message;
        } else { // more than the first segment, less than the whole
            ASSERT_TRUE(d.ok) << d.warnings;
            EXPECT_GT(d.pcm.Frames(), static_cast<int64_t>(input.size() / 2) / 3);
            EXPECT_LT(d.pcm.Frames(), static_cast<int64_t>(input.size() / 2) * 5 / 6);
        }
        return;
    }
    EXPECT_EQ(messages.Texts(),
              cancel ? std::vector<std::string>{} : std::vector<std::string>{"Test failure"});

    // Segments 0 and 1: two thirds of the input (and what the second one ran on past its part), right.
    const Decoded d = Decode(job->m_strOutputPath);
    ASSERT_TRUE(d.ok) << d.warnings;
    const int64_t twoThirds = static_cast<int64_t>(input.size() / 2) * 2 / 3;
    // Segments start on the format's grid (for MP3 the padding pattern of its frames, 1.3 s at 128 kbps).
    EXPECT_GE(d.pcm.Frames(), twoThirds - 3 * kRate / 2);
    EXPECT_LE(d.pcm.Frames(), twoThirds + static_cast<int64_t>((f.tail + 1.5) * kRate));
    const Pcm in{2, input};
    const int lag = BestLag(d.pcm, in, -2000, 2000, twoThirds - 3 * kRate, kRate / 4);
    EXPECT_LT(RelativeError(d.pcm, in, lag, twoThirds - 3 * kRate, twoThirds - 2 * kRate), 0.3);

    WaitForEncoderThreads();
    job.reset();
    EXPECT_EQ(count("/proc/self/task"), threads);
    EXPECT_EQ(count("/proc/self/fd"), files);
}

std::string EndingRowName(const ::testing::TestParamInfo<size_t>& info) {
    const EndingRow& row = kEndingRows[info.param];
    static const char* const endings[] = {"_cancelled", "_failed", "_disk_full"};
    return std::string(row.format->name) + endings[static_cast<int>(row.ending)];
}

INSTANTIATE_TEST_SUITE_P(Formats, SegmentEndingsTest, ::testing::Range<size_t>(0, std::size(kEndingRows)),
                         EndingRowName);

namespace {

class CliJobsTest : public ::testing::Test {
protected:
    void SetUp() override {
        temp = dir.File("tmp/");
        settings = dir.File("settings.ini");
        WriteFileText(settings, "[General]\nTempPath=" + temp + "\n[mp3]\nBitreate Index=8\n");
    }
    TempDir dir;
    std::string temp, settings;
};

} // namespace

TEST_F(CliJobsTest, SeveralSourcesAtOnceOneFailing) {
    ASSERT_TRUE(MakeTestSource(dir.File("a.mkv"), 2.0, true));
    ASSERT_TRUE(MakeTestSource(dir.File("b.wav"), 3.0));
    WriteFileText(dir.File("bad.avi"), std::string(3000, '\x11'));
    std::string out, err;
    // The same source twice must not make two conversions write one output file.
    EXPECT_EQ(RunProgram(std::string(QUILLET_BIN_DIR) + "quillet-cli",
                         {"--settings", settings, "-j", "2", "-f", "mp3", dir.File("a.mkv"),
                          dir.File("bad.avi"), dir.File("b.wav"), dir.File("a.mkv")},
                         &out, &err),
              1);
    const std::set<std::string> expected{dir.File("a_OUTPUT.mp3"), dir.File("a_OUTPUT1.mp3"),
                                         dir.File("b_OUTPUT.mp3")};
    std::set<std::string> printed;
    for (const QString& line : QString::fromStdString(out).split('\n', Qt::SkipEmptyParts))
        printed.insert(line.toStdString());
    EXPECT_EQ(printed, expected);
    for (const std::string& output : expected) // the whole source each
        EXPECT_EQ(DecodeWithFfmpeg(output).frames,
                  std::lround(ProbeMediaDuration(
                                  dir.File(output.find("b_") != std::string::npos ? "b.wav" : "a.mkv")) *
                              44100))
            << output;
    // Every line says which source it is about.
    for (const QString& line : QString::fromStdString(err).split('\n', Qt::SkipEmptyParts)) {
        const QString text = line.startsWith("quillet-cli: ") ? line.mid(13) : line;
        EXPECT_TRUE(QRegularExpression("^\\[[1-4]/4\\] (a\\.mkv|bad\\.avi|b\\.wav): ").match(text).hasMatch())
            << line.toStdString();
    }
    EXPECT_GE(QString::fromStdString(err).count("[Step 2]"), 3);
    EXPECT_NE(err.find("[2/4] bad.avi: cannot read"), std::string::npos) << err;
    EXPECT_EQ(QDir(QString::fromStdString(temp)).count(), 2u); // only . and ..
}

// A streamed MP4 as a camera or a live recorder writes it (fragments, the index empty), long enough for two
// segments of Opus and Ogg Vorbis wherever two cores are free: quillet-cli's output lasts exactly as long as
// the source and decodes without a warning.
TEST_F(CliJobsTest, LongStreamedSourceToEveryJoinedFormat) {
    const std::string source = dir.File("live.mp4");
    ASSERT_TRUE(RunFfmpeg({"-f", "lavfi", "-i", ChirpSource(48000, 70), "-c:a", "aac", "-b:a", "128k",
                           "-movflags", "frag_keyframe+empty_moov+default_base_moof", source.c_str()}));
    const double seconds = ProbeMediaDuration(source);
    for (const char* format : {"ogg", "opus"}) {
        SCOPED_TRACE(format);
        const std::string output = dir.File(std::string("live.") + format);
        EXPECT_EQ(RunProgram(std::string(QUILLET_BIN_DIR) + "quillet-cli",
                             {"--settings", settings, "-q", "-f", format, "-o", output, source}),
                  0);
        const Decoded d = Decode(output); // at 44.1 kHz, as step 1 hands it over
        EXPECT_EQ(d.warnings, "");
        EXPECT_NEAR(static_cast<double>(d.pcm.Frames()), seconds * kRate, 1.0);
    }
    EXPECT_EQ(QDir(QString::fromStdString(temp)).count(), 2u); // only . and ..
}
