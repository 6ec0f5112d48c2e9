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
#include <cmath>
#include <gtest/gtest.h>
#include <tuple>
#include <unistd.h>

namespace {

// The window with the real modules, WAV output at 44100 Hz, 16 bits, stereo: its samples are the range
// itself.
class WindowWithModules : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* module : {"VideoEdit.so", "lame_enc.so"})
            ASSERT_EQ(symlink((std::string(QUILLET_BIN_DIR) + module).c_str(), program.File(module).c_str()),
                      0);
        SetAppDirectoryForTesting(program.Path());
        WriteFileText(program.File("param.ini"),
                      "[General]\nFormat Index=1\nTempPath=" + media.File("tmp/") +
                          "\n[wav]\nChannel Index=1\nBits per sample=1\nSample Index=7\n");
        CMediaPlayer2::SetAudioOutputForTesting("null");
    }
    void TearDown() override {
        CFileDialogEx::SetTestChooser({});
        SetAppDirectoryForTesting("");
    }
    // Opens the file with Ctrl+O and waits until it plays.
    void Open(const std::string& path) {
        dlg = std::make_unique<CConverterDlg>(); // after the settings are written
        dlg->show();
        dlg->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get())); // the keys are the window's
        CFileDialogEx::SetTestChooser(
            [path](const CFileDialogEx&) { return std::optional<QString>(QString::fromStdString(path)); });
        QTest::keyClick(dlg.get(), Qt::Key_O, Qt::ControlModifier);
        ASSERT_TRUE(WaitFor([&] { return dlg->m_bFileLoaded == 1; }, 20000)) << "playback did not start";
        dlg->activateWindow(); // the offscreen platform gave it to the wait indicator
        ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
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
    std::unique_ptr<CConverterDlg> dlg;
};

// Marking beyond the buttons: the waveform, the keys, typed times and "Play Selection", on a video whose
// sound is loud from 2 s to 4 s and silent around that.
class MarkingTest : public WindowWithModules {
protected:
    void SetUp() override {
        WindowWithModules::SetUp();
        ASSERT_TRUE(RunFfmpeg(
            {"-f", "lavfi", "-i", "aevalsrc=0.8*sin(2*PI*440*t)*between(t\\,2\\,4):s=44100:d=6", "-f",
             "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=6", "-ac", "2", "-c:a", "aac", "-c:v",
             "libx264", "-preset", "ultrafast", "-movflags", "+faststart", QString::fromStdString(source)}));
        Open(source);
    }
    // Presses a key, then lets the player finish what it does.
    void Key(Qt::Key key, int times = 1, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        for (int i = 0; i < times; ++i) {
            QTest::keyClick(dlg.get(), key, modifiers);
            EXPECT_TRUE(WaitFor([&] { return !dlg->m_player.IsSeeking(); }));
        }
    }

