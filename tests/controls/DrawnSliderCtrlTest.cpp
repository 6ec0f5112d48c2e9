#include "DrawnSliderCtrl.h"

#include "TestSupport.h"

#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

constexpr int kChannelWidth = 200;

struct Slider {
    CDrawnSliderCtrl s;
    Slider() {
        // Find the width whose channel is exactly 200 pixels wide.
        s.resize(300, 40);
        s.resize(300 - (s.GetChannelRect().width() - kChannelWidth), 40);
        s.SetRange(0, 100);
    }
    QImage Image() { return s.grab().toImage().convertToFormat(QImage::Format_RGB32); }
    QColor At(int x, int y) { return Image().pixelColor(x, y); }
};

std::vector<std::pair<int, int>> Take(QSignalSpy& spy) {
    std::vector<std::pair<int, int>> out;
    for (const auto& args : spy)
        out.emplace_back(args.at(0).toInt(), args.at(1).toInt());
    spy.clear();
    return out;
}

using Scrolls = std::vector<std::pair<int, int>>;

} // namespace

// The shades are the thumb colour lightened and darkened; components that would overflow stay as they are.
TEST(DrawnSliderCtrl, ThumbShadingFollowsTheThumbColour) {
    EXPECT_EQ(CDrawnSliderCtrl::LightenColor(QColor(204, 205, 0), 51), QColor(255, 205, 51));
    EXPECT_EQ(CDrawnSliderCtrl::DarkenColor(QColor(51, 50, 255), 51), QColor(0, 50, 204));
    struct Case {
        QColor face, h1, s1, s2;
    } cases[] = {
        {QColor(255, 255, 255), QColor(255, 255, 255), QColor(204, 204, 204), QColor(153, 153, 153)},
        {QColor(30, 200, 120), QColor(81, 251, 171), QColor(30, 149, 69), QColor(30, 98, 18)},
    };
    for (const Case& c : cases) {
        Slider sl;
        sl.s.SetThumbColor(c.face);
        sl.s.SetPos(50);
        const QRect t = sl.s.GetThumbRect();
        ASSERT_EQ(t.size(), QSize(11, 21));
        const int L = t.left(), T = t.top(), B = t.top() + t.height(), e = 5;
        const QImage img = sl.Image();
        EXPECT_EQ(img.pixelColor(L + 5, T + 3), c.face); // inside the tip, left of the grip
        EXPECT_EQ(img.pixelColor(L + 1, T + e + 2), c.h1);
        EXPECT_EQ(img.pixelColor(L + 4, B - 2), c.s1);
        EXPECT_EQ(img.pixelColor(L + 9, T + 10), c.s1);
        // Grip on the shrunk rectangle (left + 1, top + 2): shadow lines at its x + 2, 4 and 6.
        for (int x : {3, 5, 7})
            EXPECT_EQ(img.pixelColor(L + x, T + 2 + 5), c.s2) << x;
        // The outline points up and leaves the corners of the rectangle alone.
        const QColor frame = sl.s.palette().color(QPalette::WindowText);
        EXPECT_EQ(img.pixelColor(L, T + e - 1), frame);
        EXPECT_EQ(img.pixelColor(L + e, T), frame);
        EXPECT_EQ(img.pixelColor(L + 1, B - 1), frame);
        EXPECT_NE(img.pixelColor(L, T), frame);
        EXPECT_NE(img.pixelColor(L + 10, T + 1), frame);
        EXPECT_NE(img.pixelColor(L, B - 1), frame);
    }
}

TEST(DrawnSliderCtrl, SelectionBandSpansTheSelectedPart) {
    Slider sl;
    const QColor sel(20, 20, 255);
    sl.s.SetSelectionColor(sel);
    sl.s.SetPos(100); // thumb well away from the band
    sl.s.SetSelection(25, 75);
    const QRect ch = sl.s.GetChannelRect();
    ASSERT_EQ(ch.width(), kChannelWidth);
    const int L = ch.left(), y = ch.top() + 6;
    QImage img = sl.Image();
    EXPECT_NE(img.pixelColor(L + 51, y), sel);
    EXPECT_EQ(img.pixelColor(L + 52, y), sel);
    EXPECT_EQ(img.pixelColor(L + 147, y), sel);
    EXPECT_NE(img.pixelColor(L + 148, y), sel);
    EXPECT_NE(img.pixelColor(L + 100, ch.top() + 1), sel);
    EXPECT_EQ(img.pixelColor(L + 100, ch.top() + 2), sel);
    EXPECT_EQ(img.pixelColor(L + 100, ch.bottom() - 1), sel); // the item's last row but one
    EXPECT_NE(img.pixelColor(L + 100, ch.bottom()), sel);
    EXPECT_EQ(CountColor(img, img.rect(), sel), 96 * (ch.height() - 3));

    for (auto [start, end] : {std::pair{50, 50}, std::pair{75, 25}}) {
        sl.s.SetSelection(start, end);
        EXPECT_EQ(CountColor(sl.Image(), sl.s.rect(), sel), 0) << start << ".." << end;
    }
    sl.s.SetSelection(-10, 500);
    int a = 0, b = 0;
    sl.s.GetSelection(a, b);
    EXPECT_EQ(std::pair(a, b), std::pair(0, 100));
    sl.s.ClearSel();
    EXPECT_EQ(CountColor(sl.Image(), sl.s.rect(), sel), 0);
}

