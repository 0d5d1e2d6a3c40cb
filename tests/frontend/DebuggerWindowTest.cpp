// The debugger's windows on the real machine, driven as a user drives them:
// buttons clicked, fields typed into, keys pressed; what the windows show is
// checked against the formats the engine gives. Then the thread cases: none
// may hang (each is bounded by a watchdog), lose debug text, or leave enabled
// run controls while the machine runs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QShowEvent>
#include <QTest>
#include <QToolTip>
#include <QtTest/qtestspontaneevent.h>
#include <algorithm>
#include <random>

#include "FrontendRig.h"
#include "debugger/DebuggerEngine.h"
#include "debugger/SymbolTable.h"
#include "frontend/AppSettings.h"
#include "frontend/DebugMessageWindow.h"
#include "frontend/DebuggerWindow.h"
#include "frontend/DeviceWindow.h"
#include "frontend/HexdumpWindow.h"
#include "frontend/RegisterEditor.h"
#include "frontend/SimulatorApp.h"
#include "machine/Machine.h"

using namespace frontendtest;
using namespace std::chrono_literals;

namespace {

// 0000 DI / LD SP,0000 / LD HL,0000
// 0007 INC HL / CALL 0010 / JR 0007
// 0010 LD A,H / XOR L / RET
const std::vector<uint8_t> steppingRom = {0xF3, 0x31, 0x00, 0x00, 0x21, 0x00, 0x00, 0x23, 0xCD, 0x10,
                                          0x00, 0x18, 0xFA, 0x00, 0x00, 0x00, 0x7C, 0xAD, 0xC9};

// 0000 DI / LD SP,0000 / LD B,32
// 0006 LD HL,0040 / print (ED FE) / DJNZ 0006
// 000D break trap (ED FF) / LD HL,0000      (breakpoint 4 lands on 0012)
// 0012 INC HL / JR 0012
// 0040 "line\n"
std::vector<uint8_t> trapRom() {
    std::vector<uint8_t> rom = {0xF3, 0x31, 0x00, 0x00, 0x06, 0x20, 0x21, 0x40, 0x00, 0xED, 0xFE,
                                0x10, 0xF9, 0xED, 0xFF, 0x21, 0x00, 0x00, 0x23, 0x18, 0xFD};
    rom.resize(0x40, 0);
    for (char c : std::string("line\n"))
        rom.push_back(static_cast<uint8_t>(c));
    rom.push_back(0);
    return rom;
}

class Debugger : public ::testing::Test {
protected:
    void SetUp() override { clearSettings(); }

    void start(const std::vector<uint8_t>& rom) {
        const QString path = dir.file("test.pgm");
        writeBytes(path, rom);
        ASSERT_TRUE(app.start({path, dir.file("test.sav"), 1}));
        app.machine().debugger.setTraceDirectory(dir.path);  // "Trace on" writes here, not where the test runs
    }
    void open() {
        app.openDebugger();
        window = app.debuggerWindow();
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(waitUntilHeld());
    }
    DebuggerEngine& engine() { return app.machine().debugger; }
    // Held, and the window shows it: the controls are on again.
    bool waitUntilHeld() {
        return waitUntil([&] { return engine().isHeld() && window->caughtUp() && window->button("go")->isEnabled(); });
    }
    QString pc() const { return window->field("PC")->text(); }
    QString status() const { return window->statusLine()->text(); }
    QStringList listing() const {
        return window->listing()->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    void click(const char* name) { QTest::mouseClick(window->button(name), Qt::LeftButton); }
    void type(QLineEdit* field, const QString& text) {
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, text);
    }
    // Steps until PC shows the address (at most 40 steps).
    bool stepTo(const QString& address) {
        for (int i = 0; i < 40 && pc() != address; ++i) {
            const QString before = listing().isEmpty() ? QString() : listing().last();
            click("stepInto");
            if (!waitUntil([&] { return engine().isHeld() && !listing().isEmpty() && listing().last() != before; }))
                return false;
        }
        return pc() == address;
    }
    // Held at the CALL at 0007 of a program that has long been past it.
    void heldBeforeTheCall(const std::vector<uint8_t>& rom) {
        start(rom);
        open();
        app.window()->coldRestartChosen();
        ASSERT_TRUE(waitUntil([&] { return pc() == QStringLiteral("0000") && engine().isHeld(); }));
        ASSERT_TRUE(stepTo(QStringLiteral("0007")));
    }
    bool runControlsEnabled(bool enabled) const {
        for (QWidget* w : window->runControls())
            if (w->isEnabled() != enabled)
                return false;
        return true;
    }

    ScratchDir dir;
    ScriptedHost host;
    SimulatorApp app{host, std::make_unique<FixedClock>(FixedClock::at(2026, 12, 8, 14, 3, 29))};
    DebuggerWindow* window = nullptr;
};

// Every instruction of the stepping ROM: the Stop may come before the loop
// when the emulation thread has only just started.
const QStringList steppingAddresses = {"0000", "0001", "0004", "0007", "0008", "000B", "0010", "0011", "0012"};

}  // namespace

