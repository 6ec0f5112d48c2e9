// The whole road in the window: a program directory with the real modules, a source opened through the
// file dialog, played, marked and converted, and every way a conversion can end.
#include "AudioSettings.h"
#include "ConverterDlg.h"
#include "FileDialogEx.h"
#include "MediaPlayer2.h"
#include "ProcessingDlg.h"
#include "QuitSignals.h"
#include "SystemHelpers.h"
#include "TestMedia.h"
#include "TestSupport.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const std::string kCompleted = "Completed converting! \n\nThe output audio file has been saved to:\n";

class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* module : {"VideoEdit.so", "lame_enc.so", "Vorbis.so", "WmAudSDK.so"})
            ASSERT_EQ(symlink((QUILLET_BIN_DIR + std::string(module)).c_str(), program.File(module).c_str()),
                      0);
        SetAppDirectoryForTesting(program.Path());
        WriteFileText(program.File("param.ini"), "[General]\nTempPath=" + temp + "\nArtist=Test Artist\n");
        CMediaPlayer2::SetAudioOutputForTesting("null");
    }
    void TearDown() override {
        CFileDialogEx::SetTestChooser({});
        SetAppDirectoryForTesting("");
    }

    // Opens the file as the user would, through the Open button and the file dialog, and waits until it
    // plays.
    void Open(CConverterDlg& dlg, const std::string& path, bool plays = true) {
        CFileDialogEx::SetTestChooser(
            [path](const CFileDialogEx&) { return std::optional<QString>(QString::fromStdString(path)); });
        dlg.m_btnOpen.click();
        if (plays) {
            ASSERT_TRUE(WaitFor([&] { return dlg.m_bFileLoaded == 1; }, 30000)) << "playback did not start";
        }
    }
    void Pause(CConverterDlg& dlg) {
        dlg.m_btnPause.click();
        ASSERT_TRUE(WaitFor([&] { return dlg.m_player.GetPlayState() == 1; }));
    }
    // Drags the slider's thumb to a position, as the user would with the mouse.
    void DragSliderTo(CConverterDlg& dlg, int pos) {
        CDrawnSliderCtrl& s = dlg.m_slider;
        const QPoint from = s.GetThumbRect().center(), to(s.PosToPlace(pos), from.y());
        for (const auto& [type, at] : {std::pair{QEvent::MouseButtonPress, from},
                                       {QEvent::MouseMove, (from + to) / 2},
                                       {QEvent::MouseMove, to},
                                       {QEvent::MouseButtonRelease, to}}) {
            QMouseEvent e(type, at, s.mapToGlobal(at), Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&s, &e);
        }
    }
    // Converts and returns the messages it gave.
    std::vector<std::string> Convert(CConverterDlg& dlg) {
        const size_t before = messages.Count();
        dlg.m_btnConvert.click(); // runs the Processing dialog to its end
        const auto texts = messages.Texts();
        return std::vector<std::string>(texts.begin() + static_cast<long>(before), texts.end());
    }

    TempDir program, media;
    std::string temp = media.File("tmp/");
    MessageRecorder messages;
};

} // namespace

