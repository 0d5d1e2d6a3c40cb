// pdemu: the desktop program. Reads the command line, then hands over to
// SimulatorApp. --help and --version answer without a display; without one
// the program says so instead of letting Qt abort.
#include <QApplication>
#include <QCommandLineParser>
#include <QSocketNotifier>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "debugger/GdbServer.h"
#include "frontend/HostServices.h"
#include "frontend/SimulatorApp.h"
#include "machine/StopSignals.h"

namespace {

enum ExitCode { ExitDone = 0, ExitStartFailed = 1, ExitBadUsage = 2 };

bool haveDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication::setOrganizationName(QStringLiteral("Morvek"));
    QCoreApplication::setApplicationName(QStringLiteral("pdemu"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PDEMU_VERSION));
    // The installed desktop entry's name, by which the desktop finds the window's entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(PDEMU_APP_ID));

    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulator of a Z80 pocket organiser with a Z80 debugger.\n"
        "Without --rom the ROM image and save file come from the settings (asked for on the first run)."));
    // Not addHelpOption: it also offers --help-all, Qt's own options, which
    // only QApplication's parsing answers and this parser refuses.
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Displays help on commandline options."));
    parser.addOption(helpOption);
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption romOption(
        QStringLiteral("rom"), QStringLiteral("Run this ROM image (*.pgm) for this run; the settings stay as they are."),
        QStringLiteral("FILE"));
    const QCommandLineOption saveOption(
        QStringLiteral("save"),
        QStringLiteral("Load and save the organiser's flash and RAM in FILE for this run (\"\" never saves). "
                       "With --rom and without --save: <name of the ROM>.sav in the user's data folder."),
        QStringLiteral("FILE"));
    const QCommandLineOption zoomOption(QStringLiteral("zoom"), QStringLiteral("Window zoom for this run, 1 to 4."),
                                        QStringLiteral("N"));
    const QCommandLineOption installOption(
        QStringLiteral("install"),
        QStringLiteral("Install this application (*.app) once the window is up, as File > Install application... "
                       "does, recent list included (repeatable; installed in the order given)."),
        QStringLiteral("APP"));
    const QCommandLineOption gdbOption(
        QStringLiteral("gdb"),
        QStringLiteral("Serve the GDB remote serial protocol on [HOST:]PORT (HOST defaults to 127.0.0.1, "
                       "PORT 0 picks one; a line on standard error says where). A client opens the debugger."),
        QStringLiteral("[HOST:]PORT"));
    parser.addOptions({romOption, saveOption, zoomOption, installOption, gdbOption});

    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "pdemu: %s (see --help)\n", qPrintable(parser.errorText()));
        return ExitBadUsage;
    }
    if (parser.isSet(helpOption)) {
        // Without an application object yet, Qt cannot name the program itself.
        std::fputs(qPrintable(parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("pdemu"))),
                   stdout);
        return ExitDone;
    }
    if (parser.isSet(versionOption)) {
        std::printf("pdemu %s\n", qPrintable(QCoreApplication::applicationVersion()));
        return ExitDone;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "pdemu: unexpected argument '%s' (see --help)\n",
                     qPrintable(parser.positionalArguments().constFirst()));
        return ExitBadUsage;
    }

    StartOptions options;
    if (parser.isSet(romOption))
        options.rom = parser.value(romOption);
    if (parser.isSet(saveOption))
        options.save = parser.value(saveOption);
    if (parser.isSet(zoomOption)) {
        bool ok = false;
        const int zoom = parser.value(zoomOption).toInt(&ok);
        if (!ok || zoom < 1 || zoom > 4) {
            std::fprintf(stderr, "pdemu: --zoom takes 1, 2, 3 or 4 (see --help)\n");
            return ExitBadUsage;
        }
        options.zoom = zoom;
    }
    options.installs = parser.values(installOption);
    if (options.installs.contains(QString())) {
        std::fprintf(stderr, "pdemu: --install needs a file name (see --help)\n");
        return ExitBadUsage;
    }
    if (options.rom && options.rom->isEmpty()) {
        std::fprintf(stderr, "pdemu: --rom needs a file name (see --help)\n");
        return ExitBadUsage;
    }
    if (parser.isSet(gdbOption)) {
        std::string host;
        uint16_t port = 0;
        if (const std::string problem = parseGdbAddress(parser.value(gdbOption).toStdString(), host, port);
            !problem.empty()) {
            std::fprintf(stderr, "pdemu: %s (see --help)\n", problem.c_str());
            return ExitBadUsage;
        }
        options.gdb = parser.value(gdbOption);
    }
    if (!haveDisplay()) {
        std::fprintf(stderr, "pdemu: no display to open a window on (DISPLAY and WAYLAND_DISPLAY are not set); "
                             "pdemu-run runs the organiser without one\n");
        return ExitStartFailed;
    }

    // SIGINT and SIGTERM (logout, shutdown) close the window as Exit does, so
    // the save file is written.
    installStopSignals();
    QApplication app(argc, argv);
    HostServices host;
    SimulatorApp simulator(host);
    std::unique_ptr<QSocketNotifier> stopNotifier;
    if (stopSignalFd() >= 0) {
        stopNotifier = std::make_unique<QSocketNotifier>(stopSignalFd(), QSocketNotifier::Read);
        QObject::connect(stopNotifier.get(), &QSocketNotifier::activated, &simulator, [&] {
            stopNotifier->setEnabled(false);
            simulator.requestEnd();
        });
    }
    return simulator.run(options);
}
