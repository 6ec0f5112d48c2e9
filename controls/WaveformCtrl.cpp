#include "WaveformCtrl.h"

#include "DrawnSliderCtrl.h"

#include <QActionGroup>
#include <QContextMenuEvent>
#include <QEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace {

const QColor kBackground(24, 28, 36);
const QColor kWave(112, 150, 128);
const QColor kWaveSelected(150, 225, 255);
const QColor kPieceEven(255, 190, 60);
const QColor kPieceOdd(200, 120, 20);
const QColor kPosition(255, 214, 64);
const QColor kCornerText(200, 208, 220);
constexpr double kFloorDb = -60;

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

void CWaveformCtrl::SetZoom(int level) {
    level = std::clamp(level, 0, kMaxZoom);
    if (level == m_nZoom)
        return;
    m_nZoom = level;
    update();
}

void CWaveformCtrl::SetScale(Scale scale) {
    m_scale = scale;
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

bool CWaveformCtrl::Ends(int& left, int& right) const {
    if (!m_pSlider)
        return false;
    const int offset = m_pSlider->mapTo(window(), QPoint(0, 0)).x() - mapTo(window(), QPoint(0, 0)).x();
    left = m_pSlider->PosToPlace(m_pSlider->GetRangeMin()) + offset;
    right = m_pSlider->PosToPlace(m_pSlider->GetRangeMax()) + offset;
    return right > left;
}

bool CWaveformCtrl::FullSpan(double& from, double& to) const {
    if (!m_pSlider)
        return false;
    from = m_pSlider->GetRangeMin() * m_dSecondsPerStep;
    to = m_pSlider->GetRangeMax() * m_dSecondsPerStep;
    return to > from;
}

double CWaveformCtrl::PositionSeconds() const {
    return m_pSlider ? m_pSlider->GetPos() * m_dSecondsPerStep : 0;
}

QString CWaveformCtrl::TimeText(double seconds) const {
    return m_pSlider ? m_pSlider->ValueText(seconds) : QString::number(seconds);
}

bool CWaveformCtrl::VisibleSpan(double& from, double& to) const {
    double t0 = 0, t1 = 0;
    if (!FullSpan(t0, t1))
        return false;
    const double span = (t1 - t0) / std::ldexp(1.0, m_nZoom);
    from = std::clamp(PositionSeconds() - span / 2, t0, t1 - span);
    to = from + span;
    return true;
}

QString CWaveformCtrl::Describe() const {
    const QString scale =
        m_scale == kDecibels ? QStringLiteral("decibel scale") : QStringLiteral("linear scale");
    if (m_nZoom == 0)
        return QStringLiteral("whole file, ") + scale;
    return QStringLiteral("zoomed %1 times, ").arg(1 << m_nZoom) + scale;
}

void CWaveformCtrl::SetPieces(std::vector<std::pair<double, double>> pieces) {
    m_pieces = std::move(pieces);
    update();
}

void CWaveformCtrl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    int left = 0, right = 0;
    double from = 0, to = 0;
    const bool scaled = Ends(left, right) && VisibleSpan(from, to);
    const QRect panel = scaled ? QRect(QPoint(left - 2, 0), QPoint(right + 2, height() - 1)) : rect();
    painter.fillRect(panel, kBackground);
    if (scaled)
        DrawStrip(painter, left, right, from, to);
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 3));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRectF(panel).adjusted(1.5, 1.5, -1.5, -1.5));
    }
}

