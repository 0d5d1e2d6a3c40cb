// DebuggerEngine: inspection, holding and the user's commands. The header
// tells which thread runs what; the comments here say why the code is shaped
// the way it is.
#include "debugger/DebuggerEngine.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <optional>

#include "debugger/Disassembler.h"
#include "debugger/Expression.h"
#include "machine/MemoryMap.h"

namespace {

// Reads what the user typed: hexadecimal up to the first character that is not
// a hex digit, looking at no more than maxChars. No leading hex digit (or an
// empty field) means the user gave no value.
std::optional<uint32_t> parseHexField(std::string_view text, std::size_t maxChars) {
    text = text.substr(0, maxChars);
    uint32_t value = 0;
    std::size_t digits = 0;
    for (char c : text) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            break;
        value = value * 16 + static_cast<uint32_t>(d);
        ++digits;
    }
    if (digits == 0)
        return std::nullopt;
    return value;
}

template <class T>
T get(const std::atomic<T>& flag) {
    return flag.load(std::memory_order_acquire);
}

template <class T>
void put(std::atomic<T>& flag, T value) {
    flag.store(value, std::memory_order_release);
}

}  // namespace

const DebuggerEngine::Field DebuggerEngine::displayOrder[8] = {
    {RegisterPair::AF, 1, 0x02}, {RegisterPair::HL, 4, 0x10}, {RegisterPair::DE, 6, 0x40},
    {RegisterPair::BC, 5, 0x20}, {RegisterPair::PC, 0, 0x100}, {RegisterPair::SP, 7, 0x80},
    {RegisterPair::IX, 2, 0x04}, {RegisterPair::IY, 3, 0x08},
};

DebuggerEngine::DebuggerEngine(MemoryMap& memory)
    : memory(memory), traceBuffer(std::make_unique<char[]>(TraceBufferSize)) {
    for (uint32_t& cached : registerCache)
        cached = CacheInvalid;
}

DebuggerEngine::~DebuggerEngine() {
    std::lock_guard lock(viewLock);
    if (get(traceOn))
        flushTrace();
}

// ---------------------------------------------------------------------------
// Emulation thread

void DebuggerEngine::traceHook(Z80State& regs) {
    instructionPc = regs.PC.w;
    if (get(debuggerOff) || get(passing))
        return;
    if (!inspectInstruction(regs))
        return;
    std::unique_lock lock(viewLock);
    showRegisters();
    waitForView(lock);
    waitWhileHeld(lock);
}

uint16_t DebuggerEngine::noteInterrupt(Z80State& regs) {
    // A handler taken while the debugger is closed is not followed: its
    // return goes unseen, and code deeper on the stack afterwards (an app
    // called after the interrupted idle loop) would count as the handler.
    // The same holds for one followed before the debugger was closed.
    if (get(debuggerOff)) {
        follow = HandlerFollow{};
        return regs.PC.w;
    }
    follow.enter(regs);
    instructionPc = regs.PC.w;  // the push is reported at the return address
    return regs.PC.w;
}

int DebuggerEngine::breakTrap(Z80State& regs) {
    char text[disasmTextSize];
    const int length = disassemble(text, regs.PC.w);
    {
        std::lock_guard lock(viewLock);
        setSlot(3, (regs.PC.w + length) & 0xFFFFu);
    }
    put<uint8_t>(debuggerOpenRequest, 1);
    return length;
}

