// Tests of the ED, DD/FD and DD CB/FD CB pages: block instructions across
// slices, LD A,R, traps, doubled prefixes, undefined codes and index timing.
#include <cstdio>

#include "CoreFixture.h"

namespace {

using EdAndIndex = CoreFixture;

// Stops runCpu at the first slice end that finds the processor halted.
uint16_t leaveWhenHalted(FlatBus&, Z80State& st) {
    return (st.cpuFlags & CpuHalted) ? HookLeaveRun : HookNoInterrupt;
}

TEST_F(EdAndIndex, LdirSharesSlicesWithTheMachine) {
    for (int i = 0; i < 100; ++i) bus->memory[0x1000 + i] = static_cast<uint8_t>(i + 1);
    bus->load(0, {0xED, 0xB0, 0x76});
    s.HL.w = 0x1000;
    s.DE.w = 0x2000;
    s.BC.w = 100;
    s.AF.b.l = 0xFF;
    s.cycleBudget = 100;

    // Five iterations in a fresh slice (79, 58, 37, 16, -5); PC back on the LDIR.
    stepCpu(s, *bus);
    EXPECT_EQ(s.cycleBudget, -5);
    EXPECT_EQ(s.BC.w, 95);
    EXPECT_EQ(s.PC.w, 0);
    EXPECT_EQ(s.AF.b.l, 0xFF & ~(FlagH | FlagN));
    EXPECT_EQ(bus->memory[0x2004], 5);
    EXPECT_EQ(bus->memory[0x2005], 0);

    // The rest over the following slices, fetched again each time.
    bus->onLoopHook = leaveWhenHalted;
    s.cycleBudget = 100;
    EXPECT_EQ(runCpu(s, *bus), 2);
    EXPECT_EQ(s.BC.w, 0);
    EXPECT_EQ(s.HL.w, 0x1064);
    EXPECT_EQ(s.DE.w, 0x2064);
    EXPECT_EQ(s.AF.b.l, 0xFF & ~(FlagH | FlagPV | FlagN));
    for (int i = 0; i < 100; ++i) ASSERT_EQ(bus->memory[0x2000 + i], i + 1) << i;
    EXPECT_EQ(bus->loopHookCalls, 20u);  // 19 slices of 5 iterations, then the HALT
    EXPECT_EQ(bus->traceCalls, 1u + 19u + 1u);

    // BC = 1: one iteration for 16 T-states, P/V clear, PC behind it.
    s.PC.w = 0;
    s.BC.w = 1;
    s.AF.b.l = FlagPV;
    EXPECT_EQ(exec({0xED, 0xB0}), 16);
    EXPECT_EQ(s.PC.w, 2);
    EXPECT_EQ(s.AF.b.l, 0);

    // LDD single: P/V says whether BC is still not 0.
    s.PC.w = 0;
    s.BC.w = 2;
    s.HL.w = 0x1001;
    s.DE.w = 0x3001;
    EXPECT_EQ(exec({0xED, 0xA8}), 16);
    EXPECT_EQ(bus->memory[0x3001], 2);
    EXPECT_EQ(s.HL.w, 0x1000);
    EXPECT_EQ(s.AF.b.l, FlagPV);
}

TEST_F(EdAndIndex, CompareAndIoRepeatsStopWhereTheyShould) {
    // CPIR finds the byte at the third place.
    bus->load(0x1000, {0x01, 0x02, 0x03, 0x04});
    s.HL.w = 0x1000;
    s.BC.w = 10;
    s.AF.w = 0x0301;
    EXPECT_EQ(exec({0xED, 0xB1}), 21 * 3 - 5);
    EXPECT_EQ(s.PC.w, 2);
    EXPECT_EQ(s.HL.w, 0x1003);
    EXPECT_EQ(s.BC.w, 7);
    EXPECT_EQ(s.AF.w, 0x0300 | FlagZ | FlagPV | FlagN | FlagC);

    // CPDR over a long area ends its slice with PC back on it.
    s.PC.w = 0x0100;
    s.HL.w = 0x5FFF;
    s.BC.w = 0x1000;
    s.AF.w = 0x5500;
    s.cycleBudget = 100;
    exec({0xED, 0xB9});
    EXPECT_EQ(s.PC.w, 0x0100);
    EXPECT_EQ(s.BC.w, 0x1000 - 5);
    EXPECT_EQ(s.HL.w, 0x5FFF - 5);
    EXPECT_EQ(s.AF.b.l, FlagPV | FlagN);

    // INIR with B = 2: two port reads, B on the high lines before each step.
    s.cycleBudget = 1000;
    s.PC.w = 0;
    s.BC.w = 0x0210;
    s.HL.w = 0x3000;
    bus->portValues[0x10] = 0x77;
    EXPECT_EQ(exec({0xED, 0xB2}), 37);
    EXPECT_EQ(bus->memory[0x3000], 0x77);
    EXPECT_EQ(bus->memory[0x3001], 0x77);
    EXPECT_EQ(s.BC.w, 0x0010);
    EXPECT_EQ(s.AF.b.l, 0x42);
    ASSERT_EQ(bus->portInCount, 2u);
    EXPECT_EQ(bus->portIns[0].port, 0x0210);
    EXPECT_EQ(bus->portIns[1].port, 0x0110);

    // OTIR: B already decremented on the address lines; F = 0x42 at the end.
    s.PC.w = 0;
    s.BC.w = 0x0220;
    s.HL.w = 0x3000;
    bus->memory[0x3001] = 0x66;
    EXPECT_EQ(exec({0xED, 0xB3}), 37);
    ASSERT_EQ(bus->portOutCount, 2u);
    EXPECT_EQ(bus->portOuts[0].port, 0x0120);
    EXPECT_EQ(bus->portOuts[0].value, 0x77);
    EXPECT_EQ(bus->portOuts[1].port, 0x0020);
    EXPECT_EQ(bus->portOuts[1].value, 0x66);
    EXPECT_EQ(s.AF.b.l, 0x42);

    // INI with B = 2 leaves F = 0x02 (B not yet 0).
    s.PC.w = 0;
    s.BC.w = 0x0210;
    EXPECT_EQ(exec({0xED, 0xA2}), 16);
    EXPECT_EQ(s.AF.b.l, 0x02);
}

TEST_F(EdAndIndex, RepeatsEnteredAtZeroRunTheFullCount) {
    // LDIR with BC = 0 copies 65,536 bytes: here each byte onto itself, so HL
    // and DE come back to where they started.
    bus->load(0, {0xED, 0xB0, 0x76});
    bus->onLoopHook = leaveWhenHalted;
    s.HL.w = s.DE.w = 0x4000;
    s.BC.w = 0;
    s.cycleBudget = 100;
    EXPECT_EQ(runCpu(s, *bus), 2);
    EXPECT_EQ(s.HL.w, 0x4000);
    EXPECT_EQ(s.DE.w, 0x4000);
    EXPECT_EQ(s.BC.w, 0);
    EXPECT_EQ(bus->loopHookCalls, 65536u / 5 + 1);  // 13,107 full slices, then the last one

    // INIR with B = 0 reads the port 256 times.
    s.PC.w = 0;
    s.cpuFlags = 0;
    s.BC.w = 0x0011;
    s.HL.w = 0x2000;
    bus->load(0, {0xED, 0xB2, 0x76});
    bus->portInCount = 0;
    EXPECT_EQ(runCpu(s, *bus), 2);
    EXPECT_EQ(bus->portInCount, 256u);
    EXPECT_EQ(s.HL.w, 0x2100);
}

TEST_F(EdAndIndex, LdAIAndLdAR) {
    // LD A,R is 0 - budget after its own 9 T-states: 0xA5 first in a slice.
    bus->load(0, {0x00, 0xED, 0x5F, 0xED, 0x5F, 0x76});
    s.cycleBudget = 4;
    s.AF.b.l = FlagC;
    bus->leaveAfterHooks = 1;
    runCpu(s, *bus);
    stepCpu(s, *bus);
    EXPECT_EQ(s.AF.b.h, 0xA5);
    EXPECT_EQ(s.AF.b.l, FlagS | FlagC);
    stepCpu(s, *bus);
    EXPECT_EQ(s.AF.b.h, 0xAE);

    // LD I,A / LD A,I with IFF1 set: P/V = 1. LD R,A changes nothing but time.
    s.PC.w = 0x0100;
    s.AF.w = 0x0000;
    s.cpuFlags = CpuIff1;
    s.I = 0x3C;
    EXPECT_EQ(exec({0xED, 0x57}), 9);
    EXPECT_EQ(s.AF.w, 0x3C04);
    EXPECT_EQ(exec({0xED, 0x4F}), 9);
    EXPECT_EQ(s.AF.w, 0x3C04);
    s.AF.b.h = 0x77;
    exec({0xED, 0x47});
    EXPECT_EQ(s.I, 0x77);
}

TEST_F(EdAndIndex, EdArithmeticRotateDigitsAndPorts) {
    s.AF.w = 0x8000;
    EXPECT_EQ(exec({0xED, 0x44}), 8);  // NEG 0x80
    EXPECT_EQ(s.AF.w, 0x8087);
    s.AF.w = 0x0000;
    exec({0xED, 0x44});
    EXPECT_EQ(s.AF.w, 0x0042);

    // SBC HL,DE / ADC HL,BC: 16-bit flags with bits 5 and 3 clear.
    s.HL.w = 0x8000;
    s.DE.w = 0x0001;
    s.AF.b.l = 0xFF;
    EXPECT_EQ(exec({0xED, 0x52}), 15);
    EXPECT_EQ(s.HL.w, 0x7FFE);
    EXPECT_EQ(s.AF.b.l, FlagH | FlagPV | FlagN);
    s.HL.w = 0xFFFF;
    s.BC.w = 0x0000;
    s.AF.b.l = FlagC;
    exec({0xED, 0x4A});
    EXPECT_EQ(s.HL.w, 0x0000);
    EXPECT_EQ(s.AF.b.l, FlagZ | FlagH | FlagC);

    // LD (nn),SP and LD BC,(nn).
    s.SP.w = 0xA1B2;
    EXPECT_EQ(exec({0xED, 0x73, 0x00, 0x50}), 20);
    EXPECT_EQ(bus->memory[0x5000], 0xB2);
    EXPECT_EQ(bus->memory[0x5001], 0xA1);
    exec({0xED, 0x4B, 0x00, 0x50});
    EXPECT_EQ(s.BC.w, 0xA1B2);

    // RRD and RLD keep C and set S Z P from A.
    s.HL.w = 0x6000;
    bus->memory[0x6000] = 0x34;
    s.AF.w = 0x1201;
    EXPECT_EQ(exec({0xED, 0x67}), 18);
    EXPECT_EQ(bus->memory[0x6000], 0x23);
    EXPECT_EQ(s.AF.w, 0x1405);
    exec({0xED, 0x6F});
    EXPECT_EQ(bus->memory[0x6000], 0x34);
    EXPECT_EQ(s.AF.w, 0x1205);

    // IN r,(C) with the whole BC on the address lines; IN (C) sets flags only.
    s.BC.w = 0x4280;
    s.AF.w = 0x0001;
    bus->portValues[0x80] = 0x00;
    EXPECT_EQ(exec({0xED, 0x58}), 12);  // IN E,(C)
    EXPECT_EQ(s.DE.b.l, 0x00);
    EXPECT_EQ(s.AF.b.l, FlagZ | FlagPV | FlagC);
    bus->portValues[0x80] = 0x80;
    const uint16_t hl = s.HL.w;
    exec({0xED, 0x70});
    EXPECT_EQ(s.HL.w, hl);
    EXPECT_EQ(s.AF.b.l, FlagS | FlagC);
    EXPECT_EQ(bus->portIns[0].port, 0x4280);
    s.HL.b.h = 0x99;
    exec({0xED, 0x61});  // OUT (C),H
    EXPECT_EQ(bus->portOuts[0].port, 0x4280);
    EXPECT_EQ(bus->portOuts[0].value, 0x99);
}

TEST_F(EdAndIndex, TrapsDoubledPrefixesAndUndefinedCodes) {
    // ED FE: printTrap with HL; ED FF: breakTrap with PC behind the trap. 0 T.
    s.PC.w = 0x0100;
    s.HL.w = 0x4321;
    EXPECT_EQ(exec({0xED, 0xFE}), 0);
    EXPECT_EQ(bus->printTraps, 1u);
    EXPECT_EQ(bus->lastPrintHL, 0x4321);
    EXPECT_EQ(exec({0xED, 0xFF}), 0);
    EXPECT_EQ(bus->breakTraps, 1u);
    EXPECT_EQ(bus->lastBreakPC, 0x0104);

    // ED 00 and DD CB d 00: bytes consumed, nothing else, 0 T-states.
    s.AF.w = 0x1234;
    s.IX.w = 0x7000;
    bus->memory[0x7005] = 0x81;
    const Z80State before = s;
    EXPECT_EQ(exec({0xED, 0x00}), 0);
    EXPECT_EQ(s.PC.w, 0x0106);
    EXPECT_EQ(exec({0xDD, 0xCB, 0x05, 0x00}), 0);
    EXPECT_EQ(s.PC.w, 0x010A);
    EXPECT_EQ(bus->memory[0x7005], 0x81);
    expectSameExceptPc(before, s);

    // ED ED 44: the first ED is its own pass at 0 T-states, then NEG.
    s.AF.w = 0x0100;
    const uint64_t traces = bus->traceCalls;
    EXPECT_EQ(exec({0xED, 0xED, 0x44}), 0);
    EXPECT_EQ(s.PC.w, 0x010B);
    EXPECT_EQ(exec({}), 8);
    EXPECT_EQ(s.AF.w, 0xFF93);
    EXPECT_EQ(bus->traceCalls, traces + 2);

    // DD DD 21 acts as DD 21; DD FD 21 as FD 21.
    s.PC.w = 0x0200;
    s.IX.w = s.IY.w = 0;
    EXPECT_EQ(exec({0xDD, 0xDD, 0x21, 0x34, 0x12}, 2), 14);
    EXPECT_EQ(s.IX.w, 0x1234);
    EXPECT_EQ(exec({0xDD, 0xFD, 0x21, 0x78, 0x56}, 2), 14);
    EXPECT_EQ(s.IY.w, 0x5678);
    EXPECT_EQ(s.IX.w, 0x1234);
    EXPECT_EQ(s.PC.w, 0x020A);
}

TEST_F(EdAndIndex, FdEdWritesOneLineAndDdEdNothing) {
    s.PC.w = 0x0ABC;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(exec({0xFD, 0xED}), 0);
    EXPECT_EQ(exec({0xDD, 0xED}), 0);
    std::fflush(stdout);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Unrecognized instruction: FD ED at PC=0ABC\n");
    EXPECT_EQ(s.PC.w, 0x0AC0);
}

TEST_F(EdAndIndex, IndexRegistersReplaceHlOnly) {
    EXPECT_EQ(exec({0xDD, 0x21, 0x34, 0x12}), 14);  // LD IX,1234h
    EXPECT_EQ(s.IX.w, 0x1234);

    // FD 66 05 loads the true H from IY+5; DD 74 FB stores H at IX-5.
    s.IY.w = 0x5000;
    bus->memory[0x5005] = 0xAB;
    EXPECT_EQ(exec({0xFD, 0x66, 0x05}), 19);
    EXPECT_EQ(s.HL.b.h, 0xAB);
    EXPECT_EQ(s.IY.w, 0x5000);
    EXPECT_EQ(exec({0xDD, 0x74, 0xFB}), 19);
    EXPECT_EQ(bus->memory[0x1234 - 5], 0xAB);

    // LD (IX+d),n reads d before n; XH and XL as operands.
    EXPECT_EQ(exec({0xDD, 0x36, 0x02, 0x99}), 19);
    EXPECT_EQ(bus->memory[0x1236], 0x99);
    EXPECT_EQ(exec({0xDD, 0x26, 0x80}), 9);  // LD IXH,80h
    EXPECT_EQ(exec({0xDD, 0x6C}), 9);        // LD IXL,IXH
    EXPECT_EQ(s.IX.w, 0x8080);
    s.AF.w = 0x0100;
    EXPECT_EQ(exec({0xDD, 0x85}), 9);  // ADD A,IXL
    EXPECT_EQ(s.AF.w, 0x8180);
    EXPECT_EQ(exec({0xDD, 0x2C}), 9);  // INC IXL: flags as INC r
    EXPECT_EQ(s.IX.w, 0x8081);
    EXPECT_EQ(s.AF.b.l, FlagS);
    s.IX.w = 0x1234;
    bus->memory[0x1234 + 0x10] = 0x7F;
    EXPECT_EQ(exec({0xDD, 0x34, 0x10}), 23);  // INC (IX+10h)
    EXPECT_EQ(bus->memory[0x1244], 0x80);
    s.AF.b.h = 0x80;
    EXPECT_EQ(exec({0xDD, 0xBE, 0x10}), 19);  // CP (IX+10h)
    EXPECT_EQ(s.AF.b.l, FlagZ | FlagN);

    // ADD IX,IX; PUSH/POP IX; EX (SP),IX; JP (IX); LD SP,IX. EX DE,HL untouched.
    EXPECT_EQ(exec({0xDD, 0x29}), 15);
    EXPECT_EQ(s.IX.w, 0x2468);
    s.SP.w = 0x9000;
    EXPECT_EQ(exec({0xDD, 0xE5}), 15);
    EXPECT_EQ(exec({0xFD, 0xE1}), 14);
    EXPECT_EQ(s.IY.w, 0x2468);
    s.HL.w = 0x1111;
    s.DE.w = 0x2222;
    EXPECT_EQ(exec({0xDD, 0xEB}), 0);
    EXPECT_EQ(s.HL.w, 0x2222);
    EXPECT_EQ(s.IX.w, 0x2468);
    EXPECT_EQ(exec({0xDD, 0xF9}), 10);
    EXPECT_EQ(s.SP.w, 0x2468);
    EXPECT_EQ(exec({0xDD, 0xE9}), 8);
    EXPECT_EQ(s.PC.w, 0x2468);

    // Opcodes without an HL operand run for 0 T-states and no surcharge.
    EXPECT_EQ(exec({0xDD, 0x01, 0x34, 0x12}), 0);
    EXPECT_EQ(s.BC.w, 0x1234);
    const uint16_t pc = s.PC.w;
    s.AF.b.l = 0;
    EXPECT_EQ(exec({0xDD, 0x20, 0x10}), 0);  // JR NZ taken
    EXPECT_EQ(s.PC.w, pc + 3 + 0x10);
    s.AF.b.l = FlagZ;
    EXPECT_EQ(exec({0xDD, 0x20, 0x10}), 0);  // not taken
    EXPECT_EQ(exec({0xFD, 0xCD, 0x00, 0x30}), 0);  // CALL
    EXPECT_EQ(s.PC.w, 0x3000);
}

TEST_F(EdAndIndex, IndexCbPage) {
    s.IX.w = 0x4000;
    s.IY.w = 0x5000;
    bus->memory[0x4005] = 0x01;
    s.AF.b.l = FlagS | FlagPV | FlagC;
    EXPECT_EQ(exec({0xDD, 0xCB, 0x05, 0x46}), 20);  // BIT 0,(IX+5)
    EXPECT_EQ(s.AF.b.l, FlagS | FlagH | FlagPV | FlagC);
    EXPECT_EQ(exec({0xDD, 0xCB, 0x05, 0x4F}), 20);  // BIT 1 in another column
    EXPECT_EQ(s.AF.b.l, FlagS | FlagZ | FlagH | FlagPV | FlagC);

    bus->memory[0x4FFF] = 0x80;
    EXPECT_EQ(exec({0xFD, 0xCB, 0xFF, 0x26}), 23);  // SLA (IY-1)
    EXPECT_EQ(bus->memory[0x4FFF], 0x00);
    EXPECT_EQ(s.AF.b.l, FlagZ | FlagPV | FlagC);
    s.AF.b.l = 0xA5;
    EXPECT_EQ(exec({0xFD, 0xCB, 0xFF, 0xFE}), 23);  // SET 7,(IY-1)
    EXPECT_EQ(bus->memory[0x4FFF], 0x80);
    EXPECT_EQ(exec({0xDD, 0xCB, 0x05, 0x86}), 23);  // RES 0,(IX+5)
    EXPECT_EQ(bus->memory[0x4005], 0x00);
    EXPECT_EQ(s.AF.b.l, 0xA5);

    // Other columns are consumed without touching memory or registers.
    s.BC.w = 0x1234;
    EXPECT_EQ(exec({0xDD, 0xCB, 0xFF, 0xC0}), 0);
    EXPECT_EQ(bus->memory[0x3FFF], 0x00);
    EXPECT_EQ(s.BC.w, 0x1234);

    // DD 76 is HALT; PC stays on the 76.
    s.PC.w = 0x0300;
    exec({0xDD, 0x76});
    EXPECT_EQ(s.PC.w, 0x0301);
    EXPECT_TRUE(s.cpuFlags & CpuHalted);
    EXPECT_EQ(s.cycleBudget, 0);
}

TEST_F(EdAndIndex, CodeOfFreePrefixesStillReachesTheSliceEnd) {
    // Memory full of DD (each a 0 T-state pass) or of ED 00 pairs: the slice
    // must still end so that the machine can pause and stop.
    for (int fill : {0xDD, 0xED}) {
        for (int a = 0; a < 0x10000; ++a)
            bus->memory[a] = static_cast<uint8_t>(fill == 0xED && (a & 1) ? 0x00 : fill);
        s.PC.w = 0;
        s.cycleBudget = 100;
        bus->traceCalls = bus->loopHookCalls = 0;
        bus->leaveAfterHooks = 1;
        runCpu(s, *bus);
        EXPECT_EQ(bus->loopHookCalls, 1u);
        EXPECT_EQ(bus->traceCalls, 65536u) << std::hex << fill;
    }

    // A program that uses a few free codes keeps its full slices.
    bus->load(0, {0xDD, 0x00, 0xED, 0x00, 0xC3, 0x00, 0x00});  // DD NOP; ED 00; JP 0
    s.PC.w = 0;
    s.cycleBudget = 100;
    bus->loopHookCalls = 0;
    bus->leaveAfterHooks = 1;
    runCpu(s, *bus);
    EXPECT_EQ(bus->lastHookBudget, 0);  // ten JPs of 10 T-states
    EXPECT_EQ(s.PC.w, 0);
}

}  // namespace
