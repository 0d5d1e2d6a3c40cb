// ButtonStrip: the strip picture drawn into the screen bitmap (see ButtonStrip.h).
#include "frontend/ButtonStrip.h"

#include <array>
#include <cstring>
#include <string_view>

namespace strip {
namespace {

constexpr int Stride = 20;
constexpr int Rows = 304;

// Capitals 5 x 8, '#' dark; only the letters the labels use.
struct Glyph {
    char letter;
    std::array<const char*, 8> rows;
};
constexpr Glyph glyphs[] = {
    {'A', {".###.", "#####", "##.##", "##.##", "#####", "#####", "##.##", "##.##"}},
    {'C', {".####", "#####", "##...", "##...", "##...", "##...", "#####", ".####"}},
    {'D', {"####.", "#####", "##.##", "##.##", "##.##", "##.##", "#####", "####."}},
    {'E', {"#####", "#####", "##...", "####.", "####.", "##...", "#####", "#####"}},
    {'F', {"#####", "#####", "##...", "####.", "####.", "##...", "##...", "##..."}},
    {'G', {".####", "#####", "##...", "##...", "##.##", "##.##", "#####", ".####"}},
    {'H', {"##.##", "##.##", "##.##", "#####", "#####", "##.##", "##.##", "##.##"}},
    {'I', {"#####", "#####", ".##..", ".##..", ".##..", ".##..", "#####", "#####"}},
    {'L', {"##...", "##...", "##...", "##...", "##...", "##...", "#####", "#####"}},
    {'M', {"#...#", "##.##", "#####", "#####", "#.#.#", "#.#.#", "#...#", "#...#"}},
    {'N', {"##..#", "###.#", "###.#", "#####", "#####", "#.###", "#.###", "#..##"}},
    {'O', {".###.", "#####", "##.##", "##.##", "##.##", "##.##", "#####", ".###."}},
    {'P', {"####.", "#####", "##.##", "##.##", "#####", "####.", "##...", "##..."}},
    {'R', {"####.", "#####", "##.##", "##.##", "####.", "#####", "##.##", "##.##"}},
    {'S', {".####", "#####", "##...", "####.", ".####", "...##", "#####", "####."}},
    {'T', {"#####", "#####", ".##..", ".##..", ".##..", ".##..", ".##..", ".##.."}},
    {'U', {"##.##", "##.##", "##.##", "##.##", "##.##", "##.##", "#####", ".###."}},
    {'X', {"##.##", "##.##", ".###.", "..#..", "..#..", ".###.", "##.##", "##.##"}},
};
constexpr int GlyphWidth = 5;
constexpr int GlyphHeight = 8;
constexpr int LetterGap = 1;

const Glyph* findGlyph(char letter) {
    for (const Glyph& g : glyphs)
        if (g.letter == letter)
            return &g;
    return nullptr;
}

struct Band {
    int top, bottom;             // strip rows of the lines above and below
    std::array<int, 7> lines;    // vertical lines: frame, dividers, frame
    int boxes;
    std::array<std::string_view, 6> labels;
};
constexpr Band bands[] = {
    {0, 31, {0, 26, 53, 80, 106, 133, 159}, 6, {"CAL", "CALC", "EXP", "DATA", "APPS", "FIND"}},
    {31, 47, {0, 53, 106, 159}, 3, {"ADDR", "TODO", "PGUP"}},
    {47, 63, {0, 53, 106, 159}, 3, {"SCHED", "MEMO", "PGDN"}},
};

void horizontalLine(uint8_t* bits, int stripRow) {
    for (int x = 0; x < Width; ++x)
        setPixel(bits, x, FirstRow + stripRow, true);
}

void verticalLine(uint8_t* bits, int x, int topRow, int bottomRow) {
    for (int row = topRow; row <= bottomRow; ++row)
        setPixel(bits, x, FirstRow + row, true);
}

// Centres the label between two lines (exclusive) and two band lines (exclusive).
void drawLabel(uint8_t* bits, std::string_view label, int leftLine, int rightLine, int topLine, int bottomLine) {
    const int width = static_cast<int>(label.size()) * (GlyphWidth + LetterGap) - LetterGap;
    const int x0 = leftLine + 1 + (rightLine - leftLine - 1 - width) / 2;
    const int y0 = topLine + 1 + (bottomLine - topLine - 1 - GlyphHeight) / 2;
    for (std::size_t i = 0; i < label.size(); ++i) {
        const Glyph* g = findGlyph(label[i]);
        if (g == nullptr)
            continue;
        const int gx = x0 + static_cast<int>(i) * (GlyphWidth + LetterGap);
        for (int row = 0; row < GlyphHeight; ++row)
            for (int col = 0; col < GlyphWidth; ++col)
                if (g->rows[row][col] == '#')
                    setPixel(bits, gx + col, FirstRow + y0 + row, true);
    }
}

}  // namespace

bool pixel(const uint8_t* screenBits, int x, int y) {
    return (screenBits[Stride * (Rows - 1 - y) + x / 8] >> (7 - x % 8)) & 1;
}

void setPixel(uint8_t* screenBits, int x, int y, bool dark) {
    uint8_t& byte = screenBits[Stride * (Rows - 1 - y) + x / 8];
    const auto bit = static_cast<uint8_t>(0x80 >> (x % 8));
    byte = dark ? static_cast<uint8_t>(byte | bit) : static_cast<uint8_t>(byte & ~bit);
}

void drawButtonStrip(uint8_t* screenBits) {
    // Rows 240-303 are the first 64 rows of the bottom-up buffer: start white.
    std::memset(screenBits, 0, Stride * Height);
    horizontalLine(screenBits, 0);
    horizontalLine(screenBits, 31);
    horizontalLine(screenBits, 47);
    horizontalLine(screenBits, Height - 1);
    for (const Band& band : bands) {
        for (int i = 0; i <= band.boxes; ++i)
            verticalLine(screenBits, band.lines[i], band.top, band.bottom);
        for (int i = 0; i < band.boxes; ++i)
            drawLabel(screenBits, band.labels[i], band.lines[i], band.lines[i + 1], band.top, band.bottom);
    }
}

}  // namespace strip
