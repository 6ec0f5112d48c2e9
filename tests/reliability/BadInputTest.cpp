// Bad input, end to end: each row runs the command-line converter on one kind of trouble and checks
// what the user is told, the exit code and that no temporary WAV is left: never a crash, never a hang.

#include "SystemHelpers.h"
#include "TestMedia.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <cctype>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The media the rows use, each made the first time a row asks for it.
std::string SharedMedia(const std::string& name) {
    static TempDir* dir = new TempDir;
    const std::string path = dir->File(name);
    std::mt19937 rng(7);
    std::string noise(20000, '\0');
    for (char& b : noise)
        b = static_cast<char>(rng());
    if (FileExists(path))
        return path;
    if (name == "clip.mkv" || name == "cut.mkv") {
        MakeTestSource(dir->File("clip.mkv"), 2.0, true);
        const std::string bytes = ReadFileText(dir->File("clip.mkv"));
        WriteFileText(dir->File("cut.mkv"), bytes.substr(0, bytes.size() / 3));
    } else if (name == "tone.wav") {
        MakeTestSource(path, 2.0);
    } else if (name == "damaged.wav") {
        // A header claiming over a billion samples a second (seen in a damaged file): without a limit,
        // building its resampler kept the machine busy for half a minute.
        const uint32_t rate = 1163280727u, fields[] = {rate, rate * 4u, 0x00100004u, 0x61746164u, 40000u};
        std::string wav("RIFF\0\0\0\0WAVEfmt \x10\0\0\0\x01\0\x02\0", 24);
        wav.append(reinterpret_cast<const char*>(fields), sizeof fields);
        WriteFileText(path, wav + std::string(40000, '\x01'));
    } else if (name == "adpcm.mov") {
        RunFfmpeg(
            {"-f", "lavfi", "-i", "sine=duration=1", "-c:a", "adpcm_ima_qt", QString::fromStdString(path)});
    } else if (name == "stamped zero.rm") { // every packet at 0, no duration: only counting places it
        RunFfmpeg({"-f", "lavfi", "-i", "sine=d=3:r=8000", "-c:a", "real_144", QString::fromStdString(path)});
    } else if (name == "silent film.mkv") {
        RunFfmpeg(
            {"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=1", QString::fromStdString(path)});
    } else {
        WriteFileText(path, name == "noise.avi" ? noise : "");
    }
    return path;
}

struct Context {
    TempDir dir;
    std::string temp = dir.File("tmp/"), settings = dir.File("settings.ini"), outDir = dir.File("out/");
    std::string program = QUILLET_BIN_DIR "quillet-cli";
    std::string as;                       // the source's name, when not the medium's
    std::vector<std::string> alsoSources; // more copies of the medium, converted after it
    std::vector<std::string> env;         // NAME=value for the converter
    bool namedSettings = true;            // --settings c.settings, else the program's param.ini
    rlim_t fileSizeLimit = RLIM_INFINITY;
    bool unprivileged = false;

    // A program directory of the test's own: the converter and the modules, one of them left out
    // (replacement empty) or replaced by a module without its entry points.
    void BreakModule(const std::string& module, const std::string& replacement) {
        const std::string prog = dir.File("prog/");
        QDir().mkpath(QString::fromStdString(prog));
        QFile::copy(QUILLET_BIN_DIR "quillet-cli", QString::fromStdString(prog + "quillet-cli"));
        for (const char* m : {"VideoEdit.so", "lame_enc.so", "Vorbis.so", "WmAudSDK.so", "AvAudioEnc.so"}) {
            const std::string target = m == module ? replacement : QUILLET_BIN_DIR + std::string(m);
            if (!target.empty())
                symlink(target.c_str(), (prog + m).c_str());
        }
        program = prog + "quillet-cli";
    }
    // Someone else's world-readable tree in which the output folder is not writable for them.
    void ReadOnlyOutput() {
        chmod(dir.Path().c_str(), 0755);
        chmod(temp.c_str(), 0777);
        unprivileged = true;
    }
};