TEST_F(EndToEndTest, OpenSeekMarkAndConvertUnderNumberedNames) {
    const std::string source = media.File("my clip.mkv");
    ASSERT_TRUE(MakeTestSource(source, 8.0, true));
    CConverterDlg dlg;
    dlg.show();
    Open(dlg, source);
    EXPECT_TRUE(dlg.m_player.isVisible()); // a video shows in the preview area
    EXPECT_FALSE(dlg.m_picture.isVisible());
    Pause(dlg);
    DragSliderTo(dlg, 20);
    EXPECT_NEAR(dlg.m_player.GetCurrentPosition(), 2.0, 0.05);
    EXPECT_EQ(dlg.m_labelPosition.text(), " 00:00:02.0 / 00:00:08.0");
    dlg.m_btnStartTime.click();
    DragSliderTo(dlg, 55);
    dlg.m_btnEndTime.click();
    EXPECT_EQ(dlg.m_labelMarked.text(), " Marked Time:00:00:03.5");
    EXPECT_EQ(dlg.m_slider.GetSelStart(), 20);
    EXPECT_EQ(dlg.m_slider.GetSelEnd(), 55);

    dlg.m_comboFormat.setCurrentIndex(FORMAT_MP3);
    for (const char* name : {"my clip_OUTPUT.mp3", "my clip_OUTPUT1.mp3", "my clip_OUTPUT2.mp3"}) {
        dlg.m_btnPlay.click(); // Convert pauses the preview, and it stays paused
        ASSERT_TRUE(WaitFor([&] { return dlg.m_player.GetPlayState() == 2; }));
        EXPECT_EQ(Convert(dlg), std::vector<std::string>{kCompleted + media.File(name)});
        EXPECT_EQ(dlg.m_player.GetPlayState(), 1);
    }
    EXPECT_EQ(DecodeWithFfmpeg(media.File("my clip_OUTPUT.mp3")).frames, std::lround(3.5 * 44100));
    EXPECT_EQ(ProbeFile(media.File("my clip_OUTPUT2.mp3"))["TAG:artist"], "Test Artist");
    EXPECT_TRUE(FilesIn(temp).empty());

    // A start after the end moves the end to the duration; an end before the start moves the start to 0.
    DragSliderTo(dlg, 70);
    dlg.m_btnStartTime.click();
    EXPECT_NEAR(dlg.m_dEndTime, 8.0, 0.05);
    DragSliderTo(dlg, 50);
    dlg.m_btnEndTime.click();
    EXPECT_EQ(dlg.m_labelStart.text(), " Start Time: 00:00:00.0");
    EXPECT_EQ(dlg.m_labelMarked.text(), " Marked Time:00:00:05.0");
    dlg.m_btnClear.click();
    EXPECT_EQ(dlg.m_slider.GetSelEnd(), 80);
    // Played to its end, the file reads as stopped with the thumb at the end.
    DragSliderTo(dlg, 78);
    dlg.m_btnPlay.click();
    ASSERT_TRUE(WaitFor([&] { return dlg.m_slider.GetPos() == dlg.m_slider.GetRangeMax(); }, 20000));
    EXPECT_EQ(dlg.m_player.GetPlayState(), 0);
    EXPECT_EQ(dlg.m_labelPosition.text(), " 00:00:08.0 / 00:00:08.0 ");
}