bool DebuggerEngine::inspectInstruction(Z80State& regs) {
    if (get(debuggerOff))
        return false;
    const uint16_t pc = regs.PC.w;
    if (follow.hides(regs))
        return false;

    // A Step over that reaches its SP stops the machine like any other stop.
    bool overDone = false;
    uint32_t overSp = get(stepOverSp);
    if (overSp == regs.SP.w && stepOverSp.compare_exchange_strong(overSp, NoStepOver)) {
        overDone = true;
        uint32_t m = mode();
        while (!runMode.compare_exchange_weak(m, (m & StateChanged) | Stopped, std::memory_order_acq_rel)) {
        }
    }

    // One load (or the exchange that takes a command up) gives the whole
    // mode; everything below goes by it, so a command that arrives meanwhile
    // is handled whole at the next instruction or in the hold.
    uint32_t m = mode();
    const bool changed = (m & StateChanged) != 0;
    if (changed)
        m = runMode.fetch_and(~StateChanged, std::memory_order_acq_rel) & ~StateChanged;

    // A halted processor fetches its HALT again once per slice until an
    // interrupt comes. Each arrival at it is compared once: at its first
    // fetch, or at the first fetch the engine sees when it came on while the
    // processor sat there (a trap's breakpoint 4 on the HALT is then
    // reported, not left armed for a later pass).
    const uint32_t watch = get(watchCount);
    const bool newArrival = !(regs.cpuFlags & CpuHalted) || checkedInWatch != watch;
    checkedInWatch = watch;

    // The points fire first (their logs come before any stop's message); a
    // point that holds shows its own message instead of the command's.
    std::optional<std::string> pointHold;
    const bool execDue = newArrival && points.execMayHit(pc);
    if (execDue || points.accessPending()) {
        std::lock_guard lock(viewLock);
        bool logged = false;
        pointHold = points.fire(regs, memory, execDue, [&](std::string_view text) {
            appendLog(text);
            logged = true;
        });
        if ((logged || pointHold) && view)
            view->pointsChanged();  // the counts the list shows
    }

    if (changed) {
        std::lock_guard lock(viewLock);
        put(dirtyMask, AllDirty);
        if (pointHold) {
            // shown below, in the command's place
        } else if (m & StepMode) {
            showStatus("Stepmode invoked");
            enableControls(true);
        } else if (m & Stopped) {
            showStatus("Stopped ...");
            enableControls(true);
        } else if (m & Animating) {
            showStatus("Animating ...");
            enableControls(false);
        }
    }
    if (overDone && !pointHold) {
        // Reached after Go or Animate the view says the machine runs: show the stop.
        std::lock_guard lock(viewLock);
        if (!controlsOn) {
            put(dirtyMask, AllDirty);
            showStatus("Stopped ...");
            enableControls(true);
        }
    }

    bool hit = newArrival && checkBreakpoints(pc);
    if (!hit && pointHold) {
        std::lock_guard lock(viewLock);
        put(stepOverSp, NoStepOver);  // a hit ends a Step over
        put(dirtyMask, AllDirty);
        setMode(Stopped);
        showStatus(*pointHold);
        enableControls(true);
        hit = true;
    }
    if (hit)
        m = Stopped;
    const bool showing = (m & ModeBits) != 0;
    if (!hit && !showing && !get(traceOn))
        return false;

    std::lock_guard lock(viewLock);
    char text[disasmTextSize];
    disassemble(text, pc);
    if (text[0] == 'H')  // HALT is never shown, traced or held
        return false;
    formatRegisters(regs);
    std::snprintf(lineBuffer, sizeof lineBuffer, "%04X:%s\r\n", pc, text);
    if (get(traceOn))
        appendTrace(lineBuffer);
    return showing || hit;
}

bool DebuggerEngine::checkBreakpoints(uint16_t pc) {
    for (int slot = 0; slot < 4; ++slot) {
        const uint32_t address = breakpointSlots[slot].load(std::memory_order_relaxed);
        if (address == 0 || address != pc)
            continue;
        std::lock_guard lock(viewLock);
        if (slot < 3) {
            if (view) {
                view->setBreakpointLabel(slot + 1, "*");
            }
        } else {
            setSlot(3, 0);  // the trap's breakpoint fires once
        }
        char message[64];
        std::snprintf(message, sizeof message, "Breakpoint (%i) hit at:%x", slot + 1, static_cast<unsigned>(pc));
        setMode(Stopped);
        showStatus(message);
        enableControls(true);
        return true;
    }
    return false;
}

