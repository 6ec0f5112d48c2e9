#include "WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

void RestoreWindowPlace(QWidget& window, const CAudioSettings::WindowPlace& place) {
    if (!place.known)
        return;
    QRect area(place.left, place.top, std::max(place.width, window.minimumWidth()),
               std::max(place.height, window.minimumHeight()));
    // The screen that holds the top of the window (its title bar), where the user can take it.
    const QPoint titleBar(area.center().x(), area.top() + 8);
    QScreen* screen = QGuiApplication::screenAt(titleBar);
    const bool onScreen = screen != nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        const QRect free = screen->availableGeometry();
        area.setSize(area.size().boundedTo(free.size()).expandedTo(window.minimumSize()));
        if (!onScreen)
            area.moveCenter(free.center());
        // Whole on the screen where it fits.
        area.moveLeft(
            std::clamp(area.left(), free.left(), std::max(free.left(), free.right() + 1 - area.width())));
        area.moveTop(
            std::clamp(area.top(), free.top(), std::max(free.top(), free.bottom() + 1 - area.height())));
    }
    window.setGeometry(area);
    if (place.maximized)
        window.setWindowState(window.windowState() | Qt::WindowMaximized);
}

CAudioSettings::WindowPlace CurrentWindowPlace(const QWidget& window) {
    const bool maximized = window.isMaximized();
    const QRect area =
        maximized && window.normalGeometry().isValid() ? window.normalGeometry() : window.geometry();
    return {true, area.left(), area.top(), area.width(), area.height(), maximized};
}
