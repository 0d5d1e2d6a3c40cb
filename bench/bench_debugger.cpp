// Cost of the open debugger while the machine runs: emulated MHz of the
// processor core on the organiser's memory map with the debugger closed, and
// open (Go) with three breakpoints, 32 exec points, a write watchpoint the
// loop never touches and one over the loop's stores (a hit per store, its
// condition never true).
// Part of pdemu-bench; counter "emulated_MHz".
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "debugger/DebuggerEngine.h"
#include "debugger/DebuggerTextView.h"
#include "machine/MemoryMap.h"
#include "z80/Core.h"

namespace {

// The machine's two bindings, without ports or interrupts: the closed
// debugger's (the Machine leaves every hook out) and the open one's
// (DebugBus: accesses shown to the watchpoints, the hook only where
// execCheck asks while the machine runs).
struct OffBus {
    MemoryMap& memory;
    uint64_t slicesLeft = 0;

    uint8_t readByte(uint16_t a) { return memory.readByte(a); }
    void writeByte(uint16_t a, uint8_t v) { memory.writeByte(a, v); }
    uint8_t portIn(uint16_t) { return 0xFF; }
    void portOut(uint16_t, uint8_t) {}
    uint16_t loopHook(Z80State&) { return --slicesLeft == 0 ? HookLeaveRun : HookNoInterrupt; }
    static constexpr bool traceActive() { return false; }
    void traceHook(Z80State&) {}
    void noteInterrupt(Z80State&) {}
    void printTrap(Z80State&) {}
    void breakTrap(Z80State&) {}
};

// Memory and engine side by side, as in the Machine: the bus reaches both at
// fixed offsets from the one pointer it holds.
struct Organiser {
    MemoryMap memory;
    DebuggerEngine engine{memory};
};

// As DebugBus<0> (Watching false) and DebugBus<WatchWrites> (true).
template <bool Watching>
struct PointBus {
    static constexpr bool WatchReads = false;
    Organiser& organiser;
    MemoryMap& memory = organiser.memory;
    DebuggerEngine& engine = organiser.engine;
    uint64_t slicesLeft = 0;

