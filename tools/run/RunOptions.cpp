// RunOptions: parsing of pdemu-run's command line (see RunOptions.h).
#include "RunOptions.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <functional>

#include "debugger/GdbServer.h"
#include "host/HostFiles.h"

const char* const runUsage =
    "usage: pdemu-run [options]\n"
    "  --rom FILE          ROM image (default: the demo firmware)\n"
    "  --save FILE         flash save file: loaded at start, written at the end\n"
    "  --install APP       install an application before the run (repeatable)\n"
    "  --tstates N         run at least N T-states\n"
    "  --until-break       end when the program executes the break trap (ED FF)\n"
    "  --timeout SECONDS   host time limit (exit code 3)\n"
    "  --input FILE        timed input: '<tstate> key <ADDR|TODO|PGUP|SCHED|MEMO|PGDN|L> <down|up>'\n"
    "                      or '<tstate> pen <x> <y> <down|move|up>', one event a line\n"
    "  --debug SCRIPT      drive the debugger from a script while the machine runs;\n"
    "                      its lines go to standard output. One action a line:\n"
    "                      open close go animate step over stop wait clearbreaks\n"
    "                      clearlist disasm hexdump, break N ADDR, trace on|off,\n"
    "                      addr ADDR, length LEN, regs AF HL DE BC IX IY ('-' keeps),\n"
    "                      poke ram|rom BANK ADDR VALUE, savestate FILE and\n"
    "                      loadstate FILE (while held), back [N] and rgo (going\n"
    "                      back in the history kept while the debugger is open;\n"
    "                      while held). A break trap (ED FF) opens\n"
    "                      the debugger (--until-break ends the run there instead);\n"
    "                      the debugger is closed after the last line\n"
    "  --clock \"YYYY-MM-DD HH:MM:SS\"  the clock ports read this fixed local time\n"
    "  --screen FILE.png   write the 160x240 display at the end\n"
    "  --record-screen FILE.png\n"
    "                      record the display through the run as an animated PNG:\n"
    "                      a frame whenever it changed, looked at every 200,000\n"
    "                      T-states; frame times in emulated time, 4,000,000\n"
    "                      T-states a second (ends at 64 MB, with a message)\n"
    "  --disasm ADDR:COUNT disassemble COUNT instructions at hex ADDR (or PC)\n"
    "                      at the end (repeatable)\n"
    "  --load-state FILE   start from a state file instead of a cold start; the save\n"
    "                      file is then not read, only written (with --save). Time\n"
    "                      (--tstates, --input) counts from the load\n"
    "  --save-state FILE   write a state file of the machine at the end\n"
    "  --record-session FILE\n"
    "                      write the run (its start, input and clock reads) as a\n"
    "                      session file at the end; not with --debug\n"
    "  --history-limit MB  memory for the debugger's history (default 512; 0: none)\n"
    "  --replay FILE       play a session file back; it ends at the session's end,\n"
    "                      or after --tstates N. Not with --input, --install,\n"
    "                      --load-state, --clock or --record-session\n"
    "  --gdb [HOST:]PORT   serve the GDB remote serial protocol (one client at a\n"
    "                      time; HOST defaults to 127.0.0.1, PORT 0 picks a free\n"
    "                      port); the line 'pdemu-run: GDB remote protocol on\n"
    "                      HOST:PORT' on standard error says where. Runs until a\n"
    "                      signal unless something else ends it. Not with --debug,\n"
    "                      --record-session or --replay\n"
    "  --gdb-wait          hold the machine at its first instruction (after the\n"
    "                      installations) until a client continues it\n"
    "Exit codes: 0 done, 2 bad usage, unreadable or refused file or bad script line,\n"
    "  3 timeout, 4 save file not written (unreadable at the start, so left alone,\n"
    "  or the write failed; wins over the others), 5 the replay left the session\n"
    "  (the run read what the session does not hold), 130/143 ended by\n"
    "  Ctrl-C/SIGTERM (state saved).\n";

