// HeadlessRun: the headless runner's run of the machine (see HeadlessRun.h).
#include "HeadlessRun.h"

#include <chrono>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <thread>

#include "machine/ScreenPng.h"
#include "DebugScript.h"
#include "debugger/GdbServer.h"
#include "machine/GdbMachineTarget.h"
#include "debugger/Disassembler.h"
#include "host/HostFiles.h"
#include "machine/StopSignals.h"

namespace {

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The machine stores each line with a CR put before every LF; the organiser
// wrote the line without those CRs.
void writeLineAsWritten(std::FILE* out, const std::string& line) {
    std::string text;
    text.reserve(line.size());
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\r' && i + 1 < line.size() && line[i + 1] == '\n')
            continue;
        text.push_back(line[i]);
    }
    std::fwrite(text.data(), 1, text.size(), out);
    std::fflush(out);
}

// The debug script's output: each line leaves in one fwrite when the script
// flushes it, so it never mixes with a print-trap line written meanwhile.
class LineToFile final : public std::streambuf {
public:
    explicit LineToFile(std::FILE* file) : file(file) {}

protected:
    int_type overflow(int_type c) override {
        if (!traits_type::eq_int_type(c, traits_type::eof()))
            line.push_back(traits_type::to_char_type(c));
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* text, std::streamsize n) override {
        line.append(text, static_cast<std::size_t>(n));
        return n;
    }
    int sync() override {
        std::fwrite(line.data(), 1, line.size(), file);
        line.clear();
        return std::fflush(file) == 0 ? 0 : -1;
    }

private:
    std::FILE* file;
    std::string line;
};

// How long a debugger hold must last, with its command taken up, before the
// script's wait counts it as the hold to stop at: a Go or Step over given
// while held leaves the hold only when the held thread next looks, up to
// DebuggerEngine::HoldPollMs later (more on a busy host).
constexpr auto steadyHold = std::chrono::milliseconds(250);

}  // namespace

HeadlessRun::HeadlessRun(RunOptions options, std::vector<InputEvent> events, std::FILE* out, std::FILE* err)
    : options(std::move(options)), events(std::move(events)), out(out), err(err) {
    if (this->options.clock) {
        const ClockSetting& c = *this->options.clock;
        clock = std::make_unique<FixedClock>(FixedClock::at(c.year, c.month, c.day, c.hour, c.minute, c.second));
    } else {
        clock = std::make_unique<SystemClock>();
    }
}

void HeadlessRun::showMessage(MessageIcon, const std::string& text) {
    std::fprintf(err, "%s\n", text.c_str());
    std::fflush(err);
}

bool HeadlessRun::timeLeft() const { return deadline == 0 || steadySeconds() < deadline; }

void HeadlessRun::setDebugScript(std::string text) { debugScript = std::move(text); }

void HeadlessRun::setStartState(MachineState state) { startState = std::move(state); }

void HeadlessRun::setReplay(Session session) { replay = std::move(session); }

bool HeadlessRun::outOfTime(Machine& machine) {
    if (!timedOut && !timeLeft()) {
        timedOut = true;
        machine.requestStop();
    }
    return timedOut;
}

