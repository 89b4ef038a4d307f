#include "net/HttpClient.h"

#include "net/ContentDecoder.h"
#include "platform/Cp932.h"
#include "platform/LazyLibrary.h"
#include "platform/ThreadDeadline.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <memory>
#include <string_view>

namespace kavo {

// The functions of libcurl that the client calls.
struct CurlApi
{
    decltype(&::curl_global_init) global_init;
    decltype(&::curl_easy_init) easy_init;
    decltype(&::curl_easy_setopt) easy_setopt;
    decltype(&::curl_easy_perform) easy_perform;
    decltype(&::curl_easy_cleanup) easy_cleanup;
    decltype(&::curl_easy_strerror) easy_strerror;
    decltype(&::curl_slist_append) slist_append;
    decltype(&::curl_slist_free_all) slist_free_all;
    decltype(&::curl_version_info) version_info;

    bool Bind(const DynamicLibrary& library, std::string& error)
    {
        return BindFunction(library, "curl_global_init", global_init, error) &&
               BindFunction(library, "curl_easy_init", easy_init, error) &&
               BindFunction(library, "curl_easy_setopt", easy_setopt, error) &&
               BindFunction(library, "curl_easy_perform", easy_perform, error) &&
               BindFunction(library, "curl_easy_cleanup", easy_cleanup, error) &&
               BindFunction(library, "curl_easy_strerror", easy_strerror, error) &&
               BindFunction(library, "curl_slist_append", slist_append, error) &&
               BindFunction(library, "curl_slist_free_all", slist_free_all, error) &&
               BindFunction(library, "curl_version_info", version_info, error) && Initialize(error);
    }

    bool Initialize(std::string& error) const
    {
        const CURLcode code = global_init(CURL_GLOBAL_DEFAULT);
        if (code != CURLE_OK)
            error = std::string("curl_global_init failed: ") + easy_strerror(code);
        return code == CURLE_OK;
    }
};

namespace {

// libcurl, loaded with the first client; null when it cannot be loaded.
LazyLibrary<CurlApi>& CurlLibrary()
{
    // Never unloaded: a worker may still be in a transfer while the program ends.
    static auto* library = new LazyLibrary<CurlApi>("libcurl.so.4");
    return *library;
}

CURL* Handle(void* curl)
{
    return static_cast<CURL*>(curl);
}

long DeadlineSeconds(const HttpOptions& options)
{
    return 2L * std::max(1, options.TimeoutSeconds);
}

const std::string& TooLargeMessage()
{
    static const std::string message =
        "the answer is larger than " + std::to_string(HttpClient::MaxBodyBytes >> 20) + " MiB";
    return message;
}

bool SameHeaderName(std::string_view line, std::string_view name)
{
    if (line.size() <= name.size() || line[name.size()] != ':')
        return false;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(line[i])) != name[i])
            return false;
    return true;
}

// 2xx answers other than "no content" carry a body; anything else left after the redirects (304,
// a redirect without a usable Location, an interim answer) is no index.
bool CarriesBody(long status)
{
    return status >= 200 && status < 300 && status != 204 && status != 205;
}

} // namespace

CurlVersion LibcurlVersion()
{
    CurlVersion version;
    const CurlApi* api = CurlLibrary().Get();
    if (!api)
        return version;
    if (const curl_version_info_data* info = api->version_info(CURLVERSION_NOW)) {
        version.Version = info->version ? info->version : "";
        version.Tls = info->ssl_version ? info->ssl_version : "";
    }
    return version;
}

// The state of one request, shared with libcurl's callbacks.
struct HttpClient::Transfer
{
    std::string Body;
    std::string StatusLine; // of the last answer, after redirects
    long Status = 0;
    bool HeaderComplete = false;
    ContentEncoding Encoding = ContentEncoding::Identity;
    std::unique_ptr<ContentDecoder> Decoder;
    char ErrorText[CURL_ERROR_SIZE] = {};

    static std::size_t Write(char* data, std::size_t size, std::size_t count, void* user)
    {
        auto& transfer = *static_cast<Transfer*>(user);
        const std::size_t bytes = size * count;
        // An error page is not an index: stop reading it.
        if (transfer.Status >= 400)
            return 0;
        // Nor is the body of an answer that should have none.
        if (!CarriesBody(transfer.Status))
            return bytes;
        if (!transfer.Decoder)
            transfer.Decoder = std::make_unique<ContentDecoder>(transfer.Encoding, MaxBodyBytes);
        return transfer.Decoder->Feed(std::string_view(data, bytes), transfer.Body) ? bytes : 0;
    }

