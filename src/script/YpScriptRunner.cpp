#include "script/YpScriptRunner.h"

#include "core/TkavoYpItem.h"
#include "platform/Cp932.h"
#include "platform/IntegerText.h"

#include <algorithm>
#include <cstdint>

namespace kavo {

namespace {

// Splits like a string list given a text: CR LF, LF or CR end a line; a final break adds no line.
std::deque<std::string> SplitLines(std::string_view text)
{
    std::deque<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(start));
            break;
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
    }
    return lines;
}

std::string JoinLines(const std::deque<std::string>& lines)
{
    std::string text;
    for (const auto& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

} // namespace

std::filesystem::path ResolveScriptPath(const std::string& setting, const std::filesystem::path& programDir)
{
    std::string name = Cp932ToUtf8(setting);
    std::replace(name.begin(), name.end(), '\\', '/');
    std::filesystem::path path(name);
    return path.is_absolute() ? path : programDir / path;
}

bool IsScriptFile(const std::filesystem::path& path)
{
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

YpScriptRunner::YpScriptRunner(std::filesystem::path programDir, ScriptEngine::FetchFunction fetch)
    : m_programDir(std::move(programDir)), m_fetch(std::move(fetch))
{
    DMS = makeEngine();
}

void YpScriptRunner::SetFetch(ScriptEngine::FetchFunction fetch)
{
    std::lock_guard lock(m_runMutex);
    m_fetch = std::move(fetch);
    DMS->SetFetch(m_fetch);
}

std::unique_ptr<ScriptEngine> YpScriptRunner::makeEngine() const
{
    auto engine = std::make_unique<ScriptEngine>();
    auto* self = const_cast<YpScriptRunner*>(this);
    engine->SetStdout([self](const std::string& text) { self->DMSStdout(text); });
    engine->SetStderr([self](const std::string& text) { self->DMSStderr(text); });
    engine->SetStdin([self](std::string& s, int count, bool line) { return self->DMSStdin(s, count, line); });
    engine->SetErrorReport([self](int line, const std::string& message) { self->DMSError(line, message); });
    engine->SetFetch(m_fetch);
    return engine;
}

bool YpScriptRunner::RecreateScriptEngine()
{
    std::unique_lock lock(m_runMutex, std::try_to_lock);
    if (!lock.owns_lock() || DMS->Busy())
        return false;
    DMS = makeEngine();
    return true;
}

std::optional<std::filesystem::path> YpScriptRunner::ScriptFile(const TkavoYpItem& yp) const
{
    if (!CanDMS() || yp.Script.empty())
        return std::nullopt;
    std::filesystem::path path = ResolveScriptPath(yp.Script, m_programDir);
    if (!IsScriptFile(path))
        return std::nullopt;
    return path;
}

int YpScriptRunner::TimeoutSeconds(const std::string& timeout)
{
    return ParseIniInteger(timeout).value_or(60);
}

std::chrono::milliseconds YpScriptRunner::TimeLimit(const std::string& timeout)
{
    const int seconds = TimeoutSeconds(timeout);
    return std::chrono::seconds(2 * std::int64_t{seconds > 0 ? seconds : 60});
}

std::vector<std::string> YpScriptRunner::Arguments(const TkavoYpItem& yp, const std::string& proxy,
                                                   const std::string& timeout, bool hasInput)
{
    return {yp.Url, yp.Host, yp.Bitrate, yp.ChType, "True", proxy, timeout, yp.Title, hasInput ? "True" : "False"};
}

void YpScriptRunner::collect(std::string& buffer, const std::string& text)
{
    if (m_outputTooLarge)
        return;
    if (text.size() > MaxOutputBytes - std::min(MaxOutputBytes, StdoutText.size() + StderrText.size())) {
        m_outputTooLarge = true;
        if (DMS)
            DMS->Abort();
        return;
    }
    buffer += text;
}

void YpScriptRunner::SetStdinText(const std::string& text)
{
    StdinLines = SplitLines(text);
}

bool YpScriptRunner::DMSStdin(std::string& s, int count, bool line)
{
    if (StdinLines.empty())
        return false;
    if (line) {
        s = std::move(StdinLines.front());
        StdinLines.pop_front();
        return true;
    }
    std::string text = JoinLines(StdinLines);
    if (count <= 0) {
        s = std::move(text);
        StdinLines.clear();
        return true;
    }
    // Characters, not bytes: a read never splits a double-byte or multi-byte character.
    std::size_t cut = script_text::PrefixBytes(text, static_cast<std::size_t>(count), m_encoding);
    // Nor a line break: the rest would start with a lone LF, read back as an empty line with a
    // break of its own, so reading one character at a time would never get past it.
    if (cut > 0 && cut < text.size() && text[cut - 1] == '\r' && text[cut] == '\n')
        ++cut;
    s = text.substr(0, cut);
    StdinLines = SplitLines(std::string_view(text).substr(cut));
    return true;
}

YpScriptResult YpScriptRunner::RunYpScript(const TkavoYpItem& yp, const std::string& proxy, const std::string& timeout,
                                           const std::optional<std::string>& input)
{
    std::lock_guard lock(m_runMutex);
    StdoutText.clear();
    StderrText.clear();
    m_outputTooLarge = false;
    StdinLines.clear();
    if (input)
        SetStdinText(*input);
    m_encoding = yp.UTF2SJIS ? ScriptText::Utf8 : ScriptText::Cp932;

    ScriptEngine& engine = *DMS;
    engine.Reset();
    engine.SetEncoding(m_encoding);
    // A script must never hold up the cycle: each of its requests is bounded by the time-out,
    // and the script as a whole by twice that.
    engine.SetTimeLimit(TimeLimit(timeout));

    const auto fail = [&](std::string message) {
        StdinLines.clear();
        return YpScriptResult{false, std::move(message)};
    };
    if (!engine.Compile(ResolveScriptPath(yp.Script, m_programDir).string()))
        return fail(Sjis("スクリプトコンパイルエラー"));

    const ScriptStatus status = engine.Run(Arguments(yp, proxy, timeout, !StdinLines.empty()));
    StdinLines.clear();

    if (m_outputTooLarge) {
        StdoutText.clear();
        StderrText.clear();
        return fail(Sjis("スクリプトの出力が ") + std::to_string(MaxOutputBytes >> 20) + Sjis(" MiB を超えました"));
    }
    const std::string errorOutput = m_encoding == ScriptText::Utf8 ? Utf8ToCp932(StderrText) : StderrText;
    if (!status) {
        // The run itself failed (an uncaught error, the time limit): that is the message, followed
        // by whatever the script wrote to its error output.
        std::string message = status.Message;
        if (status.Line > 0 && status.Result == ScriptStatus::RuntimeError)
            message = std::to_string(status.Line) + Sjis("行目: ") + message;
        if (!errorOutput.empty())
            message += "\r\n" + errorOutput;
        return fail(std::move(message));
    }
    if (!StderrText.empty())
        return fail(errorOutput);
    return {true, StdoutText};
}

} // namespace kavo
