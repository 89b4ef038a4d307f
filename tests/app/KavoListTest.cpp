// kavo-list end to end: the program runs as its own process against YPs served on loopback.
#include "support/TestHttpServer.h"

#include "history/HistoryStore.h"
#include "platform/Cp932.h"
#include "platform/DateTime.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace kavo {
namespace {

namespace fs = std::filesystem;
using test::HttpReply;
using test::TestHttpServer;
using Json = nlohmann::json;

struct Outcome
{
    int Status = -1;
    std::string Out;
    std::string Err;
};

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

class KavoListTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "kavo-list-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        home = pattern;
    }
    void TearDown() override { fs::remove_all(home); }

    // The settings file, written as kavo writes it: CP932 with CR LF.
    void WriteSettings(const std::string& utf8)
    {
        std::string text;
        for (const std::string& line : Lines(utf8))
            text += Sjis(line) + "\r\n";
        std::ofstream(home / "kavo.ini", std::ios::binary) << text;
    }

    Outcome Start(std::vector<std::string> args, bool withHome = true)
    {
        if (withHome) {
            args.insert(args.begin(), home.string());
            args.insert(args.begin(), "--home");
        }
        args.insert(args.begin(), KAVO_LIST_PATH);
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        const fs::path out = home / "stdout.txt";
        const fs::path err = home / "stderr.txt";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = 0;
        const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        Outcome run;
        if (spawned != 0)
            return run;
        int status = 0;
        waitpid(pid, &status, 0);
        run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.Out = ReadFile(out);
        run.Err = ReadFile(err);
        return run;
    }

    std::string YpSettings(int n, const std::string& path, bool enabled, const std::string& more = "") const
    {
        const std::string index = std::to_string(n);
        return "Title" + index + "=YP " + index + "\nUrl" + index + "=" + server.Url(path) + "\nEnabled" + index + "=" +
               (enabled ? "1" : "0") + "\nChType" + index + "=\n" + more;
    }

    fs::path home;
    TestHttpServer server;
};

const std::string ChannelId = "0123456789ABCDEF0123456789ABCDEF";

// Lines as real YPs write them: an information line without ID, escaped texts, a lowercase ID, a
// text that was never escaped, more than 99 hours on air, and a character without a CP932 form.
std::string RealLookingIndex()
{
    return "\xEF\xBB\xBF"
           "◆YPからのお知らせ<>00000000000000000000000000000000<><>http://yp.example/notice.html<>"
           "お知らせ<>メンテナンス予定 - &lt;Open&gt;<>-9<>-9<>0<>RAW<><><><><>%E2%97%86<>00:00<>click<><>0\r\n"
           "ゲーム実況🎮<>" +
           ChannelId +
           "<>192.168.0.2:7144<>http://jbbs.shitaraba.net/bbs/read.cgi/game/1/2/<>ゲーム<>"
           "初見さん歓迎 &amp; 雑談 - &lt;Open&gt;<>12<>3<>512<>FLV<>artist<><>title<><>%E3%82%B2<>123:45<>"
           "click<>よろしく<>1\r\n"
           "raw text<>fedcba9876543210fedcba9876543210<><>http://example.com/?a=1&b=2<><>a <b> & \"c\"<>"
           "abc<>0<>abc<>WMV<><><><><><>0:05<>click<><>0\r\n";
}

TEST_F(KavoListTest, JsonCarriesEveryFieldOfTheRecords)
{
    server.Route("/a/index.txt", HttpReply::Ok(RealLookingIndex(), test::BodyEncoding::Gzip));
    server.Route("/b/index.txt", HttpReply::Ok(Sjis("sjis 配信<>" + ChannelId +
                                                    "<><><><><>1<>0<>300<>WMV<><><><>"
                                                    "<>x<>1:00<>click<><>0\r\n")));
    WriteSettings("[URL]\nTimeout=5\n[YP]\n" + YpSettings(0, "/a/", true) +
                  YpSettings(1, "/b/", true, "UTF2SJIS1=0\nChatURLFix1=1\nHost1=\n") + YpSettings(2, "/c/", false) +
                  "[Favorite]\nTitle0=game\nEnabled0=1\nWord0=実況\nChannel0=1\n");

    const Outcome run = Start({"--format", "json"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Err, "");
    const auto lines = Lines(run.Out);
    ASSERT_EQ(lines.size(), 1u) << run.Out;
    const Json result = Json::parse(lines[0]);
    EXPECT_EQ(result["cycle"], 1);
    EXPECT_EQ(result["errors"], Json::array());
    EXPECT_EQ(result["log"], Json::array());
    EXPECT_EQ(result["StatusText"], "Results: 4 channels, 13 listeners, 3 relays, Last update: ** sec");
    const Json& channels = result["channels"];
    ASSERT_EQ(channels.size(), 4u);

    const Json& game = channels[1];
    const Json expected = {
        {"No", 2},
        {"Diff", 0},
        {"ChannelName", "ゲーム実況?"},
        {"Relays", 3},
        {"Listeners", 12},
        {"Bitrate", "512 kb/s"},
        {"Type", "FLV"},
        {"ChatURL", server.Url("/a/chat.php?cn=%E3%82%B2")},
        {"ContactURL", "http://jbbs.shitaraba.net/bbs/read.cgi/game/1/2/"},
        {"StreamURL", "http://localhost:7144/pls/" + ChannelId + "?tip=192.168.0.2:7144"},
        {"DirectStreamURL", "http://192.168.0.2:7144/pls/" + ChannelId},
        {"TimeStamp", game["TimeStamp"]},
        {"TimeStampSerial", game["TimeStampSerial"]},
        {"Hash", ChannelId},
        {"Find", false},
        {"Playing", "Playing: artist - title"},
        {"Color", -16777211},
        {"ColorEnabled", false},
        {"BitrateValue", 512},
        {"ListDisable", false},
        {"StatisticsURL", server.Url("/a/getgmt.php?cn=%E3%82%B2")},
        {"YpAddr", server.Url("/a/")},
        {"FileName", ""},
        {"Status", "click"},
        {"Comment", "「よろしく」"},
        {"ContactIsBbs", true},
        {"Description", "初見さん歓迎 &amp; 雑談 - &lt;Open&gt;"},
        {"Genre", "ゲーム"},
        {"LocalStatus", ""},
        {"BroadcastTime", "123:45"},
        {"YpLike", false},
        {"NotNotify", false},
        {"PrevPlaying", ""},
        {"PrevComment", ""},
        {"PrevGenre", ""},
        {"PrevDescription", ""},
        {"ColorTextEnabled", false},
        {"ColorText", -16777208},
        {"Visited", false},
        {"Favorite", true},
        {"PlayHint", ""},
    };
    EXPECT_EQ(game, expected) << game.dump(1);
    // ISO 8601 local time with the zone's offset, and kavo's day serial of the same moment.
    const double serial = game["TimeStampSerial"].get<double>();
    EXPECT_GT(serial, 40000.0);
    const std::time_t moment = static_cast<std::time_t>(std::llround((serial - 25569.0) * 86400.0));
    std::tm wall{};
    gmtime_r(&moment, &wall);
    std::tm local = wall;
    local.tm_isdst = -1;
    const std::time_t utc = mktime(&local);
    std::tm zone{};
    localtime_r(&utc, &zone);
    char iso[64];
    std::strftime(iso, sizeof iso, "%Y-%m-%dT%H:%M:%S", &wall);
    const long offset = zone.tm_gmtoff / 60;
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "%c%02ld:%02ld", offset < 0 ? '-' : '+', std::labs(offset) / 60,
                  std::labs(offset) % 60);
    EXPECT_EQ(game["TimeStamp"], std::string(iso) + suffix);

    const Json& notice = channels[0];
    EXPECT_EQ(notice["ChannelName"], "◆YPからのお知らせ");
    EXPECT_EQ(notice["Hash"], "00000000000000000000000000000000");
    EXPECT_EQ(notice["Listeners"], -9);
    EXPECT_EQ(notice["StreamURL"], "http://localhost:7144/pls/00000000000000000000000000000000");
    EXPECT_EQ(notice["TimeStampSerial"], game["TimeStampSerial"]);
    const Json& raw = channels[2];
    EXPECT_EQ(raw["Hash"], "fedcba9876543210fedcba9876543210");
    EXPECT_EQ(raw["Description"], "a <b> & \"c\"");
    EXPECT_EQ(raw["Listeners"], -1);
    EXPECT_EQ(raw["Bitrate"], "0 kb/s");
    EXPECT_EQ(raw["DirectStreamURL"], "");
    // The CP932 YP: no conversion, chat URLs from the ID, and no local server for its streams.
    const Json& sjis = channels[3];
    EXPECT_EQ(sjis["ChannelName"], "sjis 配信");
    EXPECT_EQ(sjis["ChatURL"], server.Url("/b/getchat?id=") + ChannelId);
    EXPECT_EQ(sjis["StatisticsURL"], server.Url("/b/getgmt?id=") + ChannelId);
    EXPECT_EQ(sjis["StreamURL"], "peercast://pls/" + ChannelId);
    EXPECT_TRUE(server.RequestsFor("/c/index.txt").empty());
}

