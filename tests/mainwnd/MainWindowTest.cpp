#include "AudioSettings.h"
#include "ConverterDlg.h"
#include "FileDialogEx.h"
#include "SystemHelpers.h"
#include "TestSupport.h"

#include <QKeyEvent>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// A window over a program directory of the test's own (so "param.ini" is the test's).
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override { SetAppDirectoryForTesting(dir.Path()); }
    void TearDown() override { SetAppDirectoryForTesting(""); }
    void WithWma() { WriteFileText(dir.File("WmAudSDK.so"), ""); }

    TempDir dir;
    MessageRecorder messages;
};

} // namespace

TEST_F(MainWindowTest, FormatChoosesTheTagFields) {
    WithWma();
    CConverterDlg dlg;
    auto enabled = [&] {
        return std::vector<bool>{dlg.m_editArtist.isEnabled(), dlg.m_editAlbum.isEnabled(),
                                 dlg.m_editYear.isEnabled(), dlg.m_comboGenre.isEnabled()};
    };
    EXPECT_EQ(dlg.m_comboFormat.currentText(), "mp3");
    EXPECT_EQ(enabled(), (std::vector<bool>{true, true, true, true}));
    dlg.m_comboFormat.setCurrentIndex(FORMAT_OGG);
    EXPECT_EQ(enabled(), (std::vector<bool>{true, true, false, false}));
    EXPECT_EQ(g_settings.m_nFormatIndex, FORMAT_OGG);
    dlg.m_comboFormat.setCurrentIndex(FORMAT_WAV);
    EXPECT_EQ(enabled(), (std::vector<bool>{false, false, false, false}));
    dlg.m_comboFormat.setCurrentIndex(FORMAT_WMA);
    EXPECT_EQ(enabled(), (std::vector<bool>{false, false, false, false}));
    EXPECT_EQ(messages.Count(), 0u);
}

TEST_F(MainWindowTest, WmaRefusedWhereItCannotBeWritten) {
    WriteFileText(dir.File("param.ini"), "[General]\nFormat Index=3\n");
    {
        CConverterDlg dlg;
        EXPECT_EQ(dlg.m_comboFormat.currentText(), "mp3");
        dlg.m_comboFormat.setCurrentIndex(FORMAT_OGG);
        dlg.m_comboFormat.setCurrentIndex(FORMAT_WMA);
        EXPECT_EQ(
            messages.Texts(),
            std::vector<std::string>{"Sorry,only supports WMA output format in Windows XP or windows 2003 "});
        EXPECT_EQ(dlg.m_comboFormat.currentIndex(), FORMAT_OGG);
        EXPECT_EQ(g_settings.m_nFormatIndex, FORMAT_OGG);
        dlg.m_comboFormat.setCurrentIndex(FORMAT_MP3);
    }
    EXPECT_NE(ReadFileText(dir.File("param.ini")).find("Format Index=0\n"), std::string::npos);
}

TEST_F(MainWindowTest, TagFieldsReachTheSettingsAtEveryKeystroke) {
    CConverterDlg dlg;
    dlg.show();
    dlg.m_editArtist.clear();
    QTest::keyClicks(&dlg.m_editArtist, "Ab");
    EXPECT_EQ(g_settings.m_szArtist.str(), "Ab");
    QTest::keyClicks(&dlg.m_editArtist, QString(40, 'x'));
    EXPECT_EQ(dlg.m_editArtist.text().size(), 30);
    EXPECT_EQ(g_settings.m_szArtist.str().size(), 30u);
    dlg.m_editYear.clear();
    QTest::keyClicks(&dlg.m_editYear, "19a8-57x9");
    EXPECT_EQ(dlg.m_editYear.text(), "1985");
    EXPECT_EQ(g_settings.m_szYear.str(), "1985");
    dlg.m_editAlbum.clear();
    dlg.m_editAlbum.insert("Ünïcödé"); // keyClicks takes ASCII only
    EXPECT_EQ(g_settings.m_szAlbum.str(), "Ünïcödé");
    dlg.m_comboGenre.setCurrentIndex(17);
    EXPECT_EQ(g_settings.m_nGenreIndex, 17);
}

TEST_F(MainWindowTest, GenreListIsTheId3v1List) {
    CConverterDlg dlg;
    ASSERT_EQ(dlg.m_comboGenre.count(), 148);
    EXPECT_EQ(dlg.m_comboGenre.itemText(0), "Blues");
    EXPECT_EQ(dlg.m_comboGenre.itemText(17), "Rock");
    EXPECT_EQ(dlg.m_comboGenre.itemText(80), "Folk");
    EXPECT_EQ(dlg.m_comboGenre.itemText(136), "Christian Gangsta");
    EXPECT_EQ(dlg.m_comboGenre.itemText(140), "Contemporary C");
    EXPECT_EQ(dlg.m_comboGenre.itemText(147), "SynthPop");
}

TEST_F(MainWindowTest, EnterAndEscapeDoNotCloseButExitDoes) {
    CConverterDlg dlg;
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    for (QWidget* focus : {static_cast<QWidget*>(&dlg.m_editArtist), static_cast<QWidget*>(&dlg.m_btnExit)}) {
        focus->setFocus();
        QTest::keyClick(focus, Qt::Key_Return);
        QTest::keyClick(focus, Qt::Key_Enter);
        QTest::keyClick(focus, Qt::Key_Escape);
    }
    EXPECT_TRUE(dlg.isVisible());
    dlg.m_btnExit.click();
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), IDCANCEL);
}

TEST_F(MainWindowTest, SettingsAreSavedWhenTheWindowGoes) {
    {
        CConverterDlg dlg;
        dlg.m_editArtist.setText("Saved Artist");
        EXPECT_FALSE(FileExists(dir.File("param.ini")));
    }
    EXPECT_NE(ReadFileText(dir.File("param.ini")).find("Artist=Saved Artist\n"), std::string::npos);
}

TEST_F(MainWindowTest, CommandsBeforeAnyFile) {
    CConverterDlg dlg;
    dlg.m_btnConvert.click();
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Please open a video or audio file first!"});
    dlg.m_btnStartTime.click();
    dlg.m_btnEndTime.click();
    EXPECT_EQ(dlg.m_dStartTime, 0);
    EXPECT_EQ(dlg.m_dEndTime, 0);
    EXPECT_EQ(dlg.m_labelMarked.text(), " Marked Time:00:00:00.0");

    // Cancelling the file dialog changes nothing.
    auto previous =
        CFileDialogEx::SetTestChooser([](const CFileDialogEx&) { return std::optional<QString>(); });
    dlg.m_btnOpen.click();
    CFileDialogEx::SetTestChooser(previous);
    EXPECT_TRUE(dlg.m_strSourcePath.empty());
}