// The custom folder is made when missing, and a folder that cannot be made stops the conversion with the
// message; a cancelled and a failed job say so and leave no temporary WAV.
TEST_F(EndToEndTest, CustomFolderCancelAndFailure) {
    const std::string source = media.File("tone.wav");
    ASSERT_TRUE(MakeTestSource(source, 3.0));
    CConverterDlg dlg;
    dlg.show();
    Open(dlg, source);
    EXPECT_TRUE(dlg.m_picture.isVisible()); // audio only: the picture stays
    Pause(dlg);

    dlg.m_comboFormat.setCurrentIndex(FORMAT_WAV);
    g_settings.m_nOutputPathType = 1;
    g_settings.m_szOutputPath = media.File("Custom Out/new/");
    EXPECT_EQ(Convert(dlg),
              std::vector<std::string>{kCompleted + media.File("Custom Out/new/tone_OUTPUT.wav")});
    WriteFileText(media.File("a file"), "");
    g_settings.m_szOutputPath = media.File("a file/out/");
    EXPECT_EQ(Convert(dlg),
              std::vector<std::string>{"Create output directory failed!\nPlease change output directory "
                                       "with clicking the Setting button in the toolbar! "});

    g_settings.m_nOutputPathType = 0;
    dlg.m_comboFormat.setCurrentIndex(FORMAT_MP3);
    // The job can end only at its dialog's first timer tick: the button is pressed before that.
    QTimer cancel;
    QObject::connect(&cancel, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* processing = qobject_cast<CProcessingDlg*>(w); processing && processing->isVisible()) {
                cancel.stop();
                messages.QueueAnswer(IDYES);
                processing->findChild<QPushButton*>("2")->click();
            }
    });
    cancel.start(10);
    EXPECT_EQ(Convert(dlg),
              (std::vector<std::string>{"Are you sure? ", "Converting task has been canceled!  "}));
    EXPECT_TRUE(FilesIn(temp).empty());

    ASSERT_EQ(unlink(program.File("Vorbis.so").c_str()), 0);
    dlg.m_comboFormat.setCurrentIndex(FORMAT_OGG);
    EXPECT_EQ(Convert(dlg),
              (std::vector<std::string>{"Error loading Vorbis.DLL", "Converting task failed!  "}));
    EXPECT_TRUE(FilesIn(temp).empty());
    EXPECT_FALSE(FileExists(media.File("tone_OUTPUT.ogg"))) << "the name it claimed, left empty";

    // SIGTERM during a conversion (a session ending): cancelled without a question (unless it had
    // just completed), no temporary WAV left, the window closed. The signal comes from a child of this
    // moment, which shares the handlers and their wake-up: after its first signal a second one, of
    // another kind, must end it at once, however busy the window.
    dlg.m_comboFormat.setCurrentIndex(FORMAT_MP3);
    CQuitSignals quitSignals(dlg);
    QTimer terminate;
    int childStatus = 0;
    QObject::connect(&terminate, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* processing = qobject_cast<CProcessingDlg*>(w); processing && processing->isVisible()) {
                terminate.stop();
                const pid_t child = fork();
                if (child == 0) {
                    raise(SIGINT);
                    raise(SIGTERM);
                    _exit(0);
                }
                waitpid(child, &childStatus, 0);
            }
    });
    terminate.start(10);
    const std::vector<std::string> ended = Convert(dlg);
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_TRUE(ended[0] == "Converting task has been canceled!  " || ended[0].starts_with(kCompleted))
        << ended[0];
    EXPECT_TRUE(FilesIn(temp).empty());
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_TRUE(WIFSIGNALED(childStatus) && WTERMSIG(childStatus) == SIGTERM) << childStatus;
}

// "original": the list says what a copy of this source gives before the user converts, the copy is one
// step without a temporary WAV, named after the codec's own file type, and the closing message says it
// holds whole frames.
TEST_F(EndToEndTest, OriginalCopiesTheSourcesOwnAudio) {
    const std::string source = media.File("dvd rip.mkv");
    ASSERT_TRUE(RunFfmpeg({"-f", "lavfi", "-i", ChirpSource(48000, 4), "-f", "lavfi", "-i",
                           "testsrc=s=160x120:r=25:d=4", "-c:v", "mpeg4", "-c:a", "ac3",
                           QString::fromStdString(source)}));
    CConverterDlg dlg;
    dlg.show();
    Open(dlg, source);
    Pause(dlg);
    DragSliderTo(dlg, 10);
    dlg.m_btnStartTime.click();
    DragSliderTo(dlg, 25);
    dlg.m_btnEndTime.click();
    dlg.m_comboFormat.setCurrentIndex(FORMAT_ORIGINAL);
    EXPECT_EQ(dlg.m_comboFormat.currentText(), "original");
    EXPECT_TRUE(dlg.m_comboFormat.toolTip().endsWith("whole frames: up to 32 ms more at each end."))
        << dlg.m_comboFormat.toolTip().toStdString();
    EXPECT_TRUE(dlg.m_editYear.isEnabled());

    const std::string output = media.File("dvd rip_OUTPUT.ac3");
    EXPECT_EQ(Convert(dlg), std::vector<std::string>{kCompleted + output +
                                                     "\n\nwhole frames: up to 32 ms more at each end"});
    const int64_t frames = DecodeWithFfmpeg(output).frames,
                  range = std::lround((dlg.m_dEndTime - dlg.m_dStartTime) * 48000);
    EXPECT_GE(frames, range);
    EXPECT_LE(frames, range + 2 * 1536);
    EXPECT_TRUE(FilesIn(temp).empty());
}