// Animate shows every instruction: with a view that shows later, the next
// one waits until the window has shown this one, or until the user asks for
// anything (a command changes the mode; the machine's pause lets it pass).
void DebuggerEngine::waitForView(std::unique_lock<std::mutex>& lock) {
    const uint32_t m = mode();
    if ((m & Animating) == 0)
        return;
    const auto goOn = [&] {
        return view == nullptr || !view->showingBehind() || mode() != m || get(debuggerOff) || get(passing);
    };
    while (!goOn())
        wake.wait_for(lock, std::chrono::milliseconds(HoldPollMs));
}

// The hold: the emulation thread stays here, between two instructions, until
// a command lets it go. It serves what the user asks for meanwhile and waits
// for the next command otherwise (polling every HoldPollMs as well).
void DebuggerEngine::waitWhileHeld(std::unique_lock<std::mutex>& lock) {
    bool holding = false;
    for (;;) {
        uint32_t m = mode();
        if ((m & (StepMode | Stopped)) == 0 || get(debuggerOff) || get(passing))
            break;
        if (!holding) {
            holding = true;
            put<uint8_t>(held, 1);
            holdCounter.fetch_add(1, std::memory_order_acq_rel);
        }
        if ((m & (Stopped | StateChanged)) == (Stopped | StateChanged) &&
            runMode.compare_exchange_strong(m, m & ~StateChanged, std::memory_order_acq_rel)) {
            // A Stop given while already stopped.
            showStatus("Stopped ...");
            enableControls(true);
        }
        const int32_t ack = get(releaseAck);
        if (get(releaseCount) != ack) {
            put(releaseCount, ack);  // one Step into releases exactly one instruction
            break;
        }
        if (get(hexdumpRequest)) {
            dumpMemory();
            put<uint8_t>(hexdumpRequest, 0);
        } else if (get(disasmRequest)) {
            listDisassembly();
            put<uint8_t>(disasmRequest, 0);
        } else {
            wake.wait_for(lock, std::chrono::milliseconds(HoldPollMs));
        }
    }
    put<uint8_t>(held, 0);
}

// ---------------------------------------------------------------------------
// Display (viewLock held)

uint16_t DebuggerEngine::pairValue(const Z80State& regs, RegisterPair pair) {
    switch (pair) {
    case RegisterPair::AF: return regs.AF.w;
    case RegisterPair::BC: return regs.BC.w;
    case RegisterPair::DE: return regs.DE.w;
    case RegisterPair::HL: return regs.HL.w;
    case RegisterPair::IX: return regs.IX.w;
    case RegisterPair::IY: return regs.IY.w;
    case RegisterPair::PC: return regs.PC.w;
    case RegisterPair::SP: return regs.SP.w;
    }
    return 0;
}

void DebuggerEngine::formatRegisters(Z80State& regs) {
    lastRegs = &regs;
    const uint8_t f = regs.AF.b.l;
    for (int bit = 7; bit >= 0; --bit)
        flagsText[7 - bit] = (f >> bit) & 1 ? flagLetters[7 - bit] : '.';
    flagsText[8] = '\0';
    uint32_t changed = 0;
    for (const Field& field : displayOrder) {
        const uint16_t value = pairValue(regs, field.pair);
        if (registerCache[field.cacheIndex] == value)
            continue;
        std::snprintf(registerTexts[field.cacheIndex], sizeof registerTexts[0], "%04X", value);
        registerCache[field.cacheIndex] = value;
        changed |= field.dirtyBit;
    }
    dirtyMask.fetch_or(changed, std::memory_order_acq_rel);
}

void DebuggerEngine::showRegisters() {
    if (get(debuggerOff))
        return;
    const uint32_t dirty = dirtyMask.exchange(0, std::memory_order_acq_rel);
    if (view) {
        view->setFlagsField(flagsText);
        for (const Field& field : displayOrder)
            if (dirty & field.dirtyBit)
                view->setRegisterField(field.pair, registerTexts[field.cacheIndex]);
    }
    appendListing(lineBuffer);
}

void DebuggerEngine::appendListing(std::string_view text) {
    if (listCount >= ListingLimit) {
        listCount = 0;
        if (view)
            view->listingClear();
    }
    if (view)
        view->listingAppend(text);
    ++listCount;
}

