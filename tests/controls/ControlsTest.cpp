#include "DrawnSliderCtrl.h"
#include "PercentProgressCtrl.h"
#include "TestSupport.h"

#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <future>
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
    QTest::keyClick(&s, Qt::Key_End);
    EXPECT_EQ(take(), (std::vector<int>{S::TB_BOTTOM, 100, S::TB_ENDTRACK, 100}));
    s.SetRange(0, 50);
    EXPECT_EQ(s.GetPos(), 50) << "a new range keeps the position inside";
}

namespace {

// A bar on a shown window; counts its paint events and whether all came on the GUI thread.
struct Bar : QObject {
    QWidget host;
    CPercentProgressCtrl* bar = new CPercentProgressCtrl(&host);
    std::atomic<int> paints{0};
    std::atomic<bool> offGui{false};
    Bar() {
        host.resize(200, 24);
        bar->setGeometry(0, 0, 200, 24);
        bar->SetBarColor(Qt::blue);
        host.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&host));
        QCoreApplication::processEvents();
        bar->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) {
            ++paints;
            offGui = offGui || QThread::currentThread() != qApp->thread();
        }
        return false;
    }
    QImage Image() { return bar->grab().toImage().convertToFormat(QImage::Format_RGB32); }
};

} // namespace

TEST(PercentProgressCtrl, WorkerThreadReportsNeverWaitForTheGuiThread) {
    Bar b;
    b.bar->SetShowText(false);
    b.bar->SetRange(0, 1000);
    // The GUI thread handles no events while the worker reports: a report that waited for it would
    // never finish.
    auto worker = std::async(std::launch::async, [&] {
        for (int pos = 0; pos <= 1000; ++pos)
            b.bar->SetPos(pos);
        return b.bar->GetPos();
    });
    ASSERT_EQ(worker.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    EXPECT_EQ(worker.get(), 1000);
    EXPECT_EQ(b.paints, 0);
    // The many width changes come out as one repaint, on the GUI thread, showing the last position.
    EXPECT_TRUE(WaitFor([&] { return b.paints > 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(b.paints, 1);
    EXPECT_FALSE(b.offGui);
    EXPECT_EQ(CountColor(b.Image(), b.bar->rect(), Qt::blue), 200 * 24);
}
