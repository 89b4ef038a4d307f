#include "common/Launcher.h"

#include "platform/Cp932.h"
#include "platform/HtmlEntities.h"
#include "platform/VisitedUrls.h"
#include "settings/ukavoConfig.h"

#include <cerrno>
#include <csignal>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace kavo {

namespace {

constexpr int PeerCastProbeTimeoutMs = 500;

std::string FolderOf(const std::string& file)
{
    const std::size_t slash = file.rfind('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? "/" : file.substr(0, slash);
}

// A replacement text of the regular-expression engine that inserts the answer literally.
std::string LiteralReplacement(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        if (c == '$')
            out += '$';
        out += c;
    }
    return out;
}

// An argument starting with "-" would be taken for an option by the browser or the handler, and a
// URL never starts so.
bool LooksLikeOption(const std::string& url)
{
    return !url.empty() && url.front() == '-';
}

} // namespace

TkavoLauncher::TkavoLauncher(const TkavoSetting& setting, std::string programFolder, ExpandTags expandTags,
                             Prompt prompt, VisitedUrls* visited, ProcessStarter& starter)
    : m_setting(setting), m_programFolder(std::move(programFolder)), m_expandTags(std::move(expandTags)),
      m_prompt(std::move(prompt)), m_visited(visited), m_starter(starter)
{}

std::vector<std::string> TkavoLauncher::programSearchFolders() const
{
    return {m_programFolder};
}

TkavoCommand TkavoLauncher::programCommand(const std::string& value, const std::vector<std::string>& folders) const
{
    return ParseCommandLine(Cp932ToUtf8(value), folders);
}

bool TkavoLauncher::openWith(const std::string& program, const std::string& url)
{
    TkavoCommand command = programCommand(program, programSearchFolders());
    if (command.Program.empty())
        return false;
    command.Arguments.push_back(Cp932ToUtf8(url));
    return m_starter.Start(command, {}, 0).Started();
}

bool TkavoLauncher::OpenWithDefaultHandler(const std::string& url)
{
    if (url.empty() || LooksLikeOption(url))
        return false;
    return m_starter.OpenWithDesktop(Cp932ToUtf8(url)).Started();
}

void TkavoLauncher::OpenUrl(const std::string& url)
{
    if (LooksLikeOption(url))
        return;
    const auto remember = [&] {
        if (m_setting.ColorFont.Visit && m_visited)
            m_visited->Add(url);
    };

    const std::string& bbsBrowser = m_setting.Etc.TwoCh;
    if (!bbsBrowser.empty() && !programCommand(bbsBrowser, programSearchFolders()).Program.empty()) {
        m_regExp.IgnoreCase = true;
        m_regExp.Global = true;
        m_regExp.Pattern = m_setting.Etc.TwoChPtn;
        if (!m_regExp.Pattern.empty() && m_regExp.Test(url)) {
            if (openWith(bbsBrowser, url))
                remember();
            return;
        }
    }
    // Here no browser history records what is opened, so the store does it for every page.
    if (!m_setting.Etc.Browser.empty()) {
        if (openWith(m_setting.Etc.Browser, url))
            remember();
        return;
    }
    if (url.find("://") != std::string::npos && OpenWithDefaultHandler(url))
        remember();
}

bool TkavoLauncher::peerCastAnswers() const
{
    std::string host;
    int port = 0;
    return HostAndPortOf(m_setting.URL.LocalChInfoAddr, host, port) &&
           AcceptsConnection(host, port, PeerCastProbeTimeoutMs);
}

bool TkavoLauncher::StartPeerCast(const std::string& url)
{
    TkavoCommand command = programCommand(m_setting.Etc.PeerCast, programSearchFolders());
    if (command.Program.empty())
        return false;
    // A second server on the same port fails and lingers; the running one cannot take a URL from
    // our command line either, so the caller falls back to the stream URL.
    if (peerCastAnswers())
        return false;
    const bool withUrl = Cp932Find(url, "peercast://") != std::string::npos;
    if (withUrl) {
        command.Arguments.push_back("-url");
        command.Arguments.push_back(Cp932ToUtf8(url));
    }
    const std::string folder = FolderOf(command.Program);
    const TkavoStartResult started = m_starter.Start(command, folder, m_setting.Priority.PeerCastProcess);
    if (started.Process) {
        std::erase_if(m_peerCasts, [](const auto& process) { return !process->Running(); });
        m_peerCasts.push_back(started.Process);
    }
    return started.Started() && withUrl;
}

int TkavoLauncher::EndPeerCast()
{
    std::vector<std::shared_ptr<ProcessHandle>> ending;
    for (const auto& process : m_peerCasts)
        if (process->Running())
            ending.push_back(process);
    m_peerCasts.clear();
    if (ending.empty()) {
        const TkavoCommand command = programCommand(m_setting.Etc.PeerCast, programSearchFolders());
        for (std::unique_ptr<ProcessHandle>& process : FindProcessesOf(command.Program))
            ending.push_back(std::move(process));
    }
    if (ending.empty())
        return 0;
    const int count = static_cast<int>(ending.size());
    ++*m_endings;
    try {
        std::thread([ending, endings = m_endings, grace = PeerCastGrace] {
            EndProcesses(ending, grace);
            --*endings;
        }).detach();
    } catch (const std::system_error&) {
        // Without a thread the processes are still asked to end, only not made to.
        for (const auto& process : ending)
            process->Signal(SIGTERM);
        --*m_endings;
    }
    return count;
}

