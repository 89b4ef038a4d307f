// The record of refreshes: what real cycles against the loopback server leave in it, how broadcasts
// open and close, pruning, and files the store cannot use.
#include "net/CycleFixture.h"

#include "core/FindPattern.h"
#include "history/HistoryStore.h"
#include "history/LastList.h"
#include "net/IndexParser.h"
#include "settings/SettingsTestSupport.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <functional>

namespace kavo::test {
namespace {

TEST(NotIndexReasonTest, TellsPagesFromIndexes)
{
    const std::string line =
        "name<>" + Id(1) + "<>tip<>url<>genre<>desc<>5<>1<>300<>WMV<><><><><>%20<>1:05<>click<><>0";
    struct Case
    {
        const char* Name;
        std::string Text;
        const char* Reason; // a word of the reason; "" when it may be an index
    };
    const std::array<Case, 6> cases = {{
        {"empty YP", "", ""},
        {"blank lines", "\r\n  \r\n", ""},
        {"one channel", line + "\r\n", ""},
        {"HTML page", "<!DOCTYPE html>\n<html><body>maintenance</body></html>\n", "HTML"},
        {"plain text", "Service Temporarily Unavailable\n", "19 fields"},
        {"HTML page around an index line", "<html>\n" + line + "\n</html>", ""},
    }};
    for (const Case& c : cases) {
        const std::string reason = NotIndexReason(c.Text);
        if (*c.Reason)
            EXPECT_NE(reason.find(c.Reason), std::string::npos) << c.Name << ": " << reason;
        else
            EXPECT_EQ(reason, "") << c.Name;
    }
}

// Real cycles that record into the history of the program folder.
class HistoryCycleTest : public CycleFixture
{
protected:
    void TearDown() override
    {
        if (net)
            net.reset();
        history.reset();
        CycleFixture::TearDown();
    }
    void MakeRecordingNet()
    {
        history = std::make_unique<HistoryStore>((folder / HistoryStore::FileName).string());
        MakeNet();
        net->OnRecord = [this](RetrievalRecord& record) { history->Record(record); };
    }
    YpHealth Health(const TkavoYpItem& yp)
    {
        history->Flush();
        return history->YpStatus({YpHealth::Of(yp.Url, yp.Title, true)}).at(0);
    }
    static std::vector<YpOutcome> Outcomes(const YpHealth& yp)
    {
        std::vector<YpOutcome> outcomes;
        for (const YpAttemptRow& a : yp.Recent)
            outcomes.push_back(a.Outcome);
        return outcomes;
    }

