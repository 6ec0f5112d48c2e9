#include "QuilletResources.h"

#include "ImageButton.h"

#include <QFile>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <gtest/gtest.h>

namespace {

// Share of pixels that are not transparent in the icon drawn at a size.
double Coverage(const QString& path, int size) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    QIcon(path).paint(&p, image.rect());
    p.end();
    int opaque = 0;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            opaque += qAlpha(image.pixel(x, y)) > 128;
    return double(opaque) / (size * size);
}

TEST(Resources, EveryIconIsThereAndDrawsAtItsDesignSize) {
    InitQuilletResources();
    InitQuilletResources(); // harmless twice
    const struct {
        int id;
        int size;
    } icons[] = {{IDR_MAINFRAME, 64}, {IDI_OPEN, 32},     {IDI_CONVERT, 32}, {IDI_ABOUT, 32}, {IDI_HELP, 32},
                 {IDI_EXIT, 32},      {IDI_HOMEPAGE, 32}, {IDI_SETTING, 32}, {IDI_BROWSE, 16}};
    for (const auto& icon : icons) {
        const QString path = IconResourcePath(icon.id);
        ASSERT_FALSE(path.isEmpty()) << icon.id;
        EXPECT_EQ(QImageReader(path).size(), QSize(icon.size, icon.size)) << icon.id;
        // Drawn, but not a filled square: between a fifth and nine tenths of the square is covered.
        const double coverage = Coverage(path, icon.size);
        EXPECT_GT(coverage, 0.2) << icon.id;
        EXPECT_LT(coverage, 0.95) << icon.id;
        CImageButton button;
        EXPECT_EQ(button.SetIcon(icon.id), CImageButton::IMGBTN_OK) << icon.id;
        EXPECT_EQ(button.GetIconSize(), QSize(icon.size, icon.size)) << icon.id;
    }
    EXPECT_TRUE(IconResourcePath(999).isEmpty());
}

TEST(Resources, TheNoVideoPictureIsOpaqueAndOfItsSize) {
    InitQuilletResources();
    const QString path = BitmapResourcePath(IDB_PICTURE);
    ASSERT_FALSE(path.isEmpty());
    const QImage picture(path);
    ASSERT_EQ(picture.size(), QSize(kPictureWidth, kPictureHeight));
    EXPECT_FALSE(picture.hasAlphaChannel());
    // Not one flat colour: the corners differ (a gradient) and the middle holds the drawing.
    EXPECT_NE(picture.pixel(0, 0), picture.pixel(kPictureWidth - 1, kPictureHeight - 1));
    EXPECT_TRUE(BitmapResourcePath(149).isEmpty());
}

TEST(Resources, TheSkinIsAResourceOfItsType) {
    InitQuilletResources();
    QFile skin(QStringLiteral(":/skin/RT_SKINMAGIC/%1.qss").arg(IDR_SKIN));
    ASSERT_TRUE(skin.open(QIODevice::ReadOnly));
    EXPECT_TRUE(skin.readAll().contains("@section Dialog"));
    EXPECT_TRUE(QFile::exists(":/skin/arrow-down.svg"));
}

} // namespace
