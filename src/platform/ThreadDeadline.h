#pragma once

#include <chrono>
#include <optional>

namespace kavo {

// A deadline for the blocking calls of the calling thread. Whoever bounds a task (a script's run)
// sets it for the task's length, and blocking calls beneath it (HTTP requests) end by it, however
// far down they are.
class ScopedThreadDeadline
{
public:
    explicit ScopedThreadDeadline(std::optional<std::chrono::steady_clock::time_point> deadline) : m_previous(current())
    {
        if (deadline && (!m_previous || *deadline < *m_previous))
            current() = deadline;
    }
    ~ScopedThreadDeadline() { current() = m_previous; }
    ScopedThreadDeadline(const ScopedThreadDeadline&) = delete;
    ScopedThreadDeadline& operator=(const ScopedThreadDeadline&) = delete;

    // The nearest deadline set on this thread, if any.
    static std::optional<std::chrono::steady_clock::time_point> Current() { return current(); }

private:
    static std::optional<std::chrono::steady_clock::time_point>& current()
    {
        thread_local std::optional<std::chrono::steady_clock::time_point> deadline;
        return deadline;
    }

    std::optional<std::chrono::steady_clock::time_point> m_previous;
};

} // namespace kavo
