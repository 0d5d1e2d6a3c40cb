// The debugger's points on a real emulation thread: each kind against a small
// program, at the edges of memory, on stack pushes, block instructions and
// interrupts, with conditions, hit counts, logs and pages. Every case runs
// the program from a held start with Go (or a Step), and checks where the
// machine is held and what the status line and the log said.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineRig.h"
#include "debugger/SymbolTable.h"

namespace {

struct Bytes {
    uint16_t address;
    std::vector<uint8_t> bytes;
};

struct PointCase {
    const char* name;
    std::vector<Bytes> program;
    std::vector<const char*> points;
    uint16_t heldPc;
    const char* status;                // the last status line after Go
    std::vector<const char*> logs = {};  // "log: ..." lines, in order
    int irqEverySlices = 0;
};

// 0000 LD SP,F000 / 0003 LD A,0 / 0005 INC A / 0006 LD (C010),A / 0009 JR 0005
const Bytes countingStore{0x0000, {0x31, 0x00, 0xF0, 0x3E, 0x00, 0x3C, 0x32, 0x10, 0xC0, 0x18, 0xFA}};

const PointCase cases[] = {
    {"ExecHoldsBeforeTheInstruction", {countingStore}, {"exec 6"}, 0x0006, "Breakpoint (5) hit at:6"},
    {"WriteHoldsAfterTheInstruction", {countingStore}, {"write C010"}, 0x0009,
     "Watchpoint (5) write C010=01 at:6"},
    {"WriteRangeEdgesAreInclusive", {countingStore}, {"write C000-C00F", "write C010-C010"}, 0x0009,
     "Watchpoint (6) write C010=01 at:6"},
    {"ConditionOnARegister", {countingStore}, {"write C010 if A==3"}, 0x0009, "Watchpoint (5) write C010=03 at:6"},
    {"ConditionOnMemoryAfterTheWrite", {countingStore}, {"exec 5 if b@C010==#4"}, 0x0005,
     "Breakpoint (5) hit at:5"},
    {"EveryNthHit", {countingStore}, {"exec 6 hits 3"}, 0x0006, "Breakpoint (5) hit at:6"},
    {"LogPointsLogAndGoOn",
     {countingStore},
     {"exec 6 log A={A} at {PC}", "write C010 if A==2"},
     0x0009,
     "Watchpoint (6) write C010=02 at:6",
     {"log: A=01 at 0006", "log: A=02 at 0006"}},
    {"LowestNumberReportedAndLogsComeFirst",
     {countingStore},
     {"exec 9 log seen", "write C010", "exec 9"},
     0x0009,
     "Watchpoint (6) write C010=01 at:6",
     {"log: seen"}},
    {"DisabledPointsNeverFire", {countingStore}, {"write C010", "exec 9"}, 0x0009, "Breakpoint (6) hit at:9"},
    // 0000 LD SP,0000 / 0003 PUSH BC / 0004 JR 0004: the push writes FFFF then FFFE.
    {"StackPushAtTheTopOfMemory",
     {{0x0000, {0x31, 0x00, 0x00, 0x01, 0x34, 0x12, 0xC5, 0x18, 0xFE}}},
     {"write FFFF"},
     0x0007,
     "Watchpoint (5) write FFFF=12 at:6"},
    // 0000 LD SP,F000 / 0003 POP HL / 0004 JR 0004: reads F000 and F001.
    {"PopIsARead", {{0x0000, {0x31, 0x00, 0xF0, 0xE1, 0x18, 0xFE}}}, {"read F001"}, 0x0004,
     "Watchpoint (5) read F001=00 at:3"},
    {"AccessReportsTheKindThatHit", {{0x0000, {0x31, 0x00, 0xF0, 0xE1, 0x18, 0xFE}}}, {"access F000-F0FF"}, 0x0004,
     "Watchpoint (5) read F000=00 at:3"},
    // Fetches are not reads: the loop's own bytes never fire a read point.
    {"InstructionFetchesAreNotReads", {countingStore}, {"read 0000-00FF", "exec 9 hits 5"}, 0x0009,
     "Breakpoint (6) hit at:9"},
    // 0000 LD HL,C000 / LD DE,C100 / LD BC,0004 / LDIR / 000B JR 000B
    {"LdirHoldsAfterTheRoundWithPcOnIt",
     {{0x0000, {0x21, 0x00, 0xC0, 0x11, 0x00, 0xC1, 0x01, 0x04, 0x00, 0xED, 0xB0, 0x18, 0xFE}}},
     {"write C102"},
     0x0009,
     "Watchpoint (5) write C102=00 at:9"},
    // 0000 LD HL,C000 / LD BC,0302 / OTIR / 0008 JR 0008: ports (02) three times.
    {"OtirOutPoint",
     {{0x0000, {0x21, 0x00, 0xC0, 0x01, 0x02, 0x03, 0xED, 0xB3, 0x18, 0xFE}}},
     {"out 02 hits 2"},
     0x0006,
     "Watchpoint (5) out 02=00 at:6"},
    // 0000 IN A,(1) / 0002 JR 0000
    {"InPoint", {{0x0000, {0xDB, 0x01, 0x18, 0xFC}}}, {"in 00-01"}, 0x0002, "Watchpoint (5) in 01=00 at:0"},
    // 0000 LD SP,F000 / 0003 EI / 0004 HALT / 0005 JR 0004; 0038 OUT (0),A / EI / RET
    {"InterruptPushReportedAtTheReturnAddress",
     {{0x0000, {0x31, 0x00, 0xF0, 0xFB, 0x76, 0x18, 0xFD}}, {0x0038, {0xD3, 0x00, 0xFB, 0xC9}}},
     {"write EFFE-EFFF"},
     0x0005,
     "Watchpoint (5) write EFFF=00 at:5",
     {},
     50},
    // Writes to flash page 0 change nothing, yet they are Z80 writes.
    {"IgnoredWritesCount", {{0x0000, {0x32, 0x00, 0x10, 0x18, 0xFE}}}, {"write 1000"}, 0x0003,
     "Watchpoint (5) write 1000=00 at:0"},
};

class Points : public testing::TestWithParam<PointCase> {};

TEST_P(Points, HoldWhereAndAsExpected) {
    const PointCase& c = GetParam();
    EngineRig rig;
    for (const Bytes& b : c.program)
        for (std::size_t i = 0; i < b.bytes.size(); ++i)
            rig.load(static_cast<uint16_t>(b.address + i), {b.bytes[i]});
    rig.irqEverySlices.store(c.irqEverySlices);
    ASSERT_TRUE(rig.startHeld());
    for (const char* text : c.points) {
        const PointResult r = rig.engine.addPoint(text, nullptr);
        ASSERT_TRUE(r.ok()) << text << ": " << r.error;
    }
    if (std::string(c.name) == "DisabledPointsNeverFire") {
        ASSERT_TRUE(rig.engine.enablePoint(5, false).ok());
    }
    const std::size_t mark = rig.view.size();
    ASSERT_TRUE(rig.go());
    EXPECT_EQ(rig.heldPC(), c.heldPc);
    const std::vector<std::string> statuses = rig.view.matching("status: ", mark);
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.back(), std::string("status: ") + c.status);
    std::vector<std::string> logs;
    for (const char* line : c.logs)
        logs.emplace_back(line);
    EXPECT_EQ(rig.view.matching("log: ", mark), logs);
    EXPECT_TRUE(rig.view.contains("controls: on", mark));
}

