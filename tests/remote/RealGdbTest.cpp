// GDB itself against pdemu-run --gdb: a batch session of z80-elf-gdb (built
// by ../shared/tools/build-z80-gdb.sh, never in CI) on the Break demo.
// Skipped when that binary is absent. GDB 13's z80 unwinder crashes on
// stepi, reverse-stepi, nexti, finish, bt and register assignment, so the
// session steps with breakpoints only.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "RemoteRunner.h"

namespace {

namespace fs = std::filesystem;

std::string gdbPath() {
    if (const char* given = std::getenv("PDEMU_Z80_GDB"))
        return given;
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.cache/z80-gdb/bin/z80-elf-gdb";
}

// Runs a program to its end (killed at the bound); its standard output and
// error together.
std::string runToEnd(std::vector<std::string> args, int seconds, int* exitCode) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return "<no pipe>";
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        dup2(pipeFds[1], STDERR_FILENO);
        close(pipeFds[0]);
        close(pipeFds[1]);
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    std::string out;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        pollfd p{pipeFds[0], POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            kill(pid, SIGKILL);
            out += "<killed at the time bound>";
            break;
        }
        char buffer[4096];
        const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

TEST(RealGdb, BatchSessionOnTheBreakDemo) {
    const std::string gdb = gdbPath();
    if (access(gdb.c_str(), X_OK) != 0)
        GTEST_SKIP() << "no z80-elf-gdb at " << gdb << " (../shared/tools/build-z80-gdb.sh builds it)";
    const fs::path dir = fs::temp_directory_path() / ("pdemu-real-gdb-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string tap = (dir / "tap.txt").string();
    std::ofstream(tap) << "4000000 pen 40 115 down\n8000000 pen 40 115 up\n";
    const std::string program = (dir / "prog.bin").string();
    std::ofstream(program, std::ios::binary) << std::string("\x3e\x2a\xc9\x00\x7d\x23\x24\x2a", 8);

    const remotetest::Runner server(
        {"--gdb-wait", "--install", std::string(PDEMU_DEMO_DIR) + "/breaker.app", "--input", tap});
    ASSERT_GT(server.port, 0);
    int exitCode = -1;
    const std::string out = runToEnd(
        {gdb, "-nx", "-batch", "-ex", "set architecture z80", "-ex",
         "target remote 127.0.0.1:" + std::to_string(server.port), "-ex", "info registers", "-ex",
         "break *0x4200", "-ex", "continue", "-ex", "x/3xb 0x4200", "-ex", "watch *(short *)0x8000", "-ex",
         "continue", "-ex", "continue", "-ex", "reverse-continue", "-ex", "restore " + program + " binary 0xd000",
         "-ex", "x/8xb 0xd000", "-ex", "detach"},
        120, &exitCode);
    fs::remove_all(dir);
    EXPECT_EQ(exitCode, 0) << out;
    // The registers by the description's names, the banks among them.
    EXPECT_TRUE(std::regex_search(out, std::regex("\naf' +0x[0-9a-f]+"))) << out;
    EXPECT_TRUE(std::regex_search(out, std::regex("\nromBank +0x[0-9a-f]+ "))) << out;
    const std::regex hit("Breakpoint 1, 0x0*4200 in");
    EXPECT_EQ(std::distance(std::sregex_iterator(out.begin(), out.end(), hit), std::sregex_iterator()), 2)
        << "the breakpoint, then reverse-continue back to it:\n" << out;
    EXPECT_NE(out.find("0x4200:\t0x21\t0x4c\t0x42"), std::string::npos) << out;
    // The break trap's stop comes first, then the watchpoint with the sum.
    EXPECT_TRUE(std::regex_search(out, std::regex("Hardware watchpoint 2: \\*\\(short \\*\\)0x8000\n+Old value = [^\n]*\nNew value = 15[ \n]")))
        << out;
    EXPECT_NE(out.find("0xd000:\t0x3e\t0x2a\t0xc9\t0x00\t0x7d\t0x23\t0x24\t0x2a"), std::string::npos) << out;
    EXPECT_NE(out.find("[Inferior 1 (Remote target) detached]"), std::string::npos) << out;
}

}  // namespace
