// WindowBenchSupport: what the benchmarks that run the real program with its
// windows (offscreen) share: serving the user-interface thread's events, a
// ROM in a file of the process's own, and the program started on it with
// the debugger holding the machine.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QString>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "debugger/DebuggerEngine.h"
#include "frontend/SimulatorApp.h"
#include "machine/Machine.h"

namespace windowbench {

inline void serveEventsFor(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// The image in a temporary file named after tag; the caller removes it.
inline std::string writeRom(const std::vector<char>& image, const char* tag) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("pdemu-bench-" + std::string(tag) + "-" + std::to_string(getpid()) + ".pgm"))
                                 .string();
    std::ofstream(path, std::ios::binary).write(image.data(), static_cast<std::streamsize>(image.size()));
    return path;
}

// Starts app on rom without a save file, switches the debugger on (with its
// window, or without one) and serves events until the machine is held.
// False if the machine did not start.
inline bool startHeld(SimulatorApp& app, const std::string& rom, bool window) {
    if (!app.start({QString::fromStdString(rom), QString(), 1}))
        return false;
    DebuggerEngine& engine = app.machine().debugger;
    if (window)
        app.openDebugger();
    else
        engine.windowShown();
    while (!engine.isHeld())
        serveEventsFor(10);
    return true;
}

// The program's main: an application object (offscreen unless a platform is
// chosen), then the registered benchmarks.
inline int runBenchmarks(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

}  // namespace windowbench
