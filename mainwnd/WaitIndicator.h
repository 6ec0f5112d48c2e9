#pragma once

#include <QDialog>
#include <QString>
#include <string>

class QLabel;
class QProgressBar;

// The wait indicator: a small captionless window with a text and a constantly moving bar, shown while
// a source file opens. It is a window of the GUI thread, animated by its own timer, without owner (so
// the main window stays usable) and closed only by StopWaitIndicator.

constexpr int IDD_WAIT_DIALOG = 149;
constexpr int IDC_WAIT_TEXT = 1054;
constexpr int IDC_WAIT_PROGRESS = 1045;

class CWaitDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int kTimerId = 1;
    static constexpr int kTimerPeriodMs = 10;
    static constexpr int kBarMax = 10;

    explicit CWaitDlg(const QString& message, QWidget* parent = nullptr);
    ~CWaitDlg() override;

    // Timer 1 moves the bar one step: 1, 2, ..., 10, 0, 1, ...; other ids are ignored.
    void OnTimer(int nIDEvent);

    // Enter and Escape do nothing: only StopWaitIndicator ends the indicator.
    void accept() override {}
    void reject() override {}

    // Lets the window close; StopWaitIndicator calls it before it destroys the window.
    void Finish();

    QString m_strMessage;
    QLabel* m_text;
    QProgressBar* m_progressBar;

protected:
    void timerEvent(QTimerEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    int m_nTimer = 0; // Qt's id of timer 1
    bool m_bFinishing = false;
};

// Shows the indicator with the text. An indicator already showing is replaced. Meant for the GUI
// thread; a call from another thread is passed on to it.
void StartWaitIndicator(const std::string& text);

// Closes and destroys the showing indicator; does nothing when none shows. On the GUI thread the
// window is gone when this returns; from another thread the request is passed on to it.
void StopWaitIndicator();

// The indicator showing now, or nullptr.
CWaitDlg* GetWaitIndicator();
