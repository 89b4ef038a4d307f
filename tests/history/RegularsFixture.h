#pragma once

// A history of five weeks recorded through the store, refresh by refresh, for the regulars of
// Friday 21:00 and Wednesday 21:00:
//   friday     the four Fridays before, starting 21:00, 21:02, 21:08 and 21:10, 2 h 30 min each;
//   moved      20:00 to 21:00 four and three weeks before, 22:00 to 23:00 in the last two;
//   nowon      21:00 to 22:00 the three Fridays before, and on air since 21:00 today;
//   wednesday  one Wednesday 21:00 to 23:00, two weeks before.
// The last refresh is at Friday 21:30. Tests in-process take a fixed Friday; tests that run
// kavo-list, whose clock is the system's, take the Friday of the next Friday 21:00.

#include "history/HistoryStore.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace kavo::test {

// Seeds a history through the store's recording, as refreshes are recorded.
class RegularsFixture
{
public:
    static constexpr DateTime Friday = 46003; // 2025-12-12
    static constexpr DateTime Now = Friday + 21.5 / 24;

    static DateTime At(DateTime friday, int daysBefore, int hour, int minute)
    {
        return friday - daysBefore + (hour * 60 + minute) / MinutesPerDay;
    }
    static int MinuteOfDay(DateTime time)
    {
        return static_cast<int>(std::lround((time - std::floor(time + 0.5 / SecondsPerDay)) * MinutesPerDay));
    }
    static int Minutes(DateTime length) { return static_cast<int>(std::lround(length * MinutesPerDay)); }

    struct Broadcast
    {
        std::string Name;
        int Id;
        DateTime First;
        DateTime Last; // infinity: on air at the last refresh
    };

    static std::vector<Broadcast> Schedule(DateTime friday)
    {
        constexpr DateTime OnAir = std::numeric_limits<double>::infinity();
        std::vector<Broadcast> all;
        const int fridayStarts[] = {10, 8, 2, 0}; // one to four weeks before
        for (int week = 1; week <= 4; ++week) {
            const DateTime start = At(friday, 7 * week, 21, fridayStarts[week - 1]);
            all.push_back({"friday", 1, start, start + 150 / MinutesPerDay});
            const int moved = week >= 3 ? 20 : 22;
            all.push_back({"moved", 2, At(friday, 7 * week, moved, 0), At(friday, 7 * week, moved + 1, 0)});
            if (week <= 3)
                all.push_back({"nowon", 3, At(friday, 7 * week, 21, 0), At(friday, 7 * week, 22, 0)});
        }
        all.push_back({"nowon", 3, At(friday, 0, 21, 0), OnAir});
        all.push_back({"wednesday", 4, At(friday, 16, 21, 0), At(friday, 16, 23, 0)});
        return all;
    }

    // One refresh of one YP at every start and end, and a minute after every end; the last at
    // 21:30 of `friday`. Returns the store's problem, "" when it had none.
    static std::string Seed(HistoryStore& store, DateTime friday = Friday)
    {
        const std::vector<Broadcast> all = Schedule(friday);
        std::set<DateTime> times{friday + 21.5 / 24};
        for (const Broadcast& b : all) {
            times.insert(b.First);
            if (std::isfinite(b.Last)) {
                times.insert(b.Last);
                times.insert(b.Last + 1 / MinutesPerDay);
            }
        }
        for (const DateTime time : times) {
            TkavoChList list;
            for (const Broadcast& b : all) {
                if (b.First > time || b.Last < time)
                    continue;
                auto& item = list.Add(std::make_unique<TkavoChItem>());
                item.ChannelName = b.Name;
                char id[40];
                std::snprintf(id, sizeof id, "%032X", b.Id);
                item.Hash = id;
                item.Genre = b.Name + " genre";
            }
            RetrievalRecord record;
            record.Time = time;
            YpAttempt& a = record.Attempts.emplace_back();
            a.Url = "http://yp.example/";
            a.Title = "yp";
            a.Time = time;
            a.Outcome = YpOutcome::Fetched;
            a.ChList = &list;
            a.Channels = list.Count();
            store.Record(record);
        }
        store.Flush();
        return store.Problem();
    }
};

} // namespace kavo::test
