#include "AudioSettings.h"
#include "ConverterApp.h"
#include "ConverterDlg.h"
#include "MediaPlayer2.h"
#include "Skin.h"
#include "SystemHelpers.h"
#include "TestSupport.h"
#include "WaitIndicator.h"

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

// Over a program directory of the test's own (so "param.ini" is the test's): the format chooses the
// tag fields, and WMA is refused without its module; tags reach the settings at every keystroke and
// the file when the window goes; Enter and Escape do nothing, and commands need a file.
TEST(MainWindow, FormatTagsKeysAndCommandsBeforeAnyFile) {
    TempDir dir;
    SetAppDirectoryForTesting(dir.Path());
    MessageRecorder messages;
    WriteFileText(dir.File("param.ini"), "[General]\nFormat Index=3\n");
    {
        CConverterDlg dlg;
        dlg.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
        auto enabled = [&] {
            return std::vector<bool>{dlg.m_editArtist.isEnabled(), dlg.m_editYear.isEnabled()};
        };
        EXPECT_EQ(dlg.m_comboFormat.currentText(), "mp3");
        EXPECT_EQ(enabled(), (std::vector<bool>{true, true}));
        dlg.m_comboFormat.setCurrentIndex(FORMAT_OGG);
        EXPECT_EQ(enabled(), (std::vector<bool>{true, false}));
        dlg.m_comboFormat.setCurrentIndex(FORMAT_WMA);
        EXPECT_EQ(
            messages.Texts(),
            std::vector<std::string>{"Sorry,only supports WMA output format in Windows XP or windows 2003 "});
        EXPECT_EQ(dlg.m_comboFormat.currentIndex(), FORMAT_OGG);
        dlg.m_comboFormat.setCurrentIndex(FORMAT_MP3);
        dlg.m_editArtist.clear();
        QTest::keyClicks(&dlg.m_editArtist, "Ab" + QString(40, 'x'));
        EXPECT_EQ(g_settings.m_szArtist.str(), "Ab" + std::string(28, 'x'));
        dlg.m_editYear.clear();
        QTest::keyClicks(&dlg.m_editYear, "19a8-57x9");
        EXPECT_EQ(g_settings.m_szYear.str(), "1985");
        dlg.m_comboGenre.setCurrentIndex(147);
        for (QWidget* focus :
             {static_cast<QWidget*>(&dlg.m_editArtist), static_cast<QWidget*>(&dlg.m_btnExit)}) {
            focus->setFocus();
            for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
                QTest::keyClick(focus, key);
        }
        EXPECT_TRUE(dlg.isVisible());
        dlg.m_btnConvert.click();
        EXPECT_EQ(messages.Texts().back(), "Please open a video or audio file first!");
        EXPECT_EQ(ReadFileText(dir.File("param.ini")), "[General]\nFormat Index=3\n");
        dlg.m_btnExit.click();
        EXPECT_EQ(dlg.result(), IDCANCEL);
    }
    const std::string saved = ReadFileText(dir.File("param.ini"));
    for (const char* line : {"Format Index=0\n", "Year=1985\n", "Genre Index=147\n"})
        EXPECT_NE(saved.find(line), std::string::npos) << saved;
    SetAppDirectoryForTesting("");
}

// A missing component, or one without its registration entry, stops the start before any window and
// before the skin; otherwise the window runs, and the skin is released once, after the settings were
// saved.
TEST(Startup, StopsOnABrokenComponentAndOtherwiseRunsTheWindow) {
    TempDir program;
    SetAppDirectoryForTesting(program.Path());
    CMediaPlayer2::SetAudioOutputForTesting("null");
    MessageRecorder messages;
    const int inits = SkinInitCount(), releases = SkinReleaseCount();
    auto link = [&](const std::string& target, const char* name) {
        unlink(program.File(name).c_str());
        ASSERT_EQ(symlink(target.c_str(), program.File(name).c_str()), 0);
    };
    const std::pair<std::function<void()>, std::string> broken[] = {
        {[] {}, "LoadLibrary:" + program.File("viscomwave.so") + " failed!"},
        {[&] {
             link(QUILLET_BIN_DIR "viscomwave.so", "viscomwave.so");
             link(WMA_NO_ENTRY_DIR "WmAudSDK.so", "VideoEdit.so"); // no DllRegisterServer
         },
         "DllRegisterServer failed!"}};
    for (const auto& [prepare, message] : broken) {
        prepare();
        CConverterApp app;
        EXPECT_EQ(app.InitInstance(), 0);
        EXPECT_EQ(messages.Texts().back(), message);
        app.ExitInstance();
        EXPECT_EQ(SkinInitCount(), inits);
        EXPECT_EQ(SkinReleaseCount(), releases);
    }
    EXPECT_EQ(messages.Count(), 2u);
    EXPECT_FALSE(FileExists(program.File("param.ini"))) << "settings untouched";

    // A program directory of its own: the broken modules stay loaded under their names.
    TempDir working;
    SetAppDirectoryForTesting(working.Path());
    for (const char* c : kRegisteredComponents)
        ASSERT_EQ(symlink((QUILLET_BIN_DIR + std::string(c)).c_str(), working.File(c).c_str()), 0);
    CConverterApp app;
    bool sawWindow = false;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* dlg = qobject_cast<CConverterDlg*>(w); dlg && dlg->isVisible() && (sawWindow = true))
                dlg->m_btnExit.click();
    });
    closer.start(20);
    EXPECT_EQ(app.InitInstance(), 0);
    EXPECT_TRUE(sawWindow);
    EXPECT_EQ(messages.Count(), 2u);
    EXPECT_EQ(SkinInitCount(), inits + 1);
    EXPECT_TRUE(FileExists(working.File("param.ini"))); // saved when the window went
    EXPECT_EQ(SkinReleaseCount(), releases);
    app.ExitInstance();
    EXPECT_EQ(SkinReleaseCount(), releases + 1);
    SetAppDirectoryForTesting("");
}

// One window at a time, that only the program closes, and stopping twice is harmless.
TEST(WaitIndicator, OneWindowThatOnlyTheProgramCloses) {
    StartWaitIndicator("first");
    StartWaitIndicator("Opening the source file, please waiting");
    CWaitDlg* dlg = GetWaitIndicator();
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape})
        QTest::keyClick(dlg, key);
    EXPECT_FALSE(dlg->close());
    QCoreApplication::processEvents();
    EXPECT_TRUE(GetWaitIndicator() == dlg && dlg->isVisible());
    const QWidgetList windows = QApplication::topLevelWidgets();
    EXPECT_EQ(
        std::count_if(windows.begin(), windows.end(), [](QWidget* w) { return qobject_cast<CWaitDlg*>(w); }),
        1);
    StopWaitIndicator();
    StopWaitIndicator();
    EXPECT_EQ(GetWaitIndicator(), nullptr);
}
