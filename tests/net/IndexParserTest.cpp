#include "net/IndexParser.h"

#include "platform/Cp932.h"
#include "platform/DateTime.h"
#include "platform/RegularExpression.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace kavo {
namespace {

using Fields = std::array<std::string, IndexFieldCount>;

std::string Join(const Fields& fields)
{
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0)
            line += "<>";
        line += fields[i];
    }
    return line;
}

// A channel line as a real YP writes it (CP932 already).
Fields SampleFields()
{
    return {Sjis("テスト配信"),
            "0123456789ABCDEF0123456789ABCDEF",
            "192.168.0.2:7144",
            "http://jbbs.shitaraba.net/bbs/read.cgi/game/1/2/",
            Sjis("ゲーム"),
            Sjis("まったり &amp; 雑談 - &lt;Open&gt;"),
            "12",
            "3",
            "512",
            "WMV",
            "artist",
            "album",
            "title",
            "",
            "%E3%83%86",
            "120:05",
            "click",
            Sjis("よろしく"),
            "1"};
}

class IndexParserTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        clock = std::make_shared<ManualClock>(45000.5);
        SetClock(clock);
        yp.Url = "http://yp.example/";
        yp.Host = "localhost:7144";
        yp.ChType = "";
    }
    void TearDown() override { SetClock(nullptr); }

    const TkavoChList& Parse(const std::string& index)
    {
        yp.ChList.Clear();
        ParseIndex(yp, index, regExp);
        return yp.ChList;
    }
    const TkavoChItem& ParseOne(const Fields& fields)
    {
        const TkavoChList& list = Parse(Join(fields));
        EXPECT_EQ(list.Count(), 1);
        return list[0];
    }

    std::shared_ptr<ManualClock> clock;
    YpRecord yp;
    RegularExpression regExp;
};

TEST(SplitFieldsTest, EmptyInnerFieldsCountButNotATrailingOne)
{
    struct Case
    {
        const char* text;
        std::vector<std::string_view> fields;
    };
    const std::array<Case, 8> cases{{
        {"", {}},
        {"a", {"a"}},
        {"a<>b", {"a", "b"}},
        {"a<>b<>", {"a", "b"}},
        {"a<><>b", {"a", "", "b"}},
        {"<>", {""}},
        {"<><>x", {"", "", "x"}},
        {"a<b>c<>d>", {"a<b>c", "d>"}},
    }};
    std::vector<std::string_view> fields;
    for (const Case& c : cases) {
        SplitFields(c.text, "<>", fields);
        EXPECT_EQ(fields, c.fields) << "text: \"" << c.text << '"';
    }
}

TEST(IndexIntegerTest, ReadsDecimalsOnly)
{
    struct Case
    {
        const char* text;
        int expected;
    };
    const std::array<Case, 11> cases{{
        {"12", 12},
        {"-1", -1},
        {"-9", -9},
        {"+7", 7},
        {" 5", 5},
        {"", -100},
        {"abc", -100},
        {"12abc", -100},
        {"1.5", -100},
        {"2147483647", 2147483647},
        {"2147483648", -100},
    }};
    for (const Case& c : cases)
        EXPECT_EQ(IndexInteger(c.text, -100), c.expected) << "text: \"" << c.text << '"';
    EXPECT_EQ(IndexInteger("-2147483648", 0), -2147483647 - 1);
}

