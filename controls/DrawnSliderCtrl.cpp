#include "DrawnSliderCtrl.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTimerEvent>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <initializer_list>

namespace {

const QColor kBackground(236, 236, 236);
constexpr int kShade = 51;
constexpr int kFullThumbLength = 21;
constexpr int kTickSpace = 10; // room for ticks and their gap beside the thumb
constexpr int kEdgeSpace = 2;  // room beside the thumb where there are no ticks
constexpr int kSideMargin = 3;
constexpr int kPageDelayMs = 400;
constexpr int kPageRepeatMs = 100;

// Per component: a + ((b - a) >> 1), with an arithmetic shift.
QColor HalfWay(const QColor& a, const QColor& b) {
    auto mix = [](int x, int y) { return x + ((y - x) >> 1); };
    return QColor(mix(a.red(), b.red()), mix(a.green(), b.green()), mix(a.blue(), b.blue()));
}

QColor SystemColor(const QWidget* w, QPalette::ColorRole role) {
    return w->palette().color(QPalette::Active, role);
}

long long Clamp64(long long v, long long lo, long long hi) {
    return std::min(std::max(v, lo), hi);
}

} // namespace

// Pixel drawing with the rules the thumb and channel are drawn by: lines include their first
// point and exclude their last, rectangles exclude their right and bottom edges.
class CDrawnSliderCtrl::Canvas {
public:
    explicit Canvas(QSize size) : m_image(size, QImage::Format_RGB32) {}

    QImage& Image() { return m_image; }

    void Pixel(int x, int y, const QColor& c) {
        if (x >= 0 && y >= 0 && x < m_image.width() && y < m_image.height())
            m_image.setPixel(x, y, c.rgb());
    }

    // The pixels of a line from a up to but not including b.
    static void LinePixels(QPoint a, QPoint b, std::vector<QPoint>& out) {
        const int dx = std::abs(b.x() - a.x()), dy = std::abs(b.y() - a.y());
        const int sx = a.x() < b.x() ? 1 : -1, sy = a.y() < b.y() ? 1 : -1;
        int err = dx - dy;
        int x = a.x(), y = a.y();
        while (x != b.x() || y != b.y()) {
            out.push_back({x, y});
            const int e2 = 2 * err;
            if (e2 > -dy) {
                err -= dy;
                x += sx;
            }
            if (e2 < dx) {
                err += dx;
                y += sy;
            }
        }
    }

    static std::vector<QPoint> PolylinePixels(std::initializer_list<QPoint> points) {
        std::vector<QPoint> out;
        const QPoint* prev = nullptr;
        for (const QPoint& p : points) {
            if (prev)
                LinePixels(*prev, p, out);
            prev = &p;
        }
        return out;
    }

    // Outline of a rectangle with 2 by 2 corners: its corner pixels stay out.
    static std::vector<QPoint> RoundFramePixels(const Rect& r) {
        std::vector<QPoint> out;
        LinePixels({r.l + 1, r.t}, {r.r - 1, r.t}, out);
        LinePixels({r.l + 1, r.b - 1}, {r.r - 1, r.b - 1}, out);
        LinePixels({r.l, r.t + 1}, {r.l, r.b - 1}, out);
        LinePixels({r.r - 1, r.t + 1}, {r.r - 1, r.b - 1}, out);
        return out;
    }

    void Pixels(const std::vector<QPoint>& pixels, const QColor& c) {
        for (const QPoint& p : pixels)
            Pixel(p.x(), p.y(), c);
    }

    void Line(QPoint a, QPoint b, const QColor& c) {
        std::vector<QPoint> pixels;
        LinePixels(a, b, pixels);
        Pixels(pixels, c);
    }

    void Polyline(std::initializer_list<QPoint> points, const QColor& c) {
        Pixels(PolylinePixels(points), c);
    }

    void Fill(const Rect& r, const QColor& c) {
        for (int y = std::max(r.t, 0); y < std::min(r.b, m_image.height()); ++y)
            for (int x = std::max(r.l, 0); x < std::min(r.r, m_image.width()); ++x)
                m_image.setPixel(x, y, c.rgb());
    }

