#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace kavo::test {

enum class BodyEncoding {
    Identity,
    Gzip,
    Deflate,    // zlib format, as the HTTP standard names it
    RawDeflate, // deflate data without the zlib wrapper, as some servers send it
};

// One answer of the test server.
struct HttpReply
{
    int Status = 200;
    std::string Reason = "OK";
    std::vector<std::pair<std::string, std::string>> Headers;
    std::string Body;
    // The server compresses Body and names the encoding, unless BodyIsEncoded says it already is.
    BodyEncoding Encoding = BodyEncoding::Identity;
    bool BodyIsEncoded = false;
    // An HTTP/1.0 answer without Content-Length: the body ends when the server closes.
    bool Http10 = false;
    // Waits this long before answering.
    std::chrono::milliseconds Delay{0};
    // Announces the whole body, sends this many bytes of it and closes the connection.
    std::size_t CloseAfter = static_cast<std::size_t>(-1);
    // Closes the connection without a byte of answer.
    bool CloseWithoutAnswer = false;
    // Instead of Body: this many bytes of filler without Content-Length, until the client gives up.
    std::uint64_t StreamBytes = 0;
    // Sends the body DripBytes at a time with DripInterval between the pieces (0: all at once).
    std::size_t DripBytes = 0;
    std::chrono::milliseconds DripInterval{0};

    static HttpReply Ok(std::string body, BodyEncoding encoding = BodyEncoding::Identity);
    static HttpReply Redirect(std::string location, int status = 302);
    static HttpReply Error(int status, std::string reason);
};

// Encodes the text as the server would send it.
std::string Encode(std::string_view body, BodyEncoding encoding);
// A small gzip body that inflates to `inflatedBytes` zero bytes.
std::string GzipBomb(std::uint64_t inflatedBytes);

// A request as the server received it.
struct HttpRequest
{
    std::string Method;
    std::string Target; // as sent: origin form, or absolute form through a proxy
    std::string Version;
    std::vector<std::pair<std::string, std::string>> Headers;

    // The first header of that name (without regard to case); "" when there is none.
    std::string Header(std::string_view name) const;
    bool HasHeader(std::string_view name) const;
    // The target's path without the query, also for absolute targets.
    std::string Path() const;
};

// An HTTP server on 127.0.0.1 at a free port, for tests. Every connection gets one answer and is
// closed. Paths without a route get 404. Connections, request sizes and waits are bounded so that
// a misbehaving client cannot hang a test; the destructor stops everything.
class TestHttpServer
{
public:
    TestHttpServer();
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    int Port() const { return m_port; }
    // "http://127.0.0.1:<port>" + path.
    std::string Url(std::string_view path = "/") const;

    // Answers requests for this path (the part before "?") with the reply, replacing an earlier one.
    void Route(const std::string& path, HttpReply reply);
    std::vector<HttpRequest> Requests() const;
    std::vector<HttpRequest> RequestsFor(const std::string& path) const;
    void ClearRequests();

private:
    void acceptLoop();
    void serve(int fd);
    bool wait(std::chrono::milliseconds delay);
    bool sendAll(int fd, std::string_view data);

    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_lock;
    std::condition_variable m_stopped;
    std::map<std::string, HttpReply> m_routes;
    std::vector<HttpRequest> m_requests;
    std::vector<std::thread> m_connections;
    std::thread m_acceptor;
};

} // namespace kavo::test
