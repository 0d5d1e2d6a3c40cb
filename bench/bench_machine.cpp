// bench_machine: emulated speed of the organiser machine: the processor core
// on MachineBus with banked memory, 100-T-state slices, loopHook with its
// interrupt sources, and the debugger hook switched off. Part of
// pdemu-bench; reports "emulated_MHz" like bench_core, whose instruction
// mixes it repeats so the two compare. runCpu runs on the calling thread;
// a watcher thread asks for the stop through stopRequest once the run has
// passed a number of T-states (the count itself is exact, so the overshoot
// does not distort the rate). No slice observer is set: the hook then takes
// its ordinary path.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "machine/HostClock.h"
#include "machine/Machine.h"
#include "machine/Messages.h"

namespace {

// bench_core's exerciser-like loop with its data area moved into RAM
// (data equ 0xC000, src equ 0xC040, dst equ 0xC050), since flash page 0 is
// read-only on the organiser. Code runs from flash page 0, as the organiser's
// does. Assembled with z80asm, org 0.
constexpr uint8_t mixProgram[] = {
    0x31, 0x00, 0xF0, 0xDD, 0x21, 0x00, 0xC0, 0xFD, 0x21, 0x20, 0xC0, 0x01, 0x21, 0x43, 0x11, 0x78,
    0x56, 0x06, 0x40, 0x21, 0x00, 0xC0, 0xDD, 0x7E, 0x01, 0xFD, 0x86, 0x02, 0x89, 0x93, 0x9A, 0xE6,
    0x5F, 0xAD, 0xB4, 0xFE, 0x33, 0x27, 0xDD, 0x34, 0x03, 0x0D, 0x07, 0x1F, 0x77, 0x23, 0x86, 0xFD,
    0x77, 0x04, 0xEB, 0x09, 0xEB, 0xCB, 0x11, 0xCB, 0x3A, 0xCB, 0x5B, 0xCB, 0xE6, 0xDD, 0xCB, 0x05,
    0x96, 0x32, 0x08, 0xC0, 0x3A, 0x09, 0xC0, 0x5F, 0xCD, 0x68, 0x00, 0xC5, 0x21, 0x40, 0xC0, 0x11,
    0x50, 0xC0, 0x01, 0x10, 0x00, 0xED, 0xB0, 0xC1, 0x2A, 0x0A, 0xC0, 0xED, 0x52, 0x22, 0x0C, 0xC0,
    0x30, 0x01, 0x3C, 0x10, 0xAE, 0xC3, 0x11, 0x00, 0xF5, 0x08, 0xD9, 0xFD, 0x7E, 0x06, 0x07, 0xEE,
    0x0F, 0xFD, 0x77, 0x06, 0xD9, 0x08, 0xF1, 0xC9,
};

// bench_core's straight ALU run ending in JP 0.
constexpr uint8_t aluProgram[] = {
    0x80, 0x89, 0x92, 0x9B, 0xA4, 0xAD, 0xB6, 0xBF, 0x3C, 0x05, 0x0C, 0x15,
    0xC6, 0x11, 0xD6, 0x07, 0xE6, 0xF7, 0xEE, 0x5A, 0xF6, 0x01, 0xFE, 0x40,
    0x78, 0x41, 0x4A, 0x53, 0x5C, 0x65, 0x6F, 0x17, 0x1F, 0x07, 0x0F, 0xC3, 0x00, 0x00,
};

constexpr uint64_t TStatesPerIteration = 20'000'000;

class SilentReporter : public MessageReporter {
public:
    void showMessage(MessageIcon, const std::string&) override {}
};


void runOnMachine(benchmark::State& state, const uint8_t* program, std::size_t size) {
    SilentReporter reporter;
    FixedClock clock(FixedClock::at(2000, 1, 1, 0, 0, 0));
    auto machine = std::make_unique<Machine>(reporter, clock);
    if (!machine->memory.allocateImages()) {
        state.SkipWithError("no memory for the images");
        return;
    }
    std::memcpy(machine->memory.flashImage.get(), program, size);
    uint64_t tstates = 0;
    for (auto _ : state) {
        machine->stopRequest.store(0, std::memory_order_relaxed);
        machine->elapsedTStates.store(0, std::memory_order_relaxed);
        std::thread watcher([&m = *machine] {
            while (m.elapsedTStates.load(std::memory_order_relaxed) < TStatesPerIteration)
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            m.stopRequest.store(1, std::memory_order_release);
        });
        machine->emulationThreadMain();  // resets, then runs until the watcher stops it
        watcher.join();
        tstates += machine->elapsedTStates.load(std::memory_order_relaxed);
    }
    state.counters["emulated_MHz"] =
        benchmark::Counter(static_cast<double>(tstates) * 1e-6, benchmark::Counter::kIsRate);
}

void BM_MachineExerciserMix(benchmark::State& state) {
    runOnMachine(state, mixProgram, sizeof mixProgram);
}
BENCHMARK(BM_MachineExerciserMix)->Unit(benchmark::kMillisecond);

void BM_MachineAluRun(benchmark::State& state) {
    runOnMachine(state, aluProgram, sizeof aluProgram);
}
BENCHMARK(BM_MachineAluRun)->Unit(benchmark::kMillisecond);

}  // namespace
