// HeadlessRun: runs the organiser without a window, through the same machine
// code path as the program (startMachine, the emulation thread, stopMachine).
// main.cpp builds one from the parsed options and calls run().
//
// It plays the device window's part: it applies the timed input, prints the
// debug lines of the print trap and ends the run, all from the machine's
// per-slice observer on the emulation thread, so everything happens at slice
// ends at fixed emulated times and a run repeats byte for byte. Emulated time
// counts from the machine's start (the loaded state's moment with
// --load-state, the session's start with --replay), or from the last
// application installation (which restarts the organiser) when there are any.
// A debug script's loadstate sets the machine's T-state count, and run time
// goes by it from there.
//
// A recorded session (--record-session) starts with the run's first
// instruction, or, with installations, at the slice end after the last
// one's restart where the setup hold has the machine: the park that starts
// the recording falls at the same emulated moment in every run, and that
// slice end's input is applied before it, as in a run that records nothing.
// Its end is the run's end. A replay (--replay) answers the outside reads
// from the session and ends after the session's T-states (or --tstates).
//
// With a debug script (--debug) this thread plays the user at the debugger
// window: it runs the script after the installations. So that the script
// acts at the same emulated moments in every run, the machine goes on past a
// slice end only while the script waits for it (scriptWaits); otherwise it
// is parked there by the observer or held by the debugger. The script's first
// action waits for the first such park. A break trap's
// request to open the debugger parks it at the end of the trap's slice until
// the script has served it. After the script the machine runs free.
//
// With --record-screen the observer looks at the display every
// RecordRefreshTStates of run time, as the device window's tick does every
// 50 ms, and adds a frame when it has changed, time-stamped in emulated time
// (RecordTStatesPerSecond to the second), so the same run writes the same
// file. The first look is at the first slice end after the installations;
// the last frame is the display at the run's end and lasts until then.
//
// With --gdb a GDB remote protocol server (GdbServer) listens from the start
// and serves clients once the installations are done; the client drives the
// debugger, so there is no script then. With --gdb-wait the machine is held
// at its first instruction (after the installations) until a client lets it
// go. The server ends before the machine does.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "InputScript.h"
#include "RunOptions.h"
#include "machine/HostClock.h"
#include "machine/Machine.h"
#include "machine/Messages.h"
#include "machine/ScreenRecording.h"

// Exit codes. RunSaveNotWritten: the save file could not be read at the start
// (it is then left alone) or writing it at the end failed; it wins over the
// others, which all mean the run's state was saved. After Ctrl-C or SIGTERM
// (StopSignals.h) the run ends like its normal end, save included, with
// RunStoppedBySignal + the signal's number (130, 143) as the shells report it.
// RunReplayDiverged: the replayed run read what its session does not hold (it
// went elsewhere than the recorded run); its results are written all the same.
enum RunExit {
    RunDone = 0,
    RunBadUsage = 2,
    RunTimeout = 3,
    RunSaveNotWritten = 4,
    RunReplayDiverged = 5,
    RunStoppedBySignal = 128
};

class HeadlessRun final : public SliceObserver, public MessageReporter {
public:
    // The emulation is not paced: a screen recording's clock is nominal.
    // 50 ms of it between two looks at the display.
    static constexpr uint64_t RecordTStatesPerSecond = 4'000'000;
    static constexpr uint64_t RecordRefreshTStates = RecordTStatesPerSecond / 20;
    static_assert(RecordTStatesPerSecond % 1'000'000 == 0, "whole T-states to the microsecond");

    // options.romPath must name the ROM image file to load.
    HeadlessRun(RunOptions options, std::vector<InputEvent> events, std::FILE* out, std::FILE* err);

    // A debugger script (the text of the --debug file) to run against the machine.
    void setDebugScript(std::string text);
    // The state read from --load-state, made for the ROM of options.romPath.
    void setStartState(MachineState state);
    // The session read from --replay, made for the ROM of options.romPath.
    void setReplay(Session session);

    // Runs the machine to the end and writes the requested results; the exit code.
    int run();

    // True when the run ended because the program executed the break trap.
    bool endedByBreak() const { return stoppedByBreak; }

    void onSlice(Machine& machine) override;
    void showMessage(MessageIcon icon, const std::string& text) override;

private:
    int finish(Machine& machine, bool timedOut);
    int writeStates(Machine& machine);
    int endAtStart(Machine& machine, const MachineState& start, bool recording);
    void printPendingLines(Machine& machine);
    bool timeLeft() const;
    bool outOfTime(Machine& machine);
    int runScript(Machine& machine);
    bool scriptWaits(Machine& machine);
    void parkForScript(Machine& machine);
    uint64_t runTime(Machine& machine) const;
    void lookAtScreen(Machine& machine, uint64_t now);
    void noteRecording(ScreenRecording::Outcome outcome);

    RunOptions options;
    std::vector<InputEvent> events;
    std::FILE* out;
    std::FILE* err;
    std::unique_ptr<HostClock> clock;
    std::array<uint8_t, MemoryMap::ScreenBytes> screen{};

    // Setup: while holdForSetup is set, the observer holds the machine at
    // every slice end (heldForSetup) until an installation parks it, so
    // installations happen at fixed points of emulated time.
    std::atomic<bool> holdForSetup{false};
    std::atomic<bool> heldForSetup{false};
    uint64_t baseline = 0;  // elapsedTStates that counts as time 0
    std::optional<MachineState> startState;
    std::optional<Session> replay;
    // Set while the recording after the installations is being started: the
    // observer then serves that slice end in full before the machine parks.
    std::atomic<bool> startingRecording{false};
    double deadline = 0;    // steady-clock seconds; 0 without --timeout
    bool timedOut = false;  // this thread only

    // Debug script: scriptActive while it runs, letRun while it waits for the
    // machine (in scriptWaits), parkedForScript while the observer parks.
    std::optional<std::string> debugScript;
    std::atomic<bool> scriptActive{false};
    std::atomic<bool> letRun{false};
    std::atomic<bool> parkedForScript{false};

    // Emulation thread only (read by run() once the thread has ended).
    std::size_t nextEvent = 0;
    bool stoppedByBreak = false;
    // --record-screen: open from before the start until it ends (the run's
    // end, the size limit or a write error). The file is set up before the
    // emulation thread starts, served by it, and finished after it ended.
    ScreenRecording screenRecording;
    bool recordingScreen = false;
    bool screenRecordingFailed = false;
    uint64_t nextScreenLook = 0;
};
