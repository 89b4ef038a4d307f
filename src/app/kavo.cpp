// kavo: the desktop program.
#include "app/Program.h"
#include "common/ukavoCommon.h"
#include "platform/Cp932.h"
#include "platform/ProgramFolder.h"
#include "settings/TkavoSetting.h"
#include "ui/app/Application.h"
#include "ui/app/InputBox.h"
#include "ui/app/SessionEnd.h"
#include "ui/app/SingleInstance.h"
#include "ui/htmlview/BrowserPreload.h"
#include "ui/htmlview/YpLikeView.h"
#include "ui/window/RefreshCycle.h"
#include "ui/window/ShutdownSequence.h"
#include "ui/window/ukavoMain.h"
#include "version.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLocalServer>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>

namespace kavo {
namespace {

constexpr const char* HelpText = R"(Usage: kavo [OPTION]...
The desktop client for PeerCast YP channel directories.

  --home DIR          the program folder (settings, templates, icons); otherwise $KAVO_HOME,
                      the program's own folder when it holds kavo.portable or kavo.ini (a
                      portable copy), or $XDG_CONFIG_HOME/kavo (~/.config/kavo)
  --minimized         start minimised (or in the tray, as the settings say)
  --quit-after-show   end as soon as the window is first shown (for measurements)
  --screenshot DIR    for documentation and checks: wait for the first refresh, run a second one,
                      save PNGs of both lists and of the screen with its balloon into DIR, and end;
                      with no YP enabled, or no refresh at start-up, save the window as it is
                      before any refresh
  --measure-first-show  for measurements: once start-up has gone idle, show the YP-style page,
                      print how long the window was held up and whether it moved, and end
  --no-browser-preload  do not make the YP-style page's browser before it is first shown
  --help              print this help and exit
  --version           print the version and exit

A new program folder gets the installed templates and icons ($KAVO_DATA_DIR when set, else
../share/kavo from the program). A second start while kavo runs brings the running window to
the front and exits.
Without a display, use kavo-list to fetch and print the channels on the command line.
)";

struct Options
{
    std::string Home;
    bool Minimized = false;
    bool QuitAfterShow = false;
    bool MeasureFirstShow = false;
    bool BrowserPreload = true;
    std::string Screenshots;
};

// The templates/ and icons/ a new program folder is filled from: $KAVO_DATA_DIR (make run and the
// tests name the source tree's), else share/kavo of the installed tree.
std::string DataFolder()
{
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path candidate = ExecutablePath();
    candidate = candidate.parent_path().parent_path() / "share" / "kavo";
    if (const char* named = std::getenv("KAVO_DATA_DIR"); named && *named)
        candidate = named;
    return fs::is_directory(candidate / "templates", error) ? candidate.string() : std::string();
}

bool HasDisplay()
{
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        if (const char* value = std::getenv(name); value && *value)
            return true;
    return false;
}

// Ends the program the moment the window is first exposed: the figure is the time to a shown
// window, so the shutdown is left out (the minimal reference program ends the same way).
class QuitOnExpose : public QObject
{
public:
    explicit QuitOnExpose(QString serverName) : m_serverName(std::move(serverName)) {}
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Expose) {
            QLocalServer::removeServer(m_serverName);
            std::_Exit(0);
        }
        return false;
    }

private:
    QString m_serverName;
};

// Drives the window through two refreshes and saves what it shows; see --screenshot. Without an
// enabled YP, or without a refresh at start-up, there is none to wait for: the window is saved as
// it shows before one, under stillName.
class ScreenshotDriver : public QObject
{
public:
    ScreenshotDriver(Program& program, const QString& folder, const char* stillName)
        : m_window(program.Window()), m_cycle(program.Cycle()), m_folder(folder)
    {
        QDir().mkpath(folder);
        m_window.resize(1000, 600); // wide enough for every default column that matters
        if (stillName) {
            QTimer::singleShot(2000, this, [this, stillName] {
                save(m_window.grab(), stillName);
                m_window.close();
            });
            return;
        }
        connect(&m_cycle, &RefreshCycle::CycleFinished, this, [this] { cycleFinished(); });
        // A YP that never answers must not keep the program running.
        QTimer::singleShot(120000, this, [this] {
            std::cerr << "kavo: --screenshot: the refreshes did not finish in time\n";
            m_failed = true;
            m_window.close();
        });
    }
    bool Failed() const { return m_failed; }

private:
    void save(const QPixmap& picture, const char* name)
    {
        const QString path = m_folder + QStringLiteral("/") + QString::fromLatin1(name);
        if (!picture.save(path)) {
            std::cerr << "kavo: --screenshot: cannot write " << path.toStdString() << '\n';
            m_failed = true;
        }
    }
    void cycleFinished()
    {
        ++m_cycles;
        if (m_cycles == 1) {
            QTimer::singleShot(1000, this, [this] {
                save(m_window.grab(), "now-first.png");
                // A manual refresh fetches every YP again; its once-a-minute countdown runs fast here.
                m_cycle.TimerReload.setInterval(5);
                refreshWhenAllowed();
            });
        } else if (m_cycles == 2) {
            // Balloons of the new channels are on screen by then.
            QTimer::singleShot(2500, this, [this] {
                if (QScreen* screen = QGuiApplication::primaryScreen())
                    save(screen->grabWindow(0), "balloon.png");
                save(m_window.grab(), "now.png");
                m_window.Actions()[ActionId::TabLog]->trigger();
                QTimer::singleShot(500, this, [this] {
                    save(m_window.grab(), "log.png");
                    // The YP-style page: the browser starts now, its first load takes a moment.
                    connect(&m_window.YpLike(), &YpLikeView::Loaded, this, [this] {
                        QTimer::singleShot(1500, this, [this] {
                            save(m_window.grab(), "yplike.png");
                            m_window.close();
                        });
                    });
                    m_window.Actions()[ActionId::TabYpLike]->trigger();
                    if (!m_window.YpLike().Created()) // no browser here: nothing will load
                        m_window.close();
                });
            });
        }
    }

