// Machine: start and stop with the ROM image and the flash save file, the
// emulation thread, the slice hook with its interrupt sources, the pause
// handshake, warm and cold restart, and the print trap.
#include "machine/Machine.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <type_traits>

#include "debugger/SymbolTable.h"
#include "host/HostFiles.h"
#include "machine/DebugBus.h"
#include "machine/MachineBus.h"
#include "machine/StateFile.h"
#include "z80/Core.h"

namespace {

constexpr std::size_t PrintLineLimit = 511;

// One step below normal for the calling thread. On Linux a thread's nice value
// is its own, so this leaves the user-interface thread alone. A host that
// refuses leaves the thread as it is.
void lowerThreadPriority() {
    const id_t self = static_cast<id_t>(gettid());
    errno = 0;
    const int current = getpriority(PRIO_PROCESS, self);
    if (errno != 0)
        return;
    (void)setpriority(PRIO_PROCESS, self, current + 1);
}

}  // namespace

Machine::Machine(MessageReporter& reporter, HostClock& clock)
    : ports(memory, clock, irqStatus, startKeyHold, startKeyReads), reporter(reporter) {
    debugger.setHistoryControl(this);
}

Machine::~Machine() {
    if (emulationThread.joinable()) {
        requestStop();
        emulationThread.join();
    }
}

bool Machine::loadImages() {
    if (!memory.allocateImages()) {
        reporter.showMessage(MessageIcon::Stop, "out of memory.");
        return false;
    }
    InputFile rom(romImagePath);
    const uint64_t length = rom.size();
    // A ROM file longer than the flash image loads only what fits.
    const auto toRead = static_cast<std::size_t>(std::min<uint64_t>(length, MemoryMap::FlashSize));
    std::size_t got = 0;
    if (!rom.isOpen() || !rom.readAt(0, memory.flashImage.get(), toRead, got)) {
        memory.releaseImages();
        reporter.showMessage(MessageIcon::Stop, "cannot open ROM file '" + romImagePath + "'.");
        return false;
    }
    // Above page 191 means "no space" to the installer; the cap only keeps the int sane.
    firstAppPage = static_cast<int>(std::min<uint64_t>(length / MemoryMap::PageSize + 1, MemoryMap::FlashPages + 1));
    constexpr std::size_t romBytes = MachineState::RomPages * MemoryMap::PageSize;
    loadedRom.reset(new (std::nothrow) uint8_t[romBytes]);
    if (!loadedRom) {
        memory.releaseImages();
        reporter.showMessage(MessageIcon::Stop, "out of memory.");
        return false;
    }
    std::memcpy(loadedRom.get(), memory.flashImage.get(), romBytes);
    loadedRomDigest = romImageDigest(loadedRom.get());
    if (startState && startState->romDigest != loadedRomDigest) {
        memory.releaseImages();
        reporter.showMessage(MessageIcon::Stop, "The state was made for another ROM image.");
        return false;
    }

    saveStatus = SaveFileStatus::Fine;
    saveMessage.clear();
    // A run from a state has its flash from the state; a save file that is
    // there but cannot be read is still never replaced at the end.
    if (!flashSavePath.empty() && !startState)
        loadSaveFile();
    else if (!flashSavePath.empty())
        checkSaveFile();
    return true;
}

// Missing or short save files are not errors: what they lack stays erased/zero.
// One that is there but cannot be read (permissions, a folder, a device) must
// not be replaced at the end by the blank machine this starts.
void Machine::loadSaveFile() {
    InputFile save(flashSavePath);
    if (save.status() == OpenStatus::Missing)
        return;
    std::size_t got = 0;
    bool ok = save.isOpen() && save.readAt(0, memory.flashImage.get() + SavedFlashOffset, SavedFlashBytes, got);
    if (ok && got == SavedFlashBytes)
        ok = save.readAt(SavedFlashBytes, memory.ramImage.get(), MemoryMap::RamSize, got);
    if (!ok) {
        saveStatus = SaveFileStatus::Unreadable;
        saveMessage = "cannot read save file '" + flashSavePath + "'; it will not be overwritten.";
    }
}

