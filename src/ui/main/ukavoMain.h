#pragma once

#include "ui/main/TkavoListView.h"
#include "ui/notify/ukavoNotifyMgr.h"

#include <QMainWindow>
#include <QTimer>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <string>

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QStackedWidget;
class QToolBar;

namespace kavo {

class IniFile;
class ProcessStarter;
class ScriptEngine;
class TkavoCommon;
class TkavoLauncher;
class TkavoNet;
class VisitedUrls;

// What the find dialog keeps between searches; the window holds it until the dialog takes over.
struct TkavoFindState
{
    std::string FindValue;
    bool KeepFind = true;
    bool MoveResultsUp = false;
};

// What the program and the tests may put in place of the desktop's services.
struct TkavoMainServices
{
    // Empty: the desktop's sound, speech and tray.
    std::function<TkavoNotifyPlatform()> NotifyPlatform;
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

// The main window: owns the four services of the program, turns refreshes into filled views and
// notifications, and shuts everything down in order.
class TkavoMain : public QMainWindow
{
    Q_OBJECT

public:
    explicit TkavoMain(TkavoMainServices services = {}, QWidget* parent = nullptr);
    ~TkavoMain() override;

    TkavoCommon& Common() const { return *m_common; }
    TkavoNotifyMgr& NotifyMgr() const { return *m_notifyMgr; }
    TkavoNet& Net() const { return *m_net; }
    TkavoFindState Find;

    TkavoListView* ListViewNow = nullptr;
    TkavoListView* ListViewLog = nullptr;
    QStackedWidget* PageControl = nullptr;
    QTimer TimerInitialize;
    QTimer TimerRefresh;
    QTimer TimerReload;
    QTimer TimerFinish;

    // The action of that name, or null.
    QAction* Action(const QString& name) const;
    TkavoListView* CurrentListView() const { return m_currentListView; }
    int ReloadCountdown() const { return m_reloadCountdown; }
    bool FirstListDone() const { return m_firstListDone; }
    // Status bar panel 0 to 2.
    QString StatusPanel(int panel) const;
    // While the settings or favorites dialog is open, automatic refreshes wait.
    void BeginSettingsDialog();
    void EndSettingsDialog();

    // The handlers, public so the program's pieces and the tests can drive them.
    void RefreshTimer();
    void Refresh();
    void ColumnClick(TkavoListView* view, int column);
    // Plays the view's selected channel (its direct stream URL when direct), falling back to the
    // desktop's handler.
    void PlaySelected(TkavoListView* view, bool direct = false);
    // Enables the context menu's channel actions for the current view's selection.
    void PrepareListMenu();
    // The selected channel's clipboard text onto the clipboard.
    void CopySelected();
    // What the retrieval module raises.
    void ListHandler();
    void CompletionHandler();
    void ErrorHandler(const std::string& error);

    // Applies the settings' list look to a view.
    void ApplyListLook(TkavoListView* view);
    // Stored window options of the INI file, in their fixed order.
    void ReadWindowOptions(const IniFile& ini);
    void WriteWindowOptions(IniFile& ini) const;

    // Shows the window once the placement is restored; false when a start-up minimised stays hidden.
    void RestorePlacement();

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
    void InitialSetup();
    void TimerInitializeTimer();
    void TimerReloadTimer();
    void TimerFinishTimer();
    void StartCycle(bool manual);
    void ApplyPriorities();
    void BuildColumns(TkavoListView* view);
    void ReadColumnWidths(const IniFile& ini);
    void WriteColumnWidths(IniFile& ini) const;
    void FillView(TkavoListView* view, const TkavoChList& list);
    void SortView(TkavoListView* view, int column);
    void NowSorted();
    void LogSorted();
    void ShowContactUrl(TkavoChItem* channel);
    void SetActionsBusy(bool busy);
    void CreateActions();
    void CreateMenus();
    void CreateStatusBar();
    void ShowPage(int page);
    void ExitPeerCast();
    void CloseQuery();
    void WaitWhile(const std::function<bool()>& running);
    void DebugModeChanged();
    template <class F>
    void Guarded(const char* where, F&& handler);

    QAction* addAction(const char* name, const char* caption, bool checkable = false);

    TkavoMainServices m_services;
    std::unique_ptr<ProcessStarter> m_ownStarter;
    // The four services, created in this order and freed in reverse.
    std::unique_ptr<TkavoCommon> m_common;
    std::unique_ptr<TkavoNotifyMgr> m_notifyMgr;
    std::unique_ptr<TkavoNet> m_net;
    std::unique_ptr<VisitedUrls> m_visited;
    std::unique_ptr<TkavoLauncher> m_launcher;
    std::unique_ptr<ScriptEngine> m_dms;

    TkavoChannelModel* m_modelNow = nullptr;
    TkavoChannelModel* m_modelLog = nullptr;
    TkavoListView* m_currentListView = nullptr;
    QToolBar* m_toolBar = nullptr;
    QMenu* m_popupMenuListItem = nullptr;
    QMenu* m_popupMenuTrayIcon = nullptr;
    std::array<QLabel*, 3> m_panels{};
    std::array<QIcon, TkavoDiffCount> m_stateIcons;

    int m_reloadCountdown = 0;
    bool m_firstListDone = false;
    bool m_ypLikeDirty = false;
    bool m_reapplyFind = false;
    int m_ypLikeScrollTop = -1;
    bool m_windowMaximized = false;
    bool m_creating = true;
    bool m_closing = false;
    bool m_closed = false;
    bool m_windowMaximizedAtClose = false;
    // ActionMainNotifyError as the cycle started; the worker reads it.
    std::atomic<bool> m_notifyErrors = true;
    int m_settingsDialogs = 0;
    bool m_refreshWaiting = false;
    // Options of views that come later, kept so that they are written back as read.
    bool m_ypLikeRestorePos = false;
    std::array<bool, 11> m_ypLikeLite{};
    int m_ypLikeLiteCustomMin = 0;
    int m_ypLikeLiteCustomMax = 15;
    int m_ypLikeLiteCustomCount = 15;
    bool m_ypLikeModeFromStream = true;
    bool m_ypLikeModeFromTempFile = false;
    std::array<TkavoCoolBand, 3> m_coolBandLayout{};
};

// The program-wide references to the services; valid while the main window lives.
TkavoMain* MainWindow();

} // namespace kavo
