#include "PercentProgressCtrl.h"
#include "TestSupport.h"

#include <QImage>
#include <QPainter>
#include <QTest>
#include <QThread>
#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <vector>

namespace {

const QColor kBar(0, 0, 200);
const QColor kBack(250, 250, 250);
const QColor kText(200, 0, 0);
const QColor kTextOnBar(0, 220, 0);

// Counts the paint events a widget receives and remembers the threads they arrived on.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* w) { w->installEventFilter(this); }
    int Count() const {
        std::lock_guard lock(m_mutex);
        return static_cast<int>(m_threads.size());
    }
    bool AllOn(QThread* thread) const {
        std::lock_guard lock(m_mutex);
        for (QThread* t : m_threads)
            if (t != thread)
                return false;
        return true;
    }
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) {
            std::lock_guard lock(m_mutex);
            m_threads.push_back(QThread::currentThread());
        }
        return false;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<QThread*> m_threads;
};

struct Bar {
    QWidget host;
    CPercentProgressCtrl* bar;
    Bar(int w = 200, int h = 24) : bar(new CPercentProgressCtrl(&host)) {
        host.resize(w, h);
        bar->setGeometry(0, 0, w, h);
        bar->SetBarColor(kBar);
        bar->SetBackgroundColor(kBack);
        bar->SetTextColor(kText);
        bar->SetBarTextColor(kTextOnBar);
        QFont f = bar->font();
        f.setPixelSize(16);
        f.setBold(true);
        bar->setFont(f);
    }
    QImage Image() { return bar->grab().toImage().convertToFormat(QImage::Format_RGB32); }
};

} // namespace

TEST(PercentProgressCtrl, FillsBothPartsAndDrawsTheTextInTheColourOfEachSide) {
    Bar b;
    b.bar->SetRange(0, 100);
    ASSERT_EQ(b.bar->SetPos(50), 0);
    QImage img = b.Image();
    // Split at 100: the corners show the plain fills.
    EXPECT_EQ(img.pixelColor(2, 2), kBar);
    EXPECT_EQ(img.pixelColor(99, 21), kBar);
    EXPECT_EQ(img.pixelColor(100, 2), kBack);
    EXPECT_EQ(img.pixelColor(197, 21), kBack);
    // "50%" is centred across the split: its left half over the bar, its right half over the background.
    const QRect left(0, 0, 100, 24), right(100, 0, 100, 24);
    EXPECT_GT(CountColor(img, left, kTextOnBar), 10);
    EXPECT_GT(CountColor(img, right, kText), 10);
    EXPECT_EQ(CountColor(img, left, kText), 0);
    EXPECT_EQ(CountColor(img, right, kTextOnBar), 0);

    b.bar->SetShowText(false);
    img = b.Image();
    EXPECT_EQ(CountColor(img, left, kBar), 100 * 24);
    EXPECT_EQ(CountColor(img, right, kBack), 100 * 24);
}

TEST(PercentProgressCtrl, PercentageIsTruncatedAndUnclamped) {
    // Each position must draw exactly what the same text drawn as a custom text draws.
    struct Case {
        int lower, upper, pos;
        const char* text;
    } cases[] = {{0, 1000, 999, "99%"}, {0, 1000, -1, "0%"}, {0, 100, 150, "150%"}, {-50, 50, 0, "50%"}};
    for (const Case& c : cases) {
        Bar b;
        b.bar->SetRange(c.lower, c.upper);
        b.bar->SetPos(c.pos);
        const QImage percent = b.Image();
        b.bar->SetWindowText(c.text);
        EXPECT_EQ(b.Image(), percent) << c.text;
        // Another custom text replaces the percentage; an empty one brings it back.
        b.bar->SetWindowText("Progress1");
        EXPECT_NE(b.Image(), percent) << c.text;
        b.bar->SetWindowText("");
        EXPECT_EQ(b.Image(), percent) << c.text;
    }
    // Above the upper bound the bar is full, below the lower bound it is empty.
    Bar full;
    full.bar->SetShowText(false);
    full.bar->SetPos(150);
    EXPECT_EQ(CountColor(full.Image(), QRect(0, 0, 200, 24), kBar), 200 * 24);
    full.bar->SetPos(-5);
    EXPECT_EQ(CountColor(full.Image(), QRect(0, 0, 200, 24), kBack), 200 * 24);
}