void Machine::checkSaveFile() {
    const OpenStatus status = InputFile(flashSavePath).status();
    if (status != OpenStatus::Missing && status != OpenStatus::Opened) {
        saveStatus = SaveFileStatus::Unreadable;
        saveMessage = "cannot read save file '" + flashSavePath + "'; it will not be overwritten.";
    }
}

bool Machine::startMachine() {
    if (!loadImages())
        return false;
    stopRequest.store(0, std::memory_order_relaxed);
    pauseRequest.store(0, std::memory_order_relaxed);
    running.store(true, std::memory_order_release);
    try {
        emulationThread = std::thread([this] {
            lowerThreadPriority();
            emulationThreadMain();
        });
    } catch (const std::system_error&) {
        // The host has no room for another thread.
        running.store(false, std::memory_order_release);
        memory.releaseImages();
        reporter.showMessage(MessageIcon::Stop, "out of memory.");
        return false;
    }
    return true;
}

void Machine::emulationThreadMain() {
    running.store(true, std::memory_order_release);
    uint16_t vector = HookNoInterrupt;
    if (startState) {
        restoreState(*startState, true);
        if (recordAtStart)
            beginRecording(startState->regs.midSlice);
        if (!startState->regs.midSlice)
            vector = finishSliceEnd();
        startState.reset();
    } else {
        resetMachineState();
        resetCpu(cpu);
        cpu.cyclePeriod = SlicePeriod;
        startKeyHold = 1;
        startKeyReads = StartKeyReadCount;
        sliceStartBudget = cpu.cycleBudget;
        elapsedTStates.store(0, std::memory_order_relaxed);
        // In front of the first instruction, with the whole first slice to come.
        if (recordAtStart)
            beginRecording(true);
    }
    recordAtStart = false;
    if (replayer)
        ports.setOutsideReplay(replayer.get());

    // The closed debugger's run on the Machine itself, the open one's on a
    // DebugBus; loopHook ends a run when the bus wanted changes, with its
    // interrupt answer kept for the next one.
    for (;;) {
        runBus = debugger.busWanted();
        switchingBus = false;
        // Three debugging buses: exec points only, write watchpoints only
        // (the usual watchpoint), and everything else checking every access.
        // They differ only in speed; sanitizer builds keep the last.
        if (runBus == 0) {
            runOn(*this, vector);
#ifndef PDEMU_ONE_DEBUG_BUS
        } else if (runBus == 1) {
            DebugBus<0> bus(*this);
            runOn(bus, vector);
        } else if (runBus == 1 + PointTable::WatchWrites) {
            DebugBus<PointTable::WatchWrites> bus(*this);
            runOn(bus, vector);
#endif
        } else {
            DebugBus<PointTable::WatchWrites | PointTable::WatchReads | PointTable::WatchPorts> bus(*this);
            runOn(bus, vector);
        }
        if (resumeMidSlice && !stopRequested()) {
            // A state from in front of an instruction was put back at the park.
            resumeMidSlice = false;
            cpu.cycleBudget = resumeBudget;
            vector = HookNoInterrupt;
            continue;
        }
        resumeMidSlice = false;
        if (!switchingBus)
            break;
        vector = switchVector;
    }
    if (historyOn)
        endHistory();
    {
        // A pause waiting for this thread must learn that it will never park.
        std::lock_guard lock(parkLock);
        running.store(false, std::memory_order_release);
    }
    parkChanged.notify_all();
}

template <class Bus>
void Machine::runOn(Bus& bus, uint16_t vector) {
    if (vector != HookNoInterrupt)
        acceptInterrupt(cpu, bus, vector);
    // The debugger has come on: its history starts in front of the next instruction.
    if constexpr (!std::is_same_v<Bus, Machine>) {
        if (!historyOn && history.limit > 0)
            beginHistory(true);
    } else if (historyOn) {
        endHistory();
    }
    runCpu(cpu, bus);
}