    // Top and left in one colour, right and bottom in the other, one pixel wide.
    void Frame3d(const Rect& r, const QColor& topLeft, const QColor& bottomRight) {
        Fill({r.l, r.t, r.r - 1, r.t + 1}, topLeft);
        Fill({r.l, r.t, r.l + 1, r.b - 1}, topLeft);
        Fill({r.r - 1, r.t, r.r, r.b}, bottomRight);
        Fill({r.l, r.b - 1, r.r, r.b}, bottomRight);
    }

    // Fills, inside the bounds, the 4-connected area around the seed that the outline encloses. The
    // outline is given as pixels, so a fill colour that happens to match what lies beneath cannot leak.
    void FloodFill(const Rect& bounds, QPoint seed, const std::vector<QPoint>& outline, const QColor& fill) {
        const int w = bounds.r - bounds.l, h = bounds.b - bounds.t;
        if (w <= 0 || h <= 0)
            return;
        auto index = [&](QPoint p) {
            return static_cast<size_t>((p.y() - bounds.t) * w + (p.x() - bounds.l));
        };
        auto inside = [&](QPoint p) {
            return p.x() >= bounds.l && p.y() >= bounds.t && p.x() < bounds.r && p.y() < bounds.b;
        };
        std::vector<char> done(static_cast<size_t>(w * h), 0);
        for (const QPoint& p : outline)
            if (inside(p))
                done[index(p)] = 1;
        std::vector<QPoint> stack{seed};
        while (!stack.empty()) {
            const QPoint p = stack.back();
            stack.pop_back();
            if (!inside(p) || done[index(p)])
                continue;
            done[index(p)] = 1;
            Pixel(p.x(), p.y(), fill);
            stack.push_back({p.x() + 1, p.y()});
            stack.push_back({p.x() - 1, p.y()});
            stack.push_back({p.x(), p.y() + 1});
            stack.push_back({p.x(), p.y() - 1});
        }
    }

private:
    QImage m_image;
};

CDrawnSliderCtrl::CDrawnSliderCtrl(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_crChannel = SystemColor(this, QPalette::Base);
    m_crThumb = SystemColor(this, QPalette::Button);
    m_crSelection = SystemColor(this, QPalette::Highlight);
    RecomputeColors();
}

// ---- range, position, ticks, selection

void CDrawnSliderCtrl::SetRange(int minimum, int maximum, bool redraw) {
    m_nMin = minimum;
    m_nMax = maximum;
    m_nPos = static_cast<int>(Clamp64(m_nPos, m_nMin, std::max(m_nMin, m_nMax)));
    Q_UNUSED(redraw);
    update();
}

void CDrawnSliderCtrl::SetRangeMin(int minimum, bool redraw) {
    SetRange(minimum, m_nMax, redraw);
}

void CDrawnSliderCtrl::SetRangeMax(int maximum, bool redraw) {
    SetRange(m_nMin, maximum, redraw);
}

void CDrawnSliderCtrl::GetRange(int& minimum, int& maximum) const {
    minimum = m_nMin;
    maximum = m_nMax;
}

void CDrawnSliderCtrl::SetPos(int pos) {
    const int clamped = static_cast<int>(Clamp64(pos, m_nMin, std::max(m_nMin, m_nMax)));
    if (clamped == m_nPos)
        return;
    m_nPos = clamped;
    update();
}

int CDrawnSliderCtrl::SetPageSize(int size) {
    return std::exchange(m_nPageSize, size);
}

int CDrawnSliderCtrl::SetLineSize(int size) {
    return std::exchange(m_nLineSize, size);
}

void CDrawnSliderCtrl::SetTicFreq(int freq) {
    m_nTicFreq = freq;
    update();
}

bool CDrawnSliderCtrl::SetTic(int pos) {
    if (pos < m_nMin || pos > m_nMax)
        return false;
    m_tics.push_back(pos);
    update();
    return true;
}

void CDrawnSliderCtrl::ClearTics(bool redraw) {
    Q_UNUSED(redraw);
    m_tics.clear();
    update();
}

void CDrawnSliderCtrl::SetSelection(int start, int end) {
    m_nSelStart = std::max(start, m_nMin);
    m_nSelEnd = std::min(end, m_nMax);
    update();
}

void CDrawnSliderCtrl::GetSelection(int& start, int& end) const {
    start = m_nSelStart;
    end = m_nSelEnd;
}

