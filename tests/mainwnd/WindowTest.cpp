#include "AudioSettings.h"
#include "ConverterApp.h"
#include "ConverterDlg.h"
#include "MediaPlayer2.h"
#include "Skin.h"
#include "SystemHelpers.h"
#include "TestSupport.h"
#include "WaitIndicator.h"

#include <QAccessible>
#include <QApplication>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <set>
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
        EXPECT_EQ(messages.Texts(), std::vector<std::string>{
                                        "Sorry, WMA output is not available: the WMA module " +
                                        dir.File("WmAudSDK.so") + " is missing.\nPlease reinstall Quillet."});
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
    // Each says which file is at fault and what to do.
    const std::pair<std::function<void()>, std::string> broken[] = {
        {[] {}, "The component " + program.File("viscomwave.so") + " could not be loaded: "},
        {[&] {
             link(QUILLET_BIN_DIR "viscomwave.so", "viscomwave.so");
             link(WMA_NO_ENTRY_DIR "WmAudSDK.so", "VideoEdit.so"); // no DllRegisterServer
         },
         "The component " + program.File("VideoEdit.so") +
             " is not one of Quillet's (it has no DllRegisterServer).\nPlease reinstall Quillet."}};
    for (const auto& [prepare, message] : broken) {
        prepare();
        CConverterApp app;
        EXPECT_EQ(app.InitInstance(), 0);
        EXPECT_TRUE(messages.Texts().back().starts_with(message)) << messages.Texts().back();
        EXPECT_TRUE(messages.Texts().back().ends_with("Please reinstall Quillet."))
            << messages.Texts().back();
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
    StartWaitIndicator("Opening the source file, please wait");
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

// Tab walks every control of the window in reading order, each with a name and a role a screen reader can
// say (no unnamed "filler"); the drawn slider reads its value as a time; a focused button is pressed with
// Enter and Space, not with the window's keys for them.
TEST(MainWindow, TabWalksEveryControlInReadingOrderWithNamesAndRoles) {
    TempDir dir;
    SetAppDirectoryForTesting(dir.Path());
    MessageRecorder messages;
    CConverterDlg dlg;
    dlg.show();
    dlg.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    dlg.m_btnOpen.setFocus(Qt::TabFocusReason);
    std::vector<std::string> walked;
    std::set<QWidget*> seen;
    for (QWidget* w = &dlg.m_btnOpen; seen.insert(w).second; w = QApplication::focusWidget()) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        ASSERT_TRUE(a);
        // A field is known by its label (on Linux a list's name is its chosen item).
        const auto labels = a->relations(QAccessible::Label);
        const QString name = (labels.isEmpty() ? a : labels.front().first)->text(QAccessible::Name);
        EXPECT_FALSE(name.trimmed().isEmpty()) << w->objectName().toStdString();
        EXPECT_NE(a->role(), QAccessible::Client) << name.toStdString();
        walked.push_back(name.section(':', 0, 0).trimmed().toStdString() + "/" + std::to_string(a->role()));
        QTest::keyClick(w, Qt::Key_Tab);
    }
    using A = QAccessible;
    auto r = [](const char* name, A::Role role) { return std::string(name) + "/" + std::to_string(role); };
    const std::vector<std::string> expected = {
        r("Open", A::Button),           r("Convert", A::Button),        r("Setting", A::Button),
        r("About", A::Button),          r("Homepage", A::Button),       r("Help", A::Button),
        r("Exit", A::Button),           r("Preview", A::Graphic),       r("Waveform", A::Slider),
        r("Position", A::Slider),       r("Play", A::Button),           r("Pause", A::Button),
        r("Start Time", A::Button),     r("End Time", A::Button),       r("Clear", A::Button),
        r("Play Selection", A::Button), r("Audio Format", A::ComboBox), r("Artist", A::EditableText),
        r("Album", A::EditableText),    r("Year", A::EditableText),     r("Genre", A::ComboBox),
        r("00", A::StaticText),         r("Start Time", A::StaticText), r("End Time", A::StaticText),
        r("Marked Time", A::StaticText)};
    EXPECT_EQ(walked, expected);
    // Nothing that takes the focus is left out of the walk (a control added later must find its place).
    for (QWidget* w : dlg.findChildren<QWidget*>())
        EXPECT_TRUE(!w->isVisibleTo(&dlg) || !(w->focusPolicy() & Qt::TabFocus) || seen.count(w))
            << w->metaObject()->className() << " " << w->objectName().toStdString();
    QAccessibleValueInterface* slider =
        QAccessible::queryAccessibleInterface(&dlg.m_slider)->valueInterface();
    ASSERT_TRUE(slider);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&dlg.m_slider)->text(QAccessible::Value), "00:00:00.0");
    EXPECT_EQ(slider->maximumValue().toDouble(), 10.0); // 100 positions of a tenth

    dlg.m_btnConvert.setFocus(Qt::TabFocusReason);
    QTest::keyClick(&dlg.m_btnConvert, Qt::Key_Return);
    QTest::keyClick(&dlg.m_btnConvert, Qt::Key_Space);
    EXPECT_TRUE(WaitFor([&] { return messages.Count() == 2; }));
    EXPECT_EQ(messages.Texts().back(), "Please open a video or audio file first!");
    SetAppDirectoryForTesting("");
}

// The window comes back as it was left: place, size and maximised state, in a section of their own;
// a place on a screen that is no longer there brings it back on the screen. The title names no file.
TEST(MainWindow, ComesBackWhereItWasAndNamesNoFileInItsTitle) {
    TempDir dir;
    SetAppDirectoryForTesting(dir.Path());
    // The recent files come back too, each once and only by its full path.
    WriteFileText(dir.File("param.ini"),
                  "[Window]\nLeft=40\nTop=30\nWidth=700\nHeight=520\nMaximized=0\n"
                  "[Recent Files]\nFile1=/a.mkv\nFile2=b.mkv\nFile3=/a.mkv\nFile4=/c.mp3\n");
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    {
        CConverterDlg dlg;
        EXPECT_EQ(dlg.geometry(), QRect(40, 30, 700, 520));
        EXPECT_EQ(dlg.windowTitle(), "Quillet");
        dlg.setGeometry(60, 50, 720, 530);
        dlg.showMaximized();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
        EXPECT_TRUE(WaitFor([&] { return dlg.isMaximized(); }));
    }
    const std::string saved = ReadFileText(dir.File("param.ini"));
    EXPECT_NE(saved.find("[Window]\nLeft=60\nTop=50\nWidth=720\nHeight=530\nMaximized=1\n"),
              std::string::npos)
        << saved;
    EXPECT_NE(saved.find("[Recent Files]\nFile1=/a.mkv\nFile2=/c.mp3\n["), std::string::npos) << saved;
    {
        CConverterDlg dlg;
        EXPECT_EQ(dlg.windowState() & Qt::WindowMaximized, Qt::WindowMaximized);
    }
    WriteFileText(dir.File("param.ini"), "[Window]\nLeft=-9000\nTop=8000\nWidth=20\nHeight=99999\n");
    CConverterDlg lost;
    EXPECT_TRUE(screen.contains(lost.geometry())) << lost.x() << "," << lost.y();
    EXPECT_GE(lost.width(), lost.minimumWidth());
    SetAppDirectoryForTesting("");
}