TEST(DrawnSliderCtrl, DisabledSliderHasAButtonFaceChannelAndNoGrip) {
    Slider sl;
    sl.s.SetThumbColor(QColor(255, 255, 255));
    sl.s.SetChannelColor(QColor(255, 255, 0));
    sl.s.SetPos(50);
    const QRect ch = sl.s.GetChannelRect(), t = sl.s.GetThumbRect();
    const QPoint inChannel(ch.left() + 20, ch.top() + 5);
    const QColor grip(153, 153, 153);
    EXPECT_EQ(sl.At(inChannel.x(), inChannel.y()), QColor(255, 255, 0));
    EXPECT_GT(CountColor(sl.Image(), t, grip), 0);

    sl.s.setEnabled(false);
    const QImage img = sl.Image();
    EXPECT_EQ(img.pixelColor(inChannel), sl.s.palette().color(QPalette::Active, QPalette::Button));
    EXPECT_EQ(CountColor(img, t, grip), 0);
    EXPECT_EQ(img.pixelColor(1, 1), QColor(236, 236, 236));
}

TEST(DrawnSliderCtrl, PressedThumbIsDarkerUntilReleased) {
    Slider sl;
    sl.s.SetThumbColor(QColor(255, 255, 255));
    sl.s.SetPos(50);
    const QRect t = sl.s.GetThumbRect();
    const QPoint face(t.left() + 5, t.top() + 3);
    QSignalSpy spy(&sl.s, &CDrawnSliderCtrl::HScroll);

    QTest::mousePress(&sl.s, Qt::LeftButton, {}, t.center());
    EXPECT_TRUE(sl.s.IsThumbPressed());
    EXPECT_EQ(sl.At(face.x(), face.y()), QColor(204, 204, 204));
    // Dragging by 40 pixels moves 20 positions; each step is reported while the thumb moves.
    QTest::mouseMove(&sl.s, t.center() + QPoint(40, 0));
    EXPECT_EQ(sl.s.GetPos(), 70);
    QTest::mouseRelease(&sl.s, Qt::LeftButton, {}, t.center() + QPoint(40, 0));
    EXPECT_EQ(Take(spy), (Scrolls{{CDrawnSliderCtrl::TB_THUMBTRACK, 70},
                                  {CDrawnSliderCtrl::TB_THUMBPOSITION, 70},
                                  {CDrawnSliderCtrl::TB_ENDTRACK, 70}}));
    EXPECT_FALSE(sl.s.IsThumbPressed());
    const QRect moved = sl.s.GetThumbRect();
    EXPECT_EQ(sl.At(moved.left() + 5, moved.top() + 3), QColor(255, 255, 255));
}

TEST(DrawnSliderCtrl, ClickInTheChannelPagesTowardsThePointer) {
    Slider sl;
    sl.s.SetPageSize(10);
    sl.s.SetPos(50);
    QSignalSpy spy(&sl.s, &CDrawnSliderCtrl::HScroll);
    const QRect ch = sl.s.GetChannelRect(), t = sl.s.GetThumbRect();
    const QPoint right(ch.left() + 180, t.center().y()), left(ch.left() + 10, t.center().y());
    QTest::mousePress(&sl.s, Qt::LeftButton, {}, right);
    QTest::mouseRelease(&sl.s, Qt::LeftButton, {}, right);
    QTest::mousePress(&sl.s, Qt::LeftButton, {}, left);
    QTest::mouseRelease(&sl.s, Qt::LeftButton, {}, left);
    EXPECT_EQ(Take(spy), (Scrolls{{CDrawnSliderCtrl::TB_PAGEDOWN, 60},
                                  {CDrawnSliderCtrl::TB_ENDTRACK, 60},
                                  {CDrawnSliderCtrl::TB_PAGEUP, 50},
                                  {CDrawnSliderCtrl::TB_ENDTRACK, 50}}));

    // Held down, the click pages on until the thumb reaches the pointer, and no further.
    QTest::mousePress(&sl.s, Qt::LeftButton, {}, right);
    EXPECT_TRUE(QTest::qWaitFor([&] { return sl.s.GetPos() == 90; }, 5000));
    QTest::mouseRelease(&sl.s, Qt::LeftButton, {}, right);
    EXPECT_EQ(sl.s.GetPos(), 90);
}