    static std::size_t Header(char* data, std::size_t size, std::size_t count, void* user)
    {
        auto& transfer = *static_cast<Transfer*>(user);
        const std::size_t bytes = size * count;
        std::string_view line(data, bytes);
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
            line.remove_suffix(1);
        if (line.starts_with("HTTP/")) {
            // Each answer (a redirect, an interim answer, the final one) starts afresh.
            transfer.StatusLine = line;
            transfer.Status = 0;
            transfer.HeaderComplete = false;
            transfer.Encoding = ContentEncoding::Identity;
            transfer.Decoder.reset();
            transfer.Body.clear();
            const std::size_t blank = line.find(' ');
            if (blank != std::string_view::npos)
                for (std::size_t i = blank + 1; i < line.size() && i < blank + 4 && line[i] >= '0' && line[i] <= '9';
                     ++i)
                    transfer.Status = transfer.Status * 10 + (line[i] - '0');
        } else if (line.empty()) {
            transfer.HeaderComplete = true;
        } else if (SameHeaderName(line, "content-encoding")) {
            transfer.Encoding = ContentEncodingOf(line.substr(17));
        }
        return bytes;
    }
};

HttpClient::HttpClient() : m_httpVersion(CURL_HTTP_VERSION_1_1)
{
    m_api = CurlLibrary().Get();
    if (!m_api)
        return;
    const CurlApi& api = *m_api;
    CURL* curl = api.easy_init();
    m_curl = curl;
    if (!curl)
        return;
    curl_slist* headers = nullptr;
    headers = api.slist_append(headers, "Accept: text/html, */*");
    headers = api.slist_append(headers, "Accept-Language: ja");
    m_headers = headers;

    api.easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    api.easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    api.easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    api.easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    api.easy_setopt(curl, CURLOPT_MAXREDIRS, 15L);
    api.easy_setopt(curl, CURLOPT_AUTOREFERER, 0L);
    api.easy_setopt(curl, CURLOPT_USERAGENT, UserAgent);
    api.easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    // libcurl sends exactly this list; the client inflates the answers itself, so that a stream
    // cut off before its end is noticed.
    api.easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, AcceptEncoding);
    api.easy_setopt(curl, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    // An empty name turns on the cookie engine without a file: cookies live as long as the client.
    api.easy_setopt(curl, CURLOPT_COOKIEFILE, "");
    api.easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(MaxBodyBytes));
    api.easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Transfer::Write);
    api.easy_setopt(curl, CURLOPT_HEADERFUNCTION, &Transfer::Header);
    api.easy_setopt(curl, CURLOPT_HTTP_VERSION, m_httpVersion);
    Apply(HttpOptions{});
}

HttpClient::~HttpClient()
{
    if (!m_api)
        return;
    const CurlApi& api = *m_api;
    if (m_curl)
        api.easy_cleanup(Handle(m_curl));
    api.slist_free_all(static_cast<curl_slist*>(m_headers));
}

void HttpClient::Apply(const HttpOptions& options)
{
    CURL* curl = Handle(m_curl);
    if (!curl)
        return;
    const CurlApi& api = *m_api;
    if (options.Protocol == 0)
        m_httpVersion = CURL_HTTP_VERSION_1_0;
    else if (options.Protocol == 1)
        m_httpVersion = CURL_HTTP_VERSION_1_1;
    api.easy_setopt(curl, CURLOPT_HTTP_VERSION, m_httpVersion);

    // An empty proxy also keeps the environment's proxy variables out.
    api.easy_setopt(curl, CURLOPT_PROXY, options.ProxyHost.c_str());
    api.easy_setopt(curl, CURLOPT_PROXYPORT, options.ProxyHost.empty() ? 0L : static_cast<long>(options.ProxyPort));

    const long seconds = std::max(1, options.TimeoutSeconds);
    api.easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, seconds);
    api.easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    api.easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, seconds);
    // A server that sends a byte now and then passes the rule above; the whole answer must be
    // there by this deadline.
    m_deadlineSeconds = DeadlineSeconds(options);
    if (!options.UserAgent.empty())
        api.easy_setopt(curl, CURLOPT_USERAGENT, options.UserAgent.c_str());
}