void Machine::stopMachine() {
    if (emulationThread.joinable()) {
        requestStop();
        emulationThread.join();
    }
    if (memory.imagesAllocated()) {
        writeSaveFile();
        memory.releaseImages();
    }
}

void Machine::writeSaveFile() {
    if (flashSavePath.empty() || saveStatus == SaveFileStatus::Unreadable)
        return;
    const WriteOutcome outcome =
        writeFileSafely(flashSavePath, {{memory.flashImage.get() + SavedFlashOffset, SavedFlashBytes},
                                        {memory.ramImage.get(), MemoryMap::RamSize}});
    if (!outcome.written) {
        saveStatus = SaveFileStatus::NotWritten;
        saveMessage = "cannot write save file '" + flashSavePath + "': " + outcome.problem + ".";
    }
}

void Machine::resetMachineState() {
    memory.resetMapping();
    ports.resetDevices();
    irqStatus = 0;
    tick40 = 0;
    tick04 = 0;
    tick02 = 0;
    tickCountdown = 0;
    tickCountdownStart = 0;
    startKeyHold = 0;
    startKeyReads = 0;
}

// The debugger lets the machine pass once the park is asked for (not before,
// or it would run on unseen until then): a machine it holds, or an animation
// that waits for the window, would never reach loopHook.
void Machine::pauseEmulation() {
    {
        std::lock_guard lock(parkLock);
        pauseRequest.store(1, std::memory_order_release);
        raiseAttention();
    }
    debugger.beginPassing();
    std::unique_lock lock(parkLock);
    // No thread to park means the machine is already ours.
    parkChanged.wait(lock, [this] { return pauseRequest.load(std::memory_order_acquire) != 1 || !isRunning(); });
}

void Machine::resumeEmulation() {
    // Before the release: the first instruction after the park is inspected.
    debugger.endPassing();
    {
        std::lock_guard lock(parkLock);
        pauseRequest.store(0, std::memory_order_release);
    }
    parkChanged.notify_all();
}

void Machine::requestStop() {
    debugger.switchOff();
    {
        std::lock_guard lock(parkLock);
        stopRequest.store(1, std::memory_order_release);
        raiseAttention();
    }
    parkChanged.notify_all();
}

// The loopHook calls since the last catch-up are tickCountdownStart + 1; each
// countdown that that takes below 0 reloads and raises its status bit, as if
// it had been decremented once per call.
void Machine::advanceTicks() {
    const int calls = tickCountdownStart + 1;
    const auto advance = [&](int& tick, int reload, int bit) {
        tick -= calls;
        if (tick < 0) {
            tick = reload;
            irqStatus |= bit;
        }
    };
    advance(tick40, Tick40Reload, 0x40);
    advance(tick04, Tick04Reload, 0x04);
    advance(tick02, Tick02Reload, 0x02);
    tickCountdownStart = std::min({tick40, tick04, tick02});
    tickCountdown = tickCountdownStart;
}

// The slow part of loopHook: the observer, the pause handshake and the stop.
// True when the run must end.
bool Machine::serveRequests() {
    // The flag is lowered before the requests are read, so that one stored
    // meanwhile raises it again for the next slice end. All its changes are
    // read-modify-writes, so the exchange synchronizes with every raise before
    // it and sees the requests stored ahead of them. An observer wants every
    // slice: while one is set the flag stays up.
    if (sliceObserver.load(std::memory_order_relaxed) == nullptr) {
        attention.exchange(0, std::memory_order_acquire);
        if (sliceObserver.load(std::memory_order_acquire) != nullptr)
            raiseAttention();  // set in between
    }
    if (SliceObserver* observer = sliceObserver.load(std::memory_order_acquire))
        observer->onSlice(*this);

    if (pauseRequest.load(std::memory_order_relaxed) != 0) {
        // Acknowledge inside the loop: a resume followed at once by a new pause
        // can set 1 again before this thread wakes, and that request must be
        // answered too. A stop request also ends the wait.
        std::unique_lock lock(parkLock);
        for (;;) {
            int asked = 1;
            if (pauseRequest.compare_exchange_strong(asked, 2, std::memory_order_acq_rel)) {
                parkChanged.notify_all();
                asked = 2;
            }
            if (asked == 0 || stopRequest.load(std::memory_order_acquire) != 0)
                break;
            parkChanged.wait(lock);
        }
    }
    return resumeMidSlice || stopRequest.load(std::memory_order_acquire) != 0;
}