void DebuggerEngine::showStatus(std::string_view text) {
    statusShown.assign(text);
    if (view)
        view->setStatus(text);
}

void DebuggerEngine::clearDisplay() {
    if (get(debuggerOff))
        return;
    listCount = 0;
    if (view) {
        view->listingClear();
        for (const Field& field : displayOrder)
            view->setRegisterField(field.pair, "");
        view->setFlagsField("........");
        for (int n = 1; n <= 3; ++n)
            view->setBreakpointLabel(n, std::to_string(n));
    }
    for (int i = 0; i < 8; ++i) {
        registerCache[i] = CacheInvalid;
        registerTexts[i][0] = '\0';
    }
    put(dirtyMask, AllDirty);
    showStatus("");
}

int DebuggerEngine::disassemble(char* text, uint16_t address) const {
    return disassembleAt(text, address, [this](uint16_t a) { return memory.readByte(a); });
}

void DebuggerEngine::listDisassembly() {
    if ((mode() & (Stopped | StepMode)) == 0)
        return;
    char line[disasmTextSize + 16];
    std::snprintf(line, sizeof line, "-Disassembly RomBank:%d(x%02x) RamBank:%d(x%02x)-\r\n", memory.romBank,
                  memory.romBank, memory.ramBank, memory.ramBank);
    appendListing(line);
    std::optional<uint32_t> start;
    if (view)
        start = parseHexField(view->getAddressField(), 4);
    uint32_t address = start ? *start : (lastRegs ? lastRegs->PC.w : 0);
    // A line buffer of its own: lineBuffer keeps the current instruction,
    // which the register editor's OK appends to the listing again.
    for (int i = 0; i < 16; ++i) {
        char text[disasmTextSize];
        const int length = disassemble(text, static_cast<uint16_t>(address));
        std::snprintf(line, sizeof line, "%04X:%s\r\n", address & 0xFFFFu, text);
        appendListing(line);
        address = (address + static_cast<uint32_t>(length)) & 0xFFFFu;
    }
    appendListing("---------------\r\n");
}

void DebuggerEngine::dumpMemory() {
    if (!view || (mode() & (Stopped | StepMode)) == 0)
        return;
    uint32_t rows = 16;
    if (auto length = parseHexField(view->getLengthField(), 3)) {
        rows = *length / 16;
        if (rows == 0)
            rows = 1;
    }
    uint32_t start;
    if (auto address = parseHexField(view->getAddressField(), 4))
        start = *address;
    else
        start = lastRegs ? lastRegs->PC.w : 0;

    char line[96];
    view->appendDumpLine("");
    std::snprintf(line, sizeof line, "Banks: Rom:%d(x%02x) Ram:%d(x%02x)", memory.romBank, memory.romBank,
                  memory.ramBank, memory.ramBank);
    view->appendDumpLine(line);
    view->appendDumpLine("Adr. |Hex                     |Char");
    view->appendDumpLine("-----|------------------------|----------------------");

    uint32_t rowStart = start & 0xFFFFu;
    for (uint32_t row = 0; row < rows && rowStart != 0xFFFF; ++row) {
        for (uint32_t half = 0; half < 2; ++half) {
            const uint32_t lineStart = (rowStart + half * 8) & 0xFFFFu;
            char* out = line;
            out += std::snprintf(out, 8, "%04X  ", lineStart);
            uint8_t bytes[8];
            for (uint32_t i = 0; i < 8; ++i) {
                bytes[i] = memory.readByte(static_cast<uint16_t>(lineStart + i));
                out += std::snprintf(out, 4, "%02X ", bytes[i]);
            }
            *out++ = ' ';
            *out++ = ' ';
            for (uint8_t b : bytes) {
                *out++ = (b >= 0x21 && b <= 0x7F) ? static_cast<char>(b) : '.';
                *out++ = ' ';
                *out++ = ' ';
            }
            *out = '\0';
            view->appendDumpLine(line);
        }
        rowStart = (rowStart + 16) & 0xFFFFu;
    }
}

