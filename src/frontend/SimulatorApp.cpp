// SimulatorApp: start-up, first run, the run and the end (see SimulatorApp.h).
#include "frontend/SimulatorApp.h"

#include <cstdio>

#include <QApplication>
#include <QEventLoop>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include "debugger/SymbolTable.h"
#include "frontend/DebugMessageWindow.h"
#include "frontend/DebuggerWindow.h"
#include "frontend/DeviceWindow.h"
#include "frontend/TextLimit.h"
#include "frontend/ViewBridge.h"
#include "machine/Machine.h"

namespace {

// A ROM given on the command line keeps its organiser's state in the user's
// data folder, one file per ROM name, so trying a ROM never touches the save
// file of the configured one.
QString defaultSaveFile(const QString& rom) {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (folder.isEmpty() || !QDir().mkpath(folder))
        return {};
    return QDir(folder).filePath(QFileInfo(rom).completeBaseName() + QStringLiteral(".sav"));
}

}  // namespace

const char* const SimulatorApp::welcomeText =
    "Welcome to the Lumora.\n\nFor the emulator to work, you will have to specify the organiser's internal "
    "software ROM file.\nYou can download this file from the maker's web site at the 'software updates' "
    "section.\n\nPress OK to go to the file selection dialog.";
const char* const SimulatorApp::saveFileText =
    "Now, please specify the file where the configuration of the organiser is saved when you quit the "
    "simulator, or press cancel to never save this configuration.\n\nPress OK to go to the file selection "
    "dialog.";
const char* const SimulatorApp::thankYouText =
    "Thank you, the simulator won't ask you these questions again.\n\nTo go through this setup again, select "
    "'Forget Configuration Files' from the options menu.\n\nPress OK to start the simulator.";
const char* const SimulatorApp::appFilter = "Application Files (*.app)|*.app||";
const char* const SimulatorApp::symbolFilter = "Morvek Mapfiles (*.map)|*.map|Tasm Symbolfiles (*.sym)|*.sym|";
const char* const SimulatorApp::forgetText = "You will have to restart the simulator to go through the setup again.";

SimulatorApp::SimulatorApp(HostServices& host, std::unique_ptr<HostClock> clock)
    : host(host), reporter(host), clock(std::move(clock)), emulated(std::make_unique<Machine>(reporter, *this->clock)),
      bridge(std::make_unique<ViewBridge>(emulated->debugger)) {}

SimulatorApp::~SimulatorApp() { finish(); }

bool SimulatorApp::start(const StartOptions& options) {
    code = 0;
    QString rom;
    QString save;
    if (options.rom) {
        rom = *options.rom;
        save = options.save ? *options.save : defaultSaveFile(rom);
    } else {
        rom = store.romFile();
        save = store.saveFile();
        if (rom.isEmpty()) {
            firstRunSetup();
            rom = store.romFile();
            save = store.saveFile();
            if (rom.isEmpty())
                return false;  // the user cancelled: end without a word
        }
        if (endRequested)
            return false;
        if (options.save)
            save = *options.save;
    }
    emulated->romImagePath = rom.toStdString();
    emulated->flashSavePath = save.toStdString();
    emulated->setHistoryLimit(static_cast<std::size_t>(store.historyMegabytes()) << 20);

    device = std::make_unique<DeviceWindow>(*emulated, store, host);
    if (options.zoom)
        device->setZoom(*options.zoom);
    connect(device.get(), &DeviceWindow::forgetConfigurationChosen, this, &SimulatorApp::forgetConfiguration);
    connect(device.get(), &DeviceWindow::debuggerChosen, this, &SimulatorApp::openDebugger);
    connect(device.get(), &DeviceWindow::breakpointsChosen, this, &SimulatorApp::openBreakpoints);
    connect(device.get(), &DeviceWindow::memoryChosen, this, &SimulatorApp::openMemory);
    device->setDebuggerOpener([this] { serveBreakTrap(); });
    connect(device.get(), &DeviceWindow::installApplicationChosen, this, &SimulatorApp::installDialog);
    connect(device.get(), &DeviceWindow::recentAppChosen, this, &SimulatorApp::installAndRemember);
    connect(device.get(), &DeviceWindow::loadMapfileChosen, this, &SimulatorApp::loadMapfileDialog);
    connect(device.get(), &DeviceWindow::filesDropped, this, &SimulatorApp::openDroppedFiles);

    if (!emulated->startMachine()) {
        reporter.showQueued(nullptr);
        device.reset();
        code = 1;
        return false;
    }
    device->show();
    if (options.gdb && !startGdbServer(*options.gdb)) {
        // A port that is taken ends the program, as a ROM that cannot be read does.
        stopMachine();
        device.reset();
        code = 1;
        return false;
    }
    // A save file that exists but cannot be read is left alone at the end;
    // the user should know before working on.
    if (emulated->saveFileStatus() != SaveFileStatus::Fine)
        reporter.showMessage(MessageIcon::Warning, emulated->saveFileMessage());
    reporter.showQueued(device.get());
    for (const QString& app : options.installs) {
        if (endRequested)
            break;
        installAndRemember(app);
    }
    if (endRequested)
        device->close();
    return true;
}