TEST_F(Debugger, MenuOpensItAndTheMachineStopsShowingItsState) {
    start(steppingRom);
    DeviceWindow* device = app.window();
    QMenuBar* bar = device->menuBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(device->optionsMenu()->menuAction()).center());
    ASSERT_TRUE(waitUntil([&] { return device->optionsMenu()->isVisible(); }));
    QAction* item = nullptr;
    for (QAction* a : device->optionsMenu()->actions())
        if (a->text() == QStringLiteral("Debu&gger"))
            item = a;
    ASSERT_NE(item, nullptr);
    QTest::mouseClick(device->optionsMenu(), Qt::LeftButton, {}, device->optionsMenu()->actionGeometry(item).center());
    window = app.debuggerWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(waitUntilHeld());

    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("PdEmu Debugger V0.3B0"));
    EXPECT_EQ(status(), QStringLiteral("Stopped ..."));
    EXPECT_TRUE(steppingAddresses.contains(pc())) << pc().toStdString();
    for (const char* pair : {"AF", "BC", "DE", "HL", "IX", "IY", "PC", "SP"})
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9A-F]{4}$")).match(window->field(pair)->text()).hasMatch())
            << pair;
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[S.][Z.][*.][H.][*.][P.][N.][C.]$"))
                    .match(window->field("flags")->text())
                    .hasMatch());
    ASSERT_FALSE(listing().isEmpty());
    EXPECT_TRUE(listing().last().startsWith(pc() + QLatin1Char(':')));
    EXPECT_TRUE(runControlsEnabled(true));
    EXPECT_TRUE(window->radio("traceOff")->isChecked());
    EXPECT_TRUE(window->radio("data")->isChecked());
}

TEST_F(Debugger, StepIntoFollowsTheCallAndStepOverRunsIt) {
    start(steppingRom);
    open();
    ASSERT_TRUE(stepTo(QStringLiteral("0008")));
    EXPECT_EQ(listing().last(), QStringLiteral("0008:CALL 0010h"));
    click("stepInto");
    ASSERT_TRUE(waitUntil([&] { return engine().isHeld() && listing().last().startsWith(QStringLiteral("0010:")); }));
    EXPECT_EQ(pc(), QStringLiteral("0010"));
    EXPECT_EQ(window->field("SP")->text(), QStringLiteral("FFFE"));
    ASSERT_TRUE(stepTo(QStringLiteral("0008")));
    click("stepOver");
    ASSERT_TRUE(waitUntil([&] { return engine().isHeld() && listing().last().startsWith(QStringLiteral("000B:")); }));
    EXPECT_EQ(pc(), QStringLiteral("000B"));
    EXPECT_EQ(window->field("SP")->text(), QStringLiteral("0000"));
    EXPECT_TRUE(listing().last().startsWith(QStringLiteral("000B:JR")));
}

TEST_F(Debugger, BreakpointTypedIntoItsFieldStopsGoAndMarksItsLabel) {
    start(steppingRom);
    open();
    type(window->field("break1"), QStringLiteral("11"));
    window->field("break2")->setFocus();  // focus leaves the field: the engine reads all three
    ASSERT_TRUE(waitUntil([&] { return engine().breakpoint(1) == 0x11; }));
    click("go");
    ASSERT_TRUE(waitUntil([&] { return status() == QStringLiteral("Breakpoint (1) hit at:11"); }));
    ASSERT_TRUE(waitUntilHeld());
    EXPECT_EQ(pc(), QStringLiteral("0011"));
    EXPECT_EQ(window->breakpointLabel(1)->text(), QStringLiteral("*"));
    EXPECT_EQ(window->breakpointLabel(2)->text(), QStringLiteral("2"));

    click("clearBreaks");
    EXPECT_EQ(window->field("break1")->text(), QString());
    EXPECT_EQ(window->breakpointLabel(1)->text(), QStringLiteral("1"));
    EXPECT_EQ(engine().breakpoint(1), 0u);
}