TEST(DrawnSliderCtrl, KeysStepByLinesAndPagesAndReportEachStep) {
    Slider sl;
    sl.s.SetLineSize(1);
    sl.s.SetPageSize(25);
    QSignalSpy spy(&sl.s, &CDrawnSliderCtrl::HScroll);
    QTest::keyClick(&sl.s, Qt::Key_Left); // already at the minimum: nothing moves
    QTest::keyClick(&sl.s, Qt::Key_Right);
    QTest::keyClick(&sl.s, Qt::Key_PageUp);
    QTest::keyClick(&sl.s, Qt::Key_End);
    QTest::keyClick(&sl.s, Qt::Key_PageDown);
    QTest::keyClick(&sl.s, Qt::Key_Down);
    QTest::keyClick(&sl.s, Qt::Key_Home);
    using S = CDrawnSliderCtrl;
    EXPECT_EQ(Take(spy), (Scrolls{{S::TB_ENDTRACK, 0},
                                  {S::TB_LINEDOWN, 1},
                                  {S::TB_ENDTRACK, 1},
                                  {S::TB_PAGEDOWN, 26},
                                  {S::TB_ENDTRACK, 26},
                                  {S::TB_BOTTOM, 100},
                                  {S::TB_ENDTRACK, 100},
                                  {S::TB_PAGEUP, 75},
                                  {S::TB_ENDTRACK, 75},
                                  {S::TB_LINEUP, 74},
                                  {S::TB_ENDTRACK, 74},
                                  {S::TB_TOP, 0},
                                  {S::TB_ENDTRACK, 0}}));
}

TEST(DrawnSliderCtrl, PositionsAndPixelsMapBothWays) {
    Slider sl;
    const QRect ch = sl.s.GetChannelRect();
    for (int p = 0; p <= 100; ++p) {
        sl.s.SetPos(p);
        const int x = sl.s.PosToPlace(p);
        EXPECT_EQ(x, ch.left() + 2 * p);
        EXPECT_EQ(sl.s.GetThumbRect().left(), x - 5);
        EXPECT_EQ(sl.s.PlaceToPos(x), p);
    }
    EXPECT_EQ(sl.s.PlaceToPos(-50), 0);
    EXPECT_EQ(sl.s.PlaceToPos(5000), 100);

    // A wide range: positions share pixels, and the pointer picks the nearest one.
    sl.s.SetRange(0, 1253);
    EXPECT_EQ(sl.s.PosToPlace(1253), ch.left() + kChannelWidth);
    EXPECT_EQ(sl.s.PlaceToPos(ch.left() + 100), 627);
}

TEST(DrawnSliderCtrl, RangeKeepsPositionAndTicksInside) {
    Slider sl;
    sl.s.SetPos(80);
    sl.s.SetRange(0, 50);
    EXPECT_EQ(sl.s.GetPos(), 50);
    sl.s.SetPos(-3);
    EXPECT_EQ(sl.s.GetPos(), 0);
    EXPECT_TRUE(sl.s.SetTic(1));
    EXPECT_FALSE(sl.s.SetTic(51));
    EXPECT_EQ(sl.s.GetTics(), std::vector<int>{1});
    EXPECT_EQ(sl.s.SetPageSize(5), 20);
    EXPECT_EQ(sl.s.SetLineSize(2), 1);

    // Automatic ticks every 10 positions above the thumb, 2 pixels away from it.
    sl.s.SetRange(0, 100);
    sl.s.SetTicFreq(10);
    sl.s.ClearTics();
    const QImage img = sl.Image();
    const int y = sl.s.GetThumbRect().top() - 2;
    const QColor ink = sl.s.palette().color(QPalette::WindowText);
    EXPECT_EQ(img.pixelColor(sl.s.PosToPlace(10), y), ink);
    EXPECT_EQ(img.pixelColor(sl.s.PosToPlace(10), y - 2), ink);
    EXPECT_NE(img.pixelColor(sl.s.PosToPlace(10), y - 3), ink);
    EXPECT_NE(img.pixelColor(sl.s.PosToPlace(15), y), ink);
    EXPECT_EQ(img.pixelColor(sl.s.PosToPlace(100), y - 3), ink); // the ends are longer
}