// A film with two audio tracks, the second marked as the default: the chooser appears under the format
// and starts there; the preview, the waveform and Convert follow the track chosen. A file of one track
// shows the design's layout, without a chooser.
TEST_F(EndToEndTest, AudioTrackChooserDrivesPreviewWaveformAndConvert) {
    const std::string tone = media.File("tone.wav"), film = media.File("film.mkv");
    ASSERT_TRUE(MakeTestSource(tone, 2.0));
    ASSERT_TRUE(MakeTwoTrackFilm(film, 6, "flac", "Commentary"));
    CConverterDlg dlg;
    dlg.show();
    Open(dlg, tone);
    const QRect designArtist = dlg.m_editArtist.geometry();
    EXPECT_FALSE(dlg.m_comboTrack.isVisible());

    Open(dlg, film);
    ASSERT_TRUE(dlg.m_comboTrack.isVisible());
    ASSERT_EQ(dlg.m_comboTrack.count(), 2);
    EXPECT_EQ(dlg.m_comboTrack.itemText(0), "1: eng, FLAC stereo");
    EXPECT_EQ(dlg.m_comboTrack.itemText(1), "2: deu, FLAC mono, Commentary");
    EXPECT_EQ(dlg.m_comboTrack.currentIndex(), 1);
    EXPECT_GT(dlg.m_editArtist.y(), dlg.m_comboTrack.y());
    EXPECT_TRUE(WaitFor([&] { return dlg.m_player.GetAudioTrack() == 2; }));
    // The sine of the commentary is quiet, the chirp of the first track loud.
    auto level = [&] {
        auto overview = dlg.m_waveform.GetOverview();
        return overview && overview->IsComplete() ? overview->PeakBetween(0.5, 2.5).hi : -1;
    };
    ASSERT_TRUE(WaitFor([&] { return level() > 0; }, 30000));
    EXPECT_LT(level(), 6000);

    dlg.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    QTest::keyClick(&dlg, Qt::Key_T);
    EXPECT_TRUE(dlg.m_comboTrack.view()->isVisible());
    dlg.m_comboTrack.hidePopup();
    // Tab reaches it after the format, and a screen reader knows it by name.
    dlg.m_comboFormat.setFocus(Qt::TabFocusReason);
    QTest::keyClick(&dlg.m_comboFormat, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), &dlg.m_comboTrack);
    const auto labels =
        QAccessible::queryAccessibleInterface(&dlg.m_comboTrack)->relations(QAccessible::Label);
    ASSERT_FALSE(labels.isEmpty());
    EXPECT_EQ(labels.front().first->text(QAccessible::Name), "Track :");
    dlg.m_comboTrack.setCurrentIndex(0);
    EXPECT_TRUE(WaitFor([&] { return dlg.m_player.GetAudioTrack() == 1; }));
    ASSERT_TRUE(WaitFor([&] { return level() > 12000; }, 30000));

    // Convert takes the English track: WAV at 44100 Hz, 16 bits, stereo is its samples themselves.
    g_settings.m_nWavChannelIndex = 1;
    g_settings.m_nWavBitsIndex = 1;
    g_settings.m_nWavSampleIndex = 7;
    dlg.m_comboFormat.setCurrentIndex(FORMAT_WAV);
    EXPECT_EQ(Convert(dlg), std::vector<std::string>{kCompleted + media.File("film_OUTPUT.wav")});
    const Pcm ours = ReadWavData(media.File("film_OUTPUT.wav"), 2, 2);
    const std::string ref = DecodeTrackRaw(film, 0, "s16le");
    ASSERT_GE(ours.Frames(), 6 * 44100 - 100);
    EXPECT_EQ(std::memcmp(ours.samples.data(), ref.data(), 5 * 44100 * 4), 0);

    Open(dlg, tone);
    EXPECT_FALSE(dlg.m_comboTrack.isVisible());
    EXPECT_EQ(dlg.m_editArtist.geometry(), designArtist);
}

