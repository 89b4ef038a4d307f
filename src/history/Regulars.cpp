#include "history/Regulars.h"

#include "platform/Cp932.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <unordered_map>

namespace kavo {
namespace {

constexpr std::array<const char*, 7> EnglishDays = {"sunday",   "monday", "tuesday", "wednesday",
                                                    "thursday", "friday", "saturday"};
constexpr std::array<const char*, 7> JapaneseDays = {"日", "月", "火", "水", "木", "金", "土"};

int WeekdayOfDay(double day)
{
    // Day 0, 1899-12-30, was a Saturday.
    const auto n = static_cast<long long>(day);
    return static_cast<int>(((n + 6) % 7 + 7) % 7);
}

std::optional<int> ParseWeekday(std::string_view word)
{
    std::string lower;
    for (const char c : word)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (int d = 0; d < 7; ++d) {
        const std::string_view english = EnglishDays[static_cast<std::size_t>(d)];
        if (lower.size() >= 3 && english.starts_with(lower))
            return d;
        const std::string japanese = JapaneseDays[static_cast<std::size_t>(d)];
        for (const std::string& form : {japanese, japanese + "曜", japanese + "曜日"})
            if (word == form)
                return d;
    }
    return std::nullopt;
}

// "21:00", "9:30" or "21".
std::optional<int> ParseMinute(std::string_view text)
{
    const auto whole = [](std::string_view digits) -> std::optional<int> {
        int value = 0;
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (digits.empty() || digits.size() > 2 || error != std::errc() || end != digits.data() + digits.size())
            return std::nullopt;
        return value;
    };
    const std::size_t colon = text.find(':');
    const auto hour = whole(text.substr(0, colon));
    const auto minute = colon == std::string_view::npos ? std::optional<int>(0) : whole(text.substr(colon + 1));
    if (!hour || !minute || *hour > 23 || *minute > 59 || (colon != std::string_view::npos && colon + 3 != text.size()))
        return std::nullopt;
    return *hour * 60 + *minute;
}

// Half a second either way: the times are fractions of days.
constexpr DateTime Slack = 0.5 / SecondsPerDay;

DateTime Median(std::vector<DateTime> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// What one channel was seen doing around the hour, week by week (0: the week of the moment).
struct Span
{
    DateTime First = std::numeric_limits<double>::max();
    DateTime Last = std::numeric_limits<double>::lowest();
    bool Seen() const { return First <= Last; }
    void Add(DateTime first, DateTime last)
    {
        First = std::min(First, first);
        Last = std::max(Last, last);
    }
};

struct Seen
{
    std::vector<Span> Weeks;
    std::string Genre;
    DateTime GenreTime = std::numeric_limits<double>::lowest();
    bool OnAir = false;
};

class Statement
{
public:
    Statement(sqlite3* db, const char* sql) : m_db(db)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr) != SQLITE_OK)
            fail();
    }
    ~Statement() { sqlite3_finalize(m_statement); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void Bind(int i, double value) { sqlite3_bind_double(m_statement, i, value); }
    bool Step()
    {
        const int rc = sqlite3_step(m_statement);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            fail();
        return rc == SQLITE_ROW;
    }
    void Reset() { sqlite3_reset(m_statement); }
    double Number(int column) const { return sqlite3_column_double(m_statement, column); }
    std::string_view Text(int column) const
    {
        const void* data = sqlite3_column_blob(m_statement, column);
        return data ? std::string_view(static_cast<const char*>(data),
                                       static_cast<std::size_t>(sqlite3_column_bytes(m_statement, column)))
                    : std::string_view();
    }

private:
    [[noreturn]] void fail() const { throw RegularsReadError{sqlite3_extended_errcode(m_db), sqlite3_errmsg(m_db)}; }

    sqlite3* m_db;
    sqlite3_stmt* m_statement = nullptr;
};

} // namespace

WeekTime WeekTimeOf(DateTime time)
{
    const double day = std::floor(time);
    const int minute = static_cast<int>(std::floor((time - day) * MinutesPerDay + 1e-6));
    return {WeekdayOfDay(day), std::clamp(minute, 0, 24 * 60 - 1)};
}

std::optional<WeekTime> ParseWeekTime(std::string_view text, DateTime today)
{
    std::vector<std::string_view> words;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find(' ', at), text.size());
        if (end > at)
            words.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    std::optional<int> weekday = WeekTimeOf(today).Weekday;
    std::optional<int> minute;
    if (words.size() == 2) {
        weekday = ParseWeekday(words[0]);
        minute = ParseMinute(words[1]);
    } else if (words.size() == 1) {
        minute = ParseMinute(words[0]);
    }
    if (!weekday || !minute)
        return std::nullopt;
    return WeekTime{*weekday, *minute};
}

std::string WeekTimeText(WeekTime at)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3s %02d:%02d", EnglishDays[static_cast<std::size_t>(at.Weekday % 7)],
                  at.Minute / 60, at.Minute % 60);
    text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    return text;
}

std::string WeekdayName(int weekday)
{
    return Sjis(JapaneseDays[static_cast<std::size_t>(((weekday % 7) + 7) % 7)]);
}

std::string ClockText(DateTime time)
{
    const WeekTime at = WeekTimeOf(time + Slack);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d", at.Minute / 60, at.Minute % 60);
    return text;
}

std::string LengthText(DateTime length)
{
    const long minutes = std::lround(std::max(length, 0.0) * MinutesPerDay);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", minutes / 60, minutes % 60);
    return text;
}

std::string RegularStateText(const Regular& regular)
{
    if (regular.OnAir)
        return Sjis("放送中");
    return regular.Late ? Sjis("まだ") : std::string();
}

