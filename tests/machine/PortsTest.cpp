// Ports: the port table, keyboard groups and start-key hold, interrupt
// status, digitiser commands and the real-time clock digits.
#include <gtest/gtest.h>

#include <vector>

#include "machine/HostClock.h"
#include "machine/MemoryMap.h"
#include "machine/Ports.h"

namespace {

class PortsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(memory.allocateImages()); }

    MemoryMap memory;
    FixedClock clock{FixedClock::at(1999, 12, 31, 23, 59, 58)};
    int irqStatus = 0;
    int startKeyHold = 0;
    int startKeyReads = 0;
    Ports ports{memory, clock, irqStatus, startKeyHold, startKeyReads};
};

TEST_F(PortsTest, FixedAnswersAndUnlistedPorts) {
    EXPECT_EQ(ports.portIn(31), 0x02);
    EXPECT_EQ(ports.portIn(53), 0xFF);
    ports.portOut(9, 0x38);
    EXPECT_EQ(ports.portIn(9), 0x39);
    const std::vector<int> zeroPorts = {0, 2, 4, 10, 15, 29, 30, 32, 44, 46, 52, 54, 200, 255};
    for (int port : zeroPorts) {
        ports.portOut(static_cast<uint8_t>(port), 0xAB);
        EXPECT_EQ(ports.portIn(static_cast<uint8_t>(port)), 0) << "port " << port;
    }
    ports.portOut(31, 0);  // read-only ports ignore writes
    ports.portOut(53, 0);
    EXPECT_EQ(ports.portIn(31), 0x02);
    EXPECT_EQ(ports.portIn(53), 0xFF);
}

TEST_F(PortsTest, PageRegistersThroughPorts) {
    ports.portOut(5, 0x45);
    ports.portOut(6, 5);
    EXPECT_EQ(memory.romBank, 133);
    ports.portOut(6, 2);
    EXPECT_EQ(memory.romBank, 5);
    EXPECT_EQ(ports.portIn(5), 0x05);
    EXPECT_EQ(ports.portIn(6), 2);

    ports.portOut(7, 0xC2);
    ports.portOut(8, 3);
    EXPECT_EQ(memory.ramBank, 66);
    EXPECT_EQ(ports.portIn(7), 0x02);  // bit 6 not read back
    EXPECT_EQ(ports.portIn(8), 3);
    EXPECT_TRUE(memory.window2Flash);
}

TEST_F(PortsTest, InterruptStatusAcknowledge) {
    irqStatus = 0x46;
    EXPECT_EQ(ports.portIn(3), 0x46);
    ports.portOut(3, 0xFF);
    EXPECT_EQ(irqStatus, 0x46);
    ports.portOut(3, 0xBF);
    EXPECT_EQ(irqStatus, 0x06);
    ports.portOut(3, 0);
    EXPECT_EQ(irqStatus, 0);
}

TEST_F(PortsTest, KeyboardGroups) {
    ports.portOut(1, 0);
    EXPECT_EQ(ports.portIn(1), 0xFF);
    ports.setButton(OrganiserButton::Addr, true);
    ports.setButton(OrganiserButton::PgUp, true);
    ports.portOut(1, 0xFC);  // groups 0 and 1 combine
    EXPECT_EQ(ports.portIn(1), 0xFC);
    ports.releaseAll();

    // Each button clears its bit only when its group is selected.
    struct Case {
        OrganiserButton key;
        uint8_t select;
        uint8_t expected;
    };
    const Case cases[] = {
        {OrganiserButton::L, 0xFE, 0xFB},     {OrganiserButton::PgDn, 0xFE, 0xFD},
        {OrganiserButton::PgUp, 0xFE, 0xFE},  {OrganiserButton::Sched, 0xFD, 0xFB},
        {OrganiserButton::Addr, 0xFD, 0xFD},  {OrganiserButton::Todo, 0xFD, 0xFE},
        {OrganiserButton::Memo, 0xFB, 0xFE},  {OrganiserButton::Memo, 0xFE, 0xFF},
        {OrganiserButton::L, 0xFD, 0xFF},
    };
    for (const Case& c : cases) {
        ports.setButton(c.key, true);
        ports.portOut(1, c.select);
        EXPECT_EQ(ports.portIn(1), c.expected) << "select " << int(c.select);
        ports.setButton(c.key, false);
    }
}

TEST_F(PortsTest, StartKeyHoldLasts101Reads) {
    startKeyHold = 1;
    startKeyReads = 100;
    ports.portOut(1, 0xFF);
    for (int read = 1; read <= 101; ++read)
        ASSERT_EQ(ports.portIn(1), 0xF7) << "read " << read;
    EXPECT_EQ(startKeyHold, 0);
    EXPECT_EQ(ports.portIn(1), 0xFF);

    startKeyHold = 1;
    startKeyReads = 0;
    ports.setButton(OrganiserButton::Todo, true);
    ports.portOut(1, 0xFD);
    EXPECT_EQ(ports.portIn(1), 0xF6);  // held key and start key together
    EXPECT_EQ(ports.portIn(1), 0xFE);
}

