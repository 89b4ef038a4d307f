// The program on desktops as they are: with a tray or none, with the desktop's notification
// service or none (both as stand-ins on a private session bus), and a walk through every window
// that the Wayland check also runs on a real compositor.
#include "app/Program.h"
#include "platform/DateTime.h"
#include "platform/Process.h"
#include "platform/ProgramFolder.h"
#include "support/BrowserTestMain.h"
#include "support/Modal.h"
#include "support/NotifyTestSupport.h"
#include "support/PrivateBus.h"
#include "support/TestHttpServer.h"
#include "ui/dialogs/TrayOptions.h"
#include "ui/htmlview/YpLikeView.h"
#include "ui/lists/ChannelViews.h"
#include "ui/notify/DesktopNotifier.h"
#include "ui/notify/TrayPresence.h"
#include "ui/notify/ukavoNotifyMgr.h"
#include "ui/window/ActionTable.h"
#include "ui/window/RefreshCycle.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDBusMessage>
#include <QDialog>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMutex>
#include <QMutexLocker>
#include <QPalette>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QVariantMap>
#include <QtTest/qtestspontaneevent.h>

#include <atomic>
#include <filesystem>
#include <memory>

using namespace kavo;
using namespace kavo::test;

// Stand-ins of the desktop's services, answering on the private bus's own thread.
class NotificationServer : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Call
    {
        QString App;
        uint Replaces;
        QString Icon;
        QString Summary;
        QString Body;
        QStringList Actions;
        QVariantMap Hints;
    };
    QList<Call> Calls() const
    {
        QMutexLocker lock(&m_lock);
        return m_calls;
    }
    QList<uint> Closed() const
    {
        QMutexLocker lock(&m_lock);
        return m_closed;
    }

public slots:
    uint Notify(const QString& app, uint replaces, const QString& icon, const QString& summary, const QString& body,
                const QStringList& actions, const QVariantMap& hints, int)
    {
        QMutexLocker lock(&m_lock);
        m_calls.append({app, replaces, icon, summary, body, actions, hints});
        return replaces != 0 ? replaces : ++m_lastId;
    }
    void CloseNotification(uint id)
    {
        QMutexLocker lock(&m_lock);
        m_closed.append(id);
    }
    QStringList GetCapabilities() { return {QStringLiteral("actions"), QStringLiteral("body")}; }

private:
    mutable QMutex m_lock;
    QList<Call> m_calls;
    QList<uint> m_closed;
    uint m_lastId = 0;
};

class StatusNotifierWatcher : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ IsStatusNotifierHostRegistered)

public:
    std::atomic<bool> HostRegistered = false;
    bool IsStatusNotifierHostRegistered() const { return HostRegistered; }
};

namespace {

const QString NotificationsService = QStringLiteral("org.freedesktop.Notifications");
const QString WatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");

class RecordingStarter : public ProcessStarter
{
public:
    std::vector<Command> Started;
    std::vector<std::string> Opened;
    StartResult Start(const Command& command, const std::string&, int) override
    {
        Started.push_back(command);
        return {};
    }
    StartResult OpenWithDesktop(const std::string& target) override
    {
        Opened.push_back(target);
        return {};
    }
};

std::string Index(std::initializer_list<const char*> names)
{
    std::string text;
    int listeners = 10;
    for (const char* name : names) {
        char id[40];
        std::snprintf(id, sizeof id, "%032X", static_cast<unsigned>(std::hash<std::string>()(name) & 0xFFFFFFF));
        text += std::string(name) + "<>" + id + "<>10.0.0.1:7144<>http://example.com/<>genre<>desc<>" +
                std::to_string(listeners++) + "<>1<>300<>WMV<><><><><>%20<>1:05<>click<><>0\r\n";
    }
    return text;
}

// A program folder whose one YP is a local server, and the program over it with a tray that
// the test shows and takes away.
class Desktop
{
public:
    TempFolder Folder;
    TestHttpServer Server;
    RecordingStarter Starter;
    std::shared_ptr<bool> Tray = std::make_shared<bool>(true);
    std::function<void()> TrayChanged;
    std::unique_ptr<Program> P;

