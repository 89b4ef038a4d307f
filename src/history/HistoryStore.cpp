#include "history/HistoryStore.h"

#include "core/FavoriteMatcher.h"
#include "core/FindPattern.h"
#include "core/TkavoChItem.h"
#include "platform/Cp932.h"
#include "platform/RegularExpression.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <unordered_set>

namespace kavo {

namespace {

constexpr const char* Schema = R"(
CREATE TABLE IF NOT EXISTS yp(
    id INTEGER PRIMARY KEY, url BLOB NOT NULL UNIQUE, title BLOB NOT NULL DEFAULT '', last_success REAL);
CREATE TABLE IF NOT EXISTS attempt(
    id INTEGER PRIMARY KEY, yp INTEGER NOT NULL, time REAL NOT NULL, outcome INTEGER NOT NULL,
    status INTEGER NOT NULL, bytes INTEGER NOT NULL, channels INTEGER NOT NULL, duration_ms INTEGER NOT NULL,
    error BLOB NOT NULL);
CREATE INDEX IF NOT EXISTS attempt_by_yp ON attempt(yp, time);
CREATE TABLE IF NOT EXISTS broadcast(
    id INTEGER PRIMARY KEY, yp INTEGER NOT NULL, hash TEXT NOT NULL, name BLOB NOT NULL,
    first_seen REAL NOT NULL, last_seen REAL, listeners INTEGER NOT NULL, genre BLOB NOT NULL,
    description BLOB NOT NULL);
CREATE INDEX IF NOT EXISTS broadcast_by_first ON broadcast(first_seen);
CREATE TABLE IF NOT EXISTS last_index(yp INTEGER PRIMARY KEY, time REAL NOT NULL, text BLOB NOT NULL);
CREATE TABLE IF NOT EXISTS broadcast_name(
    name BLOB NOT NULL, first_seen REAL NOT NULL, id INTEGER NOT NULL, PRIMARY KEY(name, first_seen, id)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS broadcast_name_upto(id INTEGER NOT NULL);
CREATE TRIGGER IF NOT EXISTS broadcast_renamed AFTER UPDATE OF name ON broadcast WHEN old.name IS NOT new.name BEGIN
    UPDATE broadcast_name SET name = new.name WHERE name = old.name AND first_seen = old.first_seen AND id = old.id;
END;
CREATE TRIGGER IF NOT EXISTS broadcast_deleted AFTER DELETE ON broadcast BEGIN
    DELETE FROM broadcast_name WHERE name = old.name AND first_seen = old.first_seen AND id = old.id;
END;
)";

// The notification log, added to files of any version without changing it: older programs leave
// the table alone.
constexpr const char* NotificationSchema = R"(
CREATE TABLE IF NOT EXISTS notification(
    id INTEGER PRIMARY KEY, time REAL NOT NULL, name BLOB NOT NULL, contact BLOB NOT NULL, hash TEXT NOT NULL,
    yp BLOB NOT NULL, trigger INTEGER NOT NULL, outcome INTEGER NOT NULL, reason BLOB NOT NULL);
CREATE INDEX IF NOT EXISTS notification_by_time ON notification(time);
)";

// Version 1 of the file. The broadcasts by name: broadcast_name holds (name, first_seen, id) of
// exactly the broadcasts up to the id in broadcast_name_upto, and the newer ones are read from the
// end of broadcast. An index on the names would take every new broadcast at a random page, one page
// written for each; the newer ones go in together once there are many of them, sorted, so that each
// page written takes many. The broadcasts on air: from yp.on_air_from on (the lowest id of the YP's
// broadcasts on air, 0 when unknown), where last_seen is NULL. A partial index on them lost an
// entry at a random page for every broadcast that ended.
// Version 0 had the indexes broadcast_by_name and broadcast_on_air instead.
constexpr int SchemaVersion = 1;

// Columns added later to a table of the same version: each is added when the file lacks it.
struct AddedColumn
{
    const char* Present;
    const char* Add;
};
constexpr AddedColumn AddedColumns[] = {
    {"SELECT COUNT(*) FROM pragma_table_info('attempt') WHERE name = 'listed'",
     "ALTER TABLE attempt ADD COLUMN listed INTEGER NOT NULL DEFAULT 0"},
    {"SELECT COUNT(*) FROM pragma_table_info('attempt') WHERE name = 'hidden_type'",
     "ALTER TABLE attempt ADD COLUMN hidden_type INTEGER NOT NULL DEFAULT 0"},
    {"SELECT COUNT(*) FROM pragma_table_info('attempt') WHERE name = 'hidden_bitrate'",
     "ALTER TABLE attempt ADD COLUMN hidden_bitrate INTEGER NOT NULL DEFAULT 0"},
};

constexpr const char* FromVersion0 = "ALTER TABLE yp ADD COLUMN on_air_from INTEGER NOT NULL DEFAULT 0";

// For a file of version 0, and for one that a program of version 0 wrote to since: it adds its
// indexes again and no broadcasts to broadcast_name, and it can reuse the ids of broadcasts pruned.
constexpr const char* Rebuild = R"(
DELETE FROM broadcast_name;
INSERT INTO broadcast_name SELECT name, first_seen, id FROM broadcast ORDER BY name, first_seen, id;
DELETE FROM broadcast_name_upto;
INSERT INTO broadcast_name_upto SELECT COALESCE(MAX(id), 0) FROM broadcast;
UPDATE yp SET on_air_from = 0;
DROP INDEX IF EXISTS broadcast_by_name;
DROP INDEX IF EXISTS broadcast_on_air;
PRAGMA user_version = 1;
)";

// A broadcast still listed in the last fetch has no last_seen of its own: it was last seen in its
// YP's last fetch, so the queries read COALESCE(b.last_seen, y.last_success). A refresh writes
// only what changed, not every channel on air.

// A YP that reports a channel on air for less time than has passed since the last sighting (with
// this much slack for the YP's rounding) lists a new broadcast of it.
constexpr double RestartSlackDays = 10.0 / MinutesPerDay;

class SqliteError : public std::runtime_error
{
public:
    SqliteError(sqlite3* db, const std::string& what)
        : std::runtime_error(what + ": " + (db ? sqlite3_errmsg(db) : "cannot open")),
          Code(db ? sqlite3_extended_errcode(db) : SQLITE_CANTOPEN)
    {}
    SqliteError(const std::string& what, int code) : std::runtime_error(what), Code(code) {}
    int Code;
};