void SimulatorApp::requestEnd() {
    endRequested = true;
    // A box or dialog that is up runs its own loop; it goes first.
    for (int open = 0; open < 16; ++open) {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr)
            break;
        modal->close();
    }
    if (device)
        device->close();
}

int SimulatorApp::run(const StartOptions& options) {
    if (!start(options))
        return code;
    // A box shown during the start (a failed --install) serves events, so the
    // window may have been closed before this loop could hear of it.
    if (device->isVisible()) {
        QEventLoop loop;
        connect(device.get(), &DeviceWindow::closed, &loop, &QEventLoop::quit);
        loop.exec();
    }
    finish();
    return code;
}

// The server listens once the machine runs; its line on standard error says where.
bool SimulatorApp::startGdbServer(const QString& address) {
    std::string host;
    uint16_t port = 0;
    std::string problem = parseGdbAddress(address.toStdString(), host, port);
    if (problem.empty()) {
        gdbTarget = std::make_unique<GdbMachineTarget>(*emulated);
        gdbTarget->setWindowShowsDebugger();
        gdbServer = std::make_unique<GdbServer>(*gdbTarget);
        problem = gdbServer->listen(host, port);
    }
    if (!problem.empty()) {
        std::fprintf(stderr, "pdemu: %s\n", problem.c_str());
        gdbServer.reset();
        gdbTarget.reset();
        return false;
    }
    std::fprintf(stderr, "pdemu: GDB remote protocol on %s:%u\n", host.c_str(), static_cast<unsigned>(gdbServer->port()));
    std::fflush(stderr);
    gdbServer->start();
    return true;
}

void SimulatorApp::finish() {
    if (!device)
        return;
    // The client goes first; its thread touches the machine only through the engine.
    gdbServer.reset();
    gdbTarget.reset();
    stopMachine();
    reporter.showQueued(nullptr);
    debugger.reset();
    device.reset();
}

void SimulatorApp::openDebugger() {
    if (!debugger) {
        debugger = std::make_unique<DebuggerWindow>(emulated->debugger, bridge->queue(), emulated->currentSymbols,
                                                    store, host);
        // Log points' lines join the print trap's; the lines printed before
        // them go first, so the two keep their order as far as the tick allows.
        connect(debugger.get(), &DebuggerWindow::logLines, this, [this](const QString& text) {
            if (!device)
                return;
            device->flushDebugLines();
            device->debugMessages()->appendDebugText(text.toLatin1().toStdString());
        });
    }
    debugger->show();
    debugger->raise();
    debugger->activateWindow();
}

void SimulatorApp::openBreakpoints() {
    if (!debugger || !debugger->isVisible())
        openDebugger();
    debugger->openBreakpoints();
}

void SimulatorApp::openMemory() {
    if (!debugger || !debugger->isVisible())
        openDebugger();
    debugger->openMemory();
}

// The organiser's software executed the break trap: the debugger comes up and
// stops the machine. Showing a hidden window already gives the Stop.
void SimulatorApp::serveBreakTrap() {
    if (debugger && debugger->isVisible())
        emulated->debugger.stop();
    else
        openDebugger();
    emulated->debugger.takeOpenRequest();
}

// The emulation thread never waits for this one, so the stop needs no events served.
void SimulatorApp::stopMachine() {
    Machine& m = *emulated;
    m.stopMachine();
    if (m.saveFileStatus() == SaveFileStatus::NotWritten)
        reporter.showMessage(MessageIcon::Stop, m.saveFileMessage());
}

