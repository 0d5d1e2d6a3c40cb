// DebuggerEngine: run control of the built-in debugger (breakpoints, stepping,
// animation, the trace file, the register display, the disassembly listing
// and the hexdump). The machine owns the one engine.
//
// Emulation thread, from the processor core through the machine's bus:
//   traceHook      before every instruction while the engine wants every one
//                  (stopped, stepping, animating, tracing, a Step over or an
//                  interrupt handler being followed), and while the machine
//                  runs (Go) only before those where a breakpoint or point
//                  may fire (execCheck); the closed debugger's run has no
//                  hook at all. Decides whether the instruction is shown,
//                  traced or held, fires the points, and holds the thread
//                  while the machine is stopped or single-stepping
//   note*          every data and port access, while a point watches them
//   noteInterrupt  when an interrupt is accepted (PC = return address); the
//                  handler then runs unseen until it returns there
//   breakTrap      ED FF: asks for the debugger window (openRequested) and
//                  arms breakpoint 4 behind the instruction that follows
//
// User-interface thread: the commands below, named after what the user did.
// None of them waits for the emulation thread beyond the moment it holds the
// engine's lock; each wakes the emulation thread, which answers at once from
// its hold or its Animate wait. The run mode and the "command given" mark
// share one word, so the emulation thread sees a command whole or not at all
// and the view's lines come in the same order whatever the threads' timing.
// Whoever shows the debugger (window, script, test) implements DebuggerView
// and attaches it with setView.
//
// The emulation thread waits in two places only, and both end as soon as the
// user-interface thread asks for anything (a command, the machine's pause,
// the engine going off): the hold of a stopped or stepping machine, and,
// while animating, the wait for a view that shows later (showingBehind) to
// catch up with the instruction just shown.
//
// Lock: viewLock serialises every DebuggerView call and the display state
// (register cache and texts, listing count, current line, trace buffer, the
// hold's start and end) between the two threads. It is released while the
// emulation thread waits, and a view call never comes back into the engine
// (a view that shows on another thread records the calls, DebuggerView.h),
// so no thread ever takes it twice. A command's view calls are shown only
// after it has been released (processPendingPaint).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "debugger/DebuggerView.h"
#include "debugger/PointTable.h"
#include "z80/Z80State.h"

class MemoryMap;
class SymbolTable;
class Expression;

// An interrupt handler that runs unseen, from its acceptance until it is
// back at the interrupted address or the stack is back at its level from
// before the return address was pushed.
struct HandlerFollow {
    bool active = false;
    uint16_t returnTo = 0;
    uint16_t sp = 0;  // SP before the return address was pushed
    // Whether the instruction at regs.PC is still inside the handler; ends
    // the follow when it is not.
    bool hides(const Z80State& regs) {
        if (!active)
            return false;
        // A return that happened while the engine was off (or one to
        // elsewhere) must not hide the program for good.
        const uint16_t depth = static_cast<uint16_t>(sp - regs.SP.w);
        if (regs.PC.w != returnTo && depth != 0 && depth < 0x8000)
            return true;
        *this = HandlerFollow{};
        return false;
    }
    void enter(const Z80State& regs) { *this = {true, regs.PC.w, regs.SP.w}; }
};

// Going back in time, which the machine provides (its history); the
// engine's stepBack and reverseGo hand the user's request over to it.
class HistoryControl {
public:
    virtual ~HistoryControl() = default;
    // "" when done (the machine is then held and shown there), else why not.
    virtual std::string stepBack(uint64_t count) = 0;
    virtual std::string reverseGo() = 0;
};

class DebuggerEngine {
public:
    static constexpr int ListingLimit = 1024;       // listing entries between two clearings
    static constexpr uint32_t TraceBufferSize = 8192;
    static constexpr uint32_t TraceFlushLevel = 8050;  // flush when more than this is waiting
    static constexpr int HoldPollMs = 10;
    static constexpr const char* TraceFileName = "trace.txt";

