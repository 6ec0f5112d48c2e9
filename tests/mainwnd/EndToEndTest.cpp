#include "AudioSettings.h"
#include "ConverterDlg.h"
#include "FileDialogEx.h"
#include "MediaPlayer2.h"
#include "SystemHelpers.h"
#include "TestMedia.h"
#include "TestSupport.h"

#include <QApplication>
#include <QMouseEvent>
#include <cmath>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

// The whole road in the window: a program directory with the real modules, a source opened through the
// file dialog, played, marked and converted.
class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* module : {"VideoEdit.so", "lame_enc.so", "Vorbis.so", "WmAudSDK.so"})
            ASSERT_EQ(symlink((std::string(QUILLET_BIN_DIR) + module).c_str(), program.File(module).c_str()),
                      0);
        SetAppDirectoryForTesting(program.Path());
        WriteFileText(program.File("param.ini"), "[General]\nTempPath=" + media.File("tmp/") +
                                                     "\nArtist=Test Artist\nAlbum=Test Album\n");
        CMediaPlayer2::SetAudioOutputForTesting("null");
    }
    void TearDown() override {
        CFileDialogEx::SetTestChooser({});
        SetAppDirectoryForTesting("");
    }

    // Opens the file as the user would, through the Open button and the file dialog.
    void Open(CConverterDlg& dlg, const std::string& path) {
        CFileDialogEx::SetTestChooser(
            [path](const CFileDialogEx&) { return std::optional<QString>(QString::fromStdString(path)); });
        dlg.m_btnOpen.click();
    }

    // Drags the slider's thumb to a position, as the user would with the mouse.
    void DragSliderTo(CConverterDlg& dlg, int pos) {
        CDrawnSliderCtrl& s = dlg.m_slider;
        const QPoint from = s.GetThumbRect().center();
        const QPoint to(s.PosToPlace(pos), from.y());
        auto send = [&](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
            QMouseEvent e(type, at, s.mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
            QApplication::sendEvent(&s, &e);
        };
        send(QEvent::MouseButtonPress, from, Qt::LeftButton);
        send(QEvent::MouseMove, (from + to) / 2, Qt::LeftButton);
        send(QEvent::MouseMove, to, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, to, Qt::NoButton);
    }

    TempDir program, media;
    MessageRecorder messages;
};

} // namespace

TEST_F(EndToEndTest, OpenPlaySeekMarkAndConvertToEveryFormat) {
    const std::string source = media.File("my clip.mkv");
    ASSERT_TRUE(MakeTestSource(source, 8.0, true));
    CConverterDlg dlg;
    dlg.show();
    Open(dlg, source);
    ASSERT_TRUE(WaitFor([&] { return dlg.m_bFileLoaded == 1; }, 20000)) << "playback did not start";
    EXPECT_TRUE(dlg.m_player.isVisible()); // a video shows in the preview area
    EXPECT_FALSE(dlg.m_picture.isVisible());
    EXPECT_NEAR(dlg.m_dDuration, 8.0, 0.05);
    EXPECT_EQ(dlg.m_labelEnd.text(), " End Time:  00:00:08.0");

    dlg.m_btnPause.click();
    ASSERT_TRUE(WaitFor([&] { return dlg.m_player.GetPlayState() == 1; }));
    DragSliderTo(dlg, 20);
    EXPECT_EQ(dlg.m_slider.GetPos(), 20);
    EXPECT_NEAR(dlg.m_player.GetCurrentPosition(), 2.0, 0.05);
    EXPECT_EQ(dlg.m_labelPosition.text(), " 00:00:02.0 / 00:00:08.0");
    dlg.m_btnStartTime.click();
    DragSliderTo(dlg, 55);
    dlg.m_btnEndTime.click();
    EXPECT_NEAR(dlg.m_dStartTime, 2.0, 0.05);
    EXPECT_NEAR(dlg.m_dEndTime, 5.5, 0.05);
    EXPECT_EQ(dlg.m_labelMarked.text(), " Marked Time:00:00:03.5");
    EXPECT_EQ(dlg.m_slider.GetSelStart(), 20);
    EXPECT_EQ(dlg.m_slider.GetSelEnd(), 55);
    const long frames = std::lround((dlg.m_dEndTime - dlg.m_dStartTime) * 44100);

    struct Case {
        int format;
        const char* name;
    };
    for (const Case& c : {Case{FORMAT_MP3, "my clip_OUTPUT.mp3"}, Case{FORMAT_WAV, "my clip_OUTPUT.wav"},
                          Case{FORMAT_OGG, "my clip_OUTPUT.ogg"}, Case{FORMAT_WMA, "my clip_OUTPUT.wma"},
                          Case{FORMAT_MP3, "my clip_OUTPUT1.mp3"}}) {
        dlg.m_comboFormat.setCurrentIndex(c.format);
        const size_t before = messages.Count();
        dlg.m_btnConvert.click(); // runs the Processing dialog to its end
        ASSERT_EQ(messages.Count(), before + 1);
        const std::string out = media.File(c.name);
        EXPECT_EQ(messages.Texts().back(),
                  "Completed converting! \n\nThe output audio file has been save to:\n" + out);
        const long decoded = DecodedFrames(out);
        if (c.format == FORMAT_WMA) {
            EXPECT_GE(decoded, frames) << c.name;
            EXPECT_LE(decoded, frames + 4096) << c.name;
        } else if (c.format == FORMAT_WAV) {
            EXPECT_GT(decoded, 0) << c.name; // resampled from the WAV settings' rate
        } else {
            EXPECT_EQ(decoded, frames) << c.name;
        }
    }
    EXPECT_EQ(ProbeTag(media.File("my clip_OUTPUT.mp3"), "artist"), "Test Artist");
    EXPECT_EQ(ProbeTag(media.File("my clip_OUTPUT.ogg"), "ALBUM"), "Test Album");
    EXPECT_EQ(ProbeTag(media.File("my clip_OUTPUT.wma"), "artist"), "");
    // Converting paused the preview, and it stays paused.
    EXPECT_EQ(dlg.m_player.GetPlayState(), 1);
}

