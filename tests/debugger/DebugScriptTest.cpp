// Scripted debugging: runDebugScript against a program on a real emulation
// thread, checking the text lines it prints, and its refusal of bad lines.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "EngineRig.h"
#include "DebugScript.h"
#include "machine/Machine.h"

namespace {

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The run "ends" after a generous limit, so a wait that never ends fails the test instead of hanging.
std::function<bool()> deadline(std::chrono::seconds limit = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    return [end] { return std::chrono::steady_clock::now() > end; };
}

}  // namespace

TEST(DebugScript, BreakTrapBreakpointStepsListingsAndEditsPrintTheirLines) {
    EngineRig rig;
    // 0000 ED FF (trap: breakpoint 4 at 0003) / 0002 NOP / 0003 LD SP,F000 / 0006 LD HL,1234
    // 0009 CALL 0020 / 000C INC HL / 000D JR 0006 ; 0020 NOP / 0021 RET
    rig.load(0x0000, {0xED, 0xFF, 0x00, 0x31, 0x00, 0xF0, 0x21, 0x34, 0x12, 0xCD, 0x20, 0x00, 0x23, 0x18, 0xF7});
    rig.load(0x0020, {0x00, 0xC9});
    rig.load(0xC000, {0x41, 0x42});
    rig.engine.setView(nullptr);
    // Opened at the trap's slice end, far past 0003: breakpoint 4 is never reached.
    rig.parkOnOpenRequest.store(true);
    rig.start();

    std::istringstream script(R"(# the trap at 0000 opens the debugger
wait
break 1 0009
go
over
step
addr 0020
disasm
regs 00FF - - - - -
length 10
addr C000
hexdump
clearbreaks
close
)");
    std::ostringstream out;
    ASSERT_EQ(runDebugScript(rig.engine, script, out, deadline()), 0);
    const std::vector<std::string> lines = splitLines(out.str());

    // Opening through the trap stops the machine wherever it is.
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "status: Stopped ...");
    const auto go = std::find(lines.begin(), lines.end(), "status: Running ...");
    ASSERT_NE(go, lines.end());
    const std::vector<std::string> fromGo(go, lines.end());
    const std::vector<std::string> expected = {
        "status: Running ...",
        "controls: off",
        // breakpoint 1 at the CALL; Go emptied the fields, so all eight are written
        "label 1: *",
        "status: Breakpoint (1) hit at:9",
        "controls: on",
        "flags: ........",
        "reg AF: 0000",
        "reg HL: 1234",
        "reg DE: 0000",
        "reg BC: 0000",
        "reg PC: 0009",
        "reg SP: F000",
        "reg IX: 0000",
        "reg IY: 0000",
        "list: 0009:CALL 0020h",
        // over: the subroutine runs unseen, only PC changed
        "flags: ........",
        "reg PC: 000C",
        "list: 000C:INC HL",
        // step
        "status: Stepmode invoked",
        "controls: on",
        "flags: ........",
        "reg AF: 0000",
        "reg HL: 1235",
        "reg DE: 0000",
        "reg BC: 0000",
        "reg PC: 000D",
        "reg SP: F000",
        "reg IX: 0000",
        "reg IY: 0000",
        "list: 000D:JR -09h",
        // disasm at 0020
        "list: -Disassembly RomBank:0(x00) RamBank:0(x00)-",
        "list: 0020:NOP",
        "list: 0021:RET",
        "list: 0022:RST 38h",
        "list: 0023:RST 38h",
        "list: 0024:RST 38h",
        "list: 0025:RST 38h",
        "list: 0026:RST 38h",
        "list: 0027:RST 38h",
        "list: 0028:RST 38h",
        "list: 0029:RST 38h",
        "list: 002A:RST 38h",
        "list: 002B:RST 38h",
        "list: 002C:RST 38h",
        "list: 002D:RST 38h",
        "list: 002E:RST 38h",
        "list: 002F:RST 38h",
        "list: ---------------",
        // regs: AF edited, the current line shown again
        "flags: SZ*H*PNC",
        "reg AF: 00FF",
        "list: 000D:JR -09h",
        // hexdump of one row at C000
        "dump: ",
        "dump: Banks: Rom:0(x00) Ram:0(x00)",
        "dump: Adr. |Hex                     |Char",
        "dump: -----|------------------------|----------------------",
        "dump: C000  41 42 00 00 00 00 00 00   A  B  .  .  .  .  .  .  ",
        "dump: C008  00 00 00 00 00 00 00 00   .  .  .  .  .  .  .  .  ",
        // clearbreaks
        "field 1: ",
        "label 1: 1",
        "field 2: ",
        "label 2: 2",
        "field 3: ",
        "label 3: 3",
    };
    EXPECT_EQ(fromGo, expected);
    // Go first empties the display.
    const std::vector<std::string> beforeGo(lines.begin(), go);
    ASSERT_GE(beforeGo.size(), 14u);
    const std::vector<std::string> clearing(beforeGo.end() - 14, beforeGo.end());
    EXPECT_EQ(clearing, (std::vector<std::string>{"list-clear", "reg AF: ", "reg HL: ", "reg DE: ", "reg BC: ",
                                                  "reg PC: ", "reg SP: ", "reg IX: ", "reg IY: ", "flags: ........",
                                                  "label 1: 1", "label 2: 2", "label 3: 3", "status: "}));
    EXPECT_TRUE(rig.engine.isOff());  // closed at the end, the machine runs on
    EXPECT_EQ(rig.cpu.AF.w, 0x00FF);
}

