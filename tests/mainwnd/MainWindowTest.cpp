#include "AudioSettings.h"
#include "ConverterDlg.h"
#include "FileDialogEx.h"
#include "SystemHelpers.h"
#include "TestSupport.h"

#include <QTest>
#include <gtest/gtest.h>

namespace {

// A window over a program directory of the test's own (so "param.ini" is the test's).
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override { SetAppDirectoryForTesting(dir.Path()); }
    void TearDown() override { SetAppDirectoryForTesting(""); }

    TempDir dir;
    MessageRecorder messages;
};

} // namespace

TEST_F(MainWindowTest, FormatChoosesTheTagFieldsAndWmaIsRefusedWhereItCannotBeWritten) {
    WriteFileText(dir.File("param.ini"), "[General]\nFormat Index=3\n");
    {
        CConverterDlg dlg;
        auto enabled = [&] {
            return std::vector<bool>{dlg.m_editArtist.isEnabled(), dlg.m_editAlbum.isEnabled(),
                                     dlg.m_editYear.isEnabled(), dlg.m_comboGenre.isEnabled()};
        };
        EXPECT_EQ(dlg.m_comboFormat.currentText(), "mp3");
        EXPECT_EQ(enabled(), (std::vector<bool>{true, true, true, true}));
        dlg.m_comboFormat.setCurrentIndex(FORMAT_OGG);
        EXPECT_EQ(enabled(), (std::vector<bool>{true, true, false, false}));
        dlg.m_comboFormat.setCurrentIndex(FORMAT_WMA);
        EXPECT_EQ(
            messages.Texts(),
            std::vector<std::string>{"Sorry,only supports WMA output format in Windows XP or windows 2003 "});
        EXPECT_EQ(dlg.m_comboFormat.currentIndex(), FORMAT_OGG);
        EXPECT_EQ(g_settings.m_nFormatIndex, FORMAT_OGG);
        dlg.m_comboFormat.setCurrentIndex(FORMAT_WAV);
        EXPECT_EQ(enabled(), (std::vector<bool>(4, false)));
    }
    EXPECT_NE(ReadFileText(dir.File("param.ini")).find("Format Index=1\n"), std::string::npos);
}

TEST_F(MainWindowTest, TagFieldsReachTheSettingsAtEveryKeystrokeAndTheFileWhenTheWindowGoes) {
    {
        CConverterDlg dlg;
        dlg.show();
        dlg.m_editArtist.clear();
        QTest::keyClicks(&dlg.m_editArtist, "Ab");
        EXPECT_EQ(g_settings.m_szArtist.str(), "Ab");
        QTest::keyClicks(&dlg.m_editArtist, QString(40, 'x'));
        EXPECT_EQ(g_settings.m_szArtist.str().size(), 30u);
        dlg.m_editYear.clear();
        QTest::keyClicks(&dlg.m_editYear, "19a8-57x9");
        EXPECT_EQ(g_settings.m_szYear.str(), "1985");
        dlg.m_editAlbum.clear();
        dlg.m_editAlbum.insert("Ünïcödé"); // keyClicks takes ASCII only
        EXPECT_EQ(g_settings.m_szAlbum.str(), "Ünïcödé");
        dlg.m_comboGenre.setCurrentIndex(147);
        EXPECT_EQ(g_settings.m_nGenreIndex, 147);
        EXPECT_FALSE(FileExists(dir.File("param.ini")));
    }
    const std::string saved = ReadFileText(dir.File("param.ini"));
    EXPECT_NE(saved.find("Artist=Ab" + std::string(28, 'x') + "\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("Genre Index=147\n"), std::string::npos) << saved;
}

TEST_F(MainWindowTest, EnterAndEscapeDoNothingAndCommandsNeedAFile) {
    CConverterDlg dlg;
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    for (QWidget* focus : {static_cast<QWidget*>(&dlg.m_editArtist), static_cast<QWidget*>(&dlg.m_btnExit)}) {
        focus->setFocus();
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
            QTest::keyClick(focus, key);
    }
    EXPECT_TRUE(dlg.isVisible());

    dlg.m_btnConvert.click();
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Please open a video or audio file first!"});
    // Cancelling the file dialog changes nothing.
    auto previous =
        CFileDialogEx::SetTestChooser([](const CFileDialogEx&) { return std::optional<QString>(); });
    dlg.m_btnOpen.click();
    CFileDialogEx::SetTestChooser(previous);
    EXPECT_TRUE(dlg.m_strSourcePath.empty());
    dlg.m_btnExit.click();
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), IDCANCEL);
}
