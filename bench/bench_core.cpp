// bench_core: emulated speed of the processor core on the flat test bus.
// Part of pdemu-bench; reports "emulated_MHz" (emulated T-states per host
// second, in millions). Slices are 1,000,000 T-states so that the loop hook
// costs nothing measurable; each benchmark iteration runs one slice.
#include <benchmark/benchmark.h>

#include <memory>

#include "z80/Core.h"
#include "z80/FlatBus.h"

namespace {

// An exerciser-like loop assembled from this source (z80asm, org 0):
//   start: ld sp,0xf000 / ld ix,data / ld iy,data+0x20 / ld bc,0x4321 / ld de,0x5678
//   outer: ld b,64
//   loop:  ld hl,data / ld a,(ix+1) / add a,(iy+2) / adc a,c / sub e / sbc a,d
//          and 0x5f / xor l / or h / cp 0x33 / daa / inc (ix+3) / dec c / rlca / rra
//          ld (hl),a / inc hl / add a,(hl) / ld (iy+4),a / ex de,hl / add hl,bc
//          ex de,hl / rl c / srl d / bit 3,e / set 4,(hl) / res 2,(ix+5)
//          ld (data+8),a / ld a,(data+9) / ld e,a / call sub1
//          push bc / ld hl,src / ld de,dst / ld bc,16 / ldir / pop bc
//          ld hl,(data+10) / sbc hl,de / ld (data+12),hl / jr nc,skip / inc a
//   skip:  djnz loop / jp outer
//   sub1:  push af / ex af,af' / exx / ld a,(iy+6) / rlca / xor 0x0f
//          ld (iy+6),a / exx / ex af,af' / pop af / ret
//   data:  ds 64 / src: ds 16 / dst: ds 16
constexpr uint8_t mixProgram[] = {
    0x31, 0x00, 0xF0, 0xDD, 0x21, 0x78, 0x00, 0xFD, 0x21, 0x98, 0x00, 0x01, 0x21, 0x43, 0x11, 0x78,
    0x56, 0x06, 0x40, 0x21, 0x78, 0x00, 0xDD, 0x7E, 0x01, 0xFD, 0x86, 0x02, 0x89, 0x93, 0x9A, 0xE6,
    0x5F, 0xAD, 0xB4, 0xFE, 0x33, 0x27, 0xDD, 0x34, 0x03, 0x0D, 0x07, 0x1F, 0x77, 0x23, 0x86, 0xFD,
    0x77, 0x04, 0xEB, 0x09, 0xEB, 0xCB, 0x11, 0xCB, 0x3A, 0xCB, 0x5B, 0xCB, 0xE6, 0xDD, 0xCB, 0x05,
    0x96, 0x32, 0x80, 0x00, 0x3A, 0x81, 0x00, 0x5F, 0xCD, 0x68, 0x00, 0xC5, 0x21, 0xB8, 0x00, 0x11,
    0xC8, 0x00, 0x01, 0x10, 0x00, 0xED, 0xB0, 0xC1, 0x2A, 0x82, 0x00, 0xED, 0x52, 0x22, 0x84, 0x00,
    0x30, 0x01, 0x3C, 0x10, 0xAE, 0xC3, 0x11, 0x00, 0xF5, 0x08, 0xD9, 0xFD, 0x7E, 0x06, 0x07, 0xEE,
    0x0F, 0xFD, 0x77, 0x06, 0xD9, 0x08, 0xF1, 0xC9,
};

// A straight run of register and immediate ALU operations, then JP 0: the
// dispatch cost of the cheapest instructions.
constexpr uint8_t aluProgram[] = {
    0x80, 0x89, 0x92, 0x9B, 0xA4, 0xAD, 0xB6, 0xBF, 0x3C, 0x05, 0x0C, 0x15,
    0xC6, 0x11, 0xD6, 0x07, 0xE6, 0xF7, 0xEE, 0x5A, 0xF6, 0x01, 0xFE, 0x40,
    0x78, 0x41, 0x4A, 0x53, 0x5C, 0x65, 0x6F, 0x17, 0x1F, 0x07, 0x0F, 0xC3, 0x00, 0x00,
};

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
}

// The trace hook off, as in the machine while its debugger is closed.
void BM_CoreExerciserMix(benchmark::State& state) {
    runProgram(state, mixProgram, sizeof mixProgram, false);
}
BENCHMARK(BM_CoreExerciserMix)->Unit(benchmark::kMillisecond);

void BM_CoreAluRun(benchmark::State& state) {
    runProgram(state, aluProgram, sizeof aluProgram, false);
}
BENCHMARK(BM_CoreAluRun)->Unit(benchmark::kMillisecond);

// Every instruction through traceHook: what the write-back of the cached
// registers around the hook costs.
void BM_CoreExerciserMixTraced(benchmark::State& state) {
    runProgram(state, mixProgram, sizeof mixProgram, true);
}
BENCHMARK(BM_CoreExerciserMixTraced)->Unit(benchmark::kMillisecond);

}  // namespace
