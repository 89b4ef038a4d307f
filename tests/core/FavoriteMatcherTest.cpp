#include "core/FavoriteMatcher.h"
#include "platform/Cp932.h"
#include "platform/RegularExpression.h"
#include "settings/TkavoSetting.h"
#include "support/Hex.h"

#include <gtest/gtest.h>

#include <array>
#include <random>

namespace kavo {
namespace {

struct FavoriteSetup
{
    const char* word;
    bool regExp = false;
    bool channel = true;
    bool description = false;
    bool comment = false;
    bool listeners = false;
    bool bitrate = false;
    bool enabled = true;
};

TkavoFavoriteItem& AddFavorite(TkavoFavoriteList& list, const FavoriteSetup& setup)
{
    auto& favorite = list.Add(std::make_unique<TkavoFavoriteItem>());
    favorite.Word = Sjis(setup.word);
    favorite.RegExp = setup.regExp;
    favorite.Channel = setup.channel;
    favorite.Description = setup.description;
    favorite.Comment = setup.comment;
    favorite.Listeners = setup.listeners;
    favorite.Bitrate = setup.bitrate;
    favorite.Enabled = setup.enabled;
    return favorite;
}

TkavoChItem Channel(const char* name)
{
    TkavoChItem channel;
    channel.ChannelName = Sjis(name);
    channel.Genre = "Game";
    channel.Description = "talk";
    channel.Playing = "Playing: x";
    channel.Listeners = 3;
    channel.BitrateValue = 500;
    return channel;
}

TEST(FavoriteMatcher, WhichFavoritesMatch)
{
    struct Case
    {
        const char* name;
        FavoriteSetup favorite;
        bool matches;
    };
    const std::array<Case, 17> cases = {{
        {"game night", {"GAME"}, true},
        {"game", {"ｇａｍｅ"}, false}, // only ASCII letters fold
        {"ＧＡＭＥ", {"ｇａｍｅ"}, false},
        {"Foo show", {"foo|bar", true}, true},
        {"the BAR", {"foo|bar", true}, true},
        {"game", {"GAME", false, true, false, false, false, false, false}, false}, // disabled
        {"game", {""}, false},
        {"game", {"", true}, false},  // an empty pattern is no pattern, even for ".*" minded users
        {"game", {"(", true}, false}, // invalid pattern: no match, no message
        {"abc", {"abc,[game", false, true, true}, true},
        {"abc", {"abc[", false, true, true}, false},
        {"abc", {"^abc,", true, true, true}, true},
        {"abc", {"^abc,\\[Game - talk\\]Playing: x$", true, true, true}, true},
        {"abc", {"abc,,3", false, true, false, true, true}, true}, // empty comment keeps its comma
        {"abc", {"^3$", true, false, false, true, true}, true},    // nothing before the comment
        {"Tom &amp; Jerry", {"tom & jerry"}, true},
        {"abc", {"^$", true, false}, true}, // no field: tested against the empty text
    }};
    RegularExpression regExp;
    for (const auto& c : cases) {
        TkavoFavoriteList favorites;
        AddFavorite(favorites, c.favorite);
        TkavoChItem channel = Channel(c.name);
        MatchFavorites(channel, favorites, regExp, "");
        EXPECT_EQ(channel.Favorite, c.matches) << c.name << " / " << c.favorite.word;
    }
}

TEST(FavoriteMatcher, PlainWordsMatchOnCharacterBoundariesOnly)
{
    RegularExpression regExp;
    // "ソ" ends in the byte 0x5C, "ア" in 0x41 ("A"), "ポ" in 0x7C.
    EXPECT_FALSE(WordMatches(Sjis("ソフト"), "\\", false, regExp));
    EXPECT_FALSE(WordMatches(Sjis("アニメ"), "a", false, regExp));
    EXPECT_FALSE(WordMatches(Sjis("ポ"), "|", false, regExp));
    EXPECT_TRUE(WordMatches(Sjis("ア|a"), "A", false, regExp));
    EXPECT_TRUE(WordMatches(Sjis("ゲーム実況"), Sjis("実況"), false, regExp));
}

// The matcher finds plain words through byte-wise searches and checks each candidate against the
// character structure afterwards; it must agree with folding the text and searching on character
// boundaries. Texts are drawn from bytes that make the hard cases frequent: lead bytes in runs,
// trail bytes that look like "A", "a" or "\\", and lone lead bytes at the end.
TEST(FavoriteMatcher, PlainWordsAgreeWithFoldedBoundarySearch)
{
    const std::string alphabet = "Aab,\\\x41\x61\x5C\x83\x88\x9F\xE0\xFC\x80\xA0";
    std::mt19937 random(7);
    auto draw = [&](std::size_t maxLength) {
        std::string text(std::uniform_int_distribution<std::size_t>(0, maxLength)(random), ' ');
        for (char& c : text)
            c = alphabet[std::uniform_int_distribution<std::size_t>(0, alphabet.size() - 1)(random)];
        return text;
    };
    RegularExpression regExp;
    int matches = 0;
    for (int i = 0; i < 20000; ++i) {
        TkavoChItem channel;
        channel.ChannelName = draw(12);
        std::string word = draw(3);
        if (i % 2 == 0 && !channel.ChannelName.empty()) { // often a piece of the text itself
            const std::size_t from =
                std::uniform_int_distribution<std::size_t>(0, channel.ChannelName.size() - 1)(random);
            word = channel.ChannelName.substr(from, std::uniform_int_distribution<std::size_t>(1, 3)(random));
        }
        TkavoFavoriteList favorites;
        auto& favorite = favorites.Add(std::make_unique<TkavoFavoriteItem>());
        favorite.Word = word;
        favorite.Enabled = true;
        favorite.Channel = true;
        FavoriteMatcher(favorites, "").Match(channel, regExp);
        const bool expected = !word.empty() && Cp932Find(Cp932AsciiLower(channel.ChannelName), Cp932AsciiLower(word)) !=
                                                   std::string::npos;
        ASSERT_EQ(channel.Favorite, expected) << test::Hex(channel.ChannelName) << " / " << test::Hex(word);
        matches += expected;
    }
    EXPECT_GT(matches, 2000); // the draw does reach both outcomes
}

TEST(FavoriteMatcher, LaterFavoritesOverrideColoursAndSound)
{
    RegularExpression regExp;
    TkavoFavoriteList favorites;
    auto& a = AddFavorite(favorites, {"game"});
    a.ColorEnabled = true;
    a.Color = 0x0000FF; // red
    a.FileName = "a.wav";
    a.NotNotify = true;
    auto& b = AddFavorite(favorites, {"game"});

    TkavoChItem channel = Channel("game");
    MatchFavorites(channel, favorites, regExp, "");
    EXPECT_TRUE(channel.ColorEnabled);
    EXPECT_EQ(channel.Color, 0x0000FF);
    EXPECT_EQ(channel.FileName, ""); // the last match sets the sound, even to none
    EXPECT_TRUE(channel.NotNotify);

    b.ColorEnabled = true;
    b.Color = 0xFF0000; // blue
    b.ColorTextEnabled = true;
    b.ColorText = 0x00FF00;
    MatchFavorites(channel, favorites, regExp, "");
    EXPECT_EQ(channel.Color, 0xFF0000);
    EXPECT_EQ(channel.ColorText, 0x00FF00);

    // Matching again after the favorites are gone clears every mark.
    favorites.Clear();
    MatchFavorites(channel, favorites, regExp, "");
    EXPECT_FALSE(channel.Favorite);
    EXPECT_FALSE(channel.ColorEnabled);
    EXPECT_FALSE(channel.ColorTextEnabled);
    EXPECT_FALSE(channel.NotNotify);
    EXPECT_EQ(channel.Color, clWindow);
    EXPECT_EQ(channel.ColorText, clWindowText);
}

TEST(FavoriteMatcher, BulletinBoardMark)
{
    RegularExpression regExp;
    const TkavoFavoriteList none;
    struct Case
    {
        const char* url;
        std::string pattern;
        bool bbs;
    };
    const std::string standard = TkavoSetting::DefaultBbsPattern();
    const std::array<Case, 7> cases = {{
        {"http://jbbs.shitaraba.net/bbs/read.cgi/game/1/2/", standard, true},
        {"https://egg.5ch.net/test/read.cgi/x/1/", standard, true},
        {"http://jbbs.livedoor.jp/game/1/", standard, true},
        {"http://example.com/?jbbs.shitaraba.net/", standard, false},
        {"http://jbbs.shitaraba.net/", "", false},  // no pattern, no mark
        {"http://jbbs.shitaraba.net/", "(", false}, // invalid pattern marks nothing
        {"http://x/?a&amp;b", "a&amp;b", true},     // tested as stored, without decoding
    }};
    for (const auto& c : cases) {
        TkavoChItem channel = Channel("x");
        channel.ContactURL = c.url;
        EXPECT_NO_THROW(MatchFavorites(channel, none, regExp, c.pattern));
        EXPECT_EQ(channel.ContactIsBbs, c.bbs) << c.url << " / " << c.pattern;
    }
}

} // namespace
} // namespace kavo
