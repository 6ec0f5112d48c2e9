#include "Skin.h"

#include "DrawnSliderCtrl.h"
#include "HyperlinkLabel.h"
#include "ImageButton.h"
#include "PercentProgressCtrl.h"
#include "QuilletResources.h"

#include <QDialog>
#include <QImageReader>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

QStringList g_warnings;

QImage Shot(QWidget* w) {
    return w->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

} // namespace

// The skin parses without a warning from Qt, reaches plain controls and leaves the self-drawn ones
// alone; released, it gives every window its own look back.
TEST(Skin, StylesPlainControlsOnlyAndIsReleasedOnce) {
    InitQuilletResources();
    const int releases = SkinReleaseCount();
    ASSERT_TRUE(InitSkinMagicLib());
    ASSERT_TRUE(LoadSkinFromResource(IDR_SKIN, "RT_SKINMAGIC"));
    EXPECT_FALSE(LoadSkinFromResource(130, "RT_SKINMAGIC"));
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& msg) {
            if (type != QtDebugMsg && type != QtInfoMsg && !msg.startsWith("This plugin does not support"))
                g_warnings << msg;
        });
    QDialog bare, skinned;
    for (QDialog* d : {&bare, &skinned}) {
        new QPushButton("Plain", d);
        new CImageButton("Open", d);
        new CHyperlinkLabel("Visit", d);
        new CDrawnSliderCtrl(d);
        new CPercentProgressCtrl(d);
        int y = 0;
        for (QWidget* w : d->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            w->setGeometry(10, y += 40, 200, 36);
    }
    ASSERT_TRUE(SetWindowSkin(&skinned, "Dialog"));
    for (QWidget* d : {static_cast<QWidget*>(&bare), static_cast<QWidget*>(&skinned)}) {
        d->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(d));
    }
    const auto a = bare.findChildren<QWidget*>(Qt::FindDirectChildrenOnly),
               b = skinned.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    EXPECT_NE(Shot(a[0]), Shot(b[0])) << "the skin did not reach a plain button";
    for (int i = 1; i < a.size(); ++i)
        EXPECT_EQ(Shot(a[i]), Shot(b[i])) << a[i]->metaObject()->className() << " was drawn by the skin";
    qInstallMessageHandler(previous);
    EXPECT_TRUE(g_warnings.isEmpty()) << g_warnings.join("\n").toStdString();
    ExitSkinMagicLib();
    EXPECT_TRUE(skinned.styleSheet().isEmpty());
    EXPECT_EQ(SkinReleaseCount(), releases + 1);
}

TEST(Skin, EveryIconAndThePictureAreThereAtTheirDesignSize) {
    InitQuilletResources();
    for (const auto& [id, size] : {std::pair{IDR_MAINFRAME, 64},
                                   {IDI_OPEN, 32},
                                   {IDI_CONVERT, 32},
                                   {IDI_ABOUT, 32},
                                   {IDI_HELP, 32},
                                   {IDI_EXIT, 32},
                                   {IDI_HOMEPAGE, 32},
                                   {IDI_SETTING, 32},
                                   {IDI_BROWSE, 16}})
        EXPECT_EQ(QImageReader(IconResourcePath(id)).size(), QSize(size, size)) << id;
    EXPECT_EQ(QImage(BitmapResourcePath(IDB_PICTURE)).size(), QSize(kPictureWidth, kPictureHeight));
}