// Go and Animate by key while the focus is in a control that Go disables:
// the run controls go off under the focus, which moves on (and a breakpoint
// field that loses it is read). Each time the machine runs until Shift+F5.
TEST_F(Debugger, RunKeysWorkWhateverControlHasTheFocus) {
    start(steppingRom);
    open();
    const struct {
        const char* focus;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        const char* status;
    } cases[] = {
        {"break1", Qt::Key_F5, Qt::NoModifier, "Running ..."},   {"break1", Qt::Key_F9, Qt::NoModifier, "Animating ..."},
        {"break3", Qt::Key_G, Qt::AltModifier, "Running ..."},    {"address", Qt::Key_F5, Qt::NoModifier, "Running ..."},
        {"length", Qt::Key_A, Qt::AltModifier, "Animating ..."},  {"hexdump", Qt::Key_G, Qt::AltModifier, "Running ..."},
        {"disassemble", Qt::Key_F9, Qt::NoModifier, "Animating ..."}, {"reg", Qt::Key_F5, Qt::NoModifier, "Running ..."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.focus << " " << QKeySequence(c.key | c.modifiers).toString().toStdString());
        Watchdog guard("a run key with the focus in a run control", 60s);
        QWidget* target = window->findChild<QWidget*>(QLatin1String(c.focus));
        ASSERT_NE(target, nullptr);
        target->setFocus();
        if (auto* field = qobject_cast<QLineEdit*>(target))
            type(field, QStringLiteral("1234"));  // an address the program never reaches
        const uint32_t holds = engine().holdCount();
        QTest::keyClick(QApplication::focusWidget(), c.key, c.modifiers);
        // Running or animating, and the window says so (its status and controls come one after the other).
        ASSERT_TRUE(waitUntil(
            [&] { return status() == QLatin1String(c.status) && !engine().isHeld() && runControlsEnabled(false); }));
        EXPECT_EQ(engine().holdCount(), holds);
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : window, Qt::Key_F5,
                        Qt::ShiftModifier);
        ASSERT_TRUE(waitUntilHeld());
        EXPECT_EQ(status(), QStringLiteral("Stopped ..."));
    }
    // Every field that lost the focus was read.
    EXPECT_EQ(engine().breakpoint(1), 0x1234u);
    EXPECT_EQ(engine().breakpoint(3), 0x1234u);
    EXPECT_EQ(engine().breakpoint(2), 0u);

    // A breakpoint on the program's loop, typed and followed by F5 at once, stops it by itself.
    type(window->field("break2"), QStringLiteral("11"));
    QTest::keyClick(window->field("break2"), Qt::Key_F5);
    ASSERT_TRUE(waitUntil([&] { return status() == QStringLiteral("Breakpoint (2) hit at:11"); }));
    ASSERT_TRUE(waitUntilHeld());
    EXPECT_EQ(pc(), QStringLiteral("0011"));
    EXPECT_EQ(window->breakpointLabel(2)->text(), QStringLiteral("*"));
}

TEST_F(Debugger, GoDisablesExactlyTheRunControlsAndStopEnablesThemAgain) {
    start(steppingRom);
    open();
    click("go");
    EXPECT_EQ(status(), QStringLiteral("Running ..."));
    EXPECT_TRUE(runControlsEnabled(false));
    ASSERT_EQ(window->runControls().size(), 17u);
    for (QWidget* w : std::initializer_list<QWidget*>{window->button("stop"), window->radio("traceOn"),
                                                      window->radio("traceOff"), window->radio("data"),
                                                      window->radio("functions"), window->listing(),
                                                      window->field("PC"), window->field("flags")})
        EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_TRUE(waitUntil([&] { return !engine().isHeld(); }));
    EXPECT_TRUE(runControlsEnabled(false));
    click("stop");
    ASSERT_TRUE(waitUntilHeld());
    EXPECT_EQ(status(), QStringLiteral("Stopped ..."));
    EXPECT_TRUE(runControlsEnabled(true));
}

// Step back by button and by Shift+F11, Reverse go by Shift+F8: the window
// shows the earlier instruction as a stop, and a point hit as a forward hit.
TEST_F(Debugger, StepBackAndReverseGoShowTheEarlierMachine) {
    start(steppingRom);
    open();
    QStringList pcs;
    for (int i = 0; i < 4; ++i) {
        pcs << pc();
        const QString before = listing().last();
        click("stepInto");
        ASSERT_TRUE(waitUntil([&] { return engine().isHeld() && listing().last() != before; }));
    }
    click("stepBack");
    ASSERT_TRUE(waitUntilHeld());
    EXPECT_EQ(pc(), pcs[3]);
    EXPECT_EQ(status(), QStringLiteral("Stopped ..."));
    QTest::keyClick(window, Qt::Key_F11, Qt::ShiftModifier);
    ASSERT_TRUE(waitUntil([&] { return pc() == pcs[2]; }));
    EXPECT_EQ(listing().last().left(4), pcs[2]);

    type(window->field("break1"), QStringLiteral("10"));
    engine().readBreakpointFields();
    for (int i = 0; i < 8; ++i) {
        const QString before = listing().last();
        click("stepInto");
        ASSERT_TRUE(waitUntil([&] { return engine().isHeld() && listing().last() != before; }));
    }
    QTest::keyClick(window, Qt::Key_F8, Qt::ShiftModifier);
    ASSERT_TRUE(waitUntil([&] { return status() == QStringLiteral("Breakpoint (1) hit at:10"); }));
    EXPECT_EQ(pc(), QStringLiteral("0010"));
    EXPECT_EQ(window->breakpointLabel(1)->text(), QStringLiteral("*"));
}

TEST_F(Debugger, AnimateShowsRegistersAndListingWhileItRuns) {
    start(steppingRom);
    open();
    int pcChanges = 0;
    QObject::connect(window->field("PC"), &QLineEdit::textChanged, [&] { ++pcChanges; });
    const int before = static_cast<int>(listing().size());
    click("animate");
    ASSERT_TRUE(waitUntil([&] { return status() == QStringLiteral("Animating ..."); }));
    // The window shows the machine going on while nothing holds it.
    ASSERT_TRUE(waitUntil([&] { return pcChanges >= 20 && listing().size() >= before + 20; }));
    EXPECT_FALSE(engine().isHeld());
    EXPECT_TRUE(runControlsEnabled(false));
    click("stop");
    ASSERT_TRUE(waitUntilHeld());
    EXPECT_EQ(status(), QStringLiteral("Stopped ..."));
}

