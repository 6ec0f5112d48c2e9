#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

// Window layouts are given in dialog units of the dialog font: a horizontal unit is a quarter of the
// font's average character width, a vertical unit an eighth of its height. Converting through the
// font keeps every window in proportion whatever font the desktop uses.

// The font every dialog of the program uses (the application's dialog font).
QFont DialogFont();

// Converts a rectangle in dialog units to pixels. The corners are converted (x * averageCharWidth / 4,
// y * height / 8, truncated), so controls that touch in dialog units also touch in pixels. The average
// character width is that of the letters A-Z and a-z, (width / 26 + 1) / 2, as dialog templates
// have always been measured.
QRect DluToPixels(const QFont& font, int x, int y, int w, int h);

// The pixel size of a window of w by h dialog units.
QSize DluSizeToPixels(const QFont& font, int w, int h);