TEST_F(IndexParserTest, FillsEveryFieldOfARealLine)
{
    const TkavoChItem& c = ParseOne(SampleFields());
    EXPECT_EQ(c.No, 1);
    EXPECT_EQ(c.Diff, TkavoDiff::None);
    EXPECT_EQ(c.ChannelName, Sjis("テスト配信"));
    EXPECT_EQ(c.Hash, "0123456789ABCDEF0123456789ABCDEF");
    EXPECT_EQ(c.StreamURL, "http://localhost:7144/pls/0123456789ABCDEF0123456789ABCDEF?tip=192.168.0.2:7144");
    EXPECT_EQ(c.DirectStreamURL, "http://192.168.0.2:7144/pls/0123456789ABCDEF0123456789ABCDEF");
    EXPECT_EQ(c.ContactURL, "http://jbbs.shitaraba.net/bbs/read.cgi/game/1/2/");
    EXPECT_EQ(c.Genre, Sjis("ゲーム"));
    // Texts stay escaped as the YP sent them.
    EXPECT_EQ(c.Description, Sjis("まったり &amp; 雑談 - &lt;Open&gt;"));
    EXPECT_EQ(c.Listeners, 12);
    EXPECT_EQ(c.Relays, 3);
    EXPECT_EQ(c.BitrateValue, 512);
    EXPECT_EQ(c.Bitrate, "512 kb/s");
    EXPECT_EQ(c.Type, "WMV");
    EXPECT_EQ(c.Playing, "Playing: artist - album - title");
    EXPECT_EQ(c.ChatURL, "http://yp.example/chat.php?cn=%E3%83%86");
    EXPECT_EQ(c.StatisticsURL, "http://yp.example/getgmt.php?cn=%E3%83%86");
    EXPECT_EQ(c.BroadcastTime, "120:05");
    EXPECT_EQ(c.Status, "click");
    EXPECT_EQ(c.Comment, Sjis("「よろしく」"));
    EXPECT_EQ(c.TimeStamp, 45000.5);
    EXPECT_EQ(c.YpAddr, "http://yp.example/");
    EXPECT_EQ(c.LocalStatus, "");
    EXPECT_FALSE(c.Favorite);
}

TEST_F(IndexParserTest, FieldRules)
{
    struct Case
    {
        const char* name;
        int field;
        std::string value;
        std::string TkavoChItem::*text; // checked when set
        std::string expectedText;
        std::int32_t TkavoChItem::*number; // checked when set
        std::int32_t expectedNumber;
    };
    const std::array<Case, 14> cases{{
        {"listeners -1", 6, "-1", nullptr, "", &TkavoChItem::Listeners, -1},
        {"listeners not a number", 6, "abc", nullptr, "", &TkavoChItem::Listeners, -1},
        {"relays not a number", 7, "", nullptr, "", &TkavoChItem::Relays, -1},
        {"bitrate not a number", 8, "abc", &TkavoChItem::Bitrate, "0 kb/s", &TkavoChItem::BitrateValue, 0},
        {"no comment", 17, "", &TkavoChItem::Comment, "", nullptr, 0},
        {"comment", 17, "hi", &TkavoChItem::Comment, Sjis("「hi」"), nullptr, 0},
        {"no tip", 2, "", &TkavoChItem::StreamURL, "http://localhost:7144/pls/0123456789ABCDEF0123456789ABCDEF",
         nullptr, 0},
        {"direct only for exactly 1", 18, "01", &TkavoChItem::DirectStreamURL, "", nullptr, 0},
        {"direct not for 0", 18, "0", &TkavoChItem::DirectStreamURL, "", nullptr, 0},
        {"empty status replaces click", 16, "", &TkavoChItem::Status, "", nullptr, 0},
        {"lowercase ID kept", 1, "0123456789abcdef0123456789abcdef", &TkavoChItem::Hash,
         "0123456789abcdef0123456789abcdef", nullptr, 0},
        {"unescaped text kept", 5, "a<b & \"c\"", &TkavoChItem::Description, "a<b & \"c\"", nullptr, 0},
        {"time over 99 hours", 15, "123:45", &TkavoChItem::BroadcastTime, "123:45", nullptr, 0},
        {"name with a diamond", 0, Sjis("◆お知らせ"), &TkavoChItem::ChannelName, Sjis("◆お知らせ"), nullptr, 0},
    }};
    for (const Case& c : cases) {
        Fields fields = SampleFields();
        fields[c.field] = c.value;
        const TkavoChList& list = Parse(Join(fields));
        ASSERT_EQ(list.Count(), 1) << c.name;
        if (c.text) {
            EXPECT_EQ(list[0].*c.text, c.expectedText) << c.name;
        }
        if (c.number) {
            EXPECT_EQ(list[0].*c.number, c.expectedNumber) << c.name;
        }
    }
}

