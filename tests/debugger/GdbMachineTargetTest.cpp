// The GDB client's machine on a real emulation thread: attaching holds it,
// Z packets become the engine's points and go when the client does, register
// writes reach the held processor, and a stop tells which watchpoint fired.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HeldMachine.h"
#include "machine/GdbMachineTarget.h"

namespace {

// 0000 LD SP,F000 / 0003 LD A,0 / 0005 INC A / 0006 LD (C010),A / 0009 JR 0005
const std::vector<uint8_t> countingStore = {0x31, 0x00, 0xF0, 0x3E, 0x00, 0x3C, 0x32, 0x10, 0xC0, 0x18, 0xFA};

std::vector<std::string> pointTexts(DebuggerEngine& engine) {
    std::vector<std::string> texts;
    for (const PointInfo& p : engine.pointList())
        texts.push_back(p.text);
    return texts;
}

std::optional<GdbStop> waitForStop(GdbMachineTarget& target) {
    std::optional<GdbStop> stop;
    waitUntil([&] { return (stop = target.pollStop()).has_value(); });
    return stop;
}

TEST(GdbMachineTarget, AttachHoldsAndDetachRemovesItsPointsAndSwitchesOff) {
    HeldMachine m(countingStore);
    ASSERT_TRUE(m.started);
    GdbMachineTarget target(m.machine);
    target.attach();
    GdbRegisters regs;
    ASSERT_TRUE(target.readRegisters(regs)) << "not held after attach";
    EXPECT_TRUE(target.insertPoint(0, 0x0006, 0));
    EXPECT_TRUE(target.insertPoint(1, 0x0006, 8));
    EXPECT_TRUE(target.insertPoint(0, 0x0006, 0)) << "set again";
    EXPECT_TRUE(target.insertPoint(4, 0xC010, 2));
    EXPECT_TRUE(target.insertPoint(2, 0xFFFE, 4));
    EXPECT_EQ(pointTexts(m.machine.debugger),
              (std::vector<std::string>{"exec 0006", "exec 0006", "access C010-C011", "write FFFE-FFFF"}));
    EXPECT_TRUE(target.removePoint(0, 0x0006, 0));
    EXPECT_FALSE(target.removePoint(0, 0x0006, 0)) << "removed twice";
    EXPECT_TRUE(m.machine.debugger.addPoint("read 8000", nullptr).ok()) << "the user's own";
    target.detach();
    EXPECT_EQ(pointTexts(m.machine.debugger), (std::vector<std::string>{"read 8000"}));
    EXPECT_TRUE(m.machine.debugger.isOff());
}

TEST(GdbMachineTarget, StopsTellTheWatchedAddressAndTheKindTheClientAskedFor) {
    HeldMachine m(countingStore);
    ASSERT_TRUE(m.started);
    GdbMachineTarget target(m.machine);
    target.attach();
    ASSERT_TRUE(target.insertPoint(4, 0xC00F, 4));  // number 5
    ASSERT_TRUE(target.resume(false));
    const auto stop = waitForStop(target);
    ASSERT_TRUE(stop.has_value());
    EXPECT_EQ(stop->watch, GdbStop::Watch::Access);
    EXPECT_EQ(stop->address, 0xC010);
    GdbRegisters regs;
    ASSERT_TRUE(target.readRegisters(regs));
    EXPECT_EQ(regs.word[GdbRegisters::Pc], 0x0009) << "held behind the store";
    // The engine's status texts, as other stops give them.
    const struct {
        const char* status;
        GdbStop::Watch watch;
        uint16_t address;
        bool historyStart;
    } cases[] = {
        {"Watchpoint (5) write C010=01 at:6", GdbStop::Watch::Access, 0xC010, false},
        {"Watchpoint (9) write 8001=FF at:4200", GdbStop::Watch::Write, 0x8001, false},
        {"Watchpoint (9) read 8000=00 at:4200", GdbStop::Watch::Read, 0x8000, false},
        {"Watchpoint (9) out 03=01 at:5", GdbStop::Watch::None, 0, false},
        {"Breakpoint (5) hit at:6", GdbStop::Watch::None, 0, false},
        {"Stopped ...", GdbStop::Watch::None, 0, false},
        {"Start of history reached (it holds the last 0 T-states)", GdbStop::Watch::None, 0, true},
    };
    for (const auto& c : cases) {
        const GdbStop s = target.stopFromStatus(c.status);
        EXPECT_EQ(s.watch, c.watch) << c.status;
        if (c.watch != GdbStop::Watch::None) {
            EXPECT_EQ(s.address, c.address) << c.status;
        }
        EXPECT_EQ(s.historyStart, c.historyStart) << c.status;
    }
    target.detach();
}

TEST(GdbMachineTarget, RegisterWritesReachTheHeldProcessor) {
    HeldMachine m(countingStore);
    ASSERT_TRUE(m.started);
    GdbMachineTarget target(m.machine);
    target.attach();
    GdbRegisters regs;
    ASSERT_TRUE(target.readRegisters(regs));
    for (int i = 0; i < GdbRegisters::WordCount; ++i)
        regs.word[i] = static_cast<uint16_t>(0x1111 * (i + 1));
    regs.word[12] = 0x3F00;  // IR: only I is there to be written
    regs.word[GdbRegisters::Pc] = 0x0005;
    ASSERT_TRUE(target.writeRegisters(regs));
    GdbRegisters back;
    ASSERT_TRUE(target.readRegisters(back));
    for (int i = 0; i < GdbRegisters::WordCount; ++i)
        EXPECT_EQ(back.word[i], regs.word[i]) << "register " << i;
    GdbRegisters banks = back;
    banks.romBank = static_cast<uint8_t>(banks.romBank + 1);
    EXPECT_FALSE(target.writeRegisters(banks)) << "the banks are read only";
    // The machine goes on from the PC written: INC A on the A written.
    ASSERT_TRUE(target.resume(true));
    ASSERT_TRUE(waitForStop(target).has_value());
    ASSERT_TRUE(target.readRegisters(back));
    EXPECT_EQ(back.word[GdbRegisters::Pc], 0x0006);
    EXPECT_EQ(back.word[0] >> 8, 0x12) << "A";
    target.detach();
}

}  // namespace
