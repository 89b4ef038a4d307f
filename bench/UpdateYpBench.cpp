// The per-YP update of a cycle (change marks, log, previous list) on a large YP with 10% of its
// channels replaced since the previous cycle, against two figures of the same run: the update
// written as plain nested scans over the lists, and one copy of the list, which the update has to
// make anyway.
#include "BenchChannels.h"
#include "BenchRatios.h"

#include "core/FavoriteMatcher.h"
#include "net/UpdateYp.h"
#include "platform/RegularExpression.h"
#include "settings/TkavoSetting.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

namespace kavo::bench {
namespace {

constexpr int Channels = 10000;
constexpr DateTime CycleTime = 45000.5;

// The reference: each comparison walks the other list from its start.
void NestedScanUpdateYp(YpRecord& yp, const UpdateContext& context)
{
    const UpdateOptions& options = context.Options;
    for (TkavoChItem& channel : yp.ChList)
        context.Favorites.Match(channel, context.RegExp);

    const bool markNew = yp.ChListPrev.Valid && !(yp.NoNotify2 && yp.SuccessCount == 2);
    for (TkavoChItem& channel : yp.ChList) {
        const TkavoChItem* prev = nullptr;
        if (channel.Hash != NoHash)
            for (const TkavoChItem& candidate : yp.ChListPrev)
                if (candidate.Hash == channel.Hash) {
                    prev = &candidate;
                    break;
                }
        if (!prev) {
            channel.Diff = channel.Hash != NoHash && markNew ? TkavoDiff::New : TkavoDiff::None;
            continue;
        }
        channel.PrevGenre = prev->Genre;
        channel.PrevDescription = prev->Description;
        channel.PrevPlaying = prev->Playing;
        channel.PrevComment = prev->Comment;
        if (channel.No < prev->No)
            channel.Diff = options.RankUpOrDown2None ? TkavoDiff::None : TkavoDiff::Up;
        else if (channel.No > prev->No)
            channel.Diff = options.RankUpOrDown2None ? TkavoDiff::None : TkavoDiff::Down;
        else
            channel.Diff = TkavoDiff::None;
        if ((channel.GenreDescription() != prev->GenreDescription() || channel.Playing != prev->Playing ||
             channel.Comment != prev->Comment) &&
            options.RankUpOrDown2None)
            channel.Diff = TkavoDiff::Change;
        if (prev->Diff == TkavoDiff::New)
            channel.Diff = TkavoDiff::PreNew;
    }

    for (const TkavoChItem& prev : yp.ChListPrev) {
        bool listed = false;
        for (const TkavoChItem& channel : yp.ChList)
            if (channel.Hash == prev.Hash) {
                listed = true;
                break;
            }
        if (!listed) {
            auto copy = std::make_unique<TkavoChItem>();
            copy->Assign(prev);
            yp.ChListLog.Add(std::move(copy));
        }
    }
    const double range = options.LogRangeHour / 24.0;
    for (TkavoChItem& channel : yp.ChList)
        for (int i = 0; i < yp.ChListLog.Count(); ++i) {
            const TkavoChItem& entry = yp.ChListLog[i];
            if (entry.Hash != channel.Hash)
                continue;
            if (options.LogRankUp && (options.LogRangeHour <= 0 || context.Now < entry.TimeStamp + range))
                channel.Diff = options.RankUpOrDown2None ? TkavoDiff::None : TkavoDiff::Up;
            yp.ChListLog.Delete(i);
            break;
        }
    if (options.LogRankUp && options.LogRangeHour > 0)
        for (int i = yp.ChListLog.Count() - 1; i >= 0; --i)
            if (context.Now > yp.ChListLog[i].TimeStamp + range)
                yp.ChListLog.Delete(i);

    // Step 4 as the list copy is written: each record is checked against every one copied before
    // it (the uniqueness rule of Accept), then copied.
    TkavoChList& prev = yp.ChListPrev;
    prev.Clear();
    prev.Unique = context.Options.Unique;
    for (const TkavoChItem& channel : yp.ChList) {
        if (!prev.Accept(channel))
            continue;
        auto copy = std::make_unique<TkavoChItem>();
        copy->Assign(channel);
        prev.Add(std::move(copy));
    }
    prev.LastUpdate = yp.ChList.LastUpdate;
    prev.Valid = yp.ChList.Valid;
}

void CopyRecords(TkavoChList& target, const TkavoChList& source)
{
    // The log takes every record, so the list copy and its uniqueness rule are bypassed.
    target.Clear();
    for (const TkavoChItem& record : source) {
        auto copy = std::make_unique<TkavoChItem>();
        copy->Assign(record);
        target.Add(std::move(copy));
    }
}

// A YP as it stands before an update in the steady state of the default settings (a cycle every
// ten minutes, an hour of log): the previous cycle's list; this cycle's list with 10% of the
// channels gone, 10% new, some moved and some retitled; and a log holding the channels that ended
// within the last hour, a batch that expires now, and entries of channels that come back.
struct Scenario
{
    TkavoChList Prev;
    TkavoChList Current;
    TkavoChList Log;

