#include "platform/Process.h"

#include "platform/DesktopHandlers.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <limits>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace kavo {

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool IsExecutableFile(const std::string& path)
{
    struct stat info
    {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::faccessat(AT_FDCWD, path.c_str(), X_OK, AT_EACCESS) == 0;
}

// The child may run in another folder, so whatever we found is made absolute.
std::string Absolute(const std::string& path)
{
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    return ec ? path : absolute.lexically_normal().string();
}

std::string JoinPath(const std::string& folder, const std::string& name)
{
    if (folder.empty() || folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

std::vector<std::string> PathFolders()
{
    const char* value = std::getenv("PATH");
    const std::string path = value ? value : "/usr/local/bin:/usr/bin:/bin";
    std::vector<std::string> folders;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(':', start);
        if (end == std::string::npos)
            end = path.size();
        // An empty entry would mean the current folder; a launcher should not pick programs up there.
        if (end > start)
            folders.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return folders;
}

void Reap(pid_t pid)
{
    // One waiting thread per child: waitpid(-1) or a SIGCHLD handler would also take the exit
    // status of children that other parts of the program (QProcess) wait for themselves.
    try {
        std::thread([pid] {
            while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::system_error&) {
        // Without a thread the child stays a zombie until we exit; nothing worse.
    }
}

} // namespace

std::optional<int> NiceOfPriority(int index)
{
    switch (index) {
    case 1:
        return -5;
    case 2:
        return 0;
    case 3:
        return 5;
    default:
        return std::nullopt;
    }
}

namespace {

// The nice value of the program as a whole, from which thread priorities count.
std::atomic<int>& ProgramNice()
{
    static std::atomic<int> nice = [] {
        errno = 0;
        const int value = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
        return errno == 0 ? value : 0;
    }();
    return nice;
}

} // namespace

void ApplyProcessPriority(int index)
{
    const std::optional<int> nice = NiceOfPriority(index);
    if (!nice)
        return;
    ProgramNice() = *nice;
    setpriority(PRIO_PROCESS, static_cast<id_t>(getpid()), *nice);
}

void ApplyThreadPriority(int index)
{
    const int offset = index == 1 ? -5 : index == 3 ? 5 : 0;
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), ProgramNice() + offset);
}

std::vector<CommandWord> SplitCommandWords(std::string_view line)
{
    std::vector<CommandWord> words;
    std::size_t i = 0;
    const std::size_t n = line.size();
    for (;;) {
        while (i < n && IsBlank(line[i]))
            ++i;
        if (i >= n)
            break;
        CommandWord word;
        word.Begin = i;
        bool inQuotes = false;
        while (i < n) {
            const char c = line[i];
            if (IsBlank(c) && !inQuotes)
                break;
            if (c == '\\') {
                std::size_t count = 0;
                while (i + count < n && line[i + count] == '\\')
                    ++count;
                if (i + count < n && line[i + count] == '"') {
                    word.Text.append(count / 2, '\\');
                    i += count;
                    if (count % 2 == 1) {
                        word.Text += '"';
                        word.Quoted = true;
                        ++i;
                    }
                } else {
                    word.Text.append(count, '\\');
                    i += count;
                }
                continue;
            }
            if (c == '"') {
                word.Quoted = true;
                if (inQuotes && i + 1 < n && line[i + 1] == '"') {
                    word.Text += '"';
                    i += 2;
                    continue;
                }
                inQuotes = !inQuotes;
                ++i;
                continue;
            }
            word.Text += c;
            ++i;
        }
        word.End = i;
        words.push_back(std::move(word));
    }
    return words;
}

std::vector<std::string> SplitArguments(std::string_view line)
{
    std::vector<std::string> arguments;
    for (CommandWord& word : SplitCommandWords(line))
        arguments.push_back(std::move(word.Text));
    return arguments;
}

std::string FindExecutable(const std::string& name, const std::vector<std::string>& searchFolders)
{
    if (name.empty())
        return {};
    if (name.front() == '/')
        return IsExecutableFile(name) ? Absolute(name) : std::string();
    for (const std::string& folder : searchFolders) {
        if (folder.empty())
            continue;
        const std::string candidate = JoinPath(folder, name);
        if (IsExecutableFile(candidate))
            return Absolute(candidate);
    }
    if (name.find('/') != std::string::npos)
        return IsExecutableFile(name) ? Absolute(name) : std::string();
    for (const std::string& folder : PathFolders()) {
        const std::string candidate = JoinPath(folder, name);
        if (IsExecutableFile(candidate))
            return Absolute(candidate);
    }
    return {};
}

namespace {

// "<comment/>", "<a/><b/>": a word made of tags alone, which stands for an argument of its own.
bool TagsOnly(std::string_view word)
{
    if (word.empty())
        return false;
    while (!word.empty()) {
        if (word.size() < 4 || word.front() != '<')
            return false;
        const std::size_t close = word.find("/>");
        if (close == std::string_view::npos || close < 2)
            return false;
        for (const char c : word.substr(1, close - 1))
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-')
                return false;
        word.remove_prefix(close + 2);
    }
    return true;
}

} // namespace

Command ParseCommandLine(std::string_view line, const std::vector<std::string>& searchFolders,
                         const CommandWordTransform& transform, const CommandWordTransform& programTransform)
{
    const auto apply = [&](const std::string& word) { return transform ? transform(word) : word; };
    const auto applyToProgram = [&](const std::string& word) {
        return programTransform ? programTransform(word) : apply(word);
    };
    Command command;
    const std::vector<CommandWord> words = SplitCommandWords(line);
    if (words.empty())
        return command;

    std::size_t programWords = 1;
    if (words.front().Quoted) {
        command.Program = FindExecutable(applyToProgram(words.front().Text), searchFolders);
    } else {
        for (std::size_t k = 0; k < words.size() && !words[k].Quoted; ++k) {
            const std::string prefix(line.substr(words.front().Begin, words[k].End - words.front().Begin));
            command.Program = FindExecutable(applyToProgram(prefix), searchFolders);
            if (!command.Program.empty()) {
                programWords = k + 1;
                break;
            }
        }
    }
    for (std::size_t k = programWords; k < words.size(); ++k) {
        std::string argument = apply(words[k].Text);
        // An empty value leaves no word where it was written inside other text; a quoted word, or
        // one that is a tag alone, keeps its place so that the arguments after it do not move.
        if (!argument.empty() || words[k].Quoted || TagsOnly(words[k].Text))
            command.Arguments.push_back(std::move(argument));
    }
    return command;
}

namespace {

std::mutex& OutputLock()
{
    static std::mutex lock;
    return lock;
}

std::string& OutputFile()
{
    static std::string file;
    return file;
}

// The file the started programs write into: the chosen one when it can be opened, else none, as
// a file that cannot be opened would keep the program from starting at all.
std::string StartedOutputTarget()
{
    std::string file;
    {
        const std::lock_guard<std::mutex> hold(OutputLock());
        file = OutputFile();
    }
    if (!file.empty()) {
        const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
            return file;
        }
    }
    return "/dev/null";
}

} // namespace

void SetStartedProgramOutput(const std::string& file)
{
    const std::lock_guard<std::mutex> hold(OutputLock());
    OutputFile() = file;
}

StartResult StartProcess(const Command& command, const std::string& folder, int priorityIndex)
{
    if (command.Program.empty())
        return {-1, ENOENT, nullptr};

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(command.Program.c_str()));
    for (const std::string& argument : command.Arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    posix_spawnattr_t attributes;
    posix_spawn_file_actions_t actions;
    ::posix_spawnattr_init(&attributes);
    ::posix_spawn_file_actions_init(&actions);

    // A session of its own keeps the child alive when our terminal goes away; the signal
    // settings undo whatever we block or ignore (SIGPIPE for the HTTP client, for one).
    sigset_t none;
    sigset_t all;
    ::sigemptyset(&none);
    ::sigfillset(&all);
    ::sigdelset(&all, SIGKILL);
    ::sigdelset(&all, SIGSTOP);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setsigdefault(&attributes, &all);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    if (!folder.empty())
        ::posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    // A server writes its whole log to its output; ours is for kavo alone.
    const std::string output = StartedOutputTarget();
    ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0600);
    ::posix_spawn_file_actions_adddup2(&actions, 1, 2);
    // Our sockets and files must not live on in a player that runs for hours.
    ::posix_spawn_file_actions_addclosefrom_np(&actions, 3);

    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, command.Program.c_str(), &actions, &attributes, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    if (error != 0)
        return {-1, error, nullptr};

    // Raising the priority needs a privilege we usually lack; the process then runs as we do.
    if (const std::optional<int> nice = NiceOfPriority(priorityIndex))
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(pid), *nice);
    // Only now: once reaped, the pid could belong to someone else.
    std::shared_ptr<ProcessHandle> process = ProcessHandle::Open(pid);
    Reap(pid);
    return {pid, 0, std::move(process)};
}

