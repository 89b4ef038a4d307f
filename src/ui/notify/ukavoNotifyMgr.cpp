#include "ui/notify/ukavoNotifyMgr.h"

#include "ui/Cp932Text.h"

#include "common/ukavoCommon.h"
#include "notify/NotifyRules.h"
#include "platform/Cp932.h"
#include "ui/notify/BalloonHint.h"
#include "ui/notify/DesktopNotifier.h"
#include "ui/notify/SpeechEngine.h"
#include "ui/notify/TrayPresence.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QThread>
#include <QWidget>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <system_error>
#include <tuple>

namespace kavo {

namespace {

constexpr int QueueCheckInterval = 500;
constexpr int ActivateDelay = 50;
constexpr int CornerInset = 16;
// Desktop notifications whose actions are still answered.
constexpr std::size_t KeptNotifications = 32;

QSystemTrayIcon::MessageIcon TrayIconOfKind(int kind)
{
    switch (kind) {
    case 1:
        return QSystemTrayIcon::Critical;
    case 2:
        return QSystemTrayIcon::Information;
    case 3:
        return QSystemTrayIcon::Warning;
    default:
        return QSystemTrayIcon::NoIcon;
    }
}

// The sound theme's events for the balloon's icon kinds.
const char* SoundEventOfKind(int kind)
{
    switch (kind) {
    case 1:
        return "dialog-error";
    case 2:
        return "dialog-information";
    case 3:
        return "dialog-warning";
    default:
        return "message";
    }
}

QRect WorkArea()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

} // namespace

QPoint BalloonAnchor(const QRect& workArea, const TkavoSetting::NotifyOptions& options)
{
    const int left = workArea.left();
    const int top = workArea.top();
    const int right = left + workArea.width();
    const int bottom = top + workArea.height();
    QPoint anchor(right, bottom);
    if (options.PositionLeftTop)
        anchor = {left + CornerInset, top};
    if (options.PositionRightTop)
        anchor = {right - CornerInset, top};
    if (options.PositionLeftBottom)
        anchor = {left + CornerInset, bottom};
    if (options.PositionRightBottom)
        anchor = {right - CornerInset, bottom};
    return anchor;
}

NotifyPlatform NotifyPlatform::Desktop()
{
    NotifyPlatform platform;
    platform.BalloonPlayer = CreateCanberraPlayer();
    platform.WorkerPlayer = CreateCanberraFilePlayer();
    platform.CreateSpeech = &CreateQtSpeechEngine;
    const QDBusConnection bus = DesktopSessionBus();
    auto tray = std::make_shared<TrayPresence>(bus);
    platform.TrayAvailable = [tray] { return tray->Available(); };
    platform.WatchTray = [tray](std::function<void()> changed) {
        QObject::connect(tray.get(), &TrayPresence::Changed, tray.get(), std::move(changed));
    };
    if (bus.isConnected())
        platform.Notifications = std::make_shared<DesktopNotifier>(bus);
    platform.CanPlaceWindows = !QGuiApplication::platformName().startsWith(QStringLiteral("wayland"));
    return platform;
}

TkavoNotifyMgr::TkavoNotifyMgr(const TkavoSetting& setting, TkavoCommon& common, NotifyPlatform platform,
                               QObject* parent)
    : QObject(parent), m_setting(setting), m_common(common), m_platform(std::move(platform)),
      m_sounds(std::move(m_platform.WorkerPlayer), [&common] { return common.Closing.load(); }), m_timerBallon(this),
      m_timerQueueCheck(this), m_timerActive(this), m_balloon(std::make_unique<BalloonHint>()),
      m_tray(new QSystemTrayIcon(this))
{
    m_timerBallon.setObjectName(QStringLiteral("TimerBallon"));
    m_timerBallon.setSingleShot(true);
    m_timerBallon.setInterval(BalloonMilliseconds(m_setting.Notify.BallonTimer));
    m_timerQueueCheck.setObjectName(QStringLiteral("TimerQueueCheck"));
    m_timerQueueCheck.setInterval(QueueCheckInterval);
    m_timerActive.setObjectName(QStringLiteral("TimerActive"));
    m_timerActive.setSingleShot(true);
    m_timerActive.setInterval(ActivateDelay);
    connect(&m_timerBallon, &QTimer::timeout, this, &TkavoNotifyMgr::TimerBallonTimer);
    connect(&m_timerQueueCheck, &QTimer::timeout, this, &TkavoNotifyMgr::TimerQueueCheckTimer);
    connect(&m_timerActive, &QTimer::timeout, this, &TkavoNotifyMgr::TimerActiveTimer);

    connect(m_balloon.get(), &BalloonHint::Clicked, this, &TkavoNotifyMgr::balloonClick);

    m_tray->setObjectName(QStringLiteral("JvTrayIcon"));
    // The main window sets the program's icon; the stand-in waits until the tray is shown.
    m_tray->setIcon(QApplication::windowIcon());
    connect(m_tray, &QSystemTrayIcon::messageClicked, this, &TkavoNotifyMgr::balloonClick);
    if (m_platform.WatchTrayMessageClicks)
        m_platform.WatchTrayMessageClicks([this] { balloonClick(); });
    if (m_platform.Notifications)
        m_platform.Notifications->ActionInvoked = [this](int serial, const QString& action) {
            notificationAction(serial, action);
        };
    if (m_platform.WatchTray)
        m_platform.WatchTray([this] { trayChanged(); });
    connect(m_tray, &QSystemTrayIcon::activated, this, &TkavoNotifyMgr::trayIconActivated);
}

TkavoNotifyMgr::~TkavoNotifyMgr()
{
    if (m_platform.Notifications)
        m_platform.Notifications->ActionInvoked = nullptr;
    m_timerBallon.stop();
    m_timerQueueCheck.stop();
    m_timerActive.stop();
    try {
        m_speech.reset();
    } catch (...) {
        // The speech engine's errors are none of the program's business.
    }
}

void TkavoNotifyMgr::ApplyTimers()
{
    m_timerBallon.stop();
    m_timerBallon.setInterval(BalloonMilliseconds(m_setting.Notify.BallonTimer));
    m_timerQueueCheck.setInterval(QueueCheckInterval);
    m_queueCheckOn = true;
    armQueueCheck();
}

void TkavoNotifyMgr::ApplyTray()
{
    const auto& etc = m_setting.Etc;
    m_tray->setToolTip(FromCp932(etc.ApplicationTitle));
    m_trayClickRestores = etc.TaskTray;
    SetTrayActive(NeedTaskTray());
    if (m_common.Initialized)
        return;
    if (etc.Minimized || StartMinimized) {
        if (TrayActive() && etc.TaskTray)
            HideApplication();
        else
            emit HideWindowRequested(false);
    } else {
        emit ShowWindowRequested(false);
    }
}

void TkavoNotifyMgr::SettingsChanged(const TkavoSetting& before, const TkavoSetting& after)
{
    if (before.Notify.BallonTimer != after.Notify.BallonTimer)
        ApplyTimers();
    // What the tray shows and whether it is needed.
    const auto tray = [](const TkavoSetting& s) {
        return std::tie(s.Etc.Minimized, s.Etc.ApplicationTitle, s.Etc.AutoDownLoad, s.Etc.TaskTray, s.Notify.Position);
    };
    if (tray(before) != tray(after))
        ApplyTray();
}

void TkavoNotifyMgr::Notify(const TkavoNotifyItem& item, bool immediate)
{
    if (!immediate) {
        Enqueue(item);
        return;
    }
    TkavoNotifyItem copy;
    copy.Assign(item);
    showItem(copy);
    m_timerBallon.start();
    speak(copy.Text);
}

void TkavoNotifyMgr::Enqueue(const TkavoNotifyItem& item)
{
    auto copy = std::make_unique<TkavoNotifyItem>();
    copy->Assign(item);
    m_queue.Push(std::move(copy));
    if (QThread::currentThread() == thread())
        armQueueCheck();
    else
        QMetaObject::invokeMethod(this, &TkavoNotifyMgr::armQueueCheck, Qt::QueuedConnection);
}

void TkavoNotifyMgr::NotifyChannels(const TkavoChList& channels)
{
    const auto& notify = m_setting.Notify;
    TkavoChList announced;
    for (const TkavoChItem& channel : channels)
        if (!m_ignored.Contains(channel))
            announced.Add(std::make_unique<TkavoChItem>()).Assign(channel);
    const auto items = BuildChannelNotifications(
        announced, notify.notifyCheckBoxFavorite, notify.Title,
        [this](const TkavoChItem& channel) { return m_common.RenderNotifyText(channel); },
        std::max(notify.MaxBalloons, 0));
    for (const TkavoNotifyItem& item : items)
        Enqueue(item);
}

void TkavoNotifyMgr::IgnoreChannels(const std::vector<NotifyChannel>& channels)
{
    for (const NotifyChannel& channel : channels)
        m_ignored.Add(channel);
}

void TkavoNotifyMgr::KeepIgnoredOnAir(const TkavoChList& onAir)
{
    m_ignored.KeepOnAir(onAir);
}

void TkavoNotifyMgr::Abort()
{
    m_queue.Clear();
    hideBalloon(true);
    emit OnNotifyFinish();
    if (m_setting.Notify.TTS && m_speech) {
        try {
            m_speech->Stop();
        } catch (...) {
        }
    }
}

int TkavoNotifyMgr::Count() const
{
    return m_queue.Count();
}

bool TkavoNotifyMgr::NeedTaskTray() const
{
    return !m_setting.Notify.Position || m_setting.Etc.TaskTray;
}

bool TkavoNotifyMgr::TrayActive() const
{
    return m_tray->isVisible();
}

void TkavoNotifyMgr::SetTrayActive(bool active)
{
    // A tray without the program's icon must not show an empty one.
    if (active && m_tray->icon().isNull())
        m_tray->setIcon(QApplication::style()->standardIcon(QStyle::SP_ComputerIcon));
    m_tray->setVisible(active);
}

void TkavoNotifyMgr::SetTrayClickRestores(bool on)
{
    m_trayClickRestores = on;
}

void TkavoNotifyMgr::HideApplication()
{
    // A window hidden without a tray icon to bring it back would be lost until the program ends.
    emit HideWindowRequested(TrayActive() && trayAvailable());
}

void TkavoNotifyMgr::ShowApplication()
{
    emit ShowWindowRequested(true);
}

void TkavoNotifyMgr::TimerQueueCheckTimer()
{
    // Items wait while a refresh runs or the program closes; the timer stays on.
    if (m_common.Busy || m_common.Closing)
        return;
    m_queueCheckOn = false;
    m_timerQueueCheck.stop();
    std::unique_ptr<TkavoNotifyItem> item = m_queue.Pop();
    if (!item) {
        m_queueCheckOn = true;
        return;
    }
    m_sounds.Add(item->Sounds);
    showItem(*item);
    m_sounds.Start(m_setting.Priority.KAVOThread);
    speak(item->Text);
    item.reset();
    m_timerBallon.start();
    emit OnNotifyBegin();
}

void TkavoNotifyMgr::TimerBallonTimer()
{
    m_timerBallon.stop();
    hideBalloon();
    emit OnNotifyFinish();
    m_queueCheckOn = true;
    armQueueCheck();
}

void TkavoNotifyMgr::TimerActiveTimer()
{
    m_timerActive.stop();
    if (!m_setting.Notify.ClickActive)
        return;
    ShowApplication();
}

void TkavoNotifyMgr::balloonClick()
{
    hideBalloon();
    if (m_setting.Notify.ClickActive)
        m_timerActive.start();
}

void TkavoNotifyMgr::trayIconActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (!m_trayClickRestores)
        return;
    if (reason == QSystemTrayIcon::DoubleClick) {
        // The first click of a double click has already toggled the window; leave it shown.
        ShowApplication();
    } else if (reason == QSystemTrayIcon::Trigger) {
        emit ToggleWindowRequested();
    }
}