    // The register editor's fields at the moment the user presses OK. Register
    // texts are hexadecimal (at most 4 characters read); an empty text leaves
    // the pair unchanged. Memory is written only if bank, address and value
    // are all given: bank is its first hex digit, a value of exactly two
    // characters is a byte, any other length a word (low byte first).
    struct RegisterEdit {
        std::string af, hl, de, bc, ix, iy;
        bool bankIsRam = true;
        std::string bank, address, value;
    };

    explicit DebuggerEngine(MemoryMap& memory);
    // Writes what the trace buffer holds if tracing is on. The emulation
    // thread must have ended.
    ~DebuggerEngine();
    DebuggerEngine(const DebuggerEngine&) = delete;
    DebuggerEngine& operator=(const DebuggerEngine&) = delete;

    // ---- Emulation thread, from the core ----
    void traceHook(Z80State& regs);
    uint16_t noteInterrupt(Z80State& regs);
    int breakTrap(Z80State& regs);

    // ---- Emulation thread, from a bus that checks points (DebugBus) ----
    // While this is false the bus runs at full speed and calls traceHook only
    // where execCheck asks: the machine runs (Go) with no trace, no Step over
    // pending and no interrupt handler being followed.
    bool wantsEveryInstruction() const {
        return (runMode.load(std::memory_order_relaxed) & (ModeBits | StateChanged)) != 0 ||
               traceOn.load(std::memory_order_relaxed) != 0 ||
               stepOverSp.load(std::memory_order_relaxed) != NoStepOver || follow.active;
    }
    // The bus the emulation thread should run on: 0 the closed debugger's
    // (nothing checked), else 1 + the accesses the points watch
    // (PointTable::WatchWrites, ...): 1 exec checks only.
    int busWanted() const { return isOff() ? 0 : 1 + points.watchedAccesses(); }
    // Before each instruction the full-speed run executes: whether traceHook
    // must see it (a breakpoint or exec point may be there, or a watchpoint
    // saw the last instruction's access). The first form is for bus 1.
    bool execCheck(uint16_t pc) const { return points.execMayHit(pc); }
    bool execCheckWatching(uint16_t pc) {
        instructionPc = pc;
        return points.execMayHit(pc);
    }
    // A watchpoint has seen an access of the current instruction.
    bool accessSeen() const { return points.accessPending(); }
    // Every data access (instruction fetches are not data) and port access.
    void noteWrite(uint16_t a, uint8_t v) {
        if (points.watchesWrite(a)) [[unlikely]]
            recordAccess(AccessKind::Write, a, v);
    }
    void noteRead(uint16_t a, uint8_t v) {
        if (points.watchesRead(a)) [[unlikely]]
            recordAccess(AccessKind::Read, a, v);
    }
    void noteOut(uint8_t port, uint8_t v) {
        if (points.watchesOut(port)) [[unlikely]]
            recordAccess(AccessKind::Out, port, v);
    }
    void noteIn(uint8_t port, uint8_t v) {
        if (points.watchesIn(port)) [[unlikely]]
            recordAccess(AccessKind::In, port, v);
    }

    // ---- User-interface thread ----
    // Points beyond the breakpoint fields (PointSyntax.h), numbered from 5.
    // Names in conditions and log texts are looked up in symbols (may be null).
    // A log point's text goes to the view's appendLog.
    PointResult addPoint(std::string_view text, const SymbolTable* symbols);
    PointResult deletePoint(int number);
    PointResult enablePoint(int number, bool on);
    std::vector<PointInfo> pointList();

    // The Memory window's view of memory, only while the machine is held
    // (false otherwise): Z80 addresses under the current mapping, or a flash
    // or RAM page by offset (wrapping within the page). Writes go where the
    // register editor's would: never to the display, flash page 0 included.
    enum class Space : uint8_t { Z80, Flash, Ram };
    bool peekHeld(Space space, int page, uint32_t address, uint8_t* out, std::size_t count);
    bool pokeHeld(Space space, int page, uint32_t address, uint8_t value);
    // The value of an expression (resolved) on the held machine.
    std::optional<uint32_t> evaluateHeld(const Expression& expression);

