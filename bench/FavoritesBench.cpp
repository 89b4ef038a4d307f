// Favorite matching over a refresh's worth of channels, against a matcher that compiles every
// pattern anew for every test (set the pattern, then test, with no cache).
#include "BenchChannels.h"
#include "BenchRatios.h"

#include "core/FavoriteMatcher.h"
#include "platform/Cp932.h"
#include "platform/HtmlEntities.h"
#include "platform/RegularExpression.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <benchmark/benchmark.h>
#include <pcre2.h>

namespace kavo::bench {
namespace {

constexpr int Channels = 10000;

void FillFavorites(TkavoFavoriteList& favorites)
{
    const char* plain[] = {"ゲーム", "雑談", "radio", "FPS", "深夜", "作業", "初見", "声", "Live", "まったり"};
    const char* patterns[] = {"^ゲーム", "(雑談|ラジオ)\\d+$", "rpg|fps", "実況.*歓迎",   "^[^,]*Talk", "音楽\\s",
                              "ｶﾀｶﾅ",    "お絵かき(?!x)",      "\\[game", "配信.+?テスト"};
    for (int i = 0; i < 10; ++i)
        for (const bool regExp : {false, true}) {
            auto& favorite = favorites.Add(std::make_unique<TkavoFavoriteItem>());
            favorite.Enabled = true;
            favorite.RegExp = regExp;
            favorite.Word = Sjis(regExp ? patterns[i] : plain[i]);
            favorite.Channel = true;
            favorite.Description = i % 2 == 0;
            favorite.ColorEnabled = i % 3 == 0;
            favorite.Color = 0x0000FF;
        }
}

struct Fixture
{
    TkavoChList channels;
    TkavoFavoriteList favorites;
    Fixture()
    {
        FillChannels(channels, Channels);
        FillFavorites(favorites);
    }
};

const Fixture& Data()
{
    static const Fixture fixture;
    return fixture;
}

void BM_MatchFavorites(benchmark::State& state)
{
    const Fixture& data = Data();
    RegularExpression regExp;
    int favorites = 0;
    for (auto _ : state) {
        favorites = 0;
        // A refresh prepares the favorites once and matches every channel of the YP.
        const FavoriteMatcher matcher(data.favorites, "jbbs\\.shitaraba\\.net");
        for (TkavoChItem& channel : data.channels) {
            matcher.Match(channel, regExp);
            favorites += channel.Favorite;
        }
    }
    state.counters["ns_per_channel"] = benchmark::Counter(
        static_cast<double>(Channels), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["matched"] = favorites;
}
BENCHMARK(BM_MatchFavorites)->Unit(benchmark::kMillisecond);

// The reference: every regular-expression test compiles its pattern, as setting a pattern on an
// engine without a cache does; plain words are matched as the real matcher does.
bool UncachedTest(const std::string& pattern, const std::string& text)
{
    const std::string p = Cp932ToUtf8(pattern);
    const std::string t = Cp932ToUtf8(text);
    int error = 0;
    PCRE2_SIZE offset = 0;
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(p.data()), p.size(),
                                     PCRE2_UTF | PCRE2_CASELESS | PCRE2_DOLLAR_ENDONLY, &error, &offset, nullptr);
    if (!code)
        return false;
    pcre2_match_data* match = pcre2_match_data_create_from_pattern(code, nullptr);
    const int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(t.data()), t.size(), 0, 0, match, nullptr);
    pcre2_match_data_free(match);
    pcre2_code_free(code);
    return rc >= 0;
}

void BM_MatchFavoritesUncachedReference(benchmark::State& state)
{
    const Fixture& data = Data();
    RegularExpression regExp;
    for (auto _ : state) {
        for (TkavoChItem& channel : data.channels) {
            channel.Favorite = UncachedTest("jbbs\\.shitaraba\\.net", channel.ContactURL);
            for (const TkavoFavoriteItem& favorite : data.favorites) {
                std::string text = favorite.Channel ? channel.ChannelName : "";
                if (favorite.Description)
                    text += "," + channel.GenreDescription() + channel.Playing;
                const std::string decoded = HtmlDecode(text);
                const bool matches = favorite.RegExp ? UncachedTest(favorite.Word, decoded)
                                                     : WordMatches(decoded, favorite.Word, false, regExp);
                channel.Favorite = channel.Favorite || matches;
            }
        }
    }
    state.counters["ns_per_channel"] = benchmark::Counter(
        static_cast<double>(Channels), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_MatchFavoritesUncachedReference)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace kavo::bench

namespace {
const bool ratio = kavo::bench::AddRatio({"favorites: uncached reference / MatchFavorites",
                                          "BM_MatchFavoritesUncachedReference", "BM_MatchFavorites", 10, true});
}
