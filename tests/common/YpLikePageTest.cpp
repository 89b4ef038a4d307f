#include "common/YpLikePage.h"
#include "CommonTestSupport.h"
#include "common/Templates.h"
#include "core/PlayHint.h"
#include "platform/Cp932.h"
#include "platform/HtmlEntities.h"
#include "platform/Sha256.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <string>
#include <vector>

namespace kavo::test {
namespace {

// A channel as the filter sees it: listeners, state and the flags that force it onto the page.
struct Row
{
    const char* Name;
    int Listeners;
    TkavoDiff Diff = TkavoDiff::None;
    bool Find = false;
    bool YpLike = false;
};

void Fill(TkavoChList& list, const std::vector<Row>& rows)
{
    for (const Row& row : rows) {
        auto channel = std::make_unique<TkavoChItem>();
        channel->ChannelName = row.Name;
        channel->Listeners = row.Listeners;
        channel->Diff = row.Diff;
        channel->Find = row.Find;
        channel->YpLike = row.YpLike;
        list.Add(std::move(channel));
    }
}

// The names the filter lets through, in row order, joined by blanks.
std::string Shown(const TkavoChList& list, const YpLikeLiteOptions& options, int rank2 = 4)
{
    YpLikeLiteFilter filter(options, rank2);
    std::string names;
    for (const TkavoChItem& channel : list)
        if (filter.Passes(channel))
            names += (names.empty() ? "" : " ") + channel.ChannelName;
    return names;
}

// Lite mode on with rule `rule` (1..10).
YpLikeLiteOptions Lite(int rule, int min = 0, int max = 15, int count = 15)
{
    YpLikeLiteOptions options;
    options.Lite.fill(false);
    options.Lite[0] = true;
    options.Lite[static_cast<std::size_t>(rule)] = true;
    options.CustomMin = min;
    options.CustomMax = max;
    options.CustomCount = count;
    return options;
}

TEST(YpLikeLiteFilter, ListenerRules)
{
    TkavoChList list;
    Fill(list, {{"minus1", -1},
                {"zero", 0},
                {"one", 1},
                {"four", 4},
                {"five", 5},
                {"nine", 9},
                {"ten", 10},
                {"fifteen", 15},
                {"sixteen", 16}});
    struct Case
    {
        const char* Label;
        YpLikeLiteOptions Options;
        const char* Expected;
    };
    YpLikeLiteOptions off = Lite(4);
    off.Lite[0] = false;
    YpLikeLiteOptions noRule = Lite(4);
    noRule.Lite[4] = false;
    const std::array<Case, 9> cases = {{
        {"lite off: every channel, whatever the rule", off, "minus1 zero one four five nine ten fifteen sixteen"},
        {"lite on without a rule", noRule, "minus1 zero one four five nine ten fifteen sixteen"},
        {"=0 hides 0 but not -1", Lite(4), "minus1 one four five nine ten fifteen sixteen"},
        {"<=0", Lite(1), "one four five nine ten fifteen sixteen"},
        {"<5", Lite(2), "five nine ten fifteen sixteen"},
        {"<10", Lite(3), "ten fifteen sixteen"},
        {"custom 0,15 hides the closed range", Lite(5, 0, 15), "minus1 sixteen"},
        {"custom -1,3", Lite(5, -1, 3), "four five nine ten fifteen sixteen"},
        {"custom with min above max hides nothing", Lite(5, 10, 5),
         "minus1 zero one four five nine ten fifteen sixteen"},
    }};
    for (const Case& c : cases)
        EXPECT_EQ(Shown(list, c.Options), c.Expected) << c.Label;
}

TEST(YpLikeLiteFilter, AlwaysShownChannelsPassEveryRuleAndAreNotCounted)
{
    // 30 ordinary channels with 0 listeners, and forced ones among them.
    std::vector<Row> rows;
    for (int i = 0; i < 30; ++i)
        rows.push_back({"", 0});
    rows[0] = {"new", 0, TkavoDiff::New};
    rows[3] = {"find", 0, TkavoDiff::None, true};
    rows[20] = {"favorite", 0, TkavoDiff::None, false, true};
    rows[25] = {"relaying", 0, TkavoDiff::Relaying};
    rows[29] = {"playing", 0, TkavoDiff::Playing};
    rows[28] = {"prenew", 0, TkavoDiff::PreNew};
    std::vector<std::string> names;
    names.reserve(rows.size()); // the names' pointers go into rows
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (!*rows[i].Name) {
            names.push_back("c" + std::to_string(i));
            rows[i].Name = names.back().c_str();
        }
    TkavoChList list;
    Fill(list, rows);

    EXPECT_EQ(Shown(list, Lite(4)), "new find favorite relaying playing") << "=0 with Rank2 4";
    EXPECT_EQ(Shown(list, Lite(4), 3), "find favorite relaying prenew playing") << "=0 with Rank2 3";

    // Top 20: the first 19 ordinary channels plus every forced one wherever it stands ("prenew" is
    // ordinary while Rank2 is 4).
    std::string top20 = "new c1 c2 find";
    for (int i = 4; i < 20; ++i)
        top20 += " c" + std::to_string(i);
    top20 += " favorite c21 relaying playing";
    EXPECT_EQ(Shown(list, Lite(7)), top20);
    EXPECT_EQ(Shown(list, Lite(6)), "new c1 c2 find c4 c5 c6 c7 c8 c9 c10 favorite relaying playing")
        << "top 10 shows 9 ordinary";
    EXPECT_EQ(Shown(list, Lite(10, 0, 15, 3)), "new c1 c2 find favorite relaying playing") << "custom top 3";
    EXPECT_EQ(Shown(list, Lite(10, 0, 15, INT_MIN)), "new find favorite relaying playing") << "custom top INT_MIN";
}

TEST(YpLikeLite, CustomAnswers)
{
    struct RangeCase
    {
        const char* Answer;
        std::optional<std::pair<int, int>> Expected;
    };
    const std::array<RangeCase, 7> ranges = {{
        {"0,15", std::pair{0, 15}},
        {"-1,3", std::pair{-1, 3}},
        {" 5,20 ", std::pair{5, 20}},
        {"0,abc", std::nullopt},
        {"1,2 3,4", std::nullopt}, // two pairs
        {"", std::nullopt},
        {"0,99999999999", std::nullopt},
    }};
    for (const RangeCase& c : ranges)
        EXPECT_EQ(ParseLiteRange(c.Answer), c.Expected) << c.Answer;

    const std::array<std::pair<const char*, int>, 6> counts = {
        {{"25", 25}, {"-3", -3}, {" 7 ", 7}, {"abc", 15}, {"", 15}, {"5x", 15}}};
    for (const auto& [answer, expected] : counts)
        EXPECT_EQ(ParseLiteCount(answer), expected) << answer;

    EXPECT_EQ(LiteRangeCaption(-1, 3), "カスタム(リスナ)[-1<=3](&C)");
    EXPECT_EQ(LiteCountCaption(15), "カスタム(上位)[15](&C)");
}

TEST(YpLikeLite, OptionsInTheWindowSection)
{
    EXPECT_EQ(ReadLiteOptions(IniFile()), YpLikeLiteOptions{}) << "a missing key takes its default";

    // Edited by hand: names in any case, blanks, numbers in hexadecimal, words that are no number.
    const IniFile edited = IniFile::FromText("[window]\r\nyplikelite0=1\r\nYpLikeLite4=0\r\nYpLikeLite6 = 2 \r\n"
                                             "YpLikeLite7=yes\r\nYpLikeLiteCustomMin=-5\r\nYpLikeLiteCustomMax=0x20\r\n"
                                             "YpLikeLiteCustomCount=many\r\n[Other]\r\nYpLikeLite1=1\r\n");
    YpLikeLiteOptions expected;
    expected.Lite = {true, false, false, false, false, false, true, false, false, false, false};
    expected.CustomMin = -5;
    expected.CustomMax = 32;
    EXPECT_EQ(ReadLiteOptions(edited), expected);

    // Written in place of the keys there, the others added after the section's last key.
    IniFile file = IniFile::FromText("[Window]\r\nMax=1\r\nYpLikeLite4=1\r\n[CoolBar]\r\nID0=2\r\n");
    YpLikeLiteOptions written = Lite(LiteTopCustom, 3, 9, 7);
    WriteLiteOptions(file, written);
    EXPECT_EQ(file.Text(), "[Window]\r\nMax=1\r\nYpLikeLite4=0\r\nYpLikeLite0=1\r\nYpLikeLite1=0\r\n"
                           "YpLikeLite2=0\r\nYpLikeLite3=0\r\nYpLikeLite5=0\r\nYpLikeLite6=0\r\nYpLikeLite7=0\r\n"
                           "YpLikeLite8=0\r\nYpLikeLite9=0\r\nYpLikeLite10=1\r\nYpLikeLiteCustomMin=3\r\n"
                           "YpLikeLiteCustomMax=9\r\nYpLikeLiteCustomCount=7\r\n[CoolBar]\r\nID0=2\r\n");
    EXPECT_EQ(ReadLiteOptions(IniFile::FromText(file.Text())), written);
}

TEST(YpLikePage, OnAirFirstOrderAndPage)
{
    TkavoChList list;
    Fill(list, {{"a", 5}, {"raw1", 100}, {"b", 50}, {"hidden", 70}, {"c", 5}, {"d", 0}});
    list[1].Type = "RAW";
    list[3].ListDisable = true;
    std::string order;
    for (const TkavoChItem* channel : OnAirFirstOrder(list))
        order += channel->ChannelName + " ";
    EXPECT_EQ(order, "b a c d raw1 ");

    CommonFixture fixture;
    fixture.WriteAllTemplates("");
    fixture.WriteTemplate("ie_header.html", "H:<totalresults/>|");
    fixture.WriteTemplate("ie_channel.html", "<channelname/>=<listener/>");
    fixture.WriteTemplate("ie_footer.html", "F");
    auto common = fixture.Create();
    ASSERT_TRUE(common->LoadTemplates());
    const std::string page = BuildYpLikePage(*common, list, OnAirFirstOrder(list), YpLikeLiteFilter(Lite(4), 4));
    // The header and footer count the whole list; the blocks follow the rows and the filter. The
    // policy comes first, as the header has no head.
    const std::string policy = R"(<meta http-equiv="Content-Security-Policy" content="script-src 'nonce-)";
    ASSERT_TRUE(page.starts_with(policy)) << page;
    EXPECT_EQ(page.substr(page.find("\">") + 2),
              "H:" + list.StatusText() + "|\r\nb=50 / 0\r\na=5 / 0\r\nc=5 / 0\r\nraw1=100 / 0\r\nF\r\n");
}

// The text a piece of the page gives with fixed marks.
std::string MarkedPiece(const std::string& text, bool policy)
{
    CompiledTemplate piece(text, TagSet::List);
    piece.MarkPageScripts(policy);
    const PageMarks marks{"N", "P"};
    TagValues values;
    values.Page = &marks;
    return piece.Expand(values);
}

TEST(YpLikePage, PolicyAtTheHeadAndANonceInEveryScriptOfTheTemplates)
{
    const std::string meta = R"(<meta http-equiv="Content-Security-Policy" content="P">)";
    struct Case
    {
        std::string Header;
        std::string Page;
    };
    const std::array<Case, 7> cases = {{
        {"<!DOCTYPE html><html><head><title>t</title>", "<!DOCTYPE html><html><head>" + meta + "<title>t</title>"},
        {"<html><HEAD class=x><header>", "<html><HEAD class=x>" + meta + "<header>"},
        {"<header>a</header>", meta + "<header>a</header>"},
        {"<!doctype html>\n<html lang=ja><body>", "<!doctype html>\n<html lang=ja>" + meta + "<body>"},
        {"<!doctype html><p>", "<!doctype html>" + meta + "<p>"},
        {"<p>x</p>", meta + "<p>x</p>"},
        // Every start tag of a script, in any case and wherever it stands; no other element.
        {"<head><script>a()</script><SCRIPT src='s.js'></SCRIPT><script\ttype=module></script><scripts>",
         "<head>" + meta +
             R"(<script nonce="N">a()</script><SCRIPT nonce="N" src='s.js'></SCRIPT><script nonce="N"	type=module></script><scripts>)"},
    }};
    for (const Case& c : cases)
        EXPECT_EQ(MarkedPiece(c.Header, true), c.Page) << c.Header;
    // Other pieces carry nonces only; an expansion for anything but the page writes no mark.
    EXPECT_EQ(MarkedPiece("<p><script>b()</script>", false), R"(<p><script nonce="N">b()</script>)");
    CompiledTemplate piece("<head><script>b()</script>", TagSet::List);
    piece.MarkPageScripts(true);
    EXPECT_EQ(piece.Expand({}), "<head><script>b()</script>");
}

TEST(YpLikePage, InlineScriptsOfTheTemplatesAreHashedWithoutThoseHoldingValues)
{
    const std::string source = R"x(<body onload="init()"><a href="javascript:go(1)" onClick='show(&quot;a&quot;)'>)x"
                               R"x(<b onmouseover=hl(this) title="onclick=no()"><i onclick="play('<hash/>')">)x"
                               R"x(<a href="<contact/>">x</a>)x";
    CompiledTemplate piece(source, TagSet::Channel);
    EXPECT_EQ(piece.InlineScripts(),
              (std::vector<std::string>{"init()", "javascript:go(1)", "show(\"a\")", "hl(this)"}));

    CommonFixture fixture;
    fixture.WriteAllTemplates("");
    fixture.WriteTemplate("ie_channel.html", source);
    auto common = fixture.Create();
    ASSERT_TRUE(common->LoadTemplates());
    const PageMarks first = common->NewPageMarks();
    const PageMarks second = common->NewPageMarks();
    EXPECT_NE(first.Nonce, second.Nonce);
    EXPECT_GE(first.Nonce.size(), 22u);
    EXPECT_NE(first.Policy.find("'nonce-" + first.Nonce + "'"), std::string::npos) << first.Policy;
    const auto hash = [](const std::string& script) {
        const auto digest = Sha256(script);
        return "'sha256-" + Base64(std::string(digest.begin(), digest.end())) + "'";
    };
    for (const char* script : {"init()", "javascript:go(1)", "show(\"a\")", "hl(this)"})
        EXPECT_NE(first.Policy.find(hash(script)), std::string::npos) << script << "\n" << first.Policy;
    EXPECT_NE(first.Policy.find("'unsafe-hashes'"), std::string::npos);
    EXPECT_EQ(first.Policy.find("unsafe-inline"), std::string::npos);
}

TEST(YpLikePage, ValuesFromAYpAreMadeSafeAndKavosOwnAreNot)
{
    CommonFixture fixture;
    fixture.WriteAllTemplates("");
    fixture.WriteTemplate("ie_channel.html", "<channelname/>|<description/>|<contact/>|<comment/>|<type/>|"
                                             "<playing/>|<stream/>|<listener/>|<color/>|<diff/>|<templatepath/>");
    auto common = fixture.Create();
    ASSERT_TRUE(common->LoadTemplates());
    TkavoChList list;
    TkavoChItem& channel = AddSampleChannel(list);
    channel.ChannelName = "A&B <test>";
    channel.Genre = "<img src=x onerror=alert(1)>";
    channel.Description = "&amp; &#039;";
    channel.ContactURL = "http://x/?a=1&b=\"2\"";
    channel.Comment = "'c'";
    channel.Type = "<b>";
    channel.Playing = "&#x27;&;";
    channel.StreamURL = "http://x/pls/ID?tip=<t>";
    channel.Diff = TkavoDiff::New;
    const PageMarks marks{"N", "P"};
    std::string page;
    common->AppendHtmlChannel(page, channel, marks);
    EXPECT_EQ(page, "A&amp;B &lt;test&gt;|[&lt;img src=x onerror=alert(1)&gt; - &amp; &#039;]|"
                    "http://x/?a=1&amp;b=&quot;2&quot;|&#039;c&#039;|&lt;b&gt;|&#x27;&amp;;|"
                    "http://x/pls/ID?tip=&lt;t&gt;|12 / 3|#123456|" +
                        Sjis("新着") + "|" + common->GetTemplatePath() + "\r\n");
    // The same template for the other uses keeps the values as described.
    EXPECT_EQ(common->ExpandChannelTags(&channel, "<channelname/>|<type/>"), "A&B <test>|<b>");
}

// A channel that will probably not play carries a mark whose tip gives the reason.
TEST(YpLikePage, PlayHintMarksWithATip)
{
    CommonFixture fixture;
    fixture.WriteAllTemplates("");
    fixture.WriteTemplate("ie_channel.html", "<channelname/>|<playhint/>");
    auto common = fixture.Create();
    ASSERT_TRUE(common->LoadTemplates());
    TkavoChList list;
    TkavoChItem& channel = AddSampleChannel(list);
    channel.ChannelName = "A";
    const PageMarks marks{"N", "P"};
    std::string playable;
    common->AppendHtmlChannel(playable, channel, marks);
    EXPECT_EQ(playable, "A|\r\n");

    channel.Bitrate = "0";
    std::string waiting;
    common->AppendHtmlChannel(waiting, channel, marks);
    const std::string tip = PlayHintTip(PlayHint::NotReady);
    EXPECT_EQ(waiting, "A|<span class=\"playhint\" title=\"" + HtmlSafe(tip) + "\">" + Sjis("※") + "</span>\r\n");
    EXPECT_EQ(common->ExpandChannelTags(&channel, "<playhint/>"), tip) << "elsewhere the reason as text";
}

TEST(YpLikePage, LinkRouting)
{
    const std::string id = "0123456789ABCDEF0123456789ABCDEF";
    using K = YpLikeLink::Kind;
    struct Case
    {
        std::string Target;
        K Kind;
        std::string Argument;
    };
    const std::array<Case, 10> cases = {{
        {"http://127.0.0.1:7144/pls/" + id + "?tip=1.2.3.4:7144", K::Play, id},
        {"peercast://pls/" + id, K::Play, id},
        {"PEERCAST://PLS/" + id, K::Play, id},
        {"http://127.0.0.1:7144/pls/0123", K::Open, "http://127.0.0.1:7144/pls/0123"},
        {"kavo://menu/?" + id, K::Menu, id},
        {"kavo://actn/?ActionMainRefresh", K::Action, "ActionMainRefresh"},
        {"KAVO://ACTN/?x", K::Action, "x"},
        {"kavo://sort/?Listener", K::Sort, "Listener"},
        {"kavo://sort/?", K::Open, "kavo://sort/?"},
        {"https://example.com/bbs/?kavo://actn/?x", K::Open, "https://example.com/bbs/?kavo://actn/?x"},
    }};
    for (const Case& c : cases) {
        const YpLikeLink link = ClassifyYpLikeLink(c.Target);
        EXPECT_EQ(link.What, c.Kind) << c.Target;
        EXPECT_EQ(link.Argument, c.Argument) << c.Target;
    }
}

} // namespace
} // namespace kavo::test