INSTANTIATE_TEST_SUITE_P(Kinds, Points, testing::ValuesIn(cases),
                         [](const testing::TestParamInfo<PointCase>& info) { return std::string(info.param.name); });

}  // namespace

TEST(PointCommands, NumbersFromFiveReusedAndRefusalsNameTheFault) {
    MemoryMap memory;
    ASSERT_TRUE(memory.allocateImages());
    DebuggerEngine engine(memory);
    EXPECT_EQ(engine.addPoint("exec 100", nullptr).number, 5);
    EXPECT_EQ(engine.addPoint("write c000-c0ff  if b@C000==0   hits 3", nullptr).text,
              "write C000-C0FF if b@C000==0 hits 3");
    EXPECT_EQ(engine.addPoint("out 3", nullptr).number, 7);
    EXPECT_TRUE(engine.deletePoint(6).ok());
    EXPECT_EQ(engine.addPoint("in 4", nullptr).number, 6);  // the lowest free number
    EXPECT_FALSE(engine.deletePoint(9).ok());
    EXPECT_FALSE(engine.enablePoint(4, true).ok());  // slots are not points

    SymbolTable symbols;
    symbols.addData("counter", 0xC010);
    EXPECT_EQ(engine.addPoint("exec 5 if b@counter==2", &symbols).number, 8);
    EXPECT_FALSE(engine.addPoint("exec 5 if b@counter==2", nullptr).ok());  // no table holds it
    EXPECT_FALSE(engine.addPoint("write C0FF-C000", nullptr).ok());
    EXPECT_FALSE(engine.addPoint("exec 5 hits 0", nullptr).ok());
    EXPECT_FALSE(engine.addPoint("exec r08:C000", nullptr).ok());

    const std::vector<PointInfo> list = engine.pointList();
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[1].number, 6);
    EXPECT_EQ(list[0].where, "0100");
    EXPECT_EQ(list[3].condition, "b@counter==2");
}

