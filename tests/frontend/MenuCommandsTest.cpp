// Installation, the recent list, Load Mapfile, drag and drop and --install,
// each driven as the user drives it (menu bar clicks, synthetic drops) on the
// real machine running the demo firmware, with the dialogs answered by the
// test. The firmware's own boot report ("app page NNN: name" through the
// print trap) shows what it finds in flash.
#include <gtest/gtest.h>

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>
#include <cstring>
#include <functional>

#include "FrontendRig.h"
#include "debugger/SymbolTable.h"
#include "frontend/AppSettings.h"
#include "frontend/DebugMessageWindow.h"
#include "frontend/DebuggerWindow.h"
#include "frontend/DeviceWindow.h"
#include "frontend/SimulatorApp.h"
#include "machine/Machine.h"

using namespace frontendtest;
using namespace std::chrono_literals;

namespace {

const QString demoRom = QStringLiteral(PDEMU_DEMO_ROM_PATH);
const QString painterApp = QStringLiteral(PDEMU_DEMO_DIR "/painter.app");
const QString breakerApp = QStringLiteral(PDEMU_DEMO_DIR "/breaker.app");
const QString breakerMap = QStringLiteral(PDEMU_DEMO_DIR "/breaker.map");

constexpr std::size_t PageSize = MemoryMap::PageSize;
constexpr uint16_t NotRestarted = 0xBEEF;  // kept in the alternate BC, which the firmware never uses
constexpr int MarkedRamPage = 5;           // a RAM page the firmware and the demo apps leave alone

std::vector<uint8_t> readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

// The demo firmware on the real machine behind a real device window.
class MenuCommands : public ::testing::Test {
protected:
    void SetUp() override { clearSettings(); }
    void TearDown() override { app.finish(); }

    // Starts on the ROM with a fresh save file and waits for the firmware's boot line.
    void start(const QString& rom = demoRom) {
        ASSERT_TRUE(app.start({rom, dir.file("menus.sav"), 1}));
        window = app.window();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        ASSERT_TRUE(waitUntil([&] { return shown().contains(QStringLiteral("booted")); }));
    }
    Machine& machine() { return app.machine(); }
    QString shown() const { return window->debugMessages()->text(); }

    // Clicks the menu's title in the menu bar, then the item, as the user does.
    void choose(QMenu* menu, QAction* item) {
        QMenuBar* bar = window->menuBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(menu->menuAction()).center());
        ASSERT_TRUE(waitUntil([&] { return menu->isVisible(); }));
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(item).center());
        ASSERT_TRUE(waitUntil([&] { return !menu->isVisible(); }));
    }
    void installThroughMenu(const QString& answer) {
        host.openAnswers = {answer};
        choose(window->fileMenu(), window->installAction());
    }
    void loadThroughMenu(const QString& answer) {
        host.openAnswers = {answer};
        choose(window->optionsMenu(), window->loadMapfileAction());
    }
    // The firmware's boot report line for an application at a page.
    static QString listed(int page, const char* name) {
        return QStringLiteral("app page %1: %2").arg(page, 3, 10, QLatin1Char('0')).arg(QLatin1String(name));
    }
    QStringList recentTexts() {
        QStringList list;
        bool after = false;  // the entries follow the separator after the restarts
        for (QAction* a : window->fileMenu()->actions()) {
            if (a == window->exitAction())
                break;
            if (after)
                list << (a->isSeparator() ? QStringLiteral("-") : a->data().toString());
            if (a->text() == QStringLiteral("&Cold Restart"))
                after = true;
        }
        return list.mid(1);  // without that separator
    }
    QStringList recentSettings() const {
        QStringList list;
        for (const QString& entry : AppSettings().recentApps())
            list << entry;
        return list;
    }

    ScratchDir dir;
    ScriptedHost host;
    SimulatorApp app{host, std::make_unique<FixedClock>(FixedClock::at(2026, 12, 8, 14, 3, 29))};
    DeviceWindow* window = nullptr;
};

}  // namespace

