// SimulatorApp: the life of the program and the owner of its windows. It reads the settings (running the
// first-run dialogue when no ROM image is configured), creates the device
// window with its screen bitmap, starts the machine, shows the window until
// it closes, stops the machine (which writes the save file) and destroys the
// window, in that order: the emulation thread writes into the window's bitmap
// until it has ended.
//
// The command line can name the ROM image and the save file for one run
// (StartOptions); stored settings are then neither read for them nor written.
//
// One per program; tests build their own around a HostServices that answers
// the dialogs, and drive start() and finish() without the event loop of run().
#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <optional>

#include "frontend/AppSettings.h"
#include "frontend/HostServices.h"
#include "machine/HostClock.h"

class DebuggerWindow;
class DeviceWindow;
class Machine;
class ViewBridge;

struct StartOptions {
    std::optional<QString> rom;   // --rom: this ROM image, no first-run dialogue
    std::optional<QString> save;  // --save: this save file ("" never saves)
    std::optional<int> zoom;      // --zoom 1-4 for this run
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

    void firstRunSetup();
    void forgetConfiguration();
    // Creates the debugger window the first time and shows it, which switches
    // the engine on and stops the machine.
    void openDebugger();

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
    void stopMachine();
    void serveBreakTrap();

    HostServices& host;
    AppSettings store;
    QtMessageReporter reporter;
    std::unique_ptr<HostClock> clock;
    std::unique_ptr<Machine> emulated;
    std::unique_ptr<ViewBridge> bridge;
    std::unique_ptr<DeviceWindow> device;
    std::unique_ptr<DebuggerWindow> debugger;
    int code = 0;
};
