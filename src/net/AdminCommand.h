#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

namespace kavo {

// The admin command for a channel at the local server whose status page is statusAddress: same
// scheme, credentials, host and port, so that a password the status page needs reaches every admin
// request. "" when the address names no host.
std::string AdminCommandUrl(const std::string& statusAddress, std::string_view command, std::string_view hash);

// An answer that asks for a password instead of carrying out the command: 401, or a page with a
// password field (a server that logs in through a form).
bool AsksForLogin(long status, std::string_view body);

// Sends the stop and bump commands to the local PeerCast server: one GET at a time on a thread of
// its own, with the headers the server's admin pages have always seen. The answer is dropped; the
// caller learns that the command is over, and why it failed when it did.
class AdminCommandWorker
{
public:
    using Dispatcher = std::function<void(std::function<void()>)>;

    static constexpr const char* UserAgent = "Mozilla/3.0 (compatible; Indy Library)";

    // dispatcher runs a job on the main thread. timeoutSeconds bounds connecting and any stretch of
    // the answer in which nothing arrives, so that a hung server cannot hold the commands back.
    explicit AdminCommandWorker(Dispatcher dispatcher, int timeoutSeconds = 10);
    // Waits for a request still running; its end is then not reported.
    ~AdminCommandWorker();
    AdminCommandWorker(const AdminCommandWorker&) = delete;
    AdminCommandWorker& operator=(const AdminCommandWorker&) = delete;

    // Starts the request and returns at once; onEnd runs through the dispatcher when it is over.
    // False, and nothing is sent, while another command runs. Main thread.
    bool Start(const std::string& url, std::function<void()> onEnd);
    // As above; onEnd gets "" when the server took the command, else why not (CP932). A server
    // that asks for a password did not take it.
    bool Start(const std::string& url, std::function<void(const std::string& failure)> onEnd);
    // From Start until onEnd has run.
    bool Running() const { return m_running; }

private:
    Dispatcher m_dispatcher;
    int m_timeoutSeconds;
    std::atomic<bool> m_running{false};
    std::thread m_worker;
    // Lets an end that arrives after destruction see that the worker is gone.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace kavo
