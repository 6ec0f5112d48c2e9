#pragma once

#include <QLabel>

// The main window's status line: says in words what has just happened (a file opening, playing,
// paused, at its end, a mark set, converting, done, failed), in sight at the bottom of the window and
// to assistive technology. Qt 6.4 has no announcement event, so the line is a status bar whose name is
// its text, and each new text is reported as a change of that name, which screen readers speak for a
// status bar. GUI thread only.
class CAnnouncer : public QLabel {
    Q_OBJECT
public:
    explicit CAnnouncer(QWidget* parent = nullptr);

    // Shows the text and tells assistive technology, also when it is the same text again (a second
    // "Paused" is news too).
    void Announce(const QString& text);
};
