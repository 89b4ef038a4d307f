#include "platform/Process.h"

#include "support/ProcessRecords.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace kavo {
namespace {

using test::Joined;

struct SplitCase
{
    const char* name;
    const char* line;
    std::vector<std::string> words;
};

TEST(ProcessTest, SplitsWithDoubleQuoteRules)
{
    const std::array<SplitCase, 14> cases{{
        {"empty line", "", {}},
        {"blanks only", " \t ", {}},
        {"blanks and tabs separate", "a  b\tc ", {"a", "b", "c"}},
        {"quoted blank", "\"a b\" c", {"a b", "c"}},
        {"empty quotes are an empty word", "\"\" x \"\"", {"", "x", ""}},
        {"quotes inside a word", "a\"b c\"d", {"ab cd"}},
        {"doubled quote inside quotes", "\"a\"\"b\"", {"a\"b"}},
        {"backslash quote is literal", "\\\"a", {"\"a"}},
        {"two backslashes and a quote", "\\\\\"a b\"", {"\\a b"}},
        {"three backslashes and a quote", "\\\\\\\"a", {"\\\"a"}},
        {"backslashes elsewhere stay", "a\\b\\\\ c\\", {"a\\b\\\\", "c\\"}},
        {"unterminated quote runs to the end", "\"open text", {"open text"}},
        {"quoted URL with query", "\"http://h/p?a=1&b=2\"", {"http://h/p?a=1&b=2"}},
        {"non-ASCII bytes pass through", "\"\xe3\x81\x82 \xe3\x81\x84\"", {"\xe3\x81\x82 \xe3\x81\x84"}},
    }};
    for (const SplitCase& c : cases)
        EXPECT_EQ(Joined(SplitArguments(c.line)), Joined(c.words)) << c.name;
}

class ProcessFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(m_root.Path().empty());
        std::filesystem::create_directories(m_records);
        test::WriteRecorder(m_root / "bin/rec", m_records);
        test::WriteRecorder(m_root / "bin/linger", m_records, true);
        test::WriteRecorder(m_root / "bin/xdg-open", m_records);
        test::WriteRecorder(m_root / "my tools/rec tool", m_records);
        test::WriteRecorder(m_root / "pre", m_records);
        test::WriteRecorder(m_root / "pre fix", m_records);
        std::filesystem::create_directories(m_root / "my");
        std::ofstream(m_root / "bin/plain") << "not a program\n";
    }

    void TearDown() override
    {
        for (const int pid : m_lingering)
            ::kill(pid, SIGTERM);
    }

    // The record of the one process of a script; kept alive ones are stopped at the end.
    test::ProcessRecord RecordOf(const std::string& script, bool lingers = false)
    {
        const std::vector<test::ProcessRecord> records = test::WaitForRecords(m_records, script, 1);
        EXPECT_EQ(records.size(), 1u) << script;
        if (records.empty())
            return {};
        if (lingers)
            m_lingering.push_back(records.front().Pid);
        return records.front();
    }

    test::TempFolder m_root;
    std::string m_records = m_root / "records";
    test::PathPrefix m_path{m_root / "bin"};
    std::vector<int> m_lingering;
};

struct ParseCase
{
    const char* name;
    std::string line;
    std::string program; // relative to the test folder; "" for none
    std::vector<std::string> arguments;
};

TEST_F(ProcessFixture, FindsTheProgramByItsPrefixes)
{
    const std::string root = m_root.Path();
    const std::array<ParseCase, 9> cases{{
        {"unquoted path with blanks", root + "/my tools/rec tool --a b", "my tools/rec tool", {"--a", "b"}},
        {"quoted path with blanks", "\"" + root + "/my tools/rec tool\" \"x y\"", "my tools/rec tool", {"x y"}},
        {"shortest prefix that names a program wins", root + "/pre fix arg", "pre", {"fix", "arg"}},
        {"bare name on PATH", "rec a", "bin/rec", {"a"}},
        {"relative name under a search folder", "bin/rec", "bin/rec", {}},
        {"a file that cannot run", root + "/bin/plain x", "", {"x"}},
        {"a folder is no program", root + "/my", "", {}},
        {"a quoted first word is never extended", "\"" + root + "/my\" tools/rec tool", "", {"tools/rec", "tool"}},
        {"empty line", "", "", {}},
    }};
    for (const ParseCase& c : cases) {
        const Command command = ParseCommandLine(c.line, {root});
        EXPECT_EQ(command.Program, c.program.empty() ? "" : root + "/" + c.program) << c.name;
        EXPECT_EQ(Joined(command.Arguments), Joined(c.arguments)) << c.name;
    }
}

