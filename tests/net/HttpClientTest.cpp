#include "net/HttpClient.h"
#include "net/ukavoNet.h"

#include "support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>

namespace kavo {
namespace {

using test::BodyEncoding;
using test::HttpReply;
using test::TestHttpServer;

HttpOptions Options(int timeoutSeconds = 5, int protocol = 1)
{
    HttpOptions options;
    options.TimeoutSeconds = timeoutSeconds;
    options.Protocol = protocol;
    return options;
}

// Something like an index, long enough that compression matters.
std::string Body()
{
    std::string body;
    for (int i = 0; i < 200; ++i)
        body += "channel " + std::to_string(i) + "<>0123456789ABCDEF0123456789ABCDEF<>\r\n";
    return body;
}

TEST(HttpOptionsTest, FromSettings)
{
    struct Case
    {
        const char* name;
        const char* timeout;
        const char* proxy;
        int seconds;
        const char* host;
        int port;
    };
    const std::array<Case, 9> cases{{
        {"defaults", "30", "", 30, "", 0},
        {"timeout not an integer", "abc", "", 60, "", 0},
        {"timeout of zero would wait for ever", "0", "", 60, "", 0},
        {"negative timeout", "-5", "", 60, "", 0},
        {"proxy", "30", "proxy:8080", 30, "proxy", 8080},
        {"proxy without port", "30", "proxy", 30, "", 0},
        {"two proxies", "30", "a:1 b:2", 30, "", 0},
        {"port out of range", "30", "proxy:99999", 30, "", 0},
        {"text after the port", "30", "10.0.0.1:3128/", 30, "10.0.0.1", 3128},
    }};
    for (const Case& c : cases) {
        TkavoSetting::URLOptions url;
        url.Protocol = 1;
        url.Timeout = c.timeout;
        url.Proxy = c.proxy;
        const HttpOptions options = HttpOptionsFromSettings(url);
        EXPECT_EQ(options.Protocol, 1) << c.name;
        EXPECT_EQ(options.TimeoutSeconds, c.seconds) << c.name;
        EXPECT_EQ(options.ProxyHost, c.host) << c.name;
        EXPECT_EQ(options.ProxyPort, c.port) << c.name;
    }
}

TEST(HttpClientTest, SendsTheFixedHeadersAndTheChosenVersion)
{
    TestHttpServer server;
    server.Route("/index.txt", HttpReply::Ok("x"));
    HttpClient client;

    client.Apply(Options(5, 0));
    EXPECT_EQ(client.Get(server.Url("/index.txt?host=localhost:7144")).Outcome, HttpOutcome::Complete);
    client.Apply(Options(5, 1));
    client.Get(server.Url("/index.txt"));
    // Any other value keeps the version in use.
    client.Apply(Options(5, 7));
    client.Get(server.Url("/index.txt"));

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].Target, "/index.txt?host=localhost:7144");
    EXPECT_EQ(requests[0].Version, "HTTP/1.0");
    EXPECT_EQ(requests[1].Version, "HTTP/1.1");
    EXPECT_EQ(requests[2].Version, "HTTP/1.1");
    for (const auto& request : requests) {
        EXPECT_EQ(request.Method, "GET");
        EXPECT_EQ(request.Header("Accept"), "text/html, */*");
        EXPECT_EQ(request.Header("Accept-Language"), "ja");
        EXPECT_EQ(request.Header("Accept-Encoding"), "deflate, gzip, identity");
        EXPECT_EQ(request.Header("User-Agent"), "Mozilla/4.0 (compatible; MSIE; Windows NT)");
        EXPECT_FALSE(request.HasHeader("Referer"));
    }
}