namespace {

template <class T>
bool parseNumber(const std::string& text, T& value, int base = 10) {
    const char* first = text.data();
    const char* last = first + text.size();
    auto [end, error] = std::from_chars(first, last, value, base);
    return error == std::errc() && end == last && !text.empty();
}

bool parseSeconds(const std::string& text, double& value) {
    const char* first = text.data();
    auto [end, error] = std::from_chars(first, first + text.size(), value);
    return error == std::errc() && end == first + text.size() && !text.empty();
}

bool leapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

struct OptionEntry {
    const char* name;
    bool takesValue;
    std::function<std::string(RunOptions&, const std::string&)> apply;  // error text or ""
};

const std::vector<OptionEntry>& optionTable() {
    static const std::vector<OptionEntry> table = {
        {"--rom", true, [](RunOptions& o, const std::string& v) { o.romPath = v; return std::string(); }},
        {"--save", true, [](RunOptions& o, const std::string& v) { o.savePath = v; return std::string(); }},
        {"--install", true,
         [](RunOptions& o, const std::string& v) {
             o.installPaths.push_back(v);
             return std::string();
         }},
        {"--tstates", true,
         [](RunOptions& o, const std::string& v) {
             uint64_t n = 0;
             if (!parseNumber(v, n))
                 return "--tstates wants a decimal count, not '" + v + "'";
             o.tstates = n;
             return std::string();
         }},
        {"--until-break", false, [](RunOptions& o, const std::string&) { o.untilBreak = true; return std::string(); }},
        {"--timeout", true,
         [](RunOptions& o, const std::string& v) {
             double seconds = 0;
             if (!parseSeconds(v, seconds) || !(seconds > 0) || !std::isfinite(seconds))
                 return "--timeout wants a finite positive number of seconds, not '" + v + "'";
             o.timeoutSeconds = seconds;
             return std::string();
         }},
        {"--input", true, [](RunOptions& o, const std::string& v) { o.inputPath = v; return std::string(); }},
        {"--debug", true, [](RunOptions& o, const std::string& v) { o.debugPath = v; return std::string(); }},
        {"--clock", true,
         [](RunOptions& o, const std::string& v) {
             o.clock = parseClock(v);
             if (!o.clock)
                 return "--clock wants \"YYYY-MM-DD HH:MM:SS\", not '" + v + "'";
             return std::string();
         }},
        {"--screen", true, [](RunOptions& o, const std::string& v) { o.screenPath = v; return std::string(); }},
        {"--record-screen", true,
         [](RunOptions& o, const std::string& v) {
             o.recordScreenPath = v;
             return std::string();
         }},
        {"--disasm", true,
         [](RunOptions& o, const std::string& v) {
             const auto request = parseDisasm(v);
             if (!request)
                 return "--disasm wants ADDR:COUNT (hex address or PC, decimal count), not '" + v + "'";
             o.disasm.push_back(*request);
             return std::string();
         }},
        {"--load-state", true, [](RunOptions& o, const std::string& v) { o.loadStatePath = v; return std::string(); }},
        {"--save-state", true, [](RunOptions& o, const std::string& v) { o.saveStatePath = v; return std::string(); }},
        {"--record-session", true, [](RunOptions& o, const std::string& v) { o.recordPath = v; return std::string(); }},
        {"--replay", true, [](RunOptions& o, const std::string& v) { o.replayPath = v; return std::string(); }},
        {"--history-limit", true,
         [](RunOptions& o, const std::string& v) {
             uint64_t mb = 0;
             if (!parseNumber(v, mb) || mb > (uint64_t{1} << 20))
                 return "--history-limit wants megabytes (0-1048576), not '" + v + "'";
             o.historyLimitMB = mb;
             return std::string();
         }},
        {"--gdb", true,
         [](RunOptions& o, const std::string& v) {
             std::string host;
             uint16_t port = 0;
             o.gdbAddress = v;
             return parseGdbAddress(v, host, port);
         }},
        {"--gdb-wait", false, [](RunOptions& o, const std::string&) { o.gdbWait = true; return std::string(); }},
        {"--help", false, [](RunOptions& o, const std::string&) { o.help = true; return std::string(); }},
    };
    return table;
}

}  // namespace

