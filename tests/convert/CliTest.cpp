#include "MediaProbe.h"
#include "SystemHelpers.h"
#include "TestMedia.h"
#include "TestSupport.h"

#include <QDir>
#include <QProcess>
#include <cctype>
#include <cmath>
#include <csignal>
#include <gtest/gtest.h>

namespace {

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        temp = dir.File("tmp/");
        settings = dir.File("settings.ini");
        WriteFileText(settings,
                      "[General]\nTempPath=" + temp + "\n[wav]\nSample Index=7\nBits per sample=1\n");
    }

    // Runs quillet-cli to its end; returns the exit code (-1 when it crashed or hung).
    int Run(const QStringList& args) {
        std::vector<std::string> list{"--settings", settings};
        for (const QString& a : args)
            list.push_back(a.toStdString());
        out.clear();
        err.clear();
        return RunProgram(std::string(QUILLET_BIN_DIR) + "quillet-cli", list, &out, &err);
    }

    bool TempFolderEmpty() const {
        return QDir(QString::fromStdString(temp)).entryList(QDir::Files | QDir::Hidden).isEmpty();
    }

    TempDir dir;
    std::string temp, settings, out, err;
};

} // namespace

TEST_F(CliTest, ConvertsWithTheWindowsNamingRule) {
    const std::string source = dir.File("été clip.mkv");
    ASSERT_TRUE(MakeTestSource(source, 2.0, true));
    ASSERT_EQ(Run({"-q", "-f", "wav", "-s", "0.5", "-e", "1.5", QString::fromStdString(source)}), 0) << err;
    EXPECT_EQ(out, dir.File("été clip_OUTPUT.wav") + "\n");
    EXPECT_EQ(DecodedFrames(dir.File("été clip_OUTPUT.wav")), 44100);
    ASSERT_EQ(Run({"-q", "-f", "mp3", QString::fromStdString(source)}), 0) << err;
    EXPECT_EQ(out, dir.File("été clip_OUTPUT.mp3") + "\n");
    // Without -e the range ends where the container says the source ends.
    const long whole = std::lround(ProbeMediaDuration(source) * 44100);
    EXPECT_EQ(DecodedFrames(dir.File("été clip_OUTPUT.mp3")), whole);
    ASSERT_EQ(Run({"-q", "-f", "wav", QString::fromStdString(source)}), 0) << err;
    EXPECT_EQ(out, dir.File("été clip_OUTPUT1.wav") + "\n");
    ASSERT_EQ(Run({"-q", "-f", "ogg", "-o", QString::fromStdString(dir.File("chosen.ogg")),
                   QString::fromStdString(source)}),
              0)
        << err;
    EXPECT_EQ(DecodedFrames(dir.File("chosen.ogg")), whole);
    EXPECT_TRUE(TempFolderEmpty());
}

TEST_F(CliTest, AFailedSourceDoesNotStopTheOthers) {
    const std::string good = dir.File("good.wav");
    ASSERT_TRUE(MakeTestSource(good, 1.0));
    WriteFileText(dir.File("bad.avi"), std::string(3000, '\x11'));
    EXPECT_EQ(Run({"-q", "-f", "mp3", "-e", "1", QString::fromStdString(dir.File("missing.avi")),
                   QString::fromStdString(dir.File("bad.avi")), QString::fromStdString(good)}),
              1);
    EXPECT_EQ(out, dir.File("good_OUTPUT.mp3") + "\n");
    EXPECT_NE(err.find("missing.avi"), std::string::npos) << err;
    EXPECT_NE(err.find("Converting task failed!"), std::string::npos) << err;
    EXPECT_TRUE(TempFolderEmpty());
}

TEST_F(CliTest, RefusesBadArguments) {
    const std::string good = dir.File("good.wav");
    ASSERT_TRUE(MakeTestSource(good, 1.0));
    const QString g = QString::fromStdString(good);
    EXPECT_EQ(Run({"-f", "aiff", g}), 1);
    EXPECT_EQ(Run({"-o", "x.mp3", g, g}), 1);
    EXPECT_EQ(Run({"-s", "-3", g}), 1);
    EXPECT_EQ(Run({"-s", "2", "-e", "1", g}), 1);
    EXPECT_EQ(Run({}), 1);
    EXPECT_FALSE(FileExists(dir.File("good_OUTPUT.mp3")));
}

TEST_F(CliTest, InterruptIsTheConfirmedCancel) {
    const std::string source = dir.File("long.wav");
    ASSERT_TRUE(MakeTestSource(source, 240.0));
    QProcess p;
    p.start(QString(QUILLET_BIN_DIR) + "quillet-cli",
            {"--settings", QString::fromStdString(settings), "-f", "mp3", QString::fromStdString(source)});
    QByteArray log;
    // Wait until step 2 runs, then press Ctrl+C.
    ASSERT_TRUE(WaitFor(
        [&] {
            log += p.readAllStandardError();
            return log.contains("[Step 2]") || p.state() == QProcess::NotRunning;
        },
        60000));
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 130) << log.toStdString();
    EXPECT_TRUE(TempFolderEmpty());
    EXPECT_TRUE(FileExists(dir.File("long_OUTPUT.mp3"))); // the partial output stays
}

TEST_F(CliTest, AnImpossibleSampleRateIsRefusedAtOnce) {
    // A WAV header claiming over a billion samples a second (seen in a damaged file): without a limit,
    // building its resampler kept the machine busy for half a minute.
    std::string wav("RIFF\x00\x00\x00\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x02\x00", 24);
    const uint32_t rate = 1163280727u, bytesPerSecond = rate * 4u;
    wav.append(reinterpret_cast<const char*>(&rate), 4);
    wav.append(reinterpret_cast<const char*>(&bytesPerSecond), 4);
    wav.append("\x04\x00\x10\x00"
               "data",
               8);
    const uint32_t dataSize = 40000;
    wav.append(reinterpret_cast<const char*>(&dataSize), 4);
    wav.append(std::string(dataSize, '\x01'));
    const std::string path = dir.File("damaged.wav");
    WriteFileText(path, wav);
    EXPECT_EQ(Run({"-q", "-f", "wav", "-e", "1", QString::fromStdString(path)}), 1);
    EXPECT_NE(err.find("claims a sample rate of 1163280727 Hz"), std::string::npos) << err;
    EXPECT_TRUE(TempFolderEmpty());
}

TEST_F(CliTest, ProgressNeverReadsPastAHundredPercent) {
    // Step 1 ends with a byte count far above step 2's per-mille range.
    const std::string source = dir.File("clip.mkv");
    ASSERT_TRUE(MakeTestSource(source, 2.0, false));
    for (const char* format : {"wav", "mp3"}) {
        ASSERT_EQ(Run({"-f", format, QString::fromStdString(source)}), 0) << err;
        const std::string all = out + err;
        int lines = 0;
        for (size_t sign = all.find('%'); sign != std::string::npos; sign = all.find('%', sign + 1)) {
            size_t digits = sign;
            while (digits > 0 && std::isdigit(static_cast<unsigned char>(all[digits - 1])))
                --digits;
            if (digits == sign)
                continue;
            ++lines;
            EXPECT_LE(std::stol(all.substr(digits, sign - digits)), 100) << all;
        }
        EXPECT_GT(lines, 1) << all;
    }
    // Step 2 starts from nothing, not from where step 1 ended.
    EXPECT_NE((out + err).find("[Step 2] - Convert Wav audio to mp3 file 0%"), std::string::npos)
        << out + err;
}
