#pragma once

#include <QObject>
#include <QTimer>

#include "notify/AnnouncementDecision.h"

#include <functional>
#include <string>
#include <vector>

namespace kavo {

class TkavoCommon;
class TkavoMain;
class TkavoNet;
class TkavoNotifyMgr;
class TkavoSetting;
struct TkavoNotifyItem;

// One refresh after another: the refresh command and the automatic timer start a cycle of the
// retrieval module, which the window's commands wait for; its lists fill the views and give the
// notifications; the manual command then rests for a minute, counted down in the status bar.
class RefreshCycle : public QObject
{
    Q_OBJECT

public:
    // beforeCycle runs on the main thread as each cycle starts. Everything must outlive the cycle.
    RefreshCycle(const TkavoSetting& setting, TkavoCommon& common, TkavoNet& net, TkavoNotifyMgr& notifyMgr,
                 TkavoMain& window, std::function<void()> beforeCycle, QObject* parent = nullptr);

    // The automatic refresh every Notify/Update2 minutes; it starts cycles only in automatic mode.
    QTimer TimerRefresh;
    // Counts the minute after a cycle down, once a second.
    QTimer TimerReload;

    // Arms TimerRefresh for its first tick.
    void Arm();
    // Start-up has ended: the refresh command may run, and runs at once when Etc/AutoDownLoad says so.
    void AllowRefresh();
    // The refresh command: refused with a notification while the minute after a cycle runs.
    void Refresh();
    // New settings: a YP enabled now that was not before is fetched at once, as the refresh
    // command would (not within the minute after a cycle, nor before start-up has ended).
    void SettingsChanged(const TkavoSetting& before, const TkavoSetting& after);
    // A tick of TimerRefresh.
    void RefreshTimer();
    // Seconds until the refresh command may run again.
    int ReloadCountdown() const { return m_reloadCountdown; }

    // Which of the channels marked new are announced; without one, all of them are. log takes the
    // decisions of each refresh while channel notifications are on.
    void SetAnnouncements(AnnouncementDecision* decision,
                          std::function<void(const std::vector<AnnouncementRecord>&)> log = nullptr)
    {
        m_announcements = decision;
        m_logAnnouncements = std::move(log);
    }

    // What the retrieval module raises: its lists are ready, the cycle has ended, a YP failed (on
    // the worker thread).
    void ListHandler();
    void CompletionHandler();
    // ypName goes into the balloon's title.
    void ErrorHandler(const std::string& error, const std::string& ypName = {});

signals:
    // A cycle's views and notifications are done (after OnComplate).
    void CycleFinished();

private:
    void startCycle(bool manual);
    void setBusy(bool busy);
    void timerReloadTimer();
    TkavoNotifyItem notifyItem(const std::string& text, int kind) const;

    const TkavoSetting& m_setting;
    TkavoCommon& m_common;
    TkavoNet& m_net;
    TkavoNotifyMgr& m_notifyMgr;
    TkavoMain& m_window;
    std::function<void()> m_beforeCycle;
    AnnouncementDecision* m_announcements = nullptr;
    std::function<void(const std::vector<AnnouncementRecord>&)> m_logAnnouncements;
    int m_reloadCountdown = 0;
    // ActionMainNotifyError and the notification title as the cycle started; the worker reads
    // them, the main thread writes them only while no cycle runs.
    bool m_notifyErrors = true;
    std::string m_errorTitle;
};

} // namespace kavo
