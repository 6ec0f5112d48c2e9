#include "AudioSettings.h"
#include "JobHarness.h"
#include "MessageService.h"
#include "SystemHelpers.h"
#include "TestMedia.h"

#include <QDir>
#include <QFile>
#include <cstring>
#include <dirent.h>
#include <gtest/gtest.h>
#include <random>

namespace {

class JobTest : public JobTestBase {
protected:
    void SetUp() override {
        JobTestBase::SetUp();
        source = dir.File("tone clip.mkv");
        ASSERT_TRUE(MakeTestSource(source, 4.0, true));
        temp = dir.File("tmp/");
        ASSERT_TRUE(CreateDirectoryPath(temp));
    }

    bool TempFolderEmpty() const {
        return QDir(QString::fromStdString(temp)).entryList(QDir::Files | QDir::Hidden).isEmpty();
    }

    std::string source, temp;
};

// Step 2 has reported at least this per mille (until its first report the bar still holds step 1's
// byte count, which is far above 1000).
bool InStep2(const RecordingView& v, int perMille) {
    const int pos = v.lastPos.load();
    return v.steps.size() == 2 && pos >= perMille && pos <= 1000;
}

int OpenFileCount() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d))
            ++n;
        closedir(d);
    }
    return n;
}

} // namespace

TEST_F(JobTest, WavOutputIsTheWholeJob) {
    g_settings.m_nFormatIndex = FORMAT_WAV;
    g_settings.m_nWavSampleIndex = 7; // 44100
    g_settings.m_nWavBitsIndex = 1;
    g_settings.m_nWavChannelIndex = 1;
    const std::string out = dir.File("clip_OUTPUT.wav");
    const JobOutcome o = Run({source, 1.0, 2.5, out, temp});
    EXPECT_EQ(o.result, IDOK);
    EXPECT_FALSE(o.failed);
    EXPECT_EQ(GetFileSize64(out), 44 + 66150 * 4);
    EXPECT_EQ(view.caption, "Convert to Wav : " + out);
    EXPECT_EQ(view.steps, std::vector<std::string>{"[Step 1] - Extract WAV audio from source file.  "});
    EXPECT_TRUE(TempFolderEmpty());
    EXPECT_EQ(messages.Count(), 0u);
}

TEST_F(JobTest, Mp3OutputDecodesToTheRangeAndCarriesTheTag) {
    g_settings.m_nFormatIndex = FORMAT_MP3;
    g_settings.m_szArtist = "Ärzte";
    g_settings.m_szAlbum = "";
    g_settings.m_szYear = "99";
    g_settings.m_nGenreIndex = 147;
    const std::string out = dir.File("song_OUTPUT.mp3");
    const JobOutcome o = Run({source, 0.5, 3.0, out, temp});
    ASSERT_EQ(o.result, IDOK) << (messages.Count() ? messages.Texts()[0] : "");
    EXPECT_EQ(DecodedFrames(out), 110250);
    EXPECT_TRUE(TempFolderEmpty());
    EXPECT_EQ(view.steps.back(), "[Step 2] - Convert Wav audio to mp3 file");
    EXPECT_EQ(view.upper.load(), 1000);
    EXPECT_GE(view.lastPos.load(), 990);
    EXPECT_LT(view.lastPos.load(), 1000);

    QFile f(QString::fromStdString(out));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    f.seek(f.size() - 128);
    const QByteArray tag = f.read(128);
    EXPECT_EQ(tag.left(3), "TAG");
    EXPECT_EQ(tag.mid(3, 30), QByteArray("song") + QByteArray(26, ' '));
    EXPECT_EQ(tag.mid(33, 30), QByteArray("\xC4rzte") + QByteArray(25, ' ')); // ID3v1 text is Latin-1
    EXPECT_EQ(tag.mid(63, 30), QByteArray(30, ' '));
    EXPECT_EQ(tag.mid(93, 4), "99  ");
    EXPECT_EQ(tag.mid(97, 30), QByteArray("Quillet") + QByteArray(23, ' '));
    EXPECT_EQ(static_cast<unsigned char>(tag[127]), 147);
}