void HeadlessRun::onSlice(Machine& machine) {
    if (stopSignal() != 0) [[unlikely]] {
        // Ctrl-C or SIGTERM: end here as at the run's end, so the save is written.
        machine.requestStop();
        return;
    }
    if (holdForSetup.load(std::memory_order_acquire)) {
        // Wait here, between two slices, until an installation asks to park
        // the machine (then loopHook parks it right after this call) or the
        // setup is over.
        heldForSetup.store(true, std::memory_order_release);
        while (holdForSetup.load(std::memory_order_acquire) &&
               !machine.pauseRequested() &&
               !machine.stopRequested())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        heldForSetup.store(false, std::memory_order_release);
        if (holdForSetup.load(std::memory_order_acquire) && !startingRecording.load(std::memory_order_acquire))
            return;
    }
    const uint64_t now = runTime(machine);
    // A loadstate may have set the clock back: look again from there.
    if (recordingScreen && (now >= nextScreenLook || now + RecordRefreshTStates < nextScreenLook)) [[unlikely]]
        lookAtScreen(machine, now);
    while (nextEvent < events.size() && events[nextEvent].tstate <= now)
        applyInputEvent(events[nextEvent++], machine.ports);
    if (machine.hasDebugText())
        printPendingLines(machine);
    bool stop = options.tstates && now >= *options.tstates;
    if (options.untilBreak && machine.debugger.openRequested()) {
        stoppedByBreak = true;
        stop = true;
    }
    if (stop) {
        // The run ends here: nobody is to open the debugger for the trap.
        (void)machine.debugger.takeOpenRequest();
        machine.requestStop();
        return;
    }
    if (scriptActive.load(std::memory_order_acquire))
        parkForScript(machine);
}

uint64_t HeadlessRun::runTime(Machine& machine) const {
    // A script's loadstate may set the count below the baseline.
    const uint64_t elapsed = machine.elapsedTStates.load(std::memory_order_relaxed);
    return elapsed > baseline ? elapsed - baseline : 0;
}

namespace {

uint64_t recordingMicroseconds(uint64_t tstates) {
    return tstates / (HeadlessRun::RecordTStatesPerSecond / 1'000'000);
}

}  // namespace

void HeadlessRun::lookAtScreen(Machine& machine, uint64_t now) {
    nextScreenLook = (now / RecordRefreshTStates + 1) * RecordRefreshTStates;
    // Unchanged since the last look: nothing to compare. The first look
    // always takes the display. This thread draws the bitmap, so it reads it
    // directly.
    if (machine.memory.screenChanged.exchange(0, std::memory_order_acq_rel) == 0 && screenRecording.frameCount() != 0)
        return;
    noteRecording(screenRecording.addFrame(screen.data(), recordingMicroseconds(now)));
}

void HeadlessRun::noteRecording(ScreenRecording::Outcome outcome) {
    const std::string name = printableText(options.recordScreenPath);
    if (outcome == ScreenRecording::Outcome::EndedAtLimit) {
        std::fprintf(err, "pdemu-run: screen recording '%s' ended at its size limit of %llu MB; the file holds the "
                          "frames until then.\n",
                     name.c_str(), static_cast<unsigned long long>(ScreenRecording::DefaultSizeLimit >> 20));
    } else if (outcome == ScreenRecording::Outcome::WriteFailed) {
        std::fprintf(err, "pdemu-run: cannot write screen recording '%s' (%s); it ends there.\n", name.c_str(),
                     screenRecording.problem().c_str());
        screenRecordingFailed = true;
    } else {
        return;
    }
    std::fflush(err);
    recordingScreen = false;
}

void HeadlessRun::parkForScript(Machine& machine) {
    // A break trap's request waits here for the script, so the debugger
    // opens at this slice end whenever the script gets to serve it.
    auto mayGoOn = [&] {
        return !scriptActive.load(std::memory_order_acquire) ||
               machine.stopRequested() ||
               (letRun.load(std::memory_order_acquire) &&
                !machine.debugger.openRequested());
    };
    if (mayGoOn())
        return;
    parkedForScript.store(true, std::memory_order_release);
    while (!mayGoOn())
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    parkedForScript.store(false, std::memory_order_release);
}

