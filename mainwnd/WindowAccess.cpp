#include "WindowAccess.h"

#include "AccessibleControls.h"
#include "ConverterDlg.h"
#include "SystemHelpers.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QPainter>

namespace {

// The player draws its video itself; to assistive technology it is an animation.
QAccessibleInterface* PlayerFactory(const QString& className, QObject* object) {
    return className == QLatin1String("CMediaPlayer2") && object && object->isWidgetType()
               ? new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Animation)
               : nullptr;
}

// The focus mark of a control that draws none of its own (the preview, the read-outs): a frame in the
// highlight colour over it, while it has a focus the keyboard brought.
class CFocusMark : public QWidget {
public:
    explicit CFocusMark(QWidget* target) : QWidget(target) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        hide();
        target->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::FocusIn && window()->testAttribute(Qt::WA_KeyboardFocusChange)) {
            setGeometry(parentWidget()->rect());
            raise();
            show();
        } else if (event->type() == QEvent::FocusOut) {
            hide();
        } else if (event->type() == QEvent::Resize) {
            setGeometry(parentWidget()->rect());
        }
        return false;
    }
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setPen(QPen(palette().color(QPalette::Highlight), 3));
        p.drawRect(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5));
    }
};

bool IsEnter(const QKeyEvent* key) {
    return (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
           (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

} // namespace

CWindowAccess::CWindowAccess(CConverterDlg& dlg) : QObject(&dlg), m_dlg(dlg) {
    InstallControlAccessibility();
    static const bool installed = (QAccessible::installFactory(PlayerFactory), true);
    (void)installed;
    NameControls();
    OrderTabs();
}

void CWindowAccess::NameControls() {
    CConverterDlg& d = m_dlg;
    for (CImageButton* b : {&d.m_btnOpen, &d.m_btnConvert, &d.m_btnSetting, &d.m_btnAbout, &d.m_btnHomepage,
                            &d.m_btnHelp, &d.m_btnExit})
        b->DrawFlatFocus(true, false);
    d.m_player.setAccessibleName(QStringLiteral("Preview"));
    d.m_picture.setAccessibleName(QStringLiteral("Preview"));
    DescribePreview(QStringLiteral("No file is open"));
    d.m_waveform.setAccessibleName(QStringLiteral("Waveform"));
    d.m_slider.setAccessibleName(QStringLiteral("Position"));
    d.m_slider.SetValueScale(0.1, [](double seconds) { return QString::fromStdString(FormatTime(seconds)); });
    d.m_comboFormat.setAccessibleName(QStringLiteral("Audio Format"));
    d.m_comboTrack.setAccessibleName(QStringLiteral("Audio Track"));
    d.m_editArtist.setAccessibleName(QStringLiteral("Artist"));
    d.m_editAlbum.setAccessibleName(QStringLiteral("Album"));
    d.m_editYear.setAccessibleName(QStringLiteral("Year"));
    d.m_comboGenre.setAccessibleName(QStringLiteral("Genre"));
    // The read-outs are named by their own text ("Start Time: 00:00:02.5").
    d.m_labelPosition.setAccessibleDescription(QStringLiteral("Position and length of the file"));
    d.m_labelStart.setAccessibleDescription(
        QStringLiteral("Start of the part to convert; press Enter to type it"));
    d.m_labelEnd.setAccessibleDescription(
        QStringLiteral("End of the part to convert; press Enter to type it"));
    d.m_labelMarked.setAccessibleDescription(QStringLiteral("Length of the part to convert"));

    for (QWidget* w :
         std::initializer_list<QWidget*>{&d.m_player, &d.m_picture, &d.m_waveform, &d.m_labelPosition,
                                         &d.m_labelStart, &d.m_labelEnd, &d.m_labelMarked}) {
        w->setFocusPolicy(Qt::StrongFocus);
        if (w != &d.m_waveform)
            new CFocusMark(w);
    }
    for (QPushButton* b : d.findChildren<QPushButton*>())
        b->installEventFilter(this);
    for (QWidget* w : std::initializer_list<QWidget*>{&d.m_labelStart, &d.m_labelEnd, &d.m_waveform,
                                                      &d.m_player, &d.m_picture})
        w->installEventFilter(this);
}

void CWindowAccess::DescribePreview(const QString& what) {
    m_dlg.m_player.setAccessibleDescription(what);
    m_dlg.m_picture.setAccessibleDescription(what);
}

void CWindowAccess::OrderTabs() {
    CConverterDlg& d = m_dlg;
    QWidget* const order[] = {&d.m_btnOpen,          &d.m_btnConvert,   &d.m_btnSetting, &d.m_btnAbout,
                              &d.m_btnHomepage,      &d.m_btnHelp,      &d.m_btnExit,    &d.m_picture,
                              &d.m_player,           &d.m_waveform,     &d.m_slider,     &d.m_btnPlay,
                              &d.m_btnPause,         &d.m_btnStartTime, &d.m_btnEndTime, &d.m_btnClear,
                              &d.m_btnPlaySelection, &d.m_comboFormat,  &d.m_comboTrack, &d.m_editArtist,
                              &d.m_editAlbum,        &d.m_editYear,     &d.m_comboGenre, &d.m_labelPosition,
                              &d.m_labelStart,       &d.m_labelEnd,     &d.m_labelMarked};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);
}

bool CWindowAccess::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::ShortcutOverride)
        return QObject::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    auto* button = qobject_cast<QPushButton*>(watched);
    // Space and Enter belong to a focused button, not to the window's keys.
    if (button && (IsEnter(key) || (key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier))) {
        if (type == QEvent::ShortcutOverride) {
            event->accept();
            return false;
        }
        if (IsEnter(key) && !key->isAutoRepeat() && !qobject_cast<CImageButton*>(button)) {
            button->animateClick();
            return true;
        }
        return false;
    }
    if (type != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    if ((watched == &m_dlg.m_labelStart || watched == &m_dlg.m_labelEnd) &&
        (IsEnter(key) || (key->key() == Qt::Key_F2 && key->modifiers() == Qt::NoModifier))) {
        m_dlg.EditMark(watched == &m_dlg.m_labelStart ? 1 : 2);
        return true;
    }
    if (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier) {
        auto* widget = static_cast<QWidget*>(watched);
        QContextMenuEvent menu(QContextMenuEvent::Keyboard, widget->rect().center(),
                               widget->mapToGlobal(widget->rect().center()));
        QApplication::sendEvent(widget, &menu);
        return true;
    }
    return QObject::eventFilter(watched, event);
}
