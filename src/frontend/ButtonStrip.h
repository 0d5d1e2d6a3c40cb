// ButtonStrip: the picture of the organiser's printed icons and buttons below
// its display, and where the device window's buttons lie.
//
// drawButtonStrip paints rows 240-303 of the screen bitmap (160 x 304, 20
// bytes a row, rows stored bottom-up, bit 7 the leftmost pixel, 1 black):
// a one-pixel frame, band lines at strip rows 31 and 47, box dividers and the
// twelve labels in capitals 5 x 8 with two-pixel strokes, centred in their
// boxes. The machine never writes these rows. Qt-free, so tests check it alone.
#pragma once

#include <cstdint>

namespace strip {

constexpr int Width = 160;
constexpr int Height = 64;
constexpr int FirstRow = 240;       // window row of strip row 0
constexpr int ButtonRow = 272;      // first window row of the upper button band
constexpr int LowerButtonRow = 288; // first window row of the lower button band
constexpr int ButtonColumn1 = 53;   // button zones: x < 53, 53 <= x < 106, x >= 106
constexpr int ButtonColumn2 = 106;

// The bitmap's pixel (x, y), y counted from the top of the 304 rows.
bool pixel(const uint8_t* screenBits, int x, int y);
void setPixel(uint8_t* screenBits, int x, int y, bool dark);

void drawButtonStrip(uint8_t* screenBits);

}  // namespace strip
