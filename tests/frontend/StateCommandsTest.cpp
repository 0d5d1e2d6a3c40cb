// File > Save State, Load State, the quick slots and Record Session on the
// real machine running the demo firmware, driven through the menu bar and the
// keys with the dialogs answered by the test. Exact comparisons are made on a
// machine the debugger holds (it does not move between two looks); a session
// recorded in the window is replayed on a second, windowless machine, which
// must end in the state the window's machine had when the recording stopped.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>

#include "FrontendRig.h"
#include "frontend/DebugMessageWindow.h"
#include "frontend/DebuggerWindow.h"
#include "frontend/DeviceWindow.h"
#include "frontend/ScreenView.h"
#include "frontend/SimulatorApp.h"
#include "frontend/StateCommands.h"
#include "machine/Machine.h"
#include "machine/StateFile.h"

using namespace frontendtest;

namespace {

const QString demoRom = QStringLiteral(PDEMU_DEMO_ROM_PATH);

QByteArray bytesOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class ListReporter : public MessageReporter {
public:
    void showMessage(MessageIcon, const std::string& text) override { texts.push_back(text); }
    std::vector<std::string> texts;
};

class StopAtTState : public SliceObserver {
public:
    explicit StopAtTState(uint64_t target) : target(target) {}
    void onSlice(Machine& machine) override {
        if (machine.elapsedTStates.load(std::memory_order_relaxed) >= target)
            machine.requestStop();
    }

private:
    uint64_t target;
};

class States : public ::testing::Test {
protected:
    void SetUp() override { clearSettings(); }
    void TearDown() override { app.finish(); }

    void start(const std::optional<QString>& save) {
        ASSERT_TRUE(app.start({demoRom, save, 1}));
        window = app.window();
        states = window->stateCommands();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        ASSERT_TRUE(waitUntil([&] { return window->debugMessages()->text().contains(QStringLiteral("booted")); }));
    }
    Machine& machine() { return app.machine(); }
    DebuggerEngine& engine() { return machine().debugger; }

    void choose(QAction* item) {
        QMenu* menu = window->fileMenu();
        QMenuBar* bar = window->menuBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(menu->menuAction()).center());
        ASSERT_TRUE(waitUntil([&] { return menu->isVisible(); }));
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(item).center());
        ASSERT_TRUE(waitUntil([&] { return !menu->isVisible(); }));
    }
    void press(Qt::Key key, Qt::KeyboardModifiers modifiers) {
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        QTest::keyClick(window->screenView(), key, modifiers);
    }

    // The debugger opened and holding the machine, its window caught up.
    void hold() {
        app.openDebugger();
        debugger = app.debuggerWindow();
        ASSERT_TRUE(waitUntil(
            [&] { return engine().isHeld() && debugger->caughtUp() && debugger->button("go")->isEnabled(); }));
    }
    QString pc() const { return debugger->field("PC")->text(); }
    QString status() const { return debugger->statusLine()->text(); }
    void step() {
        const QString before = pc();
        QTest::mouseClick(debugger->button("stepInto"), Qt::LeftButton);
        ASSERT_TRUE(waitUntil([&] { return engine().isHeld() && debugger->caughtUp() && pc() != before; }));
    }
    // The held machine as a state file's bytes.
    QByteArray heldBytes() {
        MachineState state;
        EXPECT_TRUE(engine().whileHeld([&] { state = machine().captureState(true); }, false));
        const QString path = dir.file("held.state");
        EXPECT_EQ(writeStateFile(path.toStdString(), state), "");
        return bytesOf(path);
    }
    bool shownDark(int x, int y) {
        ScreenView* view = window->screenView();
        const QImage shot = view->grab().toImage();
        const QPoint device = (QPointF(x + 0.5, y + 0.5) * view->scale() * shot.devicePixelRatio()).toPoint();
        return shot.pixelColor(device) == QColor(Qt::black);
    }
    // A pen tap the firmware marks on the display. The point must show light
    // first: only then does its turning dark prove the firmware saw the pen.
    void tap(int x, int y) {
        ScreenView* view = window->screenView();
        const QPoint at = (QPointF(x + 0.5, y + 0.5) * view->scale()).toPoint();
        ASSERT_TRUE(waitUntil([&] { return !shownDark(x, y); }));
        QTest::mousePress(view, Qt::LeftButton, {}, at);
        ASSERT_TRUE(waitUntil([&] { return shownDark(x, y); }));
        QTest::mouseRelease(view, Qt::LeftButton, {}, at);
    }

    ScratchDir dir;
    ScriptedHost host;
    SimulatorApp app{host, std::make_unique<FixedClock>(FixedClock::at(2026, 12, 8, 14, 3, 29))};
    DeviceWindow* window = nullptr;
    StateCommands* states = nullptr;
    DebuggerWindow* debugger = nullptr;
};

}  // namespace

