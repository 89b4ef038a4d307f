#include "script/ScriptEngine.h"

#include "ScriptTestSupport.h"
#include "platform/Cp932.h"
#include "support/Hex.h"

#include <gtest/gtest.h>

#include <array>
#include <deque>
#include <stdexcept>
#include <thread>

namespace kavo {
namespace {

using namespace std::chrono_literals;
using test::Hex;

class ScriptEngineTest : public test::ScriptDir
{
protected:
    void SetUp() override
    {
        ScriptDir::SetUp();
        engine.SetStdout([this](const std::string& s) { out += s; });
        engine.SetStderr([this](const std::string& s) { err += s; });
        engine.SetStdin([this](std::string& s, int count, bool line) {
            if (input.empty())
                return false;
            s = line ? input.front() : input.front() + "#" + std::to_string(count);
            input.pop_front();
            return true;
        });
        engine.SetErrorReport([this](int line, const std::string& message) {
            reportedLine = line;
            reported = message;
        });
    }

    ScriptStatus RunSource(std::string_view source, const std::vector<std::string>& args = {})
    {
        const ScriptStatus compiled = engine.Compile(Write("t.dms", source));
        if (!compiled)
            return compiled;
        return engine.Run(args);
    }

    ScriptEngine engine;
    std::string out;
    std::string err;
    std::deque<std::string> input;
    int reportedLine = -1;
    std::string reported;
};

TEST_F(ScriptEngineTest, EveryFunctionAScriptCanCall)
{
    struct Case
    {
        const char* name;
        const char* source;
        const char* out;
        const char* err;
    };
    const std::array cases{
        Case{"args", "print(args.length, args[0], args[1])", "2 one two", ""},
        Case{"print joins with blanks", "print('a', 1, true); print('b')", "a 1 trueb", ""},
        Case{"println", "println('a', 'b'); println()", "a b\r\n\r\n", ""},
        Case{"stdout", "stdout.write('x'); stdout.writeln('y', 2)", "xy 2\r\n", ""},
        Case{"stderr", "stderr.write('e'); stderr.writeln('f')", "", "ef\r\n"},
        Case{"stdin.readln, null at the end",
             "var a = stdin.readln(), b = stdin.readln(), c = stdin.readln();"
             "print(a, b, c === null)",
             "first second true", ""},
        Case{"stdin.read passes the count", "print(stdin.read(3), stdin.read(), stdin.read(-5), stdin.read())",
             "first#3 second#0 null null", ""},
        Case{"http.get", "print(http.get('http://yp.example/index.txt'))", "body of http://yp.example/index.txt", ""},
        Case{"http.get failure is catchable",
             "try { http.get('http://fail/'); } catch (e) { print(e instanceof Error, e.message) }",
             "true connection refused", ""},
        Case{"sleep", "var t = Date.now(); sleep(30); sleep(0); sleep(-1); print(Date.now() - t >= 25)", "true", ""},
    };
    engine.SetFetch([](const std::string& url) -> std::string {
        if (url == "http://fail/")
            throw std::runtime_error("connection refused");
        return "body of " + url;
    });
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        out.clear();
        err.clear();
        input = {"first", "second"};
        ASSERT_TRUE(engine.Reset());
        const ScriptStatus status = RunSource(c.source, {"one", "two"});
        EXPECT_TRUE(status) << status.Message;
        EXPECT_EQ(out, c.out);
        EXPECT_EQ(err, c.err);
    }
}

TEST_F(ScriptEngineTest, ScriptFilesInEitherEncodingAndOutputPerFlag)
{
    const std::string text = "テスト①";
    struct Case
    {
        const char* name;
        std::string file;
    };
    const std::array cases{
        Case{"CP932", Sjis("print('" + text + "')")},
        Case{"UTF-8 with byte-order mark", "\xEF\xBB\xBFprint('" + text + "')"},
        Case{"UTF-8 without byte-order mark", "print('" + text + "')"},
    };
    for (const auto& c : cases) {
        for (const ScriptText encoding : {ScriptText::Utf8, ScriptText::Cp932}) {
            SCOPED_TRACE(std::string(c.name) + (encoding == ScriptText::Utf8 ? " to UTF-8" : " to CP932"));
            out.clear();
            engine.SetEncoding(encoding);
            ASSERT_TRUE(RunSource(c.file));
            EXPECT_EQ(Hex(out), Hex(encoding == ScriptText::Utf8 ? text : Sjis(text)));
        }
    }
}

TEST_F(ScriptEngineTest, InputIsDecodedPerFlagAndArgumentsAreCp932)
{
    const std::string text = "チャンネル";
    const char* source = "var s = stdin.readln(); print(s.length, s === args[0], s)";

    engine.SetEncoding(ScriptText::Cp932);
    input = {Sjis(text)};
    ASSERT_TRUE(RunSource(source, {Sjis(text)}));
    EXPECT_EQ(out, Sjis("5 true " + text));

    out.clear();
    engine.SetEncoding(ScriptText::Utf8);
    input = {text};
    ASSERT_TRUE(RunSource(source, {Sjis(text)}));
    EXPECT_EQ(out, "5 true " + text);
}

TEST_F(ScriptEngineTest, CharactersBeyondTheBasicPlaneSurviveTheRoundTrip)
{
    // U+29E3D is one character to us and a surrogate pair inside the interpreter.
    const std::string fish = "\xF0\xA9\xB8\xBD";
    engine.SetEncoding(ScriptText::Utf8);
    input = {fish, "\xFF"};
    ASSERT_TRUE(RunSource("var s = stdin.readln(); print(s.length, s, String.fromCharCode(0xD800), stdin.readln())"));
    EXPECT_EQ(Hex(out), Hex("2 " + fish + " \xEF\xBF\xBD \xEF\xBF\xBD"));
}

TEST_F(ScriptEngineTest, HttpBodiesAreDecodedByTheirBytes)
{
    engine.SetEncoding(ScriptText::Utf8);
    engine.SetFetch([](const std::string& url) { return url == "u" ? std::string("日本") : Sjis("日本"); });
    ASSERT_TRUE(RunSource("print(http.get('u') === http.get('s'), http.get('s').length)"));
    EXPECT_EQ(out, "true 2");
}

TEST_F(ScriptEngineTest, ErrorsCarryLineAndMessage)
{
    struct Case
    {
        const char* name;
        const char* source;
        ScriptStatus::Kind kind;
        int line;
        const char* contains;
    };
    const std::array cases{
        Case{"syntax error", "print(1);\n\nvar = 3;\n", ScriptStatus::SyntaxError, 3, "SyntaxError"},
        Case{"uncaught error", "print(1);\nnull.x;\n", ScriptStatus::RuntimeError, 2, "TypeError"},
        Case{"thrown text", "throw 'bad input';", ScriptStatus::RuntimeError, 0, "bad input"},
        Case{"error from a native", "\n\nhttp.get('x');", ScriptStatus::RuntimeError, 3, "no HTTP client"},
        Case{"runaway recursion", "function f() { f(); }\nf();", ScriptStatus::RuntimeError, 1, "RangeError"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(engine.Reset());
        const ScriptStatus status = RunSource(c.source);
        EXPECT_EQ(status.Result, c.kind);
        EXPECT_EQ(status.Line, c.line);
        EXPECT_NE(status.Message.find(c.contains), std::string::npos) << status.Message;
        EXPECT_EQ(reportedLine, c.line);
        EXPECT_EQ(reported, status.Message);
    }
    EXPECT_EQ(engine.Compile((m_dir / "missing.dms").string()).Result, ScriptStatus::FileError);
}

TEST_F(ScriptEngineTest, TheTimeLimitStopsRunawayScripts)
{
    struct Case
    {
        const char* name;
        const char* source;
    };
    const std::array cases{
        Case{"endless loop", "for (;;) {}"},
        Case{"loop that catches the stop", "for (;;) { try { for (;;) {} } catch (e) {} }"},
        Case{"long sleep", "sleep(1e12);"},
        Case{"sleeps in a loop that catches", "for (;;) { try { sleep(50); } catch (e) {} }"},
    };
    engine.SetTimeLimit(300ms);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(engine.Reset());
        const auto begin = std::chrono::steady_clock::now();
        const ScriptStatus status = RunSource(c.source);
        EXPECT_LT(std::chrono::steady_clock::now() - begin, 10s);
        EXPECT_EQ(status.Result, ScriptStatus::TimedOut);
        EXPECT_EQ(status.Message, Sjis("スクリプトの実行が制限時間(0.3秒)を超えました"));
    }
    // The next run gets its own full time.
    ASSERT_TRUE(engine.Reset());
    EXPECT_TRUE(RunSource("sleep(100); print('done')"));
    EXPECT_EQ(out, "done");
}

TEST_F(ScriptEngineTest, RunsInTheBackgroundUntilAborted)
{
    ASSERT_TRUE(engine.Compile(Write("loop.dms", "print('started'); for (;;) { sleep(10); }")));
    ASSERT_TRUE(engine.Start());
    EXPECT_TRUE(engine.Busy());
    EXPECT_FALSE(engine.Wait(50ms));
    EXPECT_FALSE(engine.Reset());
    EXPECT_FALSE(engine.Start());
    EXPECT_EQ(engine.Run().Result, ScriptStatus::Busy);
    EXPECT_EQ(engine.Compile(Write("other.dms", "1")).Result, ScriptStatus::Busy);

    engine.Abort();
    ASSERT_TRUE(engine.Wait(10s));
    EXPECT_EQ(engine.LastRun().Result, ScriptStatus::Aborted);
    EXPECT_EQ(out, "started");

    // A reset drops the compiled script and the globals.
    ASSERT_TRUE(RunSource("var kept = 1;"));
    ASSERT_TRUE(engine.Reset());
    EXPECT_EQ(engine.Run().Result, ScriptStatus::NotCompiled);
    out.clear();
    ASSERT_TRUE(RunSource("print(typeof kept)"));
    EXPECT_EQ(out, "undefined");
}

TEST_F(ScriptEngineTest, AScriptCannotExhaustMemory)
{
    engine.SetMemoryLimit(16u << 20);
    ASSERT_TRUE(engine.Reset());
    const ScriptStatus status = RunSource("var s = 'x', kept = []; for (;;) { s = s + s; kept.push(s); }");
    EXPECT_EQ(status.Result, ScriptStatus::RuntimeError);
    // The heap is still usable afterwards.
    ASSERT_TRUE(engine.Reset());
    EXPECT_TRUE(RunSource("print('ok')"));
    EXPECT_EQ(out, "ok");
}

TEST_F(ScriptEngineTest, EnginesOnTwoThreadsShareNothing)
{
    const std::string script = Write("count.dms", "var total = 0;"
                                                  "for (var i = 0; i < 20; i++) { total += Number(args[0]); sleep(5); }"
                                                  "print(args[0], total, typeof other)");
    const std::string other = Write("other.dms", "var other = 1;");
    std::array<std::string, 2> outputs;
    std::array<bool, 2> ok{};
    auto work = [&](int n) {
        ScriptEngine own;
        own.SetStdout([&outputs, n](const std::string& s) { outputs[n] += s; });
        own.SetTimeLimit(30s);
        if (n == 1) {
            own.Compile(other);
            own.Run();
        }
        ok[n] = own.Compile(script) && own.Run({std::to_string(n + 1)});
    };
    std::thread first(work, 0);
    std::thread second(work, 1);
    first.join();
    second.join();
    EXPECT_TRUE(ok[0]);
    EXPECT_TRUE(ok[1]);
    EXPECT_EQ(outputs[0], "1 20 undefined");
    EXPECT_EQ(outputs[1], "2 40 number");
}

} // namespace
} // namespace kavo
