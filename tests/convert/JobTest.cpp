#include "AudioSettings.h"
#include "JobHarness.h"
#include "SystemHelpers.h"
#include "TestMedia.h"

#include <QDir>
#include <algorithm>
#include <climits>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

class JobTest : public JobTestBase {
protected:
    void SetUp() override {
        JobTestBase::SetUp();
        ASSERT_TRUE(MakeTestSource(source, 4.0, true));
    }
    std::string source = dir.File("tone clip.mkv");
};

// The Xing/Info frame's quality field, as LAME fills it: 100 - 10 x VBR quality - quality.
int XingQuality(const std::vector<uint8_t>& file, const std::string& tag) {
    const auto at =
        static_cast<size_t>(std::search(file.begin(), file.end(), tag.begin(), tag.end()) - file.begin());
    if (file.size() < at + 120)
        return -1;
    return file[at + 116] << 24 | file[at + 117] << 16 | file[at + 118] << 8 |
           file[at + 119]; // after the TOC
}

} // namespace

// Each format's job with settings other than the defaults: the output holds the range, and its stream
// carries what the settings say (frame headers and VBR header for MP3, the identification header for
// Ogg Vorbis, the stream's bitrate for WMA).
TEST_F(JobTest, SettingsReachTheEncoders) {
    struct Row {
        const char* name;
        std::function<void(CAudioSettings&)> set;
        std::function<void(const std::string& output)> check;
    };
    const Row rows[] = {
        {"clip_OUTPUT.mp3",
         [](CAudioSettings& s) {
             s.m_nMp3ChannelIndex = 2;  // dual channel
             s.m_nMp3BitrateIndex = 10; // 192 kbps
             s.m_nMp3QualityIndex = 2;  // high: LAME's quality 2
             s.m_szArtist = "Some Artist";
         },
         [](const std::string& out) {
             const auto file = ReadBytes(out);
             const auto frames = Mp3Frames(file);
             ASSERT_GT(frames.size(), 10u);
             for (size_t i = 1; i < frames.size(); ++i)
                 ASSERT_TRUE(frames[i].mode == 2 && frames[i].kbps == 192) << "frame " << i;
             EXPECT_EQ(XingQuality(file, "Info"), 100 - 40 - 2);
             EXPECT_EQ(ProbeFile(out)["TAG:artist"], "Some Artist");
         }},
        {"clip_OUTPUT1.mp3",
         [](CAudioSettings& s) {
             s.m_nMp3ChannelIndex = 3;    // mono
             s.m_nMp3BitrateIndex = 0;    // at least 32 kbps
             s.m_nMp3VbrQualityIndex = 5; // "4": LAME's VBR quality 4
             s.m_nMp3VbrBitrateIndex = 4; // at most 64 kbps
         },
         [](const std::string& out) {
             const auto file = ReadBytes(out);
             const auto frames = Mp3Frames(file);
             ASSERT_GT(frames.size(), 10u);
             for (size_t i = 1; i < frames.size(); ++i)
                 ASSERT_TRUE(frames[i].mode == 3 && frames[i].kbps >= 32 && frames[i].kbps <= 64)
                     << "frame " << i;
             EXPECT_EQ(XingQuality(file, "Xing"), 100 - 40 - 5);
         }},
        {"clip_OUTPUT.ogg",
         [](CAudioSettings& s) {
             s.m_nOggMinBitrateIndex = 4; // 64 kbps
             s.m_nOggNominalBitrateIndex = 7;
             s.m_nOggMaxBitrateIndex = 9; // 196 kbps
             s.m_szAlbum = "An Album";
         },
         [](const std::string& out) {
             const VorbisIdent ident = ReadVorbisIdent(ReadBytes(out));
             EXPECT_EQ(std::tuple(ident.minimum, ident.nominal, ident.maximum),
                       std::tuple(64000, 128000, 196000));
             auto info = ProbeFile(out);
             EXPECT_EQ(info["TAG:ALBUM"], "An Album");
             EXPECT_EQ(info["TAG:TITLE"], "clip_OUTPUT.ogg");
         }},
        {"clip_OUTPUT.wma", [](CAudioSettings& s) { s.m_nWmaBitrateIndex = 3; },
         [](const std::string& out) {
             auto info = ProbeFile(out);
             EXPECT_EQ(info["bit_rate"], "40000");
             EXPECT_EQ(info["sample_rate"], "32000");
         }},
        {"clip_OUTPUT.wav",
         [](CAudioSettings& s) {
             s.m_nWavSampleIndex = 3; // 16000 Hz
             s.m_nWavBitsIndex = 1;
             s.m_nWavChannelIndex = 0;
         },
         [](const std::string& out) { EXPECT_EQ(GetFileSize64(out), 44 + 24000 * 2); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        g_settings.LoadFrom(dir.File("none.ini"));
        const std::string ext = QString(row.name).section('.', -1).toStdString();
        g_settings.m_nFormatIndex = ext == "mp3"   ? FORMAT_MP3
                                    : ext == "ogg" ? FORMAT_OGG
                                    : ext == "wma" ? FORMAT_WMA
                                                   : FORMAT_WAV;
        row.set(g_settings);
        const std::string out = dir.File(row.name);
        const Outcome o = Run(source, 1.0, 2.5, out);
        ASSERT_EQ(o.result, IDOK) << LastMessage();
        EXPECT_EQ(view.caption, CConversionJob::CaptionPrefix(g_settings.m_nFormatIndex) + out);
        EXPECT_EQ(view.steps.size(), ext == "wav" ? 1u : 2u);
        EXPECT_TRUE(TempFolderEmpty());
        row.check(out);
        // The WMA decoder gives one or two frames of near-silence after the input.
        const DecodedAudio decoded = DecodeWithFfmpeg(out);
        EXPECT_GE(decoded.frames, llround(1.5 * decoded.rate)) << decoded.error;
        EXPECT_LE(decoded.frames, llround(1.5 * decoded.rate) + (ext == "wma" ? 4096 : 0));
    }
    EXPECT_EQ(messages.Count(), 0u);
}

// Cancelled in step 1 the WAV written so far is closed with a header that matches it; in step 2 the
// partial output stays (Ogg as written, WMA finished so that it plays); the temporary WAV always goes.
TEST_F(JobTest, CancelKeepsWhatWasWrittenAndRemovesTheTemporaryWav) {
    // Ten minutes: once the first megabyte of the WAV is on disk, most of the work is still ahead.
    const std::string longSource = dir.File("long.wav");
    ASSERT_TRUE(RunFfmpeg(
        {"-f", "lavfi", "-i", "sine=d=600:r=8000", "-c:a", "pcm_u8", QString::fromStdString(longSource)}));
    g_settings.m_nWavSampleIndex = 8; // 48000 Hz
    g_settings.m_nWavBitsIndex = 1;
    for (int format : {FORMAT_WAV, FORMAT_MP3, FORMAT_OGG, FORMAT_WMA}) {
        SCOPED_TRACE(format);
        g_settings.m_nFormatIndex = format;
        const std::string out = dir.File("partial" + std::to_string(format));
        const Outcome o = Run(longSource, 0, format == FORMAT_WAV ? 600 : 20, out, [&](CConversionJob& job) {
            // Step 2 ends only at the job's next timer tick, so a cancel then always lands.
            WaitFor([&] { return format == FORMAT_WAV ? GetFileSize64(out) > 44 : view.InStep2(100); },
                    120000);
            job.Cancel();
        });
        EXPECT_EQ(o.result, IDCANCEL);
        EXPECT_FALSE(o.failed) << LastMessage();
        EXPECT_TRUE(TempFolderEmpty());
        const std::string written = ReadFileText(out);
        if (format == FORMAT_WAV) {
            ASSERT_GT(written.size(), 44u);
            EXPECT_EQ(ReadLE32(written, 40) + 44, written.size());
        } else if (format == FORMAT_WMA) {
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
        const Outcome o = Run(lying, 0, end, dir.File("out.wav"));
        if (fits) {
            ASSERT_EQ(o.result, IDOK) << LastMessage();
            // Step 1 ends with the bar full: a count on a scale that uses the bar's 31 bits, in the
            // range it was given if progress was reported before.
            EXPECT_GT(view.lastPos.load(), INT_MAX / 2);
            EXPECT_TRUE(view.upperAtLastPos.load() == 0 || view.upperAtLastPos.load() == view.lastPos.load());
            EXPECT_EQ(ReadWavData(dir.File("out.wav"), 2, 2).Frames(), 2 * 44100);
        } else {
            EXPECT_TRUE(o.failed);
            ASSERT_EQ(messages.Count(), before + 1);
            EXPECT_NE(LastMessage().find("is too long for one WAV file (4 GB at most)"), std::string::npos)
                << LastMessage();
        }
    }
}

TEST_F(JobTest, TheTemporaryWavIsPrivateAndALinkSwappedInIsNeverWrittenThrough) {
    g_settings.m_nFormatIndex = FORMAT_MP3;
    mode_t seen = 0;
    ASSERT_EQ(Run(source, 0, 3, dir.File("out.mp3"),
                  [&](CConversionJob& job) {
                      WaitFor([&] { return job.IsEnded() || view.lastPos.load() > 0; });
                      struct stat st;
                      if (lstat(job.m_strTempWavPath.c_str(), &st) == 0)
                          seen = st.st_mode;
                  })
                  .result,
              IDOK);
    EXPECT_TRUE(S_ISREG(seen));
    EXPECT_EQ(seen & 0777, 0600u);

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

TEST(NoShell, NoProgramOrModuleCallsAShell) {
    // Files and addresses are opened without a shell: no binary imports a function that runs one (the
    // hyperlink opener goes through QDesktopServices, which starts xdg-open directly).
    const QStringList binaries =
        QDir(QUILLET_BIN_DIR).entryList({"quillet", "quillet-cli", "*.so"}, QDir::Files);
    ASSERT_GE(binaries.size(), 9) << binaries.join(' ').toStdString();
    for (const QString& name : binaries) {
        std::string out;
        ASSERT_EQ(RunProgram("nm", {"-D", "--undefined-only", QUILLET_BIN_DIR + name.toStdString()}, &out),
                  0);
        for (const QString& line : QString::fromStdString(out).split('\n')) {
            const QString symbol = line.section(' ', -1).section('@', 0, 0);
            for (const char* shell : {"system", "popen", "execl", "execlp", "execle", "execvp", "wordexp"})
                EXPECT_NE(symbol, shell) << name.toStdString() << " imports " << shell;
        }
    }
}
