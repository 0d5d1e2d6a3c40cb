// The Breakpoints and Memory windows on the real machine, held by the
// debugger and driven as a user drives them: lines typed with Enter, boxes
// clicked, rows selected, bytes typed into the grid, the machine stepped
// between two looks at its memory.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStyleOption>
#include <QTableWidget>
#include <QTest>
#include <QTreeWidget>

#include "FrontendRig.h"
#include "debugger/DebuggerEngine.h"
#include "debugger/PointSyntax.h"
#include "debugger/SymbolTable.h"
#include "frontend/AppSettings.h"
#include "frontend/BreakpointsWindow.h"
#include "frontend/DebugMessageWindow.h"
#include "frontend/DebuggerWindow.h"
#include "frontend/DeviceWindow.h"
#include "frontend/MemoryWindow.h"
#include "frontend/SimulatorApp.h"
#include "machine/Machine.h"

using namespace frontendtest;
using Space = DebuggerEngine::Space;

namespace {

// 0000 DI / LD SP,0000 / LD HL,C000
// 0007 INC (HL) / CALL 000D / 000B JR 0007
// 000D RET
const std::vector<uint8_t> countingRom = {0xF3, 0x31, 0x00, 0x00, 0x21, 0x00, 0xC0,
                                          0x34, 0xCD, 0x0D, 0x00, 0x18, 0xFA, 0xC9};

class PointWindows : public ::testing::Test {
protected:
    void SetUp() override { clearSettings(); }

    void boot() {
        writeBytes(dir.file("points.pgm"), countingRom);
        ASSERT_TRUE(app.start({dir.file("points.pgm"), dir.file("points.sav"), 1}));
    }
    void start(std::unique_ptr<SymbolTable> symbols = nullptr) {
        ASSERT_NO_FATAL_FAILURE(boot());
        if (symbols)
            app.machine().currentSymbols = std::move(symbols);
        app.openDebugger();
        window = app.debuggerWindow();
        ASSERT_TRUE(waitUntilHeld());
    }
    DebuggerEngine& engine() { return app.machine().debugger; }
    bool waitUntilHeld() {
        return waitUntil([&] { return engine().isHeld() && window->caughtUp() && window->button("go")->isEnabled(); });
    }
    QString pc() const { return window->field("PC")->text(); }
    bool stepTo(const QString& address) {
        for (int i = 0; i < 40 && pc() != address; ++i) {
            const uint32_t holds = engine().holdCount();
            QTest::mouseClick(window->button("stepInto"), Qt::LeftButton);
            if (!waitUntil([&] { return engine().holdCount() != holds && waitUntilHeld(); }))
                return false;
        }
        return pc() == address;
    }
    void type(QLineEdit* field, const QString& text) {
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, text);
        QTest::keyClick(field, Qt::Key_Return);
    }

    BreakpointsWindow* points() {
        window->openBreakpoints();
        return window->breakpoints();
    }
    void addPoint(const QString& text) { type(points()->entry(), text); }
    QStringList row(int index) {
        QStringList texts;
        for (int c = 0; c < BreakpointsWindow::ColumnCount; ++c)
            texts << points()->list()->topLevelItem(index)->text(c);
        return texts;
    }
    void clickRow(int index, Qt::KeyboardModifiers modifiers = {}) {
        QTreeWidget* list = points()->list();
        const QRect rect = list->visualItemRect(list->topLevelItem(index));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers,
                          QPoint(list->header()->sectionViewportPosition(BreakpointsWindow::Where) + 4,
                                 rect.center().y()));
    }

    MemoryWindow* memory() {
        window->openMemory();
        return window->memory();
    }
    // The grid shows the machine as it is held now.
    bool memoryShowsThisStop() {
        return waitUntil([&] { return memory()->live() && memory()->shownHold() == engine().holdCount(); });
    }
    QString byteAt(uint32_t address) {
        QTableWidgetItem* item = memory()->byteItem(address);
        return item ? item->text() : QStringLiteral("(not in view)");
    }
    bool isRed(uint32_t address) {
        return memory()->byteItem(address)->foreground().color() == QColor(0xD0, 0, 0);
    }
    uint8_t peek(uint16_t address) {
        uint8_t value = 0;
        EXPECT_TRUE(engine().peekHeld(Space::Z80, 0, address, &value, 1));
        return value;
    }

    ScratchDir dir;
    ScriptedHost host;
    SimulatorApp app{host, std::make_unique<FixedClock>(FixedClock::at(2026, 12, 8, 14, 3, 29))};
    DebuggerWindow* window = nullptr;
};

