// The cost of running a retrieval script in a process of its own against running it inside kavo,
// for a script that copies a YP's index from its input to its output, reported per run and as a
// share of a refresh of the same index. Wall-clock time grows with the machine's load (a new
// process waits its turn behind every other); CPU time, of kavo's thread and of the script's
// process, does not, and is the figure the goal is held against.
#include "BenchRatios.h"
#include "IndexGenerator.h"

#include "core/TkavoYpItem.h"
#include "net/ChannelMerge.h"
#include "net/IndexParser.h"
#include "platform/RegularExpression.h"
#include "script/ScriptHost.h"
#include "script/ScriptProcess.h"
#include "script/YpScriptRunner.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <time.h>

namespace kavo::bench {
namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

double Milliseconds(const timeval& time)
{
    return static_cast<double>(time.tv_sec) * 1e3 + static_cast<double>(time.tv_usec) / 1e3;
}

// CPU time of the calling thread and of the children collected so far.
double CpuMilliseconds()
{
    timespec thread{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &thread);
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    return static_cast<double>(thread.tv_sec) * 1e3 + static_cast<double>(thread.tv_nsec) / 1e6 +
           Milliseconds(children.ru_utime) + Milliseconds(children.ru_stime);
}

void BM_ScriptRunCost(benchmark::State& state)
{
    SetScriptHost(KAVO_SCRIPT_HOST);
    std::string folder = (std::filesystem::temp_directory_path() / "kavo-bench-XXXXXX").string();
    if (!mkdtemp(folder.data())) {
        state.SkipWithError("no temporary folder");
        return;
    }
    std::ofstream(std::filesystem::path(folder) / "copy.dms")
        << "var line; while ((line = stdin.readln()) !== null) println(line);\n";
    const std::string index = GenerateIndex(static_cast<int>(state.range(0)), IndexEncoding::Cp932);
    TkavoYpItem yp;
    yp.Url = "http://yp.example.net/";
    yp.Script = "copy.dms";
    yp.UTF2SJIS = false;
    YpScriptRunner runner(folder);
    RegularExpression regExp;

    double inProcess = 0;
    double ownProcess = 0;
    double inProcessCpu = 0;
    double ownProcessCpu = 0;
    double refresh = 0;
    for (auto _ : state) {
        auto begin = Clock::now();
        double cpu = CpuMilliseconds();
        const YpScriptResult inside = runner.RunYpScript(yp, "", "60", index);
        inProcess += Milliseconds(Clock::now() - begin);
        inProcessCpu += CpuMilliseconds() - cpu;

        begin = Clock::now();
        cpu = CpuMilliseconds();
        const YpScriptResult outside = RunRetrievalScript(folder, yp, "", "60", index, {});
        ownProcess += Milliseconds(Clock::now() - begin);
        ownProcessCpu += CpuMilliseconds() - cpu;

        begin = Clock::now();
        YpRecord record;
        record.Url = yp.Url;
        record.ChType = "";
        ReplaceFromIndex(record, outside.Text, regExp);
        TkavoChList combined;
        MergeChannelLists(combined, {&record.ChList}, true);
        refresh += Milliseconds(Clock::now() - begin);

        if (!inside.Success || !outside.Success || inside.Text != outside.Text) {
            state.SkipWithError("the two runs differ");
            break;
        }
    }
    std::filesystem::remove_all(folder);
    const auto runs = static_cast<double>(state.iterations());
    state.counters["in_process_ms"] = inProcess / runs;
    state.counters["own_process_ms"] = ownProcess / runs;
    state.counters["refresh_ms"] = refresh / runs;
    state.counters["extra_wall_ms"] = (ownProcess - inProcess) / runs;
    state.counters["in_process_cpu_ms"] = inProcessCpu / runs;
    state.counters["own_process_cpu_ms"] = ownProcessCpu / runs;
    state.counters["extra_ms_per_run"] = (ownProcessCpu - inProcessCpu) / runs;
    state.counters["extra_per_refresh"] = (ownProcessCpu - inProcessCpu) / refresh;
}
BENCHMARK(BM_ScriptRunCost)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace kavo::bench

namespace {
using kavo::bench::AddRatio;
const bool ratios[] = {
    AddRatio({"scripts: CPU ms more per run in its own process, 1,000 channels", "BM_ScriptRunCost/1000", "", 20, false,
              "extra_ms_per_run"}),
    AddRatio({"scripts: that extra CPU / refresh of the same index, 1,000 channels", "BM_ScriptRunCost/1000", "", 20,
              false, "extra_per_refresh"}),
};
} // namespace
