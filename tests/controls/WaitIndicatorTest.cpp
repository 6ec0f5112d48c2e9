#include "WaitIndicator.h"
#include "TestSupport.h"

#include <QApplication>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>
#include <thread>

// One window at a time, running round, that only the program closes; requests from another thread are
// passed to the GUI thread.
TEST(WaitIndicator, OneWindowThatRunsRoundAndOnlyTheProgramCloses) {
    StopWaitIndicator(); // harmless when none runs
    std::thread([] { StartWaitIndicator("first"); }).join();
    EXPECT_EQ(GetWaitIndicator(), nullptr); // nothing happens off the GUI thread
    ASSERT_TRUE(WaitFor([] { return GetWaitIndicator() != nullptr; }));
    StartWaitIndicator("Opening the source file, please waiting");
    CWaitDlg* dlg = GetWaitIndicator();
    QSignalSpy steps(dlg->findChild<QProgressBar*>("1045"), &QProgressBar::valueChanged);
    ASSERT_TRUE(WaitFor([&] { return steps.count() >= 12; }));
    for (int i = 1; i < 12; ++i) // 0 to 10, then round again
        EXPECT_EQ(steps.at(i).at(0).toInt(), (steps.at(i - 1).at(0).toInt() + 1) % 11) << i;
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape})
        QTest::keyClick(dlg, key);
    EXPECT_FALSE(dlg->close());
    QCoreApplication::processEvents();
    EXPECT_TRUE(GetWaitIndicator() == dlg && dlg->isVisible());
    const QWidgetList windows = QApplication::topLevelWidgets();
    EXPECT_EQ(
        std::count_if(windows.begin(), windows.end(), [](QWidget* w) { return qobject_cast<CWaitDlg*>(w); }),
        1);
    std::thread([] { StopWaitIndicator(); }).join();
    ASSERT_TRUE(WaitFor([] { return GetWaitIndicator() == nullptr; }));
    StopWaitIndicator();
}
