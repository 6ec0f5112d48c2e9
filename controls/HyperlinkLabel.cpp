#include "HyperlinkLabel.h"

#include "MessageService.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMouseEvent>
#include <QTimerEvent>

namespace {

constexpr int kHoverTimerMs = 100;

CHyperlinkLabel::UrlOpener& Opener() {
    static CHyperlinkLabel::UrlOpener opener;
    return opener;
}

QString ErrorText(int code) {
    switch (code) {
    case 0:
        return "The operating system is out\nof memory or resources.";
    case 2:
        return "The specified file was not found.";
    case 3:
        return "The specified path was not found.";
    case 5:
        return "The operating system denied\naccess to the specified file.";
    case 8:
        return "There was not enough memory to complete the operation.";
    case 11:
        return "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).";
    case 26:
        return "A sharing violation occurred. ";
    case 27:
        return "The filename association is\nincomplete or invalid.";
    case 28:
        return "The DDE transaction could not\nbe completed because the request timed out.";
    case 29:
        return "The DDE transaction failed.";
    case 30:
        return "The DDE transaction could not\nbe completed because other DDE transactions\nwere being "
               "processed.";
    case 31:
        return "There is no application associated\nwith the given filename extension.";
    case 32:
        return "The specified dynamic-link library was not found.";
    default:
        return QString::asprintf("Unknown Error (%d) occurred.", code);
    }
}

} // namespace

CHyperlinkLabel::CHyperlinkLabel(QWidget* parent) : QLabel(parent) {
    Attach();
}

CHyperlinkLabel::CHyperlinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    Attach();
}

CHyperlinkLabel::~CHyperlinkLabel() {
    m_hoverTimer.stop();
}

void CHyperlinkLabel::Attach() {
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setMouseTracking(true);
    setTextFormat(Qt::PlainText);
    TakeTextOrURL();
    m_fontNormal = font();
    m_fontNormal.setUnderline(false);
    m_fontUnderline = m_fontNormal;
    m_fontUnderline.setUnderline(true);
    PositionWindow();
    setCursor(m_cursor);
    ApplyFont(m_nUnderline == ulAlways);
    UpdateColors();
    setToolTip(m_strURL);
}

// A label without target links to its own text; one without text shows its target.
void CHyperlinkLabel::TakeTextOrURL() {
    if (m_strURL.isEmpty())
        m_strURL = text();
    if (text().isEmpty())
        setText(m_strURL);
}

void CHyperlinkLabel::SetURL(const QString& url) {
    m_strURL = url;
    PositionWindow();
    setToolTip(url);
}

void CHyperlinkLabel::SetColors(const QColor& link, const QColor& visited, const QColor& hover) {
    m_crLink = link;
    m_crVisited = visited;
    m_crHover = hover;
    UpdateColors();
}

QColor CHyperlinkLabel::GetHoverColor() const {
    return m_crHover.isValid() ? m_crHover : palette().color(QPalette::Active, QPalette::Highlight);
}

void CHyperlinkLabel::SetVisited(bool visited) {
    m_bVisited = visited;
    UpdateColors();
}

void CHyperlinkLabel::SetLinkCursor(const QCursor* cursor) {
    m_cursor = cursor ? *cursor : QCursor(Qt::PointingHandCursor);
    setCursor(m_cursor);
}

void CHyperlinkLabel::SetUnderline(int mode) {
    if (mode == m_nUnderline)
        return;
    ApplyFont(mode == ulAlways);
    m_nUnderline = mode;
}

void CHyperlinkLabel::SetAutoSize(bool autoSize) {
    m_bAdjustToFit = autoSize;
    if (autoSize)
        PositionWindow();
}

void CHyperlinkLabel::ApplyFont(bool underlined) {
    m_bSettingFont = true;
    setFont(underlined ? m_fontUnderline : m_fontNormal);
    m_bSettingFont = false;
    update();
}

void CHyperlinkLabel::UpdateColors() {
    const QColor color = m_bOverControl ? GetHoverColor() : m_bVisited ? m_crVisited : m_crLink;
    QPalette pal = palette();
    if (pal.color(QPalette::WindowText) == color)
        return;
    for (auto group : {QPalette::Active, QPalette::Inactive})
        pal.setColor(group, QPalette::WindowText, color);
    m_bSettingPalette = true;
    setPalette(pal);
    m_bSettingPalette = false;
    update();
}

