// DebugScript: the script parser and the runner that plays the user's part.
// Called by pdemu-run (--debug) and the tests.
#include "DebugScript.h"

#include <chrono>
#include <iostream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "debugger/DebuggerEngine.h"
#include "host/HostFiles.h"
#include "machine/Machine.h"

namespace {

struct Action {
    int line = 0;
    std::string name;
    std::vector<std::string> args;
};

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
    };
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
        return valid ? std::string() : std::string("expected '") + shape.usage + "'";
    }
    return "unknown action '" + a.name + "'";
}

class ScriptRunner {
public:
    ScriptRunner(DebuggerEngine& engine, std::ostream& out, const std::function<bool()>& runEnded)
        : engine(engine),
          view([&out](std::string_view line) {
              out << line << '\n';
              out.flush();
          }),
          runEnded(runEnded) {
        engine.setView(&view);
    }
    ~ScriptRunner() {
        engine.switchOff();
        engine.setView(nullptr);
    }

    void run(const Action& a) {
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
        }
    }

private:
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
    DebuggerTextView view;
    const std::function<bool()>& runEnded;
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

int runDebugScript(DebuggerEngine& engine, std::istream& script, std::ostream& out,
                   const std::function<bool()>& runEnded) {
    std::vector<Action> actions;
    if (const std::string problem = readActions(script, actions); !problem.empty()) {
        std::cerr << problem << '\n';
        return 2;
    }
    ScriptRunner runner(engine, out, runEnded);
    for (const Action& action : actions)
        runner.run(action);
    return 0;
}

int runDebugScript(Machine& machine, std::istream& script, std::ostream& out, const std::function<bool()>& runEnded) {
    return runDebugScript(machine.debugger, script, out, runEnded);
}
