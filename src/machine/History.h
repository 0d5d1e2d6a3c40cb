// History: the debugger's record of the recent past, from which any earlier
// instruction can be reached again exactly: snapshots of the whole machine
// every SnapshotTStates T-states (each holding copies of only the pages
// written since the one before), and the outside reads since the first
// (OutsideLog.h). Going back restores the snapshot before the moment wanted
// and runs forward from it, the outside reads answered from the log.
//
// A moment is named by the T-states run up to it. The moments are those in
// front of each instruction the debugger can show: not inside an interrupt
// handler it hides (the handler belongs to the instruction before it), each
// repetition of a HALT and each round of a repeating block instruction. Two
// moments share a count only behind codes that take no time (undefined
// codes, doubled prefixes): those are not moments of their own.
//
// Owned by the Machine and used on the emulation thread, or while it is
// held or parked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "debugger/DebuggerEngine.h"
#include "machine/MachineState.h"
#include "machine/OutsideLog.h"

struct HistorySnapshot {
    MachineState state;
    uint64_t tstates = 0;  // the moment
    OutsidePosition outside;
    HandlerFollow follow;
    std::size_t bytes = 0;  // what it holds that the one before does not
};

class History {
public:
    static constexpr uint64_t SnapshotTStates = 2'000'000;
    static constexpr int SnapshotSlices = 20'000;  // SnapshotTStates in slices of 100
    static constexpr std::size_t DefaultLimit = std::size_t{512} << 20;
    // The history reaches back at least this far (memory allowing) and not
    // much further: a reverse go that finds nothing replays all of it.
    static constexpr uint64_t SpanTStates = 1'500'000'000;

    bool empty() const { return snapshots.empty(); }
    void clear() {
        snapshots.clear();
        log.clear();
        bytes = 0;
    }
    // Adds the newest snapshot; the oldest go while the limit is passed
    // (the newest always stays), and while the next one alone reaches back
    // SpanTStates.
    void add(HistorySnapshot snapshot);
    // Drops the snapshots after the moment t (going back discards the future).
    void dropAfter(uint64_t t);
    // The index of the latest snapshot taken at or before t (strictly before with strict).
    std::size_t snapshotBefore(uint64_t t, bool strict) const;
    uint64_t start() const { return snapshots.empty() ? 0 : snapshots.front().tstates; }
    std::size_t bytesHeld() const { return bytes; }

    std::size_t limit = DefaultLimit;  // 0: no history
    int intervalSlices = SnapshotSlices;
    std::deque<HistorySnapshot> snapshots;
    OutsideLog log;
    uint32_t edits = 0;  // the engine's editCount when the history (re)started

private:
    std::size_t bytes = 0;
};
