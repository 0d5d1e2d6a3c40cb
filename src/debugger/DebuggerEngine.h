// DebuggerEngine: run control of the built-in debugger (breakpoints, stepping,
// animation, trace file). The processor core reaches it through the machine's
// bus: traceHook before every instruction (only while debuggerOff is 0),
// noteInterrupt when an interrupt is accepted, breakTrap for ED FF.
//
// This is the interface the machine relies on; the engine itself grows behind it.
#pragma once

#include <atomic>
#include <cstdint>

#include "z80/Z80State.h"

class MemoryMap;

class DebuggerEngine {
public:
    explicit DebuggerEngine(MemoryMap& memory);

    // Emulation thread, from the core.
    void traceHook(Z80State& regs);        // the bus calls it only while debuggerOff is 0
    uint16_t noteInterrupt(Z80State& regs);
    int breakTrap(Z80State& regs);

    // User-interface thread.
    void resetRunState();

    // 1 while the debugger window is closed: the per-instruction hook is then one flag test.
    std::atomic<uint8_t> debuggerOff{1};
    // Set by breakTrap, served (and cleared) by the device window's timer or the runner.
    std::atomic<uint8_t> debuggerOpenRequest{0};
    // Slots 1-3 (indices 0-2) are the user's breakpoints, slot 4 (index 3) the trap's.
    std::atomic<uint32_t> breakpointSlots[4] = {};

private:
    MemoryMap& memory;
};