// ---------------------------------------------------------------------------
// Trace file (viewLock held)

void DebuggerEngine::writeTraceHeader() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char header[160];
    int length = std::snprintf(header, 64, "Tracefile startet at: %02i.%02i.%02i, %02i:%02i:%02i\r\n", local.tm_mday,
                               local.tm_mon + 1, local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
    length = std::min(length, 63);
    const int underline = length;  // as long as the header line, its CR LF counted
    for (int i = 0; i < underline; ++i)
        header[length++] = '=';
    header[length++] = '\r';
    header[length++] = '\n';
    appendTrace(std::string_view(header, static_cast<std::size_t>(length)));
}

void DebuggerEngine::appendTrace(std::string_view text) {
    // The flush level keeps a whole line free at the end; a text that would
    // still not fit goes out after what is waiting.
    if (traceFill + text.size() > TraceBufferSize)
        flushTrace();
    const std::size_t n = std::min<std::size_t>(text.size(), TraceBufferSize);
    std::copy_n(text.data(), n, traceBuffer.get() + traceFill);
    traceFill += static_cast<uint32_t>(n);
    if (traceFill > TraceFlushLevel)
        flushTrace();
}

void DebuggerEngine::flushTrace() {
    if (traceFill == 0)
        return;
    const std::filesystem::path path = traceFolder.empty() ? std::filesystem::path(TraceFileName)
                                                           : traceFolder / TraceFileName;
    if (std::FILE* file = std::fopen(path.c_str(), "ab")) {
        std::fwrite(traceBuffer.get(), 1, traceFill, file);
        std::fclose(file);
    }
    traceFill = 0;  // unwritable file: the lines are dropped
}

// ---------------------------------------------------------------------------
// User-interface thread

void DebuggerEngine::wakeEmulationThread() {
    // Taking the lock orders the request before the waiter's next look, so
    // the notification cannot fall between its look and its wait.
    { std::lock_guard lock(viewLock); }
    wake.notify_all();
}

template <class Work>
void DebuggerEngine::showFromCommand(Work work) {
    DebuggerView* shownBy;
    {
        std::lock_guard lock(viewLock);
        work();
        shownBy = view;
    }
    // This thread set the view, so it is still there.
    if (shownBy)
        shownBy->processPendingPaint();
}

bool DebuggerEngine::holdingNow() const {
    const uint32_t m = mode();
    return get(held) != 0 && (m & (StepMode | Stopped)) != 0 && get(releaseCount) == get(releaseAck) &&
           get(debuggerOff) == 0 && get(passing) == 0;
}

std::optional<Z80State> DebuggerEngine::inspectedRegisters() {
    std::lock_guard lock(viewLock);
    if (!holdingNow() || !lastRegs)
        return std::nullopt;
    return *lastRegs;
}

std::string DebuggerEngine::statusText() {
    std::lock_guard lock(viewLock);
    return statusShown;
}

void DebuggerEngine::setView(DebuggerView* newView) {
    {
        std::lock_guard lock(viewLock);
        view = newView;
    }
    wake.notify_all();
}

void DebuggerEngine::setTraceDirectory(const std::filesystem::path& folder) {
    std::lock_guard lock(viewLock);
    traceFolder = folder;
}

void DebuggerEngine::clearRequests() {
    put<uint8_t>(disasmRequest, 0);
    put<uint8_t>(hexdumpRequest, 0);
    put(releaseCount, 0);
    put(releaseAck, 0);
    put(dirtyMask, AllDirty);
}

void DebuggerEngine::setMode(uint32_t bits) {
    clearRequests();
    uint32_t m = mode();
    while (!runMode.compare_exchange_weak(m, (m & StateChanged) | bits, std::memory_order_acq_rel)) {
    }
}

void DebuggerEngine::enableControls(bool on) {
    controlsOn = on;
    if (view)
        view->enableRunControls(on);
}

