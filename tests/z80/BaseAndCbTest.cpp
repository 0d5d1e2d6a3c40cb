// Tests of the unprefixed and CB pages: flag results, DAA over every input,
// conditional T-state surcharges, operand and port order.
#include <bit>

#include "CoreFixture.h"

namespace {

using BaseAndCb = CoreFixture;

// Runs one instruction with A and F preset and returns the new AF.
struct AluCase {
    uint8_t a, f;
    std::initializer_list<uint8_t> code;
    uint16_t af;
    int passes = 1;
};

TEST_F(BaseAndCb, ArithmeticAndLogicFlags) {
    const AluCase cases[] = {
        {0x7F, 0x00, {0xC6, 0x01}, 0x8094},  // ADD A,1: S H P/V
        {0x80, 0x00, {0xD6, 0x01}, 0x7F16},  // SUB 1: H P/V N
        {0x00, 0x00, {0xFE, 0x01}, 0x0093},  // CP 1: S H N C, A kept
        {0xFF, 0x01, {0xCE, 0x00}, 0x0051},  // ADC A,0 with C: Z H C
        {0x5A, 0xFF, {0xAF}, 0x0044},        // XOR A
        {0x5A, 0xFF, {0x97}, 0x0042},        // SUB A
        {0x5A, 0xFF, {0xBF}, 0x5A42},        // CP A
        {0x7F, 0x00, {0x3C}, 0x8094},        // INC A
        {0x80, 0x00, {0x3D}, 0x7F16},        // DEC A
        {0x7F, 0x01, {0x3C}, 0x8095},        // INC keeps C
        {0x10, 0x00, {0x3D}, 0x0F12},        // DEC: H from the low nibble
        {0x00, 0x01, {0xDE, 0x00}, 0xFF93},  // SBC A,0 with C: borrow
        {0x7F, 0x01, {0xDE, 0xFF}, 0x7F13},  // SBC: H, N, C; no overflow
        {0xF0, 0x00, {0xE6, 0x0F}, 0x0054},  // AND: Z H P
        {0x03, 0xFF, {0xF6, 0x04}, 0x0700},  // OR: odd parity, C cleared
        {0x81, 0xFF, {0x07}, 0x03ED},        // RLCA keeps S Z 5 3 P/V
        {0x01, 0x00, {0x0F}, 0x8001},        // RRCA
        {0x80, 0x00, {0x17}, 0x0001},        // RLA: old C in, bit 7 out
        {0x01, 0x01, {0x1F}, 0x8001},        // RRA
        {0x55, 0x00, {0x2F}, 0xAA12},        // CPL
        {0x00, 0xD7, {0x37}, 0x00C5},        // SCF clears H N
        {0x00, 0x01, {0x3F}, 0x0010},        // CCF: H = old C
        {0x00, 0xFE, {0x3F}, 0x00ED},        // CCF with C clear
        {0x15, 0x00, {0xC6, 0x27, 0x27}, 0x4214, 2},  // ADD then DAA
        {0x9A, 0x00, {0x27}, 0x0055},        // DAA, both corrections
    };
    for (const AluCase& c : cases) {
        s.PC.w = 0x0100;
        s.AF.b.h = c.a;
        s.AF.b.l = c.f;
        exec(c.code, c.passes);
        EXPECT_EQ(s.AF.w, c.af) << "code " << std::hex << int(*c.code.begin());
    }
}

TEST_F(BaseAndCb, SixteenBitAddKeepsSzPvAndSetsHalfCarry) {
    s.HL.w = 0x0FFF;
    s.BC.w = 0x0001;
    s.AF.b.l = 0xED;  // S Z 5 3 P/V N C set
    exec({0x09});
    EXPECT_EQ(s.HL.w, 0x1000);
    EXPECT_EQ(s.AF.b.l, FlagS | FlagZ | Flag5 | Flag3 | FlagPV | FlagH);
    s.HL.w = 0x8000;
    exec({0x29});
    EXPECT_EQ(s.HL.w, 0x0000);
    EXPECT_EQ(s.AF.b.l, FlagS | FlagZ | Flag5 | Flag3 | FlagPV | FlagC);
}

// The decimal-adjust rule, written out independently of the table builder.
uint16_t daaByRule(int a, bool c, bool h, bool n) {
    const int lo = a & 0x0F;
    const bool lowFix = h || lo > 9;
    const bool highFix = c || a > 0x99;
    const int corr = (lowFix ? 6 : 0) + (highFix ? 0x60 : 0);
    const int r = (n ? a - corr : a + corr) & 0xFF;
    const bool newH = n ? (h && lo < 6) : (lo > 9);
    int f = (r & 0x80) | (r == 0 ? 0x40 : 0) | (r & 0x28);
    if (newH) f |= 0x10;
    if (std::popcount(static_cast<unsigned>(r)) % 2 == 0) f |= 0x04;
    if (n) f |= 0x02;
    if (highFix) f |= 0x01;
    return static_cast<uint16_t>(r << 8 | f);
}

TEST_F(BaseAndCb, DaaFollowsTheRuleForAllInputs) {
    int mismatches = 0;
    for (int i = 0; i < 2048; ++i) {
        const int a = i & 0xFF;
        const bool c = i & 0x100, h = i & 0x200, n = i & 0x400;
        s.PC.w = 0;
        s.AF.b.h = static_cast<uint8_t>(a);
        // Other flag bits set so that the index must mask them off.
        s.AF.b.l = static_cast<uint8_t>(0xEC | (c ? FlagC : 0) | (h ? FlagH : 0) | (n ? FlagN : 0));
        exec({0x27});
        const uint16_t want = daaByRule(a, c, h, n);
        if (s.AF.w != want && ++mismatches <= 5)
            ADD_FAILURE() << "DAA input " << std::hex << i << ": got " << s.AF.w << " want " << want;
        EXPECT_EQ(daaTable[i], want);
    }
    EXPECT_EQ(mismatches, 0);
}

TEST_F(BaseAndCb, CbRotatesShiftsAndBits) {
    struct Case {
        uint8_t a, f, op;
        uint16_t af;
    };
    const Case cases[] = {
        {0x80, 0x00, 0x37, 0x0101},  // SLL A: bit 0 set, C from bit 7
        {0x80, 0x00, 0x2F, 0xC084},  // SRA A keeps bit 7
        {0x81, 0x00, 0x3F, 0x4001},  // SRL A: C out, odd parity
        {0x80, 0x00, 0x07, 0x0101},  // RLC A
        {0x01, 0x00, 0x0F, 0x8081},  // RRC A
        {0x80, 0x00, 0x17, 0x0045},  // RL A with C clear: zero, C out
        {0x00, 0x01, 0x1F, 0x8080},  // RR A: C into bit 7
        {0x80, 0x00, 0x7F, 0x8010},  // BIT 7,A: only H (S kept clear)
        {0x00, 0xFF, 0x47, 0x00FD},  // BIT 0,A on 0 with F 0xFF: Z H, N cleared
        {0xFF, 0x00, 0xBF, 0x7F00},  // RES 7,A, flags unchanged
        {0x00, 0xA5, 0xC7, 0x01A5},  // SET 0,A, flags unchanged
    };
    for (const Case& c : cases) {
        s.PC.w = 0;
        s.AF.b.h = c.a;
        s.AF.b.l = c.f;
        EXPECT_EQ(exec({0xCB, c.op}), 8);
        EXPECT_EQ(s.AF.w, c.af) << "CB " << std::hex << int(c.op);
    }

    // BIT 0,B with B = 0 and F = 0xFF.
    s.PC.w = 0;
    s.BC.b.h = 0;
    s.AF.b.l = 0xFF;
    exec({0xCB, 0x40});
    EXPECT_EQ(s.AF.b.l, 0xFD);

    // On (HL): read once, written once; BIT only reads. 15 and 12 T-states.
    s.PC.w = 0;
    s.HL.w = 0x4000;
    bus->memory[0x4000] = 0x81;
    EXPECT_EQ(exec({0xCB, 0x06}), 15);  // RLC (HL)
    EXPECT_EQ(bus->memory[0x4000], 0x03);
    EXPECT_EQ(s.AF.b.l, FlagPV | FlagC);
    EXPECT_EQ(exec({0xCB, 0x4E}), 12);  // BIT 1,(HL)
    EXPECT_EQ(s.AF.b.l & (FlagZ | FlagH), FlagH);
    EXPECT_EQ(exec({0xCB, 0xFE}), 15);  // SET 7,(HL)
    EXPECT_EQ(bus->memory[0x4000], 0x83);
}

TEST_F(BaseAndCb, ConditionalTransfersChargeTheirSurcharge) {
    // DJNZ: B = 1 falls through (8), B = 2 jumps (13).
    s.BC.b.h = 1;
    EXPECT_EQ(exec({0x10, 0x10}), 8);
    EXPECT_EQ(s.PC.w, 2);
    s.PC.w = 0;
    s.BC.b.h = 2;
    EXPECT_EQ(exec({0x10, 0x10}), 13);
    EXPECT_EQ(s.PC.w, 0x12);
    EXPECT_EQ(s.BC.b.h, 1);

    // JR NZ taken 12 (backwards), not taken 7.
    s.PC.w = 0x0100;
    s.AF.b.l = 0;
    EXPECT_EQ(exec({0x20, 0xFE}), 12);
    EXPECT_EQ(s.PC.w, 0x0100);
    s.AF.b.l = FlagZ;
    EXPECT_EQ(exec({0x20, 0xFE}), 7);
    EXPECT_EQ(s.PC.w, 0x0102);

    // CALL C taken 17, not taken 10; RET C taken 11, not taken 5.
    s.PC.w = 0x0200;
    s.SP.w = 0x8000;
    s.AF.b.l = FlagC;
    EXPECT_EQ(exec({0xDC, 0x00, 0x30}), 17);
    EXPECT_EQ(s.PC.w, 0x3000);
    EXPECT_EQ(bus->memory[0x7FFF], 0x02);
    EXPECT_EQ(bus->memory[0x7FFE], 0x03);
    s.AF.b.l = 0;
    EXPECT_EQ(exec({0xD8}), 5);
    s.AF.b.l = FlagC;
    EXPECT_EQ(exec({0xD8}), 11);
    EXPECT_EQ(s.PC.w, 0x0203);
    EXPECT_EQ(s.SP.w, 0x8000);
    s.AF.b.l = 0;
    EXPECT_EQ(exec({0xDC, 0x00, 0x30}), 10);
    EXPECT_EQ(s.PC.w, 0x0206);

    // JP cc costs 10 either way; PO/PE/P/M test P/V and S.
    s.PC.w = 0x0300;
    s.AF.b.l = FlagPV;
    EXPECT_EQ(exec({0xE2, 0x00, 0x40}), 10);  // JP PO not taken
    EXPECT_EQ(s.PC.w, 0x0303);
    EXPECT_EQ(exec({0xEA, 0x00, 0x40}), 10);  // JP PE taken
    EXPECT_EQ(s.PC.w, 0x4000);
    s.AF.b.l = FlagS;
    EXPECT_EQ(exec({0xF2, 0x00, 0x50}), 10);  // JP P not taken
    EXPECT_EQ(exec({0xFA, 0x00, 0x50}), 10);  // JP M taken
    EXPECT_EQ(s.PC.w, 0x5000);
}

TEST_F(BaseAndCb, MemoryStackAndPortOrder) {
    // LD (nn),HL low byte first; LD HL,(nn) back; EX (SP),HL.
    s.HL.w = 0xBEEF;
    s.SP.w = 0x9000;
    bus->load(0x9000, {0x11, 0x22});
    EXPECT_EQ(exec({0x22, 0xFF, 0xFF}), 16);  // wraps to 0x0000
    EXPECT_EQ(bus->memory[0xFFFF], 0xEF);
    EXPECT_EQ(bus->memory[0x0000], 0xBE);
    EXPECT_EQ(exec({0xE3}), 19);
    EXPECT_EQ(s.HL.w, 0x2211);
    EXPECT_EQ(bus->memory[0x9000], 0xEF);
    EXPECT_EQ(bus->memory[0x9001], 0xBE);

    // RST, EX AF,AF', EXX, EX DE,HL.
    s.PC.w = 0x1000;
    exec({0xEF});
    EXPECT_EQ(s.PC.w, 0x0028);
    EXPECT_EQ(bus->memory[0x8FFE], 0x01);
    EXPECT_EQ(bus->memory[0x8FFF], 0x10);
    s.AF.w = 0x1111;
    s.altAF = 0x2222;
    s.BC.w = 1, s.DE.w = 2, s.HL.w = 3;
    s.altBC = 4, s.altDE = 5, s.altHL = 6;
    exec({0x08, 0xD9, 0xEB}, 3);
    EXPECT_EQ(s.AF.w, 0x2222);
    EXPECT_EQ(s.altAF, 0x1111);
    EXPECT_EQ(s.BC.w, 4);
    EXPECT_EQ(s.DE.w, 6);
    EXPECT_EQ(s.HL.w, 5);
    EXPECT_EQ(s.altHL, 3);

    // IN A,(5): port n with A on the high lines, F unchanged; OUT (n),A likewise.
    s.AF.w = 0x12FF;
    bus->portValues[0x05] = 0x9C;
    EXPECT_EQ(exec({0xDB, 0x05}), 11);
    EXPECT_EQ(s.AF.w, 0x9CFF);
    ASSERT_EQ(bus->portInCount, 1u);
    EXPECT_EQ(bus->portIns[0].port, 0x1205);
    exec({0xD3, 0x07});
    ASSERT_EQ(bus->portOutCount, 1u);
    EXPECT_EQ(bus->portOuts[0].port, 0x9C07);
    EXPECT_EQ(bus->portOuts[0].value, 0x9C);

    // INC (HL) reads once and writes once; POP AF loads bits 5 and 3.
    s.HL.w = 0x4000;
    bus->memory[0x4000] = 0x7F;
    s.AF.b.l = 0x01;
    EXPECT_EQ(exec({0x34}), 11);
    EXPECT_EQ(bus->memory[0x4000], 0x80);
    EXPECT_EQ(s.AF.b.l, 0x95);
    s.SP.w = 0x9100;
    bus->load(0x9100, {0x28, 0x77});
    exec({0xF1});
    EXPECT_EQ(s.AF.w, 0x7728);
}

}  // namespace
