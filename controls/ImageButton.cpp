#include "ImageButton.h"

#include <QEnterEvent>
#include <QFile>
#include <QFocusEvent>
#include <QImageReader>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace {

constexpr int kMarginX = 3;
constexpr int kMarginY = 3;
constexpr QPoint kPressedOffset(1, 1);
constexpr QSize kDefaultIconSize(32, 32);

QString IconPath(int id) {
    for (const char* ext : {".png", ".svg"}) {
        const QString path = QStringLiteral(":/icons/%1%2").arg(id).arg(QLatin1String(ext));
        if (QFile::exists(path))
            return path;
    }
    return {};
}

QColor Sys(const QWidget* w, QPalette::ColorRole role) {
    return w->palette().color(QPalette::Active, role);
}

// One-pixel frame: top and left in one colour, bottom and right in the other.
void Frame3d(QPainter& p, const QRect& r, const QColor& topLeft, const QColor& bottomRight) {
    p.fillRect(r.left(), r.top(), r.width() - 1, 1, topLeft);
    p.fillRect(r.left(), r.top(), 1, r.height() - 1, topLeft);
    p.fillRect(r.right(), r.top(), 1, r.height(), bottomRight);
    p.fillRect(r.left(), r.bottom(), r.width(), 1, bottomRight);
}

} // namespace

CImageButton::CImageButton(QWidget* parent) : QPushButton(parent) {
    Init();
}

CImageButton::CImageButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    Init();
}

void CImageButton::Init() {
    setFlat(true);
    setMouseTracking(true);
}

int CImageButton::SetIcon(int iconIn, int iconOut) {
    const QString in = IconPath(iconIn);
    const QString out = iconOut ? IconPath(iconOut) : QString();
    if (in.isEmpty() || (iconOut && out.isEmpty())) {
        SetIcon(QIcon(), QIcon(), QSize());
        return IMGBTN_INVALIDRESOURCE;
    }
    QSize size = QImageReader(in).size();
    if (!size.isValid())
        size = kDefaultIconSize;
    return SetIcon(QIcon(in), out.isEmpty() ? QIcon() : QIcon(out), size);
}

int CImageButton::SetIcon(const QIcon& iconIn, const QIcon& iconOut, QSize size) {
    m_iconIn = iconIn;
    m_iconOut = iconOut;
    if (iconIn.isNull())
        size = QSize();
    else if (!size.isValid())
        size = iconIn.availableSizes().value(0, kDefaultIconSize);
    m_sizeIcon = size;
    updateGeometry();
    update();
    return IMGBTN_OK;
}

int CImageButton::SetAlign(int align, bool repaint) {
    if (align < ALIGN_ICON_LEFT || align > ALIGN_OVERLAP)
        return IMGBTN_INVALIDALIGN;
    m_nAlign = align;
    updateGeometry();
    if (repaint)
        update();
    return IMGBTN_OK;
}

int CImageButton::SetTooltipText(const QString& text, bool activate) {
    m_strTooltip = text;
    ActivateTooltip(activate);
    return IMGBTN_OK;
}

void CImageButton::ActivateTooltip(bool activate) {
    m_bTooltipActive = activate;
    setToolTip(activate ? m_strTooltip : QString());
}

int CImageButton::DrawTransparent(bool repaint) {
    m_bTransparent = true;
    if (repaint)
        update();
    return IMGBTN_OK;
}

void CImageButton::SetFlat(bool flat, bool repaint) {
    setFlat(flat);
    if (!flat)
        m_bMouseOnButton = false;
    if (repaint)
        update();
}

void CImageButton::DrawBorder(bool enable, bool repaint) {
    m_bDrawBorder = enable;
    if (repaint)
        update();
}

void CImageButton::DrawFlatFocus(bool drawFlatFocus, bool repaint) {
    m_bDrawFlatFocus = drawFlatFocus;
    if (repaint)
        update();
}

QImage CImageButton::GreyImage(const QImage& image) {
    QImage out = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const QRgb c = line[x];
            if (qRed(c) == 0 && qGreen(c) == 0 && qBlue(c) == 0)
                continue;
            const int grey = static_cast<int>(0.299 * qRed(c) + 0.587 * qGreen(c) + 0.114 * qBlue(c));
            line[x] = qRgba(grey, grey, grey, qAlpha(c));
        }
    }
    return out;
}