void Machine::restartWarmState() {
    resetMachineState();
    resetCpu(cpu);
    cpu.cyclePeriod = SlicePeriod;
    startKeyReads = StartKeyReadCount;
    startKeyHold = 1;
}

template <class Work>
void Machine::whileParked(Work work) {
    pauseEmulation();
    work();
    if (historyOn)
        restartHistory();
    debugger.processorReset();
    resumeEmulation();
}

void Machine::warmRestart() {
    whileParked([this] { restartWarmState(); });
}

void Machine::coldRestart() {
    whileParked([this] {
        resetMachineState();
        resetCpu(cpu);
        cpu.cyclePeriod = SlicePeriod;
        if (memory.imagesAllocated())
            std::memset(memory.ramImage.get(), 0, MemoryMap::RamSize);
    });
}

std::vector<std::string> Machine::takeDebugLines() {
    std::vector<std::string> lines;
    if (!hasDebugText())
        return lines;
    std::lock_guard lock(debugLinesLock);
    lines.swap(pendingDebugLines);
    debugTextPending.store(0, std::memory_order_release);
    return lines;
}

void Machine::printTrap(Z80State& state) {
    if (!memory.imagesAllocated())
        return;
    // HL is resolved once without the display; the text runs on through the
    // same image and stops at its end.
    const uint8_t* end;
    const uint8_t* p = memory.hostByte(state.HL.w, &end);
    std::string line;
    line.reserve(PrintLineLimit + 1);
    while (p < end && *p != 0 && line.size() < PrintLineLimit) {
        if (*p == 0x0A)
            line.push_back('\r');
        line.push_back(static_cast<char>(*p));
        ++p;
    }
    std::lock_guard lock(debugLinesLock);
    pendingDebugLines.push_back(std::move(line));
    debugTextPending.store(1, std::memory_order_release);
}

// ---------------------------------------------------------------------------
// Whole-machine states

std::optional<uint64_t> Machine::romFileDigest(const std::string& path) {
    constexpr std::size_t romBytes = MachineState::RomPages * MemoryMap::PageSize;
    std::vector<uint8_t> rom(romBytes, 0xFF);
    InputFile file(path);
    std::size_t got = 0;
    if (!file.isOpen() || !file.readAt(0, rom.data(), romBytes, got))
        return std::nullopt;
    return romImageDigest(rom.data());
}

