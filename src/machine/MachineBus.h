// MachineBus: binds the processor core to the organiser (the Z80Bus of the
// machine). Memory goes to the MemoryMap, I/O to Ports with the low 8 bits
// of the port address, the slice hook and the print trap to the Machine, and
// the debugger hooks to the DebuggerEngine. Everything is inline so the
// core's run loop compiles into one interpreter for this machine.
//
// The debugger's hooks are left out here, as on the Machine itself: the open
// debugger's run goes through DebugBus (DebugBus.h).
//
// The emulation thread runs the core on the Machine itself, which offers
// the same inline operations: the interpreter then reaches the page tables at
// a fixed offset from the one pointer it holds, one load fewer per access.
// This class is the binding for code that wants a separate bus object.
#pragma once

#include <atomic>
#include <cstdint>

#include "machine/Machine.h"
#include "z80/Bus.h"

class MachineBus {
public:
    explicit MachineBus(Machine& machine) : machine(machine), memory(machine.memory) {}

    uint8_t readByte(uint16_t address) { return memory.readByte(address); }
    void writeByte(uint16_t address, uint8_t value) { memory.writeByte(address, value); }
    uint8_t portIn(uint16_t port) { return machine.ports.portIn(static_cast<uint8_t>(port)); }
    void portOut(uint16_t port, uint8_t value) { machine.ports.portOut(static_cast<uint8_t>(port), value); }
    uint16_t loopHook(Z80State& state) { return machine.loopHook(state); }
    bool traceActive() const { return machine.traceActive(); }
    void traceHook(Z80State& state) { machine.traceHook(state); }
    void noteInterrupt(Z80State& state) { machine.debugger.noteInterrupt(state); }
    void printTrap(Z80State& state) { machine.printTrap(state); }
    void breakTrap(Z80State& state) { machine.debugger.breakTrap(state); }

private:
    Machine& machine;
    MemoryMap& memory;
};

static_assert(Z80Bus<MachineBus>);
static_assert(Z80Bus<Machine>);
