// DebuggerTextView: the debugger engine's view as text. Every view
// operation becomes one line handed to a sink, in the order the engine makes
// them; the fields keep what was typed into them. The scripted debugger of
// pdemu-run (--debug) and the debugger tests show the engine through it.
//
// Lines: status: TEXT | reg PAIR: TEXT | flags: TEXT | label N: TEXT |
// field N: TEXT | controls: on|off | list: TEXT (one per line of the text) |
// list-clear | dump: TEXT | log: TEXT
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "debugger/DebuggerView.h"

// The engine serialises its calls; the field texts are also written by the
// typing thread, hence their own lock.
class DebuggerTextView final : public DebuggerView {
public:
    explicit DebuggerTextView(std::function<void(std::string_view)> sink);

    void setStatus(std::string_view text) override;
    void setRegisterField(RegisterPair pair, std::string_view text) override;
    void setFlagsField(std::string_view text) override;
    void setBreakpointLabel(int n, std::string_view text) override;
    void setBreakpointField(int n, std::string_view text) override;
    std::string getBreakpointField(int n) override;
    std::string getAddressField() override;
    std::string getLengthField() override;
    void listingAppend(std::string_view text) override;  // one line per line of the text
    void listingClear() override;
    void enableRunControls(bool enabled) override;
    void processPendingPaint() override {}
    void appendDumpLine(std::string_view line) override;
    void appendLog(std::string_view text) override;

    // The user typing into the breakpoint fields (n = 1..3), "Adr." and the length field.
    void typeBreakpoint(int n, std::string text);
    void typeAddress(std::string text);
    void typeLength(std::string text);

private:
    void print(std::string_view what, std::string_view text);

    std::function<void(std::string_view)> sink;
    std::mutex fieldLock;
    std::string breakpointFields[3];
    std::string addressField;
    std::string lengthField;
};