TEST_F(Debugger, KeysOfDebuggersDriveTheRunButtons) {
    start(steppingRom);
    open();
    const QString first = pc();
    QTest::keyClick(window, Qt::Key_F11);
    ASSERT_TRUE(waitUntil([&] { return pc() != first && engine().isHeld(); }));
    QTest::keyClick(window, Qt::Key_F5);
    EXPECT_EQ(status(), QStringLiteral("Running ..."));
    QTest::keyClick(window, Qt::Key_F5, Qt::ShiftModifier);
    ASSERT_TRUE(waitUntilHeld());
    QTest::keyClick(window, Qt::Key_F9);
    ASSERT_TRUE(waitUntil([&] { return status() == QStringLiteral("Animating ..."); }));
    QTest::keyClick(window, Qt::Key_F5, Qt::ShiftModifier);
    ASSERT_TRUE(waitUntilHeld());
    ASSERT_TRUE(stepTo(QStringLiteral("0008")));
    QTest::keyClick(window, Qt::Key_F10);
    ASSERT_TRUE(waitUntil([&] { return pc() == QStringLiteral("000B") && engine().isHeld(); }));
}

TEST_F(Debugger, RegisterEditorChangesRegistersAndWritesMemoryTheHexdumpShows) {
    start(steppingRom);
    open();
    ASSERT_TRUE(stepTo(QStringLiteral("0007")));
    click("reg");
    RegisterEditor* editor = window->registerEditor();
    ASSERT_NE(editor, nullptr);
    ASSERT_TRUE(editor->isVisible());
    EXPECT_EQ(editor->windowTitle(), QStringLiteral("Edit Registervalues"));
    for (const char* pair : {"AF", "HL", "DE", "BC", "IX", "IY"})
        EXPECT_EQ(editor->field(pair)->text(), window->field(pair)->text()) << pair;
    EXPECT_TRUE(editor->ramButton()->isChecked());
    type(editor->field("HL"), QStringLiteral("1234"));
    type(editor->field("Bank"), QStringLiteral("0"));
    type(editor->field("Adress"), QStringLiteral("8000"));
    type(editor->field("Value"), QStringLiteral("7F"));
    editor->accept();
    EXPECT_FALSE(editor->isVisible());
    EXPECT_EQ(window->field("HL")->text(), QStringLiteral("1234"));

    type(window->field("address"), QStringLiteral("8000"));
    type(window->field("length"), QStringLiteral("10"));
    click("hexdump");
    HexdumpWindow* dump = window->hexdump();
    ASSERT_NE(dump, nullptr);
    EXPECT_EQ(dump->windowTitle(), QStringLiteral("pdemu's HexDump :-)"));
    ASSERT_TRUE(waitUntil([&] { return !engine().hexdumpPending() && dump->text().count(QLatin1Char('\n')) >= 6; }));
    const QStringList lines = dump->text().split(QLatin1Char('\n'));
    ASSERT_GE(lines.size(), 6);
    EXPECT_EQ(lines[0], QString());
    EXPECT_EQ(lines[1], QStringLiteral("Banks: Rom:0(x00) Ram:0(x00)"));
    EXPECT_EQ(lines[2], QStringLiteral("Adr. |Hex                     |Char"));
    EXPECT_EQ(lines[3], QStringLiteral("-----|------------------------|----------------------"));
    EXPECT_EQ(lines[4], QStringLiteral("8000  7F 00 00 00 00 00 00 00   \x7f  .  .  .  .  .  .  .  "));
    EXPECT_EQ(lines[5].left(6), QStringLiteral("8008  "));
}

TEST_F(Debugger, HexdumpOfTheRomAndDisassemblyGoWhereTheyBelong) {
    start(steppingRom);
    open();
    type(window->field("address"), QStringLiteral("0"));
    type(window->field("length"), QStringLiteral("20"));
    click("hexdump");
    HexdumpWindow* dump = window->hexdump();
    ASSERT_TRUE(waitUntil([&] { return !engine().hexdumpPending() && dump->text().count(QLatin1Char('\n')) >= 8; }));
    const QStringList lines = dump->text().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3 + 4);  // header lines and two rows of two lines
    EXPECT_EQ(lines[3], QStringLiteral("0000  F3 31 00 00 21 00 00 23   .  1  .  .  !  .  .  #  "));

    type(window->field("address"), QStringLiteral("7"));
    const int before = static_cast<int>(listing().size());
    click("disassemble");
    ASSERT_TRUE(waitUntil([&] { return !engine().disassemblyPending() && listing().size() >= before + 18; }));
    const QStringList all = listing();
    EXPECT_EQ(all[before], QStringLiteral("-Disassembly RomBank:0(x00) RamBank:0(x00)-"));
    EXPECT_EQ(all[before + 1], QStringLiteral("0007:INC HL"));
    EXPECT_EQ(all[before + 2], QStringLiteral("0008:CALL 0010h"));
    EXPECT_EQ(all[before + 17], QStringLiteral("---------------"));
}

