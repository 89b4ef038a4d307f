#pragma once

#include <exception>
#include <string>

namespace kavo {

// Debug mode: while it is on, exceptions that handlers swallow are written with a stack trace to
// "kavo-debug.log" in the program folder. Nothing is written while it is off. Main thread only.
namespace DebugLog {
void SetEnabled(bool on);
bool Enabled();
std::string FilePath();
// Writes where it was caught, what it says and the stack at this point.
void Exception(const char* where, const std::exception_ptr& error);
// Writes one line of what happened where. While debug mode is off the last lines wait and are
// written when it is switched on, so a problem met at start-up is not lost.
void Line(const char* where, const std::string& text);

// Runs a user-interface handler; an exception it throws leaves the window as it was and is logged.
template <class F>
void Guarded(const char* where, F&& handler)
{
    try {
        handler();
    } catch (...) {
        Exception(where, std::current_exception());
    }
}
} // namespace DebugLog

} // namespace kavo