TEST(PercentProgressCtrl, EmptyOrInvertedRangePaintsNothing) {
    for (auto range : {std::pair{0, 0}, std::pair{10, 5}, std::pair{0, 100}}) {
        Bar b;
        b.bar->SetRange(range.first, range.second);
        b.bar->SetPos(3);
        QImage img(200, 24, QImage::Format_RGB32);
        img.fill(Qt::magenta);
        b.bar->render(&img, QPoint(), QRegion(), QWidget::RenderFlags());
        const int untouched = CountColor(img, img.rect(), Qt::magenta);
        if (range.first < range.second)
            EXPECT_EQ(untouched, 0);
        else
            EXPECT_EQ(untouched, 200 * 24);
    }
}

TEST(PercentProgressCtrl, SetPosWithoutWindowStoresNothing) {
    CPercentProgressCtrl lone;
    EXPECT_FALSE(lone.HasWindow());
    EXPECT_EQ(lone.SetPos(40), -1);
    EXPECT_EQ(lone.StepIt(), -1);
    EXPECT_EQ(lone.GetPos(), 0);

    QWidget host;
    lone.setParent(&host);
    EXPECT_TRUE(lone.HasWindow());
    EXPECT_EQ(lone.SetPos(40), 0);
    EXPECT_EQ(lone.OffsetPos(5), 40);
    EXPECT_EQ(lone.SetStep(10), 1);
    EXPECT_EQ(lone.StepIt(), 45);
    EXPECT_EQ(lone.GetPos(), 55);
    lone.setParent(nullptr);
}

TEST(PercentProgressCtrl, RepaintsOnlyWhenTheFilledWidthChanges) {
    Bar b(100, 20);
    b.host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&b.host));
    QCoreApplication::processEvents();
    PaintCounter paints(b.bar);
    b.bar->SetRange(0, 1000);
    EXPECT_EQ(paints.Count(), 0); // SetRange alone repaints nothing

    b.bar->SetPos(1); // first report: forced
    EXPECT_EQ(paints.Count(), 1);
    b.bar->SetPos(9); // still 0 px
    EXPECT_EQ(paints.Count(), 1);
    b.bar->SetPos(10); // 1 px: repainted before SetPos returns
    EXPECT_EQ(paints.Count(), 2);
    b.bar->SetPos(19);
    EXPECT_EQ(paints.Count(), 2);

    // After a resize the next report repaints even though the width in pixels may be the same.
    b.bar->resize(100, 22);
    QCoreApplication::processEvents();
    const int afterResize = paints.Count();
    b.bar->SetPos(19);
    EXPECT_EQ(paints.Count(), afterResize + 1);

    // The same custom text twice: one repaint only.
    b.bar->SetWindowText("abc");
    QCoreApplication::processEvents();
    const int afterText = paints.Count();
    b.bar->SetWindowText("abc");
    QCoreApplication::processEvents();
    EXPECT_EQ(paints.Count(), afterText);
}

TEST(PercentProgressCtrl, WorkerThreadReportsNeverWaitForTheGuiThread) {
    Bar b(100, 20);
    b.bar->SetShowText(false);
    b.bar->SetRange(0, 1000);
    b.host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&b.host));
    QCoreApplication::processEvents();
    PaintCounter paints(b.bar);

    // The GUI thread handles no events while the worker reports: a report that waited for it would
    // never finish.
    auto worker = std::async(std::launch::async, [&] {
        for (int pos = 0; pos <= 1000; ++pos)
            b.bar->SetPos(pos);
        return b.bar->GetPos();
    });
    ASSERT_EQ(worker.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(worker.get(), 1000);
    EXPECT_EQ(paints.Count(), 0);

    // The hundred width changes come out as one repaint, on the GUI thread, showing the last position.
    EXPECT_TRUE(WaitFor([&] { return paints.Count() > 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(paints.Count(), 1);
    EXPECT_TRUE(paints.AllOn(QThread::currentThread()));
    EXPECT_EQ(CountColor(b.Image(), QRect(0, 0, 100, 20), kBar), 100 * 20);
}

TEST(PercentProgressCtrl, FrameShrinksTheBar) {
    Bar b(100, 20);
    b.bar->setFrameStyle(QFrame::Box | QFrame::Plain);
    b.bar->SetShowText(false);
    b.bar->SetPos(100);
    const QImage img = b.Image();
    EXPECT_NE(img.pixelColor(0, 0), kBar);
    EXPECT_EQ(img.pixelColor(1, 1), kBar);
    EXPECT_EQ(img.pixelColor(98, 18), kBar);
    EXPECT_NE(img.pixelColor(99, 19), kBar);
}