bool TkavoLauncher::startPlayer(const std::string& url, const std::string& name)
{
    std::string tubex = m_programFolder;
    if (!tubex.empty() && tubex.back() != '/')
        tubex += '/';
    tubex += "tubex";
    // The URL and the name go in as whole arguments: a name from a YP can hold quotes and blanks,
    // and tag-like text in it must not be expanded.
    TkavoCommand command = programCommand(m_setting.Etc.PlayerFileName, {tubex});
    command.Arguments.push_back(Cp932ToUtf8(url));
    command.Arguments.push_back(Cp932ToUtf8(HtmlDecode(name)));
    return m_starter.Start(command, {}, m_setting.Priority.CommandProcess).Started();
}

bool TkavoLauncher::PlayChannel(const std::string& url, const std::string& name, const std::string& type)
{
    if (programCommand(m_setting.Etc.PeerCast, programSearchFolders()).Program.empty())
        return false;

    bool usePlayer = false;
    if (m_setting.Etc.Player) {
        m_regExp.IgnoreCase = true;
        m_regExp.Global = true;
        m_regExp.Pattern = m_setting.Etc.PlayerType;
        usePlayer = m_regExp.Test(type);
    }
    if (usePlayer) {
        StartPeerCast({});
        if (url.empty())
            return false;
        startPlayer(url, name);
        return true;
    }
    if (m_setting.Etc.DirectChOpen && !url.empty()) {
        // Everything up to the last "/pls" becomes "peercast://pls"; PeerCast is started once,
        // with that URL, as a second start could not reach the first server.
        m_regExp.IgnoreCase = true;
        m_regExp.Global = true;
        m_regExp.Pattern = ".+/pls";
        return StartPeerCast(m_regExp.Replace(url, "peercast://pls"));
    }
    return StartPeerCast(url);
}

void TkavoLauncher::RunCommand(const std::string& command, const TkavoChItem* channel)
{
    if (command.empty())
        return;
    std::string text = command;
    m_regExp.IgnoreCase = true;
    m_regExp.Global = true;
    m_regExp.Pattern = "<inputbox/>";
    if (m_regExp.Test(text)) {
        const std::string answer =
            m_prompt ? m_prompt(Sjis("パラメータ入力"), Sjis("文字列を入力してください"), {}) : std::string();
        text = m_regExp.Replace(text, LiteralReplacement(answer));
    }
    // Tags are expanded inside each word, so a value with quotes or blanks stays one argument.
    const auto expand = [&](const std::string& word) {
        if (!m_expandTags)
            return word;
        return Cp932ToUtf8(m_expandTags(Utf8ToCp932(word), channel));
    };
    const TkavoCommand started = ParseCommandLine(Cp932ToUtf8(text), programSearchFolders(), expand);
    m_starter.Start(started, {}, m_setting.Priority.CommandProcess);
}

bool HostAndPortOf(const std::string& url, std::string& host, int& port)
{
    std::string rest = url;
    if (const std::size_t scheme = rest.find("://"); scheme != std::string::npos)
        rest = rest.substr(scheme + 3);
    std::string authority = rest.substr(0, rest.find_first_of("/?#"));
    if (const std::size_t at = authority.rfind('@'); at != std::string::npos)
        authority = authority.substr(at + 1);

    std::string portText;
    if (!authority.empty() && authority.front() == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string::npos)
            return false;
        host = authority.substr(1, close - 1);
        if (close + 1 < authority.size()) {
            if (authority[close + 1] != ':')
                return false;
            portText = authority.substr(close + 2);
        }
    } else if (const std::size_t colon = authority.rfind(':'); colon != std::string::npos) {
        host = authority.substr(0, colon);
        portText = authority.substr(colon + 1);
    } else {
        host = authority;
    }
    if (host.empty())
        return false;
    port = 80;
    if (!portText.empty()) {
        if (portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string::npos)
            return false;
        port = std::stoi(portText);
        if (port < 1 || port > 65535)
            return false;
    }
    return true;
}

bool AcceptsConnection(const std::string& host, int port, int timeoutMs)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* addresses = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &addresses) != 0)
        return false;
    bool accepted = false;
    for (const addrinfo* address = addresses; address && !accepted; address = address->ai_next) {
        const int fd =
            ::socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address->ai_protocol);
        if (fd < 0)
            continue;
        if (::connect(fd, address->ai_addr, address->ai_addrlen) == 0) {
            accepted = true;
        } else if (errno == EINPROGRESS) {
            pollfd waiting{fd, POLLOUT, 0};
            int error = 0;
            socklen_t length = sizeof error;
            accepted = ::poll(&waiting, 1, timeoutMs) == 1 &&
                       ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
        }
        ::close(fd);
    }
    ::freeaddrinfo(addresses);
    return accepted;
}

} // namespace kavo
