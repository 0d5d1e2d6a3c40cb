// Tables.h: the processor core's constant tables (flag lookups and T-states).
//
// Read by the core (Core.h) on every instruction, and by the disassembler,
// the debugger and the tests, which may look up what an instruction costs.
// Nothing here changes at run time; the flag tables are computed at compile
// time from the rules written beside them, the T-state tables are written out
// as the published costs, one row of sixteen opcodes per line.
#pragma once

#include <array>
#include <cstdint>

namespace z80tables {

constexpr std::array<uint8_t, 256> makeSz() {
    std::array<uint8_t, 256> t{};
    for (int v = 0; v < 256; ++v)
        t[v] = static_cast<uint8_t>((v & 0x80) | (v == 0 ? 0x40 : 0));
    return t;
}

constexpr std::array<uint8_t, 256> makeSzp() {
    std::array<uint8_t, 256> t = makeSz();
    for (int v = 0; v < 256; ++v) {
        int bits = 0;
        for (int b = 0; b < 8; ++b) bits += (v >> b) & 1;
        if ((bits & 1) == 0) t[v] = static_cast<uint8_t>(t[v] | 0x04);
    }
    return t;
}

// Flags of INC and DEC by their result, all but C (which they keep): S, Z,
// H when the low nibble carried or borrowed, P/V on signed overflow, N for DEC.
constexpr std::array<uint8_t, 256> makeIncFlags() {
    std::array<uint8_t, 256> t = makeSz();
    for (int r = 0; r < 256; ++r)
        t[r] = static_cast<uint8_t>(t[r] | ((r & 0x0F) == 0 ? 0x10 : 0) | (r == 0x80 ? 0x04 : 0));
    return t;
}
constexpr std::array<uint8_t, 256> makeDecFlags() {
    std::array<uint8_t, 256> t = makeSz();
    for (int r = 0; r < 256; ++r)
        t[r] = static_cast<uint8_t>(t[r] | ((r & 0x0F) == 0x0F ? 0x10 : 0) | (r == 0x7F ? 0x04 : 0) | 0x02);
    return t;
}

// Index = A + 256*C + 512*H + 1024*N (flag bits before DAA); entry = new A << 8 | new F.
constexpr std::array<uint16_t, 2048> makeDaa() {
    std::array<uint16_t, 2048> t{};
    const auto szp = makeSzp();
    for (int i = 0; i < 2048; ++i) {
        const int a = i & 0xFF, c = (i >> 8) & 1, h = (i >> 9) & 1, n = (i >> 10) & 1;
        int corr = 0, newC = c;
        if (h || (a & 0x0F) > 9) corr |= 0x06;
        if (c || a > 0x99) {
            corr |= 0x60;
            newC = 1;
        }
        const int r = (n ? a - corr : a + corr) & 0xFF;
        int newH = 0;
        if (n && h && (a & 0x0F) < 6) newH = 1;
        if (!n && (a & 0x0F) > 9) newH = 1;
        const int f = szp[r] | (r & 0x28) | (newH << 4) | (n << 1) | newC;
        t[i] = static_cast<uint16_t>(r << 8 | f);
    }
    return t;
}

}  // namespace z80tables

// S and Z of a byte result.
inline constexpr std::array<uint8_t, 256> szTable = z80tables::makeSz();
// S, Z and even parity (in P/V) of a byte result.
inline constexpr std::array<uint8_t, 256> szpTable = z80tables::makeSzp();
// INC and DEC flags by result, carry left out.
inline constexpr std::array<uint8_t, 256> incFlagsTable = z80tables::makeIncFlags();
inline constexpr std::array<uint8_t, 256> decFlagsTable = z80tables::makeDecFlags();
// Decimal adjust: new A in the high byte, new F in the low byte.
inline constexpr std::array<uint16_t, 2048> daaTable = z80tables::makeDaa();