    // Attaches the view (nullptr: nothing is shown). Waits for a view call in
    // progress on the emulation thread, so a detached view is safe to destroy.
    void setView(DebuggerView* view);
    // Folder of "trace.txt"; the current directory by default.
    void setTraceDirectory(const std::filesystem::path& folder);

    // The window was shown: the engine comes on and stops the machine. Showing
    // the window selects "Trace off", so tracing ends (and is flushed) too.
    // The Stop is given before the engine comes on, so the first instruction
    // the engine sees already carries it.
    void windowShown();
    // The engine goes off (the window was closed or destroyed, an
    // installation begins, the machine stops): a held machine is released and
    // the hook does nothing until windowShown.
    void switchOff();
    // Takes the break trap's request for the debugger window (clears it).
    // The caller shows the window (windowShown, if it was hidden) and then
    // calls stop().
    bool takeOpenRequest();
    bool openRequested() const { return debuggerOpenRequest.load(std::memory_order_acquire) != 0; }

    void resetRunState();
    void go();
    void animate();
    void stop();
    void stepInto();
    // Runs until SP is back at its present value (any value, 0000 included).
    // Only while the machine is held and no other command is on its way to
    // it (before that there is no instruction to step over). It survives Go and the other commands; reached while the
    // view says the machine runs, it is shown as "Stopped ...".
    void stepOver();
    void clearBreaks();
    void clearList();
    void selectTraceOn();
    // Ends tracing and writes what is buffered, so nothing traced is lost.
    void selectTraceOff();
    // Focus left a breakpoint field: all three fields are read.
    void readBreakpointFields();
    // Served while the machine is held; the flag clears when it is done.
    void requestDisassembly();
    void requestHexdump();
    // For the machine's pause: while passing, the hook neither inspects nor
    // holds, a held or animating machine leaves its wait, and the run mode
    // stays as it is, so the emulation thread can reach the end of its slice
    // and park. When passing ends, a machine that was stopped or stepping is
    // stopped again (and so held at its next instruction, with the status
    // saying so); Animate and Go go on as they were.
    void beginPassing();
    void endPassing();
    // The processor was reset while parked: an interrupt handler being
    // followed is gone with it.
    void processorReset();
    // The register editor's OK. Only while the machine is held and no
    // command is on its way to it; false (and nothing changed) otherwise.
    bool applyRegisterEdit(const RegisterEdit& edit);
    // Runs work on the held machine, as the register editor's OK does: only
    // while it is held and no command is on its way to it (false, and
    // nothing run, otherwise). The emulation thread stays in its hold
    // meanwhile. With reshow the machine is taken to have moved (a state
    // was loaded, the history went back): the interrupt handler being
    // followed and the accesses seen are forgotten before work, and the view
    // then shows it held afresh: status (or "Stopped ..."), every register
    // field, and its instruction in the listing.
    // status, when given, is read after work: the status text to show ("":
    // "Stopped ...").
    bool whileHeld(const std::function<void()>& work, bool reshow, const std::string* status = nullptr);
    // ---- The history's replay (the machine's), only inside whileHeld's work ----
    // The handler being followed (emulation thread, or while held).
    HandlerFollow handlerFollow() const { return follow; }
    void setHandlerFollow(const HandlerFollow& f) { follow = f; }
    // Forgets the accesses recorded (a replay starts elsewhere).
    void replayForget() { points.forgetAccesses(); }
    // A replayed access, recorded for the points as the debugger's bus does.
    void replayAccess(AccessKind kind, uint16_t address, uint8_t value, uint16_t at);
    // The number of the lowest breakpoint or point that would stop the
    // machine in front of the instruction at regs.PC (0: none), conditions
    // evaluated, hit counts not kept; the accesses recorded are used up.
    // checkExec: an arrival at this instruction (not a HALT fetched again).
    int replayProbe(const Z80State& regs, bool checkExec);
    // Fires there as the forward run would (counts, logs, labels, the trap's
    // breakpoint used up); the status message of the stop.
    std::string replayFire(const Z80State& regs, bool checkExec);
    // Counts the register editor's and the Memory window's changes: the
    // history cannot replay them.
    uint32_t editCount() const { return edits.load(std::memory_order_acquire); }
    // A break trap's request, as a loaded state has it.
    void setOpenRequest(bool on) { debuggerOpenRequest.store(on ? 1 : 0, std::memory_order_release); }
    // While the machine is held: the machine as it was count instructions
    // earlier, or at the latest earlier moment a breakpoint or point would
    // have stopped it, held and shown there ("" when done, else why not).
    // The caller waits while the history is replayed (well under a second
    // for the last few million instructions).
    void setHistoryControl(HistoryControl* control) { historyControl = control; }
    std::string stepBack(uint64_t count) {
        return historyControl ? historyControl->stepBack(count) : "this machine keeps no history";
    }
    std::string reverseGo() { return historyControl ? historyControl->reverseGo() : "this machine keeps no history"; }
    // The registers of the held machine (the register editor's starting
    // values); nullopt while it is not held or before the first instruction
    // was shown.
    std::optional<Z80State> inspectedRegisters();
    // The status text shown last: once the machine is held, why it was
    // (a stop, a breakpoint or watchpoint hit, the history's start). For a
    // client that has no view of its own to read it from.
    std::string statusText();
    // A view that shows later has shown everything it was given (any
    // thread, not from inside a view call): an Animate waiting for it goes on.
    void viewCaughtUp();

