// DebugScript: the script parser and the runner that plays the user's part.
// Called by pdemu-run (--debug) and the tests.
#include "DebugScript.h"

#include <chrono>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "debugger/DebuggerEngine.h"
#include "debugger/PointSyntax.h"
#include "debugger/SymbolTable.h"
#include "host/HostFiles.h"
#include "machine/Machine.h"

namespace {

struct Action {
    int line = 0;
    std::string name;
    std::vector<std::string> args;
    std::string rest;  // everything after the name, trimmed (a point's text)
};

// A point number of delete, disable and enable: decimal, from 1.
std::optional<int> pointNumber(const std::string& text) {
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const int n = std::stoi(text);
    return n > 0 ? std::optional<int>(n) : std::nullopt;
}

// Hex of 1 to maxDigits digits, or nullopt.
std::optional<uint32_t> hexArgument(const std::string& text, std::size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return std::nullopt;
    return static_cast<uint32_t>(std::stoul(text, nullptr, 16));
}

// The count of back: decimal, from 1, at most 18 digits.
std::optional<uint64_t> backCount(const std::string& text) {
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const uint64_t n = std::stoull(text);
    return n > 0 ? std::optional<uint64_t>(n) : std::nullopt;
}

// "-" stands for an empty field.
std::string fieldText(const std::string& arg) { return arg == "-" ? std::string() : arg; }

// Checks one action's arguments; an empty answer means it is valid.
std::string checkAction(const Action& a) {
    struct Shape {
        const char* name;
        std::size_t args;
        const char* usage;
    };
    static const Shape shapes[] = {
        {"open", 0, "open"},
        {"close", 0, "close"},
        {"go", 0, "go"},
        {"animate", 0, "animate"},
        {"stop", 0, "stop"},
        {"step", 0, "step"},
        {"over", 0, "over"},
        {"break", 2, "break N TEXT (N 1-3)"},
        {"clearbreaks", 0, "clearbreaks"},
        {"clearlist", 0, "clearlist"},
        {"trace", 1, "trace on|off"},
        {"addr", 1, "addr TEXT"},
        {"length", 1, "length TEXT"},
        {"disasm", 0, "disasm"},
        {"hexdump", 0, "hexdump"},
        {"regs", 6, "regs AF HL DE BC IX IY"},
        {"poke", 4, "poke ram|rom BANK ADDR VALUE"},
        {"wait", 0, "wait"},
        {"delete", 1, "delete N"},
        {"disable", 1, "disable N"},
        {"enable", 1, "enable N"},
        {"memory", 2, "memory ADDR LEN"},
        {"rgo", 0, "rgo"},
    };
    if (a.name == "point") {
        std::string error;
        return parsePoint(a.rest, &error) ? std::string() : error;
    }
    if (a.name == "back") {
        if (a.args.size() > 1 || (a.args.size() == 1 && !backCount(a.args[0])))
            return "expected 'back' or 'back N' (N a decimal count from 1)";
        return {};
    }
    // The rest of the line is the file's name, spaces and all.
    if (a.name == "savestate" || a.name == "loadstate")
        return a.rest.empty() ? "expected '" + a.name + " FILE'" : std::string();
    for (const Shape& shape : shapes) {
        if (a.name != shape.name)
            continue;
        bool valid = a.args.size() == shape.args;
        if (valid && a.name == "break")
            valid = a.args[0] == "1" || a.args[0] == "2" || a.args[0] == "3";
        if (valid && a.name == "trace")
            valid = a.args[0] == "on" || a.args[0] == "off";
        if (valid && a.name == "poke")
            valid = a.args[0] == "ram" || a.args[0] == "rom";
        if (valid && (a.name == "delete" || a.name == "disable" || a.name == "enable") && !pointNumber(a.args[0]))
            return "point number '" + a.args[0] + "' is not a decimal number from 1";
        if (valid && a.name == "memory") {
            if (!hexArgument(a.args[0], 4))
                return "address '" + a.args[0] + "' is not hex of 1-4 digits";
            const auto length = hexArgument(a.args[1], 3);
            if (!length || *length == 0)
                return "length '" + a.args[1] + "' is not hex of 1-3 digits above 0";
        }
        return valid ? std::string() : std::string("expected '") + shape.usage + "'";
    }
    return "unknown action '" + a.name + "'";
}

class ScriptRunner {
public:
    // borrowed: one line for a remote client, on a debugger someone else
    // shows: its view stays, it is not closed afterwards, and a break trap's
    // request is left to whoever shows it.
    ScriptRunner(DebuggerEngine& engine, Machine* machine, std::ostream& out, const std::function<bool()>& runEnded,
                 std::function<const SymbolTable*()> symbols, bool borrowed = false)
        : engine(engine),
          machine(machine),
          out(out),
          view([this](std::string_view line) {
              std::lock_guard lock(outLock);
              this->out << line << '\n';
              this->out.flush();
          }),
          runEnded(runEnded),
          symbols(std::move(symbols)),
          borrowed(borrowed) {
        if (!borrowed)
            engine.setView(&view);
    }
    ~ScriptRunner() {
        if (borrowed)
            return;
        engine.switchOff();
        engine.setView(nullptr);
    }