MachineState Machine::captureState(bool midSlice, const MachineState* previous) const {
    MachineState state;
    MachineRegisters& r = state.regs;
    r.cpu = cpu;
    r.romBank = memory.romBank;
    r.romSelect = memory.romSelect;
    r.ramBank = memory.ramBank;
    r.ramSelect = memory.ramSelect;
    r.window2Flash = memory.window2Flash;
    r.window2Lcd = memory.window2Lcd;
    r.flashMode = memory.flashMode;
    r.lcdColumn = memory.lcdColumn;
    r.keySelect = ports.keySelect;
    r.penCommand = ports.penCommand;
    r.penReadsY = ports.penReadsY;
    r.irqStatus = irqStatus;
    r.tick40 = tick40;
    r.tick04 = tick04;
    r.tick02 = tick02;
    r.tickCountdown = tickCountdown;
    r.tickCountdownStart = tickCountdownStart;
    r.startKeyHold = startKeyHold;
    r.startKeyReads = startKeyReads;
    r.elapsedTStates = elapsedTStates.load(std::memory_order_relaxed);
    r.sliceStartBudget = sliceStartBudget;
    r.midSlice = midSlice;
    // At a slice end the budget is reloaded before anything reads it.
    if (!midSlice)
        r.cpu.cycleBudget = 0;
    r.openRequest = debugger.openRequested();
    state.romDigest = loadedRomDigest;
    if (hasDebugText()) {
        std::lock_guard lock(debugLinesLock);
        state.debugLines = pendingDebugLines;
    }
    memory.copyScreen(state.screen.data());
    if (!memory.imagesAllocated())
        return state;

    for (int i = 0; i < MemoryMap::RamPages; ++i) {
        const uint8_t* live = memory.pageByte(true, i, 0);
        const PageCopy& before = previous ? previous->ram[i] : PageCopy();
        state.ram[i] = before && std::memcmp(before->data(), live, MemoryMap::PageSize) == 0 ? before : copyPage(live);
    }
    // Flash changes only through its commands, which flashWrites counts.
    const bool flashAsBefore = previous && previous->flashWrites == memory.flashWrites;
    for (int i = 0; i < MemoryMap::FlashPages; ++i) {
        const uint8_t* live = memory.pageByte(false, i, 0);
        if (flashAsBefore) {
            state.flash[i] = previous->flash[i];
        } else if (i < MachineState::RomPages && loadedRom &&
                   std::memcmp(live, loadedRom.get() + i * MemoryMap::PageSize, MemoryMap::PageSize) == 0) {
            state.flash[i] = nullptr;
        } else if (previous && previous->flash[i] &&
                   std::memcmp(previous->flash[i]->data(), live, MemoryMap::PageSize) == 0) {
            state.flash[i] = previous->flash[i];
        } else {
            state.flash[i] = copyPage(live);
        }
    }
    state.flashWrites = memory.flashWrites;
    return state;
}

void Machine::restoreState(const MachineState& state, bool withLines) {
    const MachineRegisters& r = state.regs;
    cpu = r.cpu;
    memory.romBank = r.romBank;
    memory.romSelect = r.romSelect;
    memory.ramBank = r.ramBank;
    memory.ramSelect = r.ramSelect;
    memory.window2Flash = r.window2Flash;
    memory.window2Lcd = r.window2Lcd;
    memory.flashMode = r.flashMode;
    memory.lcdColumn = r.lcdColumn;
    ports.keySelect = r.keySelect;
    ports.penCommand = r.penCommand;
    ports.penReadsY = r.penReadsY;
    irqStatus = r.irqStatus;
    tick40 = r.tick40;
    tick04 = r.tick04;
    tick02 = r.tick02;
    tickCountdown = r.tickCountdown;
    tickCountdownStart = r.tickCountdownStart;
    startKeyHold = r.startKeyHold;
    startKeyReads = r.startKeyReads;
    elapsedTStates.store(r.elapsedTStates, std::memory_order_relaxed);
    sliceStartBudget = r.sliceStartBudget;
    if (memory.imagesAllocated()) {
        for (int i = 0; i < MemoryMap::RamPages; ++i)
            if (state.ram[i])
                std::memcpy(memory.pageByte(true, i, 0), state.ram[i]->data(), MemoryMap::PageSize);
        for (int i = 0; i < MemoryMap::FlashPages; ++i) {
            const uint8_t* from = state.flash[i] ? state.flash[i]->data()
                                  : i < MachineState::RomPages && loadedRom ? loadedRom.get() + i * MemoryMap::PageSize
                                                               : nullptr;
            if (from)
                std::memcpy(memory.pageByte(false, i, 0), from, MemoryMap::PageSize);
        }
    }
    ++memory.flashWrites;  // the pages are not those of any earlier capture
    // Byte by byte as atomics: the device window may be copying the screen.
    for (std::size_t i = 0; i < MemoryMap::ScreenBytes; ++i)
        std::atomic_ref<uint8_t>(memory.screenBits[i]).store(state.screen[i], std::memory_order_relaxed);
    memory.rebuildPages();
    memory.screenChanged.store(1, std::memory_order_release);
    if (withLines) {
        debugger.setOpenRequest(r.openRequest);
        if (!state.debugLines.empty()) {
            std::lock_guard lock(debugLinesLock);
            pendingDebugLines.insert(pendingDebugLines.end(), state.debugLines.begin(), state.debugLines.end());
            debugTextPending.store(1, std::memory_order_release);
        }
    }
}

