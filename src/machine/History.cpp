// History: the snapshots, and going back through them (see History.h).
#include "machine/History.h"

#include <algorithm>
#include <vector>

#include "machine/Machine.h"
#include "z80/Core.h"

void History::add(HistorySnapshot snapshot) {
    const HistorySnapshot* before = snapshots.empty() ? nullptr : &snapshots.back();
    std::size_t held = sizeof(HistorySnapshot);
    for (int i = 0; i < MemoryMap::RamPages; ++i)
        if (!before || before->state.ram[i] != snapshot.state.ram[i])
            held += MemoryMap::PageSize;
    for (int i = 0; i < MemoryMap::FlashPages; ++i)
        if (snapshot.state.flash[i] && (!before || before->state.flash[i] != snapshot.state.flash[i]))
            held += MemoryMap::PageSize;
    snapshot.bytes = held;
    bytes += held;
    snapshots.push_back(std::move(snapshot));
    const uint64_t newest = snapshots.back().tstates;
    while (snapshots.size() > 1 &&
           (bytes > limit || (newest >= SpanTStates && snapshots[1].tstates <= newest - SpanTStates))) {
        // The pages the next one shares stay; it now holds them itself.
        bytes -= snapshots.front().bytes;
        snapshots.pop_front();
        HistorySnapshot& first = snapshots.front();
        bytes -= first.bytes;
        first.bytes = sizeof(HistorySnapshot) + MemoryMap::PageSize * MemoryMap::RamPages;
        for (const PageCopy& page : first.state.flash)
            first.bytes += page ? MemoryMap::PageSize : 0;
        bytes += first.bytes;
    }
}

void History::dropAfter(uint64_t t) {
    while (snapshots.size() > 1 && snapshots.back().tstates > t) {
        bytes -= snapshots.back().bytes;
        snapshots.pop_back();
    }
}

std::size_t History::snapshotBefore(uint64_t t, bool strict) const {
    std::size_t found = 0;
    for (std::size_t i = 0; i < snapshots.size(); ++i)
        if (snapshots[i].tstates < t || (!strict && snapshots[i].tstates == t))
            found = i;
    return found;
}

// ---------------------------------------------------------------------------
// The machine's side

uint64_t Machine::momentNow() const {
    return tstatesRun(elapsedTStates.load(std::memory_order_relaxed), sliceStartBudget, cpu.cycleBudget);
}

uint64_t Machine::historyReach() const {
    if (history.empty())
        return 0;
    const uint64_t now = momentNow();
    return now > history.start() ? now - history.start() : 0;
}

void Machine::beginHistory(bool midSlice) {
    history.clear();
    history.edits = debugger.editCount();
    ports.setOutsideLogs(&history.log, ports.sessionRecorder());
    historyOn = true;
    HistorySnapshot first;
    first.state = captureState(midSlice);
    first.tstates = first.state.tstates();
    first.outside = history.log.position();
    first.follow = debugger.handlerFollow();
    history.add(std::move(first));
    historyCountdown = history.intervalSlices;
}

void Machine::endHistory() {
    history.clear();
    ports.setOutsideLogs(nullptr, ports.sessionRecorder());
    historyOn = false;
}

// At a slice end, before the interrupt sources tick (as at the park).
void Machine::takeSnapshot() {
    historyCountdown = history.intervalSlices;
    if (history.empty() || debugger.editCount() != history.edits) {
        // A restart, a load or an edit that no replay can repeat: the history starts here.
        beginHistory(false);
        return;
    }
    HistorySnapshot snapshot;
    snapshot.state = captureState(false, &history.snapshots.back().state);
    snapshot.tstates = snapshot.state.tstates();
    snapshot.outside = history.log.position();
    snapshot.follow = debugger.handlerFollow();
    history.add(std::move(snapshot));
}

