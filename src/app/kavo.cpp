// kavo: the desktop program.
#include "platform/Cp932.h"
#include "platform/ProgramFolder.h"
#include "settings/ukavoConfig.h"
#include "ui/main/TkavoDebugLog.h"
#include "ui/main/TkavoSingleInstance.h"
#include "ui/main/ukavoMain.h"
#include "version.h"

#include <QTimer>
#include <QWindow>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>

namespace kavo {
namespace {

constexpr const char* HelpText = R"(Usage: kavo [OPTION]...
The desktop client for PeerCast YP channel directories.

  --home DIR          the program folder (settings, templates, icons); otherwise $KAVO_HOME,
                      the program's own folder when writable, or ~/.config/kavo
  --minimized         start minimised (or in the tray, as the settings say)
  --quit-after-show   end as soon as the window is first shown (for measurements)
  --help              print this help and exit
  --version           print the version and exit

A second start while kavo runs brings the running window to the front and exits.
Without a display, use kavo-list to fetch and print the channels on the command line.
)";

struct Options
{
    std::string Home;
    bool Minimized = false;
    bool QuitAfterShow = false;
};

// The installed templates/ and icons/: beside an installed program, else the source tree's.
std::string DataFolder()
{
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path exe = ExecutablePath();
    for (const fs::path& candidate : {exe.parent_path().parent_path() / "share" / "kavo", fs::path(KAVO_SOURCE_DATA)})
        if (fs::is_directory(candidate / "templates", error))
            return candidate.string();
    return {};
}

bool HasDisplay()
{
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        if (const char* value = std::getenv(name); value && *value)
            return true;
    return false;
}

// Ends the program once the window has been exposed for the first time.
class QuitOnExpose : public QObject
{
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Expose) {
            watched->removeEventFilter(this);
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return false;
    }
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
        // Anything else is a command line for the running instance, which ignores it.
    }
    if (!HasDisplay()) {
        std::cerr << "kavo: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                     "kavo is a desktop program; on this machine use kavo-list to fetch and print\n"
                     "the channels of your YPs (kavo-list --help).\n";
        return 1;
    }

    std::srand(static_cast<unsigned>(std::time(nullptr)));
    TkavoApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kavo"));
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

    TkavoSingleInstance instance(TkavoSingleInstance::ServerName(QString::fromStdString(folder)));
    if (instance.HandOver(app.arguments()))
        return 0;

    TkavoMain window;
    window.NotifyMgr().StartMinimized = options.Minimized;
    QObject::connect(&instance, &TkavoSingleInstance::Activated, &window, [&window] {
        window.NotifyMgr().ShowApplication();
        window.raise();
        window.activateWindow();
    });
    QObject::connect(&window, &TkavoMain::ClosedDown, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    QuitOnExpose quitOnExpose;
    if (options.QuitAfterShow) {
        window.winId(); // creates the native window to watch
        window.windowHandle()->installEventFilter(&quitOnExpose);
    }
    window.RestorePlacement();
    return app.exec();
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
