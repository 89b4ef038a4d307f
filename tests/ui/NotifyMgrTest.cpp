#include "platform/Cp932.h"
#include "support/NotifyTestSupport.h"
#include "ui/notify/BalloonHint.h"
#include "ui/notify/ukavoNotifyMgr.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <thread>

using namespace kavo;
using namespace kavo::test;

namespace {

QString Q(const std::string& cp932)
{
    return QString::fromStdString(Cp932ToUtf8(cp932));
}

TkavoChItem& AddChannel(TkavoChList& list, const std::string& name, const std::string& sound = "",
                        bool favorite = false)
{
    auto& channel = list.Add(std::make_unique<TkavoChItem>());
    channel.ChannelName = name;
    channel.FileName = sound;
    channel.Favorite = favorite;
    return channel;
}

TkavoNotifyItem Item(const std::string& text, int kind = 2)
{
    TkavoNotifyItem item;
    item.Title = Sjis("通知"); // the title the tests configure
    item.Text = text;
    item.Kind = static_cast<std::uint8_t>(kind);
    return item;
}

struct TrayMessage
{
    QString Title;
    QString Text;
    int Kind;
    int Msecs;
};

} // namespace

class NotifyMgrTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<NotifyCommonFixture> m_fixture;
    std::shared_ptr<QStringList> m_balloonSounds;
    std::shared_ptr<RecordingFilePlayer::Log> m_workerSounds;
    std::shared_ptr<QStringList> m_speech;
    int m_speechCreated = 0;
    bool m_speechFails = false;
    bool m_trayAvailable = false;
    QList<TrayMessage> m_trayMessages;
    int m_trayHidden = 0;
    std::unique_ptr<TkavoNotifyMgr> m_mgr;

    TkavoCommon& common() { return *m_fixture->Common; }
    TkavoSetting& Setting() { return m_fixture->Settings; }
    BalloonHint& balloon() { return m_mgr->JvBalloonHint(); }
    QTimer* timer(const char* name) { return m_mgr->findChild<QTimer*>(QString::fromLatin1(name)); }

    void createManager()
    {
        NotifyPlatform platform;
        platform.BalloonPlayer = std::make_unique<RecordingWavePlayer>(m_balloonSounds);
        platform.WorkerPlayer = std::make_unique<RecordingFilePlayer>(m_workerSounds);
        platform.CreateSpeech = [this]() -> std::unique_ptr<SpeechEngine> {
            ++m_speechCreated;
            if (m_speechFails)
                return nullptr;
            return std::make_unique<RecordingSpeech>(m_speech);
        };
        platform.TrayAvailable = [this] { return m_trayAvailable; };
        platform.ShowTrayMessage = [this](const QString& title, const QString& text, int kind, int msecs) {
            m_trayMessages.append({title, text, kind, msecs});
        };
        platform.HideTrayMessage = [this] { ++m_trayHidden; };
        m_mgr = std::make_unique<TkavoNotifyMgr>(Setting(), common(), std::move(platform));
        m_mgr->ApplyTimers();
    }

