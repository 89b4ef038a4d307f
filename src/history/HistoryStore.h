#pragma once

#include "history/OnAirTable.h"
#include "history/Regulars.h"
#include "net/RetrievalRecord.h"
#include "platform/DateTime.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

struct sqlite3;

namespace kavo {

// How much the history keeps.
struct HistoryLimits
{
    double KeepDays = 90;
    std::int64_t MaxBroadcasts = 500000;
    std::int64_t MaxAttempts = 500000;
    // How long the writer waits for another program's lock before the refresh goes unrecorded.
    int BusyTimeoutMs = 2000;
};

// One YP's turn as the history keeps it.
struct YpAttemptRow
{
    DateTime Time = 0;
    YpOutcome Outcome = YpOutcome::Skipped;
    long HttpStatus = 0;
    std::uint64_t Bytes = 0;
    int Channels = 0;
    int DurationMs = 0;
    std::string Error; // CP932
    ChannelFilterCounts Filtered;
};

// The state of one configured YP.
struct YpHealth
{
    std::string Url;
    std::string Title;
    bool Enabled = false;
    std::vector<YpAttemptRow> Recent; // newest first, at most RecentAttempts
    DateTime LastSuccess = 0;         // 0: never fetched
    int Channels = 0;                 // of the last fetch
    // Turns that failed or brought no index since the last fetch; skipped turns do not count.
    int FailuresInRow = 0;

    static constexpr int RecentAttempts = 10;
    // A configured YP, as YpStatus takes it.
    static YpHealth Of(std::string url, std::string title, bool enabled)
    {
        YpHealth yp;
        yp.Url = std::move(url);
        yp.Title = std::move(title);
        yp.Enabled = enabled;
        return yp;
    }
    bool Failing() const { return FailuresInRow > 0; }
};

// How long ago: "1分未満", "3分前", "2時間前", "4日前"; "-" for 0 (never). CP932.
std::string SinceText(DateTime then, DateTime now);
// A YP's last result: "取得", "失敗 (HTTP 404)", "一覧ではない応答", ...; "-" before its first turn.
// A fetch adds its warning and what its filters hid: "取得 (4件中3件を種別で除外)".
std::string YpResultText(const YpHealth& yp);
// What a fetch's filters hid: "17件中9件を種別で除外"; "" when they hid nothing. CP932.
std::string FilteredText(const YpAttemptRow& attempt);
// One turn on a line: "12/10 21:30 取得 HTTP 200 12345 B 120件 0.31秒", then the error's detail.
std::string AttemptText(const YpAttemptRow& attempt);

// One broadcast: a channel from the first to the last fetch of its YP that listed it.
struct BroadcastRow
{
    std::int64_t Id = 0;
    std::string Hash;
    std::string ChannelName; // CP932, HTML-escaped as the YP sent it
    std::string YpUrl;
    std::string YpTitle;
    DateTime FirstSeen = 0;
    DateTime LastSeen = 0;
    // Still listed by the YP's last fetch.
    bool OnAir = false;
    int MaxListeners = -1;
    std::string Genre; // of the last sighting
    std::string Description;
};

// Which broadcasts, newest first (by their first sighting).
struct BroadcastQuery
{
    // Only broadcasts seen at or after this time.
    DateTime Since = 0;
    // A find pattern (a regular expression, case ignored) tried on the channel name followed by
    // "[genre - description]"; "" for every broadcast. An invalid one throws RegularExpressionError.
    std::string Pattern;
    // The next page: the rows after this one (FirstSeen, Id) of the previous page.
    DateTime AfterFirstSeen = std::numeric_limits<double>::max();
    std::int64_t AfterId = std::numeric_limits<std::int64_t>::max();
    // 0 for no limit.
    std::size_t Limit = 200;
};

// One entry of the notification log: a channel that came up for an announcement and what became of
// it. Trigger and Outcome are the numbers of the notifications' own enums. Texts are CP932.
struct NotificationLogRow
{
    DateTime Time = 0;
    std::string ChannelName;
    std::string ContactURL;
    std::string Hash;
    std::string Yp;
    int Trigger = 0;
    int Outcome = 0;
    std::string Reason;
};

// A broadcast as the history last saw it: what the announcements need after a restart.
struct RecentBroadcast
{
    std::string ChannelName; // CP932, HTML-escaped as the YP sent it
    DateTime LastSeen = 0;
    bool OnAir = false; // still listed by its YP's last fetch
};

// One YP's index of its last fetch, for the list at start-up. The file takes a YP's index at
// most every IndexInterval days while the store is open, and the newest one when it closes: at
// 10,000 channels an index is megabytes, and writing it costs as much as recording several
// refreshes. After a crash the list at start-up is at most that old (and shows its time).
struct StoredIndex
{
    std::string Url;
    DateTime Time = 0;
    std::string Index; // CP932
};

// The record of refreshes in an SQLite file ("history.sqlite" in the program folder): every YP's
// turns, the broadcasts seen, and each YP's last index. Record hands a refresh to a writer thread
// of the store, which writes it in one transaction, so neither the window nor the retrieval waits
// for the disk; readers use a connection of their own, from any thread.
//
// The store never fails its caller: a file that cannot be opened, is damaged, read-only or locked
// is reported once through the problem handler, the refresh goes unrecorded, and readers find
// nothing (or what can still be read).
class HistoryStore
{
public:
    static constexpr const char* FileName = "history.sqlite";
    static constexpr double IndexInterval = 2.0 / 24;

