// Conformance of the processor core against two public sets of Z80 test
// vectors (Fuse core tests, SingleStepTests). Every case runs on the core over
// a flat 64 KB test bus; registers, memory, port accesses and T-states are
// compared, and a difference passes only where a rule of ConformanceRules.cpp
// names it as a deliberate departure from silicon. Prints one summary line per
// set and page and, on failure, the first failing cases with their fields.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include "ConformanceCase.h"
#include "z80/Core.h"

namespace {

// A flat 64 KB RAM that logs writes and answers port reads from the case's list.
struct ConformanceBus {
    uint8_t mem[65536] = {};
    std::vector<uint16_t> written;
    std::vector<PortAccess> portLog;
    const ConformanceCase* current = nullptr;

    ConformanceBus() {
        written.reserve(1 << 17);
        portLog.reserve(1024);
    }

    uint8_t readByte(uint16_t a) { return mem[a]; }
    void writeByte(uint16_t a, uint8_t v) {
        mem[a] = v;
        if (written.size() < written.capacity()) written.push_back(a);
    }
    uint8_t portIn(uint16_t port) {
        size_t index = portLog.size();
        uint8_t value;
        if (index < current->ports.size() && !current->ports[index].write) value = current->ports[index].value;
        else value = current->op.set == TestSet::Fuse ? uint8_t(port >> 8) : 0xFF;
        if (portLog.size() < portLog.capacity()) portLog.push_back({port, value, false});
        return value;
    }
    void portOut(uint16_t port, uint8_t v) {
        if (portLog.size() < portLog.capacity()) portLog.push_back({port, v, true});
    }
    uint16_t loopHook(Z80State&) { return HookNoInterrupt; }
    void traceHook(Z80State&) {}
    void noteInterrupt(Z80State&) {}
    void printTrap(Z80State&) {}
    void breakTrap(Z80State&) {}
};

CaseRegs readState(const Z80State& s) {
    CaseRegs r;
    r.af = s.AF.w;
    r.bc = s.BC.w;
    r.de = s.DE.w;
    r.hl = s.HL.w;
    r.altAf = s.altAF;
    r.altBc = s.altBC;
    r.altDe = s.altDE;
    r.altHl = s.altHL;
    r.ix = s.IX.w;
    r.iy = s.IY.w;
    r.sp = s.SP.w;
    r.pc = s.PC.w;
    r.i = s.I;
    r.iff1 = s.cpuFlags & CpuIff1 ? 1 : 0;
    r.iff2 = s.cpuFlags & CpuIff2 ? 1 : 0;
    r.im = s.cpuFlags & CpuIm2 ? 2 : s.cpuFlags & CpuIm1 ? 1 : 0;
    r.halted = s.cpuFlags & CpuHalted ? 1 : 0;
    return r;
}

void loadState(const CaseRegs& r, Z80State& s) {
    s = Z80State{};
    s.AF.w = r.af;
    s.BC.w = r.bc;
    s.DE.w = r.de;
    s.HL.w = r.hl;
    s.altAF = r.altAf;
    s.altBC = r.altBc;
    s.altDE = r.altDe;
    s.altHL = r.altHl;
    s.IX.w = r.ix;
    s.IY.w = r.iy;
    s.SP.w = r.sp;
    s.PC.w = r.pc;
    s.I = r.i;
    s.cpuFlags = uint8_t((r.iff1 ? CpuIff1 : 0) | (r.iff2 ? CpuIff2 : 0) | (r.im == 1 ? CpuIm1 : 0) |
                         (r.im == 2 ? CpuIm2 : 0) | (r.halted ? CpuHalted : 0));
    s.cyclePeriod = 100;
}

struct Outcome {
    CaseRegs got;
    int32_t budgetAfter = 0;
    std::vector<Difference> diffs;
};

uint8_t expectedByte(const ConformanceCase& c, uint16_t address) {
    for (auto it = c.expectedRam.rbegin(); it != c.expectedRam.rend(); ++it)
        if (it->first == address) return it->second;
    for (auto it = c.initialRam.rbegin(); it != c.initialRam.rend(); ++it)
        if (it->first == address) return it->second;
    return 0;  // both sets leave unlisted memory alone
}

// Runs one case and lists every field that differs from the vector.
Outcome runCase(const ConformanceCase& c, ConformanceBus& bus) {
    bus.current = &c;
    bus.written.clear();
    bus.portLog.clear();
    for (const auto& [address, value] : c.initialRam) bus.mem[address] = value;

    Z80State s;
    loadState(c.initial, s);
    int32_t used;
    if (c.runTstates > 0) {
        // Fuse: whole instructions until at least the given count has passed, as the run loop does.
        s.cycleBudget = c.runTstates;
        for (int steps = 0; s.cycleBudget > 0 && steps < 100000; ++steps) stepCpu(s, bus);
        used = c.runTstates - s.cycleBudget;
    } else {
        // One instruction; a budget of 1 makes a repeated block instruction run exactly one iteration.
        s.cycleBudget = 1;
        stepCpu(s, bus);
        used = 1 - s.cycleBudget;
    }

    Outcome out;
    out.got = readState(s);
    out.budgetAfter = s.cycleBudget;
    Field last = c.checkHalted ? Field::Halted : Field::IM;
    for (auto f = Field::A; f <= last; f = Field(unsigned(f) + 1)) {
        uint32_t want = registerField(c.expected, f), got = registerField(out.got, f);
        if (want != got) out.diffs.push_back({f, want, got});
    }
    if (used != c.expectedTstates) out.diffs.push_back({Field::Tstates, uint32_t(c.expectedTstates), uint32_t(used)});

    std::vector<uint16_t> checked;
    for (const auto& [address, value] : c.expectedRam) checked.push_back(address);
    checked.insert(checked.end(), bus.written.begin(), bus.written.end());
    std::sort(checked.begin(), checked.end());
    checked.erase(std::unique(checked.begin(), checked.end()), checked.end());
    for (uint16_t address : checked) {
        uint8_t want = expectedByte(c, address);
        if (bus.mem[address] != want) out.diffs.push_back({Field::Memory, want, bus.mem[address], address});
    }

    if (bus.portLog.size() != c.ports.size())
        out.diffs.push_back({Field::PortCount, uint32_t(c.ports.size()), uint32_t(bus.portLog.size())});
    for (size_t i = 0; i < std::min(bus.portLog.size(), c.ports.size()); ++i) {
        const PortAccess &want = c.ports[i], &got = bus.portLog[i];
        auto index = uint16_t(i);
        if (want.write != got.write) out.diffs.push_back({Field::PortDirection, want.write, got.write, index});
        if (want.port != got.port) out.diffs.push_back({Field::PortAddress, want.port, got.port, index});
        if (want.write && got.write && want.value != got.value)
            out.diffs.push_back({Field::PortValue, want.value, got.value, index});
    }

    for (uint16_t address : checked) bus.mem[address] = 0;
    for (const auto& [address, value] : c.initialRam) bus.mem[address] = 0;
    return out;
}

// Which rules excuse all differences of a case; false when one is not excused.
bool excuse(const ConformanceCase& c, const Outcome& out, std::vector<const ConformanceRule*>& used) {
    RunContext ctx{c, out.got, out.budgetAfter};
    std::vector<const ConformanceRule*> concerned;
    for (const auto& rule : conformanceRules())
        if (rule.concerns(c.op)) concerned.push_back(&rule);
    auto use = [&](const ConformanceRule* rule) {
        if (std::find(used.begin(), used.end(), rule) == used.end()) used.push_back(rule);
    };
    for (const Difference& d : out.diffs) {
        if (d.field == Field::F) {
            uint8_t changed = uint8_t(d.expected ^ d.got), covered = 0;
            for (const auto* rule : concerned) {
                if (!(rule->flagMask & changed)) continue;
                if (rule->confirms && !rule->confirms(d, ctx)) return false;
                covered |= rule->flagMask;
                use(rule);
            }
            if (changed & ~covered) return false;
            continue;
        }
        const ConformanceRule* by = nullptr;
        for (const auto* rule : concerned)
            if ((rule->fieldMask & bit(d.field)) && (!rule->confirms || rule->confirms(d, ctx))) {
                by = rule;
                break;
            }
        if (!by) return false;
        use(by);
    }
    return true;
}

std::string describe(const ConformanceCase& c, const Outcome& out) {
    std::ostringstream s;
    s << "  " << c.name << ":";
    char buf[96];
    for (const Difference& d : out.diffs) {
        if (d.field == Field::Memory)
            std::snprintf(buf, sizeof buf, " mem[%04X] expected %02X got %02X;", d.address, d.expected, d.got);
        else if (d.field >= Field::PortAddress)
            std::snprintf(buf, sizeof buf, " %s#%u expected %X got %X;", fieldName(d.field), d.address, d.expected,
                          d.got);
        else if (d.field == Field::Tstates || d.field == Field::PortCount)
            std::snprintf(buf, sizeof buf, " %s expected %u got %d;", fieldName(d.field), d.expected, int(d.got));
        else
            std::snprintf(buf, sizeof buf, " %s expected %X got %X;", fieldName(d.field), d.expected, d.got);
        s << buf;
    }
    return s.str();
}

struct PageStats {
    int run = 0, passed = 0, excused = 0, failed = 0;
    std::map<std::string, int> byRule;
    std::vector<std::string> firstFailures;
    std::vector<std::string> failingOpcodes;

