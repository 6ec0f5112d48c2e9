#pragma once

#include <QBasicTimer>
#include <QColor>
#include <QPoint>
#include <QRect>
#include <QWidget>
#include <functional>
#include <vector>

// A horizontal slider (trackbar) that paints its own channel, selection band and thumb in colours the
// owner chooses. Range, position, page and line sizes, automatic and single tick marks and a
// selection range behave as a trackbar's; every keyboard step, page click and thumb movement is
// reported through HScroll, as a trackbar reports scrolling to its parent.
//
// Geometry (pixels, for a slider of width W):
// - The thumb is 21 pixels long and 11 wide ((length / 2) | 1), shorter only when the slider is too
//   low for it. Its top is 10 pixels down when ticks lie above it (top or both sides), else 2.
// - The channel (item) rectangle runs from x = 3 + thumbWidth / 2 to W - 3 - (thumbWidth - thumbWidth / 2),
//   so that the thumb, centred on its position, keeps 3 pixels from either edge. Vertically it is
//   (thumbLength / 4) * 3 high, centred on the thumb (one pixel below the middle).
// - Position p lies at x = channel.left + trunc(channel.width * (p - min) / (max - min)): the thumb is
//   centred there (its left edge is x - thumbWidth / 2), ticks are drawn there, and a mouse x maps back
//   to the nearest position. Painting and mouse handling use the same functions.
// - Ticks: 3 pixels long (4 at both ends of the range) starting 2 pixels away from the thumb.
//
// Keys (as any slider of this desktop): Left and Down a line back, Right and Up a line on, Page Down a
// page back, Page Up a page on, Home and End to the ends. The wheel moves lines.
//
// Assistive technology sees a slider (AccessibleControls.h) whose value is the position times the unit
// of SetValueScale, read as that value's text; moves by the user are announced to it, the owner's
// SetPos (playback moving the thumb ten times a second) is not.
class CDrawnSliderCtrl : public QWidget {
    Q_OBJECT

public:
    // Scroll codes of HScroll: the trackbar's notification codes.
    enum ScrollCode {
        TB_LINEUP = 0,
        TB_LINEDOWN = 1,
        TB_PAGEUP = 2,
        TB_PAGEDOWN = 3,
        TB_THUMBPOSITION = 4,
        TB_THUMBTRACK = 5,
        TB_TOP = 6,
        TB_BOTTOM = 7,
        TB_ENDTRACK = 8,
    };

    // Where the ticks lie, and so where the thumb points: Top (ticks above, thumb pointing up),
    // Bottom (ticks below, pointing down) or Both (ticks on both sides, a rectangular thumb).
    enum class TickSide { Top, Bottom, Both };

    explicit CDrawnSliderCtrl(QWidget* parent = nullptr);

    // The position is kept inside the range. The redraw flags are kept for the callers' sake: the
    // slider always schedules a repaint when something it shows changes.
    void SetRange(int minimum, int maximum, bool redraw = false);
    void SetRangeMin(int minimum, bool redraw = false);
    void SetRangeMax(int maximum, bool redraw = false);
    void GetRange(int& minimum, int& maximum) const;
    int GetRangeMin() const { return m_nMin; }
    int GetRangeMax() const { return m_nMax; }

    // Moves the thumb without reporting a scroll.
    void SetPos(int pos);
    int GetPos() const { return m_nPos; }

    // Each returns the previous size.
    int SetPageSize(int size);
    int GetPageSize() const { return m_nPageSize; }
    int SetLineSize(int size);
    int GetLineSize() const { return m_nLineSize; }

    // Automatic ticks every freq positions from the minimum (0: none); the ends always have one.
    void SetTicFreq(int freq);
    // A single tick; false when the position lies outside the range.
    bool SetTic(int pos);
    void ClearTics(bool redraw = false);
    std::vector<int> GetTics() const { return m_tics; }

    // The selection is kept inside the range; an empty selection (start >= end) draws no band.
    void SetSelection(int start, int end);
    void GetSelection(int& start, int& end) const;
    int GetSelStart() const { return m_nSelStart; }
    int GetSelEnd() const { return m_nSelEnd; }
    void ClearSel(bool redraw = false);

    void SetTickSide(TickSide side);
    TickSide GetTickSide() const { return m_tickSide; }

    // Colours. Setting any of them recomputes the derived thumb and channel colours.
    void SetChannelColor(const QColor& color); // no repaint
    QColor GetChannelColor() const { return m_crChannel; }
    void SetThumbColor(const QColor& color); // repaints at once
    QColor GetThumbColor() const { return m_crThumb; }
    void SetSelectionColor(const QColor& color); // repaints at once
    QColor GetSelectionColor() const { return m_crSelection; }

    // Adds n to each component, leaving unchanged a component that would pass 255.
    static QColor LightenColor(const QColor& color, int n);
    // Subtracts n from each component, leaving unchanged a component smaller than n.
    static QColor DarkenColor(const QColor& color, int n);

    // The channel (item) rectangle and the thumb rectangle at the current position.
    QRect GetChannelRect() const;
    QRect GetThumbRect() const;
    // x of a position, and the position nearest to an x, as the thumb and the mouse use them.
    int PosToPlace(int pos) const;
    int PlaceToPos(int x) const;

    bool IsThumbPressed() const { return m_bDragging; }

    // The value assistive technology reads: unit per position (1 until set) and its text (the number
    // until set).
    void SetValueScale(double unitPerStep, std::function<QString(double value)> text);
    double GetValueUnit() const { return m_dValueUnit; }
    QString ValueText(double value) const;
    // Moves the thumb as the user would (a scroll to the position, then the end of the scroll); false
    // when it is there already. Assistive technology sets the value this way.
    bool ScrollTo(int pos);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // A scroll by the user: code is a ScrollCode, pos the position after the step.
    void HScroll(int code, int pos);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Rect {
        int l, t, r, b;
    };
    struct ThumbColors {
        QColor face, h1, h2, s1, s2;
    };

    int ThumbLength() const;
    int ThumbWidth() const;
    int ThumbTop() const;
    Rect ChannelItem() const;
    Rect ThumbItem() const;
    bool StepBy(int delta, int code);
    bool MoveTo(int pos, int code);
    void PageTowards(const QPoint& point);
    void RecomputeColors();
    ThumbColors ThumbColorsFor(const QColor& face) const;

    class Canvas;
    void DrawChannel(Canvas& canvas) const;
    void DrawTicks(Canvas& canvas) const;
    void DrawThumb(Canvas& canvas) const;

    int m_nMin = 0;
    int m_nMax = 100;
    int m_nPos = 0;
    int m_nPageSize = 20;
    int m_nLineSize = 1;
    int m_nTicFreq = 1;
    std::vector<int> m_tics;
    int m_nSelStart = 0;
    int m_nSelEnd = 0;
    TickSide m_tickSide = TickSide::Top;

    QColor m_crChannel;
    QColor m_crThumb;
    QColor m_crSelection;
    ThumbColors m_thumbColors;
    QColor m_crChannelLight;
    QColor m_crChannelMid;
    QColor m_crChannelDark;

    bool m_bDragging = false;
    int m_nDragOffset = 0;
    bool m_bPaging = false;
    int m_nPageDir = 0; // a held click pages on in the direction of its first step only
    QPoint m_ptMouse;
    QBasicTimer m_pageTimer;
    int m_nWheelDelta = 0;
    bool m_bShowFocusCue = false;
    double m_dValueUnit = 1;
    std::function<QString(double)> m_valueText;
    void AnnounceValue();
};
