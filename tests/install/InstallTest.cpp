#include "AudioSettings.h"
#include "ConverterDlg.h"
#include "FileDialogEx.h"
#include "MediaPlayer2.h"
#include "SystemHelpers.h"
#include "TestMedia.h"
#include "TestSupport.h"

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QRegularExpression>
#include <QUrl>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Quillet installed by cmake --install into a prefix of the test's own (with a blank and a non-ASCII
// letter in its path), its settings in an XDG folder of the test's own.
class InstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(RunProgram(QUILLET_CMAKE, {"--install", QUILLET_BUILD_DIR, "--prefix", prefix}), 0);
        ASSERT_TRUE(CreateDirectoryPath(dir.File("config/quillet/")));
        ASSERT_EQ(setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1), 0);
    }
    void TearDown() override { unsetenv("XDG_CONFIG_HOME"); }

    TempDir dir;
    const std::string prefix = dir.File("pre fix é");
};

// Every run independent: the window's settings (Ogg Vorbis, one temporary folder for all) reach each
// run without --settings, and no run takes another's temporary WAV or output.
TEST_F(InstallTest, InstalledCliRunsManyAtOnceWithTheWindowsSettings) {
    WriteFileText(dir.File("config/quillet/param.ini"),
                  "[General]\nFormat Index=2\nTempPath=" + dir.File("tmp/") + "\n");
    const double seconds[] = {1.0, 1.5, 2.0, 2.5};
    std::string list;
    for (int i = 0; i < 4; ++i) {
        const std::string source = dir.File("s" + std::to_string(i) + "/clip.mkv");
        ASSERT_TRUE(CreateDirectoryPath(dir.File("s" + std::to_string(i))));
        ASSERT_TRUE(MakeTestSource(source, seconds[i]));
        list += source + '\0';
    }
    WriteFileText(dir.File("list"), list);
    std::string out;
    ASSERT_EQ(
        RunProgram("xargs",
                   {"-0", "-a", dir.File("list"), "-n", "1", "-P", "4", prefix + "/bin/quillet-cli", "-q"},
                   &out),
        0);
    for (int i = 0; i < 4; ++i) {
        const std::string output = dir.File("s" + std::to_string(i) + "/clip_OUTPUT.ogg");
        EXPECT_NE(out.find(output + "\n"), std::string::npos) << out;
        EXPECT_NEAR(DecodeWithFfmpeg(output).frames, seconds[i] * 44100, 0.02 * 44100) << output;
    }
    EXPECT_TRUE(fs::is_empty(dir.File("tmp")));
}

TEST_F(InstallTest, InstalledWindowOpensTheFileNamedOnItsCommandLine) {
    const std::string source = dir.File("my clip é.mp4");
    ASSERT_TRUE(MakeTestSource(source, 3.0, true));
    const std::string program = prefix + "/bin/quillet";
    const pid_t pid = fork();
    if (pid == 0) {
        const int devNull = open("/dev/null", O_RDWR);
        dup2(devNull, 1);
        dup2(devNull, 2);
        // A name relative to the current folder, as a shell passes it.
        if (chdir(dir.Path().c_str()) == 0)
            execl(program.c_str(), program.c_str(), "my clip é.mp4", nullptr);
        _exit(127);
    }
    ASSERT_GT(pid, 0);
    // Opened: the preview holds the file open.
    const bool opened = WaitFor(
        [&] {
            std::error_code ec;
            for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
                if (fs::read_symlink(fd, ec) == source)
                    return true;
            }
            return false;
        },
        60000);
    // Ended as a session ends it: the window closes as with Exit (its settings saved), then the
    // process ends by the signal.
    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(opened);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_NE(ReadFileText(dir.File("config/quillet/param.ini")).find("[General]"), std::string::npos);
}

