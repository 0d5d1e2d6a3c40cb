// Tests of the pdemu-cpm harness: runs the built executable on the CP/M
// programs of this folder and checks what it prints, the final T-state count,
// the --max-tstates limit, bad usage, and the exerciser's checksum.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "CpmBus.h"
#include "z80/Core.h"

namespace {

struct CpmRun {
    int status = -1;
    std::string out, err;
    long long tstates = -1;  // from the stderr line, -1 if it is malformed
};

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// "tstates=N seconds=S.SSS emulated_mhz=M.M\n" gives N; anything else -1.
long long parseStatusLine(const std::string& line) {
    long long tstates = -1;
    unsigned secWhole, secFrac, mhzWhole, mhzFrac;
    int fracStart = 0, fracEnd = 0, mhzStart = 0, end = 0;
    if (std::sscanf(line.c_str(), "tstates=%lld seconds=%u.%n%u%n emulated_mhz=%u.%n%u%n", &tstates, &secWhole,
                    &fracStart, &secFrac, &fracEnd, &mhzWhole, &mhzStart, &mhzFrac, &end) != 5)
        return -1;
    bool digitsRight = fracEnd - fracStart == 3 && end - mhzStart == 1;
    bool onlyDigits = line.find_first_not_of("0123456789", line.find('=') + 1) == line.find(' ');
    if (!digitsRight || !onlyDigits || line.size() != size_t(end) + 1 || line.back() != '\n') return -1;
    return tstates;
}

std::string program(const char* name) { return std::string("'") + CPM_PROGRAMS + "/" + name + "'"; }

CpmRun runCpm(const std::string& args) {
    static int serial = 0;
    std::string base = testing::TempDir() + "pdemu_cpm_" + std::to_string(getpid()) + "_" + std::to_string(serial++);
    std::string cmd = std::string("'") + PDEMU_CPM + "' " + args + " >'" + base + ".out' 2>'" + base + ".err'";
    int rc = std::system(cmd.c_str());
    CpmRun run;
    run.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    run.out = readFile(base + ".out");
    run.err = readFile(base + ".err");
    std::remove((base + ".out").c_str());
    std::remove((base + ".err").c_str());
    run.tstates = parseStatusLine(run.err);
    return run;
}

TEST(CpmHarness, StatusLineFormatIsRecognisedExactly) {
    EXPECT_EQ(parseStatusLine("tstates=142 seconds=0.000 emulated_mhz=9.9\n"), 142);
    EXPECT_EQ(parseStatusLine("tstates=142 seconds=0.00 emulated_mhz=9.9\n"), -1);
    EXPECT_EQ(parseStatusLine("tstates=142 seconds=0.000 emulated_mhz=9.90\n"), -1);
    EXPECT_EQ(parseStatusLine("tstates=142 seconds=0.000 emulated_mhz=9.9"), -1);
    EXPECT_EQ(parseStatusLine("tstates=-4 seconds=0.000 emulated_mhz=9.9\n"), -1);
    EXPECT_EQ(parseStatusLine("tstates=142 seconds=0.000 emulated_mhz=9.9\nmore\n"), -1);
}

TEST(CpmHarness, PrintsThroughBdosAndEndsAtAddressZeroWithAnExactCount) {
    CpmRun hello = runCpm(program("hello.com"));
    EXPECT_EQ(hello.status, 0);
    EXPECT_EQ(hello.out, "Hello, CP/M!\r\nBDOS 2 ok, top=FE00\r\n");
    EXPECT_GT(hello.tstates, 0) << "stderr: " << hello.err;

    // A final RET through the zero word on the stack ends the run as a jump to 0 does; the
    // count is exact: LD B 7, nine taken DJNZ 13 each, the last one 8, RET 10.
    CpmRun countdown = runCpm(program("countdown.com"));
    EXPECT_EQ(countdown.status, 0);
    EXPECT_EQ(countdown.out, "");
    EXPECT_EQ(countdown.tstates, 142) << "stderr: " << countdown.err;

    // A limit beyond the program's end changes nothing.
    CpmRun limited = runCpm(program("hello.com") + " --max-tstates 1000000000");
    EXPECT_EQ(limited.status, 0);
    EXPECT_EQ(limited.out, hello.out);
    EXPECT_EQ(limited.tstates, hello.tstates);
}

TEST(CpmHarness, MaxTstatesStopsAtTheFirstInstructionBoundaryPastTheLimit) {
    // spin.com takes 51 T-states up to its 12-T-state loop.
    CpmRun shortRun = runCpm("--max-tstates 1000 " + program("spin.com"));
    EXPECT_EQ(shortRun.status, 1);
    EXPECT_EQ(shortRun.out, "x");
    EXPECT_EQ(shortRun.tstates, 51 + 12 * 80) << "stderr: " << shortRun.err;

    // Across several slices of the harness.
    CpmRun longRun = runCpm(program("spin.com") + " --max-tstates 250000");
    EXPECT_EQ(longRun.status, 1);
    EXPECT_EQ(longRun.out, "x");
    EXPECT_EQ(longRun.tstates, 51 + 12 * 20830) << "stderr: " << longRun.err;
}

TEST(CpmHarness, BadUsageExitsWithTwoAndOneLine) {
    // Files that are no program: empty, a folder, a FIFO nobody writes (must
    // not hang), a device that never ends.
    const std::string scratch = testing::TempDir() + "pdemu_cpm_bad_" + std::to_string(getpid());
    std::ofstream(scratch + ".com").close();
    unlink((scratch + ".fifo").c_str());
    ASSERT_EQ(mkfifo((scratch + ".fifo").c_str(), 0600), 0);
    const std::string cases[] = {
        "'" + scratch + ".com'",
        "'" + std::string(CPM_PROGRAMS) + "'",
        "'" + scratch + ".fifo'",
        "/dev/zero",
        "",
        program("hello.com") + " --max-tstates",
        program("hello.com") + " --max-tstates 0",
        program("hello.com") + " --max-tstates 12x",
        program("hello.com") + " --fast",
        program("hello.com") + " " + program("spin.com"),
        "'" + std::string(CPM_PROGRAMS) + "/no-such-program.com'",
    };
    for (const auto& args : cases) {
        CpmRun run = runCpm(args);
        EXPECT_EQ(run.status, 2) << args;
        EXPECT_EQ(run.out, "") << args;
        ASSERT_FALSE(run.err.empty()) << args;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << args << ": " << run.err;
        EXPECT_EQ(run.err.rfind("pdemu-cpm: ", 0), 0u) << args << ": " << run.err;
    }
    unlink((scratch + ".com").c_str());
    unlink((scratch + ".fifo").c_str());
}

// The exerciser at test length. The expected checksum and T-state count were
// recorded from the core after it passed the conformance test; the checksum
// leaves out the flag bits that differ between Z80s, so it stands for the
// documented instruction set.
TEST(CpmExerciser, ShortRunPrintsTheKnownChecksum) {
    CpmRun run = runCpm(program("exer-short.com"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "checksum A7216A2B\r\n");
    EXPECT_EQ(run.tstates, 966036) << "stderr: " << run.err;
}

}  // namespace

// Word reads on the harness's bus: the operand of LD HL,(nn) and the stack
// word of POP at 0xFFFF take their high byte from 0x0000 (the break trap).
TEST(CpmBusWords, APairAtTheTopOfMemoryWrapsToAddressZero) {
    auto bus = std::make_unique<CpmBus>();
    const uint8_t code[] = {0x2A, 0xFF, 0xFF,  // LD HL,(0xFFFF)
                            0x31, 0xFF, 0xFF,  // LD SP,0xFFFF
                            0xD1,              // POP DE
                            0xC3, 0x00, 0x00}; // JP 0: the break trap ends the run
    ASSERT_TRUE(bus->load(code, sizeof code));
    bus->mem[0xFFFF] = 0x34;
    Z80State s{};
    bus->start(s);
    runCpu(s, *bus);
    EXPECT_TRUE(bus->programEnded);
    EXPECT_EQ(s.HL.w, 0xED34);  // 0x0000 holds ED FF 76
    EXPECT_EQ(s.DE.w, 0xED34);
    EXPECT_EQ(s.SP.w, 0x0001);
}