// ---- hover

void CImageButton::StartHover() {
    if (!isFlat() || m_bMouseOnButton || !isEnabled())
        return;
    m_bMouseOnButton = true;
    update();
}

void CImageButton::CancelHover() {
    if (isFlat() && m_bMouseOnButton) {
        m_bMouseOnButton = false;
        update();
    }
}

void CImageButton::mouseMoveEvent(QMouseEvent* event) {
    QPushButton::mouseMoveEvent(event);
    if (!isFlat())
        return;
    // A drag that started elsewhere does not light the button up.
    if ((event->buttons() & Qt::LeftButton) && !m_bMouseOnButton)
        return;
    if (rect().contains(event->position().toPoint()))
        StartHover();
    else
        CancelHover();
}

void CImageButton::enterEvent(QEnterEvent* event) {
    QPushButton::enterEvent(event);
    if (!(event->buttons() & Qt::LeftButton))
        StartHover();
}

void CImageButton::leaveEvent(QEvent* event) {
    QPushButton::leaveEvent(event);
    CancelHover();
}

void CImageButton::focusOutEvent(QFocusEvent* event) {
    QPushButton::focusOutEvent(event);
    // Being disabled moves the focus away before the change is announced.
    if (!isEnabled())
        m_bFocusLostToDisable = true;
    CancelHover();
}

void CImageButton::changeEvent(QEvent* event) {
    QPushButton::changeEvent(event);
    switch (event->type()) {
    case QEvent::EnabledChange:
        if (!isEnabled()) {
            // Qt has handed the focus to the next control; when there was none, the parent takes it.
            if (m_bFocusLostToDisable && parentWidget() && !window()->focusWidget())
                parentWidget()->setFocus(Qt::OtherFocusReason);
            CancelHover();
        }
        m_bFocusLostToDisable = false;
        break;
    case QEvent::ActivationChange:
        if (!isActiveWindow())
            CancelHover();
        break;
    case QEvent::PaletteChange:
        update();
        break;
    default:
        break;
    }
}

// ---- drawing

CImageButton::Layout CImageButton::LayoutFor(const QRect& client, bool hasCaption) const {
    Layout lay{{}, client};
    const int iw = m_sizeIcon.width(), ih = m_sizeIcon.height();
    if (m_iconIn.isNull() || iw <= 0 || ih <= 0)
        return lay;
    const QPoint centred(client.left() + (client.width() - iw) / 2,
                         client.top() + (client.height() - ih) / 2);
    QPoint at;
    switch (m_nAlign) {
    case ALIGN_ICON_LEFT:
        if (hasCaption) {
            at = {client.left() + kMarginX, centred.y()};
            lay.caption.setLeft(lay.caption.left() + iw + kMarginX);
        } else {
            at = centred;
        }
        break;
    case ALIGN_ICON_ABOVE:
        if (hasCaption) {
            at = {centred.x(), client.top() + kMarginY};
            lay.caption.setTop(lay.caption.top() + ih);
        } else {
            at = centred;
        }
        break;
    case ALIGN_ICON_RIGHT:
        if (hasCaption) {
            const int right = client.left() + client.width(); // exclusive
            at = {right - kMarginX - iw, centred.y()};
            lay.caption = QRect(QPoint(kMarginX, client.top()),
                                QPoint(right - kMarginX - client.left() - iw - 1, client.bottom()));
        } else {
            at = {centred.x(), client.top() + kMarginY};
        }
        break;
    default:
        at = client.topLeft();
        break;
    }
    lay.icon = QRect(at, m_sizeIcon);
    return lay;
}

void CImageButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const bool pressed = isDown() || (isCheckable() && isChecked());
    const bool focused = hasFocus();
    const bool disabled = !isEnabled();
    const bool hot = m_bMouseOnButton || pressed;
    QRect r = rect();

    // Background: nothing in transparent mode (the parent shows through).
    if (!m_bTransparent) {
        if (!isFlat() && (focused || isDefault())) {
            p.setPen(Qt::black);
            p.drawRect(r.adjusted(0, 0, -1, -1));
            r.adjust(1, 1, -1, -1);
        }
        p.fillRect(r, Sys(this, QPalette::Button));
    }

    // Border.
    if (pressed) {
        if (isFlat()) {
            if (m_bDrawBorder)
                Frame3d(p, r, Sys(this, QPalette::Dark), Sys(this, QPalette::Light));
        } else {
            p.setPen(Sys(this, QPalette::Dark));
            p.drawRect(r.adjusted(0, 0, -1, -1));
        }
    } else if (!isFlat()) {
        Frame3d(p, r, Sys(this, QPalette::Midlight), Sys(this, QPalette::Shadow));
        Frame3d(p, r.adjusted(1, 1, -1, -1), Sys(this, QPalette::Light), Sys(this, QPalette::Dark));
    } else if (m_bMouseOnButton && m_bDrawBorder) {
        Frame3d(p, r, Sys(this, QPalette::Light), Sys(this, QPalette::Dark));
    }

    const QString caption = text();
    Layout lay = LayoutFor(rect(), !caption.isEmpty());
    if (pressed && !isCheckable()) {
        lay.icon.translate(kPressedOffset);
        lay.caption.translate(kPressedOffset);
    }

    if (!lay.icon.isEmpty()) {
        const bool useOut = !m_iconOut.isNull() && !(isCheckable() ? pressed : hot);
        const QIcon& icon = useOut ? m_iconOut : m_iconIn;
        const QPixmap pm = icon.pixmap(m_sizeIcon, devicePixelRatioF());
        if (disabled) {
            QImage grey = GreyImage(pm.toImage());
            grey.setDevicePixelRatio(pm.devicePixelRatio());
            p.drawImage(lay.icon, grey);
        } else {
            p.drawPixmap(lay.icon, pm);
        }
    }

    if (!caption.isEmpty()) {
        const int flags = Qt::AlignCenter | Qt::TextWordWrap | Qt::TextShowMnemonic;
        const QRect measured = p.boundingRect(lay.caption, flags, caption);
        QRect block(QPoint(), measured.size());
        block.moveCenter(lay.caption.center());
        if (disabled) {
            p.setPen(Sys(this, QPalette::Light));
            p.drawText(block.translated(1, 1), flags, caption);
            p.setPen(Sys(this, QPalette::Dark));
            p.drawText(block, flags, caption);
        } else {
            p.setPen(Sys(this, QPalette::ButtonText));
            p.drawText(block, flags, caption);
        }
    }

    if (focused && (!isFlat() || m_bDrawFlatFocus) && window()->testAttribute(Qt::WA_KeyboardFocusChange)) {
        // In the highlight colour, so that it shows on any background the button lets through.
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(Sys(this, QPalette::Highlight), 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(rect()).adjusted(3.5, 3.5, -3.5, -3.5), 3, 3);
    }
}

void CImageButton::keyPressEvent(QKeyEvent* event) {
    // A push button of a dialog takes Enter only as its default button; this one takes it when focused.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !event->isAutoRepeat() &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        animateClick();
        event->accept();
        return;
    }
    QPushButton::keyPressEvent(event);
}

QSize CImageButton::sizeHint() const {
    const QFontMetrics fm = fontMetrics();
    const QString caption = text();
    const QSize textSize = caption.isEmpty() ? QSize() : fm.size(Qt::TextShowMnemonic, caption);
    const QSize icon = m_iconIn.isNull() ? QSize(0, 0) : m_sizeIcon;
    QSize s;
    if (m_nAlign == ALIGN_ICON_ABOVE)
        s = {std::max(icon.width(), textSize.width()), kMarginY + icon.height() + textSize.height()};
    else if (m_nAlign == ALIGN_OVERLAP)
        s = icon.expandedTo(textSize);
    else
        s = {icon.width() + kMarginX + textSize.width(), std::max(icon.height(), textSize.height())};
    return s + QSize(2 * kMarginX + 2, 2 * kMarginY + 2);
}

QSize CImageButton::minimumSizeHint() const {
    return sizeHint();
}
