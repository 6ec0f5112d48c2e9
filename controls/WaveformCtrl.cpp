#include "WaveformCtrl.h"

#include "DrawnSliderCtrl.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

namespace {

const QColor kBackground(24, 28, 36);
const QColor kWave(112, 150, 128);
const QColor kWaveSelected(150, 225, 255);
const QColor kPosition(255, 214, 64);

} // namespace

CWaveformCtrl::CWaveformCtrl(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(false);
}

void CWaveformCtrl::SetAxis(CDrawnSliderCtrl* slider, double secondsPerStep) {
    if (m_pSlider)
        m_pSlider->removeEventFilter(this);
    m_pSlider = slider;
    m_dSecondsPerStep = secondsPerStep;
    if (m_pSlider)
        m_pSlider->installEventFilter(this);
    update();
}

void CWaveformCtrl::SetOverview(std::shared_ptr<const CPeakOverview> overview) {
    m_overview = std::move(overview);
    m_nShownVersion = 0;
    m_columns.clear();
    if (m_overview)
        m_fillTimer.start(100, this);
    else
        m_fillTimer.stop();
    update();
}

bool CWaveformCtrl::eventFilter(QObject* watched, QEvent* event) {
    // Whatever the slider shows anew (position, selection, range, size), the strip shows too.
    if (watched == m_pSlider &&
        (event->type() == QEvent::Paint || event->type() == QEvent::Resize || event->type() == QEvent::Move))
        update();
    return QWidget::eventFilter(watched, event);
}

void CWaveformCtrl::timerEvent(QTimerEvent* event) {
    if (event->timerId() != m_fillTimer.timerId()) {
        QWidget::timerEvent(event);
        return;
    }
    if (!m_overview || m_overview->IsComplete())
        m_fillTimer.stop();
    if (m_overview && m_overview->Version() != m_nShownVersion)
        update();
}

bool CWaveformCtrl::Scale(int& left, int& right, double& t0, double& t1) const {
    if (!m_pSlider)
        return false;
    const int offset = m_pSlider->mapTo(window(), QPoint(0, 0)).x() - mapTo(window(), QPoint(0, 0)).x();
    left = m_pSlider->PosToPlace(m_pSlider->GetRangeMin()) + offset;
    right = m_pSlider->PosToPlace(m_pSlider->GetRangeMax()) + offset;
    t0 = m_pSlider->GetRangeMin() * m_dSecondsPerStep;
    t1 = m_pSlider->GetRangeMax() * m_dSecondsPerStep;
    return right > left && t1 > t0;
}

void CWaveformCtrl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    int left = 0, right = 0;
    double t0 = 0, t1 = 0;
    const bool scaled = Scale(left, right, t0, t1);
    const QRect panel = scaled ? QRect(QPoint(left - 2, 0), QPoint(right + 2, height() - 1)) : rect();
    painter.fillRect(panel, kBackground);
    if (!scaled)
        return;
    const int offset = left - m_pSlider->PosToPlace(m_pSlider->GetRangeMin());

    int selFrom = 0, selTo = 0;
    if (m_pSlider->GetSelStart() < m_pSlider->GetSelEnd()) {
        selFrom = m_pSlider->PosToPlace(m_pSlider->GetSelStart()) + offset;
        selTo = m_pSlider->PosToPlace(m_pSlider->GetSelEnd()) + offset;
        QColor band = m_pSlider->GetSelectionColor();
        band.setAlpha(110);
        painter.fillRect(QRect(QPoint(selFrom, 0), QPoint(selTo, height() - 1)), band);
    }

    // While it fills in, what has been read so far; once complete, nothing for a file without audio.
    if (m_overview && (!m_overview->IsComplete() || m_overview->HasAudio())) {
        const size_t columns = static_cast<size_t>(right - left);
        m_nShownVersion = m_overview->Version();
        const size_t covered =
            m_overview->Spans(t0, (t1 - t0) / static_cast<double>(columns), columns, m_columns);
        const int mid = height() / 2;
        const double scale = std::max(1, height() / 2 - 2) / 32768.0;
        for (size_t i = 0; i < covered; ++i) {
            const int x = left + static_cast<int>(i);
            const int top = mid - static_cast<int>(m_columns[i].hi * scale);
            const int bottom = mid - static_cast<int>(m_columns[i].lo * scale);
            painter.setPen(x >= selFrom && x < selTo ? kWaveSelected : kWave);
            painter.drawLine(x, std::min(top, mid), x, std::max(bottom, mid));
        }
    }

    if (!m_overview)
        return; // no source: no position either
    const int x = m_pSlider->PosToPlace(m_pSlider->GetPos()) + offset;
    painter.setPen(kPosition);
    painter.drawLine(x, 0, x, height() - 1);
}

void CWaveformCtrl::Pick(int x) {
    int left = 0, right = 0;
    double t0 = 0, t1 = 0;
    if (!Scale(left, right, t0, t1))
        return;
    const int offset = left - m_pSlider->PosToPlace(m_pSlider->GetRangeMin());
    emit PositionPicked(m_pSlider->PlaceToPos(x - offset));
}

void CWaveformCtrl::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        Pick(event->position().toPoint().x());
    else
        QWidget::mousePressEvent(event);
}

void CWaveformCtrl::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton)
        Pick(event->position().toPoint().x());
    else
        QWidget::mouseMoveEvent(event);
}