// Whole cost of each unprefixed instruction. Conditional transfers hold the
// cost when the condition fails; the instruction adds the rest when it jumps.
// The prefixes CB, DD, ED and FD cost 0: their page's table charges.
inline constexpr std::array<uint8_t, 256> cyclesBase = {
//  x0  x1  x2  x3  x4  x5  x6  x7  x8  x9  xA  xB  xC  xD  xE  xF
     4, 10,  7,  6,  4,  4,  7,  4,  4, 11,  7,  6,  4,  4,  7,  4,  // 0x
     8, 10,  7,  6,  4,  4,  7,  4, 12, 11,  7,  6,  4,  4,  7,  4,  // 1x
     7, 10, 16,  6,  4,  4,  7,  4,  7, 11, 16,  6,  4,  4,  7,  4,  // 2x
     7, 10, 13,  6, 11, 11, 10,  4,  7, 11, 13,  6,  4,  4,  7,  4,  // 3x
     4,  4,  4,  4,  4,  4,  7,  4,  4,  4,  4,  4,  4,  4,  7,  4,  // 4x
     4,  4,  4,  4,  4,  4,  7,  4,  4,  4,  4,  4,  4,  4,  7,  4,  // 5x
     4,  4,  4,  4,  4,  4,  7,  4,  4,  4,  4,  4,  4,  4,  7,  4,  // 6x
     7,  7,  7,  7,  7,  7,  4,  7,  4,  4,  4,  4,  4,  4,  7,  4,  // 7x
     4,  4,  4,  4,  4,  4,  7,  4,  4,  4,  4,  4,  4,  4,  7,  4,  // 8x
     4,  4,  4,  4,  4,  4,  7,  4,  4,  4,  4,  4,  4,  4,  7,  4,  // 9x
     4,  4,  4,  4,  4,  4,  7,  4,  4,  4,  4,  4,  4,  4,  7,  4,  // Ax
     4,  4,  4,  4,  4,  4,  7,  4,  4,  4,  4,  4,  4,  4,  7,  4,  // Bx
     5, 10, 10, 10, 10, 11,  7, 11,  5, 10, 10,  0, 10, 17,  7, 11,  // Cx
     5, 10, 10, 11, 10, 11,  7, 11,  5,  4, 10, 11, 10,  0,  7, 11,  // Dx
     5, 10, 10, 19, 10, 11,  7, 11,  5,  4, 10,  4, 10,  0,  7, 11,  // Ex
     5, 10, 10,  4, 10, 11,  7, 11,  5,  6, 10,  4, 10,  0,  7, 11,  // Fx
};

// CB page: 8 on a register, 15 for rotate/shift/RES/SET on (HL), 12 for BIT b,(HL).
inline constexpr std::array<uint8_t, 256> cyclesCB = {
//  x0  x1  x2  x3  x4  x5  x6  x7  x8  x9  xA  xB  xC  xD  xE  xF
     8,  8,  8,  8,  8,  8, 15,  8,  8,  8,  8,  8,  8,  8, 15,  8,  // 0x
     8,  8,  8,  8,  8,  8, 15,  8,  8,  8,  8,  8,  8,  8, 15,  8,  // 1x
     8,  8,  8,  8,  8,  8, 15,  8,  8,  8,  8,  8,  8,  8, 15,  8,  // 2x
     8,  8,  8,  8,  8,  8, 15,  8,  8,  8,  8,  8,  8,  8, 15,  8,  // 3x
     8,  8,  8,  8,  8,  8, 12,  8,  8,  8,  8,  8,  8,  8, 12,  8,  // 4x
     8,  8,  8,  8,  8,  8, 12,  8,  8,  8,  8,  8,  8,  8, 12,  8,  // 5x
     8,  8,  8,  8,  8,  8, 12,  8,  8,  8,  8,  8,  8,  8, 12,  8,  // 6x
     8,  8,  8,  8,  8,  8, 12,  8,  8,  8,  8,  8,  8,  8, 12,  8,  // 7x
     8,  8,  8,  8,  8,  8, 15,  8,  8,  8,  8,  8,  8,  8, 15,  8,  // 8x
     8,  8,  8,  8,  8,  8, 15,  8,  8,  8,  8,  8,  8,  8, 15,  8,  // 9x
     8,  8,  8,  8,  8,  8, 15,  8,  8,  8,  8,  8,  8,  8, 15,  8,  // Ax
     8,  8,  8,  8,  8,  8, 15,  8,  8,  8,  8,  8,  8,  8, 15,  8,  // Bx
     8,  8,  8,  8,  8,  8, 15,  8,  8,  8,  8,  8,  8,  8, 15,  8,  // Cx
     8,  8,  8,  8,  8,  8, 15,  8,  8,  8,  8,  8,  8,  8, 15,  8,  // Dx
     8,  8,  8,  8,  8,  8, 15,  8,  8,  8,  8,  8,  8,  8, 15,  8,  // Ex
     8,  8,  8,  8,  8,  8, 15,  8,  8,  8,  8,  8,  8,  8, 15,  8,  // Fx
};

// ED page, prefix included. The repeated block instructions (Bx) charge
// themselves per iteration; the traps FE/FF, ED ED and the unimplemented
// codes cost 0.
inline constexpr std::array<uint8_t, 256> cyclesED = {
//  x0  x1  x2  x3  x4  x5  x6  x7  x8  x9  xA  xB  xC  xD  xE  xF
     0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  // 0x
     0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  // 1x
     0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  // 2x
     0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  // 3x
    12, 12, 15, 20,  8, 14,  8,  9, 12, 12, 15, 20,  0, 14,  0,  9,  // 4x
    12, 12, 15, 20,  0,  0,  8,  9, 12, 12, 15, 20,  0,  0,  8,  9,  // 5x
    12, 12, 15, 20,  0,  0,  0, 18, 12, 12, 15, 20,  0,  0,  0, 18,  // 6x
    12,  0, 15, 20,  0,  0,  0,  0, 12, 12, 15, 20,  0,  0,  0,  0,  // 7x
     0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  // 8x
     0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  // 9x
    16, 16, 16, 16,  0,  0,  0,  0, 16, 16, 16, 16,  0,  0,  0,  0,  // Ax
     0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  // Bx
     0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  // Cx
     0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  // Dx
     0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  // Ex
     0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  // Fx
};