    void run(const Action& a) {
        if (!borrowed)
            serveOpenRequest();
        const uint32_t holds = engine.holdCount();
        const std::string& name = a.name;
        if (name == "open") {
            showWindow();
        } else if (name == "close") {
            engine.switchOff();
        } else if (name == "go") {
            engine.go();
            waitHeld(holds);
        } else if (name == "animate") {
            engine.animate();
            waitHeld(holds);
        } else if (name == "step") {
            engine.stepInto();
            waitHeld(holds);
        } else if (name == "over") {
            const bool wasHeld = engine.isHeld();
            engine.stepOver();
            if (wasHeld)
                waitHeld(holds);
        } else if (name == "stop") {
            engine.stop();
        } else if (name == "break") {
            view.typeBreakpoint(std::stoi(a.args[0]), fieldText(a.args[1]));
            engine.readBreakpointFields();
        } else if (name == "clearbreaks") {
            engine.clearBreaks();
        } else if (name == "clearlist") {
            engine.clearList();
        } else if (name == "trace") {
            if (a.args[0] == "on")
                engine.selectTraceOn();
            else
                engine.selectTraceOff();
        } else if (name == "addr") {
            view.typeAddress(fieldText(a.args[0]));
        } else if (name == "length") {
            view.typeLength(fieldText(a.args[0]));
        } else if (name == "disasm") {
            engine.requestDisassembly();
            waitServed([this] { return engine.disassemblyPending(); });
        } else if (name == "hexdump") {
            engine.requestHexdump();
            waitServed([this] { return engine.hexdumpPending(); });
        } else if (name == "regs") {
            DebuggerEngine::RegisterEdit edit;
            edit.af = fieldText(a.args[0]);
            edit.hl = fieldText(a.args[1]);
            edit.de = fieldText(a.args[2]);
            edit.bc = fieldText(a.args[3]);
            edit.ix = fieldText(a.args[4]);
            edit.iy = fieldText(a.args[5]);
            engine.applyRegisterEdit(edit);
        } else if (name == "poke") {
            DebuggerEngine::RegisterEdit edit;
            edit.bankIsRam = a.args[0] == "ram";
            edit.bank = fieldText(a.args[1]);
            edit.address = fieldText(a.args[2]);
            edit.value = fieldText(a.args[3]);
            engine.applyRegisterEdit(edit);
        } else if (name == "wait") {
            waitHeld(std::nullopt);
        } else if (name == "point") {
            const PointResult r = engine.addPoint(a.rest, symbols());
            report(a, r, r.ok() ? r.text : std::string());
        } else if (name == "delete" || name == "disable" || name == "enable") {
            const int n = *pointNumber(a.args[0]);
            const PointResult r = name == "delete" ? engine.deletePoint(n) : engine.enablePoint(n, name == "enable");
            report(a, r, name + "d");
        } else if (name == "memory") {
            printMemory(a);
        } else if (name == "savestate" || name == "loadstate") {
            moveState(a);
        } else if (name == "back" || name == "rgo") {
            // The history's replay runs before these return; the view has shown the stop.
            const uint64_t count = a.args.empty() ? 1 : *backCount(a.args[0]);
            const std::string problem = !engine.isHeld() ? name + " works only while the machine is held"
                                        : name == "back"  ? engine.stepBack(count)
                                                          : engine.reverseGo();
            if (!problem.empty())
                refuse(a, problem);
        }
    }

