// The print trap's text on its way to the debug message window (carriage
// returns too), the window shown again, and the user-interface waits that
// must not hang while the debugger holds the machine: a debug-text flush,
// both restarts and Exit.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QWindow>
#include <QTextCursor>
#include <thread>

#include "FrontendRig.h"
#include "frontend/DebugMessageWindow.h"
#include "frontend/DeviceWindow.h"
#include "frontend/SimulatorApp.h"
#include "machine/Machine.h"

using namespace frontendtest;
using namespace std::chrono_literals;

namespace {

// A running machine on a ROM that prints "one\n", "two " and "three\n", then spins.
class DebugText : public ::testing::Test {
protected:
    virtual std::vector<std::string> texts() const { return {"one\n", "two ", "three\n"}; }
    void SetUp() override {
        clearSettings();
        rom = dir.file("print.pgm");
        writeBytes(rom, printingRom(texts()));
        ASSERT_TRUE(app.start({rom, dir.file("print.sav"), 1}));
        window = app.window();
    }
    Machine& machine() { return app.machine(); }
    // Waits without serving events, so no tick flushes behind the test's back.
    void waitForPrints() {
        const auto until = std::chrono::steady_clock::now() + 20s;
        while (machine().elapsedTStates.load() < 20000 && std::chrono::steady_clock::now() < until)
            std::this_thread::yield();
        ASSERT_GE(machine().elapsedTStates.load(), 20000u);
    }
    void holdWithTheDebugger() {
        machine().debugger.windowShown();
        machine().debugger.stop();
        const auto until = std::chrono::steady_clock::now() + 20s;
        // Serves the debugger window's view calls, but runs no tick.
        while (!machine().debugger.isHeld() && std::chrono::steady_clock::now() < until)
            QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        ASSERT_TRUE(machine().debugger.isHeld());
    }
    QString shown() const { return window->debugMessages()->text(); }

    ScratchDir dir;
    QString rom;
    ScriptedHost host;
    SimulatorApp app{host};
    DeviceWindow* window = nullptr;
};

const QString printed = QStringLiteral("one\ntwo three\n");

}  // namespace

TEST_F(DebugText, SeveralPrintsArriveInOneFlushInOrderWhileTheWindowIsHidden) {
    waitForPrints();
    EXPECT_FALSE(window->debugMessages()->isVisible());
    window->refreshTick();
    EXPECT_EQ(shown(), printed);
    EXPECT_FALSE(machine().hasDebugText());
    window->showDebugWindowChosen();
    EXPECT_TRUE(window->debugMessages()->isVisible());
    window->debugMessages()->close();
    EXPECT_FALSE(window->debugMessages()->isVisible());
    EXPECT_EQ(shown(), printed);  // closing hides, the text stays
}

TEST_F(DebugText, ClearingWhileLinesWaitClearsOnlyTheWindow) {
    window->debugMessages()->appendDebugText("old\r\n");
    waitForPrints();
    window->clearDebugMessagesChosen();
    EXPECT_TRUE(shown().isEmpty());
    window->refreshTick();
    EXPECT_EQ(shown(), printed);
}

TEST_F(DebugText, NewTextGoesAtTheEndWhereverTheUserTyped) {
    QPlainTextEdit* edit = window->debugMessages()->textControl();
    edit->setPlainText(QStringLiteral("typed"));
    QTextCursor cursor = edit->textCursor();
    cursor.setPosition(0);
    edit->setTextCursor(cursor);
    waitForPrints();
    window->refreshTick();
    EXPECT_EQ(shown(), QStringLiteral("typed") + printed);
}

TEST_F(DebugText, FlushWhileTheDebuggerHoldsTheMachineNeitherWaitsNorLosesText) {
    waitForPrints();
    holdWithTheDebugger();
    {
        Watchdog guard("a flush while the debugger holds the machine", 30s);
        window->refreshTick();
    }
    EXPECT_EQ(shown(), printed);
    EXPECT_TRUE(machine().debugger.isHeld());
}