void DebuggerEngine::resetRunState() {
    setMode(0);
    wakeEmulationThread();
}

void DebuggerEngine::windowShown() {
    selectTraceOff();
    stop();
    watchCount.fetch_add(1, std::memory_order_acq_rel);
    put<uint8_t>(debuggerOff, 0);
}

void DebuggerEngine::switchOff() {
    setMode(0);
    put<uint8_t>(debuggerOff, 1);
    wakeEmulationThread();
}

bool DebuggerEngine::takeOpenRequest() {
    // exchange, not load-then-clear: a trap executed in between is not lost
    return debuggerOpenRequest.exchange(0, std::memory_order_acq_rel) != 0;
}

void DebuggerEngine::go() {
    // The display is emptied and says "Running ..." before the machine is
    // let go, so nothing it shows on its way (a breakpoint hit) comes first.
    showFromCommand([this] {
        clearDisplay();
        showStatus("Running ...");
        enableControls(false);
        setMode(0);
        wake.notify_all();
    });
}

void DebuggerEngine::animate() {
    clearRequests();
    runMode.store(Animating | StateChanged, std::memory_order_release);
    wakeEmulationThread();
}

// Mode and mark in one store: a held machine never sees a moment with every
// hold bit clear, and never the mode without its mark.
void DebuggerEngine::stop() {
    clearRequests();
    runMode.store(Stopped | StateChanged, std::memory_order_release);
    wakeEmulationThread();
}

void DebuggerEngine::stepInto() {
    clearRequests();
    runMode.store(StepMode | StateChanged, std::memory_order_release);
    releaseCount.fetch_add(1, std::memory_order_acq_rel);
    wakeEmulationThread();
}

void DebuggerEngine::stepOver() {
    {
        std::lock_guard lock(viewLock);
        if (!holdingNow() || !lastRegs)
            return;
        put<uint32_t>(stepOverSp, lastRegs->SP.w);
        runMode.fetch_and(~(StepMode | Stopped), std::memory_order_acq_rel);
    }
    wake.notify_all();
}

void DebuggerEngine::clearBreaks() {
    showFromCommand([this] {
        for (int slot = 0; slot < 4; ++slot)
            setSlot(slot, 0);
        if (!view)
            return;
        for (int n = 1; n <= 3; ++n) {
            view->setBreakpointField(n, "");
            view->setBreakpointLabel(n, std::to_string(n));
        }
    });
}

void DebuggerEngine::clearList() {
    showFromCommand([this] {
        listCount = ListingLimit;
        if ((mode() & Animating) == 0)
            appendListing("");
    });
}

void DebuggerEngine::selectTraceOn() {
    std::lock_guard lock(viewLock);
    put<uint8_t>(traceOn, 1);
    writeTraceHeader();
}

void DebuggerEngine::selectTraceOff() {
    std::lock_guard lock(viewLock);
    put<uint8_t>(traceOn, 0);
    flushTrace();
}

void DebuggerEngine::readBreakpointFields() {
    std::lock_guard lock(viewLock);
    if (!view)
        return;
    for (int n = 1; n <= 3; ++n)
        if (auto value = parseHexField(view->getBreakpointField(n), 4))
            setSlot(n - 1, *value & 0xFFFFu);
}

void DebuggerEngine::requestDisassembly() {
    put<uint8_t>(disasmRequest, 1);
    wakeEmulationThread();
}

void DebuggerEngine::requestHexdump() {
    put<uint8_t>(hexdumpRequest, 1);
    wakeEmulationThread();
}

void DebuggerEngine::beginPassing() {
    put<uint8_t>(passing, 1);
    wakeEmulationThread();
}

void DebuggerEngine::endPassing() {
    put<uint8_t>(passing, 0);
    if ((mode() & (StepMode | Stopped)) != 0)
        stop();
}

void DebuggerEngine::viewCaughtUp() { wakeEmulationThread(); }

void DebuggerEngine::processorReset() {
    follow = HandlerFollow{};
    std::lock_guard lock(viewLock);
    points.forgetAccesses();
}

// ---------------------------------------------------------------------------
// Points

