// ScreenView: the organiser's display and button strip, 160 x 304 organiser
// pixels shown at an integer zoom, and the organiser's pen, buttons and keys.
//
// It paints from its own copy of the screen bitmap, one bit a pixel, rows
// stored bottom-up, which takeFrame takes from the machine (the device
// window's tick does, after the machine has flagged a display write): the
// machine may be drawing meanwhile, so the picture is never read from its
// bitmap while Qt paints. The scale
// is snapped to whole device pixels (floor(zoom x device pixel ratio)), with
// nearest-neighbour scaling, so every organiser pixel is the same size at any
// screen scale; mouse positions are scaled back the same way.
//
// Input (the left button is the pen): a press on rows 0-271 puts the pen
// down, a press below presses the strip button under it; moving always moves
// the pen (held in the touch area); a release anywhere, also outside the
// window, lifts the pen and lets go of every button, keyboard-held ones too.
// Keys A S D Z X C L hold the organiser's buttons while down.
#pragma once

#include <QImage>
#include <QWidget>
#include <array>
#include <cstdint>
#include <optional>

#include "machine/MemoryMap.h"
#include "machine/Ports.h"

class ScreenView : public QWidget {
    Q_OBJECT
public:
    static constexpr int Columns = 160;
    static constexpr int Rows = 304;

    // Takes the first frame from memory at once (the strip is already drawn).
    ScreenView(const MemoryMap& memory, Ports& ports, QWidget* parent = nullptr);

    // Copies the machine's bitmap for the next paint.
    void takeFrame();
    const uint8_t* frame() const { return frameBits.data(); }

    // Also after a move to a screen with another scale.
    void setZoom(int zoom);
    int zoom() const { return zoomFactor; }
    // Organiser pixels per logical pixel after snapping to device pixels.
    double scale() const;
    // Organiser pixel under a point of this widget (may lie outside 0-159/0-303).
    QPoint organiserPoint(QPointF position) const;

    // Paint events so far (tests check that an unchanged display is not repainted).
    int paintCount() const { return paints; }

signals:
    void enterPressed();
    void escapePressed();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    static std::optional<OrganiserButton> buttonOfKey(int key);
    void updateSize();

    const MemoryMap& memory;
    std::array<uint8_t, MemoryMap::ScreenBytes> frameBits{};
    QImage bitmap;  // Format_Mono over frameBits, rows bottom-up
    Ports& ports;
    int zoomFactor = 1;
    int paints = 0;
};
