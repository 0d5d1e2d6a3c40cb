// HostClock: the host's local date and time as the organiser's real-time
// clock ports read it. Ports asks it afresh on every clock-port read.
// SystemClock is the program's clock; FixedClock stands still at a given
// moment (tests, and the headless runner's --clock option).
#pragma once

struct ClockReading {
    int second = 0;   // 0-59
    int minute = 0;   // 0-59
    int hour = 0;     // 0-23
    int weekday = 0;  // 0 Sunday .. 6 Saturday
    int day = 1;      // 1-31
    int month = 1;    // 1-12
    int year = 2000;  // calendar year
};

class HostClock {
public:
    virtual ~HostClock() = default;
    virtual ClockReading now() = 0;
};

// Local time through localtime_r.
class SystemClock final : public HostClock {
public:
    ClockReading now() override;
};

// Always answers the moment it was given (or last set to).
class FixedClock final : public HostClock {
public:
    explicit FixedClock(const ClockReading& reading) : reading(reading) {}
    ClockReading now() override { return reading; }
    void set(const ClockReading& newReading) { reading = newReading; }

    // A reading for a calendar date and time, its weekday computed.
    static ClockReading at(int year, int month, int day, int hour, int minute, int second);

private:
    ClockReading reading;
};
