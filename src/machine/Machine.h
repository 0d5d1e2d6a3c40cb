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
// asked for), so a restart holds the user-interface thread for well under a
// millisecond.
//
// The debugger can hold the emulation thread inside traceHook instead, or
// make an animation wait for its window; the pause lets the debugger pass
// (DebuggerEngine::beginPassing), so it always completes: a stopped debugger
// holds the restarted machine again at its first instruction, and Animate and
// Go go on as they were. The emulation thread never waits for the
// user-interface thread except in the debugger's waits, which any request
// ends. The print trap's lines are handed over under a lock of their own, so
// the debug-text flush needs no pause at all.
//
// The save file is written through writeFileSafely (HostFiles.h), so a failed
// or interrupted write never loses the previous save. A save file that exists
// but cannot be read at start is never written: saveFileStatus says so.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "debugger/DebuggerEngine.h"
#include "machine/History.h"
#include "machine/HostClock.h"
#include "machine/MemoryMap.h"
#include "machine/MachineState.h"
#include "machine/Messages.h"
#include "machine/OutsideLog.h"
#include "machine/Ports.h"
#include "machine/StateFile.h"
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

class Machine : private HistoryControl {
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
    // parked (at once if no thread runs); the debugger lets it pass.
    void pauseEmulation();
    // Lets the parked thread run on; it wakes at once.
    void resumeEmulation();
    // Asks the emulation thread to end at its next loopHook, waking it if
    // parked; the debugger goes off, so a held machine gets there. Any
    // thread, the emulation thread's slice observer included.
    void requestStop();
    bool stopRequested() const { return stopRequest.load(std::memory_order_acquire) != 0; }
    // Forgets a stop request, so the machine can run again on the calling
    // thread (benchmarks and tests that call emulationThreadMain or loopHook
    // themselves); startMachine does the same before its thread starts.
    void clearStopRequest() {
        std::lock_guard lock(parkLock);
        stopRequest.store(0, std::memory_order_release);
    }
    // A pause is asked for or in place (the runner's slice observer gives way to it).
    bool pauseRequested() const { return pauseRequest.load(std::memory_order_acquire) != 0; }
    // The emulation thread sits in the pause, between two instructions.
    bool isParked() const { return pauseRequest.load(std::memory_order_acquire) == 2; }
    void resetMachineState();
    void installApplication(const std::string& path);
    // The debug-text flush: moves the print trap's waiting lines out, in
    // order. Any thread; it never waits for the emulation thread.
    std::vector<std::string> takeDebugLines();
    // True once the print trap has added lines that takeDebugLines has not taken.
    bool hasDebugText() const { return debugTextPending.load(std::memory_order_acquire) != 0; }

    // Steps 1-6 of startMachine: allocate, fill, load ROM and save file.
    // False after the failure has been reported.
    bool loadImages();

    // Asked after startMachine (Unreadable) and after stopMachine (NotWritten
    // as well). The front end shows saveFileMessage when the status is not
    // Fine: the machine itself reports neither, since the window wants to show
    // the start one once it is up and the runner gives the end one an exit code.
    SaveFileStatus saveFileStatus() const { return saveStatus; }
    const std::string& saveFileMessage() const { return saveMessage; }

    // ---- Whole-machine states (MachineState.h, StateFile.h) ----
    // The machine as it is now, and back. Only while the emulation thread is
    // parked, held by the debugger or not running. midSlice: it is held in
    // front of an instruction. previous: pages that have not changed since
    // it are shared with it instead of copied.
    MachineState captureState(bool midSlice, const MachineState* previous = nullptr) const;
    // withLines: the state's print-trap lines join those waiting (a state
    // file's do; the history's snapshots hold none).
    void restoreState(const MachineState& state, bool withLines);
    // The digest of the ROM image as loaded (flash pages 0-63); 0 before.
    uint64_t romDigest() const { return loadedRomDigest; }
    // The digest a ROM image file would have once loaded; nullopt if unreadable.
    static std::optional<uint64_t> romFileDigest(const std::string& path);