TEST_F(Debugger, SymbolBoxOffersTheChosenListSortedAndCopiesTheAddress) {
    start(steppingRom);
    auto table = std::make_unique<SymbolTable>();
    table->addData("zeta", 0x8000);
    table->addData("alpha", 0x12345);
    table->addFunction("sub", 0x10);
    table->addFunction("main", 0x7);
    app.machine().currentSymbols = std::move(table);
    open();
    const auto items = [&] {
        window->symbolBox()->showPopup();
        window->symbolBox()->hidePopup();
        QStringList list;
        for (int i = 0; i < window->symbolBox()->count(); ++i)
            list << window->symbolBox()->itemText(i);
        return list;
    };
    EXPECT_EQ(items(), QStringList({"alpha", "zeta"}));
    window->symbolBox()->setCurrentIndex(0);
    emit window->symbolBox()->activated(0);
    EXPECT_EQ(window->field("address")->text(), QStringLiteral("12345"));  // in full; only four are read
    QTest::mouseClick(window->radio("functions"), Qt::LeftButton);
    EXPECT_EQ(items(), QStringList({"main", "sub"}));
    emit window->symbolBox()->activated(1);
    EXPECT_EQ(window->field("address")->text(), QStringLiteral("10"));
}

TEST_F(Debugger, TooltipsSayWhatEachControlDoes) {
    start(steppingRom);
    open();
    const std::pair<QWidget*, const char*> cases[] = {
        {window->button("go"), "Runs the organiser without debug (fast)"},
        {window->button("stop"), "Stops the execution of any program at once"},
        {window->field("AF"), "AF-Register"},
        {window->field("break2"), "Hex-adress for breakpoint 2"},
        {window->listing(), "List for hexdump and/or disassembly (every 1024 Entries cleared)"},
        {window->statusLine(), "Status line (informs you what is going on)"},
        {window->field("length"), "Length of Hexdump in Bytes (multiples of 0x16)"},
        {window->radio("functions"), "Combobox list functions from mapfile/symfile"},
        {window->breakpointLabel(1), "No tooltip ..."},
    };
    for (const auto& [widget, text] : cases)
        EXPECT_EQ(widget->toolTip(), QString::fromLatin1(text)) << widget->objectName().toStdString();
}

TEST_F(Debugger, ItsPositionIsRememberedAndBroughtBackOnScreen) {
    start(steppingRom);
    AppSettings().setWindowPosition(QStringLiteral("Window"), QPoint(30000, 20000));
    open();
    const QRect screen = window->screen()->availableGeometry();
    EXPECT_TRUE(screen.contains(window->frameGeometry().topLeft())) << window->pos().x() << "," << window->pos().y();
    window->move(40, 30);
    EXPECT_EQ(AppSettings().windowPosition(QStringLiteral("Window")), QPoint(40, 30));
}

// ---- Threads: nothing may hang, lose text or leave enabled controls while the machine runs.

TEST_F(Debugger, BreakTrapOpensItWhileTheDebugTextIsFlushed) {
    start(trapRom());
    {
        Watchdog guard("opening the debugger by the break trap", 60s);
        ASSERT_TRUE(waitUntil([&] { return app.debuggerWindow() != nullptr && app.debuggerWindow()->isVisible(); }));
        window = app.debuggerWindow();
        ASSERT_TRUE(waitUntilHeld());
        EXPECT_FALSE(engine().openRequested());
        if (status() != QStringLiteral("Breakpoint (4) hit at:12")) {
            click("go");
            ASSERT_TRUE(waitUntil([&] { return status() == QStringLiteral("Breakpoint (4) hit at:12"); }));
        }
        ASSERT_TRUE(waitUntilHeld());
        ASSERT_TRUE(waitUntil([&] { return app.window()->debugMessages()->text().count(QStringLiteral("line")) == 32; }));
    }
    EXPECT_EQ(pc(), QStringLiteral("0012"));
    EXPECT_EQ(engine().breakpoint(4), 0u);
}

TEST_F(Debugger, RunCommandsInQuickSuccessionNeverHang) {
    start(steppingRom);
    open();
    std::mt19937 random(7);
    const char* buttons[] = {"stop", "stepInto", "stepOver", "go", "animate"};
    {
        Watchdog guard("run commands in quick succession", 120s);
        for (int i = 0; i < 300; ++i) {
            QPushButton* b = window->button(buttons[random() % 5]);
            if (b->isEnabled())
                b->click();
            if (i % 7 == 0)
                QCoreApplication::processEvents();
        }
        click("stop");
        ASSERT_TRUE(waitUntilHeld());
    }
    EXPECT_EQ(status(), QStringLiteral("Stopped ..."));
    EXPECT_TRUE(runControlsEnabled(true));
}