void CDrawnSliderCtrl::ClearSel(bool redraw) {
    Q_UNUSED(redraw);
    m_nSelStart = m_nSelEnd = 0;
    update();
}

void CDrawnSliderCtrl::SetTickSide(TickSide side) {
    m_tickSide = side;
    update();
}

// ---- colours

QColor CDrawnSliderCtrl::LightenColor(const QColor& color, int n) {
    auto up = [n](int c) { return c + n > 255 ? c : c + n; };
    return QColor(up(color.red()), up(color.green()), up(color.blue()));
}

QColor CDrawnSliderCtrl::DarkenColor(const QColor& color, int n) {
    auto down = [n](int c) { return c < n ? c : c - n; };
    return QColor(down(color.red()), down(color.green()), down(color.blue()));
}

CDrawnSliderCtrl::ThumbColors CDrawnSliderCtrl::ThumbColorsFor(const QColor& face) const {
    ThumbColors c;
    c.face = face;
    c.h1 = LightenColor(face, kShade);
    c.h2 = LightenColor(c.h1, kShade);
    c.s1 = DarkenColor(face, kShade);
    c.s2 = DarkenColor(c.s1, kShade);
    return c;
}

void CDrawnSliderCtrl::RecomputeColors() {
    m_thumbColors = ThumbColorsFor(m_crThumb);
    m_crChannelLight = SystemColor(this, QPalette::Light);
    m_crChannelMid = HalfWay(SystemColor(this, QPalette::Button), SystemColor(this, QPalette::Dark));
    m_crChannelDark = HalfWay(SystemColor(this, QPalette::Dark), SystemColor(this, QPalette::Shadow));
}

void CDrawnSliderCtrl::SetChannelColor(const QColor& color) {
    m_crChannel = color;
    RecomputeColors();
}

void CDrawnSliderCtrl::SetThumbColor(const QColor& color) {
    m_crThumb = color;
    RecomputeColors();
    repaint();
}

void CDrawnSliderCtrl::SetSelectionColor(const QColor& color) {
    m_crSelection = color;
    RecomputeColors();
    repaint();
}

// ---- geometry

int CDrawnSliderCtrl::ThumbTop() const {
    return m_tickSide == TickSide::Bottom ? kEdgeSpace : kTickSpace;
}

int CDrawnSliderCtrl::ThumbLength() const {
    const int below = m_tickSide == TickSide::Top ? kEdgeSpace : kTickSpace;
    return std::clamp(height() - ThumbTop() - below, 7, kFullThumbLength);
}

int CDrawnSliderCtrl::ThumbWidth() const {
    return (ThumbLength() / 2) | 1;
}

CDrawnSliderCtrl::Rect CDrawnSliderCtrl::ChannelItem() const {
    const int len = ThumbLength(), tw = ThumbWidth();
    const int cy = (len / 4) * 3;
    const int top = ThumbTop() + (len - cy + 2) / 2;
    const int left = kSideMargin + tw / 2;
    const int right = std::max(left, width() - kSideMargin - (tw - tw / 2));
    return {left, top, right, top + cy};
}

int CDrawnSliderCtrl::PosToPlace(int pos) const {
    const Rect ch = ChannelItem();
    const double range = static_cast<double>(m_nMax) - m_nMin;
    if (range <= 0)
        return ch.l;
    const double offset = (static_cast<double>(pos) - m_nMin) * (ch.r - ch.l) / range;
    return ch.l + static_cast<int>(std::clamp(std::trunc(offset), -1e6, 1e6));
}

int CDrawnSliderCtrl::PlaceToPos(int x) const {
    const Rect ch = ChannelItem();
    const double range = static_cast<double>(m_nMax) - m_nMin;
    if (range <= 0 || ch.r <= ch.l)
        return m_nMin;
    const double pos = m_nMin + std::floor(static_cast<double>(x - ch.l) * range / (ch.r - ch.l) + 0.5);
    return static_cast<int>(std::clamp(pos, static_cast<double>(m_nMin), static_cast<double>(m_nMax)));
}

CDrawnSliderCtrl::Rect CDrawnSliderCtrl::ThumbItem() const {
    const int tw = ThumbWidth();
    const int left = PosToPlace(m_nPos) - tw / 2;
    return {left, ThumbTop(), left + tw, ThumbTop() + ThumbLength()};
}

