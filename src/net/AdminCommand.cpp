#include "net/AdminCommand.h"

#include "net/HttpClient.h"
#include "platform/Cp932.h"

#include <algorithm>
#include <cctype>

namespace kavo {

std::string AdminCommandUrl(const std::string& statusAddress, std::string_view command, std::string_view hash)
{
    std::string scheme = "http";
    std::string_view rest = statusAddress;
    if (const std::size_t separator = rest.find("://"); separator != std::string_view::npos) {
        scheme = rest.substr(0, separator);
        rest.remove_prefix(separator + 3);
    }
    const std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    const std::size_t at = authority.rfind('@');
    const std::string_view host = at == std::string_view::npos ? authority : authority.substr(at + 1);
    if (scheme.empty() || host.empty() || host.front() == ':')
        return {};
    std::string url = scheme;
    url.append("://").append(authority).append("/admin?cmd=").append(command).append("&id=").append(hash);
    return url;
}

bool AsksForLogin(long status, std::string_view body)
{
    if (status == 401)
        return true;
    std::string lower(body);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    std::erase_if(lower, [](char c) { return c == '"' || c == '\'' || c == ' '; });
    return lower.find("type=password") != std::string::npos;
}

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
                if (AsksForLogin(response.Status, response.Body))
                    failure = Sjis("PeerCastがパスワードを求めています。状態取得のアドレスに "
                                   "http://ユーザー名:パスワード@ホスト:ポート/... の形で入れてください");
                else if (response.Failure != HttpFailure::Other)
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