TEST_F(KavoListTest, ExitStatusFollowsTheEnabledYps)
{
    server.Route("/ok/index.txt", HttpReply::Ok("ch<>" + ChannelId + "<><><><><>1<>0<>300<>WMV<><><><><><><><><>0\n"));
    server.Route("/bad/index.txt", HttpReply::Error(404, "Not Found"));
    struct Case
    {
        const char* name;
        std::string yps;
        int status;
        std::size_t errors;
        bool noneEnabled; // said on standard error
    };
    const std::array<Case, 4> cases{{
        {"every enabled YP failed", YpSettings(0, "/bad/", true) + YpSettings(1, "/ok/", false), 1, 1, false},
        {"one of two failed", YpSettings(0, "/bad/", true) + YpSettings(1, "/ok/", true), 0, 1, false},
        {"none enabled", YpSettings(0, "/bad/", false), 0, 0, true},
        {"no YPs at all", "", 0, 0, true},
    }};
    for (const Case& c : cases) {
        WriteSettings("[URL]\nTimeout=5\n[YP]\n" + c.yps);
        const Outcome run = Start({"--format", "json"});
        EXPECT_EQ(run.Status, c.status) << c.name << "\n" << run.Err;
        ASSERT_EQ(Lines(run.Out).size(), 1u) << c.name;
        const Json result = Json::parse(run.Out);
        ASSERT_EQ(result["errors"].size(), c.errors) << c.name;
        const bool toldNone =
            run.Err.find("kavo-list: no YP is enabled in " + (home / "kavo.ini").string()) != std::string::npos;
        EXPECT_EQ(toldNone, c.noneEnabled) << c.name << ": " << run.Err;
        if (c.errors > 0) {
            const std::string text =
                server.Url("/bad/") +
                "\r\nダウンロードエラー\r\n詳細：サーバーがエラーを返しました (HTTP 404) (HTTP/1.1 404 Not Found)";
            EXPECT_EQ(result["errors"][0], text) << c.name;
            EXPECT_NE(run.Err.find(
                          "ダウンロードエラー\n詳細：サーバーがエラーを返しました (HTTP 404) (HTTP/1.1 404 Not Found)"),
                      std::string::npos)
                << c.name;
        }
    }
}

TEST_F(KavoListTest, UsageErrors)
{
    WriteSettings("");
    const std::array<std::vector<std::string>, 20> cases{{
        {"--encoding", "sjis"},
        {"--regulars", "--at", "noon"},
        {"--template", "t.html", "--encoding", "latin1"},
        {"--page", "--all"},
        {"--history", "--all"},
        {"--format", "xml"},
        {"--find-only"},
        {"--find"},
        {"--cycles", "0"},
        {"--cycles", "two"},
        {"--interval", "-1"},
        {"--interval", "86401"},
        {"--time-step"},
        {"--time-step", "1e308"},
        {"--time-step", "10081"},
        {"--find", "(", "--format", "json"},
        // The last --home counts: a mistyped one is no new program folder.
        {"--home", (home / "mistyped").string()},
        {"--header", "h.html"},
        {"--unknown"},
        {"positional"},
    }};
    for (const auto& args : cases) {
        const Outcome run = Start(args);
        EXPECT_EQ(run.Status, 2) << args[0];
        EXPECT_NE(run.Err.find("kavo-list: "), std::string::npos) << args[0];
        EXPECT_EQ(run.Out, "") << args[0];
    }
    EXPECT_FALSE(fs::exists(home / "mistyped"));
    EXPECT_FALSE(fs::exists(home / "history.sqlite"));
    std::ofstream(home / "channel.html") << "<channelname/>";
    // Templates that are no regular file or far larger than any real one are refused by name.
    fs::create_directories(home / "folder.html");
    ASSERT_EQ(mkfifo((home / "fifo.html").c_str(), 0600), 0);
    std::ofstream(home / "huge.html") << "x";
    fs::resize_file(home / "huge.html", std::uintmax_t{5} << 20);
    const std::array<std::vector<std::string>, 6> templateCases{{
        {"--template", (home / "missing.html").string()},
        {"--template", (home / "channel.html").string(), "--footer", (home / "missing.html").string()},
        {"--template", (home / "channel.html").string(), "--format", "json"},
        {"--template", (home / "folder.html").string()},
        {"--template", (home / "channel.html").string(), "--header", (home / "fifo.html").string()},
        {"--template", (home / "huge.html").string()},
    }};
    for (const auto& args : templateCases) {
        const Outcome run = Start(args);
        EXPECT_EQ(run.Status, 2) << args.back();
        EXPECT_NE(run.Err.find("kavo-list: "), std::string::npos) << args.back();
        if (args.back().starts_with(home.string())) {
            EXPECT_NE(run.Err.find(args.back()), std::string::npos) << run.Err;
        }
        EXPECT_EQ(run.Out, "") << args.back();
    }
    EXPECT_TRUE(server.Requests().empty());
}