// Pieces: Add takes the marked range, selecting a row loads its marks and Start/End Time then move that
// piece, Delete removes it; Convert writes one numbered file per piece, and with Join one file of all.
TEST_F(EndToEndTest, PiecesAreAddedSelectedDeletedAndConverted) {
    const std::string plain = media.File("plain.mka"), source = media.File("live.mka");
    ASSERT_TRUE(MakeTestSource(plain, 6.0));
    WriteFileText(media.File("ch.txt"),
                  ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=2000\ntitle=A\n"
                  "[CHAPTER]\nTIMEBASE=1/1000\nSTART=2000\nEND=6000\ntitle=B\n");
    ASSERT_TRUE(
        RunFfmpeg({"-i", QString::fromStdString(plain), "-i", QString::fromStdString(media.File("ch.txt")),
                   "-map", "0", "-map_metadata", "1", "-c", "copy", QString::fromStdString(source)}));
    CConverterDlg dlg;
    dlg.show();
    const int height = dlg.height();
    Open(dlg, source);
    auto* panel = dlg.findChild<QWidget*>(QStringLiteral("1080"))->parentWidget();
    auto* list = dlg.findChild<QTableWidget*>(QStringLiteral("1080"));
    auto* chapters = dlg.findChild<QPushButton*>(QStringLiteral("1084"));
    ASSERT_TRUE(panel && list && chapters);
    EXPECT_TRUE(panel->isVisible() && chapters->isVisible()) << "the chapters are offered";
    EXPECT_GT(dlg.height(), height);
    Pause(dlg);
    auto mark = [&](int from, int to) {
        DragSliderTo(dlg, from);
        dlg.m_btnStartTime.click();
        DragSliderTo(dlg, to);
        dlg.m_btnEndTime.click();
    };
    mark(10, 25);
    dlg.activateWindow(); // the keys are the window's
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    QTest::keyClick(&dlg, Qt::Key_A);
    mark(30, 45); // the next piece's marks: no piece is selected after Add
    dlg.findChild<QPushButton*>(QStringLiteral("1081"))->click();
    ASSERT_EQ(list->rowCount(), 2);
    EXPECT_EQ(list->item(1, 1)->text(), "0:00:03.000");
    list->selectRow(0);
    EXPECT_NEAR(dlg.m_dStartTime, 1.0, 0.05);
    EXPECT_NEAR(dlg.m_dEndTime, 2.5, 0.05);
    mark(10, 20);
    EXPECT_EQ(list->item(0, 3)->text(), "0:00:01.000");
    dlg.findChild<QPushButton*>(QStringLiteral("1081"))->click();
    ASSERT_EQ(list->rowCount(), 3);
    list->selectRow(2);
    dlg.findChild<QPushButton*>(QStringLiteral("1082"))->click(); // the selected third goes
    ASSERT_EQ(list->rowCount(), 2);
    EXPECT_NEAR(dlg.m_dStartTime, 3.0, 0.05) << "the piece selected now has the marks";

    dlg.m_comboFormat.setCurrentIndex(FORMAT_MP3);
    const std::string first = media.File("live - 01 - Piece 1.mp3"),
                      second = media.File("live - 02 - Piece 2.mp3");
    EXPECT_EQ(Convert(dlg), std::vector<std::string>{
                                "Completed converting! \n\nThe output audio files have been saved to:\n" +
                                first + "\n" + second});
    EXPECT_EQ(DecodeWithFfmpeg(first).frames, 44100);
    EXPECT_EQ(DecodeWithFfmpeg(second).frames, std::lround(1.5 * 44100));
    EXPECT_EQ(ProbeFile(second)["TAG:track"], "2/2");

    chapters->click();
    dlg.findChild<QCheckBox*>(QStringLiteral("1083"))->setChecked(true);
    EXPECT_EQ(Convert(dlg), std::vector<std::string>{
                                "Completed converting! \n\nThe output audio files have been saved to:\n" +
                                media.File("live_OUTPUT.mp3")});
    EXPECT_EQ(DecodeWithFfmpeg(media.File("live_OUTPUT.mp3")).frames, 6 * 44100);
    EXPECT_TRUE(FilesIn(temp).empty());
}
