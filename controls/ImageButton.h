#pragma once

#include <QIcon>
#include <QImage>
#include <QPushButton>
#include <QSize>

// A push button that draws itself: an icon beside, above or without its caption, flat with a raised
// frame while the pointer is over it and a sunken frame with icon and caption moved one pixel while
// pressed. In transparent mode it paints nothing behind icon and caption, so the parent shows through.
// Disabled, it shows a greyed icon and an embossed caption.
class CImageButton : public QPushButton {
    Q_OBJECT

public:
    // Placement of the icon against the caption.
    enum Align {
        ALIGN_ICON_LEFT = 0,
        ALIGN_ICON_ABOVE = 1,
        ALIGN_ICON_RIGHT = 2,
        ALIGN_OVERLAP = 3, // icon and caption both from the top-left corner
    };

    enum Result {
        IMGBTN_OK = 0,
        IMGBTN_INVALIDRESOURCE = 1,
        IMGBTN_INVALIDALIGN = 2,
    };

    explicit CImageButton(QWidget* parent = nullptr);
    explicit CImageButton(const QString& text, QWidget* parent = nullptr);

    // Icons from the program's resources: ":/icons/<id>.png", else ":/icons/<id>.svg", at their own
    // size. iconOut 0: no separate icon for the normal state. The previous icons are dropped first; a
    // missing picture leaves the button without icon and returns IMGBTN_INVALIDRESOURCE.
    int SetIcon(int iconIn, int iconOut = 0);
    // The same with icons built elsewhere; an empty size takes the in-icon's first available size.
    int SetIcon(const QIcon& iconIn, const QIcon& iconOut = QIcon(), QSize size = QSize());
    QSize GetIconSize() const { return m_sizeIcon; }

    // 0 to 3 (Align); anything else is refused with IMGBTN_INVALIDALIGN and changes nothing.
    int SetAlign(int align, bool repaint = true);
    int GetAlign() const { return m_nAlign; }

    int SetTooltipText(const QString& text, bool activate = true);
    void ActivateTooltip(bool activate = true);
    QString GetTooltipText() const { return m_strTooltip; }

    // Switches to transparent mode: the parent's background shows behind icon and caption.
    int DrawTransparent(bool repaint = false);
    bool IsTransparent() const { return m_bTransparent; }

    // Flat mode (the default) draws a frame only while hovered or pressed.
    void SetFlat(bool flat = true, bool repaint = true);
    void DrawBorder(bool enable = true, bool repaint = true);
    void DrawFlatFocus(bool drawFlatFocus, bool repaint = true);

    bool IsMouseOver() const { return m_bMouseOnButton; }

    // Grey copy of an image: each pixel becomes 0.299 R + 0.587 G + 0.114 B (truncated); black
    // pixels stay as they are, and so does every pixel's opacity.
    static QImage GreyImage(const QImage& image);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void Init();
    void StartHover();
    void CancelHover();
    struct Layout {
        QRect icon;
        QRect caption;
    };
    Layout LayoutFor(const QRect& client, bool hasCaption) const;

    QIcon m_iconIn;
    QIcon m_iconOut;
    QSize m_sizeIcon;
    int m_nAlign = ALIGN_ICON_LEFT;
    bool m_bDrawBorder = true;
    bool m_bDrawFlatFocus = false;
    bool m_bMouseOnButton = false;
    bool m_bFocusLostToDisable = false;
    bool m_bTransparent = false;
    QString m_strTooltip;
    bool m_bTooltipActive = false;
};
