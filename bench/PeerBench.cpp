// PeerBench: pdemu's core side by side with Debian's libz80ex on the same Z80
// programs, in one run of pdemu-bench. Built only when the library is found.
//
// Each iteration runs the same program from its start for the same number of
// T-states on both cores, one after the other, each timed by the processor time
// of this thread (the machine may be shared, so wall time would count the
// neighbours). Counters: pdemu_MHz and z80ex_MHz (emulated T-states per host
// second, each core counting its own, which agree on every instruction these
// programs use) and ratio, pdemu's speed over libz80ex's.
//
//   BM_PeerCpmExerciser: exer.com (tests/cpm) on pdemu-cpm's CpmBus and on the
//     library's CP/M harness (PeerCpm.h), its first ExerTStates T-states.
//   BM_PeerExerciserMix: bench_core's instruction mix on a flat 64 KB bus.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "BenchPrograms.h"
#include "CpmBus.h"
#include "PeerCpm.h"
#include "z80/Core.h"
#include "z80/FlatBus.h"

namespace {

constexpr int64_t ExerTStates = 400'000'000;
constexpr int64_t MixTStates = 400'000'000;

double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

struct Tally {
    int64_t pdemuTStates = 0, peerTStates = 0;
    double pdemuSeconds = 0, peerSeconds = 0;

    void report(benchmark::State& state) const {
        const double pdemu = double(pdemuTStates) / pdemuSeconds * 1e-6;
        const double peer = double(peerTStates) / peerSeconds * 1e-6;
        state.counters["pdemu_MHz"] = pdemu;
        state.counters["z80ex_MHz"] = peer;
        state.counters["ratio"] = pdemu / peer;
    }
};

std::vector<uint8_t> readProgram(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void BM_PeerCpmExerciser(benchmark::State& state) {
    const std::vector<uint8_t> program = readProgram(PDEMU_CPM_PROGRAMS "/exer.com");
    if (program.empty()) {
        state.SkipWithError("no " PDEMU_CPM_PROGRAMS "/exer.com (build the cpm_programs target)");
        return;
    }
    // Both cores print the exerciser's lines into the same sink.
    std::unique_ptr<FILE, int (*)(FILE*)> sink(std::fopen("/dev/null", "w"), std::fclose);
    auto bus = std::make_unique<CpmBus>();
    auto peer = std::make_unique<PeerCpm>();
    peer->out = sink.get();
    Tally tally;
    for (auto _ : state) {
        *bus = CpmBus{};
        bus->out = sink.get();
        bus->limit = ExerTStates;
        bus->load(program.data(), program.size());
        Z80State s;
        bus->start(s);
        double t0 = threadSeconds();
        runCpu(s, *bus);
        tally.pdemuSeconds += threadSeconds() - t0;
        tally.pdemuTStates += bus->finalTstates;

        peer->loadCpm(program.data(), program.size());
        t0 = threadSeconds();
        tally.peerTStates += peer->run(ExerTStates);
        tally.peerSeconds += threadSeconds() - t0;
    }
    tally.report(state);
}
BENCHMARK(BM_PeerCpmExerciser)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_PeerExerciserMix(benchmark::State& state) {
    const auto& program = benchprograms::mixAssembled;
    auto bus = std::make_unique<FlatBus>();
    auto peer = std::make_unique<PeerCpm>();
    bus->traceEnabled = false;
    bus->hookAnswer = HookLeaveRun;
    Tally tally;
    for (auto _ : state) {
        std::fill(std::begin(bus->memory), std::end(bus->memory), uint8_t{0});
        std::copy(program.begin(), program.end(), bus->memory);
        Z80State s{};
        s.cyclePeriod = int32_t(MixTStates);
        resetCpu(s);
        double t0 = threadSeconds();
        runCpu(s, *bus);
        tally.pdemuSeconds += threadSeconds() - t0;
        tally.pdemuTStates += s.cyclePeriod - bus->lastHookBudget;

        peer->loadFlat(program.data(), program.size());
        t0 = threadSeconds();
        tally.peerTStates += peer->run(MixTStates);
        tally.peerSeconds += threadSeconds() - t0;
    }
    tally.report(state);
}
BENCHMARK(BM_PeerExerciserMix)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
