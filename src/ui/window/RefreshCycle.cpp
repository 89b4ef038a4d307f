#include "ui/window/RefreshCycle.h"

#include "ui/Cp932Text.h"

#include "common/ukavoCommon.h"
#include "net/ukavoNet.h"
#include "notify/NotifyRules.h"
#include "platform/Cp932.h"
#include "settings/TkavoSetting.h"
#include "ui/app/DebugLog.h"
#include "ui/lists/ChannelActions.h"
#include "ui/lists/ChannelViews.h"
#include "ui/notify/ukavoNotifyMgr.h"
#include "ui/window/MainFrame.h"
#include "ui/window/RefreshFeedback.h"
#include "ui/window/ukavoMain.h"

#include <QStatusBar>
#include <QTime>

#include <vector>

namespace kavo {

using enum ActionId;

RefreshCycle::RefreshCycle(const TkavoSetting& setting, TkavoCommon& common, TkavoNet& net, TkavoNotifyMgr& notifyMgr,
                           TkavoMain& window, std::function<void()> beforeCycle, QObject* parent)
    : QObject(parent), m_setting(setting), m_common(common), m_net(net), m_notifyMgr(notifyMgr), m_window(window),
      m_beforeCycle(std::move(beforeCycle))
{
    TimerRefresh.setObjectName(QStringLiteral("TimerRefresh"));
    TimerRefresh.setInterval(600000);
    connect(&TimerRefresh, &QTimer::timeout, this,
            [this] { DebugLog::Guarded("TimerRefresh", [this] { RefreshTimer(); }); });
    TimerReload.setObjectName(QStringLiteral("TimerReload"));
    TimerReload.setInterval(1000);
    connect(&TimerReload, &QTimer::timeout, this, [this] { timerReloadTimer(); });

    const ActionTable& actions = m_window.Actions();
    actions[MainRefresh]->setEnabled(false); // until start-up has ended
    actions.Connect(MainRefresh, this, [this] { Refresh(); });
}

void RefreshCycle::Arm()
{
    TimerRefresh.start();
}

void RefreshCycle::AllowRefresh()
{
    QAction* refresh = m_window.Actions()[MainRefresh];
    refresh->setEnabled(true);
    if (m_setting.Etc.AutoDownLoad)
        refresh->trigger();
}

TkavoNotifyItem RefreshCycle::notifyItem(const std::string& text, int kind) const
{
    TkavoNotifyItem item;
    item.Title = m_setting.Notify.Title;
    item.Text = text;
    item.Kind = static_cast<std::uint8_t>(kind);
    return item;
}

void RefreshCycle::RefreshTimer()
{
    // A dialog open meanwhile edits a copy of the settings; the cycle takes what is committed.
    if (!m_window.Actions()[MainModeAuto]->isChecked())
        return;
    startCycle(false);
}

void RefreshCycle::Refresh()
{
    if (m_reloadCountdown > 0) {
        m_notifyMgr.Notify(notifyItem(Sjis("手動による更新は１分間に１回のみです"), 1), true);
        return;
    }
    startCycle(true);
}

void RefreshCycle::SettingsChanged(const TkavoSetting& before, const TkavoSetting& after)
{
    bool newlyEnabled = false;
    for (const TkavoYpItem& yp : after.YpList) {
        const int old = before.YpList.IndexOfUrl(yp.Url);
        newlyEnabled = newlyEnabled || (yp.Enabled && (old < 0 || !before.YpList[old].Enabled));
    }
    if (!newlyEnabled || !m_window.Actions()[MainRefresh]->isEnabled() || m_common.Busy)
        return;
    Refresh();
}

void RefreshCycle::setBusy(bool busy)
{
    for (const ActionId id : {MainRefresh, MainConfig, MainFavorite})
        m_window.Actions()[id]->setEnabled(!busy);
}

void RefreshCycle::startCycle(bool manual)
{
    if (m_common.Busy || m_common.Closing)
        return;
    TimerRefresh.stop();
    setBusy(true);
    m_common.Busy = true;
    m_window.Feedback().Started();
    m_notifyErrors = m_window.Actions()[MainNotifyError]->isChecked();
    m_errorTitle = m_setting.Notify.Title;
    m_beforeCycle();
    m_net.Manual = manual;
    try {
        m_net.StartRetrieval();
    } catch (...) {
        // No cycle runs, so no completion will clear the flag.
        m_common.Busy = false;
        m_window.Feedback().Finished();
        setBusy(false);
        TimerRefresh.start();
        throw;
    }
}

void RefreshCycle::ListHandler()
{
    ChannelViews& views = m_window.Views();
    m_window.Frame().SetStatusPanel(1, QTime::currentTime().toString(QStringLiteral("hh:mm")));
    const bool first = !views.FirstListDone();
    views.ShowLists();
    if (first && m_window.isVisible())
        m_window.Channels().CurrentView()->setFocus();

    const auto& rows = views.ListViewNow()->Model().Rows();
    const std::vector<const TkavoChItem*> displayed(rows.begin(), rows.end());
    const std::vector<const TkavoChItem*> marked = ChannelsToNotify(displayed, m_setting.Notify.Rank2);
    const bool notifyChannels = m_window.Actions()[MainNotifyChannel]->isChecked();
    std::vector<AnnouncementRecord> decided;
    if (m_announcements)
        decided = m_announcements->Decide(Now(), m_net.ChList(), marked);
    TkavoChList chosen;
    for (std::size_t i = 0; i < marked.size(); ++i)
        if (decided.empty() || decided[i].Outcome == AnnounceOutcome::Shown)
            chosen.Add(std::make_unique<TkavoChItem>()).Assign(*marked[i]);
    if (notifyChannels && !decided.empty() && m_logAnnouncements)
        m_logAnnouncements(decided);
    m_notifyMgr.KeepIgnoredOnAir(m_net.ChList());
    if (chosen.Count() > 0 && notifyChannels)
        m_notifyMgr.NotifyChannels(chosen);
    if (m_window.Actions()[MainNotifyRefresh]->isChecked() && m_notifyMgr.Count() == 0)
        m_notifyMgr.Notify(notifyItem(Sjis("更新完了"), 2), false);

    m_reloadCountdown = 60;
    TimerReload.start();
}

void RefreshCycle::CompletionHandler()
{
    TimerRefresh.setInterval(m_common.GetRefreshInterval());
    TimerRefresh.start();
    m_window.statusBar()->setToolTip(FromCp932(m_net.ChList().StatusText()));
    setBusy(false);
    m_common.Busy = false;
    m_window.Feedback().Finished();
    emit CycleFinished();
}

void RefreshCycle::ErrorHandler(const std::string& error, const std::string& ypName)
{
    // The worker thread: build the item from what the cycle's start left, and queue it.
    if (!m_notifyErrors)
        return;
    TkavoNotifyItem item;
    item.Title = ypName.empty() ? m_errorTitle : m_errorTitle + " - " + ypName;
    item.Text = error;
    item.Kind = 1;
    m_notifyMgr.Notify(item, false);
}

void RefreshCycle::timerReloadTimer()
{
    if (m_reloadCountdown < 1) {
        TimerReload.stop();
        return;
    }
    --m_reloadCountdown;
    m_window.Frame().SetStatusPanel(0, QString::number(m_reloadCountdown));
}

} // namespace kavo
