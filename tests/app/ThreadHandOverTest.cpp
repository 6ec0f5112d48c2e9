#include "ThreadHandOver.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QThread>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <vector>

TEST(ThreadHandOver, CallsFromWorkersRunOnTheGuiThreadInOrderAndNotAfterTheirContextIsGone) {
    QThread* gui = QThread::currentThread();
    auto context = std::make_unique<QObject>();
    auto doomed = std::make_unique<QObject>();
    constexpr int kPerWorker = 200;
    // Plain vectors, touched only by the calls: the race detector checks that the hand-over orders them.
    std::vector<int> seen[2];
    int offThread = 0;
    int afterDeath = 0;
    std::vector<std::thread> workers;
    for (int w = 0; w < 2; ++w)
        workers.emplace_back([&, w] {
            for (int i = 0; i < kPerWorker; ++i) {
                PostToGuiThread(context.get(), [&, w, i] {
                    offThread += QThread::currentThread() != gui;
                    seen[w].push_back(i);
                });
                PostToGuiThread(doomed.get(), [&] { ++afterDeath; });
            }
        });
    for (auto& t : workers)
        t.join();
    doomed.reset();
    ASSERT_TRUE(WaitFor([&] { return seen[0].size() + seen[1].size() == 2 * kPerWorker; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(offThread, 0);
    EXPECT_EQ(afterDeath, 0);
    for (const auto& s : seen)
        for (int i = 0; i < kPerWorker; ++i)
            ASSERT_EQ(s[i], i);
}

TEST(ThreadHandOver, WaitingCallReturnsWithItsResultFromAWorkerAndRunsAtOnceOnTheGuiThread) {
    int onGui = 0;
    RunOnGuiThreadAndWait([&] { onGui = 1; });
    EXPECT_EQ(onGui, 1);

    QThread* gui = QThread::currentThread();
    std::atomic<bool> returned{false};
    int result = 0;
    std::thread worker([&] {
        RunOnGuiThreadAndWait([&] { result = QThread::currentThread() == gui ? 42 : -1; });
        returned = true;
    });
    EXPECT_TRUE(WaitFor([&] { return returned.load(); }));
    worker.join();
    EXPECT_EQ(result, 42);
}
