// Retrieval scripts through real cycles: the YP's script replaces the download.
#include "net/CycleFixture.h"

#include "net/HttpClient.h"
#include "platform/Cp932.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <string>
#include <vector>

namespace kavo {
namespace {

using namespace std::chrono_literals;
using test::HttpReply;
using test::Id;
using test::IndexLine;

// A script line printing one channel of that name (a script expression).
std::string PrintChannel(const std::string& nameExpression)
{
    return "println(" + nameExpression + " + '<>" + Id(7) + "<><><><><>1<>0<>300<>WMV<><><><><><><><><>0');\n";
}

class YpScriptCycleTest : public test::CycleFixture
{
protected:
    void SetUp() override
    {
        CycleFixture::SetUp();
        MakeNet();
    }

    TkavoYpItem& AddScriptYp(const std::string& path, const std::string& script, const std::string& source)
    {
        WriteFile(script, source);
        TkavoYpItem& yp = AddYp(path);
        yp.Script = script;
        return yp;
    }
};

TEST_F(YpScriptCycleTest, NineArgumentsFromTheSettings)
{
    Setting().URL.Proxy = "proxy.example:8080";
    Setting().URL.Timeout = "7";
    TkavoYpItem& yp = AddYp("/yp/");
    // Relative to the program folder, with the separator Windows settings files carry.
    WriteFile("scripts/args.dms", PrintChannel("args.join('|')"));
    yp.Script = "scripts\\args.dms";
    yp.Host = "127.0.0.1:7144";
    yp.ChType = "wmv|flv";
    yp.Title = Sjis("テストYP");

    RunCycle(true);
    EXPECT_EQ(Errors(), std::vector<std::string>{});
    EXPECT_EQ(Names(Record(yp).ChList),
              std::vector<std::string>{yp.Url + "|127.0.0.1:7144|*|wmv|flv|True|proxy.example:8080|7|" + yp.Title +
                                       "|False"});
    // The script stood in for the download.
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_EQ(Record(yp).SuccessCount, 1);
}

TEST_F(YpScriptCycleTest, EveryYpRunsItsOwnScriptAndFailsAlone)
{
    struct Case
    {
        const char* path;
        std::string source;
        std::vector<std::string> names; // afterwards
        std::string message;            // of the error text; "" for none
    };
    const std::array<Case, 7> cases{{
        {"/a/", PrintChannel("'from a'"), {"from a"}, ""},
        {"/b/", PrintChannel("'from b'"), {"from b"}, ""},
        {"/err/", PrintChannel("'lost'") + "stderr.writeln('取得失敗');", {"old"}, Sjis("取得失敗\r\n")},
        {"/syntax/", "function (", {"old"}, Sjis("スクリプトコンパイルエラー")},
        {"/throw/", "throw new Error('stop');", {"old"}, "1" + Sjis("行目: ") + "Error: stop"},
        {"/empty/", "var nothing = 0;", {}, ""},
        {"/missing/", "print(http.get(args[0] + 'index.txt'));", {"old"}, ""},
    }};
    std::vector<TkavoYpItem*> yps;
    std::vector<Seed> seeds;
    for (const Case& c : cases) {
        yps.push_back(&AddScriptYp(c.path, std::string(c.path + 1) + "script.dms", c.source));
        seeds.push_back({yps.back(), {"old"}, {}});
    }
    SeedYps(seeds);

    RunCycle(true);
    const std::vector<std::string> errors = Errors();
    ASSERT_EQ(errors.size(), 4u);
    std::size_t error = 0;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        EXPECT_EQ(Names(Record(*yps[i]).ChList), c.names) << c.path;
        const bool failed = !c.names.empty() && c.names[0] == "old";
        if (!failed)
            continue;
        const std::string frame = DownloadError(*yps[i], "");
        ASSERT_EQ(errors[error].substr(0, frame.size()), frame) << c.path;
        if (!c.message.empty()) {
            EXPECT_EQ(errors[error], DownloadError(*yps[i], c.message)) << c.path;
        } else {
            // http.get of a page the server does not have.
            EXPECT_NE(errors[error].find("404 Not Found"), std::string::npos) << errors[error];
        }
        ++error;
    }
    EXPECT_EQ(net->LastCycle().Failed, 4);
}

TEST_F(YpScriptCycleTest, AScriptFetchesAndRewritesAnIndex)
{
    // The README's example.
    const char* source = R"(// args[0] is the YP's URL, args[1] the local server's address.
var text = http.get(args[0] + 'index.txt?host=' + args[1]);
var lines = text.split(/\r?\n/);
for (var i = 0; i < lines.length; i++) {
    var f = lines[i].split('<>');
    if (f.length < 19 || f[0].indexOf('(archive)') >= 0)
        continue;
    f[0] = '[' + args[7] + '] ' + f[0];
    println(f.join('<>'));
}
)";
    server.Route("/yp/index.txt", HttpReply::Ok(IndexLine("ゲーム", Id(1)) + IndexLine("(archive) old", Id(2)) +
                                                    IndexLine("雑談", Id(3)),
                                                test::BodyEncoding::Gzip));
    TkavoYpItem& yp = AddScriptYp("/yp/", "rewrite.dms", source);
    yp.Title = Sjis("例");

