// Bad input, end to end: each row runs the command-line converter on one kind of trouble and checks
// what the user is told, the exit code and that no temporary WAV is left: never a crash, never a hang.

#include "TestMedia.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <cctype>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The media the rows use, each made the first time a row asks for it.
const std::string& SharedMedia(const std::string& name) {
    static TempDir* dir = new TempDir;
    static std::map<std::string, std::string> made;
    if (made.count(name) == 0) {
        const std::string path = dir->File(name);
        if (name == "clip.mkv" || name == "cut.mkv") {
            MakeTestSource(dir->File("clip.mkv"), 2.0, true);
            const std::string bytes = ReadFileText(dir->File("clip.mkv"));
            WriteFileText(dir->File("cut.mkv"), bytes.substr(0, bytes.size() / 3));
        } else if (name == "tone.wav") {
            MakeTestSource(path, 2.0);
        } else {
            RunFfmpeg({"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=1", "-c:v", "mpeg4",
                       QString::fromStdString(path)});
        }
        made[name] = path;
    }
    return made[name];
}

struct Context {
    TempDir dir;
    std::string temp = dir.File("tmp/"); // the settings' temporary folder
    std::string settings = dir.File("settings.ini");
    std::string outDir = dir.File("out/"); // where sources and outputs go
    std::string program = QUILLET_BIN_DIR "quillet-cli";
    rlim_t fileSizeLimit = RLIM_INFINITY;
    bool unprivileged = false;

    // A copy of a shared medium in the output folder, under the name given (or its own).
    std::string Copy(const std::string& medium, const std::string& name = "") {
        const std::string to = outDir + (name.empty() ? medium : name);
        QFile::copy(QString::fromStdString(SharedMedia(medium)), QString::fromStdString(to));
        return to;
    }
    // A program directory of the test's own: the converter and links to the modules, one of them left
    // out (replacement empty) or replaced by another file.
    void OwnProgramDirectory(const std::string& module, const std::string& replacement) {
        const std::string prog = dir.File("prog/");
        QDir().mkpath(QString::fromStdString(prog));
        QFile::copy(QUILLET_BIN_DIR "quillet-cli", QString::fromStdString(prog + "quillet-cli"));
        for (const char* m : {"VideoEdit.so", "lame_enc.so", "Vorbis.so", "WmAudSDK.so"}) {
            const std::string target = m == module ? replacement : QUILLET_BIN_DIR + std::string(m);
            if (!target.empty())
                symlink(target.c_str(), (prog + m).c_str());
        }
        program = prog + "quillet-cli";
    }
    // Someone else's world-readable tree in which the output folder is not writable for them.
    std::string ReadOnlyOutput(const std::string& source) {
        chmod(dir.Path().c_str(), 0755);
        chmod(temp.c_str(), 0777);
        chmod(settings.c_str(), 0644);
        chmod(source.c_str(), 0644);
        chmod(outDir.c_str(), 0555);
        unprivileged = true;
        return source;
    }
};

std::vector<std::string> Args(const std::string& format, const std::string& source,
                              const std::vector<std::string>& more = {}) {
    std::vector<std::string> args{"-q", "-f", format};
    args.insert(args.end(), more.begin(), more.end());
    args.push_back(source);
    return args;
}

struct Row {
    const char* name;
    // Prepares the case; returns the converter's arguments (after --settings).
    std::function<std::vector<std::string>(Context&)> prepare;
    int exitCode;
    const char* message; // a part of what the user reads on the terminal
};

const std::string kNoEntryModule = WMA_NO_ENTRY_DIR "WmAudSDK.so";

