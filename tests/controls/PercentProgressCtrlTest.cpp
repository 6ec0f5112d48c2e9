#include "PercentProgressCtrl.h"
#include "TestSupport.h"

#include <QImage>
#include <QTest>
#include <QThread>
#include <future>
#include <gtest/gtest.h>

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

// The percentage is truncated and not clamped: each position draws what the same text set as the
// custom text draws; an empty custom text brings the percentage back. An empty range paints nothing.
TEST(PercentProgressCtrl, ShowsTheTruncatedPercentageAndNothingForAnEmptyRange) {
    Bar b;
    for (const auto& [lower, upper, pos, text] :
         {std::tuple{0, 1000, 999, "99%"}, {-50, 50, 0, "50%"}, {0, 100, 150, "150%"}}) {
        b.bar->SetRange(lower, upper);
        b.bar->SetPos(pos);
        const QImage percent = b.Image();
        b.bar->SetWindowText(text);
        EXPECT_EQ(b.Image(), percent) << text;
        b.bar->SetWindowText("");
        EXPECT_EQ(b.Image(), percent) << text;
    }
    b.bar->SetRange(10, 5);
    QImage img(200, 24, QImage::Format_RGB32);
    img.fill(Qt::magenta);
    b.bar->render(&img, QPoint(), QRegion(), QWidget::RenderFlags());
    EXPECT_EQ(CountColor(img, img.rect(), Qt::magenta), 200 * 24);
    CPercentProgressCtrl lone;
    EXPECT_EQ(lone.SetPos(40), -1);
    EXPECT_EQ(lone.GetPos(), 0) << "no position without a window";
}

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