    std::unique_ptr<HistoryStore> history;
};

TEST_F(HistoryCycleTest, HealthRowsFollowEveryKindOfTurn)
{
    const std::string index = IndexLine("one", Id(1)) + IndexLine("two", Id(2));
    auto& good = AddYp("/good/");
    auto& broken = AddYp("/broken/");
    auto& page = AddYp("/page/");
    auto& empty = AddYp("/empty/");
    for (const char* path : {"/good/index.txt", "/broken/index.txt", "/page/index.txt", "/empty/index.txt"})
        server.Route(path, HttpReply::Ok(index));
    MakeRecordingNet();
    RunCycle(true);

    server.Route("/broken/index.txt", HttpReply::Error(500, "Internal Server Error"));
    server.Route("/page/index.txt", HttpReply::Ok("<!DOCTYPE html><html><body>maintenance</body></html>"));
    server.Route("/empty/index.txt", HttpReply::Ok("\r\n"));
    clock->AddMinutes(1);
    RunCycle(true);
    // Five minutes after their last fetch: the automatic cycle leaves all three alone.
    clock->AddMinutes(5);
    RunCycle(false);

    const YpHealth g = Health(good);
    EXPECT_EQ(Outcomes(g), (std::vector{YpOutcome::Skipped, YpOutcome::Fetched, YpOutcome::Fetched}));
    EXPECT_EQ(g.Recent[1].HttpStatus, 200);
    EXPECT_EQ(g.Recent[1].Bytes, index.size());
    EXPECT_EQ(g.Recent[1].Channels, 2);
    EXPECT_EQ(g.Channels, 2);
    EXPECT_DOUBLE_EQ(g.LastSuccess, Start + 1 / MinutesPerDay);
    EXPECT_EQ(g.FailuresInRow, 0);

    const YpHealth b = Health(broken);
    EXPECT_EQ(Outcomes(b), (std::vector{YpOutcome::Skipped, YpOutcome::Failed, YpOutcome::Fetched}));
    EXPECT_EQ(b.Recent[1].HttpStatus, 500);
    EXPECT_EQ(b.Recent[1].Error, Errors().at(0));
    EXPECT_EQ(b.FailuresInRow, 1);
    EXPECT_DOUBLE_EQ(b.LastSuccess, Start);

    // The page is flagged, reported like a failure, and the YP keeps its channels.
    const YpHealth p = Health(page);
    EXPECT_EQ(Outcomes(p), (std::vector{YpOutcome::Skipped, YpOutcome::NotIndex, YpOutcome::Fetched}));
    EXPECT_EQ(p.FailuresInRow, 1);
    ASSERT_EQ(Errors().size(), 2u);
    EXPECT_EQ(Errors()[1], DownloadError(page, "the answer is an HTML page, not a channel index"));
    EXPECT_EQ(Record(page).ChList.Count(), 2);

    // A YP with channels that answers without a single index line is taken at its word, and the
    // turn is shown apart.
    const YpHealth e = Health(empty);
    EXPECT_EQ(Outcomes(e), (std::vector{YpOutcome::Skipped, YpOutcome::Empty, YpOutcome::Fetched}));
    EXPECT_EQ(e.FailuresInRow, 0);
    EXPECT_EQ(Record(empty).ChList.Count(), 0);
    EXPECT_EQ(net->ChList().Count(), 6);
}

// A YP whose filters hide most of its channels says so, by type and by bitrate.
TEST_F(HistoryCycleTest, HealthSaysWhatTheFiltersHid)
{
    const std::string index = IndexLine("w", Id(1)) + IndexLine("f", Id(2), "FLV") + IndexLine("m", Id(3), "MKV") +
                              IndexLine("g", Id(4), "FLV");
    struct Case
    {
        const char* Path;
        const char* ChType;
        const char* Bitrate;
        ChannelFilterCounts Counts;
        const char* Text; // of the result, UTF-8
    };
    const std::array<Case, 3> cases = {{
        {"/all/", ".+", "*", {4, 0, 0}, "取得"},
        {"/wmv/", "wmv", "*", {4, 3, 0}, "取得 (4件中3件を種別で除外)"},
        {"/rate/", "wmv", "400,9999", {4, 0, 4}, "取得 (4件中4件をビットレートで除外)"}, // the bitrate is tried first
    }};
    for (const Case& c : cases) {
        TkavoYpItem& yp = AddYp(c.Path);
        yp.ChType = c.ChType;
        yp.Bitrate = c.Bitrate;
        server.Route(std::string(c.Path) + "index.txt", HttpReply::Ok(index));
    }
    MakeRecordingNet();
    RunCycle(true);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const YpHealth h = Health(Setting().YpList[static_cast<int>(i)]);
        ASSERT_EQ(h.Recent.size(), 1u) << cases[i].Path;
        const ChannelFilterCounts& got = h.Recent[0].Filtered;
        EXPECT_EQ(got.Listed, cases[i].Counts.Listed) << cases[i].Path;
        EXPECT_EQ(got.HiddenByType, cases[i].Counts.HiddenByType) << cases[i].Path;
        EXPECT_EQ(got.HiddenByBitrate, cases[i].Counts.HiddenByBitrate) << cases[i].Path;
        EXPECT_EQ(YpResultText(h), Sjis(cases[i].Text)) << cases[i].Path;
    }
}

TEST_F(HistoryCycleTest, LastListIsTheLastFetchOfEachEnabledYp)
{
    AddYp("/first/");
    auto& second = AddYp("/second/");
    server.Route("/first/index.txt", HttpReply::Ok(IndexLine("a", Id(1)) + IndexLine("b", Id(2))));
    server.Route("/second/index.txt", HttpReply::Ok(IndexLine("c", Id(3))));
    MakeRecordingNet();
    RunCycle(true);
    server.Route("/first/index.txt", HttpReply::Error(404, "Not Found"));
    clock->AddMinutes(2);
    RunCycle(true);
    // As the next run finds it.
    net.reset();
    history = std::make_unique<HistoryStore>((folder / HistoryStore::FileName).string());

    TkavoChList list;
    // The failed fetch leaves the one before; the time is that of the newest index.
    EXPECT_DOUBLE_EQ(LoadLastList(*history, Setting(), list), Start + 2 / MinutesPerDay);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"a", "b", "c"}));
    for (const TkavoChItem& c : list)
        EXPECT_EQ(c.Diff, TkavoDiff::None) << c.ChannelName;

    second.Enabled = false;
    LoadLastList(*history, Setting(), list);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"a", "b"}));
}

