// The one table of deliberate departures of the core from real Z80 silicon, as
// the conformance test applies them. Each rule names the opcodes it concerns,
// the fields it may excuse and, where this core's own result is fixed, a check
// that the core produced exactly that result rather than just anything else.
// Called by ConformanceTest.cpp for every difference it finds.
#include "ConformanceCase.h"
#include "z80/Z80State.h"

namespace {

bool onBasePage(const Opcode& op) { return op.page == Page::Base || op.page == Page::DD || op.page == Page::FD; }
bool onIndexPage(const Opcode& op) { return op.page == Page::DD || op.page == Page::FD; }
bool onIndexCbPage(const Opcode& op) { return op.page == Page::DDCB || op.page == Page::FDCB; }

// Instructions that compute flags from a result, where silicon also fills bits 5 and 3.
bool writesComputedFlags(const Opcode& op) {
    uint8_t c = op.code;
    switch (op.page) {
    case Page::Base:
    case Page::DD:
    case Page::FD:
        if (c == 0x27) return false;  // DAA copies bits 5 and 3 of its result
        return (c & 0xC7) == 0x04 || (c & 0xC7) == 0x05 || (c & 0xE7) == 0x07 || c == 0x2F || c == 0x37 ||
               c == 0x3F || (c & 0xCF) == 0x09 || (c >= 0x80 && c <= 0xBF) || (c & 0xC7) == 0xC6;
    case Page::CB:
    case Page::DDCB:
    case Page::FDCB:
        return c < 0x80;  // rotates, shifts, BIT
    case Page::ED:
        return (c & 0xC7) == 0x40 || (c & 0xC7) == 0x42 || c == 0x44 || c == 0x57 || c == 0x5F || c == 0x67 ||
               c == 0x6F || (c >= 0xA0 && c <= 0xBF && (c & 0x07) < 4);
    }
    return false;
}

bool isBit(const Opcode& op) { return (op.page == Page::CB || onIndexCbPage(op)) && op.code >= 0x40 && op.code < 0x80; }

// Unprefixed instructions with HL, H, L or (HL) as an operand; the index pages replace those.
bool usesHl(uint8_t c) {
    if (c == 0x76) return false;
    if ((c & 0xCF) == 0x09 || (c >= 0x21 && c <= 0x26) || (c >= 0x29 && c <= 0x2E) || (c >= 0x34 && c <= 0x36))
        return true;
    auto hlOperand = [](unsigned r) { return r == 4 || r == 5 || r == 6; };
    if (c >= 0x40 && c <= 0x7F) return hlOperand((c >> 3) & 7) || hlOperand(c & 7);
    if (c >= 0x80 && c <= 0xBF) return hlOperand(c & 7);
    return c == 0xE1 || c == 0xE3 || c == 0xE5 || c == 0xE9 || c == 0xF9 || c == 0xCB;
}

// Undocumented instructions on the index halves IXH, IXL, IYH, IYL.
bool onIndexHalf(const Opcode& op) {
    if (!onIndexPage(op)) return false;
    uint8_t c = op.code;
    auto half = [](unsigned r) { return r == 4 || r == 5; };
    if (c == 0x24 || c == 0x25 || c == 0x26 || c == 0x2C || c == 0x2D || c == 0x2E) return true;
    if (c >= 0x40 && c <= 0x7F && c != 0x76)
        return (c & 7) != 6 && ((c >> 3) & 7) != 6 && (half(c & 7) || half((c >> 3) & 7));
    return c >= 0x80 && c <= 0xBF && half(c & 7);
}

bool prefixIsFree(const Opcode& op) { return onIndexPage(op) && !usesHl(op.code) && op.code != 0x76; }
bool isHalt(const Opcode& op) { return onBasePage(op) && op.code == 0x76; }

bool isBlockIo(const Opcode& op) {
    return op.page == Page::ED && op.code >= 0xA2 && op.code <= 0xBB && (op.code & 0x06) == 0x02;
}

bool isPortInstruction(const Opcode& op) {
    if (onBasePage(op)) return op.code == 0xD3 || op.code == 0xDB;
    return op.page == Page::ED && ((op.code & 0xC6) == 0x40 || isBlockIo(op));
}

// ED codes that the core consumes without effect: all but the documented instructions and the traps.
bool isUnlistedEd(const Opcode& op) {
    if (op.page != Page::ED) return false;
    uint8_t c = op.code;
    bool listed = (c >= 0x40 && c <= 0x4B) || c == 0x4D || c == 0x4F || (c >= 0x50 && c <= 0x53) ||
                  (c >= 0x56 && c <= 0x5B) || (c >= 0x5E && c <= 0x63) || (c >= 0x67 && c <= 0x6B) || c == 0x6F ||
                  c == 0x70 || c == 0x72 || c == 0x73 || (c >= 0x78 && c <= 0x7B) ||
                  (c >= 0xA0 && c <= 0xBB && (c & 0x04) == 0) || c == 0xED || c == 0xFE || c == 0xFF;
    return !listed;
}

// DD CB / FD CB codes outside column 6 and BIT: silicon also copies the result into a register.
bool isUnlistedIndexCb(const Opcode& op) {
    return onIndexCbPage(op) && (op.code & 0x07) != 6 && (op.code < 0x40 || op.code >= 0x80);
}

bool isLdAR(const Opcode& op) { return op.page == Page::ED && op.code == 0x5F; }
bool isLdAIorR(const Opcode& op) { return op.page == Page::ED && (op.code == 0x57 || op.code == 0x5F); }
bool isReti(const Opcode& op) { return op.page == Page::ED && op.code == 0x4D; }
bool isEiDi(const Opcode& op) { return onBasePage(op) && (op.code == 0xF3 || op.code == 0xFB); }

// An instruction consumed without effect: everything as before, but PC past its bytes, and no cost.
bool leftUnchanged(const Difference& d, const RunContext& ctx) {
    const ConformanceCase& c = ctx.testCase;
    switch (d.field) {
    case Field::PortCount: return d.got == 0;
    // Fuse runs on until its T-state count is reached, here over the zeroed memory after the instruction.
    case Field::Tstates: return c.op.set == TestSet::Fuse || d.got == 0;
    case Field::PC:
        return c.op.set == TestSet::Fuse || d.got == uint16_t(c.initial.pc + (c.op.page == Page::ED ? 2 : 4));
    case Field::Memory:
        for (const auto& [address, value] : c.initialRam)
            if (address == d.address) return d.got == value;
        return d.got == 0;
    default:
        return d.field < Field::Tstates && d.got == registerField(c.initial, d.field);
    }
}

bool haltStaysOnHalt(const Difference& d, const RunContext& ctx) {
    if (d.field == Field::Tstates) return ctx.budgetAfter == 0;
    return d.got == uint16_t(d.expected - 1);
}

bool prefixCostsNothing(const Difference& d, const RunContext& ctx) {
    // Fuse runs on until its T-state count is reached, so the free prefix lets it run further.
    if (ctx.testCase.op.set == TestSet::Fuse) return true;
    return d.field != Field::Tstates || d.got == 0;
}

uint8_t initialF(const RunContext& ctx) { return uint8_t(ctx.testCase.initial.af); }

// Table-made flags leave bits 5 and 3 at 0; instructions that change only some flags keep them.
bool fiveThreeZeroOrKept(const Difference& d, const RunContext& ctx) {
    uint8_t got = uint8_t(d.got) & (Flag5 | Flag3);
    return got == 0 || got == (initialF(ctx) & (Flag5 | Flag3));
}

bool sAndPvKept(const Difference& d, const RunContext& ctx) {
    return ((d.got ^ initialF(ctx)) & (FlagS | FlagPV)) == 0;
}

// A = (0 - budget) after the instruction's own 9 T-states; S and Z follow A.
bool aFromBudget(const Difference& d, const RunContext& ctx) {
    uint8_t a = uint8_t(ctx.got.af >> 8);
    if (d.field == Field::A) return a == uint8_t(-ctx.budgetAfter);
    return (d.got & (FlagS | FlagZ)) == ((a & FlagS) | (a == 0 ? FlagZ : 0));
}

bool costsNine(const Difference& d, const RunContext&) { return d.got == 9; }

bool blockIoFlags(const Difference& d, const RunContext& ctx) {
    uint8_t b = uint8_t(ctx.got.bc >> 8);
    return d.got == (b == 0 ? 0x42u : 0x02u);
}

bool pvFromIff1(const Difference& d, const RunContext& ctx) {
    return (d.got & FlagPV) == (ctx.testCase.initial.iff1 ? FlagPV : 0u);
}

bool iff1Kept(const Difference& d, const RunContext& ctx) { return d.got == ctx.testCase.initial.iff1; }
bool iff2Kept(const Difference& d, const RunContext& ctx) { return d.got == ctx.testCase.initial.iff2; }

bool lowPortByte(const Difference& d, const RunContext&) { return (d.got & 0xFF) == (d.expected & 0xFF); }

}  // namespace

