#include "ui/app/DebugLog.h"

#include "platform/DateTime.h"
#include "platform/Process.h"
#include "platform/ProgramFolder.h"

#include <cxxabi.h>
#include <execinfo.h>

#include <array>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <typeinfo>

namespace kavo {
namespace DebugLog {
namespace {

bool g_enabled = false;
// Lines that came while debug mode was off, written when it is switched on; only the last ones.
constexpr std::size_t KeptLines = 100;
std::deque<std::string> g_pendingLines;

std::string Describe(const std::exception_ptr& error)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const std::exception& e) {
        int status = 0;
        char* name = abi::__cxa_demangle(typeid(e).name(), nullptr, nullptr, &status);
        std::string text = std::string(status == 0 && name ? name : typeid(e).name()) + ": " + e.what();
        std::free(name);
        return text;
    } catch (...) {
        return "unknown exception";
    }
    return "no exception";
}

} // namespace

void SetEnabled(bool on)
{
    g_enabled = on;
    // What the started programs (the PeerCast server above all) say helps only while debugging.
    SetStartedProgramOutput(on ? ProgramFolder() + "/kavo-programs.log" : std::string());
    if (!on || g_pendingLines.empty())
        return;
    if (std::ofstream out(FilePath(), std::ios::app); out)
        for (const std::string& line : g_pendingLines)
            out << line << "\n";
    g_pendingLines.clear();
}

bool Enabled()
{
    return g_enabled;
}

std::string FilePath()
{
    return ProgramFolder() + "/kavo-debug.log";
}

void Exception(const char* where, const std::exception_ptr& error)
{
    if (!g_enabled)
        return;
    std::ofstream out(FilePath(), std::ios::app);
    if (!out)
        return;
    out << FormatMonthDayTime(Now()) << " " << where << ": " << Describe(error) << "\n";
    std::array<void*, 64> frames{};
    const int count = backtrace(frames.data(), static_cast<int>(frames.size()));
    if (char** symbols = backtrace_symbols(frames.data(), count)) {
        for (int i = 1; i < count; ++i)
            out << "    " << symbols[i] << "\n";
        std::free(symbols);
    }
    out << "\n";
}

void Line(const char* where, const std::string& text)
{
    std::string line = FormatMonthDayTime(Now()) + " " + where + ": " + text;
    if (!g_enabled) {
        if (g_pendingLines.size() == KeptLines)
            g_pendingLines.pop_front();
        g_pendingLines.push_back(std::move(line));
        return;
    }
    if (std::ofstream out(FilePath(), std::ios::app); out)
        out << line << "\n";
}

} // namespace DebugLog

} // namespace kavo