// The script's runEnded: called whenever the script waits for the machine.
// Lets the machine run until it is held by the debugger, parked with a break
// trap's request, or the run is over (true).
bool HeadlessRun::scriptWaits(Machine& machine) {
    DebuggerEngine& engine = machine.debugger;
    auto over = [&] { return !machine.isRunning() || outOfTime(machine); };
    auto pause = [] { std::this_thread::sleep_for(std::chrono::microseconds(500)); };
    if (over())
        return true;
    if (engine.isHeld()) {
        // A disassembly or hexdump is made while held: nothing to run.
        if (engine.disassemblyPending() || engine.hexdumpPending())
            return false;
        // Wait for the hold to end, if a command is releasing it.
        const uint32_t hold = engine.holdCount();
        const auto since = std::chrono::steady_clock::now();
        while (engine.isHeld() && engine.holdCount() == hold) {
            if (over())
                return true;
            if (engine.commandTakenUp() && std::chrono::steady_clock::now() - since > steadyHold)
                break;
            pause();
        }
    }
    letRun.store(true, std::memory_order_release);
    bool ended = false;
    for (;;) {
        if (over()) {
            ended = true;
            break;
        }
        if (engine.isHeld() && engine.commandTakenUp())
            break;
        if (parkedForScript.load(std::memory_order_acquire) &&
            engine.openRequested())
            break;
        pause();
    }
    letRun.store(false, std::memory_order_release);
    // Lines printed by an instruction just stepped: the held thread runs no
    // instruction, so they can be taken from here.
    if (!ended && engine.isHeld() && machine.hasDebugText())
        printPendingLines(machine);
    return ended;
}

int HeadlessRun::runScript(Machine& machine) {
    // The first action comes at a slice end like every other: one given while
    // the first slice (from the start or the last installation's restart)
    // still runs would land wherever that slice happened to be.
    while (!parkedForScript.load(std::memory_order_acquire) && machine.isRunning() && !outOfTime(machine))
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    LineToFile lines(out);
    std::ostream stream(&lines);
    std::istringstream script(*debugScript);
    const int result = runDebugScript(machine, script, stream, [&] { return scriptWaits(machine); });
    stream.flush();
    scriptActive.store(false, std::memory_order_release);
    return result;
}

void HeadlessRun::printPendingLines(Machine& machine) {
    for (const std::string& line : machine.takeDebugLines())
        writeLineAsWritten(out, line);
}

