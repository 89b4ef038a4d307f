#include "core/TkavoChItem.h"
#include "core/TkavoFavoriteItem.h"
#include "core/TkavoYpItem.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>

namespace kavo {
namespace {

class Records : public ::testing::Test
{
protected:
    static TkavoChItem& AddChannel(TkavoChList& list, const std::string& hash, const std::string& name,
                                   int listeners = 0)
    {
        auto item = std::make_unique<TkavoChItem>();
        item->Hash = hash;
        item->ChannelName = name;
        item->Listeners = listeners;
        return list.Add(std::move(item));
    }
};

TEST_F(Records, DerivedTexts)
{
    struct Case
    {
        const char *genre, *description, *expected;
    };
    constexpr std::array<Case, 4> cases = {
        {{"Game", "", "[Game]"}, {"", "talk", "[talk]"}, {"Game", "talk", "[Game - talk]"}, {"", "", ""}}};
    for (const auto& c : cases) {
        TkavoChItem channel;
        channel.Genre = c.genre;
        channel.Description = c.description;
        channel.PrevGenre = c.genre;
        channel.PrevDescription = c.description;
        EXPECT_EQ(channel.GenreDescription(), c.expected) << c.genre << "/" << c.description;
        EXPECT_EQ(channel.PrevGenreDescription(), c.expected);
    }
}

TEST_F(Records, BroadcastDuration)
{
    constexpr std::array<std::pair<const char*, double>, 12> cases = {{
        {"1:30", 1.5 / 24},
        {"45", 45 / 1440.0},
        {"1:2:3", 1 + 2 / 24.0 + 3 / 1440.0},
        {"120:05", 5 + 5 / 1440.0}, // over 99 hours
        {"1:30:", 1.5 / 24},        // a trailing empty piece is dropped
        {"abc", 0},
        {"1:x", 0},
        {"1::5", 0}, // an empty piece in the middle is no integer
        {"1:2:3:4", 0},
        {"1:2:3:", 1 + 2 / 24.0 + 3 / 1440.0},
        {"1:2:3::", 0},
        {"", 0},
    }};
    for (const auto& [text, days] : cases) {
        TkavoChItem channel;
        channel.BroadcastTime = text;
        EXPECT_NEAR(channel.BroadcastDuration(), days, 1e-12) << text;
    }
}

TEST_F(Records, TotalsLeaveOutNegativeCountsAndStatusTextIsCached)
{
    TkavoChList list;
    EXPECT_EQ(list.StatusText(), "Results: 0 channels, 0 listeners, 0 relays, Last update: ** sec");
    AddChannel(list, "A", "a", 5).Relays = 2;
    AddChannel(list, "B", "b", -1).Relays = -1;
    AddChannel(list, "C", "c", 3);
    EXPECT_EQ(list.TotalListeners(), 8);
    EXPECT_EQ(list.TotalRelays(), 2);
    EXPECT_EQ(list.StatusText(), "Results: 0 channels, 0 listeners, 0 relays, Last update: ** sec");
    list.Clear();
    AddChannel(list, "A", "a", 5);
    EXPECT_EQ(list.StatusText(), "Results: 1 channels, 5 listeners, 0 relays, Last update: ** sec");
}

TEST_F(Records, UniquenessRuleWhenMergingAndAssigning)
{
    TkavoChList first, second;
    AddChannel(first, "H1", "same", 1);
    AddChannel(first, "H1", "same", 2); // duplicate inside one list
    AddChannel(second, "H1", "same", 3);
    AddChannel(second, "H1", "other", 4);
    AddChannel(second, NoHash, "info", 5);
    AddChannel(second, NoHash, "info", 6); // channels without an ID collapse by name too

    for (const bool unique : {true, false}) {
        TkavoChList merged;
        merged.Unique = unique;
        merged.AddFrom(first);
        merged.AddFrom(second);
        std::vector<int> listeners;
        for (const TkavoChItem& channel : merged)
            listeners.push_back(channel.Listeners);
        EXPECT_EQ(listeners, unique ? std::vector<int>({1, 4, 5}) : std::vector<int>({1, 2, 3, 4, 5, 6}))
            << "unique " << unique;
        for (const TkavoChItem& channel : merged)
            EXPECT_EQ(channel.List, &merged);
        EXPECT_EQ(merged.Accept(first.Items(0)), !unique);
    }
}

TEST_F(Records, AssignIsADeepCopyThatKeepsListState)
{
    TkavoChList source;
    source.Valid = true;
    source.LastUpdate = 123.5;
    AddChannel(source, "H1", "name").Comment = "c";
    TkavoChList copy;
    copy.Assign(source);
    ASSERT_EQ(copy.Count(), 1);
    EXPECT_TRUE(copy.Valid);
    EXPECT_DOUBLE_EQ(copy.LastUpdate, 123.5);
    EXPECT_NE(&copy.Items(0), &source.Items(0));
    EXPECT_EQ(copy.Items(0).List, &copy);
    source.Items(0).Comment = "changed";
    EXPECT_EQ(copy.Items(0).Comment, "c");

    // Clear keeps Valid: only a successful parse or an assignment sets it.
    copy.Clear();
    EXPECT_TRUE(copy.Valid);

    // A record copied by Assign alone points at the source's owner.
    TkavoChItem loose;
    loose.Assign(source.Items(0));
    EXPECT_EQ(loose.List, &source);
    EXPECT_EQ(loose.ChannelName, "name");
}

TEST_F(Records, FindByHashIsExact)
{
    TkavoChList list;
    AddChannel(list, "ABC", "first");
    AddChannel(list, "ABC", "second");
    ASSERT_NE(list.FindByHash("ABC"), nullptr);
    EXPECT_EQ(list.FindByHash("ABC")->ChannelName, "first");
    EXPECT_EQ(list.FindByHash("abc"), nullptr);
}

TEST_F(Records, ConnectTotalsCountOnlyWhenLocalInfoIsRead)
{
    TkavoChList list;
    AddChannel(list, "A", "a").LocalStatus = "RECEIVE";
    AddChannel(list, "B", "b").LocalStatus = "IDLE";
    AddChannel(list, "C", "c");
    for (TkavoChItem& channel : list)
        channel.BitrateValue = 300;
    EXPECT_EQ(list.TotalConnectCount(false), 0);
    EXPECT_EQ(list.TotalConnectBitrate(false), 0);
    EXPECT_EQ(list.TotalConnectCount(true), 1);
    EXPECT_EQ(list.TotalConnectBitrate(true), 300);
}

// A YP may list the largest counts a field holds; the sums must not wrap around.
TEST_F(Records, TotalsOfTheLargestCountsDoNotOverflow)
{
    constexpr std::int32_t most = std::numeric_limits<std::int32_t>::max();
    TkavoChList list;
    for (const char* hash : {"A", "B", "C"}) {
        TkavoChItem& channel = AddChannel(list, hash, hash, most);
        channel.Relays = most;
        channel.BitrateValue = most;
        channel.LocalStatus = "RECEIVE";
    }
    const std::int64_t sum = std::int64_t{3} * most;
    EXPECT_EQ(list.TotalListeners(), sum);
    EXPECT_EQ(list.TotalRelays(), sum);
    EXPECT_EQ(list.StatusText(), "Results: 3 channels, 6442450941 listeners, 6442450941 relays, Last update: ** sec");
    EXPECT_EQ(list.TotalConnectBitrate(true), sum);
}

TEST_F(Records, YpAssignCopiesSettingsStateAndLists)
{
    TypedList<YpRecord> yps;
    auto& yp = yps.Add(std::make_unique<YpRecord>());
    yp.Url = "http://yp.example/";
    yp.SuccessCount = 3;
    yp.ChList.Valid = true;
    AddChannel(yp.ChList, "H", "n");
    AddChannel(yp.ChListLog, "L", "ended");

    TypedList<YpRecord> copy;
    copy.Assign(yps);
    ASSERT_EQ(copy.Count(), 1);
    const YpRecord& c = copy.Items(0);
    EXPECT_EQ(c.Url, "http://yp.example/");
    EXPECT_EQ(c.SuccessCount, 3);
    EXPECT_TRUE(c.ChList.Valid);
    EXPECT_EQ(c.ChList.Count(), 1);
    EXPECT_EQ(c.ChListLog.Items(0).ChannelName, "ended");
    EXPECT_EQ(c.List, &copy);

    // A configured entry copies its configuration only.
    TkavoYpList configured;
    configured.Add(std::make_unique<TkavoYpItem>()).Assign(c);
    EXPECT_EQ(static_cast<const YpFields&>(configured[0]), static_cast<const YpFields&>(c));
    EXPECT_EQ(configured.IndexOfUrl("http://yp.example/"), 0);
    EXPECT_EQ(configured.IndexOfUrl("HTTP://yp.example/"), -1);
    EXPECT_FALSE(configured.HasUrl("http://other/"));
}

TEST_F(Records, FavoriteListCopiesItsRecordsAndValidity)
{
    TkavoFavoriteList favorites;
    // Assign copies through the records' own type, which CreateItem must give.
    EXPECT_NE(dynamic_cast<TkavoFavoriteItem*>(favorites.CreateItem().get()), nullptr);

    auto& favorite = favorites.Add(std::make_unique<TkavoFavoriteItem>());
    favorite.Word = "w";
    favorite.ColorText = 255;
    favorite.NotNotify = true;
    favorites.Valid = true;
    TkavoFavoriteList copy;
    copy.Assign(favorites);
    EXPECT_TRUE(copy.Valid);
    EXPECT_EQ(copy.Items(0).Word, "w");
    EXPECT_EQ(copy.Items(0).ColorText, 255);
    EXPECT_TRUE(copy.Items(0).NotNotify);
}

} // namespace
} // namespace kavo