// DD and FD pages, prefix included. Opcodes without an HL operand cost 0
// behind a prefix (they run as their unprefixed form, uncharged).
inline constexpr std::array<uint8_t, 256> cyclesIndex = {
//  x0  x1  x2  x3  x4  x5  x6  x7  x8  x9  xA  xB  xC  xD  xE  xF
     0,  0,  0,  0,  0,  0,  0,  0,  0, 15,  0,  0,  0,  0,  0,  0,  // 0x
     0,  0,  0,  0,  0,  0,  0,  0,  0, 15,  0,  0,  0,  0,  0,  0,  // 1x
     0, 14, 20, 10,  9,  9,  9,  0,  0, 15, 20, 10,  9,  9,  9,  0,  // 2x
     0,  0,  0,  0, 23, 23, 19,  0,  0, 15,  0,  0,  0,  0,  0,  0,  // 3x
     0,  0,  0,  0,  9,  9, 19,  0,  0,  0,  0,  0,  9,  9, 19,  0,  // 4x
     0,  0,  0,  0,  9,  9, 19,  0,  0,  0,  0,  0,  9,  9, 19,  0,  // 5x
     9,  9,  9,  9,  9,  9, 19,  9,  9,  9,  9,  9,  9,  9, 19,  9,  // 6x
    19, 19, 19, 19, 19, 19, 19, 19,  0,  0,  0,  0,  9,  9, 19,  0,  // 7x
     0,  0,  0,  0,  9,  9, 19,  0,  0,  0,  0,  0,  9,  9, 19,  0,  // 8x
     0,  0,  0,  0,  9,  9, 19,  0,  0,  0,  0,  0,  9,  9, 19,  0,  // 9x
     0,  0,  0,  0,  9,  9, 19,  0,  0,  0,  0,  0,  9,  9, 19,  0,  // Ax
     0,  0,  0,  0,  9,  9, 19,  0,  0,  0,  0,  0,  9,  9, 19,  0,  // Bx
     0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  // Cx
     0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  // Dx
     0, 14,  0, 23,  0, 15,  0,  0,  0,  8,  0,  0,  0,  0,  0,  0,  // Ex
     0,  0,  0,  0,  0,  0,  0,  0,  0, 10,  0,  0,  0,  0,  0,  0,  // Fx
};

// DD CB and FD CB pages, by the fourth byte: 23 for rotate/shift/RES/SET on
// (X+d) (column 6), 20 for BIT, 0 for the codes that do nothing.
inline constexpr std::array<uint8_t, 256> cyclesIndexCB = {
//  x0  x1  x2  x3  x4  x5  x6  x7  x8  x9  xA  xB  xC  xD  xE  xF
     0,  0,  0,  0,  0,  0, 23,  0,  0,  0,  0,  0,  0,  0, 23,  0,  // 0x
     0,  0,  0,  0,  0,  0, 23,  0,  0,  0,  0,  0,  0,  0, 23,  0,  // 1x
     0,  0,  0,  0,  0,  0, 23,  0,  0,  0,  0,  0,  0,  0, 23,  0,  // 2x
     0,  0,  0,  0,  0,  0, 23,  0,  0,  0,  0,  0,  0,  0, 23,  0,  // 3x
    20, 20, 20, 20, 20, 20, 20, 20, 20, 20, 20, 20, 20, 20, 20, 20,  // 4x
    20, 20, 20, 20, 20, 20, 20, 20, 20, 20, 20, 20, 20, 20, 20, 20,  // 5x
    20, 20, 20, 20, 20, 20, 20, 20, 20, 20, 20, 20, 20, 20, 20, 20,  // 6x
    20, 20, 20, 20, 20, 20, 20, 20, 20, 20, 20, 20, 20, 20, 20, 20,  // 7x
     0,  0,  0,  0,  0,  0, 23,  0,  0,  0,  0,  0,  0,  0, 23,  0,  // 8x
     0,  0,  0,  0,  0,  0, 23,  0,  0,  0,  0,  0,  0,  0, 23,  0,  // 9x
     0,  0,  0,  0,  0,  0, 23,  0,  0,  0,  0,  0,  0,  0, 23,  0,  // Ax
     0,  0,  0,  0,  0,  0, 23,  0,  0,  0,  0,  0,  0,  0, 23,  0,  // Bx
     0,  0,  0,  0,  0,  0, 23,  0,  0,  0,  0,  0,  0,  0, 23,  0,  // Cx
     0,  0,  0,  0,  0,  0, 23,  0,  0,  0,  0,  0,  0,  0, 23,  0,  // Dx
     0,  0,  0,  0,  0,  0, 23,  0,  0,  0,  0,  0,  0,  0, 23,  0,  // Ex
     0,  0,  0,  0,  0,  0, 23,  0,  0,  0,  0,  0,  0,  0, 23,  0,  // Fx
};
