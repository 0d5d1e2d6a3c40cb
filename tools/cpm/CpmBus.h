// CpmBus: the bare CP/M machine of the pdemu-cpm harness: 64 KB of flat RAM,
// page zero with the BDOS entry at 0x0005, and the run's T-state count.
//
// The core needs no per-instruction check here: the BDOS entry jumps to a print
// trap (ED FE, then RET) that serves functions 2 and 9 in printTrap, and address
// 0 holds the break trap (ED FF, then HALT) whose breakTrap ends the run. Both
// are only reached when the program calls them. loopHook runs once per slice
// and keeps the count; only pdemu-cpm's main uses this bus.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "z80/Z80State.h"

struct CpmBus {
    static constexpr uint16_t ProgramStart = 0x0100;
    static constexpr uint16_t BdosAddress = 0xFE00;  // also the top of memory the program sees at 0x0006
    static constexpr uint16_t StackTop = 0xFDFE;     // holds 0, so a final RET ends the program
    static constexpr int32_t SlicePeriod = 100000;   // T-states between two looks at the limit

    uint8_t mem[65536] = {};
    FILE* out = stdout;
    int64_t limit = 0;      // 0: no limit; else stop at the first instruction boundary at or past it
    int64_t elapsed = 0;    // T-states of the slices that have ended
    int64_t finalTstates = -1;
    bool programEnded = false;

    // Places the program and page zero; false if the program does not fit below the BDOS.
    bool load(const uint8_t* program, size_t size) {
        if (size > size_t(BdosAddress - ProgramStart)) return false;
        if (size != 0) std::memcpy(mem + ProgramStart, program, size);  // an empty file may have no buffer
        const uint8_t pageZero[] = {0xED, 0xFF, 0x76,                               // 0x0000: break trap, HALT
                                    0x00, 0x00,                                     // 0x0003: IOBYTE, drive
                                    0xC3, BdosAddress & 0xFF, BdosAddress >> 8};    // 0x0005: JP BDOS
        std::memcpy(mem, pageZero, sizeof pageZero);
        const uint8_t bdos[] = {0xED, 0xFE, 0xC9};  // print trap, RET
        std::memcpy(mem + BdosAddress, bdos, sizeof bdos);
        return true;
    }

    void start(Z80State& s) {
        s = Z80State{};
        s.PC.w = ProgramStart;
        s.SP.w = StackTop;  // mem[StackTop] and the byte after are 0: the return address 0x0000
        s.cyclePeriod = nextSlice();
        s.cycleBudget = s.cyclePeriod;
    }

    int64_t tstates(const Z80State& s) const { return elapsed + (s.cyclePeriod - s.cycleBudget); }

    uint8_t readByte(uint16_t a) const { return mem[a]; }
    // Operands and stack words in one load; only the pair at 0xFFFF wraps.
    uint16_t readWord(uint16_t a) const {
        if (a != 0xFFFF) [[likely]] {
            uint16_t w;
            std::memcpy(&w, mem + a, 2);
            return w;
        }
        return static_cast<uint16_t>(mem[0xFFFF] | mem[0] << 8);
    }
    void writeByte(uint16_t a, uint8_t v) { mem[a] = v; }
    uint8_t portIn(uint16_t) const { return 0xFF; }
    void portOut(uint16_t, uint8_t) {}

    uint16_t loopHook(Z80State& s) {
        elapsed += s.cyclePeriod - s.cycleBudget;
        if (programEnded) return HookLeaveRun;
        if (limit && elapsed >= limit) {
            finalTstates = elapsed;
            return HookLeaveRun;
        }
        s.cyclePeriod = nextSlice();  // read by the core after this hook returns
        return HookNoInterrupt;
    }

    // No debugger here: the core then skips the hook and its register write-back.
    bool traceActive() const { return false; }
    void traceHook(Z80State&) {}
    void noteInterrupt(Z80State&) {}

    // BDOS call: C = function, E = character, DE = text.
    void printTrap(Z80State& s) {
        switch (s.BC.b.l) {
        case 0: endProgram(s); break;
        case 2: std::fputc(s.DE.b.l, out); break;
        case 9: {
            uint16_t a = s.DE.w;
            for (int n = 0; n < 65536 && mem[a] != '$'; ++n) std::fputc(mem[a++], out);
            break;
        }
        default: break;  // other functions are not offered; the program goes on
        }
    }

    // Jump to 0: the run ends here; the count is exact because the trap itself costs nothing.
    void breakTrap(Z80State& s) { endProgram(s); }

private:
    int32_t nextSlice() const {
        return limit ? int32_t(std::min<int64_t>(SlicePeriod, std::max<int64_t>(1, limit - elapsed))) : SlicePeriod;
    }
    void endProgram(Z80State& s) {
        finalTstates = tstates(s);
        programEnded = true;
        s.cycleBudget = 0;  // end the slice now, so nothing runs after the trap
    }
};