std::string RegularsTitle(const RegularsReport& report)
{
    return WeekdayName(WeekTimeOf(report.Moment + Slack).Weekday) + Sjis("曜 ") + ClockText(report.Moment) +
           Sjis(" ±1時間、") + std::to_string(report.Weeks) + Sjis("週のうち") + std::to_string(report.MinWeeks) +
           Sjis("週以上");
}

DateTime RegularsMoment(WeekTime at, DateTime now)
{
    const double today = std::floor(now);
    DateTime moment = today + (at.Weekday - WeekdayOfDay(today) + 7) % 7 + at.Minute / MinutesPerDay;
    if (moment + regulars::Window <= now)
        moment += 7;
    return moment;
}

RegularsReport EmptyRegulars(const RegularsRequest& request)
{
    RegularsReport report;
    report.Weeks = std::clamp(request.Weeks, 1, regulars::MaxWeeks);
    report.MinWeeks = std::clamp(request.MinWeeks, 1, report.Weeks);
    report.Moment = RegularsMoment(request.At.value_or(WeekTimeOf(request.Now)), request.Now);
    return report;
}

RegularsReport ReadRegulars(sqlite3* db, const RegularsRequest& request)
{
    RegularsReport report = EmptyRegulars(request);
    const auto weeks = static_cast<std::size_t>(report.Weeks) + 1;
    const auto moment = [&](std::size_t week) { return report.Moment - 7.0 * static_cast<double>(week); };

    std::unordered_map<std::string, Seen> channels;
    std::string key; // reused, so that a name seen before costs no allocation
    const auto seen = [&](std::string_view name) -> Seen& {
        key.assign(name);
        auto found = channels.find(key);
        if (found == channels.end()) {
            found = channels.emplace(key, Seen()).first;
            found->second.Weeks.resize(weeks);
        }
        return found->second;
    };
    const auto genre = [](Seen& s, std::string_view genre, DateTime first) {
        if (first > s.GenreTime) {
            s.Genre = genre;
            s.GenreTime = first;
        }
    };

    // Each week's window through the index on first_seen: only the broadcasts begun shortly before,
    // and only ended ones, as those on air are read below.
    Statement around(db, "SELECT name, first_seen, last_seen, genre FROM broadcast "
                         "WHERE first_seen BETWEEN ?1 AND ?2 AND last_seen >= ?3");
    for (std::size_t week = 0; week < weeks; ++week) {
        const DateTime from = moment(week) - regulars::Window;
        around.Bind(1, from - regulars::Lookback);
        around.Bind(2, moment(week) + regulars::Window + Slack);
        around.Bind(3, from - Slack);
        while (around.Step()) {
            Seen& s = seen(around.Text(0));
            s.Weeks[week].Add(around.Number(1), around.Number(2));
            genre(s, around.Text(3), around.Number(1));
        }
        around.Reset();
    }

    // The broadcasts on air, from each YP's lowest id on air; a long one counts for every week
    // it covers. A file no refresh has brought to the newer layout reads them all.
    const char* onAirSql = "SELECT b.name, b.first_seen, y.last_success, b.genre FROM yp y "
                           "JOIN broadcast b ON b.yp = y.id AND b.id >= y.on_air_from WHERE b.last_seen IS NULL";
    std::optional<Statement> onAir;
    try {
        onAir.emplace(db, onAirSql);
    } catch (const RegularsReadError&) {
        onAir.emplace(db, "SELECT b.name, b.first_seen, y.last_success, b.genre FROM broadcast b "
                          "JOIN yp y ON y.id = b.yp WHERE b.last_seen IS NULL");
    }
    while (onAir->Step()) {
        Seen& s = seen(onAir->Text(0));
        s.OnAir = true;
        const DateTime first = onAir->Number(1);
        const DateTime last = onAir->Number(2);
        for (std::size_t week = 0; week < weeks; ++week)
            if (first <= moment(week) + regulars::Window + Slack && last >= moment(week) - regulars::Window - Slack)
                s.Weeks[week].Add(first, last);
        genre(s, onAir->Text(3), first);
    }

    for (auto& [name, s] : channels) {
        std::vector<DateTime> starts;
        std::vector<DateTime> lengths;
        for (std::size_t week = 1; week < weeks; ++week) {
            if (!s.Weeks[week].Seen())
                continue;
            starts.push_back(s.Weeks[week].First - moment(week));
            lengths.push_back(s.Weeks[week].Last - s.Weeks[week].First);
        }
        if (static_cast<int>(starts.size()) < report.MinWeeks)
            continue;
        Regular& r = report.Rows.emplace_back();
        r.ChannelName = name;
        r.Genre = std::move(s.Genre);
        r.Weeks = static_cast<int>(starts.size());
        r.UsualStart = report.Moment + Median(std::move(starts));
        r.UsualLength = Median(std::move(lengths));
        r.OnAir = s.OnAir;
        const DateTime now = request.Now + Slack;
        r.Late = !r.OnAir && !s.Weeks[0].Seen() && now >= r.UsualStart + regulars::LateAfter &&
                 now < r.UsualStart + r.UsualLength;
    }
    std::sort(report.Rows.begin(), report.Rows.end(), [](const Regular& a, const Regular& b) {
        if (a.Weeks != b.Weeks)
            return a.Weeks > b.Weeks;
        if (a.UsualStart != b.UsualStart)
            return a.UsualStart < b.UsualStart;
        return a.ChannelName < b.ChannelName;
    });
    return report;
}

} // namespace kavo
