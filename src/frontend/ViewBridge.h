// ViewBridge: the debugger engine's DebuggerView for the Qt windows, and the
// only place where the emulation thread reaches a widget.
//
// A call from the emulation thread is carried out on the user-interface
// thread and returns only once it has been (the emulation thread waits): the
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
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "debugger/DebuggerView.h"

class DebuggerWindow;
class HexdumpWindow;

class ViewBridge : public QObject, public DebuggerView {
    Q_OBJECT
public:
    explicit ViewBridge(QObject* parent = nullptr);
    // Lets a call that is still waiting return without being carried out.
    ~ViewBridge() override;

    void setWindow(DebuggerWindow* window);

    // Carries out the calls that the emulation thread is waiting for
    // (user-interface thread). A waiting call also queues it on this object.
    Q_INVOKABLE void serveViewCalls();

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

    // A call waiting on the emulation thread. The handover goes through our
    // own lock rather than a blocking queued call: Qt's own waiting is not
    // visible to the thread sanitizer, ours is. The waiting thread keeps the
    // handover alive, so a bridge destroyed meanwhile only wakes it.
    struct Call {
        std::function<void()> work;
        bool done = false;
    };
    struct Handover {
        std::mutex lock;
        std::condition_variable callDone;
        std::deque<Call*> calls;
        bool closing = false;
    };

    QPointer<DebuggerWindow> window;
    const std::shared_ptr<Handover> handover = std::make_shared<Handover>();
};
