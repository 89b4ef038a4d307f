#include "net/CycleFixture.h"
#include "net/EventLoop.h"
#include "net/ukavoNet.h"

#include "platform/Cp932.h"
#include "platform/DateTime.h"
#include "platform/VisitedUrls.h"
#include "settings/TkavoSetting.h"
#include "support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace kavo {
namespace {

using namespace std::chrono_literals;
using test::HttpReply;
using test::Id;
using test::TestHttpServer;

// One index line in UTF-8, as YPs send it.
std::string IndexLine(const std::string& name, const std::string& id, const std::string& type = "WMV")
{
    return name + "<>" + id + "<>10.0.0.1:7144<>http://example.com/<>genre<>desc - &lt;Open&gt;<>5<>1<>300<>" + type +
           "<><><><><>%20<>1:05<>click<><>0\r\n";
}

class RetrievalCycleTest : public test::CycleFixture
{
protected:
    void SetUp() override
    {
        CycleFixture::SetUp();
        TkavoSetting& setting = Setting();
        setting.Notify.Unique = true;
        setting.ColorFont.Visit = true;
        MakeNet();
        net->OnSuccess = [this](TkavoNet&) { event("OnSuccess"); };
        net->OnComplate = [this](TkavoNet&) { event("OnComplate"); };
        net->OnCycleError = [this](TkavoNet&, const std::string& message) { event("OnCycleError: " + message); };
    }

    TkavoYpItem& AddYp(const std::string& path, bool enabled = true)
    {
        TkavoYpItem& yp = CycleFixture::AddYp(path);
        yp.Enabled = enabled;
        return yp;
    }

    void RunCycle(bool manual)
    {
        events.clear();
        CycleFixture::RunCycle(manual);
    }

    std::size_t Fetches(const std::string& path) const { return server.RequestsFor(path + "index.txt").size(); }

    void event(const std::string& name)
    {
        events.push_back(name);
        eventsOnMain = eventsOnMain && std::this_thread::get_id() == mainThread;
    }