void TkavoNotifyMgr::showItem(const TkavoNotifyItem& item)
{
    hideBalloon();
    QString title = FromCp932(item.Title);
    if (const int waiting = m_queue.Count(); waiting > 0)
        title += QStringLiteral(" (%1)").arg(waiting);
    const QString text = FromCp932(item.Text);
    const int msecs = m_timerBallon.interval();
    const auto& notify = m_setting.Notify;

    if (useDesktopNotifications()) {
        const int serial = m_platform.Notifications->Show(title, text, item.Kind, msecs, !item.Channels.empty());
        m_notificationShown = true;
        if (!item.Channels.empty()) {
            m_notificationChannels[serial] = item.Channels;
            if (m_notificationChannels.size() > KeptNotifications)
                m_notificationChannels.erase(m_notificationChannels.begin());
        }
        return;
    }
    QPoint anchor;
    if (notify.Position) {
        anchor = BalloonAnchor(WorkArea(), notify);
    } else if (trayAvailable()) {
        m_trayMessageShown = true;
        if (m_platform.ShowTrayMessage)
            m_platform.ShowTrayMessage(title, text, item.Kind, msecs);
        else
            m_tray->showMessage(title, text, TrayIconOfKind(item.Kind), msecs);
        return;
    } else {
        // No tray to show the balloon at: the free balloon takes its place in the usual corner.
        TkavoSetting::NotifyOptions corner;
        corner.PositionRightBottom = true;
        anchor = BalloonAnchor(WorkArea(), corner);
    }
    const int kind = item.Kind <= 3 ? item.Kind : 0;
    playBalloonSound(kind);
    m_balloon->ActivateHint(anchor, title, text, kind, msecs);
}

