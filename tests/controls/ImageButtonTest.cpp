#include "ImageButton.h"
#include "TestSupport.h"

#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

TEST(ImageButton, DisablingHandsTheFocusOnGreysTheIconAndADoubleClickIsTwoClicks) {
    QWidget host;
    auto* button = new CImageButton("Open", &host);
    auto* next = new CImageButton("Convert", &host);
    button->setGeometry(10, 10, 63, 63);
    next->setGeometry(80, 10, 63, 63);
    QImage red(32, 32, QImage::Format_ARGB32);
    red.fill(Qt::red);
    button->SetIcon(QIcon(QPixmap::fromImage(red)));
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    QApplication::setActiveWindow(&host);
    button->setFocus();
    ASSERT_TRUE(WaitFor([&] { return button->hasFocus(); }, 5000));
    button->setEnabled(false);
    EXPECT_TRUE(next->hasFocus());
    EXPECT_EQ(
        CountColor(button->grab().toImage().convertToFormat(QImage::Format_RGB32), button->rect(), Qt::red),
        0);
    red.setPixel(0, 0, qRgba(10, 200, 30, 128));
    EXPECT_EQ(CImageButton::GreyImage(red).pixel(0, 0), qRgba(123, 123, 123, 128)); // luminance, truncated

    QSignalSpy clicks(next, &QAbstractButton::clicked);
    const QPointF p(30, 30);
    // The order a platform reports a double click in: press, release, double click, release.
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                              QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
        QMouseEvent e(type, p, next->mapToGlobal(p), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(next, &e);
    }
    EXPECT_EQ(clicks.count(), 2);
    next->setEnabled(false);
    EXPECT_TRUE(host.hasFocus()) << "with no other control to take it, the parent keeps it";
}