// ---- Broadcasts, straight from records

class HistoryStoreTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string name = (std::filesystem::temp_directory_path() / "kavo-history-XXXXXX").string();
        ASSERT_NE(mkdtemp(name.data()), nullptr);
        folder = name;
        path = (folder / HistoryStore::FileName).string();
    }
    void TearDown() override
    {
        store.reset();
        std::error_code error;
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all, error);
        std::filesystem::remove_all(folder, error);
    }

    struct Ch
    {
        const char* Name;
        int Id;
        int Listeners = 5;
        const char* Genre = "genre";
        const char* OnAir = "";
    };

    // One fetch of the YP at `minutes` after Start listing these channels; nullopt: a failed turn.
    void Fetch(double minutes, std::optional<std::vector<Ch>> channels, const std::string& url = "http://yp/")
    {
        TkavoChList list;
        RetrievalRecord record;
        record.Time = Start + minutes / MinutesPerDay;
        YpAttempt& a = record.Attempts.emplace_back();
        a.Url = url;
        a.Title = "yp";
        a.Time = record.Time;
        a.Outcome = channels ? YpOutcome::Fetched : YpOutcome::Failed;
        for (const Ch& c : channels.value_or(std::vector<Ch>{})) {
            auto& item = list.Add(std::make_unique<TkavoChItem>());
            item.ChannelName = c.Name;
            item.Hash = c.Id ? Id(c.Id) : NoHash;
            item.Listeners = c.Listeners;
            item.Genre = c.Genre;
            item.BroadcastTime = c.OnAir;
        }
        a.ChList = &list;
        a.Channels = list.Count();
        Store().Record(record);
        Store().Flush();
    }

    HistoryStore& Store(HistoryLimits limits = {})
    {
        if (!store)
            store = std::make_unique<HistoryStore>(path, limits);
        return *store;
    }

    // "name first-last max genre", newest first; times in minutes after Start, "*" when on air.
    std::vector<std::string> Rows(BroadcastQuery query = {})
    {
        std::vector<std::string> rows;
        for (const BroadcastRow& b : Store().Broadcasts(query)) {
            char text[160];
            std::snprintf(text, sizeof text, "%s %g-%g%s %d %s", b.ChannelName.c_str(),
                          std::round((b.FirstSeen - Start) * MinutesPerDay),
                          std::round((b.LastSeen - Start) * MinutesPerDay), b.OnAir ? "*" : "", b.MaxListeners,
                          b.Genre.c_str());
            rows.push_back(text);
        }
        return rows;
    }

    static constexpr DateTime Start = 45000.5;
    std::filesystem::path folder;
    std::string path;
    std::unique_ptr<HistoryStore> store;
};