// --find searches as kavo's find dialog does: words are alternatives, texts compared escaped.
TEST_F(KavoListTest, FindMarksAndFiltersTheChannels)
{
    server.Route("/yp/index.txt", HttpReply::Ok(RealLookingIndex()));
    WriteSettings("[YP]\n" + YpSettings(0, "/yp/", true));
    struct Case
    {
        std::vector<std::string> args;
        std::vector<std::string> names; // of the channels listed, "*" after a found one
    };
    const Case cases[] = {
        {{"--find", "RAW 雑談"}, {"◆YPからのお知らせ", "ゲーム実況?*", "raw text*"}},
        {{"--find", "雑談 & x", "--find-only"}, {"ゲーム実況?*", "raw text*"}},
        {{"--find", "Open  x", "--find-only"}, {"◆YPからのお知らせ*", "ゲーム実況?*", "raw text*"}},
        {{"--find", " ", "--find-only"}, {}},
        {{}, {"◆YPからのお知らせ", "ゲーム実況?", "raw text"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--format", "json"});
        const Outcome run = Start(args);
        ASSERT_EQ(run.Status, 0) << run.Err;
        std::vector<std::string> names;
        const Json result = Json::parse(run.Out);
        for (const Json& channel : result["channels"])
            names.push_back(channel["ChannelName"].get<std::string>() + (channel["Find"].get<bool>() ? "*" : ""));
        EXPECT_EQ(names, c.names) << (c.args.empty() ? "" : c.args[1]);
    }
}

TEST_F(KavoListTest, TemplatesExpandOverTheChannelsOnAir)
{
    server.Route("/yp/index.txt", HttpReply::Ok(RealLookingIndex()));
    WriteSettings("[YP]\n" + YpSettings(0, "/yp/", true));
    // CP932 files as kavo's templates are, with the line ends a Windows editor leaves.
    std::ofstream(home / "header.html", std::ios::binary) << Sjis("<h1>一覧</h1>\r\n<p><totalresults/></p>");
    std::ofstream(home / "channel.html", std::ios::binary)
        << Sjis("<li><num/>. <channelname/> (<listener/>) <description/></li>");
    std::ofstream(home / "footer.html", std::ios::binary) << Sjis("<p>以上 <results/></p>\n");

    const Outcome run = Start({"--template", (home / "channel.html").string(), "--header",
                               (home / "header.html").string(), "--footer", (home / "footer.html").string()});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out, "<h1>一覧</h1>\n"
                       "<p>Results: 3 channels, 12 listeners, 3 relays, Last update: ** sec</p>\n"
                       "<li>1. ◆YPからのお知らせ (-9 / -9) [お知らせ - メンテナンス予定 - &lt;Open&gt;]</li>\n"
                       "<li>2. ゲーム実況? (12 / 3) [ゲーム - 初見さん歓迎 &amp; 雑談 - &lt;Open&gt;]</li>\n"
                       "<li>3. raw text (-1 / 0) [a <b> & \"c\"]</li>\n"
                       "<p>以上 </p>\n");

    // Shift-JIS on request: the bytes of the templates, with the line ends of the terminal.
    const Outcome sjis = Start({"--template", (home / "channel.html").string(), "--header",
                                (home / "header.html").string(), "--encoding", "sjis"});
    ASSERT_EQ(sjis.Status, 0) << sjis.Err;
    EXPECT_EQ(sjis.Out, Sjis("<h1>一覧</h1>\n<p>Results: 3 channels, 12 listeners, 3 relays, Last update: ** sec</p>\n"
                             "<li>1. ◆YPからのお知らせ (-9 / -9) [お知らせ - メンテナンス予定 - &lt;Open&gt;]</li>\n"
                             "<li>2. ゲーム実況? (12 / 3) [ゲーム - 初見さん歓迎 &amp; 雑談 - &lt;Open&gt;]</li>\n"
                             "<li>3. raw text (-1 / 0) [a <b> & \"c\"]</li>\n"));

    // Without header and footer only the channels are printed.
    const Outcome channels = Start({"--template", (home / "channel.html").string()});
    ASSERT_EQ(channels.Status, 0) << channels.Err;
    EXPECT_EQ(Lines(channels.Out).size(), 3u) << channels.Out;
}

// One index line: name, ID, listeners and type; the other fields empty or neutral.
std::string IndexLine(const std::string& name, char id, int listeners, const std::string& type = "FLV")
{
    return name + "<>" + std::string(32, id) + "<><><><><>" + std::to_string(listeners) + "<>0<>300<>" + type +
           "<><><><><><>0:10<>click<><>0\r\n";
}

TEST_F(KavoListTest, PageFollowsTheOnAirOrderTheThemeAndTheLiteMode)
{
    server.Route("/yp/index.txt",
                 HttpReply::Ok(IndexLine("few", 'A', 3) + IndexLine("raw", 'B', 90, "RAW") + IndexLine("none", 'C', 0) +
                               IndexLine("many", 'D', 40) + IndexLine("unknown", 'E', -1)));
    const std::string settings = "[YP]\n" + YpSettings(0, "/yp/", true) + "[Theme]\nTemplates=テーマ\n";
    WriteSettings(settings + "[Window]\nYpLikeLite0=1\nYpLikeLite4=1\n");
    const fs::path theme = home / "templates" / "テーマ";
    fs::create_directories(theme);
    std::ofstream(theme / "ie_header.html", std::ios::binary) << Sjis("<p>一覧</p>");
    std::ofstream(theme / "ie_channel.html", std::ios::binary) << "<channelname/>=<listener/>";
    std::ofstream(theme / "ie_footer.html", std::ios::binary) << "<totalresults/>";
    for (const char* name : {"notify.txt", "popup.txt", "clipboard.txt"})
        std::ofstream(theme / name) << "";
    const std::string footer = "Results: 5 channels, 133 listeners, 0 relays, Last update: ** sec\r\n";

    struct Case
    {
        std::vector<std::string> Args;
        std::string Channels;
    };
    const std::array<Case, 4> cases{{
        // The settings' "=0": the channel without listeners is left out, -1 stays.
        {{"--page"}, "many=40 / 0\r\nfew=3 / 0\r\nunknown=-1 / 0\r\nraw=90 / 0\r\n"},
        {{"--page", "--lite", "off"}, "many=40 / 0\r\nfew=3 / 0\r\nnone=0 / 0\r\nunknown=-1 / 0\r\nraw=90 / 0\r\n"},
        {{"--page", "--lite=range:0,3"}, "many=40 / 0\r\nunknown=-1 / 0\r\nraw=90 / 0\r\n"},
        {{"--page", "--lite", "top:3"}, "many=40 / 0\r\nfew=3 / 0\r\n"},
    }};
    for (const Case& c : cases) {
        const Outcome run = Start(c.Args);
        ASSERT_EQ(run.Status, 0) << run.Err;
        // The page's own bytes: CP932, CR LF, after the policy a header without a head begins with.
        const std::size_t policyEnd = run.Out.find("\">") + 2;
        EXPECT_EQ(run.Out.substr(policyEnd), Sjis("<p>一覧</p>\r\n") + c.Channels + footer) << c.Args.back();
    }

    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--page", "--lite", "<3"}, {"--page", "--lite", "range:1"}, {"--lite", "off"}, {"--page", "--log"}}) {
        const Outcome run = Start(args);
        EXPECT_EQ(run.Status, 2) << args.back();
        EXPECT_EQ(run.Out, "") << args.back();
    }
}

