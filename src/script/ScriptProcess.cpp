#include "script/ScriptProcess.h"

#include "platform/Cp932.h"
#include "platform/ProgramFolder.h"
#include "script/ScriptFrames.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

extern char** environ;

namespace kavo {

namespace {

// The descriptor on which the helper finds its socket.
constexpr int kHostFd = 3;

std::mutex& HostLock()
{
    static std::mutex lock;
    return lock;
}

std::string& NamedHost()
{
    static std::string path;
    return path;
}

bool IsExecutable(const std::string& path)
{
    std::error_code error;
    return std::filesystem::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

} // namespace

std::string FindScriptHost()
{
    const std::string executable = ExecutablePath();
    if (executable.empty())
        return {};
    const std::filesystem::path folder = std::filesystem::path(executable).parent_path();
    for (const std::filesystem::path& candidate :
         {folder / ScriptHostName, folder / ".." / "lib" / "kavo" / ScriptHostName}) {
        if (IsExecutable(candidate.string()))
            return candidate.lexically_normal().string();
    }
    return {};
}

void SetScriptHost(std::string path)
{
    std::lock_guard lock(HostLock());
    NamedHost() = std::move(path);
}

std::string ScriptHost()
{
    {
        std::lock_guard lock(HostLock());
        if (!NamedHost().empty())
            return NamedHost();
    }
    return FindScriptHost();
}

ScriptProcess::~ScriptProcess()
{
    Kill();
}

bool ScriptProcess::Start(const std::string& host, char jobType, std::string_view job, std::string& error)
{
    Kill();
    if (host.empty() || !IsExecutable(host)) {
        error = Sjis("スクリプトを実行するプログラム ") + ScriptHostName + Sjis(" が見つかりません");
        return false;
    }
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        error = std::error_code(errno, std::generic_category()).message();
        return false;
    }
    // The helper's end goes to descriptor 3; keep it off 3 itself so the duplication clears its
    // close-on-exec flag.
    int childFd = fds[1];
    if (childFd == kHostFd) {
        childFd = ::fcntl(fds[1], F_DUPFD_CLOEXEC, kHostFd + 1);
        ::close(fds[1]);
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, childFd, kHostFd);
    posix_spawn_file_actions_addclosefrom_np(&actions, kHostFd + 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A process group of its own, so that one kill reaches everything it is; default signal
    // handling and no blocked signals, whatever kavo's threads have set.
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::string program = host;
    char* argv[] = {program.data(), nullptr};
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, host.c_str(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(childFd);
    if (spawned != 0) {
        ::close(fds[0]);
        error = std::error_code(spawned, std::generic_category()).message();
        return false;
    }
    m_pid = pid;
    m_fd = fds[0];
    if (!script_frames::Send(m_fd, jobType, job)) {
        Kill();
        error = Sjis("スクリプトを実行するプログラムが応答しません");
        return false;
    }
    return true;
}

bool ScriptProcess::Running()
{
    if (m_pid <= 0)
        return false;
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) == 0)
        return true;
    m_pid = -1;
    ::close(m_fd);
    m_fd = -1;
    return false;
}

void ScriptProcess::Kill()
{
    if (m_pid > 0)
        collect(true);
}

ScriptProcess::End ScriptProcess::collect(bool killed)
{
    // Killed before it is collected, so the group cannot be another's yet.
    if (killed)
        ::kill(-m_pid, SIGKILL);
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (!killed && WIFSIGNALED(status) && (WTERMSIG(status) == SIGXCPU || WTERMSIG(status) == SIGKILL))
        return End::TimedOut; // its CPU limit
    return End::Failed;
}

ScriptProcess::End ScriptProcess::Finish(const FetchFunction& fetch,
                                         std::optional<std::chrono::steady_clock::time_point> deadline, bool& success,
                                         std::string& result)
{
    using namespace std::chrono;
    success = false;
    result.clear();
    if (m_pid <= 0)
        return End::Failed;
    std::string buffer;
    char chunk[65536];
    for (;;) {
        char type = 0;
        std::string payload;
        const int taken = script_frames::TakeFrame(buffer, type, payload);
        if (taken < 0) {
            collect(true);
            return End::Failed;
        }
        if (taken > 0) {
            script_frames::Reader fields(payload);
            if (type == script_frames::Result) {
                const bool valid = fields.Next(success) && fields.Next(result);
                collect(true);
                if (!valid)
                    success = false;
                return valid ? End::Finished : End::Failed;
            }
            if (type != script_frames::FetchRequest) {
                collect(true);
                return End::Failed;
            }
            std::string url;
            fields.Next(url);
            script_frames::Writer reply;
            try {
                if (!fetch)
                    throw std::runtime_error("http.get: no HTTP client");
                const std::string body = fetch(url);
                if (body.size() > script_frames::MaxPayload - 64)
                    throw std::runtime_error("http.get: the answer is too large");
                reply.Add(true).Add(body);
            } catch (const std::exception& e) {
                reply = {};
                reply.Add(false).Add(std::string_view(e.what()));
            }
            if (deadline && steady_clock::now() >= *deadline) {
                collect(true);
                return End::TimedOut;
            }
            if (!script_frames::Send(m_fd, script_frames::FetchReply, reply.Bytes())) {
                collect(true);
                return End::Failed;
            }
            continue;
        }

        int wait = -1;
        if (deadline) {
            const auto left = duration_cast<milliseconds>(*deadline - steady_clock::now()).count();
            if (left <= 0) {
                collect(true);
                return End::TimedOut;
            }
            wait = static_cast<int>(std::min<long long>(left + 1, 60000));
        }
        pollfd watch{m_fd, POLLIN, 0};
        const int ready = ::poll(&watch, 1, wait);
        if (ready < 0 && errno != EINTR) {
            collect(true);
            return End::Failed;
        }
        if (ready <= 0)
            continue;
        const ssize_t n = ::read(m_fd, chunk, sizeof chunk);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return collect(false); // it ended without a result
        buffer.append(chunk, static_cast<std::size_t>(n));
    }
}

} // namespace kavo
