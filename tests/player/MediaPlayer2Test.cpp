#include "MediaPlayer2.h"
#include "TestMedia.h"
#include "TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QThread>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <random>

namespace {

constexpr double kFrame = 1.0 / 15; // the test videos' frame time
using Changes = std::vector<std::pair<int, int>>;
using P = CMediaPlayer2;

// A player with everything it reports recorded.
struct Harness {
    std::unique_ptr<CMediaPlayer2> player;
    Changes changes;
    int errors = 0;
    bool offGuiThread = false;

    Harness() {
        CMediaPlayer2::SetAudioOutputForTesting("null");
        player = std::make_unique<CMediaPlayer2>();
        player->resize(370, 235);
        QObject::connect(player.get(), &CMediaPlayer2::PlayStateChange, [this](int oldState, int newState) {
            offGuiThread |= QThread::currentThread() != qApp->thread();
            changes.emplace_back(oldState, newState);
        });
        QObject::connect(player.get(), &CMediaPlayer2::Error, [this] {
            offGuiThread |= QThread::currentThread() != qApp->thread();
            ++errors;
        });
    }
    int LastState() const { return changes.empty() ? -1 : changes.back().second; }
    bool WaitForState(int state) {
        return WaitFor([&] { return LastState() == state && player->GetPlayState() == state; }, 15000);
    }
    bool Open(const std::string& path) {
        player->SetFileName(path);
        player->Play();
        return WaitForState(P::kPlaying);
    }
    // Waits until playback passes `past`; returns the lowest position seen on the way.
    double LowestOnTheWayTo(double past) {
        double lowest = player->GetCurrentPosition();
        EXPECT_TRUE(WaitFor([&] {
            lowest = std::min(lowest, player->GetCurrentPosition());
            return player->GetCurrentPosition() > past;
        })) << "playback did not pass "
            << past;
        return lowest;
    }
};

class PlayerTest : public ::testing::Test {
protected:
    std::string Media(const std::string& name, double seconds, bool withVideo) {
        const std::string path = m_dir.File(name);
        if (!MakeTestSource(path, seconds, withVideo))
            ADD_FAILURE() << "cannot make " << path;
        return path;
    }
    TempDir m_dir;
};

bool IsBlack(QRgb pixel) {
    return qRed(pixel) < 16 && qGreen(pixel) < 16 && qBlue(pixel) < 16;
}

} // namespace

TEST_F(PlayerTest, DurationIsKnownRightAfterSetFileNameAndStatesChangeOnTheGuiThread) {
    const std::string video = Media("clip.avi", 3, true);
    const std::string odd = Media("Ünïcode 'quoted' \"twice\" $HOME & spaces ♪.mp3", 1.5, false);
    Media("concat:tone 1.mp3", 1.5, false); // a relative path that looks like a protocol is a file
    const QString previous = QDir::currentPath();
    Harness h;
    for (const auto& [path, seconds] :
         {std::pair{odd, 1.5}, {std::string("concat:tone 1.mp3"), 1.5}, {video, 3.0}}) {
        QDir::setCurrent(QString::fromStdString(m_dir.Path())); // only while the name is set
        h.player->SetFileName(path);
        QDir::setCurrent(previous);
        EXPECT_NEAR(h.player->GetDuration(), seconds, 0.1) << path;
        EXPECT_EQ(h.player->GetPlayState(), P::kWaiting) << path;
        h.player->Play();
        EXPECT_TRUE(h.WaitForState(P::kPlaying)) << path;
    }
    // Each real change is reported once: a second Pause is none.
    h.changes.clear();
    h.player->Pause();
    ASSERT_TRUE(h.WaitForState(P::kPaused));
    const double pausedAt = h.player->GetCurrentPosition();
    h.player->Pause();
    h.player->Play();
    ASSERT_TRUE(h.WaitForState(P::kPlaying));
    EXPECT_GT(h.LowestOnTheWayTo(pausedAt + 0.2), pausedAt - kFrame);
    EXPECT_EQ(h.changes, (Changes{{P::kPlaying, P::kPaused}, {P::kPaused, P::kPlaying}}));
    EXPECT_FALSE(h.offGuiThread);
    EXPECT_EQ(h.errors, 0);
}

