// bench_handshake (pdemu-bench-handshake): how long the user-interface thread
// is held by the two things it does to a running machine most often, a
// debug-text flush and a warm restart, while the emulation thread runs the
// demo firmware, and again while the debugger window animates. Its own
// program because the second pair needs a QApplication. Each iteration is
// one call, timed on the calling thread; "median_ms" is the median over every
// call of the run (the window's tick must not hitch, so the typical call is
// what counts).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

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
#include "debugger/DebuggerEngine.h"
#include "frontend/DeviceWindow.h"
#include "frontend/HostServices.h"
#include "frontend/SimulatorApp.h"
#include "machine/HostClock.h"
#include "machine/Machine.h"
#include "machine/Messages.h"
#include "WindowBenchSupport.h"

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
        std::vector<std::string> lines = machine.takeDebugLines();
        benchmark::DoNotOptimize(lines);
    });
}
BENCHMARK(BM_DebugTextFlushHoldsTheCaller)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(200);

void BM_WarmRestartHoldsTheCaller(benchmark::State& state) {
    timeEachCall(state, [](Machine& machine) { machine.warmRestart(); });
}
BENCHMARK(BM_WarmRestartHoldsTheCaller)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(200);

// ---- While the debugger animates: the window shows every instruction, and
// the same two calls must not wait behind the animation. Uses the real
// program's windows (offscreen), so these run with a QApplication.

// 0000 DI / LD SP,0000
// 0004 LD HL,0020 / print (ED FE) / JR 0004      "tick\n" at 0020
std::string writePrintingRom() {
    std::vector<char> rom = {char(0xF3), 0x31, 0x00, 0x00, 0x21, 0x20, 0x00, char(0xED), char(0xFE), 0x18,
                             char(0xF9)};
    rom.resize(0x20, 0);
    for (char c : std::string("tick\n"))
        rom.push_back(c);
    rom.push_back(0);
    return windowbench::writeRom(rom, "printing");
}

template <class Call>
void timeWhileAnimating(benchmark::State& state, Call call) {
    const std::string rom = writePrintingRom();
    HostServices host;
    SimulatorApp app(host);
    if (!windowbench::startHeld(app, rom, true)) {
        state.SkipWithError("the machine did not start");
        return;
    }
    app.machine().debugger.animate();
    std::vector<double> seconds;
    for (auto _ : state) {
        windowbench::serveEventsFor(30);  // the window shows the animation meanwhile
        const auto start = std::chrono::steady_clock::now();
        call(app);
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(elapsed);
        seconds.push_back(elapsed);
    }
    app.finish();
    std::filesystem::remove(rom);
    std::sort(seconds.begin(), seconds.end());
    state.counters["median_ms"] = seconds[seconds.size() / 2] * 1e3;
    state.counters["max_ms"] = seconds.back() * 1e3;
}

void BM_DebugTextFlushWhileAnimating(benchmark::State& state) {
    timeWhileAnimating(state, [](SimulatorApp& app) { app.window()->flushDebugLines(); });
}
BENCHMARK(BM_DebugTextFlushWhileAnimating)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_WarmRestartWhileAnimating(benchmark::State& state) {
    timeWhileAnimating(state, [](SimulatorApp& app) { app.window()->warmRestartChosen(); });
}
BENCHMARK(BM_WarmRestartWhileAnimating)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

int main(int argc, char** argv) { return windowbench::runBenchmarks(argc, argv); }
