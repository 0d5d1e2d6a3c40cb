// Conformance cases: one public test vector in a form shared by both sets.
//
// FuseCases.cpp and SingleStepCases.cpp turn the two public data sets into
// ConformanceCase records; ConformanceTest.cpp runs them on the core and
// compares; ConformanceRules.cpp holds the one table of deliberate departures
// from silicon that may excuse a difference.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

enum class TestSet : uint8_t { Fuse, SingleStep };

// The opcode page of an instruction: the prefix bytes before its last opcode byte.
enum class Page : uint8_t { Base, CB, ED, DD, FD, DDCB, FDCB };

const char* pageName(Page page);  // "base", "CB", "ED", ...
void PrintTo(Page page, std::ostream* os);  // how GoogleTest shows a page

// The instruction a case is about: its page and last opcode byte.
struct Opcode {
    TestSet set;
    Page page;
    uint8_t code;
};

// Registers as the public sets describe them (R, WZ and Q are not compared).
struct CaseRegs {
    uint16_t af = 0, bc = 0, de = 0, hl = 0;
    uint16_t altAf = 0, altBc = 0, altDe = 0, altHl = 0;
    uint16_t ix = 0, iy = 0, sp = 0, pc = 0;
    uint8_t i = 0, iff1 = 0, iff2 = 0, im = 0, halted = 0;
};

struct PortAccess {
    uint16_t port;
    uint8_t value;  // read: what the bus answers; write: what the core must write
    bool write;
};

using RamList = std::vector<std::pair<uint16_t, uint8_t>>;

struct ConformanceCase {
    std::string name;
    Opcode op;
    CaseRegs initial, expected;
    RamList initialRam;
    RamList expectedRam;  // addresses whose final value is known (Fuse: only those that changed)
    std::vector<PortAccess> ports;  // expected port accesses, in order
    int32_t runTstates = 0;         // Fuse: run until at least this many; SingleStep: 0 = one instruction
    int32_t expectedTstates = 0;
    bool checkHalted = false;  // only Fuse records the halted state
};

// Fields that a comparison can find different.
enum class Field : uint8_t {
    A, F, B, C, D, E, H, L, AltAF, AltBC, AltDE, AltHL, IX, IY, SP, PC, I,
    IFF1, IFF2, IM, Halted, Tstates, Memory, PortCount, PortAddress, PortValue, PortDirection,
    Count
};

const char* fieldName(Field field);

constexpr uint32_t bit(Field f) { return 1u << static_cast<unsigned>(f); }
constexpr uint32_t AllFields = (1u << static_cast<unsigned>(Field::Count)) - 1;

struct Difference {
    Field field;
    uint32_t expected;
    uint32_t got;
    uint16_t address = 0;  // Memory: the address; ports: the index of the access
};

// What a rule sees besides the difference itself.
struct RunContext {
    const ConformanceCase& testCase;
    const CaseRegs& got;
    int32_t budgetAfter;  // cycleBudget when the run stopped
};

// One deliberate departure of this core from real silicon.
struct ConformanceRule {
    const char* name;
    const char* reason;
    bool (*concerns)(const Opcode&);
    uint8_t flagMask;     // bits of F it may excuse
    uint32_t fieldMask;   // other fields it may excuse (never F; flagMask covers F)
    // Optional: a difference is excused only if the result is what this core must produce.
    bool (*confirms)(const Difference&, const RunContext&);
};

const std::vector<ConformanceRule>& conformanceRules();

// The value of a register field (A to Halted) in a register record.
uint32_t registerField(const CaseRegs& regs, Field field);

// Loaders. They return false with a message when the data cannot be read.
bool loadFuseCases(const std::string& folder, std::vector<ConformanceCase>& cases, std::string& error);
bool loadSingleStepFile(const std::string& path, Opcode op, std::vector<ConformanceCase>& cases,
                        std::string& error);
// The opcode a SingleStepTests file name stands for ("dd cb __ 46.json.gz" -> DDCB 0x46).
bool singleStepOpcode(const std::string& fileName, Opcode& op);
