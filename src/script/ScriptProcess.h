#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kavo {

// The helper program that runs one script in a process of its own, so that the script can be
// stopped whatever it is doing.
inline constexpr const char* ScriptHostName = "kavo-script";

// Beside the running program (a build folder, a portable copy), then lib/kavo/ of an installed
// tree; "" when neither holds it.
std::string FindScriptHost();
// Programs that do not live beside the helper (tests, benchmarks) name it here; "" goes back to
// looking for it.
void SetScriptHost(std::string path);
// The helper to start: the one named, else FindScriptHost().
std::string ScriptHost();

// One run of the helper: started with its job, it serves the script's requests until the result
// comes, the process ends, or the deadline passes, when the whole process group is killed. The
// destructor kills what still runs.
class ScriptProcess
{
public:
    enum class End {
        Finished, // the result came
        TimedOut, // killed at the deadline, or by its CPU limit
        Failed,   // it could not start, broke the protocol or died (out of memory, a crash)
    };
    // Returns the body of a GET request; throws std::exception with a message on failure.
    using FetchFunction = std::function<std::string(const std::string& url)>;

    ScriptProcess() = default;
    ~ScriptProcess();
    ScriptProcess(const ScriptProcess&) = delete;
    ScriptProcess& operator=(const ScriptProcess&) = delete;

    // Starts host and hands it the job (a frame type and its payload). False with a message when
    // the process cannot be started.
    bool Start(const std::string& host, char jobType, std::string_view job, std::string& error);
    // Serves its requests until it ends. result: the script's result, or why it failed. Without a
    // deadline it waits as long as the process runs.
    End Finish(const FetchFunction& fetch, std::optional<std::chrono::steady_clock::time_point> deadline, bool& success,
               std::string& result);
    // True while the process runs; an ended one is collected here.
    bool Running();
    // Kills the process group and collects the process.
    void Kill();

private:
    End collect(bool killed);

    int m_pid = -1;
    int m_fd = -1;
};

} // namespace kavo
