// Core.cpp: the non-template parts of the processor core: reset and the one
// text line the core ever writes. Called by the machine's lifecycle (reset),
// the tests and, through Core.h, by every instantiation of the run loop.
#include "z80/Core.h"

#include <cstdio>

void resetCpu(Z80State& s) {
    s.AF.w = s.BC.w = s.DE.w = s.HL.w = s.IX.w = s.IY.w = s.PC.w = 0;
    s.altAF = s.altBC = s.altDE = s.altHL = 0;
    s.SP.w = 0xF000;
    s.cpuFlags = 0;
    s.I = 0;
    s.cycleBudget = s.cyclePeriod;
}

namespace z80detail {

[[gnu::cold]] [[gnu::noinline]] void reportUnrecognizedFd(uint8_t code, uint16_t prefixAddress) {
    std::printf("Unrecognized instruction: FD %02X at PC=%04X\n", code, prefixAddress);
    std::fflush(stdout);
}

}  // namespace z80detail