void DebuggerEngine::recordAccess(AccessKind kind, uint16_t address, uint8_t value) {
    if (get(debuggerOff))
        return;
    std::lock_guard lock(viewLock);
    points.recordAccess(kind, address, value, instructionPc);
}

void DebuggerEngine::setSlot(int index, uint32_t address) {
    breakpointSlots[index].store(address, std::memory_order_release);
    points.setSlotAddress(index + 1, address);
}

void DebuggerEngine::appendLog(std::string_view text) {
    if (view)
        view->appendLog(text);
}

PointResult DebuggerEngine::addPoint(std::string_view text, const SymbolTable* symbols) {
    PointResult result;
    showFromCommand([&] {
        result = points.add(text, symbols);
        if (result.ok() && view)
            view->pointsChanged();
    });
    return result;
}

PointResult DebuggerEngine::deletePoint(int number) {
    PointResult result;
    showFromCommand([&] {
        result = points.remove(number);
        if (result.ok() && view)
            view->pointsChanged();
    });
    return result;
}

PointResult DebuggerEngine::enablePoint(int number, bool on) {
    PointResult result;
    showFromCommand([&] {
        result = points.enable(number, on);
        if (result.ok() && view)
            view->pointsChanged();
    });
    return result;
}

std::vector<PointInfo> DebuggerEngine::pointList() {
    std::lock_guard lock(viewLock);
    return points.list();
}

bool DebuggerEngine::peekHeld(Space space, int page, uint32_t address, uint8_t* out, std::size_t count) {
    std::lock_guard lock(viewLock);
    if (!holdingNow() || !memory.imagesAllocated())
        return false;
    for (std::size_t i = 0; i < count; ++i) {
        const uint32_t a = address + static_cast<uint32_t>(i);
        if (space == Space::Z80)
            out[i] = memory.readByte(static_cast<uint16_t>(a));
        else
            out[i] = *memory.pageByte(space == Space::Ram, page, static_cast<uint16_t>(a));
    }
    return true;
}

bool DebuggerEngine::pokeHeld(Space space, int page, uint32_t address, uint8_t value) {
    std::lock_guard lock(viewLock);
    if (!holdingNow() || !memory.imagesAllocated())
        return false;
    if (space == Space::Z80)
        *memory.hostByte(static_cast<uint16_t>(address)) = value;
    else
        *memory.pageByte(space == Space::Ram, page, static_cast<uint16_t>(address)) = value;
    if (space != Space::Ram)
        ++memory.flashWrites;  // the Z80 address may be flash page 0
    edits.fetch_add(1, std::memory_order_acq_rel);
    return true;
}

std::optional<uint32_t> DebuggerEngine::evaluateHeld(const Expression& expression) {
    std::lock_guard lock(viewLock);
    if (!holdingNow() || !lastRegs || !memory.imagesAllocated())
        return std::nullopt;
    return evaluateOn(expression, *lastRegs, memory);
}

bool DebuggerEngine::whileHeld(const std::function<void()>& work, bool reshow, const std::string* status) {
    bool ran = false;
    showFromCommand([&] {
        if (!holdingNow())
            return;
        ran = true;
        if (reshow) {
            follow = HandlerFollow{};
            points.forgetAccesses();
        }
        work();
        if (!reshow || !lastRegs)
            return;
        // The hold goes on at the moved machine: shown like a stop there.
        setMode(Stopped);
        put(stepOverSp, NoStepOver);
        char text[disasmTextSize];
        disassemble(text, lastRegs->PC.w);
        std::snprintf(lineBuffer, sizeof lineBuffer, "%04X:%s\r\n", lastRegs->PC.w, text);
        // In the order of a stop on the way forward: status, then registers and listing.
        showStatus(status == nullptr || status->empty() ? std::string_view("Stopped ...") : *status);
        enableControls(true);
        std::fill(std::begin(registerCache), std::end(registerCache), CacheInvalid);
        formatRegisters(*lastRegs);
        put(dirtyMask, AllDirty);
        showRegisters();
    });
    return ran;
}

