// placeOnScreen: moves a window to where the user last left it, pulled back
// inside the screen's available area if that screen has since shrunk or gone.
#pragma once

#include <QPoint>
#include <optional>

class QWidget;

void placeOnScreen(QWidget* window, std::optional<QPoint> stored);
