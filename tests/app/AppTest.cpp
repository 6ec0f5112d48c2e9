#include "CoverArt.h"
#include "MessageService.h"
#include "SystemHelpers.h"
#include "TestMedia.h"
#include "TestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

TEST(SystemHelpers, TimesSizesAndTheProgramDirectory) {
    EXPECT_EQ(FormatTime(3723.46), "01:02:03.4");
    EXPECT_EQ(FormatTime(59.99), "00:00:59.9"); // truncated, not rounded
    EXPECT_EQ(FormatTime(360000), "100:00:00.0");
    TempDir dir;
    EXPECT_EQ(GetFileSizeBytes(dir.File("missing")), -1);
    // Sparse files: no disk space needed for these sizes.
    for (const off_t size : {off_t(1234), off_t(1) << 31, off_t(5) << 30}) {
        const int fd = open(dir.File("f").c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
        ASSERT_EQ(ftruncate(fd, size), 0);
        close(fd);
        EXPECT_EQ(GetFileSizeBytes(dir.File("f")), std::min<off_t>(size, INT32_MAX)) << size;
        EXPECT_EQ(GetFileSize64(dir.File("f")), size);
    }
    const std::string own = GetAppDirectory();
    EXPECT_EQ(own, QCoreApplication::applicationDirPath().toStdString() + "/");
    SetAppDirectoryForTesting(dir.Path());
    EXPECT_FALSE(SupportsWmaOutput());
    WriteFileText(dir.File("WmAudSDK.so"), "");
    EXPECT_TRUE(SupportsWmaOutput()); // the module in the program directory decides
    SetAppDirectoryForTesting("");
    EXPECT_EQ(GetAppDirectory(), own);
}

TEST(SystemHelpers, FoldersAreFoundAndMadeLevelByLevel) {
    TempDir dir;
    ASSERT_EQ(symlink(dir.Path().c_str(), dir.File("link").c_str()), 0);
    WriteFileText(dir.File("file"), "in the way");
    EXPECT_FALSE(FileExists(""));
    EXPECT_TRUE(FileExists(dir.Path())); // a directory counts as existing
    EXPECT_TRUE(DirectoryExists(dir.File("link")));
    EXPECT_FALSE(DirectoryExists(dir.File("file")));
    const std::string deep = dir.File("Aufnahmen Ü/b 'c' $d/ëñ/");
    EXPECT_TRUE(CreateDirectoryPath(deep));
    EXPECT_TRUE(CreateDirectoryPath(deep)); // nothing left to make
    EXPECT_TRUE(DirectoryExists(deep));
    char before[4096];
    ASSERT_TRUE(getcwd(before, sizeof before));
    ASSERT_EQ(chdir(dir.Path().c_str()), 0);
    const bool relative = CreateDirectoryPath("x//rel/sub");
    ASSERT_EQ(chdir(before), 0);
    EXPECT_TRUE(relative);
    EXPECT_TRUE(DirectoryExists(dir.File("x/rel/sub")));
    // A component longer than the system allows, a file in the way: the call fails, and the levels made
    // before stay.
    EXPECT_FALSE(CreateDirectoryPath(dir.File("a/b/" + std::string(300, 'n') + "/d")));
    EXPECT_TRUE(DirectoryExists(dir.File("a/b")));
    EXPECT_FALSE(CreateDirectoryPath(dir.File("file/x")));
    // Someone else: a folder they may not write to stops them; one they may not enter is still a
    // folder (the test must not go into it, which would move every thread's current directory).
    ASSERT_EQ(chmod(dir.File("a").c_str(), 0555), 0);
    ASSERT_EQ(chmod(dir.File("x").c_str(), 0600), 0);
    ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
    const std::string locked = dir.File("a/new/deeper/"), closed = dir.File("x/");
    EXPECT_EQ(RunUnprivileged([&] { return CreateDirectoryPath(locked) ? 1 : 0; }), 0);
    EXPECT_FALSE(DirectoryExists(dir.File("a/new")));
    EXPECT_EQ(RunUnprivileged([&] { return DirectoryExists(closed) ? 1 : 0; }), 1);
}

// Calls that cross from worker threads to the GUI thread: message boxes and the hand-over.

namespace {

// Presses a button of the next message box that shows and tells what the box was like.
struct BoxAnswerer {
    QTimer poll;
    std::string text;
    bool onGui = false, plain = false;
    explicit BoxAnswerer(QMessageBox::StandardButton button) {
        QObject::connect(&poll, &QTimer::timeout, [this, button] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(w);
                if (box && box->isVisible()) {
                    poll.stop();
                    text = box->text().toStdString();
                    onGui = box->thread() == qApp->thread();
                    plain = box->textFormat() == Qt::PlainText;
                    box->button(button)->click();
                }
            }
        });
        poll.start(5);
    }
};

} // namespace