struct Row {
    const char* name;
    const char* args;   // before the source, after --settings, separated by blanks; {source} and {out}
                        // stand for the source's path and the output folder
    const char* medium; // the source: a copy of this one in the output folder
    int exitCode;
    const char* message; // a part of what the user reads on the terminal
    std::function<void(Context&)> prepare = {};
};

void SettingsOf(Context& c, const std::function<void(const std::string&)>& make) {
    unlink(c.settings.c_str());
    make(c.settings);
}

const std::string kNoEntry = WMA_NO_ENTRY_DIR "WmAudSDK.so";

const Row kRows[] = {
    {"truncated video", "-f mp3", "cut.mkv", 1, "the file may be damaged"},
    {"zero bytes", "-f mp3", "empty.avi", 1, "as a video or audio file"},
    {"printf directives in the name", "-f ogg -e 1", "noise.avi", 1, "%s%n%99999999d.avi",
     [](Context& c) { c.as = "%s%n%99999999d.avi"; }},
    {"video without audio", "-f mp3", "silent film.mkv", 1, "Converting task failed!"},
    {"impossible sample rate", "-f wav -e 1", "damaged.wav", 1, "claims a sample rate of 1163280727 Hz"},
    {"original: a codec no file type takes on its own", "-f original", "adpcm.mov", 1,
     "(adpcm_ima_qt) cannot be put into any file on its own"},
    {"range past the end", "-f wav -s 10 -e 20", "clip.mkv", 1,
     "There is no audio to convert in the marked range."},
    {"source shorter than the range", "-f mp3 -s 1 -e 5", "tone.wav", 2,
     "Warning: the source ended before the range did. The output holds 00:00:01.0 of the 00:00:04.0 asked "
     "for."},
    // Told before step 1 decodes anything.
    {"read-only output folder", "-f m4a", "tone.wav", 1, "tone_OUTPUT.m4a (Permission denied)",
     [](Context& c) { c.ReadOnlyOutput(); }},
    {"disk full in step 1", "-f wav", "clip.mkv", 1, "task failed",
     [](Context& c) { c.fileSizeLimit = 16 * 1024; }},
    {"disk full in step 2, MP3", "-f mp3 --overwrite -o /dev/full", "clip.mkv", 1,
     "Output file write error (No space left on device)"},
    {"disk full in step 2, Ogg", "-f ogg --overwrite -o /dev/full", "clip.mkv", 1,
     "Output file write error (No space left on device)"},
    {"disk full in step 2, WMA", "-f wma --overwrite -o /dev/full", "clip.mkv", 1,
     "Output file write error (No space left on device)"},
    {"disk full in step 2, FLAC", "-f flac --overwrite -o /dev/full", "clip.mkv", 1,
     "Output file write error (No space left on device)"},
    {"output onto the source", "-f mp3 -o {source}", "clip.mkv", 1, "is the source file itself"},
    {"output onto the source through ../, overwrite", "-f flac --overwrite -o {out}../out/tone.wav",
     "tone.wav", 1, "is the source file itself"},
    {"output onto another file", "-f mp3 -o {out}../settings.ini", "tone.wav", 1,
     "exists already; it was not overwritten (--overwrite replaces it)"},
    {"source is a FIFO", "-f mp3", "tone.wav", 1, "FIFO.wav: not a regular file",
     [](Context& c) {
         c.as = c.dir.File("FIFO.wav");
         mkfifo(c.as.c_str(), 0600);
     }},
    {"settings file is a FIFO", "", "tone.wav", 1, "(not a regular file)",
     [](Context& c) { SettingsOf(c, [](const std::string& p) { mkfifo(p.c_str(), 0600); }); }},
    {"settings file is a folder", "", "tone.wav", 1, "(Is a directory)",
     [](Context& c) { SettingsOf(c, [](const std::string& p) { mkdir(p.c_str(), 0700); }); }},
    {"settings file is /dev/zero", "", "tone.wav", 1, "(not a regular file)",
     [](Context& c) { c.settings = "/dev/zero"; }},
    {"settings file over 1 MB", "", "tone.wav", 1, "(larger than any settings file, over 1 MB)",
     [](Context& c) { WriteFileText(c.settings, "[General]\n" + std::string(1100000, ';')); }},
    {"settings file missing", "", "tone.wav", 1, "missing.ini (No such file or directory)",
     [](Context& c) { c.settings = c.dir.File("missing.ini"); }},
    // Without --settings: the program's param.ini, a folder here, gives way to the defaults, whose
    // temporary folder is under $HOME (a relative $XDG_CACHE_HOME counts for nothing).
    {"param.ini a folder, folders under $HOME", "-f wav", "tone.wav", 0,
     "(Is a directory); this run uses the defaults",
     [](Context& c) {
         c.BreakModule("", "");
         mkdir(c.dir.File("prog/param.ini").c_str(), 0700);
         c.namedSettings = false;
         c.env = {"HOME=" + c.dir.Path(), "XDG_CACHE_HOME=relative/cache"};
         c.temp = c.dir.File(".cache/quillet/");
     }},
    {"missing AvAudioEnc.so, Opus", "-f opus", "tone.wav", 1, "Error loading AvAudioEnc.so",
     [](Context& c) { c.BreakModule("AvAudioEnc.so", ""); }},
    {"missing lame_enc.so", "-f mp3", "tone.wav", 1, "Error loading lame_enc.DLL",
     [](Context& c) { c.BreakModule("lame_enc.so", ""); }},
    // Side by side, each message names its source, also those of the encoder threads.
    {"broken Vorbis.so, two at once", "-j 2 -f ogg", "tone.wav", 1,
     "[2/2] b.wav: Unable to get Vorbis interfaces",
     [](Context& c) {
         c.BreakModule("Vorbis.so", kNoEntry);
         c.as = "a.wav";
         c.alsoSources = {"b.wav"};
     }},
    {"broken WmAudSDK.so", "-f wma", "tone.wav", 1, "WMAudioCreateWriter",
     [](Context& c) { c.BreakModule("WmAudSDK.so", kNoEntry); }},
    {"missing VideoEdit.so", "-f wav", "tone.wav", 1, "Error loading VideoEdit.so",
     [](Context& c) { c.BreakModule("VideoEdit.so", ""); }},
    // The format of the settings (out of range: MP3) and the output beside the source.
    {"settings file of garbage", "", "tone.wav", 0, "",
     [](Context& c) {
         std::mt19937 rng(11);
         std::string bytes =
             "[General]\nTempPath=" + c.temp +
             "\nOutputPath=\x01\x02\nFormat Index=77\n[mp3]\nBitreate Index=-9\n\xff\xfe[\n=\n";
         for (int i = 0; i < 4000; ++i)
             bytes.push_back(static_cast<char>(rng()));
         WriteFileText(c.settings, bytes);
     }},
    {"audio without usable timestamps, from 1 s", "-f wav -s 1", "stamped zero.rm", 0, ""},
    {"path with spaces, quotes, $ and non-ASCII", "-f ogg", "clip.mkv", 0, "",
     [](Context& c) { c.as = "it's a \"clip\" $HOME `x` Ünïcødé 日本.mkv"; }},
    {"path of 300+ characters", "-f mp3", "clip.mkv", 0, "",
     [](Context& c) {
         for (int i = 0; i < 4; ++i)
             c.outDir += std::string(70, static_cast<char>('a' + i)) + " é/";
     }},
    {"name that is not UTF-8", "-f wma", "clip.mkv", 0, "", [](Context& c) { c.as = "bad\xff\xfe.mkv"; }},
    {"name too long for its output's name", "-f opus", "tone.wav", 0, "",
     [](Context& c) { c.as = std::string(246, 'x') + ".wav"; }},
};