std::unique_ptr<ProcessHandle> ProcessHandle::Open(int pid)
{
    if (pid <= 0)
        return nullptr;
    // Through syscall(): glibc 2.36 declares its wrappers without C linkage for C++.
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0)
        return nullptr;
    return std::unique_ptr<ProcessHandle>(new ProcessHandle(pid, fd));
}

ProcessHandle::~ProcessHandle()
{
    ::close(m_fd);
}

bool ProcessHandle::Running() const
{
    return !WaitEnded(std::chrono::milliseconds(0));
}

bool ProcessHandle::Signal(int signal) const
{
    return ::syscall(SYS_pidfd_send_signal, m_fd, signal, nullptr, 0) == 0;
}

bool ProcessHandle::WaitEnded(std::chrono::milliseconds timeout) const
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd ended{m_fd, POLLIN, 0};
        const int ready = ::poll(&ended, 1, static_cast<int>(std::max<std::int64_t>(0, left.count())));
        if (ready > 0)
            return true;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

namespace {

// Real and effective user of a process are the caller's.
bool OwnedByUs(const std::string& procFolder)
{
    std::ifstream status(procFolder + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Uid:", 0) != 0)
            continue;
        unsigned long real = 0;
        unsigned long effective = 0;
        if (std::sscanf(line.c_str() + 4, "%lu %lu", &real, &effective) != 2)
            return false;
        return real == ::getuid() && effective == ::getuid();
    }
    return false;
}

bool RunsExecutable(const std::string& procFolder, const struct stat& file, const std::string& canonicalPath)
{
    const std::string link = procFolder + "/exe";
    struct stat running
    {};
    if (::stat(link.c_str(), &running) == 0 && running.st_dev == file.st_dev && running.st_ino == file.st_ino)
        return true;
    // Replaced on disk while it runs (an upgrade): the link names the old file as deleted.
    std::error_code ec;
    const std::filesystem::path target = std::filesystem::read_symlink(link, ec);
    return !ec && !canonicalPath.empty() && target.string() == canonicalPath + " (deleted)";
}

// The running processes of the calling user, other than this one, that run the executable and
// pass the extra check; at most limit of them.
std::vector<std::unique_ptr<ProcessHandle>>
FindProcesses(const std::string& executable, const std::function<bool(const std::string&)>& extra, std::size_t limit)
{
    std::vector<std::unique_ptr<ProcessHandle>> found;
    struct stat file
    {};
    if (executable.empty() || ::stat(executable.c_str(), &file) != 0)
        return found;
    std::error_code ec;
    const std::string canonicalPath = std::filesystem::canonical(executable, ec).string();
    const pid_t self = ::getpid();
    std::filesystem::directory_iterator it("/proc", ec);
    for (; !ec && it != std::filesystem::directory_iterator() && found.size() < limit; it.increment(ec)) {
        const std::filesystem::directory_entry& entry = *it;
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const int pid = std::atoi(name.c_str());
        if (pid <= 0 || pid == self)
            continue;
        const std::string folder = entry.path().string();
        if (!OwnedByUs(folder) || !RunsExecutable(folder, file, canonicalPath) || (extra && !extra(folder)))
            continue;
        // Checked again through the pinned process: if the pid was reused between the checks,
        // the handle's process has ended and is left alone.
        std::unique_ptr<ProcessHandle> process = ProcessHandle::Open(pid);
        if (process && OwnedByUs(folder) && RunsExecutable(folder, file, canonicalPath) && (!extra || extra(folder)) &&
            process->Running())
            found.push_back(std::move(process));
    }
    return found;
}

// An address as the kernel's socket tables print it: 8 hex digits per 32-bit word, each word in
// the machine's byte order. Gives the bytes in network order.
std::optional<std::vector<unsigned char>> TableAddress(std::string_view hex)
{
    if (hex.size() != 8 && hex.size() != 32)
        return std::nullopt;
    std::vector<unsigned char> bytes;
    for (std::size_t at = 0; at < hex.size(); at += 8) {
        std::uint32_t word = 0;
        const auto [end, error] = std::from_chars(hex.data() + at, hex.data() + at + 8, word, 16);
        if (error != std::errc() || end != hex.data() + at + 8)
            return std::nullopt;
        unsigned char raw[4];
        std::memcpy(raw, &word, sizeof raw);
        bytes.insert(bytes.end(), raw, raw + 4);
    }
    return bytes;
}

// An IPv4 address mapped into IPv6 compares as the IPv4 address.
std::vector<unsigned char> Unmapped(std::vector<unsigned char> address)
{
    static constexpr unsigned char prefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (address.size() == 16 && std::equal(prefix, prefix + 12, address.begin()))
        address.erase(address.begin(), address.begin() + 12);
    return address;
}

std::vector<std::vector<unsigned char>> AddressesOf(const std::string& host)
{
    std::vector<std::vector<unsigned char>> addresses;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0)
        return addresses;
    for (const addrinfo* address = found; address; address = address->ai_next) {
        if (address->ai_family == AF_INET) {
            const auto* ip = reinterpret_cast<const unsigned char*>(
                &reinterpret_cast<const sockaddr_in*>(address->ai_addr)->sin_addr);
            addresses.emplace_back(ip, ip + 4);
        } else if (address->ai_family == AF_INET6) {
            const auto* ip = reinterpret_cast<const unsigned char*>(
                &reinterpret_cast<const sockaddr_in6*>(address->ai_addr)->sin6_addr);
            addresses.push_back(Unmapped({ip, ip + 16}));
        }
    }
    ::freeaddrinfo(found);
    return addresses;
}