// What the engine's own parser and name binding say of a point or an expression.
QString pointError(const char* text) {
    std::string error;
    if (std::optional<PointSpec> spec = parsePoint(text, &error))
        resolvePoint(*spec, nullptr, &error);
    return QString::fromStdString(error);
}
QString expressionError(const char* text) {
    std::string error;
    if (std::optional<Expression> e = Expression::parse(text, &error))
        e->resolve(nullptr, &error);
    return QString::fromStdString(error);
}

}  // namespace

TEST_F(PointWindows, TypedPointIsListedWithItsNumberAndCanonicalText) {
    start();
    addPoint(QStringLiteral("exec  7   if A==0"));
    addPoint(QStringLiteral("write C000-C0FF hits 2 log v={b@C000}"));
    ASSERT_EQ(points()->list()->topLevelItemCount(), 2);
    EXPECT_EQ(row(0), QStringList({"5", "exec", "0007", "A==0", "0", "", ""}));
    EXPECT_EQ(row(1), QStringList({"6", "write", "C000-C0FF", "", "0 (every 2)", "", "v={b@C000}"}));
    EXPECT_EQ(points()->list()->topLevelItem(0)->toolTip(0), QStringLiteral("exec 0007 if A==0"));
    EXPECT_EQ(points()->list()->topLevelItem(0)->checkState(BreakpointsWindow::On), Qt::Checked);
    EXPECT_EQ(points()->statusLine()->text(), QStringLiteral("Point 6: write C000-C0FF hits 2 log v={b@C000}"));
    EXPECT_TRUE(points()->entry()->text().isEmpty());
    EXPECT_EQ(engine().pointList().at(0).text, "exec 0007 if A==0");
}

TEST_F(PointWindows, RefusedPointShowsTheEnginesReasonAndListsNothing) {
    start();
    for (const char* text : {"write 20-10", "exec 0007 if b@nosuch==1", "exec f05:"}) {
        SCOPED_TRACE(text);
        addPoint(QLatin1String(text));
        EXPECT_EQ(points()->statusLine()->text(), QStringLiteral("Not added: ") + pointError(text));
        EXPECT_EQ(points()->entry()->text(), QLatin1String(text));  // kept to be corrected
    }
    EXPECT_EQ(points()->list()->topLevelItemCount(), 0);
    EXPECT_TRUE(engine().pointList().empty());
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(PointWindows, OnBoxAndSpaceSwitchThePointInTheEngine) {
    start();
    addPoint(QStringLiteral("exec 0007"));
    QTreeWidget* list = points()->list();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(points()));
    const QRect cell(list->header()->sectionViewportPosition(BreakpointsWindow::On),
                     list->visualItemRect(list->topLevelItem(0)).top(),
                     list->header()->sectionSize(BreakpointsWindow::On),
                     list->visualItemRect(list->topLevelItem(0)).height());
    QStyleOptionViewItem option;
    option.initFrom(list);
    option.rect = cell;
    option.features = QStyleOptionViewItem::HasCheckIndicator;
    const QRect box = list->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, list);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, box.center());
    ASSERT_EQ(engine().pointList().size(), 1u);
    EXPECT_FALSE(engine().pointList()[0].enabled);
    EXPECT_EQ(window->field("address")->text(), QString());  // the box is no click on the point

    list->topLevelItem(0)->setSelected(true);
    QTest::keyClick(list, Qt::Key_Space);
    EXPECT_TRUE(engine().pointList()[0].enabled);
}

