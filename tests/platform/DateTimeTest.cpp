#include "platform/DateTime.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace kavo {
namespace {

TEST(DateTime, CountsLocalDaysSince1899)
{
    setenv("TZ", "Asia/Tokyo", 1);
    tzset();
    // 2024-03-05 12:34 in Tokyo is 03:34 UTC.
    const std::time_t t = 1709609640;
    const DateTime value = DateTimeFromTime(t);
    EXPECT_NEAR(value, 45356.0 + (12 * 60 + 34) / MinutesPerDay, 1e-9);
    EXPECT_EQ(FormatMonthDayTime(value), "03/05 12:34");
    EXPECT_EQ(TimeFromDateTime(value), t);
    unsetenv("TZ");
    tzset();
}

TEST(DateTime, ManualClockReplacesNow)
{
    auto clock = std::make_shared<ManualClock>(45000.5);
    SetClock(clock);
    EXPECT_DOUBLE_EQ(Now(), 45000.5);
    clock->AddMinutes(90);
    EXPECT_DOUBLE_EQ(Now(), 45000.5 + 90 / MinutesPerDay);
    SetClock(nullptr);
    EXPECT_GT(Now(), 45000.0);
}

} // namespace
} // namespace kavo