void SimulatorApp::firstRunSetup() {
    // An end asked for while a box or dialog is up closes it; nothing more is
    // asked and nothing is stored.
    host.messageBox(nullptr, MessageIcon::Warning, QString::fromUtf8(welcomeText));
    if (endRequested)
        return;
    // A new user finds the demo firmware where the dialog opens.
    const QString rom = host.openFileDialog(
        nullptr, QStringLiteral("Rom Images (*.pgm)|*.pgm||"), QStringLiteral("*.pgm"),
        demoFirmwareFolder(QCoreApplication::applicationDirPath(), QStringLiteral(PDEMU_INSTALLED_DATA_DIR)));
    if (rom.isEmpty() || endRequested)
        return;
    host.messageBox(nullptr, MessageIcon::Warning, QString::fromUtf8(saveFileText));
    if (endRequested)
        return;
    const QString save = host.saveFileDialog(nullptr, QStringLiteral("All Files (*.*)|*.*||"),
                                             QStringLiteral("pdemu.sav"));
    if (endRequested)
        return;
    store.setRomFile(rom);
    store.setSaveFile(save);
    // A first run never starts from an old save, even one the user picked
    // (the save dialog asked before offering to replace it).
    if (!save.isEmpty())
        QFile::remove(save);
    host.messageBox(nullptr, MessageIcon::Warning, QString::fromUtf8(thankYouText));
}

QString SimulatorApp::demoFirmwareFolder(const QString& programFolder, const QString& installedFolder) {
    const QString beside = QDir::cleanPath(programFolder + QStringLiteral("/../share/pdemu"));
    // build/pdemu finds the demo firmware the build assembled beside it.
    const QString built = QDir::cleanPath(programFolder + QStringLiteral("/firmware"));
    for (const QString& folder : {beside, built, installedFolder})
        if (!folder.isEmpty() && QFileInfo(folder).isDir())
            return folder;
    return {};
}

void SimulatorApp::forgetConfiguration() {
    store.forgetConfiguration();
    host.messageBox(device.get(), MessageIcon::Warning, QString::fromUtf8(forgetText));
}

void SimulatorApp::installDialog() {
    const QString path =
        host.openFileDialog(device.get(), QString::fromLatin1(appFilter), QStringLiteral("*.app"));
    if (!path.isEmpty())
        installAndRemember(path);
}

void SimulatorApp::installAndRemember(const QString& path) {
    // A recorded session holds outside values only; an installation is not one
    // (the menu items are disabled meanwhile, this stops a dropped file).
    if (emulated->isRecording()) {
        host.messageBox(device.get(), MessageIcon::Warning,
                        QStringLiteral("Cannot install '%1' while a session is being recorded: stop the recording "
                                       "first.")
                            .arg(path));
        return;
    }
    store.setRecentApps(AppSettings::withInstalled(store.recentApps(), path));
    emulated->installApplication(QFile::encodeName(path).toStdString());
    // The installation switched the debugger off; an open debugger window
    // takes it up again, so its controls never stand enabled over a machine
    // that runs.
    if (debugger && debugger->isVisible())
        debugger->takeUpEngine();
    // Every path through the installation has let the machine run on by now.
    reporter.showQueued(device.get());
    device->rebuildRecentMenu();
}

void SimulatorApp::loadMapfileDialog() {
    const QString path =
        host.openFileDialog(device.get(), QString::fromLatin1(symbolFilter), QStringLiteral("*.map"));
    if (!path.isEmpty())
        loadSymbols(path);
}

void SimulatorApp::loadSymbols(const QString& path) {
    // The old table goes first: a file that fails leaves the debugger without names.
    emulated->currentSymbols.reset();
    const int kind = QFileInfo(path).suffix() == QLatin1String("map") ? 0 : 1;
    emulated->currentSymbols = loadSymbolFile(QFile::encodeName(path).toStdString(), kind);
    if (emulated->currentSymbols->openFailed) {
        const QString before = QStringLiteral("Cannot open map file '");
        const QString after = QStringLiteral("'.");
        const QString shown = elideMiddle(path, MapMessageLimit - before.size() - after.size());
        host.messageBox(device.get(), MessageIcon::Information, before + shown + after);
    }
}

void SimulatorApp::openDroppedFiles(const QList<QUrl>& urls) {
    for (const QUrl& url : urls) {
        const QString path = url.isLocalFile() ? url.toLocalFile() : QString();
        const QString suffix = QFileInfo(path).suffix().toLower();
        if (!path.isEmpty() && suffix == QLatin1String("app")) {
            installAndRemember(path);
        } else if (!path.isEmpty() && (suffix == QLatin1String("map") || suffix == QLatin1String("sym"))) {
            loadSymbols(path);
        } else {
            const QString name = path.isEmpty() ? url.toDisplayString() : path;
            host.messageBox(device.get(), MessageIcon::Warning,
                            QStringLiteral("Cannot use '%1': drop an application (*.app) to install it, or a map "
                                           "or sym file (*.map, *.sym) to load its symbols.")
                                .arg(name));
        }
    }
}
