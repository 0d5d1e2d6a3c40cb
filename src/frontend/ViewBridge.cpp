// ViewBridge: engine view calls carried to the windows (see ViewBridge.h).
#include "frontend/ViewBridge.h"

#include <QCoreApplication>
#include <QThread>

#include "frontend/DebuggerWindow.h"
#include "frontend/HexdumpWindow.h"

namespace {
QString text(std::string_view s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }
}  // namespace

ViewBridge::ViewBridge(QObject* parent) : QObject(parent) {}

void ViewBridge::setWindow(DebuggerWindow* window) { this->window = window; }

ViewBridge::~ViewBridge() {
    {
        std::lock_guard lock(handover->lock);
        handover->closing = true;
        for (Call* call : handover->calls)
            call->done = true;
        handover->calls.clear();
    }
    handover->callDone.notify_all();
}

template <class Work>
void ViewBridge::run(Work work) {
    if (QThread::currentThread() == thread()) {
        if (window)
            work(*window);
        return;
    }
    const std::shared_ptr<Handover> h = handover;
    Call call{[this, &work] {
        if (window)
            work(*window);
    }};
    {
        std::lock_guard lock(h->lock);
        if (h->closing)
            return;
        h->calls.push_back(&call);
    }
    // Queued by name, so Qt makes (and frees) the event itself and no memory
    // of it passes between the threads through our code.
    QMetaObject::invokeMethod(this, "serveViewCalls", Qt::QueuedConnection);
    std::unique_lock lock(h->lock);
    h->callDone.wait(lock, [&] { return call.done; });
}

void ViewBridge::serveViewCalls() {
    for (;;) {
        Call* call = nullptr;
        {
            std::lock_guard lock(handover->lock);
            if (handover->calls.empty())
                return;
            call = handover->calls.front();
            handover->calls.pop_front();
        }
        call->work();
        {
            std::lock_guard lock(handover->lock);
            call->done = true;  // the caller may return and free it from here on
        }
        handover->callDone.notify_all();
    }
}

void ViewBridge::setStatus(std::string_view s) {
    run([&](DebuggerWindow& w) { w.setStatus(text(s)); });
}
void ViewBridge::setRegisterField(RegisterPair pair, std::string_view s) {
    run([&](DebuggerWindow& w) { w.setRegisterField(pair, text(s)); });
}
void ViewBridge::setFlagsField(std::string_view s) {
    run([&](DebuggerWindow& w) { w.setFlagsField(text(s)); });
}
void ViewBridge::setBreakpointLabel(int n, std::string_view s) {
    run([&](DebuggerWindow& w) { w.setBreakpointLabel(n, text(s)); });
}
void ViewBridge::setBreakpointField(int n, std::string_view s) {
    run([&](DebuggerWindow& w) { w.setBreakpointField(n, text(s)); });
}
std::string ViewBridge::getBreakpointField(int n) {
    std::string result;
    run([&](DebuggerWindow& w) { result = w.breakpointField(n).toStdString(); });
    return result;
}
std::string ViewBridge::getAddressField() {
    std::string result;
    run([&](DebuggerWindow& w) { result = w.addressField().toStdString(); });
    return result;
}
std::string ViewBridge::getLengthField() {
    std::string result;
    run([&](DebuggerWindow& w) { result = w.lengthField().toStdString(); });
    return result;
}
void ViewBridge::listingAppend(std::string_view s) {
    run([&](DebuggerWindow& w) { w.listingAppend(text(s)); });
}
void ViewBridge::listingClear() {
    run([](DebuggerWindow& w) { w.listingClear(); });
}
void ViewBridge::enableRunControls(bool enabled) {
    run([&](DebuggerWindow& w) { w.enableRunControls(enabled); });
}
// The user-interface thread paints between the calls it carries out.
void ViewBridge::processPendingPaint() {}
void ViewBridge::appendDumpLine(std::string_view s) {
    run([&](DebuggerWindow& w) {
        if (HexdumpWindow* dump = w.hexdump())
            dump->appendDumpLine(text(s));
    });
}
