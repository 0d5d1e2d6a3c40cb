// bench_handshake: how long the user-interface thread is held by the two
// things it does to a running machine most often, a debug-text flush and a
// warm restart, while the emulation thread runs the demo firmware. Part of
// pdemu-bench. Each iteration is one call, timed on the calling thread;
// "median_ms" is the median over every call of the run (the window's tick
// must not hitch, so the typical call is what counts).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "DemoRom.h"
#include "machine/HostClock.h"
#include "machine/Machine.h"
#include "machine/Messages.h"

namespace {

class SilentReporter : public MessageReporter {
public:
    void showMessage(MessageIcon, const std::string&) override {}
};

// A started machine on the embedded demo firmware (it is loaded from a file,
// as the program loads its ROM), stopped and its file removed at the end.
class RunningDemo {
public:
    RunningDemo() : machine(reporter, clock) {
        romPath = (std::filesystem::temp_directory_path() / ("pdemu-bench-" + std::to_string(::getpid()) + ".pgm"))
                      .string();
        const auto image = demoRomImage();
        std::ofstream(romPath, std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
        machine.romImagePath = romPath;
        started = machine.startMachine();
        // Past the boot, into the firmware's main loop.
        while (started && machine.elapsedTStates.load(std::memory_order_relaxed) < 2'000'000)
            std::this_thread::yield();
    }
    ~RunningDemo() {
        machine.stopMachine();
        std::remove(romPath.c_str());
    }

    SilentReporter reporter;
    FixedClock clock{FixedClock::at(2026, 1, 1, 12, 0, 0)};
    Machine machine;
    std::string romPath;
    bool started = false;
};

template <class Call>
void timeEachCall(benchmark::State& state, Call call) {
    RunningDemo demo;
    if (!demo.started) {
        state.SkipWithError("the demo firmware did not start");
        return;
    }
    std::vector<double> seconds;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        call(demo.machine);
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(elapsed);
        seconds.push_back(elapsed);
    }
    if (seconds.empty())
        return;
    std::nth_element(seconds.begin(), seconds.begin() + static_cast<std::ptrdiff_t>(seconds.size() / 2),
                     seconds.end());
    state.counters["median_ms"] = seconds[seconds.size() / 2] * 1e3;
}

void BM_DebugTextFlushHoldsTheCaller(benchmark::State& state) {
    timeEachCall(state, [](Machine& machine) {
        // As if the firmware had just printed: the flush is then never skipped.
        machine.debugTextPending.store(1, std::memory_order_release);
        std::vector<std::string> lines = machine.takeDebugLines();
        benchmark::DoNotOptimize(lines);
    });
}
BENCHMARK(BM_DebugTextFlushHoldsTheCaller)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(200);

void BM_WarmRestartHoldsTheCaller(benchmark::State& state) {
    timeEachCall(state, [](Machine& machine) { machine.warmRestart(); });
}
BENCHMARK(BM_WarmRestartHoldsTheCaller)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(200);

}  // namespace
