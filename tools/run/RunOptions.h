// RunOptions: the command line of the headless runner pdemu-run, parsed into
// plain data. main.cpp calls parseRunOptions; the tests call it directly.
//
// Options are a table (name, whether a value follows, handler), so a new one
// is one entry plus a field.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct DisasmRequest {
    bool atPc = false;       // "PC": the program counter at the end of the run
    uint16_t address = 0;
    int count = 0;
};

struct ClockSetting {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

struct RunOptions {
    std::string romPath;                   // empty: the demo firmware
    std::string savePath;                  // empty: nothing loaded or saved
    std::vector<std::string> installPaths; // installed in this order before the run
    std::optional<uint64_t> tstates;       // run at least this many T-states
    bool untilBreak = false;               // end when the program executes ED FF
    std::optional<double> timeoutSeconds;  // host time limit
    std::string inputPath;                 // timed input script
    std::string debugPath;                 // debugger script run while the machine runs
    std::optional<ClockSetting> clock;     // fixed local time for the clock ports
    std::string screenPath;                // PNG of the display at the end
    std::string recordScreenPath;          // animated PNG of the display through the run
    std::vector<DisasmRequest> disasm;     // listings at the end, in order
    std::string loadStatePath;             // start from this state file instead of a cold start
    std::string saveStatePath;             // state file written at the end
    std::string recordPath;                // session file of the run, written at the end
    uint64_t historyLimitMB = 512;         // the debugger's history (0: none)
    std::string replayPath;                // session file to play back instead of a run of its own
    std::string gdbAddress;                // [HOST:]PORT of the GDB remote protocol; empty: none
    bool gdbWait = false;                  // held at the first instruction until a client comes
    bool help = false;
};

struct ParseResult {
    RunOptions options;
    std::string error;  // empty when the command line is good
};

ParseResult parseRunOptions(const std::vector<std::string>& args);

// "YYYY-MM-DD HH:MM:SS" with a real calendar date; nullopt otherwise.
std::optional<ClockSetting> parseClock(const std::string& text);

// "ADDR:COUNT" (hex address or "PC", decimal count 1-65536); nullopt otherwise.
std::optional<DisasmRequest> parseDisasm(const std::string& text);

extern const char* const runUsage;
