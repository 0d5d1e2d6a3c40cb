// ScreenView: display, strip, pen and keys (see ScreenView.h).
#include "frontend/ScreenView.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "frontend/ButtonStrip.h"
#include "machine/Ports.h"

ScreenView::ScreenView(uint8_t* screenBits, Ports& ports, QWidget* parent)
    // Built over a non-const pointer the image reads the machine's bytes directly.
    : QWidget(parent), bitmap(screenBits, Columns, Rows, Columns / 8, QImage::Format_Mono), ports(ports) {
    bitmap.setColorTable({qRgb(255, 251, 240), qRgb(0, 0, 0)});
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    updateSize();
}

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

std::atomic<int>* ScreenView::keyFlag(int key) const {
    switch (key) {
    case Qt::Key_A: return &ports.keyAddr;
    case Qt::Key_S: return &ports.keyTodo;
    case Qt::Key_D: return &ports.keyPgUp;
    case Qt::Key_Z: return &ports.keySched;
    case Qt::Key_X: return &ports.keyMemo;
    case Qt::Key_C: return &ports.keyPgDn;
    case Qt::Key_L: return &ports.keyL;
    default: return nullptr;
    }
}

void ScreenView::releaseAll() {
    ports.penDown.store(0, std::memory_order_relaxed);
    for (std::atomic<int>* flag : {&ports.keyAddr, &ports.keyTodo, &ports.keyPgUp, &ports.keySched, &ports.keyMemo,
                                   &ports.keyPgDn, &ports.keyL})
        flag->store(0, std::memory_order_relaxed);
}

void ScreenView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const QPoint p = organiserPoint(event->position());
    ports.penX.store(std::clamp(p.x(), 0, Columns - 1), std::memory_order_relaxed);
    const int y = std::max(p.y(), 0);
    if (y < strip::ButtonRow) {
        ports.penY.store(y, std::memory_order_relaxed);
        ports.penDown.store(1, std::memory_order_relaxed);
    } else {
        ports.penY.store(strip::ButtonRow - 1, std::memory_order_relaxed);
        ports.penDown.store(0, std::memory_order_relaxed);
        const bool upper = p.y() < strip::LowerButtonRow;
        const int column = p.x() < strip::ButtonColumn1 ? 0 : p.x() < strip::ButtonColumn2 ? 1 : 2;
        std::atomic<int>* const buttons[2][3] = {{&ports.keyAddr, &ports.keyTodo, &ports.keyPgUp},
                                                 {&ports.keySched, &ports.keyMemo, &ports.keyPgDn}};
        buttons[upper ? 0 : 1][column]->store(1, std::memory_order_relaxed);
    }
    QWidget::mousePressEvent(event);
}

void ScreenView::mouseReleaseEvent(QMouseEvent* event) {
    // Qt delivers the release to the widget that took the press, wherever the
    // pointer is, so a pen or button is never left stuck down.
    if (event->button() == Qt::LeftButton)
        releaseAll();
    QWidget::mouseReleaseEvent(event);
}

void ScreenView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = organiserPoint(event->position());
    ports.penX.store(std::clamp(p.x(), 0, Columns - 1), std::memory_order_relaxed);
    ports.penY.store(std::clamp(p.y(), 0, strip::ButtonRow - 1), std::memory_order_relaxed);
    QWidget::mouseMoveEvent(event);
}

void ScreenView::keyPressEvent(QKeyEvent* event) {
    if (std::atomic<int>* flag = keyFlag(event->key())) {
        flag->store(1, std::memory_order_relaxed);
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
        if (std::atomic<int>* flag = keyFlag(event->key()))
            flag->store(0, std::memory_order_relaxed);
    QWidget::keyReleaseEvent(event);
}