TEST_F(ProcessFixture, TransformedValuesStayOneArgument)
{
    const std::string root = m_root.Path();
    const CommandWordTransform expand = [&](const std::string& word) {
        if (word == "<dir/>/rec tool")
            return root + "/my tools/rec tool";
        if (word == "<name/>")
            return std::string("a\" --evil \"b");
        std::string rest = word;
        for (std::size_t at; (at = rest.find("<none/>")) != std::string::npos;)
            rest.erase(at, 7);
        return rest;
    };
    // An empty tag alone, several together, or quoted keeps its argument; inside a word it adds nothing.
    const Command command =
        ParseCommandLine("<dir/>/rec tool <name/> <none/> \"<none/>\" x<none/> <none/><none/> end", {}, expand);
    EXPECT_EQ(command.Program, root + "/my tools/rec tool");
    EXPECT_EQ(Joined(command.Arguments), Joined({"a\" --evil \"b", "", "", "x", "", "end"}));
}

TEST_F(ProcessFixture, StartsInTheFolderWithTheArguments)
{
    const Command command = ParseCommandLine("rec \"two words\" '' \xe3\x81\x82");
    const StartResult result = StartProcess(command, m_root / "my", 0);
    ASSERT_TRUE(result.Started()) << result.Error;

    const test::ProcessRecord record = RecordOf("rec");
    EXPECT_EQ(record.Pid, result.Pid);
    EXPECT_EQ(record.Folder, m_root / "my");
    EXPECT_EQ(Joined(record.Arguments), Joined({"two words", "''", "\xe3\x81\x82"}));
}

TEST_F(ProcessFixture, StartedProcessesAreDetachedAndKeepNoDescriptorOfOurs)
{
    const int file = ::open("/dev/null", O_RDONLY);
    const int inherited = ::fcntl(file, F_DUPFD, 100); // without close-on-exec
    ::close(file);
    ASSERT_GE(inherited, 100);
    const StartResult result = StartProcess(ParseCommandLine("linger"), {}, 0);
    ::close(inherited);
    ASSERT_TRUE(result.Started()) << result.Error;

    const test::ProcessRecord record = RecordOf("linger", true);
    EXPECT_EQ(::getsid(record.Pid), record.Pid) << "own session";
    const std::string fd = "/proc/" + std::to_string(record.Pid) + "/fd/" + std::to_string(inherited);
    EXPECT_FALSE(std::filesystem::exists(fd)) << fd;
}

TEST_F(ProcessFixture, StartedProgramsWriteIntoTheChosenFileOrNowhere)
{
    const std::string talk = m_root / "bin/talk";
    std::ofstream(talk) << "#!/bin/sh\necho out\necho err >&2\n";
    std::filesystem::permissions(talk, std::filesystem::perms::owner_all);
    const std::string ours = m_root / "ours.txt";
    const std::string log = m_root / "programs.log";
    const auto run = [&talk] {
        const StartResult result = StartProcess({talk, {}}, {}, 0);
        return result.Process && result.Process->WaitEnded(std::chrono::seconds(5));
    };
    const auto contents = [](const std::string& file) {
        std::ifstream in(file);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };

    // For a while our own output and error are a file, to see what reaches them.
    std::fflush(stdout);
    std::fflush(stderr);
    const int savedOut = ::dup(1);
    const int savedErr = ::dup(2);
    const int file = ::open(ours.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ::dup2(file, 1);
    ::dup2(file, 2);
    ::close(file);
    const bool quiet = run();
    SetStartedProgramOutput(log);
    const bool logged = run();
    SetStartedProgramOutput(m_root / "no such folder/programs.log");
    const bool unwritable = run();
    SetStartedProgramOutput({});
    ::dup2(savedOut, 1);
    ::dup2(savedErr, 2);
    ::close(savedOut);
    ::close(savedErr);

    EXPECT_TRUE(quiet && logged && unwritable) << "a log that cannot be written does not keep a program from starting";
    EXPECT_EQ(contents(ours), "");
    EXPECT_EQ(contents(log), "out\nerr\n");
}

TEST_F(ProcessFixture, AnEndedProcessLeavesNoZombie)
{
    const StartResult result = StartProcess(ParseCommandLine("rec"), {}, 0);
    ASSERT_TRUE(result.Started()) << result.Error;
    RecordOf("rec");

    const std::string stat = "/proc/" + std::to_string(result.Pid) + "/stat";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::filesystem::exists(stat) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::string state;
    std::ifstream(stat) >> state >> state >> state; // pid, (name), state
    EXPECT_FALSE(std::filesystem::exists(stat)) << "still there in state " << state;
}

struct PriorityCase
{
    const char* name;
    int index;
    std::vector<int> nice; // accepted values; raising needs a privilege we may lack
};

TEST_F(ProcessFixture, PriorityIndexesMapToNiceValues)
{
    // The starting thread runs at nice 3, so "leave alone" and "normal" differ.
    constexpr int ours = 3;
    const std::array<PriorityCase, 5> cases{{
        {"0 leaves it as ours", 0, {ours}},
        {"1 above normal", 1, {-5, ours}},
        {"2 normal", 2, {0, ours}},
        {"3 below normal", 3, {5}},
        {"unknown index leaves it", 7, {ours}},
    }};
    for (const PriorityCase& c : cases) {
        StartResult result;
        std::thread starter([&] {
            ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), ours);
            result = StartProcess(ParseCommandLine("linger"), {}, c.index);
        });
        starter.join();
        ASSERT_TRUE(result.Started()) << c.name;
        m_lingering.push_back(result.Pid);
        errno = 0;
        const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(result.Pid));
        EXPECT_NE(std::find(c.nice.begin(), c.nice.end(), nice), c.nice.end()) << c.name << ": nice " << nice;
    }
}