TEST_F(MenuCommands, BothDemoAppsInstallAppearInTheFirmwaresListAndBringTheirSymbols) {
    start();
    const int first = machine().firstAppPage;
    window->clearDebugMessagesChosen();
    installThroughMenu(painterApp);
    ASSERT_EQ(host.dialogs.size(), 1u);
    EXPECT_EQ(host.dialogs[0].filterList, QStringLiteral("Application Files (*.app)|*.app||"));
    EXPECT_EQ(host.dialogs[0].initialName, QStringLiteral("*.app"));
    ASSERT_TRUE(waitUntil([&] { return shown().contains(listed(first, "Painter")); })) << shown().toStdString();
    ASSERT_NE(machine().currentSymbols, nullptr);
    EXPECT_EQ(machine().currentSymbols->findSymbol("draw_board"), 0x422E);

    window->clearDebugMessagesChosen();
    installThroughMenu(breakerApp);
    // One boot report lists both, in flash order.
    ASSERT_TRUE(waitUntil([&] { return shown().contains(listed(first + 1, "Break demo")); })) << shown().toStdString();
    EXPECT_LT(shown().indexOf(listed(first, "Painter")), shown().indexOf(listed(first + 1, "Break demo")));
    EXPECT_EQ(machine().currentSymbols->findSymbol("sum_loop"), 0x420C);
    EXPECT_EQ(machine().currentSymbols->findSymbol("draw_board"), std::nullopt);

    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(recentSettings(), QStringList({breakerApp, painterApp, "", ""}));
    EXPECT_EQ(recentTexts(), QStringList({breakerApp, painterApp, "-"}));
}

TEST_F(MenuCommands, RecentListFollowsEveryReorderingRuleInTheSettingsAndTheFileMenu) {
    start();
    EXPECT_EQ(recentTexts(), QStringList());  // no entries, no separator of their own
    // Files that do not exist: the rules hold whatever the installation says.
    const QString a = dir.file("a.app"), b = dir.file("b.app"), c = dir.file("c.app"), d = dir.file("d.app"),
                  e = dir.file("e.app"), bigA = dir.file("A.app");
    // A carriage return is part of a name like any other character.
    const QString eCr = e + QLatin1Char('\r'), crE = dir.file("\r\ne.app");
    struct Step {
        const char* what;
        QString dialogAnswer;  // installed through the dialog, or
        int recentPosition;    // through this recent item
        QStringList after;
    } steps[] = {
        {"first into an empty list", a, -1, {a, "", "", ""}},
        {"new", b, -1, {b, a, "", ""}},
        {"new", c, -1, {c, b, a, ""}},
        {"equal to the third", a, -1, {a, c, b, ""}},
        {"new fills the list", d, -1, {d, a, c, b}},
        {"equal to the first", d, -1, {d, a, c, b}},
        {"second chosen from the menu", {}, 1, {a, d, c, b}},
        {"fourth chosen from the menu", {}, 3, {b, a, d, c}},
        {"differs only in letter case: new, the fourth falls off", bigA, -1, {bigA, b, a, d}},
        {"third chosen from the menu", {}, 2, {a, bigA, b, d}},
        {"new drops the fourth", e, -1, {e, a, bigA, b}},
        {"differs only by a carriage return at its end: new", eCr, -1, {eCr, e, a, bigA}},
        {"the one without it chosen from the menu", {}, 1, {e, eCr, a, bigA}},
        {"with CR LF in its middle: new", crE, -1, {crE, e, eCr, a}},
        {"the one with the CR chosen from the menu", {}, 2, {eCr, crE, e, a}},
        {"equal to the second, CR LF and all", crE, -1, {crE, eCr, e, a}},
    };
    std::size_t boxes = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        if (step.recentPosition < 0)
            installThroughMenu(step.dialogAnswer);
        else
            choose(window->fileMenu(), window->recentAction(step.recentPosition));
        EXPECT_EQ(recentSettings(), step.after);
        EXPECT_EQ(recentTexts(), step.after.filter(QRegularExpression(".")) + QStringList{"-"});
        // Every one of them failed, and said so.
        ASSERT_EQ(host.messages.size(), ++boxes);
        EXPECT_EQ(host.messages.back().text, QStringLiteral("Cannot open application file."));
    }
}