    Scenario(int channels, std::uint32_t seed)
    {
        std::mt19937 random(seed);
        FillChannels(Prev, channels, seed);
        for (TkavoChItem& channel : Prev) {
            channel.TimeStamp = CycleTime - 10.0 / MinutesPerDay;
            channel.Diff = random() % 20 == 0 ? TkavoDiff::New : TkavoDiff::None;
        }
        Prev.Valid = true;

        TkavoChList fresh;
        FillChannels(fresh, channels / 10, seed + 1000);
        TkavoChList old;
        FillChannels(old, channels / 10 * 6, seed + 2000);

        std::vector<const TkavoChItem*> order;
        for (int i = 0; i < Prev.Count(); ++i)
            if (i % 10 != 3)
                order.push_back(&Prev[i]);
        for (std::size_t i = 0; i + 1 < order.size(); i += 17)
            std::swap(order[i], order[i + 1]);
        for (const TkavoChItem& channel : fresh)
            order.insert(order.begin() + static_cast<std::ptrdiff_t>(random() % (order.size() + 1)), &channel);
        int no = 0;
        for (const TkavoChItem* source : order) {
            auto copy = std::make_unique<TkavoChItem>();
            copy->Assign(*source);
            copy->No = ++no;
            copy->Diff = TkavoDiff::None;
            copy->TimeStamp = CycleTime;
            if (no % 13 == 0)
                copy->Description += "!";
            Current.Add(std::move(copy));
        }
        Current.Valid = true;

        // A third of the new channels come back, some within the hour; the other entries were last
        // listed 10 to 50 minutes ago, the oldest batch 70 minutes ago.
        for (int i = 0; i < fresh.Count(); i += 3) {
            auto entry = std::make_unique<TkavoChItem>();
            entry->Assign(fresh[i]);
            entry->TimeStamp = CycleTime - (i % 2 ? 30.0 : 90.0) / MinutesPerDay;
            Log.Add(std::move(entry));
        }
        for (int i = 0; i < old.Count(); ++i) {
            auto entry = std::make_unique<TkavoChItem>();
            entry->Assign(old[i]);
            const int batch = i / (channels / 10);
            entry->TimeStamp = CycleTime - (batch == 5 ? 70.0 : 10.0 * (batch + 1)) / MinutesPerDay;
            Log.Add(std::move(entry));
        }
    }

