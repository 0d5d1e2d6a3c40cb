// Start-up paths: first run (complete, cancelled, no save file), a configured
// store, a ROM that has gone, the command line's paths, and Forget
// Configuration Files; each through SimulatorApp with the dialogs answered by
// a script and the real machine running the demo firmware. Every setting in
// its own place, and each command-line option alone through the program's
// own main.
#include <gtest/gtest.h>

#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <filesystem>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "FrontendRig.h"
#include "frontend/DeviceWindow.h"
#include "frontend/ScreenView.h"
#include "frontend/SimulatorApp.h"
#include "machine/Machine.h"

using namespace frontendtest;

namespace {

const QString demoRom = QStringLiteral(PDEMU_DEMO_ROM_PATH);

QString stored(const char* group, const char* key) {
    QSettings s(QStringLiteral("Morvek"), QStringLiteral("pdemu"));
    return s.value(QStringLiteral("%1/%2").arg(QLatin1String(group), QLatin1String(key)), QStringLiteral("<missing>"))
        .toString();
}

class Startup : public ::testing::Test {
protected:
    void SetUp() override { clearSettings(); }
    ScriptedHost host;
    ScratchDir dir;
};

}  // namespace

TEST_F(Startup, FirstRunAsksForBothFilesStoresThemAndDeletesAnOldSave) {
    const QString save = dir.file("pdemu.sav");
    writeBytes(save, {1, 2, 3});
    host.openAnswers = {demoRom};
    host.saveAnswers = {save};
    SimulatorApp app(host);
    ASSERT_TRUE(app.start({}));

    ASSERT_EQ(host.messages.size(), 3u);
    EXPECT_EQ(host.messages[0].text, QString::fromUtf8(SimulatorApp::welcomeText));
    EXPECT_EQ(host.messages[1].text, QString::fromUtf8(SimulatorApp::saveFileText));
    EXPECT_EQ(host.messages[2].text, QString::fromUtf8(SimulatorApp::thankYouText));
    for (const auto& m : host.messages)
        EXPECT_EQ(m.icon, MessageIcon::Warning);
    ASSERT_EQ(host.dialogs.size(), 2u);
    EXPECT_FALSE(host.dialogs[0].save);
    EXPECT_EQ(host.dialogs[0].filterList, QStringLiteral("Rom Images (*.pgm)|*.pgm||"));
    EXPECT_EQ(host.dialogs[0].initialName, QStringLiteral("*.pgm"));
    EXPECT_TRUE(host.dialogs[1].save);
    EXPECT_EQ(host.dialogs[1].filterList, QStringLiteral("All Files (*.*)|*.*||"));
    EXPECT_EQ(host.dialogs[1].initialName, QStringLiteral("pdemu.sav"));

    EXPECT_EQ(stored("Config", "OSRomFile"), demoRom);
    EXPECT_EQ(stored("Config", "FlashSaveFile"), save);
    EXPECT_TRUE(app.machine().isRunning());
    // The old save was deleted before the machine started, so it is not loaded.
    EXPECT_FALSE(QFile::exists(save));
    app.finish();
    EXPECT_EQ(QFile(save).size(), static_cast<qint64>(Machine::SaveFileBytes));
}

// SIGTERM while a box of the first run is up: it closes, nothing more is
// asked and the machine does not start.
TEST_F(Startup, AnEndAskedForDuringTheFirstRunAsksNothingMoreAndStartsNothing) {
    const struct {
        std::size_t atBox;  // the box that is up when the end is asked for
        std::size_t dialogs;
        bool stored;  // the dialogue had been answered in full
    } cases[] = {{0, 0, false}, {1, 1, false}, {2, 2, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "box " << c.atBox);
        clearSettings();
        ScriptedHost scripted;
        scripted.openAnswers = {demoRom};
        scripted.saveAnswers = {dir.file("first.sav")};
        SimulatorApp app(scripted);
        scripted.onMessage = [&] {
            if (scripted.messages.size() == c.atBox + 1)
                app.requestEnd();
        };
        EXPECT_FALSE(app.start({}));
        EXPECT_EQ(app.exitCode(), 0);
        EXPECT_EQ(scripted.messages.size(), c.atBox + 1);
        EXPECT_EQ(scripted.dialogs.size(), c.dialogs);
        EXPECT_EQ(app.window(), nullptr);
        EXPECT_FALSE(app.machine().isRunning());
        EXPECT_EQ(stored("Config", "OSRomFile"), c.stored ? demoRom : QStringLiteral("<missing>"));
    }
}

