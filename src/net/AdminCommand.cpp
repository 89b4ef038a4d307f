#include "net/AdminCommand.h"

#include "net/HttpClient.h"

namespace kavo {

AdminCommandWorker::AdminCommandWorker(Dispatcher dispatcher, int timeoutSeconds)
    : m_dispatcher(std::move(dispatcher)), m_timeoutSeconds(timeoutSeconds)
{}

AdminCommandWorker::~AdminCommandWorker()
{
    *m_alive = false;
    if (m_worker.joinable())
        m_worker.join();
}

bool AdminCommandWorker::Start(const std::string& url, std::function<void()> onEnd)
{
    if (m_running)
        return false;
    // The previous worker has posted its end already; only its thread is left to collect.
    if (m_worker.joinable())
        m_worker.join();
    m_running = true;
    std::weak_ptr<bool> alive = m_alive;
    const auto finish = [this, alive, onEnd = std::move(onEnd)] {
        const auto locked = alive.lock();
        if (!locked || !*locked)
            return;
        m_running = false;
        if (onEnd)
            onEnd();
    };
    try {
        m_worker = std::thread([this, url, finish] {
            try {
                HttpClient http;
                HttpOptions options;
                options.TimeoutSeconds = m_timeoutSeconds;
                options.UserAgent = UserAgent;
                http.Apply(options);
                http.Get(url);
            } catch (...) {
                // Whatever went wrong, the command is over.
            }
            m_dispatcher(finish);
        });
    } catch (...) {
        m_running = false;
        throw;
    }
    return true;
}

} // namespace kavo