std::string_view Blob(sqlite3_stmt* statement, int column)
{
    const void* data = sqlite3_column_blob(statement, column);
    const int size = sqlite3_column_bytes(statement, column);
    return data ? std::string_view(static_cast<const char*>(data), static_cast<std::size_t>(size)) : std::string_view();
}

} // namespace

std::string SinceText(DateTime then, DateTime now)
{
    if (then <= 0)
        return "-";
    const double minutes = (now - then) * MinutesPerDay;
    if (minutes < 1)
        return Sjis("1分未満");
    if (minutes < 60)
        return std::to_string(static_cast<long>(minutes)) + Sjis("分前");
    if (minutes < 48 * 60)
        return std::to_string(static_cast<long>(minutes / 60)) + Sjis("時間前");
    return std::to_string(static_cast<long>(minutes / (24 * 60))) + Sjis("日前");
}

std::string YpResultText(const YpHealth& yp)
{
    if (yp.Recent.empty())
        return "-";
    const YpAttemptRow& last = yp.Recent.front();
    std::string text = YpOutcomeText(last.Outcome);
    if (last.Outcome == YpOutcome::Failed && last.HttpStatus >= 300)
        text += " (HTTP " + std::to_string(last.HttpStatus) + ")";
    // A fetch with a warning (an index in the wrong encoding) says so.
    if (last.Outcome == YpOutcome::Fetched && !last.Error.empty())
        text += " (" + last.Error.substr(last.Error.rfind('\n') + 1) + ")";
    if (const std::string filtered = FilteredText(last); !filtered.empty())
        text += " (" + filtered + ")";
    return text;
}

std::string FilteredText(const YpAttemptRow& a)
{
    const ChannelFilterCounts& f = a.Filtered;
    if (a.Outcome != YpOutcome::Fetched || f.HiddenByType + f.HiddenByBitrate == 0)
        return {};
    std::string text = std::to_string(f.Listed) + Sjis("件中");
    if (f.HiddenByType > 0)
        text += std::to_string(f.HiddenByType) + Sjis("件を種別");
    if (f.HiddenByType > 0 && f.HiddenByBitrate > 0)
        text += Sjis("、");
    if (f.HiddenByBitrate > 0)
        text += std::to_string(f.HiddenByBitrate) + Sjis("件をビットレート");
    return text + Sjis("で除外");
}

std::string AttemptText(const YpAttemptRow& a)
{
    std::string text = FormatMonthDayTime(a.Time) + " " + YpOutcomeText(a.Outcome);
    if (a.Outcome == YpOutcome::Skipped)
        return text;
    if (a.HttpStatus > 0)
        text += " HTTP " + std::to_string(a.HttpStatus);
    char figures[96];
    std::snprintf(figures, sizeof figures, " %llu B %d%s %.2f%s", static_cast<unsigned long long>(a.Bytes), a.Channels,
                  Sjis("件").c_str(), a.DurationMs / 1000.0, Sjis("秒").c_str());
    text += figures;
    if (const std::string filtered = FilteredText(a); !filtered.empty())
        text.append(" ").append(filtered);
    // The detail of the error text, without the YP's URL that leads it. Appended, not " " + text:
    // GCC 12 at -O3 warns falsely on a literal joined to a temporary (-Wrestrict, its bug 105651).
    if (const std::size_t detail = a.Error.rfind('\n'); detail != std::string::npos)
        text.append(" ").append(a.Error, detail + 1);
    else if (!a.Error.empty())
        text.append(" ").append(a.Error);
    return text;
}

// One SQLite connection with its prepared statements; used by one thread at a time.
class HistoryStore::Connection
{
public:
    // Throws SqliteError when the file cannot be opened as a database.
    Connection(const std::string& path, bool create, int busyTimeoutMs)
    {
        const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
        if (sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr) != SQLITE_OK) {
            const SqliteError error(m_db, "cannot open");
            sqlite3_close(m_db);
            throw error;
        }
        sqlite3_extended_result_codes(m_db, 1);
        sqlite3_busy_timeout(m_db, busyTimeoutMs);
    }
    ~Connection()
    {
        for (auto& [sql, statement] : m_statements)
            sqlite3_finalize(statement);
        sqlite3_close(m_db);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    sqlite3* Db() const { return m_db; }

    void Exec(const char* sql)
    {
        if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            throw SqliteError(m_db, sql);
    }

    // A statement reset and ready for new bindings.
    sqlite3_stmt* Prepare(const char* sql)
    {
        sqlite3_stmt*& statement = m_statements[sql];
        if (!statement) {
            if (sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK)
                throw SqliteError(m_db, "cannot prepare a statement");
        } else {
            sqlite3_reset(statement);
            sqlite3_clear_bindings(statement);
        }
        return statement;
    }

    // Steps once; true for a row, false when done.
    bool Step(sqlite3_stmt* statement)
    {
        const int rc = sqlite3_step(statement);
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE) {
            const SqliteError error(m_db, "cannot read or write");
            sqlite3_reset(statement);
            throw error;
        }
        sqlite3_reset(statement);
        return false;
    }

    void Run(sqlite3_stmt* statement)
    {
        while (Step(statement)) {
        }
    }

    // The first column of the first row, 0 when there is none.
    std::int64_t Number(const char* sql)
    {
        sqlite3_stmt* statement = Prepare(sql);
        const std::int64_t value = Step(statement) ? sqlite3_column_int64(statement, 0) : 0;
        Run(statement);
        return value;
    }

private:
    sqlite3* m_db = nullptr;
    std::unordered_map<const char*, sqlite3_stmt*> m_statements;
};

namespace {

void Bind(sqlite3_stmt* s, int i, std::string_view text)
{
    sqlite3_bind_blob(s, i, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

void Bind(sqlite3_stmt* s, int i, double value)
{
    sqlite3_bind_double(s, i, value);
}

void Bind(sqlite3_stmt* s, int i, std::int64_t value)
{
    sqlite3_bind_int64(s, i, value);
}

} // namespace

namespace {

// Only a regular file of the program folder is opened, never what a link or a device leads to:
// SQLite would write its journals beside the link's target. "" when the file is usable or absent.
std::string UnusableFile(const std::string& path)
{
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::symlink_status(path, error);
    if (!std::filesystem::exists(status) || std::filesystem::is_regular_file(status))
        return {};
    return "not a regular file";
}

} // namespace

HistoryStore::HistoryStore(std::string filePath, HistoryLimits limits)
    : m_filePath(std::move(filePath)), m_limits(limits)
{}

HistoryStore::~HistoryStore()
{
    {
        std::lock_guard lock(m_queueLock);
        m_stop = true;
    }
    m_queueWake.notify_all();
    if (m_writer.joinable())
        m_writer.join();
}

std::string HistoryStore::ReadProblem()
{
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::symlink_status(m_filePath, error)))
        return {};
    if (const std::string unusable = UnusableFile(m_filePath); !unusable.empty())
        return m_filePath + ": " + unusable;
    try {
        Connection db(m_filePath, false, 200);
        db.Number("SELECT COUNT(*) FROM sqlite_master");
    } catch (const SqliteError& failure) {
        return m_filePath + ": " + failure.what();
    }
    return {};
}

