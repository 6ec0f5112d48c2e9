#pragma once

#include "PeakOverview.h"

#include <QBasicTimer>
#include <QWidget>
#include <memory>
#include <utility>
#include <vector>

class CDrawnSliderCtrl;
class QPainter;

// A strip that draws a peak overview on the time scale of a slider lying under it: the same
// horizontal extent, the slider's selection as the highlighted range and its thumb as the play
// position. It repaints whenever the slider does, and while the overview fills in. A click or a drag
// in it picks a time.
//
// Zoom: level 0 shows the whole file, as the slider does; each level halves the time shown, centred on
// the play position (kept inside the file), so a zoomed strip follows playback while the slider keeps
// the whole file. The wheel zooms; the context menu (also from the keyboard) zooms and chooses the
// scale: linear, or decibels from -60 dB to full scale, which shows quiet passages. When zoomed, the
// times of the strip's two ends and the zoom factor are written in its corners.
//
// GUI thread only. Assistive technology sees a slider whose value is the play position in seconds
// (AccessibleControls.h), described by Describe.
class CWaveformCtrl : public QWidget {
    Q_OBJECT
public:
    enum Scale { kLinear = 0, kDecibels = 1 };
    static constexpr int kMaxZoom = 12;

    explicit CWaveformCtrl(QWidget* parent = nullptr);

    // The slider whose scale the strip follows; one slider position stands for secondsPerStep.
    void SetAxis(CDrawnSliderCtrl* slider, double secondsPerStep);
    // What to draw; none draws the empty strip.
    void SetOverview(std::shared_ptr<const CPeakOverview> overview);
    std::shared_ptr<const CPeakOverview> GetOverview() const { return m_overview; }

    // 0 (the whole file) to kMaxZoom; outside that range it is clamped.
    void SetZoom(int level);
    // The pieces of a multi-piece conversion (seconds), drawn as bands along the top with their edges.
    void SetPieces(std::vector<std::pair<double, double>> pieces);
    int GetZoom() const { return m_nZoom; }
    void SetScale(Scale scale);
    Scale GetScale() const { return m_scale; }

    // The seconds at the strip's left and right ends; false while the slider has no range.
    bool VisibleSpan(double& from, double& to) const;
    // The whole file in seconds (the slider's range), and the play position (its thumb).
    bool FullSpan(double& from, double& to) const;
    double PositionSeconds() const;
    // A time as the slider writes it.
    QString TimeText(double seconds) const;
    // What the strip shows, in words: "whole file, linear scale", "zoomed 4 times, decibel scale".
    QString Describe() const;

signals:
    // The user clicked or dragged to a time, or assistive technology set one.
    void TimePicked(double seconds);
    // The user chose a scale in the menu.
    void ScaleChosen(int scale);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // x of the slider's channel ends in this widget.
    bool Ends(int& left, int& right) const;
    void Pick(int x);
    void DrawStrip(QPainter& painter, int left, int right, double from, double to);

    CDrawnSliderCtrl* m_pSlider = nullptr;
    double m_dSecondsPerStep = 0.1;
    std::shared_ptr<const CPeakOverview> m_overview;
    QBasicTimer m_fillTimer;
    uint64_t m_nShownVersion = 0;
    std::vector<CPeakOverview::Peak> m_columns;
    int m_nZoom = 0;
    Scale m_scale = kLinear;
    int m_nWheelDelta = 0;
    std::vector<std::pair<double, double>> m_pieces;
};