QRect CDrawnSliderCtrl::GetChannelRect() const {
    const Rect r = ChannelItem();
    return {r.l, r.t, r.r - r.l, r.b - r.t};
}

QRect CDrawnSliderCtrl::GetThumbRect() const {
    const Rect r = ThumbItem();
    return {r.l, r.t, r.r - r.l, r.b - r.t};
}

QSize CDrawnSliderCtrl::sizeHint() const {
    const int below = m_tickSide == TickSide::Top ? kEdgeSpace : kTickSpace;
    return {200, ThumbTop() + kFullThumbLength + below};
}

QSize CDrawnSliderCtrl::minimumSizeHint() const {
    return {2 * kSideMargin + kFullThumbLength, sizeHint().height()};
}

// ---- painting

void CDrawnSliderCtrl::DrawChannel(Canvas& canvas) const {
    const Rect item = ChannelItem();
    const QColor fill = isEnabled() ? m_crChannel : SystemColor(this, QPalette::Button);
    Rect r = item;
    if (m_nMin != 0 || m_nMax != 0) {
        r.t += 1;
        r.b -= 1;
    }
    r.l += 1;
    r.r -= 1;
    r.b -= 1;
    if (r.b - r.t > 3) {
        canvas.Fill({r.l + 1, r.t + 1, r.r - 1, r.b - 1}, fill);
        canvas.Pixels(Canvas::RoundFramePixels(r), m_crChannelDark);
    }
    r.l -= 1;
    r.t -= 1;
    r.r += 1;
    canvas.Polyline({{r.l, r.b - 2}, {r.l, r.t + 2}, {r.l + 2, r.t}, {r.r - 2, r.t}}, m_crChannelMid);
    canvas.Polyline({{r.l + 1, r.b - 1},
                     {r.l + 2, r.b},
                     {r.r - 2, r.b},
                     {r.r - 2, r.b - 1},
                     {r.r - 1, r.b - 1},
                     {r.r - 1, r.t + 2},
                     {r.r - 3, r.t}},
                    m_crChannelLight);

    if (m_nSelStart < m_nSelEnd && m_nMax > m_nMin) {
        const double extent = item.r - item.l;
        const double range = static_cast<double>(m_nMax) - m_nMin;
        const int a =
            static_cast<int>(std::trunc(extent * (static_cast<double>(m_nSelStart) - m_nMin) / range));
        const int b =
            static_cast<int>(std::trunc(extent * (static_cast<double>(m_nSelEnd) - m_nMin) / range));
        Rect band{item.l + a, item.t, item.l + b, item.b};
        band.l += 2;
        band.t += 2;
        band.r -= 2;
        band.b -= 1;
        // A range changed after the selection was set must not paint outside the channel.
        band.l = std::max(band.l, item.l);
        band.r = std::min(band.r, item.r);
        canvas.Fill(band, m_crSelection);
    }
}

void CDrawnSliderCtrl::DrawTicks(Canvas& canvas) const {
    const QColor color = SystemColor(this, QPalette::WindowText);
    const Rect thumb = ThumbItem();
    const bool above = m_tickSide != TickSide::Bottom;
    const bool below = m_tickSide != TickSide::Top;
    auto tick = [&](int x, int length) {
        if (above)
            canvas.Line({x, thumb.t - 2}, {x, thumb.t - 2 - length}, color);
        if (below)
            canvas.Line({x, thumb.b + 1}, {x, thumb.b + 1 + length}, color);
    };

    if (m_nTicFreq > 0 && m_nMax > m_nMin) {
        const long long range = static_cast<long long>(m_nMax) - m_nMin;
        const Rect ch = ChannelItem();
        if (range / m_nTicFreq > ch.r - ch.l) {
            // More ticks than pixels: every column carries one.
            for (int x = ch.l; x < ch.r; ++x)
                tick(x, 3);
        } else {
            for (long long p = static_cast<long long>(m_nMin) + m_nTicFreq; p < m_nMax; p += m_nTicFreq)
                tick(PosToPlace(static_cast<int>(p)), 3);
        }
    }
    for (int p : m_tics)
        tick(PosToPlace(p), 3);
    tick(PosToPlace(m_nMin), 4);
    tick(PosToPlace(m_nMax), 4);
}

