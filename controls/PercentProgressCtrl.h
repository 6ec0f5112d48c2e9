#pragma once

#include <QColor>
#include <QFrame>
#include <QString>
#include <atomic>

// A progress bar that draws itself: a filled part and an empty part in colours of its own, with a
// centred text over both (the percentage "%d%%" unless a text was set), drawn in one colour over the
// filled part and another over the empty part so that it stays readable where the bar passes under it.
// It keeps its own range and position.
//
// The border is the frame of QFrame (none by default); a bordered bar sets a frame style, and the
// bar itself fills the contents rectangle.
//
// Threads: SetPos, OffsetPos, StepIt and GetPos may be called from any thread (an encoder thread reports
// its progress through them). They store the position and, when the filled width in whole pixels
// changes, have the GUI thread repaint the bar: at once when called on the GUI thread, otherwise by a
// queued request (several pending requests collapse into one repaint). They never wait for the GUI
// thread and never touch the widget from another thread. Everything else belongs to the GUI thread.
//
// "Has a window": the bar has one once it belongs to a window, that is once it has a parent widget or
// has been polished or shown as a window of its own. Until then SetPos returns -1 and stores nothing.
class CPercentProgressCtrl : public QFrame {
    Q_OBJECT

public:
    explicit CPercentProgressCtrl(QWidget* parent = nullptr);
    ~CPercentProgressCtrl() override;

    // Stores both bounds; repaints nothing (the next repaint that SetPos asks for shows them).
    void SetRange(int lower, int upper);
    void GetRange(int& lower, int& upper) const;

    // Returns the previous position, or -1 when the bar has no window yet (nothing is stored then).
    int SetPos(int pos);
    int GetPos() const;
    int OffsetPos(int n);
    int StepIt();
    // Returns the previous step.
    int SetStep(int step);

    void SetShowText(bool show);
    bool GetShowText() const { return m_bShowText; }

    // Each setter stores the colour without repainting and returns it.
    QColor SetBarColor(const QColor& color);
    QColor SetBackgroundColor(const QColor& color);
    QColor SetTextColor(const QColor& color);
    QColor SetBarTextColor(const QColor& color);
    QColor GetBarColor() const { return m_crBar; }
    QColor GetBackgroundColor() const { return m_crBackground; }
    QColor GetTextColor() const { return m_crText; }
    QColor GetBarTextColor() const { return m_crTextOnBar; }

    // A custom text replaces the percentage; an empty text brings the percentage back. Setting the text
    // it already has repaints nothing.
    void SetWindowText(const QString& text);
    QString GetWindowText() const { return m_strText; }

    bool HasWindow() const { return m_bHasWindow.load(); }

    QSize sizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void UpdateWindowState();
    void UpdateClientWidth();
    void RequestRepaint();

    std::atomic<int> m_nPos{0};
    std::atomic<int> m_nStep{1};
    std::atomic<int> m_nUpper{100};
    std::atomic<int> m_nLower{0};
    QString m_strText;
    bool m_bShowText = true;
    // Filled width when a repaint was last asked for; -1 forces the next one.
    std::atomic<int> m_nBarWidth{-1};
    QColor m_crBar;
    QColor m_crBackground;
    QColor m_crText;
    QColor m_crTextOnBar;

    // Copies of widget state that other threads may read.
    std::atomic<int> m_nClientWidth{0};
    std::atomic<bool> m_bHasWindow{false};
    std::atomic<bool> m_bRepaintQueued{false};
};