TEST_F(IndexParserTest, PlayingJoinsTheNonEmptyTrackFields)
{
    struct Case
    {
        std::array<const char*, 4> tracks;
        const char* expected;
    };
    const std::array<Case, 4> cases{{
        {{"A", "", "C", ""}, "Playing: A - C"},
        {{"", "", "", ""}, ""},
        {{"", "", "", "http://x/"}, "Playing: http://x/"},
        {{"A", "B", "C", "D"}, "Playing: A - B - C - D"},
    }};
    for (const Case& c : cases) {
        Fields fields = SampleFields();
        for (int i = 0; i < 4; ++i)
            fields[10 + i] = c.tracks[i];
        EXPECT_EQ(ParseOne(fields).Playing, c.expected) << "expected " << c.expected;
    }
}

TEST_F(IndexParserTest, UrlFormsFollowHostAndChatUrlFix)
{
    yp.Host = "";
    Fields fields = SampleFields();
    EXPECT_EQ(ParseOne(fields).StreamURL, "peercast://pls/0123456789ABCDEF0123456789ABCDEF?tip=192.168.0.2:7144");
    fields[2] = "";
    fields[18] = "0";
    EXPECT_EQ(ParseOne(fields).StreamURL, "peercast://pls/0123456789ABCDEF0123456789ABCDEF");

    yp.ChatURLFix = true;
    const TkavoChItem& c = ParseOne(SampleFields());
    EXPECT_EQ(c.ChatURL, "http://yp.example/getchat?id=0123456789ABCDEF0123456789ABCDEF");
    EXPECT_EQ(c.StatisticsURL, "http://yp.example/getgmt?id=0123456789ABCDEF0123456789ABCDEF");
}

TEST_F(IndexParserTest, LinesAndNumbering)
{
    const std::string good = Join(SampleFields());
    Fields shortFields = SampleFields();
    // 18 fields and a final separator: the empty 19th field does not count.
    std::string eighteen;
    for (int i = 0; i < 18; ++i)
        eighteen += shortFields[i] + "<>";

    struct Case
    {
        const char* name;
        std::string index;
        std::vector<int> numbers;
    };
    const std::array<Case, 8> cases{{
        {"LF", good + "\n" + good + "\n", {1, 2}},
        {"CR LF", good + "\r\n" + good + "\r\n", {1, 2}},
        {"CR", good + "\r" + good, {1, 2}},
        {"empty lines count", good + "\n\n" + good, {1, 3}},
        {"rejected lines count", good + "\nbroken line\n" + good, {1, 3}},
        {"18 fields and a final separator", eighteen + "\n" + good, {2}},
        {"a 19th field after the final separator", eighteen + "0\n", {1}},
        {"more than 19 fields", good + "<>extra<>fields\n", {1}},
    }};
    for (const Case& c : cases) {
        const TkavoChList& list = Parse(c.index);
        std::vector<int> numbers;
        for (const TkavoChItem& channel : list)
            numbers.push_back(channel.No);
        EXPECT_EQ(numbers, c.numbers) << c.name;
    }
}

TEST_F(IndexParserTest, RecordsOfOneParseShareTheParseTime)
{
    const std::string line = Join(SampleFields());
    Parse(line + "\n" + line + "\n" + line);
    for (const TkavoChItem& channel : yp.ChList)
        EXPECT_EQ(channel.TimeStamp, 45000.5);
    // ParseIndex appends; the caller clears.
    ParseIndex(yp, line, regExp);
    EXPECT_EQ(yp.ChList.Count(), 4);
}

TEST_F(IndexParserTest, BitrateFilter)
{
    struct Case
    {
        const char* bitrate;
        std::array<bool, 5> accepted; // of 299, 300, 999, 1000, 5000
    };
    const std::array<Case, 6> cases{{
        {"*", {true, true, true, true, true}},
        {"300", {true, true, true, true, true}},
        {"300,1000", {false, true, true, false, false}},
        {",500", {true, true, false, false, false}},
        {"300,", {true, true, true, true, true}},
        {"abc,1000", {true, true, true, false, false}},
    }};
    const std::array<const char*, 5> rates{"299", "300", "999", "1000", "5000"};
    for (const Case& c : cases) {
        yp.Bitrate = c.bitrate;
        for (std::size_t i = 0; i < rates.size(); ++i) {
            Fields fields = SampleFields();
            fields[8] = rates[i];
            EXPECT_EQ(Parse(Join(fields)).Count() == 1, c.accepted[i])
                << "Bitrate \"" << c.bitrate << "\" with " << rates[i] << " kb/s";
        }
    }
}

