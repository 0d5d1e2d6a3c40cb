// Going back through the debugger's history: every moment reached again must
// be the machine exactly as it was on the way forward, and the run forward
// from there must repeat it.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>

#include "HeldMachine.h"

namespace {

// Everything a state holds, compared field by field and page by page.
::testing::AssertionResult sameMachine(const MachineState& a, const MachineState& b) {
    const MachineRegisters& x = a.regs;
    const MachineRegisters& y = b.regs;
    const Z80State& c = x.cpu;
    const Z80State& d = y.cpu;
    const bool cpuSame = c.AF.w == d.AF.w && c.BC.w == d.BC.w && c.DE.w == d.DE.w && c.HL.w == d.HL.w &&
                         c.IX.w == d.IX.w && c.IY.w == d.IY.w && c.PC.w == d.PC.w && c.SP.w == d.SP.w &&
                         c.altAF == d.altAF && c.altBC == d.altBC && c.altDE == d.altDE && c.altHL == d.altHL &&
                         c.cpuFlags == d.cpuFlags && c.I == d.I && c.cycleBudget == d.cycleBudget;
    if (!cpuSame)
        return ::testing::AssertionFailure() << "registers differ: PC " << std::hex << c.PC.w << " / " << d.PC.w
                                             << ", AF " << c.AF.w << " / " << d.AF.w;
    const bool restSame = x.romBank == y.romBank && x.romSelect == y.romSelect && x.ramBank == y.ramBank &&
                          x.ramSelect == y.ramSelect && x.window2Flash == y.window2Flash &&
                          x.window2Lcd == y.window2Lcd && x.flashMode == y.flashMode && x.lcdColumn == y.lcdColumn &&
                          x.keySelect == y.keySelect && x.penCommand == y.penCommand && x.penReadsY == y.penReadsY &&
                          x.irqStatus == y.irqStatus && x.tick40 == y.tick40 && x.tick04 == y.tick04 &&
                          x.tick02 == y.tick02 && x.tickCountdown == y.tickCountdown &&
                          x.tickCountdownStart == y.tickCountdownStart && x.startKeyHold == y.startKeyHold &&
                          x.startKeyReads == y.startKeyReads && x.elapsedTStates == y.elapsedTStates &&
                          x.sliceStartBudget == y.sliceStartBudget;
    if (!restSame)
        return ::testing::AssertionFailure() << "mapping, ports, ticks or time differ (T " << a.tstates() << " / "
                                             << b.tstates() << ")";
    for (int i = 0; i < MemoryMap::RamPages; ++i)
        if (*a.ram[i] != *b.ram[i])
            return ::testing::AssertionFailure() << "RAM page " << i << " differs";
    for (int i = 0; i < MemoryMap::FlashPages; ++i) {
        if ((a.flash[i] == nullptr) != (b.flash[i] == nullptr) || (a.flash[i] && *a.flash[i] != *b.flash[i]))
            return ::testing::AssertionFailure() << "flash page " << i << " differs";
    }
    if (a.screen != b.screen)
        return ::testing::AssertionFailure() << "screen differs";
    return ::testing::AssertionSuccess();
}

// A held machine whose history takes a snapshot every 20 slices, so that a
// few hundred instructions span many.
class Rewinding : public HeldMachine {
public:
    explicit Rewinding(const std::vector<uint8_t>& program)
        : HeldMachine(program, [](Machine& m) { m.setHistoryInterval(20); }) {}