    // etc: more keys of [Etc]; more: sections after them.
    explicit Desktop(const std::string& etc = "", const std::string& more = "")
    {
        namespace fs = std::filesystem;
        fs::create_directories(Folder.File("templates"));
        for (const char* name :
             {"notify.txt", "popup.txt", "clipboard.txt", "ie_header.html", "ie_channel.html", "ie_footer.html"})
            WriteFile(Folder.File(std::string("templates/") + name), "<channelname/>");
        fs::copy(fs::path(KAVO_TEST_DATA) / ".." / ".." / "data" / "icons", Folder.File("icons"));
        WriteFile(Folder.File("kavo.ini"), "[YP]\nEnabled0=1\nTitle0=yp\nChType0=.+\nUrl0=" + Server.Url("/yp/") +
                                               "\n[Etc]\nPeerCast=/nonexistent/peercast\n" + etc +
                                               "[Notify]\nBallonTimer=1\nTTS=0\nSound=0\n" + more);
        Server.Route("/yp/index.txt", HttpReply::Ok(Index({"alpha", "beta", "gamma"})));
        SetProgramFolder(Folder.Path());
    }
    ~Desktop() { P.reset(); }

    void Start(bool trayAvailable, bool startMinimized = false)
    {
        *Tray = trayAvailable;
        ProgramServices services;
        services.Starter = &Starter;
        services.Sound = [] { return std::unique_ptr<WavePlayer>(); };
        services.Notify = [this] {
            NotifyPlatform platform;
            platform.BalloonPlayer = std::make_unique<RecordingWavePlayer>(std::make_shared<QStringList>());
            platform.WorkerPlayer = std::make_unique<RecordingFilePlayer>(std::make_shared<RecordingFilePlayer::Log>());
            platform.CreateSpeech = [] { return std::unique_ptr<SpeechEngine>(); };
            platform.TrayAvailable = [tray = Tray] { return *tray; };
            platform.ShowTrayMessage = [](const QString&, const QString&, int, int) {};
            platform.WatchTray = [this](std::function<void()> changed) { TrayChanged = std::move(changed); };
            return platform;
        };
        P = std::make_unique<Program>(std::move(services), startMinimized);
        P->Start();
        P->Show();
        QTRY_VERIFY(P->Common().Initialized);
    }

    TkavoMain& W() const { return P->Window(); }
    QAction* A(ActionId id) const { return W().Actions()[id]; }
    bool Refresh()
    {
        QSignalSpy finished(&P->Cycle(), &RefreshCycle::CycleFinished);
        P->Cycle().Refresh();
        return finished.wait(20000);
    }
};

// The close box of the window manager: a close event from outside the program.
void PressCloseBox(QWidget& window)
{
    QCloseEvent event;
    QSpontaneKeyEvent::setSpontaneous(&event);
    QApplication::instance()->notify(&window, &event);
}

// A window of the program's own besides the main window, shown.
QWidget* OtherWindow(const QWidget& main)
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != &main && w->isVisible() && !qobject_cast<QMenu*>(w) && w->windowType() != Qt::ToolTip)
            return w;
    return nullptr;
}

// The desktop's dark colour scheme as Qt's palette carries it.
QPalette DarkPalette()
{
    QPalette palette;
    const QColor window(0x2d, 0x2d, 0x30), text(0xe8, 0xe8, 0xe8), base(0x1e, 0x1e, 0x1e);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, window);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Highlight, QColor(0x26, 0x5f, 0x99));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::ToolTipBase, window);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::Link, QColor(0x6c, 0xb4, 0xff));
    palette.setColor(QPalette::Disabled, QPalette::Text, QColor(0x80, 0x80, 0x80));
    palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x80, 0x80, 0x80));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x80, 0x80, 0x80));
    return palette;
}

} // namespace

class DesktopTest : public QObject
{
    Q_OBJECT

private slots:
    // A tray is there when a StatusNotifier watcher runs with a host registered; its coming and
    // going is noticed.
    void trayPresenceFollowsTheWatcher()
    {
        StatusNotifierWatcher watcher;
        PrivateBus bus;
        if (!bus.Running())
            QSKIP("dbus-daemon is not installed");
        const QDBusConnection probe = bus.Connect(QStringLiteral("probe"));
        TrayPresence presence(probe);
        QSignalSpy changed(&presence, &TrayPresence::Changed);
        QVERIFY(!TrayPresence::StatusNotifierHost(probe));

        bus.Serve(&watcher, WatcherService, QStringLiteral("/StatusNotifierWatcher"));
        QTRY_VERIFY(changed.count() >= 1);
        QVERIFY2(!TrayPresence::StatusNotifierHost(probe), "a watcher without a host shows no icons");
        watcher.HostRegistered = true;
        QVERIFY(TrayPresence::StatusNotifierHost(probe));

        const qsizetype before = changed.count();
        bus.Remove(WatcherService);
        QTRY_VERIFY(changed.count() > before);
        QVERIFY(!TrayPresence::StatusNotifierHost(probe));
    }