void CDrawnSliderCtrl::DrawThumb(Canvas& canvas) const {
    Rect r = ThumbItem();
    const int w = r.r - r.l;
    const int e = w / 2;
    const QColor frame = SystemColor(this, QPalette::WindowText); // the window-frame colour
    // A pressed thumb is drawn with a darker face and colours derived from it.
    const ThumbColors c = m_bDragging ? ThumbColorsFor(DarkenColor(m_crThumb, kShade)) : m_thumbColors;
    const int L = r.l, T = r.t, R = r.r, B = r.b;
    std::vector<QPoint> outline;

    switch (m_tickSide) {
    case TickSide::Both:
        outline = Canvas::RoundFramePixels(r);
        canvas.Pixels(outline, frame);
        canvas.FloodFill(r, {L + e, T + e}, outline, c.face);
        r = {L + 1, T + 1, R - 1, B - 1};
        canvas.Frame3d(r, c.h1, c.s1);
        canvas.Pixel(r.l, r.t, c.h2);
        canvas.Pixel(r.r - 1, r.t, c.face);
        canvas.Pixel(r.r - 1, r.b - 1, c.s2);
        canvas.Pixel(r.l, r.b - 1, c.face);
        break;
    case TickSide::Top:
        outline = Canvas::PolylinePixels({{L, T + e - 1},
                                          {L, B - 2},
                                          {L + 1, B - 1},
                                          {R - 2, B - 1},
                                          {R - 1, B - 2},
                                          {R - 1, T + e - 1},
                                          {R - e, T},
                                          {L + e - 1, T},
                                          {L, T + e - 1}});
        canvas.Pixels(outline, frame);
        canvas.FloodFill(r, {L + e, T + e}, outline, c.face);
        if (w > 5) {
            canvas.Line({L + 1, T + e}, {L + 1, B - 2}, c.h1);
            canvas.Line({R - e, T + 1}, {R - e - 2, T + 1}, c.h1);
            canvas.Line({L + 1, T + e - 1}, {L + e, T}, c.h2);
            canvas.Polyline({{L + 2, B - 2}, {R - 2, B - 2}, {R - 2, T + e - 1}, {R - e, T + 1}}, c.s1);
        }
        r = {L + 1, T + 2, R - 1, B};
        break;
    case TickSide::Bottom:
        outline = Canvas::PolylinePixels({{L, T + 1},
                                          {L, B - e},
                                          {L + e - 1, B - 1},
                                          {R - e, B - 1},
                                          {R - 1, B - e},
                                          {R - 1, T + 1},
                                          {R - 2, T},
                                          {L, T}});
        canvas.Pixels(outline, frame);
        canvas.FloodFill(r, {L + e, T + e}, outline, c.face);
        if (w > 5) {
            canvas.Pixel(L + 1, T + 1, c.h2);
            canvas.Line({L + 1, T + 2}, {L + 1, B - e + 1}, c.h1);
            canvas.Line({L + 2, T + 1}, {R - 2, T + 1}, c.h1);
            canvas.Polyline({{L + 2, B - e + 1}, {L + e - 1, B - 2}, {R - e, B - 2}}, c.s1);
            canvas.Line({R - 2, B - e - 1}, {R - 2, T + 1}, c.s1);
            canvas.Line({R - e, B - 2}, {R - 1, B - e - 1}, c.s2);
        }
        r = {L + 1, T, R - 1, B - 2};
        break;
    }

    if (!isEnabled() || w <= 5)
        return;
    auto grip = [&](int x, const QColor& color, int endInset) {
        canvas.Line({r.l + x, r.t + 5}, {r.l + x, r.b - endInset}, color);
    };
    grip(1, c.h1, 5);
    grip(3, c.h1, 5);
    grip(2, c.s2, 4);
    grip(4, c.s2, 4);
    canvas.Pixel(r.l + 1, r.t + 4, c.h2);
    canvas.Pixel(r.l + 3, r.t + 4, c.h2);
    if (w > 9) {
        grip(5, c.h1, 5);
        grip(7, c.h1, 5);
        grip(6, c.s2, 4);
        canvas.Pixel(r.l + 5, r.t + 4, c.h2);
        canvas.Pixel(r.l + 7, r.t + 4, c.h2);
    }
}

