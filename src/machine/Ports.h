// Ports: everything the organiser's software reaches with IN and OUT.
//
// The processor core calls portIn/portOut (through MachineBus) on the
// emulation thread for every IN and OUT; only the low 8 bits of the I/O
// address select the port. Behind the ports: the page registers of MemoryMap
// (5-8), the keyboard matrix (1), the interrupt status register (3), the pen
// digitiser (9 and 45), the real-time clock (16-28) and two fixed answers
// (31, 53). Every other port reads 0 and ignores writes.
//
// The buttons and the pen are set by the device window (or the headless
// runner) from its own thread at any time, through setButton, movePen,
// setPenDown and releaseAll, and read here at the port reads; each is one
// atomic word, and the pen's position is always inside the touch area.
// irqStatus and the start-key hold belong to the Machine; Ports reads and
// changes them through references.
#pragma once

#include <atomic>
#include <cstdint>

#include "machine/HostClock.h"
#include "machine/MemoryMap.h"
#include "machine/OutsideLog.h"

// The organiser's seven buttons: the strip's six and L, which has no picture.
enum class OrganiserButton { Addr, Todo, PgUp, Sched, Memo, PgDn, L };
inline constexpr int OrganiserButtonCount = 7;

class Ports {
public:
    static constexpr int PenMaxX = 159;
    static constexpr int PenMaxY = 271;  // 240-271 is the printed icon row

    Ports(MemoryMap& memory, HostClock& clock, int& irqStatus, int& startKeyHold, int& startKeyReads);
    Ports(const Ports&) = delete;
    Ports& operator=(const Ports&) = delete;

    uint8_t portIn(uint8_t port);
    void portOut(uint8_t port, uint8_t value);

    // The reads of the outside ports (OutsideLog.h) go into the logs given
    // (the debugger's history, a recorded session; null: none), or are
    // answered by a replay instead, which then wins over both. Only while
    // the emulation thread is parked or held, or from it.
    void setOutsideLogs(OutsideLog* history, OutsideLog* session) {
        historyLog = history;
        sessionLog = session;
        outsideWatched = historyLog || sessionLog || replay;
    }
    void setOutsideReplay(OutsideReplay* from) {
        replay = from;
        outsideWatched = historyLog || sessionLog || replay;
    }
    OutsideLog* historyRecorder() const { return historyLog; }
    OutsideLog* sessionRecorder() const { return sessionLog; }

    // keySelect, penCommand and penReadsY to 0 (machine reset).
    void resetDevices();

    // The digitiser's 10-bit readings of the current pen position (0 while the pen is up).
    int digitiserX() const;
    int digitiserY() const;

    // Device state, emulation thread only.
    uint8_t keySelect = 0;   // port 1: a 0 bit selects a key group
    uint8_t penCommand = 0;  // port 9
    bool penReadsY = false;  // axis of the next low-part read

    // The user's side, from any thread.
    void setButton(OrganiserButton button, bool held);
    bool buttonHeld(OrganiserButton button) const;
    // The pen's position in window pixels, clamped to 0-159 and 0-271; a
    // press below row 271 is a button, not the pen.
    void movePen(int x, int y);
    void setPenDown(bool down);
    // The pen up and every button let go.
    void releaseAll();
    int penX() const { return penXValue.load(std::memory_order_relaxed); }
    int penY() const { return penYValue.load(std::memory_order_relaxed); }
    bool penDown() const { return penDownValue.load(std::memory_order_relaxed) != 0; }

private:
    uint8_t outside(uint8_t port, uint8_t live) {
        if (!outsideWatched) [[likely]]
            return live;
        return passOutside(port, live);
    }
    uint8_t passOutside(uint8_t port, uint8_t live);
    uint8_t keyboardByte();
    uint8_t clockDigit(uint8_t port);
    uint8_t digitiserByte();

    MemoryMap& memory;
    HostClock& clock;
    int& irqStatus;
    int& startKeyHold;
    int& startKeyReads;

    // 1 while held, by OrganiserButton.
    std::atomic<int> buttons[OrganiserButtonCount] = {};
    std::atomic<int> penXValue{0};
    std::atomic<int> penYValue{0};
    std::atomic<int> penDownValue{0};  // 1 while the pen touches the touch area

    bool outsideWatched = false;
    OutsideLog* historyLog = nullptr;
    OutsideLog* sessionLog = nullptr;
    OutsideReplay* replay = nullptr;
};
