#include "PercentProgressCtrl.h"

#include "ThreadHandOver.h"

#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QThread>
#include <climits>
#include <cmath>

namespace {

// Truncates toward zero into the int range; a value that does not fit saturates instead of overflowing.
int TruncToInt(double value) {
    if (std::isnan(value))
        return 0;
    if (value >= static_cast<double>(INT_MAX))
        return INT_MAX;
    if (value <= static_cast<double>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(value);
}

// Width marker for an empty or inverted range: differs from any real width, so leaving or entering
// such a range always repaints.
constexpr int kNoBar = INT_MIN;

} // namespace

CPercentProgressCtrl::CPercentProgressCtrl(QWidget* parent) : QFrame(parent) {
    const QPalette pal = palette();
    m_crBar = pal.color(QPalette::Active, QPalette::Highlight);
    m_crBackground = pal.color(QPalette::Active, QPalette::Base);
    m_crText = pal.color(QPalette::Active, QPalette::Highlight);
    m_crTextOnBar = pal.color(QPalette::Active, QPalette::Base);
    setFrameStyle(QFrame::NoFrame);
    UpdateClientWidth();
    UpdateWindowState();
}

CPercentProgressCtrl::~CPercentProgressCtrl() {
    m_bHasWindow = false;
}

void CPercentProgressCtrl::SetRange(int lower, int upper) {
    m_nLower = lower;
    m_nUpper = upper;
}

void CPercentProgressCtrl::GetRange(int& lower, int& upper) const {
    lower = m_nLower;
    upper = m_nUpper;
}

int CPercentProgressCtrl::SetPos(int pos) {
    if (!m_bHasWindow)
        return -1;
    const int previous = m_nPos.exchange(pos);
    const int lower = m_nLower;
    const int upper = m_nUpper;
    // In double precision throughout: the difference of two extreme ints does not fit an int.
    const double range = static_cast<double>(upper) - static_cast<double>(lower);
    const int width =
        range > 0 ? TruncToInt((static_cast<double>(pos) - lower) / range * m_nClientWidth.load()) : kNoBar;
    if (m_nBarWidth.exchange(width) != width)
        RequestRepaint();
    return previous;
}

int CPercentProgressCtrl::GetPos() const {
    return m_nPos;
}

int CPercentProgressCtrl::OffsetPos(int n) {
    return SetPos(static_cast<int>(static_cast<unsigned>(m_nPos.load()) + static_cast<unsigned>(n)));
}

int CPercentProgressCtrl::StepIt() {
    return OffsetPos(m_nStep);
}

int CPercentProgressCtrl::SetStep(int step) {
    return m_nStep.exchange(step);
}

void CPercentProgressCtrl::SetShowText(bool show) {
    if (m_bHasWindow && show != m_bShowText)
        update();
    m_bShowText = show;
}

QColor CPercentProgressCtrl::SetBarColor(const QColor& color) {
    return m_crBar = color;
}

QColor CPercentProgressCtrl::SetBackgroundColor(const QColor& color) {
    return m_crBackground = color;
}

QColor CPercentProgressCtrl::SetTextColor(const QColor& color) {
    return m_crText = color;
}

QColor CPercentProgressCtrl::SetBarTextColor(const QColor& color) {
    return m_crTextOnBar = color;
}

void CPercentProgressCtrl::SetWindowText(const QString& text) {
    if (text == m_strText)
        return;
    m_strText = text;
    update();
}

QSize CPercentProgressCtrl::sizeHint() const {
    const int frame = 2 * frameWidth();
    return {100 + frame, fontMetrics().height() + 4 + frame};
}

bool CPercentProgressCtrl::event(QEvent* event) {
    switch (event->type()) {
    case QEvent::ParentChange:
    case QEvent::Polish:
    case QEvent::Show:
        UpdateWindowState();
        break;
    case QEvent::ContentsRectChange:
        UpdateClientWidth();
        break;
    default:
        break;
    }
    return QFrame::event(event);
}

void CPercentProgressCtrl::changeEvent(QEvent* event) {
    QFrame::changeEvent(event);
    if (event->type() == QEvent::StyleChange)
        UpdateClientWidth();
}

void CPercentProgressCtrl::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    UpdateClientWidth();
}

void CPercentProgressCtrl::UpdateWindowState() {
    if (parentWidget() || testAttribute(Qt::WA_WState_Polished) || isVisible())
        m_bHasWindow = true;
}

void CPercentProgressCtrl::UpdateClientWidth() {
    m_nClientWidth = contentsRect().width();
    // A new size must show at the next SetPos even when the position stays.
    m_nBarWidth = -1;
}

void CPercentProgressCtrl::RequestRepaint() {
    if (QThread::currentThread() == thread()) {
        repaint();
        return;
    }
    if (m_bRepaintQueued.exchange(true))
        return;
    PostToGuiThread(this, [this] {
        m_bRepaintQueued = false;
        repaint();
    });
}

void CPercentProgressCtrl::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    drawFrame(&painter);

    const int lower = m_nLower;
    const int upper = m_nUpper;
    if (lower >= upper)
        return;
    const double fraction = (static_cast<double>(m_nPos.load()) - lower) /
                            (static_cast<double>(upper) - static_cast<double>(lower));

    const QRect client = contentsRect();
    painter.setClipRegion(event->region().intersected(client));
    // The split may lie outside the client area (position outside the range): the fills stop at its edges.
    const double splitX = client.left() + std::trunc(client.width() * fraction);
    const int split = static_cast<int>(std::clamp(splitX, static_cast<double>(client.left()),
                                                  static_cast<double>(client.left() + client.width())));
    const QRect filled(client.left(), client.top(), split - client.left(), client.height());
    const QRect empty(split, client.top(), client.left() + client.width() - split, client.height());
    painter.fillRect(filled, m_crBar);
    painter.fillRect(empty, m_crBackground);

    if (!m_bShowText)
        return;
    const QString text =
        m_strText.isEmpty() ? QString::asprintf("%d%%", TruncToInt(fraction * 100.0)) : m_strText;
    const int flags = Qt::AlignCenter | Qt::TextSingleLine;
    painter.save();
    painter.setClipRect(filled, Qt::IntersectClip);
    painter.setPen(m_crTextOnBar);
    painter.drawText(client, flags, text);
    painter.restore();
    painter.setClipRect(empty, Qt::IntersectClip);
    painter.setPen(m_crText);
    painter.drawText(client, flags, text);
}
