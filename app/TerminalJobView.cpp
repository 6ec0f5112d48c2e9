#include "TerminalJobView.h"

#include <algorithm>

namespace {

std::string TrimRight(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\n'))
        s.pop_back();
    return s;
}

} // namespace

CTerminalJobView::CTerminalJobView(FILE* out, bool interactive, bool quiet)
    : m_out(out), m_interactive(interactive), m_quiet(quiet) {
    // The encoder thread only stores its position; drawing happens here, a few times a second.
    m_redraw.setInterval(interactive ? 100 : 250);
    connect(&m_redraw, &QTimer::timeout, this, &CTerminalJobView::Draw);
    if (!quiet)
        m_redraw.start();
}

CTerminalJobView::~CTerminalJobView() {
    Finish();
}

void CTerminalJobView::SetCaption(const std::string& text) {
    if (!m_quiet)
        std::fprintf(m_out, "%s%s\n", m_label.c_str(), TrimRight(text).c_str());
}

void CTerminalJobView::SetStep(const std::string& text) {
    // A new step counts from its start, not from where the last one ended.
    if (!m_step.empty() && m_label + TrimRight(text) != m_step)
        m_pos = m_lower;
    m_step = m_label + TrimRight(text);
    Draw();
}

void CTerminalJobView::SetElapsed(const std::string& text) {
    m_elapsed = text;
}

void CTerminalJobView::SetTimeLeft(const std::string& text) {
    m_timeLeft = text;
}

void CTerminalJobView::SetProgressRange(int lower, int upper) {
    m_lower = lower;
    m_upper = upper;
}

void CTerminalJobView::SetProgressPos(int pos) {
    m_pos = pos;
}

int CTerminalJobView::Percent(int lower, int upper, int pos) {
    if (lower >= upper)
        return -1;
    return static_cast<int>(static_cast<double>(pos - lower) / (static_cast<double>(upper) - lower) * 100.0);
}

void CTerminalJobView::Draw() {
    if (m_quiet || m_step.empty())
        return;
    // The window's bar may run past 100 (step 2 starts from step 1's byte count against its own
    // per-mille range); a terminal line saying 650% would only alarm.
    const int percent = std::min(Percent(m_lower, m_upper, m_pos.load()), 100);
    if (m_interactive) {
        constexpr int kWidth = 30;
        const int filled = std::max(percent, 0) * kWidth / 100;
        std::fprintf(m_out, "\r%s [%s%s] %3d%% %s%s%s\x1b[K", m_step.c_str(),
                     std::string(filled, '#').c_str(), std::string(kWidth - filled, '.').c_str(),
                     std::max(percent, 0), m_elapsed.c_str(), m_timeLeft.empty() ? "" : "  ",
                     m_timeLeft.c_str());
        m_lineOpen = true;
    } else {
        // A line per step and per tenth of it, so logs stay short.
        const int tenth = percent < 0 ? -1 : percent / 10 * 10;
        if (m_step == m_lastPlainStep && tenth == m_lastPlainPercent)
            return;
        m_lastPlainStep = m_step;
        m_lastPlainPercent = tenth;
        std::fprintf(m_out, "%s %d%%\n", m_step.c_str(), std::max(tenth, 0));
    }
    std::fflush(m_out);
}

void CTerminalJobView::Finish() {
    if (!m_redraw.isActive())
        return;
    m_redraw.stop();
    Draw(); // where the job ended
    if (m_lineOpen) {
        std::fprintf(m_out, "\n");
        std::fflush(m_out);
        m_lineOpen = false;
    }
}
