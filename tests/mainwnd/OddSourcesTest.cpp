// Sources other tools write that the window must still open, mark and convert: streams without a
// duration, files shorter than a moment of playback, headers that lie about their length.

#include "AudioSettings.h"
#include "ByteText.h"
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
#include <functional>
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
            [path](const CFileDialogEx&) { return std::optional<QString>(TextFromBytes(path)); });
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

// What the window is given to open: a FIFO is refused at once (reading it would wait for ever); a name
// that is not UTF-8 opens and converts under its own bytes; a source whose header promises more than it
// holds converts what there is, and the completion says so.
TEST_F(OddSourcesTest, AFifoANameNotInUtf8AndASourceThatEndsEarly) {
    CConverterDlg dlg;
    dlg.show();
    const std::string fifo = media.File("pipe.mkv");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    Open(dlg, fifo);
    EXPECT_EQ(messages.Texts().back(),
              fifo + "\nThis is not a regular file (a FIFO or a device); only files can be opened.");

    // Six seconds by its header, of which the first third is there (a download that broke off).
    const std::string source = media.File("cut \xff.mka");
    ASSERT_TRUE(MakeTestSource(media.File("whole.mka"), 6.0));
    const std::string bytes = ReadFileText(media.File("whole.mka"));
    WriteFileText(source, bytes.substr(0, bytes.size() / 3));
    Open(dlg, source);
    ASSERT_TRUE(WaitFor([&] { return dlg.m_bFileLoaded == 1; }, 20000));
    ASSERT_NEAR(dlg.m_dDuration, 6, 0.05);
    dlg.m_btnConvert.click();
    const std::string output = media.File("cut \xff_OUTPUT.wav");
    const int64_t frames = DecodeWithFfmpeg(output).frames;
    EXPECT_TRUE(frames > 0 && frames < 3 * 44100) << frames;
    EXPECT_EQ(messages.Texts().back(),
              "Completed converting! \n\nThe output audio file has been saved to:\n" + output +
                  "\n\nWarning: the source ended before the range did. The output holds " +
                  FormatTime(frames / 44100.0) + " of the 00:00:06.0 asked for.");
}

// Settings files that are there but cannot be used (unreadable, a folder, a FIFO, a device, one larger
// than any real one): refused at once, without waiting or reading without end; defaults for the run,
// and the file left as it was.
TEST(UnusableSettings, AreRefusedAtOnceAndNeverWrittenOver) {
    TempDir dir;
    ASSERT_EQ(chmod(dir.Path().c_str(), 0777), 0);
    const std::string text = "[General]\nArtist=Mine\n[Mine]\nKeep=1\n";
    const std::string big = text + std::string(1 << 20, ';');
    const std::pair<std::string, std::function<void(const std::string&)>> kinds[] = {
        {"unreadable",
         [&](const std::string& p) {
             WriteFileText(p, text);
             chmod(p.c_str(), 0200); // writable, not readable
         }},
        {"folder", [](const std::string& p) { mkdir(p.c_str(), 0777); }},
        {"fifo", [](const std::string& p) { mkfifo(p.c_str(), 0666); }},
        {"big", [&](const std::string& p) { WriteFileText(p, big); }},
        {"/dev/zero", {}}};
    for (const auto& [name, make] : kinds) {
        SCOPED_TRACE(name);
        const std::string ini = make ? dir.File(name + ".ini") : name;
        if (make)
            make(ini);
        const int code = RunUnprivileged([&] {
            CAudioSettings settings;
            if (settings.LoadFrom(ini) != CAudioSettings::FileRead::Refused)
                return 1;
            if (settings.m_szArtist.str() != "Unknown Artist")
                return 2;
            return settings.SaveTo(ini) ? 3 : 0;
        });
        EXPECT_EQ(code, 0);
    }
    chmod(dir.File("unreadable.ini").c_str(), 0644);
    EXPECT_EQ(ReadFileText(dir.File("unreadable.ini")), text);
    EXPECT_EQ(ReadFileText(dir.File("big.ini")), big);
}
