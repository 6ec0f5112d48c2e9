#include "MessageService.h"
#include "TestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>
#include <thread>

TEST(MessageService, RecorderSeesExactTextsAndAnswers) {
    MessageRecorder rec;
    rec.QueueAnswer(IDYES);
    EXPECT_EQ(ShowMessage("Converting task failed!  "), IDOK);
    EXPECT_EQ(ShowMessage("Are you sure? ", MsgButtons::YesNo), IDYES);
    EXPECT_EQ(ShowMessage("Are you sure? ", MsgButtons::YesNo), IDNO);
    EXPECT_EQ(rec.Texts(),
              (std::vector<std::string>{"Converting task failed!  ", "Are you sure? ", "Are you sure? "}));
}

TEST(MessageService, WorkerThreadMessageIsAnsweredOnTheGuiThread) {
    // The real box: a worker asks, the GUI thread shows it, the test presses Yes.
    QThread* guiThread = QThread::currentThread();
    std::atomic<int> answer{0};
    std::atomic<bool> shownOnGui{false};
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (box && box->isVisible()) {
                shownOnGui = box->thread() == guiThread && box->text() == "Are you sure? ";
                box->button(QMessageBox::Yes)->click();
            }
        }
    });
    poll.start(5);
    std::thread worker([&] { answer = ShowMessage("Are you sure? ", MsgButtons::YesNo); });
    EXPECT_TRUE(WaitFor([&] { return answer.load() != 0; }));
    worker.join();
    EXPECT_EQ(answer.load(), IDYES);
    EXPECT_TRUE(shownOnGui);
}

TEST(MessageService, FileNamesThatLookLikeMarkupShowAsTyped) {
    const std::string text = "Error opening /tmp/<b>bold</b> <img src=x>.wav";
    std::atomic<bool> plain{false}, seen{false};
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (box && box->isVisible()) {
                seen = true;
                plain = box->textFormat() == Qt::PlainText && box->text().toStdString() == text;
                box->button(QMessageBox::Ok)->click();
            }
        }
    });
    poll.start(5);
    EXPECT_EQ(ShowMessage(text), IDOK);
    EXPECT_TRUE(seen);
    EXPECT_TRUE(plain);
}
