#include "ProcessingDlg.h"
#include "AudioSettings.h"
#include "SystemHelpers.h"
#include "TestMedia.h"
#include "TestSupport.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

class ProcessingDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetAppDirectoryForTesting(QUILLET_BIN_DIR);
        g_settings.LoadFrom(dir.File("none.ini"));
        source = dir.File("src.wav");
        ASSERT_TRUE(MakeTestSource(source, 6.0));
    }
    void TearDown() override {
        WaitForEncoderThreads();
        SetAppDirectoryForTesting("");
    }

    // Runs the dialog for an MP3 job; `whileShown` runs once the dialog's loop is running.
    int RunDialog(CProcessingDlg& dlg, const std::function<void()>& whileShown) {
        dlg.m_strSourcePath = source;
        dlg.m_dStartTime = 0;
        dlg.m_dEndTime = 6;
        dlg.m_strOutputPath = dir.File("src_OUTPUT.mp3");
        dlg.m_tempWav = CTempWavFile::Reserve(dir.Path());
        dlg.m_strTempWavPath = dlg.m_tempWav->Path();
        QTimer::singleShot(0, &dlg, whileShown);
        return dlg.exec();
    }

    TempDir dir;
    std::string source;
    MessageRecorder messages;
};

} // namespace

TEST_F(ProcessingDlgTest, CancelAnsweredNoLetsTheJobFinish) {
    g_settings.m_nFormatIndex = FORMAT_MP3;
    CProcessingDlg dlg;
    QString caption;
    messages.QueueAnswer(IDNO);
    const int result = RunDialog(dlg, [&] {
        caption = dlg.findChild<QLabel*>("1046")->text();
        dlg.findChild<QPushButton*>("2")->click();
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_FALSE(dlg.IsFailed());
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Are you sure? "});
    EXPECT_EQ(caption.toStdString(), "Convert to Mp3 : " + dir.File("src_OUTPUT.mp3"));
    EXPECT_EQ(dlg.windowTitle(), "Processing");
    EXPECT_EQ(dlg.findChild<QLabel*>("1047")->text(), "[Step 2] - Convert Wav audio to mp3 file");
    EXPECT_TRUE(dlg.findChild<QLabel*>("1024")->text().startsWith("Time Elapsed:00:00:0"));
    EXPECT_EQ(DecodedFrames(dir.File("src_OUTPUT.mp3")), 6 * 44100);
}

TEST_F(ProcessingDlgTest, ConfirmedCancelAndEscapeEndTheJob) {
    g_settings.m_nFormatIndex = FORMAT_OGG;
    CProcessingDlg dlg;
    messages.QueueAnswer(IDNO);
    messages.QueueAnswer(IDYES);
    const int result = RunDialog(dlg, [&] {
        QTest::keyClick(&dlg, Qt::Key_Return); // Enter does nothing
        QTest::keyClick(&dlg, Qt::Key_Escape); // asks, answered No
        dlg.findChild<QPushButton*>("2")->click();
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_FALSE(dlg.IsFailed());
    EXPECT_EQ(messages.Count(), 2u);
}