TEST_F(EndToEndTest, MarkingKeepsStartBeforeEnd) {
    const std::string source = media.File("tone.wav");
    ASSERT_TRUE(MakeTestSource(source, 12.0));
    CConverterDlg dlg;
    dlg.show();
    Open(dlg, source);
    ASSERT_TRUE(WaitFor([&] { return dlg.m_bFileLoaded == 1; }, 20000));
    EXPECT_TRUE(dlg.m_picture.isVisible()); // audio only: the picture stays
    dlg.m_btnPause.click();
    ASSERT_TRUE(WaitFor([&] { return dlg.m_player.GetPlayState() == 1; }));

    DragSliderTo(dlg, 80);
    dlg.m_btnEndTime.click();
    DragSliderTo(dlg, 100);
    dlg.m_btnStartTime.click(); // a start after the end moves the end to the duration
    EXPECT_NEAR(dlg.m_dStartTime, 10.0, 0.05);
    EXPECT_NEAR(dlg.m_dEndTime, 12.0, 0.05);
    DragSliderTo(dlg, 50);
    dlg.m_btnEndTime.click(); // an end before the start moves the start to 0
    EXPECT_EQ(dlg.m_dStartTime, 0);
    EXPECT_NEAR(dlg.m_dEndTime, 5.0, 0.05);
    EXPECT_EQ(dlg.m_labelStart.text(), " Start Time: 00:00:00.0");
    EXPECT_EQ(dlg.m_labelMarked.text(), " Marked Time:00:00:05.0");
    dlg.m_btnClear.click();
    EXPECT_EQ(dlg.m_dEndTime, dlg.m_dDuration);
    EXPECT_EQ(dlg.m_labelEnd.text(), " End Time:  00:00:12.0");
    EXPECT_EQ(dlg.m_slider.GetSelEnd(), 120);

    // The end of the file reads as stopped, with the thumb at the end.
    dlg.m_btnPlay.click();
    ASSERT_TRUE(WaitFor([&] { return dlg.m_slider.GetPos() == dlg.m_slider.GetRangeMax(); }, 20000));
    EXPECT_EQ(dlg.m_player.GetPlayState(), 0);
    EXPECT_EQ(dlg.m_labelPosition.text(), " 00:00:12.0 / 00:00:12.0 ");
}

TEST_F(EndToEndTest, AFileWithoutCodecResetsTheWindow) {
    const std::string good = media.File("tone.wav");
    ASSERT_TRUE(MakeTestSource(good, 3.0));
    const std::string garbage = media.File("garbage.avi");
    WriteFileText(garbage, std::string(20000, '\x42'));
    CConverterDlg dlg;
    dlg.show();
    Open(dlg, good);
    ASSERT_TRUE(WaitFor([&] { return dlg.m_bFileLoaded == 1; }, 20000));
    Open(dlg, garbage);
    ASSERT_TRUE(WaitFor([&] { return messages.Count() == 1; }, 20000));
    EXPECT_EQ(messages.Texts()[0],
              "Failed to open the media file! \n\nThere is no CODEC for this media format in your "
              "system. \nPlease read FAQ in help file or contact us ! ");
    EXPECT_EQ(dlg.m_bFileLoaded, 0);
    EXPECT_EQ(dlg.m_labelPosition.text(), " 00:00:00.0 / 00:00:00.0");
    EXPECT_EQ(dlg.m_labelMarked.text(), " Makred Time:00:00:00.0");
    EXPECT_TRUE(dlg.m_picture.isVisible());
    EXPECT_EQ(dlg.m_strSourcePath, garbage); // kept, but nothing converts
    dlg.m_btnConvert.click();
    EXPECT_EQ(messages.Texts().back(), "Please open a video or audio file first!");
    EXPECT_FALSE(FileExists(media.File("garbage_OUTPUT.mp3")));
}
