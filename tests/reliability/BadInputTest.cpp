// Bad input, end to end: each row runs the command-line converter on one kind of trouble and checks
// what the user is told, the exit code, and what is left on disk: never a crash, never a temporary
// WAV, never a half-written output file.

#include "TestMedia.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

struct RunResult {
    int exitCode = -1; // -1: killed by a signal or hung
    std::string signal;
    std::string out, err;
};

struct RunOptions {
    std::string program = std::string(QUILLET_BIN_DIR) + "quillet-cli";
    rlim_t fileSizeLimit = RLIM_INFINITY;
    bool unprivileged = false;
    // Called repeatedly while the converter runs, until it returns true.
    std::function<bool()> whileRunning;
};

// Runs the converter in a child process with stdout and stderr in files of the folder.
RunResult RunCli(const std::vector<std::string>& args, const RunOptions& opt, const std::string& folder) {
    const std::string outPath = folder + "stdout.txt", errPath = folder + "stderr.txt";
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
            _exit(126);
        if (opt.fileSizeLimit != RLIM_INFINITY) {
            // Past the limit a write fails with EFBIG, as on a full disk, instead of killing.
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{opt.fileSizeLimit, opt.fileSizeLimit};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
                _exit(126);
        }
        if (opt.unprivileged && getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(126);
        setenv("LC_ALL", "C.UTF-8", 1);
        std::vector<char*> argv{const_cast<char*>(opt.program.c_str())};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    RunResult result;
    if (pid < 0)
        return result;
    bool watching = static_cast<bool>(opt.whileRunning);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            result.signal = "hung";
            return result;
        }
        if (watching)
            watching = !opt.whileRunning();
        std::this_thread::yield();
    }
    result.out = ReadFileText(outPath);
    result.err = ReadFileText(errPath);
    QFile::remove(QString::fromStdString(outPath));
    QFile::remove(QString::fromStdString(errPath));
    if (WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    else
        result.signal = strsignal(WTERMSIG(status));
    return result;
}

std::vector<std::string> Listing(const std::string& folder) {
    std::vector<std::string> names;
    const QDir dir(QString::fromStdString(folder));
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name))
        names.push_back(name.toStdString() + " (" + std::to_string(QFileInfo(dir.filePath(name)).size()) +
                        " B)");
    return names;
}

// The media every row may use, made once.
struct Media {
    TempDir dir;
    std::string video, audio, noAudio, truncated;
    Media() {
        video = dir.File("clip.mkv");
        audio = dir.File("tone.wav");
        noAudio = dir.File("silent film.mkv");
        truncated = dir.File("cut.mkv");
        const bool ok = MakeTestSource(video, 2.0, true) && MakeTestSource(audio, 2.0) &&
                        RunFfmpeg({"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=1", "-c:v",
                                   "mpeg4", QString::fromStdString(noAudio)});
        if (ok) {
            const std::string bytes = ReadFileText(video);
            WriteFileText(truncated, bytes.substr(0, bytes.size() / 3));
        }
    }
};

Media& SharedMedia() {
    static Media* media = new Media;
    return *media;
}

struct Row;
struct Context {
    TempDir dir;
    std::string temp;     // the settings' temporary folder
    std::string settings; // the settings file
    std::string outDir;   // where outputs go
    RunOptions options;
    std::string Copy(const std::string& from, const std::string& name) {
        const std::string to = outDir + name;
        QFile::copy(QString::fromStdString(from), QString::fromStdString(to));
        return to;
    }
    // A program directory of the test's own: the converter and links to the modules, one of them
    // left out (replacement empty) or replaced by another file.
    void OwnProgramDirectory(const std::string& module, const std::string& replacement) {
        const std::string prog = dir.File("prog/");
        QDir().mkpath(QString::fromStdString(prog));
        QFile::copy(QString(QUILLET_BIN_DIR) + "quillet-cli", QString::fromStdString(prog + "quillet-cli"));
        for (const char* m : {"VideoEdit.so", "lame_enc.so", "Vorbis.so", "WmAudSDK.so", "viscomwave.so",
                              "RealMediaSplitter.so", "QuickTime.so"}) {
            const std::string target = m == module ? replacement : std::string(QUILLET_BIN_DIR) + m;
            if (!target.empty())
                symlink(target.c_str(), (prog + m).c_str());
        }
        options.program = prog + "quillet-cli";
    }
};

