#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace kavo {

// The URLs the user has opened, kept in an SQLite file ("visited.sqlite" in the program folder),
// newest first up to a limit. URLs are compared byte for byte. Safe to use from several threads.
// The store never fails its caller: when the file cannot be opened it behaves as an empty store
// that forgets what is added.
class VisitedUrls
{
public:
    static constexpr const char* FileName = "visited.sqlite";
    static constexpr std::size_t DefaultLimit = 50000;

    // A file that is not a database is moved aside to the same name + ".bad" and replaced.
    explicit VisitedUrls(std::string filePath, std::size_t limit = DefaultLimit);
    ~VisitedUrls();
    VisitedUrls(const VisitedUrls&) = delete;
    VisitedUrls& operator=(const VisitedUrls&) = delete;

    // Adds the URL as the newest entry (again, if it was there); the oldest beyond the limit go.
    void Add(std::string_view url);
    bool IsVisited(std::string_view url);
    std::size_t Count();
    // Whether the file is open; false means every call does nothing.
    bool IsOpen() const { return m_db != nullptr; }
    const std::string& FilePath() const { return m_filePath; }

private:
    bool open();
    void close();

    std::string m_filePath;
    std::size_t m_limit;
    std::mutex m_lock;
    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_find = nullptr;
    sqlite3_stmt* m_delete = nullptr;
    sqlite3_stmt* m_insert = nullptr;
    sqlite3_stmt* m_trim = nullptr;
};

} // namespace kavo
