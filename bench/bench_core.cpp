// bench_core: emulated speed of the processor core on the flat test bus.
// Part of pdemu-bench; reports "emulated_MHz" (emulated T-states per host
// second, in millions). Slices are 1,000,000 T-states so that the loop hook
// costs nothing measurable; each benchmark iteration runs one slice.
#include <benchmark/benchmark.h>

#include <memory>

#include "z80/Core.h"
#include "z80/FlatBus.h"
#include "BenchPrograms.h"

namespace {

using benchprograms::aluProgram;
constexpr auto mixProgram = benchprograms::mixAssembled;


void runProgram(benchmark::State& state, const uint8_t* program, size_t size, bool traced) {
    auto bus = std::make_unique<FlatBus>();
    for (size_t i = 0; i < size; ++i) bus->memory[i] = program[i];
    bus->traceEnabled = traced;
    bus->hookAnswer = HookLeaveRun;  // one slice per runCpu call
    Z80State s{};
    s.cyclePeriod = 1000000;
    resetCpu(s);
    int64_t tstates = 0;
    for (auto _ : state) {
        runCpu(s, *bus);
        tstates += s.cyclePeriod - bus->lastHookBudget;
    }
    state.counters["emulated_MHz"] =
        benchmark::Counter(static_cast<double>(tstates) * 1e-6, benchmark::Counter::kIsRate);
    // The exact count, for host instructions per T-state under an instruction counter.
    state.counters["tstates"] = benchmark::Counter(static_cast<double>(tstates));
}

// The trace hook off, as in the machine while its debugger is closed.
void BM_CoreExerciserMix(benchmark::State& state) {
    runProgram(state, mixProgram.data(), mixProgram.size(), false);
}
BENCHMARK(BM_CoreExerciserMix)->Unit(benchmark::kMillisecond);

void BM_CoreAluRun(benchmark::State& state) {
    runProgram(state, aluProgram.data(), aluProgram.size(), false);
}
BENCHMARK(BM_CoreAluRun)->Unit(benchmark::kMillisecond);

// Every instruction through traceHook: what the write-back of the cached
// registers around the hook costs.
void BM_CoreExerciserMixTraced(benchmark::State& state) {
    runProgram(state, mixProgram.data(), mixProgram.size(), true);
}
BENCHMARK(BM_CoreExerciserMixTraced)->Unit(benchmark::kMillisecond);

}  // namespace
