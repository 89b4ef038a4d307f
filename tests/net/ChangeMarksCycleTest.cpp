#include "ChannelTokens.h"
#include "net/CycleFixture.h"

#include "net/EventLoop.h"
#include "net/ukavoNet.h"
#include "platform/DateTime.h"
#include "settings/TkavoSetting.h"
#include "support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

namespace kavo {
namespace {

using namespace std::chrono_literals;
using test::HttpReply;

std::string Fixture(const std::string& name)
{
    std::ifstream in(std::string(KAVO_TEST_DATA) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// "ch1 ch2": index lines for channels whose IDs end in their number, as the viewxml fixtures
// have them (ch1 played, ch2 relayed, ch3 idle in viewxml-relay.xml).
std::string Index(const std::string& names)
{
    std::istringstream in(names);
    std::string name;
    std::string index;
    while (in >> name) {
        const std::string id =
            std::string(name == "ch6" || name == "ch7" ? "B" : "A") + std::string(30, '0') + name.back();
        index += name + "<>" + id + "<>10.0.0.1:7144<>http://example.com/<>genre<>desc<>5<>1<>300<>FLV<><><><><>" +
                 name + "<>1:05<>click<><>0\r\n";
    }
    return index;
}

std::string LocalStatuses(const TkavoChList& list)
{
    std::string text;
    for (const TkavoChItem& channel : list)
        text += (text.empty() ? "" : " ") + (channel.LocalStatus.empty() ? "-" : channel.LocalStatus);
    return text;
}

// The whole cycle of the retrieval module: the local server's list before the YPs, then for the
// YP its update and the local marks, then the merge of the YP's lists.
class ChangeMarksCycleTest : public test::CycleFixture
{
protected:
    void SetUp() override
    {
        CycleFixture::SetUp();
        TkavoSetting& setting = Setting();
        setting.URL.LocalChInfo = true;
        setting.URL.LocalChInfoAddr = server.Url("/admin?cmd=viewxml");
        setting.Notify.RankUpOrDown2None = false;
        setting.Notify.LogRankUp = true;
        setting.Notify.LogRangeHour = 1;
        setting.Notify.Unique = true;
        AddYp("/yp/");
        MakeNet();
    }
};

TEST_F(ChangeMarksCycleTest, CyclesGiveMarksLogAndLocalStatus)
{
    struct Cycle
    {
        const char* Name;
        bool ReloadBefore; // the settings dialog closed: the settings are saved and loaded again
        double Minutes;
        bool Manual; // an automatic cycle within 10 minutes of the last retrieval skips the YP
        const char* Channels;
        const char* Viewxml; // nullptr: the local server answers 404
        const char* Marks;
        const char* Statuses;
        const char* Log;
    };
    const std::array<Cycle, 5> cycles = {{
        {"first parse: only local marks", false, 10, true, "ch1 ch2 ch3 ch6", "viewxml-relay.xml",
         "ch1:Playing ch2:Relaying ch3:Idle ch6", "RECEIVE RECEIVE IDLE -", ""},
        {"rank up, new, ended; the hits layout still plays", false, 10, true, "ch6 ch1 ch2 ch7", "viewxml-hits.xml",
         "ch6:Up ch1:Playing ch2:Relaying ch7:New", "- RECEIVE RECEIVE -", "ch3"},
        {"back from the log; the server fails and its last list marks again", false, 10, true, "ch6 ch1 ch3 ch7",
         nullptr, "ch6 ch1:Playing ch3:Up ch7:PreNew", "- RECEIVE - -", "ch2"},
        {"after a reload a skipped YP keeps no mark but the local ones, and no log", true, 5, false, "", nullptr,
         "ch6 ch1:Playing ch3 ch7", "- RECEIVE - -", ""},
        {"the first parse after the reload marks new again", false, 10, true, "ch6 ch1 ch3 ch7 ch8",
         "viewxml-relay.xml", "ch6 ch1:Playing ch3:Idle ch7 ch8:New", "- RECEIVE IDLE - -", ""},
    }};
    for (const Cycle& cycle : cycles) {
        if (cycle.ReloadBefore) {
            const std::string file = testing::TempDir() + "kavo-change-marks.ini";
            Setting().Save(file);
            Setting().Load(file);
            net->SettingsReloaded();
            std::remove(file.c_str());
        }
        clock->AddMinutes(cycle.Minutes);
        server.Route("/yp/index.txt", HttpReply::Ok(Index(cycle.Channels)));
        server.Route("/admin",
                     cycle.Viewxml ? HttpReply::Ok(Fixture(cycle.Viewxml)) : HttpReply::Error(404, "Not Found"));
        net->Manual = cycle.Manual;
        net->StartRetrieval();
        ASSERT_TRUE(loop.RunUntil([this] { return !net->Running(); }, 60s)) << cycle.Name;

        EXPECT_EQ(net->LastCycle().Skipped, cycle.Manual ? 0 : 1) << cycle.Name;
        EXPECT_EQ(test::Marks(net->ChList()), cycle.Marks) << cycle.Name;
        EXPECT_EQ(LocalStatuses(net->ChList()), cycle.Statuses) << cycle.Name;
        EXPECT_EQ(test::Names(net->ChListLog()), cycle.Log) << cycle.Name;
    }
    EXPECT_EQ(server.RequestsFor("/admin").size(), cycles.size());
}

} // namespace
} // namespace kavo
