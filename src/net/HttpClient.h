#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kavo {

// What the retrieval module's HTTP client takes from the settings.
struct HttpOptions
{
    // 0 HTTP/1.0, 1 HTTP/1.1; any other value keeps the version the client already uses.
    int Protocol = -1;
    std::string ProxyHost; // "" for no proxy
    int ProxyPort = 0;
    // Bounds connecting and any stretch of the transfer in which nothing arrives; the whole answer
    // must have arrived within twice this time.
    int TimeoutSeconds = 60;
    // "" keeps the user agent the client already sends.
    std::string UserAgent;
};

enum class HttpOutcome {
    Complete,
    // The server closed the connection before the answer was complete: the body is not usable.
    ClosedEarly,
    Failed,
};

// The common kinds of failure, which a user is told in Japanese.
enum class HttpFailure : std::uint8_t {
    Other,
    Refused,      // no connection: refused, or nobody at the address
    NameNotFound, // the host's (or the proxy's) name did not resolve
    TimedOut,
    Tls,
    HttpStatus, // an answer of status 400 or above
};

struct HttpResponse
{
    HttpOutcome Outcome = HttpOutcome::Failed;
    long Status = 0;
    std::string Body;  // decoded
    std::string Error; // the failure's message
    HttpFailure Failure = HttpFailure::Other;
};

// A failure as a user reads it (CP932): "接続が拒否されました" and the like for the common kinds,
// then the library's own text in parentheses; the message alone for the others.
std::string FailureText(HttpFailure failure, long status, const std::string& message);
inline std::string FailureText(const HttpResponse& response)
{
    return FailureText(response.Failure, response.Status, response.Error);
}

// The version of libcurl and of the TLS library it uses ("OpenSSL/3.0.11"), as the loaded library
// reports them. Loads libcurl when no client has yet; empty texts when it cannot be loaded.
struct CurlVersion
{
    std::string Version;
    std::string Tls;
};
CurlVersion LibcurlVersion();

// A blocking HTTP client for one thread at a time. It keeps its connections and cookies until it
// is destroyed, offers "deflate, gzip, identity" and inflates such answers, follows redirects and
// sends the fixed headers the YPs have always seen. Only a 2xx answer with content is an index:
// 204, 304, a redirect it cannot follow and a compressed body cut off before its end are errors.
class HttpClient
{
public:
    // An answer larger than this after decoding is a failure: a compressed bomb or an endless body
    // must not take the memory.
    static constexpr std::size_t MaxBodyBytes = std::size_t{32} << 20;

    static constexpr const char* UserAgent = "Mozilla/4.0 (compatible; MSIE; Windows NT)";
    static constexpr const char* AcceptEncoding = "deflate, gzip, identity";

    HttpClient();
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    void Apply(const HttpOptions& options);
    HttpResponse Get(const std::string& url);

private:
    struct Transfer;
    void* m_curl = nullptr;                // CURL*
    void* m_headers = nullptr;             // curl_slist*
    const struct CurlApi* m_api = nullptr; // libcurl's functions; null when it could not be loaded
    long m_httpVersion;
    long m_deadlineSeconds = 120;
};

} // namespace kavo
