// Machine: the emulated organiser as one object: memory, ports, processor
// record, debugger engine, the emulation thread and the flash save file.
//
// The program has one; tests and the headless runner build their own. The
// user-interface thread calls startMachine once, then warmRestart,
// coldRestart, installApplication and the pause handshake while it runs, and
// stopMachine once at the end. The emulation thread runs
// emulationThreadMain, which runs the processor core with MachineBus; the core
// calls loopHook at the end of every slice and printTrap for ED FE.
//
// No lock guards the machine state: the user-interface thread gets it to
// itself with pauseEmulation/resumeEmulation, which park the emulation thread
// inside loopHook between two instructions.
//
// The save file is written to "<path>.tmp" and renamed over the old file, so
// a failed or interrupted write never loses the previous save.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "debugger/DebuggerEngine.h"
#include "machine/HostClock.h"
#include "machine/MemoryMap.h"
#include "machine/Messages.h"
#include "machine/Ports.h"
#include "z80/Z80State.h"

class SymbolTable;
class Machine;

// Called on the emulation thread at the start of every loopHook while set;
// may change the key and pen state or set stopRequest.
class SliceObserver {
public:
    virtual ~SliceObserver() = default;
    virtual void onSlice(Machine& machine) = 0;
};

class Machine {
public:
    static constexpr int SlicePeriod = 100;  // T-states per slice
    static constexpr uint16_t InterruptVector = 0x0038;
    static constexpr int StartKeyReadCount = 100;
    static constexpr int Tick40Reload = 20000;
    static constexpr int Tick04Reload = 30000;
    static constexpr int Tick02Reload = 20000;
    static constexpr std::size_t SavedFlashOffset = 0x100000;  // pages 64-191
    static constexpr std::size_t SavedFlashBytes = MemoryMap::FlashSize - SavedFlashOffset;
    static constexpr std::size_t SaveFileBytes = SavedFlashBytes + MemoryMap::RamSize;  // 2,228,224

    Machine(MessageReporter& reporter, HostClock& clock);
    // Ends a thread that is still running, without saving (stopMachine saves).
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // User-interface thread.
    bool startMachine();
    void stopMachine();
    void warmRestart();
    void coldRestart();
    void pauseEmulation();
    void resumeEmulation();
    void resetMachineState();
    void installApplication(const std::string& path);
    // Moves the print trap's waiting lines out and clears debugTextPending.
    std::vector<std::string> takeDebugLines();

    // Steps 1-6 of startMachine: allocate, fill, load ROM and save file.
    // False after the failure has been reported.
    bool loadImages();

    // Emulation thread (or the caller's thread, for benchmarks).
    void emulationThreadMain();
    void printTrap(Z80State& state);

    // End of every slice (and every HALT): counts the slice's T-states, serves
    // the observer, pause and stop, ticks the interrupt sources. Answers the
    // interrupt vector 0x0038 while a status bit is raised, HookLeaveRun on
    // stop. Inline: with nothing asked it is a few tests and decrements.
    uint16_t loopHook(Z80State& state) {
        const int64_t cost = static_cast<int64_t>(sliceStartBudget) - state.cycleBudget;
        elapsedTStates.store(elapsedTStates.load(std::memory_order_relaxed) + static_cast<uint64_t>(cost > 0 ? cost : 0),
                             std::memory_order_relaxed);
        if (sliceObserver.load(std::memory_order_relaxed) != nullptr ||
            pauseRequest.load(std::memory_order_relaxed) != 0 || stopRequest.load(std::memory_order_relaxed) != 0)
            [[unlikely]] {
            if (serveRequests())
                return HookLeaveRun;
        }
        // The restarts may have changed the period while the thread was parked;
        // runCpu reloads the budget from it after this returns.
        sliceStartBudget = state.cyclePeriod;
        // One countdown to the earliest of the three sources instead of three per slice.
        if (--tickCountdown < 0) [[unlikely]]
            advanceTicks();
        return irqStatus != 0 ? InterruptVector : HookNoInterrupt;
    }

