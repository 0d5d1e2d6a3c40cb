// bench_machine: emulated speed of the organiser machine: the processor core
// on MachineBus with banked memory, 100-T-state slices, loopHook with its
// interrupt sources, and the debugger hook switched off. Part of
// pdemu-bench; reports "emulated_MHz" like bench_core, whose instruction
// mixes it repeats so the two compare. runCpu runs on the calling thread;
// a watcher thread asks for the stop through requestStop once the run has
// passed a number of T-states (the count itself is exact, so the overshoot
// does not distort the rate). No slice observer is set: the hook then takes
// its ordinary path.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

#include "machine/HostClock.h"
#include "machine/Machine.h"
#include "machine/Messages.h"
#include "BenchPrograms.h"

namespace {

// bench_core's loops, the exerciser-like one with its data in RAM at 0xC000
// since flash page 0 is read-only; the code runs from page 0 as the
// organiser's does.
constexpr auto mixProgram = benchprograms::exerciserMix(0xC000);
using benchprograms::aluProgram;

constexpr uint64_t TStatesPerIteration = 20'000'000;

class SilentReporter : public MessageReporter {
public:
    void showMessage(MessageIcon, const std::string&) override {}
};


// A machine with the program in flash page 0, its images made directly (no
// ROM file); null after the benchmark has been told why not.
std::unique_ptr<Machine> benchMachine(benchmark::State& state, MessageReporter& reporter, HostClock& clock,
                                      const uint8_t* program, std::size_t size) {
    auto machine = std::make_unique<Machine>(reporter, clock);
    if (!machine->memory.allocateImages()) {
        state.SkipWithError("no memory for the images");
        return nullptr;
    }
    std::memcpy(machine->memory.flashImage.get(), program, size);
    return machine;
}

// The debugger as the user may leave it while the machine runs (Go). All
// but History run without the debugger's history, as before it had one.
enum class Debugging { Closed, ExecPoints, WriteWatch, Open, History };

void runOnMachine(benchmark::State& state, const uint8_t* program, std::size_t size,
                  Debugging debugging = Debugging::Closed) {
    SilentReporter reporter;
    FixedClock clock(FixedClock::at(2000, 1, 1, 0, 0, 0));
    auto machine = benchMachine(state, reporter, clock, program, size);
    if (!machine)
        return;
    if (debugging != Debugging::History)
        machine->setHistoryLimit(0);
    if (debugging == Debugging::ExecPoints) {
        for (int i = 0; i < 32; ++i) {  // none reached: the mix runs in page 00
            char text[16];
            std::snprintf(text, sizeof text, "exec %04X", 0x1000 + i * 0x700);
            machine->debugger.addPoint(text, nullptr);
        }
    }
    if (debugging == Debugging::WriteWatch)
        machine->debugger.addPoint("write D000-D0FF", nullptr);
    uint64_t tstates = 0;
    for (auto _ : state) {
        machine->clearStopRequest();
        if (debugging != Debugging::Closed) {  // the stop at the end closed it
            machine->debugger.windowShown();
            machine->debugger.go();
        }
        machine->elapsedTStates.store(0, std::memory_order_relaxed);
        std::thread watcher([&m = *machine] {
            while (m.elapsedTStates.load(std::memory_order_relaxed) < TStatesPerIteration)
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            m.requestStop();
        });
        machine->emulationThreadMain();  // resets, then runs until the watcher stops it
        watcher.join();
        tstates += machine->elapsedTStates.load(std::memory_order_relaxed);
    }
    state.counters["emulated_MHz"] =
        benchmark::Counter(static_cast<double>(tstates) * 1e-6, benchmark::Counter::kIsRate);
    // The exact count, for host instructions per T-state under an instruction counter.
    state.counters["tstates"] = benchmark::Counter(static_cast<double>(tstates));
}

void BM_MachineExerciserMix(benchmark::State& state) {
    runOnMachine(state, mixProgram.data(), mixProgram.size());
}
BENCHMARK(BM_MachineExerciserMix)->Unit(benchmark::kMillisecond);

void BM_MachineExerciserMixExecPoints(benchmark::State& state) {
    runOnMachine(state, mixProgram.data(), mixProgram.size(), Debugging::ExecPoints);
}
BENCHMARK(BM_MachineExerciserMixExecPoints)->Unit(benchmark::kMillisecond);

void BM_MachineExerciserMixWriteWatch(benchmark::State& state) {
    runOnMachine(state, mixProgram.data(), mixProgram.size(), Debugging::WriteWatch);
}
BENCHMARK(BM_MachineExerciserMixWriteWatch)->Unit(benchmark::kMillisecond);

// Go with the debugger open and nothing set, without and with its history.
void BM_MachineExerciserMixDebuggerOpen(benchmark::State& state) {
    runOnMachine(state, mixProgram.data(), mixProgram.size(), Debugging::Open);
}
BENCHMARK(BM_MachineExerciserMixDebuggerOpen)->Unit(benchmark::kMillisecond);

void BM_MachineExerciserMixHistory(benchmark::State& state) {
    runOnMachine(state, mixProgram.data(), mixProgram.size(), Debugging::History);
}
BENCHMARK(BM_MachineExerciserMixHistory)->Unit(benchmark::kMillisecond);

// Going back in a history of 100,000,000 T-states of the exerciser mix: one
// instruction (arg 1), a thousand, and backwards to a watchpoint that never
// fired (the whole history replayed). Each iteration goes on from where the
// last one left the machine; the history's memory is reported.
void BM_HistoryBack(benchmark::State& state) {
    SilentReporter reporter;
    FixedClock clock(FixedClock::at(2000, 1, 1, 0, 0, 0));
    auto machine = benchMachine(state, reporter, clock, mixProgram.data(), mixProgram.size());
    if (!machine)
        return;
    DebuggerEngine& engine = machine->debugger;
    engine.windowShown();
    engine.go();
    std::thread emulation([&m = *machine] { m.emulationThreadMain(); });
    while (machine->elapsedTStates.load(std::memory_order_relaxed) < 100'000'000)
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    engine.stop();
    while (!(engine.isHeld() && engine.commandTakenUp()))
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    const int64_t mode = state.range(0);
    if (mode == 0)
        engine.addPoint("write 0100", nullptr);  // flash page 0: never written
    state.counters["history_MB"] = static_cast<double>(machine->historyBytes()) / (1 << 20);
    state.counters["reach_MT"] = static_cast<double>(machine->historyReach()) * 1e-6;
    for (auto _ : state) {
        const std::string problem = mode == 0 ? machine->reverseGo() : machine->stepBack(static_cast<uint64_t>(mode));
        if (!problem.empty()) {
            state.SkipWithError(problem.c_str());
            break;
        }
    }
    machine->requestStop();
    emulation.join();
}
BENCHMARK(BM_HistoryBack)->Arg(1)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(5);
// Once: the first reverse go leaves the machine at the history's start.
BENCHMARK(BM_HistoryBack)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_MachineAluRun(benchmark::State& state) {
    runOnMachine(state, aluProgram.data(), aluProgram.size());
}
BENCHMARK(BM_MachineAluRun)->Unit(benchmark::kMillisecond);

}  // namespace