void CDrawnSliderCtrl::paintEvent(QPaintEvent*) {
    Canvas canvas(size());
    canvas.Image().fill(kBackground);
    DrawChannel(canvas);
    DrawTicks(canvas);
    DrawThumb(canvas);
    if (hasFocus() && m_bShowFocusCue) {
        // A dotted focus frame along the edge, every other pixel.
        const QColor c = SystemColor(this, QPalette::WindowText);
        for (int x = 0; x < width(); x += 2) {
            canvas.Pixel(x, 0, c);
            canvas.Pixel(x, height() - 1, c);
        }
        for (int y = 0; y < height(); y += 2) {
            canvas.Pixel(0, y, c);
            canvas.Pixel(width() - 1, y, c);
        }
    }
    QPainter painter(this);
    painter.drawImage(0, 0, canvas.Image());
}

// ---- input

bool CDrawnSliderCtrl::StepBy(int delta, int code) {
    if ((delta < 0 && m_nPos <= m_nMin) || (delta > 0 && m_nPos >= m_nMax))
        return false;
    m_nPos =
        static_cast<int>(Clamp64(static_cast<long long>(m_nPos) + delta, m_nMin, std::max(m_nMin, m_nMax)));
    update();
    AnnounceValue();
    emit HScroll(code, m_nPos);
    return true;
}

bool CDrawnSliderCtrl::MoveTo(int pos, int code) {
    if (m_nPos == pos)
        return false;
    m_nPos = pos;
    update();
    AnnounceValue();
    emit HScroll(code, m_nPos);
    return true;
}

bool CDrawnSliderCtrl::ScrollTo(int pos) {
    if (!MoveTo(static_cast<int>(Clamp64(pos, m_nMin, std::max(m_nMin, m_nMax))), TB_THUMBPOSITION))
        return false;
    emit HScroll(TB_ENDTRACK, m_nPos);
    return true;
}

void CDrawnSliderCtrl::SetValueScale(double unitPerStep, std::function<QString(double value)> text) {
    m_dValueUnit = unitPerStep;
    m_valueText = std::move(text);
}

QString CDrawnSliderCtrl::ValueText(double value) const {
    return m_valueText ? m_valueText(value) : QString::number(value);
}

void CDrawnSliderCtrl::AnnounceValue() {
    if (!QAccessible::isActive())
        return;
    QAccessibleValueChangeEvent event(this, m_nPos * m_dValueUnit);
    QAccessible::updateAccessibility(&event);
}

void CDrawnSliderCtrl::PageTowards(const QPoint& point) {
    const Rect ch = ChannelItem();
    const Rect thumb = ThumbItem();
    if (point.x() < ch.l || point.x() >= ch.r || point.y() < thumb.t || point.y() >= thumb.b)
        return;
    const int dir = PlaceToPos(point.x()) - m_nPos;
    if (m_nPageDir == 0)
        m_nPageDir = dir > 0 ? 1 : dir < 0 ? -1 : 0;
    if (dir > 0 && m_nPageDir > 0)
        StepBy(m_nPageSize, TB_PAGEDOWN);
    else if (dir < 0 && m_nPageDir < 0)
        StepBy(-m_nPageSize, TB_PAGEUP);
}

void CDrawnSliderCtrl::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_bShowFocusCue = false;
    const QPoint p = event->position().toPoint();
    m_ptMouse = p;
    const Rect thumb = ThumbItem();
    if (p.x() >= thumb.l && p.x() < thumb.r && p.y() >= thumb.t && p.y() < thumb.b) {
        m_bDragging = true;
        m_nDragOffset = p.x() - PosToPlace(m_nPos);
        update();
        return;
    }
    m_bPaging = true;
    m_nPageDir = 0;
    PageTowards(p);
    m_pageTimer.start(kPageDelayMs, this);
}

void CDrawnSliderCtrl::mouseMoveEvent(QMouseEvent* event) {
    m_ptMouse = event->position().toPoint();
    if (!m_bDragging)
        return;
    const int pos = PlaceToPos(m_ptMouse.x() - m_nDragOffset);
    if (pos == m_nPos)
        return;
    m_nPos = pos;
    update();
    emit HScroll(TB_THUMBTRACK, m_nPos);
}

