#pragma once

#include "net/HttpClient.h"
#include "net/IndexSource.h"

#include <string>

namespace kavo {

class YpScriptRunner;

// The output of the YP's retrieval script. With an input source, the script rewrites what that
// source delivers (the PCRaw channel's text on its standard input); without one, it fetches the
// index itself. The script's http.get goes through a client of its own for each run, so no cookie
// crosses from one YP's script to another's.
//
// All the refresh knows of scripts is this class and whether a YP has one: running them elsewhere
// (another process) means another implementation of this source.
class ScriptIndexSource final : public IndexSource
{
public:
    // proxy and timeout: `URL/Proxy` and `URL/Timeout` as typed, which the script receives; http:
    // the options of its requests. input may be null.
    ScriptIndexSource(YpScriptRunner& runner, std::string proxy, std::string timeout, HttpOptions http,
                      IndexSource* input = nullptr);

    FetchedIndex Fetch(const YpRecord& yp) override;

private:
    YpScriptRunner& m_runner;
    std::string m_proxy;
    std::string m_timeout;
    HttpOptions m_http;
    IndexSource* m_input;
};

} // namespace kavo