TEST_F(KavoListTest, PageShowsYpTextAsTextAndTemplateKeepsItAsSent)
{
    struct Case
    {
        const char* Sent; // UTF-8, as the YP sent it
        const char* Page;
    };
    const std::array<Case, 7> cases{{
        {"テスト配信 A&B <test>", "テスト配信 A&amp;B &lt;test&gt;"},
        {"<img src=x onerror=alert(1)>", "&lt;img src=x onerror=alert(1)&gt;"},
        {"<b>bold</b>", "&lt;b&gt;bold&lt;/b&gt;"},
        {"\"double\" 'single'", "&quot;double&quot; &#039;single&#039;"},
        {"&amp; &lt;b&gt; &#039; &#x27; &hearts;", "&amp; &lt;b&gt; &#039; &#x27; &hearts;"},
        {"& &amp &#; AT&T", "&amp; &amp;amp &amp;#; AT&amp;T"},
        // Trail bytes that look like "\" in CP932.
        {"ソ表能予 <x>", "ソ表能予 &lt;x&gt;"},
    }};
    std::string index;
    std::string page;
    std::string sent;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const std::string text = cases[i].Sent;
        index += text + "<>" + std::string(32, static_cast<char>('A' + i)) + "<><><>" + text + "<>説明 <free><>" +
                 std::to_string(100 - i) + "<>0<>300<>FLV<><><><><><>0:10<>click<>" + text + "<>0\r\n";
        // The comment comes in corner brackets, as the index parser quotes it.
        page +=
            std::string(cases[i].Page) + "|[" + cases[i].Page + " - 説明 &lt;free&gt;]|「" + cases[i].Page + "」\r\n";
        sent += text + "|[" + text + " - 説明 <free>]|「" + text + "」\n";
    }
    server.Route("/yp/index.txt", HttpReply::Ok(index));
    WriteSettings("[YP]\n" + YpSettings(0, "/yp/", true) + "[Window]\nYpLikeLite0=0\n");
    const fs::path templates = home / "templates";
    fs::create_directories(templates);
    std::ofstream(templates / "ie_header.html", std::ios::binary) << "<head>";
    std::ofstream(templates / "ie_channel.html", std::ios::binary) << "<channelname/>|<description/>|<comment/>";
    std::ofstream(templates / "ie_footer.html", std::ios::binary) << "";
    for (const char* name : {"notify.txt", "popup.txt", "clipboard.txt"})
        std::ofstream(templates / name) << "";

    const Outcome run = Start({"--page"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    const std::string policy = R"(<head><meta http-equiv="Content-Security-Policy" content="script-src 'nonce-)";
    ASSERT_TRUE(run.Out.starts_with(policy)) << run.Out;
    const std::size_t lineEnd = run.Out.find("\r\n");
    ASSERT_NE(lineEnd, std::string::npos);
    EXPECT_EQ(Cp932ToUtf8(run.Out.substr(lineEnd + 2)), page);

    // A template of the user's own gets the values as the YP sent them.
    const Outcome raw = Start({"--template", (templates / "ie_channel.html").string()});
    ASSERT_EQ(raw.Status, 0) << raw.Err;
    EXPECT_EQ(raw.Out, sent);
}

TEST_F(KavoListTest, AScriptFetchesAndRewritesTheIndex)
{
    server.Route("/yp/index.txt", HttpReply::Ok(RealLookingIndex()));
    std::ofstream(home / "rewrite.dms", std::ios::binary)
        << R"(var text = http.get(args[0] + 'index.txt?host=' + args[1]);
var lines = text.split(/\r?\n/);
for (var i = 0; i < lines.length; i++) {
    var f = lines[i].split('<>');
    if (f.length < 19 || f[1] == '00000000000000000000000000000000')
        continue;
    f[0] = '[' + args[7] + '] ' + f[0];
    println(f.join('<>'));
}
)";
    WriteSettings("[YP]\n" + YpSettings(0, "/yp/", true, "Script0=rewrite.dms\n"));

    const Outcome run = Start({"--format", "tsv"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Err, "");
    const auto rows = Lines(run.Out);
    ASSERT_EQ(rows.size(), 3u) << run.Out;
    EXPECT_TRUE(rows[1].starts_with("1\ton-air\t1\t0\t[YP 0] ゲーム実況?\t")) << rows[1];
    EXPECT_TRUE(rows[2].starts_with("1\ton-air\t2\t0\t[YP 0] raw text\t")) << rows[2];
    EXPECT_EQ(server.RequestsFor("/yp/index.txt").size(), 1u);
}

TEST_F(KavoListTest, CyclesFollowTheRefreshRulesOnTheSteppedClock)
{
    server.Route("/yp/index.txt", HttpReply::Ok("ch<>" + ChannelId + "<><><><><>1<>0<>300<>WMV<><><><><><><><><>0\n"));
    WriteSettings("[YP]\n" + YpSettings(0, "/yp/", true));
    struct Case
    {
        std::vector<std::string> args;
        std::size_t fetches;
    };
    // Refreshes at 0, 5 and 10 minutes: the automatic one at 5 minutes is throttled.
    const std::array<Case, 3> cases{{
        {{"--cycles", "3", "--time-step", "5"}, 2},
        {{"--cycles", "3", "--time-step", "5", "--manual"}, 3},
        {{"--cycles", "3", "--time-step", "4"}, 1},
    }};
    for (const Case& c : cases) {
        server.ClearRequests();
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--all-cycles", "--format", "json"});
        const Outcome run = Start(args);
        ASSERT_EQ(run.Status, 0) << run.Err;
        const auto lines = Lines(run.Out);
        ASSERT_EQ(lines.size(), 3u) << run.Out;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const Json cycle = Json::parse(lines[i]);
            EXPECT_EQ(cycle["cycle"], i + 1);
            EXPECT_EQ(cycle["channels"].size(), 1u);
        }
        EXPECT_EQ(server.RequestsFor("/yp/index.txt").size(), c.fetches) << c.args.back();
    }
}

