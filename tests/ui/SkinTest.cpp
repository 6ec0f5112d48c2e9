#include "Skin.h"

#include "DrawnSliderCtrl.h"
#include "HyperlinkLabel.h"
#include "ImageButton.h"
#include "PercentProgressCtrl.h"
#include "QuilletResources.h"

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// Collects Qt's warnings (a style sheet it cannot parse is reported as one), except the offscreen
// platform's notes on what it cannot do.
struct WarningRecorder {
    static inline QStringList warnings;
    QtMessageHandler previous;
    WarningRecorder() {
        warnings.clear();
        previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& msg) {
            if (type != QtDebugMsg && type != QtInfoMsg && !msg.startsWith("This plugin does not support"))
                warnings << msg;
        });
    }
    ~WarningRecorder() { qInstallMessageHandler(previous); }
};

class SkinTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(InitSkinMagicLib());
        ASSERT_TRUE(LoadSkinFromResource(IDR_SKIN, "RT_SKINMAGIC"));
    }
    void TearDown() override { ExitSkinMagicLib(); }
};

// A window with one plain button and one of each control that draws itself.
struct Window {
    QDialog dialog;
    QPushButton* plain = new QPushButton("Plain", &dialog);
    QLabel* readout = new QLabel(" Start Time: 00:00:00.0", &dialog);
    CImageButton* image = new CImageButton("Open", &dialog);
    CHyperlinkLabel* link = new CHyperlinkLabel("Visit Quillet homepage", &dialog);
    CDrawnSliderCtrl* slider = new CDrawnSliderCtrl(&dialog);
    CPercentProgressCtrl* progress = new CPercentProgressCtrl(&dialog);

    Window() {
        InitQuilletResources();
        dialog.resize(420, 260);
        plain->setGeometry(10, 10, 90, 28);
        readout->setGeometry(10, 50, 180, 20);
        readout->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        image->setGeometry(200, 10, 70, 70);
        image->SetIcon(IDI_OPEN);
        image->SetAlign(CImageButton::ALIGN_ICON_ABOVE);
        link->move(10, 90);
        slider->setGeometry(10, 130, 300, 40);
        slider->SetRange(0, 100);
        slider->SetSelection(20, 60);
        progress->setGeometry(10, 190, 300, 20);
        progress->SetRange(0, 100);
    }
    QList<QWidget*> SelfDrawn() const { return {image, link, slider, progress}; }
    void Show() {
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        progress->SetPos(40); // the bar takes a position once it has a window
    }
};

