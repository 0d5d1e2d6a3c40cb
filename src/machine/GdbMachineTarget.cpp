// GdbMachineTarget: the GDB client's machine (see GdbMachineTarget.h).
#include "machine/GdbMachineTarget.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "machine/Machine.h"

GdbMachineTarget::GdbMachineTarget(Machine& machine) : machine(machine) {}

bool GdbMachineTarget::heldNow() const {
    const DebuggerEngine& engine = machine.debugger;
    return engine.isHeld() && engine.commandTakenUp();
}

void GdbMachineTarget::attach() {
    DebuggerEngine& engine = machine.debugger;
    if (windowShows) {
        // The window comes up as for a break trap; its showing gives the Stop.
        if (engine.isOff())
            engine.setOpenRequest(true);
        else
            engine.stop();
    } else {
        // A break trap's request for the window is served by this stop.
        (void)engine.takeOpenRequest();
        if (engine.isOff()) {
            engineWasOff = true;
            engine.windowShown();
        } else {
            engine.stop();
        }
    }
    // The hold comes within an instruction, unless the machine is parked
    // (a restart) or ending: then the client's first packets find it running
    // and are refused until it is held.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(AttachWaitMs);
    while (!heldNow() && machine.isRunning() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(DebuggerEngine::HoldPollMs));
}

void GdbMachineTarget::detach() {
    DebuggerEngine& engine = machine.debugger;
    for (const Made& m : made)
        (void)engine.deletePoint(m.number);
    made.clear();
    if (engineWasOff && !windowShows)
        engine.switchOff();
    else
        engine.go();
    engineWasOff = false;
}

bool GdbMachineTarget::readRegisters(GdbRegisters& regs) {
    return machine.debugger.whileHeld(
        [&] {
            const Z80State& c = machine.cpu;
            const uint16_t words[GdbRegisters::WordCount] = {
                c.AF.w,   c.BC.w,   c.DE.w,   c.HL.w, c.altAF, c.altBC, c.altDE, c.altHL, c.IX.w,
                c.IY.w,   c.SP.w,   c.PC.w,
                // There is no R register: its half reads 0.
                static_cast<uint16_t>(c.I << 8)};
            std::copy(std::begin(words), std::end(words), regs.word);
            regs.romBank = static_cast<uint8_t>(machine.memory.romBank);
            regs.ramBank = static_cast<uint8_t>(machine.memory.ramBank);
        },
        false);
}

bool GdbMachineTarget::writeRegisters(const GdbRegisters& regs) {
    GdbRegisters now;
    if (!readRegisters(now))
        return false;
    // The banks follow the page ports: they are read, not written.
    if (regs.romBank != now.romBank || regs.ramBank != now.ramBank)
        return false;
    if (std::equal(std::begin(regs.word), std::end(regs.word), std::begin(now.word)))
        return true;  // an unchanged write keeps the history
    DebuggerEngine& engine = machine.debugger;
    const uint16_t* w = regs.word;
    const bool others = w[4] != now.word[4] || w[5] != now.word[5] || w[6] != now.word[6] || w[7] != now.word[7] ||
                        w[10] != now.word[10] || w[11] != now.word[11] || (w[12] >> 8) != (now.word[12] >> 8);
    if (others && !engine.whileHeld(
                      [&] {
                          Z80State& c = machine.cpu;
                          c.altAF = w[4];
                          c.altBC = w[5];
                          c.altDE = w[6];
                          c.altHL = w[7];
                          c.SP.w = w[10];
                          c.PC.w = w[11];
                          c.I = static_cast<uint8_t>(w[12] >> 8);
                      },
                      true))
        return false;
    // The register editor's OK sets the rest and counts the change.
    auto text = [](uint16_t value) {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%04X", value);
        return std::string(digits);
    };
    DebuggerEngine::RegisterEdit edit;
    edit.af = text(w[0]);
    edit.bc = text(w[1]);
    edit.de = text(w[2]);
    edit.hl = text(w[3]);
    edit.ix = text(w[8]);
    edit.iy = text(w[9]);
    return engine.applyRegisterEdit(edit);
}

bool GdbMachineTarget::readMemory(uint16_t address, uint8_t* out, std::size_t count) {
    return machine.debugger.peekHeld(DebuggerEngine::Space::Z80, 0, address, out, count);
}