    MachineState now() {
        MachineState state;
        EXPECT_TRUE(machine.debugger.whileHeld([&] { state = machine.captureState(true); }, false));
        return state;
    }
    // Steps n instructions, recording the machine in front of each. The
    // Memo button changes every few instructions (when pressing), as the
    // user's hand would: the history must replay what was read.
    std::vector<MachineState> stepRecording(int n, bool pressing = false) {
        std::vector<MachineState> states;
        for (int i = 0; i < n; ++i) {
            states.push_back(now());
            stepFrom(i, pressing);
        }
        states.push_back(now());
        return states;
    }
    void stepFrom(int i, bool pressing) {
        machine.ports.setButton(OrganiserButton::Memo, pressing && (i / 7) % 2 == 1);
        EXPECT_TRUE(stepInto());
    }
    std::string back(uint64_t n) {
        const std::size_t from = view.size();
        EXPECT_EQ(machine.stepBack(n), "");
        const auto status = view.matching("status: ", from);
        return status.empty() ? std::string() : status.back().substr(8);
    }
    std::string reverseGo() {
        const std::size_t from = view.size();
        EXPECT_EQ(machine.reverseGo(), "");
        const auto status = view.matching("status: ", from);
        return status.empty() ? std::string() : status.back().substr(8);
    }
    // Runs (Go) until the machine has run at least t more T-states, then stops it.
    void goFor(uint64_t t, const std::function<void(uint64_t)>& meanwhile = {}) {
        const uint64_t start = machine.elapsedTStates.load();
        machine.debugger.go();
        for (uint64_t step = 1; step <= 4; ++step) {
            ASSERT_TRUE(waitUntil([&] { return machine.elapsedTStates.load() >= start + t * step / 4; }));
            if (meanwhile)
                meanwhile(step);
        }
        const uint32_t holds = machine.debugger.holdCount();
        machine.debugger.stop();
        ASSERT_TRUE(waitHeldAfter(holds));
    }
};

std::vector<uint8_t> image(std::vector<uint8_t> code, const std::vector<uint8_t>& handler = {}) {
    code.resize(0x38, 0x00);
    code.insert(code.end(), handler.begin(), handler.end());
    return code;
}

// Counts in RAM, reads the clock and the keyboard, takes interrupts (IM 1)
// that count too and acknowledge all sources.
std::vector<uint8_t> countingWithInterrupts() {
    return image({0xF3, 0x31, 0x00, 0xF0, 0xED, 0x56, 0xFB,  // DI, LD SP,F000, IM 1, EI
                  0x21, 0x00, 0xC1, 0x34,                    // 0007 LD HL,C100 / INC (HL)
                  0xDB, 0x10, 0x32, 0x01, 0xC1,              // IN A,(16) / LD (C101),A
                  0xDB, 0x01, 0x32, 0x02, 0xC1,              // IN A,(1) / LD (C102),A
                  0x3A, 0x00, 0xC1, 0xC6, 0x07, 0x32, 0x03, 0xC1,  // LD A,(C100) / ADD A,7 / LD (C103),A
                  0x18, 0xE8},                               // JR 0007
                 {0xF5, 0xAF, 0xD3, 0x03, 0x21, 0x10, 0xC1, 0x34, 0xF1, 0xFB, 0xED, 0x4D});  // handler, RETI
}

// Programs bytes into flash page 70 and erases it every 64 bytes.
std::vector<uint8_t> flashWriter() {
    return image({0xF3, 0x31, 0x00, 0xF0, 0x3E, 0x03, 0xD3, 0x06, 0x3E, 0x06, 0xD3, 0x05, 0x21, 0x00, 0x40,
                  0x3E, 0x40, 0x77, 0x7D, 0x77, 0x23, 0x7D, 0xE6, 0x3F, 0x20, 0xF5,  // 000F program loop
                  0x3E, 0x20, 0x77, 0x3E, 0xD0, 0x77, 0x18, 0xED});                   // erase, JR 000F
}

// Random unprefixed and CB code. Left out: HALT and the prefixes DD, ED and
// FD, whose repeats and free codes are moments the debugger's Step into
// does not show one by one.
std::vector<uint8_t> randomCode(unsigned seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> code = {0x31, 0x00, 0xF0};  // LD SP,F000
    while (code.size() < 0x3000) {
        uint8_t b = static_cast<uint8_t>(random());
        if (b == 0x76 || b == 0xDD || b == 0xED || b == 0xFD || b == 0xFB)
            b = 0x00;
        code.push_back(b);
    }
    return code;
}

}  // namespace

