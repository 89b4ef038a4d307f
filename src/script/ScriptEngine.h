#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace kavo {

// How the three standard streams of a script are encoded on our side of the boundary. Inside the
// interpreter every text is Unicode.
enum class ScriptText {
    Cp932,
    Utf8,
};

// Outcome of a compilation or of a run. Line is 0 when the interpreter names none; Message is a
// CP932 text meant for the user.
struct ScriptStatus
{
    enum Kind {
        Ok,
        Busy,        // another run is in progress
        NotCompiled, // nothing compiled since the last reset
        FileError,   // the script file cannot be read
        SyntaxError,
        RuntimeError, // the script threw and did not catch it
        TimedOut,
        Aborted,
    };
    Kind Result = Ok;
    int Line = 0;
    std::string Message;

    explicit operator bool() const { return Result == Ok; }
};

// One ECMAScript interpreter with its own heap: compile a script file, run it with string
// arguments, route its standard streams through hooks. An engine is used by one thread at a time;
// engines share nothing, so different threads may each run their own. Busy(), Wait() and Abort()
// may be called from any thread; everything else only while the engine is idle.
class ScriptEngine
{
public:
    using OutputHook = std::function<void(const std::string& text)>;
    // The input protocol of the retrieval module: fill text and return true, or return false at
    // the end. line: one line without its break; otherwise count characters (count <= 0: all).
    using InputHook = std::function<bool(std::string& text, int count, bool line)>;
    using ErrorHook = std::function<void(int line, const std::string& message)>;
    // Returns the body of a GET request; throws std::exception with a message on failure.
    using FetchFunction = std::function<std::string(const std::string& url)>;

    ScriptEngine();
    ~ScriptEngine(); // stops a running script and waits for it
    ScriptEngine(const ScriptEngine&) = delete;
    ScriptEngine& operator=(const ScriptEngine&) = delete;

    // Unset hooks discard output and give an empty input.
    void SetStdout(OutputHook hook) { m_stdout = std::move(hook); }
    void SetStderr(OutputHook hook) { m_stderr = std::move(hook); }
    void SetStdin(InputHook hook) { m_stdin = std::move(hook); }
    // Called for a syntax error and for an error the script does not catch (message in CP932).
    void SetErrorReport(ErrorHook hook) { m_error = std::move(hook); }
    // Without one, http.get throws.
    void SetFetch(FetchFunction fetch) { m_fetch = std::move(fetch); }
    void SetEncoding(ScriptText encoding) { m_encoding = encoding; }
    // Wall-clock limit of one run, zero for none. It is checked every few hundred thousand steps
    // and during sleep(); a request in progress (http.get) ends first.
    void SetTimeLimit(std::chrono::milliseconds limit) { m_timeLimit = limit; }
    // Ceiling of the interpreter's heap; an allocation beyond it fails inside the script.
    void SetMemoryLimit(std::size_t bytes);

    bool Busy() const { return m_busy.load(); }
    // A fresh heap: globals and the compiled script are gone. False while busy.
    bool Reset();
    // Reads the file (UTF-8 with or without a byte-order mark, else CP932) and compiles it. The
    // path is a file-system path (UTF-8).
    ScriptStatus Compile(const std::string& path);
    // Runs the compiled script's main program with `args` set to the arguments, which are CP932
    // texts like every other text of the program. Returns when the script has ended.
    ScriptStatus Run(const std::vector<std::string>& args = {});
    // The same on a thread of the engine's own; returns at once. False while busy or when nothing
    // is compiled.
    bool Start(std::vector<std::string> args = {});
    // True when the engine is idle, at once or within the timeout.
    bool Wait(std::chrono::milliseconds timeout);
    // Status of the last run started with Start().
    ScriptStatus LastRun() const;
    // Stops the running script, if any, at its next step; the run ends with Aborted.
    void Abort();

    struct Heap;    // the interpreter's side
    struct Control; // deadline and abort request of the current run

private:
    bool beginRun();
    void endRun(const ScriptStatus* status);
    ScriptStatus runBody(const std::vector<std::string>& args);
    void joinThread();
    void destroyHeap();

    std::unique_ptr<Control> m_control;
    std::unique_ptr<Heap> m_heap;
    std::size_t m_memoryLimit = 256u << 20;
    OutputHook m_stdout;
    OutputHook m_stderr;
    InputHook m_stdin;
    ErrorHook m_error;
    FetchFunction m_fetch;
    ScriptText m_encoding = ScriptText::Cp932;
    std::chrono::milliseconds m_timeLimit{0};
    bool m_compiled = false;

    std::atomic<bool> m_busy{false};
    mutable std::mutex m_stateMutex; // m_busy transitions, m_lastRun, the abort request
    std::condition_variable m_idle;
    ScriptStatus m_lastRun;
    std::thread m_thread;

    friend struct ScriptNatives;
};

// Encoding helpers shared with the retrieval runner.
namespace script_text {
// Invalid sequences become U+FFFD.
std::string SanitizeUtf8(std::string_view text);
// Bytes of a file or an answer: UTF-8 (byte-order mark dropped) when they are valid UTF-8,
// otherwise CP932. Returns UTF-8.
std::string DecodeGuessing(std::string_view bytes);
// Number of characters of text in the given encoding, and the byte length of its first count
// characters.
std::size_t CharCount(std::string_view text, ScriptText encoding);
std::size_t PrefixBytes(std::string_view text, std::size_t count, ScriptText encoding);
} // namespace script_text

} // namespace kavo