TEST_F(ProcessFixture, FailuresAreReportedNotThrown)
{
    EXPECT_EQ(StartProcess(ParseCommandLine("no-such-program-here"), {}, 0).Error, ENOENT);
    EXPECT_FALSE(StartProcess(ParseCommandLine("rec"), m_root / "missing folder", 0).Started());
    EXPECT_FALSE(StartProcess(Command{m_root / "bin/plain", {}}, {}, 0).Started());
}

TEST_F(ProcessFixture, DesktopHandlerGetsTheTargetAsOneArgument)
{
    const StartResult result = OpenWithDesktop("http://example.org/a b?x=\"1\"");
    ASSERT_TRUE(result.Started()) << result.Error;
    EXPECT_EQ(Joined(RecordOf("xdg-open").Arguments), "http://example.org/a b?x=\"1\"");

    EXPECT_FALSE(OpenWithDesktop("--help").Started()) << "an option is no target";
    EXPECT_FALSE(OpenWithDesktop("").Started());
}

} // namespace
} // namespace kavo

namespace kavo {
namespace {

// Copies of a real program under names of their own: /proc names the copy as the executable.
class ProcessEndingFixture : public ::testing::Test
{
protected:
    std::string CopyOfSleep(const std::string& name)
    {
        const std::string path = m_root / name;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::filesystem::copy_file(FindExecutable("sleep"), path, std::filesystem::copy_options::overwrite_existing);
        return path;
    }

    std::shared_ptr<ProcessHandle> Start(const std::string& program, std::vector<std::string> arguments = {"30"})
    {
        const StartResult started = StartProcess({program, std::move(arguments)}, {}, 0);
        EXPECT_TRUE(started.Process) << program;
        if (started.Process)
            m_started.push_back(started.Process);
        return started.Process;
    }

    static std::vector<int> Pids(const std::vector<std::unique_ptr<ProcessHandle>>& processes)
    {
        std::vector<int> pids;
        for (const auto& process : processes)
            pids.push_back(process->Pid());
        std::sort(pids.begin(), pids.end());
        return pids;
    }

    void TearDown() override { EndProcesses(m_started, std::chrono::milliseconds(100)); }

    test::TempFolder m_root;
    std::vector<std::shared_ptr<ProcessHandle>> m_started;
};

TEST_F(ProcessEndingFixture, FindsTheProcessesOfOneProgramOnly)
{
    const std::string program = CopyOfSleep("a/peercast");
    const std::string sameBytesElsewhere = CopyOfSleep("b/peercast");
    std::filesystem::create_symlink(program, m_root / "link");
    const auto mine = Start(program);
    const auto other = Start(sameBytesElsewhere);
    ASSERT_TRUE(mine && other);

    EXPECT_EQ(Pids(FindProcessesOf(program)), std::vector<int>{mine->Pid()});
    EXPECT_EQ(Pids(FindProcessesOf(m_root / "link")), std::vector<int>{mine->Pid()}) << "through a link";
    EXPECT_TRUE(FindProcessesOf(m_root / "missing").empty());

    // Upgraded while it runs: the old process still counts as the program's.
    std::filesystem::remove(program);
    CopyOfSleep("a/peercast");
    EXPECT_EQ(Pids(FindProcessesOf(program)), std::vector<int>{mine->Pid()}) << "replaced on disk";

    EndProcesses({mine}, std::chrono::seconds(5));
    EXPECT_TRUE(mine->WaitEnded(std::chrono::seconds(5)));
    EXPECT_TRUE(FindProcessesOf(program).empty()) << "an ended process is not found";
    EXPECT_TRUE(other->Running()) << "the other program was left alone";
}

TEST_F(ProcessEndingFixture, AProcessThatIgnoresTermIsKilledAfterTheGrace)
{
    const auto shell = Start(FindExecutable("sh"), {"-c", "trap '' TERM; exec sleep 30"});
    ASSERT_TRUE(shell);
    // Until the exec, the shell may not have set its trap yet.
    const std::string exe = "/proc/" + std::to_string(shell->Pid()) + "/exe";
    const std::string sleepProgram = std::filesystem::canonical(FindExecutable("sleep")).string();
    for (int i = 0; i < 500 && std::filesystem::read_symlink(exe).string() != sleepProgram; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(std::filesystem::read_symlink(exe).string(), sleepProgram);

    const auto grace = std::chrono::milliseconds(300);
    const auto before = std::chrono::steady_clock::now();
    EndProcesses({shell}, grace);
    EXPECT_TRUE(shell->WaitEnded(std::chrono::seconds(5)));
    // SIGTERM alone would have ended it at once; poll may wake a little before the grace is over.
    EXPECT_GE(std::chrono::steady_clock::now() - before, grace / 2) << "SIGTERM alone ended it";
}

} // namespace
} // namespace kavo
