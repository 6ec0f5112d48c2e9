#pragma once

#include <QFrame>

// Qt's accessibility for the controls that draw themselves, which assistive technology would otherwise
// meet as unnamed "filler": the drawn slider and the waveform strip are sliders, with a value (the
// slider's position in the unit its owner set, seconds in the main window; the waveform's play position
// in seconds), the value's text (a time), and a value that can be set (which moves them as the user
// would). Their names are the owner's (setAccessibleName); the waveform describes its zoom and scale.
//
// Install once, on the GUI thread, before the controls are first asked for; installing again changes
// nothing.
void InstallControlAccessibility();

// A line between groups of controls (a sunken horizontal or vertical frame), which assistive technology
// knows as a separator rather than as an unnamed frame.
class CSeparatorLine : public QFrame {
    Q_OBJECT
public:
    CSeparatorLine(Shape shape, QWidget* parent) : QFrame(parent) {
        setFrameShape(shape);
        setFrameShadow(QFrame::Sunken);
    }
};