void TkavoNotifyMgr::playBalloonSound(int kind)
{
    const auto& notify = m_setting.Notify;
    // The sound worker plays the notification's own sounds.
    if (!notify.Sound || !m_platform.BalloonPlayer || m_sounds.HasPending())
        return;
    if (!notify.SoundCustom) {
        m_platform.BalloonPlayer->PlayEvent(SoundEventOfKind(kind));
        return;
    }
    const std::string path = Cp932ToUtf8(notify.SoundFile);
    std::error_code error;
    if (!path.empty() && std::filesystem::exists(path, error))
        m_platform.BalloonPlayer->PlayFile(path);
    else
        m_platform.BalloonPlayer->PlayEvent("message");
}

bool TkavoNotifyMgr::useDesktopNotifications() const
{
    // The free balloon where the settings ask for it, unless it could not go to its corner.
    if (!m_platform.Notifications || (m_setting.Notify.Position && m_platform.CanPlaceWindows))
        return false;
    return m_platform.Notifications->Available();
}

void TkavoNotifyMgr::notificationAction(int serial, const QString& action)
{
    if (action == QLatin1String(DesktopNotifier::PlayAction) ||
        action == QLatin1String(DesktopNotifier::IgnoreAction)) {
        const auto found = m_notificationChannels.find(serial);
        if (found == m_notificationChannels.end() || found->second.empty())
            return;
        if (action == QLatin1String(DesktopNotifier::IgnoreAction))
            IgnoreChannels(found->second);
        else if (OnPlayChannel)
            OnPlayChannel(found->second.front());
        return;
    }
    balloonClick();
}