struct Row {
    const char* name;
    // Prepares the case; returns the converter's arguments (after --settings).
    std::function<std::vector<std::string>(Context&)> prepare;
    int exitCode;
    const char* message; // a part of what the user reads on the terminal
};

const std::string kVideoName = "clip.mkv";

std::vector<std::string> Args(const std::string& format, const std::string& source,
                              const std::vector<std::string>& more = {}) {
    std::vector<std::string> args{"-q", "-f", format};
    args.insert(args.end(), more.begin(), more.end());
    args.push_back(source);
    return args;
}

const Row kRows[] = {
    {"truncated video", [](Context& c) { return Args("mp3", c.Copy(SharedMedia().truncated, "cut.mkv")); }, 1,
     "the file may be damaged"},
    {"zero bytes",
     [](Context& c) {
         WriteFileText(c.outDir + "empty.avi", "");
         return Args("mp3", c.outDir + "empty.avi");
     },
     1, "as a video or audio file"},
    {"printf directives in the name",
     [](Context& c) {
         WriteFileText(c.outDir + "%s%n%99999999d.avi", "");
         return Args("mp3", c.outDir + "%s%n%99999999d.avi");
     },
     1, "%s%n%99999999d.avi"},
    {"random bytes named .avi",
     [](Context& c) {
         std::mt19937 rng(7);
         std::string bytes(20000, '\0');
         for (char& b : bytes)
             b = static_cast<char>(rng());
         WriteFileText(c.outDir + "noise.avi", bytes);
         return Args("ogg", c.outDir + "noise.avi");
     },
     1, "as a video or audio file"},
    {"video without audio",
     [](Context& c) { return Args("mp3", c.Copy(SharedMedia().noAudio, "silent film.mkv")); }, 1,
     "Converting task failed!"},
    {"video without audio, range given",
     [](Context& c) {
         return Args("wav", c.Copy(SharedMedia().noAudio, "silent film.mkv"), {"-e", "1"});
     },
     1, "Converting task failed!"},
    {"source deleted once step 1 runs",
     [](Context& c) {
         const std::string source = c.outDir + "long.wav";
         MakeTestSource(source, 30.0);
         c.options.whileRunning = [&c, source] {
             // Once audio reaches the temporary WAV, the source is open.
             const QFileInfoList files = QDir(QString::fromStdString(c.temp)).entryInfoList(QDir::Files);
             if (files.isEmpty() || files[0].size() <= 44)
                 return false;
             unlink(source.c_str());
             return true;
         };
         return Args("ogg", source);
     },
     0, ""},
    {"range of zero length",
     [](Context& c) {
         return Args("mp3", c.Copy(SharedMedia().video, kVideoName), {"-s", "1", "-e", "1"});
     },
     1, "There is no audio to convert in the marked range."},
    {"range past the end",
     [](Context& c) {
         return Args("wav", c.Copy(SharedMedia().video, kVideoName), {"-s", "10", "-e", "20"});
     },
     1, "There is no audio to convert in the marked range."},
    {"read-only output folder",
     [](Context& c) {
         const std::string source = c.Copy(SharedMedia().audio, "tone.wav");
         // Someone else's world-readable tree; the output folder is not writable for them.
         chmod(c.dir.Path().c_str(), 0755);
         chmod(c.temp.c_str(), 0777);
         chmod(c.settings.c_str(), 0644);
         chmod(source.c_str(), 0644);
         chmod(c.outDir.c_str(), 0555);
         c.options.unprivileged = true;
         return Args("mp3", source);
     },
     1, "Error opening"},
    {"read-only output folder, WAV",
     [](Context& c) {
         const std::string source = c.Copy(SharedMedia().audio, "tone.wav");
         chmod(c.dir.Path().c_str(), 0755);
         chmod(c.temp.c_str(), 0777);
         chmod(c.settings.c_str(), 0644);
         chmod(source.c_str(), 0644);
         chmod(c.outDir.c_str(), 0555);
         c.options.unprivileged = true;
         return Args("wav", source);
     },
     1, "Converting task failed!"},
    {"disk full in step 1",
     [](Context& c) {
         c.options.fileSizeLimit = 64 * 1024;
         return Args("mp3", c.Copy(SharedMedia().video, kVideoName));
     },
     1, "Converting task failed!"},
    {"disk full in step 1, WAV",
     [](Context& c) {
         c.options.fileSizeLimit = 16 * 1024;
         return Args("wav", c.Copy(SharedMedia().video, kVideoName));
     },
     1, "Converting task failed!"},
    {"disk full in step 2, MP3",
     [](Context& c) {
         return Args("mp3", c.Copy(SharedMedia().video, kVideoName), {"-o", "/dev/full"});
     },
     1, "Output file write error"},
    {"disk full in step 2, Ogg",
     [](Context& c) {
         return Args("ogg", c.Copy(SharedMedia().video, kVideoName), {"-o", "/dev/full"});
     },
     1, "Output file write error"},
    {"disk full in step 2, WMA",
     [](Context& c) {
         return Args("wma", c.Copy(SharedMedia().video, kVideoName), {"-o", "/dev/full"});
     },
     1, "Output file write error"},
    {"missing lame_enc.so",
     [](Context& c) {
         c.OwnProgramDirectory("lame_enc.so", "");
         return Args("mp3", c.Copy(SharedMedia().audio, "tone.wav"));
     },
     1, "Error loading lame_enc.DLL"},
    {"broken lame_enc.so",
     [](Context& c) {
         c.OwnProgramDirectory("lame_enc.so", NO_ENTRY_MODULE);
         return Args("mp3", c.Copy(SharedMedia().audio, "tone.wav"));
     },
     1, "Unable to get LAME interfaces"},
    {"missing Vorbis.so",
     [](Context& c) {
         c.OwnProgramDirectory("Vorbis.so", "");
         return Args("ogg", c.Copy(SharedMedia().audio, "tone.wav"));
     },
     1, "Error loading Vrobis.DLL"},
    {"broken Vorbis.so",
     [](Context& c) {
         c.OwnProgramDirectory("Vorbis.so", NO_ENTRY_MODULE);
         return Args("ogg", c.Copy(SharedMedia().audio, "tone.wav"));
     },
     1, "Unable to get Vorbis interfaces"},
    {"missing WmAudSDK.so",
     [](Context& c) {
         c.OwnProgramDirectory("WmAudSDK.so", "");
         return Args("wma", c.Copy(SharedMedia().audio, "tone.wav"));
     },
     1, "WMA output needs WmAudSDK.so"},
    {"broken WmAudSDK.so",
     [](Context& c) {
         c.OwnProgramDirectory("WmAudSDK.so", NO_ENTRY_MODULE);
         return Args("wma", c.Copy(SharedMedia().audio, "tone.wav"));
     },
     1, "WMAudioCreateWriter"},
    {"missing VideoEdit.so",
     [](Context& c) {
         c.OwnProgramDirectory("VideoEdit.so", "");
         return Args("wav", c.Copy(SharedMedia().audio, "tone.wav"));
     },
     1, "Converting task failed!"},
    {"broken VideoEdit.so",
     [](Context& c) {
         c.OwnProgramDirectory("VideoEdit.so", NO_ENTRY_MODULE);
         return Args("mp3", c.Copy(SharedMedia().audio, "tone.wav"));
     },
     1, "Converting task failed!"},
    {"settings file of garbage",
     [](Context& c) {
         std::mt19937 rng(11);
         std::string bytes = "[General]\nTempPath=" + c.temp + "\nOutputPath=\x01\x02\nOutputPathType=0\n" +
                             "Format Index=77\n[mp3]\nBitreate Index=-9\n\xff\xfe[\n=\n";
         for (int i = 0; i < 4000; ++i)
             bytes.push_back(static_cast<char>(rng()));
         WriteFileText(c.settings, bytes);
         // The format of the settings (out of range: MP3) and the output beside the source.
         return std::vector<std::string>{"-q", c.Copy(SharedMedia().audio, "tone.wav")};
     },
     0, ""},
    {"path with spaces, quotes, $ and non-ASCII",
     [](Context& c) {
         return Args("ogg", c.Copy(SharedMedia().video, "it's a \"clip\" $HOME `x` Ünïcødé 日本.mkv"));
     },
     0, ""},
    {"path of 300+ characters",
     [](Context& c) {
         std::string folder = c.outDir;
         for (int i = 0; i < 4; ++i) {
             folder += std::string(70, 'a' + i) + " é/";
             QDir().mkpath(QString::fromStdString(folder));
         }
         const std::string source = folder + std::string(60, 'z') + ".mkv";
         QFile::copy(QString::fromStdString(SharedMedia().video), QString::fromStdString(source));
         c.outDir = folder;
         return Args("mp3", source);
     },
     0, ""},
    {"disk full in step 2, FLAC",
     [](Context& c) {
         return Args("flac", c.Copy(SharedMedia().video, kVideoName), {"-o", "/dev/full"});
     },
     1, "Output file write error"},
    {"missing AvAudioEnc.so, Opus",
     [](Context& c) {
         c.OwnProgramDirectory("AvAudioEnc.so", "");
         return Args("opus", c.Copy(SharedMedia().audio, "tone.wav"));
     },
     1, "Error loading AvAudioEnc.so"},
    {"read-only output folder, M4A",
     [](Context& c) {
         const std::string source = c.Copy(SharedMedia().audio, "tone.wav");
         chmod(c.dir.Path().c_str(), 0755);
         chmod(c.temp.c_str(), 0777);
         chmod(c.settings.c_str(), 0644);
         chmod(source.c_str(), 0644);
         chmod(c.outDir.c_str(), 0555);
         c.options.unprivileged = true;
         return Args("m4a", source);
     },
     1, "Error opening"},
};

