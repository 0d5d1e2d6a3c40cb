// Tests of the headless runner's parts that need no machine: the command
// line, the input script and the screen PNG.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "InputScript.h"
#include "RunOptions.h"
#include "machine/ScreenPng.h"
#include "machine/HostClock.h"
#include "machine/MemoryMap.h"
#include "machine/Ports.h"

namespace {

TEST(RunOptions, ReadsEveryOptionAndKeepsInstallOrder) {
    const ParseResult r = parseRunOptions({"--rom", "a.pgm", "--save", "s.sav", "--install", "x.app", "--install",
                                           "y.app", "--tstates", "123", "--until-break", "--timeout", "2.5",
                                           "--input", "in.txt", "--debug", "d.txt", "--clock", "2024-02-29 23:59:58", "--screen",
                                           "s.png", "--disasm", "4a0f:3", "--disasm", "PC:1", "--record-screen", "r.png"});
    ASSERT_EQ(r.error, "");
    const RunOptions& o = r.options;
    EXPECT_EQ(o.romPath, "a.pgm");
    EXPECT_EQ(o.savePath, "s.sav");
    EXPECT_EQ(o.installPaths, (std::vector<std::string>{"x.app", "y.app"}));
    EXPECT_EQ(o.tstates, 123u);
    EXPECT_TRUE(o.untilBreak);
    EXPECT_EQ(o.timeoutSeconds, 2.5);
    EXPECT_EQ(o.inputPath, "in.txt");
    EXPECT_EQ(o.debugPath, "d.txt");
    ASSERT_TRUE(o.clock.has_value());
    EXPECT_EQ(o.clock->day, 29);
    EXPECT_EQ(o.clock->second, 58);
    ASSERT_EQ(o.disasm.size(), 2u);
    EXPECT_EQ(o.disasm[0].address, 0x4A0F);
    EXPECT_EQ(o.disasm[0].count, 3);
    EXPECT_TRUE(o.disasm[1].atPc);
    EXPECT_EQ(o.screenPath, "s.png");
    EXPECT_EQ(o.recordScreenPath, "r.png");
}

TEST(RunOptions, RejectsBadCommandLinesWithOneLine) {
    EXPECT_NE(parseRunOptions({"--tstates"}).error, "");
    EXPECT_NE(parseRunOptions({"--tstates", "12x"}).error, "");
    EXPECT_NE(parseRunOptions({"--tstates", "-5"}).error, "");
    for (const char* endless : {"0", "-1", "inf", "INF", "infinity", "nan", "-nan", "1e999"})
        EXPECT_NE(parseRunOptions({"--timeout", endless}).error, "") << endless;
    EXPECT_NE(parseRunOptions({"--bogus"}).error, "");
    EXPECT_NE(parseRunOptions({"--rom", "a.pgm"}).error, "");  // nothing would end the run
    EXPECT_EQ(parseRunOptions({"--help"}).error, "");
    for (const auto& r : {parseRunOptions({"--bogus"}), parseRunOptions({"--clock", "x", "--tstates", "1"})})
        EXPECT_EQ(r.error.find('\n'), std::string::npos);
}

TEST(RunOptions, ErrorsQuoteWhatWasTypedPrintably) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--bo\x1b[2Jgus"}, "unknown option '--bo\\x1B[2Jgus'"},
        {{"--tstates", std::string("1\0\n", 3)}, "--tstates wants a decimal count, not '1\\x00\\x0A'"},
    };
    for (const auto& [args, error] : cases)
        EXPECT_EQ(parseRunOptions(args).error, error);
}

TEST(RunOptions, StateAndSessionOptionsCombineAsTheSessionAllows) {
    const ParseResult all = parseRunOptions({"--load-state", "a.st", "--save-state", "b.st", "--record-session",
                                             "c.ss", "--tstates", "5"});
    ASSERT_EQ(all.error, "");
    EXPECT_EQ(all.options.loadStatePath, "a.st");
    EXPECT_EQ(all.options.saveStatePath, "b.st");
    EXPECT_EQ(all.options.recordPath, "c.ss");
    EXPECT_EQ(parseRunOptions({"--replay", "s.ss"}).options.replayPath, "s.ss");

    const std::pair<std::vector<std::string>, std::string> cases[] = {
        // The session's end ends a replay; these go with one.
        {{"--replay", "s.ss"}, ""},
        {{"--replay", "s.ss", "--tstates", "9", "--screen", "a.png", "--disasm", "PC:1", "--debug", "d.txt", "--save",
          "x.sav", "--save-state", "e.st"},
         ""},
        // (Each option the session holds is refused: see the end-to-end refusals.)
        {{"--install", "x.app", "--replay", "s.ss"},
         "--install does not combine with --replay: the session holds its own"},
        // A loaded state still needs something to end the run.
        {{"--load-state", "a.st"}, "nothing ends the run: give --tstates, --until-break or --timeout"},
        {{"--record-session", "c.ss", "--debug", "d.txt", "--tstates", "5"},
         "--record-session does not combine with --debug: the session would not hold the script's edits"},
    };
    for (const auto& [args, error] : cases)
        EXPECT_EQ(parseRunOptions(args).error, error) << args[0] << " " << args.back();
}

TEST(RunOptions, ClockWantsARealDateAndTime) {
    EXPECT_TRUE(parseClock("2000-02-29 00:00:00"));
    EXPECT_FALSE(parseClock("1900-02-29 00:00:00"));  // not a leap year, and before 1901
    EXPECT_FALSE(parseClock("2023-02-29 00:00:00"));
    EXPECT_FALSE(parseClock("2023-04-31 12:00:00"));
    EXPECT_FALSE(parseClock("2023-13-01 12:00:00"));
    EXPECT_FALSE(parseClock("2023-01-01 24:00:00"));
    EXPECT_FALSE(parseClock("2023-01-01 12:60:00"));
    EXPECT_FALSE(parseClock("2023-01-01T12:00:00"));
    EXPECT_FALSE(parseClock("2023-01-01 12:00:00 "));
}

