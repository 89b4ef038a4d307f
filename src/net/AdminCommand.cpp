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
    return Start(url, [onEnd = std::move(onEnd)](const std::string&) {
        if (onEnd)
            onEnd();
    });
}

bool AdminCommandWorker::Start(const std::string& url, std::function<void(const std::string& failure)> onEnd)
{
    if (m_running)
        return false;
    // The previous worker has posted its end already; only its thread is left to collect.
    if (m_worker.joinable())
        m_worker.join();
    m_running = true;
    std::weak_ptr<bool> alive = m_alive;
    auto finish = [this, alive, onEnd = std::move(onEnd)](const std::string& failure) {
        const auto locked = alive.lock();
        if (!locked || !*locked)
            return;
        m_running = false;
        if (onEnd)
            onEnd(failure);
    };
    try {
        m_worker = std::thread([this, url, finish = std::move(finish)] {
            std::string failure;
            try {
                HttpClient http;
                HttpOptions options;
                options.TimeoutSeconds = m_timeoutSeconds;
                options.UserAgent = UserAgent;
                http.Apply(options);
                const HttpResponse response = http.Get(url);
                // An answer without content, or cut short, still carried the command.
                if (response.Failure != HttpFailure::Other)
                    failure = FailureText(response);
            } catch (const std::exception& error) {
                failure = error.what();
            } catch (...) {
                failure = "unknown failure";
            }
            m_dispatcher([finish, failure] { finish(failure); });
        });
    } catch (...) {
        m_running = false;
        throw;
    }
    return true;
}

} // namespace kavo