// An option given with a first run: the answers are stored as always, and
// this run goes by the option.
TEST_F(Startup, FirstRunWithAnOptionAloneStoresTheAnswersAndThisRunTakesTheOption) {
    const QString answered = dir.file("answered.sav"), given = dir.file("given.sav");
    const struct {
        const char* what;
        StartOptions options;
        QString runSave;
        int zoom;
    } cases[] = {
        {"--save alone", {std::nullopt, given, std::nullopt}, given, 1},
        {"--save \"\" alone", {std::nullopt, QString(), std::nullopt}, QString(), 1},
        {"--zoom alone", {std::nullopt, std::nullopt, 4}, answered, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        clearSettings();
        ScriptedHost scripted;
        scripted.openAnswers = {demoRom};
        scripted.saveAnswers = {answered};
        SimulatorApp app(scripted);
        ASSERT_TRUE(app.start(c.options));
        EXPECT_EQ(scripted.messages.size(), 3u);
        EXPECT_EQ(stored("Config", "OSRomFile"), demoRom);
        EXPECT_EQ(stored("Config", "FlashSaveFile"), answered);
        EXPECT_EQ(app.machine().romImagePath, demoRom.toStdString());
        EXPECT_EQ(app.machine().flashSavePath, c.runSave.toStdString());
        EXPECT_EQ(app.window()->screenView()->zoom(), c.zoom);
        app.finish();
        EXPECT_EQ(QFile::exists(answered), c.runSave == answered);
        QFile::remove(answered);
        QFile::remove(given);
    }
}

TEST_F(Startup, CancelledRomDialogEndsSilentlyAndStoresNothing) {
    SimulatorApp app(host);
    EXPECT_FALSE(app.start({}));
    EXPECT_EQ(app.exitCode(), 0);
    EXPECT_EQ(host.messages.size(), 1u);  // the welcome only
    EXPECT_EQ(stored("Config", "OSRomFile"), QStringLiteral("<missing>"));
    EXPECT_EQ(app.window(), nullptr);
}

TEST_F(Startup, CancelledSaveDialogStoresAnEmptyPathAndNeverSaves) {
    host.openAnswers = {demoRom};
    SimulatorApp app(host);
    ASSERT_TRUE(app.start({}));
    EXPECT_EQ(host.messages.size(), 3u);
    EXPECT_EQ(stored("Config", "FlashSaveFile"), QString());
    EXPECT_TRUE(app.machine().flashSavePath.empty());
}

TEST_F(Startup, ConfiguredStoreStartsWithoutQuestions) {
    AppSettings settings;
    settings.setRomFile(demoRom);
    SimulatorApp app(host);  // no FlashSaveFile at all: never saves
    ASSERT_TRUE(app.start({}));
    EXPECT_TRUE(host.messages.empty());
    EXPECT_TRUE(host.dialogs.empty());
    EXPECT_TRUE(app.window()->isVisible());
    EXPECT_TRUE(app.machine().flashSavePath.empty());
}

TEST_F(Startup, VanishedRomFailsWithTheMachinesMessageAndNoWindow) {
    AppSettings settings;
    const QString gone = dir.file("gone.pgm");
    settings.setRomFile(gone);
    SimulatorApp app(host);
    EXPECT_FALSE(app.start({}));
    EXPECT_EQ(app.exitCode(), 1);
    EXPECT_TRUE(host.dialogs.empty());  // no first run again
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].icon, MessageIcon::Stop);
    EXPECT_EQ(host.messages[0].text, QStringLiteral("cannot open ROM file '%1'.").arg(gone));
    EXPECT_EQ(app.window(), nullptr);
    EXPECT_EQ(stored("Config", "OSRomFile"), gone);
}

TEST_F(Startup, CommandLinePathsServeOneRunAndLeaveTheStoreAlone) {
    AppSettings settings;
    settings.setRomFile(QStringLiteral("/stored/rom.pgm"));
    settings.setSaveFile(QStringLiteral("/stored/pdemu.sav"));
    const QString save = dir.file("run.sav");
    SimulatorApp app(host);
    ASSERT_TRUE(app.start({demoRom, save, 3}));
    EXPECT_EQ(app.machine().romImagePath, demoRom.toStdString());
    EXPECT_EQ(app.machine().flashSavePath, save.toStdString());
    app.finish();
    EXPECT_TRUE(QFile::exists(save));
    EXPECT_EQ(stored("Config", "OSRomFile"), QStringLiteral("/stored/rom.pgm"));
    EXPECT_EQ(stored("Config", "FlashSaveFile"), QStringLiteral("/stored/pdemu.sav"));
    EXPECT_EQ(stored("View", "Zoom"), QStringLiteral("<missing>"));  // --zoom is for this run
}