TEST(DebugScript, BadLinesAreReportedBeforeAnythingRuns) {
    EngineRig rig;
    rig.engine.setView(nullptr);
    struct Case {
        const char* script;
        const char* message;
    };
    const Case cases[] = {
        {"open\n\njump 0100\n", "line 3: unknown action 'jump'\n"},
        {"break 4 0100\n", "line 1: expected 'break N TEXT (N 1-3)'\n"},
        {"# fine\ntrace maybe\n", "line 2: expected 'trace on|off'\n"},
        {"regs 1 2 3\n", "line 1: expected 'regs AF HL DE BC IX IY'\n"},
        {"poke flash 1 4000 00\n", "line 1: expected 'poke ram|rom BANK ADDR VALUE'\n"},
        {"go now\n", "line 1: expected 'go'\n"},
    };
    for (const Case& c : cases) {
        std::istringstream script(c.script);
        std::ostringstream out;
        testing::internal::CaptureStderr();
        EXPECT_EQ(runDebugScript(rig.engine, script, out, deadline(std::chrono::seconds(1))), 2) << c.script;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
        EXPECT_EQ(out.str(), "") << c.script;
        EXPECT_TRUE(rig.engine.isOff()) << c.script;  // "open" was not run
    }
}

namespace {

class SilentReporter final : public MessageReporter {
public:
    void showMessage(MessageIcon, const std::string& text) override { messages.push_back(text); }
    std::vector<std::string> messages;
};

}  // namespace

TEST(DebugScript, DrivesTheMachineThroughItsOwnBusAndReleasesItAtTheEnd) {
    // 0000 DI / 0001 ED FF / 0003 NOP / 0004 LD HL,1234 / 0007 INC HL / 0008 JR 0004
    const std::vector<uint8_t> program = {0xF3, 0xED, 0xFF, 0x00, 0x21, 0x34, 0x12, 0x23, 0x18, 0xFA};
    const auto folder = std::filesystem::temp_directory_path() / ("pdemu-dbg-machine-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const auto rom = folder / "os.pgm";
    {
        std::ofstream file(rom, std::ios::binary);
        file.write(reinterpret_cast<const char*>(program.data()), static_cast<std::streamsize>(program.size()));
    }
    SilentReporter reporter;
    FixedClock clock(FixedClock::at(2001, 2, 3, 4, 5, 6));
    Machine machine(reporter, clock);
    machine.romImagePath = rom.string();
    ASSERT_TRUE(machine.startMachine());

    // The trap armed breakpoint 4 behind itself; Clear Breaks empties it too.
    std::istringstream script("wait\nclearbreaks\nbreak 2 7\ngo\nstep\n");
    std::ostringstream out;
    EXPECT_EQ(runDebugScript(machine, script, out, deadline()), 0);
    const std::vector<std::string> lines = splitLines(out.str());
    const auto hit = std::find(lines.begin(), lines.end(), "status: Breakpoint (2) hit at:7");
    ASSERT_NE(hit, lines.end());
    EXPECT_NE(std::find(hit, lines.end(), "list: 0007:INC HL"), lines.end());
    EXPECT_EQ(lines.back(), "list: 0008:JR -06h");
    EXPECT_NE(std::find(hit, lines.end(), "reg HL: 1235"), lines.end());

    // The script closed the debugger: the machine runs on and stops normally.
    EXPECT_TRUE(waitUntil([&] { return !machine.debugger.isHeld(); }));
    EXPECT_TRUE(machine.debugger.isOff());
    const uint64_t before = machine.elapsedTStates.load();
    EXPECT_TRUE(waitUntil([&] { return machine.elapsedTStates.load() > before; }));
    machine.stopMachine();
    EXPECT_TRUE(reporter.messages.empty());
    std::filesystem::remove_all(folder);
}

TEST(DebugScript, StateFilesMoveTheHeldMachineAndAFailureEndsTheScript) {
    // 0000 DI / 0001 LD HL,1234 / 0004 INC HL / 0005 JR 0004
    const std::vector<uint8_t> program = {0xF3, 0x21, 0x34, 0x12, 0x23, 0x18, 0xFD};
    const auto folder = std::filesystem::temp_directory_path() / ("pdemu-dbg-states-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const auto rom = folder / "os.pgm";
    {
        std::ofstream file(rom, std::ios::binary);
        file.write(reinterpret_cast<const char*>(program.data()), static_cast<std::streamsize>(program.size()));
    }
    const std::string state = (folder / "held.st").string();
    SilentReporter reporter;
    FixedClock clock(FixedClock::at(2001, 2, 3, 4, 5, 6));
    Machine machine(reporter, clock);
    machine.romImagePath = rom.string();
    ASSERT_TRUE(machine.startMachine());

    // Three steps on, the load brings back the machine of the save and shows it like a stop.
    std::istringstream moves("open\nwait\nsavestate " + state + "\nstep\nstep\nstep\nloadstate " + state + "\n");
    std::ostringstream out;
    ASSERT_EQ(runDebugScript(machine, moves, out, deadline()), 0);
    const std::vector<std::string> lines = splitLines(out.str());
    // The first stop (where the save was): status, controls, then flags, the eight registers and the line.
    ASSERT_GE(lines.size(), 24u);
    ASSERT_EQ(lines[0], "status: Stopped ...");
    const std::vector<std::string> saved(lines.begin() + 2, lines.begin() + 12);
    ASSERT_EQ(saved[9].rfind("list: ", 0), 0u);
    // The load is shown like that stop, in the same order.
    const std::vector<std::string> loaded(lines.end() - 10, lines.end());
    EXPECT_EQ(loaded, saved);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 12, lines.end() - 10),
              (std::vector<std::string>{"status: Stopped ...", "controls: on"}));
    // The steps in between did move it (INC HL comes once in two steps).
    const auto lastHl = std::find_if(lines.rbegin() + 12, lines.rend(),
                                     [](const std::string& l) { return l.rfind("reg HL: ", 0) == 0; });
    ASSERT_NE(lastHl, lines.rend());
    EXPECT_NE(*lastHl, saved[2]);

    // A refused file ends the script at its line: the regs edit after it never runs.
    std::istringstream refused("open\nwait\nloadstate " + (folder / "missing.st").string() +
                               "\nregs 4321 - - - - -\n");
    std::ostringstream ignored;
    testing::internal::CaptureStderr();
    EXPECT_EQ(runDebugScript(machine, refused, ignored, deadline()), 2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "line 3: Cannot read state file '" + (folder / "missing.st").string() + "'.\n");
    EXPECT_NE(machine.cpu.AF.w, 0x4321);
    machine.stopMachine();
    std::filesystem::remove_all(folder);
}

