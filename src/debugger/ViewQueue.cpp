// ViewQueue: recorded view calls shown on the owner's thread (see ViewQueue.h).
#include "debugger/ViewQueue.h"

#include <utility>

ViewQueue::ViewQueue(std::thread::id owner, std::function<void()> onPending, std::function<void()> onCaughtUp)
    : owner(owner), onPending(std::move(onPending)), onCaughtUp(std::move(onCaughtUp)) {}

void ViewQueue::setTarget(DebuggerView* newTarget) { target = newTarget; }

void ViewQueue::record(Op op, int arg, std::string_view text) {
    bool announce = false;
    {
        std::lock_guard guard(lock);
        calls.push_back({op, arg, std::string(text)});
        ++recorded;
        if (!showDue) {
            showDue = true;
            announce = true;
        }
    }
    if (announce && onPending)
        onPending();
}

void ViewQueue::showPending() {
    if (showing)
        return;
    showing = true;
    bool any = false;
    for (;;) {
        Call call;
        {
            std::lock_guard guard(lock);
            if (calls.empty()) {
                showDue = false;
                break;
            }
            call = std::move(calls.front());
            calls.pop_front();
        }
        if (target)
            show(*target, call);
        any = true;
        std::lock_guard guard(lock);
        ++shown;
    }
    showing = false;
    if (any && onCaughtUp)
        onCaughtUp();
}

void ViewQueue::show(DebuggerView& view, const Call& call) {
    switch (call.op) {
    case Op::Status: view.setStatus(call.text); break;
    case Op::Register: view.setRegisterField(static_cast<RegisterPair>(call.arg), call.text); break;
    case Op::Flags: view.setFlagsField(call.text); break;
    case Op::Label: view.setBreakpointLabel(call.arg, call.text); break;
    case Op::Field: view.setBreakpointField(call.arg, call.text); break;
    case Op::ListingAppend: view.listingAppend(call.text); break;
    case Op::ListingClear: view.listingClear(); break;
    case Op::Controls: view.enableRunControls(call.arg != 0); break;
    case Op::Dump: view.appendDumpLine(call.text); break;
    case Op::Log: view.appendLog(call.text); break;
    case Op::Points: view.pointsChanged(); break;
    }
}

bool ViewQueue::showingBehind() const {
    std::lock_guard guard(lock);
    return shown != recorded;
}

void ViewQueue::setFieldText(Field field, std::string text) {
    std::lock_guard guard(lock);
    fields[static_cast<int>(field)] = std::move(text);
}

std::string ViewQueue::fieldText(Field field) {
    std::lock_guard guard(lock);
    return fields[static_cast<int>(field)];
}

void ViewQueue::setStatus(std::string_view text) { record(Op::Status, 0, text); }
void ViewQueue::setRegisterField(RegisterPair pair, std::string_view text) {
    record(Op::Register, static_cast<int>(pair), text);
}
void ViewQueue::setFlagsField(std::string_view text) { record(Op::Flags, 0, text); }
void ViewQueue::setBreakpointLabel(int n, std::string_view text) { record(Op::Label, n, text); }

void ViewQueue::setBreakpointField(int n, std::string_view text) {
    // What the engine reads next is what it wrote, shown or not.
    setFieldText(static_cast<Field>(n - 1), std::string(text));
    record(Op::Field, n, text);
}

std::string ViewQueue::getBreakpointField(int n) { return fieldText(static_cast<Field>(n - 1)); }
std::string ViewQueue::getAddressField() { return fieldText(Field::Address); }
std::string ViewQueue::getLengthField() { return fieldText(Field::Length); }
void ViewQueue::listingAppend(std::string_view text) { record(Op::ListingAppend, 0, text); }
void ViewQueue::listingClear() { record(Op::ListingClear, 0, {}); }
void ViewQueue::enableRunControls(bool enabled) { record(Op::Controls, enabled ? 1 : 0, {}); }
void ViewQueue::appendDumpLine(std::string_view line) { record(Op::Dump, 0, line); }
void ViewQueue::appendLog(std::string_view text) { record(Op::Log, 0, text); }
void ViewQueue::pointsChanged() { record(Op::Points, 0, {}); }

void ViewQueue::processPendingPaint() {
    if (std::this_thread::get_id() == owner)
        showPending();
}
