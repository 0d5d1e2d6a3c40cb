// DebuggerView: everything the debugger engine shows, as one abstract class.
//
// The engine (DebuggerEngine) calls nothing else to show its state; whoever
// presents the debugger (the Qt debugger window, the scripted text view of
// DebuggerTextView, a test's recording view) implements these operations and hands
// the engine a pointer with DebuggerEngine::setView.
//
// Threads: the engine calls a view from the emulation thread (shown
// instructions, breakpoint hits, the disassembly and hexdump served while the
// machine is held) and from the user-interface thread (the commands Go, Clear
// Breaks, Clear List, the register editor). The engine serialises all calls
// with its own lock, so an implementation sees one call at a time. A window
// may carry a call from the emulation thread out on the user-interface thread
// and return only when it is done; it must then serve such calls wherever the
// user-interface thread waits for the emulation thread (the engine's
// whileWaitingForView, the machine's whilePausing, the end of the machine).
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

    // The status line. The engine follows it with processPendingPaint.
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

    // Lets pending repaint work of the calling thread run; may do nothing.
    virtual void processPendingPaint() = 0;

    // The hexdump window's pane: append one line (without CR LF; the pane adds it).
    virtual void appendDumpLine(std::string_view line) = 0;
};