std::string HistoryStore::Problem() const
{
    std::lock_guard lock(m_problemLock);
    return m_problem;
}

void HistoryStore::report(const std::string& message)
{
    {
        std::lock_guard lock(m_problemLock);
        if (!m_problem.empty())
            return;
        m_problem = m_filePath + ": " + message;
    }
    if (m_onProblem)
        m_onProblem(m_filePath + ": " + message);
}

namespace {

// The history's dates are shown and sorted as four-digit years: 1900-01-01 to 9999-12-31.
bool RecordableTime(DateTime time)
{
    return time >= 2.0 && time < 2958466.0;
}

} // namespace

void HistoryStore::Record(RetrievalRecord& record)
{
    bool recordable = RecordableTime(record.Time);
    for (const YpAttempt& attempt : record.Attempts)
        recordable = recordable && RecordableTime(attempt.Time);
    if (!recordable) {
        report("a refresh dated outside the years 1900 to 9999 is not recorded");
        return;
    }
    Pending pending;
    pending.Time = record.Time;
    pending.Yps.reserve(record.Attempts.size());
    for (YpAttempt& attempt : record.Attempts) {
        PendingYp& yp = pending.Yps.emplace_back();
        const TkavoChList* channels = attempt.ChList;
        yp.Attempt = std::move(attempt);
        yp.Attempt.ChList = nullptr;
        if (!Taken(yp.Attempt.Outcome) || !channels)
            continue;
        // The buffers of a fetch written before, so that a refresh neither allocates nor faults in
        // fresh pages for its 10,000 channels.
        {
            std::lock_guard lock(m_queueLock);
            if (!m_spare.empty()) {
                yp.Sightings.swap(m_spare.back().Sightings);
                yp.Texts.swap(m_spare.back().Texts);
                m_spare.pop_back();
            }
        }
        yp.Sightings.clear();
        yp.Sightings.reserve(static_cast<std::size_t>(channels->Count()));
        // The records and their texts lie all over the heap: those of a few channels ahead are
        // asked for, so that the reads of several channels overlap instead of waiting in turn.
        const int count = channels->Count();
        for (int i = 0; i < count; ++i) {
            if (i + 8 < count) {
                const TkavoChItem& ahead = (*channels)[i + 8];
                for (const void* field :
                     {static_cast<const void*>(&ahead.ChannelName), static_cast<const void*>(&ahead.Hash),
                      static_cast<const void*>(&ahead.Genre), static_cast<const void*>(&ahead.Description),
                      static_cast<const void*>(&ahead.BroadcastTime)})
                    PrefetchLine(field);
            }
            if (i + 4 < count) {
                const TkavoChItem& ahead = (*channels)[i + 4];
                for (const std::string* text : {&ahead.ChannelName, &ahead.Hash, &ahead.Genre, &ahead.Description})
                    PrefetchLine(text->data());
            }
            const TkavoChItem& c = (*channels)[i];
            yp.Add(c.Hash, !c.HasHash(), c.ChannelName, c.Genre, c.Description, c.BroadcastTime);
            yp.Sightings.back().Listeners = c.Listeners;
        }
    }
    {
        std::lock_guard lock(m_queueLock);
        if (m_stop)
            return;
        m_queue.push_back(std::move(pending));
        if (!m_writer.joinable())
            m_writer = std::thread([this] { writerLoop(); });
    }
    m_queueWake.notify_one();
}

void HistoryStore::RecordNotifications(std::vector<NotificationLogRow> rows)
{
    if (rows.empty())
        return;
    Pending pending;
    pending.Time = rows.front().Time;
    for (const NotificationLogRow& row : rows)
        if (!RecordableTime(row.Time)) {
            report("a notification dated outside the years 1900 to 9999 is not recorded");
            return;
        }
    pending.Notifications = std::move(rows);
    {
        std::lock_guard lock(m_queueLock);
        if (m_stop)
            return;
        m_queue.push_back(std::move(pending));
        if (!m_writer.joinable())
            m_writer = std::thread([this] { writerLoop(); });
    }
    m_queueWake.notify_one();
}

void HistoryStore::PendingYp::Add(std::string_view hash, bool byName, std::string_view name, std::string_view genre,
                                  std::string_view description, std::string_view onAir)
{
    Sighting& s = Sightings.emplace_back();
    const auto piece = [&](Piece piece, std::string_view text) {
        s.At[piece] = static_cast<std::uint32_t>(Texts.size());
        Texts += text;
    };
    s.ByName = byName;
    piece(HashPiece, hash);
    piece(PrefixPiece, byName ? std::string_view(NoHash) : std::string_view());
    piece(NamePiece, name);
    piece(GenrePiece, genre);
    piece(DescriptionPiece, description);
    piece(OnAirPiece, onAir);
    s.At[PieceCount] = static_cast<std::uint32_t>(Texts.size());
}

void HistoryStore::Flush()
{
    std::unique_lock lock(m_queueLock);
    m_queueDone.wait(lock, [this] { return m_queue.empty() && !m_writing; });
}

void HistoryStore::writerLoop()
{
    std::unique_lock lock(m_queueLock);
    while (true) {
        m_queueWake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
        if (m_queue.empty())
            break; // stopping, and everything is written
        Pending pending = std::move(m_queue.front());
        m_queue.pop_front();
        m_writing = true;
        lock.unlock();
        write(pending);
        if (m_onWritten)
            m_onWritten();
        lock.lock();
        for (PendingYp& yp : pending.Yps) {
            if (yp.Sightings.capacity() == 0 || m_spare.size() >= MaxSpareBuffers)
                continue;
            PendingYp& spare = m_spare.emplace_back();
            spare.Sightings.swap(yp.Sightings);
            spare.Sightings.clear();
            spare.Texts.swap(yp.Texts);
            spare.Texts.clear();
        }
        m_writing = false;
        m_queueDone.notify_all();
    }
    lock.unlock();
    storePendingIndexes();
    m_db.reset();
}

