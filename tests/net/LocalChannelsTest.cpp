#include "ChannelTokens.h"

#include "net/HttpClient.h"
#include "net/LocalChannels.h"
#include "net/UpdateYp.h"
#include "platform/DateTime.h"
#include "platform/RegularExpression.h"
#include "support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace kavo {
namespace {

using test::DiffName;
using test::FillFromTokens;

std::string ReadFixture(const std::string& name)
{
    std::ifstream in(std::string(KAVO_TEST_DATA) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// "A0000000000000000000000000000001 1 0 RECEIVE|..." for every record.
std::string Describe(const TkavoChList& list)
{
    std::string text;
    for (const TkavoChItem& channel : list) {
        if (!text.empty())
            text += '|';
        text += channel.Hash + ' ' + std::to_string(channel.Listeners) + ' ' + std::to_string(channel.Relays) + ' ' +
                channel.LocalStatus;
    }
    return text;
}

TEST(LocalChannels, ReadsTheRelayedChannelsOfADocument)
{
    struct Case
    {
        const char* Name;
        std::string Document;
        const char* Expected;
    };
    const std::string relayXml = ReadFixture("viewxml-relay.xml");
    std::string crlf;
    for (const char c : relayXml)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);

    const std::array<Case, 8> cases = {{
        {"relay layout: channels_found and host_cache are left out", relayXml,
         "A0000000000000000000000000000001 1 0 RECEIVE|A0000000000000000000000000000002 0 2 RECEIVE|"
         "A0000000000000000000000000000003 0 0 IDLE|A0000000000000000000000000000004 0 0 SEARCH"},
        {"CR LF line breaks", crlf,
         "A0000000000000000000000000000001 1 0 RECEIVE|A0000000000000000000000000000002 0 2 RECEIVE|"
         "A0000000000000000000000000000003 0 0 IDLE|A0000000000000000000000000000004 0 0 SEARCH"},
        {"hits layout: the local figures of relay, not the network-wide ones of hits and host",
         ReadFixture("viewxml-hits.xml"),
         "A0000000000000000000000000000001 1 0 RECEIVE|A0000000000000000000000000000002 0 1 RECEIVE"},
        {"a server that relays nothing: channels it merely found are not local", ReadFixture("viewxml-idle-server.xml"),
         ""},
        {"no channels_relayed element: every channel of the document counts",
         "<status><channel id=\"B1\"><relay listeners=\"2\" relays=\"1\" status=\"RECEIVE\"/></channel>\n"
         "<channel id=\"B2\" name=\"x\"><relay listeners=\"0\" relays=\"0\" status=\"IDLE\"/></channel></status>",
         "B1 2 1 RECEIVE|B2 0 0 IDLE"},
        {"an attribute given twice or not at all reads as empty",
         "<channels_relayed><channel id=\"C1\" id=\"C2\"><relay listeners=\"1\" relays=\"1\"/>"
         "<relay listeners=\"1\" status=\"RECEIVE\"/></channel></channels_relayed>",
         " 0 1 RECEIVE"},
        {"figures that are not integers read as 0",
         "<channels_relayed><channel id=\"D1\"><relay listeners=\"many\" relays=\"\" status=\"WAIT\"/>"
         "</channel></channels_relayed>",
         "D1 0 0 WAIT"},
        {"names and values of any case",
         "<CHANNELS_RELAYED><Channel ID=\"E1\"><relay Listeners=\"+3\" RELAYS=\"-1\" status=\"receive\"/></channel>"
         "</channels_relayed>",
         "E1 3 -1 receive"},
    }};

    RegularExpression regExp;
    for (const Case& c : cases) {
        TkavoChList list;
        FillFromTokens(list, "Z", 0); // an earlier read, replaced by any non-empty document
        EXPECT_TRUE(ParseLocalChannels(c.Document, regExp, list)) << c.Name;
        EXPECT_EQ(Describe(list), c.Expected) << c.Name;
    }
}

TEST(LocalChannels, AnEmptyDocumentKeepsTheEarlierChannels)
{
    RegularExpression regExp;
    TkavoChList list;
    ASSERT_TRUE(ParseLocalChannels(ReadFixture("viewxml-hits.xml"), regExp, list));
    for (const char* empty : {"", "\r\n\r\n"}) {
        EXPECT_FALSE(ParseLocalChannels(empty, regExp, list));
        EXPECT_EQ(list.Count(), 2);
    }
}

TEST(LocalChannels, AttributeValueNeedsExactlyOneMatch)
{
    RegularExpression regExp;
    regExp.IgnoreCase = false; // whatever an earlier user left, attributes match without case
    EXPECT_EQ(AttributeValue("status", " status=\"RECEIVE\" ", regExp), "RECEIVE");
    EXPECT_EQ(AttributeValue("status", " STATUS=\"\" ", regExp), "");
    EXPECT_EQ(AttributeValue("status", " status=\"A\" status=\"A\"", regExp), "");
    EXPECT_EQ(AttributeValue("status", " status=RECEIVE ", regExp), "");
    // The name is not anchored: "relays" also ends "hostrelays".
    EXPECT_EQ(AttributeValue("relays", " hostrelays=\"4\" ", regExp), "4");
}

TEST(LocalChannels, MarkLocalSetsStatusAndMarks)
{
    struct Case
    {
        const char* Name;
        TkavoDiff Before;
        int Listeners;
        const char* Status;
        TkavoDiff After;
    };
    constexpr std::array<Case, 8> cases = {{
        {"receive with a listener plays", TkavoDiff::New, 1, "RECEIVE", TkavoDiff::Playing},
        {"playing wins over Change", TkavoDiff::Change, 2, "RECEIVE", TkavoDiff::Playing},
        {"receive without a listener relays", TkavoDiff::Up, 0, "RECEIVE", TkavoDiff::Relaying},
        {"Change stays when relaying", TkavoDiff::Change, 0, "RECEIVE", TkavoDiff::Change},
        {"idle", TkavoDiff::PreNew, 0, "IDLE", TkavoDiff::Idle},
        {"Change stays when idle", TkavoDiff::Change, 0, "IDLE", TkavoDiff::Change},
        {"a listener on an idle channel is not playing", TkavoDiff::None, 1, "IDLE", TkavoDiff::Idle},
        {"any other status relays, case counts", TkavoDiff::Down, 1, "receive", TkavoDiff::Relaying},
    }};
    for (const Case& c : cases) {
        YpRecord yp;
        FillFromTokens(yp.ChList, "A B A2", 0);
        for (TkavoChItem& channel : yp.ChList) {
            channel.Diff = c.Before;
            channel.LocalStatus = "before";
        }
        TkavoChList local;
        FillFromTokens(local, "A", 0);
        local[0].Listeners = c.Listeners;
        local[0].LocalStatus = c.Status;

        MarkLocal(yp, local);
        // Every record with the ID is marked; the others keep what they had.
        for (const int i : {0, 2}) {
            EXPECT_STREQ(DiffName(yp.ChList[i].Diff), DiffName(c.After)) << c.Name << ", record " << i;
            EXPECT_EQ(yp.ChList[i].LocalStatus, c.Status) << c.Name << ", record " << i;
        }
        EXPECT_EQ(yp.ChList[1].Diff, c.Before) << c.Name;
        EXPECT_EQ(yp.ChList[1].LocalStatus, "before") << c.Name;
    }
}

TEST(LocalChannels, MarkLocalAppliesEveryListingOfAChannelInOrder)
{
    YpRecord yp;
    FillFromTokens(yp.ChList, "A B", 0);
    TkavoChList local;
    FillFromTokens(local, "A B A", 0);
    local[0].Listeners = 1;
    local[0].LocalStatus = "RECEIVE";
    local[1].LocalStatus = "RECEIVE";
    local[2].LocalStatus = "IDLE";
    MarkLocal(yp, local);
    EXPECT_EQ(test::Marks(yp.ChList), "A:Idle B:Relaying");
    EXPECT_EQ(yp.ChList[0].LocalStatus, "IDLE");
}

// The channels of a YP that the relay fixture knows: played, relayed without a listener, idle,
// searching, and one the server only found on the network.
std::string FixtureId(const std::string& name)
{
    static const std::vector<std::pair<std::string, std::string>> ids = {
        {"play", "A0000000000000000000000000000001"},  {"relay", "A0000000000000000000000000000002"},
        {"idle", "A0000000000000000000000000000003"},  {"search", "A0000000000000000000000000000004"},
        {"found", "F0000000000000000000000000000005"}, {"other", "B0000000000000000000000000000006"}};
    for (const auto& [channel, id] : ids)
        if (channel == name)
            return id;
    return NoHash;
}

// A cycle's steps for one YP as the retrieval module runs them: the local server's list first,
// then (after a parse or a skip) the update and the local marks.
TEST(LocalChannels, MarksOverCyclesFromTheLocalServer)
{
    struct Step
    {
        const char* Name;
        const char* Document; // the fixture served; "" when the server is down; nullptr with the option off
        const char* Index;    // the YP's channels, "+d" for a new description; nullptr for a skipped YP
        const char* Marks;
        const char* Statuses; // LocalStatus of each channel, "-" for none
    };
    const std::array<Step, 7> steps = {{
        {"receive with a listener plays, without one relays, idle is idle, a found channel is not local",
         "viewxml-relay.xml", "play relay idle search found other",
         "play:Playing relay:Relaying idle:Idle "
         "search:Relaying found other",
         "RECEIVE RECEIVE IDLE SEARCH - -"},
        {"Change stays unless the channel plays", "viewxml-relay.xml", "play+d relay+d idle+d search found other",
         "play:Playing relay:Change idle:Change search:Relaying found other", "RECEIVE RECEIVE IDLE SEARCH - -"},
        {"the server stops: the last read marks again, also a skipped YP", "", nullptr,
         "play:Playing relay:Relaying idle:Idle search:Relaying found other", "RECEIVE RECEIVE IDLE SEARCH - -"},
        {"hits layout: the local listener count is read", "viewxml-hits.xml", "play+d relay+d idle+d found other",
         "play:Playing relay:Relaying idle found other", "RECEIVE RECEIVE - - -"},
        {"a server that relays nothing marks nothing", "viewxml-idle-server.xml", "play+d relay+d found",
         "play relay found", "- - -"},
        {"back to relaying", "viewxml-relay.xml", "play+d relay+d", "play:Playing relay:Relaying", "RECEIVE RECEIVE"},
        {"the option off forgets the local channels", nullptr, "play+d relay+d", "play relay", "- -"},
    }};

    auto clock = std::make_shared<ManualClock>(45000.5);
    SetClock(clock);
    std::unique_ptr<test::TestHttpServer> server;
    HttpClient http;
    HttpOptions options;
    options.TimeoutSeconds = 5;
    http.Apply(options);
    RegularExpression regExp;
    const FavoriteMatcher favorites;
    TkavoChList local;
    YpRecord yp;
    std::size_t requests = 0;
    std::string address;

    for (const Step& step : steps) {
        clock->AddMinutes(10);
        if (step.Document && !*step.Document) {
            server.reset();
        } else if (step.Document) {
            if (!server) {
                server = std::make_unique<test::TestHttpServer>();
                address = server->Url("/admin?cmd=viewxml");
                requests = 0;
            }
            server->Route("/admin", test::HttpReply::Ok(ReadFixture(step.Document)));
        }
        ReadLocalChannels(step.Document != nullptr, address, http, regExp, local);

        if (step.Index) {
            yp.ChList.Clear();
            FillFromTokens(yp.ChList, step.Index, Now());
            for (TkavoChItem& channel : yp.ChList)
                channel.Hash = FixtureId(channel.ChannelName);
            yp.ChList.Valid = true;
            ++yp.SuccessCount;
        }
        UpdateYp(yp, {UpdateOptions{}, favorites, regExp, Now()});
        MarkLocal(yp, local);

        EXPECT_EQ(test::Marks(yp.ChList), step.Marks) << step.Name;
        std::string statuses;
        for (const TkavoChItem& channel : yp.ChList)
            statuses += (statuses.empty() ? "" : " ") + (channel.LocalStatus.empty() ? "-" : channel.LocalStatus);
        EXPECT_EQ(statuses, step.Statuses) << step.Name;
        if (server) {
            const std::size_t now = server->RequestsFor("/admin").size();
            EXPECT_EQ(now - requests, step.Document ? 1u : 0u) << step.Name;
            requests = now;
        }
    }
    SetClock(nullptr);
}

} // namespace
} // namespace kavo
