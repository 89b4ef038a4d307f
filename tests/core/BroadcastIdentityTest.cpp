#include "core/BroadcastIdentity.h"
#include "platform/Cp932.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace kavo {
namespace {

TEST(BroadcastIdentity, FoldsSpellingsOfOneText)
{
    struct Case
    {
        const char* utf8;
        const char* folded; // UTF-8
    };
    const Case cases[] = {
        {"Foo &amp; Bar", "foo & bar"},
        {"FOO &AMP; bar", "foo & bar"},
        {"  foo\t\t bar  ", "foo bar"},
        {"foo　　bar", "foo bar"}, // full-width blanks
        {"foo&nbsp;bar&#160;baz", "foo bar baz"},
        {"ＡＢＣ１２ｘ", "abc12x"},   // full-width letters and digits
        {"&#12354;&#x3044;", "あい"}, // numeric references
        {"&lt;配信&gt; &quot;雑談&#039;", "<配信> \"雑談'"},
        {"&hearts;&#xZZ;&#0;", "&hearts;&#xzz;&#0;"}, // none the lists use: kept, folded
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Cp932ToUtf8(FoldBroadcastText(Sjis(c.utf8))), c.folded) << c.utf8;
}

TEST(BroadcastIdentity, LeavesTrailBytesThatLookLikeLettersAlone)
{
    // "ア" is 0x83 0x41: its trail byte is no capital A.
    EXPECT_EQ(FoldBroadcastText(Sjis("アイ")), Sjis("アイ"));
    EXPECT_EQ(Cp932ToUtf8(FoldBroadcastText(Sjis("テストＡ"))), "テストa");
}

TEST(BroadcastIdentity, GroupsListingsOfOneBroadcast)
{
    struct Row
    {
        const char* hash;
        const char* name;
        const char* contact;
        std::size_t group;
    };
    const Row rows[] = {
        {"AAAA", "Radio &amp; Talk", "http://bbs.example/1", 0},
        {"BBBB", "radio & talk", "HTTP://BBS.EXAMPLE/1", 0},     // other YP, new ID after a reconnect
        {"CCCC", "Radio & Talk", "http://bbs.example/2", 1},     // same name, other contact: another one
        {"AAAA", "Radio &amp; Talk", "http://bbs.example/9", 0}, // same ID and name: contact edited
        {"AAAA", "Other", "http://bbs.example/1", 2},            // an ID alone is only a hint
        {"", "Radio & Talk", "http://bbs.example/1", 0},         // no ID at all
    };
    BroadcastGroups groups;
    for (const Row& row : rows) {
        TkavoChItem channel;
        channel.Hash = row.hash;
        channel.ChannelName = row.name;
        channel.ContactURL = row.contact;
        EXPECT_EQ(groups.GroupOf(channel), row.group) << row.name << " " << row.contact;
    }
    EXPECT_EQ(groups.Count(), 3u);
}

TEST(BroadcastIdentity, MergedRowsPutTheFirstConfiguredYpFirst)
{
    TkavoChList list;
    const auto add = [&](const char* yp, const char* name) {
        TkavoChItem& c = list.Add(std::make_unique<TkavoChItem>());
        c.YpAddr = yp;
        c.ChannelName = name;
    };
    add("c", "X");
    add("a", "Y");
    add("b", "x");
    add("a", "X ");
    const auto rank = [](const TkavoChItem& c) { return c.YpAddr[0] - 'a'; }; // a, b, c as configured
    std::vector<std::string> rows;
    for (const auto& group : GroupBroadcasts(list, rank)) {
        std::string row;
        for (const TkavoChItem* c : group)
            row += c->YpAddr + ":" + c->ChannelName + " ";
        rows.push_back(row);
    }
    EXPECT_EQ(rows, (std::vector<std::string>{"a:X  b:x c:X ", "a:Y "}));
}

} // namespace
} // namespace kavo
