// Start-up paths: first run (complete, cancelled, no save file), a configured
// store, a ROM that has gone, the command line's paths, and Forget
// Configuration Files; each through SimulatorApp with the dialogs answered by
// a script and the real machine running the demo firmware.
#include <gtest/gtest.h>

#include <QFile>
#include <QSettings>
#include <filesystem>

#include "FrontendRig.h"
#include "frontend/DeviceWindow.h"
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
