#include "core/ChannelSearch.h"
#include "core/FavoritePreview.h"
#include "platform/Cp932.h"
#include "platform/RegularExpression.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace kavo {
namespace {

TEST(ChannelSearch, PatternOfTheTypedInput)
{
    struct Case
    {
        const char* input; // UTF-8
        const char* pattern;
    };
    const Case cases[] = {
        {"foo bar", "foo|bar"},
        {"foo  bar", "foo||bar"}, // an empty alternative: finds everything
        {"foo\tbar", "foo|bar"},
        {"foo\xe3\x80\x80"
         "bar",
         "foo|bar"}, // ideographic space
        {"\xe3\x80\x80"
         "foo",
         "|foo"}, // not trimmed: only blanks and control characters are
        {"  \t foo \r\n", "foo"},
        {" \t ", ""},
        {"", ""},
        {"Tom & Jerry", "Tom|&amp;|Jerry"},
        {"<b>", "&lt;b&gt;"},
        {"\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88",
         "\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88"}, // a trail byte 0x5c or 0x40 stays
        {"\xe8\xa1\xa8 x", "\xe8\xa1\xa8|x"},     // "表" ends in 0x5c
    };
    RegularExpression regExp;
    for (const Case& c : cases)
        EXPECT_EQ(Cp932ToUtf8(MakeSearchPattern(Sjis(c.input), regExp)), c.pattern) << "input \"" << c.input << '"';
}

TkavoChItem Channel(const char* name, const char* genre = "", const char* comment = "")
{
    TkavoChItem channel;
    channel.ChannelName = Sjis(name);
    channel.Genre = Sjis(genre);
    channel.Comment = Sjis(comment);
    return channel;
}

TEST(ChannelSearch, WhatAPatternFinds)
{
    struct Case
    {
        const char* pattern;
        std::vector<bool> found; // for the channels below
    };
    TkavoChItem channels[] = {Channel("Alpha", "Game"), Channel("beta", "", "Tom &amp; Jerry"),
                              Channel("gamma", "talk")};
    channels[2].Description = "x";
    channels[2].Playing = "Playing: song";
    const Case cases[] = {
        {"alpha", {true, false, false}},
        {"GAME", {true, false, false}},               // the genre, letter case ignored
        {"&amp;", {false, true, false}},              // texts are compared escaped
        {"talk - x\\]Playing", {false, false, true}}, // genre, description and playing run together
        {"ammaPlay", {false, false, false}},
        {"ma\\[talk", {false, false, true}},
        {"alpha||beta", {true, true, true}}, // the empty alternative
        {"(", {false, false, false}},        // invalid: nothing
        {"  ", {false, false, false}},       // blank: nothing
        {"", {false, false, false}},
    };
    std::vector<const TkavoChItem*> rows;
    for (const TkavoChItem& channel : channels)
        rows.push_back(&channel);
    RegularExpression regExp;
    for (const Case& c : cases)
        EXPECT_EQ(SearchRows(rows, c.pattern, regExp), c.found) << "pattern \"" << c.pattern << '"';
    EXPECT_FALSE(ChannelSearch("(", regExp).Error().empty());
    EXPECT_TRUE(ChannelSearch("a|b", regExp).Error().empty());
}

TEST(ChannelSearch, FoundRowsFirstKeepTheirOrder)
{
    const std::vector<std::pair<std::vector<bool>, std::vector<int>>> cases{
        {{false, true, false, true, false}, {1, 3, 0, 2, 4}},
        {{true, false, true, false, false}, {0, 2, 1, 3, 4}}, // the first row found stays first
        {{false, false, false}, {0, 1, 2}},
        {{}, {}},
    };
    for (const auto& [found, order] : cases)
        EXPECT_EQ(FoundFirstOrder(found), order);
}

// The marks go to the list's own records, whatever else the rows hold.
TEST(ChannelSearch, MarksFoundOnTheRecordsOfTheList)
{
    TkavoChList list;
    for (const char* name : {"a", "b", "c"})
        list.Add(std::make_unique<TkavoChItem>(Channel(name))).Find = true;
    TkavoChList other;
    TkavoChItem& stranger = other.Add(std::make_unique<TkavoChItem>(Channel("x")));
    TkavoChItem copy; // claims the list as its owner without being in it
    copy.Assign(list[0]);

    MarkFound(list, {&list[2], &stranger, &list[0], &copy}, {true, false, false, true});
    std::vector<bool> marks;
    for (const TkavoChItem& channel : list)
        marks.push_back(channel.Find);
    EXPECT_EQ(marks, (std::vector<bool>{false, true, true})) << "a row left out keeps its mark";
    EXPECT_FALSE(stranger.Find);
}

TEST(FavoritePreview, CountsAndNamesWhatTheRuleMatches)
{
    TkavoChList channels;
    for (const char* name : {"Game night", "talk", "GAME day", "game three"})
        channels.Add(std::make_unique<TkavoChItem>(Channel(name)));
    channels[1].Comment = Sjis("「game」");

    struct Case
    {
        const char* word;
        bool regExp;
        bool comment;
        int count;
        std::vector<std::string> names;
        bool error;
    };
    const Case cases[] = {
        {"game", false, false, 3, {"Game night", "GAME day"}, false},
        {"game", false, true, 4, {"Game night", "talk"}, false},
        {"^game (d|t)", true, false, 2, {"GAME day", "game three"}, false},
        {"(", true, false, 0, {}, true},
        {"", true, false, 0, {}, false},
        {"(", false, false, 0, {}, false}, // a plain word is no expression
    };
    RegularExpression regExp;
    for (const Case& c : cases) {
        FavoriteFields favorite;
        favorite.Word = c.word;
        favorite.RegExp = c.regExp;
        favorite.Channel = true;
        favorite.Comment = c.comment;
        favorite.Enabled = false; // a rule being written is tried as if switched on
        const FavoritePreview preview = PreviewFavorite(favorite, channels, regExp, 2);
        EXPECT_EQ(preview.Count, c.count) << c.word;
        std::vector<std::string> names;
        for (const std::string& name : preview.Names)
            names.push_back(Cp932ToUtf8(name));
        EXPECT_EQ(names, c.names) << c.word;
        EXPECT_EQ(!preview.Error.empty(), c.error) << c.word;
    }
    for (const TkavoChItem& channel : channels)
        EXPECT_FALSE(channel.Favorite) << "the channels on air stay as they are";
}

} // namespace
} // namespace kavo
