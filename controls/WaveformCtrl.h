#pragma once

#include "PeakOverview.h"

#include <QBasicTimer>
#include <QWidget>
#include <memory>
#include <vector>

class CDrawnSliderCtrl;

// A strip that draws a peak overview on the time scale of a slider lying under it: the same
// horizontal extent, the slider's selection as the highlighted range and its thumb as the play
// position. It repaints whenever the slider does, and while the overview fills in. A click or a drag
// in it picks a slider position.
class CWaveformCtrl : public QWidget {
    Q_OBJECT
public:
    explicit CWaveformCtrl(QWidget* parent = nullptr);

    // The slider whose scale the strip follows; one slider position stands for secondsPerStep.
    void SetAxis(CDrawnSliderCtrl* slider, double secondsPerStep);
    // What to draw; none draws the empty strip.
    void SetOverview(std::shared_ptr<const CPeakOverview> overview);
    std::shared_ptr<const CPeakOverview> GetOverview() const { return m_overview; }

signals:
    void PositionPicked(int pos);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // x of the slider's channel ends in this widget, and the seconds at each.
    bool Scale(int& left, int& right, double& t0, double& t1) const;
    void Pick(int x);

    CDrawnSliderCtrl* m_pSlider = nullptr;
    double m_dSecondsPerStep = 0.1;
    std::shared_ptr<const CPeakOverview> m_overview;
    QBasicTimer m_fillTimer;
    uint64_t m_nShownVersion = 0;
    std::vector<CPeakOverview::Peak> m_columns;
};
