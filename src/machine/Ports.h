// Ports: everything the organiser's software reaches with IN and OUT.
//
// The processor core calls portIn/portOut (through MachineBus) on the
// emulation thread for every IN and OUT; only the low 8 bits of the I/O
// address select the port. Behind the ports: the page registers of MemoryMap
// (5-8), the keyboard matrix (1), the interrupt status register (3), the pen
// digitiser (9 and 45), the real-time clock (16-28) and two fixed answers
// (31, 53). Every other port reads 0 and ignores writes.
//
// The button and pen fields are written by the device window (or the
// headless runner) on the user-interface thread at any time and read here,
// hence atomics. irqStatus and the start-key hold belong to the Machine; Ports
// reads and changes them through references.
#pragma once

#include <atomic>
#include <cstdint>

#include "machine/HostClock.h"
#include "machine/MemoryMap.h"

class Ports {
public:
    Ports(MemoryMap& memory, HostClock& clock, int& irqStatus, int& startKeyHold, int& startKeyReads);
    Ports(const Ports&) = delete;
    Ports& operator=(const Ports&) = delete;

    uint8_t portIn(uint8_t port);
    void portOut(uint8_t port, uint8_t value);

    // keySelect, penCommand and penReadsY to 0 (machine reset).
    void resetDevices();

    // The digitiser's 10-bit readings of the current pen position (0 while the pen is up).
    int digitiserX() const;
    int digitiserY() const;

    // Device state, emulation thread only.
    uint8_t keySelect = 0;   // port 1: a 0 bit selects a key group
    uint8_t penCommand = 0;  // port 9
    bool penReadsY = false;  // axis of the next low-part read

    // Written by the device window; 1 while the button is held.
    std::atomic<int> keyAddr{0}, keyTodo{0}, keyPgUp{0}, keySched{0}, keyMemo{0}, keyPgDn{0}, keyL{0};
    std::atomic<int> penX{0};     // 0-159
    std::atomic<int> penY{0};     // 0-271; 240-271 is the printed icon row
    std::atomic<int> penDown{0};  // 1 while the pen touches the touch area

private:
    uint8_t keyboardByte();
    uint8_t clockDigit(uint8_t port);
    uint8_t digitiserByte();

    MemoryMap& memory;
    HostClock& clock;
    int& irqStatus;
    int& startKeyHold;
    int& startKeyReads;
};
