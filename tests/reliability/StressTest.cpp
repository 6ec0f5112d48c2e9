// The Processing dialog cancelled or closed at every moment of every format: every run ends, nothing
// is reported as failed, and no thread, file handle or temporary WAV outlives the jobs.

#include "AudioSettings.h"
#include "ProcessingDlg.h"
#include "SystemHelpers.h"
#include "TestMedia.h"
#include "TestSupport.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

TEST(ProcessingStress, CancelAndCloseAtEveryMomentOfEveryFormat) {
    SetAppDirectoryForTesting(QUILLET_BIN_DIR);
    TempDir dir;
    g_settings.LoadFrom(dir.File("none.ini"));
    const std::string source = dir.File("source.wav"), temp = dir.File("tmp/");
    ASSERT_TRUE(MakeTestSource(source, 4.0));
    ASSERT_TRUE(CreateDirectoryPath(temp));
    MessageRecorder messages;

    size_t threadsBefore = 0, filesBefore = 0;
    for (int run = 0; run < 1 + 4 * 3; ++run) { // the first run only warms up what the process keeps
        g_settings.m_nFormatIndex = run % 4;
        const int moment = run / 4 % 3,
                  action = run % 3; // at once, in step 1, in step 2; button, close, Escape
        messages.QueueAnswer(IDYES);
        int result = 0;
        bool failed = false;
        {
            CProcessingDlg dlg;
            dlg.m_strSourcePath = source;
            dlg.m_dEndTime = 4;
            dlg.m_strOutputPath = dir.File("out" + std::to_string(run));
            if (g_settings.m_nFormatIndex != FORMAT_WAV)
                dlg.m_tempWav = CTempWavFile::Reserve(temp);
            dlg.m_strTempWavPath = dlg.m_tempWav ? dlg.m_tempWav->Path() : temp + CTempWavFile::kName;
            QTimer poll;
            QObject::connect(&poll, &QTimer::timeout, [&] {
                const bool step2 = dlg.findChild<QLabel*>("1047")->text().startsWith("[Step 2]");
                if ((moment == 1 && dlg.m_progress.GetPos() <= 0) || (moment == 2 && !step2))
                    return;
                poll.stop();
                if (action == 0)
                    dlg.findChild<QPushButton*>("2")->click();
                else if (action == 1)
                    dlg.close();
                else
                    QTest::keyClick(&dlg, Qt::Key_Escape);
            });
            poll.start(1);
            result = dlg.exec();
            failed = dlg.IsFailed();
            // The dialog goes away here, possibly while a cancelled encoder thread still runs.
        }
        EXPECT_TRUE(result == IDOK || result == IDCANCEL) << "run " << run;
        EXPECT_FALSE(failed) << "run " << run << ": " << (messages.Count() ? messages.Texts().back() : "");
        WaitForEncoderThreads();
        EXPECT_TRUE(FilesIn(temp).empty()) << "run " << run;
        if (run == 0) {
            threadsBefore = ThreadCount();
            filesBefore = OpenFiles().size();
        }
    }
    EXPECT_EQ(ThreadCount(), threadsBefore);
    EXPECT_EQ(OpenFiles().size(), filesBefore);
    SetAppDirectoryForTesting("");
}
