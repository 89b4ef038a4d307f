#pragma once

#include "common/WavePlayer.h"
#include "core/TkavoChItem.h"
#include "notify/IgnoredChannels.h"
#include "notify/SoundWorker.h"
#include "notify/TkavoNotifyItem.h"
#include "settings/TkavoSetting.h"

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QWidget;

namespace kavo {

class DesktopNotifier;
class SpeechEngine;
class BalloonHint;
class TkavoCommon;

// The desktop services the notifications use; tests put their own in place.
struct NotifyPlatform
{
    std::unique_ptr<WavePlayer> BalloonPlayer;                   // the free balloon's sounds; returns at once
    std::unique_ptr<SoundFilePlayer> WorkerPlayer;               // the notifications' sound files, one after another
    std::function<std::unique_ptr<SpeechEngine>()> CreateSpeech; // called once, on the first speech
    std::function<bool()> TrayAvailable;                         // does the desktop show tray icons?
    // Shows the tray icon's balloon (kind as in TkavoNotifyItem); empty: the tray icon's own.
    std::function<void(const QString& title, const QString& text, int kind, int msecs)> ShowTrayMessage;
    // Takes back the balloon ShowTrayMessage showed; empty: the tray icon's own balloon, which Qt
    // hides when asked to show an empty one.
    std::function<void()> HideTrayMessage;
    // Given the manager's reaction to a click on a balloon ShowTrayMessage showed, once.
    std::function<void(std::function<void()> clicked)> WatchTrayMessageClicks;
    // Given, once, what to do when the tray may have come or gone.
    std::function<void(std::function<void()> changed)> WatchTray;
    // The desktop's notification service: balloons at the tray go there when it runs, with the
    // channel actions 「再生」 and 「無視」. Null: the tray's own balloons.
    std::shared_ptr<DesktopNotifier> Notifications;
    // Whether a window may place itself on the screen; Wayland compositors place every window
    // themselves, so the free balloon cannot go to a corner there.
    bool CanPlaceWindows = true;

    // libcanberra, Qt TextToSpeech and the desktop's tray.
    static NotifyPlatform Desktop();
};

// Where the free balloon points in the work area: the bottom-right corner, or the corner of the last
// of Notify/PositionLeftTop, RightTop, LeftBottom, RightBottom that is on (16 pixels in from the side).
QPoint BalloonAnchor(const QRect& workArea, const TkavoSetting::NotifyOptions& options);

// Shows the notifications one at a time as balloons, every Notify/BallonTimer seconds while no
// refresh runs, plays their sounds, reads them aloud and owns the tray icon. Everything but
// Notify(item, false) and Enqueue runs on the thread that created the manager.
class TkavoNotifyMgr : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool NeedTaskTray READ NeedTaskTray)

