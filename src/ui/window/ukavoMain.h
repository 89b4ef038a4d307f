#pragma once

#include "settings/IniFile.h"
#include "ui/dialogs/ukavoFind.h"
#include "ui/lists/ChannelListView.h"
#include "ui/notify/ukavoNotifyMgr.h"
#include "ui/window/ActionTable.h"

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
class ChannelActions;
class ChannelFind;
class ChannelViews;
class TkavoCommon;
class MainFrame;
class HistoryViews;
class Launcher;
class TkavoNet;
class RefreshFeedback;
class SettingsFlow;
class PlacementStore;
class ToolBars;
class YpLikeView;
class VisitedUrls;

// What the program and the tests may put in place of the desktop's services.
struct MainServices
{
    // Null: programs are really started.
    ProcessStarter* Starter = nullptr;
};

// One cool bar band as stored in [CoolBar].
struct CoolBand
{
    int ID = -1;
    int Width = -1;
    bool Break = false;
    bool StyleDirty = false;
};

// The window's options kept in the settings file besides the settings, other than the actions'
// switches.
struct WindowOptions
{
    bool Max = false;
    bool YpLikeRestorePos = false;
    std::array<bool, 11> YpLikeLite{false, false, false, false, true, false, false, false, false, false, false};
    int YpLikeLiteCustomMin = 0;
    int YpLikeLiteCustomMax = 15;
    int YpLikeLiteCustomCount = 15;
    bool YpLikeModeFromStream = true;
    bool YpLikeModeFromTempFile = false;
    std::array<CoolBand, 3> CoolBands{};
};

// Start-up cannot go on; the message (UTF-8) names what is missing.
class StartupError : public std::runtime_error
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
              MainServices services = {}, QWidget* parent = nullptr);
    ~TkavoMain() override;

    TkavoCommon& Common() const { return m_common; }
    TkavoNotifyMgr& NotifyMgr() const { return m_notifyMgr; }
    TkavoNet& Net() const { return m_net; }
    const kavo::ActionTable& Actions() const { return m_actions; }
    kavo::ChannelActions& ChannelActions() const { return *m_channelActions; }
    // The two channel lists: columns, filling, sorting, find marks and look.
    kavo::ChannelViews& ChannelViews() const { return *m_views; }
    kavo::YpLikeView& YpLike() const { return *m_ypLike; }
    // The refresh under way in the status bar and the on-air view's empty state.
    kavo::RefreshFeedback& RefreshFeedback() const { return *m_refreshFeedback; }
    kavo::MainFrame& Frame() const { return *m_frame; }
    kavo::ToolBars& ToolBars() const { return *m_toolBars; }
    kavo::PlacementStore& Placement() const { return *m_placement; }
    // What the find dialog keeps between searches.
    kavo::FindState Find;
    TkavoFind* FindDialog() const { return m_findDialog; }
    kavo::WindowOptions& WindowOptions() { return m_windowOptions; }
    const kavo::WindowOptions& WindowOptions() const { return m_windowOptions; }

    kavo::ChannelListView* ListViewNow = nullptr;
    kavo::ChannelListView* ListViewLog = nullptr;
    QStackedWidget* PageControl = nullptr;
    QTimer TimerInitialize;
    QTimer TimerRefresh;
    QTimer TimerReload;
    QTimer TimerFinish;

    // The action of that name, or null.
    QAction* Action(const QString& name) const { return m_actions.Find(name); }
    kavo::ChannelListView* CurrentListView() const;
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
    kavo::SettingsFlow& SettingsFlow() const { return *m_settingsFlow; }
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
    // the start-up timer. Throws StartupError when a state icon cannot be read.
    void InitialSetup(const IniFile& settingsFile);

    // Shows the window (unless it starts minimised) as the placement store left it: maximised as
    // Window/Max says, on the stored tab, with the stored layout of the bands.
    void RestorePlacement();

    // The record of refreshes behind "YPの状態" and "放送履歴"; without one both actions are off.
    void SetHistory(HistoryStore& history);
    kavo::HistoryViews* HistoryViews() const { return m_historyViews; }
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
    kavo::Launcher& Launcher();
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
    kavo::MainServices m_services;
    std::unique_ptr<ProcessStarter> m_ownStarter;
    kavo::ActionTable m_actions;
    kavo::ChannelActions* m_channelActions = nullptr;
    kavo::ChannelViews* m_views = nullptr;
    kavo::SettingsFlow* m_settingsFlow = nullptr;
    ChannelFind* m_channelFind = nullptr;
    kavo::YpLikeView* m_ypLike = nullptr;
    kavo::RefreshFeedback* m_refreshFeedback = nullptr;
    TActionListKeyConfigMgr* m_keyConfig = nullptr;
    std::unique_ptr<VisitedUrls> m_visited;
    std::unique_ptr<kavo::Launcher> m_launcher;
    std::unique_ptr<ScriptEngine> m_dms;

    kavo::HistoryViews* m_historyViews = nullptr;

    kavo::MainFrame* m_frame = nullptr;
    kavo::ToolBars* m_toolBars = nullptr;
    kavo::PlacementStore* m_placement = nullptr;
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
    kavo::WindowOptions m_windowOptions;
};

} // namespace kavo