    void refreshWhenAllowed()
    {
        if (m_cycle.ReloadCountdown() > 0) {
            QTimer::singleShot(20, this, [this] { refreshWhenAllowed(); });
            return;
        }
        m_cycle.TimerReload.setInterval(1000);
        m_window.Actions()[ActionId::MainRefresh]->trigger();
    }

    TkavoMain& m_window;
    RefreshCycle& m_cycle;
    QString m_folder;
    int m_cycles = 0;
    bool m_failed = false;
};

// Waits until start-up has gone idle (the browser made ahead, or the same time without), shows the
// YP-style page and prints, once it has loaded: the longest time the event loop did not come round
// (block_ms), the click itself (click_ms), the time to the loaded page (loaded_ms), whether the
// window's native window was made anew (recreated) and how far the window moved (moved_px).
class FirstShowProbe : public QObject
{
public:
    FirstShowProbe(Program& program, bool preload, QString serverName)
        : m_program(program), m_preload(preload), m_serverName(std::move(serverName))
    {
        m_ticks.setTimerType(Qt::PreciseTimer);
        m_ticks.setInterval(1);
        connect(&m_ticks, &QTimer::timeout, this, [this] { tick(); });
        m_ticks.start();
    }

private:
    void tick()
    {
        const double sinceTick = m_sinceTick.isValid() ? static_cast<double>(m_sinceTick.nsecsElapsed()) / 1e6 : 0;
        m_sinceTick.restart();
        if (m_clicked) {
            m_longest = std::max(m_longest, sinceTick);
            return;
        }
        if (!m_program.Common().Initialized) {
            m_idleSince.invalidate();
            return;
        }
        if (!m_idleSince.isValid())
            m_idleSince.start();
        const bool ready = m_preload ? m_program.Preload().Finished() : m_idleSince.elapsed() > 4000;
        if (!ready) {
            m_readySince.invalidate();
            return;
        }
        if (!m_readySince.isValid())
            m_readySince.start();
        if (m_readySince.elapsed() > 1000)
            click();
    }

    void click()
    {
        TkavoMain& window = m_program.Window();
        m_winId = window.winId();
        m_position = window.pos();
        m_framePosition = window.windowHandle()->framePosition();
        connect(&window.YpLike(), &YpLikeView::Loaded, this, [this] {
            m_loadedMs = static_cast<double>(m_clickClock.nsecsElapsed()) / 1e6;
            // The first frames of the page count too.
            QTimer::singleShot(500, this, [this] { report(); });
        });
        m_clicked = true;
        m_clickClock.start();
        window.Actions()[ActionId::TabYpLike]->trigger();
        m_clickMs = static_cast<double>(m_clickClock.nsecsElapsed()) / 1e6;
        m_longest = std::max(m_longest, m_clickMs);
    }

    void report()
    {
        TkavoMain& window = m_program.Window();
        const int moved = (window.pos() - m_position).manhattanLength() +
                          (window.windowHandle()->framePosition() - m_framePosition).manhattanLength();
        std::printf("block_ms=%.1f click_ms=%.1f loaded_ms=%.1f recreated=%d moved_px=%d\n", m_longest, m_clickMs,
                    m_loadedMs, window.winId() != m_winId ? 1 : 0, moved);
        std::fflush(stdout);
        QLocalServer::removeServer(m_serverName);
        std::_Exit(0);
    }