TEST_F(PlayerTest, EndOfFileReadsAsStoppedAtTheEndAndPlayStartsAgain) {
    for (const auto& [name, withVideo] :
         {std::pair{"end.mp3", false}, {"end.avi", true}, {"end.mp4", true}}) {
        const std::string path = Media(name, 2, withVideo);
        Harness h;
        ASSERT_TRUE(h.Open(path)) << path;
        h.player->SetCurrentPosition(1.8);
        double highest = 0;
        ASSERT_TRUE(WaitFor([&] {
            highest = std::max(highest, h.player->GetCurrentPosition());
            return h.LastState() == P::kStopped;
        })) << path;
        EXPECT_LE(highest, h.player->GetDuration()) << path;
        EXPECT_EQ(h.player->GetCurrentPosition(), h.player->GetDuration()) << path;
        // Play at the end plays it again from the start, also after a Pause there.
        h.player->Pause();
        h.player->Play();
        ASSERT_TRUE(h.WaitForState(P::kPlaying)) << path;
        EXPECT_LT(h.player->GetCurrentPosition(), 0.5) << path;
        EXPECT_EQ(h.changes, (Changes{{P::kClosed, P::kWaiting},
                                      {P::kWaiting, P::kPlaying},
                                      {P::kPlaying, P::kStopped},
                                      {P::kStopped, P::kPlaying}}))
            << path;
    }
}

TEST_F(PlayerTest, SeekIsExactAndPlaybackContinuesFromThere) {
    Harness h;
    // Audio, while it opens: the position answers the target at once and never falls back behind it.
    h.player->SetFileName(Media("tone.mp3", 5, false));
    h.player->SetCurrentPosition(1.5);
    EXPECT_DOUBLE_EQ(h.player->GetCurrentPosition(), 1.5);
    ASSERT_TRUE(h.WaitForState(P::kPlaying));
    EXPECT_GT(h.LowestOnTheWayTo(1.8), 1.45);

    ASSERT_TRUE(h.Open(Media("clip.avi", 6, true)));
    h.player->SetCurrentPosition(3.0);
    EXPECT_DOUBLE_EQ(h.player->GetCurrentPosition(), 3.0);
    EXPECT_GT(h.LowestOnTheWayTo(3.4), 3.0 - kFrame);
    // Paused: an exact seek between key frames, then playing on from there.
    h.player->Pause();
    ASSERT_TRUE(h.WaitForState(P::kPaused));
    h.player->SetCurrentPosition(1.4);
    EXPECT_DOUBLE_EQ(h.player->GetCurrentPosition(), 1.4);
    h.player->Play();
    EXPECT_GT(h.LowestOnTheWayTo(2.0), 1.4 - kFrame);
    // From the stopped end back into the file: it plays on from there.
    h.player->SetCurrentPosition(5.9);
    ASSERT_TRUE(h.WaitForState(P::kStopped));
    h.player->SetCurrentPosition(2.0);
    EXPECT_DOUBLE_EQ(h.player->GetCurrentPosition(), 2.0);
    ASSERT_TRUE(h.WaitForState(P::kPlaying));
    EXPECT_GT(h.LowestOnTheWayTo(2.3), 2.0 - kFrame);
}

