// The machine's user-interface operations while the debugger watches or holds
// the emulation thread, or animates for a window that has not caught up: the
// debug-text flush and the restarts. Each call that could wait for a held machine runs on a helper
// thread with a bound, so a hang fails the test instead of hanging it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>

#include "EngineRig.h"
#include "HeldMachine.h"
#include "debugger/ViewQueue.h"
#include "machine/Machine.h"

namespace {

// 0000 DI / 0001 LD SP,F000 / 0004 LD HL,0100 / 0007 ED FE (print) / 0009 JR 0004 ; 0100 "held\n"
std::vector<uint8_t> printingLoop() {
    std::vector<uint8_t> program = {0xF3, 0x31, 0x00, 0xF0, 0x21, 0x00, 0x01, 0xED, 0xFE, 0x18, 0xF9};
    program.resize(0x100);
    for (char c : std::string("held\n"))
        program.push_back(static_cast<uint8_t>(c));
    program.push_back(0);
    return program;
}

}  // namespace

TEST(MachineUnderDebugger, DebugTextFlushTakesTheLinesOfAHeldMachineWithoutWaiting) {
    HeldMachine m(printingLoop());
    ASSERT_TRUE(m.started);
    ASSERT_TRUE(waitUntil([&] { return m.machine.hasDebugText(); }));
    ASSERT_TRUE(m.openAndHold());

    std::vector<std::string> lines;
    ASSERT_TRUE(m.returnsWhileHeld([&] { lines = m.machine.takeDebugLines(); }));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "held\r\n");
    EXPECT_FALSE(m.machine.hasDebugText());
    EXPECT_TRUE(m.machine.debugger.isHeld());  // the flush let nothing go

    // Stepping through one pass of the loop prints exactly one line.
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(m.stepInto());
    ASSERT_TRUE(m.returnsWhileHeld([&] { lines = m.machine.takeDebugLines(); }));
    EXPECT_EQ(lines, std::vector<std::string>{"held\r\n"});
    EXPECT_TRUE(m.machine.takeDebugLines().empty());
}

TEST(MachineUnderDebugger, RestartLetsAHeldMachinePassAndHoldsItAgainAtItsFirstInstruction) {
    for (const bool cold : {false, true}) {
        SCOPED_TRACE(cold ? "cold" : "warm");
        HeldMachine m(printingLoop());
        ASSERT_TRUE(m.started);
        ASSERT_TRUE(m.openAndHold());
        const uint32_t holds = m.machine.debugger.holdCount();
        const std::size_t mark = m.view.size();
        ASSERT_TRUE(m.returnsWhileHeld([&] { cold ? m.machine.coldRestart() : m.machine.warmRestart(); }));
        ASSERT_TRUE(m.waitHeldAfter(holds));
        EXPECT_EQ(m.machine.cpu.PC.w, 0x0000);
        EXPECT_FALSE(m.machine.debugger.isOff());
        const std::vector<std::string> shown = m.view.linesFrom(mark);
        ASSERT_GE(shown.size(), 2u);
        EXPECT_EQ(shown[0], "status: Stopped ...");
        EXPECT_EQ(shown[1], "controls: on");
        EXPECT_EQ(shown.back(), "list: 0000:DI");
    }
}

TEST(MachineUnderDebugger, RestartLeavesADebuggerThatDoesNotHoldTheMachineAsItWas) {
    HeldMachine m(printingLoop());
    ASSERT_TRUE(m.started);
    ASSERT_TRUE(m.openAndHold());
    const std::size_t animated = m.view.size();
    m.machine.debugger.animate();
    // Taken up (its status shown) before the mark, so no status after it is Animate's own.
    ASSERT_TRUE(waitUntil([&] { return m.view.contains("status: Animating ...", animated); }));
    ASSERT_TRUE(waitUntil([&] { return !m.machine.debugger.isHeld(); }));
    const std::size_t mark = m.view.size();
    ASSERT_TRUE(m.returnsWhileHeld([&] { m.machine.warmRestart(); }));
    // Still animating: the restarted machine's first instruction is shown, and nothing holds it.
    ASSERT_TRUE(waitUntil([&] { return m.view.contains("list: 0000:DI", mark); }));
    EXPECT_FALSE(m.machine.debugger.isHeld());
    EXPECT_FALSE(m.machine.debugger.isOff());
    m.machine.debugger.switchOff();
    EXPECT_TRUE(m.view.matching("status: ", mark).empty());
}

