// Disassembler: turns the Z80 instruction at a 16-bit address into one line of
// text in the debugger's dialect and tells its length. The debugger engine calls
// it for every instruction it shows or traces, for the disassembly listing and
// to find the instruction after an ED FF trap.
//
// Memory is read only through the caller's reader, so the text reflects the
// bank mapping in force at the call:
//
//     char text[disasmTextSize];
//     int length = disassembleAt(text, pc, [&](uint16_t a) { return machine.memory.readByte(a); });
//
// The text carries no address (callers put "%04X:" in front). Operand reads
// wrap from 0xFFFF to 0x0000. Only HALT yields a text that starts with "H".
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>

// Size of the caller's text buffer; the longest text is under 20 characters.
inline constexpr std::size_t disasmTextSize = 128;

// Reader as a plain function and context pointer, so the decoder is compiled once.
using DisasmReadFn = uint8_t (*)(void* context, uint16_t address);

// Writes the terminated text of the instruction at address into text (at least
// disasmTextSize bytes) and returns its length in bytes, 1 to 4.
int disassembleAt(char* text, uint16_t address, DisasmReadFn read, void* context);

// Same, with any callable taking a uint16_t address and returning the byte
// (a lambda, a functor or a plain function).
template <class Reader>
    requires std::is_invocable_r_v<uint8_t, Reader&, uint16_t>
int disassembleAt(char* text, uint16_t address, Reader&& readByte) {
    using R = std::remove_reference_t<Reader>;
    if constexpr (std::is_function_v<R>) {
        R* function = readByte;  // a function's address is no object pointer: pass it by pointer
        return disassembleAt(text, address, function);
    } else {
        return disassembleAt(
            text, address,
            [](void* context, uint16_t a) -> uint8_t { return (*static_cast<R*>(context))(a); },
            const_cast<void*>(static_cast<const void*>(std::addressof(readByte))));
    }
}