TEST_F(Startup, RomWithoutSaveKeepsItsStateInTheDataFolder) {
    SimulatorApp app(host);
    ASSERT_TRUE(app.start({demoRom, std::nullopt, std::nullopt}));
    const std::filesystem::path save = app.machine().flashSavePath;
    EXPECT_EQ(save.filename(), "pdemu-demo.sav");
    app.finish();
    EXPECT_TRUE(std::filesystem::exists(save));
    std::filesystem::remove(save);
}

TEST_F(Startup, ForgetConfigurationClearsOnlyConfigAndTheRunStillSaves) {
    AppSettings settings;
    const QString save = dir.file("kept.sav");
    settings.setRomFile(demoRom);
    settings.setSaveFile(save);
    settings.setRecentApps({QStringLiteral("/a.app"), QString(), QString(), QString()});
    SimulatorApp app(host);
    ASSERT_TRUE(app.start({}));
    emit app.window()->forgetConfigurationChosen();
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, QString::fromUtf8(SimulatorApp::forgetText));
    EXPECT_EQ(stored("Config", "OSRomFile"), QStringLiteral("<missing>"));
    EXPECT_EQ(stored("Config", "FlashSaveFile"), QStringLiteral("<missing>"));
    EXPECT_EQ(stored("MRU", "0"), QStringLiteral("/a.app"));
    app.finish();
    EXPECT_EQ(QFile(save).size(), static_cast<qint64>(Machine::SaveFileBytes));
}

TEST_F(Startup, SaveFileThatCannotBeReadIsReportedOnceTheWindowIsUpAndLeftAlone) {
    // A folder where the save file should be: it exists but is no file to read.
    const QString save = dir.file("folder.sav");
    std::filesystem::create_directory(save.toStdString());
    SimulatorApp app(host);
    ASSERT_TRUE(app.start({demoRom, save, std::nullopt}));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].icon, MessageIcon::Warning);
    EXPECT_TRUE(host.messages[0].text.contains(save)) << host.messages[0].text.toStdString();
    app.finish();
    EXPECT_TRUE(std::filesystem::is_directory(save.toStdString()));
}

// Distinct values for every setting, written through AppSettings and read
// where the store keeps them, then other values stored there and read
// through AppSettings: a setting written into another's place, or read from
// it, shows.
TEST_F(Startup, EverySettingIsWrittenAndReadInItsOwnPlace) {
    const struct {
        const char* key;
        QVariant written, stored;
    } places[] = {
        {"Config/OSRomFile", "/r/os.pgm", "/r/other.pgm"},
        {"Config/FlashSaveFile", "/s/pdemu.sav", "/s/other.sav"},
        {"MRU/0", "/m/0.app", "/n/0.app"},
        {"MRU/1", "/m/1.app", "/n/1.app"},
        {"MRU/2", "/m/2.app", "/n/2.app"},
        {"MRU/3", "/m/3.app", "/n/3.app"},
        {"View/Zoom", "3", "4"},
        {"Debugger/Window", QPoint(11, 22), QPoint(111, 122)},
        {"Debugger/Hexdump", QPoint(33, 44), QPoint(133, 144)},
    };
    AppSettings settings;
    settings.setRomFile(QStringLiteral("/r/os.pgm"));
    settings.setSaveFile(QStringLiteral("/s/pdemu.sav"));
    settings.setRecentApps({QStringLiteral("/m/0.app"), QStringLiteral("/m/1.app"), QStringLiteral("/m/2.app"),
                            QStringLiteral("/m/3.app")});
    settings.setZoom(3);
    settings.setWindowPosition(QStringLiteral("Window"), QPoint(11, 22));
    settings.setWindowPosition(QStringLiteral("Hexdump"), QPoint(33, 44));
    QSettings raw(QStringLiteral("Morvek"), QStringLiteral("pdemu"));
    for (const auto& p : places)
        EXPECT_EQ(raw.value(QLatin1String(p.key)), p.written) << p.key;
    EXPECT_EQ(raw.allKeys().size(), static_cast<qsizetype>(std::size(places)));

    for (const auto& p : places)
        raw.setValue(QLatin1String(p.key), p.stored);
    raw.sync();
    EXPECT_EQ(settings.romFile(), QStringLiteral("/r/other.pgm"));
    EXPECT_EQ(settings.saveFile(), QStringLiteral("/s/other.sav"));
    EXPECT_EQ(settings.recentApps(), (AppSettings::RecentApps{QStringLiteral("/n/0.app"), QStringLiteral("/n/1.app"),
                                                              QStringLiteral("/n/2.app"), QStringLiteral("/n/3.app")}));
    EXPECT_EQ(settings.zoom(), 4);
    EXPECT_EQ(settings.windowPosition(QStringLiteral("Window")), QPoint(111, 122));
    EXPECT_EQ(settings.windowPosition(QStringLiteral("Hexdump")), QPoint(133, 144));
    EXPECT_EQ(settings.windowPosition(QStringLiteral("Register")), std::nullopt);
    for (const char* bad : {"0", "5", "2x", ""}) {
        raw.setValue(QStringLiteral("View/Zoom"), QLatin1String(bad));
        raw.sync();
        EXPECT_EQ(settings.zoom(), AppSettings::DefaultZoom) << bad;
    }
}