TEST_F(JobTest, OggAndWmaOutputsDecodeToTheRange) {
    g_settings.m_nFormatIndex = FORMAT_OGG;
    g_settings.m_szArtist = "Some Artist";
    const std::string ogg = dir.File("a_OUTPUT.ogg");
    ASSERT_EQ(Run({source, 1.0, 3.0, ogg, temp}).result, IDOK);
    EXPECT_EQ(DecodedFrames(ogg), 88200);
    EXPECT_EQ(ProbeTag(ogg, "ARTIST"), "Some Artist");
    EXPECT_EQ(ProbeTag(ogg, "TITLE"), "a_OUTPUT.ogg");
    EXPECT_EQ(ProbeTag(ogg, "COMMENT"), "Quillet");

    g_settings.m_nFormatIndex = FORMAT_WMA;
    const std::string wma = dir.File("a_OUTPUT.wma");
    ASSERT_EQ(Run({source, 1.0, 3.0, wma, temp}).result, IDOK);
    // The WMA decoder gives one or two frames of near-silence after the input.
    EXPECT_GE(DecodedFrames(wma), 88200);
    EXPECT_LE(DecodedFrames(wma), 88200 + 2 * 2048);
    EXPECT_TRUE(TempFolderEmpty());
}

TEST_F(JobTest, UnreadableSourceFailsWithAMessageNamingIt) {
    g_settings.m_nFormatIndex = FORMAT_MP3;
    const std::string garbage = dir.File("garbage $'x'.avi");
    WriteFileText(garbage, std::string(5000, '\x5a'));
    const JobOutcome o = Run({garbage, 0, 3, dir.File("out.mp3"), temp});
    EXPECT_EQ(o.result, IDCANCEL);
    EXPECT_TRUE(o.failed);
    ASSERT_EQ(messages.Count(), 1u);
    EXPECT_NE(messages.Texts()[0].find(garbage), std::string::npos) << messages.Texts()[0];
    EXPECT_FALSE(FileExists(dir.File("out.mp3")));
    EXPECT_TRUE(TempFolderEmpty());
}

TEST_F(JobTest, MissingEncoderModuleFailsTheJob) {
    // A program directory with the extraction module but no encoders.
    TempDir program;
    ASSERT_EQ(symlink((std::string(QUILLET_BIN_DIR) + "VideoEdit.so").c_str(),
                      program.File("VideoEdit.so").c_str()),
              0);
    SetAppDirectoryForTesting(program.Path());
    struct Case {
        int format;
        const char* message;
    };
    for (const Case& c :
         {Case{FORMAT_MP3, "Error loading lame_enc.DLL"}, Case{FORMAT_OGG, "Error loading Vrobis.DLL"},
          Case{FORMAT_WMA, "Could not found WmAudSDK.DLL file"}}) {
        g_settings.m_nFormatIndex = c.format;
        const size_t before = messages.Count();
        const JobOutcome o = Run({source, 0, 1, dir.File("out"), temp});
        EXPECT_EQ(o.result, IDCANCEL);
        EXPECT_TRUE(o.failed);
        ASSERT_EQ(messages.Count(), before + 1);
        EXPECT_EQ(messages.Texts().back(), c.message);
        EXPECT_TRUE(TempFolderEmpty());
    }
}

TEST_F(JobTest, FullOutputDiskFailsTheJob) {
    // /dev/full accepts opening and refuses every write.
    g_settings.m_nFormatIndex = FORMAT_MP3;
    const JobOutcome o = Run({source, 0, 3, "/dev/full", temp});
    EXPECT_TRUE(o.failed);
    ASSERT_GE(messages.Count(), 1u);
    EXPECT_EQ(messages.Texts().back().rfind("Output file write error", 0), 0u);
    EXPECT_TRUE(TempFolderEmpty());
}