private slots:
    void init()
    {
        m_fixture = std::make_unique<NotifyCommonFixture>();
        m_balloonSounds = std::make_shared<QStringList>();
        m_workerSounds = std::make_shared<RecordingFilePlayer::Log>();
        m_speech = std::make_shared<QStringList>();
        m_speechCreated = 0;
        m_speechFails = false;
        m_trayAvailable = false;
        m_trayMessages.clear();
        m_trayHidden = 0;
        auto& notify = Setting().Notify;
        notify.Title = Sjis("通知");
        notify.BallonTimer = "1";
        notify.Position = true;
        notify.PositionRightBottom = true;
        notify.Sound = true;
        notify.SoundCustom = false;
        notify.TTS = false;
        notify.ClickActive = true;
        notify.notifyCheckBoxFavorite = false;
        createManager();
    }

    void cleanup()
    {
        m_mgr.reset();
        m_fixture.reset();
    }

    // Channels collect into balloons under 256 bytes; each balloon's title counts the ones still
    // waiting, and the next one comes only after the display time.
    void channelBalloonsComeOneAfterAnother()
    {
        TkavoChList list;
        AddChannel(list, std::string(100, 'a'));
        AddChannel(list, std::string(100, 'b'));
        AddChannel(list, std::string(100, 'c'));
        AddChannel(list, std::string(300, 'd'));
        QSignalSpy begin(m_mgr.get(), &TkavoNotifyMgr::OnNotifyBegin);
        QSignalSpy finish(m_mgr.get(), &TkavoNotifyMgr::OnNotifyFinish);
        m_mgr->NotifyChannels(list);
        QCOMPARE(m_mgr->Count(), 3);

        const QString title = Q(Sjis("通知"));
        struct Shown
        {
            QString Title;
            QString Text;
        };
        const QList<Shown> expected = {
            {title + QStringLiteral(" (2)"), QString(100, u'a') + QStringLiteral("\r\n") + QString(100, u'b')},
            {title + QStringLiteral(" (1)"), QString(100, u'c')},
            {title, QString(300, u'd')},
        };
        QElapsedTimer clock;
        for (int i = 0; i < expected.size(); ++i) {
            QTRY_COMPARE_WITH_TIMEOUT(begin.count(), i + 1, 3000);
            if (i > 0) // shown only after the previous balloon's display time
                QVERIFY2(clock.elapsed() >= 1000, qPrintable(QString::number(clock.elapsed())));
            clock.start();
            QVERIFY(balloon().isVisible());
            QCOMPARE(balloon().Title(), expected[i].Title);
            QCOMPARE(balloon().Text(), expected[i].Text);
            QCOMPARE(balloon().Kind(), 2);
            QCOMPARE(finish.count(), i);
        }
        QTRY_COMPARE_WITH_TIMEOUT(finish.count(), 3, 3000);
        QVERIFY(!balloon().isVisible());
        QCOMPARE(m_mgr->Count(), 0);
    }

    // Items wait while a refresh runs, even when a worker thread queues them, and come within the
    // queue timer's 500 ms once it has ended.
    void busyHoldsTheQueue()
    {
        common().Busy = true;
        QSignalSpy checks(timer("TimerQueueCheck"), &QTimer::timeout);
        std::thread worker([this] { m_mgr->Notify(Item("error"), false); });
        worker.join();
        QTRY_VERIFY_WITH_TIMEOUT(checks.count() >= 2, 3000);
        QVERIFY(!balloon().isVisible());
        QCOMPARE(m_mgr->Count(), 1);

        common().Busy = false;
        QTRY_VERIFY_WITH_TIMEOUT(balloon().isVisible(), 1000);
        QCOMPARE(balloon().Text(), QStringLiteral("error"));
    }

    // An item queued from another thread while the queue sleeps wakes it.
    void workerThreadWakesAnIdleQueue()
    {
        QTRY_VERIFY_WITH_TIMEOUT(!timer("TimerQueueCheck")->isActive(), 2000);
        std::thread worker([this] { m_mgr->Enqueue(Item("late")); });
        worker.join();
        QTRY_VERIFY_WITH_TIMEOUT(balloon().isVisible(), 2000);
        QCOMPARE(balloon().Text(), QStringLiteral("late"));
    }

    void abortFinishesNowAndAgainAfterTheDisplayTime()
    {
        QSignalSpy begin(m_mgr.get(), &TkavoNotifyMgr::OnNotifyBegin);
        QSignalSpy finish(m_mgr.get(), &TkavoNotifyMgr::OnNotifyFinish);
        m_mgr->Notify(Item("one"), false);
        m_mgr->Notify(Item("two"), false);
        QTRY_COMPARE_WITH_TIMEOUT(begin.count(), 1, 2000);

        m_mgr->Abort();
        QCOMPARE(finish.count(), 1);
        QCOMPARE(m_mgr->Count(), 0);
        QVERIFY(!balloon().isVisible());

        QTRY_COMPARE_WITH_TIMEOUT(finish.count(), 2, 2000);
        // The queue went to sleep after a check that found nothing left to show.
        QTRY_VERIFY_WITH_TIMEOUT(!timer("TimerQueueCheck")->isActive(), 2000);
        QCOMPARE(begin.count(), 1);
        QCOMPARE(finish.count(), 2);
        QVERIFY(!balloon().isVisible());
    }

    // "中止" takes the balloon off the screen at once, a tray balloon as well as the free one; the
    // display time's end then has nothing left to hide.
    void abortHidesTheBalloonOnScreen_data()
    {
        QTest::addColumn<bool>("tray");
        QTest::newRow("free balloon") << false;
        QTest::newRow("tray balloon") << true;
    }

    void abortHidesTheBalloonOnScreen()
    {
        QFETCH(bool, tray);
        Setting().Notify.Position = !tray;
        m_trayAvailable = tray;
        QSignalSpy begin(m_mgr.get(), &TkavoNotifyMgr::OnNotifyBegin);
        QSignalSpy finish(m_mgr.get(), &TkavoNotifyMgr::OnNotifyFinish);
        m_mgr->Notify(Item("one"), false);
        QTRY_COMPARE_WITH_TIMEOUT(begin.count(), 1, 2000);
        QCOMPARE(balloon().isVisible(), !tray);
        QCOMPARE(m_trayMessages.size(), tray ? 1 : 0);

        m_mgr->Abort();
        QVERIFY(!balloon().isVisible());
        QCOMPARE(m_trayHidden, tray ? 1 : 0);
        QTRY_COMPARE_WITH_TIMEOUT(finish.count(), 2, 2000);
        QCOMPARE(m_trayHidden, tray ? 1 : 0);
    }

    // An immediate notification shows at once without the queue's begin signal, and still ends
    // after the display time.
    void immediateNotificationBypassesTheQueue()
    {
        common().Busy = true; // the queue is held; an immediate one is not
        m_mgr->Notify(Item("waiting"), false);
        QSignalSpy begin(m_mgr.get(), &TkavoNotifyMgr::OnNotifyBegin);
        QSignalSpy finish(m_mgr.get(), &TkavoNotifyMgr::OnNotifyFinish);
        m_mgr->Notify(Item("now", 1), true);
        QVERIFY(balloon().isVisible());
        QCOMPARE(balloon().Title(), Q(Sjis("通知")) + QStringLiteral(" (1)"));
        QCOMPARE(balloon().Kind(), 1);
        QCOMPARE(m_mgr->Count(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(finish.count(), 1, 2000);
        QCOMPARE(begin.count(), 0);
        QVERIFY(!balloon().isVisible());
    }

    // Two channels of one favorite carry its sound twice; the sound worker plays it once, and the
    // balloon keeps quiet while the worker has sounds.
    void sharedFavoriteSoundPlaysOnce()
    {
        TkavoChList list;
        AddChannel(list, "first", "/sounds/fav.wav", true);
        AddChannel(list, "second", "/sounds/fav.wav", true);
        m_mgr->NotifyChannels(list);
        QCOMPARE(m_mgr->Count(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(balloon().isVisible(), 2000);
        QTRY_COMPARE_WITH_TIMEOUT(m_workerSounds->Snapshot().size(), std::size_t(1), 2000);
        QTest::qWait(200);
        QCOMPARE(m_workerSounds->Snapshot(), std::vector<std::string>{"/sounds/fav.wav"});
        QVERIFY2(m_balloonSounds->isEmpty(), qPrintable(m_balloonSounds->join(u',')));
    }

    void balloonSound_data()
    {
        QTest::addColumn<bool>("sound");
        QTest::addColumn<bool>("custom");
        QTest::addColumn<QString>("file"); // "exists": a file that exists
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("trayBalloon");
        QTest::addColumn<QString>("expected");
        QTest::newRow("sound off") << false << false << QString() << 2 << false << QString();
        QTest::newRow("error icon") << true << false << QString() << 1 << false << QStringLiteral("event:dialog-error");
        QTest::newRow("information icon")
            << true << false << QString() << 2 << false << QStringLiteral("event:dialog-information");
        QTest::newRow("warning icon") << true << false << QString() << 3 << false
                                      << QStringLiteral("event:dialog-warning");
        QTest::newRow("no icon") << true << false << QString() << 0 << false << QStringLiteral("event:message");
        QTest::newRow("unknown kind") << true << false << QString() << 9 << false << QStringLiteral("event:message");
        QTest::newRow("custom file") << true << true << QStringLiteral("exists") << 1 << false
                                     << QStringLiteral("file:exists");
        QTest::newRow("custom file missing")
            << true << true << QStringLiteral("/nonexistent/x.wav") << 1 << false << QStringLiteral("event:message");
        QTest::newRow("tray balloon consults no sound setting") << true << false << QString() << 1 << true << QString();
    }

    void balloonSound()
    {
        QFETCH(bool, sound);
        QFETCH(bool, custom);
        QFETCH(QString, file);
        QFETCH(int, kind);
        QFETCH(bool, trayBalloon);
        QFETCH(QString, expected);
        const std::string existing = m_fixture->Folder.File("ding.wav");
        WriteFile(existing, "RIFF");
        if (file == QStringLiteral("exists"))
            file = QString::fromStdString(existing);
        expected.replace(QStringLiteral("exists"), QString::fromStdString(existing));
        auto& notify = Setting().Notify;
        notify.Sound = sound;
        notify.SoundCustom = custom;
        notify.SoundFile = Utf8ToCp932(file.toStdString());
        notify.Position = !trayBalloon;
        m_trayAvailable = trayBalloon;

        m_mgr->Notify(Item("x", kind), true);
        QCOMPARE(m_balloonSounds->join(u','), expected);
    }

    void cornerAnchor_data()
    {
        QTest::addColumn<QList<bool>>("corners"); // left-top, right-top, left-bottom, right-bottom
        QTest::addColumn<QPoint>("expected");
        // Work area left 10, top 20, width 800, height 600.
        QTest::newRow("none") << QList<bool>{false, false, false, false} << QPoint(810, 620);
        QTest::newRow("left top") << QList<bool>{true, false, false, false} << QPoint(26, 20);
        QTest::newRow("right top") << QList<bool>{false, true, false, false} << QPoint(794, 20);
        QTest::newRow("left bottom") << QList<bool>{false, false, true, false} << QPoint(26, 620);
        QTest::newRow("right bottom") << QList<bool>{false, false, false, true} << QPoint(794, 620);
        QTest::newRow("left top and right bottom") << QList<bool>{true, false, false, true} << QPoint(794, 620);
        QTest::newRow("left top and right top") << QList<bool>{true, true, false, false} << QPoint(794, 20);
        QTest::newRow("all") << QList<bool>{true, true, true, true} << QPoint(794, 620);
    }

    void cornerAnchor()
    {
        QFETCH(QList<bool>, corners);
        QFETCH(QPoint, expected);
        TkavoSetting::NotifyOptions options;
        options.PositionLeftTop = corners[0];
        options.PositionRightTop = corners[1];
        options.PositionLeftBottom = corners[2];
        options.PositionRightBottom = corners[3];
        const QRect workArea(10, 20, 800, 600);
        const QPoint anchor = BalloonAnchor(workArea, options);
        QCOMPARE(anchor, expected);

        // The balloon touches the anchor with a corner and stays in the work area.
        const QSize size(200, 80);
        const QRect placed(BalloonHint::Placement(anchor, size, workArea), size);
        QVERIFY2(workArea.contains(placed), qPrintable(QStringLiteral("%1,%2").arg(placed.x()).arg(placed.y())));
        const bool touches = placed.topLeft() == anchor || placed.topRight() + QPoint(1, 0) == anchor ||
                             placed.bottomLeft() + QPoint(0, 1) == anchor ||
                             placed.bottomRight() + QPoint(1, 1) == anchor;
        QVERIFY(touches || anchor == QPoint(810, 620)); // the far corner itself lies outside
    }

    // The shown free balloon uses the screen's work area.
    void freeBalloonPointsIntoTheWorkArea()
    {
        Setting().Notify.PositionRightBottom = false;
        Setting().Notify.PositionLeftTop = true;
        m_mgr->Notify(Item("corner"), true);
        const QRect workArea = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(balloon().Anchor(), QPoint(workArea.left() + 16, workArea.top()));
        QCOMPARE(balloon().pos(), balloon().Anchor());
    }

    // Without a tray the free balloon stands in for the tray's, at the bottom-right corner; with
    // one, the tray icon shows it.
    void trayBalloonOrFreeBalloon()
    {
        Setting().Notify.Position = false;
        m_mgr->Notify(Item("no tray", 3), true);
        QVERIFY(balloon().isVisible());
        QCOMPARE(balloon().Text(), QStringLiteral("no tray"));
        QCOMPARE(balloon().Kind(), 3);
        const QRect workArea = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(balloon().Anchor(), QPoint(workArea.left() + workArea.width() - 16, workArea.bottom() + 1));
        QVERIFY(m_trayMessages.isEmpty());

        m_trayAvailable = true;
        m_mgr->Notify(Item("tray", 1), true);
        QVERIFY(!balloon().isVisible());
        QCOMPARE(m_trayMessages.size(), 1);
        QCOMPARE(m_trayMessages[0].Title, Q(Sjis("通知")));
        QCOMPARE(m_trayMessages[0].Text, QStringLiteral("tray"));
        QCOMPARE(m_trayMessages[0].Kind, 1);
        QCOMPARE(m_trayMessages[0].Msecs, 1000);
    }

    void displayTime_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<int>("msecs");
        QTest::newRow("not a number") << QStringLiteral("abc") << 10000;
        QTest::newRow("zero") << QStringLiteral("0") << 10000;
        QTest::newRow("negative") << QStringLiteral("-2") << 10000;
        QTest::newRow("three") << QStringLiteral("3") << 3000;
    }

    void displayTime()
    {
        QFETCH(QString, setting);
        QFETCH(int, msecs);
        Setting().Notify.BallonTimer = setting.toStdString();
        m_mgr->ApplyTimers();
        QCOMPARE(timer("TimerBallon")->interval(), msecs);
        QVERIFY(!timer("TimerBallon")->isActive());
    }

    void balloonClick_data()
    {
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::addColumn<bool>("clickActive");
        QTest::addColumn<bool>("restored");
        QTest::newRow("left click brings the window back") << Qt::LeftButton << true << true;
        QTest::newRow("left click without ClickActive") << Qt::LeftButton << false << false;
        QTest::newRow("right click only hides") << Qt::RightButton << true << false;
        QTest::newRow("middle click only hides") << Qt::MiddleButton << true << false;
    }

    void balloonClick()
    {
        QFETCH(Qt::MouseButton, button);
        QFETCH(bool, clickActive);
        QFETCH(bool, restored);
        Setting().Notify.ClickActive = clickActive;
        QWidget window;
        ConnectMainWindow(*m_mgr, window);
        window.showMinimized();
        m_mgr->Notify(Item("click me"), true);
        QVERIFY(balloon().isVisible());

        QTest::mouseClick(&balloon(), button);
        QVERIFY(!balloon().isVisible());
        // The window comes back, if at all, when the short activation delay has run out.
        QTRY_VERIFY_WITH_TIMEOUT(!timer("TimerActive")->isActive(), 1000);
        QCOMPARE(!window.isMinimized() && window.isVisible(), restored);
        // A click does not end the display time.
        QVERIFY(timer("TimerBallon")->isActive());
    }

    void startMinimised_data()
    {
        QTest::addColumn<bool>("minimized");
        QTest::addColumn<bool>("taskTray");
        QTest::addColumn<bool>("trayAvailable");
        QTest::addColumn<bool>("initialized");
        QTest::addColumn<QString>("expected");
        QTest::newRow("normal start") << false << true << true << false << QStringLiteral("shown");
        QTest::newRow("into the tray") << true << true << true << false << QStringLiteral("hidden");
        QTest::newRow("no tray to hide in") << true << true << false << false << QStringLiteral("minimized");
        QTest::newRow("tray off") << true << false << true << false << QStringLiteral("minimized");
        QTest::newRow("after start-up") << true << true << true << true << QStringLiteral("untouched");
    }

    void startMinimised()
    {
        QFETCH(bool, minimized);
        QFETCH(bool, taskTray);
        QFETCH(bool, trayAvailable);
        QFETCH(bool, initialized);
        QFETCH(QString, expected);
        Setting().Etc.Minimized = minimized;
        Setting().Etc.TaskTray = taskTray;
        Setting().Notify.Position = false;
        m_trayAvailable = trayAvailable;
        common().Initialized = initialized;
        QWidget window;
        ConnectMainWindow(*m_mgr, window);
        m_mgr->ApplyTray();

        QString state = QStringLiteral("untouched");
        if (window.isVisible())
            state = window.isMinimized() ? QStringLiteral("minimized") : QStringLiteral("shown");
        else if (window.isMinimized())
            state = QStringLiteral("minimized");
        else if (window.testAttribute(Qt::WA_WState_ExplicitShowHide))
            state = QStringLiteral("hidden");
        QCOMPARE(state, expected);
    }

    void trayIconFollowsNeedTaskTray()
    {
        auto& etc = Setting().Etc;
        auto& notify = Setting().Notify;
        etc.ApplicationTitle = Sjis("かぼ");
        notify.Position = true;
        etc.TaskTray = false;
        common().Initialized = true;
        QVERIFY(!m_mgr->NeedTaskTray());
        m_mgr->ApplyTray();
        QVERIFY(!m_mgr->TrayActive());
        notify.Position = false;
        m_mgr->ApplyTray();
        QVERIFY(m_mgr->TrayActive());
        QCOMPARE(m_mgr->JvTrayIcon().toolTip(), QStringLiteral("かぼ"));
    }

    void speech()
    {
        auto& notify = Setting().Notify;
        m_mgr->Notify(Item("quiet"), true);
        QCOMPARE(m_speechCreated, 0); // speech off: no engine at all

        notify.TTS = true;
        notify.TTSSpeed = "fast";
        m_mgr->Notify(Item("ab 1"), true);
        m_mgr->Notify(Item(Sjis("ｶﾞ")), true);
        QCOMPARE(m_speechCreated, 1);
        QCOMPARE(*m_speech, (QStringList{QStringLiteral("speed:140"), QStringLiteral("speak:ａｂ　１"),
                                         QStringLiteral("speed:140"), QStringLiteral("speak:ガ")}));
        m_speech->clear();
        m_mgr->Abort();
        QCOMPARE(*m_speech, QStringList{QStringLiteral("stop")});
    }

    void speechEngineThatFailsStaysAbsent()
    {
        Setting().Notify.TTS = true;
        m_speechFails = true;
        m_mgr->Notify(Item("one"), true);
        m_mgr->Notify(Item("two"), true);
        m_mgr->Abort();
        QCOMPARE(m_speechCreated, 1);
    }
};

QTEST_MAIN(NotifyMgrTest)
#include "NotifyMgrTest.moc"