    void add(const ConformanceCase& c, const Outcome& out) {
        ++run;
        if (out.diffs.empty()) {
            ++passed;
            return;
        }
        std::vector<const ConformanceRule*> used;
        if (excuse(c, out, used)) {
            ++excused;
            for (const auto* rule : used) ++byRule[rule->name];
            return;
        }
        ++failed;
        if (firstFailures.size() < 8) firstFailures.push_back(describe(c, out));
        char code[8];
        std::snprintf(code, sizeof code, "%02X", c.op.code);
        if (failingOpcodes.empty() || failingOpcodes.back() != code) failingOpcodes.push_back(code);
    }

    std::string summary(const char* set, Page page) const {
        std::ostringstream s;
        s << set << " " << pageName(page) << ": " << run << " run, " << passed << " passed, " << excused
          << " excused";
        if (!byRule.empty()) {
            s << " (";
            bool first = true;
            for (const auto& [name, count] : byRule) {
                s << (first ? "" : ", ") << name << " " << count;
                first = false;
            }
            s << ")";
        }
        if (failed) s << ", " << failed << " FAILED";
        return s.str();
    }
};

std::string dataFolder() {
    if (const char* env = std::getenv("PDEMU_Z80_TESTS"); env && *env) return env;
    return PDEMU_Z80_TESTS_DIR;
}

void report(const char* set, Page page, const PageStats& stats) {
    std::printf("%s\n", stats.summary(set, page).c_str());
    std::fflush(stdout);
    std::string failures;
    for (const auto& f : stats.firstFailures) failures += f + "\n";
    if (!stats.failingOpcodes.empty()) {
        failures += "  failing opcodes of this page:";
        for (const auto& code : stats.failingOpcodes) failures += " " + code;
        failures += "\n";
    }
    EXPECT_EQ(stats.failed, 0) << set << " " << pageName(page) << ", first failing cases:\n" << failures;
}

constexpr Page AllPages[] = {Page::Base, Page::CB, Page::ED, Page::DD, Page::FD, Page::DDCB, Page::FDCB};

TEST(FuseConformance, EveryCasePassesOrIsExcused) {
    std::string folder = dataFolder() + "/fuse";
    if (!std::filesystem::exists(folder + "/tests.in"))
        GTEST_SKIP() << "Fuse test vectors not found in " << folder << " (set PDEMU_Z80_TESTS)";
    std::vector<ConformanceCase> cases;
    std::string error;
    ASSERT_TRUE(loadFuseCases(folder, cases, error)) << error;
    EXPECT_EQ(cases.size(), 1356u);

    auto bus = std::make_unique<ConformanceBus>();
    std::map<Page, PageStats> stats;
    for (const auto& c : cases) stats[c.op.page].add(c, runCase(c, *bus));
    for (Page page : AllPages) report("fuse", page, stats[page]);
}

class SingleStepConformance : public testing::TestWithParam<Page> {};

TEST_P(SingleStepConformance, EveryCasePassesOrIsExcused) {
    std::filesystem::path folder = std::filesystem::path(dataFolder()) / "singlestep" / "v1";
    if (!std::filesystem::is_directory(folder))
        GTEST_SKIP() << "SingleStepTests vectors not found in " << folder.string() << " (set PDEMU_Z80_TESTS)";
    std::vector<std::pair<std::string, Opcode>> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::string name = entry.path().filename().string();
        Opcode op;
        if (name.ends_with(".json.gz") && singleStepOpcode(name, op) && op.page == GetParam())
            files.emplace_back(entry.path().string(), op);
    }
    std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    ASSERT_FALSE(files.empty()) << "no files for page " << pageName(GetParam()) << " in " << folder.string();

