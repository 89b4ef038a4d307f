#pragma once

#include "script/ScriptProcess.h"
#include "script/YpScriptRunner.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace kavo {

struct TkavoYpItem;

// Every user script runs in a process of the helper program: there its time and memory are
// bounded by the kernel, and at its deadline the process is killed, whatever the interpreter is
// doing. These are kavo's side of it and the helper's.

// The YP's error for a script killed at its deadline.
std::string ScriptTimeOutMessage();

// Runs the YP's retrieval script as YpScriptRunner::RunYpScript would, in a process of its own,
// killed at the script's time limit; a script that outlives it fails with ScriptTimeOutMessage().
// fetch serves its http.get, bounded by the same deadline.
YpScriptResult RunRetrievalScript(const std::filesystem::path& programDir, const TkavoYpItem& yp,
                                  const std::string& proxy, const std::string& timeout,
                                  const std::optional<std::string>& input, const ScriptProcess::FetchFunction& fetch);

// The start-up and exit scripts (`Event/OnCreate`, `Event/OnDestroy`), without stream handlers or
// HTTP. The caller checks `ActionFileCanDMS`. Start and Reset belong to the main thread; RunExit
// may run on another.
class EventScripts
{
public:
    // Starts the start-up script without waiting for it. False when the file is missing, another
    // script still runs, or the helper cannot be started.
    bool Start(const std::string& setting, const std::filesystem::path& programDir);
    // Waits for a running start-up script, then runs the exit script and waits for it; whatever
    // still runs at cutoff is killed. False when nothing ran to its end without an error.
    bool RunExit(const std::string& setting, const std::filesystem::path& programDir,
                 std::chrono::steady_clock::time_point cutoff);
    // Forgets a script that has ended; false while one runs.
    bool Reset();

private:
    std::mutex m_lock;
    std::unique_ptr<ScriptProcess> m_running;
};

// The helper's side: reads its job from fd, bounds itself, runs the script, answers with the
// result. Returns the helper's exit status.
int ScriptHostMain(int fd);

} // namespace kavo
