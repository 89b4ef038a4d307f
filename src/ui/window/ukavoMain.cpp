#include "ui/window/ukavoMain.h"

#include "ui/Cp932Text.h"

#include "common/Launcher.h"
#include "common/ukavoCommon.h"
#include "net/ukavoNet.h"
#include "platform/Cp932.h"
#include "platform/Process.h"
#include "platform/ProgramFolder.h"
#include "platform/VisitedUrls.h"
#include "script/ScriptEngine.h"
#include "script/YpScriptRunner.h"
#include "settings/IniFile.h"
#include "settings/TkavoSetting.h"
#include "ui/app/DebugLog.h"
#include "ui/dialogs/HistoryViews.h"
#include "ui/htmlview/YpLikeView.h"
#include "ui/keys/uActionListKeyConfigMgr.h"
#include "ui/lists/ChannelActions.h"
#include "ui/lists/ChannelFind.h"
#include "ui/lists/ChannelViews.h"
#include "ui/window/ApplicationTitle.h"
#include "ui/window/MainFrame.h"
#include "ui/window/PlacementStore.h"
#include "ui/window/RefreshFeedback.h"
#include "ui/window/SettingsFlow.h"
#include "ui/window/ToolBars.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFileInfo>
#include <QGuiApplication>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTime>

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

