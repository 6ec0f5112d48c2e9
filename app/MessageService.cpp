#include "MessageService.h"

#include "ThreadHandOver.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <atomic>
#include <cstdio>
#include <mutex>

namespace {

std::mutex g_handlerMutex;
MessageHandler g_handler;
std::atomic<bool> g_noBoxes{false};

int ShowBox(const MessageRequest& req) {
    QWidget* owner = req.owner ? req.owner->window() : DefaultMessageOwner();
    QMessageBox box(owner && owner->isVisible() ? owner : nullptr);
    box.setWindowTitle(QStringLiteral("Quillet"));
    // Texts carry file names; one that looks like markup must show as typed, not as rich text.
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(req.text));
    box.setIcon(req.icon == MsgIcon::Warning    ? QMessageBox::Warning
                : req.icon == MsgIcon::Question ? QMessageBox::Question
                                                : QMessageBox::Information);
    if (req.buttons == MsgButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? IDYES : IDNO;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    QPushButton* show = req.buttons == MsgButtons::OkShowFolder
                            ? box.addButton(QStringLiteral("Show in Folder"), QMessageBox::ActionRole)
                            : nullptr;
    box.exec();
    return show && box.clickedButton() == show ? IDSHOWFOLDER : IDOK;
}

int DefaultHandler(const MessageRequest& req) {
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app || g_noBoxes) {
        // No windows in this process, or no one to answer: the text still reaches the user.
        std::fprintf(stderr, "%s\n", req.text.c_str());
        return req.buttons == MsgButtons::YesNo ? IDNO : IDOK;
    }
    if (QThread::currentThread() == app->thread())
        return ShowBox(req);
    int result = IDOK;
    RunOnGuiThreadAndWait([&] { result = ShowBox(req); });
    return result;
}

} // namespace

QWidget* DefaultMessageOwner() {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return nullptr;
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    if (QWidget* active = QApplication::activeWindow())
        return active;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && (w->windowType() == Qt::Window || w->windowType() == Qt::Dialog) &&
            !w->testAttribute(Qt::WA_ShowWithoutActivating))
            return w;
    }
    return nullptr;
}

int ShowMessage(const std::string& text, MsgButtons buttons, QWidget* owner, MsgIcon icon) {
    MessageHandler handler;
    {
        std::lock_guard lock(g_handlerMutex);
        handler = g_handler;
    }
    MessageRequest req{text, buttons, icon, owner};
    return handler ? handler(req) : DefaultHandler(req);
}

void StopShowingMessageBoxes() {
    g_noBoxes = true;
}

MessageHandler SetMessageHandler(MessageHandler handler) {
    std::lock_guard lock(g_handlerMutex);
    std::swap(g_handler, handler);
    return handler;
}
