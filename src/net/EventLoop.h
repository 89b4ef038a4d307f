#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <utility>

namespace kavo {

// A queue of jobs for the thread that owns it: the main loop of a program without a GUI, and of
// the tests. Any thread may post; the owner runs the jobs.
class EventLoop
{
public:
    using Job = std::function<void()>;

    void Post(Job job)
    {
        {
            std::lock_guard lock(m_lock);
            m_jobs.push_back(std::move(job));
        }
        m_wake.notify_all();
    }

    // A dispatcher for the engine, valid as long as the loop lives.
    std::function<void(Job)> Dispatcher()
    {
        return [this](Job job) { Post(std::move(job)); };
    }

    // Runs the jobs posted so far; the number run.
    int RunPending()
    {
        std::deque<Job> jobs;
        {
            std::lock_guard lock(m_lock);
            jobs.swap(m_jobs);
        }
        for (Job& job : jobs)
            job();
        return static_cast<int>(jobs.size());
    }

    // Runs jobs as they come until done() holds; false when the limit passed first.
    template <class Done>
    bool RunUntil(Done&& done, std::chrono::steady_clock::duration limit)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            std::unique_lock lock(m_lock);
            if (!m_wake.wait_until(lock, deadline, [this] { return !m_jobs.empty(); }))
                return done();
            lock.unlock();
            RunPending();
        }
        return true;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
};

} // namespace kavo
