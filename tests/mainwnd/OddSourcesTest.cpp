// Sources other tools write that the window must still open, mark and convert: streams without a
// duration, files shorter than a moment of playback, headers that lie about their length.

#include "AudioSettings.h"
#include "ConverterDlg.h"
#include "FileDialogEx.h"
#include "MediaPlayer2.h"
#include "MediaProbe.h"
#include "SystemHelpers.h"
#include "TestMedia.h"
#include "TestSupport.h"
#include "WaitIndicator.h"

#include <QTest>
#include <cmath>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class OddSourcesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(symlink(QUILLET_BIN_DIR "VideoEdit.so", program.File("VideoEdit.so").c_str()), 0);
        SetAppDirectoryForTesting(program.Path());
        // WAV output at 44100 Hz, 16-bit stereo: the output's frames are the range's.
        WriteFileText(program.File("param.ini"),
                      "[General]\nFormat Index=1\nTempPath=" + media.File("tmp/") +
                          "\n[wav]\nChannel Index=1\nBits per sample=1\nSample Index=7\n");
        CMediaPlayer2::SetAudioOutputForTesting("null");
    }
    void TearDown() override {
        CFileDialogEx::SetTestChooser({});
        SetAppDirectoryForTesting("");
    }

    void Open(CConverterDlg& dlg, const std::string& path) {
        CFileDialogEx::SetTestChooser(
            [path](const CFileDialogEx&) { return std::optional<QString>(QString::fromStdString(path)); });
        dlg.m_btnOpen.click();
    }
    // Converts and returns the frames of the WAV written, -1 when the job did not complete.
    long Convert(CConverterDlg& dlg, const std::string& output) {
        const size_t before = messages.Count();
        dlg.m_btnConvert.click();
        if (messages.Count() != before + 1 || messages.Texts().back().rfind("Completed converting!", 0) != 0)
            return -1;
        return DecodeWithFfmpeg(output).frames;
    }
    // The window's times never show as negative numbers, whatever the source claims.
    static bool LabelsSane(const CConverterDlg& dlg) {
        for (const QLabel* l : {&dlg.m_labelPosition, &dlg.m_labelStart, &dlg.m_labelEnd, &dlg.m_labelMarked})
            if (l->text().contains('-'))
                return false;
        return dlg.m_slider.GetRangeMin() == 0 && dlg.m_slider.GetRangeMax() >= 0;
    }

    TempDir program, media;
    MessageRecorder messages;
};

} // namespace

TEST_F(OddSourcesTest, AStreamOfUnknownLengthOpenedAfterAMarkedFileConvertsWhole) {
    const std::string first = media.File("first.wav"), stream = media.File("screen recording.mkv");
    ASSERT_TRUE(MakeTestSource(first, 6.0));
    // Written to a pipe, as recorders do: no duration, no index.
    ASSERT_TRUE(RunFfmpeg({"-f", "lavfi", "-i", ChirpSource(44100, 4), "-f", "lavfi", "-i",
                           "testsrc=s=160x120:r=25:d=4", "-c:a", "flac", "-c:v", "mpeg4", "-seekable", "0",
                           QString::fromStdString(stream)}));
    CConverterDlg dlg;
    dlg.show();
    Open(dlg, first);
    ASSERT_TRUE(WaitFor([&] { return dlg.m_bFileLoaded == 1; }, 20000));
    dlg.m_btnPause.click();
    for (double t : {2.0, 3.0}) {
        dlg.m_player.SetCurrentPosition(t);
        (t == 2.0 ? dlg.m_btnStartTime : dlg.m_btnEndTime).click();
    }
    ASSERT_EQ(dlg.m_labelMarked.text(), " Marked Time:00:00:01.0");

    Open(dlg, stream);
    EXPECT_EQ(dlg.m_dStartTime, 0);
    EXPECT_EQ(dlg.m_labelStart.text(), " Start Time: 00:00:00.0");
    EXPECT_NE(dlg.m_labelMarked.text(), " Marked Time:00:00:01.0");
    ASSERT_TRUE(WaitFor([&] { return dlg.m_bFileLoaded == 1; }, 20000));
    EXPECT_EQ(Convert(dlg, media.File("screen recording_OUTPUT.wav")), 4 * 44100);
    // The duration is learnt, and with it the slider and the end.
    ASSERT_TRUE(WaitFor([&] { return dlg.m_labelEnd.text() == " End Time:  00:00:04.0"; }, 20000));
    EXPECT_EQ(dlg.m_slider.GetRangeMax(), 40);
    EXPECT_EQ(dlg.m_slider.GetSelEnd(), 40);

    // The command-line converter takes such a file too, to its end.
    const std::string out = media.File("cli.wav");
    EXPECT_EQ(RunProgram(QUILLET_BIN_DIR "quillet-cli",
                         {"-q", "-f", "wav", "--settings", program.File("param.ini"), "-o", out, stream}),
              0);
    EXPECT_EQ(DecodeWithFfmpeg(out).frames, 4 * 44100);
}