TEST(MessageService, BoxesShowOnTheGuiThreadAsTypedAndAnswerTheirCaller) {
    BoxAnswerer yes(QMessageBox::Yes);
    std::atomic<int> answer{0};
    std::thread worker([&] { answer = ShowMessage("Are you sure? ", MsgButtons::YesNo); });
    EXPECT_TRUE(WaitFor([&] { return answer.load() != 0; }));
    worker.join();
    EXPECT_EQ(answer.load(), IDYES);
    EXPECT_TRUE(yes.onGui);
    EXPECT_EQ(yes.text, "Are you sure? ");
    // A file name that looks like markup shows as typed.
    BoxAnswerer ok(QMessageBox::Ok);
    const std::string text = "Error opening /tmp/<b>bold</b> <img src=x>.wav";
    EXPECT_EQ(ShowMessage(text), IDOK);
    EXPECT_EQ(ok.text, text);
    EXPECT_TRUE(ok.plain);
}

// The front cover as other tools embed it: an ID3v2.3 APIC in MP3 (the front one of two, after the back),
// a FLAC picture block, an MP4 "covr"; nothing from a plain WAV or a file that is not media.
TEST(CoverArt, FrontCoverAsOtherToolsEmbedIt) {
    TempDir dir;
    const QString tone = QString::fromStdString(dir.File("tone.wav"));
    const QString red = QString::fromStdString(dir.File("red.png"));
    const QString blue = QString::fromStdString(dir.File("blue.png"));
    ASSERT_TRUE(RunFfmpeg({"-f", "lavfi", "-i", "sine=d=1", tone}));
    ASSERT_TRUE(RunFfmpeg({"-f", "lavfi", "-i", "color=red:size=64x48", "-frames:v", "1", red}));
    ASSERT_TRUE(RunFfmpeg({"-f", "lavfi", "-i", "color=blue:size=48x64", "-frames:v", "1", blue}));
    const QStringList picture = {"-c:v", "png", "-disposition:v", "attached_pic"};
    struct Case {
        const char* name;
        QStringList args;
        bool cover;
    };
    for (const Case& c : {
             Case{"two.mp3",
                  QStringList{"-i",
                              tone,
                              "-i",
                              blue,
                              "-i",
                              red,
                              "-map",
                              "0",
                              "-map",
                              "1",
                              "-map",
                              "2",
                              "-c:a",
                              "libmp3lame",
                              "-id3v2_version",
                              "3",
                              "-metadata:s:v:0",
                              "comment=Cover (back)",
                              "-metadata:s:v:1",
                              "comment=Cover (front)"} +
                      picture,
                  true},
             Case{"one.flac", QStringList{"-i", tone, "-i", red, "-map", "0", "-map", "1"} + picture, true},
             Case{"one.m4a",
                  QStringList{"-i", tone, "-i", red, "-map", "0", "-map", "1", "-c:a", "aac"} + picture,
                  true},
             Case{"none.wav", {"-i", tone}, false},
         }) {
        const std::string path = dir.File(c.name);
        ASSERT_TRUE(RunFfmpeg(c.args + QStringList{QString::fromStdString(path)})) << c.name;
        const QImage cover = ReadFrontCover(path);
        EXPECT_EQ(cover.size(), c.cover ? QSize(64, 48) : QSize(0, 0)) << c.name;
        const QColor middle = c.cover ? cover.pixelColor(32, 24) : QColor();
        EXPECT_TRUE(!c.cover || (middle.red() > 200 && middle.blue() < 50)) << c.name; // the red one
    }
    WriteFileText(dir.File("text.mp3"), "not a sound");
    EXPECT_TRUE(ReadFrontCover(dir.File("text.mp3")).isNull());
}
