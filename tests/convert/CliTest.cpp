#include "MediaProbe.h"
#include "SystemHelpers.h"
#include "TestMedia.h"
#include "TestSupport.h"

#include <QProcess>
#include <cmath>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>

namespace {

class CliTest : public ::testing::Test {
protected:
    // Runs quillet-cli with the test's settings to its end; returns the exit code (-1 when it crashed or
    // hung).
    int Run(const std::vector<std::string>& args, const std::string& moreSettings = "") {
        WriteSettings(moreSettings);
        std::vector<std::string> list{"--settings", settings};
        list.insert(list.end(), args.begin(), args.end());
        out.clear();
        err.clear();
        return RunProgram(QUILLET_BIN_DIR "quillet-cli", list, &out, &err);
    }
    void WriteSettings(const std::string& more = "") {
        WriteFileText(settings, "[General]\nTempPath=" + temp + "\n" + more +
                                    "\n[wav]\nSample Index=7\nBits per sample=1\n");
    }

    TempDir dir;
    std::string temp = dir.File("tmp/"), settings = dir.File("settings.ini"), out, err;
};

} // namespace

// Outputs are named as the window names them, beside the source or in the custom folder; without -e
// the range ends where the container says the source ends.
TEST_F(CliTest, ConvertsWithTheWindowsNamingRuleAndFolders) {
    const std::string source = dir.File("été clip.mkv");
    ASSERT_TRUE(MakeTestSource(source, 2.0, true));
    for (const char* name : {"été clip_OUTPUT.wav", "été clip_OUTPUT1.wav", "été clip_OUTPUT2.wav"}) {
        ASSERT_EQ(Run({"-q", "-f", "wav", "-s", "0.5", "-e", "1.5", source}), 0) << err;
        EXPECT_EQ(out, dir.File(name) + "\n");
        EXPECT_EQ(ReadWavData(dir.File(name), 2, 2).Frames(), 44100);
    }
    // Step 2 counts from its own start, not from where step 1 ended.
    ASSERT_EQ(Run({"-f", "mp3", source}), 0) << err;
    EXPECT_EQ(DecodeWithFfmpeg(dir.File("été clip_OUTPUT.mp3")).frames,
              std::lround(ProbeMediaDuration(source) * 44100));
    EXPECT_NE(err.find("[Step 2] - Convert Wav audio to mp3 file 0%\n"), std::string::npos) << err;
    ASSERT_EQ(Run({"-q", "-f", "ogg", "-o", dir.File("chosen.ogg"), source}), 0) << err;
    EXPECT_EQ(out, dir.File("chosen.ogg") + "\n");

    // The custom folder is made when missing; when it cannot be, nothing is converted.
    const std::string custom = dir.File("Out New/deeper/");
    ASSERT_EQ(Run({"-q", "-f", "mp3", "-e", "1", source}, "OutputPathType=1\nOutputPath=" + custom), 0)
        << err;
    EXPECT_EQ(out, custom + "été clip_OUTPUT.mp3\n");
    WriteFileText(dir.File("a file"), "");
    EXPECT_EQ(
        Run({"-q", "-f", "mp3", "-e", "1", source}, "OutputPathType=1\nOutputPath=" + dir.File("a file/x/")),
        1);
    EXPECT_NE(err.find(dir.File("a file/x/")), std::string::npos) << err;
    EXPECT_TRUE(FilesIn(temp).empty());
}

TEST_F(CliTest, AFailedSourceDoesNotStopTheOthersAndBadArgumentsAreRefused) {
    const std::string good = dir.File("good.wav");
    ASSERT_TRUE(MakeTestSource(good, 1.0));
    WriteFileText(dir.File("bad.avi"), std::string(3000, '\x11'));
    EXPECT_EQ(Run({"-q", "-f", "mp3", "-e", "1", dir.File("missing.avi"), dir.File("bad.avi"), good}), 1);
    EXPECT_EQ(out, dir.File("good_OUTPUT.mp3") + "\n");
    EXPECT_NE(err.find("missing.avi"), std::string::npos) << err;
    EXPECT_NE(err.find("Converting task failed!"), std::string::npos) << err;
    EXPECT_TRUE(FilesIn(temp).empty());
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"-f", "aiff", good},
                                               {"-o", "x.mp3", good, good},
                                               {"-s", "-3", good},
                                               {"-s", "2", "-e", "1", good},
                                               {"-a", "0", good},
                                               {"--normalize=-90", good},
                                               {"--normalize", "--true-peak", "2", good},
                                               {"--fade-in", "-5", good},
                                               {"-s", "1:60", good},
                                               {"-r", "2-1", good},
                                               {"-r", "0-1", "--chapters", good},
                                               {"-r", "0-1", "-e", "1", good},
                                               {"--join", good},
                                               {"--split-silence=3,1", good},
                                               {"--cue", dir.File("none.cue"), good},
                                               {"--chapters", good},
                                               {}})
        EXPECT_EQ(Run(args), 1) << (args.empty() ? "" : args[0]);
    EXPECT_EQ(FilesIn(dir.Path()),
              (std::vector<std::string>{"bad.avi", "good.wav", "good_OUTPUT.mp3", "settings.ini"}));
}