    // Balloons become desktop notifications when the service runs: from kavo, with its icon,
    // with 「再生」 and 「無視」 for channels; each replaces the one before. 「無視」 keeps the
    // channels quiet while they are on air, 「再生」 plays the first, Abort takes the notification
    // back. Without the service the tray shows the balloons.
    void notificationsCarryActionsAndReplaceEachOther()
    {
        NotificationServer server;
        PrivateBus bus;
        if (!bus.Running())
            QSKIP("dbus-daemon is not installed");
        NotifyCommonFixture fixture;
        fixture.Settings.Notify.BallonTimer = "1";
        fixture.Settings.Notify.ClickActive = false;
        QStringList trayMessages;
        NotifyPlatform platform;
        platform.TrayAvailable = [] { return true; };
        platform.ShowTrayMessage = [&trayMessages](const QString&, const QString& text, int, int) {
            trayMessages.append(text);
        };
        platform.Notifications = std::make_shared<DesktopNotifier>(bus.Connect(QStringLiteral("client")));
        TkavoNotifyMgr manager(fixture.Settings, *fixture.Common, std::move(platform));
        std::vector<NotifyChannel> played;
        manager.OnPlayChannel = [&played](const NotifyChannel& channel) { played.push_back(channel); };

        TkavoChList channels;
        for (const char* name : {"a", "b"}) {
            auto& channel = channels.Add(std::make_unique<TkavoChItem>());
            channel.ChannelName = name;
            channel.Hash = std::string(32, name[0] == 'a' ? 'A' : 'B');
            channel.StreamURL = std::string("http://localhost:7144/pls/") + name;
        }
        manager.NotifyChannels(channels);
        QTRY_COMPARE(trayMessages, QStringList{QStringLiteral("a\r\nb")});

        bus.Serve(&server, NotificationsService, QStringLiteral("/org/freedesktop/Notifications"));
        manager.Notify(TkavoNotifyItem{"done", "kavo", 2, {}, {}}, false);
        manager.NotifyChannels(channels);
        QTRY_COMPARE_WITH_TIMEOUT(server.Calls().size(), 2, 10000);
        QCOMPARE(trayMessages.size(), 1);
        const QList<NotificationServer::Call> calls = server.Calls();
        QCOMPARE(calls[0].App, QStringLiteral("kavo"));
        QCOMPARE(calls[0].Icon, DesktopEntryName());
        QCOMPARE(calls[0].Replaces, 0u);
        QCOMPARE(calls[0].Actions, (QStringList{QStringLiteral("default"), QString::fromUtf8("開く")}));
        QCOMPARE(calls[1].Replaces, 1u);
        QCOMPARE(calls[1].Body, QStringLiteral("a\r\nb"));
        QCOMPARE(calls[1].Actions,
                 (QStringList{QStringLiteral("default"), QString::fromUtf8("開く"), QStringLiteral("play"),
                              QString::fromUtf8("再生"), QStringLiteral("ignore"), QString::fromUtf8("無視")}));

        const auto invoke = [&bus](uint id, const char* action) {
            QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                                             NotificationsService, QStringLiteral("ActionInvoked"));
            signal << id << QString::fromLatin1(action);
            QDBusConnection(NotificationsService).send(signal);
        };
        invoke(1, "play");
        QTRY_COMPARE(played.size(), std::size_t(1));
        QCOMPARE(played[0].StreamURL, std::string("http://localhost:7144/pls/a"));

        invoke(1, "ignore");
        QTRY_VERIFY(manager.Ignored().Contains(channels[1]));
        auto& newcomer = channels.Add(std::make_unique<TkavoChItem>());
        newcomer.ChannelName = "c";
        newcomer.Hash = std::string(32, 'C');
        manager.NotifyChannels(channels);
        QTRY_COMPARE_WITH_TIMEOUT(server.Calls().size(), 3, 10000);
        QCOMPARE(server.Calls()[2].Body, QStringLiteral("c"));

