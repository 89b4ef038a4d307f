#include "ui/notify/ukavoNotifyMgr.h"

#include "ui/Cp932Text.h"

#include "common/ukavoCommon.h"
#include "notify/NotifyRules.h"
#include "platform/Cp932.h"
#include "ui/notify/BalloonHint.h"
#include "ui/notify/DesktopNotifier.h"
#include "ui/notify/SpeechEngine.h"

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
    platform.TrayAvailable = &QSystemTrayIcon::isSystemTrayAvailable;
    if (DesktopNotifier::TrayUsesNotifications()) {
        auto notifier = std::make_shared<DesktopNotifier>();
        platform.ShowTrayMessage = [notifier](const QString& title, const QString& text, int kind, int msecs) {
            notifier->Show(title, text, kind, msecs);
        };
        platform.HideTrayMessage = [notifier] { notifier->Close(); };
        platform.WatchTrayMessageClicks = [notifier](std::function<void()> clicked) {
            notifier->Clicked = std::move(clicked);
        };
    }
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

    connect(m_balloon.get(), &BalloonHint::Clicked, this, &TkavoNotifyMgr::BalloonClick);

    m_tray->setObjectName(QStringLiteral("JvTrayIcon"));
    // The main window sets the program's icon; the stand-in waits until the tray is shown.
    m_tray->setIcon(QApplication::windowIcon());
    connect(m_tray, &QSystemTrayIcon::messageClicked, this, &TkavoNotifyMgr::BalloonClick);
    if (m_platform.WatchTrayMessageClicks)
        m_platform.WatchTrayMessageClicks([this] { BalloonClick(); });
    connect(m_tray, &QSystemTrayIcon::activated, this, &TkavoNotifyMgr::TrayIconActivated);
}

TkavoNotifyMgr::~TkavoNotifyMgr()
{
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
    const auto items = BuildChannelNotifications(
        channels, notify.notifyCheckBoxFavorite, notify.Title,
        [this](const TkavoChItem& channel) { return m_common.RenderNotifyText(channel); },
        std::max(notify.MaxBalloons, 0));
    for (const TkavoNotifyItem& item : items)
        Enqueue(item);
}

void TkavoNotifyMgr::Abort()
{
    m_queue.Clear();
    hideBalloon();
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

void TkavoNotifyMgr::BalloonClick()
{
    hideBalloon();
    if (m_setting.Notify.ClickActive)
        m_timerActive.start();
}

void TkavoNotifyMgr::TrayIconActivated(QSystemTrayIcon::ActivationReason reason)
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

void TkavoNotifyMgr::hideBalloon()
{
    m_balloon->CancelHint();
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
    auto trayGeometry = std::make_shared<QByteArray>();
    const auto show = [&window, trayGeometry](bool raise) {
        if (!trayGeometry->isEmpty() && window.isHidden()) {
            window.restoreGeometry(*trayGeometry);
            trayGeometry->clear();
        }
        const Qt::WindowStates state = window.windowState();
        if (state & Qt::WindowMinimized)
            window.setWindowState(state & ~Qt::WindowMinimized);
        window.show();
        if (raise) {
            window.raise();
            window.activateWindow();
        }
    };
    const auto hide = [&window, trayGeometry](bool intoTray) {
        if (intoTray) {
            if (!window.isHidden())
                *trayGeometry = window.saveGeometry();
            window.hide();
        } else {
            window.showMinimized();
        }
    };
    QObject::connect(&manager, &TkavoNotifyMgr::ShowWindowRequested, &window, show);
    QObject::connect(&manager, &TkavoNotifyMgr::HideWindowRequested, &window, hide);
    QObject::connect(&manager, &TkavoNotifyMgr::ToggleWindowRequested, &window, [&window, &manager] {
        if (window.isHidden() || window.isMinimized())
            manager.ShowApplication();
        else
            manager.HideApplication();
    });
}

} // namespace kavo
