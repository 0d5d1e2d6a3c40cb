// DebuggerTextView: the engine's view operations as lines (see DebuggerTextView.h).
#include "debugger/DebuggerTextView.h"

DebuggerTextView::DebuggerTextView(std::function<void(std::string_view)> sink) : sink(std::move(sink)) {}

void DebuggerTextView::print(std::string_view what, std::string_view text) {
    std::string line;
    line.reserve(what.size() + text.size());
    line.append(what).append(text);
    sink(line);
}

void DebuggerTextView::setStatus(std::string_view text) { print("status: ", text); }

void DebuggerTextView::setRegisterField(RegisterPair pair, std::string_view text) {
    print(std::string("reg ") + registerPairName(pair) + ": ", text);
}

void DebuggerTextView::setFlagsField(std::string_view text) { print("flags: ", text); }

void DebuggerTextView::setBreakpointLabel(int n, std::string_view text) {
    print("label " + std::to_string(n) + ": ", text);
}

void DebuggerTextView::setBreakpointField(int n, std::string_view text) {
    typeBreakpoint(n, std::string(text));
    print("field " + std::to_string(n) + ": ", text);
}

std::string DebuggerTextView::getBreakpointField(int n) {
    std::lock_guard lock(fieldLock);
    return breakpointFields[n - 1];
}

std::string DebuggerTextView::getAddressField() {
    std::lock_guard lock(fieldLock);
    return addressField;
}

std::string DebuggerTextView::getLengthField() {
    std::lock_guard lock(fieldLock);
    return lengthField;
}

void DebuggerTextView::listingAppend(std::string_view text) {
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        print("list: ", line);
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
}

void DebuggerTextView::listingClear() { print("list-clear", ""); }

void DebuggerTextView::enableRunControls(bool enabled) { print("controls: ", enabled ? "on" : "off"); }

void DebuggerTextView::appendDumpLine(std::string_view line) { print("dump: ", line); }
void DebuggerTextView::appendLog(std::string_view text) { print("log: ", text); }

void DebuggerTextView::typeBreakpoint(int n, std::string text) {
    std::lock_guard lock(fieldLock);
    breakpointFields[n - 1] = std::move(text);
}

void DebuggerTextView::typeAddress(std::string text) {
    std::lock_guard lock(fieldLock);
    addressField = std::move(text);
}

void DebuggerTextView::typeLength(std::string text) {
    std::lock_guard lock(fieldLock);
    lengthField = std::move(text);
}