namespace {

// What a failed installation must leave alone, taken while the machine is parked.
struct Snapshot {
    std::vector<uint8_t> flash;
    std::vector<uint8_t> markedRam;
};

Snapshot takeSnapshot(Machine& m) {
    const uint8_t* flash = m.memory.flashImage.get();
    const uint8_t* ram = m.memory.ramImage.get() + MarkedRamPage * PageSize;
    return {std::vector<uint8_t>(flash, flash + MemoryMap::FlashSize), std::vector<uint8_t>(ram, ram + PageSize)};
}

void writeHeader(Machine& m, int page, uint16_t sizeWord, uint8_t slot) {
    uint8_t* at = m.memory.flashImage.get() + static_cast<std::size_t>(page) * PageSize;
    at[0] = 0xC3;
    at[0x40] = static_cast<uint8_t>(sizeWord);
    at[0x41] = static_cast<uint8_t>(sizeWord >> 8);
    at[0x1A5] = slot;
}

}  // namespace

// Each bad input through the menu: the box the document gives, shown while
// the machine runs; flash and RAM as they were; restarted only where the
// document says so; the path still at the front of the recent list.
TEST_F(MenuCommands, BadInputsAreReportedAfterTheMachineRunsOnAndLoseNothing) {
    start();
    installThroughMenu(painterApp);  // an application already there, for the walk to cross
    ASSERT_TRUE(host.messages.empty());
    const int first = machine().firstAppPage;

    std::vector<uint8_t> painter = readAll(painterApp);
    ASSERT_EQ(painter.size(), 16384u);
    painter[0x40] = 32;  // says 32 KB
    const QString wrongSize = dir.file("wrongsize.app");
    writeBytes(wrongSize, painter);
    const QString empty = dir.file("empty.app");
    writeBytes(empty, {});
    const QString megabyte = dir.file("ff.app");
    writeBytes(megabyte, std::vector<uint8_t>(1 << 20, 0xFF));
    const QString folder = dir.file("folder.app");
    QDir().mkpath(folder);
    const QString gone = dir.file("gone.app");

    const QString cannotOpen = QStringLiteral("Cannot open application file.");
    const QString bad = QStringLiteral("Bad application file.");
    struct Case {
        const char* what;
        QString path;
        bool throughRecentEntry;
        std::function<void(Machine&)> prepareFlash;
        QString text;  // of the one stop box
        bool restarted;
    } cases[] = {
        {"a missing file", gone, false, nullptr, cannotOpen, false},
        {"an empty file", empty, false, nullptr, bad, true},
        {"a size word that disagrees with the length", wrongSize, false, nullptr, bad, true},
        {"a megabyte of 0xFF", megabyte, false, nullptr, bad, true},
        {"a walk that meets a size word below 16", painterApp, false,
         [&](Machine& m) { writeHeader(m, first + 1, 15, 0x81); },
         QStringLiteral("Flash file is corrupted. Cannot install application."), false},
        {"no space left", painterApp, false,
         [&](Machine& m) {
             for (int page = first + 1; page < MemoryMap::FlashPages; ++page)
                 m.memory.flashImage[static_cast<std::size_t>(page) * PageSize + 0x3000] = 0;
         },
         QStringLiteral("Not enough memory left to install application."), false},
        {"a recent entry whose file has gone", gone, true, nullptr, cannotOpen, false},
        {"a folder chosen as the file", folder, false, nullptr, cannotOpen, false},
    };

    bool pausedBehindBox = false;
    bool stoodStillBehindBox = false;
    host.onMessage = [&] {
        pausedBehindBox |= machine().pauseRequested();
        const uint64_t before = machine().elapsedTStates.load();
        const auto until = std::chrono::steady_clock::now() + 20s;
        while (machine().elapsedTStates.load() == before && std::chrono::steady_clock::now() < until)
            std::this_thread::yield();
        stoodStillBehindBox |= machine().elapsedTStates.load() == before;
    };
    const Snapshot base = [&] {
        machine().pauseEmulation();
        Snapshot s = takeSnapshot(machine());
        machine().resumeEmulation();
        return s;
    }();

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        host.messages.clear();
        machine().pauseEmulation();
        std::copy(base.flash.begin(), base.flash.end(), machine().memory.flashImage.get());
        if (c.prepareFlash)
            c.prepareFlash(machine());
        std::fill_n(machine().memory.ramImage.get() + MarkedRamPage * PageSize, PageSize, 0x5A);
        machine().cpu.altBC = NotRestarted;
        const Snapshot before = takeSnapshot(machine());
        machine().resumeEmulation();

        if (c.throughRecentEntry) {
            AppSettings().setRecentApps({painterApp, c.path, "", ""});
            window->rebuildRecentMenu();
            choose(window->fileMenu(), window->recentAction(1));
        } else {
            installThroughMenu(c.path);
        }

        ASSERT_EQ(host.messages.size(), 1u);
        EXPECT_EQ(host.messages[0].icon, MessageIcon::Stop);
        EXPECT_EQ(host.messages[0].text, c.text);
        EXPECT_EQ(AppSettings().recentApps()[0], c.path);
        EXPECT_EQ(window->recentAction(0)->data().toString(), c.path);
        machine().pauseEmulation();
        const Snapshot after = takeSnapshot(machine());
        const bool restarted = machine().cpu.altBC != NotRestarted;
        machine().resumeEmulation();
        EXPECT_TRUE(after.flash == before.flash);
        EXPECT_TRUE(after.markedRam == before.markedRam);
        EXPECT_EQ(restarted, c.restarted);
        EXPECT_TRUE(machine().debugger.isOff());
    }
    EXPECT_FALSE(pausedBehindBox);
    EXPECT_FALSE(stoodStillBehindBox);
    EXPECT_TRUE(machine().isRunning());
}

