#include "ImageButton.h"

#include "TestSupport.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

const QColor kIconRed(255, 0, 0);
const QColor kParentGreen(0, 160, 0);

// A 32 by 32 red icon with a black 4 by 4 square in its middle.
QIcon TestIcon() {
    QImage img(32, 32, QImage::Format_ARGB32);
    img.fill(kIconRed);
    QPainter(&img).fillRect(14, 14, 4, 4, Qt::black);
    return QIcon(QPixmap::fromImage(img));
}

struct Toolbar {
    QWidget host;
    CImageButton* button;
    CImageButton* next;
    explicit Toolbar(const QString& caption = "Open") {
        host.resize(200, 100);
        QPalette pal = host.palette();
        pal.setColor(QPalette::Window, kParentGreen);
        pal.setColor(QPalette::ButtonText, QColor(0, 0, 255)); // unlike anything in the icon
        host.setPalette(pal);
        host.setAutoFillBackground(true);
        button = new CImageButton(caption, &host);
        button->setGeometry(10, 10, 63, 63);
        next = new CImageButton("Convert", &host);
        next->setGeometry(80, 10, 63, 63);
        button->SetIcon(TestIcon());
        button->SetAlign(CImageButton::ALIGN_ICON_ABOVE);
        button->DrawTransparent(true);
    }
    // The button as it shows on its parent.
    QImage Image() { return host.grab(button->geometry()).toImage().convertToFormat(QImage::Format_RGB32); }
    void Show() {
        host.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    }
};

// As the screen shows it (8 bits a component).
QColor Sys(const QWidget* w, QPalette::ColorRole role) {
    return QColor(w->palette().color(QPalette::Active, role).rgb());
}

} // namespace

TEST(ImageButton, IconAboveCaptionIsCentredThreePixelsFromTheTop) {
    Toolbar t;
    const QImage img = t.Image();
    const int x0 = (63 - 32) / 2;
    EXPECT_EQ(img.pixelColor(x0, 3), kIconRed);
    EXPECT_EQ(img.pixelColor(x0 + 31, 3 + 31), kIconRed);
    EXPECT_EQ(img.pixelColor(x0 + 15, 3 + 15), QColor(Qt::black));
    EXPECT_EQ(img.pixelColor(x0 - 1, 3), kParentGreen);
    EXPECT_EQ(img.pixelColor(x0, 2), kParentGreen);
    EXPECT_EQ(img.pixelColor(x0 + 32, 3), kParentGreen);

    // The caption lies in the space below the icon, centred across the button.
    const QColor ink = Sys(t.button, QPalette::ButtonText);
    EXPECT_EQ(CountColor(img, QRect(0, 0, 63, 35), ink), 0);
    int left = 63, right = -1;
    for (int y = 35; y < 63; ++y)
        for (int x = 0; x < 63; ++x)
            if (img.pixelColor(x, y) != kParentGreen) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
    ASSERT_LT(left, right);
    EXPECT_LE(std::abs(left + right - 62), 2) << left << ".." << right;

    // Transparent, the button shows its parent; an opaque one its button face.
    EXPECT_EQ(img.pixelColor(2, 2), kParentGreen);
    CImageButton opaque("Exit", &t.host);
    opaque.setGeometry(150, 10, 40, 40);
    EXPECT_EQ(t.host.grab(opaque.geometry()).toImage().pixelColor(2, 2), Sys(&opaque, QPalette::Button));
}

TEST(ImageButton, HoverRaisesPressSinksAndShiftsByOnePixel) {
    Toolbar t;
    t.Show();
    const QColor light = Sys(t.button, QPalette::Light), dark = Sys(t.button, QPalette::Dark);
    QImage img = t.Image();
    EXPECT_EQ(img.pixelColor(0, 0), kParentGreen);

    QTest::mouseMove(t.button, QPoint(30, 30));
    ASSERT_TRUE(t.button->IsMouseOver());
    img = t.Image();
    EXPECT_EQ(img.pixelColor(0, 0), light);
    EXPECT_EQ(img.pixelColor(0, 61), light);
    EXPECT_EQ(img.pixelColor(62, 62), dark);
    EXPECT_EQ(img.pixelColor(62, 0), dark);

    QTest::mousePress(t.button, Qt::LeftButton, {}, QPoint(30, 30));
    img = t.Image();
    EXPECT_EQ(img.pixelColor(0, 0), dark);
    EXPECT_EQ(img.pixelColor(62, 62), light);
    const int x0 = (63 - 32) / 2;
    EXPECT_EQ(img.pixelColor(x0 + 1, 4), kIconRed);
    EXPECT_EQ(img.pixelColor(x0, 3), kParentGreen);
    EXPECT_EQ(img.pixelColor(x0 + 16, 3 + 16), QColor(Qt::black));
    QTest::mouseRelease(t.button, Qt::LeftButton, {}, QPoint(30, 30));

    // Leaving removes the frame.
    QTest::mouseMove(&t.host, QPoint(180, 90));
    EXPECT_FALSE(t.button->IsMouseOver());
    EXPECT_EQ(t.Image().pixelColor(0, 0), kParentGreen);
}