    explicit HistoryStore(std::string filePath, HistoryLimits limits = {});
    // Writes what is queued first.
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    const std::string& FilePath() const { return m_filePath; }

    // Set before the first Record. The problem handler is called once, with a message naming
    // the file, on whichever thread met the problem; written after every refresh the writer
    // handled, on the writer thread.
    void SetProblemHandler(std::function<void(const std::string&)> handler) { m_onProblem = std::move(handler); }
    void SetWrittenHandler(std::function<void()> handler) { m_onWritten = std::move(handler); }
    // The first problem met, "" while there was none.
    std::string Problem() const;
    // Why the history cannot be read now (naming the file), "" when it can or holds nothing yet.
    // For callers that report the history itself rather than record into it.
    std::string ReadProblem();

    // Takes what the history needs from a cycle's record (the channels are read during the call;
    // the index texts are taken) and queues it for the writer. Any thread; returns at once.
    void Record(RetrievalRecord& record);
    // Queues entries of the notification log for the writer. Any thread; returns at once.
    void RecordNotifications(std::vector<NotificationLogRow> rows);
    // Waits until everything recorded so far is written (or failed).
    void Flush();

    // The state of each YP given (Url, Title, Enabled), in that order.
    std::vector<YpHealth> YpStatus(const std::vector<YpHealth>& configured);
    std::vector<BroadcastRow> Broadcasts(const BroadcastQuery& query);
    // When a channel of this name was on air, from `since` on: (first, last) sightings, in order.
    std::vector<std::pair<DateTime, DateTime>> OnAirTimes(const std::string& channelName, DateTime since);
    // Every YP's index of its last fetch.
    std::vector<StoredIndex> LastIndexes();
    // Who usually broadcasts at the hour asked about; an empty report when nothing can be read.
    RegularsReport Regulars(const RegularsRequest& request);
    std::int64_t BroadcastCount();
    // The notification log from `since` on, oldest first.
    std::vector<NotificationLogRow> Notifications(DateTime since);
    // The broadcasts on air at their YP's last fetch, and those that ended at or after `endedSince`
    // (among those first seen in the week before it).
    std::vector<RecentBroadcast> RecentBroadcasts(DateTime endedSince);

private:
    // A channel of a fetch. Its texts lie one after another in its fetch's Texts, so that handing
    // a list over allocates nothing per channel: the ID, the key's prefix (NoHash before the name
    // of a channel without an ID, whose key is the name), the name, the genre, the description, and
    // the time on air as the YP gives it (read only when a fetch comes more than ten minutes after
    // the one before).
    enum Piece : std::uint8_t {
        HashPiece,
        PrefixPiece,
        NamePiece,
        GenrePiece,
        DescriptionPiece,
        OnAirPiece,
        PieceCount
    };
    struct Sighting
    {
        std::array<std::uint32_t, PieceCount + 1> At{}; // where each piece begins, then the end
        bool ByName = false;
        std::int32_t Listeners = -1;
    };
    struct PendingYp
    {
        YpAttempt Attempt; // without its channel list
        std::vector<Sighting> Sightings;
        std::string Texts;

