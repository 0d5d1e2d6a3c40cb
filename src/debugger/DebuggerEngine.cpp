#include "debugger/DebuggerEngine.h"

DebuggerEngine::DebuggerEngine(MemoryMap& memory) : memory(memory) {}

void DebuggerEngine::traceHook(Z80State&) {}

uint16_t DebuggerEngine::noteInterrupt(Z80State& regs) { return regs.PC.w; }

int DebuggerEngine::breakTrap(Z80State& regs) {
    debuggerOpenRequest.store(1, std::memory_order_release);
    breakpointSlots[3].store(regs.PC.w, std::memory_order_relaxed);
    return 0;
}

void DebuggerEngine::resetRunState() {}