    RunCycle(true);
    EXPECT_EQ(Errors(), std::vector<std::string>{});
    EXPECT_EQ(Names(Record(yp).ChList), (std::vector<std::string>{Sjis("[例] ゲーム"), Sjis("[例] 雑談")}));
    const auto requests = server.RequestsFor("/yp/index.txt");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Target, "/yp/index.txt?host=localhost:7144");
    // With the module's HTTP settings.
    EXPECT_EQ(requests[0].Header("User-Agent"), HttpClient::UserAgent);
    EXPECT_EQ(requests[0].Header("Accept-Encoding"), HttpClient::AcceptEncoding);
}

TEST_F(YpScriptCycleTest, NamesComeOutRightWithEitherEncoding)
{
    struct Case
    {
        const char* name;
        bool utf2sjis;
        bool cp932File;
    };
    const std::array<Case, 4> cases{{
        {"UTF2SJIS on, UTF-8 script", true, false},
        {"UTF2SJIS on, CP932 script", true, true},
        {"UTF2SJIS off, UTF-8 script", false, false},
        {"UTF2SJIS off, CP932 script", false, true},
    }};
    for (const Case& c : cases) {
        const std::string source = PrintChannel("'日本語チャンネル①'");
        Setting().YpList.Clear();
        TkavoYpItem& yp = AddScriptYp("/yp/", "names.dms", c.cp932File ? Sjis(source) : source);
        yp.UTF2SJIS = c.utf2sjis;
        RunCycle(true);
        EXPECT_EQ(Names(Record(yp).ChList), std::vector<std::string>{Sjis("日本語チャンネル①")}) << c.name;
    }
    EXPECT_EQ(Errors(), std::vector<std::string>{});
}

TEST_F(YpScriptCycleTest, ARunawayScriptFailsItsYpOnly)
{
    Setting().URL.Timeout = "1";
    TkavoYpItem& stuck = AddScriptYp("/stuck/", "stuck.dms", "for (;;) {}");
    server.Route("/next/index.txt", HttpReply::Ok(IndexLine("next", Id(1))));
    TkavoYpItem& next = AddYp("/next/");

    RunCycle(true);
    EXPECT_EQ(Errors(),
              std::vector<std::string>{DownloadError(stuck, Sjis("スクリプトの実行が制限時間(2秒)を超えました"))});
    EXPECT_EQ(Names(Record(next).ChList), std::vector<std::string>{"next"});
}

TEST_F(YpScriptCycleTest, ScriptsRunOnlyWhenAllowedAndPresent)
{
    server.Route("/yp/index.txt", HttpReply::Ok(IndexLine("downloaded", Id(1))));
    struct Case
    {
        const char* name;
        bool canDms;
        const char* script;
        const char* channel;
    };
    const std::array<Case, 3> cases{{
        {"allowed and present", true, "yp.dms", "scripted"},
        {"not allowed", false, "yp.dms", "downloaded"},
        {"no such file", true, "none.dms", "downloaded"},
    }};
    WriteFile("yp.dms", PrintChannel("'scripted'"));
    TkavoYpItem& yp = AddYp("/yp/");
    for (const Case& c : cases) {
        net->CanDMS = c.canDms;
        yp.Script = c.script;
        RunCycle(true);
        EXPECT_EQ(Names(Record(yp).ChList), std::vector<std::string>{c.channel}) << c.name;
    }
}

TEST_F(YpScriptCycleTest, TheEngineIsReplacedOnlyBetweenCycles)
{
    HttpReply slow = HttpReply::Ok(IndexLine("slow", Id(1)));
    slow.Delay = 300ms;
    server.Route("/slow/index.txt", slow);
    AddYp("/slow/");
    TkavoYpItem& scripted = AddScriptYp("/scripted/", "s.dms", PrintChannel("'scripted'"));

    net->Manual = true;
    net->StartRetrieval();
    EXPECT_FALSE(net->RecreateScriptEngine());
    ASSERT_TRUE(loop.RunUntil([this] { return !net->Running(); }, 60s));
    EXPECT_TRUE(net->RecreateScriptEngine());

    // The new engine runs the scripts as the old one did.
    WriteFile("s.dms", PrintChannel("'new engine'"));
    RunCycle(true);
    EXPECT_EQ(Names(Record(scripted).ChList), std::vector<std::string>{"new engine"});
}

} // namespace
} // namespace kavo
