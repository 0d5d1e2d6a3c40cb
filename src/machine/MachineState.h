// MachineState: the whole running machine as a value, for state files,
// recorded sessions and the debugger's history. Machine::captureState makes
// one and Machine::restoreState puts one back (both only while the emulation
// thread is parked, held or not running); StateFile.h writes and reads them.
//
// A state is taken at one of two moments, and goes on from the same kind of
// moment: at a slice end (the pause handshake parks the thread inside
// loopHook, after the slice's T-states are counted and before the interrupt
// sources tick), or in front of an instruction (the debugger holds the
// thread there, part of the way through a slice).
//
// Flash pages are kept as shared, immutable copies, so the history's
// snapshots share the pages nothing has written since the one before.
// The pages of the ROM image (0-63) are kept only where they differ from the
// ROM as it was loaded; romDigest names that ROM.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "machine/MemoryMap.h"
#include "z80/Z80State.h"

struct MachineRegisters {
    Z80State cpu{};
    // Memory mapping, flash command state and display controller.
    int romBank = 0, romSelect = 0, ramBank = 0, ramSelect = 0;
    bool window2Flash = false, window2Lcd = false;
    FlashMode flashMode = FlashMode::ReadArray;
    int lcdColumn = 0;
    // Latched port values.
    uint8_t keySelect = 0, penCommand = 0;
    bool penReadsY = false;
    // Interrupt sources and the start key's hold.
    int irqStatus = 0, tick40 = 0, tick04 = 0, tick02 = 0;
    int tickCountdown = 0, tickCountdownStart = 0;
    int startKeyHold = 0, startKeyReads = 0;
    // T-states: counted up to the current slice's start, and the budget it began with.
    uint64_t elapsedTStates = 0;
    int sliceStartBudget = 0;
    bool midSlice = false;  // taken in front of an instruction, not at a slice end
    bool openRequest = false;  // a break trap's request for the debugger window
};

using PageCopy = std::shared_ptr<const std::array<uint8_t, MemoryMap::PageSize>>;

struct MachineState {
    static constexpr int RomPages = 64;

    MachineRegisters regs;
    std::array<PageCopy, MemoryMap::FlashPages> flash;  // null: a ROM page as loaded
    std::array<PageCopy, MemoryMap::RamPages> ram;
    std::array<uint8_t, MemoryMap::ScreenBytes> screen{};
    std::vector<std::string> debugLines;  // print-trap lines not yet shown
    uint64_t romDigest = 0;
    uint32_t flashWrites = 0;  // MemoryMap::flashWrites when taken (not saved)

    // T-states run up to this moment.
    uint64_t tstates() const;
};

// T-states run: those counted up to the slice's start and what the slice
// has used of its budget so far.
inline uint64_t tstatesRun(uint64_t elapsed, int32_t sliceStartBudget, int32_t budget) {
    const int64_t inSlice = static_cast<int64_t>(sliceStartBudget) - budget;
    return elapsed + static_cast<uint64_t>(inSlice > 0 ? inSlice : 0);
}

// At a slice end the slice's T-states are already counted.
inline uint64_t MachineState::tstates() const {
    return regs.midSlice ? tstatesRun(regs.elapsedTStates, regs.sliceStartBudget, regs.cpu.cycleBudget)
                         : regs.elapsedTStates;
}

// FNV-1a, 64 bits: names a ROM image (flash pages 0-63 as loaded).
uint64_t romImageDigest(const uint8_t* flash);

// A page copy of 16 KB at data.
PageCopy copyPage(const uint8_t* data);
