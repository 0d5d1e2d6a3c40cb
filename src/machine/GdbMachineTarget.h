// GdbMachineTarget: the machine as a GDB remote client sees it, for the
// GdbServer's thread. It drives the same DebuggerEngine as the window: a
// client that comes stops the machine as Stop does (the engine comes on if
// it was off), one that leaves lets it go on (or switches the engine off
// again if it was off before). Registers and memory are read and written
// only while the machine is held, through the engine's whileHeld, peekHeld,
// pokeHeld and register edit, so they count as the register editor's
// changes (the history starts again after one). Breakpoints and watchpoints
// become the engine's points; the target remembers the ones it made and
// deletes them when the client leaves. Stops are noticed by polling the
// engine's hold count, never by waiting on the emulation thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "debugger/GdbProtocol.h"

class Machine;

class GdbMachineTarget final : public GdbTarget {
public:
    // The longest attach waits for the machine to be held.
    static constexpr int AttachWaitMs = 3000;
    using Monitor = std::function<std::optional<std::string>(const std::string& line, std::string& error)>;

    explicit GdbMachineTarget(Machine& machine);

    // The engine was turned on for the first client (the run waits for one):
    // when that client leaves, it goes off again.
    void setEngineTurnedOn() { engineWasOff = true; }
    // In the program with its windows: a client opens the debugger window
    // as the break trap does (the device window serves the request and gives
    // the Stop), the window serves break traps, and a client that leaves
    // lets the machine go with the window left open.
    void setWindowShowsDebugger() { windowShows = true; }
    // Runs qRcmd's debug-script lines; without one they are refused.
    void setMonitor(Monitor run) { monitorLine = std::move(run); }

    void attach() override;
    void detach() override;
    bool readRegisters(GdbRegisters& regs) override;
    bool writeRegisters(const GdbRegisters& regs) override;
    bool readMemory(uint16_t address, uint8_t* out, std::size_t count) override;
    bool writeMemory(uint16_t address, const uint8_t* data, std::size_t count) override;
    bool resume(bool step) override;
    std::optional<GdbStop> pollStop() override;
    void interrupt() override;
    std::optional<GdbStop> reverse(bool step) override;
    bool insertPoint(int type, uint16_t address, uint32_t length) override;
    bool removePoint(int type, uint16_t address, uint32_t length) override;
    std::optional<std::string> monitor(const std::string& line, std::string& error) override;

    // Why the machine is held, from the engine's status text.
    GdbStop stopFromStatus(const std::string& status) const;

private:
    struct Made {
        int type;
        uint16_t address;
        uint32_t length;
        int number;
    };
    bool heldNow() const;

    Machine& machine;
    Monitor monitorLine;
    std::vector<Made> made;
    bool engineWasOff = false;
    bool windowShows = false;
    uint32_t resumedAt = 0;  // holdCount when the machine was let go
};