// The bus of a replay: memory and ports as the machine's, the accesses shown
// to the points (for reverse continue), no traps (their effects outside
// the processor were had already), and every round of a repeating block
// instruction a pass of its own, so that each round is a moment.
struct Machine::Replay {
    Machine& machine;
    bool probing = false;
    HandlerFollow follow;
    uint16_t at = 0;  // the instruction being replayed

    uint8_t fetchByte(uint16_t a) { return machine.memory.readByte(a); }
    uint16_t fetchWord(uint16_t a) { return machine.memory.readWord(a); }
    uint8_t readByte(uint16_t a) {
        const uint8_t v = machine.memory.readByte(a);
        if (probing)
            machine.debugger.replayAccess(AccessKind::Read, a, v, at);
        return v;
    }
    uint16_t readWord(uint16_t a) {
        return static_cast<uint16_t>(readByte(a) | readByte(static_cast<uint16_t>(a + 1)) << 8);
    }
    void writeByte(uint16_t a, uint8_t v) {
        if (probing)
            machine.debugger.replayAccess(AccessKind::Write, a, v, at);
        machine.memory.writeByte(a, v);
    }
    uint8_t portIn(uint16_t port) {
        const uint8_t v = machine.ports.portIn(static_cast<uint8_t>(port));
        if (probing)
            machine.debugger.replayAccess(AccessKind::In, static_cast<uint8_t>(port), v, at);
        return v;
    }
    void portOut(uint16_t port, uint8_t v) {
        if (probing)
            machine.debugger.replayAccess(AccessKind::Out, static_cast<uint8_t>(port), v, at);
        machine.ports.portOut(static_cast<uint8_t>(port), v);
    }
    uint16_t loopHook(Z80State&) { return HookNoInterrupt; }  // stepCpu never asks
    static constexpr bool traceActive() { return false; }
    void traceHook(Z80State&) {}
    static constexpr bool accessSeen() { return true; }
    void noteInterrupt(Z80State& s) {
        follow.enter(s);
        at = s.PC.w;  // the push is reported at the return address
    }
    void printTrap(Z80State&) {}
    void breakTrap(Z80State&) {}
};

template <class Visit>
bool Machine::replay(std::size_t from, uint64_t to, Visit visit, OutsidePosition* reached) {
    const HistorySnapshot& snapshot = history.snapshots[from];
    restoreState(snapshot.state, false);
    OutsideReplay answers(history.log.entries(), snapshot.outside);
    ports.setOutsideReplay(&answers);
    debugger.replayForget();
    Replay bus{*this, false, snapshot.follow};
    const auto sliceEnd = [&] {
        const uint16_t vector = finishSliceEnd();
        if (vector != HookNoInterrupt)
            acceptInterrupt(cpu, bus, vector);
    };
    if (!snapshot.state.regs.midSlice)
        sliceEnd();
    bool halted = false;  // the last moment was at a HALT: fetched again, not arrived at
    bool good = true;
    for (;;) {
        const uint64_t t = momentNow();
        if (t > to) {
            good = false;
            break;
        }
        if (!bus.follow.hides(cpu)) {
            const bool arrival = !(cpu.cpuFlags & CpuHalted) || !halted;
            halted = (cpu.cpuFlags & CpuHalted) != 0;
            visit(bus, t, arrival);
        }
        if (t == to)
            break;
        bus.at = cpu.PC.w;
        stepCpu(cpu, bus);
        if (cpu.cycleBudget <= 0) {
            const int64_t cost = static_cast<int64_t>(sliceStartBudget) - cpu.cycleBudget;
            elapsedTStates.store(elapsedTStates.load(std::memory_order_relaxed) + static_cast<uint64_t>(cost),
                                 std::memory_order_relaxed);
            sliceEnd();
        }
    }
    ports.setOutsideReplay(nullptr);
    debugger.setHandlerFollow(bus.follow);
    if (reached)
        *reached = answers.position();
    return good && !answers.hasDiverged();
}

