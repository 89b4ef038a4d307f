// The YP-style page in its browser: from "show the page" (build the text from the default
// templates, hand it to the view) to the end of loading, for 1,000 channels, against loading the
// same HTML from a file in a bare QWebEngineView (target: at most 1.3 times).
#ifdef KAVO_WEBVIEW_BENCH

#include "BenchChannels.h"
#include "common/YpLikePage.h"
#include "common/ukavoCommon.h"
#include "platform/DateTime.h"
#include "settings/TkavoSetting.h"
#include "ui/htmlview/HtmlView.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEngineView>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <memory>
#include <unistd.h>

namespace kavo::bench {
namespace {

QApplication& WebApp()
{
    // The browser engine without a GPU, in a runtime folder of its own.
    static QTemporaryDir runtime;
    if (!std::getenv("XDG_RUNTIME_DIR"))
        qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    if (!std::getenv("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--no-sandbox --disable-gpu");
    if (!qApp) {
        if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "kavo_bench";
        static char* argv[] = {name, nullptr};
        new QApplication(argc, argv); // never destroyed, as in the other window benchmarks
    }
    return *qobject_cast<QApplication*>(qApp);
}

struct PageFixture
{
    TkavoChList Channels;
    TkavoSetting Setting;
    std::unique_ptr<TkavoCommon> Common;
    std::vector<const TkavoChItem*> Rows;
    QString Folder;

    PageFixture()
    {
        FillChannels(Channels, 1000);
        Channels.LastUpdate = Now();
        const std::string data = std::string(KAVO_DATA);
        Common = std::make_unique<TkavoCommon>(Setting, CommonPaths{data, "kavo", ""}, nullptr);
        Common->LoadTemplates();
        Rows = OnAirFirstOrder(Channels);
        Folder = QString::fromStdString(Common->TemplateFolder());
    }
    std::string Page() const
    {
        return BuildYpLikePage(*Common, Channels, Rows, YpLikeLiteFilter(YpLikeLiteOptions{}, 4));
    }
};

PageFixture& Fixture()
{
    static PageFixture fixture;
    return fixture;
}

// Resident memory of this process and of the browser processes it started, KiB.
double ResidentKiB()
{
    const auto rss = [](const std::string& status) {
        std::ifstream in(status);
        for (std::string line; std::getline(in, line);)
            if (line.rfind("VmRSS:", 0) == 0)
                return std::atof(line.c_str() + 6);
        return 0.0;
    };
    double total = rss("/proc/self/status");
    const std::string self = std::to_string(getpid());
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string pid, name, state, parent;
        if (stat >> pid >> name >> state >> parent && parent == self)
            total += rss((entry.path() / "status").string());
    }
    return total;
}

// Runs the event loop until `loaded` is set (or 30 s pass).
void WaitFor(const bool& loaded)
{
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (loaded)
            loop.quit();
    });
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    poll.start();
    loop.exec();
}

// Both loads in turn, so that both see the same machine; wall time, as the work is the browser's
// own processes and threads. The ratio is the figure.
void BM_YpLikeShowToLoaded(benchmark::State& state)
{
    WebApp();
    PageFixture& data = Fixture();
    bool loaded = false;
    HtmlViewEvents events;
    events.LoadFinished = [&](bool) { loaded = true; };
    QString error;
    auto holder = std::make_unique<QWidget>();
    holder->resize(800, 600);
    holder->show();
    // The module of this build, which the benchmark does not sit beside.
    ::setenv("KAVO_WEBVIEW_MODULE", KAVO_WEBVIEW_MODULE_PATH, 0);
    const double before = ResidentKiB();
    std::unique_ptr<HtmlView> view = CreateHtmlView(holder.get(), events, error);
    if (!view) {
        state.SkipWithError(error.toStdString().c_str());
        return;
    }
    view->Widget()->resize(800, 600);
    view->Widget()->show();
    view->ShowPage(QByteArray::fromStdString(data.Page()), data.Folder);
    WaitFor(loaded);
    // What the first showing adds, with the browser's own processes.
    state.counters["shown_added_KiB"] = ResidentKiB() - before;

    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("page.html"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        state.SkipWithError("cannot write the page");
        return;
    }
    file.write(QByteArray::fromStdString(data.Page()));
    file.close();
    QWebEngineView bare;
    bare.resize(800, 600);
    bare.show();
    bool bareLoaded = false;
    QObject::connect(&bare, &QWebEngineView::loadFinished, [&](bool) { bareLoaded = true; });

    // The engine's start belongs to the first showing alone; this measures the later ones.
    bare.load(QUrl::fromLocalFile(path));
    WaitFor(bareLoaded);
    using Clock = std::chrono::steady_clock;
    double pageMs = 0;
    double bareMs = 0;
    int runs = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        loaded = false;
        view->ShowPage(QByteArray::fromStdString(data.Page()), data.Folder);
        WaitFor(loaded);
        pageMs += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        start = Clock::now();
        bareLoaded = false;
        bare.triggerPageAction(QWebEnginePage::Reload);
        WaitFor(bareLoaded);
        bareMs += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        ++runs;
    }
    view.reset();
    state.counters["page_ms"] = pageMs / runs;
    state.counters["bare_file_ms"] = bareMs / runs;
    state.counters["ratio"] = bareMs > 0 ? pageMs / bareMs : 0; // target: at most 1.3
}
BENCHMARK(BM_YpLikeShowToLoaded)->Iterations(10)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace kavo::bench

#endif
