#include "QuitSignals.h"

#include "ConverterDlg.h"
#include "MessageService.h"
#include "ProcessingDlg.h"

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
int g_pipe[2] = {-1, -1};
volatile sig_atomic_t g_signal = 0;

void RestoreDefaultActions() {
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int sig : kSignals)
        sigaction(sig, &action, nullptr);
}

// Only what is safe in a signal handler: the first signal is noted and wakes the GUI thread. Any
// signal after it ends the program at once, even when the window is too busy to close.
void OnSignal(int sig) {
    RestoreDefaultActions();
    if (g_signal != 0) {
        raise(sig); // delivered with the default action as the handler returns
        return;
    }
    g_signal = sig;
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(g_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

CQuitSignals::CQuitSignals(CConverterDlg& dlg) : m_dlg(dlg) {
    g_signal = 0;
    if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // the signals keep their default action
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier, &QSocketNotifier::activated, m_notifier, [this] {
        char byte;
        while (read(g_pipe[0], &byte, 1) > 0) {
        }
        Quit();
    });
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : kSignals)
        sigaction(sig, &action, nullptr);
}

CQuitSignals::~CQuitSignals() {
    if (!m_notifier)
        return;
    // A signal from now on finds no window to close: it takes its default action again, unless one
    // came already, which ReRaise() then obeys.
    RestoreDefaultActions();
    delete m_notifier;
    close(g_pipe[0]);
    close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void CQuitSignals::ReRaise() {
    if (g_signal != 0)
        raise(g_signal);
}

void CQuitSignals::Quit() {
    StopShowingMessageBoxes();
    // Whatever waits for the user ends first; the modal runs then return in turn, the window's last.
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* processing = qobject_cast<CProcessingDlg*>(widget))
            processing->CancelWithoutAsking();
        else if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
            box->done(QMessageBox::No);
        else if (auto* dialog = qobject_cast<QDialog*>(widget);
                 dialog && dialog != &m_dlg && dialog->isVisible())
            dialog->reject();
    }
    m_dlg.OnExit();
}
