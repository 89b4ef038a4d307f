#include "script/ScriptHost.h"

#include "core/TkavoYpItem.h"
#include "platform/Cp932.h"
#include "platform/ThreadDeadline.h"
#include "script/ScriptEngine.h"
#include "script/ScriptFrames.h"

#include <cstdint>
#include <stdexcept>
#include <sys/resource.h>

namespace kavo {

namespace {

using namespace std::chrono;
namespace frames = script_frames;

// The helper's address space: the interpreter's heap ceiling (256 MiB) with room for the program
// itself and for what the C library keeps. The sanitizers reserve far more and go without it.
constexpr std::uint64_t kAddressSpace = std::uint64_t{1} << 30;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kLimitAddressSpace = false;
#else
constexpr bool kLimitAddressSpace = true;
#endif

std::uint64_t CpuSeconds(milliseconds limit)
{
    // The wall-clock deadline comes first; this holds when kavo is gone and cannot kill it.
    return static_cast<std::uint64_t>(duration_cast<seconds>(limit).count()) + 2;
}

void SetLimit(int resource, rlim_t soft, rlim_t hard)
{
    const rlimit limit{soft, hard};
    ::setrlimit(resource, &limit);
}

// cpuSeconds 0: no CPU limit (an event script may wait for as long as kavo runs).
void LimitSelf(std::uint64_t cpuSeconds)
{
    if (cpuSeconds > 0)
        SetLimit(RLIMIT_CPU, cpuSeconds, cpuSeconds + 1);
    if (kLimitAddressSpace)
        SetLimit(RLIMIT_AS, kAddressSpace, kAddressSpace);
    SetLimit(RLIMIT_FSIZE, 0, 0); // a script writes no files
    SetLimit(RLIMIT_CORE, 0, 0);  // nor does a script killed by its CPU limit leave a core
    SetLimit(RLIMIT_NPROC, 0, 0);
}

// http.get over the socket: kavo's HTTP client answers.
std::string FetchThroughKavo(int fd, const std::string& url)
{
    char type = 0;
    std::string payload;
    if (!frames::Send(fd, frames::FetchRequest, frames::Writer().Add(url).Bytes()) ||
        !frames::Receive(fd, type, payload) || type != frames::FetchReply)
        throw std::runtime_error("http.get: kavo does not answer");
    frames::Reader fields(payload);
    bool ok = false;
    std::string text;
    if (!fields.Next(ok) || !fields.Next(text))
        throw std::runtime_error("http.get: kavo does not answer");
    if (!ok)
        throw std::runtime_error(text);
    return text;
}

} // namespace

std::string ScriptTimeOutMessage()
{
    return Sjis("スクリプトが時間内に終わりませんでした");
}

YpScriptResult RunRetrievalScript(const std::filesystem::path& programDir, const TkavoYpItem& yp,
                                  const std::string& proxy, const std::string& timeout,
                                  const std::optional<std::string>& input, const ScriptProcess::FetchFunction& fetch)
{
    const milliseconds limit = YpScriptRunner::TimeLimit(timeout);
    const steady_clock::time_point deadline = steady_clock::now() + limit;
    frames::Writer job;
    job.Add(programDir.string()).Add(CpuSeconds(limit));
    job.Add(yp.Url).Add(yp.Host).Add(yp.Bitrate).Add(yp.ChType).Add(yp.Title).Add(yp.Script).Add(yp.UTF2SJIS);
    job.Add(proxy).Add(timeout).Add(input.has_value()).Add(input.value_or(std::string()));

    ScriptProcess process;
    std::string error;
    if (!process.Start(ScriptHost(), frames::RetrievalJob, job.Bytes(), error))
        return {false, error};
    // Requests made for the script end by its deadline as well.
    const ScopedThreadDeadline requests(deadline);
    bool success = false;
    std::string text;
    const ScriptProcess::End end = process.Finish(fetch, deadline, success, text);
    // A result that comes only at the deadline is a time-out too: the script may have caught the
    // interpreter's own time-out error.
    if (end == ScriptProcess::End::TimedOut || steady_clock::now() >= deadline)
        return {false, ScriptTimeOutMessage()};
    if (end == ScriptProcess::End::Failed)
        return {false, Sjis("スクリプトが異常終了しました(メモリ不足など)")};
    return {success, std::move(text)};
}

bool EventScripts::Start(const std::string& setting, const std::filesystem::path& programDir)
{
    std::unique_lock lock(m_lock, std::try_to_lock);
    if (!lock.owns_lock() || (m_running && m_running->Running()))
        return false;
    m_running.reset();
    if (setting.empty() || !IsScriptFile(ResolveScriptPath(setting, programDir)))
        return false;
    auto process = std::make_unique<ScriptProcess>();
    std::string error;
    const std::string job = frames::Writer().Add(programDir.string()).Add(std::uint64_t{0}).Add(setting).Bytes();
    if (!process->Start(ScriptHost(), frames::EventJob, job, error))
        return false;
    m_running = std::move(process);
    return true;
}

bool EventScripts::RunExit(const std::string& setting, const std::filesystem::path& programDir,
                           steady_clock::time_point cutoff)
{
    std::lock_guard lock(m_lock);
    bool success = false;
    std::string text;
    if (m_running) {
        const ScriptProcess::End end = m_running->Finish({}, cutoff, success, text);
        m_running.reset();
        if (end == ScriptProcess::End::TimedOut)
            return false; // past the cut-off: no exit script any more
    }
    if (setting.empty() || !IsScriptFile(ResolveScriptPath(setting, programDir)) || steady_clock::now() >= cutoff)
        return false;
    ScriptProcess process;
    std::string error;
    const std::string job = frames::Writer().Add(programDir.string()).Add(std::uint64_t{0}).Add(setting).Bytes();
    if (!process.Start(ScriptHost(), frames::EventJob, job, error))
        return false;
    return process.Finish({}, cutoff, success, text) == ScriptProcess::End::Finished && success;
}

bool EventScripts::Reset()
{
    std::unique_lock lock(m_lock, std::try_to_lock);
    if (!lock.owns_lock() || (m_running && m_running->Running()))
        return false;
    m_running.reset();
    return true;
}

int ScriptHostMain(int fd)
{
    char type = 0;
    std::string payload;
    if (!frames::Receive(fd, type, payload))
        return 2;
    frames::Reader fields(payload);
    std::string programDir;
    std::uint64_t cpuSeconds = 0;
    if (!fields.Next(programDir) || !fields.Next(cpuSeconds))
        return 2;
    LimitSelf(cpuSeconds);

    bool success = false;
    std::string text;
    if (type == frames::RetrievalJob) {
        TkavoYpItem yp;
        std::string proxy;
        std::string timeout;
        bool hasInput = false;
        std::string input;
        if (!fields.Next(yp.Url) || !fields.Next(yp.Host) || !fields.Next(yp.Bitrate) || !fields.Next(yp.ChType) ||
            !fields.Next(yp.Title) || !fields.Next(yp.Script) || !fields.Next(yp.UTF2SJIS) || !fields.Next(proxy) ||
            !fields.Next(timeout) || !fields.Next(hasInput) || !fields.Next(input))
            return 2;
        YpScriptRunner runner(programDir, [fd](const std::string& url) { return FetchThroughKavo(fd, url); });
        YpScriptResult result =
            runner.RunYpScript(yp, proxy, timeout, hasInput ? std::optional(std::move(input)) : std::nullopt);
        success = result.Success;
        text = std::move(result.Text);
    } else if (type == frames::EventJob) {
        std::string setting;
        if (!fields.Next(setting))
            return 2;
        ScriptEngine engine;
        const ScriptStatus compiled = engine.Compile(ResolveScriptPath(setting, programDir).string());
        const ScriptStatus status = compiled ? engine.Run() : compiled;
        success = static_cast<bool>(status);
        text = status.Message;
    } else {
        return 2;
    }
    return frames::Send(fd, frames::Result, frames::Writer().Add(success).Add(text).Bytes()) ? 0 : 1;
}

} // namespace kavo