TEST(DebugScript, StateFilesNeedTheWholeMachine) {
    EngineRig rig;
    rig.engine.setView(nullptr);
    for (const char* line : {"savestate a.st\n", "loadstate a.st\n"}) {
        std::istringstream script(line);
        std::ostringstream out;
        testing::internal::CaptureStderr();
        EXPECT_EQ(runDebugScript(rig.engine, script, out, deadline(std::chrono::seconds(1))), 2) << line;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "line 1: state files need the whole machine\n");
    }
    EXPECT_FALSE(std::filesystem::exists("a.st"));
}

TEST(DebugScript, SavestateKeepsThePrintTrapLinesNotYetShown) {
    // 0000 LD HL,0008 / 0003 ED FE (print "hi") / 0005 JR 0005 / 0008 "hi"
    const std::vector<uint8_t> program = {0x21, 0x08, 0x00, 0xED, 0xFE, 0x18, 0xFE, 0x00, 'h', 'i', 0x00};
    const auto folder = std::filesystem::temp_directory_path() / ("pdemu-dbg-lines-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const auto rom = folder / "os.pgm";
    {
        std::ofstream file(rom, std::ios::binary);
        file.write(reinterpret_cast<const char*>(program.data()), static_cast<std::streamsize>(program.size()));
    }
    const std::string state = (folder / "lines.st").string();
    SilentReporter reporter;
    FixedClock clock(FixedClock::at(2001, 2, 3, 4, 5, 6));
    Machine machine(reporter, clock);
    machine.romImagePath = rom.string();
    ASSERT_TRUE(machine.startMachine());
    ASSERT_TRUE(waitUntil([&] { return machine.hasDebugText(); }));

    std::istringstream script("open\nwait\nsavestate " + state + "\n");
    std::ostringstream out;
    ASSERT_EQ(runDebugScript(machine, script, out, deadline()), 0);
    const StateRead read = readStateFile(state, machine.romDigest());
    ASSERT_TRUE(read.state.has_value()) << read.problem;
    EXPECT_EQ(read.state->debugLines, std::vector<std::string>{"hi"});
    EXPECT_EQ(machine.takeDebugLines(), std::vector<std::string>{"hi"});  // still there to be shown
    machine.stopMachine();
    std::filesystem::remove_all(folder);
}
