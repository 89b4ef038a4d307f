#include "net/ScriptIndexSource.h"

#include "core/TkavoYpItem.h"
#include "script/YpScriptRunner.h"

#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>

namespace kavo {

namespace {

// The script's http.get: the body of a complete answer, else a failure the script sees as an error.
std::string FetchForScript(HttpClient& client, const std::string& url)
{
    HttpResponse response = client.Get(url);
    switch (response.Outcome) {
    case HttpOutcome::Complete:
        return std::move(response.Body);
    case HttpOutcome::ClosedEarly:
        throw std::runtime_error("the server closed the connection before the answer was complete");
    case HttpOutcome::Failed:
        break;
    }
    throw std::runtime_error(response.Error);
}

} // namespace

ScriptIndexSource::ScriptIndexSource(YpScriptRunner& runner, std::string proxy, std::string timeout, HttpOptions http,
                                     IndexSource* input)
    : m_runner(runner), m_proxy(std::move(proxy)), m_timeout(std::move(timeout)), m_http(std::move(http)),
      m_input(input)
{}

FetchedIndex ScriptIndexSource::Fetch(const YpRecord& yp)
{
    std::optional<std::string> input;
    if (m_input) {
        FetchedIndex given = m_input->Fetch(yp);
        if (!given.Text.empty())
            input = std::move(given.Text);
    }

    std::unique_ptr<HttpClient> client; // made by the script's first request
    m_runner.SetFetch([this, &client](const std::string& url) {
        if (!client) {
            client = std::make_unique<HttpClient>();
            client->Apply(m_http);
        }
        return FetchForScript(*client, url);
    });
    // The engine must not keep a function that points into this run.
    struct Unhook
    {
        YpScriptRunner& Runner;
        ~Unhook() { Runner.SetFetch({}); }
    } unhook{m_runner};

    YpScriptResult result = m_runner.RunYpScript(yp, m_proxy, m_timeout, input);
    if (!result.Success)
        throw RetrievalFailure(result.Text);
    return {std::move(result.Text)};
}

} // namespace kavo