TEST_F(PointWindows, DeleteRemovesTheSelectedPoints) {
    start();
    for (const char* text : {"exec 0007", "read C000", "out 10-1F"})
        addPoint(QLatin1String(text));
    clickRow(0);
    clickRow(2, Qt::ControlModifier);
    QTest::mouseClick(points()->deleteButton(), Qt::LeftButton);
    ASSERT_EQ(engine().pointList().size(), 1u);
    EXPECT_EQ(engine().pointList()[0].number, 6);
    ASSERT_EQ(points()->list()->topLevelItemCount(), 1);
    EXPECT_EQ(row(0)[BreakpointsWindow::Kind], QStringLiteral("read"));

    clickRow(0);
    QTest::keyClick(points()->list(), Qt::Key_Delete);
    EXPECT_TRUE(engine().pointList().empty());
    EXPECT_EQ(points()->list()->topLevelItemCount(), 0);
}

TEST_F(PointWindows, ClickOnAnExecPointFillsTheAddressField) {
    start();
    addPoint(QStringLiteral("write C000"));
    addPoint(QStringLiteral("exec f05:4100"));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(points()));
    clickRow(0);
    EXPECT_EQ(window->field("address")->text(), QString());
    clickRow(1);
    EXPECT_EQ(window->field("address")->text(), QStringLiteral("4100"));
}

TEST_F(PointWindows, LogPointWritesToTheDebugMessagesAndCountsItsHits) {
    start();
    addPoint(QStringLiteral("exec 000D hits 50 log HL={HL} n={b@HL}"));
    QTest::mouseClick(window->button("go"), Qt::LeftButton);
    const auto logged = [&] { return app.window()->debugMessages()->text().count(QStringLiteral("HL=C000 n=")); };
    ASSERT_TRUE(waitUntil([&] { return logged() >= 3; }));
    QTest::mouseClick(window->button("stop"), Qt::LeftButton);
    ASSERT_TRUE(waitUntilHeld());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("(^|\n)HL=C000 n=[0-9A-F]{2}\n"))
                    .match(app.window()->debugMessages()->text())
                    .hasMatch());
    const uint32_t counted = engine().pointList()[0].counted;
    EXPECT_GE(counted, 150u);
    ASSERT_TRUE(waitUntil([&] { return row(0)[BreakpointsWindow::Hits] == QStringLiteral("%1 (every 50)").arg(counted); }));
    EXPECT_EQ(row(0)[BreakpointsWindow::Log], QStringLiteral("HL={HL} n={b@HL}"));
}

TEST_F(PointWindows, ListStaysWhereItWasScrolledWhileHitsAreCounted) {
    start();
    addPoint(QStringLiteral("exec 000D hits 1000 log x"));
    for (int i = 0; i < 40; ++i)
        engine().addPoint("exec " + std::to_string(1000 + i), nullptr);
    QTreeWidget* list = points()->list();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(points()));
    ASSERT_TRUE(waitUntil([&] { return list->topLevelItemCount() == 41; }));
    list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum());
    const int bottom = list->verticalScrollBar()->value();
    ASSERT_GT(bottom, 0);
    QTest::mouseClick(window->button("go"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !row(0)[BreakpointsWindow::Hits].startsWith(QLatin1Char('0')); }));
    EXPECT_EQ(list->verticalScrollBar()->value(), bottom);
}

TEST_F(PointWindows, KeysOfTheDebuggerWindowOpenBothWindows) {
    start();
    for (const Qt::Key key : {Qt::Key_B, Qt::Key_M}) {
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        QTest::keyClick(window, key, Qt::ControlModifier);
    }
    ASSERT_TRUE(window->breakpoints() && window->memory());
    EXPECT_TRUE(window->breakpoints()->isVisible() && window->memory()->isVisible());
    EXPECT_EQ(window->breakpoints()->windowTitle(), QStringLiteral("Breakpoints"));
    EXPECT_EQ(window->memory()->windowTitle(), QStringLiteral("Memory"));
}

TEST_F(PointWindows, MenuItemsOpenTheDebuggerWithThem) {
    ASSERT_NO_FATAL_FAILURE(boot());
    DeviceWindow* device = app.window();
    for (QAction* item : {device->breakpointsAction(), device->memoryAction()}) {
        QMenuBar* bar = device->menuBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(device->optionsMenu()->menuAction()).center());
        ASSERT_TRUE(waitUntil([&] { return device->optionsMenu()->isVisible(); }));
        QTest::mouseClick(device->optionsMenu(), Qt::LeftButton, {}, device->optionsMenu()->actionGeometry(item).center());
    }
    window = app.debuggerWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(waitUntilHeld());
    EXPECT_TRUE(window->isVisible());
    ASSERT_TRUE(window->breakpoints() && window->memory());
    EXPECT_TRUE(window->breakpoints()->isVisible() && window->memory()->isVisible());
    window->close();  // both go with it
    EXPECT_FALSE(window->breakpoints()->isVisible() || window->memory()->isVisible());
}