int HeadlessRun::run() {
    if (options.timeoutSeconds)
        deadline = steadySeconds() + *options.timeoutSeconds;

    // Created before anything runs, so a file that cannot be written ends
    // the run before it has started; a run that then does not start leaves
    // no file.
    if (!options.recordScreenPath.empty()) {
        if (!screenRecording.open(options.recordScreenPath)) {
            std::fprintf(err, "pdemu-run: cannot write screen recording '%s' (%s).\n",
                         printableText(options.recordScreenPath).c_str(), screenRecording.problem().c_str());
            std::fflush(err);
            return RunBadUsage;
        }
        recordingScreen = true;
    }

    Machine machine(*this, *clock);
    machine.memory.screenBits = screen.data();
    machine.romImagePath = options.romPath;
    machine.flashSavePath = options.savePath;
    machine.setHistoryLimit(static_cast<std::size_t>(options.historyLimitMB) << 20);
    machine.setSliceObserver(this);

    if (replay) {
        // The session's end, unless --tstates ends it before (or after: then
        // the outside reads keep the values they had last).
        if (!options.tstates)
            options.tstates = replay->tstates;
        startState = replay->start;
        machine.setReplay(std::move(replay->reads));
    }
    const bool recording = !options.recordPath.empty();
    if (startState) {
        baseline = startState->tstates();
        // At a slice end the first slice end at or after 0 T-states is the
        // start itself: such a run (a replayed session of no length, too)
        // ends where it starts, without a slice run and its ticks taken.
        if (options.tstates == 0u && !startState->regs.midSlice && options.installPaths.empty() && !debugScript)
            return endAtStart(machine, *startState, recording);
        machine.setStartState(std::move(*startState));
        startState.reset();
    }
    if (recording && options.installPaths.empty())
        machine.recordFromStart();

    // The GDB server listens before the machine starts, so a port that is
    // taken ends the run before anything has run.
    std::unique_ptr<GdbMachineTarget> gdbTarget;
    std::unique_ptr<GdbServer> gdbServer;
    std::string gdbHost;
    if (!options.gdbAddress.empty()) {
        uint16_t port = 0;
        (void)parseGdbAddress(options.gdbAddress, gdbHost, port);  // checked with the options
        gdbTarget = std::make_unique<GdbMachineTarget>(machine);
        gdbTarget->setMonitor([&machine](const std::string& line, std::string& error) {
            return runDebugLine(machine, line, error);
        });
        gdbServer = std::make_unique<GdbServer>(*gdbTarget);
        if (const std::string problem = gdbServer->listen(gdbHost, port); !problem.empty()) {
            std::fprintf(err, "pdemu-run: %s\n", problem.c_str());
            std::fflush(err);
            return RunBadUsage;
        }
        // --gdb-wait: the engine comes on (with Stop) before the start, so the
        // machine is held at its first instruction; with installations, which
        // switch it off, after the last one instead.
        if (options.gdbWait) {
            gdbTarget->setEngineTurnedOn();
            if (options.installPaths.empty())
                machine.debugger.windowShown();
        }
    }

    holdForSetup.store(!options.installPaths.empty(), std::memory_order_release);
    scriptActive.store(debugScript.has_value(), std::memory_order_release);
    if (!machine.startMachine())
        return RunBadUsage;  // the machine has printed why
    if (machine.saveFileStatus() != SaveFileStatus::Fine)
        showMessage(MessageIcon::Warning, machine.saveFileMessage());

    for (std::size_t i = 0; i < options.installPaths.size() && !timedOut; ++i) {
        // Install only while the observer holds the machine between two slices.
        while (!heldForSetup.load(std::memory_order_acquire) && machine.isRunning() && !outOfTime(machine))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (timedOut || stopSignal() != 0)
            break;
        if (i + 1 == options.installPaths.size()) {
            // The last installation restarts the organiser: time 0 of the run.
            baseline = machine.elapsedTStates.load(std::memory_order_relaxed);
        }
        machine.installApplication(options.installPaths[i]);
        // An installation switches the debugger off: the Stop comes after
        // the last one, while the setup hold keeps the restarted machine at
        // its first slice end.
        if (options.gdbWait && i + 1 == options.installPaths.size())
            machine.debugger.windowShown();
    }
    if (recording && !options.installPaths.empty() && !timedOut && stopSignal() == 0) {
        // At the next setup hold: the slice end after the last restart.
        while (!heldForSetup.load(std::memory_order_acquire) && machine.isRunning() && !outOfTime(machine))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        startingRecording.store(true, std::memory_order_release);
        (void)machine.startRecording();
        startingRecording.store(false, std::memory_order_release);
    }
    holdForSetup.store(false, std::memory_order_release);

    if (debugScript && !timedOut && runScript(machine) != 0) {
        // A bad line: nothing of the script ran; end without results.
        machine.requestStop();
        while (machine.isRunning())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        machine.stopMachine();
        return RunBadUsage;
    }
    scriptActive.store(false, std::memory_order_release);

    if (gdbServer) {
        std::fprintf(err, "pdemu-run: GDB remote protocol on %s:%u\n", gdbHost.c_str(),
                     static_cast<unsigned>(gdbServer->port()));
        std::fflush(err);
        gdbServer->start();
    }

    while (machine.isRunning() && !outOfTime(machine)) {
        // The slice observer ends the run on a signal; a machine parked in the
        // pause handshake makes no observer call but does see a stop request.
        if (stopSignal() != 0)
            machine.requestStop();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    // The client goes before the machine does: its last request is answered.
    if (gdbServer)
        gdbServer->stop();
    while (machine.isRunning())
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return finish(machine, timedOut);
}

int HeadlessRun::endAtStart(Machine& machine, const MachineState& start, bool recording) {
    machine.setStartState(start);  // the ROM check, and the save file looked at but not read
    if (!machine.loadImages())
        return RunBadUsage;
    if (machine.saveFileStatus() != SaveFileStatus::Fine)
        showMessage(MessageIcon::Warning, machine.saveFileMessage());
    machine.restoreState(start, true);
    if (recording)
        (void)machine.startRecording();
    return finish(machine, false);
}

// The session and the state of --record-session and --save-state, taken at
// the run's end (the thread has ended: a slice end, the print trap's lines
// already printed).
int HeadlessRun::writeStates(Machine& machine) {
    int result = RunDone;
    auto report = [&](const std::string& problem) {
        if (problem.empty())
            return;
        std::fprintf(err, "%s\n", problem.c_str());
        std::fflush(err);
        result = RunBadUsage;
    };
    if (!options.recordPath.empty() && !machine.isRecording()) {
        // Only the time limit or a signal ends a run before the installations
        // are done, and their exit codes say so already.
        std::fprintf(err, "pdemu-run: no session recorded: the run ended before its start.\n");
        std::fflush(err);
    } else if (machine.isRecording()) {
        MachineState end;
        const Session session = machine.stopRecording(&end);
        report(writeSessionFile(options.recordPath, session));
        if (!options.saveStatePath.empty())
            report(writeStateFile(options.saveStatePath, end));
        return result;
    }
    if (!options.saveStatePath.empty())
        report(writeStateFile(options.saveStatePath, machine.captureState(false)));
    return result;
}

int HeadlessRun::finish(Machine& machine, bool timedOut) {
    // The emulation thread has ended: the machine is ours until stopMachine.
    if (machine.hasDebugText())
        printPendingLines(machine);
    int exitCode = timedOut ? RunTimeout : RunDone;
    if (timedOut) {
        std::fprintf(err, "pdemu-run: timeout after %g s\n", *options.timeoutSeconds);
        std::fflush(err);
    }
    auto read = [&](uint16_t a) { return machine.memory.readByte(a); };
    for (const DisasmRequest& request : options.disasm) {
        uint16_t address = request.atPc ? machine.cpu.PC.w : request.address;
        for (int i = 0; i < request.count; ++i) {
            char text[disasmTextSize];
            const int length = disassembleAt(text, address, read);
            std::fprintf(out, "%04X:%s\n", address, text);
            address = static_cast<uint16_t>(address + length);
        }
        std::fflush(out);
    }
    if (recordingScreen)
        noteRecording(screenRecording.finish(screen.data(), recordingMicroseconds(runTime(machine))));
    if (screenRecordingFailed)
        exitCode = RunBadUsage;
    if (!options.screenPath.empty() && !writeScreenPng(options.screenPath, screen.data())) {
        std::fprintf(err, "pdemu-run: cannot write screen file '%s'.\n", options.screenPath.c_str());
        exitCode = RunBadUsage;
    }
    if (writeStates(machine) != RunDone)
        exitCode = RunBadUsage;
    if (machine.replayDiverged()) {
        std::fprintf(err, "pdemu-run: the run left session file '%s': it read what the session does not hold.\n",
                     printableText(options.replayPath).c_str());
        std::fflush(err);
        if (exitCode == RunDone)
            exitCode = RunReplayDiverged;
    }
    if (const int signal = stopSignal(); signal != 0) {
        std::fprintf(err, "pdemu-run: stopped by signal %d\n", signal);
        std::fflush(err);
        exitCode = RunStoppedBySignal + signal;
    }
    machine.stopMachine();  // joins the ended thread, writes the save file
    if (machine.saveFileStatus() == SaveFileStatus::NotWritten)
        showMessage(MessageIcon::Warning, machine.saveFileMessage());
    // Unreadable was said at the start; either way the save is not what the run left.
    if (machine.saveFileStatus() != SaveFileStatus::Fine)
        exitCode = RunSaveNotWritten;
    return exitCode;
}