TEST(History, GoingBackReachesEachEarlierInstructionExactlyAndTheRunForwardRepeats) {
    struct Case {
        const char* name;
        std::vector<uint8_t> program;
    };
    const Case cases[] = {
        {"counting with interrupts", countingWithInterrupts()},
        {"flash writer", flashWriter()},
        {"random code 1", randomCode(1)},
        {"random code 2", randomCode(2)},
        {"random code 3", randomCode(3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rewinding m(c.program);
        ASSERT_TRUE(m.started);
        ASSERT_TRUE(m.openAndHold());
        const std::vector<MachineState> before = m.stepRecording(60);
        m.goFor(30'000, [&](uint64_t step) { m.machine.ports.setButton(OrganiserButton::Memo, step % 2 == 1); });
        m.machine.ports.setButton(OrganiserButton::Memo, false);
        const std::vector<MachineState> after = m.stepRecording(200, true);
        const int last = static_cast<int>(after.size()) - 1;

        for (const int k : {1, 2, 9, 40, 150, 199}) {
            SCOPED_TRACE("back " + std::to_string(k));
            EXPECT_EQ(m.back(static_cast<uint64_t>(k)), "Stopped ...");
            EXPECT_TRUE(sameMachine(m.now(), after[last - k]));
            // Forward again: the same instructions, the same machine.
            for (int i = 1; i <= std::min(k, 3); ++i) {
                m.stepFrom(last - k + i - 1, true);
                EXPECT_TRUE(sameMachine(m.now(), after[last - k + i]));
            }
            // And back to the end of the recording for the next case.
            for (int i = std::min(k, 3) + 1; i <= k; ++i)
                m.stepFrom(last - k + i - 1, true);
            EXPECT_TRUE(sameMachine(m.now(), after[last]));
        }

        // Past the start: the machine as the debugger first held it, across
        // the run with the button pressed and released.
        EXPECT_EQ(m.back(1'000'000'000).rfind("Start of history reached", 0), 0u);
        EXPECT_TRUE(sameMachine(m.now(), before.front()));
        for (int i = 1; i <= 3; ++i) {
            ASSERT_TRUE(m.stepInto());
            EXPECT_TRUE(sameMachine(m.now(), before[i]));
        }
    }
}

// HALT until the next interrupt, then count: each repetition of the HALT is
// a moment of its own, which Step into never shows.
TEST(History, EachRepetitionOfAHaltIsAMomentAndTheRunFromOneRepeats) {
    Rewinding m(image({0xF3, 0x31, 0x00, 0xF0, 0xED, 0x56, 0xFB, 0x76,  // DI, LD SP, IM 1, EI, HALT
                       0x21, 0x00, 0xC1, 0x34, 0x18, 0xF8},           // LD HL,C100 / INC (HL) / JR 0006
                      {0xF5, 0xAF, 0xD3, 0x03, 0xF1, 0xFB, 0xED, 0x4D}));
    ASSERT_TRUE(m.started);
    ASSERT_TRUE(m.openAndHold());
    const std::vector<MachineState> forward = m.stepRecording(12);
    ASSERT_EQ(forward.back().regs.cpu.PC.w, 0x0008);  // just behind a HALT, past its interrupt

    // One back: the HALT's last moment, the interrupt still to come. That is a
    // repetition (halted), unless the interrupt was already waiting when the
    // HALT first ran behind the EI at 0006: where the debugger first held
    // decides which.
    const MachineState& atEi = forward[forward.size() - 2];
    ASSERT_EQ(atEi.regs.cpu.PC.w, 0x0006);
    EXPECT_EQ(m.back(1), "Stopped ...");
    const MachineState halted = m.now();
    EXPECT_EQ(halted.regs.cpu.PC.w, 0x0007);
    const bool repeated = halted.tstates() > atEi.tstates() + 4;
    EXPECT_EQ((halted.regs.cpu.cpuFlags & CpuHalted) != 0, repeated);
    EXPECT_LT(halted.tstates(), forward.back().tstates());
    ASSERT_TRUE(m.stepInto());
    EXPECT_TRUE(sameMachine(m.now(), forward.back()));

    // Across every HALT to the start, and the same way forward again. The
    // debugger may have come on while the processor sat in a HALT: it then
    // first held behind it, and the history starts before that hold.
    EXPECT_EQ(m.back(1'000'000'000).rfind("Start of history reached", 0), 0u);
    if (m.now().tstates() < forward.front().tstates()) {
        ASSERT_TRUE(m.stepInto());
    }
    for (std::size_t i = 0; i < forward.size(); ++i) {
        EXPECT_TRUE(sameMachine(m.now(), forward[i])) << "instruction " << i;
        if (i + 1 < forward.size()) {
            ASSERT_TRUE(m.stepInto());
        }
    }
}

TEST(History, ReverseGoStopsWhereAPointWouldHaveStoppedTheRunAsItWouldHave) {
    Rewinding m(countingWithInterrupts());
    ASSERT_TRUE(m.started);
    ASSERT_TRUE(m.openAndHold());
    std::vector<MachineState> forward = m.stepRecording(120);
    std::map<uint64_t, std::size_t> byMoment;
    for (std::size_t i = 0; i < forward.size(); ++i)
        byMoment[forward[i].tstates()] = i;

    // No point: back to the start.
    EXPECT_EQ(m.reverseGo().rfind("Start of history reached", 0), 0u);
    EXPECT_TRUE(sameMachine(m.now(), forward.front()));
    for (int i = 0; i < 120; ++i)
        ASSERT_TRUE(m.stepInto());

    // "Who wrote C103?": held behind the last LD (C103),A, as a forward hit holds.
    ASSERT_TRUE(m.machine.debugger.addPoint("write C103", nullptr).ok());
    const std::string hit = m.reverseGo();
    EXPECT_EQ(hit.rfind("Watchpoint (5) write C103=", 0), 0u) << hit;
    EXPECT_NE(hit.find("at:1a"), std::string::npos) << hit;
    MachineState there = m.now();
    EXPECT_EQ(there.regs.cpu.PC.w, 0x001D);
    ASSERT_EQ(byMoment.count(there.tstates()), 1u);
    EXPECT_TRUE(sameMachine(there, forward[byMoment[there.tstates()]]));

    // The one before it, not the moment it starts from.
    const std::string earlier = m.reverseGo();
    EXPECT_EQ(earlier.rfind("Watchpoint (5) write C103=", 0), 0u);
    const MachineState second = m.now();
    EXPECT_EQ(second.regs.cpu.PC.w, 0x001D);
    EXPECT_LT(second.tstates(), there.tstates());
    EXPECT_TRUE(sameMachine(second, forward[byMoment[second.tstates()]]));

    // A breakpoint slot (number 1) wins over the watchpoint (5) at one moment, and reports as a forward hit.
    ASSERT_TRUE(m.machine.debugger.deletePoint(5).ok());
    m.view.typeBreakpoint(1, "b");
    m.machine.debugger.readBreakpointFields();
    EXPECT_EQ(m.reverseGo(), "Breakpoint (1) hit at:b");
    EXPECT_EQ(m.now().regs.cpu.PC.w, 0x000B);
}

TEST(History, RefusesWithoutAHeldMachineOrWhileASessionIsRecorded) {
    Rewinding m(countingWithInterrupts());
    ASSERT_TRUE(m.started);
    EXPECT_NE(m.machine.stepBack(1), "");  // the debugger is closed
    ASSERT_TRUE(m.openAndHold());
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(m.stepInto());
    const MachineState held = m.now();
    ASSERT_TRUE(m.machine.startRecording());
    EXPECT_NE(m.machine.stepBack(1), "");
    EXPECT_TRUE(sameMachine(m.now(), held));
    (void)m.machine.stopRecording();
}

TEST(History, KeepsWithinItsMemoryAndReachesBackItsSpan) {
    const auto snapshot = [](uint64_t t) {
        HistorySnapshot s;
        s.tstates = t;
        const std::vector<uint8_t> page(MemoryMap::PageSize, static_cast<uint8_t>(t));
        for (PageCopy& p : s.state.ram)
            p = copyPage(page.data());  // all eight written since the one before
        return s;
    };
    History byMemory;
    byMemory.limit = 3 * MemoryMap::RamPages * MemoryMap::PageSize;
    for (uint64_t i = 1; i <= 10; ++i)
        byMemory.add(snapshot(i * 1000));
    EXPECT_LE(byMemory.bytesHeld(), byMemory.limit);
    EXPECT_GE(byMemory.snapshots.size(), 2u);
    EXPECT_EQ(byMemory.snapshots.back().tstates, 10'000u);
    EXPECT_EQ(byMemory.start(), byMemory.snapshots.front().tstates);

    History bySpan;
    for (uint64_t t = 0; t <= 3'000'000'000; t += 500'000'000)
        bySpan.add(snapshot(t));
    // It still reaches back the span from the newest, and not a snapshot more.
    EXPECT_LE(bySpan.start(), 3'000'000'000 - History::SpanTStates);
    EXPECT_GT(bySpan.snapshots[1].tstates, 3'000'000'000 - History::SpanTStates);

    History tiny;
    tiny.limit = 1;  // the newest always stays
    tiny.add(snapshot(5));
    tiny.add(snapshot(6));
    ASSERT_EQ(tiny.snapshots.size(), 1u);
    EXPECT_EQ(tiny.start(), 6u);
}
