// SimulatorApp: the life of the program and the owner of its windows. It reads the settings (running the
// first-run dialogue when no ROM image is configured), creates the device
// window with its screen bitmap, starts the machine, shows the window until
// it closes, stops the machine (which writes the save file) and destroys the
// window, in that order: the emulation thread writes into the window's bitmap
// until it has ended.
//
// The command line can name the ROM image and the save file for one run
// (StartOptions); stored settings are then neither read for them nor written.
// Applications named with --install are installed once the window is up,
// each as the menu command installs it (recent list included).
//
// The menu commands that need the machine's message reporter are handled
// here: installation (menu, recent entry, drop, command line) goes through
// installAndRemember, which shows the machine's queued messages only after
// the machine has resumed; Load Mapfile and dropped symbol files through
// loadSymbols.
//
// One per program; tests build their own around a HostServices that answers
// the dialogs, and drive start() and finish() without the event loop of run().
#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <memory>
#include <optional>

#include "frontend/AppSettings.h"
#include "frontend/HostServices.h"
#include "debugger/GdbServer.h"
#include "machine/GdbMachineTarget.h"
#include "machine/HostClock.h"

class DebuggerWindow;
class DeviceWindow;
class Machine;
class ViewBridge;

struct StartOptions {
    std::optional<QString> rom;   // --rom: this ROM image, no first-run dialogue
    std::optional<QString> save;  // --save: this save file ("" never saves)
    std::optional<int> zoom;      // --zoom 1-4 for this run
    QStringList installs{};       // --install: these applications, in this order, after the start
    std::optional<QString> gdb{}; // --gdb [HOST:]PORT: serve the GDB remote protocol there
};

class SimulatorApp : public QObject {
    Q_OBJECT
public:
    explicit SimulatorApp(HostServices& host, std::unique_ptr<HostClock> clock = std::make_unique<SystemClock>());
    ~SimulatorApp() override;

    // Everything up to the window on the screen. False when the program is
    // to end: no ROM chosen in the first run (exitCode 0), or the machine did
    // not start (its message has been shown; exitCode 1).
    bool start(const StartOptions& options);
    // Stops the machine, writes the save file and destroys the window.
    void finish();
    // start, the event loop until the device window closes, finish.
    int run(const StartOptions& options);
    int exitCode() const { return code; }
    // The program is to end (SIGTERM, SIGINT): a box or dialog that is up
    // closes, the first-run dialogue asks nothing more and the machine does
    // not start; a window that is up closes as Exit closes it, so the save
    // file is written.
    void requestEnd();

    void firstRunSetup();
    // Where the first run's ROM dialog opens: the demo firmware's folder,
    // share/pdemu beside the program's folder (an unpacked package finds its
    // own), else firmware in the program's folder (the build tree), else
    // installedFolder; empty when none is a folder.
    static QString demoFirmwareFolder(const QString& programFolder, const QString& installedFolder);
    void forgetConfiguration();
    // Creates the debugger window the first time and shows it, which switches
    // the engine on and stops the machine.
    void openDebugger();
    // The Breakpoints and Memory windows belong to the debugger window:
    // points fire and memory can be read only while it is open, so a closed
    // debugger window is opened (and the machine stopped) first. An open one
    // is left as it is, the machine running on if it runs.
    void openBreakpoints();
    void openMemory();

    // Install application...: the file dialog, then installAndRemember.
    void installDialog();
    // Puts path at the front of the recent list (whatever the outcome),
    // installs it, shows what the installation reported and rebuilds the
    // File menu.
    void installAndRemember(const QString& path);
    // Load Mapfile: the file dialog, then loadSymbols.
    void loadMapfileDialog();
    // Replaces currentSymbols with the file's symbols, read as a map file when
    // the extension is exactly "map" and as a sym file otherwise; the new
    // table stays current even when the file did not open (then empty, and
    // the user is told).
    void loadSymbols(const QString& path);
    // *.app installs, *.map and *.sym load (extensions in any letter case);
    // anything else is refused with a message naming it.
    void openDroppedFiles(const QList<QUrl>& urls);

    static const char* const appFilter;
    static const char* const symbolFilter;
    // Longest "Cannot open map file '...'." message; a longer path is shortened in its middle.
    static constexpr int MapMessageLimit = 255;

    Machine& machine() { return *emulated; }
    DeviceWindow* window() const { return device.get(); }
    DebuggerWindow* debuggerWindow() const { return debugger.get(); }
    AppSettings& settings() { return store; }

    // Texts of the first-run dialogue and the forget command.
    static const char* const welcomeText;
    static const char* const saveFileText;
    static const char* const thankYouText;
    static const char* const forgetText;

private:
    bool startGdbServer(const QString& address);
    void stopMachine();
    void serveBreakTrap();

    HostServices& host;
    bool endRequested = false;
    AppSettings store;
    QtMessageReporter reporter;
    std::unique_ptr<HostClock> clock;
    std::unique_ptr<Machine> emulated;
    std::unique_ptr<ViewBridge> bridge;
    std::unique_ptr<DeviceWindow> device;
    std::unique_ptr<DebuggerWindow> debugger;
    // --gdb: the remote client's machine and its server (ended before the machine).
    std::unique_ptr<GdbMachineTarget> gdbTarget;
    std::unique_ptr<GdbServer> gdbServer;
    int code = 0;
};
