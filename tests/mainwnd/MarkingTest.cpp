#include "AudioSettings.h"
#include "ConverterDlg.h"
#include "FileDialogEx.h"
#include "FileManager.h"
#include "MediaPlayer2.h"
#include "SystemHelpers.h"
#include "TestMedia.h"
#include "TestSupport.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

// Marking beyond the buttons, in the window with the real modules: the waveform, the keys, typed
// times and "Play Selection", on a video whose sound is loud from 2 s to 4 s and silent around that.
class MarkingTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* module : {"VideoEdit.so", "lame_enc.so"})
            ASSERT_EQ(symlink((std::string(QUILLET_BIN_DIR) + module).c_str(), program.File(module).c_str()),
                      0);
        SetAppDirectoryForTesting(program.Path());
        // WAV output at 44100 Hz, 16 bits, stereo: its samples are the range itself.
        WriteFileText(program.File("param.ini"),
                      "[General]\nFormat Index=1\nTempPath=" + media.File("tmp/") +
                          "\n[wav]\nChannel Index=1\nBits per sample=1\nSample Index=7\n");
        CMediaPlayer2::SetAudioOutputForTesting("null");
        ASSERT_TRUE(RunFfmpeg(
            {"-f", "lavfi", "-i", "aevalsrc=0.8*sin(2*PI*440*t)*between(t\\,2\\,4):s=44100:d=6", "-f",
             "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=6", "-ac", "2", "-c:a", "aac", "-c:v",
             "libx264", "-preset", "ultrafast", "-movflags", "+faststart", QString::fromStdString(source)}));
        dlg = std::make_unique<CConverterDlg>(); // after the settings are written
        dlg->show();
        dlg->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get())); // the keys are the window's
        CFileDialogEx::SetTestChooser(
            [this](const CFileDialogEx&) { return std::optional<QString>(QString::fromStdString(source)); });
        QTest::keyClick(dlg.get(), Qt::Key_O, Qt::ControlModifier);
        ASSERT_TRUE(WaitFor([&] { return dlg->m_bFileLoaded == 1; }, 20000)) << "playback did not start";
        dlg->activateWindow(); // the offscreen platform gave it to the wait indicator
        ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
    }
    void TearDown() override {
        CFileDialogEx::SetTestChooser({});
        SetAppDirectoryForTesting("");
    }
    // Presses a key, then lets the player finish what it does.
    void Key(Qt::Key key, int times = 1, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        for (int i = 0; i < times; ++i) {
            QTest::keyClick(dlg.get(), key, modifiers);
            EXPECT_TRUE(WaitFor([&] { return !dlg->m_player.IsSeeking(); }));
        }
    }
    // Types a time into a mark's label, the edit opened in one of the ways (a double-click, Enter on
    // the focused read-out, Shift+I or Shift+O); false when it was refused with a message.
    bool Type(QLabel& label, const char* text, int way) {
        const size_t before = messages.Count();
        if (way % 3 == 0) {
            QTest::mouseDClick(&label, Qt::LeftButton);
        } else if (way % 3 == 1) {
            label.setFocus(Qt::TabFocusReason);
            QTest::keyClick(&label, Qt::Key_Return);
        } else {
            QTest::keyClick(dlg.get(), &label == &dlg->m_labelStart ? Qt::Key_I : Qt::Key_O,
                            Qt::ShiftModifier);
        }
        EXPECT_TRUE(dlg->m_editMark.isVisible()) << way;
        dlg->m_editMark.setText(QString::fromLatin1(text));
        QTest::keyClick(&dlg->m_editMark, Qt::Key_Return);
        QTest::keyClick(&dlg->m_editMark, Qt::Key_Escape); // a refused text is left with Escape
        EXPECT_FALSE(dlg->m_editMark.isVisible());
        return messages.Count() == before;
    }

    TempDir program, media;
    MessageRecorder messages;
    const std::string source = media.File("loud in the middle.mp4");
    std::unique_ptr<CConverterDlg> dlg;
};

} // namespace

