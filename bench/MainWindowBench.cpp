// The main window's figures: refill and sort of the on-air view against a plain QStandardItemModel
// holding the same cell texts, memory of both, and start-up of the program to its first shown
// window against a minimal Qt Widgets program.
#ifdef KAVO_PROGRAM

#include "BenchChannels.h"
#include "BenchRatios.h"
#include "platform/Cp932.h"
#include "settings/TkavoSetting.h"
#include "ui/lists/ChannelListView.h"

#include <QApplication>
#include <QStandardItemModel>
#include <QTreeView>

#include <benchmark/benchmark.h>

#include <malloc.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace kavo::bench {
namespace {

QApplication& App()
{
    static int argc = 1;
    static char name[] = "kavo_bench";
    static char* argv[] = {name, nullptr};
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Never destroyed: tearing Qt down among the other static objects at exit crashes.
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

std::vector<std::string> Captions()
{
    return DefaultColumnCaptions();
}

// The cell texts the on-air view shows, computed before the reference is timed.
std::vector<std::vector<QString>> CellTexts(const TkavoChList& list, const std::vector<std::string>& captions)
{
    std::vector<std::vector<QString>> rows;
    for (const TkavoChItem& channel : list) {
        std::vector<QString> row;
        for (const std::string& caption : captions)
            row.push_back(QString::fromStdString(Cp932ToUtf8(CellText(channel, ColumnKindOfCaption(caption)))));
        rows.push_back(std::move(row));
    }
    return rows;
}

// Heap in use: RSS would not grow where the allocator reuses what earlier benchmarks freed.
long RssKiB()
{
    return static_cast<long>(mallinfo2().uordblks / 1024);
}

void BM_ListViewNowRefillSort(benchmark::State& state)
{
    App();
    TkavoChList list;
    FillChannels(list, static_cast<int>(state.range(0)));
    ChannelModel model(nullptr, nullptr);
    model.SetColumns(Captions());
    ChannelListView view(QStringLiteral("ListViewNow"), &model);
    view.resize(800, 600);
    view.show();
    view.SortAscending = true;
    const int listener = model.FindColumn(ColumnCaptionById("Listener"));
    for (auto _ : state) {
        model.Fill(list);
        view.Sort(listener);
        model.MoveRawToEnd();
        QCoreApplication::processEvents();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ListViewNowRefillSort)->Arg(10000)->Unit(benchmark::kMillisecond);

// Sorting by a text column: collation keys for every row.
void BM_ListViewNowSortByName(benchmark::State& state)
{
    App();
    TkavoChList list;
    FillChannels(list, static_cast<int>(state.range(0)));
    ChannelModel model(nullptr, nullptr);
    model.SetColumns(Captions());
    model.Fill(list);
    const int name = model.FindColumn(ColumnCaptionById("ChannelName"));
    bool ascending = true;
    for (auto _ : state) {
        model.SortByColumn(name, ascending);
        ascending = !ascending;
    }
}
BENCHMARK(BM_ListViewNowSortByName)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_StandardItemModelFill(benchmark::State& state)
{
    App();
    TkavoChList list;
    FillChannels(list, static_cast<int>(state.range(0)));
    const auto captions = Captions();
    const auto texts = CellTexts(list, captions);
    QTreeView view;
    view.setUniformRowHeights(true);
    view.resize(800, 600);
    view.show();
    for (auto _ : state) {
        auto* model = new QStandardItemModel(0, static_cast<int>(captions.size()), &view);
        for (const auto& row : texts) {
            QList<QStandardItem*> items;
            items.reserve(static_cast<qsizetype>(row.size()));
            for (const QString& text : row)
                items.append(new QStandardItem(text));
            model->appendRow(items);
        }
        QAbstractItemModel* old = view.model();
        view.setModel(model);
        delete old;
        QCoreApplication::processEvents();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_StandardItemModelFill)->Arg(10000)->Unit(benchmark::kMillisecond);

const bool refillRatio = AddRatio({"main window: refill+sort of 10000 / QStandardItemModel fill",
                                   "BM_ListViewNowRefillSort/10000", "BM_StandardItemModelFill/10000", 1.0, false});

// Memory of 10,000 channels in the on-air view (records and rows) against the same texts in a
// QStandardItemModel; both measured as growth of the heap in use.
void BM_MemoryWith10000Channels(benchmark::State& state)
{
    App();
    for (auto _ : state) {
        const long base = RssKiB();
        long viewKiB = 0;
        long referenceKiB = 0;
        {
            auto list = std::make_unique<TkavoChList>();
            FillChannels(*list, 10000);
            ChannelModel model(nullptr, nullptr);
            model.SetColumns(Captions());
            ChannelListView view(QStringLiteral("ListViewNow"), &model);
            model.Fill(*list);
            view.Sort(model.FindColumn(ColumnCaptionById("Listener")));
            viewKiB = RssKiB() - base;
        }
        {
            const long before = RssKiB();
            auto list = std::make_unique<TkavoChList>();
            FillChannels(*list, 10000);
            const auto captions = Captions();
            const auto texts = CellTexts(*list, captions);
            list.reset();
            QStandardItemModel model(0, static_cast<int>(captions.size()));
            for (const auto& row : texts) {
                QList<QStandardItem*> items;
                for (const QString& text : row)
                    items.append(new QStandardItem(text));
                model.appendRow(items);
            }
            QTreeView view;
            view.setModel(&model);
            referenceKiB = RssKiB() - before;
        }
        state.counters["view_KiB"] = static_cast<double>(viewKiB);
        state.counters["standard_model_KiB"] = static_cast<double>(referenceKiB);
    }
}
BENCHMARK(BM_MemoryWith10000Channels)->Iterations(1)->Unit(benchmark::kMillisecond);

// Wall time of one program run to its first shown window.
double RunToFirstWindow(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Both programs in turn, so that both see the same machine; the ratio is the figure.
void BM_StartupToFirstWindow(benchmark::State& state)
{
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // kavo from the build finds the shipped templates and icons only when told where they are.
    setenv("KAVO_DATA_DIR", KAVO_DATA, 0);
    const auto home = std::filesystem::temp_directory_path() / ("kavo-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(home);
    double kavo = 0;
    double minimal = 0;
    double minimalText = 0;
    int runs = 0;
    for (auto _ : state) {
        kavo += RunToFirstWindow({KAVO_PROGRAM, "--home", home.string(), "--quit-after-show"});
        minimal += RunToFirstWindow({KAVO_MINIMAL_WINDOW});
        minimalText += RunToFirstWindow({KAVO_MINIMAL_WINDOW, "--with-text"});
        ++runs;
    }
    std::error_code error;
    std::filesystem::remove_all(home, error);
    state.counters["kavo_ms"] = kavo / runs;
    state.counters["minimal_ms"] = minimal / runs;
    state.counters["minimal_text_ms"] = minimalText / runs;
    state.counters["ratio"] = minimal > 0 ? kavo / minimal : 0;
    state.counters["ratio_text"] = minimalText > 0 ? kavo / minimalText : 0;
}
BENCHMARK(BM_StartupToFirstWindow)->Iterations(10)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace kavo::bench

#endif