TEST_F(MenuCommands, AllSlotsTakenIsReportedWithoutARestart) {
    // The firmware's first page alone: applications may then start at page 2,
    // room for 127 of them and a free page after.
    const QString rom = dir.file("page0.pgm");
    std::vector<uint8_t> image = readAll(demoRom);
    image.resize(PageSize);
    writeBytes(rom, image);
    start(rom);
    ASSERT_EQ(machine().firstAppPage, 2);
    machine().pauseEmulation();
    for (int i = 0; i < 127; ++i)
        writeHeader(machine(), 2 + i, 16, static_cast<uint8_t>(0x80 + i));
    machine().cpu.altBC = NotRestarted;
    const Snapshot before = takeSnapshot(machine());
    machine().resumeEmulation();

    installThroughMenu(painterApp);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].icon, MessageIcon::Stop);
    EXPECT_EQ(host.messages[0].text, QStringLiteral("Too many applications already installed."));
    machine().pauseEmulation();
    EXPECT_TRUE(takeSnapshot(machine()).flash == before.flash);
    EXPECT_EQ(machine().cpu.altBC, NotRestarted);
    machine().resumeEmulation();
}

TEST_F(MenuCommands, AnApplicationWithoutSymbolsInstallsAndSaysSoUnlessItsPathIsTooShort) {
    start();
    ASSERT_TRUE(QFile::copy(painterApp, dir.file("p.ap")));
    ASSERT_TRUE(QFile::copy(painterApp, dir.file("solo.app")));
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.file("")));
    const struct {
        QString path;
        bool told;  // the information box about the missing map/sym file
    } cases[] = {{QStringLiteral("p.ap"), false}, {dir.file("solo.app"), true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        host.messages.clear();
        loadThroughMenu(QStringLiteral(PDEMU_DEMO_DIR "/painter.map"));  // a table that must go
        window->clearDebugMessagesChosen();
        installThroughMenu(c.path);
        EXPECT_TRUE(waitUntil([&] { return shown().contains(QStringLiteral(": Painter")); }));
        EXPECT_EQ(AppSettings().recentApps()[0], c.path);
        if (c.told) {
            ASSERT_EQ(host.messages.size(), 1u);
            EXPECT_EQ(host.messages[0].icon, MessageIcon::Information);
            EXPECT_EQ(host.messages[0].text, QStringLiteral("Cannot open map/sym file\n'%1'.").arg(dir.file("solo")));
            ASSERT_NE(machine().currentSymbols, nullptr);
            EXPECT_TRUE(machine().currentSymbols->openFailed);
        } else {
            EXPECT_TRUE(host.messages.empty());
            EXPECT_EQ(machine().currentSymbols, nullptr);
        }
    }
    QDir::setCurrent(previous);
}

