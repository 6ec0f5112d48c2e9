#include "AudioSettings.h"
#include "ConversionJob.h"
#include "ProcessingDlg.h"
#include "SystemHelpers.h"
#include "TestMedia.h"
#include "TestSupport.h"

#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <climits>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

// Records what a job shows; positions may come from the encoder thread.
class RecordingView : public IJobView {
public:
    void SetCaption(const std::string& text) override { caption = text; }
    void SetStep(const std::string& text) override {
        steps.push_back(text);
        if (onStep)
            onStep(steps.size());
    }
    void SetElapsed(const std::string&) override {}
    void SetProgressRange(int, int upper) override { this->upper = upper; }
    void SetProgressPos(int pos) override {
        lastPos = pos;
        upperAtLastPos = upper.load();
    }
    // Step 2 has reported at least this per mille (until then the bar holds step 1's count).
    bool InStep2(int perMille) const { return steps.size() == 2 && lastPos >= perMille && lastPos <= 1000; }

    std::string caption;
    std::vector<std::string> steps;
    std::function<void(size_t)> onStep; // with the step's number, before it starts
    std::atomic<int> upper{0}, lastPos{0}, upperAtLastPos{0};
};

// Jobs as the program runs them, over the build's program directory and default settings (the format
// and the rest come from g_settings); the temporary WAV is reserved in `temp`, messages are recorded.
class JobTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetAppDirectoryForTesting(QUILLET_BIN_DIR);
        g_settings.LoadFrom(dir.File("none.ini"));
        ASSERT_TRUE(CreateDirectoryPath(temp));
        ASSERT_TRUE(MakeTestSource(source, 4.0, true));
    }
    void TearDown() override { SetAppDirectoryForTesting(""); }

    // Runs a job to its end (the encoder thread's too); `during` runs once it has started, and may cancel.
    std::pair<int, bool> Run(const std::string& source, double start, double end, const std::string& output,
                             const std::function<void(CConversionJob&)>& during = {}) {
        view.steps.clear();
        view.upper = view.lastPos = view.upperAtLastPos = 0;
        CConversionJob job(view);
        job.m_strSourcePath = source;
        job.m_dStartTime = start;
        job.m_dEndTime = end;
        job.m_strOutputPath = output;
        if (g_settings.m_nFormatIndex != FORMAT_WAV)
            job.m_tempWav = CTempWavFile::Reserve(temp);
        job.m_strTempWavPath = job.m_tempWav ? job.m_tempWav->Path() : temp + CTempWavFile::kName;
        job.Start();
        if (during)
            during(job);
        EXPECT_TRUE(WaitFor([&] { return job.IsEnded(); }, 120000)) << "the job did not end";
        job.m_tempWav.reset();
        WaitForEncoderThreads();
        return {job.Result(), job.IsFailed()};
    }
    std::string LastMessage() const { return messages.Count() ? messages.Texts().back() : ""; }

    TempDir dir;
    std::string temp = dir.File("tmp/"), source = dir.File("tone clip.mkv");
    MessageRecorder messages;
    RecordingView view;
};

// What a stream says of the settings it was made with: the frames' channel mode and bitrates and the
// VBR header's kind and quality field (100 - 10 x VBR quality - quality, as LAME fills it) for MP3; the
// identification header's bitrates for Ogg Vorbis; the stream's bitrate and rate for WMA and WAV.
std::string StreamSummary(const std::string& path) {
    const auto file = ReadBytes(path);
    auto info = ProbeFile(path);
    if (info["codec_name"] == "mp3") {
        const auto frames = Mp3Frames(file);
        int low = 999, high = 0;
        std::string modes;
        for (size_t i = 1; i < frames.size(); ++i) {
            low = std::min(low, frames[i].kbps);
            high = std::max(high, frames[i].kbps);
            if (modes.find(static_cast<char>('0' + frames[i].mode)) == std::string::npos)
                modes += static_cast<char>('0' + frames[i].mode);
        }
        const size_t first = frames.empty() ? 0 : frames[0].offset; // after the ID3v2 tag
        const std::string head(file.begin() + static_cast<long>(first),
                               file.begin() + static_cast<long>(first) + 200);
        const size_t tag = std::min(head.find("Xing"), head.find("Info")),
                     q = first + tag + 116; // after the TOC
        return "mode " + modes + ", " + std::to_string(low) + ".." + std::to_string(high) + " kbps, " +
               head.substr(tag, 4) + " " +
               std::to_string(file.at(q) << 24 | file[q + 1] << 16 | file[q + 2] << 8 | file[q + 3]);
    }
    if (info["codec_name"] == "vorbis") {
        const VorbisIdent ident = ReadVorbisIdent(file);
        return std::to_string(ident.minimum) + "/" + std::to_string(ident.nominal) + "/" +
               std::to_string(ident.maximum);
    }
    return info["codec_name"] + " " + info["bit_rate"] + " " + info["sample_rate"] + " " + info["channels"];
}

} // namespace

