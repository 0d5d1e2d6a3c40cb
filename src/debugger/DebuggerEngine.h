// DebuggerEngine: run control of the built-in debugger (breakpoints, stepping,
// animation, the trace file, the register display, the disassembly listing
// and the hexdump). The machine owns the one engine.
//
// Emulation thread, from the processor core through the machine's bus:
//   traceHook      before every instruction while debuggerOff is 0 (the
//                  core asks the bus once per slice while it is 1, so a
//                  closed debugger costs one flag test a slice and comes on
//                  within a slice); decides whether the instruction is shown,
//                  traced or held, and holds the thread while the machine is
//                  stopped or single-stepping
//   noteInterrupt  when an interrupt is accepted (PC = return address); the
//                  handler then runs unseen until it returns there
//   breakTrap      ED FF: asks for the debugger window (debuggerOpenRequest)
//                  and arms breakpoint 4 behind the instruction that follows
//
// User-interface thread: the commands below, named after what the user did.
// They only set flags that the emulation thread polls (every instruction
// while it runs, every 10 ms while it is held); none of them waits for the
// emulation thread. The run mode and the "command given" mark share one
// word, so the emulation thread sees a command whole or not at all and the
// view's lines come in the same order whatever the threads' timing. Whoever shows the debugger (window, script, test)
// implements DebuggerView and attaches it with setView.
//
// Locks: debugLock is taken by traceHook only, for the inspection and the
// hold. viewLock serialises every DebuggerView call and the display state
// (register cache and texts, listing count, current line, trace buffer)
// between the two threads; it is never held while the thread sleeps.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "debugger/DebuggerView.h"
#include "z80/Z80State.h"

class MemoryMap;

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

    // ---- User-interface thread ----
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
    // The window was closed or destroyed, or an installation begins: a held
    // machine is released and the engine goes off.
    void windowClosed();
    // Takes the break trap's request for the debugger window (clears it).
    // The caller shows the window (windowShown, if it was hidden) and then
    // calls stop().
    bool takeOpenRequest();

    void resetRunState();
    void go();
    void animate();
    void stop();
    void stepInto();
    // Runs until SP is back at its present value (any value, 0000 included).
    // Only while the machine is held (before that there is no instruction to
    // step over). It survives Go and the other commands; reached while the
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
    // holds, a held machine leaves its hold, and the run mode stays as it
    // is, so the emulation thread can reach the end of its slice and park.
    // A machine that was stopped is held again at its next instruction once
    // passing ends.
    void setPassing(bool on);
    bool isPassing() const { return passing.load(std::memory_order_acquire) != 0; }
    // The processor was reset while parked: an interrupt handler being
    // followed is gone with it.
    void processorReset();
    // The register editor's OK. Only while the machine is held; false (and
    // nothing changed) otherwise.
    bool applyRegisterEdit(const RegisterEdit& edit);
    // A copy of the registers of the instruction shown last (the register
    // editor's starting values); nullopt before the first one.
    std::optional<Z80State> inspectedRegisters();

    // Called on the user-interface thread while a command waits for the view
    // lock, which the emulation thread may hold while a window carries out
    // one of its view calls on this very thread: a window that makes those
    // calls blocking serves them here.
    std::function<void()> whileWaitingForView;

    // ---- State for the views and the runner ----
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

    // 1 while the debugger window is closed: the hook is then one flag test a slice.
    std::atomic<uint8_t> debuggerOff{1};
    // Set by breakTrap, served (and cleared) by the device window's timer or the runner.
    std::atomic<uint8_t> debuggerOpenRequest{0};
    // Slots 1-3 (indices 0-2) are the user's breakpoints, slot 4 (index 3) the trap's.
    std::atomic<uint32_t> breakpointSlots[4] = {};

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
    std::unique_lock<std::mutex> lockViewForCommand();
    bool checkBreakpoints(uint16_t pc);
    void waitWhileHeld();
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

    std::recursive_mutex debugLock;
    std::mutex viewLock;
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
    std::atomic<uint32_t> stepOverSp{NoStepOver};
    std::atomic<uint32_t> dirtyMask{AllDirty};
    std::atomic<uint8_t> held{0};
    std::atomic<uint32_t> holdCounter{0};
    // Counts the openings of the window: a HALT the processor sits on when
    // the engine comes on is an arrival the engine has not yet checked.
    std::atomic<uint32_t> watchCount{0};
    // What the view's run controls show (under viewLock): a stop that comes
    // while they are off must be shown like any other.
    bool controlsOn = false;

    // Emulation thread only.
    uint8_t inInterrupt = 0;
    uint32_t interruptReturn = 0;
    uint32_t interruptSp = 0;  // SP before the return address was pushed
    // watchCount when breakpoints were last compared; a HALT repeated under
    // the same count is the same arrival.
    uint32_t checkedInWatch = 0xFFFFFFFFu;
};
