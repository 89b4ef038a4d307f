#include "CommonTestSupport.h"

#include "common/Templates.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <vector>

namespace kavo {
namespace {

using test::AddSampleChannel;
using test::CommonFixture;

// A tag as the expansion order lists it: its pattern, the spellings tried, and its value for the
// sample channel in the sample program folder.
struct TagRow
{
    const char* Pattern;
    std::vector<const char*> Spellings;
    std::string Value;
};

class TagExpansion : public ::testing::Test, protected CommonFixture
{
protected:
    void SetUp() override
    {
        Setting().Etc.PeerCast = "/opt/peercast/bin/peercast";
        Setting().Etc.Browser = "/usr/bin/firefox";
        Setting().URL.LocalChInfo = true;
        common = Create();
        common->FindValue2 = "a|b";
        common->FindValueSource = [] { return std::string("find&amp;me"); };
        channel = &AddSampleChannel(list);
        list.LastUpdate = SampleTimeOfList;
    }

    static constexpr DateTime SampleTimeOfList = 45357.5; // 2024-03-06 12:00

    // Path tags, then channel tags, in their order of expansion.
    std::vector<TagRow> PathRows() const
    {
        const std::string folder = Folder.Path();
        return {
            {"<(template|skin)Path/>", {"<templatepath/>", "<SkinPath/>", "<TEMPLATEPATH/>"}, folder + "/templates/"},
            {"<exepath/>", {"<exepath/>"}, folder + "/"},
            {"<exename/>", {"<ExeName/>"}, "kavo"},
            {"<peercastpath/>", {"<peercastpath/>"}, "/opt/peercast/bin/"},
            {"<peercastname/>", {"<peercastname/>"}, "peercast"},
            {"<browserpath/>", {"<browserpath/>"}, "/usr/bin/"},
            {"<browsername/>", {"<browsername/>"}, "firefox"},
            {"<findvalue2/>", {"<findvalue2/>"}, "a|b"},
        };
    }

    std::vector<TagRow> ChannelRows() const
    {
        std::vector<TagRow> rows = PathRows();
        const std::vector<TagRow> channelRows = {
            {"<channelname/>", {"<channelname/>", "<ChannelName/>", "<CHANNELNAME/>"}, Sjis("テスト&amp;局")},
            {"<description/>", {"<description/>"}, Sjis("[Game - 雑談]")},
            {"<playing/>", {"<playing/>"}, "Playing: x"},
            {"<contact/>", {"<contact/>"}, "http://bbs.example.net/1/"},
            {"<listener/>", {"<listener/>"}, "12 / 3"},
            {"<chat/>", {"<chat/>"}, "http://yp.example.net/chat.php?cn=a"},
            {"<statistics/>", {"<statistics/>"}, "http://yp.example.net/getgmt.php?cn=a"},
            {"<type/>", {"<type/>"}, "WMV"},
            {"<stream/>", {"<stream/>"}, "http://localhost:7144/pls/0123456789ABCDEF0123456789ABCDEF?tip=1.2.3.4:7144"},
            {"<directstream/>",
             {"<directstream/>"},
             "http://localhost:7144/stream/0123456789ABCDEF0123456789ABCDEF.wmv"},
            {"<(no|num)/>", {"<no/>", "<num/>", "<NUM/>"}, "7"},
            {"<(diff|rank)/>", {"<diff/>", "<rank/>", "<Rank/>"}, Sjis("新着")},
            {"<bitrate/>", {"<bitrate/>"}, "500 kbps"},
            {"<timestamp/>", {"<timestamp/>"}, "03/05 14:07"},
            {"<hash/>", {"<hash/>", "<HASH/>"}, "0123456789ABCDEF0123456789ABCDEF"},
            {"<results/>", {"<results/>"}, ""},
            {"<ypaddr/>", {"<ypaddr/>"}, "http://yp.example.net/"},
            {"<color/>", {"<color/>"}, "#123456"},
            {"<colortext/>", {"<colortext/>"}, "#ABCDEF"},
            {"<broadcasttime/>", {"<broadcasttime/>"}, "1:23"},
            {"<kyasukostatus/>", {"<kyasukostatus/>"}, "OK"},
            {"<comment/>", {"<comment/>"}, Sjis("コメント")},
            {"<find/>", {"<find/>"}, "True"},
            {"<findvalue/>", {"<findvalue/>"}, "find&amp;me"},
        };
        rows.insert(rows.end(), channelRows.begin(), channelRows.end());
        return rows;
    }

