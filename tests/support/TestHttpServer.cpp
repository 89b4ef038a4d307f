#include "support/TestHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <stdexcept>

namespace kavo::test {

namespace {

constexpr std::size_t MaxConnections = 512;
constexpr std::size_t MaxRequestHead = 64 * 1024;
constexpr auto ReadLimit = std::chrono::seconds(5);
constexpr auto WriteLimit = std::chrono::seconds(20);
constexpr int PollSliceMs = 50;

bool SameText(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// Deflates input in pieces, so that a large text (or a bomb) never needs a second copy in memory.
class Deflater
{
public:
    explicit Deflater(int windowBits)
    {
        if (deflateInit2(&m_stream, Z_BEST_COMPRESSION, Z_DEFLATED, windowBits, 9, Z_DEFAULT_STRATEGY) != Z_OK)
            throw std::runtime_error("deflateInit2 failed");
    }
    ~Deflater() { deflateEnd(&m_stream); }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    void Feed(std::string_view data, bool last)
    {
        m_stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
        m_stream.avail_in = static_cast<uInt>(data.size());
        char buffer[16384];
        int rc;
        do {
            m_stream.next_out = reinterpret_cast<Bytef*>(buffer);
            m_stream.avail_out = sizeof buffer;
            rc = deflate(&m_stream, last ? Z_FINISH : Z_NO_FLUSH);
            Out.append(buffer, sizeof buffer - m_stream.avail_out);
        } while (m_stream.avail_out == 0 || (last && rc != Z_STREAM_END));
    }

    std::string Out;

private:
    z_stream m_stream{};
};

int WindowBits(BodyEncoding encoding)
{
    switch (encoding) {
    case BodyEncoding::Gzip:
        return 15 + 16;
    case BodyEncoding::RawDeflate:
        return -15;
    default:
        return 15;
    }
}

} // namespace

HttpReply HttpReply::Ok(std::string body, BodyEncoding encoding)
{
    HttpReply reply;
    reply.Body = std::move(body);
    reply.Encoding = encoding;
    return reply;
}

HttpReply HttpReply::Redirect(std::string location, int status)
{
    HttpReply reply;
    reply.Status = status;
    reply.Reason = "Found";
    reply.Headers.emplace_back("Location", std::move(location));
    return reply;
}

HttpReply HttpReply::Error(int status, std::string reason)
{
    HttpReply reply;
    reply.Status = status;
    reply.Reason = std::move(reason);
    reply.Body = "<html><body>" + std::to_string(status) + "</body></html>";
    return reply;
}

std::string Encode(std::string_view body, BodyEncoding encoding)
{
    if (encoding == BodyEncoding::Identity)
        return std::string(body);
    Deflater deflater(WindowBits(encoding));
    deflater.Feed(body, true);
    return std::move(deflater.Out);
}

std::string GzipBomb(std::uint64_t inflatedBytes)
{
    Deflater deflater(WindowBits(BodyEncoding::Gzip));
    const std::string zeros(1 << 20, '\0');
    while (inflatedBytes > 0) {
        const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(inflatedBytes, zeros.size()));
        inflatedBytes -= piece;
        deflater.Feed(std::string_view(zeros.data(), piece), inflatedBytes == 0);
    }
    return std::move(deflater.Out);
}

std::string HttpRequest::Header(std::string_view name) const
{
    for (const auto& [key, value] : Headers)
        if (SameText(key, name))
            return value;
    return {};
}

bool HttpRequest::HasHeader(std::string_view name) const
{
    return std::any_of(Headers.begin(), Headers.end(),
                       [&](const auto& header) { return SameText(header.first, name); });
}

std::string HttpRequest::Path() const
{
    std::string_view target = Target;
    if (const std::size_t scheme = target.find("://"); scheme != std::string_view::npos) {
        const std::size_t slash = target.find('/', scheme + 3);
        target = slash == std::string_view::npos ? "/" : target.substr(slash);
    }
    return std::string(target.substr(0, target.find('?')));
}

TestHttpServer::TestHttpServer()
{
    m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listen < 0)
        throw std::runtime_error("socket failed");
    const int on = 1;
    setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(m_listen, 64) != 0 ||
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(m_listen);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    m_port = ntohs(address.sin_port);
    m_acceptor = std::thread([this] { acceptLoop(); });
}

TestHttpServer::~TestHttpServer()
{
    {
        std::lock_guard lock(m_lock);
        m_stop = true;
    }
    m_stopped.notify_all();
    m_acceptor.join();
    std::vector<std::thread> connections;
    {
        std::lock_guard lock(m_lock);
        connections.swap(m_connections);
    }
    for (std::thread& connection : connections)
        connection.join();
    close(m_listen);
}

std::string TestHttpServer::Url(std::string_view path) const
{
    return "http://127.0.0.1:" + std::to_string(m_port) + std::string(path);
}

void TestHttpServer::Route(const std::string& path, HttpReply reply)
{
    std::lock_guard lock(m_lock);
    m_routes[path] = std::move(reply);
}

std::vector<HttpRequest> TestHttpServer::Requests() const
{
    std::lock_guard lock(m_lock);
    return m_requests;
}

std::vector<HttpRequest> TestHttpServer::RequestsFor(const std::string& path) const
{
    std::vector<HttpRequest> found;
    for (HttpRequest& request : Requests())
        if (request.Path() == path)
            found.push_back(std::move(request));
    return found;
}

