#include "DrawnSliderCtrl.h"
#include "PercentProgressCtrl.h"
#include "TestSupport.h"
#include "WaveformCtrl.h"

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

// Zoomed, the waveform shows a stretch around the play position that stays inside the file, while the
// slider keeps the whole file; a click picks the time under the pointer on the strip's own scale.
TEST(WaveformCtrl, ZoomShowsAStretchAroundThePositionAndPicksOnItsScale) {
    QWidget host;
    host.resize(420, 80);
    CDrawnSliderCtrl slider(&host);
    slider.setGeometry(0, 40, 420, 30);
    slider.SetRange(0, 600); // 60 s in tenths
    CWaveformCtrl strip(&host);
    strip.setGeometry(0, 0, 420, 40);
    strip.SetAxis(&slider, 0.1);
    struct Case {
        int zoom, pos;
        double from, to;
    };
    for (const Case& c : {Case{0, 300, 0, 60}, Case{2, 300, 22.5, 37.5}, Case{2, 20, 0, 15},
                          Case{3, 600, 52.5, 60}, Case{99, 300, 30 - 60.0 / 8192, 30 + 60.0 / 8192}}) {
        strip.SetZoom(c.zoom);
        slider.SetPos(c.pos);
        double from = 0, to = 0;
        ASSERT_TRUE(strip.VisibleSpan(from, to));
        EXPECT_DOUBLE_EQ(from, c.from) << c.zoom << " " << c.pos;
        EXPECT_DOUBLE_EQ(to, c.to) << c.zoom << " " << c.pos;
    }
    strip.SetZoom(2);
    slider.SetPos(300);
    QSignalSpy picked(&strip, &CWaveformCtrl::TimePicked);
    for (int pos : {0, 600})
        QTest::mouseClick(&strip, Qt::LeftButton, {}, QPoint(slider.PosToPlace(pos), 20));
    ASSERT_EQ(picked.size(), 2);
    EXPECT_DOUBLE_EQ(picked[0].at(0).toDouble(), 22.5);
    EXPECT_DOUBLE_EQ(picked[1].at(0).toDouble(), 37.5);
    EXPECT_EQ(slider.GetPos(), 300) << "the slider keeps the whole file";
}