    std::vector<TagRow> ListRows() const
    {
        std::vector<TagRow> rows = PathRows();
        const std::vector<TagRow> listRows = {
            {"<results/>", {"<results/>"}, ""},
            {"<totalresults/>",
             {"<totalresults/>"},
             "Results: 1 channels, 12 listeners, 3 relays, Last update: ** sec"},
            {"<lastupdate/>", {"<lastupdate/>"}, "03/06 12:00"},
            {"<totalconnectbitrate/>", {"<totalconnectbitrate/>"}, "0"},
            {"<totalconnectcount/>", {"<totalconnectcount/>"}, "0"},
        };
        rows.insert(rows.end(), listRows.begin(), listRows.end());
        return rows;
    }

    // The step-by-step expansion: one ReplaceTag per tag, each over the text the last one left.
    std::string StepByStep(std::string text, const std::vector<TagRow>& rows, bool skipResults = false)
    {
        for (const TagRow& row : rows) {
            if (skipResults && std::string_view(row.Pattern) == "<results/>")
                continue;
            text = common->ReplaceTag(text, row.Pattern, row.Value);
        }
        return text;
    }

    std::unique_ptr<TkavoCommon> common;
    TkavoChList list;
    TkavoChItem* channel = nullptr;
};

TEST_F(TagExpansion, EveryChannelTagInEverySpelling)
{
    for (const TagRow& row : ChannelRows())
        for (const char* spelling : row.Spellings) {
            const std::string text = std::string("[") + spelling + "]";
            EXPECT_EQ(common->ExpandChannelTags(channel, text), "[" + row.Value + "]") << spelling;
            EXPECT_EQ(common->ReplaceTag(text, row.Pattern, row.Value), "[" + row.Value + "]") << spelling;
        }
}

TEST_F(TagExpansion, EveryListTag)
{
    for (const TagRow& row : ListRows())
        for (const char* spelling : row.Spellings)
            EXPECT_EQ(common->ExpandListTags(list, spelling), row.Value) << spelling;
    // Channel tags mean nothing to a list, list tags nothing to a channel; path tags to both.
    EXPECT_EQ(common->ExpandListTags(list, "<hash/><exename/>"), "<hash/>kavo");
    EXPECT_EQ(common->ExpandChannelTags(channel, "<lastupdate/><exename/>"), "<lastupdate/>kavo");
    EXPECT_EQ(common->ExpandPathTags("<hash/><exename/><inputbox/>"), "<hash/>kavo<inputbox/>");
}

TEST_F(TagExpansion, ConnectedTotalsCountLocalChannels)
{
    channel->LocalStatus = "RECEIVE";
    channel->BitrateValue = 500;
    auto& idle = list.Add(std::make_unique<TkavoChItem>());
    idle.LocalStatus = "IDLE";
    idle.BitrateValue = 300;
    EXPECT_EQ(common->ExpandListTags(list, "<totalconnectbitrate/>/<totalconnectcount/>"), "500/1");
    // The largest bitrates a YP can list add up without wrapping around.
    channel->BitrateValue = std::numeric_limits<std::int32_t>::max();
    idle.LocalStatus = "RECEIVE";
    idle.BitrateValue = std::numeric_limits<std::int32_t>::max();
    EXPECT_EQ(common->ExpandListTags(list, "<totalconnectbitrate/>/<totalconnectcount/>"), "4294967294/2");
    Setting().URL.LocalChInfo = false;
    EXPECT_EQ(common->ExpandListTags(list, "<totalconnectbitrate/>/<totalconnectcount/>"), "0/0");
}

TEST_F(TagExpansion, ChannelLessValues)
{
    constexpr std::array<std::pair<const char*, const char*>, 10> cases = {{
        {"<channelname/>|<description/>|<hash/>", "||"},
        {"<listener/>", "0 / 0"},
        {"<no/>", "0"},
        {"<kyasukostatus/>", "click"},
        {"<find/>", "False"},
        {"<findvalue/>", ""},
        {"<timestamp/>", "12/30 00:00"},
        {"<results/>", "<results/>"}, // a record of no list keeps the tag
        {"$ee{<results/>}", "$ee{<results/>}"},
        {"<color/><colortext/>", "#FFECC4#000000"},
    }};
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(common->ExpandChannelTags(nullptr, text), expected) << text;
    EXPECT_EQ(common->ExpandChannelTags(nullptr, "<rank/>"), Sjis("変化なし"));

    TkavoChItem loose; // belongs to no list either
    loose.ChannelName = "x";
    EXPECT_EQ(common->ExpandChannelTags(&loose, "<channelname/><results/>"), "x<results/>");
}

TEST_F(TagExpansion, Colors)
{
    struct Case
    {
        ColorValue Color;
        bool Enabled;
        const char* Expected;
    };
    constexpr std::array<Case, 5> cases = {{
        {0x563412, true, "#123456"},
        {0x000000, true, "#000000"},
        {0x563412, false, "#FFECC4"},
        // A system colour has no RGB value of its own: the page's default, not "#050000".
        {clWindow, true, "#FFECC4"},
        {0x0A0B0C, true, "#0C0B0A"},
    }};
    for (const Case& c : cases) {
        channel->Color = c.Color;
        channel->ColorEnabled = c.Enabled;
        EXPECT_EQ(common->ExpandChannelTags(channel, "<color/>"), c.Expected) << std::hex << c.Color;
    }
    channel->ColorText = clWindowText;
    EXPECT_EQ(common->ExpandChannelTags(channel, "<colortext/>"), "#000000");
}

TEST_F(TagExpansion, EscapeFormsAndTheirPrecedence)
{
    channel->ChannelName = Sjis("C:\\dir\\表"); // the trail byte of 表 is 0x5C
    constexpr std::array<std::pair<const char*, const char*>, 7> cases = {{
        {"$ee{<channelname/>}", "C:/dir/表"},
        {"$es{<channelname/>}", "C:\\\\dir\\\\表"},
        {"$EE{<ChannelName/>}", "C:/dir/表"},
        // ee wins: plain and es occurrences of the same tag stay as written.
        {"$ee{<channelname/>} <channelname/> $es{<channelname/>}", "C:/dir/表 <channelname/> $es{<channelname/>}"},
        // es without ee: the plain tag stays.
        {"$es{<channelname/>} <channelname/>", "C:\\\\dir\\\\表 <channelname/>"},
        {"$es{<CHANNELNAME/>}}", "C:\\\\dir\\\\表}"},
        {"$ee{<channelname/>", "$ee{C:\\dir\\表"},
    }};
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(common->ExpandChannelTags(channel, Sjis(text)), Sjis(expected)) << text;
        EXPECT_EQ(common->ReplaceTag(Sjis(text), "<channelname/>", channel->ChannelName), Sjis(expected)) << text;
    }
    // A form of one tag does not affect another.
    EXPECT_EQ(common->ExpandChannelTags(channel, "$ee{<channelname/>}<type/>$es{<hash/>}<hash/>"),
              Sjis("C:/dir/表WMV") + channel->Hash + "<hash/>");
    // The folder tags with the escape forms, as file URLs and script literals use them.
    const std::string folder = Folder.Path() + "/templates/";
    EXPECT_EQ(common->ExpandPathTags("file://$ee{<skinpath/>}x"), "file://" + folder + "x");
}

TEST_F(TagExpansion, EmptyValueRemovesAndDollarStaysLiteral)
{
    channel->Comment.clear();
    EXPECT_EQ(common->ExpandChannelTags(channel, "a<comment/>b<COMMENT/>c"), "abc");
    EXPECT_EQ(common->ExpandChannelTags(channel, "a<comment/>b$es{<comment/>}c"), "a<comment/>bc");
    EXPECT_EQ(common->ReplaceTag("a<comment/>b", "<comment/>", ""), "ab");
    EXPECT_EQ(common->ReplaceTag("abc", "<comment/>", "x"), "abc");

    channel->ChannelName = "$1 $& $$";
    EXPECT_EQ(common->ExpandChannelTags(channel, "<channelname/>"), "$1 $& $$");
    EXPECT_EQ(common->ReplaceTag("<channelname/>", "<channelname/>", "$1 $& $$"), "$1 $& $$");
}

TEST_F(TagExpansion, NotTags)
{
    constexpr std::array<const char*, 7> texts = {
        "<channelname />", "<channelname>", "< channelname/>", "<channelname/", "<foo/>", "<hash/ >", "<>",
    };
    for (const char* text : texts)
        EXPECT_EQ(common->ExpandChannelTags(channel, text), text) << text;
    // A "<" that starts nothing is skipped, the tag right after it is found.
    EXPECT_EQ(common->ExpandChannelTags(channel, "<<type/>>"), "<WMV>");
    // A double-byte character whose trail byte looks like ASCII does not hide or fake a tag.
    EXPECT_EQ(common->ExpandChannelTags(channel, Sjis("表<type/>ソ<type/>")), Sjis("表WMVソWMV"));
}

// Values sent by a YP are data: nothing inside them is expanded.
TEST_F(TagExpansion, ValuesAreNeverScannedForTags)
{
    constexpr std::array<std::pair<const char*, const char*>, 4> cases = {{
        {"<stream/>", "<stream/>"},
        {"$ee{<hash/>}", "$ee{<hash/>}"},
        {"<exepath/><findvalue/>", "<exepath/><findvalue/>"},
        {"<inputbox/>", "<inputbox/>"},
    }};
    for (const auto& [name, expected] : cases) {
        channel->ChannelName = name;
        EXPECT_EQ(common->ExpandChannelTags(channel, "<channelname/>|<hash/>"),
                  std::string(expected) + "|" + channel->Hash)
            << name;
        EXPECT_EQ(common->ExpandCommandTags(channel, "tool \"<channelname/>\"", [] { return std::string("x"); }),
                  std::string("tool \"") + expected + "\"")
            << name;
    }
    // The step-by-step replacement would have pulled the stream URL into the name.
    channel->ChannelName = "<stream/>";
    EXPECT_NE(StepByStep("<channelname/>", ChannelRows()), "<stream/>");
}

TEST_F(TagExpansion, InputBoxAskedOnceAndOnlyWhenPresent)
{
    int asked = 0;
    auto ask = [&] {
        ++asked;
        return std::string("<hash/>");
    };
    EXPECT_EQ(common->ExpandCommandTags(channel, "t <inputbox/> <INPUTBOX/> <no/>", ask), "t <hash/> <hash/> 7");
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(common->ExpandCommandTags(nullptr, "t <no/>", ask), "t 0");
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(common->ExpandCommandTags(nullptr, "t $ee{<inputbox/>}", [] { return std::string(); }), "t $ee{}");
    EXPECT_EQ(common->ExpandChannelTags(channel, "<inputbox/>"), "<inputbox/>");
}

// For values without tag-like text the one-pass expansion gives what the step-by-step one gives.
TEST_F(TagExpansion, SameAsStepByStepForPlainValues)
{
    channel->ChannelName = Sjis("名前\\x");
    const std::vector<std::string> texts = {
        "",
        "no tags at all\r\n",
        "<templatepath/><SKINPATH/>$ee{<skinpath/>}$es{<TemplatePath/>}",
        "$es{<hash/>}<hash/>$ee{<hash/>}<HASH/>$es{<hash/>}",
        "$es{<channelname/>}/<channelname/>/<no/><num/>$ee{<num/>}<rank/>$es{<diff/>}",
        "<results/>$ee{<results/>}<find/><findvalue/><findvalue2/>$ee{<findvalue2/>}",
        "$$ee{<type/>}}{<color/>}<colortext/><<listener/>>",
        Sjis("表<type/>ソ<channelname/>\r\n<description/><playing/><comment/>"),
    };
    std::vector<TagRow> rows = ChannelRows();
    for (TagRow& row : rows)
        if (std::string_view(row.Pattern) == "<channelname/>")
            row.Value = channel->ChannelName;
    for (const std::string& text : texts) {
        EXPECT_EQ(common->ExpandChannelTags(channel, text), StepByStep(text, rows)) << text;
        EXPECT_EQ(common->ExpandListTags(list, text), StepByStep(text, ListRows())) << text;
    }
    TkavoChItem loose;
    loose.Assign(*channel);
    loose.List = nullptr;
    for (const std::string& text : texts)
        EXPECT_EQ(common->ExpandChannelTags(&loose, text), StepByStep(text, rows, true)) << text;
}

TEST(TemplateText, SplitAndJoinLines)
{
    struct Case
    {
        const char* Text;
        std::vector<std::string> Lines;
    };
    const std::array<Case, 6> cases = {{
        {"", {}},
        {"a", {"a"}},
        {"a\r\n", {"a"}},
        {"a\r\nb\rc\nd", {"a", "b", "c", "d"}},
        {"\r\n\r\n", {"", ""}},
        {"a\n\r\nb", {"a", "", "b"}},
    }};
    for (const Case& c : cases)
        EXPECT_EQ(SplitLines(c.Text), c.Lines) << c.Text;
    EXPECT_EQ(JoinLines({"a", "", "b"}), "a\r\n\r\nb\r\n");
    EXPECT_EQ(JoinLines({}), "");
}

TEST(TemplateText, NotifyCutsWithoutSplittingDoubleByteCharacters)
{
    const std::string eighty(80, 'x');
    const std::string kanji = Sjis("あいうえお"); // 10 bytes
    struct Case
    {
        std::string Expanded;
        int Cut;
        std::string Expected;
    };
    const std::array<Case, 8> cases = {{
        {eighty + "\r\n", 50, std::string(50, 'x') + "..."},
        {std::string(50, 'x'), 50, std::string(50, 'x')}, // exactly n bytes stays whole
        {"x" + kanji, 4, "x" + Sjis("あ") + "..."},       // the cut falls inside い: one byte shorter
        {kanji, 4, Sjis("あい") + "..."},
        {eighty, -1, eighty},                                // no cutting
        {"a&amp;b &nbsp;\t\r\n\r\n  \r\nc", -1, "a&b\r\nc"}, // decoded, trimmed, empty lines dropped
        {"&lt;123456789", 5, "<1234..."},                    // decoded before the cut
        {"\r\n", 50, ""},
    }};
    for (const Case& c : cases)
        EXPECT_EQ(FinishNotifyText(c.Expanded, c.Cut), c.Expected) << c.Expanded;
}

TEST(TemplateText, PlainTextRecipe)
{
    EXPECT_EQ(FinishPlainText("  a&nbsp;\r\n\r\n&quot;b&quot; \r\n"), "  a\r\n\"b\"");
    EXPECT_EQ(FinishPlainText(""), "");
}

TEST(TemplateText, CutRange)
{
    constexpr std::array<std::pair<const char*, int>, 9> cases = {{
        {"50", 50},
        {" 50 ", 50},
        {"+7", 7},
        {"0", 0},
        {"-5", 0},
        {"", 60},
        {"5x", 60},
        {"0x10", 60},
        {"99999999999", 60},
    }};
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(CutRange(text), expected) << text;
}

} // namespace
} // namespace kavo
