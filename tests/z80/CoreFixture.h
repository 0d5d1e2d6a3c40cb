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
};
