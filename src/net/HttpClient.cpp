#include "net/HttpClient.h"

#include "platform/LazyLibrary.h"

#include <curl/curl.h>

#include <algorithm>
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

const std::string& TooLargeMessage()
{
    static const std::string message =
        "the answer is larger than " + std::to_string(HttpClient::MaxBodyBytes >> 20) + " MiB";
    return message;
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
    bool TooLarge = false;
    char ErrorText[CURL_ERROR_SIZE] = {};

    static std::size_t Write(char* data, std::size_t size, std::size_t count, void* user)
    {
        auto& transfer = *static_cast<Transfer*>(user);
        const std::size_t bytes = size * count;
        // An error page is not an index: stop reading it.
        if (transfer.Status >= 400)
            return 0;
        if (bytes > MaxBodyBytes - transfer.Body.size()) {
            transfer.TooLarge = true;
            return 0;
        }
        transfer.Body.append(data, bytes);
        return bytes;
    }

    static std::size_t Header(char* data, std::size_t size, std::size_t count, void* user)
    {
        auto& transfer = *static_cast<Transfer*>(user);
        const std::size_t bytes = size * count;
        std::string_view line(data, bytes);
        if (line.starts_with("HTTP/")) {
            while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
                line.remove_suffix(1);
            transfer.StatusLine = line;
            transfer.Status = 0;
            const std::size_t blank = line.find(' ');
            if (blank != std::string_view::npos)
                for (std::size_t i = blank + 1; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i)
                    transfer.Status = transfer.Status * 10 + (line[i] - '0');
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
    // libcurl sends exactly this list and inflates what it names.
    api.easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, AcceptEncoding);
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
    if (!options.UserAgent.empty())
        api.easy_setopt(curl, CURLOPT_USERAGENT, options.UserAgent.c_str());
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
    if (transfer.TooLarge || code == CURLE_FILESIZE_EXCEEDED) {
        response.Error = TooLargeMessage();
    } else if (transfer.Status >= 400) {
        response.Error = transfer.StatusLine;
    } else if (code == CURLE_OK) {
        response.Outcome = HttpOutcome::Complete;
        response.Body = std::move(transfer.Body);
    } else if (code == CURLE_PARTIAL_FILE || code == CURLE_GOT_NOTHING) {
        response.Outcome = HttpOutcome::ClosedEarly;
    } else {
        response.Error = transfer.ErrorText[0] ? transfer.ErrorText : api.easy_strerror(code);
    }
    return response;
}

} // namespace kavo