// The inodes of the calling user's TCP sockets that listen on port at one of the addresses, or
// at every address of the machine.
std::vector<std::string> ListeningSockets(const std::vector<std::vector<unsigned char>>& addresses, int port)
{
    std::vector<std::string> inodes;
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream lines(table);
        std::string line;
        std::getline(lines, line); // the heading
        while (std::getline(lines, line)) {
            std::istringstream fields(line);
            // slot, local address, remote address, state, queues, timer, retransmits, uid, timeout, inode
            std::vector<std::string> field;
            for (std::string word; field.size() < 10 && fields >> word;)
                field.push_back(word);
            constexpr const char* Listening = "0A";
            if (field.size() < 10 || field[3] != Listening || field[7] != std::to_string(::getuid()) || field[9] == "0")
                continue;
            const std::string& local = field[1];
            const std::string& inode = field[9];
            const std::size_t colon = local.find(':');
            if (colon == std::string::npos)
                continue;
            int localPort = 0;
            const std::string_view portText = std::string_view(local).substr(colon + 1);
            if (std::from_chars(portText.data(), portText.data() + portText.size(), localPort, 16).ec != std::errc() ||
                localPort != port)
                continue;
            const auto address = TableAddress(std::string_view(local).substr(0, colon));
            if (!address)
                continue;
            const bool everywhere =
                std::all_of(address->begin(), address->end(), [](unsigned char b) { return b == 0; });
            if (everywhere || std::find(addresses.begin(), addresses.end(), Unmapped(*address)) != addresses.end())
                inodes.push_back(inode);
        }
    }
    return inodes;
}