// Each format's job with settings other than the defaults: the output holds the range, and its stream
// carries what the settings say (frame headers and VBR header for MP3, the identification header for
// Ogg Vorbis, the stream's bitrate for WMA).
TEST_F(JobTest, SettingsReachTheEncoders) {
    struct Row {
        int format;
        std::function<void(CAudioSettings&)> set;
        const char* stream;
    } rows[] = {
        {FORMAT_MP3,
         [](CAudioSettings& s) {
             s.m_nMp3ChannelIndex = 2;  // dual channel: mode 2
             s.m_nMp3BitrateIndex = 10; // 192 kbps
             s.m_nMp3QualityIndex = 2;  // high: LAME's quality 2
         },
         "mode 2, 192..192 kbps, Info 58"},
        {FORMAT_MP3,
         [](CAudioSettings& s) {
             s.m_nMp3ChannelIndex = 3;    // mono: mode 3
             s.m_nMp3BitrateIndex = 0;    // at least 32 kbps
             s.m_nMp3VbrQualityIndex = 5; // "4": LAME's VBR quality 4, with its quality 5
             s.m_nMp3VbrBitrateIndex = 4; // at most 64 kbps
         },
         "mode 3, 32..64 kbps, Xing 55"},
        {FORMAT_OGG,
         [](CAudioSettings& s) {
             s.m_nOggMinBitrateIndex = 4; // 64 kbps
             s.m_nOggNominalBitrateIndex = 7;
             s.m_nOggMaxBitrateIndex = 9; // 196 kbps
         },
         "64000/128000/196000"},
        {FORMAT_WMA, [](CAudioSettings& s) { s.m_nWmaBitrateIndex = 3; }, "wmav2 40000 32000 2"},
        {FORMAT_WAV,
         [](CAudioSettings& s) {
             s.m_nWavSampleIndex = 3; // 16000 Hz
             s.m_nWavBitsIndex = 1;
             s.m_nWavChannelIndex = 0;
         },
         "pcm_s16le 256000 16000 1"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.stream);
        g_settings.LoadFrom(dir.File("none.ini"));
        g_settings.m_nFormatIndex = row.format;
        g_settings.m_szArtist = "Some Artist";
        row.set(g_settings);
        const std::string out = dir.File("out" + std::to_string(&row - rows));
        const auto [result, failed] = Run(source, 1.0, 2.5, out);
        ASSERT_EQ(result, IDOK) << LastMessage();
        EXPECT_EQ(view.caption, CConversionJob::CaptionPrefix(row.format) + out);
        EXPECT_EQ(view.steps.size(), row.format == FORMAT_WAV ? 1u : 2u);
        EXPECT_TRUE(FilesIn(temp).empty());
        EXPECT_EQ(StreamSummary(out), row.stream);
        // The WMA decoder gives one or two frames of near-silence after the input.
        const DecodedAudio decoded = DecodeWithFfmpeg(out);
        EXPECT_GE(decoded.frames, llround(1.5 * decoded.rate)) << decoded.error;
        EXPECT_LE(decoded.frames, llround(1.5 * decoded.rate) + (row.format == FORMAT_WMA ? 4096 : 0));
        if (row.format != FORMAT_WAV && row.format != FORMAT_WMA) {
            EXPECT_EQ(ProbeFile(out)[row.format == FORMAT_MP3 ? "TAG:artist" : "TAG:ARTIST"], "Some Artist");
        }
    }
    EXPECT_EQ(messages.Count(), 0u);
}

