// OutsideLog: the values that come into the machine from outside it, which a
// state alone cannot repeat: what the software reads from the keyboard port
// (1), the pen digitiser (45) and the clock (16-28). Everything else the
// machine does follows from its state, so a state plus the reads after it
// reproduce a run exactly, instruction by instruction.
//
// Reads are counted from the log's start; a log keeps only the reads whose
// value differs from the last read of the same port (the software polls the
// keyboard thousands of times between two key presses). An OutsideLog records
// (Ports calls record), an OutsideReplay answers the reads from one. Both run
// on the emulation thread; others look only while it is parked or held.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

struct OutsideRead {
    uint64_t index = 0;  // reads before this one since the log's start
    uint8_t port = 0;
    uint8_t value = 0;
};

// The outside ports, each with a slot of its own: 0 keyboard, 1-13 the
// clock's 16-28, 14 the digitiser; -1 for every other port.
inline constexpr int OutsideSlots = 15;
constexpr int outsideSlot(uint8_t port) {
    if (port == 1)
        return 0;
    if (port >= 16 && port <= 28)
        return port - 15;
    if (port == 45)
        return 14;
    return -1;
}

// Where a log stands: its count of reads, its entries, and each port's last
// value (NoValue before the first read).
struct OutsidePosition {
    static constexpr uint16_t NoValue = 0x100;
    uint64_t reads = 0;
    std::size_t entries = 0;
    std::array<uint16_t, OutsideSlots> last = fresh();
    static constexpr std::array<uint16_t, OutsideSlots> fresh() {
        std::array<uint16_t, OutsideSlots> a{};
        a.fill(NoValue);
        return a;
    }
};

class OutsideLog {
public:
    void record(int slot, uint8_t port, uint8_t value) {
        if (at.last[slot] != value) {
            log.push_back({at.reads, port, value});
            at.last[slot] = value;
            at.entries = log.size();
        }
        ++at.reads;
    }
    OutsidePosition position() const { return at; }
    const std::vector<OutsideRead>& entries() const { return log; }
    // Forgets everything from position on: the log goes on from there.
    void truncate(const OutsidePosition& position) {
        log.resize(position.entries);
        at = position;
    }
    // Drops the entries before first (they are no longer needed); positions
    // taken later stay valid, entries counts from the log's start.
    void clear() {
        log.clear();
        at = OutsidePosition{};
    }

private:
    std::vector<OutsideRead> log;
    OutsidePosition at;
};

// Answers reads from a log, starting at a position of it. A read past the
// log's end (or of another port than the log says: a run that is not the
// recorded one) answers its live value and marks the replay as diverged.
class OutsideReplay {
public:
    OutsideReplay(const std::vector<OutsideRead>& log, const OutsidePosition& from) : log(log), at(from) {}
    uint8_t answer(int slot, uint8_t port, uint8_t live) {
        uint16_t value = at.last[slot];
        if (at.entries < log.size() && log[at.entries].index == at.reads) {
            const OutsideRead& read = log[at.entries++];
            if (read.port != port)
                diverged = true;
            value = read.value;
        } else if (value == OutsidePosition::NoValue) {
            diverged = true;  // the log would have held the first read of this port
            value = live;
        }
        at.last[slot] = value;
        ++at.reads;
        return static_cast<uint8_t>(value);
    }
    const OutsidePosition& position() const { return at; }
    bool hasDiverged() const { return diverged; }

private:
    const std::vector<OutsideRead>& log;
    OutsidePosition at;
    bool diverged = false;
};