    uint8_t fetchByte(uint16_t a) { return memory.readByte(a); }
    uint8_t readByte(uint16_t a) {
        const uint8_t v = memory.readByte(a);
        if constexpr (WatchReads)
            engine.noteRead(a, v);
        return v;
    }
    void writeByte(uint16_t a, uint8_t v) {
        if constexpr (Watching)
            engine.noteWrite(a, v);
        memory.writeByte(a, v);
    }
    uint8_t portIn(uint16_t) { return 0xFF; }
    void portOut(uint16_t, uint8_t) {}
    uint16_t loopHook(Z80State&) { return --slicesLeft == 0 ? HookLeaveRun : HookNoInterrupt; }
    bool traceActive() const { return engine.wantsEveryInstruction(); }
    void traceHook(Z80State& s) { engine.traceHook(s); }
    bool execCheck(uint16_t pc) {
        if constexpr (Watching)
            return engine.execCheckWatching(pc);
        else
            return engine.execCheck(pc);
    }
    bool accessSeen() const { return Watching && engine.accessSeen(); }
    void noteInterrupt(Z80State& s) { engine.noteInterrupt(s); }
    void printTrap(Z80State&) {}
    void breakTrap(Z80State& s) { engine.breakTrap(s); }
};

// A loop of ordinary work: loads, arithmetic, memory, a call and jumps.
//   0000 LD SP,F000 / LD HL,C000 / LD B,20
//   0008 LD A,(HL) / ADD A,B / LD (HL),A / INC HL / CALL 0020 / DJNZ 0008 / JR 0003
//   0020 PUSH BC / LD C,A / XOR C / POP BC / RET
void loadProgram(MemoryMap& memory) {
    const uint8_t program[] = {0x31, 0x00, 0xF0, 0x21, 0x00, 0xC0, 0x06, 0x20, 0x7E, 0x80, 0x77,
                               0x23, 0xCD, 0x20, 0x00, 0x10, 0xF7, 0x18, 0xF0};
    const uint8_t subroutine[] = {0xC5, 0x4F, 0xA9, 0xC1, 0xC9};
    for (std::size_t i = 0; i < sizeof program; ++i)
        memory.flashImage[i] = program[i];
    for (std::size_t i = 0; i < sizeof subroutine; ++i)
        memory.flashImage[0x20 + i] = subroutine[i];
}

// What the open debugger has set while the machine runs (Go).
enum class Setup { Closed, ThreeBreakpoints, ExecPoints, WriteWatchUntouched, WriteWatchHit };

template <class Bus>
uint64_t runSlices(Z80State& cpu, Bus& bus, benchmark::State& state) {
    constexpr uint64_t slicesPerRun = 10000;  // 1,000,000 T-states
    uint64_t tstates = 0;
    for (auto _ : state) {
        bus.slicesLeft = slicesPerRun;
        benchmark::DoNotOptimize(runCpu(cpu, bus));
        tstates += slicesPerRun * 100;
    }
    return tstates;
}

void runWithEngine(benchmark::State& state, Setup setup) {
    auto organiser = std::make_unique<Organiser>();
    MemoryMap& memory = organiser->memory;
    DebuggerEngine& engine = organiser->engine;
    if (!memory.allocateImages()) {
        state.SkipWithError("no memory for the images");
        return;
    }
    memory.resetMapping();
    loadProgram(memory);
    DebuggerTextView view([](std::string_view) {});
    if (setup != Setup::Closed) {
        engine.setView(&view);
        engine.windowShown();
        engine.go();
        for (int n = 1; n <= 3; ++n)  // never reached
            view.typeBreakpoint(n, "3000");
        engine.readBreakpointFields();
    }
    if (setup == Setup::ExecPoints) {
        for (int i = 0; i < 32; ++i) {  // never reached, spread over the address space
            char text[16];
            std::snprintf(text, sizeof text, "exec %04X", 0x1000 + i * 0x700);
            engine.addPoint(text, nullptr);
        }
    }
    if (setup == Setup::WriteWatchUntouched)
        engine.addPoint("write D000-D0FF", nullptr);
    if (setup == Setup::WriteWatchHit)  // every store of the loop, the condition never true
        engine.addPoint("write C000-C0FF if A==100", nullptr);
    if (engine.pointList().size() != (setup == Setup::ExecPoints ? 32u : setup >= Setup::WriteWatchUntouched ? 1u : 0u)) {
        state.SkipWithError("a point was refused");
        return;
    }
    Z80State cpu{};
    resetCpu(cpu);
    cpu.cyclePeriod = 100;
    uint64_t tstates;
    if (setup == Setup::Closed) {
        OffBus bus{memory};
        tstates = runSlices(cpu, bus, state);
    } else if (engine.busWanted() == 1 + PointTable::WatchWrites) {
        PointBus<true> bus{*organiser};
        tstates = runSlices(cpu, bus, state);
    } else {
        PointBus<false> bus{*organiser};
        tstates = runSlices(cpu, bus, state);
    }
    engine.setView(nullptr);
    state.counters["emulated_MHz"] =
        benchmark::Counter(static_cast<double>(tstates) / 1e6, benchmark::Counter::kIsRate);
    // The exact count, for host instructions per T-state under an instruction counter.
    state.counters["tstates"] = benchmark::Counter(static_cast<double>(tstates));
}

void BM_DebuggerOff(benchmark::State& state) { runWithEngine(state, Setup::Closed); }
void BM_DebuggerRunning(benchmark::State& state) { runWithEngine(state, Setup::ThreeBreakpoints); }
void BM_DebuggerRunningExecPoints(benchmark::State& state) { runWithEngine(state, Setup::ExecPoints); }
void BM_DebuggerRunningWriteWatch(benchmark::State& state) { runWithEngine(state, Setup::WriteWatchUntouched); }
void BM_DebuggerRunningWriteWatchHit(benchmark::State& state) { runWithEngine(state, Setup::WriteWatchHit); }

}  // namespace

BENCHMARK(BM_DebuggerOff)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DebuggerRunning)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DebuggerRunningExecPoints)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DebuggerRunningWriteWatch)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DebuggerRunningWriteWatchHit)->Unit(benchmark::kMillisecond);