TEST_F(HistoryStoreTest, BroadcastsOpenAndCloseWithTheFetchesOfTheirYp)
{
    Fetch(0, {{{"x", 1, 3}, {"y", 2, 10, "talk"}, {"info", 0}}});
    Fetch(10, {{{"x", 1, 7}, {"y", 2, 4, "game"}, {"info", 0}}});
    Fetch(20, std::nullopt); // a failed turn ends nothing
    Fetch(30, {{{"x", 1, 2}, {"info", 0}}});
    Fetch(40, {{{"x", 1, 2}, {"y", 2, 1, "music"}}});
    EXPECT_EQ(Rows(),
              (std::vector<std::string>{"y 40-40* 1 music", "info 0-30 5 genre", "y 0-10 10 game", "x 0-40* 7 genre"}));

    BroadcastQuery since;
    since.Since = Start + 35 / MinutesPerDay;
    EXPECT_EQ(Rows(since), (std::vector<std::string>{"y 40-40* 1 music", "x 0-40* 7 genre"}));
    const auto times = Store().OnAirTimes("y", Start);
    ASSERT_EQ(times.size(), 2u);
    EXPECT_DOUBLE_EQ(times[0].second, Start + 10 / MinutesPerDay);
}

TEST_F(HistoryStoreTest, AStoreOfALaterRunGoesOnWhereTheLastStopped)
{
    Fetch(0, {{{"x", 1, 3, "genre", "1:00"}, {"y", 2, 3, "genre", "1:00"}}});
    store.reset();
    // Twelve hours later: x has been on air for 30 minutes, so it started again; y all along.
    Fetch(12 * 60, {{{"x", 1, 3, "genre", "0:30"}, {"y", 2, 3, "genre", "13:00"}}});
    EXPECT_EQ(Rows(), (std::vector<std::string>{"x 720-720* 3 genre", "y 0-720* 3 genre", "x 0-0 3 genre"}));
}

TEST_F(HistoryStoreTest, NotificationLogSurvivesARestartAndFeedsTheNextRun)
{
    const auto entry = [](double minutes, const char* name, int outcome) {
        return NotificationLogRow{
            Start + minutes / MinutesPerDay, name, "http://bbs/", "AB", "yp", 0, outcome, outcome ? "why" : ""};
    };
    Fetch(0, {{{"x", 1, 3}, {"y", 2, 3}}});
    Store().RecordNotifications({entry(0, "x", 0), entry(0, "y", 2)});
    Fetch(10, {{{"x", 1, 3}}});
    store.reset();
    // The next run opens the same file again: the table is there already.
    Store().RecordNotifications({entry(20, "z", 1)});
    Store().Flush();
    std::vector<std::string> log;
    for (const NotificationLogRow& row : Store().Notifications(Start + 1 / MinutesPerDay))
        log.push_back(row.ChannelName + " " + std::to_string(row.Outcome) + " " + row.Reason + " " + row.ContactURL);
    EXPECT_EQ(log, (std::vector<std::string>{"z 1 why http://bbs/"}));
    EXPECT_EQ(Store().Notifications(Start).size(), 3u);

    // x is on air at the last fetch; y ended at minute 0 (seen last then), a while before x.
    std::vector<std::string> recent;
    for (const RecentBroadcast& b : Store().RecentBroadcasts(Start - 1))
        recent.push_back(b.ChannelName + (b.OnAir ? "*" : "") +
                         std::to_string(std::lround((b.LastSeen - Start) * MinutesPerDay)));
    std::sort(recent.begin(), recent.end());
    EXPECT_EQ(recent, (std::vector<std::string>{"x*10", "y0"}));
    EXPECT_TRUE(Store().RecentBroadcasts(Start + 5 / MinutesPerDay).size() == 1);
}