        std::string_view Text(const Sighting& s, Piece first, Piece last) const
        {
            return std::string_view(Texts).substr(s.At[first], s.At[last + 1] - s.At[first]);
        }
        std::string_view Text(const Sighting& s, Piece piece) const { return Text(s, piece, piece); }
        std::string_view Key(const Sighting& s) const
        {
            return s.ByName ? Text(s, PrefixPiece, NamePiece) : Text(s, HashPiece);
        }
        // The name, genre and description of `s` are those of `o` in `other`.
        bool SameTexts(const Sighting& s, const PendingYp& other, const Sighting& o) const
        {
            return Text(s, NamePiece).size() == other.Text(o, NamePiece).size() &&
                   Text(s, GenrePiece).size() == other.Text(o, GenrePiece).size() &&
                   Text(s, NamePiece, DescriptionPiece) == other.Text(o, NamePiece, DescriptionPiece);
        }
        void Add(std::string_view hash, bool byName, std::string_view name, std::string_view genre,
                 std::string_view description, std::string_view onAir);
    };
    struct Pending
    {
        DateTime Time = 0;
        std::vector<PendingYp> Yps;
        std::vector<NotificationLogRow> Notifications;
    };
    struct YpState
    {
        std::int64_t Id = 0;
        std::string Title;
        DateTime LastSuccess = 0;
        std::int64_t OnAirFrom = 0; // no broadcast of the YP on air has a lower id
        bool Loaded = false;        // OnAir holds the YP's broadcasts on air
        DateTime IndexStored = 0;   // of the index in the file
        // The newest index when it is not yet in the file.
        std::string PendingIndex;
        DateTime PendingIndexTime = 0;
        // An entry of OnAir seen in the fetch being written names its sighting there, any other
        // one its sighting in Last: the YP's last fetch, or its broadcasts on air as the file has
        // them.
        OnAirTable OnAir;
        PendingYp Last;
    };
    class Connection;

    void writerLoop();
    void write(Pending& pending);
    void writeYp(Connection& db, const Pending& pending, PendingYp& yp);
    YpState& ypState(Connection& db, const std::string& url, const std::string& title);
    void loadOpen(Connection& db, YpState& state);
    void prune(Connection& db, DateTime now);
    // Puts the broadcasts after m_nameUpto into broadcast_name.
    void addNames(Connection& db);
    static std::int64_t newestBroadcast(Connection& db);
    // Stores and remembers the last id that broadcast_name holds.
    void setNameUpto(Connection& db, std::int64_t id);
    void storeIndex(Connection& db, YpState& state, DateTime time, const std::string& index);
    // The newest indexes not yet in the file, in one transaction: when the writer stops.
    void storePendingIndexes();
    bool openWriter();
    // The reader connection, opened on demand; nullptr when the file cannot be read.
    Connection* reader();
    void report(const std::string& message);

    std::string m_filePath;
    HistoryLimits m_limits;
    std::function<void(const std::string&)> m_onProblem;
    std::function<void()> m_onWritten;
    mutable std::mutex m_problemLock;
    std::string m_problem;

    std::mutex m_queueLock;
    std::condition_variable m_queueWake;
    std::condition_variable m_queueDone;
    std::deque<Pending> m_queue;
    // Buffers of fetches written, for the next ones.
    static constexpr std::size_t MaxSpareBuffers = 16;
    std::vector<PendingYp> m_spare;
    bool m_writing = false;
    bool m_stop = false;
    std::thread m_writer;

    // The writer thread's own.
    std::unique_ptr<Connection> m_db;
    std::unordered_map<std::string, YpState> m_yps;
    std::uint64_t m_fetches = 0;
    std::vector<std::uint64_t> m_keyHashes; // of the fetch being written
    DateTime m_lastPrune = 0;
    std::int64_t m_insertedSincePrune = 0;
    std::int64_t m_nameUpto = 0; // broadcast_name holds the broadcasts up to this id
    std::int64_t m_unnamed = 0;  // and this many are after it

    std::mutex m_readLock;
    std::unique_ptr<Connection> m_read;
};

} // namespace kavo
