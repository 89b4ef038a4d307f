#include "net/HttpIndexSource.h"

#include "core/TkavoYpItem.h"

namespace kavo {

void HttpIndexSource::Apply(const HttpOptions& options)
{
    m_options = options;
    if (m_client)
        m_client->Apply(m_options);
}

HttpClient& HttpIndexSource::Client()
{
    if (!m_client) {
        m_client = std::make_unique<HttpClient>();
        m_client->Apply(m_options);
    }
    return *m_client;
}

void HttpIndexSource::Reset()
{
    try {
        m_client.reset();
        Client();
    } catch (...) {
        // A client that cannot be made fails the next request with its own message.
    }
}

FetchedIndex HttpIndexSource::Fetch(const YpRecord& yp)
{
    // The texts are joined as they are: the YPs expect the address unencoded.
    HttpResponse response = Client().Get(yp.Url + "index.txt?host=" + yp.Host);
    if (response.Outcome == HttpOutcome::Failed)
        throw RetrievalFailure(FailureText(response), response.Status);
    FetchedIndex index;
    index.HttpStatus = response.Status;
    index.ClosedEarly = response.Outcome == HttpOutcome::ClosedEarly;
    index.Text = std::move(response.Body);
    return index;
}

} // namespace kavo