public:
    // The settings are read on the main thread and must outlive the manager.
    TkavoNotifyMgr(const TkavoSetting& setting, TkavoCommon& common,
                   NotifyPlatform platform = NotifyPlatform::Desktop(), QObject* parent = nullptr);
    ~TkavoNotifyMgr() override;

    // Takes Notify/BallonTimer and switches the queue on; the display timer stops.
    void ApplyTimers();
    // Takes the tray options; its first call, before Initialized is set, also shows the main window
    // normally, minimised or in the tray.
    void ApplyTray();
    // New settings: takes on a changed display time and changed tray options.
    void SettingsChanged(const TkavoSetting& before, const TkavoSetting& after);
    // immediate false: queues a copy (any thread). true: shows a copy at once and speaks it, without
    // touching the queue, the pending sounds or OnNotifyBegin.
    void Notify(const TkavoNotifyItem& item, bool immediate);
    // Queues a copy; any thread.
    void Enqueue(const TkavoNotifyItem& item);
    // Queues the notifications of the channels of a list.
    void NotifyChannels(const TkavoChList& channels);
    // Drops the queued items, hides the balloon, raises OnNotifyFinish and stops the speech. The
    // display timer goes on and raises OnNotifyFinish once more when it fires.
    void Abort();
    int Count() const;
    // True when balloons appear at the tray icon (Notify/Position off) or Etc/TaskTray is on.
    bool NeedTaskTray() const;

    // The program was asked to start minimised; read by the first ApplyTray.
    bool StartMinimized = false;

    QSystemTrayIcon& JvTrayIcon() { return *m_tray; }
    BalloonHint& JvBalloonHint() { return *m_balloon; }
    bool TrayActive() const;
    void SetTrayActive(bool active);
    // Whether a click on the tray icon restores the main window (or minimises it when it is shown).
    void SetTrayClickRestores(bool on);
    // Asks for the main window to go into the tray; without a tray to come back from it is
    // minimised instead.
    void HideApplication();
    // Asks for the main window to come back from the tray or the task bar, in front.
    void ShowApplication();
    // Whether the desktop shows a tray the window can be hidden into and brought back from.
    bool TrayAvailable() const { return trayAvailable(); }

    // The channels of a notification's 「無視」: not announced again while they stay on air.
    void IgnoreChannels(const std::vector<NotifyChannel>& channels);
    // A refresh's channels on air: ignored channels that have ended are announced again next time.
    void KeepIgnoredOnAir(const TkavoChList& onAir);
    const IgnoredChannels& Ignored() const { return m_ignored; }
    // A notification's 「再生」: the program plays the channel.
    std::function<void(const NotifyChannel& channel)> OnPlayChannel;

signals:
    // The main window is to be shown (raise: and brought to the front), hidden into the tray or
    // minimised, or toggled between shown and hidden by a click on the tray icon. The first
    // ApplyTray asks for the window's state at start. ConnectMainWindow answers them.
    void ShowWindowRequested(bool raise);
    void HideWindowRequested(bool intoTray);
    void ToggleWindowRequested();
    // The tray went away: a window hidden into it has to come back.
    void TrayLost();
    // A queued notification has just been shown.
    void OnNotifyBegin();
    // The shown notification ended, or the notifications were aborted.
    void OnNotifyFinish();

private slots:
    void TimerQueueCheckTimer();
    void TimerBallonTimer();
    void TimerActiveTimer();
    void balloonClick();
    void trayIconActivated(QSystemTrayIcon::ActivationReason reason);

private:
    void showItem(const TkavoNotifyItem& item);
    // takeBack: a desktop notification goes too; otherwise the next one replaces it, or its own
    // time ends it.
    void hideBalloon(bool takeBack = false);
    bool useDesktopNotifications() const;
    void notificationAction(int serial, const QString& action);
    void trayChanged();
    void speak(const std::string& text);
    void playBalloonSound(int kind);
    void armQueueCheck();
    bool trayAvailable() const;

    const TkavoSetting& m_setting;
    TkavoCommon& m_common;
    NotifyPlatform m_platform;
    TkavoNotifyQueue m_queue;
    SoundWorker m_sounds;
    std::unique_ptr<SpeechEngine> m_speech;
    bool m_speechTried = false;
    QTimer m_timerBallon;
    QTimer m_timerQueueCheck;
    QTimer m_timerActive;
    // The queue timer as the rest of the program sees it. While it is on, the QTimer itself only
    // runs when items wait, so an idle program in the tray is not woken twice a second.
    bool m_queueCheckOn = true;
    std::unique_ptr<BalloonHint> m_balloon;
    QSystemTrayIcon* m_tray;
    bool m_trayClickRestores = false;
    // A tray balloon is on screen (or may be: its own time may have ended it).
    bool m_trayMessageShown = false;
    bool m_notificationShown = false;
    // The channels of the desktop notifications shown lately, by the number the notifier gave.
    std::map<int, std::vector<NotifyChannel>> m_notificationChannels;
    IgnoredChannels m_ignored;
};

// Lets the window answer the manager's requests to show, hide and toggle it.
void ConnectMainWindow(TkavoNotifyMgr& manager, QWidget& window);

} // namespace kavo