// The menu entry and the software centre's description validate (when their tools are there: 127 is
// a tool that did not start), name an icon that is installed, and "Open with" offers Quillet for every
// kind of file its Open dialog offers, as file managers type files (by shared-mime-info's globs).
TEST_F(InstallTest, MenuEntryValidatesAndCoversTheFormatsOfOpen) {
    const std::string share = prefix + "/share/";
    const std::string desktop = share + "applications/" QUILLET_APP_ID ".desktop";
    std::string out;
    const int entryCheck = RunProgram("desktop-file-validate", {desktop}, &out, &out);
    EXPECT_TRUE(entryCheck == 127 || (entryCheck == 0 && out.empty())) << out;
    out.clear();
    const int metainfoCheck = RunProgram("appstreamcli", {"validate-tree", "--no-net", prefix}, &out, &out);
    EXPECT_TRUE(metainfoCheck == 127 || metainfoCheck == 0) << out;

    const QString entry = QString::fromStdString(ReadFileText(desktop));
    const QString icon =
        QRegularExpression("^Icon=(.*)$", QRegularExpression::MultilineOption).match(entry).captured(1);
    EXPECT_TRUE(FileExists(share + "icons/hicolor/scalable/apps/" + icon.toStdString() + ".svg"));
    EXPECT_TRUE(FileExists(share + "icons/hicolor/48x48/apps/" + icon.toStdString() + ".png"));
    EXPECT_TRUE(FileExists(share + "man/man1/quillet.1.gz") &&
                FileExists(share + "man/man1/quillet-cli.1.gz"));
    // Wherever the program describes itself, it names every format it writes.
    std::string help;
    RunProgram(prefix + "/bin/quillet", {"--help"}, &help);
    for (const std::string& text :
         {entry.toStdString(), ReadFileText(share + "metainfo/" QUILLET_APP_ID ".metainfo.xml"), help})
        EXPECT_TRUE(QString::fromStdString(text).simplified().contains("WMA, FLAC, Opus or AAC (M4A)"))
            << text;

    const QStringList listed = QRegularExpression("^MimeType=(.*)$", QRegularExpression::MultilineOption)
                                   .match(entry)
                                   .captured(1)
                                   .split(';', Qt::SkipEmptyParts);
    std::map<QString, std::set<QString>> typesOf; // extension -> MIME types
    std::ifstream globs("/usr/share/mime/globs2");
    for (std::string line; std::getline(globs, line);) {
        const QStringList f = QString::fromStdString(line).split(':');
        if (f.size() >= 3 && f[2].startsWith("*."))
            typesOf[f[2].mid(2).toLower()].insert(f[1]);
    }
    const QString filter = QString::fromLatin1(CConverterDlg::kOpenFilter);
    // The first filter holds every kind the others offer, the files people have most among them, each
    // pattern a whole extension.
    const QStringList kinds = CFileDialogEx::ConvertFilter(filter);
    auto patterns = [](const QString& kind) { return kind.section('(', -1).chopped(1).split(' '); };
    const QStringList all = patterns(kinds.front());
    for (const QString& kind : kinds.mid(1, kinds.size() - 2))
        for (const QString& p : patterns(kind))
            EXPECT_TRUE(all.contains(p) && QRegularExpression("^\\*\\.\\w+$").match(p).hasMatch())
                << p.toStdString();
    for (const char* ext : {"mp4",  "m4v", "m4a", "mkv", "mka", "webm", "ts",  "m2ts", "mts",  "flac", "wav",
                            "opus", "oga", "ogv", "3gp", "aac", "ac3",  "amr", "caf",  "aiff", "wv"})
        EXPECT_TRUE(all.contains(QStringLiteral("*.") + ext)) << ext;
    for (const auto& m : QRegularExpression("\\*\\.(\\w+)").globalMatch(filter)) {
        const QString ext = m.captured(1);
        // .ram is a list of links to streams, not media that the program reads.
        if (ext == "ram" || !typesOf.count(ext))
            continue;
        const auto& types = typesOf[ext];
        EXPECT_TRUE(std::any_of(types.begin(), types.end(), [&](const QString& t) {
            return listed.contains(t);
        })) << ext.toStdString();
    }
}

// param.ini stays in a program directory its user can write; otherwise it goes, whole and in the same
// form, to a private folder under $XDG_CONFIG_HOME.
TEST(SettingsPlaceTest, ProgramDirectoryWhenWritableElseXdgFolder) {
    TempDir dir;
    const std::string app = dir.File("app/"), xdg = dir.File("config/");
    ASSERT_TRUE(CreateDirectoryPath(app));
    SetAppDirectoryForTesting(app);
    ASSERT_EQ(setenv("XDG_CONFIG_HOME", xdg.c_str(), 1), 0);
    g_settings.Load();
    g_settings.m_szArtist = "Writable";
    g_settings.Save();
    EXPECT_FALSE(FileExists(xdg));

    ASSERT_EQ(chmod(app.c_str(), 0555), 0);
    ASSERT_EQ(chmod(dir.Path().c_str(), 0777), 0);
    EXPECT_EQ(RunUnprivileged([] {
                  g_settings.m_szArtist = "Read-only";
                  g_settings.Save();
                  CAudioSettings loaded;
                  loaded.Load();
                  return loaded.m_szArtist.str() == "Read-only" ? 0 : 1;
              }),
              0);
    struct stat st = {};
    EXPECT_EQ(stat((xdg + "quillet").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_NE(ReadFileText(xdg + "quillet/param.ini").find("\nArtist=Read-only\n"), std::string::npos);
    EXPECT_NE(ReadFileText(app + "param.ini").find("\nArtist=Writable\n"), std::string::npos);
    unsetenv("XDG_CONFIG_HOME");
    SetAppDirectoryForTesting("");
}

// One local file dropped on the window opens as with Open; a folder, several files or a remote file
// are refused.
TEST(DropTest, OneDroppedFileOpensAsWithOpen) {
    TempDir dir;
    SetAppDirectoryForTesting(dir.Path());
    CMediaPlayer2::SetAudioOutputForTesting("null");
    MessageRecorder messages;
    const std::string source = dir.File("dropped é.mkv");
    ASSERT_TRUE(MakeTestSource(source, 2.0));
    const QUrl file = QUrl::fromLocalFile(QString::fromStdString(source));
    CConverterDlg dlg;
    dlg.show();
    EXPECT_TRUE(dlg.acceptDrops());
    const std::pair<QList<QUrl>, bool> drops[] = {
        {{QUrl::fromLocalFile(QString::fromStdString(dir.Path()))}, false},
        {{file, file}, false},
        {{QUrl("https://example.org/a.mkv")}, false},
        {{file}, true},
    };
    for (const auto& [urls, accepted] : drops) {
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&dlg, &enter);
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&dlg, &drop);
        EXPECT_EQ(enter.isAccepted(), accepted);
        EXPECT_EQ(drop.isAccepted(), accepted);
    }
    EXPECT_TRUE(WaitFor([&] { return dlg.m_bFileLoaded == 1; }, 30000));
    EXPECT_EQ(dlg.m_strSourcePath, source);
    EXPECT_EQ(dlg.windowTitle(), "dropped é.mkv - Quillet");
    EXPECT_EQ(g_settings.m_recentFiles.front(), source);
    EXPECT_EQ(messages.Count(), 0u);
    SetAppDirectoryForTesting("");
}

} // namespace
