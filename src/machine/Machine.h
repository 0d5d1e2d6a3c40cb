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
// inside loopHook between two instructions. Both sides of that handshake
// wake the other at once (a condition variable, taken only while a pause is
// asked for), so a flush or a restart holds the user-interface thread for
// well under a millisecond.
//
// The debugger can hold the emulation thread inside traceHook instead, where
// it never reaches loopHook; only a command of the user-interface thread lets
// it go. The operations below that the window calls while the debugger may
// hold the machine never wait for ever:
//   takeDebugLines  takes the lines without the handshake while the machine
//                   is held (the held thread touches neither list nor flag)
//   warmRestart, coldRestart
//                   let a held machine pass to its slice end (run mode kept),
//                   so a stopped debugger holds the restarted machine again
//                   at its first instruction; a debugger that does not hold
//                   the machine is left alone
// pauseEmulation itself waits for the park: call it only when the debugger
// cannot hold the machine (off, or released as installApplication does).
//
// The save file is written through writeFileSafely (HostFiles.h), so a failed
// or interrupted write never loses the previous save. A save file that exists
// but cannot be read at start is never written: saveFileStatus says so.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
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

// What became of the flash save file (Machine::saveFileStatus).
enum class SaveFileStatus {
    Fine,        // loaded or missing at start; written at stop (or no path)
    Unreadable,  // exists but could not be read at start: left alone at stop
    NotWritten,  // the save at stop failed; an old file is unchanged
};

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
    // Parks the emulation thread at its next loopHook and returns when it is
    // parked (at once if no thread runs). While it waits it calls whilePausing
    // at least every pauseStepMs.
    void pauseEmulation();
    // Lets the parked thread run on; it wakes at once.
    void resumeEmulation();
    // Asks the emulation thread to end at its next loopHook, waking it if parked.
    void requestStop();
    void resetMachineState();
    void installApplication(const std::string& path);
    // The debug-text flush: moves the print trap's waiting lines out, in
    // order, and clears debugTextPending. Returns at once with nothing when
    // the flag is clear. Called by the thread that gives the debugger its
    // commands (the user-interface thread), or by a SliceObserver on the
    // emulation thread; never hangs while the debugger holds the machine
    // (see above). A running machine is paused for the swap and resumed.
    std::vector<std::string> takeDebugLines();

    // Steps 1-6 of startMachine: allocate, fill, load ROM and save file.
    // False after the failure has been reported.
    bool loadImages();

    // Asked after startMachine (Unreadable) and after stopMachine (NotWritten
    // as well). The front end shows saveFileMessage when the status is not
    // Fine: the machine itself reports neither, since the window wants to show
    // the start one once it is up and the runner gives the end one an exit code.
    SaveFileStatus saveFileStatus() const { return saveStatus; }
    const std::string& saveFileMessage() const { return saveMessage; }

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
        if (attention.load(std::memory_order_relaxed) != 0) [[unlikely]] {
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
    // The core asks traceActive at each slice end and after the traps, and
    // while it is true before each instruction; it calls traceHook only then,
    // so it need not write its cached registers back while the debugger is
    // off. Opening the debugger thus takes effect within one slice (100
    // T-states). traceHook tests again for cores that do not ask.
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

    void setSliceObserver(SliceObserver* observer) {
        sliceObserver.store(observer, std::memory_order_release);
        raiseAttention();
    }

    MemoryMap memory;
    Ports ports;
    Z80State cpu{};
    DebuggerEngine debugger{memory};

    std::string romImagePath;
    std::string flashSavePath;  // empty: nothing loaded or saved
    int firstAppPage = 0;

    // pauseRequest: 0 run, 1 asked to park, 2 parked. Written under parkLock.
    std::atomic<int> pauseRequest{0};
    // Set it with requestStop, so a parked thread wakes to end and a running
    // one looks. A plain store of 1 is seen only while a slice observer is set
    // (which keeps loopHook looking); storing 0 needs nothing more.
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

    // The longest the waiting side of the pause waits between two calls of
    // whilePausing. It is not a sleep: the park wakes the waiter at once.
    std::atomic<int> pauseStepMs{10};
    // Called on the waiting thread, at least every pauseStepMs, while a pause
    // (of pauseEmulation, takeDebugLines or a restart) waits for the emulation
    // thread to park; never once it is parked. A front end serves the window
    // calls that the emulation thread may be blocked in here.
    std::function<void()> whilePausing;

private:
    // After storing a request: the emulation thread then looks at its next
    // slice end. A read-modify-write, so that every raise stays visible to the
    // exchange that lowers the flag (see serveRequests).
    void raiseAttention() { attention.fetch_or(1, std::memory_order_release); }
    bool serveRequests();
    void advanceTicks();
    void restartWarmState();
    // What a pause does when it finds the debugger holding the machine.
    enum class IfHeld { Wait, GiveUp, LetPass };
    // Asks for the park and waits for it; false when it gave up (IfHeld::GiveUp
    // and the debugger holds the machine: no park is then asked for).
    bool parkEmulation(IfHeld ifHeld);
    // Parks the machine, letting a held one pass, runs work, then lets it go.
    template <class Work>
    void whileParkedPastDebugger(Work work);
    void loadSaveFile();
    void writeSaveFile();

    MessageReporter& reporter;
    SaveFileStatus saveStatus = SaveFileStatus::Fine;
    std::string saveMessage;
    std::atomic<bool> running{false};
    std::atomic<SliceObserver*> sliceObserver{nullptr};
    std::atomic<std::thread::id> emulationThreadId{};
    // Nonzero when the emulation thread should look at sliceObserver,
    // pauseRequest and stopRequest: loopHook tests this one word instead of
    // those three. Raised after a request is stored; lowered only by the
    // emulation thread, in serveRequests.
    std::atomic<int> attention{0};
    int sliceStartBudget = 0;  // cycleBudget the current slice began with
    // (tickCountdown is not next to sliceStartBudget: the compiler would merge
    // their two stores through a vector register, which costs more.)
    int tickCountdownStart = 0;
    // loopHook calls left until the earliest tick countdown runs out (below 0:
    // it has), counted down from tickCountdownStart.
    int tickCountdown = 0;
    std::thread emulationThread;
    // Both sides of the pause handshake (and the thread's end) wait on parkChanged.
    std::mutex parkLock;
    std::condition_variable parkChanged;
};