    // ---- State for the views and the runner ----
    // 1 while the window is closed: the hook is then one flag test a slice.
    bool isOff() const { return debuggerOff.load(std::memory_order_relaxed) != 0; }
    // The emulation thread is in its hold (a command may be about to end it).
    bool isHeld() const { return held.load(std::memory_order_acquire) != 0; }
    // Counts every time the emulation thread starts being held.
    uint32_t holdCount() const { return holdCounter.load(std::memory_order_acquire); }
    // True once the emulation thread has taken up the last Stop/Step/Animate.
    bool commandTakenUp() const { return (mode() & StateChanged) == 0; }
    bool disassemblyPending() const { return disasmRequest.load(std::memory_order_acquire) != 0; }
    bool hexdumpPending() const { return hexdumpRequest.load(std::memory_order_acquire) != 0; }
    bool tracing() const { return traceOn.load(std::memory_order_acquire) != 0; }
    // Breakpoint slot n = 1..4 (4 is the break trap's); 0 means empty.
    uint32_t breakpoint(int n) const { return breakpointSlots[n - 1].load(std::memory_order_acquire); }

private:
    // Register fields: cache index in the order PC, AF, IX, IY, HL, BC, DE, SP,
    // and each field's bit of dirtyMask.
    struct Field {
        RegisterPair pair;
        int cacheIndex;
        uint32_t dirtyBit;
    };
    static const Field displayOrder[8];  // AF, HL, DE, BC, PC, SP, IX, IY
    static constexpr uint32_t CacheInvalid = 0xFFFFFFFFu;
    static constexpr uint32_t AllDirty = 0xFFFFFFFFu;

    bool inspectInstruction(Z80State& regs);
    bool checkBreakpoints(uint16_t pc);
    // A watched access (emulation thread); takes viewLock.
    void recordAccess(AccessKind kind, uint16_t address, uint8_t value);
    // viewLock held: stores a breakpoint slot and keeps the point map in step.
    void setSlot(int index, uint32_t address);
    void appendLog(std::string_view text);
    // The two waits of the emulation thread; lock is viewLock, released while waiting.
    void waitForView(std::unique_lock<std::mutex>& lock);
    void waitWhileHeld(std::unique_lock<std::mutex>& lock);
    // After a user-interface request: the emulation thread looks at once.
    void wakeEmulationThread();
    // A command's view calls, made under viewLock; the view shows them once
    // the lock is released.
    template <class Work>
    void showFromCommand(Work work);
    // viewLock held: the emulation thread is in its hold and stays there
    // until this thread gives a command.
    bool holdingNow() const;
    // The following run with viewLock held.
    void formatRegisters(Z80State& regs);
    void showRegisters();
    void appendListing(std::string_view text);
    void clearDisplay();
    void listDisassembly();
    void dumpMemory();
    void showStatus(std::string_view text);
    void writeTraceHeader();
    void appendTrace(std::string_view text);
    void flushTrace();