std::optional<ClockSetting> parseClock(const std::string& text) {
    ClockSetting c;
    char tail = 0;
    if (text.size() != 19 ||
        std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &c.year, &c.month, &c.day, &c.hour, &c.minute,
                    &c.second, &tail) != 6 ||
        text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':' || text[16] != ':')
        return std::nullopt;
    static const int monthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    // The clock ports count years from 1901 and the tens digit must stay a byte.
    if (c.year < 1901 || c.year > 3000 || c.month < 1 || c.month > 12 || c.hour > 23 || c.minute > 59 ||
        c.second > 59 || c.hour < 0 || c.minute < 0 || c.second < 0)
        return std::nullopt;
    const int days = monthDays[c.month - 1] + (c.month == 2 && leapYear(c.year) ? 1 : 0);
    if (c.day < 1 || c.day > days)
        return std::nullopt;
    return c;
}

std::optional<DisasmRequest> parseDisasm(const std::string& text) {
    const auto colon = text.find(':');
    if (colon == std::string::npos)
        return std::nullopt;
    const std::string address = text.substr(0, colon);
    const std::string count = text.substr(colon + 1);
    DisasmRequest request;
    if (address == "PC" || address == "pc") {
        request.atPc = true;
    } else {
        unsigned value = 0;
        if (address.size() > 4 || !parseNumber(address, value, 16))
            return std::nullopt;
        request.address = static_cast<uint16_t>(value);
    }
    if (!parseNumber(count, request.count) || request.count < 1 || request.count > 65536)
        return std::nullopt;
    return request;
}

ParseResult parseRunOptions(const std::vector<std::string>& args) {
    ParseResult result;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const OptionEntry* entry = nullptr;
        for (const OptionEntry& candidate : optionTable())
            if (args[i] == candidate.name)
                entry = &candidate;
        if (entry == nullptr) {
            result.error = "unknown option '" + printableText(args[i]) + "'";
            return result;
        }
        std::string value;
        if (entry->takesValue) {
            if (i + 1 >= args.size()) {
                result.error = std::string(entry->name) + " needs a value";
                return result;
            }
            value = args[++i];
        }
        // The value is quoted back as typed: keep control bytes off the terminal.
        result.error = printableText(entry->apply(result.options, value));
        if (!result.error.empty())
            return result;
    }
    const RunOptions& o = result.options;
    if (o.help)
        return result;
    if (o.gdbWait && o.gdbAddress.empty()) {
        result.error = "--gdb-wait waits for a client of --gdb, which is not given";
        return result;
    }
    if (!o.gdbAddress.empty()) {
        // A client's edits and run control are the user's own, like a script's.
        const std::pair<bool, const char*> driven[] = {{!o.debugPath.empty(), "--debug"},
                                                       {!o.recordPath.empty(), "--record-session"},
                                                       {!o.replayPath.empty(), "--replay"}};
        for (const auto& [given, name] : driven) {
            if (given) {
                result.error = std::string(name) + " does not combine with --gdb: both would drive the debugger";
                return result;
            }
        }
        return result;  // a client may take as long as it likes
    }
    if (!o.replayPath.empty()) {
        // The session holds the start, the input and the clock reads: nothing may stand in for them.
        const std::pair<bool, const char*> held[] = {{!o.inputPath.empty(), "--input"},
                                                     {!o.installPaths.empty(), "--install"},
                                                     {!o.loadStatePath.empty(), "--load-state"},
                                                     {o.clock.has_value(), "--clock"},
                                                     {!o.recordPath.empty(), "--record-session"}};
        for (const auto& [given, name] : held) {
            if (given) {
                result.error = std::string(name) + " does not combine with --replay: the session holds its own";
                return result;
            }
        }
        return result;  // the session's end ends the run
    }
    // A script's register and memory edits and its loadstate are not outside reads: a
    // session would not hold them, and its replay would go elsewhere.
    if (!o.recordPath.empty() && !o.debugPath.empty()) {
        result.error = "--record-session does not combine with --debug: the session would not hold the script's edits";
        return result;
    }
    if (!o.tstates && !o.untilBreak && !o.timeoutSeconds)
        result.error = "nothing ends the run: give --tstates, --until-break or --timeout";
    return result;
}