QImage Shot(QWidget* w) {
    return w->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

TEST(SkinLifetime, InitialisedAndReleasedOncePerCall) {
    const int inits = SkinInitCount(), releases = SkinReleaseCount();
    EXPECT_FALSE(IsSkinInitialised());
    EXPECT_FALSE(LoadSkinFromResource(IDR_SKIN, "RT_SKINMAGIC")) << "loading needs the library initialised";
    ASSERT_TRUE(InitSkinMagicLib());
    EXPECT_TRUE(IsSkinInitialised());
    EXPECT_TRUE(LoadSkinFromResource(IDR_SKIN, "RT_SKINMAGIC"));
    ExitSkinMagicLib();
    EXPECT_FALSE(IsSkinInitialised());
    EXPECT_EQ(SkinInitCount(), inits + 1);
    EXPECT_EQ(SkinReleaseCount(), releases + 1);
    EXPECT_TRUE(SkinSectionText("Dialog").isEmpty()) << "a released library holds no skin";

    // Exemptions work without any skin.
    QPushButton button;
    EXPECT_FALSE(IsSkinExempt(&button));
    ExemptFromSkin(&button);
    EXPECT_TRUE(IsSkinExempt(&button));
    ExemptFromSkin(nullptr);
    EXPECT_FALSE(IsSkinExempt(nullptr));
}

TEST_F(SkinTest, TheSkinResourceHasADialogSectionThatQtParses) {
    EXPECT_FALSE(LoadSkinFromResource(IDR_SKIN, "RT_OTHER"));
    EXPECT_FALSE(LoadSkinFromResource(130, "RT_SKINMAGIC"));
    const QString sheet = SkinSectionText("Dialog");
    EXPECT_TRUE(sheet.contains("QTabBar::tab"));
    EXPECT_FALSE(sheet.contains("@section"));
    EXPECT_TRUE(SkinSectionText("Window").isEmpty());

    WarningRecorder warnings;
    Window w;
    ASSERT_TRUE(SetWindowSkin(&w.dialog, "Dialog"));
    auto* combo = new QComboBox(&w.dialog);
    combo->addItems({"mp3", "wav"});
    w.Show();
    combo->showPopup();
    combo->hidePopup();
    EXPECT_TRUE(warnings.warnings.isEmpty()) << warnings.warnings.join("\n").toStdString();
}

TEST_F(SkinTest, AWindowSectionStylesPlainControlsAndLeavesSelfDrawnOnesAlone) {
    Window bare;
    bare.Show();
    Window skinned;
    EXPECT_FALSE(SetWindowSkin(&skinned.dialog, "NoSuchSection"));
    ASSERT_TRUE(SetWindowSkin(&skinned.dialog, "Dialog"));
    for (QWidget* control : skinned.SelfDrawn())
        ExemptFromSkin(control);
    skinned.Show();
    EXPECT_EQ(skinned.dialog.styleSheet(), SkinSectionText("Dialog"));

    EXPECT_NE(Shot(skinned.plain), Shot(bare.plain)) << "the skin did not reach a plain button";
    EXPECT_NE(Shot(skinned.readout), Shot(bare.readout)) << "the skin did not reach a sunken read-out";
    const QList<QWidget*> a = skinned.SelfDrawn(), b = bare.SelfDrawn();
    for (int i = 0; i < a.size(); ++i) {
        EXPECT_TRUE(IsSkinExempt(a[i]));
        EXPECT_EQ(Shot(a[i]), Shot(b[i])) << a[i]->metaObject()->className() << " was drawn by the skin";
    }
}

TEST_F(SkinTest, DialogsShownAfterChoosingTheDialogSectionAreSkinned) {
    EXPECT_FALSE(SetDialogSkin("NoSuchSection"));
    ASSERT_TRUE(SetDialogSkin("Dialog"));
    const QString sheet = SkinSectionText("Dialog");

    QDialog plain;
    plain.show();
    EXPECT_EQ(plain.styleSheet(), sheet);

    QDialog ownLook;
    ownLook.setStyleSheet("QDialog { background: black; }");
    ownLook.show();
    EXPECT_EQ(ownLook.styleSheet(), "QDialog { background: black; }");

    QWidget notADialog;
    notADialog.show();
    EXPECT_TRUE(notADialog.styleSheet().isEmpty());

    QDialog parent;
    QDialog child(&parent); // a dialog window owned by another window is a window too
    child.show();
    EXPECT_EQ(child.styleSheet(), sheet);
}

TEST_F(SkinTest, ReleasingGivesTheWindowsTheirOwnLookBack) {
    ASSERT_TRUE(SetDialogSkin("Dialog"));
    QDialog main;
    ASSERT_TRUE(SetWindowSkin(&main, "Dialog"));
    QDialog restyled;
    restyled.show();
    restyled.setStyleSheet("QDialog { color: red; }");
    ExitSkinMagicLib();
    EXPECT_TRUE(main.styleSheet().isEmpty());
    EXPECT_EQ(restyled.styleSheet(), "QDialog { color: red; }");
    QDialog later;
    later.show();
    EXPECT_TRUE(later.styleSheet().isEmpty()) << "no dialog is skinned after the release";
    EXPECT_FALSE(SetWindowSkin(&later, "Dialog"));
}

} // namespace
