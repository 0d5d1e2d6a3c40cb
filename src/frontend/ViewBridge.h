// ViewBridge: the debugger engine's DebuggerView for the Qt windows, and the
// only place where the emulation thread reaches a widget.
//
// A call from the emulation thread is carried out on the user-interface
// thread and returns only once it has been (a blocking queued call): the
// window shows every step of an animation, and the fields it reads are the
// ones the user sees. Calls made on the user-interface thread itself run at
// once. A window that is gone turns the calls into no-ops that still return.
//
// Deadlock rule: the user-interface thread must never wait for the emulation
// thread without serving these calls. Every such wait (the pause handshake,
// the engine's view lock, the end of the machine) calls serveViewCalls.
#pragma once

#include <QObject>
#include <QPointer>

#include "debugger/DebuggerView.h"

class DebuggerWindow;
class HexdumpWindow;

class ViewBridge : public QObject, public DebuggerView {
    Q_OBJECT
public:
    explicit ViewBridge(QObject* parent = nullptr) : QObject(parent) {}

    void setWindow(DebuggerWindow* window) { this->window = window; }

    // Carries out the calls that the emulation thread is waiting for (user-interface thread).
    void serveViewCalls();

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

private:
    template <class Work>
    void run(Work work);

    QPointer<DebuggerWindow> window;
};