TEST_F(MarkingTest, WaveformKeysAndConvertedRange) {
    // The overview, read from the audio stream only, is high over the loud part and low elsewhere.
    ASSERT_TRUE(WaitFor(
        [&] { return dlg->m_waveform.GetOverview() && dlg->m_waveform.GetOverview()->IsComplete(); }, 20000));
    const auto overview = dlg->m_waveform.GetOverview();
    EXPECT_TRUE(overview->HasAudio());
    EXPECT_LT(overview->MemoryBytes(), 4u << 20);
    struct Span {
        double from, to;
        bool loud;
    };
    for (const Span& s :
         {Span{0.0, 1.9, false}, Span{2.1, 2.5, true}, Span{3.5, 3.9, true}, Span{4.1, 6.0, false}}) {
        const CPeakOverview::Peak p = overview->PeakBetween(s.from, s.to);
        const bool loud = p.hi > 10000 && p.lo < -10000, silent = p.hi < 300 && p.lo > -300;
        EXPECT_TRUE(s.loud ? loud : silent) << s.from << ".." << s.to << ": " << p.lo << " " << p.hi;
    }
    // A file without audio has none.
    const std::string mute = media.File("mute.mp4");
    ASSERT_TRUE(RunFfmpeg(
        {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=1", QString::fromStdString(mute)}));
    CPeakOverview none;
    EXPECT_FALSE(CWaveformReader::Read(mute, none, std::atomic<bool>{false}));
    EXPECT_TRUE(none.IsComplete() && !none.HasAudio());

    // Marked with the keys: paused, to the start, 1.1 s on in whole and tenth seconds, I, 3 s on, O.
    Key(Qt::Key_Space);
    ASSERT_TRUE(WaitFor([&] { return dlg->m_player.GetPlayState() == 1; }));
    EXPECT_TRUE(WaitFor([&] { return dlg->m_status.text().startsWith("Paused at 00:00:"); }))
        << dlg->m_status.text().toStdString();
    Key(Qt::Key_Home);
    Key(Qt::Key_Right, 2);
    Key(Qt::Key_Left);
    Key(Qt::Key_Right, 1, Qt::ShiftModifier);
    EXPECT_EQ(dlg->m_labelPosition.text(), " 00:00:01.1 / 00:00:06.0 ");
    Key(Qt::Key_I);
    Key(Qt::Key_Right, 3);
    Key(Qt::Key_O);
    EXPECT_DOUBLE_EQ(dlg->m_dStartTime, 1.1);
    EXPECT_DOUBLE_EQ(dlg->m_dEndTime, 4.1);
    EXPECT_EQ(dlg->m_labelMarked.text(), " Marked Time:00:00:03.0"); // not 02.9 (4.1 - 1.1 in doubles)
    EXPECT_EQ(dlg->m_slider.GetSelStart(), 11);
    EXPECT_EQ(dlg->m_slider.GetSelEnd(), 41);

    // Convert writes exactly that range: 3 s, the loud part from 0.9 s to 2.9 s of it; the message
    // offers to show it in the file manager.
    std::string shown;
    SetFileManagerForTesting([&](const std::string& path) { shown = path; });
    messages.QueueAnswer(IDSHOWFOLDER);
    dlg->m_btnConvert.click();
    SetFileManagerForTesting({});
    ASSERT_EQ(messages.Count(), 1u);
    const std::string out = media.File("loud in the middle_OUTPUT.wav");
    ASSERT_EQ(messages.Texts()[0],
              "Completed converting! \n\nThe output audio file has been saved to:\n" + out);
    EXPECT_EQ(shown, out);
    EXPECT_EQ(dlg->m_status.text(), "Converted, saved as loud in the middle_OUTPUT.wav");
    const Pcm pcm = ReadWavData(out, 2, 2);
    EXPECT_EQ(pcm.Frames(), 3 * 44100);
    EXPECT_LT(Rms(pcm, 0, 0, 39000), 300);
    EXPECT_GT(Rms(pcm, 0, 40400, 127200), 10000);
    EXPECT_LT(Rms(pcm, 0, 128600, pcm.Frames()), 300);
}

TEST_F(MarkingTest, TypedTimesAndPlaySelection) {
    Key(Qt::Key_Space);
    ASSERT_TRUE(WaitFor([&] { return dlg->m_player.GetPlayState() == 1; }));
    struct Case {
        bool start;
        const char* text;
        bool taken;
        double startAfter, endAfter;
    };
    int way = 0;
    for (const Case& c : {
             Case{true, "0:02.5", true, 2.5, 6.0},       // m:ss.s
             Case{false, "0:00:03,25", true, 2.5, 3.25}, // h:mm:ss.s, a comma for the point
             Case{true, "two", false, 2.5, 3.25},        // not a time
             Case{true, "1:75", false, 2.5, 3.25},       // 75 seconds in m:ss
             Case{false, "7", false, 2.5, 3.25},         // past the end of the file
             Case{false, "2", true, 0.0, 2.0},           // an end before the start moves the start to 0
             Case{true, "4.5", true, 4.5, 6.0},          // a start after the end moves the end to the end
             Case{true, " 2.5 ", true, 2.5, 6.0},
             Case{false, "3.5", true, 2.5, 3.5},
         }) {
        EXPECT_EQ(Type(c.start ? dlg->m_labelStart : dlg->m_labelEnd, c.text, way++), c.taken) << c.text;
        EXPECT_DOUBLE_EQ(dlg->m_dStartTime, c.startAfter) << c.text;
        EXPECT_DOUBLE_EQ(dlg->m_dEndTime, c.endAfter) << c.text;
    }
    EXPECT_EQ(dlg->m_labelStart.text(), " Start Time: 00:00:02.5");
    EXPECT_EQ(dlg->m_labelEnd.text(), " End Time:  00:00:03.5");

    // From the start mark, playing, then paused at the end mark (not at the end of the file).
    QSignalSpy states(&dlg->m_player, &CMediaPlayer2::PlayStateChange);
    QTest::keyClick(dlg.get(), Qt::Key_P);
    EXPECT_DOUBLE_EQ(dlg->m_player.GetCurrentPosition(), 2.5);
    auto playedThenPaused = [&] {
        for (qsizetype i = 0; i + 1 < states.size(); ++i)
            if (states[i].at(1).toInt() == 2)
                return states.last().at(1).toInt() == 1;
        return false;
    };
    ASSERT_TRUE(WaitFor(playedThenPaused, 20000));
    EXPECT_NEAR(dlg->m_player.GetCurrentPosition(), 3.5, 0.1);
    EXPECT_EQ(dlg->m_slider.GetPos(), 35);
    EXPECT_EQ(dlg->m_labelPosition.text(), " 00:00:03.5 / 00:00:06.0 ");

    // The next Open starts in the folder of this file, in this run and the next.
    QString initialDir;
    CFileDialogEx::SetTestChooser([&](const CFileDialogEx& d) {
        initialDir = d.m_ofn.lpstrInitialDir;
        return std::optional<QString>();
    });
    dlg->OnOpen();
    EXPECT_EQ(initialDir.toStdString(), media.Path());
    dlg.reset();
    EXPECT_NE(ReadFileText(program.File("param.ini")).find("\nLast Folder=" + media.Path() + "\n"),
              std::string::npos);
}