class BadInputTest : public ::testing::TestWithParam<size_t> {};

TEST_P(BadInputTest, ClearMessageAndNoTemporaryWavLeft) {
    const Row& row = kRows[GetParam()];
    Context c;
    WriteFileText(c.settings, "[General]\nTempPath=" + c.temp + "\n");
    QDir().mkpath(QString::fromStdString(c.temp));
    if (row.prepare)
        row.prepare(c);
    QDir().mkpath(QString::fromStdString(c.outDir));
    const std::string medium = ReadFileText(SharedMedia(row.medium));
    const std::string source = c.as.starts_with('/') ? c.as : c.outDir + (c.as.empty() ? row.medium : c.as);
    std::vector<std::string> sources{source};
    for (const std::string& name : c.alsoSources)
        sources.push_back(c.outDir + name);
    for (const std::string& path : sources)
        if (!FileExists(path))
            WriteFileText(path, medium);
    if (c.unprivileged)
        chmod(c.outDir.c_str(), 0555);
    std::vector<std::string> args{"-q"};
    if (c.namedSettings)
        args.insert(args.begin(), {"--settings", c.settings});
    for (QString arg : QString(row.args).split(' ', Qt::SkipEmptyParts))
        args.push_back(arg.replace("{out}", QString::fromStdString(c.outDir)).toStdString() == "{source}"
                           ? source
                           : arg.toStdString());
    args.insert(args.end(), sources.begin(), sources.end());
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
        for (const std::string& variable : c.env)
            putenv(const_cast<char*>(variable.c_str()));
    });
    chmod(c.outDir.c_str(), 0755);
    EXPECT_EQ(exitCode, row.exitCode) << err; // -1: a crash or a hang
    EXPECT_NE(err.find(row.message), std::string::npos) << err;
    EXPECT_EQ(err.find(" @ 0x"), std::string::npos) << "library diagnostics on the terminal:\n" << err;
    EXPECT_TRUE(FilesIn(c.temp).empty());
    EXPECT_TRUE(exitCode != 0 || DirectoryExists(c.temp)) << "the temporary folder is elsewhere";
    if (!c.as.starts_with('/')) { // not the FIFO, which a read would wait on
        EXPECT_EQ(ReadFileText(source), medium) << "the source changed";
    }
    if (row.exitCode == 0 || row.exitCode == 2) { // one complete output, named on stdout, that decodes
        ASSERT_FALSE(out.empty());
        const std::string output = out.substr(0, out.size() - 1);
        EXPECT_LE(output.size() - output.rfind('/') - 1, 255u);
        EXPECT_GT(DecodeWithFfmpeg(output).frames, 0) << out;
    }
    if (c.fileSizeLimit != RLIM_INFINITY) { // a failed job keeps what it wrote, as a cancelled one does
        EXPECT_EQ(GetFileSize64(c.outDir + "clip_OUTPUT.wav"), static_cast<int64_t>(c.fileSizeLimit));
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

TEST(NoShell, NoProgramOrModuleCallsAShell) {
    // Files and addresses are opened without a shell: no binary imports a function that runs one (the
    // hyperlink opener goes through QDesktopServices, which starts xdg-open directly).
    const QStringList binaries =
        QDir(QUILLET_BIN_DIR).entryList({"quillet", "quillet-cli", "*.so"}, QDir::Files);
    ASSERT_GE(binaries.size(), 9) << binaries.join(' ').toStdString();
    for (const QString& name : binaries) {
        std::string out;
        ASSERT_EQ(RunProgram("nm", {"-D", "--undefined-only", QUILLET_BIN_DIR + name.toStdString()}, &out),
                  0);
        for (const QString& line : QString::fromStdString(out).split('\n')) {
            const QString symbol = line.section(' ', -1).section('@', 0, 0);
            for (const char* shell : {"system", "popen", "execl", "execlp", "execle", "execvp", "wordexp"})
                EXPECT_NE(symbol, shell) << name.toStdString() << " imports " << shell;
        }
    }
}