    // User-interface thread (or any, while nobody else drives the machine):
    // a state file of the machine as it is now, or the machine as the file
    // has it. "" or the message to show; a refused file changes nothing. On
    // a machine held by the debugger both act on the held instruction;
    // otherwise at the next slice end, and a load under the open debugger
    // then holds the machine at the loaded state's next instruction.
    std::string saveStateFile(const std::string& path);
    std::string loadStateFile(const std::string& path);
    // Before startMachine: the run starts from this state instead of a cold
    // start, and the save file is not read (only written at the end, if a
    // path is set). startMachine refuses a state made for another ROM.
    void setStartState(MachineState state) { startState = std::make_unique<MachineState>(std::move(state)); }

    // ---- Recorded sessions: a state and the outside values after it ----
    // User-interface thread. Starts recording at the held instruction, or at
    // the next slice end; false if a recording runs already.
    bool startRecording();
    // Ends it at the next slice end (a held machine runs on to it, as in a
    // restart) and returns it; endState, if given, gets the machine as it is
    // there. Without a recording: an empty session.
    Session stopRecording(MachineState* endState = nullptr);
    bool isRecording() const { return recordingNow.load(std::memory_order_acquire); }
    // Before startMachine: the recording starts with the run's first
    // instruction (after the start state, if one is set).
    void recordFromStart() { recordAtStart = true; }
    // Before startMachine, with setStartState(session.start): the outside
    // reads are answered from the session's instead of the host's.
    void setReplay(std::vector<OutsideRead> reads);
    // A replayed run read what the session does not hold (it is not the recorded run).
    bool replayDiverged() const { return replayer && replayer->hasDiverged(); }

    // ---- Reverse execution (History.h) ----
    // While the debugger is open the machine keeps a history. User-interface
    // thread, while the debugger holds the machine: the machine as it was
    // count moments earlier, or at the most recent earlier moment at which
    // a breakpoint or point (as they are set now) would have stopped it; it
    // is then held and shown there as after a stop, and the outside reads
    // of the stretch ahead are forgotten. "" when done, else why not (the
    // machine as it was).
    std::string stepBack(uint64_t count) override;
    std::string reverseGo() override;
    // The memory the history may hold (0: no history); before the start or
    // while parked.
    void setHistoryLimit(std::size_t bytes) { history.limit = bytes; }
    // Slices between two snapshots (tests make it small to have many).
    void setHistoryInterval(int slices) { history.intervalSlices = slices; }
    // The history's reach back from the held moment, in T-states, and the
    // memory it holds; while held or parked.
    uint64_t historyReach() const;
    std::size_t historyBytes() const { return history.bytesHeld(); }

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
        if (historyOn) [[unlikely]] {
            if (--historyCountdown < 0)
                takeSnapshot();
        }
        // The restarts may have changed the period while the thread was parked;
        // runCpu reloads the budget from it after this returns.
        sliceStartBudget = state.cyclePeriod;
        // One countdown to the earliest of the three sources instead of three per slice.
        if (--tickCountdown < 0) [[unlikely]]
            advanceTicks();
        const uint16_t answer = irqStatus != 0 ? InterruptVector : HookNoInterrupt;
#ifndef PDEMU_WITHOUT_TRACE_HOOK
        // The debugger came on or went off: the run goes on with the other bus.
        if (debugger.busWanted() != runBus) [[unlikely]] {
            switchingBus = true;
            switchVector = answer;
            return HookLeaveRun;
        }
#endif
        return answer;
    }

    // The processor core's bus (see MachineBus.h). The run loop binds to the
    // Machine itself so the page tables sit at a fixed offset from the one
    // pointer the interpreter keeps in a register.
    uint8_t readByte(uint16_t address) { return memory.readByte(address); }
    uint16_t readWord(uint16_t address) { return memory.readWord(address); }
    void writeByte(uint16_t address, uint8_t value) { memory.writeByte(address, value); }
    uint8_t portIn(uint16_t port) { return ports.portIn(static_cast<uint8_t>(port)); }
    void portOut(uint16_t port, uint8_t value) { ports.portOut(static_cast<uint8_t>(port), value); }
    // The Machine is the bus of the closed debugger: nothing is traced or
    // watched, and the core leaves its hooks out. Opening the debugger ends
    // the run at the next slice end (within 100 T-states, loopHook) and it
    // goes on with DebugBus, which checks the points; closing it comes back.
    static constexpr bool traceActive() { return false; }
    void traceHook(Z80State&) {}
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

