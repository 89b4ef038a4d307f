#pragma once

#include <ctime>
#include <memory>
#include <string>

namespace kavo {

// Days since 1899-12-30 00:00 local time, with the time of day as the fraction.
using DateTime = double;

constexpr double MinutesPerDay = 24.0 * 60.0;
constexpr double SecondsPerDay = MinutesPerDay * 60.0;

DateTime DateTimeFromTime(std::time_t t);
std::time_t TimeFromDateTime(DateTime value);
// "mm/dd hh:nn" in local time.
std::string FormatMonthDayTime(DateTime value);

// The source of "now"; tests install their own to move time by hand.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual DateTime Now() const = 0;
};

DateTime Now();
// Installs a clock for the whole process; nullptr restores the system clock.
void SetClock(std::shared_ptr<const Clock> clock);

// A clock that stands still until moved.
class ManualClock : public Clock
{
public:
    explicit ManualClock(DateTime now) : m_now(now) {}
    DateTime Now() const override { return m_now; }
    void Set(DateTime now) { m_now = now; }
    void AddMinutes(double minutes) { m_now += minutes / MinutesPerDay; }

private:
    DateTime m_now;
};

} // namespace kavo
