// Calls that cross from worker threads to the GUI thread: message boxes and the hand-over.
#include "MessageService.h"
#include "TestSupport.h"
#include "ThreadHandOver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace {

// Presses a button of the next message box that shows and tells what the box was like.
struct BoxAnswerer {
    QTimer poll;
    std::string text;
    bool onGui = false, plain = false;
    explicit BoxAnswerer(QMessageBox::StandardButton button) {
        QObject::connect(&poll, &QTimer::timeout, [this, button] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(w);
                if (box && box->isVisible()) {
                    poll.stop();
                    text = box->text().toStdString();
                    onGui = box->thread() == qApp->thread();
                    plain = box->textFormat() == Qt::PlainText;
                    box->button(button)->click();
                }
            }
        });
        poll.start(5);
    }
};

} // namespace

TEST(MessageService, BoxesShowOnTheGuiThreadAsTypedAndAnswerTheirCaller) {
    BoxAnswerer yes(QMessageBox::Yes);
    std::atomic<int> answer{0};
    std::thread worker([&] { answer = ShowMessage("Are you sure? ", MsgButtons::YesNo); });
    EXPECT_TRUE(WaitFor([&] { return answer.load() != 0; }));
    worker.join();
    EXPECT_EQ(answer.load(), IDYES);
    EXPECT_TRUE(yes.onGui);
    EXPECT_EQ(yes.text, "Are you sure? ");
    // A file name that looks like markup shows as typed.
    BoxAnswerer ok(QMessageBox::Ok);
    const std::string text = "Error opening /tmp/<b>bold</b> <img src=x>.wav";
    EXPECT_EQ(ShowMessage(text), IDOK);
    EXPECT_EQ(ok.text, text);
    EXPECT_TRUE(ok.plain);
}

TEST(ThreadHandOver, CallsRunOnTheGuiThreadInOrderAndNeverAfterTheirContextIsGone) {
    QThread* gui = QThread::currentThread();
    auto context = std::make_unique<QObject>();
    auto doomed = std::make_unique<QObject>();
    constexpr int kPerWorker = 200;
    // Plain vectors, touched only by the calls: the race detector checks that the hand-over orders them.
    std::vector<int> seen[2];
    int offThread = 0, afterDeath = 0;
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

    // The waiting call returns with its result from a worker, and runs at once on the GUI thread.
    int result = 0;
    RunOnGuiThreadAndWait([&] { result = 1; });
    EXPECT_EQ(result, 1);
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        RunOnGuiThreadAndWait([&] { result = QThread::currentThread() == gui ? 42 : -1; });
        returned = true;
    });
    EXPECT_TRUE(WaitFor([&] { return returned.load(); }));
    worker.join();
    EXPECT_EQ(result, 42);
}
