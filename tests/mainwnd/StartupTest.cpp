#include "ConverterApp.h"
#include "ConverterDlg.h"
#include "MediaPlayer2.h"
#include "Skin.h"
#include "SystemHelpers.h"
#include "TestSupport.h"

#include <QApplication>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

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
            if (auto* dlg = qobject_cast<CConverterDlg*>(w); dlg && dlg->isVisible()) {
                sawWindow = true;
                dlg->m_btnExit.click();
            }
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