TEST(HttpClientTest, DecodesEveryAnswerForm)
{
    TestHttpServer server;
    const std::string body = Body();
    HttpReply http10 = HttpReply::Ok(body);
    http10.Http10 = true;
    HttpReply gzipHttp10 = HttpReply::Ok(body, BodyEncoding::Gzip);
    gzipHttp10.Http10 = true;
    struct Case
    {
        const char* path;
        HttpReply reply;
    };
    const std::array<Case, 7> cases{{
        {"/identity", HttpReply::Ok(body)},
        {"/gzip", HttpReply::Ok(body, BodyEncoding::Gzip)},
        {"/deflate", HttpReply::Ok(body, BodyEncoding::Deflate)},
        {"/raw-deflate", HttpReply::Ok(body, BodyEncoding::RawDeflate)},
        {"/http10", http10},
        {"/gzip-http10", gzipHttp10},
        {"/redirect", HttpReply::Redirect("/gzip")},
    }};
    HttpClient client;
    client.Apply(Options());
    for (const Case& c : cases) {
        server.Route(c.path, c.reply);
        const HttpResponse response = client.Get(server.Url(c.path));
        EXPECT_EQ(response.Outcome, HttpOutcome::Complete) << c.path << ": " << response.Error;
        EXPECT_EQ(response.Body, body) << c.path;
    }
    // The redirect was followed without a Referer.
    const auto followed = server.RequestsFor("/gzip");
    ASSERT_EQ(followed.size(), 2u);
    EXPECT_FALSE(followed[1].HasHeader("Referer"));
}

TEST(HttpClientTest, KeepsCookiesUntilReplaced)
{
    TestHttpServer server;
    HttpReply login = HttpReply::Ok("ok");
    login.Headers.emplace_back("Set-Cookie", "session=abc; Path=/");
    server.Route("/login", login);
    server.Route("/index.txt", HttpReply::Ok("x"));

    auto client = std::make_unique<HttpClient>();
    client->Get(server.Url("/login"));
    client->Get(server.Url("/index.txt"));
    client = std::make_unique<HttpClient>();
    client->Get(server.Url("/index.txt"));

    const auto requests = server.RequestsFor("/index.txt");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].Header("Cookie"), "session=abc");
    EXPECT_FALSE(requests[1].HasHeader("Cookie"));
}

TEST(HttpClientTest, FailuresAndEarlyCloses)
{
    TestHttpServer server;
    const std::string body = Body();
    HttpReply partial = HttpReply::Ok(body);
    partial.CloseAfter = 100;
    HttpReply nothing;
    nothing.CloseWithoutAnswer = true;
    HttpReply slow = HttpReply::Ok(body);
    slow.Delay = std::chrono::milliseconds(3500);
    HttpReply endless;
    endless.Http10 = true;
    endless.StreamBytes = std::uint64_t{48} << 20;
    HttpReply bomb;
    bomb.Encoding = BodyEncoding::Gzip;
    bomb.BodyIsEncoded = true;
    bomb.Body = test::GzipBomb(std::uint64_t{64} << 20);
    HttpReply declaredTooLarge = HttpReply::Ok(std::string((std::size_t{32} << 20) + 1, 'x'));

    struct Case
    {
        const char* path;
        HttpReply reply;
        HttpOutcome outcome;
        const char* message; // contained in the error
    };
    const std::array<Case, 9> cases{{
        {"/404", HttpReply::Error(404, "Not Found"), HttpOutcome::Failed, "HTTP/1.1 404 Not Found"},
        {"/500", HttpReply::Error(500, "Internal Server Error"), HttpOutcome::Failed, "500"},
        {"/redirect-to-404", HttpReply::Redirect("/404"), HttpOutcome::Failed, "404"},
        {"/partial", partial, HttpOutcome::ClosedEarly, ""},
        {"/nothing", nothing, HttpOutcome::ClosedEarly, ""},
        {"/slow", slow, HttpOutcome::Failed, ""},
        {"/endless", endless, HttpOutcome::Failed, "32 MiB"},
        {"/bomb", bomb, HttpOutcome::Failed, "32 MiB"},
        {"/declared-too-large", declaredTooLarge, HttpOutcome::Failed, "32 MiB"},
    }};
    HttpClient client;
    client.Apply(Options(1));
    for (const Case& c : cases) {
        server.Route(c.path, c.reply);
        const HttpResponse response = client.Get(server.Url(c.path));
        EXPECT_EQ(response.Outcome, c.outcome) << c.path << ": " << response.Error;
        EXPECT_TRUE(response.Body.empty()) << c.path;
        if (c.outcome == HttpOutcome::Failed) {
            EXPECT_FALSE(response.Error.empty()) << c.path;
            EXPECT_NE(response.Error.find(c.message), std::string::npos) << c.path << ": " << response.Error;
        }
    }
}

