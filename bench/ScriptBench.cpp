// The cost of running a retrieval script in a process of its own against running it inside kavo,
// for a script that copies a YP's index from its input to its output, reported per run and as a
// share of a refresh of the same index.
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

namespace kavo::bench {
namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
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
    double refresh = 0;
    for (auto _ : state) {
        auto begin = Clock::now();
        const YpScriptResult inside = runner.RunYpScript(yp, "", "60", index);
        inProcess += Milliseconds(Clock::now() - begin);

        begin = Clock::now();
        const YpScriptResult outside = RunRetrievalScript(folder, yp, "", "60", index, {});
        ownProcess += Milliseconds(Clock::now() - begin);

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
    state.counters["extra_ms_per_run"] = (ownProcess - inProcess) / runs;
    state.counters["extra_per_refresh"] = (ownProcess - inProcess) / refresh;
}
BENCHMARK(BM_ScriptRunCost)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace kavo::bench

namespace {
using kavo::bench::AddRatio;
const bool ratios[] = {
    AddRatio({"scripts: ms more per run in its own process, 1,000 channels", "BM_ScriptRunCost/1000", "", 20, false,
              "extra_ms_per_run"}),
    AddRatio({"scripts: that extra / refresh of the same index, 1,000 channels", "BM_ScriptRunCost/1000", "", 20, false,
              "extra_per_refresh"}),
};
} // namespace