namespace {

// The length a file's header gives, in seconds; -1 when it gives none.
double HeaderSeconds(const std::string& path) {
    std::string out;
    RunProgram("ffprobe", {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", path}, &out);
    return out.empty() || out.starts_with("N/A") ? -1 : std::stod(out);
}

} // namespace

// A job that ends before its end keeps what it wrote, and what it keeps plays. Cancelled in step 1 the
// WAV written so far is closed with a header that matches it; in step 2 the partial output stays (Ogg
// as written, WMA finished). A full disk in step 2 is a failure that keeps output that plays to its
// stated length (cut back to whole packets, its header's length rewritten), or, for an M4A, whose index
// no longer fits, removes it and says so. A source cut shorter under the job is a failure. The temporary
// WAV always goes.
TEST_F(JobTest, EndingsBeforeTheEndKeepOnlyOutputThatPlays) {
    // Ten minutes: once the first megabyte of the WAV is on disk, most of the work is still ahead.
    const std::string longSource = dir.File("long.wav");
    ASSERT_TRUE(RunFfmpeg(
        {"-f", "lavfi", "-i", "sine=d=600:r=8000", "-c:a", "pcm_u8", QString::fromStdString(longSource)}));
    g_settings.m_nWavSampleIndex = 8; // 48000 Hz
    g_settings.m_nWavBitsIndex = 1;
    // 44100 Hz stereo: the source's own 8 kHz mono would fit in the limit.
    g_settings.m_nFlacSoundIndex = g_settings.m_nAacSoundIndex = 1;
    constexpr rlim_t kFullAt = 150 * 1024; // well short of 30 s of output in any format
    enum Ending { Cancel, DiskFull, SourceCut };
    const struct {
        int format;
        Ending ending;
    } rows[] = {{FORMAT_WAV, Cancel},    {FORMAT_MP3, Cancel},    {FORMAT_OGG, Cancel},
                {FORMAT_WMA, Cancel},    {FORMAT_FLAC, DiskFull}, {FORMAT_WMA, DiskFull},
                {FORMAT_OPUS, DiskFull}, {FORMAT_M4A, DiskFull},  {FORMAT_MP3, SourceCut}};
    std::signal(SIGXFSZ, SIG_IGN); // past the limit a write fails with EFBIG, as on a full disk
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.format) + " ending " + std::to_string(row.ending));
        const bool diskFull = row.ending == DiskFull;
        g_settings.m_nFormatIndex = row.format;
        const std::string source = dir.File("source.wav");
        WriteFileText(source, ReadFileText(longSource));
        const std::string out = dir.File("partial" + std::to_string(&row - rows));
        const size_t before = messages.Count();
        // The disk fills once step 1 is done: only the output meets the limit.
        view.onStep = [&](size_t step) {
            const rlimit limit{step == 2 && diskFull ? kFullAt : RLIM_INFINITY, RLIM_INFINITY};
            setrlimit(RLIMIT_FSIZE, &limit);
        };
        const auto [result, failed] = Run(
            source, 0,
            row.format == FORMAT_WAV ? 600
            : diskFull               ? 30
                                     : 20,
            out, [&](CConversionJob& job) {
                if (row.ending == SourceCut) { // truncated (or rewritten) under the running job
                    ASSERT_EQ(truncate(source.c_str(), 100000), 0);
                }
                if (row.ending != Cancel)
                    return;
                // Step 2 ends only at the job's next timer tick, so a cancel then always lands.
                WaitFor(
                    [&] { return row.format == FORMAT_WAV ? GetFileSize64(out) > 44 : view.InStep2(100); },
                    120000);
                job.Cancel();
            });
        const rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
        setrlimit(RLIMIT_FSIZE, &unlimited);
        view.onStep = {};
        EXPECT_EQ(result, IDCANCEL);
        EXPECT_EQ(failed, row.ending != Cancel) << LastMessage();
        EXPECT_TRUE(FilesIn(temp).empty());
        const std::string written = ReadFileText(out);
        if (row.ending == SourceCut) {
            EXPECT_NE(LastMessage().find("was changed while it was read"), std::string::npos)
                << LastMessage();
            EXPECT_FALSE(FileExists(out)) << "nothing was written: no output poses as one";
        } else if (diskFull) {
            ASSERT_EQ(messages.Count(), before + 1);
            EXPECT_TRUE(LastMessage().starts_with("Output file write error (File too large)"))
                << LastMessage();
            if (row.format == FORMAT_M4A) {
                EXPECT_FALSE(FileExists(out));
                EXPECT_NE(LastMessage().find("could not be finished so that it plays, and was removed"),
                          std::string::npos);
                continue;
            }
            const DecodedAudio decoded = DecodeWithFfmpeg(out);
            EXPECT_EQ(decoded.error, "") << "what is kept decodes to its end";
            EXPECT_GT(decoded.frames, decoded.rate);
            // ASF's header also counts the few frames it had gathered into a packet that found no room.
            EXPECT_NEAR(HeaderSeconds(out), static_cast<double>(decoded.frames) / decoded.rate,
                        row.format == FORMAT_WMA ? 1.0 : 0.05);
        } else if (row.format == FORMAT_WAV) {
            ASSERT_GT(written.size(), 44u);
            EXPECT_EQ(ReadLE32(written, 40) + 44, written.size());
        } else if (row.format == FORMAT_WMA) {
            const int64_t frames = DecodeWithFfmpeg(out).frames;
            EXPECT_GT(frames, 44100 * 2);
            EXPECT_LT(frames, 44100 * 21);
        } else {
            EXPECT_GT(written.size(), 1000u);
        }
    }
}