const std::vector<ConformanceRule>& conformanceRules() {
    static const std::vector<ConformanceRule> rules = {
        {"f53", "bits 5 and 3 of F are not computed from results: left 0 by table flags, kept by partial updates",
         writesComputedFlags, Flag5 | Flag3, 0, fiveThreeZeroOrKept},
        {"bit-keeps-s-pv", "BIT sets Z, H and N only; S and P/V keep their value (unspecified by the published set)",
         isBit, FlagS | FlagPV, 0, sAndPvKept},
        {"index-prefix-free", "DD/FD before an opcode without HL is charged 0 T-states, like the opcode's own entry 0",
         prefixIsFree, 0, bit(Field::Tstates) | bit(Field::PC), prefixCostsNothing},
        {"index-half-cost", "instructions on IXH, IXL, IYH and IYL are charged a flat 9 T-states", onIndexHalf, 0,
         bit(Field::Tstates), costsNine},
        {"halt-stays", "HALT keeps PC on the HALT and ends the slice (budget 0), so its cost is not measured here",
         isHalt, 0, bit(Field::PC) | bit(Field::Tstates), haltStaysOnHalt},
        {"block-io-flags", "INI/IND/OUTI/OUTD and their repeats set F to 0x42 when B reaches 0, else 0x02",
         isBlockIo, 0xFF, 0, blockIoFlags},
        {"ld-a-r", "there is no stored R: LD A,R derives A from the slice budget", isLdAR,
         FlagS | FlagZ | Flag5 | Flag3, bit(Field::A), aFromBudget},
        {"ld-a-i-iff1", "LD A,I and LD A,R copy IFF1 into P/V", isLdAIorR, FlagPV, 0, pvFromIff1},
        {"reti-keeps-iff", "RETI leaves IFF1 as it was", isReti, 0, bit(Field::IFF1), iff1Kept},
        {"ei-di-keep-iff2", "EI and DI change IFF1 only; IFF2 is written by interrupt acceptance", isEiDi, 0,
         bit(Field::IFF2), iff2Kept},
        {"ed-unlisted", "ED codes outside the documented instructions are consumed without effect, 0 T-states",
         isUnlistedEd, 0xFF, AllFields, leftUnchanged},
        {"index-cb-unlisted", "DD CB/FD CB codes outside column 6 and BIT are consumed without effect, 0 T-states",
         isUnlistedIndexCb, 0xFF, AllFields, leftUnchanged},
        {"port-low-byte", "devices decode only the low byte of the port address", isPortInstruction, 0,
         bit(Field::PortAddress), lowPortByte},
    };
    return rules;
}

uint32_t registerField(const CaseRegs& r, Field field) {
    switch (field) {
    case Field::A: return r.af >> 8;
    case Field::F: return r.af & 0xFF;
    case Field::B: return r.bc >> 8;
    case Field::C: return r.bc & 0xFF;
    case Field::D: return r.de >> 8;
    case Field::E: return r.de & 0xFF;
    case Field::H: return r.hl >> 8;
    case Field::L: return r.hl & 0xFF;
    case Field::AltAF: return r.altAf;
    case Field::AltBC: return r.altBc;
    case Field::AltDE: return r.altDe;
    case Field::AltHL: return r.altHl;
    case Field::IX: return r.ix;
    case Field::IY: return r.iy;
    case Field::SP: return r.sp;
    case Field::PC: return r.pc;
    case Field::I: return r.i;
    case Field::IFF1: return r.iff1;
    case Field::IFF2: return r.iff2;
    case Field::IM: return r.im;
    case Field::Halted: return r.halted;
    default: return 0;
    }
}
