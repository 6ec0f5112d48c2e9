#include "SystemHelpers.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <atomic>
#include <climits>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

namespace {

std::string CurrentDir() {
    char buf[4096];
    return getcwd(buf, sizeof buf) ? buf : "";
}

} // namespace

TEST(FormatTime, TruncatesTenthsAndKeepsLongHours) {
    EXPECT_EQ(FormatTime(0), "00:00:00.0");
    EXPECT_EQ(FormatTime(3723.46), "01:02:03.4");
    EXPECT_EQ(FormatTime(59.99), "00:00:59.9");
    EXPECT_EQ(FormatTime(125.37), "00:02:05.3");
    EXPECT_EQ(FormatTime(7199.99), "01:59:59.9");
    EXPECT_EQ(FormatTime(360000), "100:00:00.0");
}

TEST(FileChecks, ExistenceOfFilesAndDirectories) {
    TempDir dir;
    const std::string file = dir.File("clip one.avi");
    WriteFileText(file, "x");
    ASSERT_EQ(symlink(dir.Path().c_str(), dir.File("link").c_str()), 0);

    EXPECT_FALSE(FileExists(""));
    EXPECT_TRUE(FileExists(file));
    EXPECT_TRUE(FileExists(dir.Path())); // a directory counts as existing
    EXPECT_FALSE(FileExists(dir.File("missing")));

    EXPECT_FALSE(DirectoryExists(""));
    EXPECT_TRUE(DirectoryExists(dir.Path()));
    EXPECT_TRUE(DirectoryExists(dir.File("link")));
    EXPECT_FALSE(DirectoryExists(file));
    EXPECT_FALSE(DirectoryExists(dir.File("missing/")));
}

TEST(FileChecks, DirectoryTestNeverMovesTheCurrentDirectory) {
    TempDir dir;
    const std::string before = CurrentDir();
    std::atomic<bool> stop{false}, moved{false};
    // Another thread watches the current directory while this one tests directories.
    std::thread watcher([&] {
        while (!stop)
            if (CurrentDir() != before)
                moved = true;
    });
    for (int i = 0; i < 20000; ++i)
        DirectoryExists(dir.Path());
    stop = true;
    watcher.join();
    EXPECT_FALSE(moved);
    EXPECT_EQ(CurrentDir(), before);
}

TEST(CreateDirectoryPath, CreatesEveryMissingLevelOnce) {
    TempDir dir;
    const std::string deep = dir.File("Aufnahmen Ü/b 'c' $d/ëñ/");
    EXPECT_TRUE(CreateDirectoryPath(deep));
    EXPECT_TRUE(DirectoryExists(deep));
    EXPECT_TRUE(CreateDirectoryPath(deep));             // nothing left to create
    EXPECT_TRUE(CreateDirectoryPath(dir.File("x//y"))); // an empty component adds nothing
    EXPECT_TRUE(DirectoryExists(dir.File("x/y")));
    EXPECT_TRUE(CreateDirectoryPath(dir.File("no/trailing/slash")));
    EXPECT_TRUE(DirectoryExists(dir.File("no/trailing/slash")));
}

TEST(CreateDirectoryPath, RelativePathStartsAtCurrentDirectory) {
    TempDir dir;
    const std::string before = CurrentDir();
    ASSERT_EQ(chdir(dir.Path().c_str()), 0);
    const bool made = CreateDirectoryPath("rel/sub/");
    ASSERT_EQ(chdir(before.c_str()), 0);
    EXPECT_TRUE(made);
    EXPECT_TRUE(DirectoryExists(dir.File("rel/sub")));
}

TEST(CreateDirectoryPath, FailureMidwayKeepsTheLevelsMade) {
    TempDir dir;
    ASSERT_TRUE(CreateDirectoryPath(dir.File("a")));
    WriteFileText(dir.File("a/file"), "in the way");
    // A component longer than the system allows: the levels before it are made and stay.
    EXPECT_FALSE(CreateDirectoryPath(dir.File("a/b/c/" + std::string(300, 'n') + "/d")));
    EXPECT_TRUE(DirectoryExists(dir.File("a/b/c")));
    EXPECT_FALSE(CreateDirectoryPath(dir.File("a/file/x")));
    EXPECT_FALSE(CreateDirectoryPath(""));

    // A folder the user may not write to: the level above stays, the call fails.
    ASSERT_TRUE(CreateDirectoryPath(dir.File("locked/")));
    ASSERT_EQ(chmod(dir.File("locked").c_str(), 0555), 0);
    ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
    const std::string target = dir.File("locked/new/deeper/");
    EXPECT_EQ(RunUnprivileged([&] { return CreateDirectoryPath(target) ? 1 : 0; }), 0);
    EXPECT_FALSE(DirectoryExists(dir.File("locked/new")));
}

TEST(GetFileSizeBytes, SizesAndLimits) {
    TempDir dir;
    EXPECT_EQ(GetFileSizeBytes(dir.File("missing")), -1);
    WriteFileText(dir.File("small"), std::string(1234, 'a'));
    EXPECT_EQ(GetFileSizeBytes(dir.File("small")), 1234);

    // Sparse files: no disk space needed for these sizes.
    auto sparse = [&](const std::string& name, off_t size) {
        int fd = open(dir.File(name).c_str(), O_CREAT | O_WRONLY, 0600);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(ftruncate(fd, size), 0);
        close(fd);
        return dir.File(name);
    };
    EXPECT_EQ(GetFileSizeBytes(sparse("max", INT32_MAX)), INT32_MAX);
    EXPECT_EQ(GetFileSizeBytes(sparse("two_gib", off_t(1) << 31)), INT32_MAX);
    EXPECT_EQ(GetFileSizeBytes(sparse("five_gib", off_t(5) << 30)), INT32_MAX);
}

TEST(ProgramDirectory, IsTheExecutablesDirectoryWithSlash) {
    const std::string dir = GetAppDirectory();
    EXPECT_EQ(dir, QCoreApplication::applicationDirPath().toStdString() + "/");
    SetAppDirectoryForTesting("/some/where");
    EXPECT_EQ(GetAppDirectory(), "/some/where/");
    SetAppDirectoryForTesting("");
    EXPECT_EQ(GetAppDirectory(), dir);
}

TEST(MediaRuntime, AnswersFromTheLinkedFfmpeg) {
    MessageRecorder rec;
    EXPECT_GE(GetDirectXVersion(), 80);
    EXPECT_TRUE(IsRealPlayerInstalled());
    EXPECT_EQ(rec.Count(), 0u);
}

TEST(MediaRuntime, WmaOutputNeedsItsModuleInTheProgramDirectory) {
    TempDir dir;
    SetAppDirectoryForTesting(dir.Path());
    EXPECT_FALSE(SupportsWmaOutput());
    WriteFileText(dir.File("WmAudSDK.so"), "");
    EXPECT_TRUE(SupportsWmaOutput());
    SetAppDirectoryForTesting("");
}