// Whether the process holds one of the sockets.
bool HoldsSocket(const std::string& procFolder, const std::vector<std::string>& inodes)
{
    std::error_code ec;
    std::filesystem::directory_iterator it(procFolder + "/fd", ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        std::error_code linkError;
        const std::string target = std::filesystem::read_symlink(it->path(), linkError).string();
        if (linkError || !target.starts_with("socket:[") || target.back() != ']')
            continue;
        const std::string inode = target.substr(8, target.size() - 9);
        if (std::find(inodes.begin(), inodes.end(), inode) != inodes.end())
            return true;
    }
    return false;
}

} // namespace

std::vector<std::unique_ptr<ProcessHandle>> FindProcessesOf(const std::string& executable)
{
    return FindProcesses(executable, {}, std::numeric_limits<std::size_t>::max());
}

std::unique_ptr<ProcessHandle> FindListeningProcessOf(const std::string& executable, const std::string& host, int port)
{
    const std::vector<std::vector<unsigned char>> addresses = AddressesOf(host);
    if (addresses.empty())
        return nullptr;
    const std::vector<std::string> inodes = ListeningSockets(addresses, port);
    if (inodes.empty())
        return nullptr;
    std::vector<std::unique_ptr<ProcessHandle>> found = FindProcesses(
        executable, [&inodes](const std::string& folder) { return HoldsSocket(folder, inodes); }, 1);
    return found.empty() ? nullptr : std::move(found.front());
}

void EndProcesses(const std::vector<std::shared_ptr<ProcessHandle>>& processes, std::chrono::milliseconds grace)
{
    for (const auto& process : processes)
        if (process)
            process->Signal(SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + grace;
    for (const auto& process : processes) {
        if (!process)
            continue;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (!process->WaitEnded(std::max(left, std::chrono::milliseconds(0))))
            process->Signal(SIGKILL);
    }
}

bool ProcessStarter::HasHandlerFor(const std::string& target)
{
    const std::string scheme = UrlScheme(target);
    return scheme.empty() || scheme == "http" || scheme == "https" || scheme == "file" || HasSchemeHandler(scheme);
}

StartResult OpenWithDesktop(const std::string& target)
{
    // A target starting with "-" would be read as an option of the handler.
    if (target.empty() || target.front() == '-')
        return {-1, EINVAL, nullptr};
    Command command{FindExecutable("xdg-open"), {target}};
    return StartProcess(command, {}, 0);
}

} // namespace kavo
