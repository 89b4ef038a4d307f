// Retrieval scripts against their limits, with the program's own HTTP client behind http.get.
#include "net/HttpClient.h"
#include "script/ScriptTestSupport.h"
#include "script/YpScriptRunner.h"

#include "core/TkavoYpItem.h"
#include "platform/Cp932.h"
#include "support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>

namespace kavo {
namespace {

using namespace std::chrono_literals;

class ScriptLimitsTest : public test::ScriptDir
{
protected:
    YpScriptResult Run(const std::string& source, const std::optional<std::string>& input, const std::string& timeout)
    {
        Write("s.dms", source);
        TkavoYpItem yp;
        yp.Url = "http://yp.example/";
        yp.Script = "s.dms";
        return runner->RunYpScript(yp, "", timeout, input);
    }

    std::unique_ptr<YpScriptRunner> runner;
};

// Whatever a script does, it ends within its limit (twice the time-out: 2 s here) plus a second,
// and the YP fails with a message that says why.
TEST_F(ScriptLimitsTest, EveryScriptEndsWithinItsLimit)
{
    test::TestHttpServer server;
    test::HttpReply drip = test::HttpReply::Ok(std::string(2000, 'x'));
    drip.DripBytes = 2;
    drip.DripInterval = 100ms;
    server.Route("/drip", drip);
    HttpClient client;
    HttpOptions options;
    options.TimeoutSeconds = 1;
    client.Apply(options);
    runner = std::make_unique<YpScriptRunner>(m_dir, [&](const std::string& url) {
        HttpResponse response = client.Get(url);
        if (response.Outcome != HttpOutcome::Complete)
            throw std::runtime_error(response.Error);
        return response.Body;
    });
    const std::string get = "http.get('" + server.Url("/drip") + "')";
    const std::string timedOut = Sjis("制限時間");
    struct Case
    {
        const char* name;
        std::string source;
        std::string message; // contained in the failure
    };
    const std::array cases{
        Case{"http.get of a slow server in a catching loop", "for (;;) { try { " + get + "; } catch (e) {} }",
             timedOut},
        Case{"output without end", "var s = 'x'; while (s.length < 1048576) s += s; for (;;) print(s);", "MiB"},
        Case{"output without end, caught",
             "var s = 'x'; while (s.length < 1048576) s += s; "
             "for (;;) { try { print(s); } catch (e) {} }",
             "MiB"},
        Case{"a backtracking pattern in a loop",
             "var s = 'aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab'; "
             "for (;;) /^(a+)+$/.test(s);",
             timedOut},
        Case{"sleep in a catching loop", "for (;;) { try { sleep(100000); } catch (e) {} }", timedOut},
        Case{"an endless loop inside a catching one", "for (;;) { try { for (;;) {} } catch (e) {} }", timedOut},
        Case{"a catching loop with a finally", "for (;;) { try { for (;;) {} } catch (e) {} finally { print(''); } }",
             timedOut},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto begin = std::chrono::steady_clock::now();
        const YpScriptResult result = Run(c.source, std::nullopt, "1");
        EXPECT_LE(std::chrono::steady_clock::now() - begin, 3s);
        EXPECT_FALSE(result.Success);
        EXPECT_NE(result.Text.find(c.message), std::string::npos) << Cp932ToUtf8(result.Text);
    }
}

} // namespace
} // namespace kavo