    Program& m_program;
    bool m_preload;
    QString m_serverName;
    QTimer m_ticks;
    QElapsedTimer m_sinceTick;
    QElapsedTimer m_idleSince;
    QElapsedTimer m_readySince;
    QElapsedTimer m_clickClock;
    bool m_clicked = false;
    double m_longest = 0;
    double m_clickMs = 0;
    double m_loadedMs = 0;
    WId m_winId = 0;
    QPoint m_position;
    QPoint m_framePosition;
};

int Main(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help") {
            std::cout << HelpText;
            return 0;
        }
        if (arg == "--version") {
            std::cout << "kavo " << version::Version << '\n';
            return 0;
        }
        if (arg == "--home" && i + 1 < argc)
            options.Home = argv[++i];
        else if (arg.starts_with("--home="))
            options.Home = std::string(arg.substr(7));
        else if (arg == "--minimized")
            options.Minimized = true;
        else if (arg == "--quit-after-show")
            options.QuitAfterShow = true;
        else if (arg == "--measure-first-show")
            options.MeasureFirstShow = true;
        else if (arg == "--no-browser-preload")
            options.BrowserPreload = false;
        else if (arg == "--screenshot" && i + 1 < argc)
            options.Screenshots = argv[++i];
        // Anything else is a command line for the running instance, which ignores it.
    }
    if (!HasDisplay()) {
        std::cerr << "kavo: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                     "kavo is a desktop program; on this machine use kavo-list to fetch and print\n"
                     "the channels of your YPs (kavo-list --help).\n";
        return 1;
    }

    std::srand(static_cast<unsigned>(std::time(nullptr)));
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts); // the browser module wants it before the application
    Application app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kavo"));
    InstallQtJapanese(app); // the window is Japanese: so are the buttons of Qt's own dialogs
    // Names the installed desktop entry, whose icon desktops show for the window and its notifications.
    QGuiApplication::setDesktopFileName(QStringLiteral(KAVO_APP_ID));
    app.setQuitOnLastWindowClosed(false); // the window hides into the tray; closing ends the program

    const std::string dataFolder = DataFolder();
    const std::string folder = ResolveProgramFolder(ProgramFolderSources::FromEnvironment(options.Home, dataFolder));
    SetProgramName("kavo");
    SetProgramFolder(folder);
    // A portable folder beside the program is not seeded by the resolution: fill in what it lacks.
    if (!dataFolder.empty())
        SeedProgramFolder(folder, dataFolder);
    const QFont font = QApplication::font();
    TkavoSetting::SetSystemFont(
        {Utf8ToCp932(font.family().toStdString()), font.pointSize() > 0 ? font.pointSize() : 9});

    SingleInstance instance(SingleInstance::ServerName(QString::fromStdString(folder)));
    if (instance.HandOver(app.arguments()))
        return 0;

    ProgramServices services;
    services.PreloadBrowser = options.BrowserPreload;
    Program program(std::move(services), options.Minimized);
    TkavoMain& window = program.Window();
    // SIGTERM, SIGINT and the end of the session close the window as its close box does.
    SessionEnd sessionEnd(window);
    try {
        program.Start();
    } catch (const StartupError& error) {
        QMessageBox::critical(nullptr, QStringLiteral("kavo"), QString::fromStdString(error.what()));
        return 1;
    }
    QObject::connect(&instance, &SingleInstance::Activated, &window,
                     [&program] { program.NotifyMgr().ShowApplication(); });
    QObject::connect(&program.Shutdown(), &ShutdownSequence::ClosedDown, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    QuitOnExpose quitOnExpose(SingleInstance::ServerName(QString::fromStdString(folder)));
    if (options.QuitAfterShow) {
        window.winId(); // creates the native window to watch
        window.windowHandle()->installEventFilter(&quitOnExpose);
    }
    std::unique_ptr<FirstShowProbe> firstShow;
    if (options.MeasureFirstShow)
        firstShow = std::make_unique<FirstShowProbe>(program, options.BrowserPreload,
                                                     SingleInstance::ServerName(QString::fromStdString(folder)));
    std::unique_ptr<ScreenshotDriver> screenshots;
    if (!options.Screenshots.empty()) {
        bool enabled = false;
        for (const TkavoYpItem& yp : program.Setting().YpList)
            enabled = enabled || yp.Enabled;
        const char* still = !enabled                              ? "first-start.png"
                            : !program.Setting().Etc.AutoDownLoad ? "before-refresh.png"
                                                                  : nullptr;
        screenshots = std::make_unique<ScreenshotDriver>(program, QString::fromStdString(options.Screenshots), still);
    }
    program.Show();
    const int result = app.exec();
    return screenshots && screenshots->Failed() ? 1 : result;
}

} // namespace
} // namespace kavo

int main(int argc, char** argv)
{
    try {
        return kavo::Main(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "kavo: " << e.what() << std::endl;
        return 1;
    }
}
