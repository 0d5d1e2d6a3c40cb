// SystemClock and FixedClock: the host time sources behind the clock ports.
#include "machine/HostClock.h"

#include <chrono>
#include <ctime>

ClockReading SystemClock::now() {
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    ClockReading r;
    r.second = local.tm_sec;
    r.minute = local.tm_min;
    r.hour = local.tm_hour;
    r.weekday = local.tm_wday;
    r.day = local.tm_mday;
    r.month = local.tm_mon + 1;
    r.year = local.tm_year + 1900;
    return r;
}

ClockReading FixedClock::at(int year, int month, int day, int hour, int minute, int second) {
    using namespace std::chrono;
    const year_month_day date{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                              std::chrono::day{static_cast<unsigned>(day)}};
    ClockReading r;
    r.year = year;
    r.month = month;
    r.day = day;
    r.hour = hour;
    r.minute = minute;
    r.second = second;
    r.weekday = static_cast<int>(weekday{sys_days{date}}.c_encoding());
    return r;
}
