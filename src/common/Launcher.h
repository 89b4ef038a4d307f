#pragma once

#include "platform/Process.h"
#include "platform/RegularExpression.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kavo {

class TkavoSetting;
class VisitedUrls;
struct TkavoChItem;

// Hands channels, pages and tool commands to outside programs: the PeerCast server, the dedicated
// player, the browsers and the desktop's default handler. Texts come in as CP932 and are converted
// to the system's encoding at the process boundary. Every call reads the settings anew; started
// processes are not tracked; a channel that nothing could play is reported. Main thread only.
class Launcher
{
public:
    // Expands the path and channel tags of a text; channel may be null (an empty record's values).
    using ExpandTags = std::function<std::string(const std::string& text, const TkavoChItem* channel)>;
    // A modal text prompt; returns defaultValue when cancelled.
    using Prompt = std::function<std::string(const std::string& caption, const std::string& prompt,
                                             const std::string& defaultValue)>;

    // visited may be null. The settings, the store and the starter must outlive the launcher.
    Launcher(const TkavoSetting& setting, std::string programFolder, ExpandTags expandTags, Prompt prompt,
             VisitedUrls* visited, ProcessStarter& starter);

    // A web page named by a YP: the bulletin-board browser for URLs matching its pattern, else the
    // configured browser, else the default handler. Only http and https pages are opened. Throws
    // RegularExpressionError for an invalid bulletin-board pattern, before anything is opened.
    void OpenUrl(const std::string& url);
    // Starts PeerCast, and hands the channel to the dedicated player when its type matches, or to
    // PeerCast as a "peercast://" URL when that is enabled. False: nobody took the URL, open it with
    // OpenWithDefaultHandler. Empty arguments only start PeerCast. Throws RegularExpressionError for an
    // invalid player type pattern, before PeerCast is started.
    bool PlayChannel(const std::string& url, const std::string& name, const std::string& type);
    // PlayChannel, then the desktop's handler for a URL nobody took. When neither could take it,
    // OnFailed is told what failed and where the programs are set.
    void PlayOrOpen(const std::string& url, const std::string& name, const std::string& type);
    // Starts the PeerCast program unless its server already answers; with a "peercast://" URL it
    // gets " -url" and the URL. True when it was started with the URL.
    bool StartPeerCast(const std::string& url);
    // Ends the PeerCast server, as its servers on this system take no "-kill": the processes this
    // launcher started that still run, else the user's process of the program StartPeerCast would
    // start that listens at the status address; none when no process can be tied to it. They get
    // SIGTERM, and SIGKILL when they still run after PeerCastGrace; the wait runs on a thread of
    // its own. The number of processes ended.
    int EndPeerCast();
    // A PeerCast server this launcher started still runs but accepts no connection at the status
    // address yet: a read of its status page would be refused. The caller bounds the wait.
    bool PeerCastStarting() const;
    // An EndPeerCast still waits for its processes to end.
    bool PeerCastEnding() const { return *m_endings > 0; }
    std::chrono::milliseconds PeerCastGrace{5000};
    // Asks once for <inputbox/>, expands the channel tags (channel may be null) and starts the
    // command line, unless a channel's value would form its program or an option-like argument.
    void RunCommand(const std::string& command, const TkavoChItem* channel);
    // The desktop's handler for a URL or file; false when it could not be started.
    bool OpenWithDefaultHandler(const std::string& url);

    // Told (CP932 text, for the status bar) why a value from a YP was not handed on: a page that
    // is not http or https, a value that would start an argument with "-", a tool whose program
    // would come from a channel's values. Nothing is started then.
    std::function<void(const std::string& message)> OnRefused;
    // Told (CP932 text) why a channel could not be played at all.
    std::function<void(const std::string& message)> OnFailed;

private:
    std::vector<std::string> programSearchFolders() const;
    // A settings value naming a program, possibly with arguments of its own.
    Command programCommand(const std::string& value, const std::vector<std::string>& folders) const;
    bool peerCastAnswers() const;
    bool startPlayer(const std::string& url, const std::string& name);
    void refuse(const std::string& message) const;
    // True (and told) when the argument, as the program would get it, looks like an option.
    bool refuseOptionLike(const std::string& argument) const;
    bool openWith(const std::string& program, const std::string& url);

    const TkavoSetting& m_setting;
    std::string m_programFolder;
    ExpandTags m_expandTags;
    Prompt m_prompt;
    VisitedUrls* m_visited;
    ProcessStarter& m_starter;
    RegularExpression m_regExp;
    // The PeerCast processes started in this run.
    std::vector<std::shared_ptr<ProcessHandle>> m_peerCasts;
    // Shared with the threads that end processes, which may outlive the launcher.
    std::shared_ptr<std::atomic<int>> m_endings = std::make_shared<std::atomic<int>>(0);
};

// Host and port of an "http://host:port/..." address; port 80 when it names none. False when the
// address names no host.
bool HostAndPortOf(const std::string& url, std::string& host, int& port);
// Whether something accepts a TCP connection at host:port within the time-out.
bool AcceptsConnection(const std::string& host, int port, int timeoutMs);

} // namespace kavo