// A source whose container claims 100 million seconds: a range past 2 GiB of WAV still shows on the
// 32-bit bar, and one past the 4 GB a WAV file can describe is refused before anything is written.
TEST_F(JobTest, LongRangesFitTheBarAndTheWavLimit) {
    const std::string lying = dir.File("lying.mkv");
    ASSERT_TRUE(RunFfmpeg(
        {"-f", "lavfi", "-i", ChirpSource(44100, 2), "-c:a", "pcm_s16le", QString::fromStdString(lying)}));
    std::string bytes = ReadFileText(lying);
    const size_t duration = bytes.find("\x44\x89\x88"); // Segment Info, Duration: an 8-byte float, in ms
    ASSERT_NE(duration, std::string::npos);
    const double ms = 1e11;
    for (int i = 0; i < 8; ++i)
        bytes[duration + 3 + static_cast<size_t>(i)] =
            static_cast<char>(reinterpret_cast<const uint8_t*>(&ms)[7 - i]);
    WriteFileText(lying, bytes);
    g_settings.m_nFormatIndex = FORMAT_WAV;
    g_settings.m_nWavSampleIndex = 7; // 44100 Hz, 16-bit stereo: 4 bytes a frame
    g_settings.m_nWavBitsIndex = 1;
    g_settings.m_nWavChannelIndex = 1;
    // The most data a WAV header can give is 4294967258 bytes: 1073741814 frames, 24347.8869 s.
    for (const auto& [end, fits] : {std::pair{24347.8868, true}, std::pair{24347.887, false}}) {
        SCOPED_TRACE(end);
        const size_t before = messages.Count();
        const auto [result, failed] = Run(lying, 0, end, dir.File("out.wav"));
        if (fits) {
            ASSERT_EQ(result, IDOK) << LastMessage();
            // Step 1 ends with the bar full: a count on a scale that uses the bar's 31 bits, in the
            // range it was given if progress was reported before.
            EXPECT_GT(view.lastPos.load(), INT_MAX / 2);
            EXPECT_TRUE(view.upperAtLastPos.load() == 0 || view.upperAtLastPos.load() == view.lastPos.load());
            EXPECT_EQ(ReadWavData(dir.File("out.wav"), 2, 2).Frames(), 2 * 44100);
        } else {
            EXPECT_TRUE(failed);
            ASSERT_EQ(messages.Count(), before + 1);
            EXPECT_NE(LastMessage().find("is too long for one WAV file (4 GB at most)"), std::string::npos)
                << LastMessage();
        }
    }
}