    void Load(YpRecord& yp) const
    {
        yp.ChListPrev.Assign(Prev);
        CopyRecords(yp.ChList, Current);
        yp.ChList.Valid = true;
        CopyRecords(yp.ChListLog, Log);
        yp.SuccessCount = 5;
    }
};

std::string Describe(const YpRecord& yp)
{
    std::string text;
    for (const TkavoChItem& c : yp.ChList)
        text += c.Hash + std::to_string(static_cast<int>(c.Diff)) + c.PrevGenre + c.PrevDescription + c.PrevPlaying +
                c.PrevComment + "\n";
    text += "log\n";
    for (const TkavoChItem& c : yp.ChListLog)
        text += c.Hash + c.ChannelName + std::to_string(c.TimeStamp) + std::to_string(static_cast<int>(c.Diff)) + "\n";
    text += "prev\n";
    for (const TkavoChItem& c : yp.ChListPrev)
        text += c.Hash + c.ChannelName + std::to_string(static_cast<int>(c.Diff)) + c.PrevGenre + "\n";
    return text;
}

// Before anything is timed: both updates must leave the same lists, record for record, over
// every option and on small lists full of duplicate and zero IDs.
bool SameResults()
{
    const std::vector<UpdateOptions> optionSets = {{false, true, 1, true},  {true, true, 1, true},
                                                   {false, false, 1, true}, {false, true, 0, true},
                                                   {true, false, 0, false}, {false, true, 2, false}};
    const FavoriteMatcher favorites;
    RegularExpression regExp;
    bool same = true;
    for (const UpdateOptions& options : optionSets) {
        for (std::uint32_t seed = 1; seed <= 4 && same; ++seed) {
            TkavoChList pool;
            FillChannels(pool, 40, seed);
            std::mt19937 random(seed);
            YpRecord fast;
            YpRecord literal;
            fast.NoNotify2 = literal.NoNotify2 = seed % 2 == 0;
            DateTime now = CycleTime;
            for (int cycle = 0; cycle < 40; ++cycle) {
                now += static_cast<double>(random() % 50) / MinutesPerDay;
                if (random() % 4 != 0) {
                    // A fresh parse: a random draw from the pool, duplicates included.
                    TkavoChList parse;
                    const int count = static_cast<int>(random() % 30);
                    for (int i = 0; i < count; ++i) {
                        auto channel = std::make_unique<TkavoChItem>();
                        channel->Assign(pool[static_cast<int>(random() % 40)]);
                        channel->No = i + 1;
                        channel->Diff = TkavoDiff::None;
                        channel->TimeStamp = now;
                        if (random() % 5 == 0)
                            channel->Hash = NoHash;
                        if (random() % 5 == 0)
                            channel->Comment = "c";
                        parse.Add(std::move(channel));
                    }
                    for (YpRecord* yp : {&fast, &literal}) {
                        CopyRecords(yp->ChList, parse);
                        yp->ChList.Valid = true;
                        ++yp->SuccessCount;
                    }
                }
                UpdateYp(fast, {options, favorites, regExp, now});
                NestedScanUpdateYp(literal, {options, favorites, regExp, now});
                if (Describe(fast) != Describe(literal)) {
                    same = false;
                    break;
                }
            }
        }
    }
    return same;
}

struct Fixture
{
    bool Same = SameResults();
    Scenario Cycle{Channels, 1};
    const FavoriteMatcher Favorites; // favorite matching has its own benchmark
    RegularExpression RegExp;
};

Fixture& Data()
{
    static Fixture fixture;
    return fixture;
}

template <class Update>
void RunUpdate(benchmark::State& state, Update update)
{
    Fixture& data = Data();
    if (!data.Same) {
        state.SkipWithError("the update and the nested-scan reference disagree");
        return;
    }
    const UpdateOptions options{false, true, 1};
    YpRecord yp;
    int logged = 0;
    for (auto _ : state) {
        state.PauseTiming();
        data.Cycle.Load(yp);
        state.ResumeTiming();
        update(yp, UpdateContext{options, data.Favorites, data.RegExp, CycleTime});
        logged = yp.ChListLog.Count();
    }
    state.counters["log"] = logged;
}

void BM_UpdateYp(benchmark::State& state)
{
    RunUpdate(state, [](YpRecord& yp, const UpdateContext& context) { UpdateYp(yp, context); });
}
BENCHMARK(BM_UpdateYp)->Unit(benchmark::kMillisecond);

void BM_UpdateYpNestedScanReference(benchmark::State& state)
{
    RunUpdate(state, [](YpRecord& yp, const UpdateContext& context) { NestedScanUpdateYp(yp, context); });
}
BENCHMARK(BM_UpdateYpNestedScanReference)->Unit(benchmark::kMillisecond);

void BM_ChListAssign(benchmark::State& state)
{
    const Fixture& data = Data();
    TkavoChList copy;
    for (auto _ : state) {
        copy.Assign(data.Cycle.Current);
        benchmark::DoNotOptimize(copy.Count());
    }
}
BENCHMARK(BM_ChListAssign)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace kavo::bench

namespace {
const bool ratioReference = kavo::bench::AddRatio(
    {"update: nested-scan reference / UpdateYp", "BM_UpdateYpNestedScanReference", "BM_UpdateYp", 50, true});
const bool ratioAssign =
    kavo::bench::AddRatio({"update: UpdateYp / one list Assign", "BM_UpdateYp", "BM_ChListAssign", 3, false});
} // namespace
