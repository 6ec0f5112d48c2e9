#pragma once

#include "JobFrame.h"

#include <QObject>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

// Presents a job in a terminal: a redrawn progress line on a terminal, plain lines otherwise.
class CTerminalJobView : public QObject, public IJobView {
    Q_OBJECT
public:
    CTerminalJobView(FILE* out, bool interactive, bool quiet);
    ~CTerminalJobView() override;

    void SetCaption(const std::string& text) override;
    void SetStep(const std::string& text) override;
    void SetElapsed(const std::string& text) override;
    void SetProgressRange(int lower, int upper) override;
    void SetProgressPos(int pos) override; // any thread: only stores
    void SetTimeLeft(const std::string& text) override;

    // Draws the final state and ends the progress line.
    void Finish();
    // Put in front of the caption and the progress lines, so that lines of conversions running side
    // by side say which source they belong to.
    void SetLabel(const std::string& label) { m_label = label; }

    // The percentage the progress bar of the window would show, truncated; -1 for an empty range.
    static int Percent(int lower, int upper, int pos);

private:
    void Draw();

    FILE* m_out;
    bool m_interactive;
    bool m_quiet;
    QTimer m_redraw;
    std::string m_label;
    std::string m_step;
    std::string m_elapsed;
    std::string m_timeLeft;
    int m_lower = 0;
    int m_upper = 100;
    std::atomic<int> m_pos{0};
    int m_lastPlainPercent = -1;
    std::string m_lastPlainStep;
    bool m_lineOpen = false;
};