// Fits the label to its text in the underlined font, keeping the edge or the centre its alignment
// names.
void CHyperlinkLabel::PositionWindow() {
    if (!m_bAdjustToFit)
        return;
    const QFontMetrics fm(m_fontUnderline);
    const QSize textSize = fm.size(Qt::TextSingleLine, text());
    const QRect r = geometry();
    const int extraW = r.width() - contentsRect().width() + 2 * margin();
    const int extraH = r.height() - contentsRect().height() + 2 * margin();
    const int w = textSize.width() + extraW, h = textSize.height() + extraH;
    const Qt::Alignment a = alignment();

    const int top = (a & Qt::AlignVCenter) ? r.top() + (r.height() - h) / 2 : r.top();
    int left = r.left();
    if (a & Qt::AlignHCenter)
        left = r.left() + (r.width() - w) / 2;
    else if (a & Qt::AlignRight)
        left = r.left() + r.width() - w;
    setGeometry(left, top, w, h);
}

bool CHyperlinkLabel::event(QEvent* event) {
    if (event->type() == QEvent::Polish) {
        // Text and target set after construction count as set when the label was attached.
        TakeTextOrURL();
        setToolTip(m_strURL);
        PositionWindow();
    }
    return QLabel::event(event);
}

void CHyperlinkLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange && !m_bSettingFont) {
        // A font from outside replaces the pair the underline switches between.
        m_fontNormal = font();
        m_fontNormal.setUnderline(false);
        m_fontUnderline = m_fontNormal;
        m_fontUnderline.setUnderline(true);
        ApplyFont(m_nUnderline == ulAlways || (m_nUnderline == ulHover && m_bOverControl));
    } else if (event->type() == QEvent::PaletteChange && !m_bSettingPalette) {
        UpdateColors();
    }
}

void CHyperlinkLabel::mouseMoveEvent(QMouseEvent* event) {
    QLabel::mouseMoveEvent(event);
    if (m_bOverControl || !rect().contains(event->position().toPoint()))
        return;
    m_bOverControl = true;
    if (m_nUnderline == ulHover)
        ApplyFont(true);
    UpdateColors();
    m_hoverTimer.start(kHoverTimerMs, this);
}

void CHyperlinkLabel::EndHover() {
    m_hoverTimer.stop();
    m_bOverControl = false;
    if (m_nUnderline != ulAlways)
        ApplyFont(false);
    UpdateColors();
}

void CHyperlinkLabel::leaveEvent(QEvent* event) {
    QLabel::leaveEvent(event);
    EndHover();
}

void CHyperlinkLabel::timerEvent(QTimerEvent* event) {
    if (event->timerId() != m_hoverTimer.timerId()) {
        QLabel::timerEvent(event);
        return;
    }
    // The leave event can be missed (the pointer left while a popup had it); the timer catches that.
    if (!rect().contains(mapFromGlobal(QCursor::pos())))
        EndHover();
}

void CHyperlinkLabel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        event->accept();
    else
        QLabel::mousePressEvent(event);
}

void CHyperlinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !rect().contains(event->position().toPoint())) {
        QLabel::mouseReleaseEvent(event);
        return;
    }
    event->accept();
    m_bOverControl = false;
    const int result = GotoURL(m_strURL, 5);
    if (result > 32)
        SetVisited(true);
    else
        ReportError(result);
    UpdateColors();
}

CHyperlinkLabel::UrlOpener CHyperlinkLabel::SetUrlOpener(UrlOpener opener) {
    std::swap(Opener(), opener);
    return opener;
}

int CHyperlinkLabel::GotoURL(const QString& target, int showCommand) {
    Q_UNUSED(showCommand);
    const QString t = target.trimmed();
    if (t.isEmpty())
        return kErrFileNotFound;

    QUrl url(t);
    // A one-letter scheme would be a drive letter: no address on this system has one.
    if (!url.isValid() || url.scheme().size() < 2) {
        if (t.startsWith(QLatin1String("www."), Qt::CaseInsensitive))
            url = QUrl(QStringLiteral("http://") + t);
        else
            url = QUrl::fromLocalFile(QFileInfo(t).absoluteFilePath());
    }
    if (!url.isValid())
        return kErrFileNotFound;
    if (url.isLocalFile()) {
        const QFileInfo file(url.toLocalFile());
        if (!file.exists())
            return QFileInfo(file.absolutePath()).isDir() ? kErrFileNotFound : kErrPathNotFound;
    }
    const UrlOpener& opener = Opener();
    const bool opened = opener ? opener(url) : QDesktopServices::openUrl(url);
    return opened ? kOpened : kErrNoAssociation;
}

void CHyperlinkLabel::ReportError(int code) {
    QApplication::beep();
    const QString text = QStringLiteral("Unable to open hyperlink:\n\n") + ErrorText(code);
    ShowMessage(text.toStdString(), MsgButtons::Ok, QApplication::activeWindow(), MsgIcon::Warning);
}