TEST_F(JobTest, CancelLeavesFilesAsDesigned) {
    const std::string longSource = dir.File("long.wav");
    ASSERT_TRUE(MakeTestSource(longSource, 120.0));

    // During step 1 of WAV output: the partial WAV, if the extraction had begun to write it, is closed
    // with a header that matches its length.
    g_settings.m_nFormatIndex = FORMAT_WAV;
    g_settings.m_nWavSampleIndex = 8;
    g_settings.m_nWavBitsIndex = 1;
    const std::string wav = dir.File("partial.wav");
    JobOutcome o =
        Run({longSource, 0, 120, wav, temp}, [&](CConversionJob& job, RecordingView&) { job.Cancel(); });
    EXPECT_EQ(o.result, IDCANCEL);
    EXPECT_FALSE(o.failed);
    QFile f(QString::fromStdString(wav));
    if (f.open(QIODevice::ReadOnly)) {
        const QByteArray header = f.read(44);
        ASSERT_EQ(header.size(), 44);
        uint32_t dataSize = 0;
        std::memcpy(&dataSize, header.constData() + 40, 4);
        EXPECT_EQ(dataSize + 44, f.size());
    }

    // During step 2 of MP3 output: the partial output stays, the temporary WAV goes.
    g_settings.m_nFormatIndex = FORMAT_MP3;
    const std::string mp3 = dir.File("partial.mp3");
    o = Run({longSource, 0, 120, mp3, temp}, [&](CConversionJob& job, RecordingView& v) {
        WaitFor([&] { return InStep2(v, 50); }, 60000);
        job.Cancel();
    });
    EXPECT_EQ(o.result, IDCANCEL);
    EXPECT_FALSE(o.failed);
    EXPECT_GT(GetFileSize64(mp3), 0) << (messages.Count() ? messages.Texts().back() : "");
    EXPECT_TRUE(TempFolderEmpty());
}

TEST_F(JobTest, CancelInStep2LeavesOggAsWrittenAndWmaPlayable) {
    const std::string longSource = dir.File("long.wav");
    ASSERT_TRUE(MakeTestSource(longSource, 90.0));
    for (int format : {FORMAT_OGG, FORMAT_WMA}) {
        g_settings.m_nFormatIndex = format;
        const std::string out = dir.File(format == FORMAT_OGG ? "partial.ogg" : "partial.wma");
        const JobOutcome o = Run({longSource, 0, 90, out, temp}, [&](CConversionJob& job, RecordingView& v) {
            WaitFor([&] { return InStep2(v, 300); }, 60000);
            job.Cancel();
        });
        EXPECT_EQ(o.result, IDCANCEL);
        EXPECT_FALSE(o.failed);
        EXPECT_TRUE(TempFolderEmpty());
        if (format == FORMAT_OGG) {
            EXPECT_EQ(ReadFileText(out).substr(0, 4), "OggS"); // what was written, without the stream's end
        } else {
            // The writer finished the file on cancel: it plays, and holds about the part encoded.
            const long frames = DecodedFrames(out);
            EXPECT_GT(frames, 44100 * 20);
            EXPECT_LT(frames, 44100 * 90);
        }
    }
}

TEST_F(JobTest, CancelAtRandomMomentsNeverLeaksOrHangs) {
    std::mt19937 rng(20261206);
    const int fdsBefore = OpenFileCount();
    for (int i = 0; i < 16; ++i) {
        g_settings.m_nFormatIndex = static_cast<int>(rng() % 4);
        // Cancel at once, during step 1, or at a random point of step 2.
        const int moment = static_cast<int>(rng() % 3);
        const int perMille = static_cast<int>(rng() % 1000);
        const std::string out = dir.File("stress" + std::to_string(i));
        const JobOutcome o = Run({source, 0, 4, out, temp}, [&](CConversionJob& job, RecordingView& v) {
            if (moment == 1)
                WaitFor([&] { return job.IsEnded() || v.lastPos.load() > 0; });
            if (moment == 2)
                WaitFor(
                    [&] { return job.IsEnded() || (v.steps.size() == 2 && v.lastPos.load() >= perMille); });
            job.Cancel();
        });
        EXPECT_NE(o.result, 0) << "job " << i << " did not end";
        EXPECT_FALSE(o.failed) << (messages.Count() ? messages.Texts().back() : "");
        EXPECT_TRUE(TempFolderEmpty()) << "job " << i;
    }
    EXPECT_EQ(OpenFileCount(), fdsBefore);
}
