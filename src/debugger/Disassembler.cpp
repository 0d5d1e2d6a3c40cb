// Disassembler: expands the opcode templates of DisasmTemplates into text.
// Called by the debugger engine through disassembleAt (see Disassembler.h).
#include "debugger/Disassembler.h"

#include <cstring>

#include "debugger/DisasmTemplates.h"

namespace {

constexpr char hexDigits[] = "0123456789ABCDEF";

// Bounded text builder over the caller's buffer: the templates are short, but a
// wrong table entry must not write past the buffer.
struct TextOut {
    char* text;
    std::size_t used = 0;

    void put(char c) {
        if (used + 1 < disasmTextSize) text[used++] = c;
    }
    void putHex(unsigned value, int digits) {
        for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) put(hexDigits[(value >> shift) & 0xF]);
    }
    void finish() { text[used] = '\0'; }
};

}  // namespace

int disassembleAt(char* text, uint16_t address, DisasmReadFn read, void* context) {
    auto byteAt = [&](uint16_t a) { return read(context, a); };

    const uint8_t first = byteAt(address);
    const char* templ;
    char indexLetter = 'X';
    bool displacementRead = false;  // DD CB d xx: "@" takes d, read before the opcode
    uint8_t displacement = 0;
    uint16_t cursor;

    if (first == 0xCB) {
        templ = cbTemplates[byteAt(uint16_t(address + 1))];
        cursor = uint16_t(address + 2);
    } else if (first == 0xED) {
        templ = edTemplates[byteAt(uint16_t(address + 1))];
        cursor = uint16_t(address + 2);
    } else if (first == 0xDD || first == 0xFD) {
        indexLetter = first == 0xDD ? 'X' : 'Y';
        const uint8_t second = byteAt(uint16_t(address + 1));
        if (second == 0xCB) {
            displacement = byteAt(uint16_t(address + 2));
            displacementRead = true;
            templ = indexCbTemplates[byteAt(uint16_t(address + 3))];
            cursor = uint16_t(address + 4);
        } else {
            templ = indexTemplates[second];
            cursor = uint16_t(address + 2);
        }
    } else {
        templ = baseTemplates[first];
        cursor = uint16_t(address + 1);
    }

    // "^" is expanded before the other operand so that it takes the first
    // operand byte: in "LD (I%+^h),*h" the displacement precedes the value.
    // Of "*", "@" and "#" only the first present in this order is expanded.
    const bool hasCaret = std::strchr(templ, '^') != nullptr;
    char operand = 0;
    for (char mark : {'*', '@', '#'}) {
        if (std::strchr(templ, mark)) {
            operand = mark;
            break;
        }
    }

    TextOut out{text};
    bool caretDone = false;
    bool operandDone = false;
    uint8_t caretByte = 0;
    if (hasCaret) {
        caretByte = byteAt(cursor);
        cursor = uint16_t(cursor + 1);
    }
    unsigned operandValue = 0;
    if (operand == '*') {
        operandValue = byteAt(cursor);
        cursor = uint16_t(cursor + 1);
    } else if (operand == '@') {
        if (displacementRead) {
            operandValue = displacement;
        } else {
            operandValue = byteAt(cursor);
            cursor = uint16_t(cursor + 1);
        }
    } else if (operand == '#') {
        const uint8_t low = byteAt(cursor);
        const uint8_t high = byteAt(uint16_t(cursor + 1));
        operandValue = unsigned(high) << 8 | low;
        cursor = uint16_t(cursor + 2);
    }

    for (const char* p = templ; *p; ++p) {
        const char c = *p;
        if (c == '^' && !caretDone) {
            out.putHex(caretByte, 2);
            caretDone = true;
        } else if (c == '%') {
            out.put(indexLetter);
        } else if (c == operand && !operandDone) {
            if (operand == '*') {
                out.putHex(operandValue, 2);
            } else if (operand == '@') {
                const bool negative = operandValue & 0x80;
                out.put(negative ? '-' : '+');
                out.putHex(negative ? (0x100 - operandValue) & 0xFF : operandValue, 2);
            } else {
                out.putHex(operandValue, 4);
            }
            operandDone = true;
        } else {
            out.put(c);
        }
    }
    out.finish();
    return uint16_t(cursor - address);
}