TEST_F(Debugger, ClosingItWhileHeldLetsTheMachineRunOn) {
    start(steppingRom);
    open();
    window->close();
    EXPECT_FALSE(window->isVisible());
    const uint64_t before = app.machine().elapsedTStates.load();
    ASSERT_TRUE(waitUntil([&] { return app.machine().elapsedTStates.load() > before + 1000000; }));
    EXPECT_FALSE(engine().isHeld());
    app.openDebugger();  // shown again: stopped again
    ASSERT_TRUE(waitUntilHeld());
}

TEST_F(Debugger, RestartsAndAFlushWhileHeldOrAnimatingReturn) {
    start(trapRom());
    ASSERT_TRUE(waitUntil([&] { return app.debuggerWindow() != nullptr; }));
    window = app.debuggerWindow();
    ASSERT_TRUE(waitUntilHeld());
    const auto linesShown = [&] { return app.window()->debugMessages()->text().count(QStringLiteral("line")); };
    ASSERT_TRUE(waitUntil([&] { return linesShown() == 32; }));
    {
        Watchdog guard("restarts and a flush while held", 60s);
        app.window()->warmRestartChosen();
        app.window()->coldRestartChosen();
        app.window()->flushDebugLines();
    }
    // Still held, now at the restarted program's first instruction.
    ASSERT_TRUE(waitUntilHeld());
    EXPECT_EQ(pc(), QStringLiteral("0000"));
    // It prints its lines again and stops at its break trap. (A restart lets
    // a held machine run to its slice end first, which may print a few more.)
    click("go");
    ASSERT_TRUE(waitUntil([&] { return linesShown() >= 64 && engine().isHeld(); }));
    const int shown = linesShown();

    click("animate");
    ASSERT_TRUE(waitUntil([&] { return status() == QStringLiteral("Animating ..."); }));
    {
        Watchdog guard("restarts and a flush while animating", 60s);
        app.window()->warmRestartChosen();
        app.window()->flushDebugLines();
    }
    // The animated program prints everything again; its trap stops it.
    ASSERT_TRUE(waitUntil([&] { return linesShown() >= shown + 32 && engine().isHeld() && window->caughtUp(); }, 60000));
    EXPECT_TRUE(runControlsEnabled(true));
}

TEST_F(Debugger, ExitWhileHeldEndsAndSaves) {
    start(steppingRom);
    open();
    {
        Watchdog guard("Exit while held", 60s);
        app.window()->exitChosen();
        app.finish();
    }
    EXPECT_FALSE(app.machine().isRunning());
    EXPECT_TRUE(std::filesystem::exists(dir.path / "test.sav"));
}

TEST_F(Debugger, ExitWhileAnimatingEndsAndSaves) {
    start(steppingRom);
    open();
    click("animate");
    ASSERT_TRUE(waitUntil([&] { return listing().size() > 30; }));
    {
        Watchdog guard("Exit while animating", 60s);
        app.window()->exitChosen();
        app.finish();
    }
    EXPECT_FALSE(app.machine().isRunning());
    EXPECT_TRUE(std::filesystem::exists(dir.path / "test.sav"));
}

// ---- What each control does with values of its own, a second showing, and the window manager's re-showing.

namespace {

// 0000 DI / LD SP,0000 / LD HL,1111
// 0007 CALL 0010 / 000A JR 000A
// 0010 JR 0010          (a Step over the CALL never ends)
const std::vector<uint8_t> endlessCallRom = {0xF3, 0x31, 0x00, 0x00, 0x21, 0x11, 0x11, 0xCD, 0x10, 0x00,
                                             0x18, 0xFE, 0x00, 0x00, 0x00, 0x00, 0x18, 0xFE};

// What the window manager sends when it restores a window from an icon.
void showAgainFromIcon(QWidget* widget) {
    QShowEvent show;
    QSpontaneKeyEvent::setSpontaneous(&show);
    QApplication::instance()->notify(widget, &show);
}

}  // namespace

TEST_F(Debugger, EachBreakpointFieldSetsItsOwnSlot) {
    start(steppingRom);
    open();
    const char* const fields[] = {"break1", "break2", "break3"};
    const QString texts[] = {QStringLiteral("11"), QStringLiteral("12ab"), QStringLiteral("7")};
    for (int i = 0; i < 3; ++i)
        type(window->field(fields[i]), texts[i]);
    window->field("address")->setFocus();
    EXPECT_EQ(engine().breakpoint(1), 0x11u);
    EXPECT_EQ(engine().breakpoint(2), 0x12ABu);
    EXPECT_EQ(engine().breakpoint(3), 0x7u);
}


