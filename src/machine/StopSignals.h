// StopSignals: ending the program the ordinary way when the user presses
// Ctrl-C (SIGINT) or the session ends (SIGTERM at logout or shutdown), so
// that stopMachine still writes the save file. Qt-free; the headless runner
// and the desktop program both use it.
//
// Contract:
// - installStopSignals() sets handlers for SIGINT and SIGTERM. Call it once,
//   from the main thread, before other threads start; false if the host
//   refused (the signals then keep their default action).
// - A handler does only async-signal-safe work: it records the signal number
//   (stopSignal() returns it from then on) and writes one byte to a pipe whose
//   read end is stopSignalFd(). A program with an event loop watches that
//   descriptor (in Qt a QSocketNotifier on it) and then closes its main
//   window; a polling program tests stopSignal(). Either then ends as on any
//   normal close: stop the machine, save, exit.
// - The first signal asks for the ordinary end. SIGINT again while that end
//   is still under way (a save that hangs on a dead disk) ends the program by
//   the default action; SIGTERM again is announced on the pipe once more and
//   changes nothing, since it often comes twice at once (timeout(1) signals
//   the program and then its process group).
// - Nothing is read from the pipe by this code; a reader may drain it.
#pragma once

bool installStopSignals();

// 0 until SIGINT or SIGTERM has arrived, then that signal's number.
int stopSignal();

// Read end of the pipe the handlers write to; -1 before installStopSignals.
int stopSignalFd();
