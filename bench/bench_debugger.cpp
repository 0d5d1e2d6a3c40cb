// Cost of the debugger hook: emulated MHz of the processor core on the
// organiser's memory map with the debugger off (one flag test per
// instruction) and on in running mode (lock, breakpoint compares, no hit).
// Part of pdemu-bench; counter "emulated_MHz".
#include <benchmark/benchmark.h>

#include <cstdint>

#include "debugger/DebuggerEngine.h"
#include "debugger/DebuggerTextView.h"
#include "machine/MemoryMap.h"
#include "z80/Core.h"

namespace {

// The machine's binding of the hooks, without ports or interrupts.
struct HookBus {
    MemoryMap& memory;
    DebuggerEngine& engine;
    uint64_t slicesLeft = 0;

    uint8_t readByte(uint16_t a) { return memory.readByte(a); }
    void writeByte(uint16_t a, uint8_t v) { memory.writeByte(a, v); }
    uint8_t portIn(uint16_t) { return 0xFF; }
    void portOut(uint16_t, uint8_t) {}
    uint16_t loopHook(Z80State&) { return --slicesLeft == 0 ? HookLeaveRun : HookNoInterrupt; }
    void traceHook(Z80State& s) {
        if (!engine.isOff()) [[unlikely]]
            engine.traceHook(s);
    }
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

void runWithEngine(benchmark::State& state, bool engineOn) {
    MemoryMap memory;
    if (!memory.allocateImages()) {
        state.SkipWithError("no memory for the images");
        return;
    }
    memory.resetMapping();
    loadProgram(memory);
    DebuggerEngine engine(memory);
    DebuggerTextView view([](std::string_view) {});
    if (engineOn) {
        engine.setView(&view);
        engine.windowShown();
        engine.go();
        for (int n = 1; n <= 3; ++n)  // compared at every instruction, never reached
            view.typeBreakpoint(n, "3000");
        engine.readBreakpointFields();
    }
    Z80State cpu{};
    resetCpu(cpu);
    cpu.cyclePeriod = 100;
    HookBus bus{memory, engine};
    constexpr uint64_t slicesPerRun = 10000;  // 1,000,000 T-states
    uint64_t tstates = 0;
    for (auto _ : state) {
        bus.slicesLeft = slicesPerRun;
        benchmark::DoNotOptimize(runCpu(cpu, bus));
        tstates += slicesPerRun * 100;
    }
    engine.setView(nullptr);
    state.counters["emulated_MHz"] =
        benchmark::Counter(static_cast<double>(tstates) / 1e6, benchmark::Counter::kIsRate);
}

void BM_DebuggerOff(benchmark::State& state) { runWithEngine(state, false); }
void BM_DebuggerRunning(benchmark::State& state) { runWithEngine(state, true); }

}  // namespace

BENCHMARK(BM_DebuggerOff)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DebuggerRunning)->Unit(benchmark::kMillisecond);