TEST(PointPages, ExecPointsMatchOnlyTheirPage) {
    EngineRig rig;
    // Window 1 shows flash page 1, which jumps back and forth: 4000 NOP / 4001 JR 4000.
    rig.memory.flashImage[0x4000] = 0x00;
    rig.memory.flashImage[0x4001] = 0x18;
    rig.memory.flashImage[0x4002] = 0xFD;
    rig.memory.romBank = 1;
    rig.memory.rebuildPages();
    rig.load(0x0000, {0xC3, 0x00, 0x40});  // JP 4000
    ASSERT_TRUE(rig.startHeld());
    ASSERT_TRUE(rig.engine.addPoint("exec f02:4001", nullptr).ok());
    ASSERT_TRUE(rig.engine.addPoint("exec r00:4001", nullptr).ok());
    ASSERT_TRUE(rig.engine.addPoint("exec f01:4001 hits 4", nullptr).ok());
    const std::size_t mark = rig.view.size();
    ASSERT_TRUE(rig.go());
    EXPECT_EQ(rig.heldPC(), 0x4001);
    EXPECT_EQ(rig.view.matching("status: ", mark).back(), "status: Breakpoint (7) hit at:4001");
    EXPECT_EQ(rig.engine.pointList()[2].counted, 4u);
    EXPECT_EQ(rig.engine.pointList()[0].counted, 0u);
}

TEST(PointStepping, AHitReplacesTheStepMessageAndEndsAStepOver) {
    EngineRig rig;
    // 0000 LD SP,F000 / 0003 CALL 0010 / 0006 JR 0006; 0010 LD (C000),A / 0013 RET
    rig.load(0x0000, {0x31, 0x00, 0xF0, 0xCD, 0x10, 0x00, 0x18, 0xFE});
    rig.load(0x0010, {0x32, 0x00, 0xC0, 0xC9});
    ASSERT_TRUE(rig.startHeld());
    ASSERT_TRUE(rig.stepInto());  // now on the CALL
    ASSERT_EQ(rig.heldPC(), 0x0003);
    ASSERT_TRUE(rig.engine.addPoint("write C000", nullptr).ok());
    std::size_t mark = rig.view.size();
    ASSERT_TRUE(rig.stepOver());  // the write inside the call ends the Step over
    EXPECT_EQ(rig.heldPC(), 0x0013);
    EXPECT_EQ(rig.view.matching("status: ", mark).back(), "status: Watchpoint (5) write C000=00 at:10");

    ASSERT_TRUE(rig.engine.addPoint("read EFFE", nullptr).ok());
    mark = rig.view.size();
    ASSERT_TRUE(rig.stepInto());  // RET reads the return address
    EXPECT_EQ(rig.heldPC(), 0x0006);
    EXPECT_EQ(rig.view.matching("status: ", mark),
              std::vector<std::string>{"status: Watchpoint (6) read EFFE=06 at:13"});
}

TEST(PointSpeedPath, ExecPointsHitAfterEveryKindOfJumpAtFullSpeed) {
    // While running, the hook is called only where a point may be: each of
    // these reaches 0040 another way, and each must hold there, not later.
    struct Way {
        const char* name;
        std::vector<uint8_t> code;  // at 0007, after a loop of 256 DJNZ that ends the traced slice
    };
    const Way ways[] = {
        {"JP", {0xC3, 0x40, 0x00}},
        {"JR", {0x18, 0x37}},
        {"CALL", {0xCD, 0x40, 0x00}},
        {"RET", {0x21, 0x40, 0x00, 0xE5, 0xC9}},
        {"JP (HL)", {0x21, 0x40, 0x00, 0xE9}},
        {"RST", {0xFF}},  // RST 38, and there JR 0040
        {"DJNZ", {0x06, 0x02, 0x10, 0x35}},
        {"LDIR", {0x21, 0x00, 0xC0, 0x11, 0x00, 0xC1, 0x01, 0x40, 0x00, 0xED, 0xB0, 0xC3, 0x40, 0x00}},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        EngineRig rig;
        rig.load(0x0000, {0x31, 0x00, 0xF0, 0x06, 0x00, 0x10, 0xFE});
        for (std::size_t i = 0; i < way.code.size(); ++i)
            rig.load(static_cast<uint16_t>(7 + i), {way.code[i]});
        rig.load(0x0038, {0x18, 0x06});  // JR 0040
        rig.load(0x0040, {0x00, 0x18, 0xFD});
        ASSERT_TRUE(rig.startHeld());
        ASSERT_TRUE(rig.engine.addPoint("exec 40", nullptr).ok());
        ASSERT_TRUE(rig.go());
        EXPECT_EQ(rig.heldPC(), 0x0040);
    }
}