TEST_F(MenuCommands, InstallingWhileTheDebuggerHoldsTheMachineReleasesItAndReturns) {
    start();
    const QString empty = dir.file("empty.app");
    writeBytes(empty, {});
    const struct {
        QString path;
        std::size_t boxes;
    } cases[] = {{dir.file("gone.app"), 1}, {empty, 1}, {painterApp, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        host.messages.clear();
        machine().debugger.windowShown();
        machine().debugger.stop();
        ASSERT_TRUE(waitUntil([&] { return machine().debugger.isHeld(); }));
        {
            Watchdog guard("an installation while the debugger holds the machine", 30s);
            installThroughMenu(c.path);
        }
        EXPECT_EQ(host.messages.size(), c.boxes);
        EXPECT_TRUE(machine().debugger.isOff());
        // The machine runs on: its T-state count moves.
        const uint64_t now = machine().elapsedTStates.load();
        EXPECT_TRUE(waitUntil([&] { return machine().elapsedTStates.load() > now; }));
        EXPECT_FALSE(machine().debugger.isHeld());
    }
    EXPECT_TRUE(waitUntil([&] { return shown().contains(listed(machine().firstAppPage, "Painter")); }));
}

// The debugger window makes its view calls from the emulation thread and
// waits for them: an installation must serve them while it waits to pause.
TEST_F(MenuCommands, InstallingUnderTheDebuggerWindowReturnsAndItsSymbolBoxOffersTheAppsNames) {
    start();
    app.openDebugger();
    DebuggerWindow* debugger = app.debuggerWindow();
    ASSERT_NE(debugger, nullptr);
    // An installation switches the engine off; the open window takes it up
    // again and stops the machine, so no enabled control stands over a
    // running machine.
    const auto reopen = [&] {
        debugger->close();
        app.openDebugger();
        return waitUntil([&] {
            return machine().debugger.isHeld() && debugger->caughtUp() && debugger->button("go")->isEnabled();
        });
    };
    const struct {
        const char* state;
        const char* button;  // pressed once held
        QString app;
    } cases[] = {{"held", nullptr, painterApp}, {"animating", "animate", breakerApp}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.state);
        ASSERT_TRUE(reopen());
        if (c.button != nullptr) {
            QTest::mouseClick(debugger->button(c.button), Qt::LeftButton);
            ASSERT_TRUE(waitUntil([&] { return debugger->statusLine()->text() == QStringLiteral("Animating ..."); }));
        }
        {
            Watchdog guard("an installation under the debugger window", 60s);
            installThroughMenu(c.app);
        }
        EXPECT_TRUE(waitUntil([&] {
            return machine().debugger.isHeld() && debugger->caughtUp() && debugger->button("go")->isEnabled();
        }));
        EXPECT_EQ(debugger->statusLine()->text(), QStringLiteral("Stopped ..."));
    }
    EXPECT_TRUE(host.messages.empty());
    // Shown again, the box lists the last application's functions.
    ASSERT_TRUE(reopen());
    QTest::mouseClick(debugger->radio("functions"), Qt::LeftButton);
    debugger->symbolBox()->showPopup();
    debugger->symbolBox()->hidePopup();
    QStringList names;
    for (int i = 0; i < debugger->symbolBox()->count(); ++i)
        names << debugger->symbolBox()->itemText(i);
    EXPECT_TRUE(names.contains(QStringLiteral("sum_loop")));
    EXPECT_FALSE(names.contains(QStringLiteral("draw_board")));
    debugger->close();
}

