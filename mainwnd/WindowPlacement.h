#pragma once

#include "AudioSettings.h"

class QWidget;

// Where the main window was, kept in the settings between runs ("Window" of param.ini): its inner
// area in pixels and whether it was maximised. GUI thread only.

// Puts a window that is not shown yet where the place says: at least its smallest size, no larger than
// the screen, and on a screen that exists now (a monitor unplugged since then does not hide it: the
// window then comes up centred on the primary screen); maximised again when it was. A place that is
// not known leaves the window as it is. Desktops that place windows themselves (Wayland) keep only
// the size and the maximised state.
void RestoreWindowPlace(QWidget& window, const CAudioSettings::WindowPlace& place);

// The window's place as it stands: its normal (not maximised) area and whether it is maximised.
CAudioSettings::WindowPlace CurrentWindowPlace(const QWidget& window);