        // Once a refresh no longer lists them, their next broadcast is announced again.
        TkavoChList onAir;
        onAir.Add(std::make_unique<TkavoChItem>()).Assign(newcomer);
        manager.KeepIgnoredOnAir(onAir);
        QVERIFY(manager.Ignored().Empty());

        manager.Abort();
        QTRY_COMPARE(server.Closed(), QList<uint>{1u});
        bus.Remove(NotificationsService);
    }

    // The close box puts the window into the tray only when asked to and when there is a tray;
    // the exit command always ends the program.
    void closeBoxAndTray_data()
    {
        QTest::addColumn<bool>("option");
        QTest::addColumn<bool>("tray");
        QTest::addColumn<bool>("closeBox");
        QTest::addColumn<bool>("intoTray");
        QTest::newRow("option on, tray, close box") << true << true << true << true;
        QTest::newRow("option on, tray, exit command") << true << true << false << false;
        QTest::newRow("option on, no tray") << true << false << true << false;
        QTest::newRow("option off, tray") << false << true << true << false;
    }
    void closeBoxAndTray()
    {
        QFETCH(bool, option);
        QFETCH(bool, tray);
        QFETCH(bool, closeBox);
        QFETCH(bool, intoTray);
        Desktop d(std::string("CloseToTray=") + (option ? "1" : "0") + "\n");
        d.Start(tray);
        QVERIFY(QTest::qWaitForWindowExposed(&d.W()));
        QSignalSpy closing(&d.W(), &TkavoMain::CloseRequested);
        if (closeBox)
            PressCloseBox(d.W());
        else
            d.A(ActionId::FileExit)->trigger();
        QCOMPARE(closing.count(), intoTray ? 0 : 1);
        QCOMPARE(d.W().isHidden(), true);
        if (intoTray) {
            QVERIFY(d.P->NotifyMgr().TrayActive());
            // The tray icon brings it back.
            d.P->NotifyMgr().ShowApplication();
            QTRY_VERIFY(d.W().isVisible());
        }
    }

    // Starting minimised goes into the tray only when there is one; otherwise the window is
    // minimised where the task bar shows it. A tray that goes away while the window is in it
    // gives the window back to the task bar.
    void neverHiddenWithoutATray()
    {
        // A Wayland compositor takes a request to minimise but never says it did.
        const bool reportsMinimized = !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
        {
            Desktop d("TaskTray=1\n");
            d.Start(false, true);
            QTRY_VERIFY(d.W().isMinimized() || !reportsMinimized);
            QVERIFY(!d.W().isHidden());
        }
        Desktop d("TaskTray=1\n");
        d.Start(true, true);
        QTRY_VERIFY(d.W().isHidden());
        QVERIFY(d.TrayChanged);
        *d.Tray = false;
        d.TrayChanged();
        QTRY_VERIFY(!d.W().isHidden());
        QVERIFY(d.W().isMinimized() || !reportsMinimized);
    }

    // Without a tray the settings dialog disables the tray's options and says why; a stored
    // close-to-tray stays stored for a desktop that has one.
    void settingsSayWhyTrayOptionsAreOff_data()
    {
        QTest::addColumn<bool>("tray");
        QTest::newRow("tray") << true;
        QTest::newRow("no tray") << false;
    }
    void settingsSayWhyTrayOptionsAreOff()
    {
        QFETCH(bool, tray);
        Desktop d("CloseToTray=1\n");
        d.Start(tray);
        bool taskTray = false, closeToTray = false, reason = false;
        WhenDialog([&](QDialog* dialog) {
            auto* box = dialog->findChild<QCheckBox*>(QStringLiteral("etcCheckBoxCloseToTray"));
            taskTray = dialog->findChild<QCheckBox*>(QStringLiteral("etcCheckBoxTaskTray"))->isEnabled();
            closeToTray = box->isEnabled();
            reason = !dialog->findChild<QLabel*>(QStringLiteral("etcLabelNoTray"))->isHidden();
            box->setChecked(false);
            dialog->accept();
        });
        d.A(ActionId::MainConfig)->trigger();
        QCOMPARE(taskTray, tray);
        QCOMPARE(closeToTray, tray);
        QCOMPARE(reason, !tray);
        QCOMPARE(d.P->Setting().Etc.CloseToTray, !tray);
    }

    // Pictures of the lists with favourite colours, links and marks, and of the settings without a
    // tray, in the light and the dark colour scheme at the screen's scale (make screenshot runs it
    // at 100, 150 and 200 %).
    void screenshots()
    {
        const QString folder = qEnvironmentVariable("KAVO_SCREENSHOTS");
        if (folder.isEmpty())
            QSKIP("KAVO_SCREENSHOTS is not set");
        QDir().mkpath(folder);
        const QPalette light = QApplication::palette();
        QApplication::setStyle(QStringLiteral("Fusion"));
        for (const bool dark : {false, true}) {
            QApplication::setPalette(dark ? DarkPalette() : light);
            Desktop d("", "[Favorite]\nEnabled0=1\nTitle0=a\nWord0=alpha\nChannel0=1\nColorEnabled0=1\n"
                          "Color0=13167871\nEnabled1=1\nTitle1=g\nWord1=gamma\nChannel1=1\nColorTextEnabled1=1\n"
                          "ColorText1=32768\n");
            d.Start(false);
            d.W().resize(720, 300);
            QVERIFY(QTest::qWaitForWindowExposed(&d.W()));
            QVERIFY(d.Refresh());
            d.W().Views().ListViewNow()->SelectRow(1);
            const int scale = qRound(d.W().devicePixelRatioF() * 100);
            const QString scheme = dark ? QStringLiteral("dark") : QStringLiteral("light");
            QVERIFY(d.W().grab().save(folder + QStringLiteral("/desktop-lists-%1-%2.png").arg(scheme).arg(scale)));
            WhenDialog([&](QDialog* dialog) {
                if (auto* pages = dialog->findChild<QTabWidget*>(QStringLiteral("PageControl")))
                    pages->setCurrentWidget(dialog->findChild<QWidget*>(QStringLiteral("TabSheetEtc")));
                QTest::qWait(200);
                dialog->grab().save(folder +
                                    QStringLiteral("/desktop-settings-notray-%1-%2.png").arg(scheme).arg(scale));
                dialog->reject();
            });
            d.A(ActionId::MainConfig)->trigger();
            d.A(ActionId::FileExit)->trigger();
        }
        QApplication::setPalette(light);
    }

    // Start, a refresh from a local YP, every dialog and window, the YP-style page, and the end:
    // what the Wayland check runs under a real compositor.
    void walkThroughEveryWindow()
    {
        Desktop d;
        d.Start(QSystemTrayIcon::isSystemTrayAvailable());
        QVERIFY(QTest::qWaitForWindowExposed(&d.W()));
        QVERIFY(d.Refresh());
        QCOMPARE(d.W().Views().ListViewNow()->Model().Count(), 3);

        for (const ActionId id :
             {ActionId::MainConfig, ActionId::MainFavorite, ActionId::MainHelpVersion, ActionId::LVFindChannel}) {
            bool shown = false;
            WhenDialog([&shown](QDialog* dialog) {
                shown = QTest::qWaitForWindowExposed(dialog);
                dialog->reject();
            });
            d.A(id)->trigger();
            QVERIFY2(shown, qPrintable(d.A(id)->objectName()));
        }
        for (const ActionId id : {ActionId::MainVisualYpStatus, ActionId::MainVisualHistory}) {
            d.A(id)->trigger();
            QTRY_VERIFY(OtherWindow(d.W()));
            QWidget* window = OtherWindow(d.W());
            QVERIFY2(QTest::qWaitForWindowExposed(window), qPrintable(d.A(id)->objectName()));
            window->close();
            QTRY_VERIFY(!window->isVisible());
        }

        QSignalSpy loaded(&d.W().YpLike(), &YpLikeView::Loaded);
        d.A(ActionId::TabYpLike)->trigger();
        if (d.W().YpLike().Created())
            QVERIFY(loaded.count() > 0 || loaded.wait(60000));

        QSignalSpy closing(&d.W(), &TkavoMain::CloseRequested);
        d.A(ActionId::FileExit)->trigger();
        QCOMPARE(closing.count(), 1);
    }
};

int main(int argc, char** argv)
{
    return BrowserTestMain<DesktopTest>(argc, argv);
}

#include "DesktopTest.moc"
