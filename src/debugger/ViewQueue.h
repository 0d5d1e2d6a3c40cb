// ViewQueue: the debugger engine's view for windows that live on a thread of
// their own (the Qt windows, on the user-interface thread). It is the one
// place where the emulation thread's view calls cross to that thread, and
// they cross one way only: nothing here ever waits for the other thread.
//
//   - Every call the engine makes, from either thread, is recorded and
//     returns at once. The owner's thread shows the recorded calls on its
//     target, in the order the engine made them, with showPending: when
//     onPending has told it there is something (it posts itself a
//     showPending), and at once after a command the owner's thread gave
//     (processPendingPaint on that thread).
//   - The target is never called from inside an engine call, so nothing it
//     sets off (a focus change, a signal handler giving a command) finds the
//     engine's lock taken.
//   - The fields the engine reads (breakpoints, address, length) are answered
//     from texts the owner keeps current on every edit (setFieldText); the
//     engine's own setBreakpointField changes that text at once, before the
//     target shows it.
//   - showingBehind tells the engine's Animate whether the target has shown
//     everything; onCaughtUp runs each time showPending has.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "debugger/DebuggerView.h"

class ViewQueue final : public DebuggerView {
public:
    enum class Field { Breakpoint1, Breakpoint2, Breakpoint3, Address, Length };

    // owner: the thread that shows (the only one that may call setTarget,
    // showPending and setFieldText). onPending runs inside an engine call, on
    // either thread, when a call is recorded and no showPending is due yet:
    // it must only arrange one, never show or wait. onCaughtUp runs on the
    // owner's thread, outside every lock.
    ViewQueue(std::thread::id owner, std::function<void()> onPending, std::function<void()> onCaughtUp);
    ViewQueue(const ViewQueue&) = delete;
    ViewQueue& operator=(const ViewQueue&) = delete;

    // Where the calls are shown; nullptr drops them.
    void setTarget(DebuggerView* target);
    // Shows every recorded call on the target, oldest first. Called again from
    // inside (the target's own doing), it returns at once: the outer call
    // goes on with what was added meanwhile, so the order stays.
    void showPending();
    void setFieldText(Field field, std::string text);

    void setStatus(std::string_view text) override;
    void setRegisterField(RegisterPair pair, std::string_view text) override;
    void setFlagsField(std::string_view text) override;
    void setBreakpointLabel(int n, std::string_view text) override;
    void setBreakpointField(int n, std::string_view text) override;
    std::string getBreakpointField(int n) override;
    std::string getAddressField() override;
    std::string getLengthField() override;
    void listingAppend(std::string_view text) override;
    void listingClear() override;
    void enableRunControls(bool enabled) override;
    void processPendingPaint() override;
    void appendDumpLine(std::string_view line) override;
    void appendLog(std::string_view text) override;
    void pointsChanged() override;
    bool showingBehind() const override;

private:
    enum class Op : uint8_t { Status, Register, Flags, Label, Field, ListingAppend, ListingClear, Controls, Dump, Log, Points };
    struct Call {
        Op op;
        int arg;
        std::string text;
    };
    void record(Op op, int arg, std::string_view text);
    std::string fieldText(Field field);
    static void show(DebuggerView& target, const Call& call);

    const std::thread::id owner;
    const std::function<void()> onPending;
    const std::function<void()> onCaughtUp;
    DebuggerView* target = nullptr;  // owner's thread only
    bool showing = false;            // owner's thread only

    mutable std::mutex lock;  // the rest
    std::deque<Call> calls;
    uint64_t recorded = 0;
    uint64_t shown = 0;
    bool showDue = false;  // onPending has run and no showPending has emptied the queue since
    std::string fields[5];
};
