// DebuggerView: everything the debugger engine shows, as one abstract class.
//
// The engine (DebuggerEngine) calls nothing else to show its state; whoever
// presents the debugger (the Qt windows through a ViewQueue, the text view
// DebuggerTextView of the scripts and tests) implements these operations and
// hands the engine a pointer with DebuggerEngine::setView.
//
// Threads: the engine calls its view from the emulation thread (shown
// instructions, breakpoint hits, the disassembly and hexdump served while
// the machine is held) and from the thread that gives it commands (Go, Clear
// Breaks, Clear List, the register editor), one call at a time, under its own
// lock. A call must therefore never wait for another thread, and never call
// back into the engine: a view that shows on a thread of its own records the
// calls and shows them there later (ViewQueue), in the order they were made.
// The getters answer from texts the view keeps current itself.
#pragma once

#include <string>
#include <string_view>

// The register pairs that have a field in the debugger window.
enum class RegisterPair { AF, BC, DE, HL, IX, IY, PC, SP };

// "AF", "BC", ... as the window labels them.
constexpr const char* registerPairName(RegisterPair pair) {
    constexpr const char* names[] = {"AF", "BC", "DE", "HL", "IX", "IY", "PC", "SP"};
    return names[static_cast<int>(pair)];
}

class DebuggerView {
public:
    virtual ~DebuggerView() = default;

    // The status line.
    virtual void setStatus(std::string_view text) = 0;
    // One register field; text is four upper-case hex digits or empty.
    virtual void setRegisterField(RegisterPair pair, std::string_view text) = 0;
    // The flags field: eight characters of "SZ*H*PNC" or ".".
    virtual void setFlagsField(std::string_view text) = 0;

    // Breakpoints n = 1, 2, 3: the label beside the field ("1".."3", "*" when hit)
    // and the field the user types the hex address into.
    virtual void setBreakpointLabel(int n, std::string_view text) = 0;
    virtual void setBreakpointField(int n, std::string_view text) = 0;
    virtual std::string getBreakpointField(int n) = 0;
    // The "Adr." field (start of disassembly and hexdump) and the hexdump length field.
    virtual std::string getAddressField() = 0;
    virtual std::string getLengthField() = 0;

    // The listing pane: append at the end (text carries its own CR LF) and scroll to it.
    virtual void listingAppend(std::string_view text) = 0;
    virtual void listingClear() = 0;

    // Enables or disables the run controls (everything but Stop, the trace
    // radios, the listing and the register fields).
    virtual void enableRunControls(bool enabled) = 0;

    // Shows what the calling thread's calls have left to show. The engine
    // calls it after a command's calls, with its lock released; a view that
    // shows every call at once does nothing here.
    virtual void processPendingPaint() = 0;

    // The hexdump window's pane: append one line (without CR LF; the pane adds it).
    virtual void appendDumpLine(std::string_view line) = 0;

    // A log point's text, with its values, for the debug message window.
    virtual void appendLog(std::string_view text) { (void)text; }
    // The points were added or changed, or one logged or held the machine
    // (the counts of the Breakpoints window's list).
    virtual void pointsChanged() {}

    // True while some calls are recorded but not yet shown. Animate waits
    // until the view has caught up (DebuggerEngine::viewCaughtUp), so the
    // window is never more than one instruction behind the machine.
    virtual bool showingBehind() const { return false; }
};
