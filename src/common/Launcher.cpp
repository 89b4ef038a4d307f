#include "common/Launcher.h"

#include "platform/Cp932.h"
#include "platform/HtmlEntities.h"
#include "platform/VisitedUrls.h"
#include "settings/TkavoSetting.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <netdb.h>
#include <poll.h>
#include <string_view>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace kavo {

namespace {

constexpr int PeerCastProbeTimeoutMs = 500;
// Asked again and again while the window waits; a starting server on this machine refuses at once.
constexpr int PeerCastStartProbeTimeoutMs = 100;

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

// An argument starting with "-" would be taken for an option by the program that gets it. Blanks
// in front do not make it safe: some programs trim their arguments.
bool LooksLikeOption(std::string_view argument)
{
    const std::size_t first = argument.find_first_not_of(" \t\r\n\f\v");
    return first != std::string_view::npos && argument[first] == '-';
}

std::string_view TrimBlanks(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(" \t\r\n\f\v");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n\f\v") - first + 1);
}

// A web page a YP names: only these schemes may reach a browser or the desktop's handler, which
// would open files, scripts or other programs' links just as readily.
bool IsWebUrl(std::string_view url)
{
    const auto startsWith = [url](std::string_view scheme) {
        return url.size() > scheme.size() && std::equal(scheme.begin(), scheme.end(), url.begin(), [](char a, char b) {
                   return a == (b >= 'A' && b <= 'Z' ? static_cast<char>(b - 'A' + 'a') : b);
               });
    };
    return startsWith("http://") || startsWith("https://");
}

// A value shown in a message; the text may be long and comes from a YP.
std::string Shown(std::string_view text)
{
    constexpr std::size_t limit = 200;
    std::string shown(Cp932Cut(text, limit));
    if (shown.size() < text.size())
        shown += "...";
    return shown;
}

} // namespace

Launcher::Launcher(const TkavoSetting& setting, std::string programFolder, ExpandTags expandTags, Prompt prompt,
                   VisitedUrls* visited, ProcessStarter& starter)
    : m_setting(setting), m_programFolder(std::move(programFolder)), m_expandTags(std::move(expandTags)),
      m_prompt(std::move(prompt)), m_visited(visited), m_starter(starter)
{}

std::vector<std::string> Launcher::programSearchFolders() const
{
    return {m_programFolder};
}

Command Launcher::programCommand(const std::string& value, const std::vector<std::string>& folders) const
{
    return ParseCommandLine(Cp932ToUtf8(value), folders);
}

void Launcher::refuse(const std::string& message) const
{
    if (OnRefused)
        OnRefused(message);
}

bool Launcher::refuseOptionLike(const std::string& argument) const
{
    if (!LooksLikeOption(argument))
        return false;
    refuse(Sjis("「-」で始まる値はオプションと見なされるため渡しません: ") + Shown(Utf8ToCp932(argument)));
    return true;
}

bool Launcher::openWith(const std::string& program, const std::string& url)
{
    Command command = programCommand(program, programSearchFolders());
    if (command.Program.empty())
        return false;
    command.Arguments.push_back(Cp932ToUtf8(url));
    return m_starter.Start(command, {}, 0).Started();
}

bool Launcher::OpenWithDefaultHandler(const std::string& url)
{
    if (url.empty())
        return false;
    const std::string target = Cp932ToUtf8(url);
    if (refuseOptionLike(target))
        return false;
    // xdg-open without a handler ends in silence: nothing would open and nobody would know.
    if (!m_starter.HasHandlerFor(target))
        return false;
    return m_starter.OpenWithDesktop(target).Started();
}

void Launcher::PlayOrOpen(const std::string& url, const std::string& name, const std::string& type)
{
    if (PlayChannel(url, name, type) || url.empty())
        return;
    const std::string target = Cp932ToUtf8(url);
    if (refuseOptionLike(target))
        return;
    if (OpenWithDefaultHandler(url))
        return;
    if (!OnFailed)
        return;
    const bool peerCast = !programCommand(m_setting.Etc.PeerCast, programSearchFolders()).Program.empty();
    std::string message = Sjis("再生できません: ");
    if (!peerCast)
        message += Sjis("PeerCast本体が見つからず (") + Shown(m_setting.Etc.PeerCast) + Sjis(")、");
    message += Shown(url) + Sjis(" を開くアプリケーションもありません。"
                                 "PeerCast本体と専用プレイヤーは設定の「その他」ページで指定できます。");
    OnFailed(message);
}

