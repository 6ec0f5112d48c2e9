#include "ProcessingDlg.h"
#include "AudioSettings.h"
#include "SystemHelpers.h"
#include "TestMedia.h"
#include "TestSupport.h"

#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

// Cancel asks first: No lets the job go on to its end; Yes (by the button or Escape) ends it at once.
// Enter does nothing.
TEST(ProcessingDlg, CancelAsksAndOnlyYesEndsTheJob) {
    SetAppDirectoryForTesting(QUILLET_BIN_DIR);
    TempDir dir;
    g_settings.LoadFrom(dir.File("none.ini"));
    const std::string source = dir.File("src.wav");
    ASSERT_TRUE(MakeTestSource(source, 6.0));
    MessageRecorder messages;
    for (const int answer : {IDNO, IDYES}) {
        g_settings.m_nFormatIndex = answer == IDNO ? FORMAT_MP3 : FORMAT_OGG;
        CProcessingDlg dlg;
        dlg.m_strSourcePath = source;
        dlg.m_dEndTime = 6;
        dlg.m_strOutputPath = dir.File("src_OUTPUT" + std::to_string(answer));
        dlg.m_tempWav = CTempWavFile::Reserve(dir.Path());
        dlg.m_strTempWavPath = dlg.m_tempWav->Path();
        messages.QueueAnswer(IDNO);
        messages.QueueAnswer(answer);
        QString caption;
        QTimer::singleShot(0, &dlg, [&] {
            caption = dlg.findChild<QLabel*>("1046")->text();
            QTest::keyClick(&dlg, Qt::Key_Return);
            QTest::keyClick(&dlg, Qt::Key_Escape); // answered No
            dlg.findChild<QPushButton*>("2")->click();
        });
        EXPECT_EQ(dlg.exec(), answer == IDNO ? IDOK : IDCANCEL);
        EXPECT_FALSE(dlg.IsFailed());
        EXPECT_EQ(messages.Texts(), std::vector<std::string>(2 * (answer == IDNO ? 1 : 2), "Are you sure? "));
        EXPECT_EQ(caption.toStdString(),
                  (answer == IDNO ? "Convert to Mp3 : " : "Convert to Ogg : ") + dlg.m_strOutputPath);
        if (answer == IDNO) {
            EXPECT_EQ(dlg.findChild<QLabel*>("1047")->text(), "[Step 2] - Convert Wav audio to mp3 file");
            EXPECT_TRUE(QRegularExpression("^Time Elapsed:\\d\\d:\\d\\d:\\d\\d\\.\\d$")
                            .match(dlg.findChild<QLabel*>("1024")->text())
                            .hasMatch());
            EXPECT_EQ(DecodeWithFfmpeg(dlg.m_strOutputPath).frames, 6 * 44100);
        }
    }
    WaitForEncoderThreads();
    SetAppDirectoryForTesting("");
}
