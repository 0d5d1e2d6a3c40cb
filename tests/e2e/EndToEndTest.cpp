// End-to-end tests: the demo firmware and apps on the real machine, driven
// through the headless runner pdemu-run as a user of the command line would.
//
// Emulated time: the firmware polls its inputs once per periodic interrupt,
// about every 2,000,000 T-states, so input events here are a few million
// T-states apart. The reference screen was made with
//   pdemu-run --tstates 6000000 --clock "2026-12-08 14:03:29" --screen home.png
// and checked by eye.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "DemoRom.h"
#include "machine/Machine.h"
#include "machine/ScreenPng.h"
#include "machine/ScreenRecording.h"
#include "machine/StateFile.h"
#include "debugger/SymbolTable.h"

namespace fs = std::filesystem;

namespace {

const std::string fixedClock = "2026-12-08 14:03:29";
const std::string demoDir = PDEMU_DEMO_DIR;
const std::string painterApp = demoDir + "/painter.app";
const std::string breakerApp = demoDir + "/breaker.app";
const std::string bootLine = "pdemu demo firmware 1.0 booted\n";

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string quoted(const std::string& word) {
    std::string q = "'";
    for (char c : word)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Pixel (x, y) of a decoded screen: true when dark.
bool dark(const std::vector<uint8_t>& pixels, int x, int y) {
    return (pixels[y * 20 + x / 8] >> (7 - x % 8)) & 1;
}

int darkCount(const std::vector<uint8_t>& pixels, int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            n += dark(pixels, x, y);
    return n;
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        // The process id keeps runs of other builds on the same host (a
        // sanitizer run beside a plain one) out of this folder.
        dir = fs::path(::testing::TempDir()) /
              (std::string("pdemu-e2e-") + info->name() + "-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    RunResult run(const std::vector<std::string>& args) { return runIn("", args); }

    // The same from another current folder (empty: this one).
    RunResult runIn(const std::string& folder, const std::vector<std::string>& args) {
        std::string command = folder.empty() ? std::string() : "cd " + quoted(folder) + " && ";
        command += quoted(PDEMU_RUN_PATH);
        for (const std::string& a : args)
            command += " " + quoted(a);
        const fs::path out = dir / "stdout.txt", err = dir / "stderr.txt";
        command += " >" + quoted(out.string()) + " 2>" + quoted(err.string());
        const int status = std::system(command.c_str());
        RunResult r;
        r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = readFile(out);
        r.err = readFile(err);
        return r;
    }

    std::string writeScript(const std::string& name, const std::string& text) {
        const fs::path path = dir / name;
        std::ofstream(path) << text;
        return path.string();
    }

    std::vector<uint8_t> screen(const std::string& name) {
        auto pixels = decodeScreenPng((dir / name).string());
        EXPECT_TRUE(pixels.has_value()) << name;
        return pixels.value_or(std::vector<uint8_t>(240 * 20));
    }

    std::string path(const std::string& name) const { return (dir / name).string(); }

    fs::path dir;
};

// The pen taps the first application line (text row 11, lines 110-119).
const std::string tapFirstApp = "4000000 pen 40 115 down\n8000000 pen 40 115 up\n";
const std::string tapSecondApp = "4000000 pen 40 125 down\n8000000 pen 40 125 up\n";

TEST_F(EndToEnd, BootPrintsItsLineAndShowsTheTitleScreen) {
    const RunResult r = run({"--tstates", "6000000", "--clock", fixedClock, "--screen", path("home.png")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, bootLine);
    EXPECT_EQ(r.err, "");
    const auto reference = decodeScreenPng(PDEMU_E2E_REFERENCE_DIR "/home.png");
    ASSERT_TRUE(reference.has_value());
    EXPECT_EQ(screen("home.png"), *reference);
}

TEST_F(EndToEnd, TheClockPortsShowTheGivenTime) {
    ASSERT_EQ(run({"--tstates", "6000000", "--clock", "1999-12-31 23:59:58", "--screen", path("a.png")}).exitCode, 0);
    const auto other = screen("a.png");
    const auto reference = decodeScreenPng(PDEMU_E2E_REFERENCE_DIR "/home.png");
    ASSERT_TRUE(reference.has_value());
    // Only the date and time rows (lines 20-39) differ from the reference.
    for (int y = 0; y < 240; ++y) {
        if (y >= 20 && y < 40)
            continue;
        for (int x = 0; x < 160; ++x)
            ASSERT_EQ(dark(other, x, y), dark(*reference, x, y)) << x << "," << y;
    }
    EXPECT_NE(darkCount(other, 0, 20, 160, 40), 0);
    EXPECT_NE(std::vector<uint8_t>(other.begin() + 20 * 20, other.begin() + 40 * 20),
              std::vector<uint8_t>(reference->begin() + 20 * 20, reference->begin() + 40 * 20));
}

TEST_F(EndToEnd, PenTapAndButtonPressChangeTheScreen) {
    const std::string script = writeScript("input.txt",
                                           "# a tap in the drawing pad, then MEMO held\n"
                                           "4000000 pen 80 200 down\n"
                                           "8000000 pen 80 200 up\n"
                                           "8000000 key MEMO down\n");
    ASSERT_EQ(run({"--tstates", "6000000", "--clock", fixedClock, "--screen", path("before.png")}).exitCode, 0);
    const RunResult r =
        run({"--tstates", "12000000", "--clock", fixedClock, "--input", script, "--screen", path("after.png")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto before = screen("before.png");
    const auto after = screen("after.png");
    // A 3x3 mark where the pen touched, nothing there before.
    EXPECT_EQ(darkCount(before, 79, 199, 82, 202), 0);
    EXPECT_EQ(darkCount(after, 79, 199, 82, 202), 9);
    // MEMO (row 8, columns 6-9) is drawn inverted: its cell's blank top line turns dark.
    EXPECT_EQ(darkCount(before, 48, 80, 80, 81), 0);
    EXPECT_EQ(darkCount(after, 48, 80, 80, 81), 32);
    // The other buttons stay as they were.
    EXPECT_EQ(darkCount(after, 0, 70, 48, 90), darkCount(before, 0, 70, 48, 90));
    // The pen row (lines 50-59) now shows the last position.
    EXPECT_GT(darkCount(after, 72, 50, 160, 60), darkCount(before, 72, 50, 160, 60));
}

TEST_F(EndToEnd, EachButtonLightsItsOwnLabel) {
    // Label cells: text row 7 (top line 70) and row 8 (top line 80), 8 pixels a column.
    struct Label {
        const char* name;
        int line, x0, x1;
    };
    const Label labels[] = {{"ADDR", 70, 0, 32},   {"TODO", 70, 40, 72},  {"PGUP", 70, 80, 112},
                            {"SCHED", 80, 0, 40},  {"MEMO", 80, 48, 80},  {"PGDN", 80, 88, 120},
                            {"L", 80, 128, 136}};
    // Two runs with complementary sets, so every button's group select is used both ways.
    const std::vector<std::vector<std::string>> sets = {{"ADDR", "PGUP", "MEMO", "L"}, {"TODO", "SCHED", "PGDN"}};
    for (std::size_t s = 0; s < sets.size(); ++s) {
        std::string script;
        for (const std::string& name : sets[s])
            script += "3000000 key " + name + " down\n";
        const std::string png = "keys" + std::to_string(s) + ".png";
        const RunResult r = run({"--tstates", "8000000", "--clock", fixedClock, "--input",
                                 writeScript("keys.txt", script), "--screen", path(png)});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const auto pixels = screen(png);
        for (const Label& label : labels) {
            const bool held = std::find(sets[s].begin(), sets[s].end(), label.name) != sets[s].end();
            EXPECT_EQ(darkCount(pixels, label.x0, label.line, label.x1, label.line + 1),
                      held ? label.x1 - label.x0 : 0)
                << label.name;
        }
    }
}

TEST_F(EndToEnd, MarksLandExactlyWhereThePenTouches) {
    // The firmware turns the digitiser's readings back into pixels; a 3x3
    // mark centred on the touch shows where it thinks the pen was.
    const int points[][2] = {{10, 190}, {150, 235}, {77, 201}, {159, 239}, {0, 183}, {123, 211}};
    std::string script;
    long t = 4000000;
    for (const auto& p : points) {
        const std::string at = std::to_string(p[0]) + " " + std::to_string(p[1]);
        script += std::to_string(t) + " pen " + at + " down\n";
        script += std::to_string(t + 3000000) + " pen " + at + " up\n";
        t += 6000000;
    }
    const RunResult r = run({"--tstates", std::to_string(t), "--clock", fixedClock, "--input",
                             writeScript("taps.txt", script), "--screen", path("taps.png")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto pixels = screen("taps.png");
    for (const auto& p : points) {
        for (int dy = -2; dy <= 2; ++dy) {
            for (int dx = -2; dx <= 2; ++dx) {
                const int x = p[0] + dx, y = p[1] + dy;
                if (x < 0 || x >= 160 || y <= 180 || y >= 240)
                    continue;
                const bool inMark = dx >= -1 && dx <= 1 && dy >= -1 && dy <= 1;
                EXPECT_EQ(dark(pixels, x, y), inMark) << "touch " << p[0] << "," << p[1] << " pixel " << x << ","
                                                      << y;
            }
        }
    }
    // Nothing else was drawn in the pad: six marks, two of them cut by the edges.
    EXPECT_EQ(darkCount(pixels, 0, 181, 160, 240), 4 * 9 + 4 + 6);
}

TEST_F(EndToEnd, PenDragDrawsAnUnbrokenStroke) {
    const std::string script = writeScript("drag.txt",
                                           "4000000 pen 40 200 down\n"
                                           "8000000 pen 80 200 move\n"
                                           "12000000 pen 120 230 move\n"
                                           "16000000 pen 120 230 up\n");
    const RunResult r =
        run({"--tstates", "20000000", "--clock", fixedClock, "--input", script, "--screen", path("drag.png")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto drag = screen("drag.png");
    for (int x = 40; x <= 80; ++x)
        EXPECT_TRUE(dark(drag, x, 200)) << x;
    // The slanted part: one dark pixel in every line from 200 to 230.
    for (int y = 200; y <= 230; ++y)
        EXPECT_GT(darkCount(drag, 80, y, 121, y + 1), 0) << y;
    EXPECT_FALSE(dark(drag, 100, 200));
}

TEST_F(EndToEnd, InstalledAppIsListedStartedByATapAndReturns) {
    const std::string script =
        writeScript("input.txt", tapFirstApp + "14000000 pen 100 100 down\n18000000 pen 100 100 up\n");
    const RunResult started = run({"--tstates", "12000000", "--clock", fixedClock, "--install", painterApp,
                                   "--input", script, "--screen", path("app.png")});
    ASSERT_EQ(started.exitCode, 0) << started.err;
    EXPECT_EQ(started.err, "");  // painter.map beside the app loaded: no symbol-file message
    EXPECT_EQ(started.out, bootLine +
                               "app page 065: Painter\n"
                               "starting Painter\n"
                               "Painter: hello from flash\n"
                               "Painter: board drawn, tap to return\n");
    // The app's checkerboard: 8x8 squares from line 20, the top left one light.
    const auto app = screen("app.png");
    EXPECT_FALSE(dark(app, 3, 22));
    EXPECT_TRUE(dark(app, 11, 22));
    EXPECT_TRUE(dark(app, 3, 30));
    EXPECT_FALSE(dark(app, 11, 30));

    const RunResult returned = run({"--tstates", "30000000", "--clock", fixedClock, "--install", painterApp,
                                    "--input", script, "--screen", path("home.png")});
    ASSERT_EQ(returned.exitCode, 0) << returned.err;
    EXPECT_EQ(returned.out, started.out + "Painter: bye\napplication returned\n");
    // Back home: the title bar is inverted again and the app is still listed.
    const auto home = screen("home.png");
    EXPECT_TRUE(dark(home, 0, 0));
    EXPECT_EQ(darkCount(home, 0, 0, 160, 1), 160);
    EXPECT_GT(darkCount(home, 16, 110, 80, 120), 0);
}

TEST_F(EndToEnd, SameInputsAndClockGiveTheSameOutputByteForByte) {
    const std::string script = writeScript("input.txt", tapFirstApp + "9000000 key ADDR down\n");
    const std::vector<std::string> common = {"--tstates", "15000000", "--clock",    fixedClock, "--install",
                                             painterApp,  "--install", breakerApp, "--input",  script};
    auto first = common, second = common;
    first.insert(first.end(), {"--screen", path("1.png")});
    second.insert(second.end(), {"--screen", path("2.png")});
    const RunResult a = run(first);
    const RunResult b = run(second);
    ASSERT_EQ(a.exitCode, 0) << a.err;
    ASSERT_EQ(b.exitCode, 0) << b.err;
    EXPECT_EQ(a.out, b.out);
    EXPECT_EQ(readFile(dir / "1.png"), readFile(dir / "2.png"));
}

// The stroke of scripts/run.sh: the pen down at 4,000,000 T-states (1 s of
// the recording's 4,000,000 a second), moved every 2,000,000, up at 14,000,000.
const std::string penStroke =
    "4000000 pen 40 200 down\n6000000 pen 60 205 move\n8000000 pen 80 210 move\n10000000 pen 100 205 move\n"
    "12000000 pen 120 200 move\n14000000 pen 120 200 up\n14000000 key MEMO down\n";

TEST_F(EndToEnd, RecordScreenTakesEachChangeInEmulatedTimeTheSameEveryRun) {
    const std::string script = writeScript("input.txt", penStroke);
    const std::vector<std::string> common = {"--tstates", "20000000", "--clock", fixedClock, "--input", script};
    auto first = common, second = common;
    first.insert(first.end(), {"--record-screen", path("1.png"), "--screen", path("end.png")});
    second.insert(second.end(), {"--record-screen", path("2.png")});
    const RunResult a = run(first);
    const RunResult b = run(second);
    ASSERT_EQ(a.exitCode, 0) << a.err;
    ASSERT_EQ(b.exitCode, 0) << b.err;
    EXPECT_EQ(a.err, "");
    EXPECT_EQ(readFile(dir / "1.png"), readFile(dir / "2.png"));
    // The display at the first look: the first slice end of a run.
    ASSERT_EQ(run({"--tstates", "1", "--clock", fixedClock, "--screen", path("start.png")}).exitCode, 0);

    const RecordedScreen recorded = readScreenRecording(path("1.png"));
    ASSERT_EQ(recorded.problem, "");
    ASSERT_GE(recorded.frames.size(), 6u);  // booting, then the stroke's five marks at least
    EXPECT_EQ(recorded.frames.front().pixels, screen("start.png"));
    EXPECT_EQ(recorded.frames.back().pixels, screen("end.png"));
    uint64_t startMs = 0;
    uint64_t markedAt = 0;
    for (std::size_t i = 0; i < recorded.frames.size(); ++i) {
        const RecordedFrame& frame = recorded.frames[i];
        EXPECT_EQ(frame.delayDen, 1000);
        if (i > 0) {
            EXPECT_NE(frame.pixels, recorded.frames[i - 1].pixels) << i;  // a frame only for a change
        }
        if (markedAt == 0 && darkCount(frame.pixels, 39, 199, 42, 202) == 9)
            markedAt = startMs;
        startMs += frame.delayNum;
    }
    // 20,000,000 T-states are 5 s; the firmware marks the pen at its first
    // interrupt (every 2,000,000 T-states, 0.5 s) after the pen went down.
    EXPECT_EQ(startMs, 5000u);
    EXPECT_GE(markedAt, 1000u);
    EXPECT_LT(markedAt, 1550u);
}

TEST_F(EndToEnd, RecordScreenRefusesClashesAndFilesItCannotWrite) {
    const std::string rom = path("os.pgm");
    fs::copy_file(demoDir + "/pdemu-demo.pgm", rom);
    const std::string movie = path("movie.png");
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--screen", movie, "--record-screen", movie},
         "pdemu-run: --screen names the same file as --record-screen ('" + movie + "'); the save would overwrite it.\n"},
        {{"--rom", rom, "--record-screen", rom},
         "pdemu-run: --record-screen names the same file as --rom ('" + rom + "'); the save would overwrite it.\n"},
        {{"--record-screen", path("no/such/folder/movie.png")},
         "pdemu-run: cannot write screen recording '" + path("no/such/folder/movie.png") +
             "' (No such file or directory).\n"},
        // A run that does not start leaves no recording behind.
        {{"--rom", path("missing.pgm"), "--record-screen", movie}, "cannot open ROM file '" + path("missing.pgm") + "'.\n"},
    };
    const std::string before = readFile(rom);
    for (const auto& [args, error] : cases) {
        std::vector<std::string> all = args;
        all.insert(all.end(), {"--tstates", "1000"});
        const RunResult r = run(all);
        EXPECT_EQ(r.exitCode, 2) << args[1];
        EXPECT_EQ(r.err, error);
        EXPECT_FALSE(fs::exists(movie)) << args[1];
    }
    EXPECT_EQ(readFile(rom), before);
}

TEST_F(EndToEnd, UntilBreakStopsInTheBreakTrapApp) {
    const std::string script = writeScript("input.txt", tapSecondApp);
    const RunResult r = run({"--until-break", "--tstates", "100000000", "--clock", fixedClock, "--install",
                             painterApp, "--install", breakerApp, "--input", script, "--disasm", "PC:1",
                             "--disasm", "4200:2"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string listed = bootLine +
                               "app page 065: Painter\n"
                               "app page 066: Break demo\n"
                               "starting Break demo\n"
                               "Break demo: about to stop in the debugger\n";
    ASSERT_EQ(r.out.substr(0, listed.size()), listed);
    // It stops within the slice of the trap: in the app's loop, before the result.
    const std::string listing = r.out.substr(listed.size());
    const std::size_t firstEnd = listing.find('\n');
    ASSERT_NE(firstEnd, std::string::npos) << listing;
    const unsigned pc = std::stoul(listing.substr(0, 4), nullptr, 16);
    EXPECT_GE(pc, 0x4207u) << listing;  // after_break
    EXPECT_LT(pc, 0x424Cu) << listing;  // the texts begin there
    EXPECT_EQ(listing.substr(firstEnd + 1), "4200:LD HL,424Ch\n4203:DB EDh,FEh\n");

    // Without --until-break the app runs on through its loop and returns.
    const RunResult on = run({"--tstates", "12000000", "--clock", fixedClock, "--install", painterApp,
                              "--install", breakerApp, "--input", script});
    ASSERT_EQ(on.exitCode, 0) << on.err;
    EXPECT_EQ(on.out, listed + "Break demo: sum 1..5 = 15\napplication returned\n");
}

TEST_F(EndToEnd, SaveFileKeepsTheInstalledAppForTheNextRun) {
    const std::string save = path("pdemu.sav");
    const RunResult first = run({"--tstates", "3000000", "--save", save, "--install", painterApp});
    ASSERT_EQ(first.exitCode, 0) << first.err;
    EXPECT_EQ(fs::file_size(save), 2228224u);

    const RunResult again = run({"--tstates", "6000000", "--clock", fixedClock, "--save", save, "--screen",
                                 path("again.png")});
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(again.out, bootLine + "app page 065: Painter\n");
    // The list on the screen has the app's line where the empty list had its notice.
    const auto reference = decodeScreenPng(PDEMU_E2E_REFERENCE_DIR "/home.png");
    ASSERT_TRUE(reference.has_value());
    EXPECT_NE(screen("again.png"), *reference);
    // A second app installed over the saved flash lands on the next page.
    const RunResult more = run({"--tstates", "3000000", "--save", save, "--install", breakerApp});
    ASSERT_EQ(more.exitCode, 0) << more.err;
    EXPECT_EQ(more.out, bootLine + "app page 065: Painter\napp page 066: Break demo\n");
}

TEST_F(EndToEnd, FailuresGiveTheMachineTextsAndExitCodes) {
    const RunResult noRom = run({"--tstates", "1000", "--rom", path("missing.pgm")});
    EXPECT_EQ(noRom.exitCode, 2);
    EXPECT_EQ(noRom.err, "cannot open ROM file '" + path("missing.pgm") + "'.\n");
    EXPECT_EQ(noRom.out, "");

    // An application file that cannot be read stops the runner before it starts.
    const RunResult noApp = run({"--tstates", "3000000", "--install", path("missing.app")});
    EXPECT_EQ(noApp.exitCode, 2);
    EXPECT_EQ(noApp.err, "Cannot open application file.\n");
    EXPECT_EQ(noApp.out, "");

    // A readable but bad one is refused by the machine, and the run goes on.
    std::ofstream(path("bad.app"), std::ios::binary) << std::string(1024, '\x00');
    const RunResult badApp = run({"--tstates", "3000000", "--install", path("bad.app")});
    EXPECT_EQ(badApp.exitCode, 0);
    EXPECT_EQ(badApp.err, "Bad application file.\n");
    EXPECT_EQ(badApp.out, bootLine);

    const RunResult noInput = run({"--tstates", "1000", "--input", path("missing.txt")});
    EXPECT_EQ(noInput.exitCode, 2);
    EXPECT_NE(noInput.err.find("missing.txt"), std::string::npos);

    const RunResult badInput = run({"--tstates", "1000", "--input", writeScript("bad.txt", "10 key HOME down\n")});
    EXPECT_EQ(badInput.exitCode, 2);
    EXPECT_NE(badInput.err.find("line 1"), std::string::npos);

    const RunResult nothingEnds = run({});
    EXPECT_EQ(nothingEnds.exitCode, 2);

    const RunResult timeout = run({"--timeout", "0.3"});
    EXPECT_EQ(timeout.exitCode, 3);
    EXPECT_EQ(timeout.out, bootLine);
}

TEST_F(EndToEnd, FoldersAndFifosAreFilesThatCannotBeOpened) {
    fs::create_directory(path("folder"));
    // Nobody writes to the FIFO: reading it must not hang the start.
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
    for (const char* name : {"folder", "fifo"}) {
        const std::string p = path(name);
        struct Case {
            std::vector<std::string> args;
            int exitCode;
            std::string err;
            std::string out;
        };
        const Case cases[] = {
            {{"--rom", p}, 2, "cannot open ROM file '" + p + "'.\n", ""},
            {{"--install", p}, 2, "Cannot open application file.\n", ""},
            {{"--input", p}, 2, "pdemu-run: cannot read input file '" + p + "'.\n", ""},
            {{"--debug", p}, 2, "pdemu-run: cannot read debug script '" + p + "'.\n", ""},
            // The run goes on without the save, and its end says it was not saved.
            {{"--save", p}, 4, "cannot read save file '" + p + "'; it will not be overwritten.\n", bootLine},
        };
        for (const Case& c : cases) {
            std::vector<std::string> args = c.args;
            args.insert(args.end(), {"--tstates", "3000000", "--timeout", "60"});
            const RunResult r = run(args);
            EXPECT_EQ(r.exitCode, c.exitCode) << c.args[0] << " " << name << ": " << r.err;
            EXPECT_EQ(r.err, c.err) << c.args[0] << " " << name;
            EXPECT_EQ(r.out, c.out) << c.args[0] << " " << name;
        }
    }
    EXPECT_TRUE(fs::is_directory(path("folder")));
    EXPECT_TRUE(fs::is_fifo(path("fifo")));
}

TEST_F(EndToEnd, SaveFileThatIsAnInputIsRefusedBeforeTheRun) {
    const std::string rom = path("os.pgm");
    fs::copy_file(demoDir + "/pdemu-demo.pgm", rom);
    const std::string before = readFile(rom);
    fs::create_symlink(rom, path("link.sav"));
    const std::string app = path("app.app");
    fs::copy_file(painterApp, app);
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--rom", rom, "--save", rom}, "--rom ('" + rom + "')"},
        {{"--rom", rom, "--save", path("link.sav")}, "--rom ('" + rom + "')"},
        {{"--rom", path("link.sav"), "--save", rom}, "--rom ('" + path("link.sav") + "')"},
        {{"--install", app, "--save", app}, "--install ('" + app + "')"},
    };
    for (const auto& [args, named] : cases) {
        std::vector<std::string> all = args;
        all.insert(all.end(), {"--tstates", "1000"});
        const RunResult r = run(all);
        EXPECT_EQ(r.exitCode, 2) << args[1];
        EXPECT_EQ(r.err, "pdemu-run: --save names the same file as " + named + "; the save would overwrite it.\n");
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(readFile(rom), before);
    EXPECT_TRUE(fs::is_symlink(path("link.sav")));
}

TEST_F(EndToEnd, SaveThatCannotBeWrittenExitsWith4AndKeepsTheOldFile) {
    const std::string save = path("pdemu.sav");
    ASSERT_EQ(run({"--tstates", "3000000", "--save", save}).exitCode, 0);
    const std::string before = readFile(save);
    fs::permissions(save, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const RunResult r = run({"--tstates", "3000000", "--save", save, "--install", painterApp});
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_EQ(r.err, "cannot write save file '" + save + "': the file is read-only.\n");
    EXPECT_EQ(readFile(save), before);
}

// Ctrl-C and SIGTERM end the run as its end does: the state is saved, and the
// exit code is 128 + the signal.
TEST_F(EndToEnd, CtrlCAndSigtermEndTheRunWithTheSaveWritten) {
    for (const int number : {SIGINT, SIGTERM}) {
        const std::string save = path("signal" + std::to_string(number) + ".sav");
        int output[2];
        ASSERT_EQ(pipe(output), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            dup2(output[1], STDOUT_FILENO);
            close(output[0]);
            close(output[1]);
            const int err = open(path("stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(err, STDERR_FILENO);
            execl(PDEMU_RUN_PATH, PDEMU_RUN_PATH, "--save", save.c_str(), "--install", painterApp.c_str(),
                  "--timeout", "600", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(output[1]);
        // The firmware lists the installed app once it runs: that is the moment to interrupt.
        std::string out;
        char buffer[256];
        for (ssize_t n; out.find("Painter\n") == std::string::npos && (n = read(output[0], buffer, sizeof buffer)) > 0;)
            out.append(buffer, static_cast<std::size_t>(n));
        ASSERT_NE(out.find("Painter\n"), std::string::npos) << out;
        kill(child, number);
        while (read(output[0], buffer, sizeof buffer) > 0) {
        }
        close(output[0]);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << "signal " << number << " status " << status;
        EXPECT_EQ(WEXITSTATUS(status), 128 + number);
        EXPECT_EQ(readFile(path("stderr.txt")), "pdemu-run: stopped by signal " + std::to_string(number) + "\n");
        // The installed app is in the save: page 65 is the second page of the file.
        const std::string saved = readFile(save);
        ASSERT_EQ(saved.size(), 2228224u) << "signal " << number;
        EXPECT_EQ(uint8_t(saved[16384]), 0xC3);
        EXPECT_EQ(uint8_t(saved[16384 + 0x1A5]), 0x80);
    }
}

// The input script's and the options' quoting is tested with their parsers.
TEST_F(EndToEnd, BadDebugScriptLineIsQuotedPrintably) {
    const RunResult debug = run({"--tstates", "1000", "--debug", writeScript("d.txt", "open\a\x7f\n")});
    EXPECT_EQ(debug.exitCode, 2);
    EXPECT_EQ(debug.err, "line 1: unknown action 'open\\x07\\x7F'\n");
}

// The reference is the output of
//   pdemu-run --debug breaker-debug.script --tstates 30000000 --clock "2026-12-08 14:03:29"
//     --install painter.app --install breaker.app --input <tapSecondApp>
// checked instruction by instruction against breaker.asm (the script's comments
// say what each step must show).
TEST_F(EndToEnd, DebugScriptStepsThroughTheBreakDemoTheSameEveryTime) {
    const std::string input = writeScript("input.txt", tapSecondApp);
    const std::vector<std::string> args = {"--debug",   PDEMU_E2E_REFERENCE_DIR "/breaker-debug.script",
                                           "--tstates", "30000000",
                                           "--timeout", "60",
                                           "--clock",   fixedClock,
                                           "--install", painterApp,
                                           "--install", breakerApp,
                                           "--input",   input};
    const std::string expected = readFile(PDEMU_E2E_REFERENCE_DIR "/breaker-debug.txt");
    ASSERT_NE(expected, "");
    for (int round = 1; round <= 2; ++round) {
        const RunResult r = run(args);
        ASSERT_EQ(r.exitCode, 0) << "round " << round << ": " << r.err;
        EXPECT_EQ(r.err, "") << "round " << round;
        EXPECT_EQ(r.out, expected) << "round " << round;
    }
}

TEST_F(EndToEnd, DebugScriptPointsLogWatchAndShowMemoryOnTheBreakDemo) {
    const std::string input = writeScript("input.txt", tapSecondApp);
    const RunResult r = run({"--debug", PDEMU_E2E_REFERENCE_DIR "/breaker-points.script", "--tstates", "30000000",
                             "--timeout", "60", "--clock", fixedClock, "--install", painterApp, "--install",
                             breakerApp, "--input", input});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, readFile(PDEMU_E2E_REFERENCE_DIR "/breaker-points.txt"));
}

// back and rgo through the history, shown as stops; twice, the same each time.
TEST_F(EndToEnd, DebugScriptGoesBackThroughTheHistoryOnTheBreakDemo) {
    const std::string input = writeScript("input.txt", tapSecondApp);
    const std::string expected = readFile(PDEMU_E2E_REFERENCE_DIR "/breaker-history.txt");
    ASSERT_NE(expected, "");
    for (int round = 1; round <= 2; ++round) {
        const RunResult r = run({"--debug", PDEMU_E2E_REFERENCE_DIR "/breaker-history.script", "--tstates",
                                 "30000000", "--timeout", "60", "--clock", fixedClock, "--install", painterApp,
                                 "--install", breakerApp, "--input", input});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, expected) << "round " << round;
    }
}

TEST_F(EndToEnd, DebugScriptPointLinesAreRefusedBeforeTheRunOrWhenCarriedOut) {
    // The grammar is checked with the whole script: nothing runs.
    const struct {
        const char* line;
        const char* fault;
    } bad[] = {
        {"point write C0FF-C000", "range end below its start"},
        {"point exec 4200 hits 0", "hits"},
        {"point exec r08:C000", "08"},
        {"point exec 4200 if (A+", "position"},
        {"point jump 4200", "jump"},
        {"delete five", "five"},
        {"memory 8000 0", "length"},
    };
    for (const auto& c : bad) {
        const std::string script = writeScript("bad.txt", std::string("open\n") + c.line + "\nclose\n");
        const RunResult r = run({"--debug", script, "--tstates", "1000", "--timeout", "60"});
        EXPECT_EQ(r.exitCode, 2) << c.line;
        EXPECT_EQ(r.err.rfind("line 2: ", 0), 0u) << c.line << ": " << r.err;
        EXPECT_NE(r.err.find(c.fault), std::string::npos) << c.line << ": " << r.err;
        EXPECT_EQ(r.out, "") << c.line;
    }
    // A name no symbol table holds, or a number that holds no point, is
    // refused when its line comes; the rest of the script still runs.
    const std::string script =
        writeScript("late.txt", "open\npoint exec 100 if b@nosuch==1\ndelete 5\npoint exec 100\nclose\n");
    const RunResult late = run({"--debug", script, "--tstates", "1000", "--timeout", "60"});
    EXPECT_EQ(late.exitCode, 2);
    EXPECT_EQ(late.err, "line 2: condition: unknown name 'nosuch'\nline 3: no point 5\n");
    EXPECT_NE(late.out.find("point 5: exec 0100\n"), std::string::npos) << late.out;
}

TEST_F(EndToEnd, DebugScriptWaitsEndWithTheRun) {
    const std::string input = writeScript("input.txt", tapSecondApp);
    const std::string steps = writeScript("steps.txt", "wait\nstep\nhexdump\nstep\n");
    // --until-break ends the run at the trap: the debugger never opens.
    const RunResult atBreak = run({"--debug", steps, "--until-break", "--timeout", "60", "--clock", fixedClock,
                                   "--install", painterApp, "--install", breakerApp, "--input", input});
    ASSERT_EQ(atBreak.exitCode, 0) << atBreak.err;
    EXPECT_EQ(atBreak.out, bootLine +
                               "app page 065: Painter\n"
                               "app page 066: Break demo\n"
                               "starting Break demo\n"
                               "Break demo: about to stop in the debugger\n");

    // No trap and no breakpoint: the wait lasts until the T-state limit, and
    // the steps after it find no machine to step.
    const RunResult limit = run({"--debug", steps, "--tstates", "3000000", "--timeout", "60"});
    ASSERT_EQ(limit.exitCode, 0) << limit.err;
    EXPECT_EQ(limit.out, bootLine);

    // ... or until the host time limit (on a busy host the boot lines may
    // not all have come by then).
    const RunResult timeout = run({"--debug", steps, "--timeout", "0.3"});
    EXPECT_EQ(timeout.exitCode, 3);
    EXPECT_EQ(bootLine.substr(0, timeout.out.size()), timeout.out);
}

TEST_F(EndToEnd, DebugScriptOpenedAtTheStartHoldsTheMachineUntilClosed) {
    // The debugger opens at the first slice end, before the boot line is
    // printed; closing it lets the firmware boot.
    const std::string script = writeScript("open.txt", "open\nwait\naddr 0\nlength 8\nhexdump\nclose\n");
    const RunResult r = run({"--debug", script, "--tstates", "3000000", "--timeout", "60"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // Opened as the very first action it still stops at the first slice end,
    // never before the first instruction: the same output every time.
    EXPECT_EQ(r.out.find("reg PC: 0000\n"), std::string::npos) << r.out;
    for (int round = 2; round <= 3; ++round)
        EXPECT_EQ(run({"--debug", script, "--tstates", "3000000", "--timeout", "60"}).out, r.out) << round;
    const std::size_t boot = r.out.find(bootLine);
    ASSERT_NE(boot, std::string::npos) << r.out;
    EXPECT_EQ(r.out.substr(boot), bootLine);
    const std::string debugLines = r.out.substr(0, boot);
    EXPECT_EQ(debugLines.substr(0, 36), "status: Stopped ...\ncontrols: on\nfla");
    // The dump of address 0: one row, the firmware's first bytes.
    const std::string rom = readFile(demoDir + "/pdemu-demo.pgm");
    char first[64];
    std::snprintf(first, sizeof first, "dump: 0000  %02X %02X %02X ", uint8_t(rom[0]), uint8_t(rom[1]),
                  uint8_t(rom[2]));
    EXPECT_NE(debugLines.find(first), std::string::npos) << debugLines;
    EXPECT_NE(debugLines.find("dump: 0008  "), std::string::npos) << debugLines;
    EXPECT_EQ(debugLines.find("dump: 0010  "), std::string::npos) << debugLines;
}

TEST_F(EndToEnd, DebugScriptFailuresExitWithCode2) {
    const RunResult missing = run({"--debug", path("missing.txt"), "--tstates", "1000"});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_EQ(missing.err, "pdemu-run: cannot read debug script '" + path("missing.txt") + "'.\n");
    EXPECT_EQ(missing.out, "");

    const RunResult folder = run({"--debug", dir.string(), "--tstates", "1000"});
    EXPECT_EQ(folder.exitCode, 2);
    EXPECT_EQ(folder.err, "pdemu-run: cannot read debug script '" + dir.string() + "'.\n");

    // A bad line anywhere stops the run before any action, and before the boot line.
    const std::string bad = writeScript("bad.txt", "# fine so far\nopen\n\nbreak 4 4200\nclose\n");
    const RunResult badLine = run({"--debug", bad, "--tstates", "3000000", "--timeout", "60"});
    EXPECT_EQ(badLine.exitCode, 2);
    EXPECT_NE(badLine.err.find("line 4"), std::string::npos) << badLine.err;
    EXPECT_EQ(badLine.out, "");
}

// ---- State files and recorded sessions ----

const std::string demoRom = demoDir + "/pdemu-demo.pgm";

// The T-state a state file was taken at, read as the runner reads it.
uint64_t stateMoment(const std::string& file) {
    const StateRead read = readStateFile(file, Machine::romFileDigest(demoRom).value_or(0));
    EXPECT_TRUE(read.state.has_value()) << read.problem;
    return read.state ? read.state->tstates() : 0;
}

// An input script whose times are moved by delta.
std::string shiftedInput(const std::vector<std::pair<uint64_t, std::string>>& events, int64_t delta) {
    std::string text;
    for (const auto& [time, event] : events)
        text += std::to_string(static_cast<int64_t>(time) + delta) + " " + event + "\n";
    return text;
}

// A pen tap in the drawing pad, then MEMO held: both leave marks on the screen.
const std::vector<std::pair<uint64_t, std::string>> tapAndMemo = {
    {2000000, "pen 80 200 down"}, {4000000, "pen 80 200 up"}, {4000000, "key MEMO down"}};

class StateFiles : public EndToEnd {
protected:
    // What a run leaves behind: screen, save file, end state and the PC's instruction.
    std::vector<std::string> results(const std::string& tag) {
        return {"--screen",     path(tag + ".png"), "--save",   path(tag + ".sav"),
                "--save-state", path(tag + ".st"),  "--disasm", "PC:1"};
    }
    // Two runs that must have ended in the same machine, byte for byte.
    void expectSameEnd(const RunResult& a, const std::string& ta, const RunResult& b, const std::string& tb) {
        ASSERT_EQ(a.exitCode, 0) << a.err;
        ASSERT_EQ(b.exitCode, 0) << b.err;
        const auto lastLine = [](const std::string& out) {
            const std::size_t end = out.find_last_of('\n', out.size() - 2);
            return end == std::string::npos ? out : out.substr(end + 1);
        };
        EXPECT_EQ(lastLine(a.out), lastLine(b.out));
        for (const char* kind : {".png", ".sav", ".st"}) {
            const std::string first = readFile(path(ta + kind));
            EXPECT_FALSE(first.empty()) << kind;
            EXPECT_TRUE(first == readFile(path(tb + kind))) << kind;
        }
    }
    std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& more) {
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }
};

TEST_F(StateFiles, ALoadedStateGoesOnExactlyAsTheRunItWasTakenFrom) {
    // The whole run ends at `end` with its input from `inputAt` on; the run
    // from the state, in a new process, counts both from the state's moment.
    const auto fromState = [&](uint64_t end, uint64_t inputAt, const RunResult& whole) {
        const uint64_t taken = stateMoment(path("taken.st"));
        ASSERT_LE(taken, inputAt);
        const std::string input =
            writeScript("loaded.txt", shiftedInput(tapAndMemo, static_cast<int64_t>(inputAt - taken)));
        const RunResult loaded = run(with({"--load-state", path("taken.st"), "--tstates", std::to_string(end - taken),
                                           "--clock", fixedClock, "--input", input},
                                          results("loaded")));
        expectSameEnd(whole, "whole", loaded, "loaded");
        EXPECT_EQ(darkCount(screen("loaded.png"), 79, 199, 82, 202), 9);  // the tap came after the load
    };
    {
        SCOPED_TRACE("taken at a run's end, a slice end");
        ASSERT_EQ(run({"--tstates", "6000000", "--clock", fixedClock, "--save-state", path("taken.st")}).exitCode, 0);
        const uint64_t taken = stateMoment(path("taken.st"));
        const std::string input = writeScript("whole.txt", shiftedInput(tapAndMemo, static_cast<int64_t>(taken)));
        const RunResult whole = run(with(
            {"--tstates", std::to_string(taken + 6000000), "--clock", fixedClock, "--input", input}, results("whole")));
        fromState(taken + 6000000, taken, whole);
    }
    {
        SCOPED_TRACE("taken by a script at a held instruction");
        const std::string script = writeScript("take.txt", "open\nwait\nstep\nsavestate taken.st\nclose\n");
        const std::string input = writeScript("whole.txt", shiftedInput(tapAndMemo, 6000000));
        const RunResult whole = runIn(
            dir.string(), with({"--tstates", "12000000", "--clock", fixedClock, "--debug", script, "--input", input},
                               results("whole")));
        fromState(12000000, 6000000, whole);
    }
}

TEST_F(StateFiles, ARecordedSessionReplaysToTheMachineTheRecordingEndedWith) {
    const std::string input = writeScript("input.txt", shiftedInput(tapAndMemo, 2000000));
    // From the first instruction, and from the slice end after an installation.
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"from the start", {}},
        {"after an installation", {"--install", painterApp}},
    };
    for (const auto& [name, setup] : cases) {
        SCOPED_TRACE(name);
        const std::vector<std::string> runArgs = with(setup, {"--tstates", "9000000", "--input", input});
        const RunResult recorded = run(with(runArgs, with({"--record-session", path("run.ss")}, results("recorded"))));
        const RunResult replayed = run(with({"--replay", path("run.ss")}, results("replayed")));
        expectSameEnd(recorded, "recorded", replayed, "replayed");
        EXPECT_EQ(replayed.out, recorded.out);  // the print trap's lines too
        EXPECT_EQ(replayed.err, "");
        // Recording changes nothing in the run itself (the fixed clock, so that both runs read the same).
        const RunResult plain = run(with(runArgs, {"--clock", fixedClock, "--save-state", path("plain.st")}));
        const RunResult plainRecorded =
            run(with(runArgs, {"--clock", fixedClock, "--save-state", path("plainRecorded.st"), "--record-session",
                               path("clocked.ss")}));
        ASSERT_EQ(plain.exitCode, 0) << plain.err;
        ASSERT_EQ(plainRecorded.exitCode, 0) << plainRecorded.err;
        EXPECT_TRUE(readFile(path("plain.st")) == readFile(path("plainRecorded.st")));
    }
}

TEST_F(StateFiles, ReplayTstatesEndsTheReplayEarly) {
    const std::string input = writeScript("input.txt", shiftedInput(tapAndMemo, 2000000));
    // The fixed clock in both runs, so that the shorter one reads what the session holds.
    ASSERT_EQ(run({"--tstates", "9000000", "--clock", fixedClock, "--input", input, "--record-session", path("run.ss")})
                  .exitCode,
              0);
    // A session from the first instruction: its time 0 is the run's.
    const RunResult replayed = run(with({"--replay", path("run.ss"), "--tstates", "5000000"}, results("replayed")));
    const RunResult whole = run(
        with({"--tstates", "5000000", "--clock", fixedClock, "--input", input, "--record-session", path("short.ss")},
             results("whole")));
    expectSameEnd(whole, "whole", replayed, "replayed");
}

TEST_F(StateFiles, AReplayThatLeavesItsSessionSaysSoWithExitCode5) {
    ASSERT_EQ(run({"--tstates", "3000000", "--record-session", path("run.ss")}).exitCode, 0);
    SessionRead read = readSessionFile(path("run.ss"), Machine::romFileDigest(demoRom).value_or(0));
    ASSERT_TRUE(read.session.has_value()) << read.problem;
    ASSERT_FALSE(read.session->reads.empty());
    read.session->reads.clear();  // the firmware's first key read is not in it
    ASSERT_EQ(writeSessionFile(path("empty.ss"), *read.session), "");
    const RunResult r = run({"--replay", path("empty.ss"), "--screen", path("end.png")});
    EXPECT_EQ(r.exitCode, 5);
    EXPECT_EQ(r.err, "pdemu-run: the run left session file '" + path("empty.ss") +
                         "': it read what the session does not hold.\n");
    EXPECT_TRUE(fs::exists(path("end.png")));  // the results are written all the same
}

TEST_F(StateFiles, RefusedStatesSessionsAndOptionsExitWith2AndTouchNoFile) {
    ASSERT_EQ(run({"--tstates", "1000", "--save-state", path("good.st")}).exitCode, 0);
    ASSERT_EQ(run({"--tstates", "1000", "--record-session", path("good.ss")}).exitCode, 0);
    const std::string otherRom = path("other.pgm");
    std::ofstream(otherRom, std::ios::binary) << std::string("\x18\xFE", 2);  // JR $
    fs::create_directory(path("folder"));
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
    const std::string save = path("old.sav");
    std::ofstream(save, std::ios::binary) << "the old save";

    struct Case {
        std::string what;
        std::vector<std::string> args;
        std::string err;
    };
    std::vector<Case> cases;
    for (const auto& [option, kind, named, good] :
         {std::tuple{"--load-state", std::string("State file"), std::string("state file"), path("good.st")},
          std::tuple{"--replay", std::string("Session file"), std::string("session file"), path("good.ss")}}) {
        const std::string bytes = readFile(good);
        const auto variant = [&](const std::string& name, std::string content) {
            std::ofstream(path(name), std::ios::binary) << content;
            return path(name);
        };
        std::string newer = bytes;
        newer[8] = 2;
        // A byte of the CRC and one of the compressed stream's start (a flip
        // in a long run of equal bytes may well give the same payload).
        std::string flipped = bytes, flippedCrc = bytes;
        flipped[44] ^= 0x10;
        flippedCrc[24] ^= 0x01;
        const std::string stem = std::string(option).substr(2);
        const std::string newerPath = variant(stem + "-newer", newer);
        const std::string truncatedPath = variant(stem + "-truncated", bytes.substr(0, bytes.size() / 2));
        const std::string flippedPath = variant(stem + "-flipped", flipped);
        const std::string flippedCrcPath = variant(stem + "-flipped-crc", flippedCrc);
        const auto file = [&](const std::string& p) { return kind + " '" + p + "'"; };
        cases.push_back(
            {stem + " newer", {option, newerPath}, file(newerPath) + " was made by a newer version of pdemu.\n"});
        cases.push_back({stem + " other ROM",
                         {option, good, "--rom", otherRom},
                         file(good) + " was made for another ROM image.\n"});
        cases.push_back(
            {stem + " truncated", {option, truncatedPath}, file(truncatedPath) + " is damaged or incomplete.\n"});
        cases.push_back({stem + " flipped", {option, flippedPath}, file(flippedPath) + " is damaged or incomplete.\n"});
        cases.push_back(
            {stem + " flipped CRC", {option, flippedCrcPath}, file(flippedCrcPath) + " is damaged or incomplete.\n"});
        for (const std::string& unreadable : {path("folder"), path("fifo"), std::string("/dev/null"), path("missing")})
            cases.push_back(
                {stem + " " + unreadable, {option, unreadable}, "Cannot read " + named + " '" + unreadable + "'.\n"});
        cases.push_back({stem + " as --save",
                         {option, good, "--save", good},
                         std::string("pdemu-run: --save names the same file as ") + option + " ('" + good +
                             "'); the save would overwrite it.\n"});
    }
    cases.push_back(
        {"--save-state as --rom",
         {"--rom", otherRom, "--save-state", otherRom},
         "pdemu-run: --save-state names the same file as --rom ('" + otherRom + "'); the save would overwrite it.\n"});
    // Two outputs of one run, the file not there yet.
    const std::string twice = (dir / "." / "twice").string();
    cases.push_back({"--save-state as --record-session",
                     {"--save-state", path("twice"), "--record-session", twice},
                     "pdemu-run: --save-state names the same file as --record-session ('" + twice +
                         "'); the save would overwrite it.\n"});
    for (const auto& [option, value] : {std::pair{"--input", path("in.txt")}, std::pair{"--install", painterApp},
                                        std::pair{"--load-state", path("good.st")}, std::pair{"--clock", fixedClock},
                                        std::pair{"--record-session", path("new.ss")}})
        cases.push_back({std::string("--replay with ") + option,
                         {"--replay", path("good.ss"), option, value},
                         std::string("pdemu-run: ") + option +
                             " does not combine with --replay: the session holds its own (see --help)\n"});

    const std::string goodState = readFile(path("good.st")), goodSession = readFile(path("good.ss"));
    for (const Case& c : cases) {
        // The case's own options come last and win.
        const RunResult r = run(
            with({"--tstates", "3000000", "--save", save, "--screen", path("end.png"), "--save-state", path("end.st")},
                 c.args));
        EXPECT_EQ(r.exitCode, 2) << c.what;
        EXPECT_EQ(r.err, c.err) << c.what;
        EXPECT_EQ(r.out, "") << c.what;
    }
    EXPECT_EQ(readFile(save), "the old save");
    EXPECT_FALSE(fs::exists(path("end.png")));
    EXPECT_FALSE(fs::exists(path("end.st")));
    EXPECT_FALSE(fs::exists(path("new.ss")));
    EXPECT_FALSE(fs::exists(path("twice")));
    EXPECT_TRUE(readFile(path("good.st")) == goodState);
    EXPECT_TRUE(readFile(path("good.ss")) == goodSession);
    EXPECT_TRUE(fs::is_fifo(path("fifo")));
}

TEST_F(StateFiles, TheSaveFileRulesHoldWithStatesAndSessions) {
    ASSERT_EQ(run({"--tstates", "1000", "--save-state", path("good.st")}).exitCode, 0);
    ASSERT_EQ(run({"--tstates", "1000", "--record-session", path("good.ss")}).exitCode, 0);
    fs::create_directory(path("folder"));
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
    // The save file is not read from a state, but one that cannot be read is still left alone.
    // (The replay ends with its session: past its end it would read what it does not hold.)
    for (const auto& start : {std::vector<std::string>{"--load-state", path("good.st"), "--tstates", "3000000"},
                              std::vector<std::string>{"--replay", path("good.ss")}}) {
        for (const std::string& save : {path("folder"), path("fifo"), std::string("/dev/null")}) {
            const RunResult r = run(with(start, {"--save", save}));
            EXPECT_EQ(r.exitCode, 4) << start[0] << " " << save;
            EXPECT_EQ(r.err, "cannot read save file '" + save + "'; it will not be overwritten.\n") << start[0];
        }
    }
    EXPECT_TRUE(fs::is_directory(path("folder")));
    EXPECT_TRUE(fs::is_fifo(path("fifo")));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

TEST_F(StateFiles, SaveStateMayReplaceTheLoadedStateFile) {
    ASSERT_EQ(run({"--tstates", "3000000", "--save-state", path("run.st")}).exitCode, 0);
    const uint64_t before = stateMoment(path("run.st"));
    const RunResult r = run({"--load-state", path("run.st"), "--tstates", "1000000", "--save-state", path("run.st")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const uint64_t after = stateMoment(path("run.st"));
    EXPECT_GE(after, before + 1000000);
    EXPECT_LT(after, before + 1000000 + 100);  // the first slice end at or after 1,000,000 from the load
}

TEST_F(StateFiles, NoTstatesFromASliceEndEndWhereTheRunStarts) {
    ASSERT_EQ(run({"--tstates", "3000000", "--save-state", path("start.st")}).exitCode, 0);
    // A session of no length: the run reaches its end at the slice end where the recording starts.
    ASSERT_EQ(run({"--install", painterApp, "--tstates", "0", "--record-session", path("zero.ss"), "--save-state",
                   path("recorded.st")})
                  .exitCode,
              0);
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--load-state", path("start.st"), "--tstates", "0"}, path("start.st")},
        {{"--replay", path("zero.ss")}, path("recorded.st")},
    };
    for (const auto& [args, start] : cases) {
        const RunResult r = run(with(args, {"--save-state", path("end.st")}));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_TRUE(readFile(path("end.st")) == readFile(start)) << args[0];
    }
}

TEST_F(StateFiles, ScriptSavestateAndLoadstateActOnTheHeldMachineOnly) {
    std::ofstream(path("junk.st"), std::ios::binary) << "not a state";
    // Relative to the current folder; loadstate shows the loaded machine like a stop.
    const RunResult good = runIn(dir.string(), {"--tstates", "3000000", "--debug",
                                                writeScript("good.txt",
                                                            "open\nwait\nsavestate here.st\nstep\nstep\n"
                                                            "loadstate here.st\nclose\n")});
    ASSERT_EQ(good.exitCode, 0) << good.err;
    ASSERT_TRUE(fs::exists(path("here.st")));
    const std::size_t loaded = good.out.rfind("status: Stepmode invoked");
    ASSERT_NE(loaded, std::string::npos);
    const std::string afterLoad = good.out.substr(good.out.find("list: ", loaded) + 1);
    const std::string firstStop = good.out.substr(0, good.out.find("status: Stepmode invoked"));
    // Every register field written again, with the values of the first stop.
    for (const char* reg : {"AF", "HL", "DE", "BC", "PC", "SP", "IX", "IY"}) {
        const std::string line = "reg " + std::string(reg) + ": ";
        const std::size_t at = afterLoad.find(line);
        ASSERT_NE(at, std::string::npos) << reg;
        EXPECT_NE(firstStop.find(afterLoad.substr(at, line.size() + 4)), std::string::npos) << reg;
    }
    EXPECT_NE(afterLoad.find("status: Stopped ..."), std::string::npos);

    struct Case {
        const char* script;
        std::string err;
    };
    const Case cases[] = {
        {"savestate never.st\nopen\n", "line 1: savestate works only while the machine is held\n"},
        {"loadstate here.st\nopen\n", "line 1: loadstate works only while the machine is held\n"},
        {"open\nwait\nloadstate junk.st\nsavestate never.st\n",
         "line 3: State file 'junk.st' is not a pdemu state file.\n"},
    };
    for (const Case& c : cases) {
        const RunResult r = runIn(dir.string(), {"--tstates", "3000000", "--timeout", "60", "--debug",
                                                 writeScript("bad.txt", c.script), "--screen", path("bad.png")});
        EXPECT_EQ(r.exitCode, 2) << c.script;
        EXPECT_EQ(r.err, c.err) << c.script;
        EXPECT_EQ(r.out.find("status: Stopped ...\ncontrols: on\nflags"), c.script[0] == 'o' ? 0u : std::string::npos)
            << c.script;  // the lines after the failure did not run
        EXPECT_FALSE(fs::exists(path("never.st"))) << c.script;
    }
}

TEST(DemoFirmware, EmbeddedImageIsTheBuiltRomFile) {
    const std::string file = readFile(demoDir + "/pdemu-demo.pgm");
    const auto image = demoRomImage();
    ASSERT_EQ(file.size(), 1048576u);
    ASSERT_EQ(image.size(), file.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), reinterpret_cast<const uint8_t*>(file.data())));
}

TEST(DemoFirmware, AppsHaveTheHeaderInstallationChecks) {
    for (const std::string& app : {painterApp, breakerApp}) {
        const std::string bytes = readFile(app);
        ASSERT_EQ(bytes.size(), 16384u) << app;
        EXPECT_EQ(uint8_t(bytes[0]), 0xC3) << app;
        EXPECT_EQ(uint8_t(bytes[0x40]) + 256 * uint8_t(bytes[0x41]), 16) << app;
        EXPECT_GE(uint8_t(bytes[0x10]), 0x20) << app;  // a printable name
    }
}

TEST(DemoFirmware, MapFilesGiveTheDebuggerTheAppNames) {
    const auto breaker = loadSymbolFile(demoDir + "/breaker.map", 0);
    ASSERT_FALSE(breaker->openFailed);
    EXPECT_EQ(breaker->findSymbol("main"), 0x4200);
    EXPECT_EQ(breaker->findSymbol("after_break"), 0x4207);
    EXPECT_TRUE(breaker->findSymbol("add_a_to_hl").has_value());
    EXPECT_EQ(breaker->findSymbol("result"), 0x8000);  // a RAM address: Data list
    bool mainIsFunction = false;
    for (int i = 0; breaker->functionItem(i) != nullptr; ++i)
        mainIsFunction |= std::string(breaker->functionItem(i)) == "main";
    EXPECT_TRUE(mainIsFunction);
    const auto painter = loadSymbolFile(demoDir + "/painter.map", 0);
    EXPECT_TRUE(painter->findSymbol("draw_board").has_value());
}

}  // namespace