const Row kRows[] = {
    {"truncated video", [](Context& c) { return Args("mp3", c.Copy("cut.mkv")); }, 1,
     "the file may be damaged"},
    {"zero bytes",
     [](Context& c) {
         WriteFileText(c.outDir + "empty.avi", "");
         return Args("mp3", c.outDir + "empty.avi");
     },
     1, "as a video or audio file"},
    {"printf directives in the name",
     [](Context& c) {
         std::mt19937 rng(7);
         std::string bytes(20000, '\0');
         for (char& b : bytes)
             b = static_cast<char>(rng());
         WriteFileText(c.outDir + "%s%n%99999999d.avi", bytes);
         return Args("ogg", c.outDir + "%s%n%99999999d.avi", {"-e", "1"});
     },
     1, "%s%n%99999999d.avi"},
    {"video without audio", [](Context& c) { return Args("mp3", c.Copy("silent film.mkv")); }, 1,
     "Converting task failed!"},
    {"range past the end",
     [](Context& c) {
         return Args("wav", c.Copy("clip.mkv"), {"-s", "10", "-e", "20"});
     },
     1, "There is no audio to convert in the marked range."},
    {"read-only output folder", [](Context& c) { return Args("mp3", c.ReadOnlyOutput(c.Copy("tone.wav"))); },
     1, "Error opening"},
    {"read-only output folder, WAV",
     [](Context& c) { return Args("wav", c.ReadOnlyOutput(c.Copy("tone.wav"))); }, 1,
     "Converting task failed!"},
    {"disk full in step 1",
     [](Context& c) {
         c.fileSizeLimit = 16 * 1024;
         return Args("wav", c.Copy("clip.mkv"));
     },
     1, "Converting task failed!"},
    {"disk full in step 2, MP3",
     [](Context& c) {
         return Args("mp3", c.Copy("clip.mkv"), {"-o", "/dev/full"});
     },
     1, "Output file write error"},
    {"disk full in step 2, Ogg",
     [](Context& c) {
         return Args("ogg", c.Copy("clip.mkv"), {"-o", "/dev/full"});
     },
     1, "Output file write error"},
    {"disk full in step 2, WMA",
     [](Context& c) {
         return Args("wma", c.Copy("clip.mkv"), {"-o", "/dev/full"});
     },
     1, "Output file write error"},
    {"missing lame_enc.so",
     [](Context& c) {
         c.OwnProgramDirectory("lame_enc.so", "");
         return Args("mp3", c.Copy("tone.wav"));
     },
     1, "Error loading lame_enc.DLL"},
    {"broken Vorbis.so",
     [](Context& c) {
         c.OwnProgramDirectory("Vorbis.so", kNoEntryModule);
         return Args("ogg", c.Copy("tone.wav"));
     },
     1, "Unable to get Vorbis interfaces"},
    {"broken WmAudSDK.so",
     [](Context& c) {
         c.OwnProgramDirectory("WmAudSDK.so", kNoEntryModule);
         return Args("wma", c.Copy("tone.wav"));
     },
     1, "WMAudioCreateWriter"},
    {"missing VideoEdit.so",
     [](Context& c) {
         c.OwnProgramDirectory("VideoEdit.so", "");
         return Args("wav", c.Copy("tone.wav"));
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
         return std::vector<std::string>{"-q", c.Copy("tone.wav")};
     },
     0, ""},
    {"path with spaces, quotes, $ and non-ASCII",
     [](Context& c) { return Args("ogg", c.Copy("clip.mkv", "it's a \"clip\" $HOME `x` Ünïcødé 日本.mkv")); },
     0, ""},
    {"path of 300+ characters",
     [](Context& c) {
         std::string folder = c.outDir;
         for (int i = 0; i < 4; ++i)
             folder += std::string(70, static_cast<char>('a' + i)) + " é/";
         QDir().mkpath(QString::fromStdString(folder));
         c.outDir = folder;
         return Args("mp3", c.Copy("clip.mkv", "z.mkv"));
     },
     0, ""},
};

class BadInputTest : public ::testing::TestWithParam<size_t> {};

TEST_P(BadInputTest, ClearMessageAndNoTemporaryWavLeft) {
    const Row& row = kRows[GetParam()];
    Context c;
    QDir().mkpath(QString::fromStdString(c.temp));
    QDir().mkpath(QString::fromStdString(c.outDir));
    WriteFileText(c.settings, "[General]\nTempPath=" + c.temp + "\n");
    std::vector<std::string> args = row.prepare(c);
    args.insert(args.begin(), {"--settings", c.settings});
    std::string out, err;
    const int exitCode = RunProgram(c.program, args, &out, &err, 120000, [&c] {
        if (c.fileSizeLimit != RLIM_INFINITY) {
            // Past the limit a write fails with EFBIG, as on a full disk, instead of killing.
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{c.fileSizeLimit, c.fileSizeLimit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (c.unprivileged && !BecomeUnprivileged())
            _exit(126);
        setenv("LC_ALL", "C.UTF-8", 1);
    });
    chmod(c.outDir.c_str(), 0755);
    EXPECT_EQ(exitCode, row.exitCode) << err; // -1: a crash or a hang
    EXPECT_NE(err.find(row.message), std::string::npos) << err;
    EXPECT_EQ(err.find(" @ 0x"), std::string::npos) << "library diagnostics on the terminal:\n" << err;
    EXPECT_TRUE(FilesIn(c.temp).empty());
    if (row.exitCode == 0) {
        // One complete output, named on stdout, that decodes.
        ASSERT_FALSE(out.empty());
        EXPECT_GT(DecodeWithFfmpeg(out.substr(0, out.size() - 1)).frames, 0) << out;
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