TEST_F(PointWindows, BothWindowsComeBackWhereTheyWereLeft) {
    start();
    AppSettings().setWindowPosition(QStringLiteral("Breakpoints"), QPoint(60, 50));
    EXPECT_EQ(points()->pos(), QPoint(60, 50));
    memory()->move(90, 70);
    EXPECT_EQ(AppSettings().windowPosition(QStringLiteral("Memory")), QPoint(90, 70));
}

TEST_F(PointWindows, MemoryShowsTheHeldBytesOfAnAddressAndOfAPage) {
    start();
    type(memory()->addressField(), QStringLiteral("0"));
    ASSERT_TRUE(memoryShowsThisStop());
    EXPECT_EQ(memory()->firstAddress(), 0xFFC0u);  // four rows before, wrapping
    EXPECT_EQ(byteAt(0x0000), QStringLiteral("F3"));
    EXPECT_EQ(byteAt(0x0006), QStringLiteral("C0"));
    EXPECT_EQ(memory()->grid()->item(MemoryWindow::RowsBefore, MemoryWindow::CharColumn)->text(),
              QStringLiteral(".1..!..4........"));
    EXPECT_EQ(memory()->grid()->verticalHeaderItem(MemoryWindow::RowsBefore)->text(), QStringLiteral("0000"));

    // Fixed RAM at C000 is RAM page 0; a byte written there shows in both.
    engine().pokeHeld(Space::Z80, 0, 0xC003, 0xA5);
    memory()->spaceBox()->setFocus();
    QTest::keyClick(memory()->spaceBox(), Qt::Key_End);  // the last space: RAM pages
    type(memory()->addressField(), QStringLiteral("3"));
    ASSERT_TRUE(memoryShowsThisStop());
    EXPECT_EQ(byteAt(0x0003), QStringLiteral("A5"));
    EXPECT_TRUE(memory()->statusLine()->text().startsWith(QStringLiteral("Held: RAM page 00, 3 = 0003")));
}

TEST_F(PointWindows, MemoryFollowsItsExpressionAtEveryStopAndAfterAnEdit) {
    start();
    ASSERT_TRUE(stepTo(QStringLiteral("0007")));
    type(memory()->addressField(), QStringLiteral("HL"));
    ASSERT_TRUE(memoryShowsThisStop());
    EXPECT_EQ(memory()->followedAddress(), 0xC000u);
    EXPECT_EQ(memory()->firstAddress(), 0xBFC0u);
    EXPECT_TRUE(memory()->byteItem(0xC000)->font().bold());
    EXPECT_FALSE(memory()->byteItem(0xC001)->font().bold());

    DebuggerEngine::RegisterEdit edit;
    edit.hl = "C123";
    ASSERT_TRUE(engine().applyRegisterEdit(edit));
    ASSERT_TRUE(waitUntil([&] { return memory()->followedAddress() == 0xC123u; }));
    EXPECT_EQ(memory()->firstAddress(), 0xC0E0u);

    type(memory()->addressField(), QStringLiteral("w@SP"));  // SP is 0000, the word there 31F3
    ASSERT_TRUE(waitUntil([&] { return memory()->followedAddress() == 0x31F3u; }));
}

TEST_F(PointWindows, MemoryNamesTheFaultOfABadAddressAndKeepsFollowing) {
    start();
    type(memory()->addressField(), QStringLiteral("4"));
    ASSERT_TRUE(memoryShowsThisStop());
    for (const char* text : {"HL+", "nosuch+1", "(SP"}) {
        SCOPED_TRACE(text);
        type(memory()->addressField(), QLatin1String(text));
        EXPECT_EQ(memory()->statusLine()->text(), QStringLiteral("Address: ") + expressionError(text));
        EXPECT_EQ(memory()->followedAddress(), 4u);
    }
}