    // The processor core's bus (see MachineBus.h). The run loop binds to the
    // Machine itself so the page tables sit at a fixed offset from the one
    // pointer the interpreter keeps in a register.
    uint8_t readByte(uint16_t address) { return memory.readByte(address); }
    uint16_t readWord(uint16_t address) { return memory.readWord(address); }
    void writeByte(uint16_t address, uint8_t value) { memory.writeByte(address, value); }
    uint8_t portIn(uint16_t port) { return ports.portIn(static_cast<uint8_t>(port)); }
    void portOut(uint16_t port, uint8_t value) { ports.portOut(static_cast<uint8_t>(port), value); }
    // The core asks traceActive before each instruction and calls traceHook
    // only then, so it need not write its cached registers back while the
    // debugger is off; traceHook tests again for cores that do not ask.
#ifdef PDEMU_WITHOUT_TRACE_HOOK
    // Measurement build only: the hook compiled out, to price its flag test.
    static constexpr bool traceActive() { return false; }
#else
    bool traceActive() const { return !debugger.debuggerOff.load(std::memory_order_relaxed); }
#endif
    void traceHook(Z80State& state) {
        if (traceActive()) [[unlikely]]
            debugger.traceHook(state);
    }
    void noteInterrupt(Z80State& state) { debugger.noteInterrupt(state); }
    void breakTrap(Z80State& state) { debugger.breakTrap(state); }

    // True from startMachine until the emulation thread has ended.
    bool isRunning() const { return running.load(std::memory_order_acquire); }

    void setSliceObserver(SliceObserver* observer) { sliceObserver.store(observer, std::memory_order_release); }

    MemoryMap memory;
    Ports ports;
    Z80State cpu{};
    DebuggerEngine debugger{memory};

    std::string romImagePath;
    std::string flashSavePath;  // empty: nothing loaded or saved
    int firstAppPage = 0;

    // pauseRequest: 0 run, 1 asked to park, 2 parked.
    std::atomic<int> pauseRequest{0};
    std::atomic<int> stopRequest{0};
    // 1 once printTrap has appended lines; the lines are visible before the flag.
    std::atomic<int> debugTextPending{0};
    std::vector<std::string> pendingDebugLines;

    // Interrupt status bits 0x02, 0x04, 0x40 and their countdowns of loopHook
    // calls. loopHook brings the countdowns up to date only when the earliest
    // of them runs out; between those calls they lag behind.
    int irqStatus = 0;
    int tick40 = 0;
    int tick04 = 0;
    int tick02 = 0;
    // Bit 3 of the keyboard port reads pressed while startKeyHold is set.
    int startKeyHold = 0;
    int startKeyReads = 0;

    std::unique_ptr<SymbolTable> currentSymbols;

    // T-states run since emulationThreadMain began, updated once per slice.
    std::atomic<uint64_t> elapsedTStates{0};

    // Sleep step of the pause handshake on both threads; tests shorten it.
    std::atomic<int> pauseStepMs{100};
    // Called on the user-interface thread at every step while it waits for the
    // emulation thread to park (a front end can serve queued window calls here).
    std::function<void()> whilePausing;

private:
    bool serveRequests();
    void advanceTicks();
    void sleepStep() const;
    void restartWarmState();
    // Releases a held debugger, parks the machine, runs work, then puts both back.
    template <class Work>
    void whileParkedPastDebugger(Work work);
    void writeSaveFile() const;

    MessageReporter& reporter;
    std::atomic<bool> running{false};
    std::atomic<SliceObserver*> sliceObserver{nullptr};
    int sliceStartBudget = 0;  // cycleBudget the current slice began with
    // loopHook calls left until the earliest tick countdown runs out (below 0:
    // it has), counted down from tickCountdownStart.
    int tickCountdown = 0;
    int tickCountdownStart = 0;
    std::thread emulationThread;
};
