// PeerCpm: the side-by-side peer of pdemu's core: Debian's libz80ex, a general
// Z80 emulation library, on a bare CP/M machine of its own. Only
// PeerBench.cpp uses it, and only when the library is installed.
//
// The machine matches pdemu-cpm's (tools/cpm/CpmBus.h): 64 KB of flat RAM, the
// program at 0x0100, the BDOS entry at 0x0005 jumping to 0xFE00, a return
// address of 0 on the stack. The library has no traps, so the two service
// points are OUT instructions: the BDOS is "OUT (0),A / RET" (functions 2 and
// 9 go to `out`, or nowhere) and address 0 is "OUT (1),A / HALT", which ends
// the run. So, as on pdemu's harness, the run loop itself checks nothing per
// instruction but the T-state count.
//
// The flat mode (loadFlat) is the same RAM with a program at 0 and no page
// zero, for the core benchmark's instruction mix.
#pragma once

#include <z80ex/z80ex.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

class PeerCpm {
public:
    static constexpr uint16_t ProgramStart = 0x0100;
    static constexpr uint16_t BdosAddress = 0xFE00;
    static constexpr uint16_t StackTop = 0xFDFE;

    PeerCpm() : cpu(z80ex_create(read, this, write, this, portRead, this, portWrite, this, intRead, this)) {}
    ~PeerCpm() { z80ex_destroy(cpu); }
    PeerCpm(const PeerCpm&) = delete;
    PeerCpm& operator=(const PeerCpm&) = delete;

    FILE* out = nullptr;  // where BDOS output goes; nullptr drops it
    bool ended = false;

    // A CP/M program at 0x0100 with page zero and the BDOS; false if it does not fit.
    bool loadCpm(const uint8_t* program, size_t size) {
        if (size > size_t(BdosAddress - ProgramStart)) return false;
        std::memset(mem, 0, sizeof mem);
        std::memcpy(mem + ProgramStart, program, size);
        const uint8_t pageZero[] = {0xD3, 0x01, 0x76,                            // 0x0000: OUT (1),A; HALT
                                    0x00, 0x00,                                  // 0x0003: IOBYTE, drive
                                    0xC3, BdosAddress & 0xFF, BdosAddress >> 8};  // 0x0005: JP BDOS
        std::memcpy(mem, pageZero, sizeof pageZero);
        const uint8_t bdos[] = {0xD3, 0x00, 0xC9};  // OUT (0),A; RET
        std::memcpy(mem + BdosAddress, bdos, sizeof bdos);
        start(ProgramStart, StackTop);
        return true;
    }

    // A bare program at 0 (no page zero): it must not return to 0 nor print.
    void loadFlat(const uint8_t* program, size_t size) {
        std::memset(mem, 0, sizeof mem);
        std::memcpy(mem, program, size);
        start(0, 0xF000);
    }

    // Runs until the program ends or at least `tstates` have passed; returns the count.
    int64_t run(int64_t tstates) {
        int64_t elapsed = 0;
        while (!ended && elapsed < tstates) elapsed += z80ex_step(cpu);
        return elapsed;
    }

private:
    void start(uint16_t pc, uint16_t sp) {
        ended = false;
        z80ex_reset(cpu);
        z80ex_set_reg(cpu, regPC, pc);
        z80ex_set_reg(cpu, regSP, sp);
    }

    void bdos() {
        const uint16_t bc = z80ex_get_reg(cpu, regBC), de = z80ex_get_reg(cpu, regDE);
        switch (bc & 0xFF) {
            case 0: ended = true; break;
            case 2: if (out) std::fputc(de & 0xFF, out); break;
            case 9:
                for (uint16_t a = de, n = 0; n < 0xFFFF && mem[a] != '$'; ++a, ++n)
                    if (out) std::fputc(mem[a], out);
                break;
            default: break;
        }
    }

    static PeerCpm& self(void* user) { return *static_cast<PeerCpm*>(user); }
    static Z80EX_BYTE read(Z80EX_CONTEXT*, Z80EX_WORD a, int, void* user) { return self(user).mem[a]; }
    static void write(Z80EX_CONTEXT*, Z80EX_WORD a, Z80EX_BYTE v, void* user) { self(user).mem[a] = v; }
    static Z80EX_BYTE portRead(Z80EX_CONTEXT*, Z80EX_WORD, void*) { return 0xFF; }
    static void portWrite(Z80EX_CONTEXT*, Z80EX_WORD port, Z80EX_BYTE, void* user) {
        if ((port & 0xFF) == 0)
            self(user).bdos();
        else
            self(user).ended = true;
    }
    static Z80EX_BYTE intRead(Z80EX_CONTEXT*, void*) { return 0xFF; }

    uint8_t mem[65536] = {};
    Z80EX_CONTEXT* cpu;
};