    std::vector<std::string> events;
    bool eventsOnMain = true;
};

TEST_F(RetrievalCycleTest, MergesEveryYpInOrderOnTheMainThread)
{
    // A byte-order mark, and a character CP932 has no form for.
    server.Route("/a/index.txt",
                 HttpReply::Ok("\xEF\xBB\xBF" + IndexLine("ゲーム実況🎮", Id(1)) + IndexLine("雑談", Id(2))));
    server.Route("/b/index.txt", HttpReply::Ok(IndexLine("そのまま", Id(3))));
    TkavoYpItem& a = AddYp("/a/", false);
    TkavoYpItem& b = AddYp("/b/", false);
    b.UTF2SJIS = false;
    TkavoYpItem& off = AddYp("/off/", false);
    SeedYps({{&off, {"stale"}, {"ended"}}});
    a.Enabled = b.Enabled = true;
    auto& favorite = Setting().Favorites.Add(std::make_unique<TkavoFavoriteItem>());
    favorite.Enabled = true;
    favorite.Channel = true;
    favorite.Word = Sjis("実況");

    RunCycle(false);

    EXPECT_EQ(events, (std::vector<std::string>{"OnSuccess", "OnComplate"}));
    EXPECT_TRUE(eventsOnMain);
    EXPECT_TRUE(Errors().empty());
    // Without conversion the UTF-8 bytes are taken as they are.
    EXPECT_EQ(Names(net->ChList()), (std::vector<std::string>{Sjis("ゲーム実況?"), Sjis("雑談"), "そのまま"}));
    EXPECT_EQ(Names(net->ChListLog()), std::vector<std::string>{"ended"});
    EXPECT_EQ(Record(off).ChList.Count(), 0);
    EXPECT_EQ(net->ChList().LastUpdate, Start);
    EXPECT_TRUE(net->ChList()[0].Favorite);
    EXPECT_FALSE(net->ChList()[1].Favorite);
    EXPECT_EQ(net->ChList()[2].YpAddr, b.Url);
    for (TkavoYpItem* yp : {&a, &b}) {
        EXPECT_TRUE(Record(*yp).ChList.Valid);
        EXPECT_EQ(Record(*yp).SuccessCount, 1);
        EXPECT_EQ(Record(*yp).LastUpdate, Start);
    }
    EXPECT_EQ(net->LastCycle().Retrieved, 2);
    ASSERT_EQ(Fetches("/a/"), 1u);
    EXPECT_EQ(server.RequestsFor("/a/index.txt")[0].Target, "/a/index.txt?host=localhost:7144");
    EXPECT_EQ(Fetches("/off/"), 0u);
}

TEST_F(RetrievalCycleTest, AutomaticCyclesAreThrottledPerYp)
{
    TkavoYpItem& yp = AddYp("/yp/");
    struct Step
    {
        const char* name;
        double minutes; // the clock moves by this before the cycle
        bool manual;
        int status;
        bool fetched;
    };
    const std::array<Step, 7> steps{{
        {"first cycle, automatic, fails", 0, false, 500, true},
        {"failed YP retried a minute later", 1, false, 200, true},
        {"5 minutes after the success", 5, false, 200, false},
        {"manual right after", 0, true, 200, true},
        {"5 minutes after the manual one", 5, false, 200, false},
        {"11 minutes after the manual one", 6, false, 200, true},
        {"at once again", 0, false, 200, false},
    }};
    std::size_t fetches = 0;
    for (const Step& step : steps) {
        clock->AddMinutes(step.minutes);
        server.Route("/yp/index.txt", step.status == 200 ? HttpReply::Ok(IndexLine("ch", Id(1)))
                                                         : HttpReply::Error(step.status, "Internal Server Error"));
        RunCycle(step.manual);
        fetches += step.fetched;
        EXPECT_EQ(Fetches("/yp/"), fetches) << step.name;
        EXPECT_EQ(net->LastCycle().Skipped, step.fetched ? 0 : 1) << step.name;
        // A skipped YP keeps its list, and the events come as after every cycle.
        EXPECT_EQ(net->ChList().Count(), step.status == 200 ? 1 : 0) << step.name;
        EXPECT_EQ(events, (std::vector<std::string>{"OnSuccess", "OnComplate"})) << step.name;
        if (step.fetched && step.status == 200) {
            EXPECT_EQ(Record(yp).LastUpdate, clock->Now()) << step.name;
        }
    }
}

TEST_F(RetrievalCycleTest, FailuresGiveTheErrorTextAndKeepThePreviousList)
{
    int closedPort;
    {
        TestHttpServer closed;
        closedPort = closed.Port();
    }
    TkavoYpItem& yp = AddYp("/yp/");
    server.Route("/yp/index.txt", HttpReply::Ok(IndexLine("one", Id(1)) + IndexLine("two", Id(2))));
    RunCycle(true);
    ASSERT_EQ(Record(yp).ChList.Count(), 2);

    const std::string frame = yp.Url + "\r\n" + Sjis("ダウンロードエラー") + "\r\n" + Sjis("詳細：");
    server.Route("/yp/index.txt", HttpReply::Error(404, "Not Found"));
    clock->AddMinutes(1);
    RunCycle(true);
    ASSERT_EQ(Errors().size(), 1u);
    EXPECT_EQ(Errors()[0], frame + Sjis("サーバーがエラーを返しました (HTTP 404) (") + "HTTP/1.1 404 Not Found)");
    EXPECT_TRUE(errorsOnWorker);
    EXPECT_EQ(Names(net->ChList()), (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(Record(yp).LastUpdate, Start);
    EXPECT_EQ(net->LastCycle().Failed, 1);

    // A server that closes early is no error; the list stays and the YP counts as retrieved.
    HttpReply partial = HttpReply::Ok(IndexLine("three", Id(3)) + IndexLine("four", Id(4)));
    partial.CloseAfter = 20;
    server.Route("/yp/index.txt", partial);
    RunCycle(true);
    EXPECT_EQ(Errors().size(), 1u);
    EXPECT_EQ(Names(net->ChList()), (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(Record(yp).SuccessCount, 1);
    EXPECT_EQ(Record(yp).LastUpdate, clock->Now());

    yp.Url = "http://127.0.0.1:" + std::to_string(closedPort) + "/";
    RunCycle(true);
    ASSERT_EQ(Errors().size(), 2u);
    // The common failure in Japanese first, the library's own words after it.
    const std::string unreachable =
        yp.Url + "\r\n" + Sjis("ダウンロードエラー") + "\r\n" + Sjis("詳細：接続が拒否されました (");
    EXPECT_EQ(Errors()[1].substr(0, unreachable.size()), unreachable);
    EXPECT_GT(Errors()[1].size(), unreachable.size() + 1);
}

// The error events name the YP, for the balloon's title. An index in Shift-JIS with UTF->SJIS
// ticked is read all the same but flagged; a UTF-8 one, or one without UTF->SJIS, is not.
TEST_F(RetrievalCycleTest, WrongEncodingIsFlaggedAndErrorsNameTheYp)
{
    std::vector<std::pair<std::string, std::string>> named;
    std::mutex lock;
    net->OnYpError = [&](TkavoNet&, const std::string& error, const std::string& name) {
        std::lock_guard guard(lock);
        named.emplace_back(name, error);
    };
    const std::string sjisIndex = Utf8ToCp932(IndexLine("ゲーム実況", Id(1)) + IndexLine("雑談", Id(2)));
    server.Route("/sjis/index.txt", HttpReply::Ok(sjisIndex));
    server.Route("/plain/index.txt", HttpReply::Ok(sjisIndex));
    server.Route("/utf8/index.txt", HttpReply::Ok(IndexLine("ゲーム実況", Id(3))));
    TkavoYpItem& sjis = AddYp("/sjis/");
    sjis.Title = Sjis("SJISのYP");
    TkavoYpItem& plain = AddYp("/plain/");
    plain.UTF2SJIS = false;
    AddYp("/utf8/");
    TkavoYpItem& dead = AddYp("/dead/");
    dead.Title = "";
    dead.Url = "http://127.0.0.1:1/";
    RunCycle(true);

    ASSERT_EQ(named.size(), 2u);
    EXPECT_EQ(named[0].first, Sjis("SJISのYP"));
    EXPECT_EQ(named[0].second, sjis.Url + "\r\n" + Sjis("文字コードが違うようです: UTF->SJIS を外してください"));
    EXPECT_EQ(named[1].first, dead.Url); // a YP without a title goes by its address
    EXPECT_EQ(Errors().size(), 2u);
    // The flagged YP still counts as fetched, with its channels.
    EXPECT_EQ(Record(sjis).ChList.Count(), 2);
    EXPECT_EQ(Record(sjis).LastUpdate, clock->Now());
    EXPECT_EQ(net->LastCycle().Failed, 1);
}

TEST_F(RetrievalCycleTest, AFailedYpGetsAFreshClientAndTheOthersGoOn)
{
    HttpReply login = HttpReply::Ok(IndexLine("a", Id(1)));
    login.Headers.emplace_back("Set-Cookie", "yp=1; Path=/");
    server.Route("/a/index.txt", login);
    server.Route("/b/index.txt", HttpReply::Ok(IndexLine("b", Id(2))));
    server.Route("/c/index.txt", HttpReply::Ok(IndexLine("c", Id(3))));
    AddYp("/a/");
    TkavoYpItem& b = AddYp("/b/");
    AddYp("/c/");
    RunCycle(true);
    EXPECT_EQ(server.RequestsFor("/c/index.txt").back().Header("Cookie"), "yp=1");

    server.Route("/b/index.txt", HttpReply::Error(500, "Internal Server Error"));
    RunCycle(true);
    EXPECT_EQ(Errors().size(), 1u);
    EXPECT_EQ(Record(b).ChList.Count(), 1);
    EXPECT_EQ(Fetches("/c/"), 2u);
    // The client was replaced after the failure: the cookie is gone.
    EXPECT_FALSE(server.RequestsFor("/c/index.txt").back().HasHeader("Cookie"));
    EXPECT_EQ(Names(net->ChList()), (std::vector<std::string>{"a", "b", "c"}));
}

// Whatever goes wrong inside one YP fails that YP with an error text; the others are fetched.
TEST_F(RetrievalCycleTest, AnyExceptionInsideOneYpFailsOnlyThatYp)
{
    server.Route("/a/index.txt", HttpReply::Ok(IndexLine("a", Id(1))));
    server.Route("/b/index.txt", HttpReply::Ok(IndexLine("b", Id(2))));
    TkavoYpItem& a = AddYp("/a/");
    AddYp("/b/");
    const std::string frame = a.Url + "\r\n" + Sjis("ダウンロードエラー") + "\r\n" + Sjis("詳細：");
    struct Case
    {
        std::function<void()> fail;
        std::string detail;
    };
    const std::vector<Case> cases{
        {[] { throw std::bad_alloc(); }, "out of memory"},
        {[] { throw std::logic_error("engine error"); }, "engine error"},
    };
    for (const Case& c : cases) {
        net->OnFetchYp = [&](const TkavoYpItem& yp) {
            if (yp.Url == a.Url)
                c.fail();
        };
        clock->AddMinutes(1);
        RunCycle(true);
        EXPECT_FALSE(net->LastCycle().EndedEarly) << c.detail;
        ASSERT_FALSE(Errors().empty());
        EXPECT_EQ(Errors().back(), frame + c.detail);
        EXPECT_EQ(Names(net->ChList()), std::vector<std::string>{"b"}) << c.detail;
        EXPECT_EQ(net->LastCycle().Failed, 1);
    }
    net->OnFetchYp = nullptr;
}

TEST_F(RetrievalCycleTest, MergeLeavesOutDuplicatesWhenUnique)
{
    // Both YPs list the channel "same"; the second also lists its ID under another name.
    server.Route("/a/index.txt", HttpReply::Ok(IndexLine("same", Id(1)) + IndexLine("other", Id(2))));
    server.Route("/b/index.txt", HttpReply::Ok(IndexLine("same", Id(1)) + IndexLine("renamed", Id(2))));
    TkavoYpItem& a = AddYp("/a/");
    AddYp("/b/");
    struct Case
    {
        bool unique;
        std::vector<std::string> names;
    };
    const std::array<Case, 2> cases{{
        {true, {"same", "other", "renamed"}},
        {false, {"same", "other", "same", "renamed"}},
    }};
    for (const Case& c : cases) {
        Setting().Notify.Unique = c.unique;
        RunCycle(true);
        EXPECT_EQ(Names(net->ChList()), c.names) << "Unique " << c.unique;
        EXPECT_EQ(net->ChList()[0].YpAddr, a.Url) << "Unique " << c.unique;
    }
}

TEST_F(RetrievalCycleTest, AllYpsDisabled)
{
    std::vector<Seed> seeds;
    for (const char* path : {"/a/", "/b/"})
        seeds.push_back({&AddYp(path, false), {std::string("on air on ") + path}, {std::string("ended on ") + path}});
    SeedYps(seeds);
    RunCycle(true);
    EXPECT_EQ(net->ChList().Count(), 0);
    EXPECT_EQ(Names(net->ChListLog()), (std::vector<std::string>{"ended on /a/", "ended on /b/"}));
    EXPECT_EQ(events, (std::vector<std::string>{"OnSuccess", "OnComplate"}));
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(RetrievalCycleTest, AStartDuringACycleDoesNothing)
{
    HttpReply slow = HttpReply::Ok(IndexLine("ch", Id(1)));
    slow.Delay = 300ms;
    server.Route("/yp/index.txt", slow);
    AddYp("/yp/");
    int successes = 0;
    net->OnSuccess = [&](TkavoNet&) { ++successes; };
    net->Manual = true;
    net->StartRetrieval();
    net->StartRetrieval();
    EXPECT_TRUE(net->Running());
    ASSERT_TRUE(loop.RunUntil([this] { return !net->Running(); }, 60s));
    // The second start left nothing behind: no cycle, no finish step on its way.
    loop.RunPending();
    EXPECT_FALSE(net->Running());
    EXPECT_EQ(successes, 1);
    EXPECT_EQ(Fetches("/yp/"), 1u);

    RunCycle(true);
    EXPECT_EQ(successes, 2);
}

TEST_F(RetrievalCycleTest, AFailureOutsideOneYpEndsTheCycleEarly)
{
    server.Route("/a/index.txt", HttpReply::Error(404, "Not Found"));
    server.Route("/b/index.txt", HttpReply::Ok(IndexLine("b", Id(2))));
    TkavoYpItem& a = AddYp("/a/", false);
    TkavoYpItem& b = AddYp("/b/");
    // Retrieved just now: only a cycle that is not throttled fetches it.
    SeedYps({{&b, {"old b"}, {}}});
    a.Enabled = true;
    clock->AddMinutes(1);
    net->OnError = [](TkavoNet&, const std::string&) { throw std::runtime_error("handler failed"); };

    RunCycle(false);
    EXPECT_EQ(events, (std::vector<std::string>{"OnCycleError: handler failed", "OnSuccess", "OnComplate"}));
    EXPECT_TRUE(net->LastCycle().EndedEarly);
    EXPECT_EQ(Fetches("/b/"), 0u);
    EXPECT_EQ(Names(net->ChList()), std::vector<std::string>{"old b"});
    EXPECT_EQ(net->ChList().LastUpdate, Start) << "the time of the last cycle that completed";

    // The first cycle never completed, so the next automatic one is not throttled.
    net->OnError = nullptr;
    clock->AddMinutes(1);
    RunCycle(false);
    EXPECT_EQ(Fetches("/b/"), 1u);
    EXPECT_EQ(net->ChList().LastUpdate, clock->Now());
}

TEST_F(RetrievalCycleTest, DestroyingTheModuleWaitsForItsWorker)
{
    HttpReply slow = HttpReply::Ok(IndexLine("ch", Id(1)));
    slow.Delay = 200ms;
    server.Route("/yp/index.txt", slow);
    AddYp("/yp/");
    bool succeeded = false;
    net->OnSuccess = [&](TkavoNet&) { succeeded = true; };
    net->StartRetrieval();
    net.reset();
    // The finish step that was posted meanwhile finds the module gone and does nothing.
    loop.RunPending();
    EXPECT_FALSE(succeeded);
    EXPECT_EQ(Fetches("/yp/"), 1u);
}

} // namespace
} // namespace kavo

namespace kavo {
namespace {

TEST_F(RetrievalCycleTest, ChannelsWhoseContactPageWasOpenedAreMarkedVisited)
{
    char folder[] = "/tmp/kavo-visited-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    VisitedUrls visited(std::string(folder) + "/visited.sqlite");
    visited.Add("http://example.com/");
    server.Route("/a/index.txt", HttpReply::Ok(IndexLine("seen", Id(1)) + "other<>" + Id(2) +
                                               "<>h<>http://other.example/<><><>1<>0<>300<>WMV"
                                               "<><><><><><>1:00<>click<><>0\r\n"));
    AddYp("/a/");

    RunCycle(true);
    ASSERT_EQ(net->ChList().Count(), 2);
    EXPECT_FALSE(net->ChList()[0].Visited) << "no store given: nothing is visited";

    net->SetVisitedUrls(&visited);
    RunCycle(true);
    EXPECT_TRUE(net->ChList()[0].Visited);
    EXPECT_FALSE(net->ChList()[1].Visited);

    Setting().ColorFont.Visit = false;
    RunCycle(true);
    EXPECT_FALSE(net->ChList()[0].Visited);
    net->SetVisitedUrls(nullptr);
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace kavo

namespace kavo {
namespace {

// The marks the user puts on the lists handed out stay until the next cycle replaces the lists, and
// go to those lists only: not to the YP's records, nor to a copy that merely names the list.
TEST_F(RetrievalCycleTest, MarksOnTheHandedOutListsLastUntilTheNextCycle)
{
    TkavoYpItem& yp = AddYp("/yp/");
    SeedYps({{&yp, {"on air"}, {"ended"}}});
    ASSERT_EQ(net->ChList().Count(), 1);
    ASSERT_EQ(net->ChListLog().Count(), 1);
    const TkavoChItem& onAir = net->ChList()[0];
    const TkavoChItem& ended = net->ChListLog()[0];
    TkavoChItem copy;
    copy.Assign(onAir);
    TkavoChList other;
    const TkavoChItem& stranger = other.Add(std::make_unique<TkavoChItem>());

    EXPECT_TRUE(net->MarkRelaying(onAir));
    EXPECT_EQ(onAir.LocalStatus, "CONNECT");
    EXPECT_EQ(onAir.Diff, TkavoDiff::Relaying);
    EXPECT_TRUE(net->MarkRelaying(ended));
    EXPECT_TRUE(net->MarkStopped(ended));
    EXPECT_EQ(ended.LocalStatus, "");
    EXPECT_EQ(ended.Diff, TkavoDiff::None);
    EXPECT_FALSE(net->MarkRelaying(copy));
    EXPECT_FALSE(net->MarkRelaying(stranger));
    EXPECT_EQ(stranger.Diff, TkavoDiff::None);
    net->SetFindMarks({&onAir, &ended, &copy, &stranger}, {true, true, true, true});
    EXPECT_TRUE(onAir.Find);
    EXPECT_TRUE(ended.Find);
    EXPECT_FALSE(stranger.Find);
    EXPECT_EQ(Record(yp).ChList[0].LocalStatus, "");
    EXPECT_FALSE(Record(yp).ChList[0].Find);

    // While a cycle runs the lists are still the main thread's to mark; the cycle's end replaces them.
    HttpReply slow = HttpReply::Ok(IndexLine("on air", Id(1)));
    slow.Delay = 200ms;
    server.Route("/yp/index.txt", slow);
    net->Manual = true;
    net->StartRetrieval();
    EXPECT_TRUE(net->MarkRelaying(net->ChList()[0]));
    ASSERT_TRUE(loop.RunUntil([this] { return !net->Running(); }, 60s));
    ASSERT_EQ(net->ChList().Count(), 1);
    EXPECT_EQ(net->ChList()[0].LocalStatus, "");
    EXPECT_NE(net->ChList()[0].Diff, TkavoDiff::Relaying);
    EXPECT_FALSE(net->ChList()[0].Find);
}

// While cycles run on their worker, the main thread replaces the settings again and again, as the
// dialogs do with a commit (save, then load) or a reload on Cancel: YPs and favorites come and go
// and are edited. The cycles must work on what they took at their start, and the records follow
// the settings when each cycle ends.
TEST_F(RetrievalCycleTest, SettingsChangeFreelyWhileCyclesRun)
{
    HttpReply slow = HttpReply::Ok(IndexLine("a1", Id(1)) + IndexLine("a2", Id(2)));
    slow.Delay = 20ms;
    server.Route("/a/index.txt", slow);
    server.Route("/b/index.txt", HttpReply::Ok(IndexLine("b1", Id(3))));
    const std::string file = (folder / "kavo.ini").string();
    const auto text = [this](bool withB, int n) {
        std::string ini = "[PCRAW]\r\nCreateTimer=0\r\n[YP]\r\nTitle0=a" + std::to_string(n) +
                          "\r\nEnabled0=1\r\nChType0=\r\nUrl0=" + server.Url("/a/") + "\r\n";
        if (withB)
            ini += "Title1=b\r\nEnabled1=1\r\nChType1=\r\nUrl1=" + server.Url("/b/") + "\r\n";
        ini += "[Favorite]\r\nEnabled0=1\r\nTitle0=f\r\nChannel0=1\r\nWord0=a" + std::to_string(n % 3) + "\r\n";
        return ini;
    };
    WriteFile("kavo.ini", text(true, 0));
    Setting().Load(file);
    net->SettingsReloaded();

    int changes = 0;
    for (int cycle = 0; cycle < 12; ++cycle) {
        net->Manual = true;
        net->StartRetrieval();
        // Each change lands while the worker reads its snapshot.
        const auto end = std::chrono::steady_clock::now() + 10s;
        while (net->Running() && std::chrono::steady_clock::now() < end) {
            const bool withB = (++changes % 3) != 0;
            TkavoSetting edited = Setting();
            edited.Notify.Unique = !edited.Notify.Unique;
            if (edited.Favorites.Count() > 0)
                edited.Favorites[0].Word = "a" + std::to_string(changes % 3);
            edited.Save(file); // a commit: save, then load what was saved
            WriteFile("kavo.ini", text(withB, changes));
            Setting().Load(file);
            net->SettingsReloaded();
            loop.RunPending();
            std::this_thread::sleep_for(1ms);
        }
        ASSERT_FALSE(net->Running()) << "cycle " << cycle;
        // Every record follows the YPs configured now, in their order.
        ASSERT_EQ(net->Yps().Count(), Setting().YpList.Count());
        for (int i = 0; i < Setting().YpList.Count(); ++i)
            EXPECT_EQ(net->Yps()[i].Url, Setting().YpList[i].Url);
    }
    EXPECT_GT(changes, 12);
    EXPECT_TRUE(Errors().empty());
}

} // namespace
} // namespace kavo