TEST(ImageButton, DisabledButtonGreysItsIconAndEmbossesItsCaption) {
    Toolbar t;
    QFont bold = t.button->font();
    bold.setPixelSize(16);
    bold.setBold(true);
    t.button->setFont(bold); // stems wide enough to show unblended colours
    t.button->setEnabled(false);
    const QImage img = t.Image();
    const int x0 = (63 - 32) / 2;
    EXPECT_EQ(img.pixelColor(x0 + 2, 5), QColor(76, 76, 76)); // 0.299 * 255
    EXPECT_EQ(img.pixelColor(x0 + 15, 3 + 15), QColor(Qt::black));
    const QRect caption(0, 35, 63, 28);
    EXPECT_GT(CountColor(img, caption, Sys(t.button, QPalette::Light)), 5);
    EXPECT_GT(CountColor(img, caption, Sys(t.button, QPalette::Dark)), 5);
    EXPECT_EQ(CountColor(img, caption, Sys(t.button, QPalette::ButtonText)), 0);

    const QImage grey = CImageButton::GreyImage(QImage(1, 1, QImage::Format_ARGB32));
    EXPECT_EQ(grey.size(), QSize(1, 1));
    QImage colours(3, 1, QImage::Format_ARGB32);
    colours.setPixel(0, 0, qRgba(10, 200, 30, 128));
    colours.setPixel(1, 0, qRgb(0, 0, 0));
    colours.setPixel(2, 0, qRgb(255, 255, 255));
    const QImage g = CImageButton::GreyImage(colours);
    EXPECT_EQ(g.pixel(0, 0), qRgba(123, 123, 123, 128)); // 2.99 + 117.4 + 3.42, truncated
    EXPECT_EQ(g.pixel(1, 0), qRgb(0, 0, 0));
    EXPECT_EQ(g.pixel(2, 0), qRgb(255, 255, 255));
}

TEST(ImageButton, DisablingHandsTheFocusOn) {
    Toolbar t;
    t.Show();
    QApplication::setActiveWindow(&t.host);
    t.button->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return t.button->hasFocus(); }, 5000));
    t.button->setEnabled(false);
    EXPECT_TRUE(t.next->hasFocus());

    // With no other control to take it, the parent keeps the focus.
    t.button->setEnabled(true);
    t.next->setEnabled(false);
    t.button->setFocus();
    ASSERT_TRUE(t.button->hasFocus());
    t.button->setEnabled(false);
    EXPECT_TRUE(t.host.hasFocus());
}

TEST(ImageButton, DoubleClickCountsAsTwoClicks) {
    Toolbar t;
    QSignalSpy clicks(t.button, &QAbstractButton::clicked);
    const QPointF p(30, 30);
    // The order a platform reports a double click in: press, release, double click, release.
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                              QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
        QMouseEvent e(type, p, t.button->mapToGlobal(p), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(t.button, &e);
    }
    EXPECT_EQ(clicks.count(), 2);
}

TEST(ImageButton, AlignmentOutsideTheFourIsRefused) {
    Toolbar t;
    EXPECT_EQ(t.button->SetAlign(4), CImageButton::IMGBTN_INVALIDALIGN);
    EXPECT_EQ(t.button->SetAlign(-1), CImageButton::IMGBTN_INVALIDALIGN);
    EXPECT_EQ(t.button->GetAlign(), CImageButton::ALIGN_ICON_ABOVE);
    EXPECT_EQ(t.button->SetAlign(CImageButton::ALIGN_ICON_LEFT), CImageButton::IMGBTN_OK);
    t.button->setText("Go"); // fits the 28 pixels beside the icon

    // Icon left of the caption: 3 pixels from the left edge, vertically centred.
    const QImage img = t.Image();
    EXPECT_EQ(img.pixelColor(3, (63 - 32) / 2), kIconRed);
    EXPECT_EQ(img.pixelColor(2, (63 - 32) / 2), kParentGreen);
    EXPECT_EQ(CountColor(img, QRect(0, 0, 35, 63), Sys(t.button, QPalette::ButtonText)), 0);
    EXPECT_LT(CountColor(img, QRect(35, 0, 28, 63), kParentGreen), 28 * 63); // the caption

    // Without caption the icon sits in the middle.
    t.button->setText("");
    EXPECT_EQ(t.Image().pixelColor((63 - 32) / 2, (63 - 32) / 2), kIconRed);
    EXPECT_EQ(t.Image().pixelColor((63 - 32) / 2 - 1, (63 - 32) / 2), kParentGreen);
}

TEST(ImageButton, IconsComeFromTheResourcesByNumber) {
    CImageButton b("Open");
    EXPECT_EQ(b.SetIcon(99999), CImageButton::IMGBTN_INVALIDRESOURCE);
    EXPECT_FALSE(b.GetIconSize().isValid());
    EXPECT_EQ(b.SetTooltipText("Open a video or audio file"), CImageButton::IMGBTN_OK);
    EXPECT_EQ(b.toolTip(), "Open a video or audio file");
    b.ActivateTooltip(false);
    EXPECT_EQ(b.toolTip(), "");
    EXPECT_EQ(b.GetTooltipText(), "Open a video or audio file");
}
