// placeOnScreen (see WindowPlacement.h).
#include "frontend/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

void placeOnScreen(QWidget* window, std::optional<QPoint> stored) {
    if (!stored)
        return;
    QPoint p = *stored;
    const QScreen* screen = QGuiApplication::screenAt(p);
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    const QRect area = screen->availableGeometry();
    const QSize size = window->frameGeometry().size();
    p.setX(std::clamp(p.x(), area.left(), std::max(area.left(), area.right() + 1 - size.width())));
    p.setY(std::clamp(p.y(), area.top(), std::max(area.top(), area.bottom() + 1 - size.height())));
    window->move(p);
}