TEST_F(Debugger, RegisterEditorWritesEachFieldToItsOwnRegisterAndBank) {
    ASSERT_NO_FATAL_FAILURE(heldBeforeTheCall(endlessCallRom));
    click("reg");
    RegisterEditor* editor = window->registerEditor();
    const std::pair<const char*, const char*> values[] = {{"AF", "A1C4"}, {"HL", "1234"}, {"DE", "5678"},
                                                          {"BC", "9ABC"}, {"IX", "DEF0"}, {"IY", "1357"}};
    for (const auto& [pair, text] : values)
        type(editor->field(pair), QLatin1String(text));
    // A byte into RAM page 1 through window 2.
    type(editor->field("Bank"), QStringLiteral("1"));
    type(editor->field("Adress"), QStringLiteral("8003"));
    type(editor->field("Value"), QStringLiteral("7F"));
    editor->accept();
    ASSERT_FALSE(editor->isVisible());
    for (const auto& [pair, text] : values)
        EXPECT_EQ(window->field(pair)->text(), QLatin1String(text)) << pair;
    EXPECT_EQ(window->field("flags")->text(), QStringLiteral("SZ...P.."));  // F = C4
    const Machine& m = app.machine();
    EXPECT_EQ(m.cpu.DE.w, 0x5678);
    EXPECT_EQ(m.cpu.IX.w, 0xDEF0);
    EXPECT_EQ(m.cpu.IY.w, 0x1357);
    EXPECT_EQ(m.memory.ramImage[MemoryMap::PageSize + 3], 0x7F);

    // A word into flash page 2 through window 1, low byte first.
    click("reg");
    QTest::mouseClick(editor->romButton(), Qt::LeftButton);
    type(editor->field("Bank"), QStringLiteral("2"));
    type(editor->field("Adress"), QStringLiteral("4005"));
    type(editor->field("Value"), QStringLiteral("BEEF"));
    editor->accept();
    EXPECT_EQ(m.memory.flashImage[2 * MemoryMap::PageSize + 5], 0xEF);
    EXPECT_EQ(m.memory.flashImage[2 * MemoryMap::PageSize + 6], 0xBE);
    EXPECT_EQ(m.memory.ramImage[2 * MemoryMap::PageSize + 5], 0x00);
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(Debugger, RegisterEditorSaysWhenTheMachineRunsAndKeepsTheEdits) {
    ASSERT_NO_FATAL_FAILURE(heldBeforeTheCall(endlessCallRom));
    click("reg");
    RegisterEditor* editor = window->registerEditor();
    EXPECT_EQ(editor->field("HL")->text(), QStringLiteral("1111"));
    // Step over the CALL: the machine runs (for ever) and the Reg button stays enabled.
    click("stepOver");
    ASSERT_TRUE(waitUntil([&] { return !engine().isHeld(); }));
    EXPECT_TRUE(window->button("reg")->isEnabled());
    type(editor->field("HL"), QStringLiteral("2222"));
    editor->accept();
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, QString::fromLatin1(RegisterEditor::notHeldText));
    EXPECT_TRUE(editor->isVisible());
    EXPECT_EQ(editor->field("HL")->text(), QStringLiteral("2222"));
    // Held again, the same OK goes through.
    click("stop");
    ASSERT_TRUE(waitUntilHeld());
    editor->accept();
    EXPECT_FALSE(editor->isVisible());
    EXPECT_EQ(window->field("HL")->text(), QStringLiteral("2222"));
    EXPECT_EQ(host.messages.size(), 1u);
    // Opened while the machine runs, it shows no registers it cannot read.
    click("go");
    ASSERT_TRUE(waitUntil([&] { return !engine().isHeld(); }));
    editor->show();
    EXPECT_EQ(editor->field("HL")->text(), QString());
}

TEST_F(Debugger, EveryWindowShownASecondTimeStartsAsTheFirstTime) {
    start(steppingRom);
    open();
    // The debugger window: Trace off and Data again, and the machine stopped.
    QTest::mouseClick(window->radio("functions"), Qt::LeftButton);
    QTest::mouseClick(window->radio("traceOn"), Qt::LeftButton);
    ASSERT_TRUE(engine().tracing());
    window->close();
    ASSERT_TRUE(waitUntil([&] { return !engine().isHeld(); }));
    app.openDebugger();
    ASSERT_TRUE(waitUntilHeld());
    EXPECT_TRUE(window->radio("traceOff")->isChecked());
    EXPECT_TRUE(window->radio("data")->isChecked());
    EXPECT_FALSE(engine().tracing());

    // The hexdump window: emptied, so it holds one dump only.
    const auto dumps = [&] { return window->hexdump()->text().count(QStringLiteral("Adr. |Hex")); };
    click("hexdump");
    ASSERT_TRUE(waitUntil([&] { return !engine().hexdumpPending() && window->caughtUp() && dumps() == 1; }));
    click("hexdump");
    ASSERT_TRUE(waitUntil([&] { return !engine().hexdumpPending() && window->caughtUp() && dumps() == 2; }));
    window->hexdump()->close();
    click("hexdump");
    ASSERT_TRUE(waitUntil([&] { return !engine().hexdumpPending() && window->caughtUp(); }));
    EXPECT_EQ(dumps(), 1);

    // The register editor: Ram again and the registers of now; the memory fields stay.
    click("reg");
    RegisterEditor* editor = window->registerEditor();
    QTest::mouseClick(editor->romButton(), Qt::LeftButton);
    type(editor->field("Bank"), QStringLiteral("3"));
    type(editor->field("Adress"), QStringLiteral("C000"));
    type(editor->field("Value"), QStringLiteral("12"));
    type(editor->field("HL"), QStringLiteral("FFFF"));
    editor->reject();
    ASSERT_TRUE(stepTo(QStringLiteral("0008")));  // INC HL has changed HL meanwhile
    click("reg");
    EXPECT_TRUE(editor->ramButton()->isChecked());
    EXPECT_EQ(editor->field("HL")->text(), window->field("HL")->text());
    EXPECT_EQ(editor->field("Bank")->text(), QStringLiteral("3"));
    EXPECT_EQ(editor->field("Adress")->text(), QStringLiteral("C000"));
    EXPECT_EQ(editor->field("Value")->text(), QStringLiteral("12"));
}