void CDrawnSliderCtrl::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    if (m_bDragging) {
        m_bDragging = false;
        update();
        emit HScroll(TB_THUMBPOSITION, m_nPos);
        emit HScroll(TB_ENDTRACK, m_nPos);
    } else if (m_bPaging) {
        m_bPaging = false;
        m_pageTimer.stop();
        emit HScroll(TB_ENDTRACK, m_nPos);
    }
}

void CDrawnSliderCtrl::timerEvent(QTimerEvent* event) {
    if (event->timerId() != m_pageTimer.timerId()) {
        QWidget::timerEvent(event);
        return;
    }
    if (!m_bPaging) {
        m_pageTimer.stop();
        return;
    }
    m_pageTimer.start(kPageRepeatMs, this);
    PageTowards(m_ptMouse);
}

namespace {

bool IsScrollKey(int key) {
    switch (key) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
        return true;
    default:
        return false;
    }
}

} // namespace

void CDrawnSliderCtrl::keyPressEvent(QKeyEvent* event) {
    if (!IsScrollKey(event->key()) || m_bDragging) {
        QWidget::keyPressEvent(event);
        return;
    }
    m_bShowFocusCue = true;
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Down:
        StepBy(-m_nLineSize, TB_LINEUP);
        break;
    case Qt::Key_Right:
    case Qt::Key_Up:
        StepBy(m_nLineSize, TB_LINEDOWN);
        break;
    case Qt::Key_PageDown:
        StepBy(-m_nPageSize, TB_PAGEUP);
        break;
    case Qt::Key_PageUp:
        StepBy(m_nPageSize, TB_PAGEDOWN);
        break;
    case Qt::Key_Home:
        MoveTo(m_nMin, TB_TOP);
        break;
    case Qt::Key_End:
        MoveTo(std::max(m_nMin, m_nMax), TB_BOTTOM);
        break;
    }
    update();
    event->accept();
}

void CDrawnSliderCtrl::keyReleaseEvent(QKeyEvent* event) {
    if (!IsScrollKey(event->key()) || m_bDragging) {
        QWidget::keyReleaseEvent(event);
        return;
    }
    if (!event->isAutoRepeat())
        emit HScroll(TB_ENDTRACK, m_nPos);
    event->accept();
}

void CDrawnSliderCtrl::wheelEvent(QWheelEvent* event) {
    if (m_bDragging) {
        event->accept();
        return;
    }
    const QPoint angle = event->angleDelta();
    m_nWheelDelta += angle.y() != 0 ? angle.y() : angle.x();
    bool moved = false;
    while (std::abs(m_nWheelDelta) >= 120) {
        const int notch = m_nWheelDelta > 0 ? 1 : -1;
        m_nWheelDelta -= notch * 120;
        moved |= notch > 0 ? StepBy(m_nLineSize, TB_LINEDOWN) : StepBy(-m_nLineSize, TB_LINEUP);
    }
    if (moved)
        emit HScroll(TB_ENDTRACK, m_nPos);
    event->accept();
}

void CDrawnSliderCtrl::focusInEvent(QFocusEvent* event) {
    m_bShowFocusCue = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason ||
                      event->reason() == Qt::ShortcutFocusReason;
    QWidget::focusInEvent(event);
}

void CDrawnSliderCtrl::focusOutEvent(QFocusEvent* event) {
    // A drag or a held page click ends when the focus goes.
    if (m_bDragging || m_bPaging) {
        const bool dragged = m_bDragging;
        m_bDragging = m_bPaging = false;
        m_pageTimer.stop();
        if (dragged)
            emit HScroll(TB_THUMBPOSITION, m_nPos);
        emit HScroll(TB_ENDTRACK, m_nPos);
    }
    QWidget::focusOutEvent(event);
}

void CDrawnSliderCtrl::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) {
        RecomputeColors();
        update();
    } else if (event->type() == QEvent::EnabledChange) {
        if (!isEnabled() && (m_bDragging || m_bPaging)) {
            m_bDragging = m_bPaging = false;
            m_pageTimer.stop();
        }
        update();
    }
    QWidget::changeEvent(event);
}
