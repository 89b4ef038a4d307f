// The refresh pipeline of one YP (UTF-8 to CP932, parsing, merging into the combined list) against
// its floor in the same run: the same conversion plus splitting the same bytes into "<>" fields.
#include "BenchRatios.h"
#include "IndexGenerator.h"

#include "core/TkavoYpItem.h"
#include "net/ChannelMerge.h"
#include "net/IndexParser.h"
#include "platform/Cp932.h"
#include "platform/RegularExpression.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <malloc.h>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace kavo::bench {
namespace {

const std::string& Index(int channels, std::uint32_t seed = 7)
{
    static std::map<std::pair<int, std::uint32_t>, std::string> indexes;
    auto& index = indexes[{channels, seed}];
    if (index.empty())
        index = "\xEF\xBB\xBF" + GenerateIndex(channels, IndexEncoding::Utf8, seed);
    return index;
}

void SetCounters(benchmark::State& state, const std::string& index)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * index.size()));
    state.counters["ns_per_channel"] =
        benchmark::Counter(static_cast<double>(state.range(0)),
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_RefreshFloor(benchmark::State& state)
{
    const std::string& index = Index(static_cast<int>(state.range(0)));
    std::vector<std::string_view> fields;
    for (auto _ : state) {
        const std::string text = Utf8ToCp932(StripUtf8Bom(index));
        std::size_t count = 0;
        ForEachLine(text, [&](std::string_view line) {
            SplitFields(line, "<>", fields);
            count += fields.size();
        });
        benchmark::DoNotOptimize(count);
    }
    SetCounters(state, index);
}
BENCHMARK(BM_RefreshFloor)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_RefreshPipeline(benchmark::State& state)
{
    const std::string& index = Index(static_cast<int>(state.range(0)));
    YpRecord yp;
    yp.Url = "http://yp.example.net/";
    yp.ChType = "wmv|raw|flv|mkv|mp3|ogg";
    RegularExpression regExp;
    TkavoChList combined;
    for (auto _ : state) {
        const std::string text = Utf8ToCp932(StripUtf8Bom(index));
        ReplaceFromIndex(yp, text, regExp);
        MergeChannelLists(combined, {&yp.ChList}, true);
        benchmark::DoNotOptimize(combined.Count());
    }
    if (combined.Count() != state.range(0))
        state.SkipWithError("the parser dropped channels");
    SetCounters(state, index);
}
BENCHMARK(BM_RefreshPipeline)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// Every refresh brings other texts than the one before, so the reused records' buffers fit less
// often than with the same index again.
void BM_RefreshPipelineChanging(benchmark::State& state)
{
    const std::string& first = Index(static_cast<int>(state.range(0)), 7);
    const std::string& second = Index(static_cast<int>(state.range(0)), 8);
    YpRecord yp;
    yp.Url = "http://yp.example.net/";
    yp.ChType = "wmv|raw|flv|mkv|mp3|ogg";
    RegularExpression regExp;
    TkavoChList combined;
    bool odd = false;
    for (auto _ : state) {
        odd = !odd;
        const std::string text = Utf8ToCp932(StripUtf8Bom(odd ? first : second));
        ReplaceFromIndex(yp, text, regExp);
        MergeChannelLists(combined, {&yp.ChList}, true);
        benchmark::DoNotOptimize(combined.Count());
    }
    SetCounters(state, first);
}
BENCHMARK(BM_RefreshPipelineChanging)->Arg(10000)->Unit(benchmark::kMillisecond);

// Heap bytes per channel once a YP's index is parsed and merged into the combined list, as a refresh
// leaves them: for generated channels with realistic texts, and for the smallest lines a YP can send
// (up to the cap of one YP). The figures are counters; the time is of no interest.
void MeasureMemory(benchmark::State& state, const std::string& text, int channels)
{
    RegularExpression regExp;
    double bytes = 0;
    for (auto _ : state) {
        const std::size_t before = mallinfo2().uordblks;
        YpRecord yp;
        yp.Url = "http://yp.example.net/";
        yp.ChType = "";
        ReplaceFromIndex(yp, text, regExp);
        TkavoChList combined;
        MergeChannelLists(combined, {&yp.ChList}, false);
        bytes = static_cast<double>(mallinfo2().uordblks - before);
        if (combined.Count() != channels)
            state.SkipWithError("the parser dropped channels");
    }
    state.counters["bytes_per_channel"] = bytes / channels;
    state.counters["index_bytes_per_channel"] = static_cast<double>(text.size()) / channels;
    state.counters["MiB_total"] = bytes / (1 << 20);
}

void BM_MemoryPerChannel(benchmark::State& state)
{
    const int channels = static_cast<int>(state.range(0));
    MeasureMemory(state, Utf8ToCp932(StripUtf8Bom(Index(channels))), channels);
}
BENCHMARK(BM_MemoryPerChannel)->Arg(10000)->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_MemoryPerMinimalChannel(benchmark::State& state)
{
    const int channels = static_cast<int>(state.range(0));
    std::string line = "c<>1";
    for (int field = 2; field < IndexFieldCount - 1; ++field)
        line += "<>";
    line += "<>0\n";
    std::string text;
    text.reserve(line.size() * static_cast<std::size_t>(channels));
    for (int i = 0; i < channels; ++i)
        text += line;
    MeasureMemory(state, text, channels);
}
BENCHMARK(BM_MemoryPerMinimalChannel)->Arg(MaxChannelsPerYp)->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace kavo::bench

namespace {
using kavo::bench::AddRatio;
const bool ratio100 =
    AddRatio({"refresh: pipeline / floor, 100 channels", "BM_RefreshPipeline/100", "BM_RefreshFloor/100", 3, false});
const bool ratio1000 = AddRatio(
    {"refresh: pipeline / floor, 1,000 channels", "BM_RefreshPipeline/1000", "BM_RefreshFloor/1000", 3, false});
const bool ratio10000 = AddRatio(
    {"refresh: pipeline / floor, 10,000 channels", "BM_RefreshPipeline/10000", "BM_RefreshFloor/10000", 3, false});
const bool ratioChanging = AddRatio({"refresh: pipeline, changing texts / floor, 10,000 channels",
                                     "BM_RefreshPipelineChanging/10000", "BM_RefreshFloor/10000", 3, false});
} // namespace