TEST_F(MenuCommands, LoadMapfileChoosesTheGrammarByTheExactExtensionAndReplacesTheTable) {
    start();
    // A line for each grammar: the map grammar finds main, the sym grammar start.
    const std::vector<uint8_t> both = [] {
        const std::string text = "symbol | value | section |\n-------+-------+---------+\n_main | 4000 | _code |\n"
                                 "x.start 1234\n";
        return std::vector<uint8_t>(text.begin(), text.end());
    }();
    QDir().mkpath(dir.file("dir.map"));
    const char* names[] = {"both.map", "both.MAP", "both.sym", "both", "dir.map/both", "both.map.txt"};
    for (const char* name : names)
        writeBytes(dir.file(name), both);
    const std::pair<const char*, const char*> cases[] = {
        {"both.map", "main"}, {"both.MAP", "start"}, {"both.sym", "start"},
        {"both", "start"},    {"dir.map/both", "start"}, {"both.map.txt", "start"},
    };
    for (const auto& [name, found] : cases) {
        SCOPED_TRACE(name);
        loadThroughMenu(dir.file(name));
        ASSERT_NE(machine().currentSymbols, nullptr);
        EXPECT_FALSE(machine().currentSymbols->openFailed);
        EXPECT_EQ(machine().currentSymbols->functionCount(), 1);
        EXPECT_TRUE(machine().currentSymbols->findSymbol(found).has_value());
    }
    EXPECT_TRUE(host.messages.empty());
    ASSERT_FALSE(host.dialogs.empty());
    EXPECT_EQ(host.dialogs[0].filterList,
              QStringLiteral("Morvek Mapfiles (*.map)|*.map|Tasm Symbolfiles (*.sym)|*.sym|"));
    EXPECT_EQ(host.dialogs[0].initialName, QStringLiteral("*.map"));

    // Cancelled: the table stays.
    const SymbolTable* kept = machine().currentSymbols.get();
    loadThroughMenu(QString());
    EXPECT_EQ(machine().currentSymbols.get(), kept);
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(MenuCommands, MapFileThatDoesNotOpenLeavesAnEmptyTableAndSaysSoInAtMost255Characters) {
    start();
    loadThroughMenu(QStringLiteral(PDEMU_DEMO_DIR "/painter.map"));
    ASSERT_GT(machine().currentSymbols->functionCount(), 0);

    const QString gone = dir.file("gone.map");
    // 300 characters: the start and the file name stay, the middle gives way.
    const QString longGone = dir.file("") + QString(300 - dir.file("").size() - 9, QLatin1Char('x')) + "/gone.map";
    ASSERT_EQ(longGone.size(), 300);
    const struct {
        QString path;
        QString message;
    } cases[] = {
        {gone, QStringLiteral("Cannot open map file '%1'.").arg(gone)},
        {longGone, QStringLiteral("Cannot open map file '") + longGone.left(115) + QChar(0x2026) +
                       longGone.right(115) + QStringLiteral("'.")},
    };
    for (const auto& c : cases) {
        host.messages.clear();
        loadThroughMenu(c.path);
        ASSERT_EQ(host.messages.size(), 1u);
        EXPECT_EQ(host.messages[0].icon, MessageIcon::Information);
        EXPECT_EQ(host.messages[0].text, c.message);
        EXPECT_LE(host.messages[0].text.size(), 255);
        ASSERT_NE(machine().currentSymbols, nullptr);
        EXPECT_TRUE(machine().currentSymbols->openFailed);
        EXPECT_EQ(machine().currentSymbols->functionCount() + machine().currentSymbols->dataCount(), 0);
    }
}

TEST_F(MenuCommands, MapFileOfBinaryJunkLoadsWithoutHarm) {
    start();
    std::vector<uint8_t> junk(256 * 1024);
    uint32_t x = 12345;
    for (uint8_t& b : junk) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    // A heading early on, so the junk after it is read as symbol lines.
    const char heading[] = "symbol \n";
    std::copy(heading, heading + sizeof heading - 1, junk.begin() + 100);
    const QString path = dir.file("junk.map");
    writeBytes(path, junk);
    loadThroughMenu(path);
    EXPECT_TRUE(host.messages.empty());
    ASSERT_NE(machine().currentSymbols, nullptr);
    EXPECT_FALSE(machine().currentSymbols->openFailed);
    EXPECT_LE(machine().currentSymbols->dataCount(), 255);
    EXPECT_LE(machine().currentSymbols->functionCount(), 512);
    const uint64_t now = machine().elapsedTStates.load();
    EXPECT_TRUE(waitUntil([&] { return machine().elapsedTStates.load() > now; }));
}

TEST_F(MenuCommands, DroppedFilesInstallLoadOrAreRefusedByName) {
    start();
    const QString sym = dir.file("names.sym");
    writeBytes(sym, {'x', '.', 's', 't', 'a', 'r', 't', ' ', '1', '2', '3', '4', '\n'});
    const QString notes = dir.file("notes.txt");
    writeBytes(notes, {'h', 'i'});
    const QPoint middle = window->rect().center();
    const auto drop = [&](const QList<QUrl>& urls) {
        QMimeData mime;
        mime.setUrls(urls);
        QDragEnterEvent enter(middle, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window, &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent dropped(QPointF(middle), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window, &dropped);
        EXPECT_TRUE(dropped.isAccepted());
    };

    // An application, its neighbour's map file, and two things that are neither.
    window->clearDebugMessagesChosen();
    const QUrl remote(QStringLiteral("http://example.invalid/games/chess.app"));
    drop({QUrl::fromLocalFile(painterApp), QUrl::fromLocalFile(breakerMap), QUrl::fromLocalFile(notes), remote});
    ASSERT_TRUE(waitUntil([&] { return host.messages.size() == 2; }));
    EXPECT_TRUE(host.messages[0].text.contains(QStringLiteral("'%1'").arg(notes)));
    EXPECT_TRUE(host.messages[1].text.contains(QStringLiteral("'%1'").arg(remote.toDisplayString())));
    EXPECT_EQ(AppSettings().recentApps()[0], painterApp);
    EXPECT_EQ(window->recentAction(0)->data().toString(), painterApp);
    EXPECT_TRUE(waitUntil([&] { return shown().contains(listed(machine().firstAppPage, "Painter")); }));
    EXPECT_EQ(machine().currentSymbols->findSymbol("sum_loop"), 0x420C);  // the map dropped after the app

    drop({QUrl::fromLocalFile(sym)});
    ASSERT_TRUE(waitUntil([&] { return machine().currentSymbols->findSymbol("start").has_value(); }));
    EXPECT_EQ(host.messages.size(), 2u);

    // Text without files is not taken.
    QMimeData text;
    text.setText(QStringLiteral("painter.app"));
    QDragEnterEvent enter(middle, Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &enter);
    EXPECT_FALSE(enter.isAccepted());
}

TEST_F(MenuCommands, CommandLineInstallsEachInTurnOnceTheWindowIsUp) {
    const QString gone = dir.file("gone.app");
    StartOptions options{demoRom, dir.file("menus.sav"), 1};
    options.installs = {painterApp, gone, breakerApp};
    ASSERT_TRUE(app.start(options));
    window = app.window();
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, QStringLiteral("Cannot open application file."));
    EXPECT_EQ(recentSettings(), QStringList({breakerApp, gone, painterApp, ""}));
    ASSERT_TRUE(waitUntil([&] { return shown().contains(listed(machine().firstAppPage + 1, "Break demo")); }));
    EXPECT_TRUE(shown().contains(listed(machine().firstAppPage, "Painter")));
}

TEST_F(MenuCommands, WindowClosedBehindAFailedCommandLineInstallEndsTheRun) {
    StartOptions options{demoRom, dir.file("menus.sav"), 1};
    options.installs = {dir.file("gone.app")};
    host.onMessage = [&] { app.window()->close(); };  // the user closes the window while the box is up
    {
        Watchdog guard("a run whose window closed during the start", 30s);
        EXPECT_EQ(app.run(options), 0);
    }
    EXPECT_EQ(host.messages.size(), 1u);
    EXPECT_FALSE(machine().isRunning());
    EXPECT_TRUE(QFile::exists(dir.file("menus.sav")));
}