TEST_F(PortsTest, DigitiserCommandsAndConversion) {
    ports.movePen(80, 120);
    ports.setPenDown(true);
    EXPECT_EQ(ports.digitiserX(), 502);
    EXPECT_EQ(ports.digitiserY(), 565);
    ports.portOut(9, 0x70);
    EXPECT_EQ(ports.portIn(45), 0x88);
    ports.portOut(9, 0x38);
    EXPECT_EQ(ports.portIn(45), 0xD5);
    ports.portOut(9, 0x78);
    EXPECT_EQ(ports.portIn(45), 0x78);
    ports.portOut(9, 0x38);
    EXPECT_EQ(ports.portIn(45), 0xD1);

    ports.portOut(9, 0x20);
    EXPECT_EQ(ports.portIn(45), 0xFD);
    ports.portOut(9, 0x60);
    EXPECT_EQ(ports.portIn(45), 0xFD);
    ports.portOut(9, 0x71);
    EXPECT_EQ(ports.portIn(45), 0);

    // Edges of the scale.
    ports.movePen(0, 0);
    EXPECT_EQ(ports.digitiserX(), 82);
    EXPECT_EQ(ports.digitiserY(), 959);
    ports.movePen(159, 239);
    EXPECT_EQ(ports.digitiserX(), 917);
    EXPECT_EQ(ports.digitiserY(), 175);
    ports.movePen(159, 271);
    EXPECT_EQ(ports.digitiserY(), 70);

    // Nothing is latched: the low part reads the position of its own moment.
    ports.movePen(80, 120);
    ports.portOut(9, 0x70);
    EXPECT_EQ(ports.portIn(45), 0x88);
    ports.movePen(80, 0);  // 959 = 0x3BF
    ports.portOut(9, 0x38);
    EXPECT_EQ(ports.portIn(45), 0xFD);

    ports.setPenDown(false);
    ports.portOut(9, 0x70);
    EXPECT_EQ(ports.portIn(45), 0x08);
    ports.portOut(9, 0x78);
    EXPECT_EQ(ports.portIn(45), 0x08);
    ports.portOut(9, 0x38);
    EXPECT_EQ(ports.portIn(45), 0x01);

    ports.portOut(9, 0x70);
    (void)ports.portIn(45);
    ports.resetDevices();
    EXPECT_EQ(ports.penCommand, 0);
    EXPECT_FALSE(ports.penReadsY);
    EXPECT_EQ(ports.penDown(), 0);
    EXPECT_EQ(ports.penX(), 80);  // the window's state survives a reset
}

TEST_F(PortsTest, ThePenStaysInTheTouchAreaAndReleaseAllLetsGoOfEverything) {
    const struct {
        int x, y, penX, penY;
    } cases[] = {{-1, -1, 0, 0}, {0, 0, 0, 0}, {159, 271, 159, 271}, {160, 272, 159, 271}, {75, 900, 75, 271},
                 {-300, 140, 0, 140}};
    for (const auto& c : cases) {
        ports.movePen(c.x, c.y);
        EXPECT_EQ(ports.penX(), c.penX) << c.x << "," << c.y;
        EXPECT_EQ(ports.penY(), c.penY) << c.x << "," << c.y;
    }
    ports.setPenDown(true);
    for (int i = 0; i < OrganiserButtonCount; ++i)
        ports.setButton(static_cast<OrganiserButton>(i), true);
    ports.releaseAll();
    EXPECT_FALSE(ports.penDown());
    for (int i = 0; i < OrganiserButtonCount; ++i)
        EXPECT_FALSE(ports.buttonHeld(static_cast<OrganiserButton>(i))) << i;
}

TEST_F(PortsTest, ClockDigits) {
    std::vector<int> digits;
    for (int port = 16; port <= 28; ++port)
        digits.push_back(ports.portIn(static_cast<uint8_t>(port)));
    EXPECT_EQ(digits, (std::vector<int>{8, 5, 9, 5, 3, 2, 5, 1, 3, 2, 1, 8, 9}));

    clock.set(FixedClock::at(2000, 1, 2, 7, 5, 9));  // a Sunday
    EXPECT_EQ(ports.portIn(22), 0);
    EXPECT_EQ(ports.portIn(27), 9);
    EXPECT_EQ(ports.portIn(28), 9);
    EXPECT_EQ(ports.portIn(21), 0);
    EXPECT_EQ(ports.portIn(20), 7);
    clock.set(FixedClock::at(2026, 12, 8, 14, 3, 0));  // a Tuesday
    EXPECT_EQ(ports.portIn(27), 5);
    EXPECT_EQ(ports.portIn(28), 12);
    EXPECT_EQ(ports.portIn(22), 2);
    EXPECT_EQ(ports.portIn(26), 1);
    EXPECT_EQ(ports.portIn(25), 2);

    SystemClock system;
    const ClockReading now = system.now();
    EXPECT_GE(now.year, 2024);
    EXPECT_GE(now.month, 1);
    EXPECT_LE(now.month, 12);
    EXPECT_GE(now.weekday, 0);
    EXPECT_LE(now.weekday, 6);
}

}  // namespace
