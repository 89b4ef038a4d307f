// PCRaw index channels through real cycles, with the stand-in library built beside the tests.
#include "net/CycleFixture.h"
#include "net/Pcraw.h"
#include "platform/DynamicLibrary.h"
#include "platform/RegularExpression.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace kavo {
namespace {

namespace fs = std::filesystem;
using test::HttpReply;
using test::Id;
using test::IndexLine;

// The controls of a loaded copy of the stand-in library.
class TestLibrary
{
public:
    explicit TestLibrary(const fs::path& file)
    {
        if (!m_library.Open(file.string()))
            throw std::runtime_error(m_library.Error());
        m_setData = m_library.Function<void (*)(const char*, std::int32_t)>("TestPcrawSetData");
        m_setLength = m_library.Function<void (*)(std::int32_t)>("TestPcrawSetLength");
        m_setUpdateTime = m_library.Function<void (*)(std::int32_t)>("TestPcrawSetUpdateTime");
        m_setLastError = m_library.Function<void (*)(std::int32_t)>("TestPcrawSetLastError");
        m_setCreateFails = m_library.Function<void (*)(int)>("TestPcrawSetCreateFails");
        m_openChannels = m_library.Function<std::int32_t (*)()>("TestPcrawOpenChannels");
        m_takeLog = m_library.Function<std::int32_t (*)(char*, std::int32_t)>("TestPcrawTakeLog");
    }

    void SetData(const std::string& data) { m_setData(data.data(), static_cast<std::int32_t>(data.size())); }
    void SetLength(std::int32_t length) { m_setLength(length); }
    void SetUpdateTime(std::int32_t time) { m_setUpdateTime(time); }
    void SetLastError(std::int32_t code) { m_setLastError(code); }
    void SetCreateFails(bool fails) { m_setCreateFails(fails); }
    int OpenChannels() { return m_openChannels(); }

    // The calls since the last look, one a line.
    std::vector<std::string> TakeLog()
    {
        std::string text(1 << 16, '\0');
        const std::int32_t size = m_takeLog(text.data(), static_cast<std::int32_t>(text.size()));
        text.resize(static_cast<std::size_t>(size));
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

private:
    DynamicLibrary m_library;
    void (*m_setData)(const char*, std::int32_t);
    void (*m_setLength)(std::int32_t);
    void (*m_setUpdateTime)(std::int32_t);
    void (*m_setLastError)(std::int32_t);
    void (*m_setCreateFails)(int);
    std::int32_t (*m_openChannels)();
    std::int32_t (*m_takeLog)(char*, std::int32_t);
};

using Log = std::vector<std::string>;

// The stream URL of the index channel Id(9) of IndexWithChannel, as the library is asked for it.
const std::string IndexChannelUrl = "http://127.0.0.1:7144/stream/" + Id(9) + "?tip=10.0.0.1:7144";

std::string IndexWithChannel(const std::string& name = "http ch")
{
    return IndexLine(name, Id(1)) + IndexLine("index.txt", Id(9), "RAW", "");
}

class PcrawCycleTest : public test::CycleFixture
{
protected:
    void SetUp() override
    {
        CycleFixture::SetUp();
        fs::copy_file(TEST_PCRAW_LIBRARY, folder / "libpcraw.so");
        // The same file as the module loads, so the same copy with the same state.
        library = std::make_unique<TestLibrary>(folder / "libpcraw.so");
        MakeNet();
    }

    void TearDown() override
    {
        CycleFixture::TearDown();
        library.reset();
    }

    std::size_t Fetches(const std::string& path) const { return server.RequestsFor(path + "index.txt").size(); }