uint16_t Machine::finishSliceEnd() {
    sliceStartBudget = cpu.cyclePeriod;
    if (--tickCountdown < 0)
        advanceTicks();
    cpu.cycleBudget = cpu.cyclePeriod;
    return irqStatus != 0 ? InterruptVector : HookNoInterrupt;
}

void Machine::restoreWhileParked(const MachineState& state) {
    restoreState(state, true);
    if (state.regs.midSlice) {
        resumeMidSlice = true;
        resumeBudget = state.regs.cpu.cycleBudget;
    }
}

void Machine::restoreWhileHeld(const MachineState& state) {
    restoreState(state, true);
    if (!state.regs.midSlice) {
        const uint16_t vector = finishSliceEnd();
        if (vector != HookNoInterrupt)
            acceptInterrupt(cpu, *this, vector);
    }
}

std::string Machine::saveStateFile(const std::string& path) {
    MachineState state;
    if (!isRunning()) {
        state = captureState(false);
    } else if (!debugger.whileHeld([&] { state = captureState(true); }, false)) {
        pauseEmulation();
        state = captureState(false);
        resumeEmulation();
    }
    return writeStateFile(path, state);
}

std::string Machine::loadStateFile(const std::string& path) {
    StateRead read = readStateFile(path, loadedRomDigest);
    if (!read.state)
        return read.problem;
    const MachineState& state = *read.state;
    if (!isRunning()) {
        restoreState(state, true);
        return {};
    }
    if (debugger.whileHeld(
            [&] {
                restoreWhileHeld(state);
                if (historyOn)
                    beginHistory(true);
            },
            true))
        return {};
    pauseEmulation();
    restoreWhileParked(state);
    if (historyOn)
        restartHistory();
    debugger.processorReset();
    // The open debugger holds the loaded machine at its first instruction.
    if (!debugger.isOff())
        debugger.stop();
    resumeEmulation();
    return {};
}

// ---------------------------------------------------------------------------
// Recorded sessions

void Machine::beginRecording(bool midSlice) {
    sessionStart = std::make_unique<MachineState>(captureState(midSlice));
    sessionLog.clear();
    ports.setOutsideLogs(ports.historyRecorder(), &sessionLog);
    recordingNow.store(true, std::memory_order_release);
}

bool Machine::startRecording() {
    if (isRecording())
        return false;
    if (!isRunning()) {
        beginRecording(false);
        return true;
    }
    if (!debugger.whileHeld([&] { beginRecording(true); }, false)) {
        pauseEmulation();
        beginRecording(false);
        resumeEmulation();
    }
    return true;
}

Session Machine::stopRecording(MachineState* endState) {
    Session session;
    if (!isRecording())
        return session;
    const bool parked = isRunning();
    if (parked)
        pauseEmulation();
    const MachineState end = captureState(false);
    ports.setOutsideLogs(ports.historyRecorder(), nullptr);
    recordingNow.store(false, std::memory_order_release);
    if (parked)
        resumeEmulation();
    session.start = std::move(*sessionStart);
    sessionStart.reset();
    session.tstates = end.tstates() - session.start.tstates();
    session.reads = sessionLog.entries();
    sessionLog.clear();
    if (endState)
        *endState = end;
    return session;
}

void Machine::setReplay(std::vector<OutsideRead> reads) {
    replayReads = std::move(reads);
    replayer = std::make_unique<OutsideReplay>(replayReads, OutsidePosition{});
}