void CWaveformCtrl::DrawStrip(QPainter& painter, int left, int right, double from, double to) {
    const double pixelsPerSecond = (right - left) / (to - from);
    auto place = [&](double seconds) {
        return left + static_cast<int>(std::floor((seconds - from) * pixelsPerSecond));
    };

    int selFrom = 0, selTo = 0;
    if (m_pSlider->GetSelStart() < m_pSlider->GetSelEnd()) {
        selFrom = std::max(left, place(m_pSlider->GetSelStart() * m_dSecondsPerStep));
        selTo = std::min(right, place(m_pSlider->GetSelEnd() * m_dSecondsPerStep));
        QColor band = m_pSlider->GetSelectionColor();
        band.setAlpha(110);
        if (selFrom < selTo)
            painter.fillRect(QRect(QPoint(selFrom, 0), QPoint(selTo, height() - 1)), band);
    }

    // Pieces: a band along the top, alternating in shade so that neighbours stay apart, and their edges.
    for (size_t k = 0; k < m_pieces.size(); ++k) {
        const int x0 = std::max(left, place(m_pieces[k].first));
        const int x1 = std::min(right, place(std::min(m_pieces[k].second, to)));
        if (x0 >= x1)
            continue;
        painter.fillRect(QRect(QPoint(x0, 0), QPoint(x1, 3)), k % 2 ? kPieceOdd : kPieceEven);
        painter.setPen(kPieceEven);
        painter.drawLine(x0, 0, x0, height() - 1);
    }

    // While it fills in, what has been read so far; once complete, nothing for a file without audio.
    if (m_overview && (!m_overview->IsComplete() || m_overview->HasAudio())) {
        const size_t columns = static_cast<size_t>(right - left);
        m_nShownVersion = m_overview->Version();
        const size_t covered =
            m_overview->Spans(from, (to - from) / static_cast<double>(columns), columns, m_columns);
        const int mid = height() / 2;
        const int half = std::max(1, height() / 2 - 2);
        for (size_t i = 0; i < covered; ++i) {
            const int x = left + static_cast<int>(i);
            int top = 0, bottom = 0;
            if (m_scale == kDecibels) {
                const double peak =
                    std::max(std::abs(int{m_columns[i].lo}), std::abs(int{m_columns[i].hi})) / 32768.0;
                const double db = peak > 0 ? 20 * std::log10(peak) : kFloorDb;
                const int reach = static_cast<int>(half * std::clamp(1 - db / kFloorDb, 0.0, 1.0));
                top = mid - reach;
                bottom = mid + reach;
            } else {
                top = mid - static_cast<int>(m_columns[i].hi * (half / 32768.0));
                bottom = mid - static_cast<int>(m_columns[i].lo * (half / 32768.0));
            }
            painter.setPen(x >= selFrom && x < selTo ? kWaveSelected : kWave);
            painter.drawLine(x, std::min(top, mid), x, std::max(bottom, mid));
        }
    }

    if (m_nZoom > 0) {
        // Where the strip is in the file: the times at its ends, and how far it is zoomed.
        QFont small = font();
        small.setPointSizeF(small.pointSizeF() * 0.85);
        painter.setFont(small);
        painter.setPen(kCornerText);
        const QRect text(QPoint(left + 3, 1), QPoint(right - 3, height() - 2));
        painter.drawText(text, Qt::AlignLeft | Qt::AlignBottom, TimeText(from));
        painter.drawText(text, Qt::AlignRight | Qt::AlignBottom, TimeText(to));
        painter.drawText(text, Qt::AlignRight | Qt::AlignTop, QStringLiteral("%1\u00d7").arg(1 << m_nZoom));
    }

    if (!m_overview)
        return; // no source: no position either
    const int x = place(PositionSeconds());
    painter.setPen(kPosition);
    painter.drawLine(x, 0, x, height() - 1);
}

void CWaveformCtrl::Pick(int x) {
    int left = 0, right = 0;
    double from = 0, to = 0;
    if (!Ends(left, right) || !VisibleSpan(from, to))
        return;
    const double t = from + (std::clamp(x, left, right) - left) * (to - from) / (right - left);
    emit TimePicked(t);
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

void CWaveformCtrl::wheelEvent(QWheelEvent* event) {
    m_nWheelDelta += event->angleDelta().y();
    while (std::abs(m_nWheelDelta) >= 120) {
        const int notch = m_nWheelDelta > 0 ? 1 : -1;
        m_nWheelDelta -= notch * 120;
        SetZoom(m_nZoom + notch);
    }
    event->accept();
}

void CWaveformCtrl::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction(QStringLiteral("Zoom In\t+"), this, [this] { SetZoom(m_nZoom + 1); })
        ->setEnabled(m_nZoom < kMaxZoom);
    menu.addAction(QStringLiteral("Zoom Out\t-"), this, [this] { SetZoom(m_nZoom - 1); })
        ->setEnabled(m_nZoom > 0);
    menu.addAction(QStringLiteral("Whole File"), this, [this] { SetZoom(0); })->setEnabled(m_nZoom > 0);
    menu.addSeparator();
    auto* group = new QActionGroup(&menu);
    for (const auto& [scale, text] : {std::pair{kLinear, "Linear Scale"}, {kDecibels, "Decibel Scale"}}) {
        QAction* action = menu.addAction(QString::fromLatin1(text), this, [this, scale = scale] {
            SetScale(scale);
            emit ScaleChosen(scale);
        });
        action->setCheckable(true);
        action->setChecked(m_scale == scale);
        group->addAction(action);
    }
    // From the keyboard (the menu key) the menu opens at the play position rather than at the corner.
    QPoint at = event->globalPos();
    if (event->reason() == QContextMenuEvent::Keyboard) {
        int left = 0, right = 0;
        at = mapToGlobal(QPoint(Ends(left, right) ? left : 0, height() / 2));
    }
    menu.exec(at);
}

void CWaveformCtrl::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    update();
}

void CWaveformCtrl::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    update();
}
