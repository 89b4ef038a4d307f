#pragma once

// Small executable scripts that stand in for outside programs in tests: each records its process
// id, current folder and arguments into a file, so a test sees what really got started.

#include "support/TempFolder.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace kavo::test {

struct ProcessRecord
{
    int Pid = 0;
    std::string Folder; // physical path of the current folder
    std::vector<std::string> Arguments;
};

inline void WriteExecutable(const std::string& path, const std::string& text)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
    }
    std::filesystem::permissions(path, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                           std::filesystem::perms::group_exec);
}

// A script that writes "<its file name>.<pid>.rec" into recordFolder (which must hold no quote),
// and then, with linger, stays alive for 30 s so that its priority and session can be examined.
inline void WriteRecorder(const std::string& path, const std::string& recordFolder, bool linger = false)
{
    std::string text = "#!/bin/sh\n"
                       "rec='" +
                       recordFolder +
                       "'/\"$(basename \"$0\")\".$$\n"
                       "{\n"
                       "  echo \"pid=$$\"\n"
                       "  echo \"cwd=$(pwd -P)\"\n"
                       "  for a in \"$@\"; do printf 'arg=%s\\n' \"$a\"; done\n"
                       "} > \"$rec.tmp\" && mv \"$rec.tmp\" \"$rec.rec\"\n";
    if (linger)
        text += "exec sleep 30\n";
    WriteExecutable(path, text);
}

inline std::vector<ProcessRecord> ReadRecords(const std::string& recordFolder, const std::string& scriptName)
{
    std::vector<ProcessRecord> records;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(recordFolder, ec)) {
        const std::string file = entry.path().filename().string();
        if (file.rfind(scriptName + ".", 0) != 0 || entry.path().extension() != ".rec")
            continue;
        if (file.find('.', scriptName.size() + 1) != file.size() - 4)
            continue; // another script whose name starts with this one
        std::ifstream in(entry.path());
        ProcessRecord record;
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("pid=", 0) == 0)
                record.Pid = std::atoi(line.c_str() + 4);
            else if (line.rfind("cwd=", 0) == 0)
                record.Folder = line.substr(4);
            else if (line.rfind("arg=", 0) == 0)
                record.Arguments.push_back(line.substr(4));
        }
        records.push_back(std::move(record));
    }
    return records;
}

// Polls until count records of the script are there, for at most the time-out.
inline std::vector<ProcessRecord> WaitForRecords(const std::string& recordFolder, const std::string& scriptName,
                                                 std::size_t count,
                                                 std::chrono::milliseconds timeout = std::chrono::seconds(10))
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        std::vector<ProcessRecord> records = ReadRecords(recordFolder, scriptName);
        if (records.size() >= count || std::chrono::steady_clock::now() >= deadline)
            return records;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

inline std::string Joined(const std::vector<std::string>& words)
{
    std::ostringstream out;
    for (std::size_t i = 0; i < words.size(); ++i)
        out << (i ? "|" : "") << words[i];
    return out.str();
}

// Puts a folder first on $PATH for the lifetime of the object.
class PathPrefix
{
public:
    explicit PathPrefix(const std::string& folder)
    {
        const char* old = std::getenv("PATH");
        m_hadPath = old != nullptr;
        m_old = old ? old : "";
        const std::string value = folder + (m_old.empty() ? "" : ":" + m_old);
        ::setenv("PATH", value.c_str(), 1);
    }
    ~PathPrefix()
    {
        if (m_hadPath)
            ::setenv("PATH", m_old.c_str(), 1);
        else
            ::unsetenv("PATH");
    }
    PathPrefix(const PathPrefix&) = delete;
    PathPrefix& operator=(const PathPrefix&) = delete;

private:
    bool m_hadPath = false;
    std::string m_old;
};

} // namespace kavo::test