namespace {

// The program's own command line, with a home of the test's own for its
// settings and data folder, on the offscreen platform; what the probe saw.
struct ProgramRun {
    int exitCode = -1;
    QStringList seen;
};

ProgramRun runProgram(const QString& home, const QStringList& arguments,
                      const QString& programPath = QStringLiteral(PDEMU_OPTIONS_PROBE)) {
    // posix_spawn rather than QProcess: under ThreadSanitizer a QProcess child
    // left the main thread's locks unseen by the sanitizer, and later tests in
    // the run then reported races where there are none.
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string_view entry(*e);
        bool dropped = false;
        for (const char* variable : {"XDG_CONFIG_HOME=", "XDG_DATA_HOME=", "XDG_CACHE_HOME=", "QT_SCALE_FACTOR=",
                                     "HOME=", "QT_QPA_PLATFORM="})
            dropped = dropped || entry.starts_with(variable);
        if (!dropped)
            env.emplace_back(entry);
    }
    env.push_back("HOME=" + home.toStdString());
    env.emplace_back("QT_QPA_PLATFORM=offscreen");
    std::vector<std::string> argv{programPath.toStdString()};
    for (const QString& a : arguments)
        argv.push_back(a.toStdString());
    auto pointers = [](std::vector<std::string>& strings) {
        std::vector<char*> list;
        for (std::string& text : strings)
            list.push_back(text.data());
        list.push_back(nullptr);
        return list;
    };
    std::vector<char*> argvList = pointers(argv), envList = pointers(env);

    ProgramRun run;
    int out[2];
    if (pipe(out) != 0)
        return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, out[1]);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argvList[0], &actions, nullptr, argvList.data(), envList.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        return run;
    }
    QByteArray output;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd ready{out[0], POLLIN, 0};
        if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0) {
            kill(pid, SIGKILL);  // hung: reported as no exit code
            break;
        }
        char buffer[4096];
        const ssize_t got = read(out[0], buffer, sizeof buffer);
        if (got <= 0)
            break;
        output.append(buffer, got);
    }
    close(out[0]);
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
    run.seen = QString::fromLocal8Bit(output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return run;
}

}  // namespace

