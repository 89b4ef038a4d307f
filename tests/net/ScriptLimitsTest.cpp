// Retrieval scripts against their limits, each in its process, with the program's own HTTP client
// behind http.get.
#include "net/HttpClient.h"
#include "script/ScriptHost.h"
#include "script/ScriptTestSupport.h"

#include "core/TkavoYpItem.h"
#include "platform/Cp932.h"
#include "support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <stdexcept>
#include <string>

namespace kavo {
namespace {

using namespace std::chrono_literals;

class ScriptLimitsTest : public test::ScriptDir
{
protected:
    void SetUp() override
    {
        ScriptDir::SetUp();
        HttpOptions options;
        options.TimeoutSeconds = 1;
        client.Apply(options);
    }

    YpScriptResult Run(const std::string& source, const std::string& timeout,
                       const std::optional<std::string>& input = std::nullopt)
    {
        Write("s.dms", source);
        TkavoYpItem yp;
        yp.Url = "http://yp.example/";
        yp.Script = "s.dms";
        yp.UTF2SJIS = false;
        return RunRetrievalScript(m_dir, yp, "", timeout, input, [this](const std::string& url) {
            HttpResponse response = client.Get(url);
            if (response.Outcome != HttpOutcome::Complete)
                throw std::runtime_error(response.Error);
            return response.Body;
        });
    }

    HttpClient client;
};

// Whatever a script does, even inside one call of the interpreter, it ends within its limit (twice
// the time-out) plus a second, and the YP fails with a message that says why.
TEST_F(ScriptLimitsTest, EveryScriptEndsWithinItsLimit)
{
    test::TestHttpServer server;
    test::HttpReply drip = test::HttpReply::Ok(std::string(2000, 'x'));
    drip.DripBytes = 2;
    drip.DripInterval = 100ms;
    server.Route("/drip", drip);
    const std::string get = "http.get('" + server.Url("/drip") + "')";
    const std::string timedOut = ScriptTimeOutMessage();
    struct Case
    {
        const char* name;
        std::string source;
        std::string message; // contained in the failure
        const char* timeout = "1";
    };
    const std::array cases{
        Case{"join of a long empty array", "var a = []; a.length = 1 << 30; a.join('');", timedOut},
        Case{"join of a long sparse array", "Array(1 << 30).join('x');", timedOut},
        Case{"reverse of the longest sparse array", "var a = []; a.length = 4294967295; a.reverse();", timedOut},
        Case{"replace doubling a text", "var s = 'a'; for (var i = 0; i < 30; i++) s = s.replace(/a/g, 'aa');",
             timedOut},
        Case{"a backtracking pattern in a catching loop",
             "var s = 'aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab'; "
             "for (;;) { try { /^(a+)+$/.test(s); } catch (e) {} }",
             timedOut},
        Case{"an endless loop inside a catching one", "for (;;) { try { for (;;) {} } catch (e) {} }", timedOut},
        Case{"a catching loop with a finally", "for (;;) { try { for (;;) {} } catch (e) {} finally { print(''); } }",
             timedOut},
        Case{"sleep in a catching loop", "for (;;) { try { sleep(100000); } catch (e) {} }", timedOut},
        Case{"http.get of a slow server in a catching loop", "for (;;) { try { " + get + "; } catch (e) {} }",
             timedOut},
        Case{"output without end", "var s = 'x'; while (s.length < 1048576) s += s; for (;;) print(s);", "MiB", "5"},
        Case{"output without end, caught",
             "var s = 'x'; while (s.length < 1048576) s += s; for (;;) { try { print(s); } catch (e) {} }", "MiB", "5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto begin = std::chrono::steady_clock::now();
        const YpScriptResult result = Run(c.source, c.timeout);
        EXPECT_LE(std::chrono::steady_clock::now() - begin, YpScriptRunner::TimeLimit(c.timeout) + 1s);
        EXPECT_FALSE(result.Success);
        EXPECT_NE(result.Text.find(c.message), std::string::npos) << Cp932ToUtf8(result.Text);
    }
}

// Memory beyond the interpreter's ceiling fails the run, in the script or in its process, and the
// next run is unharmed.
TEST_F(ScriptLimitsTest, MemoryRunsOutInsideTheRunOnly)
{
    const YpScriptResult hog =
        Run("var a = [], s = 'x'; while (s.length < 1048576) s += s; for (var i = 0;; i++) a.push(s + i);", "5");
    EXPECT_FALSE(hog.Success);
    EXPECT_EQ(hog.Text.find(ScriptTimeOutMessage()), std::string::npos) << Cp932ToUtf8(hog.Text);

    const YpScriptResult next = Run("var l; while ((l = stdin.readln()) != null) println(l + '!');", "5", "a\r\nb");
    EXPECT_TRUE(next.Success) << Cp932ToUtf8(next.Text);
    EXPECT_EQ(next.Text, "a!\r\nb!\r\n");
}

// What the script asks of kavo goes through its process and back: requests, their failures, its
// input and output in the YP's encoding, and the error output that fails the YP.
TEST_F(ScriptLimitsTest, TheScriptApiCrossesTheProcess)
{
    test::TestHttpServer server;
    server.Route("/index.txt", test::HttpReply::Ok("ch<>1\nch<>2\n"));
    const std::string url = server.Url("/index.txt");
    const std::string missing = server.Url("/missing");

    const YpScriptResult fetched = Run("var t = http.get('" + url +
                                           "'); print(t.replace(/<>/g, '|'));"
                                           "try { http.get('" +
                                           missing + "'); } catch (e) { println('caught'); }",
                                       "5");
    EXPECT_TRUE(fetched.Success) << Cp932ToUtf8(fetched.Text);
    EXPECT_EQ(fetched.Text, "ch|1\nch|2\ncaught\r\n");

    const YpScriptResult japanese = Run("println(stdin.readln() + 'だ');", "5", Sjis("日本語"));
    EXPECT_EQ(japanese.Text, Sjis("日本語だ\r\n"));

    const YpScriptResult failed = Run("println('x'); stderr.writeln('失敗');", "5");
    EXPECT_FALSE(failed.Success);
    EXPECT_EQ(failed.Text, Sjis("失敗\r\n"));
}

} // namespace
} // namespace kavo
