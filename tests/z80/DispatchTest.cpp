// The run loop has two ways through an instruction: the traced one (one
// switch, used while traceActive answers true, and by stepCpu) and the
// threaded dispatch it uses otherwise. Both must give the same machine, slice
// by slice. Random bytes as code reach every opcode, prefix chains, traps,
// HALT, interrupts and self-modifying code.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "z80/Core.h"
#include "z80/FlatBus.h"

namespace {

struct SliceRecord {
    uint16_t words[8];  // AF BC DE HL IX IY PC SP
    uint16_t alt[4];
    uint8_t cpuFlags, I;
    int32_t budget;
    bool operator==(const SliceRecord&) const = default;
};

struct RecordingBus : FlatBus {
    std::vector<SliceRecord> slices;
    static constexpr int SliceCount = 20000;

    static uint16_t record(FlatBus& flat, Z80State& s) {
        auto& bus = static_cast<RecordingBus&>(flat);
        SliceRecord r{};
        std::memcpy(r.words, &s, sizeof r.words);
        r.alt[0] = s.altAF, r.alt[1] = s.altBC, r.alt[2] = s.altDE, r.alt[3] = s.altHL;
        r.cpuFlags = s.cpuFlags, r.I = s.I, r.budget = s.cycleBudget;
        bus.slices.push_back(r);
        const auto n = static_cast<int>(bus.slices.size());
        s.cyclePeriod = 1 + (n * 7) % 61;  // slice ends fall everywhere
        if (n >= SliceCount) return HookLeaveRun;
        if (n % 17 == 0) return NmiVector;
        if (n % 5 == 0) return static_cast<uint16_t>(n & 0xFF);
        return HookNoInterrupt;
    }
};

// Runs random code from a random record on a bus with the trace on or off.
std::unique_ptr<RecordingBus> runRandom(unsigned seed, bool traced, Z80State& s) {
    auto bus = std::make_unique<RecordingBus>();
    std::mt19937 random(seed);
    for (uint8_t& b : bus->memory) b = static_cast<uint8_t>(random());
    for (uint8_t& p : bus->portValues) p = static_cast<uint8_t>(random());
    s = Z80State{};
    uint16_t words[8];
    for (uint16_t& w : words) w = static_cast<uint16_t>(random());
    std::memcpy(&s, words, sizeof words);
    s.altAF = static_cast<uint16_t>(random()), s.altBC = static_cast<uint16_t>(random());
    s.cpuFlags = static_cast<uint8_t>(random() & (CpuIff1 | CpuIff2 | CpuIm1 | CpuIm2));
    s.I = static_cast<uint8_t>(random());
    s.cyclePeriod = s.cycleBudget = 50;
    bus->traceEnabled = traced;
    bus->onLoopHook = &RecordingBus::record;
    bus->slices.reserve(RecordingBus::SliceCount);
    runCpu(s, *bus);
    return bus;
}

TEST(Dispatch, TracedAndThreadedRunsOfRandomCodeAgreeSliceBySlice) {
    for (unsigned seed = 1; seed <= 12; ++seed) {
        SCOPED_TRACE(seed);
        Z80State a, b;
        const auto traced = runRandom(seed, true, a);
        const auto threaded = runRandom(seed, false, b);
        EXPECT_GT(traced->traceCalls, 0u);  // the two runs really took different paths
        EXPECT_EQ(threaded->traceCalls, 0u);
        ASSERT_EQ(traced->slices.size(), threaded->slices.size());
        for (size_t i = 0; i < traced->slices.size(); ++i)
            ASSERT_TRUE(traced->slices[i] == threaded->slices[i]) << "first difference at slice " << i;
        EXPECT_EQ(std::memcmp(traced->memory, threaded->memory, sizeof traced->memory), 0);
        EXPECT_EQ(traced->portInCount, threaded->portInCount);
        EXPECT_EQ(traced->portOutCount, threaded->portOutCount);
        EXPECT_EQ(traced->printTraps + traced->breakTraps, threaded->printTraps + threaded->breakTraps);
        EXPECT_EQ(traced->interruptsNoted, threaded->interruptsNoted);
    }
}

}  // namespace
