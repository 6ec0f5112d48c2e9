#pragma once

#include <QBasicTimer>
#include <QColor>
#include <QCursor>
#include <QFont>
#include <QLabel>
#include <QUrl>
#include <functional>

// A text label that works as a link: link colours, an underline, a hand pointer, the target in its
// tooltip, and a click opens the target with the desktop's default handler.
//
// Alignment stands for the static-text styles: AlignHCenter (centred text), AlignRight (right-aligned)
// and AlignVCenter (centred image) decide around which edge or centre the label shrinks or grows when
// it fits itself to its text. A new label is aligned top-left, as a plain static text is.
class CHyperlinkLabel : public QLabel {
    Q_OBJECT

public:
    enum Underline { ulHover = -1, ulNone = 0, ulAlways = 1 };

    // Results of GotoURL: above 32 means opened; the rest are the failure codes ReportError knows.
    enum OpenResult {
        kErrFileNotFound = 2,
        kErrPathNotFound = 3,
        kErrNoAssociation = 31,
        kOpened = 33,
    };

    explicit CHyperlinkLabel(QWidget* parent = nullptr);
    explicit CHyperlinkLabel(const QString& text, QWidget* parent = nullptr);
    ~CHyperlinkLabel() override;

    // Stores the target, refits the label to its text and shows the target as its tooltip.
    void SetURL(const QString& url);
    QString GetURL() const { return m_strURL; }

    // An invalid hover colour stands for the desktop's highlight colour.
    void SetColors(const QColor& link, const QColor& visited, const QColor& hover = QColor());
    QColor GetLinkColor() const { return m_crLink; }
    QColor GetVisitedColor() const { return m_crVisited; }
    QColor GetHoverColor() const;

    void SetVisited(bool visited = true);
    bool GetVisited() const { return m_bVisited; }

    // nullptr restores the hand pointer.
    void SetLinkCursor(const QCursor* cursor);
    QCursor GetLinkCursor() const { return m_cursor; }

    // ulAlways, ulNone or ulHover (underlined only while the pointer is over the link).
    void SetUnderline(int mode);
    int GetUnderline() const { return m_nUnderline; }

    void SetAutoSize(bool autoSize = true);
    bool GetAutoSize() const { return m_bAdjustToFit; }

    bool IsOverControl() const { return m_bOverControl; }

    // Opens the target (a URL with a scheme, "www." address, or a file path) with the desktop's
    // default handler, never through a shell. Returns kOpened on success; kErrFileNotFound for an
    // empty target or a missing file, kErrPathNotFound when its folder is missing too, and
    // kErrNoAssociation when no handler took it. The show command is accepted for the callers'
    // sake; the handler decides how to show the target.
    static int GotoURL(const QString& target, int showCommand);

    // Beeps, then shows "Unable to open hyperlink:\n\n" and the message of the code as a warning.
    static void ReportError(int code);

    // Replaces what opens a URL (tests stub it); an empty opener restores the desktop's. Returns the
    // previous one.
    using UrlOpener = std::function<bool(const QUrl&)>;
    static UrlOpener SetUrlOpener(UrlOpener opener);

protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void Attach();
    void TakeTextOrURL();
    void PositionWindow();
    void EndHover();
    void ApplyFont(bool underlined);
    void UpdateColors();

    QString m_strURL;
    QColor m_crLink{0, 0, 238};
    QColor m_crVisited{85, 26, 139};
    QColor m_crHover{255, 0, 0};
    bool m_bOverControl = false;
    bool m_bVisited = false;
    int m_nUnderline = ulHover;
    bool m_bAdjustToFit = true;
    QFont m_fontNormal;
    QFont m_fontUnderline;
    QCursor m_cursor{Qt::PointingHandCursor};
    QBasicTimer m_hoverTimer;
    bool m_bSettingFont = false;
    bool m_bSettingPalette = false;
};