namespace kavo {
namespace {

QString U(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

constexpr int PageNow = MainFrame::PageNow;
constexpr int PageLog = MainFrame::PageLog;
constexpr int PageYpLike = MainFrame::PageYpLike;

// The retrieval module's script engine is recreated once the module offers it.
template <class Net>
bool RecreateNetScripts(Net& net)
{
    if constexpr (requires { net.RecreateScriptEngine(); })
        return net.RecreateScriptEngine();
    else
        return true;
}

// One option of the window in the settings file: where it lives, its default, and how it is
// taken from and given to the window.
struct WindowOption
{
    const char* Section;
    std::string Key;
    int Default;
    std::function<int(const TkavoMain&)> Get;
    std::function<void(TkavoMain&, int)> Set;
};

} // namespace

using DebugLog::Guarded;
using enum ActionId;

TkavoMain::TkavoMain(TkavoSetting& setting, TkavoCommon& common, TkavoNotifyMgr& notifyMgr, TkavoNet& net,
                     MainServices services, QWidget* parent)
    : QMainWindow(parent), m_setting(setting), m_common(common), m_notifyMgr(notifyMgr), m_net(net),
      m_services(services), m_actions(this)
{
    FormCreate();
}

TkavoMain::~TkavoMain()
{
    qApp->removeEventFilter(this);
    // A cycle still running reads the visited-URL store, which goes with the window.
    m_net.Stop();
    m_net.OnProgress = nullptr;
    m_net.SetVisitedUrls(nullptr);
    // The rows point into the retrieval module's lists.
    m_views->Clear();
    m_dms.reset();
    m_launcher.reset();
    m_visited.reset();
}

TkavoNotifyItem TkavoMain::NotifyItem(const std::string& text, int kind) const
{
    TkavoNotifyItem item;
    item.Title = m_setting.Notify.Title;
    item.Text = text;
    item.Kind = static_cast<std::uint8_t>(kind);
    return item;
}

ChannelListView* TkavoMain::CurrentListView() const
{
    return m_channelActions->CurrentView();
}

bool TkavoMain::FirstListDone() const
{
    return m_views->FirstListDone();
}

void TkavoMain::ShowPreviousList(std::unique_ptr<TkavoChList> list)
{
    m_views->ShowPreviousList(std::move(list), *statusBar());
}

bool TkavoMain::ShowsPreviousList() const
{
    return m_views->ShowsPreviousList();
}

QString TkavoMain::StatusPanel(int panel) const
{
    return m_frame->StatusPanel(panel);
}

void TkavoMain::SetStatusPanel(int panel, const QString& text)
{
    m_frame->SetStatusPanel(panel, text);
}

void TkavoMain::FormCreate()
{
    setObjectName(QStringLiteral("kavoMain"));
    m_creating = true;

    m_common.OnTemplateError = [this](const std::string& message) {
        auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(), FromCp932(message), QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    };
    m_common.FindValueSource = [this] { return Find.FindValue; };
    ConnectMainWindow(m_notifyMgr, *this);

    m_net.OnSuccess = [this](TkavoNet&) { Guarded("OnSuccess", [this] { ListHandler(); }); };
    m_net.OnComplate = [this](TkavoNet&) { Guarded("OnComplate", [this] { CompletionHandler(); }); };
    m_net.OnError = [this](TkavoNet&, const std::string& error) { ErrorHandler(error); };
    m_net.OnCycleError = [this](TkavoNet&, const std::string& error) {
        auto* box = new QMessageBox(QMessageBox::Critical, windowTitle(), FromCp932(error), QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    };

    if (!m_services.Starter) {
        m_ownStarter = std::make_unique<ProcessStarter>();
        m_services.Starter = m_ownStarter.get();
    }

    // The page control with hidden tabs: on air, ended, and the YP-style page.
    PageControl = new QStackedWidget(this);
    PageControl->setObjectName(QStringLiteral("PageControl"));
    m_views = new kavo::ChannelViews(m_setting, m_common, m_net, m_actions, Find, this);
    ListViewNow = m_views->ListViewNow();
    ListViewLog = m_views->ListViewLog();
    connect(m_views, &ChannelViews::FindApplied, this, [this] { m_ypLikeDirty = true; });
    connect(m_views, &ChannelViews::NowSorted, this, [this] { YpLikeChanged(); });
    PageControl->addWidget(ListViewNow);
    PageControl->addWidget(ListViewLog);
    setCentralWidget(PageControl);
    resize(573, 447);

    // The user's shortcuts, read once every action exists.
    m_keyConfig = new TActionListKeyConfigMgr(this);
    m_keyConfig->SetIniLocationExePath(true);
    m_keyConfig->SetActive(true);
    connect(m_keyConfig, &TActionListKeyConfigMgr::SaveFailed, this,
            [this](const QString& message) { QMessageBox::critical(this, windowTitle(), message); });
    m_channelActions = new kavo::ChannelActions(
        m_setting, m_common, m_actions, [this]() -> kavo::Launcher& { return Launcher(); }, m_net, m_notifyMgr, this);
    m_ypLike = new YpLikeView(
        m_setting, m_common, m_windowOptions, m_actions, *m_channelActions, ListViewNow,
        [this]() -> const TkavoChList& { return m_net.ChList(); }, [this]() -> kavo::Launcher& { return Launcher(); },
        this);
    PageControl->addWidget(m_ypLike->Page());
    connect(m_ypLike, &YpLikeView::LiteChanged, this, [this](bool stale) {
        if (stale)
            m_ypLikeDirty = true;
        if (m_actions[TabYpLike]->isChecked())
            ShowPage(PageYpLike);
    });
    connect(m_ypLike, &YpLikeView::SortRequested, this,
            [this](int column) { Guarded("YpLikeSort", [&] { m_views->ColumnClick(ListViewNow, column); }); });
    connect(m_ypLike, &YpLikeView::StatusText, this, [this](const QString& text) { SetStatusPanel(2, text); });
    // Marks of a play or an admin command while the page is shown.
    connect(m_channelActions, &ChannelActions::YpLikeRebuildNeeded, this, [this] { YpLikeChanged(); });
    ConnectActions();
    ConnectFrame();
    m_refreshFeedback =
        new kavo::RefreshFeedback(m_setting, m_net, *ListViewNow, *statusBar(), m_actions[MainConfig], this);
    {
        const std::vector<QAction*> all = m_actions.All();
        m_keyConfig->SetActionList(QList<QAction*>(all.begin(), all.end()));
    }

    for (ChannelListView* view : {ListViewNow, ListViewLog}) {
        m_channelActions->Attach(view);
        connect(view, &ChannelListView::MenuKeyReleased, this,
                [this] { m_actions[MainVisualShowContextMenu]->trigger(); });
        connect(view, &ChannelListView::CurrentChannelChanged, this, [this, view](TkavoChItem* channel) {
            if (view == CurrentListView())
                ShowContactUrl(channel);
        });
    }

    connect(&m_notifyMgr, &TkavoNotifyMgr::OnNotifyBegin, this,
            [this] { m_actions[MainNotifyAbort]->setEnabled(true); });
    connect(&m_notifyMgr, &TkavoNotifyMgr::OnNotifyFinish, this,
            [this] { m_actions[MainNotifyAbort]->setEnabled(false); });

    TimerInitialize.setObjectName(QStringLiteral("TimerInitialize"));
    TimerInitialize.setSingleShot(true);
    TimerInitialize.setInterval(500);
    connect(&TimerInitialize, &QTimer::timeout, this, [this] { TimerInitializeTimer(); });
    TimerRefresh.setObjectName(QStringLiteral("TimerRefresh"));
    TimerRefresh.setInterval(600000);
    connect(&TimerRefresh, &QTimer::timeout, this, [this] { Guarded("TimerRefresh", [this] { RefreshTimer(); }); });
    TimerReload.setObjectName(QStringLiteral("TimerReload"));
    TimerReload.setInterval(1000);
    connect(&TimerReload, &QTimer::timeout, this, [this] { TimerReloadTimer(); });
    TimerFinish.setObjectName(QStringLiteral("TimerFinish"));
    TimerFinish.setSingleShot(true);
    TimerFinish.setInterval(10000);
    connect(&TimerFinish, &QTimer::timeout, this, [this] { TimerFinishTimer(); });

    m_placement = new PlacementStore(ProgramFolder() + "/" + PlacementStore::FileName, *this,
                                     {m_actions[TabNow], m_actions[TabLog], m_actions[TabYpLike], m_actions[CoolFixed]},
                                     TimerInitialize);

    qApp->installEventFilter(this);

    // Made once and kept hidden: it holds the search and its history for the whole run.
    m_findDialog = new TkavoFind(Find, m_common, this);
    m_settingsFlow = new kavo::SettingsFlow(*this, m_setting, m_common, m_net, m_notifyMgr, *m_views, *m_channelActions,
                                            *m_refreshFeedback, *m_findDialog, this);
    m_channelFind =
        new ChannelFind(*m_findDialog, Find, m_common, *m_views, *m_channelActions, m_actions, *PageControl, this);
    connect(m_channelFind, &ChannelFind::YpLikeSearched, this, [this] { YpLikeChanged(); });
}

kavo::Launcher& TkavoMain::Launcher()
{
    // Opened on first use rather than at creation: the store's file is not needed to show the window.
    if (!m_launcher) {
        m_visited = std::make_unique<VisitedUrls>(ProgramFolder() + "/" + VisitedUrls::FileName);
        m_net.SetVisitedUrls(m_visited.get());
        m_launcher = std::make_unique<kavo::Launcher>(
            m_setting, ProgramFolder(),
            [this](const std::string& text, const TkavoChItem* channel) {
                return m_common.ExpandChannelTags(channel, m_common.ExpandPathTags(text));
            },
            [this](const std::string& caption, const std::string& prompt, const std::string& value) {
                bool ok = false;
                const QString answer = QInputDialog::getText(this, FromCp932(caption), FromCp932(prompt),
                                                             QLineEdit::Normal, FromCp932(value), &ok);
                return ok ? Utf8ToCp932(answer.toStdString()) : value;
            },
            m_visited.get(), *m_services.Starter);
        m_launcher->OnRefused = [this](const std::string& message) {
            statusBar()->showMessage(FromCp932(message), 10000);
        };
    }
    return *m_launcher;
}

void TkavoMain::ConnectActions()
{
    const auto connectAction = [this](ActionId id, const char* where, auto handler) {
        connect(m_actions[id], &QAction::triggered, this, [where, handler] { Guarded(where, handler); });
    };

    m_actions[MainRefresh]->setEnabled(false); // until start-up has ended
    connectAction(MainRefresh, "ActionMainRefresh", [this] { Refresh(); });

    auto* modes = new QActionGroup(this);
    modes->addAction(m_actions[MainModeManual]);
    modes->addAction(m_actions[MainModeAuto]);
    m_actions[MainModeManual]->setChecked(true);

    m_actions[MainNotifyChannel]->setChecked(true);
    m_actions[MainNotifyError]->setChecked(true);
    m_actions[MainNotifyAbort]->setEnabled(false);
    connectAction(MainNotifyAbort, "ActionMainNotifyAbort", [this] { m_notifyMgr.Abort(); });

    m_actions[FileCanDMS]->setChecked(true);
    connect(m_actions[FileCanDMS], &QAction::toggled, this, [this](bool on) { m_net.CanDMS = on; });
    connect(m_actions[MainHelpDebugMode], &QAction::toggled, this, [this] { DebugModeChanged(); });

    connectAction(MainHelpInitDMS, "ActionMainHelpInitDMS", [this] {
        bool ok = m_net.RecreateScriptEngine();
        if (m_dms && !m_dms->Reset())
            ok = false; // a start-up or exit script still runs
        QMessageBox::information(this, windowTitle(), ok ? U("成功") : U("失敗"));
    });
    connectAction(MainHelpInitTemplate, "ActionMainHelpInitTemplate", [this] {
        m_common.LoadTemplates();
        YpLikeChanged();
    });
    connectAction(MainHelpStartPeerCast, "ActionMainHelpStartPeerCast", [this] { Launcher().PlayChannel("", "", ""); });
    connectAction(MainHelpExitPeerCast, "ActionMainHelpExitPeerCast", [this] { ExitPeerCast(); });
    connectAction(MainConfig, "ActionMainConfig", [this] { ShowConfigDialog(); });
    connectAction(MainFavorite, "ActionMainFavorite", [this] { m_settingsFlow->ShowFavoriteDialog(); });
    connectAction(LVFindChannel, "ActionLVFindChannel", [this] { FindChannel(); });
    connectAction(LVFindChannel2, "ActionLVFindChannel2", [this] { FindChannel2(); });
    connectAction(LVFindClear, "ActionLVFindClear", [this] { FindClear(); });
    // Their keys work wherever the focus is in the window.
    addActions({m_actions[LVFindChannel], m_actions[LVFindChannel2], m_actions[LVFindClear]});
    connectAction(MainHelpVersion, "ActionMainHelpVersion", [this] { m_settingsFlow->ShowVersionDialog(); });
    connectAction(MainHelpKeyConfigSave, "ActionMainHelpKeyConfigSave", [this] { m_keyConfig->Save(); });
    connectAction(MainHelpKeyConfigLoad, "ActionMainHelpKeyConfigLoad", [this] { m_keyConfig->Load(); });

    connect(m_actions[FileExit], &QAction::triggered, this, &QWidget::close);
    connect(m_actions[FileExitAll], &QAction::triggered, this, [this] {
        Guarded("ActionFileExitAll", [this] { ExitPeerCast(); });
        close();
    });
    connect(m_actions[TrayExit], &QAction::triggered, this, &QWidget::close);

    connectAction(MainVisualFixedColumn, "ActionMainVisualFixedColumn", [this] { m_views->CopyWidthsToLog(); });
    m_actions[MainVisualYpStatus]->setEnabled(false); // until there is a history
    m_actions[MainVisualHistory]->setEnabled(false);
    connectAction(MainVisualShowContextMenu, "ActionMainVisualShowContextMenu", [this] {
        if (PageControl->currentIndex() == PageNow || PageControl->currentIndex() == PageLog)
            m_channelActions->PopupMenuListItem()->popup(PageControl->mapToGlobal(QPoint(0, 0)));
    });
}

void TkavoMain::ConnectFrame()
{
    m_frame = new MainFrame(*this, m_setting, m_common, m_notifyMgr, m_actions, m_ypLike->ViewMenu());
    m_channelActions->SetMainToolMenu(m_frame->ToolMenu());
    m_toolBars = new kavo::ToolBars(*this, m_actions, m_frame->MainMenus(), m_frame->PopupMenuMode(),
                                    m_frame->PopupMenuCoolBar());
    m_toolBars->AddDragSource(m_frame->StatusBar(), true);
    connect(m_frame, &MainFrame::PageRequested, this,
            [this](int page) { Guarded("ShowPage", [this, page] { ShowPage(page); }); });
    connect(m_frame, &MainFrame::UrlOpenRequested, this,
            [this](const QString& url) { Guarded("JvStatusBarDblClick", [&] { Launcher().OpenUrl(ToCp932(url)); }); });
    connect(m_frame, &MainFrame::ThemeChanged, this, [this] {
        m_ypLike->ForgetTempFile();
        m_actions[MainHelpInitTemplate]->trigger();
    });
    connect(m_frame, &MainFrame::Restored, m_toolBars, &ToolBars::ApplyBandStyles);
    connect(m_actions[SysVChangeToolBar], &QAction::toggled, m_toolBars, &ToolBars::SetVisible);
}

void TkavoMain::InitialSetup(const IniFile& settingsFile)
{
    m_common.InitColumnNames();
    m_common.ReadTheme(settingsFile);
    m_setting.LoadFrom(settingsFile);
    m_channelActions->BuildToolMenus();
    m_notifyMgr.ApplyTimers();
    m_net.Prepare(settingsFile);
    m_settingsFlow->ApplyPriorities();

    m_settingsFlow->ApplyAllFont();
    m_notifyMgr.JvTrayIcon().setContextMenu(m_frame->PopupMenuTrayIcon());

    const std::string iconFolder = m_common.GetIconPath();
    Guarded("Main2.ico", [&] {
        const QString path = QString::fromStdString(iconFolder + "Main2.ico");
        if (!QFileInfo::exists(path))
            return;
        const QIcon icon(path);
        if (icon.isNull())
            return;
        setWindowIcon(icon);
        qApp->setWindowIcon(icon);
        m_notifyMgr.JvTrayIcon().setIcon(icon);
    });
    for (std::size_t i = 0; i < m_stateIcons.size(); ++i) {
        const std::string path = iconFolder + StateIconFiles[i];
        // A state icon that cannot be read would leave the lists without their marks.
        QPixmap pixmap;
        if (!pixmap.load(QString::fromStdString(path)))
            throw StartupError(path + U(" を読み込めません").toStdString());
        m_stateIcons[i] = QIcon(pixmap);
    }
    m_views->SetIcons(m_stateIcons);
    m_toolBars->LoadIcons(iconFolder);

    m_channelActions->SetCurrentView(ListViewNow);
    m_views->BuildColumns();
    Guarded("ReadWindowOptions", [&] { ReadWindowOptions(settingsFile); });
    m_views->ApplyListLook();
    m_views->ShowInitialLists();
    m_refreshFeedback->SettingsChanged();

    ApplyApplicationTitle(*this, m_setting.Etc.ApplicationTitle);
    m_frame->UpdateThemeCaption();
    Guarded("KeyConfig", [this] { m_keyConfig->Load(); });
    Guarded("dfm.ini", [this] { m_placement->Load(); });
    TimerRefresh.start();
    TimerInitialize.start();
}

void TkavoMain::RestorePlacement()
{
    const bool minimized = m_setting.Etc.Minimized || m_notifyMgr.StartMinimized;
    if (!minimized) {
        if (m_windowOptions.Max)
            showMaximized();
        else
            show();
    }
    ShowPage(m_frame->CheckedPage());
    m_toolBars->ApplyVisualTheme(ToolBars::DesktopThemed());
    m_creating = false;
    Guarded("RestoreLayout", [this] { m_toolBars->RestoreLayout(m_windowOptions.CoolBands); });
}

void TkavoMain::SetHistory(HistoryStore& history)
{
    if (!m_historyViews)
        m_historyViews = new kavo::HistoryViews(history, m_setting, m_actions[MainVisualYpStatus],
                                                m_actions[MainVisualHistory], statusBar(), this);
    m_actions[MainVisualYpStatus]->setEnabled(true);
    m_actions[MainVisualHistory]->setEnabled(true);
}

namespace {

// The window's options in the order they are read and written. Booleans are 0 and 1.
const std::vector<WindowOption>& WindowOptionTable()
{
    static const std::vector<WindowOption> options = [] {
        std::vector<WindowOption> rows;
        const auto action = [&rows](const char* section, const char* key, ActionId id, bool on) {
            rows.push_back({section, key, on, [id](const TkavoMain& w) { return int(w.Actions()[id]->isChecked()); },
                            [id](TkavoMain& w, int v) { w.Actions()[id]->setChecked(v != 0); }});
        };
        const auto option = [&rows](const char* section, std::string key, int fallback, auto field) {
            rows.push_back({section, std::move(key), fallback,
                            [field](const TkavoMain& w) { return int(field(w.WindowOptions())); },
                            [field](TkavoMain& w, int v) {
                                auto& value = field(w.WindowOptions());
                                value = static_cast<std::remove_reference_t<decltype(value)>>(v);
                            }});
        };
        using O = WindowOptions;
        action("Help", "DebugMode", MainHelpDebugMode, false);
        option(
            "Window", "Max", 0, [](auto& o) -> auto& { return o.Max; });
        action("Window", "StatusBar", MainVisualStatusBar, true);
        action("Window", "EnsureVisible", MainVisualEnableEnsureVisible, false);
        option(
            "Window", "YpLikeRestorePos", 0, [](auto& o) -> auto& { return o.YpLikeRestorePos; });
        for (std::size_t i = 0; i < O{}.YpLikeLite.size(); ++i)
            option(
                "Window", "YpLikeLite" + std::to_string(i),
                O{}.YpLikeLite[i], [i](auto& o) -> auto& { return o.YpLikeLite[i]; });
        option(
            "Window", "YpLikeLiteCustomMin", O{}.YpLikeLiteCustomMin,
            [](auto& o) -> auto& { return o.YpLikeLiteCustomMin; });
        option(
            "Window", "YpLikeLiteCustomMax", O{}.YpLikeLiteCustomMax,
            [](auto& o) -> auto& { return o.YpLikeLiteCustomMax; });
        option(
            "Window", "YpLikeLiteCustomCount", O{}.YpLikeLiteCustomCount,
            [](auto& o) -> auto& { return o.YpLikeLiteCustomCount; });
        option(
            "Window", "YpLikeModeFromStream", 1, [](auto& o) -> auto& { return o.YpLikeModeFromStream; });
        option(
            "Window", "YpLikeModeFromTempFile", 0, [](auto& o) -> auto& { return o.YpLikeModeFromTempFile; });
        action("Window", "CanDMS", FileCanDMS, true);
        action("Notify", "Channel", MainNotifyChannel, true);
        action("Notify", "Refresh", MainNotifyRefresh, false);
        action("Notify", "Error", MainNotifyError, true);
        action("Mode", "Manual", MainModeManual, true);
        action("Mode", "Auto", MainModeAuto, false);
        for (std::size_t i = 0; i < O{}.CoolBands.size(); ++i) {
            const std::string n = std::to_string(i);
            option(
                "CoolBar", "ID" + n, -1, [i](auto& o) -> auto& { return o.CoolBands[i].ID; });
            option(
                "CoolBar", "Width" + n, -1, [i](auto& o) -> auto& { return o.CoolBands[i].Width; });
            option(
                "CoolBar", "Break" + n, 0, [i](auto& o) -> auto& { return o.CoolBands[i].Break; });
        }
        return rows;
    }();
    return options;
}

} // namespace

void TkavoMain::ReadWindowOptions(const IniFile& ini)
{
    for (const WindowOption& option : WindowOptionTable())
        option.Set(*this, ini.ReadInteger(option.Section, option.Key, option.Default));
    // A radio pair: the later key wins when a hand-edited file checks both.
    if (!m_actions[MainModeAuto]->isChecked())
        m_actions[MainModeManual]->setChecked(true);
    m_ypLike->OptionsRead();
    DebugModeChanged();
    m_frame->ApplyStatusBar();
    m_net.CanDMS = m_actions[FileCanDMS]->isChecked();
    m_views->ReadColumnWidths(ini);
}

void TkavoMain::WriteWindowOptions(IniFile& ini)
{
    m_windowOptions.Max = isMaximized() || (m_closing && m_windowMaximizedAtClose);
    ini.EraseSection("CoolBar");
    for (const WindowOption& option : WindowOptionTable())
        ini.WriteInteger(option.Section, option.Key, option.Get(*this));
    m_views->WriteColumnWidths(ini);
}

void TkavoMain::DebugModeChanged()
{
    DebugLog::SetEnabled(m_actions[MainHelpDebugMode]->isChecked());
}

void TkavoMain::TimerInitializeTimer()
{
    TimerInitialize.stop();
    SetStatusPanel(0, QStringLiteral("0"));
    SetStatusPanel(1, QString());
    SetStatusPanel(2, QString());
    // The window has no menu bar of its own: the main menu is a band.
    m_actions[SysVChangeMainMenu]->setChecked(false);
    m_actions[SysVChangeToolBar]->setChecked(!m_toolBars->Band(ToolBars::BandMain)->isHidden());
    m_actions[SysVChangeStatusBar]->setChecked(!statusBar()->isHidden());
    m_toolBars->ApplyBandStyles();
    Guarded("StartPeerCast", [this] { Launcher().PlayChannel("", "", ""); });
    Guarded("OnCreate", [this] {
        if (m_actions[FileCanDMS]->isChecked() && !m_setting.Event.OnCreate.empty()) {
            if (!m_dms)
                m_dms = std::make_unique<ScriptEngine>();
            StartEventScript(*m_dms, m_setting.Event.OnCreate, ProgramFolder());
        }
    });
    m_actions[MainRefresh]->setEnabled(true);
    if (m_setting.Etc.AutoDownLoad)
        m_actions[MainRefresh]->trigger();
    Guarded("ApplyTray", [this] { m_notifyMgr.ApplyTray(); });
    m_common.Initialized = true;
}

void TkavoMain::RefreshTimer()
{
    // A dialog open meanwhile edits a copy of the settings; the cycle takes what is committed.
    if (!m_actions[MainModeAuto]->isChecked())
        return;
    StartCycle(false);
}

void TkavoMain::ReloadSettings(const TkavoSetting* cancelled)
{
    m_settingsFlow->ReloadSettings(cancelled);
}

bool TkavoMain::CommitSettings(const TkavoSetting& edited)
{
    return m_settingsFlow->CommitSettings(edited);
}

void TkavoMain::ShowConfigDialog()
{
    m_settingsFlow->ShowConfigDialog();
}

void TkavoMain::FindChannel()
{
    m_channelFind->FindChannel();
}

void TkavoMain::FindChannel2()
{
    m_channelFind->FindChannel2();
}

void TkavoMain::FindClear()
{
    m_channelFind->FindClear();
}

void TkavoMain::Refresh()
{
    if (m_reloadCountdown > 0) {
        m_notifyMgr.Notify(NotifyItem(Sjis("手動による更新は１分間に１回のみです"), 1), true);
        return;
    }
    StartCycle(true);
}

void TkavoMain::SetActionsBusy(bool busy)
{
    for (const ActionId id : {MainRefresh, MainConfig, MainFavorite})
        m_actions[id]->setEnabled(!busy);
}

void TkavoMain::StartCycle(bool manual)
{
    if (m_common.Busy || m_closing)
        return;
    TimerRefresh.stop();
    SetActionsBusy(true);
    m_common.Busy = true;
    m_refreshFeedback->Started();
    m_notifyErrors = m_actions[MainNotifyError]->isChecked();
    m_errorTitle = m_setting.Notify.Title;
    Launcher(); // the cycle marks visited links from the store
    m_net.Manual = manual;
    try {
        m_net.StartRetrieval();
    } catch (...) {
        // No cycle runs, so no completion will clear the flag.
        m_common.Busy = false;
        m_refreshFeedback->Finished();
        SetActionsBusy(false);
        TimerRefresh.start();
        throw;
    }
}

void TkavoMain::ListHandler()
{
    SetStatusPanel(1, QTime::currentTime().toString(QStringLiteral("hh:mm")));
    const bool first = !m_views->FirstListDone();
    m_views->ShowLists();
    if (first && isVisible())
        CurrentListView()->setFocus();

    TkavoChList ranked;
    for (TkavoChItem* channel : ListViewNow->Model().Rows()) {
        if (static_cast<int>(channel->Diff) != m_setting.Notify.Rank2 || channel->ListDisable)
            continue;
        auto copy = std::make_unique<TkavoChItem>();
        copy->Assign(*channel);
        ranked.Add(std::move(copy));
    }
    if (ranked.Count() > 0 && m_actions[MainNotifyChannel]->isChecked())
        m_notifyMgr.NotifyChannels(ranked);
    if (m_actions[MainNotifyRefresh]->isChecked() && m_notifyMgr.Count() == 0)
        m_notifyMgr.Notify(NotifyItem(Sjis("更新完了"), 2), false);

    m_reloadCountdown = 60;
    TimerReload.start();
}

void TkavoMain::CompletionHandler()
{
    TimerRefresh.setInterval(m_common.GetRefreshInterval());
    TimerRefresh.start();
    statusBar()->setToolTip(FromCp932(m_net.ChList().StatusText()));
    SetActionsBusy(false);
    m_common.Busy = false;
    m_refreshFeedback->Finished();
    emit CycleFinished();
}

void TkavoMain::ErrorHandler(const std::string& error)
{
    // The worker thread: build the item from what the cycle's start left, and queue it.
    if (!m_notifyErrors)
        return;
    TkavoNotifyItem item;
    item.Title = m_errorTitle;
    item.Text = error;
    item.Kind = 1;
    m_notifyMgr.Notify(item, false);
}

void TkavoMain::TimerReloadTimer()
{
    if (m_reloadCountdown < 1) {
        TimerReload.stop();
        return;
    }
    --m_reloadCountdown;
    SetStatusPanel(0, QString::number(m_reloadCountdown));
}

void TkavoMain::ShowContactUrl(TkavoChItem* channel)
{
    SetStatusPanel(2, channel ? FromCp932(channel->ContactURL) : QString());
}

void TkavoMain::ShowPage(int page)
{
    PageControl->setCurrentIndex(page);
    const std::array<const char*, 3> tabs = {"ActionTabNow", "ActionTabLog", "ActionTabYpLike"};
    Action(QString::fromLatin1(tabs[static_cast<std::size_t>(page)]))->setChecked(true);
    m_channelActions->SetCurrentView(page == PageLog ? ListViewLog : ListViewNow);
    if (page == PageYpLike) {
        const bool stale = m_ypLikeDirty;
        m_ypLikeDirty = false;
        m_ypLike->Shown(stale);
        return;
    }
    ShowContactUrl(CurrentListView()->SelectedChannel());
    if (!TimerInitialize.isActive())
        CurrentListView()->setFocus();
}

void TkavoMain::YpLikeChanged()
{
    m_ypLikeDirty = true;
    if (m_actions[TabYpLike]->isChecked())
        ShowPage(PageYpLike);
}

void TkavoMain::ExitPeerCast()
{
    if (Launcher().EndPeerCast() == 0)
        DebugLog::Line("ExitPeerCast", "no PeerCast process to end");
}

bool TkavoMain::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_F5 && isActiveWindow()) {
        // Swallowed whatever the setting, so no child reloads on its own.
        if (!static_cast<QKeyEvent*>(event)->isAutoRepeat() && m_setting.Operation.KeyF5Refresh)
            Guarded("F5", [this] { m_actions[MainRefresh]->trigger(); });
        return true;
    }
    // Keys and the wheel scroll the YP-style page while it is the current one.
    if ((event->type() == QEvent::KeyPress || event->type() == QEvent::Wheel) && m_ypLike &&
        m_actions[TabYpLike]->isChecked() && isActiveWindow())
        m_ypLike->FocusPage();
    return QMainWindow::eventFilter(watched, event);
}

void TkavoMain::WaitWhile(const std::function<bool()>& running)
{
    while (running()) {
        QEventLoop loop;
        QTimer::singleShot(200, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

void TkavoMain::CloseQuery()
{
    const auto cutoff = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimerFinish.interval());
    if (m_toolBars->LaidOut())
        m_windowOptions.CoolBands = m_toolBars->CaptureLayout();
    m_placement->Save();
    m_closing = true;
    TimerInitialize.stop(); // its tray step would show the window again
    m_windowMaximizedAtClose = isMaximized();
    m_common.Closing = true;
    TimerFinish.start();
    hide();
    m_notifyMgr.Abort();
    // Written before the waits, so that a shutdown cut off by the finish timer keeps them.
    Guarded("WriteWindowOptions", [this] {
        IniFile::Update(TkavoSetting::SettingsFileName(), [this](IniFile& ini) { WriteWindowOptions(ini); });
    });
    WaitWhile([this] { return m_common.Busy.load(); });
    // A PeerCast ended on the way out may still need its SIGKILL.
    WaitWhile([this] { return m_launcher && m_launcher->PeerCastEnding(); });
    if (m_actions[FileCanDMS]->isChecked() && !m_setting.Event.OnDestroy.empty()) {
        if (!m_dms)
            m_dms = std::make_unique<ScriptEngine>();
        std::atomic<bool> done = false;
        std::thread exitScript([&] {
            try {
                RunExitScript(*m_dms, m_setting.Event.OnDestroy, ProgramFolder(), cutoff);
            } catch (...) {
            }
            done = true;
        });
        WaitWhile([&] { return !done.load(); });
        exitScript.join();
    }
}

void TkavoMain::closeEvent(QCloseEvent* event)
{
    if (!m_closed) {
        Guarded("CloseQuery", [this] { CloseQuery(); });
        m_closed = true;
        emit ClosedDown();
    }
    event->accept();
}

void TkavoMain::TimerFinishTimer()
{
    // Whatever still runs, the program ends now.
    std::_Exit(0);
}

} // namespace kavo
