// DebugBus: the processor core's bus while the debugger is open. Memory, ports
// and hooks go where the Machine sends them, and every data and port access is
// shown to the debugger's watchpoints first; instruction fetches are not data.
// While the debugger wants every instruction (stepping, animating, tracing,
// stopped) the core calls traceHook before each one; while it runs (Go) the
// core runs at full speed and calls it only where execCheck asks.
#pragma once

#include <cstdint>

#include "machine/Machine.h"
#include "z80/Bus.h"

// Watch: the accesses the points watch (PointTable::WatchWrites, ...); the
// others go straight to memory and ports, and with none only the exec checks
// remain. The machine changes buses at a slice end, as it does when the
// debugger opens or closes (DebuggerEngine::busWanted).
template <uint8_t Watch>
class DebugBus {
    static constexpr bool Writes = (Watch & PointTable::WatchWrites) != 0;
    static constexpr bool Reads = (Watch & PointTable::WatchReads) != 0;
    static constexpr bool Ports = (Watch & PointTable::WatchPorts) != 0;
    static constexpr bool Watching = Watch != 0;

public:
    static constexpr bool heldByValue = true;
    explicit DebugBus(Machine& machine) : machine(machine) {}

    uint8_t fetchByte(uint16_t address) { return machine.memory.readByte(address); }
    uint16_t fetchWord(uint16_t address) { return machine.memory.readWord(address); }
    uint8_t readByte(uint16_t address) {
        const uint8_t value = machine.memory.readByte(address);
        if constexpr (Reads)
            machine.debugger.noteRead(address, value);
        return value;
    }
    uint16_t readWord(uint16_t address) {
        const uint16_t value = machine.memory.readWord(address);
        if constexpr (Reads) {
            machine.debugger.noteRead(address, static_cast<uint8_t>(value));
            machine.debugger.noteRead(static_cast<uint16_t>(address + 1), static_cast<uint8_t>(value >> 8));
        }
        return value;
    }
    [[gnu::always_inline]] void writeByte(uint16_t address, uint8_t value) {
        if constexpr (Writes)
            machine.debugger.noteWrite(address, value);
        machine.memory.writeByte(address, value);
    }
    uint8_t portIn(uint16_t port) {
        const uint8_t value = machine.ports.portIn(static_cast<uint8_t>(port));
        if constexpr (Ports)
            machine.debugger.noteIn(static_cast<uint8_t>(port), value);
        return value;
    }
    void portOut(uint16_t port, uint8_t value) {
        if constexpr (Ports)
            machine.debugger.noteOut(static_cast<uint8_t>(port), value);
        machine.ports.portOut(static_cast<uint8_t>(port), value);
    }
    uint16_t loopHook(Z80State& state) { return machine.loopHook(state); }
    bool traceActive() const { return machine.debugger.wantsEveryInstruction(); }
    void traceHook(Z80State& state) { machine.debugger.traceHook(state); }
    bool execCheck(uint16_t pc) {
        if constexpr (Watching)
            return machine.debugger.execCheckWatching(pc);
        else
            return machine.debugger.execCheck(pc);
    }
    // A repeating block instruction ends its pass after a watched round.
    bool accessSeen() const { return Watching && machine.debugger.accessSeen(); }
    void noteInterrupt(Z80State& state) { machine.debugger.noteInterrupt(state); }
    void printTrap(Z80State& state) { machine.printTrap(state); }
    void breakTrap(Z80State& state) { machine.debugger.breakTrap(state); }

private:
    Machine& machine;
};

static_assert(Z80Bus<DebugBus<0>> && Z80Bus<DebugBus<7>>);
