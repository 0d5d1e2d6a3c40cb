// Ports: the port table and the devices behind it (keyboard matrix, pen
// digitiser, real-time clock, interrupt status).
#include "machine/Ports.h"

#include <algorithm>

namespace {

constexpr uint8_t PortKeyboard = 1;
constexpr uint8_t PortIrqStatus = 3;
constexpr uint8_t PortRomBank = 5;
constexpr uint8_t PortRomSelect = 6;
constexpr uint8_t PortRamBank = 7;
constexpr uint8_t PortRamSelect = 8;
constexpr uint8_t PortPenCommand = 9;
constexpr uint8_t PortClockFirst = 16;
constexpr uint8_t PortClockLast = 28;
constexpr uint8_t PortFixed31 = 31;
constexpr uint8_t PortDigitiser = 45;
constexpr uint8_t PortFixed53 = 53;

constexpr uint8_t PenHighY = 0x70;
constexpr uint8_t PenHighX = 0x78;
constexpr uint8_t PenLow = 0x38;

}  // namespace

Ports::Ports(MemoryMap& memory, HostClock& clock, int& irqStatus, int& startKeyHold, int& startKeyReads)
    : memory(memory), clock(clock), irqStatus(irqStatus), startKeyHold(startKeyHold), startKeyReads(startKeyReads) {}

void Ports::resetDevices() {
    keySelect = 0;
    penCommand = 0;
    penReadsY = false;
}

uint8_t Ports::portIn(uint8_t port) {
    switch (port) {
    case PortKeyboard:
        return outside(port, keyboardByte());
    case PortIrqStatus:
        return static_cast<uint8_t>(irqStatus);
    case PortRomBank:
        return static_cast<uint8_t>(memory.romBank & 0x3F);
    case PortRomSelect:
        return static_cast<uint8_t>(memory.romSelect);
    case PortRamBank:
        return static_cast<uint8_t>(memory.ramBank & 0x3F);
    case PortRamSelect:
        return static_cast<uint8_t>(memory.ramSelect);
    case PortPenCommand:
        return penCommand | 0x01;
    case PortFixed31:
        return 0x02;
    case PortDigitiser:
        return outside(port, digitiserByte());
    case PortFixed53:
        return 0xFF;
    default:
        if (port >= PortClockFirst && port <= PortClockLast)
            return outside(port, clockDigit(port));
        return 0;
    }
}

// The live value is worked out in any case: the keyboard read also counts
// down the start key's hold, and the digitiser's follows penCommand.
uint8_t Ports::passOutside(uint8_t port, uint8_t live) {
    const int slot = outsideSlot(port);
    if (replay)
        return replay->answer(slot, port, live);
    if (historyLog)
        historyLog->record(slot, port, live);
    if (sessionLog)
        sessionLog->record(slot, port, live);
    return live;
}

void Ports::portOut(uint8_t port, uint8_t value) {
    switch (port) {
    case PortKeyboard:
        keySelect = value;
        break;
    case PortIrqStatus:
        irqStatus &= value;  // a 0 bit acknowledges that source
        break;
    case PortRomBank:
        memory.setRomBankLow(value);
        break;
    case PortRomSelect:
        memory.setRomSelect(value);
        break;
    case PortRamBank:
        memory.setRamBankLow(value);
        break;
    case PortRamSelect:
        memory.setRamSelect(value);
        break;
    case PortPenCommand:
        penCommand = value;
        break;
    default:
        break;  // read-only or no device
    }
}

void Ports::setButton(OrganiserButton button, bool isHeld) {
    buttons[static_cast<int>(button)].store(isHeld ? 1 : 0, std::memory_order_relaxed);
}

bool Ports::buttonHeld(OrganiserButton button) const {
    return buttons[static_cast<int>(button)].load(std::memory_order_relaxed) != 0;
}

void Ports::movePen(int x, int y) {
    penXValue.store(std::clamp(x, 0, PenMaxX), std::memory_order_relaxed);
    penYValue.store(std::clamp(y, 0, PenMaxY), std::memory_order_relaxed);
}

void Ports::setPenDown(bool down) { penDownValue.store(down ? 1 : 0, std::memory_order_relaxed); }

void Ports::releaseAll() {
    setPenDown(false);
    for (std::atomic<int>& button : buttons)
        button.store(0, std::memory_order_relaxed);
}

uint8_t Ports::keyboardByte() {
    using B = OrganiserButton;
    uint8_t bits = 0;  // 1 = pressed, inverted at the end
    if ((keySelect & 0x01) == 0) {
        if (buttonHeld(B::L)) bits |= 0x04;
        if (buttonHeld(B::PgDn)) bits |= 0x02;
        if (buttonHeld(B::PgUp)) bits |= 0x01;
    }
    if ((keySelect & 0x02) == 0) {
        if (buttonHeld(B::Sched)) bits |= 0x04;
        if (buttonHeld(B::Addr)) bits |= 0x02;
        if (buttonHeld(B::Todo)) bits |= 0x01;
    }
    if ((keySelect & 0x04) == 0) {
        if (buttonHeld(B::Memo)) bits |= 0x01;
    }
    // After a start the software sees bit 3 pressed for 101 reads.
    if (startKeyHold != 0) {
        bits |= 0x08;
        if (--startKeyReads < 0)
            startKeyHold = 0;
    }
    return static_cast<uint8_t>(~bits);
}

uint8_t Ports::clockDigit(uint8_t port) {
    const ClockReading t = clock.now();
    const int year = t.year - 1901;
    int value = 0;
    switch (port) {
    case 16: value = t.second % 10; break;
    case 17: value = t.second / 10; break;
    case 18: value = t.minute % 10; break;
    case 19: value = t.minute / 10; break;
    case 20: value = t.hour % 10; break;
    case 21: value = t.hour / 10; break;
    case 22: value = t.weekday; break;
    case 23: value = t.day % 10; break;
    case 24: value = t.day / 10; break;
    case 25: value = t.month % 10; break;
    case 26: value = t.month / 10; break;
    case 27: value = year % 10; break;
    case 28: value = year / 10; break;  // not reduced: 2026 reads 12
    default: break;
    }
    return static_cast<uint8_t>(value);
}

int Ports::digitiserX() const {
    if (!penDown())
        return 0;
    return static_cast<int>((penX() + 15.8) * 5.25);
}

int Ports::digitiserY() const {
    if (!penDown())
        return 0;
    return static_cast<int>((penY() - 292.4) * -3.28);
}

uint8_t Ports::digitiserByte() {
    // Each read converts the pen position of its own moment; nothing is latched.
    const int x = digitiserX();
    const int y = digitiserY();
    switch (penCommand) {
    case PenHighY:
        penReadsY = true;
        return static_cast<uint8_t>(((y & 0x3C0) | 0x20) >> 2);
    case PenHighX:
        penReadsY = false;
        return static_cast<uint8_t>(((x & 0x3C0) | 0x20) >> 2);
    case PenLow:
        if (penReadsY)
            return static_cast<uint8_t>(((y & 0x3F) << 2) | 1);
        return static_cast<uint8_t>(((x & 0x3C) << 2) | 1);  // X's two lowest bits never reach the software
    case 0x20:
    case 0x60:
        return 0xFD;
    default:
        return 0;
    }
}