TEST_F(PointWindows, MemoryMarksBytesChangedSinceThePreviousStop) {
    start();
    ASSERT_TRUE(stepTo(QStringLiteral("0007")));
    type(memory()->addressField(), QStringLiteral("C000"));
    ASSERT_TRUE(memoryShowsThisStop());
    const uint8_t before = peek(0xC000);
    ASSERT_TRUE(stepTo(QStringLiteral("0008")));  // INC (HL)
    ASSERT_TRUE(memoryShowsThisStop());
    EXPECT_EQ(byteAt(0xC000), QStringLiteral("%1").arg(uint8_t(before + 1), 2, 16, QLatin1Char('0')).toUpper());
    EXPECT_TRUE(isRed(0xC000));
    EXPECT_FALSE(isRed(0xC001));
    EXPECT_TRUE(memory()->statusLine()->text().endsWith(QStringLiteral("1 changed since the previous stop")));
    ASSERT_TRUE(stepTo(QStringLiteral("000D")));  // the CALL leaves C000 alone
    ASSERT_TRUE(memoryShowsThisStop());
    EXPECT_FALSE(isRed(0xC000));
}

TEST_F(PointWindows, StackPaneListsTheWordsFromSpWithTheirNames) {
    auto symbols = std::make_unique<SymbolTable>();
    symbols->addFunction("afterCall", 0x000B);
    start(std::move(symbols));
    ASSERT_TRUE(stepTo(QStringLiteral("000D")));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(memory()));
    ASSERT_TRUE(memoryShowsThisStop());
    const QTableWidget* stack = memory()->stack();
    EXPECT_EQ(stack->item(0, 0)->text(), QStringLiteral("FFFE"));
    EXPECT_EQ(stack->item(0, 1)->text(), QStringLiteral("000B"));
    EXPECT_EQ(stack->item(0, 2)->text(), QStringLiteral("afterCall"));
    EXPECT_EQ(stack->item(1, 0)->text() + stack->item(1, 1)->text() + stack->item(1, 2)->text(),
              QStringLiteral("000031F3"));  // wrapped round to the ROM's first bytes, which name nothing
}

TEST_F(PointWindows, TypedByteIsWrittenWhileHeldAndRefusedWhileRunning) {
    start();
    type(memory()->addressField(), QStringLiteral("C000"));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(memory()));
    ASSERT_TRUE(memoryShowsThisStop());
    QTableWidget* grid = memory()->grid();
    const uint8_t old = peek(0xC015);
    const auto typeInto = [&](uint32_t address, const char* digits) {
        grid->setCurrentItem(memory()->byteItem(address));
        QTest::keyClicks(grid, QLatin1String(digits).left(1));  // the first digit opens the editor
        QLineEdit* editor = nullptr;
        for (QLineEdit* e : grid->viewport()->findChildren<QLineEdit*>(QStringLiteral("memByteEditor")))
            if (e->isVisible())
                editor = e;
        ASSERT_NE(editor, nullptr);
        QTest::keyClicks(editor, QLatin1String(digits).mid(1));
    };
    typeInto(0xC011, "5a");
    EXPECT_EQ(peek(0xC011), 0x5A);
    EXPECT_EQ(byteAt(0xC011), QStringLiteral("5A"));
    EXPECT_TRUE(isRed(0xC011));  // changed since the previous stop, if by hand
    EXPECT_EQ(grid->currentItem(), memory()->byteItem(0xC012));  // on to the next byte

    QTest::mouseClick(window->button("go"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return memory()->statusLine()->text().startsWith(QStringLiteral("Running")); }));
    typeInto(0xC015, "77");
    EXPECT_TRUE(memory()->statusLine()->text().startsWith(QStringLiteral("Not written: running")));
    EXPECT_EQ(byteAt(0xC015), QStringLiteral("%1").arg(old, 2, 16, QLatin1Char('0')).toUpper());
    QTest::mouseClick(window->button("stop"), Qt::LeftButton);
    ASSERT_TRUE(waitUntilHeld());
    EXPECT_EQ(peek(0xC015), old);
    EXPECT_TRUE(host.messages.empty());
}
