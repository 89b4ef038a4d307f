#include "script/YpScriptRunner.h"
#include "script/ScriptHost.h"

#include "ScriptTestSupport.h"
#include "core/TkavoYpItem.h"
#include "platform/Cp932.h"
#include "support/Hex.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <future>
#include <mutex>
#include <thread>

namespace kavo {
namespace {

using namespace std::chrono_literals;
using test::Hex;

std::string Joined(const std::deque<std::string>& lines)
{
    std::string text;
    for (const auto& line : lines)
        text += "[" + line + "]";
    return text;
}

TEST(DMSStdinTest, LineAndCountProtocol)
{
    struct Read
    {
        int count;
        bool line;
    };
    struct Case
    {
        const char* name;
        std::vector<Read> reads;
        const char* lastText; // what the last read gave
        bool lastSuccess;
        const char* rest;
    };
    const std::array cases{
        Case{"a line", {{0, true}}, "a", true, "[b][c]"},
        Case{"three characters", {{3, false}}, "a\r\n", true, "[b][c]"},
        Case{"everything", {{0, false}}, "a\r\nb\r\nc\r\n", true, ""},
        Case{"negative count is everything", {{-1, false}}, "a\r\nb\r\nc\r\n", true, ""},
        Case{"nothing after everything", {{0, false}, {0, true}}, "unchanged", false, ""},
        Case{"a cut inside a line break takes all of it", {{2, false}}, "a\r\n", true, "[b][c]"},
        Case{"one character at a time gets past the breaks",
             {{1, false}, {1, false}, {1, false}, {1, false}, {1, false}, {1, false}},
             "\r\n",
             true,
             ""},
        Case{"more than there is", {{100, false}}, "a\r\nb\r\nc\r\n", true, ""},
        Case{"lines one by one to the end", {{0, true}, {0, true}, {0, true}, {1, false}}, "unchanged", false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        YpScriptRunner runner("/nonexistent");
        runner.SetStdinText("a\r\nb\r\nc\r\n");
        std::string s;
        bool success = false;
        for (const Read& read : c.reads) {
            s = "unchanged";
            success = runner.DMSStdin(s, read.count, read.line);
        }
        EXPECT_EQ(success, c.lastSuccess);
        EXPECT_EQ(s, c.lastText);
        EXPECT_EQ(Joined(runner.StdinLines), c.rest);
    }
}

TEST(DMSStdinTest, SplitsLikeAStringList)
{
    YpScriptRunner runner("/nonexistent");
    runner.SetStdinText("a\nb\rc\r\n\r\nd");
    EXPECT_EQ(Joined(runner.StdinLines), "[a][b][c][][d]");
    runner.SetStdinText("");
    EXPECT_TRUE(runner.StdinLines.empty());
}

class YpScriptRunnerTest : public test::ScriptDir
{
protected:
    void SetUp() override
    {
        ScriptDir::SetUp();
        runner = std::make_unique<YpScriptRunner>(m_dir);
        yp.Title = Sjis("テストYP");
        yp.Url = "http://yp.example/";
        yp.Host = "127.0.0.1:7144";
        yp.Bitrate = "300";
        yp.ChType = "wmv|flv";
        yp.Script = "s.dms";
    }

    YpScriptResult Run(std::string_view source, const std::optional<std::string>& input = std::nullopt,
                       const std::string& timeout = "30")
    {
        Write("s.dms", source);
        return runner->RunYpScript(yp, "proxy.example:8080", timeout, input);
    }

    TkavoYpItem yp;
    std::unique_ptr<YpScriptRunner> runner;
};

TEST_F(YpScriptRunnerTest, NineArgumentsAndTheInputOnBothPaths)
{
    const char* source = "println(args.join('|')); var line; while ((line = stdin.readln()) !== null) println(line);";

    YpScriptResult result = Run(source);
    ASSERT_TRUE(result.Success) << result.Text;
    EXPECT_EQ(result.Text,
              "http://yp.example/|127.0.0.1:7144|300|wmv|flv|True|proxy.example:8080|30|テストYP|False\r\n");

    result = Run(source, "ch1<>x\nch2<>y\n", "45");
    ASSERT_TRUE(result.Success) << result.Text;
    EXPECT_EQ(result.Text, "http://yp.example/|127.0.0.1:7144|300|wmv|flv|True|proxy.example:8080|45|テストYP|True\r\n"
                           "ch1<>x\r\nch2<>y\r\n");
    EXPECT_TRUE(runner->StdinLines.empty());

    // Empty PCRaw text: nothing to read, argument 9 is False.
    result = Run("print(args[8], stdin.read())", "");
    EXPECT_EQ(result.Text, "False null");
}

TEST_F(YpScriptRunnerTest, OutputAndInputFollowUtf2Sjis)
{
    const std::string name = "チャンネル名";
    const char* source = "var s = stdin.readln(); println(s.length + '<>' + s + '<>' + args[7]);";

    yp.UTF2SJIS = true;
    YpScriptResult result = Run(source, name);
    ASSERT_TRUE(result.Success);
    EXPECT_EQ(Hex(result.Text), Hex("6<>" + name + "<>テストYP\r\n"));

    yp.UTF2SJIS = false;
    result = Run(source, Sjis(name));
    ASSERT_TRUE(result.Success);
    EXPECT_EQ(Hex(result.Text), Hex(Sjis("6<>" + name + "<>テストYP\r\n")));

    // A count reads characters, never half of one.
    result = Run("print(stdin.read(2), '/', stdin.readln())", Sjis(name));
    EXPECT_EQ(result.Text, Sjis("チャ / ンネル名"));
    yp.UTF2SJIS = true;
    result = Run("print(stdin.read(2), '/', stdin.readln())", name);
    EXPECT_EQ(result.Text, "チャ / ンネル名");
}

TEST_F(YpScriptRunnerTest, FailureRules)
{
    struct Case
    {
        const char* name;
        bool utf2sjis;
        const char* source;
        bool success;
        std::string text;
    };
    const std::array cases{
        Case{"empty output is an empty index", true, "var x = 1;", true, ""},
        Case{"does not compile", true, "print('a');\nfunction (", false, Sjis("スクリプトコンパイルエラー")},
        Case{"error output wins over standard output", true, "println('ch<>1'); stderr.writeln('取得失敗')", false,
             Sjis("取得失敗\r\n")},
        Case{"error output in CP932", false, "stderr.write('取得失敗')", false, Sjis("取得失敗")},
        Case{"uncaught error names its line", true, "print('x');\nundefinedFunction();", false,
             "2" + Sjis("行目: ") + "ReferenceError: identifier 'undefinedFunction' undefined"},
        Case{"uncaught error after error output", true, "stderr.write('partial'); throw new Error('stop');", false,
             "1" + Sjis("行目: ") + "Error: stop\r\npartial"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        yp.UTF2SJIS = c.utf2sjis;
        const YpScriptResult result = Run(c.source, "in\r\n");
        EXPECT_EQ(result.Success, c.success);
        EXPECT_EQ(Hex(result.Text), Hex(c.text)) << result.Text;
        EXPECT_TRUE(runner->StdinLines.empty());
    }
}

TEST_F(YpScriptRunnerTest, ARunawayScriptFailsAfterTwiceTheTimeout)
{
    const auto begin = std::chrono::steady_clock::now();
    const YpScriptResult result = Run("for (;;) {}", std::nullopt, "1");
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 20s);
    EXPECT_FALSE(result.Success);
    EXPECT_EQ(result.Text, Sjis("スクリプトの実行が制限時間(2秒)を超えました"));
}

TEST_F(YpScriptRunnerTest, BuffersAreEmptiedForEveryYp)
{
    EXPECT_EQ(Run("print('first')").Text, "first");
    EXPECT_FALSE(Run("stderr.write('broken')").Success);
    const YpScriptResult result = Run("print('second')");
    EXPECT_TRUE(result.Success);
    EXPECT_EQ(result.Text, "second");
}

TEST_F(YpScriptRunnerTest, FetchesAndRewritesAnIndex)
{
    std::vector<std::string> requested;
    runner->SetFetch([&](const std::string& url) {
        requested.push_back(url);
        return std::string("\xEF\xBB\xBF") + "配信A<>id1<>1.2.3.4:7144<><>Game<>\r\nindex.txt<>id2<><><><><>\r\n";
    });
    const char* source = R"(var text = http.get(args[0] + 'index.txt?host=' + args[1]);
var lines = text.split(/\r?\n/);
for (var i = 0; i < lines.length; i++) {
    var f = lines[i].split('<>');
    if (f.length < 2 || f[0] === 'index.txt') continue;
    f[4] = '[' + args[7] + '] ' + f[4];
    println(f.join('<>'));
})";
    const YpScriptResult result = Run(source);
    ASSERT_TRUE(result.Success) << result.Text;
    EXPECT_EQ(requested, std::vector<std::string>{"http://yp.example/index.txt?host=127.0.0.1:7144"});
    EXPECT_EQ(result.Text, "配信A<>id1<>1.2.3.4:7144<><>[テストYP] Game<>\r\n");
}

TEST_F(YpScriptRunnerTest, ScriptFileFollowsCanDmsAndTheProgramFolder)
{
    Write("s.dms", "");
    std::filesystem::create_directories(m_dir / Cp932ToUtf8(Sjis("スクリプト")));
    Write(Cp932ToUtf8(Sjis("スクリプト")) + "/yp.dms", "");

    EXPECT_EQ(runner->ScriptFile(yp), m_dir / "s.dms");
    yp.Script = Sjis("スクリプト\\yp.dms");
    EXPECT_EQ(runner->ScriptFile(yp), m_dir / "スクリプト/yp.dms");
    yp.Script = (m_dir / "s.dms").string();
    EXPECT_EQ(runner->ScriptFile(yp), m_dir / "s.dms");

    yp.Script = "missing.dms";
    EXPECT_EQ(runner->ScriptFile(yp), std::nullopt);
    yp.Script = "";
    EXPECT_EQ(runner->ScriptFile(yp), std::nullopt);
    yp.Script = Sjis("スクリプト");
    EXPECT_EQ(runner->ScriptFile(yp), std::nullopt) << "a folder is no script";
    yp.Script = "s.dms";
    runner->SetCanDMS(false);
    EXPECT_EQ(runner->ScriptFile(yp), std::nullopt);
}

TEST_F(YpScriptRunnerTest, RecreateIsRefusedWhileAScriptRuns)
{
    std::promise<void> entered;
    std::atomic<bool> release{false};
    runner->SetFetch([&](const std::string&) {
        entered.set_value();
        while (!release)
            std::this_thread::sleep_for(5ms);
        return std::string("ok");
    });
    Write("s.dms", "var x = 1; print(http.get('u'), x);");
    auto running = std::async(std::launch::async, [&] { return runner->RunYpScript(yp, "", "30"); });
    ASSERT_EQ(entered.get_future().wait_for(10s), std::future_status::ready);
    EXPECT_FALSE(runner->RecreateScriptEngine());
    release = true;
    EXPECT_EQ(running.get().Text, "ok 1");

    EXPECT_TRUE(runner->RecreateScriptEngine());
    // The new engine keeps the hooks and the HTTP client.
    runner->SetFetch([](const std::string&) { return std::string("again"); });
    EXPECT_EQ(runner->RunYpScript(yp, "", "30").Text, "again 1");
}

// The main window's start-up and exit scripts, each in a process of its own. Their only trace here
// is whether they ran to their end.
using EventScriptTest = test::ScriptDir;

TEST_F(EventScriptTest, StartUpRunsWithoutWaitingAndExitWaitsForIt)
{
    EventScripts scripts;
    Write("create.dms", "print('nowhere'); sleep(200);");
    Write("destroy.dms", "if (stdin.readln() !== null) throw 'input'; println('done');");

    ASSERT_TRUE(scripts.Start("create.dms", m_dir));
    EXPECT_FALSE(scripts.Start("create.dms", m_dir)) << "one at a time";
    EXPECT_FALSE(scripts.Reset());
    EXPECT_TRUE(scripts.RunExit("destroy.dms", m_dir, std::chrono::steady_clock::now() + 10s));
    EXPECT_TRUE(scripts.Reset());

    EXPECT_FALSE(scripts.Start("missing.dms", m_dir));
    EXPECT_FALSE(scripts.RunExit("", m_dir, std::chrono::steady_clock::now() + 10s));
    Write("broken.dms", "function (");
    EXPECT_FALSE(scripts.RunExit("broken.dms", m_dir, std::chrono::steady_clock::now() + 10s));
    Write("throws.dms", "throw new Error('x');");
    EXPECT_FALSE(scripts.RunExit("throws.dms", m_dir, std::chrono::steady_clock::now() + 10s));
    // Neither has HTTP.
    Write("fetches.dms", "http.get('http://127.0.0.1:1/');");
    EXPECT_FALSE(scripts.RunExit("fetches.dms", m_dir, std::chrono::steady_clock::now() + 10s));
}

TEST_F(EventScriptTest, WhatStillRunsAtTheCutOffIsKilled)
{
    EventScripts scripts;
    Write("create.dms", "var a = []; a.length = 1 << 30; a.join('');");
    Write("destroy.dms", "for (;;) { try { for (;;) {} } catch (e) {} }");
    Write("quick.dms", "println('x');");
    const auto begin = std::chrono::steady_clock::now();

    // A start-up script still running at the cut-off is killed and the exit script skipped.
    ASSERT_TRUE(scripts.Start("create.dms", m_dir));
    EXPECT_FALSE(scripts.RunExit("quick.dms", m_dir, begin + 200ms));
    EXPECT_TRUE(scripts.Reset());

    EXPECT_FALSE(scripts.RunExit("destroy.dms", m_dir, std::chrono::steady_clock::now() + 300ms));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 10s);
    EXPECT_TRUE(scripts.RunExit("quick.dms", m_dir, std::chrono::steady_clock::now() + 10s));
}

} // namespace
} // namespace kavo
