#include "WaitIndicator.h"
#include "TestSupport.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>
#include <thread>

namespace {

int CountIndicators() {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        n += qobject_cast<CWaitDlg*>(w) != nullptr;
    return n;
}

struct StopAtEnd {
    ~StopAtEnd() { StopWaitIndicator(); }
};

} // namespace

TEST(WaitIndicator, StartReplacesAnyEarlierWindowAndStopsAreHarmless) {
    StopAtEnd cleanup;
    const int before = static_cast<int>(QApplication::topLevelWidgets().size());
    StopWaitIndicator();
    EXPECT_EQ(GetWaitIndicator(), nullptr);

    StartWaitIndicator("first");
    StartWaitIndicator("Opening the source file, please waiting");
    CWaitDlg* dlg = GetWaitIndicator();
    ASSERT_NE(dlg, nullptr);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(CountIndicators(), 1);
    EXPECT_EQ(dlg->findChild<QLabel*>("1054")->text(), "Opening the source file, please waiting");
    StopWaitIndicator();
    EXPECT_EQ(GetWaitIndicator(), nullptr);
    EXPECT_EQ(CountIndicators(), 0);
    StopWaitIndicator();
    EXPECT_EQ(CountIndicators(), 0);
    EXPECT_EQ(static_cast<int>(QApplication::topLevelWidgets().size()), before);
}

TEST(WaitIndicator, BarRunsRoundWhileTheEventLoopRuns) {
    StopAtEnd cleanup;
    StartWaitIndicator("Please Wait.");
    QProgressBar* bar = GetWaitIndicator()->findChild<QProgressBar*>("1045");
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 10);
    EXPECT_EQ(bar->value(), 1);
    QSignalSpy steps(bar, &QProgressBar::valueChanged);
    ASSERT_TRUE(WaitFor([&] { return steps.count() >= 12; }));
    std::vector<int> seen;
    for (int i = 0; i < 12; ++i)
        seen.push_back(steps.at(i).at(0).toInt());
    EXPECT_EQ(seen, (std::vector<int>{2, 3, 4, 5, 6, 7, 8, 9, 10, 0, 1, 2}));

    // Only timer 1 moves the bar.
    CWaitDlg dlg("x");
    dlg.m_progressBar->setValue(10);
    dlg.OnTimer(2);
    EXPECT_EQ(dlg.m_progressBar->value(), 10);
    dlg.OnTimer(CWaitDlg::kTimerId);
    EXPECT_EQ(dlg.m_progressBar->value(), 0);
}

TEST(WaitIndicator, UserCannotCloseIt) {
    StopAtEnd cleanup;
    StartWaitIndicator("Please Wait.");
    CWaitDlg* dlg = GetWaitIndicator();
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
        QTest::keyClick(dlg, key);
    EXPECT_FALSE(dlg->close());
    QCoreApplication::processEvents();
    EXPECT_EQ(GetWaitIndicator(), dlg);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), 0);
    EXPECT_EQ(dlg->parentWidget(), nullptr);
    EXPECT_FALSE(dlg->isModal());
    EXPECT_TRUE(dlg->windowFlags() & Qt::FramelessWindowHint);
}

TEST(WaitIndicator, RequestsFromAnotherThreadArePassedToTheGuiThread) {
    StopAtEnd cleanup;
    std::thread([] { StartWaitIndicator("from a worker"); }).join();
    EXPECT_EQ(GetWaitIndicator(), nullptr); // nothing happens off the GUI thread
    ASSERT_TRUE(WaitFor([] { return GetWaitIndicator() != nullptr; }));
    EXPECT_EQ(GetWaitIndicator()->thread(), QThread::currentThread());
    std::thread([] { StopWaitIndicator(); }).join();
    ASSERT_TRUE(WaitFor([] { return CountIndicators() == 0; }));
}
