#include "platform/VisitedUrls.h"

#include <cstdio>
#include <sqlite3.h>

namespace kavo {

namespace {

// URLs are CP932 bytes that need not be valid UTF-8, so they are bound as blobs and compared as
// such.
void BindUrl(sqlite3_stmt* statement, int index, std::string_view url)
{
    sqlite3_bind_blob(statement, index, url.data(), static_cast<int>(url.size()), SQLITE_TRANSIENT);
}

// Runs a statement that returns no rows and resets it for the next use.
int Run(sqlite3_stmt* statement)
{
    const int rc = sqlite3_step(statement);
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    return rc;
}

bool IsBrokenFile(int rc)
{
    const int primary = rc & 0xFF;
    return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

} // namespace

VisitedUrls::VisitedUrls(std::string filePath, std::size_t limit) : m_filePath(std::move(filePath)), m_limit(limit)
{
    if (m_limit == 0)
        m_limit = 1;
    if (!open()) {
        const int rc = m_db ? sqlite3_extended_errcode(m_db) : SQLITE_CANTOPEN;
        close();
        // A damaged store is worth less than a working one, but the damaged file is kept for a look.
        if (IsBrokenFile(rc) && std::rename(m_filePath.c_str(), (m_filePath + ".bad").c_str()) == 0 && !open())
            close();
    }
}

VisitedUrls::~VisitedUrls()
{
    close();
}

bool VisitedUrls::open()
{
    if (sqlite3_open_v2(m_filePath.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK)
        return false;
    sqlite3_busy_timeout(m_db, 2000);
    sqlite3_extended_result_codes(m_db, 1);
    if (sqlite3_exec(m_db,
                     "CREATE TABLE IF NOT EXISTS visited("
                     "id INTEGER PRIMARY KEY AUTOINCREMENT, url BLOB NOT NULL UNIQUE)",
                     nullptr, nullptr, nullptr) != SQLITE_OK)
        return false;
    const auto prepare = [this](const char* sql, sqlite3_stmt** statement) {
        return sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, statement, nullptr) == SQLITE_OK;
    };
    return prepare("SELECT 1 FROM visited WHERE url = ?1", &m_find) &&
           prepare("DELETE FROM visited WHERE url = ?1", &m_delete) &&
           prepare("INSERT INTO visited(url) VALUES(?1)", &m_insert) &&
           prepare("DELETE FROM visited WHERE id <= "
                   "(SELECT id FROM visited ORDER BY id DESC LIMIT 1 OFFSET ?1)",
                   &m_trim);
}

void VisitedUrls::close()
{
    for (sqlite3_stmt** statement : {&m_find, &m_delete, &m_insert, &m_trim}) {
        sqlite3_finalize(*statement);
        *statement = nullptr;
    }
    sqlite3_close(m_db);
    m_db = nullptr;
}

void VisitedUrls::Add(std::string_view url)
{
    std::lock_guard lock(m_lock);
    if (!m_db)
        return;
    if (sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return;
    BindUrl(m_delete, 1, url);
    bool ok = Run(m_delete) == SQLITE_DONE;
    if (ok) {
        BindUrl(m_insert, 1, url);
        ok = Run(m_insert) == SQLITE_DONE;
    }
    if (ok) {
        sqlite3_bind_int64(m_trim, 1, static_cast<sqlite3_int64>(m_limit));
        ok = Run(m_trim) == SQLITE_DONE;
    }
    sqlite3_exec(m_db, ok ? "COMMIT" : "ROLLBACK", nullptr, nullptr, nullptr);
}

bool VisitedUrls::IsVisited(std::string_view url)
{
    std::lock_guard lock(m_lock);
    if (!m_db)
        return false;
    BindUrl(m_find, 1, url);
    return Run(m_find) == SQLITE_ROW;
}

std::size_t VisitedUrls::Count()
{
    std::lock_guard lock(m_lock);
    if (!m_db)
        return 0;
    sqlite3_stmt* statement = nullptr;
    std::size_t count = 0;
    if (sqlite3_prepare_v2(m_db, "SELECT COUNT(*) FROM visited", -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW)
        count = static_cast<std::size_t>(sqlite3_column_int64(statement, 0));
    sqlite3_finalize(statement);
    return count;
}

} // namespace kavo
