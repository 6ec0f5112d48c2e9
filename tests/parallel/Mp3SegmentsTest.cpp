// Step 2 of MP3 in segments on several threads, against one encoder over the same WAV; and several
// sources converted at once by quillet-cli -j.

#include "Mp3Segments.h"
#include "AudioSettings.h"
#include "Encoders.h"
#include "MediaProbe.h"
#include "SystemHelpers.h"
#include "TestMedia.h"
#include "TestSupport.h"

#include <QDir>
#include <QRegularExpression>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <mutex>
#include <random>
#include <set>
#include <thread>

namespace {

constexpr int kPairs = 12 * 44100;   // long enough for three segments after their warm-up
constexpr int64_t kNear = 40 * 1152; // sample pairs around a join

// Records the progress and which threads report it; may request the cancel at a given per mille.
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
        if (job && pos >= cancelAt)
            job->m_bCancelRequested = 1;
    }
    std::mutex mutex;
    int last = -1, cancelAt = 0;
    bool backwards = false;
    std::set<std::thread::id> threads;
    CJobState* job = nullptr;
};

// The temporary WAV as step 1 leaves it: samples from byte 44 on (the header is not read).
void WriteTempWav(const std::string& path, const std::vector<int16_t>& pcm) {
    std::string bytes(44, '\0');
    bytes.append(reinterpret_cast<const char*>(pcm.data()), pcm.size() * 2);
    WriteFileText(path, bytes);
}

// Runs step 2 of MP3 on the job's WAV as the job's encoder thread does; returns its result.
int RunStep2(const std::shared_ptr<CJobState>& job, ProgressView& view) {
    job->AttachView(&view);
    auto thread = CEncoderThread::Start(job, &Mp3EncodeProc);
    EXPECT_TRUE(WaitFor([&] { return !thread->IsRunning(); }, 120000));
    job->AttachView(nullptr);
    return thread->Result();
}

uint16_t Crc16(uint16_t crc, const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

// The MPEG-1 Layer III frames of a file between its ID3v2 and ID3v1 tags, as byte ranges.
std::vector<std::vector<uint8_t>> Frames(const std::vector<uint8_t>& file) {
    static constexpr int kKbps[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    std::vector<std::vector<uint8_t>> frames;
    const auto headers = Mp3Frames(file);
    for (size_t pos = headers.empty() ? 0 : headers[0].offset;
         pos + 4 <= file.size() - 128 && file[pos] == 0xFF;) {
        const size_t length = 144000 * kKbps[file[pos + 2] >> 4] / 44100 + ((file[pos + 2] >> 1) & 1);
        if (length == 0 || pos + length > file.size())
            break;
        frames.emplace_back(file.begin() + pos, file.begin() + pos + length);
        pos += length;
    }
    return frames;
}

// Signal against noise of `test` taken for `ref`, in dB, over sample pairs [from, to) (both channels).
double Snr(const DecodedAudio& ref, const DecodedAudio& test, int64_t from, int64_t to) {
    double signal = 0, noise = 0;
    for (int64_t i = from * ref.channels; i < to * ref.channels; ++i) {
        const double r = ref.samples[i], d = test.samples[i] - r;
        signal += r * r;
        noise += d * d;
    }
    return noise == 0 ? std::numeric_limits<double>::infinity() : 10 * std::log10(signal / noise);
}

class Mp3SegmentsTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetAppDirectoryForTesting(QUILLET_BIN_DIR);
        g_settings.LoadFrom(dir.File("none.ini"));
        g_settings.m_nMp3BitrateIndex = 8; // 128 kbps
        SetMp3SegmentPolicy({3, 1.0});
    }
    void TearDown() override {
        WaitForEncoderThreads();
        SetMp3SegmentPolicy({});
        SetAppDirectoryForTesting("");
    }

    // Encodes the WAV with `segments` segments (1: one encoder) into `name`; returns its bytes.
    std::vector<uint8_t> Encode(const std::string& wav, int segments, const std::string& name,
                                ProgressView& view) {
        SetMp3SegmentPolicy({segments, 1.0});
        auto job = std::make_shared<CJobState>();
        job->m_strTempWavPath = wav;
        job->m_strOutputPath = dir.File(name);
        EXPECT_EQ(RunStep2(job, view), 0) << name;
        return ReadBytes(job->m_strOutputPath);
    }

    TempDir dir;
    MessageRecorder messages;
};

} // namespace

