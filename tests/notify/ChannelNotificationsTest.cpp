#include "notify/NotifyRules.h"
#include "platform/Cp932.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace kavo {
namespace {

struct ChannelRow
{
    std::string Text; // what the template gives for the channel
    std::string Sound;
    bool Favorite = false;
    bool NotNotify = false;
    bool ListDisable = false;
};

struct Expected
{
    std::string Text;
    std::vector<std::string> Sounds;
};

struct ChannelCase
{
    const char* Name;
    std::vector<ChannelRow> Channels;
    bool FavoritesOnly;
    std::vector<Expected> Items;
};

std::string Text(char c, std::size_t bytes)
{
    return std::string(bytes, c);
}

ChannelRow Ch(std::string text, std::string sound = "")
{
    return {std::move(text), std::move(sound), false, false, false};
}

ChannelRow Favorite(std::string text, std::string sound = "")
{
    return {std::move(text), std::move(sound), true, false, false};
}

const std::string CrLf = "\r\n";

std::vector<ChannelCase> ChannelCases()
{
    return {
        {"three 100-byte texts give two items",
         {Ch(Text('a', 100)), Ch(Text('b', 100)), Ch(Text('c', 100))},
         false,
         {{Text('a', 100) + CrLf + Text('b', 100), {}}, {Text('c', 100), {}}}},
        {"a 300-byte text is one item", {Ch(Text('a', 300))}, false, {{Text('a', 300), {}}}},
        {"a long text after a short one starts its own item",
         {Ch("short"), Ch(Text('a', 300)), Ch("tail")},
         false,
         {{"short", {}}, {Text('a', 300), {}}, {"tail", {}}}},
        {"255 bytes without the separator still join",
         {Ch(Text('a', 128)), Ch(Text('b', 127))},
         false,
         {{Text('a', 128) + CrLf + Text('b', 127), {}}}},
        {"256 bytes split",
         {Ch(Text('a', 128)), Ch(Text('b', 128))},
         false,
         {{Text('a', 128), {}}, {Text('b', 128), {}}}},
        {"an empty text still takes its line", {Ch("x"), Ch(""), Ch("y")}, false, {{"x" + CrLf + CrLf + "y", {}}}},
        {"do-not-notify and disabled channels are left out",
         {{"x", "", false, true, false}, {"y", "", false, false, true}, Ch("z")},
         false,
         {{"z", {}}}},
        {"favorites only keeps the favorites", {Ch("x"), Favorite("y")}, true, {{"y", {}}}},
        {"favorites only without favorites queues nothing", {Ch("x"), Ch("y")}, true, {}},
        {"a shared favorite sound is listed for each channel",
         {Favorite("x", "fav.wav"), Favorite("y", "fav.wav")},
         false,
         {{"x" + CrLf + "y", {"fav.wav", "fav.wav"}}}},
        {"sounds go with the item their channel lands in",
         {Ch(Text('a', 100), "1.wav"), Ch(Text('b', 100), "2.wav"), Ch(Text('c', 100), "3.wav")},
         false,
         {{Text('a', 100) + CrLf + Text('b', 100), {"1.wav", "2.wav"}}, {Text('c', 100), {"3.wav"}}}},
    };
}

TEST(ChannelNotifications, CollectsChannelTextsIntoItems)
{
    for (const ChannelCase& test : ChannelCases()) {
        TkavoChList list;
        for (const ChannelRow& row : test.Channels) {
            auto& channel = list.Add(std::make_unique<TkavoChItem>());
            channel.ChannelName = row.Text;
            channel.FileName = row.Sound;
            channel.Favorite = row.Favorite;
            channel.NotNotify = row.NotNotify;
            channel.ListDisable = row.ListDisable;
        }
        const std::string title = Sjis("通知");
        const auto items = BuildChannelNotifications(list, test.FavoritesOnly, title,
                                                     [](const TkavoChItem& channel) { return channel.ChannelName; });
        EXPECT_EQ(items.size(), test.Items.size()) << test.Name;
        if (items.size() != test.Items.size())
            continue;
        for (std::size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(items[i].Text, test.Items[i].Text) << test.Name << ", item " << i;
            EXPECT_EQ(items[i].Sounds, test.Items[i].Sounds) << test.Name << ", item " << i;
            EXPECT_EQ(items[i].Title, title) << test.Name;
            EXPECT_EQ(items[i].Kind, static_cast<std::uint8_t>(NotifyKind::Information)) << test.Name;
            // Each item carries the channels whose texts it holds, for its actions.
            std::string names;
            for (const NotifyChannel& channel : items[i].Channels)
                names += (&channel == &items[i].Channels.front() ? "" : CrLf) + channel.ChannelName;
            EXPECT_EQ(names, items[i].Text) << test.Name << ", item " << i;
        }
    }
}

// A refresh where every channel of a large YP is new: the first items, then one that counts the
// rest, whose texts are never rendered and whose sounds never play.
TEST(ChannelNotifications, AFloodEndsInOneSummary)
{
    TkavoChList list;
    for (int i = 0; i < 1500; ++i) {
        auto& channel = list.Add(std::make_unique<TkavoChItem>());
        channel.ChannelName = std::to_string(i) + Text('x', 200); // one channel an item
        channel.FileName = "fav.wav";
    }
    struct Case
    {
        int MaxItems;
        std::size_t Items;
        const char* Last; // UTF-8
    };
    for (const Case& c : {Case{10, 11, "新着 1490件 ほか"}, Case{1, 2, "新着 1499件 ほか"}, Case{0, 1500, nullptr},
                          Case{2000, 1500, nullptr}}) {
        int rendered = 0;
        const auto items = BuildChannelNotifications(
            list, false, "t",
            [&](const TkavoChItem& channel) {
                ++rendered;
                return channel.ChannelName;
            },
            c.MaxItems);
        ASSERT_EQ(items.size(), c.Items) << c.MaxItems;
        if (!c.Last)
            continue;
        EXPECT_EQ(items.back().Text, Sjis(c.Last)) << c.MaxItems;
        EXPECT_TRUE(items.back().Sounds.empty()) << c.MaxItems;
        EXPECT_EQ(items.front().Sounds, std::vector<std::string>{"fav.wav"}) << c.MaxItems;
        EXPECT_LE(rendered, c.MaxItems + 1) << c.MaxItems;
    }
}

// Rows as "name:diff" with "!" for a channel the favorites hide, in the view's order.
struct ChosenCase
{
    const char* Name;
    std::vector<const char*> Rows;
    int Rank2;
    std::string Chosen;
};

TEST(ChannelNotifications, ChoosesTheChannelsOfRank2InDisplayOrder)
{
    const std::vector<ChosenCase> cases = {
        {"new channels in the view's order, not the list's", {"b:4", "a:0", "c:4"}, 4, "b c"},
        {"hidden channels are left out", {"a:4", "b:4!", "c:4"}, 4, "a c"},
        {"the previous refresh's new channels", {"a:4", "b:3", "c:3"}, 3, "b c"},
        {"any state may be chosen", {"a:1", "b:5", "c:1"}, 1, "a c"},
        {"none of that state", {"a:0", "b:4"}, 5, ""},
        {"an empty view", {}, 4, ""},
    };
    for (const ChosenCase& test : cases) {
        TkavoChList list;
        std::vector<const TkavoChItem*> rows;
        for (const std::string row : test.Rows) {
            auto& channel = list.Add(std::make_unique<TkavoChItem>());
            channel.ChannelName = row.substr(0, row.find(':'));
            channel.Diff = static_cast<TkavoDiff>(row[row.find(':') + 1] - '0');
            channel.ListDisable = row.back() == '!';
            rows.push_back(&channel);
        }
        std::string chosen;
        for (const TkavoChItem* channel : ChannelsToNotify(rows, test.Rank2))
            chosen += (chosen.empty() ? "" : " ") + channel->ChannelName;
        EXPECT_EQ(chosen, test.Chosen) << test.Name;
    }
}

struct SettingCase
{
    const char* Value;
    int Milliseconds;
};

TEST(NotifySettings, BalloonTimeFallsBackToTenSeconds)
{
    constexpr std::array<SettingCase, 11> cases = {{
        {"10", 10000},
        {"3", 3000},
        {" 4 ", 4000},
        {"+2", 2000},
        {"abc", 10000},
        {"", 10000},
        {"1.5", 10000},
        {"0", 10000},
        {"-5", 10000},
        {"99999999999", 10000},
        {"3000000", 2147483000},
    }};
    for (const SettingCase& test : cases)
        EXPECT_EQ(BalloonMilliseconds(test.Value), test.Milliseconds) << '"' << test.Value << '"';
}

TEST(NotifySettings, SpeechSpeedFallsBackTo140)
{
    EXPECT_EQ(SpeechSpeed("200"), 200);
    EXPECT_EQ(SpeechSpeed("0"), 0);
    EXPECT_EQ(SpeechSpeed("fast"), 140);
    EXPECT_EQ(SpeechSpeed(""), 140);
}

struct WidenCase
{
    const char* Name;
    const char* Input;    // UTF-8, converted to CP932
    const char* Expected; // UTF-8
};

TEST(SpeechText, WidensHalfWidthCharacters)
{
    constexpr std::array<WidenCase, 9> cases = {{
        {"ASCII and blank", "abc 1!~", "ａｂｃ　１！～"},
        {"voiced kana join their letter", "ｶﾞｷﾞﾄﾞﾊﾞ", "ガギドバ"},
        {"semi-voiced kana join their letter", "ﾊﾟﾋﾟﾎﾟ", "パピポ"},
        {"u with a voiced mark", "ｳﾞｧ", "ヴァ"},
        {"a mark that joins nothing stays a mark", "ｶﾞﾞｱﾟﾞ", "ガ゛ア゜゛"},
        {"punctuation", "｢ｱ｣｡､･ｰ", "「ア」。、・ー"},
        {"line breaks stay", "a\r\nb", "ａ\r\nｂ"},
        {"full-width text stays", "漢字カナ", "漢字カナ"},
        {"empty", "", ""},
    }};
    for (const WidenCase& test : cases)
        EXPECT_EQ(Cp932ToUtf8(WidenForSpeech(Sjis(test.Input))), test.Expected) << test.Name;
}

TEST(SpeechText, CutsTheWidenedTextAtTheLimit)
{
    const std::string widened = WidenForSpeech(std::string(600, 'a'));
    EXPECT_EQ(widened.size(), SpeechTextLimit);
    EXPECT_EQ(Cp932ToUtf8(widened.substr(0, 2)), "ａ");
    // An odd limit position must not split a double-byte character.
    const std::string mixed = WidenForSpeech("\r" + std::string(600, 'a'));
    EXPECT_EQ(mixed.size(), SpeechTextLimit - 1);
}

} // namespace
} // namespace kavo
