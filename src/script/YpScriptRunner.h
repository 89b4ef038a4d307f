#pragma once

#include "script/ScriptEngine.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kavo {

struct TkavoYpItem;

// What a retrieval script produced: the index text (Success) or the failure message (CP932).
struct YpScriptResult
{
    bool Success = false;
    std::string Text;
};

// The retrieval module's script engine `DMS` with its stream buffers. A YP whose `Script` names an
// existing file gets its index from the script's standard output instead of over HTTP. Runs on the
// retrieval worker; RecreateScriptEngine and CanDMS may be used from the main thread.
class YpScriptRunner
{
public:
    // A script's output is capped like a download: beyond this the run stops and the YP fails.
    static constexpr std::size_t MaxOutputBytes = std::size_t{32} << 20;

    // programDir: relative script paths are taken from here. fetch: what http.get uses.
    explicit YpScriptRunner(std::filesystem::path programDir, ScriptEngine::FetchFunction fetch = {});

    bool CanDMS() const { return m_canDms.load(); }
    void SetCanDMS(bool on) { m_canDms = on; }
    void SetFetch(ScriptEngine::FetchFunction fetch);

    // The YP's script file when scripts are allowed and the file exists.
    std::optional<std::filesystem::path> ScriptFile(const TkavoYpItem& yp) const;

    // Runs the YP's script. input: the text offered on its standard input (the PCRaw path), in
    // the YP's encoding; without it the input is empty. proxy and timeout are `URL/Proxy` and
    // `URL/Timeout` as typed. The output is UTF-8 when the YP's `UTF2SJIS` is on, else CP932; a
    // failure message is always CP932. The run is stopped after twice the time-out.
    YpScriptResult RunYpScript(const TkavoYpItem& yp, const std::string& proxy, const std::string& timeout,
                               const std::optional<std::string>& input = std::nullopt);

    const std::filesystem::path& ProgramDir() const { return m_programDir; }

    // A new engine in place of the old one; false while a script runs.
    bool RecreateScriptEngine();

    // The nine script arguments, in order.
    static std::vector<std::string> Arguments(const TkavoYpItem& yp, const std::string& proxy,
                                              const std::string& timeout, bool hasInput);
    // `URL/Timeout` in seconds as the HTTP client reads it: 60 when it is not a number.
    static int TimeoutSeconds(const std::string& timeout);
    // How long a script may run: twice the time-out (twice 60 s when it is not positive).
    static std::chrono::milliseconds TimeLimit(const std::string& timeout);

    // The engine's hooks, public so their protocol can be exercised directly.
    void DMSStdout(const std::string& text) { collect(StdoutText, text); }
    void DMSStderr(const std::string& text) { collect(StderrText, text); }
    bool DMSStdin(std::string& s, int count, bool line);
    void DMSError(int, const std::string&) {}
    // Replaces StdinLines by the lines of text (CR LF, LF or CR breaks; no empty last line).
    void SetStdinText(const std::string& text);

    // Buffers of the current run; the script's encoding applies.
    std::string StdoutText;
    std::string StderrText;
    std::deque<std::string> StdinLines;

private:
    std::unique_ptr<ScriptEngine> makeEngine() const;
    void collect(std::string& buffer, const std::string& text);

    std::filesystem::path m_programDir;
    ScriptEngine::FetchFunction m_fetch;
    std::atomic<bool> m_canDms{true};
    ScriptText m_encoding = ScriptText::Cp932; // of the current run; the stdin hook counts characters in it

    // Held for a whole run, so the main thread can replace the engine only between runs.
    std::mutex m_runMutex;
    std::unique_ptr<ScriptEngine> DMS;
    bool m_outputTooLarge = false; // of the current run
};

// Script paths from the settings: CP932, possibly with Windows separators, relative to the
// program folder.
std::filesystem::path ResolveScriptPath(const std::string& setting, const std::filesystem::path& programDir);
// A script file exists there (a regular file).
bool IsScriptFile(const std::filesystem::path& path);

} // namespace kavo
