// pdemu-bench-window: the real machine on its emulation thread running a
// loop with the debugger on and Go given (no breakpoint hit), once without a
// debugger window and once with the window open, while the user-interface
// thread runs its event loop. Reports emulated MHz ("emulated_MHz"); the
// window must keep at least 80% of the figure without it. Then Animate with
// the window: instructions shown a second. Its own program because it needs
// a QApplication (offscreen unless a platform is chosen).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QLineEdit>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

#include "debugger/DebuggerEngine.h"
#include "frontend/DebuggerWindow.h"
#include "frontend/HostServices.h"
#include "frontend/SimulatorApp.h"
#include "machine/Machine.h"
#include "WindowBenchSupport.h"

namespace {

// The loop of BM_DebuggerRunning: loads, arithmetic, memory, a call, jumps.
//   0000 LD SP,F000 / LD HL,C000 / LD B,20
//   0008 LD A,(HL) / ADD A,B / LD (HL),A / INC HL / CALL 0020 / DJNZ 0008 / JR 0003
//   0020 PUSH BC / LD C,A / XOR C / POP BC / RET
std::string writeRom() {
    std::vector<char> rom = {0x31, 0x00, char(0xF0), 0x21, 0x00, char(0xC0), 0x06, 0x20, 0x7E, char(0x80), 0x77,
                             0x23, char(0xCD), 0x20, 0x00, 0x10, char(0xF7), 0x18, char(0xF0)};
    rom.resize(0x20, 0);
    for (char c : {char(0xC5), char(0x4F), char(0xA9), char(0xC1), char(0xC9)})
        rom.push_back(c);
    return windowbench::writeRom(rom, "loop");
}

void runMachine(benchmark::State& state, bool window) {
    const std::string rom = writeRom();
    HostServices host;
    SimulatorApp app(host);
    if (!windowbench::startHeld(app, rom, window)) {
        state.SkipWithError("the machine did not start");
        return;
    }
    DebuggerEngine& engine = app.machine().debugger;
    engine.go();
    const auto sliceMs = 200;
    uint64_t tstates = 0;
    for (auto _ : state) {
        const uint64_t before = app.machine().elapsedTStates.load();
        const auto t0 = std::chrono::steady_clock::now();
        windowbench::serveEventsFor(sliceMs);
        const auto t1 = std::chrono::steady_clock::now();
        tstates += app.machine().elapsedTStates.load() - before;
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    }
    state.counters["emulated_MHz"] = benchmark::Counter(static_cast<double>(tstates) / 1e6, benchmark::Counter::kIsRate);
    app.finish();
    std::filesystem::remove(rom);
}

// Animate with the window open: how many instructions the window shows a
// second ("shown_per_s", counted as changes of its PC field, which every
// instruction of the loop makes).
void BM_AnimateWithWindow(benchmark::State& state) {
    const std::string rom = writeRom();
    HostServices host;
    SimulatorApp app(host);
    if (!windowbench::startHeld(app, rom, true)) {
        state.SkipWithError("the machine did not start");
        return;
    }
    DebuggerEngine& engine = app.machine().debugger;
    int shown = 0;
    QObject::connect(app.debuggerWindow()->field("PC"), &QLineEdit::textChanged, [&] { ++shown; });
    engine.animate();
    windowbench::serveEventsFor(100);
    int total = 0;
    for (auto _ : state) {
        const int before = shown;
        const auto t0 = std::chrono::steady_clock::now();
        windowbench::serveEventsFor(200);
        const auto t1 = std::chrono::steady_clock::now();
        total += shown - before;
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    }
    state.counters["shown_per_s"] = benchmark::Counter(static_cast<double>(total), benchmark::Counter::kIsRate);
    app.finish();
    std::filesystem::remove(rom);
}

void BM_MachineDebuggerRunning(benchmark::State& state) { runMachine(state, false); }
void BM_MachineDebuggerRunningWithWindow(benchmark::State& state) { runMachine(state, true); }

}  // namespace

BENCHMARK(BM_MachineDebuggerRunning)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MachineDebuggerRunningWithWindow)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AnimateWithWindow)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) { return windowbench::runBenchmarks(argc, argv); }