TEST_F(DebugText, RestartsWhileTheDebuggerHoldsTheMachineReturnAndTheMachineRunsOn) {
    waitForPrints();
    window->refreshTick();
    for (const bool cold : {false, true}) {
        holdWithTheDebugger();
        {
            Watchdog guard(cold ? "a cold restart while held" : "a warm restart while held", 30s);
            if (cold)
                window->coldRestartChosen();
            else
                window->warmRestartChosen();
        }
        machine().debugger.switchOff();
        // The restarted ROM prints again.
        ASSERT_TRUE(waitUntil([&] { return shown().count(QStringLiteral("three")) == (cold ? 3 : 2); }));
    }
}

TEST_F(DebugText, ExitWhileTheDebuggerHoldsTheMachineEndsAndSaves) {
    waitForPrints();
    holdWithTheDebugger();
    {
        Watchdog guard("Exit while the debugger holds the machine", 30s);
        window->exitChosen();
        app.finish();
    }
    EXPECT_FALSE(machine().isRunning());
    EXPECT_TRUE(std::filesystem::exists(dir.path / "print.sav"));
}

// The user moved and sized the window, closed it, and text came in while it
// was hidden: shown again it stands where the user left it, with the old
// text, the new text once, and its newest line in view.
TEST_F(DebugText, ShownASecondTimeTheWindowKeepsItsPlaceAndTextAndShowsTheNewestLine) {
    DebugMessageWindow* messages = window->debugMessages();
    waitForPrints();
    window->refreshTick();
    window->showDebugWindowChosen();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(messages));
    // As the window manager moves and sizes it.
    const QRect placed(window->geometry().topLeft() + QPoint(37, 211), QSize(333, 177));
    messages->windowHandle()->setGeometry(placed);
    ASSERT_TRUE(waitUntil([&] { return messages->geometry() == placed; }));
    messages->close();

    QString lines;  // more than the window shows at once
    for (int i = 0; i < 60; ++i)
        lines += QStringLiteral("line %1\n").arg(i);
    messages->appendDebugText(QString(lines).replace(QStringLiteral("\n"), QStringLiteral("\r\n")).toStdString());
    window->warmRestartChosen();  // the ROM prints again, into the hidden window
    ASSERT_TRUE(waitUntil([&] { return shown().count(QStringLiteral("three")) == 2; }));
    const QString expected = printed + lines + printed;
    EXPECT_EQ(shown(), expected);

    for (int time = 2; time <= 3; ++time) {  // "Show Debug Window" while shown changes nothing
        SCOPED_TRACE(testing::Message() << "shown " << time << " times");
        window->showDebugWindowChosen();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(messages));
        QCoreApplication::processEvents();
        EXPECT_EQ(messages->geometry(), placed);
        EXPECT_EQ(shown(), expected);
        const QScrollBar* bar = messages->textControl()->verticalScrollBar();
        EXPECT_GT(bar->maximum(), 0);
        EXPECT_EQ(bar->value(), bar->maximum());
    }
}

namespace {

// The organiser's texts with carriage returns, printed one after another
// through the trap, and what each adds to the window: CR LF and LF are one
// line break, a CR on its own is none.
const struct {
    std::string printed;
    QString shown;
} carriageReturns[] = {
    {"crlf\r\n", "crlf\n"},
    {"lf\n", "lf\n"},
    {"lone\rcr\n", "lonecr\n"},
    {"\r\n", "\n"},
    {"two\r\n\r\nbreaks\r\n", "two\n\nbreaks\n"},
    {"cr at the end\r", "cr at the end"},
    {"\r", ""},
    {"|\r\r\n", "|\n"},
};

class DebugTextWithCarriageReturns : public DebugText {
protected:
    std::vector<std::string> texts() const override {
        std::vector<std::string> list;
        for (const auto& c : carriageReturns)
            list.push_back(c.printed);
        return list;
    }
};

}  // namespace

TEST_F(DebugTextWithCarriageReturns, EndTheirLinesOnceAndNeverBreakALineAlone) {
    waitForPrints();
    window->refreshTick();
    QString expected;
    for (const auto& c : carriageReturns)
        expected += c.shown;
    EXPECT_EQ(shown(), expected);
    EXPECT_EQ(window->debugMessages()->textControl()->blockCount(), expected.count(QLatin1Char('\n')) + 1);
}
