#pragma once

// Who usually broadcasts at a weekday and hour: the channels the history saw on air around that
// hour in enough of the last weeks, with their usual start and length.

#include "platform/DateTime.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace kavo {

// A weekday and a time of day.
struct WeekTime
{
    int Weekday = 0; // 0 Sunday .. 6 Saturday
    int Minute = 0;  // after midnight, 0 .. 1439
    bool operator==(const WeekTime&) const = default;
};

WeekTime WeekTimeOf(DateTime time);
// "Fri 21:00", "friday 9:30", "金 21:00" (UTF-8), or a time alone for the weekday of `today`.
std::optional<WeekTime> ParseWeekTime(std::string_view text, DateTime today);
// "Fri 21:00".
std::string WeekTimeText(WeekTime at);
// The weekday in Japanese, "金" (CP932).
std::string WeekdayName(int weekday);
// The moment asked about: the first time at `at` whose window has not ended by `now`, so that
// the weeks counted before it are all complete.
DateTime RegularsMoment(WeekTime at, DateTime now);

struct RegularsRequest
{
    DateTime Now = 0;
    std::optional<WeekTime> At; // nullopt: now
    int Weeks = 4;              // how many weeks before the moment are looked at
    int MinWeeks = 2;           // in how many of them a regular was on air
};

struct Regular
{
    std::string ChannelName; // CP932, HTML-escaped as the history keys it
    std::string Genre;       // of its newest broadcast seen
    int Weeks = 0;           // weeks on air around the hour
    DateTime UsualStart = 0; // on the day asked about, from the median start of those weeks
    DateTime UsualLength = 0;
    bool OnAir = false; // listed by its YP's last fetch
    // Not on air, not seen around the hour this week, and more than LateAfter past its usual start.
    bool Late = false;
};

struct RegularsReport
{
    DateTime Moment = 0;
    int Weeks = 0;
    int MinWeeks = 0;
    std::vector<Regular> Rows; // most weeks first, then by usual start
};

// "21:05" for the time of day; "2:30" for a length in hours and minutes; the state of a regular,
// "放送中", "まだ" or "" (CP932). The window and kavo-list show the same.
std::string ClockText(DateTime time);
std::string LengthText(DateTime length);
std::string RegularStateText(const Regular& regular);
// What the report is about: "金曜 21:00 ±1時間、4週のうち2週以上" (CP932).
std::string RegularsTitle(const RegularsReport& report);

namespace regulars {
// A broadcast counts for a week when it overlaps the hour either side of the moment.
constexpr DateTime Window = 1.0 / 24;
// How long before the window a broadcast may have begun and still be found. Longer ones count only
// while they are on air; reading further back would read most of the history.
constexpr DateTime Lookback = 1.0;
constexpr DateTime LateAfter = 30.0 / MinutesPerDay;
constexpr int MaxWeeks = 52;
} // namespace regulars

// The report without rows: its moment and its weeks as bounded.
RegularsReport EmptyRegulars(const RegularsRequest& request);
// Reads the report from an open history file; the error's code is SQLite's.
struct RegularsReadError
{
    int Code = 0;
    std::string Message;
};
// Throws RegularsReadError.
RegularsReport ReadRegulars(sqlite3* db, const RegularsRequest& request);

} // namespace kavo
