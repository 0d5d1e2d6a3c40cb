// Z80State: the processor's register record.
//
// One record per processor. The machine owns the organiser's single instance;
// tests and the CP/M harness build their own. The debugger reads the first
// eight words as AF, BC, DE, HL, IX, IY, PC, SP and writes registers back into
// the same record while it holds the emulation thread, so the order of those
// fields is part of the interface.
//
// A register pair is one 16-bit word stored low byte first; its halves alias
// the word (A is the high byte of AF, F the low byte).
#pragma once

#include <bit>
#include <cstdint>

static_assert(std::endian::native == std::endian::little,
              "Z80Pair aliases bytes onto words; a big-endian host needs accessors");

union Z80Pair {
    uint16_t w;
    struct {
        uint8_t l;  // low byte: F, C, E, L, IXL, IYL
        uint8_t h;  // high byte: A, B, D, H, IXH, IYH
    } b;
};

struct Z80State {
    Z80Pair AF, BC, DE, HL, IX, IY, PC, SP;
    uint16_t altAF, altBC, altDE, altHL;
    uint8_t cpuFlags;     // see the Cpu* bits below
    uint8_t I;            // high byte of the mode-2 vector table
    int32_t cyclePeriod;  // T-states per time slice
    int32_t cycleBudget;  // T-states left in the current slice; may go below 0
};

// cpuFlags bits. Bits 3-5 stay 0; mode 0 is neither mode bit set.
inline constexpr uint8_t CpuIff1 = 0x01;
inline constexpr uint8_t CpuIm1 = 0x02;
inline constexpr uint8_t CpuIm2 = 0x04;
inline constexpr uint8_t CpuIff2 = 0x40;
inline constexpr uint8_t CpuHalted = 0x80;

// Flag bits of F.
inline constexpr uint8_t FlagS = 0x80;
inline constexpr uint8_t FlagZ = 0x40;
inline constexpr uint8_t Flag5 = 0x20;
inline constexpr uint8_t FlagH = 0x10;
inline constexpr uint8_t Flag3 = 0x08;
inline constexpr uint8_t FlagPV = 0x04;
inline constexpr uint8_t FlagN = 0x02;
inline constexpr uint8_t FlagC = 0x01;

// Answers of loopHook besides an interrupt vector.
inline constexpr uint16_t HookNoInterrupt = 0xFFFF;
inline constexpr uint16_t HookLeaveRun = 0xFFFE;
inline constexpr uint16_t NmiVector = 0x0066;
