#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Starting outside programs without a shell. Everything here works on native (UTF-8) texts;
// callers holding CP932 texts convert them first.
namespace kavo {

// The nice value a priority index of the settings asks for: 1 above normal (-5), 2 normal (0),
// 3 below normal (+5). Any other index, 0 included, leaves the priority as it is.
std::optional<int> NiceOfPriority(int index);

// Gives the program the nice value of a priority index (NiceOfPriority); 0 leaves it. On the main
// thread, before other threads start: they take the value over.
void ApplyProcessPriority(int index);
// Gives the calling thread a priority relative to the program's, as a thread priority index
// (Priority/KAVOThread): 1 five nice steps above it, 3 five below, anything else the program's own.
// Raising a priority may need a privilege the user lacks; a refusal leaves it as it is.
void ApplyThreadPriority(int index);

// One word of a command line: its text after quote removal and the bytes it covers.
struct CommandWord
{
    std::string Text;
    std::size_t Begin = 0;
    std::size_t End = 0; // one past the last byte, closing quote included
    bool Quoted = false; // the word held a double quote
};

// Splits a command line with the double-quote rules of Windows command lines: blanks and tabs
// separate words outside quotes; a double quote opens or closes a quoted part; "" inside a quoted
// part is a literal quote; 2n backslashes before a quote give n backslashes and the quote keeps its
// meaning, 2n+1 give n backslashes and a literal quote; other backslashes are literal.
std::vector<CommandWord> SplitCommandWords(std::string_view line);
std::vector<std::string> SplitArguments(std::string_view line);

// The executable file a program name denotes, or "" when there is none. An absolute name is taken
// as it is; a relative name with a "/" is looked for under each search folder, then under the
// current folder; a bare name in each search folder, then in the folders of $PATH.
std::string FindExecutable(const std::string& name, const std::vector<std::string>& searchFolders = {});

// A program and its arguments, ready to start.
struct Command
{
    std::string Program; // full path of the executable; "" when the command line named none
    std::vector<std::string> Arguments;
};

// Applied to the program candidates and to each argument word before use, so that a caller can
// expand placeholders inside one word without a value ever turning into more words.
using CommandWordTransform = std::function<std::string(const std::string& word)>;

// The program of a command line and its arguments. A quoted first word names the program alone.
// Otherwise the prefixes that end at each blank are tried, shortest first, until one names an
// executable file (so an unquoted path with blanks works); the words after it are the arguments.
// When no prefix names one, Program stays "" and the arguments are the words after the first.
// An unquoted word that the transform empties is dropped; a quoted one, or one made of tags alone
// ("<comment/>"), stays as an empty argument.
// programTransform, when given, takes the place of transform for the program candidates.
Command ParseCommandLine(std::string_view line, const std::vector<std::string>& searchFolders = {},
                         const CommandWordTransform& transform = {}, const CommandWordTransform& programTransform = {});

// A process pinned by a pidfd: signals reach the process it was opened for, never a later one
// that got the same pid after it ended.
class ProcessHandle
{
public:
    // The process with this pid, or null when there is none (or the kernel offers no pidfd).
    static std::unique_ptr<ProcessHandle> Open(int pid);
    ~ProcessHandle();
    ProcessHandle(const ProcessHandle&) = delete;
    ProcessHandle& operator=(const ProcessHandle&) = delete;

    int Pid() const { return m_pid; }
    // It has not ended yet (an ended child that is not reaped yet counts as ended).
    bool Running() const;
    bool Signal(int signal) const;
    // Waits at most the time-out for it to end; true when it has.
    bool WaitEnded(std::chrono::milliseconds timeout) const;

private:
    ProcessHandle(int pid, int fd) : m_pid(pid), m_fd(fd) {}
    int m_pid;
    int m_fd;
};

// What happened to a start. Launching ignores it; tests read it.
struct StartResult
{
    int Pid = -1;
    int Error = 0; // errno of the failure
    // The started process, for a caller that may want to end it later; null when none was started
    // or the kernel offers no pidfd.
    std::shared_ptr<ProcessHandle> Process;
    bool Started() const { return Pid > 0; }
};

// Where the standard output and error of the programs started from now on go: "" (the default)
// nowhere, else appended to this file. Their input is empty; they never write into our output.
void SetStartedProgramOutput(const std::string& file);

// Starts the program detached: in a session of its own, with no descriptor of ours above the
// standard three, with default signal handling, in folder (empty: the current folder) and with the
// nice value of the priority index. Returns at once; the process is reaped when it ends and is
// never waited for otherwise.
StartResult StartProcess(const Command& command, const std::string& folder, int priorityIndex);

// Opens a URL or file with the desktop's default handler (xdg-open from $PATH).
StartResult OpenWithDesktop(const std::string& target);

// The running processes of the calling user, other than this one, whose executable is this file:
// the same file (also through links), or, for a program replaced since it started, the same path.
// A script names its interpreter as executable and is never found this way.
std::vector<std::unique_ptr<ProcessHandle>> FindProcessesOf(const std::string& executable);

// The running process of the calling user whose executable is this file (as FindProcessesOf) and
// that holds a TCP socket of the user listening on port at host (at one of its addresses, or at
// every address of the machine). Null when no such process can be told.
std::unique_ptr<ProcessHandle> FindListeningProcessOf(const std::string& executable, const std::string& host, int port);

// Sends SIGTERM to every process, waits up to grace for them to end, and sends SIGKILL to those
// still running. Blocks for at most grace.
void EndProcesses(const std::vector<std::shared_ptr<ProcessHandle>>& processes, std::chrono::milliseconds grace);

// The process starts the launcher uses. The default is the real thing; the GUI may hand URLs to
// its own desktop service, and tests may watch the calls.
class ProcessStarter
{
public:
    virtual ~ProcessStarter() = default;
    virtual StartResult Start(const Command& command, const std::string& folder, int priorityIndex)
    {
        return StartProcess(command, folder, priorityIndex);
    }
    virtual StartResult OpenWithDesktop(const std::string& target) { return kavo::OpenWithDesktop(target); }
    // Whether the desktop has a program for the target: always for a path and a web page, else
    // when one is registered for the URL's scheme.
    virtual bool HasHandlerFor(const std::string& target);
};

} // namespace kavo
