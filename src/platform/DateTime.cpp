#include "platform/DateTime.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace kavo {

namespace {

// 1899-12-30 is 25569 days before 1970-01-01.
constexpr double UnixEpochDays = 25569.0;

std::mutex g_clockLock;
std::shared_ptr<const Clock> g_clock;

std::tm LocalTime(std::time_t t)
{
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm;
}

} // namespace

// The local calendar date and time of t, counted as if it were UTC, gives days without a time zone.
DateTime DateTimeFromTime(std::time_t t)
{
    const std::tm tm = LocalTime(t);
    std::tm copy = tm;
    const std::time_t asUtc = timegm(&copy);
    return UnixEpochDays + static_cast<double>(asUtc) / SecondsPerDay;
}

std::time_t TimeFromDateTime(DateTime value)
{
    const auto seconds = static_cast<std::time_t>(std::llround((value - UnixEpochDays) * SecondsPerDay));
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    tm.tm_isdst = -1;
    return mktime(&tm);
}

std::string FormatMonthDayTime(DateTime value)
{
    const auto seconds = static_cast<std::time_t>(std::llround((value - UnixEpochDays) * SecondsPerDay));
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    char text[32];
    std::snprintf(text, sizeof text, "%02d/%02d %02d:%02d", tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min);
    return text;
}

DateTime Now()
{
    std::shared_ptr<const Clock> clock;
    {
        std::lock_guard lock(g_clockLock);
        clock = g_clock;
    }
    if (clock)
        return clock->Now();
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return DateTimeFromTime(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9 / SecondsPerDay;
}

void SetClock(std::shared_ptr<const Clock> clock)
{
    std::lock_guard lock(g_clockLock);
    g_clock = std::move(clock);
}

} // namespace kavo
