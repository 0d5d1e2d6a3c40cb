// Pictures: icon and About picture (see Pictures.h).
#include "frontend/Pictures.h"

#include <QPainter>
#include <QPixmap>

namespace {

// From the classic 16-colour set.
const QColor black(0, 0, 0);
const QColor darkGrey(128, 128, 128);
const QColor lightGrey(192, 192, 192);
const QColor green(0, 128, 0);
const QColor lightGreen(0, 255, 0);
const QColor red(255, 0, 0);
const QColor maroon(128, 0, 0);

}  // namespace

QImage drawProgramIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    // Work on a 16-unit grid so both sizes share one drawing.
    const double u = size / 16.0;
    const auto box = [&](double x, double y, double w, double h, const QColor& fill) {
        p.fillRect(QRectF(x * u, y * u, w * u, h * u), fill);
    };
    box(3, 0, 10, 16, black);        // case outline
    box(4, 1, 8, 14, lightGrey);     // case
    box(12, 1, 0.5, 14, darkGrey);   // right-hand shade
    box(5, 2, 6, 7, black);          // screen frame
    box(5.5, 2.5, 5, 6, lightGreen); // screen
    box(6, 4, 3, 0.5, green);        // text lines on the screen
    box(6, 5.5, 4, 0.5, green);
    box(6, 7, 2, 0.5, green);
    for (int i = 0; i < 3; ++i) {    // the button row
        box(5 + i * 2.25, 11, 1.5, 1, darkGrey);
        box(5 + i * 2.25, 13, 1.5, 1, darkGrey);
    }
    return image;
}

QIcon programIcon() {
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(drawProgramIcon(16)));
    icon.addPixmap(QPixmap::fromImage(drawProgramIcon(32)));
    return icon;
}

QImage drawCrossedOutInsect() {
    QImage image(52, 50, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    // Legs, three a side.
    p.setPen(QPen(black, 2));
    for (int i = 0; i < 3; ++i) {
        const int y = 20 + i * 7;
        p.drawLine(26, y, 12, y - 5 + i * 4);
        p.drawLine(26, y, 40, y - 5 + i * 4);
    }
    // Feelers.
    p.drawLine(24, 12, 18, 4);
    p.drawLine(28, 12, 34, 4);
    // Head and body.
    p.setPen(QPen(black, 1));
    p.setBrush(maroon);
    p.drawEllipse(QRectF(21, 9, 10, 8));
    p.drawEllipse(QRectF(18, 16, 16, 26));
    p.setPen(QPen(black, 1));
    p.drawLine(26, 17, 26, 41);
    // The cross through it.
    p.setPen(QPen(red, 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(6, 6, 46, 44);
    p.drawLine(46, 6, 6, 44);
    return image;
}