void TkavoNotifyMgr::trayChanged()
{
    if (!m_common.Closing && !trayAvailable())
        emit TrayLost();
}

void TkavoNotifyMgr::hideBalloon(bool takeBack)
{
    m_balloon->CancelHint();
    if (m_notificationShown && takeBack) {
        m_notificationShown = false;
        m_platform.Notifications->Close();
    }
    if (!m_trayMessageShown)
        return;
    m_trayMessageShown = false;
    if (m_platform.HideTrayMessage)
        m_platform.HideTrayMessage();
    else
        m_tray->showMessage(QString(), QString(), QSystemTrayIcon::NoIcon, 0);
}

void TkavoNotifyMgr::speak(const std::string& text)
{
    const auto& notify = m_setting.Notify;
    if (!notify.TTS)
        return;
    try {
        if (!m_speechTried) {
            m_speechTried = true;
            if (m_platform.CreateSpeech)
                m_speech = m_platform.CreateSpeech();
        }
        if (!m_speech)
            return;
        m_speech->SetSpeed(SpeechSpeed(notify.TTSSpeed));
        m_speech->Speak(FromCp932(WidenForSpeech(text)));
    } catch (...) {
        // Speech is a courtesy: whatever the engine reports is ignored.
    }
}

void TkavoNotifyMgr::armQueueCheck()
{
    if (m_queueCheckOn && !m_timerQueueCheck.isActive() && m_queue.Count() > 0)
        m_timerQueueCheck.start();
}

bool TkavoNotifyMgr::trayAvailable() const
{
    return m_platform.TrayAvailable ? m_platform.TrayAvailable() : false;
}

void ConnectMainWindow(TkavoNotifyMgr& manager, QWidget& window)
{
    // A window hidden and shown again is placed anew by the window manager: the geometry it had
    // when it went into the tray, maximised or not, is put back when it comes out.
    struct Tray
    {
        QByteArray Geometry;
        bool Holds = false; // the window is hidden in the tray
    };
    auto tray = std::make_shared<Tray>();
    const auto show = [&window, tray](bool raise) {
        if (!tray->Geometry.isEmpty() && window.isHidden())
            window.restoreGeometry(tray->Geometry);
        tray->Geometry.clear();
        tray->Holds = false;
        const Qt::WindowStates state = window.windowState();
        if (state & Qt::WindowMinimized)
            window.setWindowState(state & ~Qt::WindowMinimized);
        window.show();
        if (raise) {
            window.raise();
            window.activateWindow();
        }
    };
    const auto hide = [&window, tray](bool intoTray) {
        if (intoTray) {
            if (!window.isHidden())
                tray->Geometry = window.saveGeometry();
            tray->Holds = true;
            window.hide();
        } else {
            window.showMinimized();
        }
    };
    QObject::connect(&manager, &TkavoNotifyMgr::ShowWindowRequested, &window, show);
    QObject::connect(&manager, &TkavoNotifyMgr::HideWindowRequested, &window, hide);
    // Hidden into a tray that has gone: the task bar takes the window.
    QObject::connect(&manager, &TkavoNotifyMgr::TrayLost, &window, [&window, tray] {
        if (!tray->Holds || !window.isHidden())
            return;
        tray->Holds = false;
        if (!tray->Geometry.isEmpty())
            window.restoreGeometry(tray->Geometry);
        tray->Geometry.clear();
        window.showMinimized();
    });
    QObject::connect(&manager, &TkavoNotifyMgr::ToggleWindowRequested, &window, [&window, &manager] {
        if (window.isHidden() || window.isMinimized())
            manager.ShowApplication();
        else
            manager.HideApplication();
    });
}

} // namespace kavo