TEST(RunOptions, DisasmWantsHexAddressAndDecimalCount) {
    const auto r = parseDisasm("FFFF:16");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->address, 0xFFFF);
    EXPECT_EQ(r->count, 16);
    EXPECT_FALSE(parseDisasm("10000:1"));
    EXPECT_FALSE(parseDisasm("4000"));
    EXPECT_FALSE(parseDisasm("4000:0"));
    EXPECT_FALSE(parseDisasm("4000:x"));
    EXPECT_FALSE(parseDisasm("g000:1"));
}

TEST(InputScript, ParsesKeysAndPenAndSortsStablyByTime) {
    const InputScript s = parseInputScript(
        "# comment\n"
        "\n"
        "500 pen 159 271 down\n"
        "100 key L down\n"
        "500 pen 3 4 move\n"
        "100 key ADDR up\n"
        "900 pen 0 0 up\n");
    ASSERT_EQ(s.error, "");
    ASSERT_EQ(s.events.size(), 5u);
    EXPECT_EQ(s.events[0].tstate, 100u);
    EXPECT_EQ(s.events[0].key, 6);  // L
    EXPECT_EQ(s.events[1].key, 0);  // ADDR, after L: same time, file order
    EXPECT_EQ(s.events[1].action, InputEvent::Action::Up);
    EXPECT_EQ(s.events[2].x, 159);
    EXPECT_EQ(s.events[2].y, 271);
    EXPECT_EQ(s.events[3].action, InputEvent::Action::Move);
    EXPECT_EQ(s.events[4].tstate, 900u);
}

TEST(InputScript, NamesTheBadLine) {
    EXPECT_EQ(parseInputScript("1 key ADDR down\n2 key HOME down\n").error.rfind("line 2:", 0), 0u);
    EXPECT_EQ(parseInputScript("x key ADDR down\n").error.rfind("line 1:", 0), 0u);
    EXPECT_NE(parseInputScript("1 pen 160 0 down\n").error, "");
    EXPECT_NE(parseInputScript("1 pen 0 272 down\n").error, "");
    EXPECT_NE(parseInputScript("1 pen 0 0 tap\n").error, "");
    EXPECT_NE(parseInputScript("1 key ADDR\n").error, "");
    EXPECT_NE(parseInputScript("1 mouse 0 0 down\n").error, "");
    EXPECT_TRUE(parseInputScript("1 key ADDR sideways\n").events.empty());
    // The quoted word comes out printable: no raw control bytes or NULs.
    EXPECT_EQ(parseInputScript(std::string("1 key HO\x1b\0ME down\n", 18)).error,
              "line 1: unknown key 'HO\\x1B\\x00ME' (ADDR TODO PGUP SCHED MEMO PGDN L)");
}

TEST(InputScript, EventsDriveTheButtonAndPenFields) {
    MemoryMap memory;
    FixedClock clock(FixedClock::at(2026, 1, 1, 0, 0, 0));
    int irq = 0, hold = 0, reads = 0;
    Ports ports(memory, clock, irq, hold, reads);
    const InputScript s = parseInputScript(
        "1 key SCHED down\n2 key PGDN down\n3 key SCHED up\n4 pen 80 120 down\n5 pen 81 121 move\n");
    for (const InputEvent& e : s.events)
        applyInputEvent(e, ports);
    EXPECT_EQ(ports.buttonHeld(OrganiserButton::Sched), 0);
    EXPECT_EQ(ports.buttonHeld(OrganiserButton::PgDn), 1);
    EXPECT_EQ(ports.buttonHeld(OrganiserButton::Addr), 0);
    EXPECT_EQ(ports.penDown(), 1);
    EXPECT_EQ(ports.penX(), 81);
    EXPECT_EQ(ports.penY(), 121);
    applyInputEvent(parseInputScript("6 pen 10 20 up\n").events.at(0), ports);
    EXPECT_EQ(ports.penDown(), 0);
    EXPECT_EQ(ports.penX(), 10);
}

TEST(ScreenPng, WritesTheTopLinesFromTheEndOfTheBottomUpBitmap) {
    std::vector<uint8_t> bitmap(MemoryMap::ScreenBytes, 0);
    for (int y = 0; y < 240; ++y)
        for (int c = 0; c < 20; ++c)
            bitmap[(303 - y) * 20 + c] = static_cast<uint8_t>(y * 7 + c);
    bitmap[0] = 0xAA;  // the button strip (line 303) never reaches the PNG
    const std::string path = (std::filesystem::path(::testing::TempDir()) / "pdemu-screen.png").string();
    ASSERT_TRUE(writeScreenPng(path, bitmap.data()));
    const auto pixels = decodeScreenPng(path);
    ASSERT_TRUE(pixels.has_value());
    ASSERT_EQ(pixels->size(), 240u * 20u);
    for (int y = 0; y < 240; ++y)
        for (int c = 0; c < 20; ++c)
            ASSERT_EQ((*pixels)[y * 20 + c], static_cast<uint8_t>(y * 7 + c)) << y << "," << c;

    // A damaged file is refused, not misread.
    std::string bytes;
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    bytes[40] ^= 0x01;
    std::ofstream(path, std::ios::binary) << bytes;
    EXPECT_FALSE(decodeScreenPng(path).has_value());
    std::filesystem::remove(path);
    EXPECT_FALSE(writeScreenPng("/nonexistent-dir/x.png", bitmap.data()));
}

}  // namespace