TEST(MachineUnderDebugger, TheFlushNeverWaitsForTheEmulationThread) {
    // The emulation thread stands still at a slice end (here a slice observer
    // that does not return) while lines wait: the flush takes them anyway.
    std::atomic<bool> stuck{false}, letGo{false};
    struct Stuck final : SliceObserver {
        std::atomic<bool>& stuck;
        std::atomic<bool>& letGo;
        Stuck(std::atomic<bool>& s, std::atomic<bool>& l) : stuck(s), letGo(l) {}
        void onSlice(Machine&) override {
            stuck.store(true);
            while (!letGo.load())
                letGo.wait(false);
        }
    } observer(stuck, letGo);  // outlives the machine, whose thread may still be inside it
    HeldMachine m(printingLoop());
    ASSERT_TRUE(m.started);
    ASSERT_TRUE(waitUntil([&] { return m.machine.hasDebugText(); }));
    m.machine.setSliceObserver(&observer);
    ASSERT_TRUE(waitUntil([&] { return stuck.load(); }));
    std::vector<std::string> lines;
    const auto release = [&] {
        letGo.store(true);
        letGo.notify_all();
    };
    EXPECT_TRUE(m.returnsWhileHeld([&] { lines = m.machine.takeDebugLines(); }, release));
    EXPECT_FALSE(lines.empty());
    EXPECT_FALSE(m.machine.hasDebugText());
    m.machine.setSliceObserver(nullptr);
    release();
}

// A view that records and is never shown: Animate waits for it after every
// instruction, as for a window whose thread is busy.
class NeverShownView {
public:
    ViewQueue queue{std::thread::id(), nullptr, nullptr};
};

TEST(MachineUnderDebugger, RestartsAndStopEndTheWaitOfAnAnimationForItsWindow) {
    HeldMachine m(printingLoop());
    ASSERT_TRUE(m.started);
    NeverShownView late;
    m.machine.debugger.setView(&late.queue);
    DebuggerEngine& engine = m.machine.debugger;
    const uint32_t holds = engine.holdCount();
    engine.windowShown();
    ASSERT_TRUE(m.waitHeldAfter(holds));
    engine.animate();
    // It shows one instruction, then waits for the window that never catches up.
    ASSERT_TRUE(waitUntil([&] { return !engine.isHeld() && late.queue.showingBehind(); }));
    const uint64_t before = m.machine.elapsedTStates.load();
    ASSERT_TRUE(m.returnsWhileHeld([&] { m.machine.warmRestart(); }));
    ASSERT_TRUE(m.returnsWhileHeld([&] { m.machine.coldRestart(); }));
    EXPECT_LT(m.machine.elapsedTStates.load() - before, 1000u);  // still waiting, not running free
    // Stop ends the wait too: the machine is held at once.
    engine.stop();
    ASSERT_TRUE(m.waitHeldAfter(holds + 1));
    m.machine.debugger.setView(&m.view.text);
}

// The organiser prints while the user steps, runs and stops it and the
// window flushes at every moment: every line arrives once and whole.
TEST(MachineUnderDebugger, NoPrintedLineIsLostOrTornWhateverTheFlushMeets) {
    // 0000 DI / LD SP,F000
    // 0004 LD HL,(C000) / INC HL / LD (C000),HL     count the line first
    // 000B LD HL,0100 / ED FE (print) / JR 0004      0100 "n\n"
    std::vector<uint8_t> program = {0xF3, 0x31, 0x00, 0xF0, 0x2A, 0x00, 0xC0, 0x23, 0x22, 0x00, 0xC0,
                                    0x21, 0x00, 0x01, 0xED, 0xFE, 0x18, 0xF2};
    program.resize(0x100);
    for (char c : std::string("n\n"))
        program.push_back(static_cast<uint8_t>(c));
    program.push_back(0);
    HeldMachine m(program);
    ASSERT_TRUE(m.started);
    ASSERT_TRUE(m.openAndHold());
    DebuggerEngine& engine = m.machine.debugger;
    std::size_t lines = 0;
    bool whole = true;
    const auto flush = [&] {
        for (const std::string& line : m.machine.takeDebugLines()) {
            ++lines;
            whole = whole && line == "n\r\n";
        }
    };
    const auto heldAgain = [&] {
        return waitUntil([&] {
            flush();
            return engine.isHeld() && engine.commandTakenUp();
        });
    };
    const auto ranOn = [&] {
        const uint64_t from = m.machine.elapsedTStates.load();
        return waitUntil([&] {
            flush();
            return m.machine.elapsedTStates.load() > from + 2000;
        });
    };
    for (int i = 0; i < 30; ++i) {
        engine.go();
        ASSERT_TRUE(ranOn());
        engine.stop();
        ASSERT_TRUE(heldAgain());
        engine.stepInto();
        ASSERT_TRUE(heldAgain());
        engine.animate();
        ASSERT_TRUE(ranOn());
        engine.stop();
        ASSERT_TRUE(heldAgain());
    }
    flush();
    // Held before the print of a line already counted, the count (16 bits) is one ahead.
    const uint16_t pc = m.machine.cpu.PC.w;
    const std::size_t counted = m.machine.memory.ramImage[0] | m.machine.memory.ramImage[1] << 8;
    EXPECT_EQ((lines + ((pc == 0x000B || pc == 0x000E) ? 1 : 0)) % 0x10000, counted) << "held at " << pc;
    EXPECT_GT(lines, 10u);
    EXPECT_TRUE(whole);
}