// A film with a video, an English track and a German commentary marked as the default: listed as users
// know them, and the track asked for is the one converted.
TEST_F(CliTest, ListsAudioTracksAndConvertsTheOneAskedFor) {
    const std::string film = dir.File("film.mkv");
    ASSERT_TRUE(MakeTwoTrackFilm(film, 2, "aac", "Kommentar für alle"));
    ASSERT_EQ(Run({"--list-tracks", film}), 0) << err;
    EXPECT_EQ(out, film + ":\n1\teng\t-\tFLAC\t44100 Hz\t2 ch (stereo)\t00:00:02.0\n" +
                       "2\tdeu\tKommentar für alle\tAAC\t48000 Hz\t1 ch (mono)\t00:00:02.0\tdefault\n");
    EXPECT_EQ(Run({"--list-tracks", film, dir.File("none.mkv")}), 1);

    // A track the file does not have: said so, nothing written.
    EXPECT_EQ(Run({"-q", "-f", "mp3", "-a", "3", film}), 1);
    EXPECT_NE(err.find("has no audio track 3 (it has 2 audio tracks"), std::string::npos) << err;
    EXPECT_EQ(FilesIn(dir.Path()), (std::vector<std::string>{"film.mkv", "settings.ini"}));

    // The English track (lossless), against a decode of it from the start of the file.
    ASSERT_EQ(Run({"-q", "-f", "wav", "-a", "1", "-s", "0.5", "-e", "1.5", film}), 0) << err;
    const Pcm ours = ReadWavData(dir.File("film_OUTPUT.wav"), 2, 2);
    std::string raw;
    RunProgram("ffmpeg",
               {"-v", "error", "-i", film, "-map", "0:a:0", "-af", "aresample=async=1:first_pts=0", "-f",
                "s16le", "-"},
               &raw);
    Pcm ref{2, std::vector<int16_t>(44100 * 2)};
    ASSERT_GE(raw.size(), 2 * 44100 * 4u);
    std::memcpy(ref.samples.data(), raw.data() + 22050 * 4, ref.samples.size() * 2);
    ASSERT_EQ(ours.Frames(), 44100);
    EXPECT_EQ(ours.samples, ref.samples);
}

// Ctrl+C, kill and a closed terminal are the confirmed Cancel; once the temporary WAV is gone the
// program ends by the signal, as any other program would, so that a shell loop around it stops.
// Temporary WAVs of runs that were killed outright are removed when the next run starts.
TEST_F(CliTest, SignalsCancelCleanUpAndEndTheProgram) {
    // Ten minutes: far more than can be converted in the moment between the first line and the signal.
    const std::string source = dir.File("long.wav");
    ASSERT_TRUE(RunFfmpeg(
        {"-f", "lavfi", "-i", "sine=d=600:r=8000", "-c:a", "pcm_u8", QString::fromStdString(source)}));
    WriteSettings();
    ASSERT_TRUE(CreateDirectoryPath(temp));
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(sig);
        WriteFileText(temp + "qlt_temp_999999_1.wav", "left by a run killed with SIGKILL");
        QProcess p;
        p.start(QUILLET_BIN_DIR "quillet-cli",
                {"--settings", QString::fromStdString(settings), "-f", "mp3", QString::fromStdString(source),
                 QString::fromStdString(source)});
        QByteArray log;
        ASSERT_TRUE(WaitFor(
            [&] {
                log += p.readAllStandardError();
                return log.contains("[Step 1]") || p.state() == QProcess::NotRunning;
            },
            60000));
        ::kill(static_cast<pid_t>(p.processId()), sig);
        ASSERT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitStatus(), QProcess::CrashExit) << log.toStdString();
        EXPECT_EQ(p.exitCode(), sig);
        EXPECT_TRUE(FilesIn(temp).empty());
        EXPECT_TRUE(FilesIn(dir.Path()).size() == 2) << "no output of the second source, none empty";
    }
}
