// CoreFixture: a reset processor on a fresh flat bus, shared by the core's tests.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>

#include "z80/Core.h"
#include "z80/FlatBus.h"

struct CoreFixture : ::testing::Test {
    std::unique_ptr<FlatBus> bus = std::make_unique<FlatBus>();
    Z80State s{};

    void SetUp() override {
        s.cyclePeriod = 100;
        resetCpu(s);
        s.cycleBudget = 1000000;  // instruction tests run in one long slice
    }

    // Puts code at PC, runs the given number of run-loop passes and returns
    // the T-states they charged.
    int exec(std::initializer_list<uint8_t> code, int passes = 1) {
        bus->load(s.PC.w, code);
        const int32_t before = s.cycleBudget;
        for (int i = 0; i < passes; ++i) stepCpu(s, *bus);
        return before - s.cycleBudget;
    }

    static void expectSameExceptPc(const Z80State& a, const Z80State& b) {
        EXPECT_EQ(a.AF.w, b.AF.w);
        EXPECT_EQ(a.BC.w, b.BC.w);
        EXPECT_EQ(a.DE.w, b.DE.w);
        EXPECT_EQ(a.HL.w, b.HL.w);
        EXPECT_EQ(a.IX.w, b.IX.w);
        EXPECT_EQ(a.IY.w, b.IY.w);
        EXPECT_EQ(a.SP.w, b.SP.w);
        EXPECT_EQ(a.altAF, b.altAF);
        EXPECT_EQ(a.altBC, b.altBC);
        EXPECT_EQ(a.altDE, b.altDE);
        EXPECT_EQ(a.altHL, b.altHL);
        EXPECT_EQ(a.cpuFlags, b.cpuFlags);
        EXPECT_EQ(a.I, b.I);
        EXPECT_EQ(a.cycleBudget, b.cycleBudget);
    }
};