void Launcher::OpenUrl(const std::string& text)
{
    // Browsers drop blanks around an address; so do we, before looking at its scheme.
    const std::string url(TrimBlanks(text));
    if (!IsWebUrl(url)) {
        refuse(Sjis("http/https 以外のURLは開きません: ") + Shown(text));
        return;
    }
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
    if (OpenWithDefaultHandler(url))
        remember();
}

bool Launcher::peerCastAnswers() const
{
    std::string host;
    int port = 0;
    return HostAndPortOf(m_setting.URL.LocalChInfoAddr, host, port) &&
           AcceptsConnection(host, port, PeerCastProbeTimeoutMs);
}

bool Launcher::PeerCastStarting() const
{
    const bool running =
        std::any_of(m_peerCasts.begin(), m_peerCasts.end(), [](const auto& process) { return process->Running(); });
    std::string host;
    int port = 0;
    return running && HostAndPortOf(m_setting.URL.LocalChInfoAddr, host, port) &&
           !AcceptsConnection(host, port, PeerCastStartProbeTimeoutMs);
}

bool Launcher::StartPeerCast(const std::string& url)
{
    Command command = programCommand(m_setting.Etc.PeerCast, programSearchFolders());
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
    const StartResult started = m_starter.Start(command, folder, m_setting.Priority.PeerCastProcess);
    if (started.Process) {
        std::erase_if(m_peerCasts, [](const auto& process) { return !process->Running(); });
        m_peerCasts.push_back(started.Process);
    }
    return started.Started() && withUrl;
}

int Launcher::EndPeerCast()
{
    std::vector<std::shared_ptr<ProcessHandle>> ending;
    for (const auto& process : m_peerCasts)
        if (process->Running())
            ending.push_back(process);
    m_peerCasts.clear();
    // Not started here: only the server whose status address we use, when its process can be
    // told; other servers of the same program file belong to someone else.
    std::string host;
    int port = 0;
    if (ending.empty() && HostAndPortOf(m_setting.URL.LocalChInfoAddr, host, port)) {
        const Command command = programCommand(m_setting.Etc.PeerCast, programSearchFolders());
        if (std::unique_ptr<ProcessHandle> process = FindListeningProcessOf(command.Program, host, port))
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

bool Launcher::startPlayer(const std::string& url, const std::string& name)
{
    std::string tubex = m_programFolder;
    if (!tubex.empty() && tubex.back() != '/')
        tubex += '/';
    tubex += "tubex";
    // The URL and the name go in as whole arguments: a name from a YP can hold quotes and blanks,
    // and tag-like text in it must not be expanded.
    Command command = programCommand(m_setting.Etc.PlayerFileName, {tubex});
    for (const std::string& value : {Cp932ToUtf8(url), Cp932ToUtf8(HtmlDecode(name))}) {
        if (refuseOptionLike(value))
            return false;
        command.Arguments.push_back(value);
    }
    return m_starter.Start(command, {}, m_setting.Priority.CommandProcess).Started();
}

bool Launcher::PlayChannel(const std::string& url, const std::string& name, const std::string& type)
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

void Launcher::RunCommand(const std::string& command, const TkavoChItem* channel)
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
    const auto expand = [&](const std::string& word, const TkavoChItem* record) {
        if (!m_expandTags)
            return word;
        return Cp932ToUtf8(m_expandTags(Utf8ToCp932(word), record));
    };
    // The program may come from the user's text and the path tags, never from a channel's values:
    // a word that expands differently for the channel than for an empty record does not name it.
    bool programFromChannel = false;
    const auto programWord = [&](const std::string& word) {
        std::string expanded = expand(word, channel);
        if (channel && expanded != expand(word, nullptr)) {
            programFromChannel = true;
            return std::string();
        }
        return expanded;
    };
    // A value that makes a whole argument start with "-" (where the user's text does not) would be
    // taken for an option.
    std::string optionLike;
    const auto argumentWord = [&](const std::string& word) {
        std::string expanded = expand(word, channel);
        if (optionLike.empty() && channel && LooksLikeOption(expanded) && !LooksLikeOption(expand(word, nullptr)))
            optionLike = expanded;
        return expanded;
    };
    const Command started = ParseCommandLine(Cp932ToUtf8(text), programSearchFolders(), argumentWord, programWord);
    if (started.Program.empty() && programFromChannel) {
        refuse(Sjis("ツールのプログラム名にチャンネルの値は使えません: ") + Shown(command));
        return;
    }
    if (!optionLike.empty()) {
        refuse(Sjis("「-」で始まる値はオプションと見なされるため渡しません: ") + Shown(Utf8ToCp932(optionLike)));
        return;
    }
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
