// Refreshes against a YP that misbehaves on purpose: whatever it sends, the YP fails within its
// deadline (twice the time-out) plus a second, with an error that says what was wrong, and keeps
// the channels of its last good answer.
#include "net/CycleFixture.h"

#include "net/IndexParser.h"
#include "support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace kavo {
namespace {

using namespace std::chrono_literals;
using test::BodyEncoding;
using test::HttpReply;
using test::Id;
using test::IndexLine;

constexpr int TimeoutSeconds = 1;
constexpr auto Allowed = std::chrono::seconds(2 * TimeoutSeconds + 1);

// A sanitizer's shadow memory grows with every byte the program touches: the bound would count it.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool MemoryIsMeasured = false;
#else
constexpr bool MemoryIsMeasured = true;
#endif

long PeakMemoryKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

class HostileServerTest : public test::CycleFixture
{
protected:
    void SetUp() override
    {
        CycleFixture::SetUp();
        Setting().URL.Timeout = std::to_string(TimeoutSeconds);
        MakeNet();
    }

    // Runs one manual cycle and returns how long it took.
    std::chrono::steady_clock::duration TimedCycle()
    {
        const auto begin = std::chrono::steady_clock::now();
        RunCycle(true);
        return std::chrono::steady_clock::now() - begin;
    }
};

std::string Index()
{
    std::string index;
    for (int i = 0; i < 50; ++i)
        index += IndexLine("channel" + std::to_string(i), Id(i));
    return index;
}

HttpReply Cut(BodyEncoding encoding)
{
    const std::string encoded = test::Encode(Index(), encoding);
    HttpReply reply;
    reply.Encoding = encoding;
    reply.BodyIsEncoded = true;
    reply.Body = encoded.substr(0, encoded.size() * 6 / 10);
    return reply;
}

TEST_F(HostileServerTest, EveryKindOfBadAnswerFailsInTimeAndKeepsTheList)
{
    HttpReply drip = HttpReply::Ok(Index());
    drip.DripBytes = 2;
    drip.DripInterval = 100ms; // fast enough for the low-speed rule, far too slow for the deadline
    HttpReply silent = HttpReply::Ok(Index());
    silent.Delay = 10s;
    HttpReply endless;
    endless.Http10 = true;
    endless.StreamBytes = std::uint64_t{40} << 20;
    HttpReply bomb;
    bomb.Encoding = BodyEncoding::Gzip;
    bomb.BodyIsEncoded = true;
    bomb.Body = test::GzipBomb(std::uint64_t{64} << 20);
    HttpReply noContent;
    noContent.Status = 204;
    noContent.Reason = "No Content";
    HttpReply noLocation;
    noLocation.Status = 302;
    noLocation.Reason = "Found";
    HttpReply longHeader = HttpReply::Ok(Index());
    longHeader.Headers.emplace_back("Set-Cookie", "a=" + std::string(200 << 10, 'x'));

    struct Case
    {
        const char* name;
        HttpReply reply;
        const char* message; // contained in the error
    };
    const std::array<Case, 10> cases{{
        {"slow drip", drip, "timed out"},
        {"no answer", silent, ""},
        {"endless body", endless, "32 MiB"},
        {"compression bomb", bomb, "32 MiB"},
        {"gzip cut off", Cut(BodyEncoding::Gzip), "cut off"},
        {"deflate cut off", Cut(BodyEncoding::Deflate), "cut off"},
        {"no content", noContent, "204 No Content"},
        {"redirect to nowhere", noLocation, "302 Found"},
        {"redirect loop", HttpReply::Redirect("/yp/index.txt"), "redirect"},
        {"over-long header", longHeader, "too long"},
    }};

    TkavoYpItem& yp = AddYp("/yp/");
    const long memoryBefore = PeakMemoryKiB();
    for (const Case& c : cases) {
        server.Route("/yp/index.txt", HttpReply::Ok(Index(), BodyEncoding::Gzip));
        RunCycle(true);
        ASSERT_EQ(Record(yp).ChList.Count(), 50) << c.name;
        const std::size_t errorsBefore = Errors().size();

        server.Route("/yp/index.txt", c.reply);
        const auto took = TimedCycle();
        EXPECT_LE(took, Allowed) << c.name;
        ASSERT_EQ(Errors().size(), errorsBefore + 1) << c.name;
        const std::string error = Errors().back();
        EXPECT_EQ(error.rfind(DownloadError(yp, ""), 0), 0u) << c.name << ": " << error;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.name << ": " << error;
        EXPECT_EQ(Record(yp).ChList.Count(), 50) << c.name;
        EXPECT_EQ(net->ChList().Count(), 50) << c.name;
    }
    // Bodies are capped at 32 MiB, so no answer may grow the program by much more.
    if (MemoryIsMeasured) {
        EXPECT_LT(PeakMemoryKiB() - memoryBefore, 200 * 1024);
    }
}

// However small its lines, a YP cannot list more channels than the cap; the whole index is refused.
TEST_F(HostileServerTest, AnIndexOfTooManyChannelsIsRefusedWhole)
{
    TkavoYpItem& yp = AddYp("/yp/");
    server.Route("/yp/index.txt", HttpReply::Ok(Index()));
    RunCycle(true);
    ASSERT_EQ(Record(yp).ChList.Count(), 50);

    // The smallest line the parser takes: a name, an ID, empty fields and the last one.
    std::string line = "c<>1";
    for (int field = 2; field < IndexFieldCount - 1; ++field)
        line += "<>";
    line += "<>0\n";
    std::string atCap;
    atCap.reserve(line.size() * (MaxChannelsPerYp + 1));
    for (int i = 0; i < MaxChannelsPerYp; ++i)
        atCap += line;
    server.Route("/yp/index.txt", HttpReply::Ok(atCap + line, BodyEncoding::Gzip));
    RunCycle(true);
    ASSERT_EQ(Errors().size(), 1u);
    EXPECT_NE(Errors()[0].find(std::to_string(MaxChannelsPerYp)), std::string::npos) << Errors()[0];
    EXPECT_EQ(Record(yp).ChList.Count(), 50);

    server.Route("/yp/index.txt", HttpReply::Ok(atCap, BodyEncoding::Gzip));
    RunCycle(true);
    EXPECT_EQ(Errors().size(), 1u);
    EXPECT_EQ(Record(yp).ChList.Count(), MaxChannelsPerYp);
}

// The local server's status page is read with the same client and the same deadline.
TEST_F(HostileServerTest, ASlowLocalServerHoldsTheCycleNoLongerThanTheDeadline)
{
    HttpReply drip = HttpReply::Ok("<peercast><channels_relayed></channels_relayed></peercast>");
    drip.DripBytes = 1;
    drip.DripInterval = 100ms;
    server.Route("/admin", drip);
    Setting().URL.LocalChInfo = true;
    Setting().URL.LocalChInfoAddr = server.Url("/admin?cmd=viewxml");
    TkavoYpItem& yp = AddYp("/yp/");
    server.Route("/yp/index.txt", HttpReply::Ok(Index()));
    const auto took = TimedCycle();
    EXPECT_LE(took, Allowed + 1s); // the YP's own fetch comes after it
    EXPECT_EQ(Record(yp).ChList.Count(), 50);
    EXPECT_TRUE(Errors().empty());
}

} // namespace
} // namespace kavo
