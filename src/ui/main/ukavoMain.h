#pragma once

#include "settings/IniFile.h"
#include "ui/dialogs/ukavoFind.h"
#include "ui/main/TkavoActions.h"
#include "ui/main/TkavoListView.h"
#include "ui/notify/ukavoNotifyMgr.h"

#include <QMainWindow>
#include <QTimer>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

class QAction;
class QActionGroup;
class QMenu;
class QStackedWidget;

namespace kavo {

class HistoryStore;
class IniFile;
class ProcessStarter;
class ScriptEngine;
class TActionListKeyConfigMgr;
class TkavoChannelActions;
class TkavoChannelFind;
class TkavoChannelViews;
class TkavoCommon;
class TkavoFrame;
class TkavoHistoryViews;
class TkavoLauncher;
class TkavoNet;
class TkavoRefreshFeedback;
class TkavoSettingsFlow;
class TkavoPlacement;
class TkavoToolBars;
class TkavoYpLike;
class VisitedUrls;

// What the program and the tests may put in place of the desktop's services.
struct TkavoMainServices
{
    // Null: programs are really started.
    ProcessStarter* Starter = nullptr;
};

// One cool bar band as stored in [CoolBar].
struct TkavoCoolBand
{
    int ID = -1;
    int Width = -1;
    bool Break = false;
    bool StyleDirty = false;
};

// The window's options kept in the settings file besides the settings, other than the actions'
// switches.
struct TkavoWindowOptions
{
    bool Max = false;
    bool YpLikeRestorePos = false;
    std::array<bool, 11> YpLikeLite{false, false, false, false, true, false, false, false, false, false, false};
    int YpLikeLiteCustomMin = 0;
    int YpLikeLiteCustomMax = 15;
    int YpLikeLiteCustomCount = 15;
    bool YpLikeModeFromStream = true;
    bool YpLikeModeFromTempFile = false;
    std::array<TkavoCoolBand, 3> CoolBands{};
};

// Start-up cannot go on; the message (UTF-8) names what is missing.
class TkavoStartupError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The main window: the frame that holds the lists and the other parts, turns refreshes into filled
// views and notifications, and shuts everything down in order. The program makes the settings, the
// common services, the notification manager and the retrieval module, and hands them in.
class TkavoMain : public QMainWindow
{
    Q_OBJECT

public:
    // Everything handed in must outlive the window.
    TkavoMain(TkavoSetting& setting, TkavoCommon& common, TkavoNotifyMgr& notifyMgr, TkavoNet& net,
              TkavoMainServices services = {}, QWidget* parent = nullptr);
    ~TkavoMain() override;

    TkavoCommon& Common() const { return m_common; }
    TkavoNotifyMgr& NotifyMgr() const { return m_notifyMgr; }
    TkavoNet& Net() const { return m_net; }
    const TkavoActions& Actions() const { return m_actions; }
    TkavoChannelActions& ChannelActions() const { return *m_channelActions; }
    // The two channel lists: columns, filling, sorting, find marks and look.
    TkavoChannelViews& ChannelViews() const { return *m_views; }
    TkavoYpLike& YpLike() const { return *m_ypLike; }
    // The refresh under way in the status bar and the on-air view's empty state.
    TkavoRefreshFeedback& RefreshFeedback() const { return *m_refreshFeedback; }
    TkavoFrame& Frame() const { return *m_frame; }
    TkavoToolBars& ToolBars() const { return *m_toolBars; }
    TkavoPlacement& Placement() const { return *m_placement; }
    // What the find dialog keeps between searches.
    TkavoFindState Find;
    TkavoFind* FindDialog() const { return m_findDialog; }
    TkavoWindowOptions& WindowOptions() { return m_windowOptions; }
    const TkavoWindowOptions& WindowOptions() const { return m_windowOptions; }

    TkavoListView* ListViewNow = nullptr;
    TkavoListView* ListViewLog = nullptr;
    QStackedWidget* PageControl = nullptr;
    QTimer TimerInitialize;
    QTimer TimerRefresh;
    QTimer TimerReload;
    QTimer TimerFinish;

