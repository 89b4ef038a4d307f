// Code page 932 conversion of texts that are all bad bytes against valid texts of the same size:
// a hostile index or template must cost time in proportion to its length, like a good one.
#include "BenchRatios.h"

#include "platform/Cp932.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

namespace kavo::bench {
namespace {

// Japanese text of about `bytes` bytes in either encoding.
std::string ValidText(std::size_t bytes, bool cp932)
{
    const std::string piece = "チャンネル名<>ジャンル - 説明です abc 123\r\n";
    std::string text;
    while (text.size() < bytes)
        text += piece;
    text.resize(bytes - bytes % piece.size());
    return cp932 ? Utf8ToCp932(text) : text;
}

void SetBytes(benchmark::State& state, const std::string& text)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_Cp932ToUtf8Valid(benchmark::State& state)
{
    const std::string text = ValidText(static_cast<std::size_t>(state.range(0)), true);
    for (auto _ : state)
        benchmark::DoNotOptimize(Cp932ToUtf8(text));
    SetBytes(state, text);
}

void BM_Cp932ToUtf8Invalid(benchmark::State& state)
{
    const std::string text(static_cast<std::size_t>(state.range(0)), '\x80');
    for (auto _ : state)
        benchmark::DoNotOptimize(Cp932ToUtf8(text));
    SetBytes(state, text);
}

void BM_Utf8ToCp932Valid(benchmark::State& state)
{
    const std::string text = ValidText(static_cast<std::size_t>(state.range(0)), false);
    for (auto _ : state)
        benchmark::DoNotOptimize(Utf8ToCp932(text));
    SetBytes(state, text);
}

void BM_Utf8ToCp932Invalid(benchmark::State& state)
{
    const std::string text(static_cast<std::size_t>(state.range(0)), '\xFF');
    for (auto _ : state)
        benchmark::DoNotOptimize(Utf8ToCp932(text));
    SetBytes(state, text);
}

constexpr std::int64_t Small = 64 << 10;
constexpr std::int64_t Large = 1 << 20;
BENCHMARK(BM_Cp932ToUtf8Valid)->Arg(Small)->Arg(Large)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Cp932ToUtf8Invalid)->Arg(Small)->Arg(Large)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Utf8ToCp932Valid)->Arg(Small)->Arg(Large)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Utf8ToCp932Invalid)->Arg(Small)->Arg(Large)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace kavo::bench

namespace {
using kavo::bench::AddRatio;
// A bad byte costs more than a good one (a replacement and a restart of the converter each), but
// its cost never grows with the length of the text.
const bool ratios[] = {
    AddRatio({"CP932 -> UTF-8: 1 MiB of bad bytes / 1 MiB of text", "BM_Cp932ToUtf8Invalid/1048576",
              "BM_Cp932ToUtf8Valid/1048576", 40, false}),
    AddRatio({"UTF-8 -> CP932: 1 MiB of bad bytes / 1 MiB of text", "BM_Utf8ToCp932Invalid/1048576",
              "BM_Utf8ToCp932Valid/1048576", 40, false}),
    AddRatio({"CP932 -> UTF-8 of bad bytes: 1 MiB / 16 x 64 KiB", "BM_Cp932ToUtf8Invalid/1048576",
              "BM_Cp932ToUtf8Invalid/65536", 16 * 1.5, false}),
};
} // namespace
