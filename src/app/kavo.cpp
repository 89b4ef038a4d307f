// kavo: the desktop program.
#include "app/Program.h"
#include "platform/Cp932.h"
#include "platform/ProgramFolder.h"
#include "settings/TkavoSetting.h"
#include "ui/app/Application.h"
#include "ui/app/SessionEnd.h"
#include "ui/app/SingleInstance.h"
#include "ui/htmlview/YpLikeView.h"
#include "ui/window/RefreshCycle.h"
#include "ui/window/ShutdownSequence.h"
#include "ui/window/ukavoMain.h"
#include "version.h"

#include <QAction>
#include <QDir>
#include <QGuiApplication>
#include <QLocalServer>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QWindow>

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
                      with no YP enabled, save the window as a first start shows it
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
// enabled YP there is no refresh to wait for: the window of a first start is saved.
class ScreenshotDriver : public QObject
{
public:
    ScreenshotDriver(Program& program, const QString& folder, bool firstStart)
        : m_window(program.Window()), m_cycle(program.Cycle()), m_folder(folder)
    {
        QDir().mkpath(folder);
        m_window.resize(1000, 600); // wide enough for every default column that matters
        if (firstStart) {
            QTimer::singleShot(2000, this, [this] {
                save(m_window.grab(), "first-start.png");
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

    Program program({}, options.Minimized);
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
    std::unique_ptr<ScreenshotDriver> screenshots;
    if (!options.Screenshots.empty()) {
        bool enabled = false;
        for (const TkavoYpItem& yp : program.Setting().YpList)
            enabled = enabled || yp.Enabled;
        screenshots =
            std::make_unique<ScreenshotDriver>(program, QString::fromStdString(options.Screenshots), !enabled);
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
