#pragma once

#include "net/HttpClient.h"
#include "net/IndexSource.h"

#include <memory>

namespace kavo {

// The YP's index.txt over HTTP, asked for with the local server's address (`Host`). Holds the
// client of the retrieval, whose connections and cookies last from one refresh to the next until a
// failure replaces it.
class HttpIndexSource final : public IndexSource
{
public:
    // For the client there is and for every client made later. The client itself is made on first
    // use: loading the HTTP library at start would hold back the first window.
    void Apply(const HttpOptions& options);
    const HttpOptions& Options() const { return m_options; }
    HttpClient& Client();
    // A fresh client: open connections and cookies are dropped.
    void Reset();

    FetchedIndex Fetch(const YpRecord& yp) override;

private:
    HttpOptions m_options;
    std::unique_ptr<HttpClient> m_client;
};

} // namespace kavo
