// ViewBridge: engine view calls carried to the windows (see ViewBridge.h).
#include "frontend/ViewBridge.h"

#include <QCoreApplication>
#include <QThread>

#include "frontend/DebuggerWindow.h"
#include "frontend/HexdumpWindow.h"

namespace {
QString text(std::string_view s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }
}  // namespace

template <class Work>
void ViewBridge::run(Work work) {
    if (QThread::currentThread() == thread()) {
        if (window)
            work(*window);
        return;
    }
    // Returns also when this object is destroyed first; the work is then not done.
    QMetaObject::invokeMethod(
        this,
        [this, &work] {
            if (window)
                work(*window);
        },
        Qt::BlockingQueuedConnection);
}

void ViewBridge::serveViewCalls() { QCoreApplication::sendPostedEvents(this, QEvent::MetaCall); }

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
