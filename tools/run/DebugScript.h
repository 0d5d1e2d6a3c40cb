// DebugScript: the debugger driven by a text script instead of a window, for
// testing organiser programs in CI (pdemu-run --debug SCRIPT).
//
// One call runs the whole script against a started machine:
//
//     std::ifstream script(path);
//     int rc = runDebugScript(machine, script, std::cout,
//                             [&] { return !machine.isRunning() || limitReached(); });
//
// runEnded is polled every 10 ms while the script waits for the machine; it
// must become true when the run is over (thread ended, time limit), or a wait
// for a hold that never comes would last for ever. Emulated time stands still
// while the debugger holds the machine, so give it a wall-clock limit too.
// The runner serves debuggerOpenRequest itself; nothing else should take it
// during the call. The call returns
// 0, or 2 after printing "line N: ..." to stderr when a line is not valid (the
// whole script is checked before anything runs) or was refused. At the end the debugger is
// closed, so a held machine runs on and stopMachine can end it.
//
// Script: one action per line, in the order the user would do them; blank
// lines and lines starting with "#" are skipped. "-" stands for an empty text.
//   open                 show the debugger (engine on, Stop); nothing if shown
//   close                close it (engine off, machine released)
//   go | animate | step | over | stop     the run buttons (step = Step into)
//   break N TEXT         type TEXT into breakpoint field N (1-3), leave the field
//   clearbreaks | clearlist
//   trace on|off
//   addr TEXT | length TEXT              the "Adr." and hexdump length fields
//   disasm | hexdump     the two buttons; the script waits until served
//   regs AF HL DE BC IX IY               register editor, OK
//   poke ram|rom BANK ADDR VALUE         register editor's memory fields, OK
//   wait                 until the machine is held and has taken the last command
//   point KIND ...       a point (debugger/PointSyntax.h), e.g.
//                        "point write C000-C0FF if b@C000==0 hits 3";
//                        prints "point N: TEXT" (TEXT as the Breakpoints window lists it)
//   delete N | disable N | enable N      prints "point N: deleted" (disabled, enabled)
//   memory ADDR LEN      while held: "memory: AAAA: XX XX ..." rows of 16 bytes
//   savestate FILE       while held: a state file of the machine at the held
//                        instruction (FILE: the rest of the line, relative to
//                        the current folder)
//   loadstate FILE       while held: the machine as the state file has it, held
//                        at its next instruction; shows "Stopped ..." and every
//                        register field again
// A bad point text is refused with the script, like any bad line. A name the
// symbol table does not hold, a number that holds no point and memory while
// the machine runs are refused when the line is carried out ("line N: ..."
// on stderr); the script goes on and ends with 2. A savestate or loadstate
// that fails, is refused or comes while the machine is not held ends the
// script there (message on stderr, 2) and leaves the machine as it was; the
// engine-only call refuses both. A log point prints
// "log: TEXT" among the other lines.
// After go, animate, step and over the script waits until the machine is held
// again or the run ends. A break trap (ED FF) is served as the device window's
// timer serves it: the debugger is opened, and so the machine stopped.
//
// Output: one line per view operation, in the order the engine makes them,
// as DebuggerTextView writes them.
#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include "debugger/DebuggerTextView.h"

class DebuggerEngine;
class Machine;

int runDebugScript(Machine& machine, std::istream& script, std::ostream& out, const std::function<bool()>& runEnded);

// "line N: ..." for the first line of the script text that is not valid, or
// empty: lets a caller refuse a bad script before it starts the machine.
std::string debugScriptProblem(const std::string& text);

// The same against an engine alone (the caller runs the processor).
int runDebugScript(DebuggerEngine& engine, std::istream& script, std::ostream& out,
                   const std::function<bool()>& runEnded);

// One line of the language for a remote client's monitor command, on the
// debugger as it is (its view and state stay; nothing waits for the
// machine): point, delete, disable, enable, memory, regs, poke and
// savestate. The lines that move the machine or need the window are
// refused. The output, or nullopt and why not in error.
std::optional<std::string> runDebugLine(Machine& machine, const std::string& line, std::string& error);
