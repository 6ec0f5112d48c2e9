// The Processing dialog cancelled or closed at random moments of every format, many times: every run
// ends, nothing is reported as failed, and no thread, file handle or temporary WAV outlives the jobs.

#include "AudioSettings.h"
#include "ProcessingDlg.h"
#include "SystemHelpers.h"
#include "TestMedia.h"
#include "TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <dirent.h>
#include <gtest/gtest.h>
#include <random>

namespace {

int CountEntries(const char* folder) {
    int n = 0;
    if (DIR* d = opendir(folder)) {
        while (readdir(d))
            ++n;
        closedir(d);
    }
    return n;
}

enum class Action { CancelButton, CloseWindow, EscapeKey };
enum class Moment { AtOnce, InStep1, InStep2, AfterDelay };

} // namespace

TEST(ProcessingStress, CancelAndCloseAtRandomMomentsOfEveryFormat) {
    SetAppDirectoryForTesting(QUILLET_BIN_DIR);
    TempDir dir;
    g_settings.LoadFrom(dir.File("none.ini"));
    const std::string source = dir.File("source.wav");
    ASSERT_TRUE(MakeTestSource(source, 4.0));
    const std::string temp = dir.File("tmp/");
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(temp)));
    MessageRecorder messages;

    std::mt19937 rng(20261207);
    int threadsBefore = 0, fdsBefore = 0, ended = 0, cancelled = 0;
    constexpr int kRuns = 33; // the first one only warms up what the process keeps (Qt's own threads)
    for (int i = 0; i < kRuns; ++i) {
        g_settings.m_nFormatIndex = static_cast<int>(rng() % 4);
        const auto action = static_cast<Action>(rng() % 3);
        const auto moment = static_cast<Moment>(rng() % 4);
        const int perMille = static_cast<int>(rng() % 1000);
        const int delayMs = static_cast<int>(rng() % 400);
        messages.QueueAnswer(IDYES);

        int result = 0;
        bool failed = false;
        {
            CProcessingDlg dlg;
            dlg.m_strSourcePath = source;
            dlg.m_dStartTime = 0;
            dlg.m_dEndTime = 4;
            dlg.m_strOutputPath = dir.File("out" + std::to_string(i));
            if (g_settings.m_nFormatIndex != FORMAT_WAV) {
                dlg.m_tempWav = CTempWavFile::Reserve(temp);
                ASSERT_TRUE(dlg.m_tempWav);
            }
            dlg.m_strTempWavPath = dlg.m_tempWav ? dlg.m_tempWav->Path() : temp + CTempWavFile::kName;
            QElapsedTimer clock;
            QTimer poll;
            QObject::connect(&poll, &QTimer::timeout, [&] {
                const int pos = dlg.m_progress.GetPos();
                const bool step2 = dlg.findChild<QLabel*>("1047")->text().startsWith("[Step 2]");
                const bool now = moment == Moment::AtOnce || (moment == Moment::InStep1 && pos > 0) ||
                                 (moment == Moment::InStep2 && step2 && pos >= perMille) ||
                                 (moment == Moment::AfterDelay && clock.elapsed() >= delayMs);
                if (!now)
                    return;
                poll.stop();
                if (action == Action::CancelButton)
                    dlg.findChild<QPushButton*>("2")->click();
                else if (action == Action::CloseWindow)
                    dlg.close();
                else
                    QTest::keyClick(&dlg, Qt::Key_Escape);
            });
            clock.start();
            poll.start(1);
            result = dlg.exec();
            failed = dlg.IsFailed();
            // The dialog goes away here, possibly while a cancelled encoder thread still runs.
        }
        EXPECT_TRUE(result == IDOK || result == IDCANCEL) << "run " << i;
        EXPECT_FALSE(failed) << "run " << i << ": " << (messages.Count() ? messages.Texts().back() : "");
        ended += result != 0;
        cancelled += result == IDCANCEL;
        WaitForEncoderThreads();
        EXPECT_TRUE(QDir(QString::fromStdString(temp)).isEmpty()) << "run " << i;
        if (i == 0) {
            threadsBefore = CountEntries("/proc/self/task");
            fdsBefore = CountEntries("/proc/self/fd");
        }
    }
    EXPECT_EQ(ended, kRuns);
    EXPECT_GT(cancelled, kRuns / 3); // the stops really landed in running jobs
    EXPECT_EQ(CountEntries("/proc/self/task"), threadsBefore);
    EXPECT_EQ(CountEntries("/proc/self/fd"), fdsBefore);
    SetAppDirectoryForTesting("");
}
