#pragma once

class CConverterDlg;
class QSocketNotifier;

// SIGTERM (a session ending, a service manager, kill), SIGINT and SIGHUP close the window as its Exit
// does, so that the settings are saved and a running conversion is cancelled as by its Cancel button
// (the temporary WAV removed) rather than lost with the process. Once the window has closed,
// ReRaise() ends the process with the signal, so that whoever sent it sees it obeyed. The first signal
// gives the three their default action back: a second one ends the program at once, even while the
// window is too busy to close.
class CQuitSignals {
public:
    explicit CQuitSignals(CConverterDlg& dlg);
    ~CQuitSignals();
    CQuitSignals(const CQuitSignals&) = delete;
    CQuitSignals& operator=(const CQuitSignals&) = delete;

    // Does nothing when no signal came.
    static void ReRaise();

private:
    void Quit();

    CConverterDlg& m_dlg;
    QSocketNotifier* m_notifier = nullptr;
};