TEST_F(KavoListTest, TableAndTsvOutput)
{
    server.Route("/yp/index.txt", HttpReply::Ok(RealLookingIndex()));
    WriteSettings("[YP]\n" + YpSettings(0, "/yp/", true));

    const Outcome tsv = Start({"--format", "tsv", "--log"});
    ASSERT_EQ(tsv.Status, 0) << tsv.Err;
    const auto rows = Lines(tsv.Out);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_TRUE(rows[0].starts_with("cycle\tlist\tNo\tDiff\tChannelName\tRelays\t")) << rows[0];
    EXPECT_TRUE(rows[0].ends_with("\tVisited\tFavorite\tPlayHint")) << rows[0];
    EXPECT_TRUE(rows[2].starts_with("1\ton-air\t2\t0\tゲーム実況?\t3\t12\t512 kb/s\tFLV\t")) << rows[2];
    for (const std::string& row : rows)
        EXPECT_EQ(std::count(row.begin(), row.end(), '\t'), std::count(rows[0].begin(), rows[0].end(), '\t'));

    const Outcome table = Start({});
    ASSERT_EQ(table.Status, 0) << table.Err;
    const auto lines = Lines(table.Out);
    ASSERT_EQ(lines.size(), 5u) << table.Out;
    EXPECT_TRUE(lines[0].starts_with("No  !")) << lines[0];
    EXPECT_LT(lines[0].find("  Time "), lines[0].find("  YP  Genre")) << lines[0];
    EXPECT_NE(lines[2].find("  123:45  YP 0  "), std::string::npos) << lines[2];
    // Entities are decoded for people.
    EXPECT_NE(lines[2].find("[ゲーム - 初見さん歓迎 & 雑談 - <Open>] Playing: artist - title"), std::string::npos)
        << lines[2];
    EXPECT_EQ(lines[4], "Results: 3 channels, 12 listeners, 3 relays, Last update: ** sec");
}