    std::unique_ptr<TestLibrary> library;
};

TEST_F(PcrawCycleTest, AChannelIsOpenedReadWhenItHasDataAndClosedWhenItDies)
{
    EXPECT_EQ(library->TakeLog(), Log{"check version 0x00030000"});
    TkavoYpItem& yp = AddYp("/yp/");
    server.Route("/yp/index.txt", HttpReply::Ok(IndexWithChannel()));
    const std::string pcrawIndex = IndexLine("配信 pcraw", Id(2));
    library->SetData(pcrawIndex);

    RunCycle(true);
    EXPECT_EQ(library->TakeLog(), Log{"create " + IndexChannelUrl});
    ASSERT_NE(Record(yp).PCRawHandle, nullptr);
    EXPECT_EQ(Record(yp).PCRawUpdateTime, 100);
    EXPECT_EQ(Fetches("/yp/"), 1u);

    const std::string read = "read " + std::to_string(pcrawIndex.size());
    const Log fromChannel{"lock", read, "unlock"};
    struct Step
    {
        const char* name;
        double minutes; // the clock moves on by this first
        bool manual;
        std::int32_t updateTime;
        std::int32_t lastError;
        bool overHttp;
        std::vector<std::string> names;
        Log calls;
    };
    const std::vector<std::string> httpNames{"http ch", "index.txt"};
    const std::vector<std::string> pcrawNames{Sjis("配信 pcraw")};
    const std::array<Step, 6> steps{{
        {"open without data: over HTTP, not opened again", 1, false, 100, 0, true, httpNames, {}},
        {"data delivered: read from the channel", 1, false, 101, 0, false, pcrawNames, fromChannel},
        {"no newer data: still read from the channel", 1, false, 101, 0, false, pcrawNames, fromChannel},
        {"a passing problem: the 10-minute rule", 1, false, 101, 3, false, pcrawNames, {}},
        {"a passing problem after 10 minutes: read", 10, false, 101, 3, false, pcrawNames, fromChannel},
        {"a dead channel: closed, over HTTP, opened again",
         1,
         true,
         101,
         -1,
         true,
         httpNames,
         {"close " + IndexChannelUrl, "create " + IndexChannelUrl}},
    }};
    std::size_t fetches = 1;
    for (const Step& step : steps) {
        clock->AddMinutes(step.minutes);
        library->SetUpdateTime(step.updateTime);
        library->SetLastError(step.lastError);
        RunCycle(step.manual);
        fetches += step.overHttp;
        EXPECT_EQ(Fetches("/yp/"), fetches) << step.name;
        EXPECT_EQ(Names(Record(yp).ChList), step.names) << step.name;
        EXPECT_EQ(library->TakeLog(), step.calls) << step.name;
        EXPECT_EQ(Record(yp).PCRawLastError, step.lastError) << step.name;
        EXPECT_EQ(library->OpenChannels(), 1) << step.name;
    }
    EXPECT_TRUE(Errors().empty());
    EXPECT_EQ(Record(yp).PCRawUpdateTime, 101);

    // At exit the channel is closed.
    net.reset();
    EXPECT_EQ(library->TakeLog(), Log{"close " + IndexChannelUrl});
    EXPECT_EQ(library->OpenChannels(), 0);
}

TEST_F(PcrawCycleTest, AScriptRewritesTheChannelText)
{
    // Over HTTP the script fetches the index itself; with PCRaw data it rewrites its input.
    WriteFile("rewrite.dms",
              "if (args[8] == 'True') {\n"
              "    var line;\n"
              "    while ((line = stdin.readln()) !== null)\n"
              "        println(line.replace('pcraw', 'rewritten'));\n"
              "    println(args.join('|') + '<>' + args[8] + '<><><><><><>1<>0<>300<>WMV<><><><><><><><><>0');\n"
              "} else {\n"
              "    print(http.get(args[0] + 'index.txt?host=' + args[1]));\n"
              "}\n");
    TkavoYpItem& yp = AddYp("/yp/");
    yp.Script = "rewrite.dms";
    yp.Title = Sjis("ぴーしーらう");
    server.Route("/yp/index.txt", HttpReply::Ok(IndexWithChannel()));
    RunCycle(true);
    EXPECT_EQ(Names(Record(yp).ChList), (std::vector<std::string>{"http ch", "index.txt"}));
    ASSERT_NE(Record(yp).PCRawHandle, nullptr);

    library->SetData(IndexLine("配信 pcraw", Id(2)) + IndexLine("second", Id(3)));
    library->SetUpdateTime(101);
    RunCycle(true);
    EXPECT_EQ(Errors(), std::vector<std::string>{});
    const std::string arguments = yp.Url + "|localhost:7144|*||True||5|" + yp.Title + "|True";
    EXPECT_EQ(Names(Record(yp).ChList), (std::vector<std::string>{Sjis("配信 rewritten"), "second", arguments}));
    EXPECT_EQ(Fetches("/yp/"), 1u);
}

TEST_F(PcrawCycleTest, AnInvalidNamePatternEndsTheCycle)
{
    // Without a RAW channel the pattern is never used.
    server.Route("/plain/index.txt", HttpReply::Ok(IndexLine("plain", Id(1))));
    server.Route("/bad/index.txt", HttpReply::Ok(IndexWithChannel("bad")));
    server.Route("/next/index.txt", HttpReply::Ok(IndexLine("next", Id(3))));
    for (const char* path : {"/plain/", "/bad/"})
        AddYp(path).PCRawChName2 = "^index(\\.txt$";
    AddYp("/next/");

    RunCycle(true);
    ASSERT_EQ(cycleErrors.size(), 1u);
    EXPECT_FALSE(cycleErrors[0].empty());
    EXPECT_TRUE(net->LastCycle().EndedEarly);
    EXPECT_TRUE(Errors().empty());
    EXPECT_EQ(Names(net->ChList()), (std::vector<std::string>{"plain", "bad", "index.txt"}));
    EXPECT_EQ(Fetches("/next/"), 0u);
    EXPECT_EQ(library->TakeLog(), Log{"check version 0x00030000"});
}

TEST_F(PcrawCycleTest, AFailedReadIsADownloadError)
{
    TkavoYpItem& yp = AddYp("/yp/");
    server.Route("/yp/index.txt", HttpReply::Ok(IndexWithChannel()));
    RunCycle(true);
    library->TakeLog();
    library->SetUpdateTime(101);
    struct Case
    {
        std::int32_t length;
        const char* message;
    };
    const std::array<Case, 2> cases{{
        {-1, "PCRaw: the channel reports -1 bytes of data"},
        {0x7FFFFFFF, "PCRaw: the channel reports 2147483647 bytes of data"},
    }};
    for (const Case& c : cases) {
        library->SetLength(c.length);
        const std::size_t before = Errors().size();
        RunCycle(true);
        ASSERT_EQ(Errors().size(), before + 1) << c.length;
        EXPECT_EQ(Errors().back(), DownloadError(yp, c.message));
        EXPECT_EQ(Names(Record(yp).ChList), (std::vector<std::string>{"http ch", "index.txt"})) << c.length;
        // The data is unlocked again, and the channel stays open.
        EXPECT_EQ(library->TakeLog(), (Log{"lock", "unlock"})) << c.length;
        EXPECT_NE(Record(yp).PCRawHandle, nullptr);
    }
}

TEST_F(PcrawCycleTest, AChannelThatCannotBeOpenedIsLookedForAfterEverySuccess)
{
    TkavoYpItem& yp = AddYp("/yp/");
    server.Route("/yp/index.txt", HttpReply::Ok(IndexWithChannel()));
    library->TakeLog();
    library->SetCreateFails(true);
    for (int cycle = 0; cycle < 2; ++cycle) {
        RunCycle(true);
        EXPECT_EQ(library->TakeLog(), Log{"create " + IndexChannelUrl}) << cycle;
        EXPECT_EQ(Record(yp).PCRawHandle, nullptr);
    }
    // A failed retrieval does not look.
    server.Route("/yp/index.txt", HttpReply::Error(500, "Internal Server Error"));
    RunCycle(true);
    EXPECT_EQ(library->TakeLog(), Log{});
}

TEST_F(PcrawCycleTest, AHandleSurvivesASettingsReload)
{
    server.Route("/yp/index.txt", HttpReply::Ok(IndexWithChannel()));
    server.Route("/gone/index.txt", HttpReply::Ok(IndexLine("gone", Id(4)) + IndexLine("index.txt", Id(5), "RAW", "")));
    AddYp("/yp/");
    AddYp("/gone/");
    RunCycle(true);
    ASSERT_EQ(library->OpenChannels(), 2);
    library->TakeLog();

    // The settings file keeps /yp/ only: the channel of the YP that went is closed with the reload.
    WriteFile("kavo.ini", "[PCRAW]\r\nCreateTimer=0\r\n[YP]\r\nTitle0=yp\r\nUrl0=" + server.Url("/yp/") +
                              "\r\nEnabled0=1\r\nChType0=\r\n");
    Setting().Load((folder / "kavo.ini").string());
    net->SettingsReloaded();
    ASSERT_EQ(Setting().YpList.Count(), 1);
    TkavoYpItem& yp = Setting().YpList[0];
    EXPECT_NE(Record(yp).PCRawHandle, nullptr);
    EXPECT_EQ(library->TakeLog().size(), 1u);
    EXPECT_EQ(library->OpenChannels(), 1);

    library->SetData(IndexLine("from the channel", Id(2)));
    library->SetUpdateTime(101);
    RunCycle(true);
    EXPECT_EQ(Names(Record(yp).ChList), std::vector<std::string>{"from the channel"});
    EXPECT_EQ(Fetches("/yp/"), 1u);
    library->TakeLog();

    // The kept one is closed at exit.
    net.reset();
    EXPECT_EQ(library->TakeLog().size(), 1u);
    EXPECT_EQ(library->OpenChannels(), 0);
}

TEST_F(PcrawCycleTest, TheCyclePausesAfterOpeningAChannelUntilTheModuleGoes)
{
    // Ten minutes: a pause that the module's end did not cut short would outlast the test's limit.
    WriteFile("kavo.ini", "[PCRAW]\r\nCreateTimer=600000\r\n");
    net->Prepare(IniFile::Read((folder / "kavo.ini").string()));
    server.Route("/yp/index.txt", HttpReply::Ok(IndexWithChannel()));
    AddYp("/yp/");
    library->TakeLog();
    net->Manual = true;
    net->StartRetrieval();
    Log calls;
    for (int i = 0; i < 100 && calls.empty(); ++i) {
        loop.RunUntil([] { return false; }, std::chrono::milliseconds(50));
        calls = library->TakeLog();
    }
    ASSERT_EQ(calls, Log{"create " + IndexChannelUrl});
    EXPECT_FALSE(loop.RunUntil([this] { return !net->Running(); }, std::chrono::milliseconds(200)))
        << "the cycle went on without its pause";

    net.reset();
    EXPECT_EQ(library->TakeLog(), Log{"close " + IndexChannelUrl});
}

// No library, or one without all nine functions: PCRaw stays off and says nothing.
class PcrawOffTest : public test::CycleFixture
{};

TEST_F(PcrawOffTest, WithoutAUsableLibrary)
{
    struct Case
    {
        const char* name;
        const char* library; // copied into the program folder; nullptr: none
    };
    const std::array<Case, 2> cases{{
        {"no library", nullptr},
        {"a library without PCRawDataUnlock", TEST_PCRAW_INCOMPLETE_LIBRARY},
    }};
    server.Route("/yp/index.txt", HttpReply::Ok(IndexWithChannel()));
    for (const Case& c : cases) {
        std::unique_ptr<TestLibrary> library;
        if (c.library) {
            fs::copy_file(c.library, folder / "libpcraw.so", fs::copy_options::overwrite_existing);
            library = std::make_unique<TestLibrary>(folder / "libpcraw.so");
        }
        Setting().YpList.Clear();
        TkavoYpItem& yp = AddYp("/yp/");
        MakeNet();
        RunCycle(true);
        RunCycle(true);
        EXPECT_EQ(Record(yp).PCRawHandle, nullptr) << c.name;
        EXPECT_EQ(Record(yp).ChList.Count(), 2) << c.name;
        EXPECT_TRUE(Errors().empty()) << c.name;
        EXPECT_TRUE(cycleErrors.empty()) << c.name;
        net.reset();
        // Not even asked for its version.
        if (library) {
            EXPECT_EQ(library->TakeLog(), Log{}) << c.name;
        }
    }
}

TEST(PcrawIndexChannelTest, TheLastChannelThatFitsIsTheIndex)
{
    struct Channel
    {
        const char* name;
        const char* type;
        const char* genre;
        const char* stream;
    };
    struct Case
    {
        const char* what;
        std::vector<Channel> channels;
        const char* pattern;
        const char* chIp;
        int found; // index in channels, -1 for none
    };
    const Channel index{"index.txt", "RAW", "", "http://localhost:7144/pls/A?tip=192.168.1.2:7144"};
    const std::array<Case, 10> cases{{
        {"RAW, no genre", {{"ch", "WMV", "g", ""}, index}, "^index(_[a-z]+)?\\.txt$", "", 1},
        {"type in any case", {{"index.txt", "raw", "", ""}}, "^index(_[a-z]+)?\\.txt$", "", 0},
        {"name in any case", {{"INDEX_yp.TXT", "RAW", "", ""}}, "^index(_[a-z]+)?\\.txt$", "", 0},
        {"with a genre", {{"index.txt", "RAW", "info", ""}}, "^index(_[a-z]+)?\\.txt$", "", -1},
        {"not RAW", {{"index.txt", "WMV", "", ""}}, "^index(_[a-z]+)?\\.txt$", "", -1},
        {"name does not match", {{"index.txt.bak", "RAW", "", ""}}, "^index(_[a-z]+)?\\.txt$", "", -1},
        {"empty pattern", {index}, "", "", -1},
        {"PCRawChIP in the stream URL", {index}, "^index(_[a-z]+)?\\.txt$", "192.168.1.2", 0},
        {"PCRawChIP elsewhere", {index}, "^index(_[a-z]+)?\\.txt$", "10.0.0.1", -1},
        {"two fit: the later one",
         {index, {"index_b.txt", "RAW", "", "x"}, {"ch", "WMV", "", ""}},
         "^index(_[a-z]+)?\\.txt$",
         "",
         1},
    }};
    RegularExpression regExp;
    for (const Case& c : cases) {
        YpRecord yp;
        yp.PCRawChName2 = c.pattern;
        yp.PCRawChIP = c.chIp;
        for (const Channel& channel : c.channels) {
            TkavoChItem& item = yp.ChList.Add(std::make_unique<TkavoChItem>());
            item.ChannelName = channel.name;
            item.Type = channel.type;
            item.Genre = channel.genre;
            item.StreamURL = channel.stream;
        }
        const TkavoChItem* found = FindPcrawIndexChannel(yp, regExp);
        EXPECT_EQ(found, c.found < 0 ? nullptr : &yp.ChList[c.found]) << c.what;
    }

    YpRecord bad;
    bad.PCRawChName2 = "(";
    bad.ChList.Add(std::make_unique<TkavoChItem>()).Type = "RAW";
    EXPECT_THROW(FindPcrawIndexChannel(bad, regExp), RegularExpressionError);
}

TEST(PcrawIndexChannelTest, StreamUrlOfTheLocalServer)
{
    const std::array<std::pair<const char*, const char*>, 3> cases{{
        {"http://localhost:7144/pls/ABC?tip=1.2.3.4:7144", "http://127.0.0.1:7144/stream/ABC?tip=1.2.3.4:7144"},
        {"http://LocalHost:8144/pls/ABC", "http://127.0.0.1:8144/stream/ABC"},
        {"http://192.168.0.2:7144/pls/ABC", "http://192.168.0.2:7144/stream/ABC"},
    }};
    for (const auto& [url, expected] : cases)
        EXPECT_EQ(PcrawStreamUrl(url), expected) << url;
}

} // namespace
} // namespace kavo