class BadInputTest : public ::testing::TestWithParam<size_t> {};

TEST_P(BadInputTest, ClearMessageAndNothingLeftBehind) {
    const Row& row = kRows[GetParam()];
    Context c;
    c.temp = c.dir.File("tmp/");
    c.outDir = c.dir.File("out/");
    c.settings = c.dir.File("settings.ini");
    QDir().mkpath(QString::fromStdString(c.temp));
    QDir().mkpath(QString::fromStdString(c.outDir));
    WriteFileText(c.settings, "[General]\nTempPath=" + c.temp + "\n");
    std::vector<std::string> args = row.prepare(c);
    args.insert(args.begin(), {"--settings", c.settings});
    const std::vector<std::string> before = Listing(c.outDir);

    const RunResult r = RunCli(args, c.options, c.dir.Path());
    chmod(c.outDir.c_str(), 0755);

    const std::vector<std::string> after = Listing(c.outDir);
    std::string created;
    for (const std::string& f : after) {
        if (std::find(before.begin(), before.end(), f) == before.end())
            created += (created.empty() ? "" : ", ") + f;
    }
    std::string seen = r.err;
    while (!seen.empty() && seen.back() == '\n')
        seen.pop_back();
    for (char& ch : seen)
        ch = ch == '\n' ? '|' : ch;
    std::printf("ROW | %s | exit %d%s | %s | %s\n", row.name, r.exitCode, r.signal.c_str(), seen.c_str(),
                created.empty() ? "nothing new" : created.c_str());

    ASSERT_TRUE(r.signal.empty()) << r.signal << "\n" << r.err;
    EXPECT_EQ(r.exitCode, row.exitCode) << r.err;
    EXPECT_NE(r.err.find(row.message), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(" @ 0x"), std::string::npos) << "library diagnostics on the terminal:\n" << r.err;
    // No temporary WAV of the run survives, whatever happened.
    EXPECT_TRUE(QDir(QString::fromStdString(c.temp)).entryList(QDir::Files | QDir::Hidden).isEmpty())
        << c.temp;
    if (r.exitCode == 0) {
        // One complete output, named on stdout, that decodes.
        ASSERT_FALSE(r.out.empty());
        const std::string output = r.out.substr(0, r.out.size() - 1);
        EXPECT_GE(DecodedFrames(output), 0) << output;
    } else if (std::strcmp(row.name, "disk full in step 1, WAV") == 0) {
        // A failed job keeps the part of the output it wrote, as a cancelled one does.
        EXPECT_EQ(created, "clip_OUTPUT.wav (16384 B)");
    } else {
        EXPECT_TRUE(created.empty()) << created;
    }
}

std::string RowName(const ::testing::TestParamInfo<size_t>& info) {
    std::string name;
    for (const char* p = kRows[info.param].name; *p; ++p)
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Table, BadInputTest, ::testing::Range<size_t>(0, std::size(kRows)), RowName);

} // namespace