// ESC, BEL and the other control characters a YP sends never reach the terminal: the table shows
// them as \xHH, TSV too (with a backslash doubled, so the escape can be undone); JSON escapes them
// its own way.
TEST_F(KavoListTest, ControlCharactersAreShownEscaped)
{
    server.Route("/yp/index.txt", HttpReply::Ok("red\x1b[31m\x07<>" + ChannelId +
                                                "<><><>a\\b<>tab\there<>1<>0<>300<>WMV<><><><><><><><><>0\r\n"));
    WriteSettings("[YP]\n" + YpSettings(0, "/yp/", true));
    const auto noControls = [](const std::string& text) {
        return std::none_of(text.begin(), text.end(), [](char c) {
            return (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t') || c == 0x7F;
        });
    };

    const Outcome table = Start({});
    ASSERT_EQ(table.Status, 0) << table.Err;
    EXPECT_TRUE(noControls(table.Out)) << table.Out;
    EXPECT_NE(table.Out.find("red\\x1b[31m\\x07"), std::string::npos) << table.Out;

    const Outcome tsv = Start({"--format", "tsv"});
    ASSERT_EQ(tsv.Status, 0) << tsv.Err;
    EXPECT_TRUE(noControls(tsv.Out)) << tsv.Out;
    const auto rows = Lines(tsv.Out);
    ASSERT_EQ(rows.size(), 2u) << tsv.Out;
    EXPECT_TRUE(rows[1].starts_with("1\ton-air\t1\t0\tred\\x1b[31m\\x07\t")) << rows[1];
    EXPECT_NE(rows[1].find("\ta\\\\b\t"), std::string::npos) << rows[1];
    EXPECT_NE(rows[1].find("\ttab here\t"), std::string::npos) << rows[1];

    const Outcome json = Start({"--format", "json"});
    ASSERT_EQ(json.Status, 0) << json.Err;
    EXPECT_TRUE(noControls(json.Out));
    EXPECT_EQ(Json::parse(json.Out)["channels"][0]["ChannelName"], "red\x1b[31m\x07");
}

// A favorite with "リストに表示しない" hides its channels as the window does, in every output;
// --all shows them.
TEST_F(KavoListTest, ChannelsAFavoriteHidesAreLeftOutUnlessAll)
{
    const std::string longName(35, 'x');
    server.Route("/yp/index.txt", HttpReply::Ok(IndexLine("shown", 'A', 5) + IndexLine("secret", 'B', 9) +
                                                IndexLine("長い名前の" + longName, 'C', 1)));
    WriteSettings("[YP]\n" + YpSettings(0, "/yp/", true) +
                  "[Favorite]\nTitle0=hide\nEnabled0=1\nWord0=secret\nChannel0=1\nListDisable0=1\n");
    std::ofstream(home / "channel.html") << "<channelname/>\n";
    const std::array<std::vector<std::string>, 4> outputs{{
        {"--format", "json"},
        {"--format", "tsv"},
        {},
        {"--template", (home / "channel.html").string()},
    }};
    for (const auto& output : outputs) {
        for (const bool all : {false, true}) {
            std::vector<std::string> args = output;
            if (all)
                args.push_back("--all");
            const Outcome run = Start(args);
            const std::string name = (output.empty() ? "table" : output.back()) + (all ? " --all" : "");
            ASSERT_EQ(run.Status, 0) << name << ": " << run.Err;
            EXPECT_NE(run.Out.find("shown"), std::string::npos) << name;
            EXPECT_EQ(run.Out.find("secret") != std::string::npos, all) << name << ":\n" << run.Out;
        }
    }
    // The table cuts long texts to their column and says so with "…".
    const Outcome table = Start({});
    EXPECT_NE(table.Out.find("長い名前の" + std::string(28, 'x') + "…  "), std::string::npos) << table.Out;
}

// A settings file that cannot be taken is said so (and never waited for); a byte-order mark in
// front of it is no reason to lose the YPs.
TEST_F(KavoListTest, SettingsFilesThatCannotBeReadAreSaidSo)
{
    const fs::path ini = home / "kavo.ini";
    struct Case
    {
        const char* name;
        std::function<void()> make;
        std::size_t yps;
        bool told;
    };
    const std::array<Case, 5> cases{{
        {"byte-order mark",
         [&] {
             WriteSettings("[YP]\n" + YpSettings(0, "/yp/", true));
             const std::string text = ReadFile(ini);
             std::ofstream(ini, std::ios::binary) << "\xEF\xBB\xBF" + text;
         },
         1, false},
        {"missing", [] {}, 0, false},
        {"folder", [&] { fs::create_directories(ini); }, 0, true},
        {"fifo", [&] { ASSERT_EQ(mkfifo(ini.c_str(), 0600), 0); }, 0, true},
        {"random bytes",
         [&] { std::ofstream(ini, std::ios::binary) << std::string("\x8f\x00\xff\x13garbage\x01", 12); }, 0, true},
    }};
    for (const Case& c : cases) {
        fs::remove_all(ini);
        c.make();
        const Outcome run = Start({"--settings"});
        EXPECT_EQ(run.Status, 0) << c.name << ": " << run.Err;
        EXPECT_EQ(Json::parse(run.Out)["YpList"].size(), c.yps) << c.name;
        EXPECT_EQ(run.Err.find("kavo.ini") != std::string::npos, c.told) << c.name << ": " << run.Err;
    }
}

TEST_F(KavoListTest, SettingsHelpAndVersion)
{
    WriteSettings("[URL]\nTimeout=7\nProxy=proxy:8080\n[YP]\n" + YpSettings(0, "/yp/", true) +
                  "[Tool]\nkey0=ping\n"
                  "cmd0=ping <url/>\n");
    const Outcome settings = Start({"--settings"});
    ASSERT_EQ(settings.Status, 0) << settings.Err;
    const Json json = Json::parse(settings.Out);
    EXPECT_EQ(json["URL/Timeout"], "7");
    EXPECT_EQ(json["URL/Proxy"], "proxy:8080");
    EXPECT_EQ(json["Notify/Title"], "kavo 通知");
    ASSERT_EQ(json["YpList"].size(), 1u);
    EXPECT_EQ(json["YpList"][0]["Url"], server.Url("/yp/"));
    EXPECT_EQ(json["YpList"][0]["ChType"], "");
    EXPECT_EQ(json["Tools"], Json::array({"ping=ping <url/>"}));
    EXPECT_EQ(json["Columns"].size(), 10u);
    EXPECT_TRUE(json["Favorites"].is_array());
    EXPECT_TRUE(server.Requests().empty());

    const Outcome help = Start({"--help"}, false);
    EXPECT_EQ(help.Status, 0);
    EXPECT_NE(help.Out.find("--time-step MINUTES"), std::string::npos);
    const Outcome version = Start({"--version"}, false);
    EXPECT_EQ(version.Status, 0);
    EXPECT_TRUE(version.Out.starts_with("kavo-list (kavo) ")) << version.Out;
}

// ---- Rules files

std::string TestData(const std::string& name)
{
    return ReadFile(fs::path(KAVO_TEST_DATA) / name);
}

TEST_F(KavoListTest, RulesGoOutAndComeBackByteForByte)
{
    WriteSettings("[Favorite]\nTitle0=old\nWord0=x\n[YP]\nTitle0=old\nUrl0=http://old.example/\n");
    const std::string golden = (fs::path(KAVO_TEST_DATA) / "rules/every-field.json").string();

    const Outcome replaced = Start({"--import-rules", golden, "--replace"});
    ASSERT_EQ(replaced.Status, 0) << replaced.Err;
    EXPECT_EQ(replaced.Out, "favorites: 2 in place of 1\nyps: 2 in place of 1\n");
    const Outcome exported = Start({"--export-rules", "-"});
    ASSERT_EQ(exported.Status, 0) << exported.Err;
    EXPECT_EQ(exported.Out, TestData("rules/every-field.json"));
    // kavo.ini stays what the Windows program reads.
    EXPECT_NE(ReadFile(home / "kavo.ini").find(Sjis("Title0=ゲーム実況\r\n")), std::string::npos);

    // Again, added: nothing new.
    const Outcome added = Start({"--import-rules", golden});
    ASSERT_EQ(added.Status, 0) << added.Err;
    EXPECT_EQ(added.Out, "favorites: 0 added, 2 already there\nyps: 0 added, 2 already there\n");

    // To a file, and from standard input is the same.
    ASSERT_EQ(Start({"--export-rules", (home / "out.json").string()}).Status, 0);
    EXPECT_EQ(ReadFile(home / "out.json"), exported.Out);
}

TEST_F(KavoListTest, ARulesFileWithAFaultChangesNothing)
{
    WriteSettings("[Favorite]\nTitle0=kept\nWord0=x\n");
    const std::string before = ReadFile(home / "kavo.ini");
    std::string rules = R"({"version": 1, "favorites": [)";
    for (int i = 0; i < 12; ++i)
        rules += R"({"title": "new )" + std::to_string(i) + R"(", "regex": "a|b"}, )";
    rules += R"({"title": "bad", "regex": "(a|b"}]})";
    std::ofstream(home / "rules.json") << rules;

    for (const char* mode : {"", "--replace"}) {
        std::vector<std::string> args = {"--import-rules", (home / "rules.json").string()};
        if (*mode)
            args.push_back(mode);
        const Outcome run = Start(args);
        EXPECT_EQ(run.Status, 1) << mode;
        EXPECT_NE(run.Err.find("rules.json: favorites[12].regex: missing closing parenthesis"), std::string::npos)
            << run.Err;
        EXPECT_NE(run.Err.find("nothing was imported"), std::string::npos) << run.Err;
        EXPECT_EQ(run.Out, "");
        EXPECT_EQ(ReadFile(home / "kavo.ini"), before);
    }
    const Outcome missing = Start({"--import-rules", (home / "none.json").string()});
    EXPECT_EQ(missing.Status, 1);
    EXPECT_NE(missing.Err.find("none.json: No such file or directory"), std::string::npos) << missing.Err;
}

// kavo takes a followed file's rules when it starts, so an import here goes there too.
TEST_F(KavoListTest, AnImportAlsoWritesTheFollowedRulesFile)
{
    WriteSettings("[Rules]\nFollow=1\nFile=synced/kavo-rules.json\n");
    fs::create_directories(home / "synced");
    const Outcome run =
        Start({"--import-rules", (fs::path(KAVO_TEST_DATA) / "rules/channelFilters.json").string(), "--replace"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_NE(run.Out.find("favorites: 6 in place of 0\nnote: [3] (mixed): "), std::string::npos) << run.Out;
    const Outcome exported = Start({"--export-rules", "-"});
    EXPECT_EQ(ReadFile(home / "synced/kavo-rules.json"), exported.Out);
}

// ---- The record of refreshes

// "YYYY-MM-DD hh:mm:ss" as seconds, for differences.
long Seconds(const std::string& text)
{
    std::tm tm{};
    std::istringstream in(text);
    in >> std::get_time(&tm, "%Y-%m-%d %H:%M:%S");
    return static_cast<long>(timegm(&tm));
}

std::vector<Json> JsonLines(const std::string& text)
{
    std::vector<Json> lines;
    for (const std::string& line : Lines(text))
        lines.push_back(Json::parse(line));
    return lines;
}

TEST_F(KavoListTest, HistoryFollowsBroadcastsOverCyclesAndRuns)
{
    const auto line = [](const std::string& name, const std::string& id, int listeners) {
        return name + "<>" + id + "<><><>genre<>desc<>" + std::to_string(listeners) +
               "<>0<>300<>WMV<><><><><><>1:05<>click<><>0\r\n";
    };
    server.Route("/a/index.txt", HttpReply::Ok(line("alpha", ChannelId, 3) + line("beta", std::string(32, 'B'), 9)));
    WriteSettings("[URL]\nTimeout=5\n[YP]\n" + YpSettings(0, "/a/", true));
    // Two refreshes 11 minutes apart by kavo's clock; then beta is gone.
    ASSERT_EQ(Start({"--cycles", "2", "--time-step", "11"}).Status, 0);
    server.Route("/a/index.txt", HttpReply::Ok(line("alpha", ChannelId, 5)));
    ASSERT_EQ(Start({}).Status, 0);

    const Outcome run = Start({"--history", "--format", "json"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    const std::vector<Json> rows = JsonLines(run.Out);
    ASSERT_EQ(rows.size(), 2u) << run.Out;
    const Json& beta = rows[0]; // listed after alpha in the same fetch
    EXPECT_EQ(beta["ChannelName"], "beta");
    EXPECT_EQ(beta["OnAir"], false);
    EXPECT_NEAR(Seconds(beta["LastSeen"]) - Seconds(beta["FirstSeen"]), 11 * 60, 1);
    EXPECT_EQ(beta["MaxListeners"], 9);
    EXPECT_EQ(beta["YpTitle"], "YP 0");
    const Json& alpha = rows[1];
    EXPECT_EQ(alpha["ChannelName"], "alpha");
    EXPECT_EQ(alpha["OnAir"], true);
    EXPECT_EQ(alpha["MaxListeners"], 5);
    EXPECT_EQ(alpha["Hash"], ChannelId);

    const Outcome search = Start({"--history", "--search", "BET", "--since", "1", "--format", "tsv"});
    ASSERT_EQ(search.Status, 0) << search.Err;
    const auto lines = Lines(search.Out);
    ASSERT_EQ(lines.size(), 2u) << search.Out;
    EXPECT_EQ(lines[0].substr(0, 19), "FirstSeen\tLastSeen\t");
    EXPECT_NE(lines[1].find("\tbeta\t"), std::string::npos);
    EXPECT_EQ(Start({"--history", "--search", "("}).Status, 2);
}

TEST_F(KavoListTest, MergeShowsOneRowForEachBroadcastWithItsYps)
{
    const auto line = [](const std::string& name, char id, const std::string& contact) {
        return name + "<>" + std::string(32, id) + "<><>" + contact +
               "<>genre<>desc<>3<>0<>300<>WMV<><><><><><>1:05<>click<><>0\r\n";
    };
    // YP 0 serves /b/: configured first, its listing is the one shown.
    server.Route("/a/index.txt", HttpReply::Ok(line("Talk &amp; Music", 'A', "http://bbs/1") + line("solo", 'S', "")));
    server.Route("/b/index.txt", HttpReply::Ok(line("talk & music", 'B', "HTTP://BBS/1")));
    WriteSettings("[URL]\nTimeout=5\n[YP]\n" + YpSettings(0, "/b/", true) + YpSettings(1, "/a/", true));

    const Outcome run = Start({"--merge", "--format", "json"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    const Json channels = Json::parse(run.Out)["channels"];
    ASSERT_EQ(channels.size(), 2u) << run.Out;
    EXPECT_EQ(channels[0]["ChannelName"], "talk & music");
    EXPECT_EQ(channels[0]["Yps"], Json::array({"YP 0", "YP 1"}));
    EXPECT_EQ(channels[1]["Yps"], Json::array({"YP 1"}));

    const Outcome tsv = Start({"--merge", "--format", "tsv"});
    ASSERT_EQ(tsv.Status, 0) << tsv.Err;
    const auto lines = Lines(tsv.Out);
    ASSERT_EQ(lines.size(), 3u) << tsv.Out;
    EXPECT_EQ(lines[0].substr(lines[0].rfind('\t')), "\tYps");
    EXPECT_EQ(lines[1].substr(lines[1].rfind('\t')), "\tYP 0, YP 1");
    EXPECT_EQ(Start({"--merge", "--history"}).Status, 2);
}

TEST_F(KavoListTest, NotificationsPrintTheLogFromTheHistory)
{
    const DateTime now = DateTimeFromTime(std::time(nullptr));
    {
        HistoryStore store((home / HistoryStore::FileName).string());
        store.RecordNotifications(
            {{now - 3, "old", "", "", "yp", 0, 0, ""},
             {now - 0.01, Sjis("雑談"), "http://bbs/", "AB", "yp", 0, 2, Sjis("終了から 3 分で再開")}});
    }
    const Outcome all = Start({"--notifications", "--format", "json"});
    ASSERT_EQ(all.Status, 0) << all.Err;
    EXPECT_EQ(JsonLines(all.Out).size(), 2u) << all.Out;

    const Outcome recent = Start({"--notifications", "--since", "1", "--format", "json"});
    ASSERT_EQ(recent.Status, 0) << recent.Err;
    const std::vector<Json> rows = JsonLines(recent.Out);
    ASSERT_EQ(rows.size(), 1u) << recent.Out;
    EXPECT_EQ(rows[0]["ChannelName"], "雑談");
    EXPECT_EQ(rows[0]["Outcome"], "猶予");
    EXPECT_EQ(rows[0]["Reason"], "終了から 3 分で再開");
    EXPECT_EQ(Start({"--since", "1"}).Status, 2);
    EXPECT_EQ(Start({"--notifications", "--history"}).Status, 2);
}

TEST_F(KavoListTest, YpStatusShowsEachYpsLastTurn)
{
    server.Route("/ok/index.txt",
                 HttpReply::Ok("one<>" + ChannelId + "<><><><><>1<>0<>300<>WMV<><><><><><><><><>0\r\n"));
    server.Route("/page/index.txt", HttpReply::Ok("<html><body>Service Unavailable</body></html>"));
    WriteSettings("[URL]\nTimeout=5\n[YP]\n" + YpSettings(0, "/ok/", true) + YpSettings(1, "/page/", true) +
                  YpSettings(2, "/off/", false));
    const Outcome run = Start({"--yp-status", "--cycles", "1", "--format", "json"});
    EXPECT_EQ(run.Status, 0) << run.Err;
    const std::vector<Json> rows = JsonLines(run.Out);
    ASSERT_EQ(rows.size(), 3u) << run.Out;
    EXPECT_EQ(rows[0]["Result"], "fetched");
    EXPECT_EQ(rows[0]["Channels"], 1);
    EXPECT_EQ(rows[0]["Failing"], false);
    EXPECT_EQ(rows[0]["Recent"][0]["HttpStatus"], 200);
    EXPECT_EQ(rows[1]["Result"], "not-index");
    EXPECT_EQ(rows[1]["FailuresInRow"], 1);
    EXPECT_EQ(rows[1]["Failing"], true);
    EXPECT_EQ(rows[2]["Enabled"], false);
    EXPECT_EQ(rows[2]["Recent"], Json::array());

    // Without --cycles it only reads.
    server.ClearRequests();
    const Outcome table = Start({"--yp-status"});
    EXPECT_EQ(table.Status, 0);
    EXPECT_TRUE(server.Requests().empty());
    ASSERT_EQ(Lines(table.Out).size(), 4u) << table.Out;
    EXPECT_NE(Lines(table.Out)[2].find("一覧ではない応答"), std::string::npos) << table.Out;
}

TEST_F(KavoListTest, AHistoryFileThatIsNoDatabaseCostsNoChannels)
{
    server.Route("/a/index.txt",
                 HttpReply::Ok("one<>" + ChannelId + "<><><><><>1<>0<>300<>WMV<><><><><><><><><>0\r\n"));
    WriteSettings("[URL]\nTimeout=5\n[YP]\n" + YpSettings(0, "/a/", true));
    const std::string garbage(5000, '#');
    std::ofstream(home / "history.sqlite", std::ios::binary) << garbage;

    const Outcome run = Start({"--cycles", "2", "--manual", "--format", "json"});
    ASSERT_EQ(run.Status, 0);
    ASSERT_EQ(JsonLines(run.Out).at(0)["channels"].size(), 1u);
    // Reported once, for two refreshes; the file is left for a look.
    EXPECT_EQ(Lines(run.Err).size(), 1u) << run.Err;
    EXPECT_NE(run.Err.find("history.sqlite"), std::string::npos);
    EXPECT_EQ(ReadFile(home / "history.sqlite"), garbage);
}

// A history that cannot be read is said so, never shown as an empty table; a search that cannot be
// carried out is said so as well.
TEST_F(KavoListTest, WhatCannotBeReadOrSearchedIsSaidSo)
{
    server.Route("/a/index.txt",
                 HttpReply::Ok("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab<>" +
                               ChannelId + "<><><><><>1<>0<>300<>WMV<><><><><><><><><>0\r\n"));
    WriteSettings("[URL]\nTimeout=5\n[YP]\n" + YpSettings(0, "/a/", true));

    // A pattern that runs into the engine's limit finds nothing, and says so.
    const Outcome limit = Start({"--find", "(a+)+$", "--format", "json"});
    EXPECT_EQ(limit.Status, 0);
    EXPECT_NE(limit.Err.find("kavo-list: --find: "), std::string::npos) << limit.Err;

    const fs::path file = home / "history.sqlite";
    const std::array<std::pair<const char*, std::function<void()>>, 3> kinds{{
        {"folder", [&] { fs::create_directory(file); }},
        {"fifo", [&] { ASSERT_EQ(mkfifo(file.c_str(), 0600), 0); }},
        {"link to a device", [&] { fs::create_symlink("/dev/null", file); }},
    }};
    for (const auto& [name, make] : kinds) {
        fs::remove_all(file);
        make();
        for (const char* report : {"--yp-status", "--history"}) {
            const Outcome run = Start({report});
            EXPECT_EQ(run.Status, 1) << name << " " << report;
            EXPECT_NE(run.Err.find("history.sqlite"), std::string::npos) << name << " " << report << run.Err;
            EXPECT_EQ(run.Out, "") << name << " " << report;
        }
    }

    // Another process holding the file for itself.
    fs::remove_all(file);
    ASSERT_EQ(Start({"--cycles", "1"}).Status, 0);
    sqlite3* lock = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &lock), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(lock, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE; UPDATE yp SET title = title;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    const Outcome locked = Start({"--yp-status"});
    EXPECT_EQ(locked.Status, 1);
    EXPECT_NE(locked.Err.find("history.sqlite"), std::string::npos) << locked.Err;
    sqlite3_exec(lock, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(lock);
}

TEST_F(KavoListTest, KilledWhileRecordingLosesAtMostTheRefreshUnderWay)
{
    std::string index;
    for (int i = 0; i < 3000; ++i) {
        char id[33];
        std::snprintf(id, sizeof id, "%032X", i + 1);
        index += "channel " + std::to_string(i) + "<>" + id + "<><><>genre<>desc<>" + std::to_string(i % 50) +
                 "<>0<>300<>WMV<><><><><><>1:00<>click<><>0\r\n";
    }
    server.Route("/a/index.txt", HttpReply::Ok(index));
    server.Route("/b/index.txt", HttpReply::Ok(index));
    WriteSettings("[URL]\nTimeout=5\n[YP]\n" + YpSettings(0, "/a/", true) + YpSettings(1, "/b/", true));
    // One word a refresh, printed once the refresh is written.
    std::ofstream(home / "header.txt") << "refresh";
    std::ofstream(home / "channel.txt") << "";
    const auto refreshes = [](const std::string& text) {
        std::size_t count = 0;
        for (std::size_t at = text.find("refresh"); at != std::string::npos; at = text.find("refresh", at + 1))
            ++count;
        return count;
    };

    const fs::path out = home / "stdout.txt";
    std::vector<std::string> args = {KAVO_LIST_PATH,
                                     "--home",
                                     home.string(),
                                     "--cycles",
                                     "1000000",
                                     "--manual",
                                     "--all-cycles",
                                     "--header",
                                     (home / "header.txt").string(),
                                     "--template",
                                     (home / "channel.txt").string()};
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    for (int i = 0; i < 200 && refreshes(ReadFile(out)) < 5; ++i)
        usleep(50000);
    usleep(37000); // somewhere inside a refresh
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    const std::size_t printed = refreshes(ReadFile(out));
    ASSERT_GE(printed, 5u);

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((home / "history.sqlite").c_str(), &db), SQLITE_OK);
    const auto number = [db](const char* sql) {
        sqlite3_stmt* statement = nullptr;
        long long value = -1;
        if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK && sqlite3_step(statement) == SQLITE_ROW)
            value = sqlite3_column_int64(statement, 0);
        sqlite3_finalize(statement);
        return value;
    };
    EXPECT_EQ(number("SELECT COUNT(*) FROM pragma_integrity_check WHERE integrity_check = 'ok'"), 1);
    const long long attempts = number("SELECT COUNT(*) FROM attempt");
    // Both YPs' turns of a refresh, or neither.
    EXPECT_EQ(attempts % 2, 0);
    EXPECT_GE(attempts / 2, static_cast<long long>(printed));
    EXPECT_LE(attempts / 2, static_cast<long long>(printed) + 1);
    // The broadcasts on air belong to the last refresh written.
    EXPECT_EQ(number("SELECT COUNT(*) FROM broadcast WHERE last_seen IS NULL"), 6000);
    sqlite3_close(db);
}

} // namespace
} // namespace kavo
