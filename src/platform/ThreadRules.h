#pragma once

#include <thread>

// Checks of the rules that say which thread may call what, and when. They are compiled in debug and
// sanitizer builds (KAVO_THREAD_CHECKS); elsewhere they expand to nothing and their arguments are
// not evaluated. A broken rule aborts with the rule and the function that broke it.

namespace kavo {

// The thread that made an object: its main thread, for the objects that belong to it.
class OwnerThread
{
public:
    bool IsCurrent() const { return m_id == std::this_thread::get_id(); }

private:
    std::thread::id m_id = std::this_thread::get_id();
};

// Writes "thread rule broken: <rule>, in <function>" to the error output and aborts.
[[noreturn]] void BreakThreadRule(const char* rule, const char* function);

} // namespace kavo

#ifdef KAVO_THREAD_CHECKS
#define KAVO_THREAD_RULE(holds, rule)                                                                                  \
    ((holds) ? static_cast<void>(0) : ::kavo::BreakThreadRule(rule, static_cast<const char*>(__PRETTY_FUNCTION__)))
#else
#define KAVO_THREAD_RULE(holds, rule) static_cast<void>(0)
#endif

// The caller runs on the thread that made owner (an OwnerThread).
#define KAVO_ON_MAIN_THREAD(owner) KAVO_THREAD_RULE((owner).IsCurrent(), "on the main thread")
// No refresh runs; running is what the retrieval module knows of its own refresh.
#define KAVO_NO_REFRESH_RUNNING(running) KAVO_THREAD_RULE(!(running), "no refresh running")