    // A state file failed or was refused: the lines after it would act on
    // another machine than the script's author meant.
    bool scriptEnded() const { return ended; }

    // Lines refused when carried out (a name the symbol table lacks, a
    // number that holds no point, memory while the machine runs).
    bool anyRefused() const { return refused; }

private:
    void refuse(const Action& a, const std::string& why) {
        errorsRef() << "line " << a.line << ": " << printableText(why) << '\n';
        refused = true;
    }

    void report(const Action& a, const PointResult& r, const std::string& what) {
        if (!r.ok()) {
            refuse(a, r.error);
            return;
        }
        std::lock_guard lock(outLock);
        out << "point " << r.number << ": " << what << '\n';
        out.flush();
    }

    // savestate and loadstate act on the held instruction; the machine's
    // own messages name the file when it is refused.
    void moveState(const Action& a) {
        std::string problem;
        if (machine == nullptr)
            problem = "state files need the whole machine";
        else if (!engine.isHeld())
            problem = a.name + " works only while the machine is held";
        else
            problem = a.name == "savestate" ? machine->saveStateFile(a.rest) : machine->loadStateFile(a.rest);
        if (!problem.empty()) {
            refuse(a, problem);
            ended = true;
        }
    }

    // The Memory window's rows: 16 bytes a row from ADDR, the last shorter.
    void printMemory(const Action& a) {
        const uint32_t start = *hexArgument(a.args[0], 4);
        const uint32_t length = *hexArgument(a.args[1], 3);
        std::vector<uint8_t> bytes(length);
        if (!engine.peekHeld(DebuggerEngine::Space::Z80, 0, start, bytes.data(), bytes.size())) {
            refuse(a, "memory is shown only while the machine is held");
            return;
        }
        for (uint32_t row = 0; row < length; row += 16) {
            char line[80];
            int n = std::snprintf(line, sizeof line, "memory: %04X:", (start + row) & 0xFFFFu);
            for (uint32_t i = row; i < length && i < row + 16; ++i)
                n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), " %02X", bytes[i]);
            std::lock_guard lock(outLock);
            out << line << '\n';
        }
        out.flush();
    }

    void pause() { std::this_thread::sleep_for(std::chrono::milliseconds(DebuggerEngine::HoldPollMs)); }

    // Showing a window that is already shown changes nothing.
    void showWindow() {
        if (engine.isOff())
            engine.windowShown();
    }

    // What the device window's timer does with a break trap's request. Only
    // one Stop: a second one right behind the window's own would be taken up
    // once or twice ("Stopped ..." printed again) as the threads' timing falls.
    void serveOpenRequest() {
        if (!engine.takeOpenRequest())
            return;
        if (engine.isOff())
            engine.windowShown();
        else
            engine.stop();
    }

    // Until a hold that began after `since` (any hold when empty) is in
    // place and the engine has taken up the last command, or the run ends.
    void waitHeld(std::optional<uint32_t> since) {
        for (;;) {
            serveOpenRequest();
            if (engine.isHeld() && engine.commandTakenUp() && (!since || engine.holdCount() != *since))
                return;
            if (runEnded())
                return;
            pause();
        }
    }

    // A request is served only while the machine is held.
    template <class Pending>
    void waitServed(Pending pending) {
        while (pending() && engine.isHeld() && !runEnded())
            pause();
    }

    DebuggerEngine& engine;
    Machine* machine;  // null: an engine alone, without state files
    std::ostream& out;
    std::mutex outLock;  // the view's lines come from the emulation thread too
    DebuggerTextView view;
    const std::function<bool()>& runEnded;
    std::function<const SymbolTable*()> symbols;
    bool borrowed;

