#include "MediaPlayer2.h"
#include "TestMedia.h"
#include "TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QThread>
#include <gtest/gtest.h>
#include <memory>

namespace {

using Changes = std::vector<std::pair<int, int>>;
using P = CMediaPlayer2;

// A player with the state changes and errors it reports recorded.
struct Harness {
    std::unique_ptr<CMediaPlayer2> player =
        (CMediaPlayer2::SetAudioOutputForTesting("null"), std::make_unique<P>());
    Changes changes;
    int errors = 0;
    bool offGuiThread = false;
    Harness() {
        QObject::connect(player.get(), &P::PlayStateChange, [this](int oldState, int newState) {
            offGuiThread |= QThread::currentThread() != qApp->thread();
            changes.emplace_back(oldState, newState);
        });
        QObject::connect(player.get(), &P::Error, [this] { ++errors; });
    }
    bool WaitForState(int state) {
        return WaitFor(
            [&] {
                return !changes.empty() && changes.back().second == state && player->GetPlayState() == state;
            },
            15000);
    }
    bool Open(const std::string& path) {
        player->SetFileName(path);
        player->Play();
        return WaitForState(P::kPlaying);
    }
};

} // namespace

// The duration is known right after the name is set, a seek answers its target at once and playback
// goes on from there (between key frames, paused, too), and each real change is told on the GUI thread.
TEST(Player, KnowsTheDurationAtOnceSeeksExactlyAndTellsEachRealChange) {
    TempDir dir;
    const std::string video = dir.File("clip.avi");
    ASSERT_TRUE(MakeTestSource(video, 6, true) &&
                MakeTestSource(dir.File("concat:Ünï 'q' $HOME.mp3"), 1.5, false));
    const QString previous = QDir::currentPath();
    Harness h;
    QDir::setCurrent(
        QString::fromStdString(dir.Path())); // a relative name that looks like a protocol is a file
    h.player->SetFileName("concat:Ünï 'q' $HOME.mp3");
    QDir::setCurrent(previous);
    EXPECT_NEAR(h.player->GetDuration(), 1.5, 0.1);
    ASSERT_TRUE(h.Open(video));
    EXPECT_NEAR(h.player->GetDuration(), 6, 0.1);
    h.player->Pause();
    ASSERT_TRUE(h.WaitForState(P::kPaused));
    h.player->Pause(); // already paused: nothing to report
    h.player->SetCurrentPosition(1.4);
    EXPECT_DOUBLE_EQ(h.player->GetCurrentPosition(), 1.4);
    h.player->Play();
    double lowest = 1.4;
    EXPECT_TRUE(WaitFor([&] {
        lowest = std::min(lowest, h.player->GetCurrentPosition());
        return h.player->GetCurrentPosition() > 1.8;
    }));
    EXPECT_GT(lowest, 1.4 - 1.0 / 15); // within a frame of the test video
    EXPECT_EQ(h.changes, (Changes{{P::kClosed, P::kWaiting},
                                  {P::kWaiting, P::kPlaying},
                                  {P::kPlaying, P::kPaused},
                                  {P::kPaused, P::kPlaying}}));
    EXPECT_FALSE(h.offGuiThread);
    EXPECT_EQ(h.errors, 0);
}

// An unplayable file gives one error and nothing else; cover art is no picture to show; a player may
// go while it opens.
TEST(Player, UnplayableFilesGiveOneErrorEachAndCoverArtIsNoPicture) {
    TempDir dir;
    const std::string good = dir.File("tone.mp3"), covered = dir.File("covered.mp3");
    ASSERT_TRUE(MakeTestSource(good, 1.5, false));
    ASSERT_TRUE(
        RunFfmpeg({"-i", QString::fromStdString(good), "-f", "lavfi", "-i", "color=c=red:size=64x64:d=0.1",
                   "-map", "0", "-map", "1", "-frames:v", "1", "-c:a", "copy", "-c:v", "png",
                   "-disposition:v", "attached_pic", QString::fromStdString(covered)}));
    WriteFileText(dir.File("garbage.avi"), std::string(64 * 1024, '\x5a'));
    WriteFileText(dir.File("words.avi"), "1\n00:00:00,000 --> 00:00:02,000\nNo sound here\n\n");
    for (const std::string& bad : {dir.File("garbage.avi"), dir.File("words.avi"), dir.Path()}) {
        Harness h;
        h.player->SetFileName(bad);
        EXPECT_EQ(h.player->GetDuration(), 0) << bad;
        h.player->Play();
        ASSERT_TRUE(WaitFor([&] { return h.errors > 0; })) << bad;
        EXPECT_EQ(h.player->GetPlayState(), P::kClosed) << bad;
        // Everything about the bad file has been told once the next one plays.
        ASSERT_TRUE(h.Open(covered)) << bad;
        EXPECT_EQ(h.errors, 1) << bad;
        EXPECT_EQ(h.player->GetPictureWidth(), 0);
    }
    Harness opening;
    opening.player->SetFileName(covered);
    opening.player->Play();
}