namespace {

std::string startReached(uint64_t reach) {
    return "Start of history reached (it holds the last " + std::to_string(reach) + " T-states)";
}

}  // namespace

std::string Machine::stepBack(uint64_t count) { return goBackHeld(count, false); }

std::string Machine::reverseGo() { return goBackHeld(0, true); }

std::string Machine::goBackHeld(uint64_t count, bool toHit) {
    BackOutcome outcome;
    if (!debugger.whileHeld([&] { outcome = goBack(count, toHit); }, true, &outcome.status))
        return "the machine is not held";
    return outcome.problem;
}

// Under the hold, with the engine's lock: nothing else moves. Going back
// count moments, or (toHit) to the latest earlier moment a point fires.
// Every segment between two snapshots is replayed, newest first, until the
// moment is found; then the machine is run to it from the snapshot before.
Machine::BackOutcome Machine::goBack(uint64_t count, bool toHit) {
    BackOutcome out;
    const auto refuse = [&](std::string why) {
        out.problem = why;
        out.status = why;
        out.status[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(out.status[0])));
        return out;
    };
    if (!historyOn || history.empty())
        return refuse("no history: the debugger keeps one while it is open");
    if (isRecording())
        return refuse("a session is being recorded: stop the recording before going back");
    const uint64_t now = momentNow();
    if (debugger.editCount() != history.edits) {
        // A change no replay can repeat: the history starts again here.
        beginHistory(true);
        out.status = startReached(0);
        return out;
    }
    const MachineState present = captureState(true);
    const HandlerFollow presentFollow = debugger.handlerFollow();
    const auto putBack = [&] {
        restoreState(present, false);
        debugger.setHandlerFollow(presentFollow);
        debugger.replayForget();
        return refuse("the history could not be replayed (the run is not the recorded one)");
    };

    std::optional<uint64_t> target;
    std::optional<uint64_t> first;  // the history's first moment
    uint64_t need = count;
    std::vector<uint64_t> moments;
    for (std::size_t seg = history.snapshots.size(); seg-- > 0 && !target;) {
        const uint64_t end = seg + 1 < history.snapshots.size() ? history.snapshots[seg + 1].tstates : now;
        moments.clear();
        std::optional<uint64_t> latestHit;
        const bool good = replay(
            seg, end,
            [&](Replay& bus, uint64_t t, bool arrival) {
                bus.probing = toHit;
                if (seg == 0 && !first)
                    first = t;
                // The moment at a segment's end is the next one's first,
                // except for the accesses just before it, seen only here.
                if (toHit && t < now && debugger.replayProbe(cpu, arrival) != 0)
                    latestHit = t;
                if (!toHit && t < end)
                    moments.push_back(t);
            },
            nullptr);
        if (!good)
            return putBack();
        if (toHit) {
            target = latestHit;
        } else if (moments.size() >= need) {
            target = moments[moments.size() - need];
        } else {
            need -= moments.size();
        }
    }
    const bool reachedStart = !target;
    if (!target)
        target = first.value_or(history.start());

    // From a snapshot strictly before a hit, so that the access that fires it is replayed too.
    OutsidePosition reached;
    const std::size_t from = history.snapshotBefore(*target, toHit && !reachedStart);
    std::string message;
    const bool good = replay(
        from, *target,
        [&](Replay& bus, uint64_t t, bool arrival) {
            bus.probing = toHit && !reachedStart;
            if (!bus.probing)
                return;
            if (t == *target)
                message = debugger.replayFire(cpu, arrival);
            else
                (void)debugger.replayProbe(cpu, arrival);
        },
        &reached);
    if (!good)
        return putBack();
    // The future is the user's again: its snapshots and outside reads go.
    history.dropAfter(*target);
    history.log.truncate(reached);
    debugger.replayForget();
    out.status = reachedStart ? startReached(now - history.start()) : message;
    return out;
}
