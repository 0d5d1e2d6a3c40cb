// ScreenView: display, strip, pen and keys (see ScreenView.h).
#include "frontend/ScreenView.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "frontend/ButtonStrip.h"
#include "machine/Ports.h"

ScreenView::ScreenView(const MemoryMap& memory, Ports& ports, QWidget* parent)
    // Built over a non-const pointer the image reads our copy's bytes directly.
    : QWidget(parent), memory(memory), bitmap(frameBits.data(), Columns, Rows, Columns / 8, QImage::Format_Mono),
      ports(ports) {
    bitmap.setColorTable({qRgb(255, 251, 240), qRgb(0, 0, 0)});
    takeFrame();
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    updateSize();
}

void ScreenView::takeFrame() { memory.copyScreen(frameBits.data()); }

void ScreenView::setZoom(int zoom) {
    zoomFactor = std::clamp(zoom, 1, 4);
    updateSize();
    update();
}

// The widget is exactly the snapped picture, so no border is left at
// fractional screen scales.
void ScreenView::updateSize() {
    const double s = scale();
    setFixedSize(static_cast<int>(std::lround(Columns * s)), static_cast<int>(std::lround(Rows * s)));
}

double ScreenView::scale() const {
    const double ratio = devicePixelRatioF();
    const double devicePixels = std::max(1.0, std::floor(zoomFactor * ratio));
    return devicePixels / ratio;
}

QPoint ScreenView::organiserPoint(QPointF position) const {
    const double s = scale();
    return {static_cast<int>(std::floor(position.x() / s)), static_cast<int>(std::floor(position.y() / s))};
}

void ScreenView::paintEvent(QPaintEvent*) {
    ++paints;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    const double s = scale();
    // The buffer's first row is the bottom one: flip it while drawing, so no
    // copy is made.
    painter.translate(0, Rows * s);
    painter.scale(s, -s);
    painter.drawImage(QPointF(0, 0), bitmap);
}

std::optional<OrganiserButton> ScreenView::buttonOfKey(int key) {
    switch (key) {
    case Qt::Key_A: return OrganiserButton::Addr;
    case Qt::Key_S: return OrganiserButton::Todo;
    case Qt::Key_D: return OrganiserButton::PgUp;
    case Qt::Key_Z: return OrganiserButton::Sched;
    case Qt::Key_X: return OrganiserButton::Memo;
    case Qt::Key_C: return OrganiserButton::PgDn;
    case Qt::Key_L: return OrganiserButton::L;
    default: return std::nullopt;
    }
}

void ScreenView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const QPoint p = organiserPoint(event->position());
    ports.movePen(p.x(), p.y());
    if (p.y() < strip::ButtonRow) {
        ports.setPenDown(true);
    } else {
        ports.setPenDown(false);
        const bool upper = p.y() < strip::LowerButtonRow;
        const int column = p.x() < strip::ButtonColumn1 ? 0 : p.x() < strip::ButtonColumn2 ? 1 : 2;
        constexpr OrganiserButton buttons[2][3] = {
            {OrganiserButton::Addr, OrganiserButton::Todo, OrganiserButton::PgUp},
            {OrganiserButton::Sched, OrganiserButton::Memo, OrganiserButton::PgDn}};
        ports.setButton(buttons[upper ? 0 : 1][column], true);
    }
    QWidget::mousePressEvent(event);
}

void ScreenView::mouseReleaseEvent(QMouseEvent* event) {
    // Qt delivers the release to the widget that took the press, wherever the
    // pointer is, so a pen or button is never left stuck down.
    if (event->button() == Qt::LeftButton)
        ports.releaseAll();
    QWidget::mouseReleaseEvent(event);
}

void ScreenView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = organiserPoint(event->position());
    ports.movePen(p.x(), p.y());
    QWidget::mouseMoveEvent(event);
}

void ScreenView::keyPressEvent(QKeyEvent* event) {
    if (const auto button = buttonOfKey(event->key())) {
        ports.setButton(*button, true);
    } else if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        emit enterPressed();
    } else if (event->key() == Qt::Key_Escape) {
        emit escapePressed();
    }
    QWidget::keyPressEvent(event);
}

void ScreenView::keyReleaseEvent(QKeyEvent* event) {
    // X11 sends a release before every repeated press; the key is still down.
    if (!event->isAutoRepeat())
        if (const auto button = buttonOfKey(event->key()))
            ports.setButton(*button, false);
    QWidget::keyReleaseEvent(event);
}

