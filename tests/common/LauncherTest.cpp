#include "common/Launcher.h"

#include "core/TkavoChItem.h"
#include "platform/Cp932.h"
#include "platform/RegularExpression.h"
#include "platform/VisitedUrls.h"
#include "settings/TkavoSetting.h"
#include "support/ProcessRecords.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace kavo {
namespace {

using test::Joined;

// The real starter, with a log of what it was asked to start.
class WatchingStarter : public ProcessStarter
{
public:
    struct Call
    {
        std::string Program; // file name only
        std::vector<std::string> Arguments;
        std::string Folder;
        int Priority = 0;
        bool Started = false;
    };

    StartResult Start(const Command& command, const std::string& folder, int priorityIndex) override
    {
        const StartResult result = ProcessStarter::Start(command, folder, priorityIndex);
        Calls.push_back({std::filesystem::path(command.Program).filename().string(), command.Arguments, folder,
                         priorityIndex, result.Started()});
        return result;
    }
    StartResult OpenWithDesktop(const std::string& target) override
    {
        const StartResult result = ProcessStarter::OpenWithDesktop(target);
        Calls.push_back({"xdg-open", {target}, {}, 0, result.Started()});
        return result;
    }
    // Whether the desktop has a handler for a peercast:// URL: the test decides, not this machine.
    bool PeerCastHandler = true;
    bool HasHandlerFor(const std::string& target) override
    {
        return target.rfind("peercast:", 0) == 0 ? PeerCastHandler : ProcessStarter::HasHandlerFor(target);
    }

    // "program: arg|arg" per call, in order.
    std::vector<std::string> Summary() const
    {
        std::vector<std::string> lines;
        for (const Call& call : Calls)
            lines.push_back(call.Program + ": " + Joined(call.Arguments));
        return lines;
    }

    std::vector<Call> Calls;
};

// A loopback socket that listens (a running PeerCast), or a port nobody listens on.
class LoopbackPort
{
public:
    explicit LoopbackPort(bool listening)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        if (listening) {
            ::listen(m_fd, 4);
        } else {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~LoopbackPort()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    std::string Address() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/admin?cmd=viewxml"; }
    int Port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
};

const std::string LocalStream = "http://localhost:7144/pls/0123456789ABCDEF0123456789ABCDEF?tip=192.0.2.1:7144";

class LauncherFixture : public ::testing::Test
{
protected:
    LauncherFixture()
    {
        for (const char* script : {"bin/peercast", "bin/xdg-open", "bin/bbs", "bin/player", "prog/tubex/tubex",
                                   "prog/tools/run", "My Tools/tool", "My Tools/browser"})
            test::WriteRecorder(m_root / script, m_records);
        std::filesystem::create_directories(m_records);
        m_setting.Etc.PeerCast = m_root / "bin/peercast";
        m_setting.Etc.PlayerFileName = "tubex";
        m_setting.Etc.Player = false;
        m_setting.Etc.DirectChOpen = false;
        m_setting.Etc.Browser.clear();
        m_setting.Etc.TwoCh.clear();
        m_setting.URL.LocalChInfoAddr = m_closedPort.Address();
    }

    void ClearRecords()
    {
        m_starter.Calls.clear();
        std::filesystem::remove_all(m_records);
        std::filesystem::create_directories(m_records);
    }

    // Every logged start that succeeded has left its record with the same arguments.
    void ExpectRecordsMatchCalls(const std::string& context)
    {
        std::map<std::string, std::vector<std::string>> expected;
        for (const WatchingStarter::Call& call : m_starter.Calls)
            if (call.Started)
                expected[call.Program].push_back(Joined(call.Arguments));
        for (auto& [program, arguments] : expected) {
            std::vector<std::string> seen;
            for (const test::ProcessRecord& record : test::WaitForRecords(m_records, program, arguments.size()))
                seen.push_back(Joined(record.Arguments));
            std::sort(arguments.begin(), arguments.end());
            std::sort(seen.begin(), seen.end());
            EXPECT_EQ(seen, arguments) << context << ": " << program;
        }
    }

