#include "DialogUnits.h"

#include <QApplication>
#include <QFontMetrics>

namespace {

struct Units {
    int charWidth;
    int height;
};

Units UnitsOf(const QFont& font) {
    const QFontMetrics fm(font);
    // The average width of the letters, measured as dialog templates have always measured it: the
    // font's own average (from its tables) runs narrow for many fonts and would clip captions.
    const int letters =
        fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    // A font without metrics (no font files at all) still yields a usable layout.
    return {qMax(1, (letters / 26 + 1) / 2), qMax(1, fm.height())};
}

int ToX(const Units& u, int x) {
    return static_cast<int>(static_cast<long long>(x) * u.charWidth / 4);
}

int ToY(const Units& u, int y) {
    return static_cast<int>(static_cast<long long>(y) * u.height / 8);
}

} // namespace

QFont DialogFont() {
    return QApplication::font("QDialog");
}

QRect DluToPixels(const QFont& font, int x, int y, int w, int h) {
    const Units u = UnitsOf(font);
    const int left = ToX(u, x), top = ToY(u, y);
    return {left, top, ToX(u, x + w) - left, ToY(u, y + h) - top};
}

QSize DluSizeToPixels(const QFont& font, int w, int h) {
    return DluToPixels(font, 0, 0, w, h).size();
}