// What a hostile or broken server may answer instead of an index: each is an error that says what
// was wrong, never an empty or half list.
TEST(HttpClientTest, AnswersThatCarryNoWholeIndexAreErrors)
{
    TestHttpServer server;
    const std::string body = Body();
    const auto cut = [&](BodyEncoding encoding, bool http10) {
        const std::string encoded = test::Encode(body, encoding);
        HttpReply reply;
        reply.Encoding = encoding;
        reply.BodyIsEncoded = true;
        reply.Body = encoded.substr(0, encoded.size() * 6 / 10); // Content-Length matches the cut
        reply.Http10 = http10;
        return reply;
    };
    const auto status = [](int code, const char* reason) {
        HttpReply reply;
        reply.Status = code;
        reply.Reason = reason;
        return reply;
    };
    HttpReply emptyLocation = status(301, "Moved Permanently");
    emptyLocation.Headers.emplace_back("Location", "");
    HttpReply garbage = HttpReply::Ok("this is not gzip data at all, but says so");
    garbage.Encoding = BodyEncoding::Gzip;
    garbage.BodyIsEncoded = true;
    HttpReply unknownEncoding = HttpReply::Ok(body);
    unknownEncoding.Headers.emplace_back("Content-Encoding", "br");
    HttpReply longHeader = HttpReply::Ok(body);
    longHeader.Headers.emplace_back("X-Filler", std::string(300 << 10, 'a'));
    HttpReply longLocation = HttpReply::Redirect("/" + std::string(300 << 10, 'a'));

    struct Case
    {
        const char* path;
        HttpReply reply;
        const char* message; // contained in the error
    };
    const std::array<Case, 12> cases{{
        {"/gzip-cut", cut(BodyEncoding::Gzip, false), "cut off"},
        {"/deflate-cut", cut(BodyEncoding::Deflate, false), "cut off"},
        {"/raw-deflate-cut", cut(BodyEncoding::RawDeflate, false), "cut off"},
        {"/gzip-http10-cut", cut(BodyEncoding::Gzip, true), "cut off"},
        {"/gzip-garbage", garbage, "broken"},
        {"/unknown-encoding", unknownEncoding, "encoding"},
        {"/204", status(204, "No Content"), "204 No Content"},
        {"/304", status(304, "Not Modified"), "304 Not Modified"},
        {"/302-without-location", status(302, "Found"), "302 Found"},
        {"/301-empty-location", emptyLocation, "301"},
        {"/long-header", longHeader, "header of the answer is too long"},
        {"/long-location", longLocation, "too long"},
    }};
    HttpClient client;
    client.Apply(Options(5));
    for (const Case& c : cases) {
        server.Route(c.path, c.reply);
        const HttpResponse response = client.Get(server.Url(c.path));
        EXPECT_EQ(response.Outcome, HttpOutcome::Failed) << c.path << ": " << response.Error;
        EXPECT_TRUE(response.Body.empty()) << c.path;
        EXPECT_NE(response.Error.find(c.message), std::string::npos) << c.path << ": " << response.Error;
    }
    // The client still works after all of them.
    server.Route("/gzip", HttpReply::Ok(body, BodyEncoding::Gzip));
    EXPECT_EQ(client.Get(server.Url("/gzip")).Body, body);
}

TEST(HttpClientTest, UnreachableServerFailsWithTheLibraryMessage)
{
    int port;
    {
        TestHttpServer closed;
        port = closed.Port();
    }
    HttpClient client;
    client.Apply(Options(2));
    const HttpResponse response = client.Get("http://127.0.0.1:" + std::to_string(port) + "/index.txt");
    EXPECT_EQ(response.Outcome, HttpOutcome::Failed);
    EXPECT_FALSE(response.Error.empty());
}

TEST(HttpClientTest, GoesThroughTheProxy)
{
    TestHttpServer proxy;
    proxy.Route("/index.txt", HttpReply::Ok("via proxy"));
    TkavoSetting::URLOptions url;
    url.Proxy = "127.0.0.1:" + std::to_string(proxy.Port());
    HttpClient client;
    client.Apply(HttpOptionsFromSettings(url));
    const HttpResponse response = client.Get("http://yp.invalid/index.txt?host=localhost:7144");
    EXPECT_EQ(response.Body, "via proxy") << response.Error;
    const auto requests = proxy.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Target, "http://yp.invalid/index.txt?host=localhost:7144");
}

} // namespace
} // namespace kavo
