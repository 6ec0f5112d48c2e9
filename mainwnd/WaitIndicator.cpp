#include "WaitIndicator.h"

#include "DialogUnits.h"
#include "ThreadHandOver.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QProgressBar>
#include <QScreen>
#include <QThread>
#include <QTimerEvent>
#include <QWindow>

namespace {

constexpr int kFrame = 2; // the raised edge of a dialog frame, drawn around the template's area

QPointer<CWaitDlg> g_pWaitDlg;

bool OnGuiThread() {
    return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}

bool HasGui() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

} // namespace

CWaitDlg::CWaitDlg(const QString& message, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), m_strMessage(message) {
    setObjectName(QString::number(IDD_WAIT_DIALOG));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setModal(false);
    const QFont font = DialogFont();
    setFont(font);
    const QPoint origin(kFrame, kFrame);
    setFixedSize(DluSizeToPixels(font, 186, 25) + QSize(2 * kFrame, 2 * kFrame));

    m_text = new QLabel(QStringLiteral("Static"), this);
    m_text->setObjectName(QString::number(IDC_WAIT_TEXT));
    m_text->setGeometry(DluToPixels(font, 7, 2, 172, 8).translated(origin));

    m_progressBar = new QProgressBar(this);
    m_progressBar->setObjectName(QString::number(IDC_WAIT_PROGRESS));
    m_progressBar->setGeometry(DluToPixels(font, 7, 12, 172, 8).translated(origin));
    m_progressBar->setTextVisible(false);

    // What the dialog's initialisation does.
    m_progressBar->setRange(0, kBarMax);
    m_progressBar->setValue(1);
    m_text->setText(m_strMessage);
    m_nTimer = startTimer(kTimerPeriodMs);

    // No owner: centred over the window the user works in, else on the screen.
    const QWidget* over = QApplication::activeWindow();
    if (!over) {
        for (const QWidget* w : QApplication::topLevelWidgets())
            if (w != this && w->isVisible() && !qobject_cast<const CWaitDlg*>(w) && w->isWindow() &&
                w->windowType() != Qt::ToolTip) {
                over = w;
                break;
            }
    }
    const QRect area = over ? over->frameGeometry()
                            : (QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->geometry()
                                                                : QRect(0, 0, 800, 600));
    move(area.center() - rect().center());
    // Attached to that window, so that desktops which place windows themselves (Wayland) show it there.
    if (over && over->windowHandle()) {
        winId();
        windowHandle()->setTransientParent(over->windowHandle());
    }
}

CWaitDlg::~CWaitDlg() {
    if (m_nTimer)
        killTimer(m_nTimer);
}

void CWaitDlg::OnTimer(int nIDEvent) {
    if (nIDEvent != kTimerId)
        return;
    int next = m_progressBar->value() + 1;
    if (next > kBarMax)
        next = 0;
    m_progressBar->setValue(next);
}

void CWaitDlg::timerEvent(QTimerEvent* event) {
    if (event->timerId() == m_nTimer)
        OnTimer(kTimerId);
    else
        QDialog::timerEvent(event);
}

void CWaitDlg::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void CWaitDlg::closeEvent(QCloseEvent* event) {
    if (!m_bFinishing) {
        event->ignore();
        return;
    }
    if (m_nTimer) {
        killTimer(m_nTimer);
        m_nTimer = 0;
    }
    QDialog::closeEvent(event);
}

void CWaitDlg::Finish() {
    m_bFinishing = true;
    close();
}

void CWaitDlg::paintEvent(QPaintEvent*) {
    // The raised two-pixel edge of a dialog frame.
    QPainter p(this);
    const QPalette& pal = palette();
    const QRect r = rect();
    auto edge = [&](const QRect& e, const QColor& topLeft, const QColor& bottomRight) {
        p.fillRect(e.left(), e.top(), e.width() - 1, 1, topLeft);
        p.fillRect(e.left(), e.top(), 1, e.height() - 1, topLeft);
        p.fillRect(e.right(), e.top(), 1, e.height(), bottomRight);
        p.fillRect(e.left(), e.bottom(), e.width(), 1, bottomRight);
    };
    edge(r, pal.color(QPalette::Midlight), pal.color(QPalette::Shadow));
    edge(r.adjusted(1, 1, -1, -1), pal.color(QPalette::Light), pal.color(QPalette::Dark));
}

void StartWaitIndicator(const std::string& text) {
    if (!HasGui())
        return;
    if (!OnGuiThread()) {
        PostToGuiThread(qApp, [text] { StartWaitIndicator(text); });
        return;
    }
    // A second start replaces the indicator that shows, so no window is left without a way to stop it.
    StopWaitIndicator();
    auto* dlg = new CWaitDlg(QString::fromStdString(text));
    g_pWaitDlg = dlg;
    dlg->show();
}

void StopWaitIndicator() {
    if (!HasGui())
        return;
    if (!OnGuiThread()) {
        PostToGuiThread(qApp, [] { StopWaitIndicator(); });
        return;
    }
    CWaitDlg* dlg = g_pWaitDlg;
    if (!dlg)
        return;
    g_pWaitDlg = nullptr;
    dlg->Finish();
    delete dlg;
}

CWaitDlg* GetWaitIndicator() {
    return g_pWaitDlg;
}
