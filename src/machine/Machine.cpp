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

#include "debugger/SymbolTable.h"
#include "host/HostFiles.h"
#include "machine/DebugBus.h"
#include "machine/MachineBus.h"
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
    : ports(memory, clock, irqStatus, startKeyHold, startKeyReads), reporter(reporter) {}

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

    saveStatus = SaveFileStatus::Fine;
    saveMessage.clear();
    if (!flashSavePath.empty())
        loadSaveFile();
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
    resetMachineState();
    resetCpu(cpu);
    cpu.cyclePeriod = SlicePeriod;
    startKeyHold = 1;
    startKeyReads = StartKeyReadCount;
    sliceStartBudget = cpu.cycleBudget;
    elapsedTStates.store(0, std::memory_order_relaxed);

    // The closed debugger's run on the Machine itself, the open one's on a
    // DebugBus; loopHook ends a run when the bus wanted changes, with its
    // interrupt answer kept for the next one.
    uint16_t vector = HookNoInterrupt;
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
        if (!switchingBus)
            break;
        vector = switchVector;
    }
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
    return stopRequest.load(std::memory_order_acquire) != 0;
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