TEST_F(JobTest, ALinkSwappedInForTheTemporaryWavIsNeverWrittenThrough) {
    g_settings.m_nFormatIndex = FORMAT_MP3;
    // Someone who can write to the temporary folder replaces the reserved file by a link to a file of
    // the user's between the reservation and step 1: the victim stays as it was, the job fails.
    const std::string victim = dir.File("victim.txt");
    WriteFileText(victim, "precious");
    CConversionJob job(view);
    job.m_strSourcePath = source;
    job.m_dEndTime = 3;
    job.m_strOutputPath = dir.File("out2.mp3");
    job.m_tempWav = CTempWavFile::Reserve(temp);
    ASSERT_TRUE(job.m_tempWav);
    job.m_strTempWavPath = job.m_tempWav->Path();
    ASSERT_EQ(unlink(job.m_strTempWavPath.c_str()), 0);
    ASSERT_EQ(symlink(victim.c_str(), job.m_strTempWavPath.c_str()), 0);
    job.Start();
    ASSERT_TRUE(WaitFor([&] { return job.IsEnded(); }, 60000));
    EXPECT_TRUE(job.IsFailed());
    ASSERT_EQ(messages.Count(), 1u);
    EXPECT_NE(LastMessage().find(job.m_strTempWavPath), std::string::npos) << LastMessage();
    job.m_tempWav.reset();
    EXPECT_EQ(ReadFileText(victim), "precious");
    struct stat st;
    EXPECT_EQ(lstat(job.m_strTempWavPath.c_str(), &st), 0) << "the link is not the job's file to remove";
}

// In the Processing dialog Cancel asks first: No lets the job go on to its end, Yes ends it at once.
// Enter does nothing, and Escape is a Cancel.
TEST_F(JobTest, TheDialogsCancelAsksAndOnlyYesEndsTheJob) {
    for (const int answer : {IDNO, IDYES}) {
        CProcessingDlg dlg;
        dlg.m_strSourcePath = source;
        dlg.m_dEndTime = 4;
        dlg.m_strOutputPath = dir.File("out" + std::to_string(answer) + ".mp3");
        dlg.m_tempWav = CTempWavFile::Reserve(temp);
        dlg.m_strTempWavPath = dlg.m_tempWav->Path();
        messages.QueueAnswer(IDNO);
        messages.QueueAnswer(answer);
        QTimer::singleShot(0, &dlg, [&] {
            EXPECT_EQ(dlg.findChild<QLabel*>("1046")->text().toStdString(),
                      "Convert to Mp3 : " + dlg.m_strOutputPath);
            QTest::keyClick(&dlg, Qt::Key_Return);
            QTest::keyClick(&dlg, Qt::Key_Escape); // answered No
            dlg.findChild<QPushButton*>("2")->click();
        });
        EXPECT_EQ(dlg.exec(), answer == IDNO ? IDOK : IDCANCEL);
        EXPECT_FALSE(dlg.IsFailed());
        EXPECT_EQ(messages.Count(), answer == IDNO ? 2u : 4u);
        EXPECT_TRUE(answer == IDYES || QRegularExpression("^Time Elapsed:\\d\\d:\\d\\d:\\d\\d\\.\\d$")
                                           .match(dlg.findChild<QLabel*>("1024")->text())
                                           .hasMatch());
    }
    WaitForEncoderThreads();
    EXPECT_EQ(DecodeWithFfmpeg(dir.File("out7.mp3")).frames, 4 * 44100);
}