TEST_F(HistoryStoreTest, AChannelOnAirForLessThanTheGapSinceTheLastFetchStartedAgain)
{
    struct Case
    {
        double Gap; // minutes between the fetches
        const char* OnAir;
        std::size_t Broadcasts;
    };
    // Ten minutes of slack for the YP's rounding.
    const std::array<Case, 5> cases = {{
        {10.4, "0:01", 1},
        {11.5, "0:01", 2},
        {11.5, "0:02", 1},
        {15, "", 1}, // an unknown time on air never tells
        {60 * 24 * 2 + 11, "2:0:00", 2},
    }};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.Gap) + " " + c.OnAir);
        store.reset();
        std::filesystem::remove(path);
        Fetch(0, {{{"x", 1, 5, "genre", c.OnAir}}});
        Fetch(c.Gap, {{{"x", 1, 5, "genre", c.OnAir}}});
        EXPECT_EQ(Rows().size(), c.Broadcasts);
    }
}

TEST_F(HistoryStoreTest, SearchMatchesAsTheFindDialogDoes)
{
    Fetch(0, {{{"Alpha&amp;Co", 1, 1, "talk"}, {"beta", 2, 1, "game"}, {"gamma", 3, 1, "music"}}});
    struct Case
    {
        const char* Input;
        std::vector<std::string> Names;
    };
    const std::array<Case, 4> cases = {{
        {"ALPHA", {"Alpha&amp;Co"}},
        {"beta music", {"gamma", "beta"}}, // words are alternatives, the genre counts
        {"&co", {"Alpha&amp;Co"}},         // compared with the escaped text as the YP sent it
        {"", {"gamma", "beta", "Alpha&amp;Co"}},
    }};
    for (const Case& c : cases) {
        BroadcastQuery query;
        query.Pattern = FindPatternFromInput(c.Input);
        std::vector<std::string> names;
        for (const BroadcastRow& b : Store().Broadcasts(query))
            names.push_back(b.ChannelName);
        EXPECT_EQ(names, c.Names) << c.Input;
    }
}

TEST_F(HistoryStoreTest, PagesFollowOneAnother)
{
    std::vector<Ch> channels;
    std::vector<std::string> names(7);
    for (int i = 0; i < 7; ++i) {
        names[static_cast<std::size_t>(i)] = "c" + std::to_string(i);
        channels.push_back({names[static_cast<std::size_t>(i)].c_str(), i + 1});
    }
    Fetch(0, channels);
    BroadcastQuery query;
    query.Limit = 3;
    std::vector<std::int64_t> ids;
    for (std::vector<BroadcastRow> page; !(page = Store().Broadcasts(query)).empty();) {
        for (const BroadcastRow& b : page)
            ids.push_back(b.Id);
        query.AfterFirstSeen = page.back().FirstSeen;
        query.AfterId = page.back().Id;
    }
    EXPECT_EQ(ids, (std::vector<std::int64_t>{7, 6, 5, 4, 3, 2, 1}));
}

TEST_F(HistoryStoreTest, OldAndSurplusEntriesArePruned)
{
    HistoryLimits limits;
    limits.KeepDays = 90;
    limits.MaxBroadcasts = 3;
    Store(limits);
    Fetch(0, {{{"old", 1}}}, "http://gone/");
    Fetch(0, {{{"a", 2}, {"b", 3}}});
    for (int i = 0; i < 4; ++i) // each fetch ends the one before
        Fetch(10 + i, {{{("n" + std::to_string(i)).c_str(), 10 + i}}});
    // The oldest ended broadcasts beyond the limit go; those on air stay.
    EXPECT_EQ(Rows(), (std::vector<std::string>{"n3 13-13* 5 genre", "n2 12-12 5 genre", "n1 11-11 5 genre",
                                                "old 0-0* 5 genre"}));
    // 91 days on, the YP that went away and its turns go too.
    Fetch(91 * MinutesPerDay, {{{"n3", 13}}});
    EXPECT_EQ(Rows(), (std::vector<std::string>{"n3 13-131040* 5 genre"}));
    EXPECT_TRUE(Store().YpStatus({YpHealth::Of("http://gone/", "", true)}).at(0).Recent.empty());
}