    test::TempFolder m_root;
    std::string m_records = m_root / "records";
    std::string m_programFolder = m_root / "prog";
    test::PathPrefix m_path{m_root / "bin"};
    LoopbackPort m_closedPort{false};
    TkavoSetting m_setting;
    VisitedUrls m_visited{m_root / "visited.sqlite"};
    WatchingStarter m_starter;
    int m_prompts = 0;
    std::string m_answer;
    std::vector<std::string> m_promptTexts;
    Launcher m_launcher{m_setting,
                        m_programFolder,
                        [this](const std::string& text, const TkavoChItem* channel) {
                            std::string out = text;
                            const auto replace = [&out](const std::string& tag, const std::string& value) {
                                for (std::size_t at = out.find(tag); at != std::string::npos;
                                     at = out.find(tag, at + value.size()))
                                    out.replace(at, tag.size(), value);
                            };
                            replace("<channelname/>", channel ? channel->ChannelName : std::string());
                            replace("<exepath/>", m_programFolder + "/");
                            return out;
                        },
                        [this](const std::string& caption, const std::string& prompt, const std::string& defaultValue) {
                            ++m_prompts;
                            m_promptTexts = {caption, prompt, defaultValue};
                            return m_answer;
                        },
                        &m_visited,
                        m_starter};
};

struct PlayCase
{
    const char* name;
    bool player;
    bool directChOpen;
    const char* playerType;
    std::string url;
    std::string channelName;
    std::string type;
    bool result;
    std::vector<std::string> starts;
};

TEST_F(LauncherFixture, PlayChannelHandsTheChannelToPeerCastOrThePlayer)
{
    const std::string s = LocalStream;
    const std::string pcp = "peercast://pls/0123456789ABCDEF0123456789ABCDEF?tip=192.0.2.1:7144";
    const std::string name = "A&amp;B &quot;x&quot; <inputbox/>";
    // clang-format off
    const std::array<PlayCase, 8> cases{{
        // name, Etc/Player, Etc/DirectChOpen, Etc/PlayerType, url, channel name, type, result, started
        {"matching type goes to the player", true, true, "wmv|wma", s, name, "WMV", true,
         {"peercast: ", "tubex: " + s + "|A&B \"x\" <inputbox/>"}},
        {"peercast:// URL from the stream URL", false, true, "wmv", s, "ch", "WMV", true, {"peercast: -url|" + pcp}},
        {"neither: PeerCast alone, the caller opens the URL", false, false, "wmv", s, "ch", "WMV", false, {"peercast: "}},
        {"empty arguments only start PeerCast", true, true, "wmv", "", "", "", false, {"peercast: "}},
        {"an empty type pattern matches every type", true, false, "", s, "ch", "FLV", true,
         {"peercast: ", "tubex: " + s + "|ch"}},
        {"other type goes to PeerCast", true, false, "wmv", s, "ch", "FLV", false, {"peercast: "}},
        {"a URL without /pls is not taken", false, true, "wmv", "mms://example.org/live", "ch", "WMV", false,
         {"peercast: "}},
        {"a peercast:// URL is passed as it is", false, false, "wmv", "peercast://pls/0123?tip=192.0.2.1:7144", "ch",
         "WMV", true, {"peercast: -url|peercast://pls/0123?tip=192.0.2.1:7144"}},
    }};
    // clang-format on
    for (const PlayCase& c : cases) {
        ClearRecords();
        m_setting.Etc.Player = c.player;
        m_setting.Etc.DirectChOpen = c.directChOpen;
        m_setting.Etc.PlayerType = c.playerType;
        EXPECT_EQ(m_launcher.PlayChannel(c.url, Sjis(c.channelName), c.type), c.result) << c.name;
        EXPECT_EQ(m_starter.Summary(), c.starts) << c.name;
        ExpectRecordsMatchCalls(c.name);
    }
    EXPECT_EQ(m_prompts, 0);
}

TEST_F(LauncherFixture, PeerCastRunsInItsFolderAndToolsInOursWithTheirPriorities)
{
    m_setting.Etc.Player = true;
    m_setting.Etc.PlayerType = "";
    m_setting.Priority.PeerCastProcess = 3;
    m_setting.Priority.CommandProcess = 1;
    ASSERT_TRUE(m_launcher.PlayChannel(LocalStream, "ch", "WMV"));
    m_launcher.RunCommand("tools/run", nullptr);

    ASSERT_EQ(m_starter.Calls.size(), 3u);
    EXPECT_EQ(m_starter.Calls[0].Folder, m_root / "bin");
    EXPECT_EQ(m_starter.Calls[0].Priority, 3);
    EXPECT_EQ(m_starter.Calls[1].Folder, "");
    EXPECT_EQ(m_starter.Calls[1].Priority, 1) << "the player counts as a command";
    EXPECT_EQ(m_starter.Calls[2].Program, "run") << "a relative name is found in the program folder";
    EXPECT_EQ(m_starter.Calls[2].Priority, 1);

    const std::string here = std::filesystem::current_path().string();
    EXPECT_EQ(test::WaitForRecords(m_records, "peercast", 1).at(0).Folder, m_root / "bin");
    EXPECT_EQ(test::WaitForRecords(m_records, "tubex", 1).at(0).Folder, here);
    EXPECT_EQ(test::WaitForRecords(m_records, "run", 1).at(0).Folder, here);
}

TEST_F(LauncherFixture, PeerCastIsNotStartedTwiceOrWhenMissing)
{
    LoopbackPort running(true);
    m_setting.URL.LocalChInfoAddr = running.Address();
    m_setting.Etc.DirectChOpen = true;
    EXPECT_FALSE(m_launcher.PlayChannel(LocalStream, "ch", "WMV")) << "the caller opens the stream URL";
    EXPECT_FALSE(m_launcher.PlayChannel("", "", ""));
    EXPECT_TRUE(m_starter.Calls.empty()) << Joined(m_starter.Summary());

    m_setting.URL.LocalChInfoAddr = m_closedPort.Address();
    m_setting.Etc.PeerCast = m_root / "no such/peercast";
    m_setting.Etc.Player = true;
    EXPECT_FALSE(m_launcher.PlayChannel(LocalStream, "ch", "WMV"));
    EXPECT_TRUE(m_starter.Calls.empty()) << "neither PeerCast nor the player";
}

// The port a stand-in server writes once it listens; 0 when it does not within seconds.
int ListenerPort(const std::string& portFile)
{
    for (int i = 0; i < 500; ++i) {
        std::ifstream in(portFile);
        int port = 0;
        if (in >> port)
            return port;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 0;
}

// PeerCast is a copy of a real program that listens, as /proc names the executable of a script's
// interpreter.
TEST_F(LauncherFixture, EndPeerCastEndsWhatItStartedElseTheServerAtTheStatusAddress)
{
    const std::string program = m_programFolder + "/bin/peercast";
    std::filesystem::create_directories(m_programFolder + "/bin");
    std::filesystem::copy_file(KAVO_TEST_LISTENER, program);
    const std::string otherProgram = m_root / "other/peercast";
    std::filesystem::create_directories(m_root / "other");
    std::filesystem::copy_file(KAVO_TEST_LISTENER, otherProgram);
    const auto statusAt = [](const std::string& host, int port) {
        return "http://" + host + ":" + std::to_string(port) + "/admin?cmd=viewxml";
    };
    std::vector<std::shared_ptr<ProcessHandle>> left;
    const auto startOutside = [&](const std::string& file, const std::string& portFile) {
        const StartResult started = ProcessStarter().Start({file, {portFile}}, {}, 0);
        EXPECT_TRUE(started.Process);
        left.push_back(started.Process);
        return std::pair(started.Process, ListenerPort(portFile));
    };

    // Started by the launcher: ended by its handle.
    m_setting.Etc.PeerCast = "bin/peercast " + (m_root / "started.port"); // found as starting finds it
    m_launcher.StartPeerCast("");
    ASSERT_NE(ListenerPort(m_root / "started.port"), 0);
    ASSERT_EQ(m_starter.Calls.size(), 1u);
    auto started = FindProcessesOf(program);
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(m_launcher.EndPeerCast(), 1);
    EXPECT_TRUE(started[0]->WaitEnded(std::chrono::seconds(5)));

    // Two servers of the program file that someone else started, and another program's server.
    const auto [configured, configuredPort] = startOutside(program, m_root / "a.port");
    const auto [second, secondPort] = startOutside(program, m_root / "b.port");
    const auto [unrelated, unrelatedPort] = startOutside(otherProgram, m_root / "c.port");
    ASSERT_TRUE(configured && second && unrelated && configuredPort && secondPort && unrelatedPort);

    m_setting.URL.LocalChInfoAddr = statusAt("localhost", configuredPort);
    EXPECT_EQ(m_launcher.EndPeerCast(), 1);
    EXPECT_TRUE(configured->WaitEnded(std::chrono::seconds(5)));
    EXPECT_TRUE(second->Running()) << "the server on the other port is not the one we talk to";

    for (const std::string& address : {m_closedPort.Address(), statusAt("127.0.0.1", unrelatedPort)}) {
        m_setting.URL.LocalChInfoAddr = address;
        EXPECT_EQ(m_launcher.EndPeerCast(), 0) << address << ": nobody that can be tied to the address";
    }
    EXPECT_TRUE(second->Running());
    EXPECT_TRUE(unrelated->Running()) << "another program with the same bytes";
    EndProcesses(left, std::chrono::milliseconds(100));
    EXPECT_EQ(m_starter.Calls.size(), 1u) << "no -kill is started";
}

// A server that takes a while to listen: the first refresh waits for it, as long as it runs.
TEST_F(LauncherFixture, PeerCastIsStartingUntilItListensAtTheStatusAddress)
{
    std::filesystem::create_directories(m_programFolder + "/bin");
    std::filesystem::copy_file(KAVO_TEST_LISTENER, m_programFolder + "/bin/peercast");
    const LoopbackPort free(false);
    const std::string gate = m_root / "gate";
    m_setting.Etc.PeerCast = "bin/peercast " + (m_root / "port") + " " + std::to_string(free.Port()) + " " + gate;
    m_setting.URL.LocalChInfoAddr = free.Address();
    EXPECT_FALSE(m_launcher.PeerCastStarting()) << "nothing started";

    m_launcher.StartPeerCast("");
    ASSERT_EQ(ListenerPort(m_root / "port"), free.Port()) << "the port is taken, not yet listened on";
    EXPECT_TRUE(m_launcher.PeerCastStarting());
    std::ofstream(gate).close();
    bool answered = false;
    for (int i = 0; i < 500 && !answered; ++i) {
        answered = !m_launcher.PeerCastStarting();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(answered);

    EXPECT_EQ(m_launcher.EndPeerCast(), 1);
    EXPECT_FALSE(m_launcher.PeerCastStarting()) << "an ended server is not waited for";
}

struct PlayerPathCase
{
    const char* name;
    std::string fileName;
    std::string started;
};

TEST_F(LauncherFixture, ThePlayerIsLookedForInTubexThenOnPath)
{
    test::WriteRecorder(m_root / "bin/tubex", m_records); // loses against tubex/tubex
    m_setting.Etc.Player = true;
    m_setting.Etc.PlayerType = "";
    const std::array<PlayerPathCase, 4> cases{{
        {"tubex folder first", "tubex", "tubex"},
        {"then PATH", "player", "player"},
        {"absolute path with blanks and arguments", m_root / "My Tools/tool" + " --fs", "tool"},
        {"missing player: still taken", "no-such-player", ""},
    }};
    for (const PlayerPathCase& c : cases) {
        ClearRecords();
        m_setting.Etc.PlayerFileName = c.fileName;
        EXPECT_TRUE(m_launcher.PlayChannel(LocalStream, "ch", "WMV")) << c.name;
        ASSERT_EQ(m_starter.Calls.size(), 2u) << c.name;
        EXPECT_EQ(m_starter.Calls[1].Program, c.started) << c.name;
        EXPECT_EQ(m_starter.Calls[1].Started, !c.started.empty()) << c.name;
        EXPECT_EQ(Joined(m_starter.Calls[1].Arguments),
                  Joined({c.started == "tool" ? "--fs|" + LocalStream : LocalStream, "ch"}))
            << c.name;
        ExpectRecordsMatchCalls(c.name);
    }
}

struct OpenCase
{
    const char* name;
    std::string bbs;
    std::string browser;
    bool visit;
    std::string url;
    std::vector<std::string> starts;
    bool visited;
};

TEST_F(LauncherFixture, OpenUrlPicksTheBrowser)
{
    const std::string bbs = m_root / "bin/bbs";
    const std::string missing = m_root / "bin/no-bbs";
    const std::string browser = m_root / "My Tools/browser" + " --new-window";
    const std::string board = "http://hayabusa9.5ch.net/test/read.cgi/x/1/";
    const std::array<OpenCase, 8> cases{{
        {"bulletin board", bbs, browser, true, board, {"bbs: " + board}, true},
        {"bulletin board without visit marks", bbs, browser, false, board, {"bbs: " + board}, false},
        {"missing bbs browser: the browser", missing, browser, true, board, {"browser: --new-window|" + board}, true},
        {"other pages: the browser",
         bbs,
         browser,
         true,
         "http://example.org/",
         {"browser: --new-window|http://example.org/"},
         true},
        {"no browser: the desktop",
         bbs,
         "",
         true,
         "http://example.org/?a b",
         {"xdg-open: http://example.org/?a b"},
         true},
        {"a browser that is not there", "", m_root / "none", true, "http://example.org/", {}, false},
        {"no scheme and no browser: nothing", "", "", true, "example.org", {}, false},
        {"option-like text: nothing", bbs, browser, true, "-remote x://y", {}, false},
    }};
    for (const OpenCase& c : cases) {
        ClearRecords();
        const std::string file = m_root / ("visited-" + std::to_string(&c - cases.data()) + ".sqlite");
        VisitedUrls visited(file);
        Launcher launcher(m_setting, m_programFolder, {}, {}, &visited, m_starter);
        m_setting.Etc.TwoCh = c.bbs;
        m_setting.Etc.Browser = c.browser;
        m_setting.ColorFont.Visit = c.visit;
        launcher.OpenUrl(c.url);
        EXPECT_EQ(m_starter.Summary(), c.starts) << c.name;
        EXPECT_EQ(visited.IsVisited(c.url), c.visited) << c.name;
        ExpectRecordsMatchCalls(c.name);
    }
}

TEST_F(LauncherFixture, InputBoxIsAskedOncePerCommand)
{
    const std::string tool = "\"" + m_root / "My Tools/tool" + "\"";
    m_answer = "$1&";
    m_launcher.RunCommand(tool + " <inputbox/> x<INPUTBOX/>", nullptr);
    EXPECT_EQ(m_prompts, 1);
    EXPECT_EQ(m_promptTexts, (std::vector<std::string>{Sjis("パラメータ入力"), Sjis("文字列を入力してください"), ""}));

    m_answer.clear(); // cancelled
    m_launcher.RunCommand(tool + " <inputbox/> x<inputbox/>", nullptr);
    m_launcher.RunCommand(tool + " plain", nullptr);
    EXPECT_EQ(m_prompts, 2);
    EXPECT_EQ(m_starter.Summary(), (std::vector<std::string>{"tool: $1&|x$1&", "tool: x", "tool: plain"}));
    ExpectRecordsMatchCalls("input box");
}

TEST_F(LauncherFixture, ChannelValuesNeverSplitOrExtendTheCommand)
{
    TkavoChItem channel;
    channel.ChannelName = Sjis("a\" --evil \"b 表");
    const std::string line = m_root / "My Tools/tool" + " <channelname/> \"<channelname/>\" --flag";
    m_launcher.RunCommand(line, &channel);
    m_launcher.RunCommand(line, nullptr);
    m_launcher.RunCommand("<exepath/>tools/run <exepath/>", nullptr);
    m_launcher.RunCommand("", nullptr);

    const std::string name = "a\" --evil \"b \xe8\xa1\xa8"; // in UTF-8 now
    EXPECT_EQ(m_starter.Summary(), (std::vector<std::string>{"tool: " + name + "|" + name + "|--flag", "tool: ||--flag",
                                                             "run: " + m_programFolder + "/"}));
    ExpectRecordsMatchCalls("channel values");
}

// A YP chooses the texts of its channels, never what runs: no other scheme than http and https,
// no option-like argument, no program. Each refusal is told, and nothing starts.
TEST_F(LauncherFixture, ValuesFromAYpChooseNothing)
{
    std::vector<std::string> refusals;
    m_launcher.OnRefused = [&](const std::string& message) { refusals.push_back(message); };
    const std::string browser = m_root / "My Tools/browser";
    struct UrlCase
    {
        const char* url;
        const char* opened; // "" when refused
    };
    const std::array<UrlCase, 11> urls{{
        {"/etc/passwd", ""},
        {"file:///etc/passwd", ""},
        {"javascript:alert(1)", ""},
        {"data:text/html,<script>x</script>", ""},
        {"smb://host/share", ""},
        {"ssh://host", ""},
        {" --help", ""},
        {"\t-x http://example.org/", ""},
        {"http:", ""},
        {" http://example.org/a ", "http://example.org/a"},
        {"HTTPS://example.org/", "HTTPS://example.org/"},
    }};
    for (const std::string& configured : {browser, std::string()}) {
        m_setting.Etc.Browser = configured;
        for (const UrlCase& c : urls) {
            ClearRecords();
            refusals.clear();
            m_launcher.OpenUrl(c.url);
            const std::string context = std::string(c.url) + (configured.empty() ? " (desktop)" : " (browser)");
            if (*c.opened) {
                EXPECT_EQ(
                    m_starter.Summary(),
                    std::vector<std::string>{(configured.empty() ? "xdg-open: " : "browser: ") + std::string(c.opened)})
                    << context;
                EXPECT_TRUE(refusals.empty()) << context;
            } else {
                EXPECT_TRUE(m_starter.Calls.empty()) << context << ": " << Joined(m_starter.Summary());
                EXPECT_EQ(refusals.size(), 1u) << context;
            }
            ExpectRecordsMatchCalls(context);
        }
    }

    // The player gets the name as it is after decoding, so "&nbsp;" counts as a blank.
    m_setting.Etc.Player = true;
    m_setting.Etc.PlayerType = "";
    for (const char* name : {"-x", " --help", "&nbsp;--help"}) {
        ClearRecords();
        refusals.clear();
        EXPECT_TRUE(m_launcher.PlayChannel(LocalStream, name, "WMV")) << name;
        EXPECT_EQ(m_starter.Summary(), std::vector<std::string>{"peercast: "}) << name;
        EXPECT_EQ(refusals.size(), 1u) << name;
        ExpectRecordsMatchCalls(name);
    }

    struct ToolCase
    {
        const char* name;
        std::string line;
        std::string channelName;
        std::vector<std::string> starts; // empty: refused
    };
    const std::string tool = m_root / "My Tools/tool";
    const std::array<ToolCase, 8> tools{{
        {"a whole argument", "\"" + tool + "\" <channelname/>", "--help", {}},
        {"a quoted whole argument after a blank", "\"" + tool + "\" \"<channelname/>\"", " -x", {}},
        {"inside the user's option", "\"" + tool + "\" --name=<channelname/>", "-x", {"tool: --name=-x"}},
        {"after the user's dash", "\"" + tool + "\" -<channelname/>", "x", {"tool: -x"}},
        {"the program word", "<channelname/> x", "peercast", {}},
        {"a quoted program word", "\"<channelname/>\" x", m_root / "bin/peercast", {}},
        {"part of the program word", "<exepath/><channelname/>", "tools/run", {}},
        {"path tags may name it", "<exepath/>tools/run <channelname/>", "ok", {"run: ok"}},
    }};
    for (const ToolCase& c : tools) {
        ClearRecords();
        refusals.clear();
        TkavoChItem channel;
        channel.ChannelName = c.channelName;
        m_launcher.RunCommand(c.line, &channel);
        EXPECT_EQ(m_starter.Summary(), c.starts) << c.name;
        EXPECT_EQ(refusals.size(), c.starts.empty() ? 1u : 0u) << c.name;
        ExpectRecordsMatchCalls(c.name);
    }
}

// Nothing to play with: no PeerCast where the settings say and no handler for the URL. The user is
// told what failed and where the programs are set; with a handler the URL goes to it, silently.
TEST_F(LauncherFixture, PlayingThatNobodyCanTakeIsReported)
{
    std::vector<std::string> failures;
    m_launcher.OnFailed = [&](const std::string& message) { failures.push_back(message); };
    const std::string url = "peercast://pls/0123456789ABCDEF0123456789ABCDEF?tip=192.0.2.1:7144";
    m_setting.Etc.PeerCast = m_root / "missing/peercast";
    m_starter.PeerCastHandler = false;
    m_launcher.PlayOrOpen(url, "ch", "FLV");
    EXPECT_TRUE(m_starter.Calls.empty());
    ASSERT_EQ(failures.size(), 1u);
    for (const char* part :
         {"再生できません", "PeerCast本体が見つからず", "missing/peercast", "peercast://pls/", "設定の「その他」"})
        EXPECT_NE(failures[0].find(Sjis(part)), std::string::npos) << part << " in " << Cp932ToUtf8(failures[0]);

    m_starter.PeerCastHandler = true;
    m_launcher.PlayOrOpen(url, "ch", "FLV");
    EXPECT_EQ(m_starter.Summary(), std::vector<std::string>{"xdg-open: " + url});
    EXPECT_EQ(failures.size(), 1u);
    ExpectRecordsMatchCalls("handler");
}

TEST_F(LauncherFixture, InvalidPatternsRaiseBeforeAnythingStarts)
{
    m_setting.Etc.Player = true;
    m_setting.Etc.PlayerType = "(wmv";
    EXPECT_THROW(m_launcher.PlayChannel(LocalStream, "ch", "WMV"), RegularExpressionError);

    m_setting.Etc.TwoCh = m_root / "bin/bbs";
    m_setting.Etc.TwoChPtn = "[5ch";
    EXPECT_THROW(m_launcher.OpenUrl("http://example.org/"), RegularExpressionError);
    EXPECT_TRUE(m_starter.Calls.empty()) << Joined(m_starter.Summary());
}

struct AddressCase
{
    const char* url;
    bool ok;
    const char* host;
    int port;
};

TEST(LauncherAddressTest, HostAndPortOfTheLocalServer)
{
    const std::array<AddressCase, 7> cases{{
        {"http://localhost:7144/admin?cmd=viewxml", true, "localhost", 7144},
        {"http://[::1]:8080/x", true, "::1", 8080},
        {"http://peercast.example/admin", true, "peercast.example", 80},
        {"http://user@host:1/", true, "host", 1},
        {"127.0.0.1:7144", true, "127.0.0.1", 7144},
        {"http:///admin", false, "", 0},
        {"http://host:99999/", false, "", 0},
    }};
    for (const AddressCase& c : cases) {
        std::string host;
        int port = 0;
        EXPECT_EQ(HostAndPortOf(c.url, host, port), c.ok) << c.url;
        if (c.ok) {
            EXPECT_EQ(host, c.host) << c.url;
            EXPECT_EQ(port, c.port) << c.url;
        }
    }
}

} // namespace
} // namespace kavo
