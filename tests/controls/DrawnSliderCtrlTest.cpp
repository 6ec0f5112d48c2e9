#include "DrawnSliderCtrl.h"
#include "TestSupport.h"

#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

using S = CDrawnSliderCtrl;

TEST(DrawnSliderCtrl, PlacesSelectionMouseAndKeysAgreeAndReportEachStep) {
    CDrawnSliderCtrl s;
    s.resize(300, 40);
    s.SetRange(0, 100);
    for (int p = 0; p <= 100; ++p)
        ASSERT_EQ(s.PlaceToPos(s.PosToPlace(p)), p);
    EXPECT_EQ(s.PlaceToPos(5000), 100);
    // The selection band covers the selected share of the channel, and nothing when it is empty.
    s.SetSelectionColor(QColor(20, 20, 255));
    auto band = [&] {
        const QImage img = s.grab().toImage().convertToFormat(QImage::Format_RGB32);
        return CountColor(img, QRect(0, s.GetChannelRect().center().y(), img.width(), 1),
                          QColor(20, 20, 255));
    };
    s.SetSelection(25, 75);
    EXPECT_NEAR(band(), s.GetChannelRect().width() / 2, 5);
    s.SetSelection(75, 25);
    EXPECT_EQ(band(), 0);

    s.SetPageSize(10);
    s.SetPos(50);
    QSignalSpy spy(&s, &CDrawnSliderCtrl::HScroll);
    auto take = [&] {
        std::vector<int> out;
        for (const auto& args : spy)
            out.insert(out.end(), {args.at(0).toInt(), args.at(1).toInt()});
        spy.clear();
        return out;
    };
    auto at = [&](int pos) { return QPoint(s.PosToPlace(pos), s.GetThumbRect().center().y()); };
    QTest::mousePress(&s, Qt::LeftButton, {}, at(50));
    QTest::mouseMove(&s, at(70));
    QTest::mouseRelease(&s, Qt::LeftButton, {}, at(70));
    EXPECT_EQ(take(), (std::vector<int>{S::TB_THUMBTRACK, 70, S::TB_THUMBPOSITION, 70, S::TB_ENDTRACK, 70}));
    // A click in the channel pages towards the pointer; held down, it pages on up to the pointer only.
    QTest::mouseClick(&s, Qt::LeftButton, {}, at(10));
    EXPECT_EQ(take(), (std::vector<int>{S::TB_PAGEUP, 60, S::TB_ENDTRACK, 60}));
    QTest::mousePress(&s, Qt::LeftButton, {}, at(90));
    EXPECT_TRUE(WaitFor([&] { return s.GetPos() == 90; }, 5000));
    QTest::mouseRelease(&s, Qt::LeftButton, {}, at(90));
    EXPECT_EQ(s.GetPos(), 90);
    take();
    s.SetPos(0);
    for (Qt::Key key : {Qt::Key_Left, Qt::Key_Right, Qt::Key_PageUp, Qt::Key_End, Qt::Key_Down})
        QTest::keyClick(&s, key);
    EXPECT_EQ(take(), (std::vector<int>{S::TB_ENDTRACK, 0, S::TB_LINEDOWN, 1, S::TB_ENDTRACK, 1,
                                        S::TB_PAGEDOWN, 11, S::TB_ENDTRACK, 11, S::TB_BOTTOM, 100,
                                        S::TB_ENDTRACK, 100, S::TB_LINEUP, 99, S::TB_ENDTRACK, 99}));
    s.SetRange(0, 50);
    EXPECT_EQ(s.GetPos(), 50) << "a new range keeps the position inside";
}