TEST_F(HistoryStoreTest, OnAirTimesFindBroadcastsByNameWhetherOrNotTheirNamesWereFiledYet)
{
    // MaxBroadcasts 20 files the names of new broadcasts at every refresh, the default at none here.
    for (const std::int64_t maxBroadcasts : {std::int64_t{20}, HistoryLimits{}.MaxBroadcasts}) {
        SCOPED_TRACE(maxBroadcasts);
        store.reset();
        std::filesystem::remove(path);
        HistoryLimits limits;
        limits.MaxBroadcasts = maxBroadcasts;
        Store(limits);
        Fetch(0, {{{"x", 1}, {"y", 2}}});
        Fetch(10, {{{"x", 1}}});
        Fetch(20, {{{"x", 1}, {"y", 3}}});
        Fetch(30, {{{"renamed", 1}, {"y", 3}}}); // the same ID under another name
        const auto times = [&](const char* name) {
            std::vector<std::string> spans;
            for (const auto& [first, last] : Store().OnAirTimes(name, Start))
                spans.push_back(std::to_string(std::lround((first - Start) * MinutesPerDay)) + "-" +
                                std::to_string(std::lround((last - Start) * MinutesPerDay)));
            return spans;
        };
        EXPECT_EQ(times("y"), (std::vector<std::string>{"0-0", "20-30"}));
        EXPECT_EQ(times("renamed"), (std::vector<std::string>{"0-30"}));
        EXPECT_TRUE(times("x").empty());
    }
}

TEST_F(HistoryStoreTest, AFileOfTheFormerLayoutIsTakenOverInPlace)
{
    // The tables as the first version of the store made them, with an ended and an on-air broadcast.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    const std::string t0 = std::to_string(Start);
    const std::string t10 = std::to_string(Start + 10 / MinutesPerDay);
    const std::string sql =
        "CREATE TABLE yp(id INTEGER PRIMARY KEY, url BLOB NOT NULL UNIQUE, title BLOB NOT NULL DEFAULT '', "
        "last_success REAL);"
        "CREATE TABLE attempt(id INTEGER PRIMARY KEY, yp INTEGER NOT NULL, time REAL NOT NULL, outcome INTEGER NOT "
        "NULL, status INTEGER NOT NULL, bytes INTEGER NOT NULL, channels INTEGER NOT NULL, duration_ms INTEGER NOT "
        "NULL, error BLOB NOT NULL);"
        "CREATE INDEX attempt_by_yp ON attempt(yp, time);"
        "CREATE TABLE broadcast(id INTEGER PRIMARY KEY, yp INTEGER NOT NULL, hash TEXT NOT NULL, name BLOB NOT NULL, "
        "first_seen REAL NOT NULL, last_seen REAL, listeners INTEGER NOT NULL, genre BLOB NOT NULL, description BLOB "
        "NOT NULL);"
        "CREATE INDEX broadcast_by_first ON broadcast(first_seen);"
        "CREATE INDEX broadcast_by_name ON broadcast(name, first_seen);"
        "CREATE INDEX broadcast_on_air ON broadcast(yp) WHERE last_seen IS NULL;"
        "CREATE TABLE last_index(yp INTEGER PRIMARY KEY, time REAL NOT NULL, text BLOB NOT NULL);"
        "INSERT INTO yp VALUES(1, CAST('http://yp/' AS BLOB), CAST('yp' AS BLOB), " +
        t10 +
        ");"
        "INSERT INTO attempt VALUES(1, 1, " +
        t10 +
        ", 0, 200, 100, 2, 10, X'');"
        "INSERT INTO broadcast VALUES(1, 1, '" +
        Id(1) + "', CAST('x' AS BLOB), " + t0 +
        ", NULL, 7, "
        "CAST('genre' AS BLOB), X'');"
        "INSERT INTO broadcast VALUES(2, 1, '" +
        Id(2) + "', CAST('y' AS BLOB), " + t0 + ", " + t0 +
        ", 4, "
        "CAST('genre' AS BLOB), X'');";
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);

    // Read before any refresh has taken the file over.
    EXPECT_EQ(Store().OnAirTimes("y", Start).size(), 1u);
    Fetch(20, {{{"x", 1, 3}, {"y", 2, 1}}});
    EXPECT_EQ(Rows(), (std::vector<std::string>{"y 20-20* 1 genre", "y 0-0 4 genre", "x 0-20* 7 genre"}));
    EXPECT_EQ(Store().OnAirTimes("y", Start).size(), 2u);
    EXPECT_EQ(Store().OnAirTimes("x", Start).size(), 1u);
    EXPECT_EQ(Store().YpStatus({YpHealth::Of("http://yp/", "yp", true)}).at(0).Recent.size(), 2u);
    EXPECT_TRUE(Store().Problem().empty()) << Store().Problem();

    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    const auto number = [db](const char* query) {
        sqlite3_stmt* statement = nullptr;
        long long value = -1;
        if (sqlite3_prepare_v2(db, query, -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW)
            value = sqlite3_column_int64(statement, 0);
        sqlite3_finalize(statement);
        return value;
    };
    EXPECT_EQ(number("PRAGMA user_version"), 1);
    EXPECT_EQ(number("SELECT COUNT(*) FROM sqlite_master WHERE type = 'index' AND name LIKE 'broadcast_%'"), 1);
    sqlite3_close(db);
}