bool HistoryStore::openWriter()
{
    if (m_db)
        return true;
    try {
        if (const std::string unusable = UnusableFile(m_filePath); !unusable.empty())
            throw SqliteError(unusable, SQLITE_CANTOPEN);
        auto db = std::make_unique<Connection>(m_filePath, true, m_limits.BusyTimeoutMs);
        // WAL: readers never wait for the writer, and a refresh is one append to the log that a
        // killed process either finished or did not start.
        db->Exec("PRAGMA journal_mode=WAL");
        db->Exec("PRAGMA synchronous=NORMAL");
        // A log that takes several refreshes before it is copied back, so that each page is copied
        // once for many refreshes. The cache holds the inner pages of the tables and the recent
        // ones; SQLite walks all of it at every commit, so a larger one costs more at each refresh
        // than the reads it saves (the pages of broadcasts ending are read from the system's cache).
        db->Exec("PRAGMA cache_size=-8192");
        db->Exec("PRAGMA wal_autocheckpoint=8192");
        db->Exec("PRAGMA journal_size_limit=67108864");
        // Some builds of SQLite zero every page that is freed, and write it: the overflow pages of a
        // YP's index replaced, megabytes every time. Deleted content is still cleared from the pages
        // written anyway.
        db->Exec("PRAGMA secure_delete=FAST");
        db->Exec("BEGIN IMMEDIATE");
        try {
            const std::int64_t version = db->Number("PRAGMA user_version");
            if (version > SchemaVersion)
                throw SqliteError("written by a later version of kavo (file version " + std::to_string(version) + ")",
                                  SQLITE_CANTOPEN);
            db->Exec(Schema);
            db->Exec(NotificationSchema);
            if (version < 1)
                db->Exec(FromVersion0);
            for (const AddedColumn& column : AddedColumns)
                if (db->Number(column.Present) == 0)
                    db->Exec(column.Add);
            if (version < SchemaVersion ||
                db->Number("SELECT COUNT(*) FROM sqlite_master WHERE name IN ('broadcast_by_name', "
                           "'broadcast_on_air')") > 0)
                db->Exec(Rebuild);
            m_nameUpto = db->Number("SELECT id FROM broadcast_name_upto");
            m_unnamed = db->Number("SELECT COUNT(*) FROM broadcast WHERE id > (SELECT id FROM broadcast_name_upto)");
            db->Exec("COMMIT");
        } catch (...) {
            sqlite3_exec(db->Db(), "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
        m_db = std::move(db);
        m_yps.clear();
        return true;
    } catch (const SqliteError& error) {
        report(error.what());
        return false;
    }
}

void HistoryStore::write(Pending& pending)
{
    if (!openWriter())
        return;
    Connection& db = *m_db;
    try {
        db.Exec("BEGIN IMMEDIATE");
        try {
            for (PendingYp& yp : pending.Yps)
                writeYp(db, pending, yp);
            for (const NotificationLogRow& row : pending.Notifications) {
                sqlite3_stmt* insert =
                    db.Prepare("INSERT INTO notification(time, name, contact, hash, yp, trigger, outcome, reason) "
                               "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
                Bind(insert, 1, row.Time);
                Bind(insert, 2, std::string_view(row.ChannelName));
                Bind(insert, 3, std::string_view(row.ContactURL));
                sqlite3_bind_text(insert, 4, row.Hash.data(), static_cast<int>(row.Hash.size()), SQLITE_STATIC);
                Bind(insert, 5, std::string_view(row.Yp));
                Bind(insert, 6, std::int64_t{row.Trigger});
                Bind(insert, 7, std::int64_t{row.Outcome});
                Bind(insert, 8, std::string_view(row.Reason));
                db.Run(insert);
            }
            // Pruning scans the tables: when the store opens, once a day, and after many new rows.
            if (m_lastPrune == 0 || pending.Time >= m_lastPrune + 1 ||
                m_insertedSincePrune >= std::max<std::int64_t>(1, m_limits.MaxBroadcasts / 100))
                prune(db, pending.Time);
            if (m_unnamed >= std::max<std::int64_t>(1, m_limits.MaxBroadcasts / 20))
                addNames(db);
            db.Exec("COMMIT");
        } catch (...) {
            sqlite3_exec(db.Db(), "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    } catch (const SqliteError& error) {
        // What the writer remembers of the broadcasts on air may no longer be what the file says.
        m_yps.clear();
        report(error.what());
        // A damaged file stays as it is; the next refresh tries again, for a lock may go away.
        m_db.reset();
    }
}

HistoryStore::YpState& HistoryStore::ypState(Connection& db, const std::string& url, const std::string& title)
{
    YpState& state = m_yps[url];
    if (state.Id == 0) {
        sqlite3_stmt* insert = db.Prepare("INSERT OR IGNORE INTO yp(url, title) VALUES(?1, ?2)");
        Bind(insert, 1, url);
        Bind(insert, 2, title);
        db.Run(insert);
        sqlite3_stmt* find = db.Prepare("SELECT id, title, last_success, on_air_from FROM yp WHERE url = ?1");
        Bind(find, 1, url);
        if (!db.Step(find))
            throw SqliteError(db.Db(), "a YP row went missing");
        state.Id = sqlite3_column_int64(find, 0);
        state.Title = Blob(find, 1);
        state.LastSuccess = sqlite3_column_double(find, 2);
        state.OnAirFrom = sqlite3_column_int64(find, 3);
        db.Run(find);
        sqlite3_stmt* index = db.Prepare("SELECT time FROM last_index WHERE yp = ?1");
        Bind(index, 1, state.Id);
        if (db.Step(index))
            state.IndexStored = sqlite3_column_double(index, 0);
        db.Run(index);
    }
    if (state.Title != title) {
        sqlite3_stmt* update = db.Prepare("UPDATE yp SET title = ?2 WHERE id = ?1");
        Bind(update, 1, state.Id);
        Bind(update, 2, title);
        db.Run(update);
        state.Title = title;
    }
    return state;
}

void HistoryStore::loadOpen(Connection& db, YpState& state)
{
    state.OnAir.Clear();
    state.Last.Sightings.clear();
    state.Last.Texts.clear();
    sqlite3_stmt* select = db.Prepare("SELECT id, hash, name, listeners, genre, description FROM broadcast "
                                      "WHERE id >= ?2 AND yp = ?1 AND last_seen IS NULL");
    Bind(select, 1, state.Id);
    Bind(select, 2, state.OnAirFrom);
    while (db.Step(select)) {
        const std::string_view hash = Blob(select, 1);
        state.Last.Add(hash, hash.empty() || hash == NoHash, Blob(select, 2), Blob(select, 4), Blob(select, 5), {});
        const auto at = static_cast<std::uint32_t>(state.Last.Sightings.size() - 1);
        const std::string_view key = state.Last.Key(state.Last.Sightings[at]);
        const std::uint64_t keyHash = OnAirTable::KeyHash(key);
        OnAirTable::Entry* open = state.OnAir.Find(keyHash, [&](const OnAirTable::Entry& entry) {
            return state.Last.Key(state.Last.Sightings[entry.Sighting]) == key;
        });
        if (!open)
            open = &state.OnAir.Add(keyHash);
        open->Id = sqlite3_column_int64(select, 0);
        open->Listeners = sqlite3_column_int(select, 3);
        open->Sighting = at;
    }
    state.Loaded = true;
}

void HistoryStore::writeYp(Connection& db, const Pending& pending, PendingYp& yp)
{
    const YpAttempt& a = yp.Attempt;
    YpState& state = ypState(db, a.Url, a.Title);

    sqlite3_stmt* attempt =
        db.Prepare("INSERT INTO attempt(yp, time, outcome, status, bytes, channels, duration_ms, error, listed, "
                   "hidden_type, hidden_bitrate) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)");
    Bind(attempt, 1, state.Id);
    Bind(attempt, 2, a.Time > 0 ? a.Time : pending.Time);
    Bind(attempt, 3, static_cast<std::int64_t>(a.Outcome));
    Bind(attempt, 4, static_cast<std::int64_t>(a.HttpStatus));
    Bind(attempt, 5, static_cast<std::int64_t>(a.Bytes));
    Bind(attempt, 6, static_cast<std::int64_t>(a.Channels));
    Bind(attempt, 7, static_cast<std::int64_t>(a.DurationMs));
    Bind(attempt, 8, a.Error);
    Bind(attempt, 9, static_cast<std::int64_t>(a.Filtered.Listed));
    Bind(attempt, 10, static_cast<std::int64_t>(a.Filtered.HiddenByType));
    Bind(attempt, 11, static_cast<std::int64_t>(a.Filtered.HiddenByBitrate));
    db.Run(attempt);
    if (!Taken(a.Outcome))
        return;

    if (!state.Loaded)
        loadOpen(db, state);
    const DateTime now = a.Time > 0 ? a.Time : pending.Time;
    const DateTime previous = state.LastSuccess;
    const std::uint64_t fetch = ++m_fetches;
    const auto close = [&](std::int64_t id) {
        sqlite3_stmt* update = db.Prepare("UPDATE broadcast SET last_seen = ?2 WHERE id = ?1");
        Bind(update, 1, id);
        Bind(update, 2, previous > 0 ? previous : now);
        db.Run(update);
    };
    const auto open = [&](OnAirTable::Entry& entry, std::uint32_t at) {
        const Sighting& s = yp.Sightings[at];
        sqlite3_stmt* insert =
            db.Prepare("INSERT INTO broadcast(yp, hash, name, first_seen, listeners, genre, description) "
                       "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)");
        const std::string_view hash = yp.Text(s, HashPiece);
        Bind(insert, 1, state.Id);
        sqlite3_bind_text(insert, 2, hash.data(), static_cast<int>(hash.size()), SQLITE_STATIC);
        Bind(insert, 3, yp.Text(s, NamePiece));
        Bind(insert, 4, now);
        Bind(insert, 5, static_cast<std::int64_t>(s.Listeners));
        Bind(insert, 6, yp.Text(s, GenrePiece));
        Bind(insert, 7, yp.Text(s, DescriptionPiece));
        db.Run(insert);
        entry.Id = sqlite3_last_insert_rowid(db.Db());
        entry.Listeners = s.Listeners;
        entry.Seen = fetch;
        entry.Sighting = at;
        ++m_insertedSincePrune;
        ++m_unnamed;
    };

    // A time on air is a whole number of minutes, so a positive one is at least a minute: a fetch
    // within half a minute more than the slack after the one before finds no restart.
    const bool late = previous > 0 && now - previous > RestartSlackDays + 0.5 / MinutesPerDay;
    // The keys' hashes first, so that the table's slots of a few channels ahead can be asked for.
    m_keyHashes.clear();
    for (const Sighting& s : yp.Sightings)
        m_keyHashes.push_back(OnAirTable::KeyHash(yp.Key(s)));
    for (std::uint32_t at = 0; at < yp.Sightings.size(); ++at) {
        if (at + 8 < m_keyHashes.size())
            state.OnAir.Prefetch(m_keyHashes[at + 8]);
        const Sighting& s = yp.Sightings[at];
        const std::string_view key = yp.Key(s);
        const std::uint64_t keyHash = m_keyHashes[at];
        OnAirTable::Entry* entry = state.OnAir.Find(keyHash, [&](const OnAirTable::Entry& e) {
            const PendingYp& in = e.Seen == fetch ? yp : state.Last;
            return in.Key(in.Sightings[e.Sighting]) == key;
        });
        if (!entry) {
            open(state.OnAir.Add(keyHash), at);
            continue;
        }
        if (entry->Seen == fetch)
            continue; // listed twice: the first line counts
        if (const DateTime onAir = late ? TkavoChItem::DurationOf(yp.Text(s, OnAirPiece)) : 0;
            onAir > 0 && now - previous > onAir + RestartSlackDays) {
            close(entry->Id);
            open(*entry, at);
            continue;
        }
        const bool texts = yp.SameTexts(s, state.Last, state.Last.Sightings[entry->Sighting]);
        entry->Seen = fetch;
        entry->Sighting = at;
        if (texts) {
            // The common change: more listeners. The table of names stays as it is.
            if (s.Listeners > entry->Listeners) {
                entry->Listeners = s.Listeners;
                sqlite3_stmt* update = db.Prepare("UPDATE broadcast SET listeners = ?2 WHERE id = ?1");
                Bind(update, 1, entry->Id);
                Bind(update, 2, static_cast<std::int64_t>(entry->Listeners));
                db.Run(update);
            }
            continue;
        }
        entry->Listeners = std::max(entry->Listeners, s.Listeners);
        sqlite3_stmt* update =
            db.Prepare("UPDATE broadcast SET name = ?2, listeners = ?3, genre = ?4, description = ?5 WHERE id = ?1");
        Bind(update, 1, entry->Id);
        Bind(update, 2, yp.Text(s, NamePiece));
        Bind(update, 3, static_cast<std::int64_t>(entry->Listeners));
        Bind(update, 4, yp.Text(s, GenrePiece));
        Bind(update, 5, yp.Text(s, DescriptionPiece));
        db.Run(update);
    }
    // Missing from a fetch of its YP: the broadcast ended after the fetch before.
    std::int64_t onAirFrom = std::numeric_limits<std::int64_t>::max();
    state.OnAir.EraseIf([&](const OnAirTable::Entry& entry) {
        if (entry.Seen == fetch) {
            onAirFrom = std::min(onAirFrom, entry.Id);
            return true;
        }
        close(entry.Id);
        return false;
    });
    state.OnAirFrom = state.OnAir.Size() > 0 ? onAirFrom : 0;
    // The entries left all name sightings of this fetch; the writer recycles the buffers of the last.
    state.Last.Sightings.swap(yp.Sightings);
    state.Last.Texts.swap(yp.Texts);

    // The row is written anyway: the lowest id on air goes with the time.
    sqlite3_stmt* success = db.Prepare("UPDATE yp SET last_success = ?2, on_air_from = ?3 WHERE id = ?1");
    Bind(success, 1, state.Id);
    Bind(success, 2, now);
    Bind(success, 3, state.OnAirFrom);
    db.Run(success);
    state.LastSuccess = now;

    if (now - state.IndexStored >= IndexInterval || now < state.IndexStored) {
        storeIndex(db, state, now, a.Index);
    } else {
        state.PendingIndex = std::move(yp.Attempt.Index);
        state.PendingIndexTime = now;
    }
}

void HistoryStore::storeIndex(Connection& db, YpState& state, DateTime time, const std::string& index)
{
    sqlite3_stmt* statement = db.Prepare("INSERT OR REPLACE INTO last_index(yp, time, text) VALUES(?1, ?2, ?3)");
    Bind(statement, 1, state.Id);
    Bind(statement, 2, time);
    Bind(statement, 3, index);
    db.Run(statement);
    state.IndexStored = time;
    state.PendingIndex.clear();
    state.PendingIndexTime = 0;
}

void HistoryStore::storePendingIndexes()
{
    if (!m_db)
        return;
    try {
        m_db->Exec("BEGIN IMMEDIATE");
        try {
            for (auto& [url, state] : m_yps)
                if (state.PendingIndexTime > 0)
                    storeIndex(*m_db, state, state.PendingIndexTime, state.PendingIndex);
            m_db->Exec("COMMIT");
        } catch (...) {
            sqlite3_exec(m_db->Db(), "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    } catch (const SqliteError& error) {
        report(error.what());
    }
}

void HistoryStore::prune(Connection& db, DateTime now)
{
    // Each step finds what it removes through an index, or counts from the oldest end, so that a
    // prune over 500,000 broadcasts costs what it removes, not a walk through all of them.
    const double cutoff = now - m_limits.KeepDays;
    const auto run = [&](const char* sql, auto value) {
        sqlite3_stmt* statement = db.Prepare(sql);
        Bind(statement, 1, value);
        db.Run(statement);
        return sqlite3_changes(db.Db());
    };
    const auto number = [&](const char* sql, std::optional<std::int64_t> value) -> std::optional<std::int64_t> {
        sqlite3_stmt* statement = db.Prepare(sql);
        if (value)
            Bind(statement, 1, *value);
        std::optional<std::int64_t> result;
        if (db.Step(statement) && sqlite3_column_type(statement, 0) != SQLITE_NULL)
            result = sqlite3_column_int64(statement, 0);
        db.Run(statement);
        return result;
    };
    // The id of the newest row beyond the newest `limit` of a table, counted from its oldest end.
    const auto beyond = [&](const char* count, const char* nth, std::int64_t limit) -> std::optional<std::int64_t> {
        // A count without a condition reads only the pages of the smallest index.
        const std::int64_t rows = number(count, std::nullopt).value_or(0);
        if (rows <= limit)
            return std::nullopt;
        return number(nth, rows - limit - 1);
    };

    // Ended before the cutoff, so begun before it too: the index on first_seen finds them.
    run("DELETE FROM broadcast WHERE first_seen < ?1 AND last_seen < ?1", cutoff);
    // On air when their YP was last fetched, long ago. The writer reads its YPs' broadcasts on
    // air again; the other steps remove only ended ones.
    if (run("DELETE FROM broadcast WHERE id >= (SELECT MIN(on_air_from) FROM yp WHERE last_success < ?1) AND "
            "last_seen IS NULL AND yp IN (SELECT id FROM yp WHERE last_success < ?1)",
            cutoff) > 0)
        for (auto& [url, state] : m_yps)
            state.Loaded = false;
    // The oldest ended broadcasts beyond the limit.
    if (const auto last = beyond("SELECT COUNT(*) FROM broadcast",
                                 "SELECT id FROM broadcast ORDER BY id LIMIT 1 OFFSET ?1", m_limits.MaxBroadcasts))
        run("DELETE FROM broadcast WHERE last_seen IS NOT NULL AND id <= ?1", *last);
    run("DELETE FROM notification WHERE time < ?1", cutoff);
    // Every turn belongs to a YP of the table: its index on (yp, time) finds the old ones.
    run("DELETE FROM attempt WHERE yp IN (SELECT id FROM yp) AND time < ?1", cutoff);
    if (const auto last = beyond("SELECT COUNT(*) FROM attempt", "SELECT id FROM attempt ORDER BY id LIMIT 1 OFFSET ?1",
                                 m_limits.MaxAttempts))
        run("DELETE FROM attempt WHERE id <= ?1", *last);
    // A new broadcast takes the id after the highest one left: when the newest ones went, the
    // names end where the broadcasts now do.
    const std::int64_t newest = newestBroadcast(db);
    if (newest < m_nameUpto)
        setNameUpto(db, newest);
    m_unnamed = db.Number("SELECT COUNT(*) FROM broadcast WHERE id > (SELECT id FROM broadcast_name_upto)");
    m_lastPrune = now;
    m_insertedSincePrune = 0;
}

void HistoryStore::addNames(Connection& db)
{
    sqlite3_stmt* insert = db.Prepare("INSERT INTO broadcast_name SELECT name, first_seen, id FROM broadcast "
                                      "WHERE id > ?1 ORDER BY name, first_seen, id");
    Bind(insert, 1, m_nameUpto);
    db.Run(insert);
    setNameUpto(db, std::max(m_nameUpto, newestBroadcast(db)));
    m_unnamed = 0;
}

std::int64_t HistoryStore::newestBroadcast(Connection& db)
{
    return db.Number("SELECT COALESCE(MAX(id), 0) FROM broadcast");
}

void HistoryStore::setNameUpto(Connection& db, std::int64_t id)
{
    sqlite3_stmt* upto = db.Prepare("UPDATE broadcast_name_upto SET id = ?1");
    Bind(upto, 1, id);
    db.Run(upto);
    m_nameUpto = id;
}

// ---- Readers

HistoryStore::Connection* HistoryStore::reader()
{
    if (!m_read) {
        if (!UnusableFile(m_filePath).empty())
            return nullptr;
        try {
            m_read = std::make_unique<Connection>(m_filePath, false, 200);
            // Reports such as the regulars read thousands of pages: mapped, they are not copied.
            sqlite3_exec(m_read->Db(), "PRAGMA mmap_size=268435456", nullptr, nullptr, nullptr);
        } catch (const SqliteError&) {
            // Nothing recorded yet, or nothing that can be read: the writer reports what it meets.
            return nullptr;
        }
    }
    return m_read.get();
}

namespace {

// Runs a reader; a file without the tables yet reads as empty, a damaged one is reported.
template <class F>
auto ReadOr(F&& read, decltype(read()) fallback, const std::function<void(const std::string&)>& report)
{
    try {
        return read();
    } catch (const SqliteError& error) {
        const int primary = error.Code & 0xFF;
        if (primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT)
            report(error.what());
        return fallback;
    }
}

} // namespace

std::vector<YpHealth> HistoryStore::YpStatus(const std::vector<YpHealth>& configured)
{
    std::vector<YpHealth> rows = configured;
    std::lock_guard lock(m_readLock);
    Connection* db = reader();
    if (!db)
        return rows;
    const auto read = [&] {
        for (YpHealth& yp : rows) {
            yp.Recent.clear();
            yp.LastSuccess = 0;
            yp.FailuresInRow = 0;
            yp.Channels = 0;
            sqlite3_stmt* find = db->Prepare("SELECT id, last_success FROM yp WHERE url = ?1");
            Bind(find, 1, yp.Url);
            if (!db->Step(find))
                continue;
            const std::int64_t id = sqlite3_column_int64(find, 0);
            yp.LastSuccess = sqlite3_column_double(find, 1);
            db->Run(find);
            sqlite3_stmt* recent =
                db->Prepare("SELECT time, outcome, status, bytes, channels, duration_ms, error, listed, hidden_type, "
                            "hidden_bitrate FROM attempt WHERE yp = ?1 ORDER BY time DESC, id DESC LIMIT ?2");
            Bind(recent, 1, id);
            Bind(recent, 2, std::int64_t{YpHealth::RecentAttempts});
            while (db->Step(recent)) {
                YpAttemptRow row;
                row.Time = sqlite3_column_double(recent, 0);
                row.Outcome = static_cast<YpOutcome>(sqlite3_column_int(recent, 1) % YpOutcomeCount);
                row.HttpStatus = sqlite3_column_int(recent, 2);
                row.Bytes = static_cast<std::uint64_t>(sqlite3_column_int64(recent, 3));
                row.Channels = sqlite3_column_int(recent, 4);
                row.DurationMs = sqlite3_column_int(recent, 5);
                row.Error = Blob(recent, 6);
                row.Filtered = {sqlite3_column_int(recent, 7), sqlite3_column_int(recent, 8),
                                sqlite3_column_int(recent, 9)};
                yp.Recent.push_back(std::move(row));
            }
            // Failures since the last fetch, counted over the whole record, not only the recent ten.
            sqlite3_stmt* failures =
                db->Prepare("SELECT COUNT(*) FROM attempt WHERE yp = ?1 AND outcome IN (2, 3) AND time >= "
                            "COALESCE((SELECT MAX(time) FROM attempt WHERE yp = ?1 AND outcome IN (0, 5)), 0)");
            Bind(failures, 1, id);
            if (db->Step(failures))
                yp.FailuresInRow = sqlite3_column_int(failures, 0);
            db->Run(failures);
            sqlite3_stmt* channels = db->Prepare(
                "SELECT channels FROM attempt WHERE yp = ?1 AND outcome = 0 ORDER BY time DESC, id DESC LIMIT 1");
            Bind(channels, 1, id);
            if (db->Step(channels))
                yp.Channels = sqlite3_column_int(channels, 0);
            db->Run(channels);
        }
        return rows;
    };
    return ReadOr(read, rows, [this](const std::string& m) { report(m); });
}

std::vector<BroadcastRow> HistoryStore::Broadcasts(const BroadcastQuery& query)
{
    std::optional<RegularExpression> regExp;
    std::shared_ptr<const RegularExpression::Compiled> pattern;
    if (!query.Pattern.empty()) {
        regExp.emplace();
        SetFavoriteFlags(*regExp);
        regExp->Pattern = query.Pattern;
        pattern = regExp->Compile();
    }
    std::lock_guard lock(m_readLock);
    Connection* db = reader();
    if (!db)
        return {};
    const auto read = [&] {
        std::vector<BroadcastRow> rows;
        // The index on first_seen gives the order; the row values let a page start where the last
        // one ended without counting its way there.
        sqlite3_stmt* select = db->Prepare(
            "SELECT b.id, b.hash, b.name, y.url, y.title, b.first_seen, COALESCE(b.last_seen, y.last_success), "
            "b.last_seen IS NULL, b.listeners, b.genre, b.description FROM broadcast b JOIN yp y ON y.id = b.yp "
            "WHERE (b.first_seen, b.id) < (?1, ?2) ORDER BY b.first_seen DESC, b.id DESC");
        Bind(select, 1, query.AfterFirstSeen);
        Bind(select, 2, query.AfterId);
        std::string text;
        while (db->Step(select)) {
            if (sqlite3_column_double(select, 6) < query.Since)
                continue;
            if (pattern) {
                text = FindSubject(std::string(Blob(select, 2)), std::string(Blob(select, 9)),
                                   std::string(Blob(select, 10)));
                if (!regExp->Test(*pattern, text))
                    continue;
            }
            BroadcastRow& row = rows.emplace_back();
            row.Id = sqlite3_column_int64(select, 0);
            row.Hash = Blob(select, 1);
            row.ChannelName = Blob(select, 2);
            row.YpUrl = Blob(select, 3);
            row.YpTitle = Blob(select, 4);
            row.FirstSeen = sqlite3_column_double(select, 5);
            row.LastSeen = sqlite3_column_double(select, 6);
            row.OnAir = sqlite3_column_int(select, 7) != 0;
            row.MaxListeners = sqlite3_column_int(select, 8);
            row.Genre = Blob(select, 9);
            row.Description = Blob(select, 10);
            if (query.Limit > 0 && rows.size() >= query.Limit) {
                sqlite3_reset(select);
                break;
            }
        }
        return rows;
    };
    return ReadOr(read, {}, [this](const std::string& m) { report(m); });
}

std::vector<std::pair<DateTime, DateTime>> HistoryStore::OnAirTimes(const std::string& channelName, DateTime since)
{
    std::lock_guard lock(m_readLock);
    Connection* db = reader();
    if (!db)
        return {};
    const auto read = [&] {
        std::vector<std::pair<DateTime, DateTime>> times;
        sqlite3_stmt* select = nullptr;
        try {
            select = db->Prepare(
                "SELECT b.first_seen, COALESCE(b.last_seen, y.last_success) AS seen FROM broadcast_name n "
                "JOIN broadcast b ON b.id = n.id JOIN yp y ON y.id = b.yp WHERE n.name = ?1 AND seen >= ?2 "
                "UNION ALL "
                "SELECT b.first_seen, COALESCE(b.last_seen, y.last_success) AS seen FROM broadcast b "
                "JOIN yp y ON y.id = b.yp WHERE b.id > (SELECT id FROM broadcast_name_upto) AND b.name = ?1 AND "
                "seen >= ?2 ORDER BY 1");
        } catch (const SqliteError&) {
            // A file of version 0 that no refresh has brought to this version yet: its index on names.
            select = db->Prepare("SELECT b.first_seen, COALESCE(b.last_seen, y.last_success) AS seen FROM broadcast b "
                                 "JOIN yp y ON y.id = b.yp WHERE b.name = ?1 AND seen >= ?2 ORDER BY b.first_seen");
        }
        Bind(select, 1, channelName);
        Bind(select, 2, since);
        while (db->Step(select))
            times.emplace_back(sqlite3_column_double(select, 0), sqlite3_column_double(select, 1));
        return times;
    };
    return ReadOr(read, {}, [this](const std::string& m) { report(m); });
}

std::vector<StoredIndex> HistoryStore::LastIndexes()
{
    std::lock_guard lock(m_readLock);
    Connection* db = reader();
    if (!db)
        return {};
    const auto read = [&] {
        std::vector<StoredIndex> indexes;
        sqlite3_stmt* select =
            db->Prepare("SELECT y.url, l.time, l.text FROM last_index l JOIN yp y ON y.id = l.yp ORDER BY y.id");
        while (db->Step(select))
            indexes.push_back(
                {std::string(Blob(select, 0)), sqlite3_column_double(select, 1), std::string(Blob(select, 2))});
        return indexes;
    };
    return ReadOr(read, {}, [this](const std::string& m) { report(m); });
}

RegularsReport HistoryStore::Regulars(const RegularsRequest& request)
{
    std::lock_guard lock(m_readLock);
    Connection* db = reader();
    const auto read = [&] {
        try {
            return db ? ReadRegulars(db->Db(), request) : EmptyRegulars(request);
        } catch (const RegularsReadError& error) {
            throw SqliteError(error.Message, error.Code);
        }
    };
    return ReadOr(read, EmptyRegulars(request), [this](const std::string& m) { report(m); });
}

std::int64_t HistoryStore::BroadcastCount()
{
    std::lock_guard lock(m_readLock);
    Connection* db = reader();
    if (!db)
        return 0;
    const auto read = [&] {
        sqlite3_stmt* count = db->Prepare("SELECT COUNT(*) FROM broadcast");
        std::int64_t n = 0;
        if (db->Step(count))
            n = sqlite3_column_int64(count, 0);
        db->Run(count);
        return n;
    };
    return ReadOr(read, std::int64_t{0}, [this](const std::string& m) { report(m); });
}

std::vector<NotificationLogRow> HistoryStore::Notifications(DateTime since)
{
    std::lock_guard lock(m_readLock);
    Connection* db = reader();
    if (!db)
        return {};
    const auto read = [&] {
        std::vector<NotificationLogRow> rows;
        if (db->Number("SELECT COUNT(*) FROM sqlite_master WHERE name = 'notification'") == 0)
            return rows;
        sqlite3_stmt* select = db->Prepare("SELECT time, name, contact, hash, yp, trigger, outcome, reason FROM "
                                           "notification WHERE time >= ?1 ORDER BY time, id");
        Bind(select, 1, since);
        while (db->Step(select)) {
            NotificationLogRow& row = rows.emplace_back();
            row.Time = sqlite3_column_double(select, 0);
            row.ChannelName = Blob(select, 1);
            row.ContactURL = Blob(select, 2);
            row.Hash = Blob(select, 3);
            row.Yp = Blob(select, 4);
            row.Trigger = sqlite3_column_int(select, 5);
            row.Outcome = sqlite3_column_int(select, 6);
            row.Reason = Blob(select, 7);
        }
        return rows;
    };
    return ReadOr(read, {}, [this](const std::string& m) { report(m); });
}

std::vector<RecentBroadcast> HistoryStore::RecentBroadcasts(DateTime endedSince)
{
    std::lock_guard lock(m_readLock);
    Connection* db = reader();
    if (!db)
        return {};
    const auto read = [&] {
        std::vector<RecentBroadcast> rows;
        // On air: from each YP's on_air_from on by the key; ended lately: by the index on first_seen.
        sqlite3_stmt* select = db->Prepare(
            "SELECT b.name, y.last_success, 1 FROM yp y JOIN broadcast b ON b.yp = y.id AND b.id >= y.on_air_from "
            "WHERE b.last_seen IS NULL "
            "UNION ALL "
            "SELECT name, last_seen, 0 FROM broadcast WHERE first_seen >= ?1 - 7 AND last_seen >= ?1");
        Bind(select, 1, endedSince);
        while (db->Step(select))
            rows.push_back(
                {std::string(Blob(select, 0)), sqlite3_column_double(select, 1), sqlite3_column_int(select, 2) != 0});
        return rows;
    };
    return ReadOr(read, {}, [this](const std::string& m) { report(m); });
}

} // namespace kavo