bool GdbMachineTarget::writeMemory(uint16_t address, const uint8_t* data, std::size_t count) {
    DebuggerEngine& engine = machine.debugger;
    std::vector<uint8_t> now(count);
    if (!engine.peekHeld(DebuggerEngine::Space::Z80, 0, address, now.data(), count))
        return false;
    // Only the bytes that change count as edits: a client that writes back
    // what it read keeps the history.
    for (std::size_t i = 0; i < count; ++i) {
        if (now[i] == data[i])
            continue;
        if (!engine.pokeHeld(DebuggerEngine::Space::Z80, 0, static_cast<uint16_t>(address + i), data[i]))
            return false;
    }
    return true;
}

bool GdbMachineTarget::resume(bool step) {
    DebuggerEngine& engine = machine.debugger;
    if (!heldNow())
        return false;
    resumedAt = engine.holdCount();
    // Either way the held instruction runs first: a breakpoint on it does
    // not hold the machine again before it has left it.
    if (step)
        engine.stepInto();
    else
        engine.go();
    return true;
}

std::optional<GdbStop> GdbMachineTarget::pollStop() {
    DebuggerEngine& engine = machine.debugger;
    if (!machine.isRunning() || engine.isOff())
        return GdbStop{};  // the run ended or the window was closed: nothing more will hold
    // A break trap asks for the window, which is open: it stops the machine.
    if (!windowShows && engine.takeOpenRequest())
        engine.stop();
    if (!heldNow() || engine.holdCount() == resumedAt)
        return std::nullopt;
    return stopFromStatus(engine.statusText());
}

void GdbMachineTarget::interrupt() { machine.debugger.stop(); }

std::optional<GdbStop> GdbMachineTarget::reverse(bool step) {
    DebuggerEngine& engine = machine.debugger;
    if (!heldNow())
        return std::nullopt;
    const std::string problem = step ? engine.stepBack(1) : engine.reverseGo();
    if (!problem.empty())
        return std::nullopt;
    return stopFromStatus(engine.statusText());
}

GdbStop GdbMachineTarget::stopFromStatus(const std::string& status) const {
    GdbStop stop;
    if (status.rfind("Start of history reached", 0) == 0) {
        stop.historyStart = true;
        return stop;
    }
    // "Watchpoint (N) write ADDR=VV at:PC"
    int number = 0;
    char kind[16] = {};
    unsigned address = 0;
    if (std::sscanf(status.c_str(), "Watchpoint (%d) %15s %x=", &number, kind, &address) != 3)
        return stop;
    stop.address = static_cast<uint16_t>(address);
    stop.watch = std::string(kind) == "read" ? GdbStop::Watch::Read : GdbStop::Watch::Write;
    for (const Made& m : made)
        if (m.number == number && m.type == 4)
            stop.watch = GdbStop::Watch::Access;  // the client asked for either kind
    if (std::string(kind) == "out" || std::string(kind) == "in")
        stop.watch = GdbStop::Watch::None;  // ports are not memory
    return stop;
}

bool GdbMachineTarget::insertPoint(int type, uint16_t address, uint32_t length) {
    const bool exec = type <= 1;
    for (const Made& m : made)
        if (m.type == type && m.address == address && (exec || m.length == length))
            return true;  // already set (GDB may set them again before a continue)
    char text[32];
    if (exec) {
        std::snprintf(text, sizeof text, "exec %04X", address);
    } else {
        static const char* const kinds[] = {"write", "read", "access"};
        const uint32_t last = std::min<uint32_t>(address + length - 1, 0xFFFF);
        std::snprintf(text, sizeof text, "%s %04X-%04X", kinds[type - 2], address, static_cast<unsigned>(last));
    }
    const PointResult r = machine.debugger.addPoint(text, nullptr);
    if (!r.ok())
        return false;
    made.push_back({type, address, length, r.number});
    return true;
}

bool GdbMachineTarget::removePoint(int type, uint16_t address, uint32_t length) {
    const bool exec = type <= 1;
    for (auto it = made.begin(); it != made.end(); ++it) {
        if (it->type != type || it->address != address || (!exec && it->length != length))
            continue;
        // Deleted in the window already: gone all the same.
        (void)machine.debugger.deletePoint(it->number);
        made.erase(it);
        return true;
    }
    return false;
}

std::optional<std::string> GdbMachineTarget::monitor(const std::string& line, std::string& error) {
    if (!monitorLine) {
        error = "monitor commands are not available here";
        return std::nullopt;
    }
    return monitorLine(line, error);
}