bool DebuggerEngine::applyRegisterEdit(const RegisterEdit& edit) {
    // Under viewLock the held emulation thread stays held (holdingNow) and
    // touches neither memory nor registers.
    bool applied = false;
    showFromCommand([&] {
        if (!holdingNow())
            return;
        applied = true;
        if (lastRegs) {
            struct Edit {
                const std::string& text;
                Z80Pair& pair;
                uint32_t dirtyBit;
            };
            const Edit edits[] = {
                {edit.af, lastRegs->AF, 0x02}, {edit.hl, lastRegs->HL, 0x10}, {edit.de, lastRegs->DE, 0x40},
                {edit.bc, lastRegs->BC, 0x20}, {edit.ix, lastRegs->IX, 0x04}, {edit.iy, lastRegs->IY, 0x08},
            };
            for (const Edit& e : edits) {
                const auto value = parseHexField(e.text, 4);
                if (!value || (*value & 0xFFFFu) == e.pair.w)
                    continue;
                e.pair.w = static_cast<uint16_t>(*value);
                dirtyMask.fetch_or(e.dirtyBit, std::memory_order_acq_rel);
            }
            formatRegisters(*lastRegs);
            showRegisters();
        }
        edits.fetch_add(1, std::memory_order_acq_rel);
        const std::string_view valueText = std::string_view(edit.value).substr(0, 4);
        const auto bank = parseHexField(edit.bank, 1);
        const auto address = parseHexField(edit.address, 4);
        const auto value = parseHexField(valueText, 4);
        if (bank && address && value)
            memory.writeBanked(static_cast<int>(*bank), edit.bankIsRam, valueText.size() == 2,
                               static_cast<uint16_t>(*value), static_cast<uint16_t>(*address));
    });
    return applied;
}

// ---------------------------------------------------------------------------
// The history's replay (viewLock held by whileHeld)

void DebuggerEngine::replayAccess(AccessKind kind, uint16_t address, uint8_t value, uint16_t at) {
    const bool watched = kind == AccessKind::Write  ? points.watchesWrite(address)
                         : kind == AccessKind::Read ? points.watchesRead(address)
                         : kind == AccessKind::Out  ? points.watchesOut(static_cast<uint8_t>(address))
                                                    : points.watchesIn(static_cast<uint8_t>(address));
    if (watched)
        points.recordAccess(kind, address, value, at);
}

int DebuggerEngine::replayProbe(const Z80State& regs, bool checkExec) {
    const uint16_t pc = regs.PC.w;
    int number = 0;
    if (checkExec) {
        for (int slot = 0; slot < 4 && number == 0; ++slot)
            if (const uint32_t a = breakpointSlots[slot].load(std::memory_order_relaxed); a != 0 && a == pc)
                number = slot + 1;
    }
    const bool execDue = checkExec && points.execMayHit(pc);
    if (!execDue && !points.accessPending())
        return number;
    const int point = points.probe(regs, memory, execDue);
    return number != 0 ? number : point;
}

std::string DebuggerEngine::replayFire(const Z80State& regs, bool checkExec) {
    const uint16_t pc = regs.PC.w;
    const bool execDue = checkExec && points.execMayHit(pc);
    std::optional<std::string> message;
    if (execDue || points.accessPending()) {
        message = points.fire(regs, memory, execDue, [&](std::string_view text) { appendLog(text); });
        if (view)
            view->pointsChanged();
    }
    for (int slot = 0; slot < 4 && checkExec; ++slot) {
        const uint32_t a = breakpointSlots[slot].load(std::memory_order_relaxed);
        if (a == 0 || a != pc)
            continue;
        if (slot < 3) {
            if (view)
                view->setBreakpointLabel(slot + 1, "*");
        } else {
            setSlot(3, 0);
        }
        char text[64];
        std::snprintf(text, sizeof text, "Breakpoint (%i) hit at:%x", slot + 1, static_cast<unsigned>(pc));
        return text;
    }
    return message.value_or(std::string());
}
