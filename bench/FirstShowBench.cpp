// The YP-style page shown for the first time, once start-up has gone idle: how long kavo's main
// thread is held up from the click to the loaded page (goal: at most 100 ms), and whether the
// window keeps its place and its native window. kavo runs as a process of its own (the browser
// starts once a process), with the browser made ahead (preload:1) or on the click (preload:0).
// Needs an X server: run under Xvfb.
#ifdef KAVO_PROGRAM

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace kavo::bench {
namespace {

namespace fs = std::filesystem;

// The figures kavo printed ("name=value ..."), empty when it printed none in time.
std::map<std::string, double> Measure(const fs::path& home, bool preload)
{
    const fs::path out = home / "first-show.txt";
    // kavo from the build finds the shipped templates, icons and browser module only when told.
    ::setenv("KAVO_DATA_DIR", KAVO_DATA, 0);
#ifdef KAVO_WEBVIEW_MODULE_PATH
    ::setenv("KAVO_WEBVIEW_MODULE", KAVO_WEBVIEW_MODULE_PATH, 0);
#endif
    std::vector<std::string> args = {KAVO_PROGRAM, "--home", home.string(), "--measure-first-show"};
    if (!preload)
        args.emplace_back("--no-browser-preload");
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return {};
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return {};
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::map<std::string, double> figures;
    std::ifstream in(out);
    for (std::string pair; in >> pair;)
        if (const std::size_t equals = pair.find('='); equals != std::string::npos)
            figures[pair.substr(0, equals)] = std::atof(pair.c_str() + equals + 1);
    return figures;
}

void BM_YpLikeFirstShowAfterIdle(benchmark::State& state)
{
    if (!std::getenv("DISPLAY")) {
        state.SkipWithError("needs an X display: run under Xvfb");
        return;
    }
    const fs::path home = fs::temp_directory_path() / ("kavo-first-show-" + std::to_string(getpid()));
    const fs::path data = KAVO_DATA;
    fs::create_directories(home);
    fs::copy(data / "templates", home / "templates",
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    fs::copy(data / "icons", home / "icons", fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    std::ofstream(home / "kavo.ini", std::ios::binary)
        << "[Etc]\r\nPeerCast=/nonexistent/peercast\r\n[Notify]\r\nTTS=0\r\nSound=0\r\n";
    std::map<std::string, double> sums;
    int runs = 0;
    for (auto _ : state) {
        const std::map<std::string, double> figures = Measure(home, state.range(0) != 0);
        if (figures.empty()) {
            state.SkipWithError("kavo printed no figures");
            break;
        }
        for (const auto& [name, value] : figures)
            sums[name] += value;
        ++runs;
    }
    std::error_code error;
    fs::remove_all(home, error);
    for (const auto& [name, sum] : sums)
        state.counters[name] = sum / runs;
}
BENCHMARK(BM_YpLikeFirstShowAfterIdle)
    ->ArgName("preload")
    ->Arg(1)
    ->Arg(0)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace kavo::bench

#endif