TEST_F(IndexParserTest, TypeFilter)
{
    struct Case
    {
        const char* chType;
        const char* type;
        bool accepted;
    };
    const std::array<Case, 9> cases{{
        {"wmv|raw", "WMV", true},
        {"wmv|raw", "wmv", true},
        {"wmv|raw", "RAW", true},
        {"wmv|raw", "WMA", false},
        {"wmv", "xwmvx", true},
        {"^(wmv|flv)$", "FLV", true},
        {"", "anything", true},
        {"(", "WMV", false},
        {"[", "", false},
    }};
    for (const Case& c : cases) {
        yp.ChType = c.chType;
        Fields fields = SampleFields();
        fields[9] = c.type;
        EXPECT_EQ(Parse(Join(fields)).Count() == 1, c.accepted) << "ChType \"" << c.chType << "\", type " << c.type;
    }
}

// Every field, for comparing whole records.
auto AllFields(const TkavoChItem& c)
{
    return std::tie(c.No, c.Diff, c.ChannelName, c.Relays, c.Listeners, c.Bitrate, c.Type, c.ChatURL, c.ContactURL,
                    c.StreamURL, c.DirectStreamURL, c.TimeStamp, c.Hash, c.Find, c.Playing, c.Color, c.ColorEnabled,
                    c.BitrateValue, c.ListDisable, c.StatisticsURL, c.YpAddr, c.FileName, c.Status, c.Comment,
                    c.ContactIsBbs, c.Description, c.Genre, c.LocalStatus, c.BroadcastTime, c.YpLike, c.NotNotify,
                    c.PrevPlaying, c.PrevComment, c.PrevGenre, c.PrevDescription, c.ColorTextEnabled, c.ColorText,
                    c.Visited, c.Favorite);
}

TEST_F(IndexParserTest, ReplacingLeavesNothingOfTheOldRecords)
{
    // Old records with every field set, as marks and later steps leave them.
    Fields rich = SampleFields();
    rich[0] = std::string(60, 'n');
    ParseIndex(yp, Join(rich) + "\n" + Join(rich) + "\n" + Join(rich), regExp);
    for (TkavoChItem& c : yp.ChList) {
        c.Diff = TkavoDiff::New;
        c.Find = c.ColorEnabled = c.ListDisable = c.ContactIsBbs = c.YpLike = c.NotNotify = true;
        c.ColorTextEnabled = c.Visited = c.Favorite = true;
        c.Color = c.ColorText = 0x123456;
        c.FileName = c.LocalStatus = c.PrevPlaying = c.PrevComment = c.PrevGenre = c.PrevDescription = "old";
    }
    Fields plain = SampleFields();
    for (int i : {2, 10, 11, 12, 13, 17})
        plain[i] = "";
    plain[18] = "0";
    const std::string index = Join(plain) + "\n" + Join(SampleFields()) + "\n";

    YpRecord fresh;
    fresh.Url = yp.Url;
    fresh.Host = yp.Host;
    fresh.ChType = yp.ChType;
    ParseIndex(fresh, index, regExp);
    ReplaceFromIndex(yp, index, regExp);
    ASSERT_EQ(yp.ChList.Count(), 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(AllFields(yp.ChList[i]) == AllFields(fresh.ChList[i])) << "record " << i;
        EXPECT_EQ(yp.ChList[i].List, &yp.ChList);
    }
}

TEST_F(IndexParserTest, InvalidTypeExpressionEmptiesTheListWithoutFailing)
{
    yp.ChType = "wmv|(raw";
    const std::string line = Join(SampleFields());
    EXPECT_NO_THROW(Parse(line + "\n" + line));
    EXPECT_EQ(yp.ChList.Count(), 0);
}

} // namespace
} // namespace kavo