    const std::string source = media.File("loud in the middle.mp4");
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
    EXPECT_FALSE(CWaveformReader::Read(mute, 0, none, std::atomic<bool>{false}));
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

// ---------------------------------------------------------------------------------------------------
// One timeline: in files whose time 0 is not the first sound (a start offset, a stream cut from a
// broadcast, audio that begins after the picture), the preview's picture, the waveform and the duration
// put each moment where a decode of the whole file from its start does, and a range marked by them
// converts exactly that audio.

namespace {

struct Timeline {
    const char* name;
    const char* file;
    const char* args; // the output options; the inputs are the sound (0) and, unless audioOnly, the picture
    bool audioOnly;
    int tolerance;            // output frames (millisecond clocks)
    bool stampedZero = false; // every audio timestamp 0: the whole decode counts the samples
};

class TimelineTest : public WindowWithModules, public ::testing::WithParamInterface<Timeline> {
protected:
    // Which picture the preview shows, as the picture's time on its own clock: each frame is a grey of
    // 16 + its number, ten frames a second.
    double ShownPicture() {
        const QImage image = dlg->m_player.grab().toImage();
        const QRgb c = image.pixel(image.width() / 2, image.height() / 2);
        return std::round(qRed(c) * 219.0 / 255) / 10;
    }
    // ffprobe's start of the picture minus the file's start: where the picture begins on the timeline.
    double PictureStart(const std::string& path) {
        std::string out;
        RunProgram("ffprobe",
                   {"-v", "error", "-select_streams", "v:0", "-show_entries",
                    "stream=start_time:format=start_time", "-of", "csv=p=0", path},
                   &out);
        // The stream first (MPEG-TS lists it twice, under its program too), the file's start last.
        const QStringList lines = QString::fromStdString(out).split('\n', Qt::SkipEmptyParts);
        return lines.size() >= 2 ? lines.front().toDouble() - lines.back().toDouble() : -1;
    }
};

} // namespace

TEST_P(TimelineTest, PictureWaveformAndMarksAgreeWithADecodeFromTheStart) {
    const Timeline& c = GetParam();
    const std::string source = media.File(c.file), full = media.File("full.wav");
    // Loud from 2 s to 4 s of the sound's own time, a chirp that any shift shows in.
    QStringList make{"-f", "lavfi", "-i",
                     "aevalsrc=between(t\\,2\\,4)*0.5*sin(2*PI*(200+300*t)*t)|"
                     "between(t\\,2\\,4)*0.4*sin(2*PI*(500+150*t)*t):s=44100:d=6"};
    if (!c.audioOnly)
        make += {"-f",       "lavfi",
                 "-i",       "color=black:s=64x48:r=10:d=6,format=yuv420p,geq=lum=16+N:cb=128:cr=128",
                 "-c:v",     "libx264",
                 "-g",       "50",
                 "-pix_fmt", "yuv420p"};
    ASSERT_TRUE(RunFfmpeg(make + QString(c.args).split(' ') + QStringList{QString::fromStdString(source)}));
    const QStringList place{"-af", "aresample=async=1:first_pts=0"};
    ASSERT_TRUE(RunFfmpeg(QStringList{"-i", QString::fromStdString(source), "-vn"} +
                          (c.stampedZero ? QStringList() : place) +
                          QStringList{"-ac", "2", "-ar", "44100", "-map_metadata", "-1", "-bitexact",
                                      QString::fromStdString(full)}));
    const Pcm reference = ReadWavData(full, 2, 2);
    int64_t onset = 0; // the first loud sample on the timeline
    while (onset < reference.Frames() && std::abs(reference.At(onset, 0)) < 3000)
        ++onset;
    const double loudFrom = static_cast<double>(onset) / 44100, loudTo = loudFrom + 2;
    Open(source);
    ASSERT_FALSE(HasFatalFailure());
    // Known at once, or once the file has been read through.
    EXPECT_TRUE(WaitFor([&] { return std::abs(dlg->m_dDuration - reference.Frames() / 44100.0) < 0.1; }))
        << dlg->m_dDuration << " s";

    ASSERT_TRUE(WaitFor(
        [&] { return dlg->m_waveform.GetOverview() && dlg->m_waveform.GetOverview()->IsComplete(); }, 20000));
    const auto overview = dlg->m_waveform.GetOverview();
    for (const auto& [from, to, loud] : {std::tuple{loudFrom - 0.3, loudFrom - 0.05, false},
                                         {loudFrom + 0.05, loudFrom + 0.3, true},
                                         {loudTo - 0.3, loudTo - 0.05, true},
                                         {loudTo + 0.05, loudTo + 0.3, false}}) {
        const CPeakOverview::Peak p = overview->PeakBetween(from, to);
        EXPECT_EQ(p.hi > 8000, loud) << "waveform from " << from << " s to " << to << " s: " << p.hi;
    }

    // Paused, marked where the picture shows the moments around the loud part.
    dlg->m_btnPause.click();
    ASSERT_TRUE(WaitFor([&] { return dlg->m_player.GetPlayState() == 1; }));
    const double pictureStart = c.audioOnly ? 0 : PictureStart(source);
    // On whole milliseconds: whole samples of the 8 kHz source too, so its range starts where the
    // reference's does, not between two of its samples.
    for (const double t :
         {std::round(loudFrom * 1000 - 500) / 1000, std::round(loudTo * 1000 + 500) / 1000}) {
        if (c.stampedZero) { // the preview cannot go there: typed
            ASSERT_EQ(messages.Count(), 1u);
            EXPECT_EQ(messages.Texts()[0].find("The timing of this file cannot be read"), 0u);
            EXPECT_TRUE(Type(t < loudFrom ? dlg->m_labelStart : dlg->m_labelEnd,
                             QByteArray::number(t, 'f', 6).constData(), 0));
            continue;
        }
        dlg->m_player.SetCurrentPosition(t);
        ASSERT_TRUE(WaitFor([&] { return !dlg->m_player.IsSeeking(); }));
        if (!c.audioOnly) {
            // The first picture at or after the moment, within a frame of it.
            EXPECT_TRUE(WaitFor([&] { return std::abs(pictureStart + ShownPicture() - t) < 0.15; }))
                << "at " << t << " s the preview shows the picture of " << pictureStart + ShownPicture();
        }
        (t < loudFrom ? dlg->m_btnStartTime : dlg->m_btnEndTime).click();
    }
    EXPECT_NEAR(dlg->m_dEndTime - dlg->m_dStartTime, 3.0, 1e-9);

    dlg->m_btnConvert.click();
    ASSERT_EQ(messages.Count(), c.stampedZero ? 2u : 1u);
    const std::string base = std::string(c.file).substr(0, std::string(c.file).rfind('.'));
    const Pcm ours = ReadWavData(media.File(base + "_OUTPUT.wav"), 2, 2);
    ASSERT_EQ(ours.Frames(), 3 * 44100) << messages.Texts().back();
    Pcm ref;
    const int64_t from = std::llround(dlg->m_dStartTime * 44100);
    ref.samples.assign(reference.samples.begin() + 2 * from,
                       reference.samples.begin() + 2 * std::min(from + 3 * 44100, reference.Frames()));
    const int lag = BestLag(ours, ref, -2000, 2000, 44100 * 6 / 10, 4096);
    EXPECT_LE(std::abs(lag), c.tolerance);
    EXPECT_LT(RelativeError(ours, ref, lag, 0, ref.Frames()), 0.05);
}

INSTANTIATE_TEST_SUITE_P(
    Containers, TimelineTest,
    ::testing::Values(
        Timeline{"Mp4StartingAt5s", "offset.mp4", "-c:a aac -movflags +faststart -output_ts_offset 5", false,
                 1},
        Timeline{"MkvStartingAt30s", "cut.mkv", "-c:a libvorbis -output_ts_offset 30", false, 45},
        Timeline{"MkaStartingAt30s", "cut.mka", "-c:a flac -output_ts_offset 30", true, 45},
        // As recorders write it: starting near 1.4 s, a key frame every 5 s.
        Timeline{"MpegTs", "recording.ts", "-c:a mp2", false, 1},
        Timeline{"OggStartingAt10s", "stream.ogg", "-c:a libvorbis -output_ts_offset 10", true, 1},
        Timeline{"MkvAudioAfterPicture", "late sound.mkv", "-c:a flac -af asetpts=PTS+1/TB", false, 45},
        // RealAudio as FFmpeg writes it: every packet stamped 0, and a duration of 0 in the header.
        Timeline{"RealMediaStampedZero", "speech.rm", "-c:a real_144 -ar 8000 -ac 1 -f rm", true, 1, true}),
    [](const ::testing::TestParamInfo<Timeline>& info) { return std::string(info.param.name); });
