#include "IndexGenerator.h"

#include "platform/Cp932.h"

#include <array>
#include <cstdio>
#include <random>

namespace kavo::bench {

namespace {

constexpr std::array Words = {"ゲーム",   "雑談", "配信",  "テスト",   "ラジオ", "音楽", "作業",
                              "お絵かき", "実況", "深夜",  "まったり", "初見",   "歓迎", "FPS",
                              "RPG",      "Live", "Radio", "Talk",     "声",     "ｶﾀｶﾅ"};
constexpr std::array Genres = {"ゲーム", "雑談", "音楽", "プログラミング", "", "game", "talk"};
constexpr std::array Types = {"WMV", "FLV", "MKV", "RAW", "MP3", "OGG"};
constexpr std::array Hosts = {"jbbs.shitaraba.net/bbs/read.cgi/game/12345/1600000000/", "example.com/channel/",
                              "www.youtube.com/@someone", ""};

} // namespace

std::string GenerateIndex(int channels, IndexEncoding encoding, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    auto pick = [&](const auto& list) { return std::string(list[rng() % list.size()]); };
    auto words = [&](int count) {
        std::string text;
        for (int i = 0; i < count; ++i) {
            if (i > 0)
                text += rng() % 4 == 0 ? " &amp; " : " ";
            text += pick(Words);
        }
        return text;
    };

    std::string index;
    index.reserve(static_cast<std::size_t>(channels) * 420);
    char hex[40];
    for (int n = 0; n < channels; ++n) {
        const bool info = rng() % 20 == 0;
        if (info)
            std::snprintf(hex, sizeof hex, "%032d", 0);
        else
            std::snprintf(hex, sizeof hex, "%08X%08X%08X%08X", unsigned(rng()), unsigned(rng()), unsigned(rng()),
                          unsigned(rng()));
        const int listeners = static_cast<int>(rng() % 502) - 1;
        const std::string name =
            info ? "◆YP からのお知らせ " + std::to_string(n) : words(1 + rng() % 3) + std::to_string(n);
        const std::string line = name + "<>" + hex + "<>" + std::to_string(rng() % 256) + ".0.0.1:7144<>" + "http://" +
                                 pick(Hosts) + "<>" + pick(Genres) + "<>" + words(2 + rng() % 6) + " - &lt;Open&gt;<>" +
                                 std::to_string(listeners) + "<>" + std::to_string(rng() % 30) + "<>" +
                                 std::to_string(200 + rng() % 1800) + "<>" + pick(Types) + "<>" + words(1) + "<>" +
                                 words(1) + "<>" + words(2) + "<><>" + "%E3%83%86%E3%82%B9%E3%83%88<>" +
                                 std::to_string(rng() % 120) + ":" + std::to_string(10 + rng() % 50) + "<>click<>" +
                                 words(rng() % 4) + "<>" + (rng() % 2 ? "1" : "0") + "\n";
        index += line;
    }
    return encoding == IndexEncoding::Utf8 ? index : Utf8ToCp932(index);
}

} // namespace kavo::bench
