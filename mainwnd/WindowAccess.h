#pragma once

#include <QObject>

class CConverterDlg;

// What the main window offers the keyboard and assistive technology beyond its design:
// - Tab goes through every control in reading order: the toolbar left to right, the preview, the
//   waveform and the slider, the row of marking buttons, the Settings group, the read-outs; each shows
//   a focus mark when the keyboard brought the focus.
// - A focused button is pressed with Space, Enter or Return (not the window's keys for those); Enter,
//   Return or F2 on the start or end read-out opens the edit in which its time is typed, as a
//   double-click does; Shift+F10 opens a control's menu as the menu key does.
// - Every control has an accessible name and role, the fields are labelled by their labels (buddies),
//   and the drawn controls present themselves as sliders with a time as their value
//   (AccessibleControls.h).
// Set up once, when the window's controls exist; GUI thread only. The object lives as a child of the
// window.
class CWindowAccess : public QObject {
    Q_OBJECT
public:
    explicit CWindowAccess(CConverterDlg& dlg);

    // Says what the preview shows, for assistive technology ("Video of clip.mp4", "Cover of ...").
    void DescribePreview(const QString& what);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void NameControls();
    void OrderTabs();
    CConverterDlg& m_dlg;
};