void TestHttpServer::ClearRequests()
{
    std::lock_guard lock(m_lock);
    m_requests.clear();
}

void TestHttpServer::acceptLoop()
{
    std::size_t accepted = 0;
    while (!m_stop) {
        pollfd entry{m_listen, POLLIN, 0};
        if (poll(&entry, 1, PollSliceMs) <= 0)
            continue;
        const int fd = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        if (++accepted > MaxConnections) {
            close(fd);
            continue;
        }
        std::lock_guard lock(m_lock);
        m_connections.emplace_back([this, fd] {
            serve(fd);
            close(fd);
        });
    }
}

bool TestHttpServer::wait(std::chrono::milliseconds delay)
{
    std::unique_lock lock(m_lock);
    return !m_stopped.wait_for(lock, delay, [this] { return m_stop.load(); });
}

bool TestHttpServer::sendAll(int fd, std::string_view data)
{
    const auto deadline = std::chrono::steady_clock::now() + WriteLimit;
    while (!data.empty()) {
        if (m_stop || std::chrono::steady_clock::now() > deadline)
            return false;
        pollfd entry{fd, POLLOUT, 0};
        if (poll(&entry, 1, PollSliceMs) <= 0)
            continue;
        const ssize_t sent = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EAGAIN || errno == EINTR)
                continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

void TestHttpServer::serve(int fd)
{
    // The request head, within a time and size limit.
    std::string head;
    const auto deadline = std::chrono::steady_clock::now() + ReadLimit;
    while (head.find("\r\n\r\n") == std::string::npos) {
        if (m_stop || std::chrono::steady_clock::now() > deadline || head.size() > MaxRequestHead)
            return;
        pollfd entry{fd, POLLIN, 0};
        if (poll(&entry, 1, PollSliceMs) <= 0)
            continue;
        char buffer[4096];
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            return;
        head.append(buffer, static_cast<std::size_t>(got));
    }

    HttpRequest request;
    std::string_view rest(head.data(), head.find("\r\n\r\n"));
    bool first = true;
    while (!rest.empty()) {
        const std::size_t end = rest.find("\r\n");
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 2);
        if (first) {
            first = false;
            const std::size_t a = line.find(' ');
            const std::size_t b = line.rfind(' ');
            if (a == std::string_view::npos || b == a)
                return;
            request.Method = line.substr(0, a);
            request.Target = line.substr(a + 1, b - a - 1);
            request.Version = line.substr(b + 1);
            continue;
        }
        const std::size_t colon = line.find(':');
        if (colon != std::string_view::npos)
            request.Headers.emplace_back(std::string(Trim(line.substr(0, colon))),
                                         std::string(Trim(line.substr(colon + 1))));
    }

    HttpReply reply;
    {
        std::lock_guard lock(m_lock);
        m_requests.push_back(request);
        const auto route = m_routes.find(request.Path());
        reply = route != m_routes.end() ? route->second : HttpReply::Error(404, "Not Found");
    }
    if (reply.Delay.count() > 0 && !wait(reply.Delay))
        return;
    if (reply.CloseWithoutAnswer) {
        shutdown(fd, SHUT_RDWR);
        return;
    }

    const std::string body = reply.BodyIsEncoded ? reply.Body : Encode(reply.Body, reply.Encoding);
    std::string answer = std::string(reply.Http10 ? "HTTP/1.0 " : "HTTP/1.1 ") + std::to_string(reply.Status) + " " +
                         reply.Reason + "\r\nConnection: close\r\n";
    if (reply.Encoding == BodyEncoding::Gzip)
        answer += "Content-Encoding: gzip\r\n";
    else if (reply.Encoding != BodyEncoding::Identity)
        answer += "Content-Encoding: deflate\r\n";
    if (!reply.Http10 && reply.StreamBytes == 0)
        answer += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    for (const auto& [name, value] : reply.Headers)
        answer += name + ": " + value + "\r\n";
    answer += "\r\n";
    if (!sendAll(fd, answer))
        return;

    if (reply.StreamBytes > 0) {
        const std::string filler(64 * 1024, 'x');
        for (std::uint64_t left = reply.StreamBytes; left > 0;) {
            const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(left, filler.size()));
            if (!sendAll(fd, std::string_view(filler.data(), piece)))
                return;
            left -= piece;
        }
    } else {
        std::string_view rest = std::string_view(body).substr(0, std::min(body.size(), reply.CloseAfter));
        const std::size_t piece = reply.DripBytes > 0 ? reply.DripBytes : rest.size();
        while (!rest.empty()) {
            const std::string_view now = rest.substr(0, piece);
            rest.remove_prefix(now.size());
            if (!sendAll(fd, now) || (!rest.empty() && reply.DripInterval.count() > 0 && !wait(reply.DripInterval)))
                return;
        }
    }
    // An orderly close: the client sees the end of the stream, not a reset.
    shutdown(fd, SHUT_WR);
    char drain[512];
    for (int i = 0; i < 20; ++i) {
        pollfd entry{fd, POLLIN, 0};
        if (poll(&entry, 1, PollSliceMs) <= 0 || recv(fd, drain, sizeof drain, 0) <= 0)
            break;
    }
}

} // namespace kavo::test