TEST_F(OddSourcesTest, ShortSourcesFinishOpeningAndConvert) {
    CConverterDlg dlg;
    dlg.show();
    for (const double seconds : {0.05, 0.2, 0.4}) {
        SCOPED_TRACE(seconds);
        const std::string name = "short " + std::to_string(static_cast<int>(seconds * 100));
        const std::string source = media.File(name + ".mkv");
        ASSERT_TRUE(MakeTestSource(source, seconds, true));
        Open(dlg, source);
        ASSERT_TRUE(WaitFor([&] { return dlg.m_bFileLoaded == 1; }, 20000));
        EXPECT_EQ(GetWaitIndicator(), nullptr);
        // The range is the whole source: its duration, or its audio where that ends first.
        const long whole = std::min(DecodeWithFfmpeg(source).frames, std::lround(dlg.m_dDuration * 44100));
        EXPECT_NEAR(Convert(dlg, media.File(name + "_OUTPUT.wav")), whole, 0.005 * 44100);
    }
}

TEST_F(OddSourcesTest, ADurationBeyondWhatTheWindowHoldsReadsAsUnknownUntilScanned) {
    // Two seconds of 8 kHz MP3 whose Xing header counts 2^32 - 1 frames: 309 million seconds.
    const std::string source = media.File("liar.mp3");
    ASSERT_TRUE(RunFfmpeg(
        {"-f", "lavfi", "-i", "sine=d=2:r=8000", "-c:a", "libmp3lame", QString::fromStdString(source)}));
    std::string bytes = ReadFileText(source);
    const size_t xing = bytes.find("Xing") != std::string::npos ? bytes.find("Xing") : bytes.find("Info");
    ASSERT_NE(xing, std::string::npos);
    ASSERT_TRUE(bytes[xing + 7] & 1); // the frame count is present
    bytes.replace(xing + 8, 4, "\xff\xff\xff\xff");
    WriteFileText(source, bytes);

    CConverterDlg dlg;
    dlg.show();
    Open(dlg, source);
    EXPECT_TRUE(LabelsSane(dlg));
    ASSERT_TRUE(WaitFor([&] { return dlg.m_bFileLoaded == 1; }, 20000));
    EXPECT_TRUE(LabelsSane(dlg));
    ASSERT_TRUE(WaitFor([&] { return dlg.m_labelEnd.text() == " End Time:  00:00:02.0"; }, 20000));
    EXPECT_TRUE(LabelsSane(dlg));
    EXPECT_EQ(dlg.m_slider.GetRangeMax(), 20);
    EXPECT_NEAR(Convert(dlg, media.File("liar_OUTPUT.wav")), 2 * 44100, 0.05 * 44100);

    // A clock that jumps past all the window can hold stays unknown even when read through; a time typed
    // then is held to the longest the window shows (without, its tenths overflow the slider's int).
    const std::string jump = media.File("jump.mkv");
    ASSERT_TRUE(
        RunFfmpeg({"-f", "lavfi", "-i", "sine=d=2", "-af", "asetpts=if(gte(T\\,1)\\,PTS+3e8/TB\\,PTS)",
                   "-c:a", "flac", QString::fromStdString(jump)}));
    Open(dlg, jump);
    ASSERT_TRUE(WaitFor([&] { return dlg.m_bFileLoaded == 1; }, 20000));
    EXPECT_EQ(dlg.m_dDuration, 0);
    QTest::mouseDClick(&dlg.m_labelEnd, Qt::LeftButton);
    dlg.m_editMark.setText("999999999");
    QTest::keyClick(&dlg.m_editMark, Qt::Key_Return);
    EXPECT_EQ(dlg.m_dEndTime, kMaxMediaDuration);
    EXPECT_TRUE(LabelsSane(dlg));
    EXPECT_GE(dlg.m_slider.GetSelEnd(), dlg.m_slider.GetSelStart());
}

// A settings file that exists but cannot be read: defaults for the run, and the file left as it was.
TEST(UnreadableSettings, AreNeverWrittenOver) {
    TempDir dir;
    const std::string ini = dir.File("param.ini");
    const std::string text = "[General]\nArtist=Mine\n[Mine]\nKeep=1\n";
    WriteFileText(ini, text);
    ASSERT_EQ(chmod(dir.Path().c_str(), 0777), 0);
    ASSERT_EQ(chmod(ini.c_str(), 0200), 0); // writable, not readable
    const int code = RunUnprivileged([&] {
        CAudioSettings settings;
        settings.LoadFrom(ini);
        if (settings.m_szArtist.str() != "Unknown Artist")
            return 1;
        return settings.SaveTo(ini) ? 2 : 0;
    });
    EXPECT_EQ(code, 0);
    chmod(ini.c_str(), 0644);
    EXPECT_EQ(ReadFileText(ini), text);
}