    auto bus = std::make_unique<ConformanceBus>();
    PageStats stats;
    std::vector<ConformanceCase> cases;
    for (const auto& [path, op] : files) {
        cases.clear();
        std::string error;
        ASSERT_TRUE(loadSingleStepFile(path, op, cases, error)) << error;
        for (const auto& c : cases) stats.add(c, runCase(c, *bus));
    }
    report("singlestep", GetParam(), stats);
    // The set keeps 100 cases per file and all 1,000 of 23 edge-case files: a lost file shows here.
    static const std::map<Page, int> casesPerPage = {{Page::Base, 27900}, {Page::CB, 25600}, {Page::ED, 26000},
                                                     {Page::DD, 25200},   {Page::FD, 25200}, {Page::DDCB, 25600},
                                                     {Page::FDCB, 25600}};
    EXPECT_EQ(stats.run, casesPerPage.at(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Pages, SingleStepConformance, testing::ValuesIn(AllPages),
                         [](const testing::TestParamInfo<Page>& info) { return std::string(pageName(info.param)); });

// The comparison and the rule table themselves: a fault in either would let core bugs through.
TEST(ConformanceHarness, DifferencesAreFoundAndExcusedOnlyByTheirRules) {
    auto bus = std::make_unique<ConformanceBus>();
    ConformanceCase c;
    c.name = "ADD A,B";
    c.op = {TestSet::SingleStep, Page::Base, 0x80};
    c.initial.af = 0x0F00;
    c.initial.bc = 0x1900;
    c.initial.pc = 0x1000;
    c.initialRam = {{0x1000, 0x80}};
    c.expected = c.initial;
    c.expected.af = 0x2838;  // silicon: A = 0x28, H set, bits 5 and 3 copied from the result
    c.expected.pc = 0x1001;
    c.expectedRam = c.initialRam;
    c.expectedTstates = 4;

    Outcome out = runCase(c, *bus);
    std::vector<const ConformanceRule*> used;
    ASSERT_EQ(out.diffs.size(), 1u) << describe(c, out);
    EXPECT_EQ(out.diffs[0].field, Field::F);
    EXPECT_EQ(out.diffs[0].got, 0x10u);
    EXPECT_TRUE(excuse(c, out, used));
    ASSERT_EQ(used.size(), 1u);
    EXPECT_STREQ(used[0]->name, "f53");

    // The same flag difference after an instruction that must keep F is a failure.
    ConformanceCase ld = c;
    ld.op.code = 0x78;  // LD A,B
    ld.initialRam = {{0x1000, 0x78}};
    ld.expectedRam = ld.initialRam;
    ld.expected.af = 0x1908;
    out = runCase(ld, *bus);
    used.clear();
    ASSERT_EQ(out.diffs.size(), 1u) << describe(ld, out);
    EXPECT_FALSE(excuse(ld, out, used));

    // A wrong memory byte, a write outside the listed memory and a wrong T-state count are all found.
    ConformanceCase st = c;
    st.op.code = 0x70;  // LD (HL),B
    st.initial.hl = 0x2000;
    st.expected.hl = 0x2000;
    st.expected.af = st.initial.af;
    st.initialRam = {{0x1000, 0x70}};
    st.expectedRam = {{0x1000, 0x70}, {0x2000, 0x18}};
    st.expectedTstates = 8;
    out = runCase(st, *bus);
    ASSERT_EQ(out.diffs.size(), 2u) << describe(st, out);
    EXPECT_EQ(out.diffs[0].field, Field::Tstates);
    EXPECT_EQ(out.diffs[1].field, Field::Memory);
    EXPECT_EQ(out.diffs[1].address, 0x2000);
    EXPECT_EQ(out.diffs[1].got, 0x19u);
    used.clear();
    EXPECT_FALSE(excuse(st, out, used));
    // The bus is clean for the next case.
    EXPECT_EQ(bus->mem[0x2000], 0);
    EXPECT_EQ(bus->mem[0x1000], 0);
}

TEST(ConformanceHarness, FileNamesMapToPages) {
    Opcode op;
    ASSERT_TRUE(singleStepOpcode("dd cb __ 46.json.gz", op));
    EXPECT_EQ(op.page, Page::DDCB);
    EXPECT_EQ(op.code, 0x46);
    ASSERT_TRUE(singleStepOpcode("fd e9.json.gz", op));
    EXPECT_EQ(op.page, Page::FD);
    EXPECT_EQ(op.code, 0xE9);
    ASSERT_TRUE(singleStepOpcode("3f.json.gz", op));
    EXPECT_EQ(op.page, Page::Base);
    EXPECT_EQ(op.code, 0x3F);
    EXPECT_FALSE(singleStepOpcode("MANIFEST.tsv", op));
}

}  // namespace

const char* pageName(Page page) {
    switch (page) {
    case Page::Base: return "base";
    case Page::CB: return "CB";
    case Page::ED: return "ED";
    case Page::DD: return "DD";
    case Page::FD: return "FD";
    case Page::DDCB: return "DDCB";
    case Page::FDCB: return "FDCB";
    }
    return "?";
}

// Test names and messages show the page by name.
void PrintTo(Page page, std::ostream* os) { *os << pageName(page); }

const char* fieldName(Field field) {
    static const char* const names[] = {"A",  "F",  "B",  "C",    "D",    "E",      "H",       "L",
                                        "AF'", "BC'", "DE'", "HL'", "IX",   "IY",     "SP",      "PC",
                                        "I",  "IFF1", "IFF2", "IM",  "halted", "tstates", "memory", "ports",
                                        "port", "port-value", "port-direction"};
    static_assert(sizeof names / sizeof names[0] == unsigned(Field::Count));
    return names[unsigned(field)];
}