    // The action of that name, or null.
    QAction* Action(const QString& name) const { return m_actions.Find(name); }
    TkavoListView* CurrentListView() const;
    int ReloadCountdown() const { return m_reloadCountdown; }
    bool FirstListDone() const;
    // Rebuilds the YP-style page now when it is the current page, else at its next showing.
    void YpLikeChanged();
    // Status bar panel 0 to 2.
    QString StatusPanel(int panel) const;
    void SetStatusPanel(int panel, const QString& text);
    // Loads the settings file again; the retrieval module's records follow. cancelled: the edited
    // copy of a dialog that was cancelled, whose removed YPs start again without channels.
    void ReloadSettings(const TkavoSetting* cancelled = nullptr);
    // Saves settings edited in a dialog and loads them back. A save that fails says why and keeps
    // the edits in memory (false then).
    bool CommitSettings(const TkavoSetting& edited);
    // The settings dialog; on OK the window takes the new settings on as the dialog changed them.
    void ShowConfigDialog();
    // The dialogs of the settings, favorites and version, and taking their settings on.
    TkavoSettingsFlow& SettingsFlow() const { return *m_settingsFlow; }
    // Searching the lists: the find dialog for the current view (Ctrl+F) or for the YP-style page
    // (F3), and clearing the marks (Esc).
    void FindChannel();
    void FindChannel2();
    void FindClear();

    // The handlers, public so the program's pieces and the tests can drive them.
    void RefreshTimer();
    void Refresh();
    // What the retrieval module raises.
    void ListHandler();
    void CompletionHandler();
    void ErrorHandler(const std::string& error);

    // Stored window options of the INI file, in their fixed order.
    void ReadWindowOptions(const IniFile& ini);
    void WriteWindowOptions(IniFile& ini);
    // Start-up: takes the settings file as read once by the program, sets up the views and arms
    // the start-up timer. Throws TkavoStartupError when a state icon cannot be read.
    void InitialSetup(const IniFile& settingsFile);

    // Shows the window (unless it starts minimised) as the placement store left it: maximised as
    // Window/Max says, on the stored tab, with the stored layout of the bands.
    void RestorePlacement();

    // The record of refreshes behind "YPの状態" and "放送履歴"; without one both actions are off.
    void SetHistory(HistoryStore& history);
    TkavoHistoryViews* HistoryViews() const { return m_historyViews; }
    // Until the first refresh of this run, the on-air view shows these channels of an earlier
    // run, greyed, and the status bar their time. They take no part in change marks.
    void ShowPreviousList(std::unique_ptr<TkavoChList> list);
    bool ShowsPreviousList() const;

signals:
    // A cycle's views and notifications are done (after OnComplate).
    void CycleFinished();
    // The close query and the close handler have run; the program may end.
    void ClosedDown();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    // The launcher and the visited-URL store it shares with the retrieval module, made on first use.
    TkavoLauncher& Launcher();
    void TimerInitializeTimer();
    void TimerReloadTimer();
    void TimerFinishTimer();
    void StartCycle(bool manual);
    void ShowContactUrl(TkavoChItem* channel);
    void SetActionsBusy(bool busy);
    void ConnectActions();
    void ConnectFrame();
    void ShowPage(int page);
    void ExitPeerCast();
    void CloseQuery();
    void WaitWhile(const std::function<bool()>& running);
    void DebugModeChanged();
    TkavoNotifyItem NotifyItem(const std::string& text, int kind) const;

    TkavoSetting& m_setting;
    TkavoCommon& m_common;
    TkavoNotifyMgr& m_notifyMgr;
    TkavoNet& m_net;
    TkavoMainServices m_services;
    std::unique_ptr<ProcessStarter> m_ownStarter;
    TkavoActions m_actions;
    TkavoChannelActions* m_channelActions = nullptr;
    TkavoChannelViews* m_views = nullptr;
    TkavoSettingsFlow* m_settingsFlow = nullptr;
    TkavoChannelFind* m_channelFind = nullptr;
    TkavoYpLike* m_ypLike = nullptr;
    TkavoRefreshFeedback* m_refreshFeedback = nullptr;
    TActionListKeyConfigMgr* m_keyConfig = nullptr;
    std::unique_ptr<VisitedUrls> m_visited;
    std::unique_ptr<TkavoLauncher> m_launcher;
    std::unique_ptr<ScriptEngine> m_dms;

    TkavoHistoryViews* m_historyViews = nullptr;

    TkavoFrame* m_frame = nullptr;
    TkavoToolBars* m_toolBars = nullptr;
    TkavoPlacement* m_placement = nullptr;
    std::array<QIcon, TkavoDiffCount> m_stateIcons;

    int m_reloadCountdown = 0;
    bool m_ypLikeDirty = false;
    bool m_creating = true;
    bool m_closing = false;
    bool m_closed = false;
    bool m_windowMaximizedAtClose = false;
    // ActionMainNotifyError and the notification title as the cycle started; the worker reads
    // them, the main thread writes them only while no cycle runs.
    bool m_notifyErrors = true;
    std::string m_errorTitle;
    TkavoFind* m_findDialog = nullptr;
    // Options of views that come later are kept so that they are written back as read.
    TkavoWindowOptions m_windowOptions;
};

} // namespace kavo