TEST_F(States, SavedThroughTheMenuAndLoadedBackTheRunningMachineShowsTheSavedScreen) {
    start(dir.file("demo.sav"));
    ASSERT_FALSE(shownDark(100, 150));
    host.saveAnswers = {dir.file("before.state")};
    choose(states->saveAction());
    tap(100, 150);
    host.openAnswers = {dir.file("before.state")};
    choose(states->loadAction());
    EXPECT_TRUE(waitUntil([&] { return !shownDark(100, 150); }));
    EXPECT_TRUE(host.messages.empty());
    ASSERT_EQ(host.dialogs.size(), 2u);
    EXPECT_EQ(host.dialogs[0].filterList, QString::fromLatin1(StateCommands::stateFilter));
}

TEST_F(States, LoadedUnderTheOpenDebuggerTheMachineIsHeldAtTheLoadedInstruction) {
    start(dir.file("demo.sav"));
    hold();
    const QString savedPc = pc();
    host.saveAnswers = {dir.file("held.here.state")};
    choose(states->saveAction());
    const QByteArray saved = bytesOf(dir.file("held.here.state"));
    for (int i = 0; i < 3; ++i)
        step();
    ASSERT_NE(pc(), savedPc);

    host.openAnswers = {dir.file("held.here.state")};
    choose(states->loadAction());
    ASSERT_TRUE(waitUntil([&] { return engine().isHeld() && debugger->caughtUp() && pc() == savedPc; }));
    EXPECT_EQ(status(), QStringLiteral("Stopped ..."));
    EXPECT_TRUE(heldBytes() == saved) << "the held machine is not the saved one";

    // Running under Go, the load stops it.
    QTest::mouseClick(debugger->button("go"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !engine().isHeld(); }));
    host.openAnswers = {dir.file("held.here.state")};
    choose(states->loadAction());
    ASSERT_TRUE(waitUntil([&] { return engine().isHeld() && debugger->caughtUp(); }));
    EXPECT_EQ(status(), QStringLiteral("Stopped ..."));
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(States, ARefusedFileIsNamedAndTheMachineStaysExactlyAsItWas) {
    start(dir.file("demo.sav"));
    hold();
    host.saveAnswers = {dir.file("good.state")};
    choose(states->saveAction());
    step();
    const QByteArray before = heldBytes();
    const QString beforePc = pc();

    QByteArray good = bytesOf(dir.file("good.state"));
    QByteArray otherRom = good;
    otherRom[16] = static_cast<char>(otherRom[16] ^ 1);  // the ROM digest
    writeBytes(dir.file("other-rom.state"), std::vector<uint8_t>(otherRom.begin(), otherRom.end()));
    writeBytes(dir.file("cut.state"), std::vector<uint8_t>(good.begin(), good.begin() + good.size() / 2));
    writeBytes(dir.file("text.state"), {'h', 'e', 'l', 'l', 'o'});
    const struct {
        const char* name;
        const char* says;
    } cases[] = {{"other-rom.state", "another ROM"}, {"cut.state", "damaged"}, {"text.state", "not a pdemu"},
                 {"missing.state", "Cannot read"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        host.messages.clear();
        host.openAnswers = {dir.file(c.name)};
        choose(states->loadAction());
        ASSERT_EQ(host.messages.size(), 1u);
        EXPECT_TRUE(host.messages[0].text.contains(dir.file(c.name))) << host.messages[0].text.toStdString();
        EXPECT_TRUE(host.messages[0].text.contains(QLatin1String(c.says))) << host.messages[0].text.toStdString();
        EXPECT_TRUE(engine().isHeld());
        EXPECT_EQ(pc(), beforePc);
        EXPECT_TRUE(heldBytes() == before) << "the refused file changed the machine";
    }
}

TEST_F(States, QuickSlotsSaveAndLoadByTheirKeysBesideTheSaveFile) {
    start(dir.file("demo.sav"));
    EXPECT_EQ(states->quickSaveAction(2)->shortcut().toString(), QStringLiteral("Ctrl+Shift+2"));
    EXPECT_EQ(states->quickLoadAction(2)->shortcut().toString(), QStringLiteral("Ctrl+2"));
    hold();
    const QString savedPc = pc();
    press(Qt::Key_2, Qt::ControlModifier | Qt::ShiftModifier);
    const QString slot2 = dir.file("demo.sav.slot2.state");
    ASSERT_TRUE(QFile::exists(slot2));
    const QByteArray saved = bytesOf(slot2);
    step();
    step();
    press(Qt::Key_2, Qt::ControlModifier);
    ASSERT_TRUE(waitUntil([&] { return engine().isHeld() && debugger->caughtUp() && pc() == savedPc; }));
    EXPECT_TRUE(heldBytes() == saved) << "the held machine is not the saved one";
    EXPECT_TRUE(host.messages.empty());

    press(Qt::Key_3, Qt::ControlModifier);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_TRUE(host.messages[0].text.startsWith(QStringLiteral("Quick slot 3 is empty")));
    EXPECT_TRUE(host.messages[0].text.contains(dir.file("demo.sav.slot3.state")));
    EXPECT_EQ(pc(), savedPc);
}

TEST_F(States, WithoutASaveFileTheQuickSlotsLiveInTheDataFolderNamedAfterTheRom) {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    EXPECT_EQ(StateCommands::quickSlotPath(QString(), QStringLiteral("/roms/v1.2.pgm"), 4),
              folder + QStringLiteral("/v1.2.slot4.state"));
    start(QString());  // --save ""
    const QString slot1 = StateCommands::quickSlotPath(QString(), demoRom, 1);
    QFile::remove(slot1);
    press(Qt::Key_1, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(readStateFile(slot1.toStdString(), machine().romDigest()).state.has_value());
    EXPECT_TRUE(host.messages.empty());
    QFile::remove(slot1);
}

TEST_F(States, ARecordedSessionReplaysWithoutAWindowToTheWindowsEndState) {
    const QString endPath = dir.file("end.state");
    qputenv(StateCommands::endStateVariable, endPath.toLocal8Bit());
    start(dir.file("demo.sav"));
    host.saveAnswers = {dir.file("taps.session")};
    choose(states->recordAction());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("pdemu (recording)"));
    EXPECT_EQ(states->recordAction()->text(), QStringLiteral("Stop &Recording"));
    for (QAction* off : {states->loadAction(), states->quickLoadAction(1), window->warmRestartAction(),
                         window->coldRestartAction(), window->installAction()})
        EXPECT_FALSE(off->isEnabled()) << off->text().toStdString();
    const int firstApp = machine().firstAppPage;
    app.installAndRemember(QStringLiteral(PDEMU_DEMO_DIR "/painter.app"));  // as a dropped file would
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_TRUE(host.messages[0].text.contains(QStringLiteral("while a session is being recorded")));
    EXPECT_EQ(machine().firstAppPage, firstApp);
    tap(40, 60);
    tap(120, 200);
    choose(states->recordAction());
    qunsetenv(StateCommands::endStateVariable);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("pdemu"));
    EXPECT_TRUE(window->coldRestartAction()->isEnabled());
    EXPECT_EQ(host.messages.size(), 1u);

    SessionRead read = readSessionFile(dir.file("taps.session").toStdString(), machine().romDigest());
    ASSERT_TRUE(read.session) << read.problem;
    EXPECT_FALSE(read.session->reads.empty());
    ASSERT_GT(read.session->tstates, 0u);

    ListReporter reporter;
    FixedClock clock(FixedClock::at(2001, 1, 1, 0, 0, 0));  // replayed reads answer instead
    Machine replay(reporter, clock);
    std::array<uint8_t, MemoryMap::ScreenBytes> screen{};
    replay.memory.screenBits = screen.data();
    replay.romImagePath = demoRom.toStdString();
    const uint64_t end = read.session->start.tstates() + read.session->tstates;
    replay.setStartState(read.session->start);
    replay.setReplay(read.session->reads);
    StopAtTState stop(end);
    replay.setSliceObserver(&stop);
    ASSERT_TRUE(replay.startMachine()) << (reporter.texts.empty() ? "" : reporter.texts[0]);
    ASSERT_TRUE(waitUntil([&] { return !replay.isRunning(); }));
    const MachineState replayed = replay.captureState(false);
    replay.stopMachine();
    EXPECT_FALSE(replay.replayDiverged());
    EXPECT_EQ(replayed.tstates(), end);
    ASSERT_EQ(writeStateFile(dir.file("replayed.state").toStdString(), replayed), "");
    EXPECT_TRUE(bytesOf(dir.file("replayed.state")) == bytesOf(endPath)) << "the replay ended elsewhere";
    EXPECT_FALSE(bytesOf(endPath).isEmpty());
}

TEST_F(States, ARecordingIsKeptWhenItsFileCannotBeWrittenAndWhenTheWindowCloses) {
    start(dir.file("demo.sav"));
    host.saveAnswers = {dir.file("no/such/folder/run.session")};
    choose(states->recordAction());
    tap(120, 200);
    host.saveAnswers = {dir.file("second.session")};
    choose(states->recordAction());
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_TRUE(host.messages[0].text.contains(dir.file("no/such/folder/run.session")));
    EXPECT_TRUE(host.messages[0].text.contains(QStringLiteral("Choose another file")));
    EXPECT_EQ(host.dialogs.back().initialName, QStringLiteral("run.session"));
    SessionRead second = readSessionFile(dir.file("second.session").toStdString(), machine().romDigest());
    ASSERT_TRUE(second.session) << second.problem;
    EXPECT_FALSE(second.session->reads.empty());

    host.saveAnswers = {dir.file("closing.session")};
    choose(states->recordAction());
    window->close();
    EXPECT_FALSE(machine().isRecording());
    EXPECT_TRUE(readSessionFile(dir.file("closing.session").toStdString(), machine().romDigest()).session);
}
