// Tests of the run loop: slices and overshoot, the hooks' contract, HALT,
// interrupt acceptance in every mode, and reset.
#include "CoreFixture.h"

namespace {

struct RunLoop : CoreFixture {
    void SetUp() override {
        CoreFixture::SetUp();
        s.cycleBudget = s.cyclePeriod;  // a fresh slice, as after a restart
    }
};

TEST_F(RunLoop, ResetSetsRegistersAndLoadsBudgetFromPeriod) {
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

TEST_F(RunLoop, SlicesEndAtZeroAndDropTheOvershoot) {
    // 25 NOPs of 4 T-states use up a 100 T-state slice exactly.
    bus->leaveAfterHooks = 1;
    EXPECT_EQ(runCpu(s, *bus), 25);
    EXPECT_EQ(bus->loopHookCalls, 1u);
    EXPECT_EQ(bus->lastHookBudget, 0);
    EXPECT_EQ(bus->traceCalls, 25u);
    EXPECT_EQ(s.cycleBudget, 100);

    // A CALL (17) with 3 T-states left ends at -14; the next slice is a full 100.
    resetCpu(s);
    s.cycleBudget = 3;
    bus->load(0, {0xCD, 0x00, 0x10});
    bus->loopHookCalls = 0;
    bus->leaveAfterHooks = 1;
    EXPECT_EQ(runCpu(s, *bus), 0x1000);
    EXPECT_EQ(bus->lastHookBudget, -14);
    bus->loopHookCalls = 0;
    EXPECT_EQ(runCpu(s, *bus), 0x1000 + 25);
}

TEST_F(RunLoop, FirstStartCallsHookAfterFirstInstructionAndReadsPeriodAfterIt) {
    s = Z80State{};  // zero-filled, as before the first start
    resetCpu(s);
    s.cyclePeriod = 100;
    bus->leaveAfterHooks = 1;
    EXPECT_EQ(runCpu(s, *bus), 1);
    EXPECT_EQ(bus->traceCalls, 1u);
    EXPECT_EQ(bus->lastHookBudget, -4);

    // The period is read after the hook has returned, so a hook may change it.
    bus->loopHookCalls = 0;
    bus->leaveAfterHooks = 3;
    bus->onLoopHook = [](FlatBus&, Z80State& st) -> uint16_t {
        st.cyclePeriod = 8;
        return HookNoInterrupt;
    };
    EXPECT_EQ(runCpu(s, *bus), 1 + 25 + 2 + 2);
}

TEST_F(RunLoop, TraceGateSkipsTheHookButNotTheWriteBack) {
    // With traceActive() false the hook is not called, yet loopHook and the
    // trap hooks still see PC and the budget as they are.
    bus->traceEnabled = false;
    bus->load(0x0010, {0xED, 0xFF});
    s.PC.w = 0x0010;
    s.cycleBudget = 4;
    bus->leaveAfterHooks = 1;
    EXPECT_EQ(runCpu(s, *bus), 0x0013);
    EXPECT_EQ(bus->traceCalls, 0u);
    EXPECT_EQ(bus->lastBreakPC, 0x0012);
    EXPECT_EQ(bus->lastHookPC, 0x0013);
    EXPECT_EQ(bus->lastHookBudget, 0);
}

TEST_F(RunLoop, TraceSwitchedOnByATrapStartsAtTheNextInstruction) {
    // The untraced loop asks traceActive() only at slice ends and after traps:
    // a break trap that switches the trace on (the debugger opening) must see
    // the very next instruction traced, and the slice must keep its length.
    bus->traceEnabled = false;
    bus->onBreakTrap = [](FlatBus& b, Z80State&) { b.traceEnabled = true; };
    bus->load(0x0010, {0xED, 0xFF, 0x00, 0x00, 0x00});  // break trap (0 T-states), 3 NOPs
    s.PC.w = 0x0010;
    s.cycleBudget = 12;
    bus->leaveAfterHooks = 1;
    EXPECT_EQ(runCpu(s, *bus), 0x0015);
    EXPECT_EQ(bus->breakTraps, 1u);
    EXPECT_EQ(bus->traceCalls, 3u);
    EXPECT_EQ(bus->loopHookCalls, 1u);
    EXPECT_EQ(bus->lastHookBudget, 0);
}

TEST_F(RunLoop, TraceSwitchedOnByLoopHookStartsWithTheNextSlice) {
    bus->traceEnabled = false;
    bus->leaveAfterHooks = 2;
    bus->onLoopHook = [](FlatBus& b, Z80State&) -> uint16_t {
        b.traceEnabled = true;
        return HookNoInterrupt;
    };
    EXPECT_EQ(runCpu(s, *bus), 50);  // two slices of 25 NOPs
    EXPECT_EQ(bus->traceCalls, 25u);
}

TEST_F(RunLoop, LeaveRunReturnsPcWithoutAcceptingAnything) {
    s.cpuFlags = CpuIff1 | CpuIm1;
    s.PC.w = 0x0300;
    s.cycleBudget = 4;
    bus->hookAnswer = HookLeaveRun;
    EXPECT_EQ(runCpu(s, *bus), 0x0301);
    EXPECT_EQ(s.SP.w, 0xF000);
    EXPECT_EQ(bus->interruptsNoted, 0u);
    EXPECT_EQ(s.cpuFlags, CpuIff1 | CpuIm1);
}

TEST_F(RunLoop, HooksMayRewriteTheRecord) {
    // traceHook moves PC before the fetch (the debugger editing registers).
    bus->load(0x0200, {0x3E, 0x42, 0x76});  // LD A,42h; HALT
    bus->onTrace = [](FlatBus&, Z80State& st) {
        if (st.PC.w == 0) st.PC.w = 0x0200;
    };
    bus->leaveAfterHooks = 1;
    EXPECT_EQ(runCpu(s, *bus), 0x0202);
    EXPECT_EQ(s.AF.b.h, 0x42);

    // loopHook resets the record (a restart): the loop goes on at PC 0 with a
    // fresh slice and the interrupt request is dropped since IFF1 is clear.
    bus->onTrace = nullptr;
    s.cpuFlags = CpuIff1 | CpuIm1;
    s.PC.w = 0x0202;
    bus->loopHookCalls = 0;
    bus->leaveAfterHooks = 2;
    bus->onLoopHook = [](FlatBus& b, Z80State& st) -> uint16_t {
        if (b.loopHookCalls == 1) resetCpu(st);
        return 0x0038;
    };
    EXPECT_EQ(runCpu(s, *bus), 25);
    EXPECT_EQ(bus->interruptsNoted, 0u);
    EXPECT_EQ(s.SP.w, 0xF000);
}

TEST_F(RunLoop, HaltWaitsForAnAcceptedInterrupt) {
    bus->load(0x0100, {0x76});
    bus->load(0x0038, {0x76});
    s.PC.w = 0x0100;
    s.SP.w = 0x8000;

    // IFF1 clear: PC stays on the HALT, the hook comes after every HALT.
    bus->hookAnswer = 0x0038;
    bus->leaveAfterHooks = 5;
    EXPECT_EQ(runCpu(s, *bus), 0x0100);
    EXPECT_EQ(bus->loopHookCalls, 5u);
    EXPECT_EQ(bus->traceCalls, 5u);
    EXPECT_EQ(bus->interruptsNoted, 0u);
    EXPECT_TRUE(s.cpuFlags & CpuHalted);

    // IFF1 set, mode 1: HALT+1 is pushed, PC goes to 0x0038.
    s.cpuFlags = CpuIff1 | CpuIm1 | CpuHalted;
    bus->loopHookCalls = 0;
    bus->leaveAfterHooks = 2;
    EXPECT_EQ(runCpu(s, *bus), 0x0038);
    EXPECT_EQ(bus->interruptsNoted, 1u);
    EXPECT_EQ(bus->lastInterruptPC, 0x0101);
    EXPECT_EQ(s.SP.w, 0x7FFE);
    EXPECT_EQ(bus->memory[0x7FFF], 0x01);
    EXPECT_EQ(bus->memory[0x7FFE], 0x01);
    EXPECT_EQ(s.cpuFlags & (CpuIff1 | CpuIff2 | CpuIm1 | CpuIm2), CpuIff2 | CpuIm1);
}

TEST_F(RunLoop, EiTakesEffectWithoutDelay) {
    bus->load(0, {0xED, 0x56, 0xFB});  // IM 1; EI
    s.cycleBudget = 12;                // the slice ends with the EI
    bus->queueHookAnswer(0x0038);
    bus->leaveAfterHooks = 2;
    runCpu(s, *bus);
    EXPECT_EQ(bus->lastInterruptPC, 0x0003);
    EXPECT_EQ(bus->memory[0xEFFE], 0x03);
    EXPECT_EQ(bus->memory[0xEFFF], 0x00);
}

TEST_F(RunLoop, InterruptModesAndNmi) {
    s.PC.w = 0x1234;
    s.SP.w = 0x8000;

    // Maskable with IFF1 clear: dropped, nothing noted or pushed.
    acceptInterrupt(s, *bus, 0x0038);
    EXPECT_EQ(s.PC.w, 0x1234);
    EXPECT_EQ(s.SP.w, 0x8000);
    EXPECT_EQ(bus->interruptsNoted, 0u);

    // Mode 0: the vector is the restart address.
    s.cpuFlags = CpuIff1;
    acceptInterrupt(s, *bus, 0x0038);
    EXPECT_EQ(s.PC.w, 0x0038);
    EXPECT_EQ(s.cpuFlags, CpuIff2);
    EXPECT_EQ(bus->memory[0x7FFF], 0x12);
    EXPECT_EQ(bus->memory[0x7FFE], 0x34);

    // Mode 2: PC from I*256 + vector low byte, low byte first.
    s.cpuFlags = CpuIff1 | CpuIm2;
    s.I = 0x12;
    bus->load(0x1238, {0xCD, 0xAB});
    acceptInterrupt(s, *bus, 0x0038);
    EXPECT_EQ(s.PC.w, 0xABCD);

    // ED 5E (IM 2) sets the mode the same way.
    s.cpuFlags = CpuIff1 | CpuIm1;
    s.PC.w = 0x0400;
    bus->load(0x0400, {0xED, 0x5E});
    stepCpu(s, *bus);
    acceptInterrupt(s, *bus, 0x0038);
    EXPECT_EQ(s.PC.w, 0xABCD);

    // NMI with IFF1 clear: taken, IFF2 ends clear.
    s.cpuFlags = CpuIff2;
    acceptInterrupt(s, *bus, NmiVector);
    EXPECT_EQ(s.PC.w, 0x0066);
    EXPECT_EQ(s.cpuFlags & (CpuIff1 | CpuIff2), 0);

    // NMI with IFF1 set keeps it in IFF2; RETN then enables interrupts again.
    s.cpuFlags = CpuIff1 | CpuIm1;
    s.PC.w = 0x0500;
    const uint16_t sp = s.SP.w;
    acceptInterrupt(s, *bus, NmiVector);
    EXPECT_EQ(s.cpuFlags, CpuIff2 | CpuIm1);
    bus->load(0x0066, {0xED, 0x45});
    stepCpu(s, *bus);
    EXPECT_EQ(s.PC.w, 0x0500);
    EXPECT_EQ(s.SP.w, sp);
    EXPECT_EQ(s.cpuFlags, CpuIff1 | CpuIff2 | CpuIm1);

    // RETI leaves both flip-flops as they are.
    s.cpuFlags = CpuIff2;
    bus->load(0x0500, {0xED, 0x4D});
    s.SP.w = 0x7000;
    bus->load(0x7000, {0x00, 0x06});
    stepCpu(s, *bus);
    EXPECT_EQ(s.PC.w, 0x0600);
    EXPECT_EQ(s.cpuFlags, CpuIff2);
}

TEST_F(RunLoop, PushesWrapAroundTheAddressSpace) {
    s.cpuFlags = CpuIff1 | CpuIm1;
    s.PC.w = 0xA1B2;
    s.SP.w = 0x0001;
    acceptInterrupt(s, *bus, 0x0038);
    EXPECT_EQ(bus->memory[0x0000], 0xA1);
    EXPECT_EQ(bus->memory[0xFFFF], 0xB2);
    EXPECT_EQ(s.SP.w, 0xFFFF);

    // PUSH BC at SP 0 and the POP back.
    s.SP.w = 0x0000;
    s.BC.w = 0x1234;
    s.PC.w = 0x0100;
    exec({0xC5, 0xD1});
    EXPECT_EQ(bus->memory[0xFFFF], 0x12);
    EXPECT_EQ(bus->memory[0xFFFE], 0x34);
    EXPECT_EQ(s.SP.w, 0xFFFE);
    stepCpu(s, *bus);
    EXPECT_EQ(s.DE.w, 0x1234);
    EXPECT_EQ(s.SP.w, 0x0000);
}

}  // namespace