TEST_F(Debugger, RestoredFromAnIconTheWindowsStartNothingAgain) {
    start(steppingRom);
    open();
    click("reg");
    RegisterEditor* editor = window->registerEditor();
    type(editor->field("HL"), QStringLiteral("4321"));
    QTest::mouseClick(editor->romButton(), Qt::LeftButton);
    showAgainFromIcon(editor);
    EXPECT_EQ(editor->field("HL")->text(), QStringLiteral("4321"));
    EXPECT_TRUE(editor->romButton()->isChecked());
    editor->reject();

    QTest::mouseClick(window->radio("traceOn"), Qt::LeftButton);
    click("go");
    showAgainFromIcon(window);
    EXPECT_TRUE(engine().tracing());
    EXPECT_TRUE(window->radio("traceOn")->isChecked());
    const uint64_t before = app.machine().elapsedTStates.load();
    ASSERT_TRUE(waitUntil([&] { return app.machine().elapsedTStates.load() > before + 1000000; }));
    EXPECT_FALSE(engine().isHeld());
    EXPECT_EQ(status(), QStringLiteral("Running ..."));
}

TEST_F(Debugger, SymbolBoxSortsWithoutRegardToCaseAndFindsEveryName) {
    start(steppingRom);
    auto table = std::make_unique<SymbolTable>();
    const std::pair<std::string, uint32_t> names[] = {
        {"beta", 0x10}, {"Alpha", 0x20}, {"gamma", 0x30}, {"\xE9t\xE9", 0x40}, {"ZETA", 0x50}, {"delta", 0x60}};
    for (const auto& [name, value] : names)
        table->addData(name, value);
    app.machine().currentSymbols = std::move(table);
    open();
    window->symbolBox()->showPopup();
    window->symbolBox()->hidePopup();
    QStringList items;
    for (int i = 0; i < window->symbolBox()->count(); ++i)
        items << window->symbolBox()->itemText(i);
    EXPECT_EQ(items, QStringList({"Alpha", "beta", "delta", "gamma", "ZETA", QString::fromLatin1("\xE9t\xE9")}));
    // Every name, the one with a byte above 0x7F too, gives its own address.
    for (int i = 0; i < window->symbolBox()->count(); ++i) {
        window->field("address")->clear();
        emit window->symbolBox()->activated(i);
        const std::string name = items[i].toLatin1().toStdString();
        const auto it = std::find_if(std::begin(names), std::end(names), [&](const auto& n) { return n.first == name; });
        ASSERT_NE(it, std::end(names));
        EXPECT_EQ(window->field("address")->text(), QString::number(it->second, 16).toUpper()) << name;
    }
}

TEST_F(Debugger, HoveringAPartOfTheListingShowsTheListingsTooltip) {
    start(steppingRom);
    open();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    const QString listingTip = QStringLiteral("List for hexdump and/or disassembly (every 1024 Entries cleared)");
    const std::pair<QWidget*, QString> cases[] = {
        {window->listing(), listingTip},
        {window->listing()->viewport(), listingTip},
        {window->listing()->verticalScrollBar(), listingTip},
        {window->breakpointLabel(2), QStringLiteral("No tooltip ...")},
        {window->symbolBox(), QStringLiteral("Global Symbols from Mapfile")},
    };
    for (const auto& [widget, tip] : cases) {
        QToolTip::hideText();
        const QPoint inside(widget->width() / 2, widget->height() / 2);
        QHelpEvent hover(QEvent::ToolTip, inside, widget->mapToGlobal(inside));
        QApplication::sendEvent(widget, &hover);
        EXPECT_EQ(QToolTip::text(), tip) << widget->metaObject()->className();
    }
}

TEST_F(Debugger, ListingLinesAndHexdumpLinesCarryNoCarriageReturns) {
    start(steppingRom);
    open();
    type(window->field("address"), QStringLiteral("0"));
    click("disassemble");
    click("hexdump");
    ASSERT_TRUE(waitUntil([&] {
        return !engine().disassemblyPending() && !engine().hexdumpPending() && window->caughtUp() &&
               window->listing()->toPlainText().contains(QStringLiteral("---------------"));
    }));
    EXPECT_FALSE(window->listing()->toPlainText().contains(QLatin1Char('\r')));
    EXPECT_TRUE(window->listing()->toPlainText().contains(QStringLiteral("\n0000:DI\n")));
    EXPECT_FALSE(window->hexdump()->text().contains(QLatin1Char('\r')));
}
