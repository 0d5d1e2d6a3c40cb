// Debugger engine on a real emulation thread: breakpoints, the break trap,
// stepping, interrupts, the listing, the trace file, the hexdump and the
// register editor. Every wait is bounded (EngineRig.h).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "EngineRig.h"
#include "debugger/ViewQueue.h"

namespace {

// 0000 LD SP,F000 / 0003 NOP / 0004 NOP / 0005 INC A / 0006 JR 0003
void loadCountingLoop(EngineRig& rig) {
    rig.load(0x0000, {0x31, 0x00, 0xF0, 0x00, 0x00, 0x3C, 0x18, 0xFB});
}

std::string listLine(const char* text) { return std::string("list: ") + text; }

std::filesystem::path freshFolder(const std::string& name) {
    const auto folder = std::filesystem::temp_directory_path() /
                        ("pdemu-dbg-" + name + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// "Tracefile startet at: DD.MM.YYYY, hh:mm:ss" and CR LF, '9' standing for a digit.
bool isTraceHeaderLine(const std::string& line) {
    const std::string mask = "Tracefile startet at: 99.99.9999, 99:99:99\r\n";
    if (line.size() != mask.size())
        return false;
    for (std::size_t i = 0; i < mask.size(); ++i)
        if (mask[i] == '9' ? !std::isdigit(static_cast<unsigned char>(line[i])) : line[i] != mask[i])
            return false;
    return true;
}

}  // namespace

TEST(DebuggerBreakpoints, FieldsAreHexZeroIsEmptyAndEmptiedFieldsKeepTheirSlots) {
    MemoryMap memory;
    ASSERT_TRUE(memory.allocateImages());
    DebuggerEngine engine(memory);
    RecordingView view;
    engine.setView(&view.text);

    view.typeBreakpoint(1, "100");
    view.typeBreakpoint(2, "1a2bz");
    view.typeBreakpoint(3, "123456");
    engine.readBreakpointFields();
    EXPECT_EQ(engine.breakpoint(1), 0x100u);
    EXPECT_EQ(engine.breakpoint(2), 0x1A2Bu);  // read up to the first non-hex character
    EXPECT_EQ(engine.breakpoint(3), 0x1234u);  // at most four characters

    view.typeBreakpoint(1, "0");
    view.typeBreakpoint(2, "");
    view.typeBreakpoint(3, "xyz");
    engine.readBreakpointFields();
    EXPECT_EQ(engine.breakpoint(1), 0u);       // "0" is no breakpoint
    EXPECT_EQ(engine.breakpoint(2), 0x1A2Bu);  // emptied field keeps its slot
    EXPECT_EQ(engine.breakpoint(3), 0x1234u);  // no leading hex digit: no value

    Z80State regs{};
    regs.PC.w = 0x0010;  // flash is 0xFF there: RST 38h, one byte
    EXPECT_EQ(engine.breakTrap(regs), 1);
    EXPECT_EQ(engine.breakpoint(4), 0x0011u);
    EXPECT_TRUE(engine.takeOpenRequest());
    EXPECT_FALSE(engine.takeOpenRequest());

    engine.clearBreaks();
    for (int n = 1; n <= 4; ++n)
        EXPECT_EQ(engine.breakpoint(n), 0u) << n;
    for (int n = 1; n <= 3; ++n) {
        EXPECT_TRUE(view.contains("field " + std::to_string(n) + ": "));
        EXPECT_TRUE(view.contains("label " + std::to_string(n) + ": " + std::to_string(n)));
        EXPECT_EQ(view.text.getBreakpointField(n), "");
    }
    engine.setView(nullptr);
}

TEST(DebuggerBreakpoints, LowerSlotWinsAndTheStopAfterGoRewritesEveryField) {
    EngineRig rig;
    loadCountingLoop(rig);
    rig.start();
    ASSERT_TRUE(rig.openAndHold());

    rig.setBreakpoint(2, "5");
    rig.setBreakpoint(3, "0005");
    const std::size_t mark = rig.view.size();
    ASSERT_TRUE(rig.go());
    EXPECT_EQ(rig.heldPC(), 0x0005);
    EXPECT_TRUE(rig.view.contains("status: Running ...", mark));
    EXPECT_TRUE(rig.view.contains("status: Breakpoint (2) hit at:5", mark));
    EXPECT_TRUE(rig.view.contains("label 2: *", mark));
    EXPECT_FALSE(rig.view.contains("label 3: *", mark));
    EXPECT_TRUE(rig.view.contains("controls: on", mark));
    EXPECT_TRUE(rig.view.contains(listLine("0005:INC A"), mark));

    // Go emptied the fields; the stop writes all eight, unchanged zeros too.
    std::vector<std::string> regs = rig.view.matching("reg ", mark);
    ASSERT_EQ(regs.size(), 16u);
    EXPECT_EQ(regs[0], "reg AF: ");
    std::vector<std::string> written(regs.begin() + 8, regs.end());
    char af[16];
    std::snprintf(af, sizeof af, "reg AF: %04X", rig.cpu.AF.w);
    EXPECT_EQ(written, (std::vector<std::string>{af, "reg HL: 0000", "reg DE: 0000", "reg BC: 0000",
                                                 "reg PC: 0005", "reg SP: F000", "reg IX: 0000", "reg IY: 0000"}));

    // Step over INC A: only the fields that changed are written again.
    const std::size_t mark2 = rig.view.size();
    ASSERT_TRUE(rig.stepOver());
    EXPECT_EQ(rig.heldPC(), 0x0006);
    std::snprintf(af, sizeof af, "reg AF: %04X", rig.cpu.AF.w);
    EXPECT_EQ(rig.view.matching("reg ", mark2), (std::vector<std::string>{af, "reg PC: 0006"}));
    EXPECT_EQ(rig.view.matching("list: ", mark2), std::vector<std::string>{listLine("0006:JR -05h")});

    // Stop while already stopped: the held loop answers it, nothing runs.
    const std::size_t mark3 = rig.view.size();
    rig.engine.stop();
    ASSERT_TRUE(waitUntil([&] { return rig.view.size() >= mark3 + 2; }));
    EXPECT_EQ(rig.view.linesFrom(mark3), (std::vector<std::string>{"status: Stopped ...", "controls: on"}));
    EXPECT_EQ(rig.heldPC(), 0x0006);
}

TEST(DebuggerBreakTrap, ReportedAsBreakpointFourAndGoneAfterwards) {
    // 0000 LD SP,F000 / 0003 ED FF / 0005 NOP / 0006 NOP / 0007 INC A
    // 0008 IN A,(1) / 000A OR A / 000B JR Z,0008 / 000D JR 0006
    const std::initializer_list<uint8_t> program = {0x31, 0x00, 0xF0, 0xED, 0xFF, 0x00, 0x00, 0x3C,
                                                    0xDB, 0x01, 0xB7, 0x28, 0xFB, 0x18, 0xF7};
    {
        // Engine on and running: the trap stops right after the instruction behind it.
        EngineRig rig;
        rig.load(0, program);
        rig.engine.windowShown();
        rig.engine.go();
        const uint32_t holds = rig.engine.holdCount();
        rig.start();
        ASSERT_TRUE(rig.waitHeldAfter(holds));
        EXPECT_EQ(rig.heldPC(), 0x0006);
        EXPECT_TRUE(rig.view.contains("status: Breakpoint (4) hit at:6"));
        EXPECT_EQ(rig.view.matching("label").size(), 3u);  // only Go's "1", "2", "3": slot 4 has no label
        EXPECT_EQ(rig.engine.breakpoint(4), 0u);
        EXPECT_TRUE(rig.engine.takeOpenRequest());
    }
    {
        // Engine off: the trap only arms slot 4 and asks for the window.
        EngineRig rig;
        rig.load(0, program);
        rig.start();
        ASSERT_TRUE(waitUntil([&] { return rig.engine.openRequested(); }));
        EXPECT_EQ(rig.engine.breakpoint(4), 0x0006u);
        EXPECT_TRUE(rig.view.linesFrom().empty());

        // The timer's service: open the window (which stops), then Stop.
        ASSERT_TRUE(rig.engine.takeOpenRequest());
        const uint32_t holds = rig.engine.holdCount();
        rig.engine.windowShown();
        rig.engine.stop();
        ASSERT_TRUE(rig.waitHeldAfter(holds));
        EXPECT_TRUE(rig.view.contains("status: Stopped ..."));
        EXPECT_GE(rig.heldPC(), 0x0008);

        // Released from its wait loop, the program reaches the armed slot once.
        rig.port1.store(1);
        ASSERT_TRUE(rig.go());
        EXPECT_EQ(rig.heldPC(), 0x0006);
        EXPECT_TRUE(rig.view.contains("status: Breakpoint (4) hit at:6"));
        EXPECT_EQ(rig.engine.breakpoint(4), 0u);
        const uint32_t after = rig.engine.holdCount();
        rig.engine.go();
        EXPECT_FALSE(waitUntil([&] { return rig.engine.holdCount() != after; }, std::chrono::milliseconds(200)));
    }
}

TEST(DebuggerStepping, StepOverCallReturnsAfterTheCallAndOverRetWaitsForTheSameSp) {
    EngineRig rig;
    // 0000 LD SP,F000 / 0003 CALL 0020 / 0006 NOP / 0007 JR 0003 ; 0020 NOP / 0021 RET
    rig.load(0x0000, {0x31, 0x00, 0xF0, 0xCD, 0x20, 0x00, 0x00, 0x18, 0xFA});
    rig.load(0x0020, {0x00, 0xC9});
    rig.start();
    ASSERT_TRUE(rig.openAndHold());
    rig.setBreakpoint(1, "3");
    ASSERT_TRUE(rig.go());
    ASSERT_EQ(rig.heldPC(), 0x0003);

    std::size_t mark = rig.view.size();
    ASSERT_TRUE(rig.stepOver());
    EXPECT_EQ(rig.heldPC(), 0x0006);
    EXPECT_EQ(rig.cpu.SP.w, 0xF000);
    EXPECT_EQ(rig.view.matching("list: ", mark), std::vector<std::string>{listLine("0006:NOP")});

    rig.engine.clearBreaks();
    rig.setBreakpoint(1, "21");
    ASSERT_TRUE(rig.go());
    ASSERT_EQ(rig.heldPC(), 0x0021);
    ASSERT_EQ(rig.cpu.SP.w, 0xEFFE);
    mark = rig.view.size();
    ASSERT_TRUE(rig.stepOver());
    EXPECT_EQ(rig.heldPC(), 0x0020);  // the next CALL brings SP back to EFFE
    EXPECT_EQ(rig.cpu.SP.w, 0xEFFE);
    EXPECT_EQ(rig.view.matching("list: ", mark), std::vector<std::string>{listLine("0020:NOP")});

    // Step into enters the subroutine and shows every instruction.
    ASSERT_TRUE(rig.stepInto());
    EXPECT_EQ(rig.heldPC(), 0x0021);
    EXPECT_TRUE(rig.view.contains("status: Stepmode invoked", mark));
}

TEST(DebuggerStepping, BlockInstructionIsInspectedOncePerRepetition) {
    EngineRig rig;
    // 0000 LD SP,F000 / 0003 LD HL,C000 / 0006 LD DE,C010 / 0009 LD BC,3 / 000C LDIR / 000E JR 0000
    rig.load(0x0000, {0x31, 0x00, 0xF0, 0x21, 0x00, 0xC0, 0x11, 0x10, 0xC0, 0x01, 0x03, 0x00, 0xED, 0xB0,
                      0x18, 0xF0});
    rig.start(21);  // a slice of 21 T-states holds one LDIR iteration
    ASSERT_TRUE(rig.openAndHold());
    rig.setBreakpoint(1, "9");  // LD BC: the Stop may have landed inside the LDIR
    ASSERT_TRUE(rig.go());
    ASSERT_EQ(rig.heldPC(), 0x0009);
    ASSERT_TRUE(rig.stepInto());
    ASSERT_EQ(rig.heldPC(), 0x000C);
    EXPECT_EQ(rig.cpu.BC.w, 3);

    const std::size_t mark = rig.view.size();
    ASSERT_TRUE(rig.stepInto());
    EXPECT_EQ(rig.heldPC(), 0x000C);
    EXPECT_EQ(rig.cpu.BC.w, 2);
    ASSERT_TRUE(rig.stepOver());  // SP unchanged: the next repetition
    EXPECT_EQ(rig.heldPC(), 0x000C);
    EXPECT_EQ(rig.cpu.BC.w, 1);
    ASSERT_TRUE(rig.stepInto());
    EXPECT_EQ(rig.heldPC(), 0x000E);
    EXPECT_EQ(rig.cpu.BC.w, 0);
    EXPECT_EQ(rig.view.matching("list: ", mark),
              (std::vector<std::string>{listLine("000C:LDIR"), listLine("000C:LDIR"), listLine("000E:JR -10h")}));
}

TEST(DebuggerInterrupts, StepIntoWithAPendingInterruptStopsAtTheInterruptedAddress) {
    EngineRig rig;
    // 0000 LD SP,F000 / 0003 IM 1 / 0005 EI / 0006 NOP / 0007 NOP / 0008 NOP / 0009 JR 0006
    // 0038 OUT (0),A / 003A EI / 003B RET
    rig.load(0x0000, {0x31, 0x00, 0xF0, 0xED, 0x56, 0xFB, 0x00, 0x00, 0x00, 0x18, 0xFB});
    rig.load(0x0038, {0xD3, 0x00, 0xFB, 0xC9});
    rig.start(4);  // every instruction ends a slice, so the request is taken right after the step
    ASSERT_TRUE(rig.openAndHold());
    rig.setBreakpoint(1, "7");
    ASSERT_TRUE(rig.go());
    ASSERT_EQ(rig.heldPC(), 0x0007);

    rig.irq.store(true);
    const uint64_t served = rig.interruptsServed.load();
    const std::size_t mark = rig.view.size();
    ASSERT_TRUE(rig.stepInto());
    EXPECT_EQ(rig.heldPC(), 0x0008);
    EXPECT_EQ(rig.interruptsServed.load(), served + 1);
    EXPECT_EQ(rig.cpu.SP.w, 0xF000);
    EXPECT_EQ(rig.view.matching("list: ", mark), std::vector<std::string>{listLine("0008:NOP")});
}

TEST(DebuggerInterrupts, HandlersAndHaltAreNeitherShownNorTracedNorStopped) {
    EngineRig rig;
    const auto folder = freshFolder("irq");
    rig.engine.setTraceDirectory(folder);
    // 0000 LD SP,F000 / 0003 EI / 0004 HALT / 0005 IN A,(1) / 0007 OR A / 0008 JR Z,0004
    // 000A CALL 003A / 000D JR 0004 ; 0038 OUT (0),A / 003A EI / 003B RET
    rig.load(0x0000, {0x31, 0x00, 0xF0, 0xFB, 0x76, 0xDB, 0x01, 0xB7, 0x28, 0xFA, 0xCD, 0x3A, 0x00, 0x18, 0xF5});
    rig.load(0x0038, {0xD3, 0x00, 0xFB, 0xC9});
    rig.irqEverySlices.store(3);
    rig.start();
    ASSERT_TRUE(rig.openAndHold());
    // The opening may land in a handler entered while the debugger was
    // closed; a stop in the main loop first puts the handlers behind.
    rig.setBreakpoint(2, "5");
    ASSERT_TRUE(rig.go());
    rig.engine.clearBreaks();
    rig.setBreakpoint(1, "3A");  // inside the handler
    rig.engine.selectTraceOn();

    // Running: the handler's breakpoint does not fire while it serves interrupts.
    const uint32_t holds = rig.engine.holdCount();
    uint64_t served = rig.interruptsServed.load();
    rig.engine.go();
    ASSERT_TRUE(waitUntil([&] { return rig.interruptsServed.load() >= served + 20; }));
    EXPECT_EQ(rig.engine.holdCount(), holds);

    // Animating: shown lines come from the main loop only.
    const std::size_t mark = rig.view.size();
    served = rig.interruptsServed.load();
    rig.engine.animate();
    ASSERT_TRUE(waitUntil([&] {
        return rig.interruptsServed.load() >= served + 20 && rig.view.matching("list: ", mark).size() >= 40;
    }));
    rig.engine.stop();
    ASSERT_TRUE(rig.waitHeldAfter(holds));
    rig.engine.selectTraceOff();
    const std::vector<std::string> shown = rig.view.matching("list: ", mark);
    for (const std::string& line : shown) {
        EXPECT_EQ(line.find("HALT"), std::string::npos) << line;
        EXPECT_NE(line.rfind("list: 003", 0), 0u) << line;
    }
    EXPECT_TRUE(rig.view.contains(listLine("0005:INA (01h)"), mark));

    const std::string trace = readFile(folder / "trace.txt");
    EXPECT_NE(trace.find("\r\n0005:INA (01h)\r\n"), std::string::npos);
    EXPECT_EQ(trace.find("0004:"), std::string::npos);
    EXPECT_EQ(trace.find("0038:"), std::string::npos);
    EXPECT_EQ(trace.find("003A:"), std::string::npos);

    // The same code called from the main loop does stop.
    rig.port1.store(1);
    ASSERT_TRUE(rig.go());
    EXPECT_EQ(rig.heldPC(), 0x003A);
    EXPECT_TRUE(rig.view.contains("status: Breakpoint (1) hit at:3a"));
    std::filesystem::remove_all(folder);
}

TEST(DebuggerListing, ClearedOnThe1025thEntryAndAtOnceByClearList) {
    EngineRig rig;
    loadCountingLoop(rig);
    rig.start();
    ASSERT_TRUE(rig.openAndHold());

    const std::size_t mark = rig.view.size();
    rig.engine.go();
    rig.engine.animate();
    ASSERT_TRUE(waitUntil([&] { return rig.view.matching("list: ", mark).size() >= 1100; }));
    const uint32_t holds = rig.engine.holdCount();
    rig.engine.stop();
    ASSERT_TRUE(rig.waitHeldAfter(holds));

    const std::vector<std::string> lines = rig.view.linesFrom(mark);
    auto clear = std::find(lines.begin(), lines.end(), "list-clear");  // Go's
    ASSERT_NE(clear, lines.end());
    auto next = std::find(clear + 1, lines.end(), "list-clear");  // the 1025th entry's
    ASSERT_NE(next, lines.end());
    EXPECT_EQ(std::count_if(clear, next, [](const std::string& l) { return l.rfind("list: ", 0) == 0; }), 1024);
    ASSERT_TRUE(next + 1 != lines.end());
    EXPECT_EQ((next + 1)->rfind("list: ", 0), 0u);

    const std::size_t mark2 = rig.view.size();
    rig.engine.clearList();
    EXPECT_EQ(rig.view.linesFrom(mark2), std::vector<std::string>{"list-clear"});
    ASSERT_TRUE(rig.stepInto());
    EXPECT_FALSE(rig.view.contains("list-clear", mark2 + 1));
    EXPECT_EQ(rig.view.matching("list: ", mark2).size(), 1u);
}

TEST(DebuggerTrace, HeaderUnderlineMatchesItsLineAndRunsAppend) {
    const auto folder = freshFolder("trace");
    MemoryMap memory;
    ASSERT_TRUE(memory.allocateImages());
    {
        DebuggerEngine engine(memory);
        engine.setTraceDirectory(folder);
        engine.selectTraceOn();
        EXPECT_FALSE(std::filesystem::exists(folder / "trace.txt"));  // buffered
        engine.selectTraceOff();
    }
    const std::string first = readFile(folder / "trace.txt");
    const std::size_t lineEnd = first.find("\r\n") + 2;
    const std::string line = first.substr(0, lineEnd);
    EXPECT_TRUE(isTraceHeaderLine(line)) << line;
    EXPECT_EQ(first.substr(lineEnd), std::string(line.size(), '=') + "\r\n");

    {
        // Tracing still on at exit: the buffer is written then, after the first run's text.
        DebuggerEngine engine(memory);
        engine.setTraceDirectory(folder);
        engine.selectTraceOn();
        EXPECT_EQ(readFile(folder / "trace.txt"), first);
    }
    const std::string both = readFile(folder / "trace.txt");
    ASSERT_EQ(both.size(), 2 * first.size());
    EXPECT_EQ(both.substr(0, first.size()), first);
    EXPECT_TRUE(isTraceHeaderLine(both.substr(first.size(), line.size())));
    std::filesystem::remove_all(folder);
}

TEST(DebuggerHexdump, RowsFollowTheLengthFieldAndStopBeforeFFFF) {
    EngineRig rig;
    loadCountingLoop(rig);
    rig.load(0xC000, {0x20, 0x00, 0x80, 0xFF, 0x7F, 0x41, 0x21, 0x7E});
    rig.start();
    ASSERT_TRUE(rig.openAndHold());

    auto dump = [&](const char* length, const char* address) {
        rig.view.typeLength(length);
        rig.view.typeAddress(address);
        const std::size_t mark = rig.view.size();
        rig.engine.requestHexdump();
        EXPECT_TRUE(waitUntil([&] { return !rig.engine.hexdumpPending(); }));
        std::vector<std::string> lines = rig.view.matching("dump: ", mark);
        EXPECT_GE(lines.size(), 4u);
        if (lines.size() >= 4) {
            EXPECT_EQ(lines[0], "dump: ");
            EXPECT_EQ(lines[1], "dump: Banks: Rom:0(x00) Ram:0(x00)");
            EXPECT_EQ(lines[2], "dump: Adr. |Hex                     |Char");
            EXPECT_EQ(lines[3], "dump: -----|------------------------|----------------------");
            lines.erase(lines.begin(), lines.begin() + 4);
        }
        std::vector<std::string> starts;
        for (const std::string& l : lines)
            starts.push_back(l.substr(6, 4));
        return std::make_pair(lines, starts);
    };

    auto [lines, starts] = dump("1F", "C000");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "dump: C000  20 00 80 FF 7F 41 21 7E   .  .  .  .  \x7F  A  !  ~  ");
    EXPECT_EQ(lines[0].size(), 6u + 56u);
    EXPECT_EQ(starts[1], "C008");

    EXPECT_EQ(dump("100", "C000").first.size(), 32u);
    EXPECT_EQ(dump("", "C000").first.size(), 32u);
    EXPECT_EQ(dump("0", "C000").first.size(), 2u);
    EXPECT_EQ(dump("F", "C000").first.size(), 2u);
    EXPECT_EQ(dump("20", "FFEF").second, (std::vector<std::string>{"FFEF", "FFF7"}));
    EXPECT_EQ(dump("20", "FFF8").second, (std::vector<std::string>{"FFF8", "0000", "0008", "0010"}));
    char pc[8];
    std::snprintf(pc, sizeof pc, "%04X", rig.heldPC());
    const auto fromPc = dump("10", "").second;  // empty address: the current PC
    ASSERT_EQ(fromPc.size(), 2u);
    EXPECT_EQ(fromPc[0], pc);
}

TEST(DebuggerRegisterEditor, RegisterTextsAndBankedWritesOfEveryWidth) {
    EngineRig rig;
    loadCountingLoop(rig);
    rig.start();
    ASSERT_TRUE(rig.openAndHold());
    const uint16_t hl = rig.cpu.HL.w;
    const uint16_t bc = rig.cpu.BC.w;

    DebuggerEngine::RegisterEdit edit;
    edit.af = "1234";
    edit.de = "abcd";
    edit.bc = "zz";
    edit.ix = "12345";
    std::size_t mark = rig.view.size();
    ASSERT_TRUE(rig.engine.applyRegisterEdit(edit));
    EXPECT_EQ(rig.cpu.AF.w, 0x1234);
    EXPECT_EQ(rig.cpu.DE.w, 0xABCD);
    EXPECT_EQ(rig.cpu.IX.w, 0x1234);
    EXPECT_EQ(rig.cpu.HL.w, hl);
    EXPECT_EQ(rig.cpu.BC.w, bc);
    EXPECT_EQ(rig.view.matching("reg ", mark),
              (std::vector<std::string>{"reg AF: 1234", "reg DE: ABCD", "reg IX: 1234"}));
    EXPECT_EQ(rig.view.matching("list: ", mark).size(), 1u);  // the current line once more

    auto poke = [&](bool ram, const char* bank, const char* address, const char* value) {
        DebuggerEngine::RegisterEdit e;
        e.bankIsRam = ram;
        e.bank = bank;
        e.address = address;
        e.value = value;
        return rig.engine.applyRegisterEdit(e);
    };
    uint8_t* flash = rig.memory.flashImage.get();
    uint8_t* ram = rig.memory.ramImage.get();
    const std::size_t page = MemoryMap::PageSize;
    flash[10 * page + 0x123] = 0x00;
    flash[10 * page + 0x124] = 0xAA;
    ASSERT_TRUE(poke(false, "A", "4123", "7F"));  // two characters: one byte
    EXPECT_EQ(flash[10 * page + 0x123], 0x7F);
    EXPECT_EQ(flash[10 * page + 0x124], 0xAA);
    ASSERT_TRUE(poke(false, "12", "4200", "7"));  // bank "12" is bank 1; one character: a word
    EXPECT_EQ(flash[1 * page + 0x200], 0x07);
    EXPECT_EQ(flash[1 * page + 0x201], 0x00);
    ASSERT_TRUE(poke(false, "1", "4300", "17F"));
    EXPECT_EQ(flash[1 * page + 0x300], 0x7F);
    EXPECT_EQ(flash[1 * page + 0x301], 0x01);
    ASSERT_TRUE(poke(false, "1", "4302", "007F"));
    EXPECT_EQ(flash[1 * page + 0x302], 0x7F);
    EXPECT_EQ(flash[1 * page + 0x303], 0x00);
    ASSERT_TRUE(poke(true, "3", "8000", "BEEF"));
    EXPECT_EQ(ram[3 * page], 0xEF);
    EXPECT_EQ(ram[3 * page + 1], 0xBE);
    ASSERT_TRUE(poke(true, "3", "", "55"));  // no address: registers only
    EXPECT_EQ(ram[3 * page], 0xEF);
    EXPECT_EQ(rig.memory.romBank, 0);  // the processor's mapping is back
    EXPECT_EQ(rig.memory.ramBank, 0);

    // The held processor goes on with the edited registers.
    ASSERT_TRUE(rig.stepInto());
    EXPECT_EQ(rig.cpu.DE.w, 0xABCD);

    // Running: the editor changes nothing.
    rig.engine.go();
    ASSERT_TRUE(waitUntil([&] { return !rig.engine.isHeld(); }));
    edit.de = "1111";
    EXPECT_FALSE(rig.engine.applyRegisterEdit(edit));
}

TEST(DebuggerInterrupts, BreakpointOnHaltIsReportedOnceAndHoldsAfterTheInterrupt) {
    EngineRig rig;
    // 0000 LD SP,F000 / 0003 EI / 0004 HALT / 0005 NOP / 0006 JR 0004 ; 0038 OUT (0),A / 003A EI / 003B RET
    rig.load(0x0000, {0x31, 0x00, 0xF0, 0xFB, 0x76, 0x00, 0x18, 0xFC});
    rig.load(0x0038, {0xD3, 0x00, 0xFB, 0xC9});
    rig.irqEverySlices.store(50);  // the HALT is fetched about 50 times per interrupt
    rig.start();
    ASSERT_TRUE(rig.openAndHold());
    rig.setBreakpoint(1, "4");
    const std::size_t mark = rig.view.size();
    const uint64_t served = rig.interruptsServed.load();
    ASSERT_TRUE(rig.go());
    EXPECT_EQ(rig.heldPC(), 0x0005);
    EXPECT_GE(rig.interruptsServed.load(), served + 1);
    EXPECT_EQ(rig.view.matching("status: Breakpoint", mark),
              std::vector<std::string>{"status: Breakpoint (1) hit at:4"});
    EXPECT_EQ(rig.view.matching("list: ", mark), std::vector<std::string>{listLine("0005:NOP")});
}

TEST(DebuggerInterrupts, AReturnMissedWhileTheEngineWasOffDoesNotHideTheProgram) {
    EngineRig rig;
    // 0000 LD SP,F000 / 0003 EI / 0004 IN A,(1) / 0006 OR A / 0007 JR Z,0004
    // 0009 DI / 000A OUT (2),A / 000C JR 000A ; 0038 OUT (0),A / 003A EI / 003B RET
    rig.load(0x0000, {0x31, 0x00, 0xF0, 0xFB, 0xDB, 0x01, 0xB7, 0x28, 0xFB, 0xF3, 0xD3, 0x02, 0x18, 0xFC});
    rig.load(0x0038, {0xD3, 0x00, 0xFB, 0xC9});
    rig.start();
    rig.irq.store(true);  // taken in the first loop, with the engine off
    ASSERT_TRUE(waitUntil([&] { return rig.interruptsServed.load() == 1; }));
    rig.port1.store(1);  // on to the second loop, never to come back
    ASSERT_TRUE(waitUntil([&] { return rig.port2Writes.load() > 0; }));
    ASSERT_TRUE(rig.openAndHold());
    EXPECT_TRUE(rig.heldPC() == 0x000A || rig.heldPC() == 0x000C) << rig.heldPC();
}

TEST(DebuggerInterrupts, AHandlerLeftWhenTheDebuggerClosedIsForgottenAtTheNextInterrupt) {
    EngineRig rig;
    // 0000 LD SP,F000 / 0003 EI / 0004 IN A,(1) / 0006 OR A / 0007 JR Z,0004 / 0009 CALL 0010
    // 0010 NOP / 0011 JR 0010
    // 0038 OUT (0),A / 003A IN A,(1) / 003C OR A / 003D JR Z,003A / 003F EI / 0040 RET
    rig.load(0x0000, {0x31, 0x00, 0xF0, 0xFB, 0xDB, 0x01, 0xB7, 0x28, 0xFB, 0xCD, 0x10, 0x00});
    rig.load(0x0010, {0x00, 0x18, 0xFD});
    rig.load(0x0038, {0xD3, 0x00, 0xDB, 0x01, 0xB7, 0x28, 0xFB, 0xFB, 0xC9});
    rig.start();
    ASSERT_TRUE(rig.openAndHold());
    rig.setBreakpoint(1, "4");
    ASSERT_TRUE(rig.go());
    rig.engine.clearBreaks();

    // The debugger follows this interrupt and is closed while its handler waits.
    rig.irq.store(true);
    rig.engine.go();
    ASSERT_TRUE(waitUntil([&] { return rig.interruptsServed.load() == 1; }));
    rig.engine.switchOff();
    // The handler returns unseen; the program goes deeper on the stack and
    // interrupts go on while the debugger is closed.
    rig.port1.store(1);
    rig.irqEverySlices.store(5);
    ASSERT_TRUE(waitUntil([&] { return rig.interruptsServed.load() >= 3; }));
    rig.irqEverySlices.store(0);  // no interrupt after the opening to set things right
    ASSERT_TRUE(waitUntil([&] { return !rig.irq.load(); }));
    ASSERT_TRUE(rig.openAndHold());
    const uint16_t pc = rig.heldPC();
    EXPECT_TRUE(pc == 0x0010 || pc == 0x0011 || (pc >= 0x0038 && pc <= 0x0040)) << pc;
}

TEST(DebuggerStepping, StepOverStopsAtEveryStackPointerIncludingZero) {
    // 0000 LD SP,nnnn / 0003 NOP / 0004 CALL 0010 / 0007 NOP / 0008 JR 0004 ; 0010 NOP / 0011 RET
    for (const uint16_t sp : {0x0000, 0xC002, 0xF000, 0xFFFF}) {
        SCOPED_TRACE(sp);
        EngineRig rig;
        rig.load(0x0000, {0x31, static_cast<uint8_t>(sp), static_cast<uint8_t>(sp >> 8), 0x00, 0xCD, 0x10, 0x00,
                          0x00, 0x18, 0xFA});
        rig.load(0x0010, {0x00, 0xC9});
        rig.start();
        ASSERT_TRUE(rig.openAndHold());
        rig.setBreakpoint(1, "4");
        ASSERT_TRUE(rig.go());
        ASSERT_EQ(rig.heldPC(), 0x0004);
        ASSERT_EQ(rig.cpu.SP.w, sp);
        rig.engine.clearBreaks();
        ASSERT_TRUE(rig.stepOver());
        EXPECT_EQ(rig.heldPC(), 0x0007);
    }
}

TEST(DebuggerStepping, StepOverCompletingAfterGoShowsTheStop) {
    // 0000 LD SP,F000 / 0003 NOP / 0004 CALL 0010 / 0007 NOP / 0008 JR 0004
    // 0010 IN A,(1) / 0012 OR A / 0013 JR Z,0010 / 0015 RET
    EngineRig rig;
    rig.load(0x0000, {0x31, 0x00, 0xF0, 0x00, 0xCD, 0x10, 0x00, 0x00, 0x18, 0xFA});
    rig.load(0x0010, {0xDB, 0x01, 0xB7, 0x28, 0xFB, 0xC9});
    rig.port1.store(1);  // the subroutine returns at once until the step over
    rig.start();
    ASSERT_TRUE(rig.openAndHold());
    rig.setBreakpoint(1, "4");
    ASSERT_TRUE(rig.go());
    ASSERT_EQ(rig.heldPC(), 0x0004);
    rig.engine.clearBreaks();
    // Step over the CALL, whose subroutine now waits for port 1; Go meanwhile.
    rig.port1.store(0);
    const uint32_t holds = rig.engine.holdCount();
    rig.engine.stepOver();
    ASSERT_TRUE(waitUntil([&] { return !rig.engine.isHeld(); }));
    const std::size_t mark = rig.view.size();
    rig.engine.go();
    rig.port1.store(1);
    ASSERT_TRUE(rig.waitHeldAfter(holds));
    EXPECT_EQ(rig.heldPC(), 0x0007);
    const std::vector<std::string> shown = rig.view.linesFrom(mark);
    const auto running = std::find(shown.begin(), shown.end(), "status: Running ...");
    ASSERT_NE(running, shown.end());
    const std::vector<std::string> afterGo(running, shown.end());
    ASSERT_GE(afterGo.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(afterGo.begin(), afterGo.begin() + 5),
              (std::vector<std::string>{"status: Running ...", "controls: off", "status: Stopped ...",
                                        "controls: on", "flags: ........"}));
    // Go emptied the fields: all eight are written again.
    EXPECT_EQ(std::count_if(afterGo.begin(), afterGo.end(), [](const std::string& l) { return l.rfind("reg ", 0) == 0; }),
              8);
    EXPECT_EQ(afterGo.back(), listLine("0007:NOP"));
}

TEST(DebuggerInterrupts, BreakTrapBeforeAHaltIsReportedWhenTheDebuggerOpensOnTheHalt) {
    // 0000 LD SP,F000 / 0003 ED FF / 0005 EI / 0006 HALT / 0007 NOP / 0008 JR 0006
    // 0038 OUT (0),A / 003A EI / 003B RET
    EngineRig rig;
    rig.load(0x0000, {0x31, 0x00, 0xF0, 0xED, 0xFF, 0xFB, 0x76, 0x00, 0x18, 0xFC});
    rig.load(0x0038, {0xD3, 0x00, 0xFB, 0xC9});
    rig.start();
    // The trap arms breakpoint 4 on the HALT, which is first fetched while the debugger is closed.
    ASSERT_TRUE(waitUntil([&] { return rig.engine.openRequested(); }));
    EXPECT_EQ(rig.engine.breakpoint(4), 0x0006u);
    const uint64_t slices = rig.slices.load();
    ASSERT_TRUE(waitUntil([&] { return rig.slices.load() > slices + 3; }));  // one slice per repeated HALT

    // The timer opens the debugger on the halted processor: the arrival counts.
    ASSERT_TRUE(rig.engine.takeOpenRequest());
    rig.engine.windowShown();
    ASSERT_TRUE(waitUntil([&] { return rig.engine.breakpoint(4) == 0; }));
    const uint32_t holds = rig.engine.holdCount();
    rig.irq.store(true);
    ASSERT_TRUE(rig.waitHeldAfter(holds));
    EXPECT_EQ(rig.heldPC(), 0x0007);  // the HALT is never held: the stop comes after the interrupt
    EXPECT_EQ(rig.view.matching("status: Breakpoint"), std::vector<std::string>{"status: Breakpoint (4) hit at:6"});

    // Later passes of the HALT report nothing.
    rig.engine.go();
    rig.irqEverySlices.store(20);
    ASSERT_TRUE(waitUntil([&] { return rig.interruptsServed.load() >= 4; }));
    EXPECT_EQ(rig.view.matching("status: Breakpoint").size(), 1u);
    EXPECT_FALSE(rig.engine.isHeld());
}

TEST(DebuggerCommands, TheStopIsShownBeforeTheInstructionItHolds) {
    // Opening the window and Stop given while running: the status comes
    // first, whenever the emulation thread looks at the command.
    enum class How { OpenTheWindow, StopWhileRunning };
    for (const How how : {How::OpenTheWindow, How::StopWhileRunning}) {
        EngineRig rig;
        loadCountingLoop(rig);
        rig.start();
        if (how == How::StopWhileRunning) {
            ASSERT_TRUE(rig.openAndHold());
            rig.engine.go();
        }
        for (int round = 0; round < 100; ++round) {
            SCOPED_TRACE(round);
            ASSERT_TRUE(waitUntil([&] { return !rig.engine.isHeld(); }));
            const std::size_t mark = rig.view.size();
            const uint32_t holds = rig.engine.holdCount();
            if (how == How::OpenTheWindow)
                rig.engine.windowShown();
            else
                rig.engine.stop();
            ASSERT_TRUE(rig.waitHeldAfter(holds));
            const std::vector<std::string> shown = rig.view.linesFrom(mark);
            ASSERT_GE(shown.size(), 3u);
            ASSERT_EQ(shown[0], "status: Stopped ...");
            ASSERT_EQ(shown[1], "controls: on");
            ASSERT_EQ(shown[2].rfind("flags: ", 0), 0u);
            if (how == How::OpenTheWindow)
                rig.engine.switchOff();
            else
                rig.engine.go();
        }
    }
}

// With a view that shows later (the windows), Animate shows one instruction,
// then waits until the view has shown it: the window is never more than one
// instruction behind. A command ends the wait at once, shown or not.
TEST(DebuggerEngine, AnimateWaitsForAViewThatShowsLaterAfterEveryInstruction) {
    EngineRig rig;
    // 0000 LD SP,F000 / 0003 INC A / 0004 INC B / 0005 JR 0003
    rig.load(0, {0x31, 0x00, 0xF0, 0x3C, 0x04, 0x18, 0xFC});
    ViewQueue late(std::this_thread::get_id(), nullptr, [&] { rig.engine.viewCaughtUp(); });
    late.setTarget(&rig.view.text);
    rig.engine.setView(&late);
    rig.start();
    ASSERT_TRUE(rig.openAndHold());
    late.showPending();
    const uint32_t holds = rig.engine.holdCount();
    rig.engine.animate();
    const std::size_t mark = rig.view.size();
    // An instruction's calls may be shown in two parts (the view can catch
    // up while the engine is still making them), but never more than one
    // instruction comes between two showings.
    constexpr int rounds = 40;
    for (int round = 0; round < rounds; ++round) {
        ASSERT_TRUE(waitUntil([&] { return late.showingBehind(); })) << round;
        late.showPending();
        ASSERT_LE(rig.view.matching("list: ", mark).size(), static_cast<std::size_t>(round + 1)) << round;
    }
    const std::vector<std::string> shown = rig.view.matching("list: ", mark);
    ASSERT_GE(shown.size(), static_cast<std::size_t>(rounds / 6));
    // The loop's instructions in turn, none left out.
    const std::vector<std::string> loop = {"list: 0003:INC A", "list: 0004:INC B", "list: 0005:JR -04h"};
    const auto at = std::find(loop.begin(), loop.end(), shown[0]);
    ASSERT_NE(at, loop.end()) << shown[0];
    for (std::size_t i = 0; i < shown.size(); ++i)
        EXPECT_EQ(shown[i], loop[(static_cast<std::size_t>(at - loop.begin()) + i) % 3]) << i;
    ASSERT_TRUE(waitUntil([&] { return late.showingBehind(); }));
    rig.engine.stop();
    ASSERT_TRUE(rig.waitHeldAfter(holds));
    EXPECT_TRUE(late.showingBehind());
    rig.engine.setView(&rig.view.text);
}