TEST_F(Mp3SegmentsTest, JoinsAreThoseOfOneEncoder) {
    struct Case {
        const char* name;
        bool noise;
        int vbrIndex; // 0 constant bitrate
        int channelIndex;
    };
    std::vector<int16_t> sweep(2 * kPairs);
    for (int i = 0; i < kPairs; ++i) { // 50 Hz to 16 kHz, exponential, a different phase on the right
        const double phase = 2 * M_PI * 50 * 12 / std::log(320.0) * (std::pow(320.0, i / double(kPairs)) - 1);
        sweep[2 * i] = static_cast<int16_t>(16000 * std::sin(phase));
        sweep[2 * i + 1] = static_cast<int16_t>(16000 * std::cos(phase));
    }
    for (const Case& c : {Case{"sweep CBR", false, 0, 1}, Case{"noise CBR mono", true, 0, 3},
                          Case{"sweep VBR", false, 5, 0}, Case{"noise VBR", true, 5, 1}}) {
        SCOPED_TRACE(c.name);
        const std::string wav = dir.File("in.wav");
        WriteTempWav(wav, c.noise ? MakeNoise(kPairs, 7) : sweep);
        g_settings.m_nMp3VbrQualityIndex = c.vbrIndex;
        g_settings.m_nMp3ChannelIndex = c.channelIndex;
        g_settings.m_nMp3QualityIndex = 0; // Normal
        ProgressView view, serialView, highView;
        const auto joined = Encode(wav, 3, "joined.mp3", view);
        const auto serial = Encode(wav, 1, "serial.mp3", serialView);
        g_settings.m_nMp3QualityIndex = 2; // High, the neighbouring preset
        Encode(wav, 1, "high.mp3", highView);
        EXPECT_EQ(view.threads.size(), 3u); // the segments really ran side by side
        EXPECT_FALSE(view.backwards);
        EXPECT_EQ(view.last, serialView.last);

        // Frames away from the joins as one encoder writes them; the joins near a third and two thirds.
        const auto a = Frames(joined), b = Frames(serial);
        ASSERT_EQ(a.size(), b.size());
        const double joins[] = {kPairs / 3.0, kPairs * 2 / 3.0};
        for (size_t f = 1; f < a.size(); ++f) {
            const double nearest = joins[f * 1152 > kPairs / 2];
            EXPECT_TRUE(a[f] == b[f] || std::abs(f * 1152.0 - nearest) < kNear) << "frame " << f;
        }
        // The Info frame counts the joined stream; its music CRC covers the joined frames.
        const size_t xing = c.channelIndex == 3 ? 21 : 36;
        const size_t lameTag = xing + 120;
        ASSERT_GT(a[0].size(), lameTag + 36);
        EXPECT_TRUE(std::equal(a[0].begin(), a[0].begin() + lameTag + 32, b[0].begin())); // counts, TOC
        auto be16 = [&](size_t at) { return uint32_t(a[0][at]) << 8 | a[0][at + 1]; };
        auto be32 = [&](size_t at) { return be16(at) << 16 | be16(at + 2); };
        uint16_t musicCrc = 0;
        for (size_t f = 1; f < a.size(); ++f)
            musicCrc = Crc16(musicCrc, a[f].data(), a[f].size());
        EXPECT_EQ(be32(xing + 8), a.size() - 1);
        // The frames, between the ID3v2 tag and the ID3v1 tag.
        EXPECT_EQ(be32(xing + 12), joined.size() - 128 - Mp3Frames(joined)[0].offset);
        EXPECT_EQ(be16(lameTag + 32), musicCrc);
        EXPECT_EQ(be16(lameTag + 34), Crc16(0, a[0].data(), lameTag + 34));
        EXPECT_EQ(std::string(joined.end() - 128, joined.end() - 125), "TAG");

        // Decoded: exactly the input's samples; around each join no further from one encoder than the
        // neighbouring preset is; and the sweep continues without a jump.
        auto decode = [&](const char* name) { return DecodeWithFfmpeg(dir.File(name)); };
        const DecodedAudio pj = decode("joined.mp3"), ps = decode("serial.mp3"), ph = decode("high.mp3");
        ASSERT_TRUE(pj.ok && ps.ok && ph.ok);
        EXPECT_EQ(pj.frames, kPairs);
        auto worstJump = [](const DecodedAudio& d, int64_t from, int64_t to) {
            int worst = 0;
            for (int64_t i = from * d.channels; i < (to - 1) * d.channels; ++i)
                worst = std::max(worst, std::abs(d.samples[i + d.channels] - d.samples[i]));
            return worst;
        };
        for (const double join : joins) {
            const int64_t from = static_cast<int64_t>(join) - kNear, to = static_cast<int64_t>(join) + kNear;
            const double ours = Snr(ps, pj, from, to), presets = Snr(ps, ph, from, to);
            std::printf("%s, join at %.0f s: SNR %.1f dB against one encoder, High against Normal %.1f dB\n",
                        c.name, join / 44100, ours, presets);
            EXPECT_GE(ours, presets);
            EXPECT_TRUE(c.noise || worstJump(pj, from, to) <= worstJump(ps, from, to) + 64);
        }
    }
}

TEST_F(Mp3SegmentsTest, CancelStopsEveryWorkerAndLeavesNothingBehind) {
    auto count = [](const char* dir) { return QDir(dir).count() - 2; }; // without . and ..
    const auto pcm = MakeTone(kPairs, 3);
    std::thread([] {}).join(); // ThreadSanitizer starts a thread of its own with the first one
    const auto threads = count("/proc/self/task"), files = count("/proc/self/fd");
    std::mt19937 random(15);
    for (int round = 0; round < 6; ++round) {
        const int at = std::uniform_int_distribution<int>(0, 950)(random);
        SCOPED_TRACE(at);
        auto job = std::make_shared<CJobState>();
        job->m_tempWav = CTempWavFile::Reserve(dir.Path());
        ASSERT_TRUE(job->m_tempWav);
        job->m_strTempWavPath = job->m_tempWav->Path();
        job->m_strOutputPath = dir.File("cancelled.mp3");
        WriteTempWav(job->m_strTempWavPath, pcm);
        ProgressView view;
        view.job = job.get();
        view.cancelAt = at;
        EXPECT_EQ(RunStep2(job, view), -1);
        EXPECT_EQ(job->m_bConvertDone.load() + job->m_bConvertFailed.load(), 0);
        EXPECT_FALSE(FileExists(job->m_strTempWavPath));
        EXPECT_TRUE(FileExists(job->m_strOutputPath)); // the partial output stays
        // The other two workers end after the chunk they were encoding (2.2 per mille of input each).
        EXPECT_LE(view.last, at + 6);
        EXPECT_TRUE(messages.Texts().empty());
    }
    WaitForEncoderThreads();
    EXPECT_EQ(count("/proc/self/task"), threads);
    EXPECT_EQ(count("/proc/self/fd"), files);
}

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
