// RemoteRunner: pdemu-run (or the window program) with --gdb as a child
// process of the remote tests, its port read from its first line on
// standard error. Every wait is for bytes on a pipe, with a bound.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

namespace remotetest {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Running to a breakpoint takes emulated time: a bound, not an expectation.
constexpr double RunSeconds = 60.0 * PDEMU_SLOWDOWN;

inline int msLeft(Clock::time_point until) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

inline Clock::time_point after(double seconds) {
    return Clock::now() + std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000));
}

// pdemu-run as a child; its standard error's first line names the port.
class Runner {
public:
    explicit Runner(std::vector<std::string> extra)
        : Runner(PDEMU_RUN_PATH, "pdemu-run", [&] {
              std::vector<std::string> args = {"--gdb", "127.0.0.1:0", "--timeout", "600"};
              args.insert(args.end(), extra.begin(), extra.end());
              return args;
          }()) {}
    // program's first line on standard error is "NAME: GDB remote protocol on ...".
    Runner(const std::string& program, const std::string& name, std::vector<std::string> extra,
           const fs::path& home = {}) {
        std::vector<std::string> args = {program};
        args.insert(args.end(), extra.begin(), extra.end());
        int out[2], err[2];
        if (pipe(out) != 0 || pipe(err) != 0)
            return;
        pid = fork();
        if (pid == 0) {
            dup2(out[1], STDOUT_FILENO);
            dup2(err[1], STDERR_FILENO);
            for (int fd : {out[0], out[1], err[0], err[1]})
                close(fd);
            if (!home.empty()) {
                // The window program's settings stay out of the user's own.
                setenv("HOME", home.c_str(), 1);
                setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
                setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
                setenv("XDG_RUNTIME_DIR", home.c_str(), 1);
                setenv("QT_QPA_PLATFORM", "offscreen", 1);
            }
            std::vector<char*> argv;
            for (std::string& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        outFd = out[0];
        errFd = err[0];
        const auto until = after(RunSeconds);
        while (errText.find("protocol on") == std::string::npos ||
               errText.find('\n', errText.find("protocol on")) == std::string::npos) {
            if (!readSome(errFd, errText, until))
                break;
        }
        // Qt may say a word of its own before the line.
        const std::regex listening("(^|\n)" + name + ": GDB remote protocol on 127\\.0\\.0\\.1:([0-9]+)\n");
        std::smatch m;
        if (std::regex_search(errText, m, listening))
            port = static_cast<uint16_t>(std::stoi(m[2]));
    }
    ~Runner() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            int status = 0;
            waitpid(pid, &status, 0);
        }
        for (int fd : {outFd, errFd})
            if (fd >= 0)
                close(fd);
    }
    // Until standard output holds text (false at the bound).
    bool waitForOutput(const std::string& text, double seconds = RunSeconds) {
        const auto until = after(seconds);
        while (out.find(text) == std::string::npos)
            if (!readSome(outFd, out, until))
                return false;
        return true;
    }

    uint16_t port = 0;
    std::string errText;
    std::string out;

private:
    static bool readSome(int fd, std::string& into, Clock::time_point until) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, msLeft(until)) <= 0)
            return false;
        char buffer[4096];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        into.append(buffer, static_cast<std::size_t>(n));
        return true;
    }
    pid_t pid = -1;
    int outFd = -1, errFd = -1;
};


}  // namespace remotetest
