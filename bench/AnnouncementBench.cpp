// The announcement decision and the grouping of one broadcast's listings, against the refresh.
#include "BenchChannels.h"
#include "BenchRatios.h"

#include "core/BroadcastIdentity.h"
#include "notify/AnnouncementDecision.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace kavo::bench {
namespace {

// A refresh's share: group the listings of 10,000 channels into broadcasts and decide on the 1 %
// the lists mark as new, with the state of the refreshes before.
void BM_AnnounceAndGroup(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    TkavoChList list;
    FillChannels(list, count);
    std::vector<const TkavoChItem*> marked;
    for (int i = 0; i < count; i += 100)
        marked.push_back(&list[i]);
    AnnouncementDecision decision;
    DateTime now = 46000;
    decision.Decide(now, list, {});
    for (auto _ : state) {
        now += 10 / MinutesPerDay;
        BroadcastGroups groups;
        for (const TkavoChItem& channel : list)
            benchmark::DoNotOptimize(groups.GroupOf(channel));
        benchmark::DoNotOptimize(decision.Decide(now, list, marked));
    }
}
BENCHMARK(BM_AnnounceAndGroup)->Arg(10000)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace kavo::bench

namespace {
const bool ratio = kavo::bench::AddRatio({"announce: grouping and decision / refresh pipeline, 10,000 channels",
                                          "BM_AnnounceAndGroup/10000", "BM_RefreshPipeline/10000", 0.1, false});
} // namespace