TEST_F(PlayerTest, ASecondFileReplacesTheFirstAndOnlyRealVideoHasAPicture) {
    const std::string video = Media("clip.avi", 6, true);
    const std::string audio = Media("tone.mp3", 2, false);
    const std::string covered = m_dir.File("covered.mp3");
    ASSERT_TRUE(
        RunFfmpeg({"-i", QString::fromStdString(audio), "-f", "lavfi", "-i", "color=c=red:size=64x64:d=0.1",
                   "-map", "0", "-map", "1", "-frames:v", "1", "-c:a", "copy", "-c:v", "png",
                   "-disposition:v", "attached_pic", QString::fromStdString(covered)}));
    Harness h;
    EXPECT_EQ(h.player->GetPictureWidth(), 0);
    ASSERT_TRUE(h.Open(video));
    EXPECT_EQ(h.player->GetPictureWidth(), 160);
    ASSERT_TRUE(WaitFor([&] { return h.player->GetCurrentPosition() > 0.5; }));
    h.changes.clear();
    h.player->SetFileName(covered);
    EXPECT_NEAR(h.player->GetDuration(), 2.0, 0.1);
    EXPECT_EQ(h.player->GetCurrentPosition(), 0);
    h.player->Play();
    ASSERT_TRUE(h.WaitForState(P::kPlaying));
    EXPECT_EQ(h.changes, (Changes{{P::kPlaying, P::kWaiting}, {P::kWaiting, P::kPlaying}}));
    EXPECT_LT(h.player->GetCurrentPosition(), 1.0);
    EXPECT_EQ(h.player->GetPictureWidth(), 0); // cover art is not a picture to show
    EXPECT_EQ(h.errors, 0);
}

TEST_F(PlayerTest, UnplayableFilesGiveOneErrorEachAndNeverPlay) {
    const std::string garbage = m_dir.File("garbage.avi");
    std::mt19937 random(7);
    std::string bytes(64 * 1024, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    WriteFileText(garbage, bytes);
    const std::string subtitles = m_dir.File("words.avi");
    WriteFileText(subtitles, "1\n00:00:00,000 --> 00:00:02,000\nNo sound here\n\n");
    const std::string good = Media("tone.mp3", 1.5, false);
    for (const std::string& bad : {garbage, subtitles, m_dir.Path()}) {
        Harness h;
        h.player->SetFileName(bad);
        EXPECT_EQ(h.player->GetDuration(), 0) << bad;
        h.player->Play();
        ASSERT_TRUE(WaitFor([&] { return h.errors > 0; })) << bad;
        EXPECT_EQ(h.player->GetPlayState(), P::kClosed) << bad;
        h.player->Play();
        h.player->Pause();
        h.player->SetCurrentPosition(1);
        EXPECT_EQ(h.player->GetCurrentPosition(), 0) << bad;
        // Everything about the bad file has been told once the next one plays.
        ASSERT_TRUE(h.Open(good)) << bad;
        EXPECT_EQ(h.errors, 1) << bad;
        EXPECT_EQ(
            std::count(h.changes.begin(), h.changes.end(), std::pair{int(P::kWaiting), int(P::kPlaying)}), 1)
            << bad;
        EXPECT_FALSE(h.offGuiThread);
    }
}

TEST_F(PlayerTest, VideoIsDrawnFittedAndDestroyingThePlayerAtAnyTimeIsClean) {
    const std::string video = Media("clip.avi", 6, true);
    {
        Harness opening;
        opening.player->show();
        opening.player->SetFileName(video);
        opening.player->Play();
    }
    Harness h;
    // As in the main window: hidden while the file opens, shown once it plays.
    ASSERT_TRUE(h.Open(video));
    h.player->show();
    // 160x120 fitted into 370x235 leaves bars of 28 pixels at the sides.
    auto drawn = [&](QSize size, int barX) {
        const QImage image = h.player->grab().toImage();
        if (image.size() != size || IsBlack(image.pixel(size.width() / 2, size.height() / 2)))
            return false;
        for (int y = 0; y < image.height(); y += 10)
            if (!IsBlack(image.pixel(barX, y)) || !IsBlack(image.pixel(size.width() - 1 - barX, y)))
                return false;
        return true;
    };
    ASSERT_TRUE(WaitFor([&] { return drawn(QSize(370, 235), 5); }));
    // A paused picture survives hiding, showing and resizing.
    h.player->Pause();
    ASSERT_TRUE(h.WaitForState(P::kPaused));
    h.player->hide();
    h.player->resize(300, 200);
    h.player->show();
    ASSERT_TRUE(WaitFor([&] { return drawn(QSize(300, 200), 10); }));
    h.player->Play();
    ASSERT_TRUE(h.WaitForState(P::kPlaying));
    h.player.reset(); // while playing: nothing of it arrives late
    Harness next;
    ASSERT_TRUE(next.Open(video));
    EXPECT_EQ(next.errors, 0);
}