public:
    // Where refused lines are told (a borrowed runner hands them to the client).
    std::ostream* errorStream = &std::cerr;

private:
    std::ostream& errorsRef() { return *errorStream; }
    bool refused = false;
    bool ended = false;
};

}  // namespace

namespace {

// Reads every action; the first line that is not valid ends it with
// "line N: ..." (empty when all are valid).
std::string readActions(std::istream& script, std::vector<Action>& actions) {
    std::string text;
    for (int number = 1; std::getline(script, text); ++number) {
        std::istringstream words(text);
        Action action;
        action.line = number;
        if (!(words >> action.name) || action.name[0] == '#')
            continue;
        for (std::string word; words >> word;)
            action.args.push_back(word);
        const std::size_t nameEnd = text.find(action.name) + action.name.size();
        const std::size_t restStart = text.find_first_not_of(" \t", nameEnd);
        if (restStart != std::string::npos)
            action.rest = text.substr(restStart, text.find_last_not_of(" \t\r") + 1 - restStart);
        if (std::string problem = checkAction(action); !problem.empty())
            return "line " + std::to_string(number) + ": " + printableText(problem);
        actions.push_back(std::move(action));
    }
    return {};
}

}  // namespace

std::string debugScriptProblem(const std::string& text) {
    std::istringstream script(text);
    std::vector<Action> actions;
    return readActions(script, actions);
}

namespace {

int runActions(DebuggerEngine& engine, Machine* machine, std::istream& script, std::ostream& out,
               const std::function<bool()>& runEnded, std::function<const SymbolTable*()> symbols) {
    std::vector<Action> actions;
    if (const std::string problem = readActions(script, actions); !problem.empty()) {
        std::cerr << problem << '\n';
        return 2;
    }
    ScriptRunner runner(engine, machine, out, runEnded, std::move(symbols));
    for (const Action& action : actions) {
        runner.run(action);
        if (runner.scriptEnded())
            break;
    }
    return runner.anyRefused() ? 2 : 0;
}

}  // namespace

int runDebugScript(DebuggerEngine& engine, std::istream& script, std::ostream& out,
                   const std::function<bool()>& runEnded) {
    return runActions(engine, nullptr, script, out, runEnded, [] { return nullptr; });
}

int runDebugScript(Machine& machine, std::istream& script, std::ostream& out, const std::function<bool()>& runEnded) {
    return runActions(machine.debugger, &machine, script, out, runEnded,
                      [&machine]() -> const SymbolTable* { return machine.currentSymbols.get(); });
}

std::optional<std::string> runDebugLine(Machine& machine, const std::string& line, std::string& error) {
    std::istringstream text(line);
    std::vector<Action> actions;
    if (const std::string problem = readActions(text, actions); !problem.empty()) {
        error = problem.substr(problem.find(": ") + 2);  // one line: its number says nothing
        return std::nullopt;
    }
    // What moves the machine or needs the window is the client's own to do.
    static const char* const clientsOwn[] = {"open",   "close", "go",     "animate", "step",     "over",
                                             "stop",   "wait",  "trace",  "addr",    "length",   "disasm",
                                             "hexdump", "back", "rgo",    "loadstate", "break",  "clearbreaks"};
    for (const Action& a : actions)
        for (const char* name : clientsOwn)
            if (a.name == name) {
                error = "'" + a.name + "' is not for a remote client: use its own commands";
                return std::nullopt;
            }
    std::ostringstream out;
    std::string problems;
    {
        // A refused line's reason goes to the client.
        std::ostringstream why;
        const std::function<bool()> ended = [&machine] { return !machine.isRunning(); };
        ScriptRunner runner(machine.debugger, &machine, out, ended,
                            [&machine]() -> const SymbolTable* { return machine.currentSymbols.get(); }, true);
        runner.errorStream = &why;
        for (const Action& a : actions)
            runner.run(a);
        if (runner.anyRefused())
            problems = why.str();
    }
    if (!problems.empty()) {
        error = problems.substr(problems.find(": ") + 2);
        while (!error.empty() && error.back() == '\n')
            error.pop_back();
        return std::nullopt;
    }
    return out.str();
}
