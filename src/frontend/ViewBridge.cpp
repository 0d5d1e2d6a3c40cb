// ViewBridge: the engine's view calls, shown on the user-interface thread (see ViewBridge.h).
#include "frontend/ViewBridge.h"

#include <thread>

#include "debugger/DebuggerEngine.h"

ViewBridge::ViewBridge(DebuggerEngine& engine, QObject* parent)
    : QObject(parent), engine(engine),
      // Queued by name, so Qt makes (and frees) the event itself and no memory
      // of it passes between the threads through our code.
      calls(std::this_thread::get_id(),
            [this] { QMetaObject::invokeMethod(this, "showPending", Qt::QueuedConnection); },
            [&engine] { engine.viewCaughtUp(); }) {
    engine.setView(&calls);
}

ViewBridge::~ViewBridge() { engine.setView(nullptr); }

void ViewBridge::showPending() { calls.showPending(); }
