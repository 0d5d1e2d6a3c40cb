// Tests of the run loop: slices, hooks, HALT, interrupt acceptance and reset.
#include <gtest/gtest.h>

#include <memory>

#include "z80/Core.h"
#include "z80/FlatBus.h"

namespace {

struct RunLoop : ::testing::Test {
    std::unique_ptr<FlatBus> bus = std::make_unique<FlatBus>();
    Z80State s{};
    void SetUp() override {
        s.cyclePeriod = 100;
        resetCpu(s);
    }
};

TEST_F(RunLoop, ResetSetsDocumentedValues) {
    s.AF.w = s.BC.w = s.DE.w = s.HL.w = s.IX.w = s.IY.w = s.PC.w = 0x1234;
    s.altAF = s.altBC = s.altDE = s.altHL = 0x5678;
    s.SP.w = 0;
    s.cpuFlags = CpuIff1 | CpuIff2 | CpuIm2 | CpuHalted;
    s.I = 0x12;
    s.cyclePeriod = 77;
    s.cycleBudget = -3;
    resetCpu(s);
    EXPECT_EQ(s.AF.w | s.BC.w | s.DE.w | s.HL.w | s.IX.w | s.IY.w | s.PC.w, 0);
    EXPECT_EQ(s.altAF | s.altBC | s.altDE | s.altHL, 0);
    EXPECT_EQ(s.SP.w, 0xF000);
    EXPECT_EQ(s.cpuFlags, 0);
    EXPECT_EQ(s.I, 0);
    EXPECT_EQ(s.cyclePeriod, 77);
    EXPECT_EQ(s.cycleBudget, 77);
}

TEST_F(RunLoop, SliceOfNopsEndsAfterTwentyFifth) {
    bus->leaveAfterHooks = 1;
    EXPECT_EQ(runCpu(s, *bus), 25);
    EXPECT_EQ(bus->loopHookCalls, 1u);
    EXPECT_EQ(bus->lastHookBudget, 0);
    EXPECT_EQ(bus->traceCalls, 25u);
    EXPECT_EQ(s.cycleBudget, 100);
}

}  // namespace