private:
    // After storing a request: the emulation thread then looks at its next
    // slice end. A read-modify-write, so that every raise stays visible to the
    // exchange that lowers the flag (see serveRequests).
    void raiseAttention() { attention.fetch_or(1, std::memory_order_release); }
    bool serveRequests();
    void advanceTicks();
    void restartWarmState();
    // Parks the machine, runs work (the processor reset), then lets it go.
    template <class Work>
    void whileParked(Work work);
    void loadSaveFile();
    // With a start state the save file is not read, only looked at.
    void checkSaveFile();
    // One run of the core on bus, the interrupt that a change of buses
    // held over taken first.
    template <class Bus>
    void runOn(Bus& bus, uint16_t vector);
    void writeSaveFile();
    // The rest of loopHook after a slice-end state is put back at a place
    // that is not a slice end (the start, a debugger hold): the interrupt
    // sources tick and the budget is reloaded. The interrupt answer.
    uint16_t finishSliceEnd();
    // The state put back while parked or held, going on from the kind of moment it was taken at.
    void restoreWhileParked(const MachineState& state);
    void restoreWhileHeld(const MachineState& state);

    std::unique_ptr<MachineState> startState;
    // The history: on while the debugger is (the emulation thread starts and
    // ends it as the buses change), a snapshot each time historyCountdown
    // runs out at a slice end.
    History history;
    bool historyOn = false;
    int historyCountdown = 0;
    void beginHistory(bool midSlice);
    void endHistory();
    void takeSnapshot();
    // The history starts again at the next slice end (a restart, a load).
    void restartHistory() {
        history.clear();
        historyCountdown = 0;
    }
    // T-states run up to the moment the machine is at (held or parked).
    uint64_t momentNow() const;
    struct Replay;
    // Runs the machine from snapshot `from` forward to the moment `to`, the
    // outside reads answered from the history; calls visit(bus, t, arrival)
    // in front of each moment up to `to` (arrival: not a HALT fetched
    // again). reached: where the outside reads stand at `to`. False if the
    // run went astray (it is not the recorded one).
    template <class Visit>
    bool replay(std::size_t from, uint64_t to, Visit visit, OutsidePosition* reached);
    struct BackOutcome {
        std::string status;   // shown with the stop ("": "Stopped ...")
        std::string problem;  // why not, when refused
    };
    BackOutcome goBack(uint64_t count, bool toHit);
    // goBack on the held machine, shown there; "" or why not.
    std::string goBackHeld(uint64_t count, bool toHit);
    // The session being recorded: its start and its log (Ports writes it).
    std::unique_ptr<MachineState> sessionStart;
    OutsideLog sessionLog;
    std::atomic<bool> recordingNow{false};
    bool recordAtStart = false;
    std::vector<OutsideRead> replayReads;
    std::unique_ptr<OutsideReplay> replayer;
    void beginRecording(bool midSlice);
    // The ROM pages as loaded, so that states need hold only those the software changed.
    std::unique_ptr<uint8_t[]> loadedRom;
    uint64_t loadedRomDigest = 0;
    // A state taken in front of an instruction was put back while parked:
    // the run ends at the park and goes on with this budget (emulation thread).
    bool resumeMidSlice = false;
    int32_t resumeBudget = 0;

    // pauseRequest: 0 run, 1 asked to park, 2 parked. Written under parkLock.
    std::atomic<int> pauseRequest{0};
    // 1: the emulation thread ends at its next loopHook. Written under parkLock.
    std::atomic<int> stopRequest{0};
    // The print trap's lines waiting for the debug message window, and the
    // flag that says there are some; both under debugLinesLock.
    mutable std::mutex debugLinesLock;
    std::vector<std::string> pendingDebugLines;
    std::atomic<int> debugTextPending{0};

    MessageReporter& reporter;
    SaveFileStatus saveStatus = SaveFileStatus::Fine;
    std::string saveMessage;
    std::atomic<bool> running{false};
    std::atomic<SliceObserver*> sliceObserver{nullptr};
    // Nonzero when the emulation thread should look at sliceObserver,
    // pauseRequest and stopRequest: loopHook tests this one word instead of
    // those three. Raised after a request is stored; lowered only by the
    // emulation thread, in serveRequests.
    std::atomic<int> attention{0};
    int sliceStartBudget = 0;  // cycleBudget the current slice began with
    // Emulation thread: the bus of the run (DebuggerEngine::busWanted);
    // loopHook ended it to change buses, and the interrupt answer it had then.
    int runBus = 0;
    bool switchingBus = false;
    uint16_t switchVector = HookNoInterrupt;
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