// ---- Files the store cannot use

TEST_F(HistoryStoreTest, AFileItCannotUseIsReportedOnceAndLeftAlone)
{
    enum class Kind {
        Garbage,
        ReadOnly,
        Locked,
        Later // made by a later version of the store
    };
    for (const Kind kind : {Kind::Garbage, Kind::ReadOnly, Kind::Locked, Kind::Later}) {
        SCOPED_TRACE(static_cast<int>(kind));
        store.reset();
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        std::filesystem::permissions(folder, std::filesystem::perms::all);
        sqlite3* lock = nullptr;
        if (kind == Kind::Garbage) {
            std::ofstream(path, std::ios::binary) << std::string(3000, 'x');
        } else {
            Fetch(0, {{{"x", 1}}});
            store.reset();
        }
        if (kind == Kind::ReadOnly)
            std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                                   std::filesystem::perms::others_read);
        if (kind == Kind::Later) {
            sqlite3* db = nullptr;
            ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
            ASSERT_EQ(sqlite3_exec(db, "PRAGMA user_version = 99", nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_close(db);
        }
        if (kind == Kind::Locked) {
            ASSERT_EQ(sqlite3_open(path.c_str(), &lock), SQLITE_OK);
            ASSERT_EQ(sqlite3_exec(lock, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        }
        const auto before = [&] {
            std::ifstream in(path, std::ios::binary);
            return std::string(std::istreambuf_iterator<char>(in), {});
        }();

        const auto attempt = [&] {
            HistoryLimits limits;
            limits.BusyTimeoutMs = 50;
            int reports = 0;
            {
                HistoryStore broken(path, limits);
                broken.SetProblemHandler([&](const std::string&) { ++reports; });
                for (int i = 1; i <= 2; ++i) {
                    RetrievalRecord record;
                    record.Time = Start + i;
                    YpAttempt& a = record.Attempts.emplace_back();
                    a.Url = "http://yp/";
                    a.Outcome = YpOutcome::Failed;
                    broken.Record(record);
                    broken.Flush();
                }
                (void)broken.Broadcasts({});
            }
            return std::to_string(reports);
        };
        // Read-only means something only where permissions hold: not for root.
        const std::string outcome = kind == Kind::ReadOnly ? RunUnprivileged(attempt) : attempt();
        if (outcome == NoPrivilegeDrop)
            GTEST_SKIP() << outcome;
        EXPECT_EQ(outcome, "1");
        const auto after = [&] {
            std::ifstream in(path, std::ios::binary);
            return std::string(std::istreambuf_iterator<char>(in), {});
        }();
        EXPECT_EQ(after, before);
        if (lock) {
            sqlite3_exec(lock, "ROLLBACK", nullptr, nullptr, nullptr);
            sqlite3_close(lock);
            // Once the lock is gone, refreshes are recorded again.
            Fetch(5, {{{"x", 1}}});
            EXPECT_EQ(Rows(), (std::vector<std::string>{"x 0-5* 5 genre"}));
        }
    }
}

// Only a regular file of the folder is a history: a link (to a device or to a file elsewhere), a
// folder or a FIFO in its place is reported once, read as unreadable, and nothing is written
// beside it or beside what it leads to.
TEST_F(HistoryStoreTest, OnlyARegularFileIsOpened)
{
    const std::filesystem::path elsewhere = folder / "elsewhere";
    const std::array<std::pair<const char*, std::function<void()>>, 4> kinds{{
        {"folder", [&] { std::filesystem::create_directory(path); }},
        {"fifo", [&] { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); }},
        {"link to a device", [&] { std::filesystem::create_symlink("/dev/null", path); }},
        {"link to a file elsewhere",
         [&] {
             std::filesystem::create_directory(elsewhere);
             std::ofstream(elsewhere / "target.sqlite") << "";
             std::filesystem::create_symlink(elsewhere / "target.sqlite", path);
         }},
    }};
    for (const auto& [name, make] : kinds) {
        SCOPED_TRACE(name);
        std::filesystem::remove_all(path);
        std::filesystem::remove_all(elsewhere);
        make();
        int reports = 0;
        {
            HistoryStore store(path);
            store.SetProblemHandler([&](const std::string&) { ++reports; });
            for (int i = 1; i <= 2; ++i) {
                TkavoChList list;
                list.Add(std::make_unique<TkavoChItem>()).ChannelName = "x";
                RetrievalRecord record;
                record.Time = Start + i;
                YpAttempt& a = record.Attempts.emplace_back();
                a.Url = "http://yp/";
                a.Time = record.Time;
                a.Outcome = YpOutcome::Fetched;
                a.ChList = &list;
                store.Record(record);
                store.Flush();
            }
            EXPECT_TRUE(store.Broadcasts({}).empty());
            EXPECT_NE(store.ReadProblem(), "");
        }
        EXPECT_EQ(reports, 1);
        EXPECT_FALSE(std::filesystem::exists(path + "-wal"));
        EXPECT_FALSE(std::filesystem::exists(path + "-journal"));
        EXPECT_FALSE(std::filesystem::exists(elsewhere / "target.sqlite-wal"));
    }
    EXPECT_FALSE(std::filesystem::exists("/dev/null-journal"));
    EXPECT_FALSE(std::filesystem::exists("/dev/null-wal"));
}

// A refresh dated where the history cannot show it (a clock stepped far ahead) is not written.
TEST_F(HistoryStoreTest, RefreshesOutsideTheShownYearsAreLeftOut)
{
    for (const DateTime time : {-1e8, 3e6, 1e300}) {
        TkavoChList list;
        list.Add(std::make_unique<TkavoChItem>()).ChannelName = "far";
        RetrievalRecord record;
        record.Time = time;
        YpAttempt& a = record.Attempts.emplace_back();
        a.Url = "http://yp/";
        a.Time = time;
        a.Outcome = YpOutcome::Fetched;
        a.ChList = &list;
        Store().Record(record);
    }
    Store().Flush();
    EXPECT_NE(Store().Problem(), "");
    Fetch(0, {{{"near", 1}}});
    EXPECT_EQ(Rows(), (std::vector<std::string>{"near 0-0* 5 genre"}));
}

} // namespace
} // namespace kavo::test
