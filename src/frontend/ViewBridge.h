// ViewBridge: the debugger engine's view in the program, a ViewQueue whose
// owner is the user-interface thread. It attaches the queue to the engine for
// as long as it lives; the debugger window makes itself the queue's target
// and keeps the queue's field texts current.
//
// When the engine records a call from the emulation thread, the bridge posts
// itself one showPending (a queued call, so the emulation thread never waits
// for this thread); once everything is shown it tells the engine, which lets
// a waiting Animate go on.
#pragma once

#include <QObject>

#include "debugger/ViewQueue.h"

class DebuggerEngine;

class ViewBridge : public QObject {
    Q_OBJECT
public:
    explicit ViewBridge(DebuggerEngine& engine, QObject* parent = nullptr);
    ~ViewBridge() override;

    ViewQueue& queue() { return calls; }

private:
    Q_INVOKABLE void showPending();

    DebuggerEngine& engine;
    ViewQueue calls;
};
