#include "ConverterApp.h"
#include "ConverterDlg.h"
#include "MediaPlayer2.h"
#include "Skin.h"
#include "SystemHelpers.h"
#include "TestSupport.h"

#include <QApplication>
#include <QTimer>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetAppDirectoryForTesting(program.Path());
        CMediaPlayer2::SetAudioOutputForTesting("null");
    }
    void TearDown() override { SetAppDirectoryForTesting(""); }

    void Link(const std::string& target, const char* name) {
        ASSERT_EQ(symlink(target.c_str(), program.File(name).c_str()), 0);
    }
    void LinkAllComponents() {
        for (const char* c : kRegisteredComponents)
            Link(std::string(QUILLET_BIN_DIR) + c, c);
    }
    static int WindowCount() {
        int n = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            n += qobject_cast<CConverterDlg*>(w) != nullptr;
        return n;
    }

    TempDir program;
    MessageRecorder messages;
};

} // namespace

TEST_F(StartupTest, MissingComponentStopsBeforeAnyWindow) {
    CConverterApp app;
    const int inits = SkinInitCount();
    EXPECT_EQ(app.InitInstance(), 0);
    EXPECT_EQ(messages.Texts(),
              std::vector<std::string>{"LoadLibrary:" + program.File("viscomwave.so") + " failed!"});
    EXPECT_EQ(app.ExitInstance(), 0);
    EXPECT_EQ(SkinInitCount(), inits);
    EXPECT_EQ(app.m_bSkinLoaded, 0);
    EXPECT_EQ(WindowCount(), 0);
    EXPECT_FALSE(FileExists(program.File("param.ini"))); // settings untouched
}

TEST_F(StartupTest, ComponentWithoutRegistrationEntryStopsTheStart) {
    Link(std::string(QUILLET_BIN_DIR) + "viscomwave.so", "viscomwave.so");
    // A shared object without DllRegisterServer in the place of the extraction module.
    Link(std::string(WMA_NO_ENTRY_DIR) + "WmAudSDK.so", "VideoEdit.so");
    CConverterApp app;
    EXPECT_EQ(app.InitInstance(), 0);
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"DllRegisterServer failed!"});
    app.ExitInstance();
    EXPECT_EQ(app.m_bSkinLoaded, 0);
}

TEST_F(StartupTest, NormalRunShowsTheWindowAndReleasesTheSkinOnceAfterSaving) {
    LinkAllComponents();
    CConverterApp app;
    const int inits = SkinInitCount(), releases = SkinReleaseCount();
    bool sawWindow = false;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* dlg = qobject_cast<CConverterDlg*>(w); dlg && dlg->isVisible()) {
                sawWindow = true;
                dlg->m_btnExit.click();
            }
        }
    });
    closer.start(20);
    EXPECT_EQ(app.InitInstance(), 0);
    closer.stop();
    EXPECT_TRUE(sawWindow);
    EXPECT_EQ(messages.Count(), 0u);
    EXPECT_EQ(SkinInitCount(), inits + 1);
    EXPECT_TRUE(FileExists(program.File("param.ini"))); // saved when the window went
    EXPECT_EQ(SkinReleaseCount(), releases);
    app.ExitInstance();
    EXPECT_EQ(SkinReleaseCount(), releases + 1);
}