    int disassemble(char* text, uint16_t address) const;
    static uint16_t pairValue(const Z80State& regs, RegisterPair pair);
    uint32_t mode() const { return runMode.load(std::memory_order_acquire); }
    // Clears the disassembly and hexdump requests and the release counters.
    void clearRequests();
    // Sets the mode bits (StateChanged kept as it is) after clearRequests.
    void setMode(uint32_t bits);
    void enableControls(bool on);

    MemoryMap& memory;

    std::mutex viewLock;
    // The emulation thread's waits; notified under viewLock.
    std::condition_variable wake;
    DebuggerView* view = nullptr;  // under viewLock

    // Display state, under viewLock.
    uint32_t registerCache[8];
    int32_t listCount = 0;
    char registerTexts[8][6] = {};
    char lineBuffer[256] = {};
    static constexpr const char* flagLetters = "SZ*H*PNC";
    char flagsText[9] = "........";
    Z80State* lastRegs = nullptr;
    uint32_t traceFill = 0;
    std::unique_ptr<char[]> traceBuffer;
    std::filesystem::path traceFolder;

    // Run state shared with the user-interface thread.
    // runMode bits: the mode the user chose and StateChanged, the mark of a
    // command the emulation thread has not yet taken up (its status line is
    // due).
    static constexpr uint32_t StepMode = 1, Stopped = 2, Animating = 4, StateChanged = 8;
    static constexpr uint32_t ModeBits = StepMode | Stopped | Animating;
    // stepOverSp when no Step over is pending (every SP, 0000 included, is a target).
    static constexpr uint32_t NoStepOver = 0xFFFFFFFFu;
    std::atomic<uint32_t> runMode{0};
    std::atomic<int32_t> releaseCount{0};
    std::atomic<int32_t> releaseAck{0};
    std::atomic<uint8_t> disasmRequest{0};
    std::atomic<uint8_t> hexdumpRequest{0};
    std::atomic<uint8_t> traceOn{0};
    std::atomic<uint8_t> passing{0};
    std::atomic<uint8_t> debuggerOff{1};
    // Set by breakTrap, served (and cleared) by the device window's timer or the runner.
    std::atomic<uint8_t> debuggerOpenRequest{0};
    // Slots 1-3 (indices 0-2) are the user's breakpoints, slot 4 (index 3) the trap's.
    std::atomic<uint32_t> breakpointSlots[4] = {};
    std::atomic<uint32_t> stepOverSp{NoStepOver};
    std::atomic<uint32_t> dirtyMask{AllDirty};
    std::atomic<uint8_t> held{0};  // changed under viewLock
    std::atomic<uint32_t> holdCounter{0};
    // Counts the openings of the window: a HALT the processor sits on when
    // the engine comes on is an arrival the engine has not yet checked.
    std::atomic<uint32_t> watchCount{0};
    // What the view's run controls show (under viewLock): a stop that comes
    // while they are off must be shown like any other.
    bool controlsOn = false;
    std::string statusShown;  // under viewLock

    std::atomic<uint32_t> edits{0};
    HistoryControl* historyControl = nullptr;
    // The points; under viewLock except its inline tests.
    PointTable points;

    // Emulation thread only.
    // Address of the instruction being executed (an interrupt's: the return
    // address), which a watchpoint reports as "at:".
    uint16_t instructionPc = 0;
    HandlerFollow follow;
    // watchCount when breakpoints were last compared; a HALT repeated under
    // the same count is the same arrival.
    uint32_t checkedInWatch = 0xFFFFFFFFu;
};
