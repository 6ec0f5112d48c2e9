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
#include <vector>

namespace {

constexpr double kFrame = 1.0 / 15; // the test videos' frame time

// A player with everything it reports recorded.
struct Harness {
    std::unique_ptr<CMediaPlayer2> player;
    std::vector<std::pair<int, int>> changes;
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
    bool WaitForState(int state, int timeoutMs = 15000) {
        return WaitFor([&] { return LastState() == state && player->GetPlayState() == state; }, timeoutMs);
    }
    // Opens the file and waits until it plays.
    bool Open(const std::string& path) {
        player->SetFileName(path);
        player->Play();
        return WaitForState(CMediaPlayer2::kPlaying);
    }
    // Seeks (unless target < 0), then waits until playback passes `past`; returns the lowest position
    // seen on the way, which must never fall back behind the target.
    double LowestOnTheWayTo(double target, double past) {
        if (target >= 0)
            player->SetCurrentPosition(target);
        double lowest = player->GetCurrentPosition();
        EXPECT_TRUE(WaitFor([&] {
            lowest = std::min(lowest, player->GetCurrentPosition());
            return player->GetCurrentPosition() > past;
        })) << "playback did not pass "
            << past;
        return lowest;
    }
    bool Reached(int state) const {
        return std::any_of(changes.begin(), changes.end(), [&](const auto& c) { return c.second == state; });
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

TEST_F(PlayerTest, DurationIsKnownRightAfterSetFileName) {
    const std::string video = Media("clip.avi", 3, true);
    const std::string audio = Media("tone.mp3", 2, false);
    const std::string odd = Media("Ünïcode 'quoted' \"twice\" $HOME & spaces ♪.mp3", 1.5, false);
    Media("concat:tone 1.mp3", 1.5, false); // a relative path that looks like a protocol is a file
    const QString previous = QDir::currentPath();
    Harness h;
    const std::vector<std::pair<std::string, double>> sources{
        {video, 3.0}, {audio, 2.0}, {odd, 1.5}, {"concat:tone 1.mp3", 1.5}};
    for (const auto& [path, seconds] : sources) {
        QDir::setCurrent(QString::fromStdString(m_dir.Path())); // only while the name is set
        h.player->SetFileName(path);
        QDir::setCurrent(previous);
        EXPECT_NEAR(h.player->GetDuration(), seconds, 0.1) << path;
        EXPECT_EQ(h.player->GetPlayState(), CMediaPlayer2::kWaiting) << path;
        h.player->Play();
        EXPECT_TRUE(h.WaitForState(CMediaPlayer2::kPlaying)) << path;
    }
    EXPECT_EQ(h.errors, 0);
}

TEST_F(PlayerTest, PlayAndPauseReportEachRealChangeOnTheGuiThread) {
    const std::string video = Media("clip.avi", 6, true);
    Harness h;
    ASSERT_TRUE(h.Open(video));
    h.player->Pause();
    ASSERT_TRUE(h.WaitForState(CMediaPlayer2::kPaused));
    const double pausedAt = h.player->GetCurrentPosition();
    h.player->Pause(); // already paused: nothing to report
    h.player->Play();
    ASSERT_TRUE(h.WaitForState(CMediaPlayer2::kPlaying));
    EXPECT_TRUE(WaitFor([&] { return h.player->GetCurrentPosition() > pausedAt + 0.2; }));

    EXPECT_FALSE(h.offGuiThread);
    const std::vector<std::pair<int, int>> expected{{CMediaPlayer2::kClosed, CMediaPlayer2::kWaiting},
                                                    {CMediaPlayer2::kWaiting, CMediaPlayer2::kPlaying},
                                                    {CMediaPlayer2::kPlaying, CMediaPlayer2::kPaused},
                                                    {CMediaPlayer2::kPaused, CMediaPlayer2::kPlaying}};
    EXPECT_EQ(h.changes, expected);
}

TEST_F(PlayerTest, EndOfFileReadsAsStoppedAtTheEndAndPlayStartsAgain) {
    const std::vector<std::pair<std::string, bool>> sources{
        {"short.mp3", false}, {"short.avi", true}, {"short.mp4", true}};
    for (const auto& [name, withVideo] : sources) {
        const std::string path = Media(name, 1, withVideo);
        Harness h;
        ASSERT_TRUE(h.Open(path)) << path;
        double highest = 0;
        ASSERT_TRUE(WaitFor([&] {
            highest = std::max(highest, h.player->GetCurrentPosition());
            return h.LastState() == CMediaPlayer2::kStopped;
        })) << path;
        EXPECT_LE(highest, h.player->GetDuration()) << path;
        EXPECT_EQ(h.player->GetCurrentPosition(), h.player->GetDuration()) << path;
        EXPECT_NEAR(h.player->GetDuration(), 1.0, 0.1) << path;

        // Play at the end plays it again from the start, also after a Pause there.
        h.player->Pause();
        h.player->Play();
        ASSERT_TRUE(h.WaitForState(CMediaPlayer2::kPlaying)) << path;
        EXPECT_LT(h.player->GetCurrentPosition(), 0.5) << path;
        ASSERT_TRUE(h.WaitForState(CMediaPlayer2::kStopped)) << path;
        for (size_t i = 1; i < h.changes.size(); ++i)
            EXPECT_EQ(h.changes[i].first, h.changes[i - 1].second) << path;
        EXPECT_FALSE(h.Reached(CMediaPlayer2::kPaused)) << path;
    }
}

TEST_F(PlayerTest, SeekIsExactAndPlaybackContinuesFromThere) {
    const std::string video = Media("clip.avi", 6, true);
    Harness h;
    ASSERT_TRUE(h.Open(video));

    // Playing: the position answers the target at once and never falls back behind it.
    h.player->SetCurrentPosition(3.0);
    EXPECT_DOUBLE_EQ(h.player->GetCurrentPosition(), 3.0);
    EXPECT_GT(h.LowestOnTheWayTo(-1, 3.4), 3.0 - kFrame);

    // Paused: an exact seek between key frames, then playing on from there.
    h.player->Pause();
    ASSERT_TRUE(h.WaitForState(CMediaPlayer2::kPaused));
    h.player->SetCurrentPosition(1.4);
    EXPECT_DOUBLE_EQ(h.player->GetCurrentPosition(), 1.4);
    h.player->Play();
    EXPECT_GT(h.LowestOnTheWayTo(-1, 2.0), 1.4 - kFrame);

    // From the stopped end back into the file: it plays on from there.
    h.player->SetCurrentPosition(5.9);
    ASSERT_TRUE(h.WaitForState(CMediaPlayer2::kStopped));
    const size_t atEnd = h.changes.size();
    h.player->SetCurrentPosition(2.0);
    EXPECT_DOUBLE_EQ(h.player->GetCurrentPosition(), 2.0);
    ASSERT_TRUE(h.WaitForState(CMediaPlayer2::kPlaying));
    EXPECT_GT(h.LowestOnTheWayTo(-1, 2.3), 2.0 - kFrame);
    EXPECT_EQ(h.changes.size(), atEnd + 1);
}

TEST_F(PlayerTest, SeekInAudioIsExactAlsoWhileOpening) {
    Harness h;
    h.player->SetFileName(Media("tone.mp3", 5, false));
    h.player->SetCurrentPosition(1.5);
    EXPECT_DOUBLE_EQ(h.player->GetCurrentPosition(), 1.5);
    ASSERT_TRUE(h.WaitForState(CMediaPlayer2::kPlaying));
    EXPECT_GT(h.LowestOnTheWayTo(-1, 1.8), 1.45);
    EXPECT_GT(h.LowestOnTheWayTo(3.5, 3.8), 3.45);
}

TEST_F(PlayerTest, PictureWidthCountsOnlyRealVideo) {
    const std::string video = Media("clip.avi", 2, true);
    const std::string audio = Media("tone.mp3", 2, false);
    const std::string cover = m_dir.File("cover.png");
    const std::string covered = m_dir.File("covered.mp3");
    ASSERT_TRUE(RunFfmpeg(
        {"-f", "lavfi", "-i", "color=c=red:size=64x64", "-frames:v", "1", QString::fromStdString(cover)}));
    ASSERT_TRUE(RunFfmpeg({"-i", QString::fromStdString(audio), "-i", QString::fromStdString(cover), "-map",
                           "0", "-map", "1", "-c", "copy", "-disposition:v", "attached_pic",
                           QString::fromStdString(covered)}));

    Harness h;
    EXPECT_EQ(h.player->GetPictureWidth(), 0);
    ASSERT_TRUE(h.Open(video));
    EXPECT_EQ(h.player->GetPictureWidth(), 160);
    ASSERT_TRUE(h.Open(audio));
    EXPECT_EQ(h.player->GetPictureWidth(), 0);
    ASSERT_TRUE(h.Open(covered));
    EXPECT_EQ(h.player->GetPictureWidth(), 0);
    EXPECT_NEAR(h.player->GetDuration(), 2.0, 0.1);
}

TEST_F(PlayerTest, UnplayableFilesGiveOneErrorEachAndNeverPlay) {
    const std::string garbage = m_dir.File("garbage.avi");
    std::mt19937 random(7);
    std::string bytes(64 * 1024, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    WriteFileText(garbage, bytes);
    const std::string empty = m_dir.File("empty.mp3");
    WriteFileText(empty, "");
    const std::string subtitles = m_dir.File("words.avi");
    WriteFileText(subtitles, "1\n00:00:00,000 --> 00:00:02,000\nNo sound here\n\n");
    const std::string good = Media("tone.mp3", 1.5, false);

    for (const std::string& bad : {garbage, empty, subtitles, m_dir.File("missing.avi"), m_dir.Path()}) {
        Harness h;
        h.player->SetFileName(bad);
        EXPECT_EQ(h.player->GetDuration(), 0) << bad;
        h.player->Play();
        ASSERT_TRUE(WaitFor([&] { return h.errors > 0; })) << bad;
        EXPECT_EQ(h.player->GetPlayState(), CMediaPlayer2::kClosed) << bad;
        h.player->Play();
        h.player->Pause();
        h.player->SetCurrentPosition(1);
        EXPECT_EQ(h.player->GetCurrentPosition(), 0) << bad;

        // Everything about the bad file has been told once the next one plays.
        ASSERT_TRUE(h.Open(good)) << bad;
        EXPECT_EQ(h.errors, 1) << bad;
        EXPECT_EQ(std::count_if(h.changes.begin(), h.changes.end(),
                                [](const auto& c) { return c.second == CMediaPlayer2::kPlaying; }),
                  1)
            << bad;
        EXPECT_FALSE(h.offGuiThread);
    }
}

TEST_F(PlayerTest, SecondFileReplacesTheFirst) {
    const std::string video = Media("clip.avi", 6, true);
    const std::string audio = Media("tone.mp3", 2, false);
    Harness h;
    ASSERT_TRUE(h.Open(video));
    ASSERT_TRUE(WaitFor([&] { return h.player->GetCurrentPosition() > 0.5; }));
    const size_t before = h.changes.size();

    h.player->SetFileName(audio);
    EXPECT_NEAR(h.player->GetDuration(), 2.0, 0.1);
    EXPECT_EQ(h.player->GetCurrentPosition(), 0);
    h.player->Play();
    ASSERT_TRUE(h.WaitForState(CMediaPlayer2::kPlaying));
    const std::vector<std::pair<int, int>> expected{{CMediaPlayer2::kPlaying, CMediaPlayer2::kWaiting},
                                                    {CMediaPlayer2::kWaiting, CMediaPlayer2::kPlaying}};
    EXPECT_EQ(std::vector(h.changes.begin() + static_cast<long>(before), h.changes.end()), expected);
    EXPECT_LT(h.player->GetCurrentPosition(), 1.0);
    EXPECT_EQ(h.player->GetPictureWidth(), 0);
    EXPECT_EQ(h.errors, 0);
}

TEST_F(PlayerTest, DestroyingWhileOpeningOrPlayingIsClean) {
    const std::string video = Media("clip.avi", 6, true);
    {
        Harness opening;
        opening.player->show();
        opening.player->SetFileName(video);
        opening.player->Play();
    }
    {
        Harness playing;
        playing.player->show();
        ASSERT_TRUE(playing.Open(video));
        ASSERT_TRUE(WaitFor([&] { return playing.player->GetCurrentPosition() > 0.3; }));
    }
    // Nothing of the destroyed players arrives late, and a new one starts as usual.
    Harness next;
    ASSERT_TRUE(next.Open(video));
    EXPECT_EQ(next.errors, 0);
}

TEST_F(PlayerTest, VideoIsDrawnFittedWithBlackBarsOnceShown) {
    const std::string video = Media("clip.avi", 6, true);
    Harness h;
    // As in the main window: hidden while the file opens, shown once it plays.
    ASSERT_TRUE(h.Open(video));
    h.player->show();
    // 160x120 fitted into 370x235 leaves bars of 28 pixels at the sides.
    auto drawn = [&] {
        const QImage image = h.player->grab().toImage();
        int coloured = 0;
        for (int y = 0; y < image.height(); y += 5)
            for (int x = 40; x < 330; x += 5)
                coloured += !IsBlack(image.pixel(x, y));
        return coloured > 47 * 58 * 3 / 4;
    };
    ASSERT_TRUE(WaitFor(drawn));
    QImage image = h.player->grab().toImage();
    for (int y = 0; y < image.height(); y += 10) {
        EXPECT_TRUE(IsBlack(image.pixel(5, y))) << y;
        EXPECT_TRUE(IsBlack(image.pixel(image.width() - 6, y))) << y;
    }

    // A paused picture survives hiding, showing and resizing.
    h.player->Pause();
    ASSERT_TRUE(h.WaitForState(CMediaPlayer2::kPaused));
    h.player->hide();
    h.player->resize(200, 300);
    h.player->show();
    ASSERT_TRUE(WaitFor([&] {
        const QImage grabbed = h.player->grab().toImage();
        return grabbed.size() == QSize(200, 300) && !IsBlack(grabbed.pixel(100, 150)) &&
               IsBlack(grabbed.pixel(100, 5)) && IsBlack(grabbed.pixel(100, 294));
    }));
}