// Each option given alone takes everything else from the settings, and none
// of them changes the stored configuration: the organiser runs on the ROM it
// names or the stored one, saves where --save says or where the settings say,
// shows the zoom --zoom gives or the stored one, and --install installs into
// the recent list in front of the stored entries.
TEST_F(Startup, EachCommandLineOptionAloneTakesTheRestFromTheSettings) {
    const QString painterApp = QStringLiteral(PDEMU_DEMO_DIR "/painter.app");
    struct Case {
        const char* what;
        QStringList arguments;  // "<home>" stands for the home folder
        int zoom;
        const char* savedAs;  // under the home folder; nullptr: no save file at all
        QString recent0;
    } cases[] = {
        {"no option", {}, 2, "stored.sav", "/old.app"},
        {"--save alone", {"--save", "<home>/given.sav"}, 2, "given.sav", "/old.app"},
        {"--save \"\" alone", {"--save", ""}, 2, nullptr, "/old.app"},
        {"--zoom alone", {"--zoom", "3"}, 3, "stored.sav", "/old.app"},
        {"--install alone", {"--install", painterApp}, 2, "stored.sav", painterApp},
        {"--rom alone", {"--rom", "<home>/other.pgm"}, 2, ".local/share/Morvek/pdemu/other.sav", "/old.app"},
        {"--rom with --save", {"--rom", "<home>/other.pgm", "--save", "<home>/given.sav"}, 2, "given.sav",
         "/old.app"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir home;
        ASSERT_TRUE(QFile::copy(demoRom, home.file("other.pgm")));
        const QString config = home.file(".config/Morvek/pdemu.conf");
        {
            QSettings store(config, QSettings::IniFormat);
            store.setValue(QStringLiteral("Config/OSRomFile"), demoRom);
            store.setValue(QStringLiteral("Config/FlashSaveFile"), home.file("stored.sav"));
            store.setValue(QStringLiteral("View/Zoom"), QStringLiteral("2"));
            store.setValue(QStringLiteral("MRU/0"), QStringLiteral("/old.app"));
        }
        QStringList arguments;
        for (const QString& a : c.arguments)
            arguments << QString(a).replace(QStringLiteral("<home>"), home.file(""));

        const ProgramRun run = runProgram(home.file(""), arguments);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.seen, QStringList{QStringLiteral("window: zoom %1").arg(c.zoom)});
        for (const char* candidate : {"stored.sav", "given.sav", ".local/share/Morvek/pdemu/other.sav"}) {
            const bool wanted = c.savedAs != nullptr && std::string_view(candidate) == c.savedAs;
            EXPECT_EQ(QFile(home.file(candidate)).size(), wanted ? static_cast<qint64>(Machine::SaveFileBytes) : 0)
                << candidate;
        }
        QSettings store(config, QSettings::IniFormat);
        EXPECT_EQ(store.value(QStringLiteral("Config/OSRomFile")).toString(), demoRom);
        EXPECT_EQ(store.value(QStringLiteral("Config/FlashSaveFile")).toString(), home.file("stored.sav"));
        EXPECT_EQ(store.value(QStringLiteral("View/Zoom")).toString(), QStringLiteral("2"));
        EXPECT_EQ(store.value(QStringLiteral("MRU/0")).toString(), c.recent0);
        EXPECT_EQ(store.value(QStringLiteral("MRU/1")).toString(),
                  c.recent0 == QStringLiteral("/old.app") ? QString() : QStringLiteral("/old.app"));
    }
}

// The first run's ROM dialog opens where a new user finds the demo firmware:
// share/pdemu beside the program's folder, as in an unpacked or installed
// package, else the firmware the build assembled beside build/pdemu, else the
// folder the build installs it to.
TEST_F(Startup, DemoFirmwareFolderIsBesideTheProgramElseInTheBuildElseTheInstalledOne) {
    ScratchDir root;
    std::filesystem::create_directories(root.path / "packaged/bin");
    std::filesystem::create_directories(root.path / "packaged/share/pdemu");
    std::filesystem::create_directories(root.path / "bare/bin");
    std::filesystem::create_directories(root.path / "installed");
    std::filesystem::create_directories(root.path / "build/firmware");
    writeBytes(root.file("notafolder"), {0});
    const struct {
        const char* programFolder;
        const char* installedFolder;  // "" for none
        const char* expected;         // "" for none
    } cases[] = {
        {"packaged/bin", "installed", "packaged/share/pdemu"},
        {"packaged/bin", "", "packaged/share/pdemu"},
        {"bare/bin", "installed", "installed"},
        {"build", "installed", "build/firmware"},
        {"bare/bin", "missing", ""},
        {"bare/bin", "notafolder", ""},
        {"bare/bin", "", ""},
    };
    const auto under = [&](const char* name) { return *name ? root.file(name) : QString(); };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.programFolder) + " / " + c.installedFolder);
        EXPECT_EQ(SimulatorApp::demoFirmwareFolder(under(c.programFolder), under(c.installedFolder)),
                  under(c.expected));
    }
}

// The program itself, copied into a folder laid out as a package unpacks:
// on the first run its real file dialog opens in <root>/share/pdemu.
TEST_F(Startup, FirstRunRomDialogOpensInTheDemoFirmwareFolderBesideTheProgram) {
    ScratchDir root;
    ScratchDir home;
    std::filesystem::create_directories(root.path / "bin");
    std::filesystem::create_directories(root.path / "share/pdemu");
    ASSERT_TRUE(QFile::copy(QStringLiteral(PDEMU_OPTIONS_PROBE), root.file("bin/pdemu")));

    const ProgramRun run = runProgram(home.file(""), {}, root.file("bin/pdemu"));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.seen, QStringList({QStringLiteral("box: ") + QString::fromUtf8(SimulatorApp::welcomeText)
                                                                   .replace(QLatin1Char('\n'), QLatin1String("\\n")),
                                     QStringLiteral("dialog: ") + root.file("share/pdemu")}));
    // Cancelled: nothing stored, so the next start asks again.
    EXPECT_FALSE(QFile::exists(home.file(".config/Morvek/pdemu.conf")));
}