namespace {

HttpFailure FailureOf(CURLcode code)
{
    switch (code) {
    case CURLE_COULDNT_CONNECT:
        return HttpFailure::Refused;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return HttpFailure::NameNotFound;
    case CURLE_OPERATION_TIMEDOUT:
        return HttpFailure::TimedOut;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_USE_SSL_FAILED:
        return HttpFailure::Tls;
    default:
        return HttpFailure::Other;
    }
}

} // namespace

std::string FailureText(HttpFailure failure, long status, const std::string& message)
{
    std::string text;
    switch (failure) {
    case HttpFailure::Refused:
        text = Sjis("接続が拒否されました");
        break;
    case HttpFailure::NameNotFound:
        text = Sjis("サーバー名が見つかりません");
        break;
    case HttpFailure::TimedOut:
        text = Sjis("応答がなく時間切れになりました");
        break;
    case HttpFailure::Tls:
        text = Sjis("TLS (https) の接続に失敗しました");
        break;
    case HttpFailure::HttpStatus:
        text = Sjis("サーバーがエラーを返しました (HTTP ") + std::to_string(status) + ")";
        break;
    case HttpFailure::Other:
        return message;
    }
    return message.empty() ? text : text + " (" + message + ")";
}

HttpResponse HttpClient::Get(const std::string& url)
{
    HttpResponse response;
    CURL* curl = Handle(m_curl);
    if (!m_api) {
        response.Error = "the HTTP library could not be loaded: " + CurlLibrary().Error();
        return response;
    }
    if (!curl) {
        response.Error = "the HTTP client could not be created";
        return response;
    }
    const CurlApi& api = *m_api;
    // A task of this thread (a script's run) may have to end sooner than our own deadline.
    long timeoutMs = m_deadlineSeconds * 1000;
    if (const auto deadline = ScopedThreadDeadline::Current()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            response.Error = "timed out: no time is left for the request";
            return response;
        }
        timeoutMs = std::min<long>(timeoutMs, static_cast<long>(left));
    }
    api.easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeoutMs);
    Transfer transfer;
    api.easy_setopt(curl, CURLOPT_URL, url.c_str());
    api.easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    api.easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
    api.easy_setopt(curl, CURLOPT_ERRORBUFFER, transfer.ErrorText);
    const CURLcode code = api.easy_perform(curl);
    api.easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
    api.easy_setopt(curl, CURLOPT_WRITEDATA, nullptr);
    api.easy_setopt(curl, CURLOPT_HEADERDATA, nullptr);

    response.Status = transfer.Status;
    response.Failure = transfer.Status >= 400 ? HttpFailure::HttpStatus : FailureOf(code);
    const bool tooLarge = transfer.Decoder && transfer.Decoder->TooLarge();
    if (tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
        response.Error = TooLargeMessage();
    } else if (code == CURLE_OPERATION_TIMEDOUT) {
        // Either nothing came for the time-out or the whole answer missed its deadline.
        response.Error = transfer.ErrorText[0]
                             ? std::string("timed out: ") + transfer.ErrorText
                             : "timed out: no complete answer within " + std::to_string(timeoutMs) + " ms";
    } else if (transfer.Status >= 400) {
        response.Error = transfer.StatusLine;
    } else if (transfer.Decoder && !transfer.Decoder->Error().empty()) {
        response.Error = transfer.Decoder->Error();
    } else if (code == CURLE_OUT_OF_MEMORY && !transfer.HeaderComplete) {
        // libcurl refuses a header line (a Location, a cookie) beyond its limit this way.
        response.Error = "a header of the answer is too long";
    } else if (code == CURLE_OK) {
        if (!CarriesBody(transfer.Status)) {
            response.Error = transfer.StatusLine.empty() ? "the answer has no status line"
                                                         : "the answer carries no index: " + transfer.StatusLine;
            if (transfer.Status >= 300 && transfer.Status < 400)
                response.Error += " (no usable Location)";
        } else if (transfer.Decoder && !transfer.Decoder->Finish()) {
            response.Error = transfer.Decoder->Error();
        } else {
            response.Outcome = HttpOutcome::Complete;
            response.Body = std::move(transfer.Body);
        }
    } else if (code == CURLE_PARTIAL_FILE || code == CURLE_GOT_NOTHING) {
        response.Outcome = HttpOutcome::ClosedEarly;
    } else {
        response.Error = transfer.ErrorText[0] ? transfer.ErrorText : api.easy_strerror(code);
    }
    return response;
}

} // namespace kavo
