// The record of refreshes: writing one refresh of 10,000 channels against the refresh pipeline of
// the same list (RetrievalBench.cpp), opening the history window over 500,000 broadcasts, and who
// usually broadcasts at an hour from as many.
#include "BenchRatios.h"
#include "IndexGenerator.h"

#include "core/TkavoYpItem.h"
#include "history/HistoryStore.h"
#include "net/IndexParser.h"
#include "platform/Cp932.h"
#include "platform/RegularExpression.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#ifdef KAVO_PROGRAM
#include "ui/dialogs/BroadcastHistoryWindow.h"

#include <QApplication>
#include <QTreeView>
#endif

namespace kavo::bench {
namespace {

namespace fs = std::filesystem;

// A folder of its own, removed at exit.
const fs::path& Folder()
{
    static const fs::path folder = [] {
        std::string name = (fs::temp_directory_path() / "kavo-bench-history-XXXXXX").string();
        if (!mkdtemp(name.data()))
            std::abort();
        std::atexit([] {
            std::error_code error;
            fs::remove_all(Folder(), error);
        });
        return fs::path(name);
    }();
    return folder;
}

// One fetch of the YP as the retrieval hands it over; the retrieval moves the index text in.
RetrievalRecord FetchRecord(const YpRecord& yp, std::string index, DateTime time)
{
    RetrievalRecord record;
    record.Time = time;
    YpAttempt& a = record.Attempts.emplace_back();
    a.Url = yp.Url;
    a.Title = "bench";
    a.Time = time;
    a.Outcome = YpOutcome::Fetched;
    a.HttpStatus = 200;
    a.Bytes = index.size();
    a.Channels = yp.ChList.Count();
    a.Index = std::move(index);
    a.ChList = &yp.ChList;
    return record;
}

void RecordFetch(HistoryStore& history, const YpRecord& yp, std::string index, DateTime time)
{
    RetrievalRecord record = FetchRecord(yp, std::move(index), time);
    history.Record(record);
    history.Flush();
}

// Every refresh, a tenth of the channels gain or lose a listener (each one up, ten refreshes
// later down again, so that some reach a new highest count) and one in a hundred is replaced by a
// new channel: one broadcast ends and another begins. As in the program, the store is handed the
// list the refresh pipeline has just built (parsed again, untimed, with these changes applied).
// The time counted is from handing the refresh over until the store has written it, the writer
// thread's work included.
void BM_RecordRefresh(benchmark::State& state)
{
    const int channels = static_cast<int>(state.range(0));
    const std::string index = Utf8ToCp932(StripUtf8Bom(GenerateIndex(channels, IndexEncoding::Utf8, 7)));
    YpRecord yp;
    yp.Url = "http://yp.example.net/";
    yp.ChType = "wmv|raw|flv|mkv|mp3|ogg";
    RegularExpression regExp;
    ReplaceFromIndex(yp, index, regExp);
    const fs::path file = Folder() / ("record-" + std::to_string(channels) + ".sqlite");
    HistoryStore history(file.string());
    DateTime now = 45000;
    RecordFetch(history, yp, index, now);
    std::vector<int> listeners(static_cast<std::size_t>(channels));
    std::vector<std::string> ids(static_cast<std::size_t>(channels));
    int fresh = 0;
    int refresh = 0;
    for (auto _ : state) {
        state.PauseTiming();
        now += 10.0 / MinutesPerDay;
        ++refresh;
        ReplaceFromIndex(yp, index, regExp);
        std::size_t i = 0;
        for (TkavoChItem& c : yp.ChList) {
            if (i % 10 == static_cast<std::size_t>(refresh % 10))
                listeners[i] += refresh / 10 % 2 ? -1 : 1;
            if (i % 100 == static_cast<std::size_t>(refresh % 100) && c.HasHash()) {
                char id[40];
                std::snprintf(id, sizeof id, "F%031d", ++fresh);
                ids[i] = id;
            }
            c.Listeners += listeners[i];
            if (!ids[i].empty())
                c.Hash = ids[i];
            ++i;
        }
        RetrievalRecord record = FetchRecord(yp, index, now);
        state.ResumeTiming();
        history.Record(record);
        history.Flush();
    }
    if (!history.Problem().empty())
        state.SkipWithError(history.Problem().c_str());
    state.counters["new_per_refresh"] = static_cast<double>(fresh) / std::max(refresh, 1);
}
// The writer thread's work counts: the process's CPU time is taken.
BENCHMARK(BM_RecordRefresh)->Arg(10000)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

// 50 fetches of 10,000 channels each, every one new: 500,000 broadcasts, a fetch every
// `spacingDays` (by default an hour). The channels keep their names from fetch to fetch.
const std::string& LargeHistory(double spacingDays = 1.0 / 24)
{
    static std::map<double, std::string> files;
    std::string& path = files[spacingDays];
    if (path.empty()) {
        const std::string file = (Folder() / ("large-" + std::to_string(files.size()) + ".sqlite")).string();
        HistoryStore history(file);
        YpRecord yp;
        yp.Url = "http://yp.example.net/";
        yp.ChType = "wmv|raw|flv|mkv|mp3|ogg";
        RegularExpression regExp;
        ReplaceFromIndex(yp, Utf8ToCp932(StripUtf8Bom(GenerateIndex(10000, IndexEncoding::Utf8, 9))), regExp);
        for (int fetch = 0; fetch < 50; ++fetch) {
            int i = 0;
            for (TkavoChItem& c : yp.ChList) {
                char id[40];
                std::snprintf(id, sizeof id, "%08X%024d", fetch, i++);
                c.Hash = id;
            }
            RecordFetch(history, yp, {}, 45000 + fetch * spacingDays);
        }
        path = file;
    }
    return path;
}

// Who usually broadcasts at the hour of the last fetch, over 500,000 broadcasts spread over five
// weeks (a fetch every 17 hours): every name is on air in each week, so all 10,000 are regulars.
// The store is opened once; each run reads the file anew.
void BM_Regulars(benchmark::State& state)
{
    const double spacing = 0.7;
    const std::string& file = LargeHistory(spacing);
    HistoryStore history(file);
    RegularsRequest request;
    request.Now = 45000 + 49 * spacing + 1.0 / MinutesPerDay;
    std::size_t rows = 0;
    const auto started = std::chrono::steady_clock::now();
    for (auto _ : state) {
        rows = history.Regulars(request).Rows.size();
        benchmark::DoNotOptimize(rows);
    }
    const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - started;
    state.counters["broadcasts"] = static_cast<double>(history.BroadcastCount());
    state.counters["regulars"] = static_cast<double>(rows);
    state.counters["seconds"] =
        spent.count() / static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
}
BENCHMARK(BM_Regulars)->Unit(benchmark::kMillisecond);

#ifdef KAVO_PROGRAM

QApplication& HistoryApp()
{
    static int argc = 1;
    static char name[] = "kavo_bench";
    static char* argv[] = {name, nullptr};
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance()))
        return *app;
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// From nothing to the window with its first page laid out, the file opened anew each time.
void BM_HistoryWindowFirstPage(benchmark::State& state)
{
    HistoryApp();
    const std::string& file = LargeHistory();
    {
        HistoryStore check(file);
        state.counters["broadcasts"] = static_cast<double>(check.BroadcastCount());
    }
    for (auto _ : state) {
        HistoryStore history(file);
        BroadcastHistoryWindow window(history);
        window.show();
        QCoreApplication::processEvents();
        benchmark::DoNotOptimize(window.Model().rowCount());
        window.View()->viewport()->repaint();
    }
}
BENCHMARK(BM_HistoryWindowFirstPage)->Unit(benchmark::kMillisecond);

#endif

} // namespace
} // namespace kavo::bench

namespace {
using kavo::bench::AddRatio;
const bool ratioRecord = AddRatio({"history: recording a refresh / refresh pipeline, 10,000 channels",
                                   "BM_RecordRefresh/10000/process_time", "BM_RefreshPipeline/10000", 0.2, false});
const bool ratioRegulars =
    AddRatio({"history: regulars of an hour, 500,000 broadcasts (seconds)", "BM_Regulars", "", 0.2, false, "seconds"});
} // namespace
