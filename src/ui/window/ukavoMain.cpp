#include "ui/window/ukavoMain.h"

#include "ui/Cp932Text.h"

#include "common/Launcher.h"
#include "common/ukavoCommon.h"
#include "net/ukavoNet.h"
#include "platform/ProgramFolder.h"
#include "settings/IniFile.h"
#include "settings/TkavoSetting.h"
#include "ui/app/DebugLog.h"
#include "ui/dialogs/HistoryViews.h"
#include "ui/htmlview/YpLikeView.h"
#include "ui/keys/uActionListKeyConfigMgr.h"
#include "ui/lists/ChannelActions.h"
#include "ui/lists/ChannelFind.h"
#include "ui/lists/ChannelViews.h"
#include "ui/notify/ukavoNotifyMgr.h"
#include "ui/window/ApplicationTitle.h"
#include "ui/window/MainFrame.h"
#include "ui/window/PlacementStore.h"
#include "ui/window/RefreshFeedback.h"
#include "ui/window/SettingsFlow.h"
#include "ui/window/SettingsHolder.h"
#include "ui/window/ToolBars.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QImageReader>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QStackedWidget>
#include <QStatusBar>

#include <algorithm>

namespace kavo {
namespace {

constexpr int PageNow = MainFrame::PageNow;
constexpr int PageLog = MainFrame::PageLog;
constexpr int PageYpLike = MainFrame::PageYpLike;

} // namespace

using DebugLog::Guarded;
using enum ActionId;

TkavoMain::TkavoMain(SettingsHolder& settings, TkavoCommon& common, TkavoNotifyMgr& notifyMgr, TkavoNet& net,
                     std::function<Launcher&()> launcher, QWidget* parent)
    : QMainWindow(parent), m_setting(settings.Current()), m_settings(settings), m_common(common),
      m_notifyMgr(notifyMgr), m_net(net), m_launcher(std::move(launcher)), m_actions(this)
{
    setObjectName(QStringLiteral("kavoMain"));
    createParts();
    connectActions();
    connectFrame();
    qApp->installEventFilter(this);
}

TkavoMain::~TkavoMain()
{
    qApp->removeEventFilter(this);
    // The rows point into the retrieval module's lists.
    m_views->Clear();
}

void TkavoMain::createParts()
{
    // The page control with hidden tabs: on air, ended, and the YP-style page.
    m_pages = new QStackedWidget(this);
    m_pages->setObjectName(QStringLiteral("PageControl"));
    m_views = new ChannelViews(m_setting, m_common, m_net, m_actions, m_find, this);
    ChannelListView* now = m_views->ListViewNow();
    m_pages->addWidget(now);
    m_pages->addWidget(m_views->ListViewLog());
    setCentralWidget(m_pages);
    resize(573, 447);

    m_keyConfig = new TActionListKeyConfigMgr(this);
    m_keyConfig->SetIniLocationExePath(true);
    m_keyConfig->SetActive(true);
    m_channelActions = new ChannelActions(m_setting, m_common, m_actions, m_launcher, m_net, m_notifyMgr, this);
    m_ypLike = new YpLikeView(
        m_setting, m_common, m_actions, *m_channelActions, now,
        [this]() -> const TkavoChList& { return m_views->NowList(); }, m_launcher, this);
    m_pages->addWidget(m_ypLike->Page());
    m_frame = new MainFrame(*this, m_setting, m_common, m_notifyMgr, m_actions, m_ypLike->ViewMenu());
    m_channelActions->SetMainToolMenu(m_frame->ToolMenu());
    connect(m_channelActions, &ChannelActions::StatusMessage, this,
            [this](const QString& text) { statusBar()->showMessage(text, 15000); });
    m_toolBars =
        new ToolBars(*this, m_actions, m_frame->MainMenus(), m_frame->PopupMenuMode(), m_frame->PopupMenuCoolBar());
    m_toolBars->AddDragSource(m_frame->StatusBar(), true);
    m_refreshFeedback = new RefreshFeedback(m_setting, *now, *statusBar(), m_actions[MainConfig], this);
    // The user's shortcuts, once every action exists.
    const std::vector<QAction*> all = m_actions.All();
    m_keyConfig->SetActionList(QList<QAction*>(all.begin(), all.end()));

    TimerInitialize.setObjectName(QStringLiteral("TimerInitialize"));
    TimerInitialize.setSingleShot(true);
    TimerInitialize.setInterval(500);
    connect(&TimerInitialize, &QTimer::timeout, this, [this] { timerInitializeTimer(); });
    m_placement = new PlacementStore(ProgramFolder() + "/" + PlacementStore::FileName, *this,
                                     {m_actions[TabNow], m_actions[TabLog], m_actions[TabYpLike], m_actions[CoolFixed]},
                                     TimerInitialize);

    // Made once and kept hidden: it holds the search and its history for the whole run.
    m_findDialog = new TkavoFind(m_find, m_common, this);
    m_channelFind = new ChannelFind(*m_findDialog, m_find, *m_views, *m_channelActions, m_actions, *m_pages, this);
    m_settingsFlow = new SettingsFlow(*this, m_settings, m_common, m_net, this);
    m_settingsFlow->TrayAvailable = [this] { return m_notifyMgr.TrayAvailable(); };
}

void TkavoMain::connectActions()
{
    auto* modes = new QActionGroup(this);
    modes->addAction(m_actions[MainModeManual]);
    modes->addAction(m_actions[MainModeAuto]);
    m_actions[MainModeManual]->setChecked(true);

    m_actions[MainNotifyChannel]->setChecked(true);
    m_actions[MainNotifyError]->setChecked(true);
    m_actions[MainNotifyAbort]->setEnabled(false);
    m_actions.Connect(MainNotifyAbort, this, [this] { m_notifyMgr.Abort(); });
    connect(&m_notifyMgr, &TkavoNotifyMgr::OnNotifyBegin, this,
            [this] { m_actions[MainNotifyAbort]->setEnabled(true); });
    connect(&m_notifyMgr, &TkavoNotifyMgr::OnNotifyFinish, this,
            [this] { m_actions[MainNotifyAbort]->setEnabled(false); });

    m_actions[FileCanDMS]->setChecked(true);
    connect(m_actions[MainHelpDebugMode], &QAction::toggled, this, [](bool on) { DebugLog::SetEnabled(on); });
    m_actions.Connect(MainHelpInitTemplate, this, [this] {
        m_common.LoadTemplates();
        ypLikeChanged();
    });
    m_actions.Connect(MainConfig, this, [this] { m_settingsFlow->ShowConfigDialog(); });
    m_actions.Connect(MainFavorite, this, [this] { m_settingsFlow->ShowFavoriteDialog(); });
    m_actions.Connect(MainHelpVersion, this, [this] { m_settingsFlow->ShowVersionDialog(); });
    m_actions.Connect(LVFindChannel, this, [this] { m_channelFind->FindChannel(); });
    m_actions.Connect(LVFindChannel2, this, [this] { m_channelFind->FindChannel2(); });
    m_actions.Connect(LVFindClear, this, [this] { m_channelFind->FindClear(); });
    // Their keys work wherever the focus is in the window.
    addActions({m_actions[LVFindChannel], m_actions[LVFindChannel2], m_actions[LVFindClear]});
    m_actions.Connect(MainHelpKeyConfigSave, this, [this] { m_keyConfig->Save(); });
    m_actions.Connect(MainHelpKeyConfigLoad, this, [this] { m_keyConfig->Load(); });
    connect(m_keyConfig, &TActionListKeyConfigMgr::SaveFailed, this,
            [this](const QString& message) { QMessageBox::critical(this, windowTitle(), message); });

    connect(m_actions[FileExit], &QAction::triggered, this, &QWidget::close);
    connect(m_actions[TrayExit], &QAction::triggered, this, &QWidget::close);

    m_actions.Connect(MainVisualFixedColumn, this, [this] { m_views->CopyWidthsToLog(); });
    m_actions[MainVisualYpStatus]->setEnabled(false); // until there is a history
    m_actions[MainVisualHistory]->setEnabled(false);
    m_actions[MainVisualRegulars]->setEnabled(false);
    m_actions.Connect(MainVisualShowContextMenu, this, [this] {
        if (m_pages->currentIndex() == PageNow || m_pages->currentIndex() == PageLog)
            m_channelActions->PopupMenuListItem()->popup(m_pages->mapToGlobal(QPoint(0, 0)));
    });
}

void TkavoMain::connectFrame()
{
    connect(m_views, &ChannelViews::FindApplied, this, [this] { m_ypLikeDirty = true; });
    connect(m_views, &ChannelViews::NowSorted, this, [this] { ypLikeChanged(); });
    connect(m_channelFind, &ChannelFind::YpLikeSearched, this, [this] { ypLikeChanged(); });
    // Marks of a play or an admin command while the page is shown.
    connect(m_channelActions, &ChannelActions::YpLikeRebuildNeeded, this, [this] { ypLikeChanged(); });
    connect(m_ypLike, &YpLikeView::LiteChanged, this, [this](bool stale) {
        if (stale)
            m_ypLikeDirty = true;
        if (m_actions[TabYpLike]->isChecked())
            showPage(PageYpLike);
    });
    connect(m_ypLike, &YpLikeView::SortRequested, this, [this](int column) {
        Guarded("YpLikeSort", [&] { m_views->ColumnClick(m_views->ListViewNow(), column); });
    });
    connect(m_ypLike, &YpLikeView::StatusText, this, [this](const QString& text) { m_frame->SetStatusPanel(2, text); });

    for (ChannelListView* view : {m_views->ListViewNow(), m_views->ListViewLog()}) {
        m_channelActions->Attach(view);
        connect(view, &ChannelListView::MenuKeyReleased, this,
                [this] { m_actions[MainVisualShowContextMenu]->trigger(); });
        connect(view, &ChannelListView::CurrentChannelChanged, this, [this, view](const TkavoChItem* channel) {
            if (view == m_channelActions->CurrentView())
                showContactUrl(channel);
        });
    }

    connect(m_frame, &MainFrame::PageRequested, this,
            [this](int page) { Guarded("ShowPage", [this, page] { showPage(page); }); });
    connect(m_frame, &MainFrame::UrlOpenRequested, this, [this](const QString& url) {
        Guarded("JvStatusBarDblClick", [&] { m_launcher().OpenUrl(ToCp932(url)); });
    });
    connect(m_frame, &MainFrame::ThemeChanged, this, [this] {
        m_ypLike->ForgetTempFile();
        m_actions[MainHelpInitTemplate]->trigger();
    });
    connect(m_frame, &MainFrame::Restored, m_toolBars, &ToolBars::ApplyBandStyles);
    connect(m_actions[SysVChangeToolBar], &QAction::toggled, m_toolBars, &ToolBars::SetVisible);
}

void TkavoMain::InitialSetup(const IniFile& settingsFile)
{
    m_channelActions->BuildToolMenus();
    applyAllFont();
    loadIcons();

    m_channelActions->SetCurrentView(m_views->ListViewNow());
    m_views->BuildColumns();
    Guarded("ReadWindowOptions", [&] { readWindowOptions(settingsFile); });
    m_views->ApplyListLook();
    m_views->ShowInitialLists();
    m_refreshFeedback->SettingsChanged();

    ApplyApplicationTitle(*this, m_setting.Etc.ApplicationTitle);
    m_frame->UpdateThemeCaption();
    Guarded("KeyConfig", [this] { m_keyConfig->Load(); });
    Guarded("dfm.ini", [this] { m_placement->Load(); });
}

void TkavoMain::loadIcons()
{
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
    });
    for (std::size_t i = 0; i < m_stateIcons.size(); ++i) {
        const std::string path = iconFolder + StateIconFiles[i];
        // Every size the file holds, so that the marks stay sharp on a scaled screen. A state icon
        // that cannot be read would leave the lists without their marks.
        QIcon icon;
        QImageReader reader(QString::fromStdString(path));
        for (int image = 0; image < std::max(reader.imageCount(), 1); ++image) {
            if (image > 0 && !reader.jumpToImage(image))
                break;
            const QImage read = reader.read();
            if (read.isNull())
                break;
            icon.addPixmap(QPixmap::fromImage(read));
        }
        if (icon.isNull())
            throw StartupError(path + QString::fromUtf8(" を読み込めません").toStdString());
        m_stateIcons[i] = icon;
    }
    m_views->SetIcons(m_stateIcons);
    m_toolBars->LoadIcons(iconFolder);
}

void TkavoMain::RestorePlacement()
{
    const bool minimized = m_setting.Etc.Minimized || m_notifyMgr.StartMinimized;
    if (!minimized) {
        if (m_maximized)
            showMaximized();
        else
            show();
    }
    showPage(m_frame->CheckedPage());
    m_toolBars->ApplyVisualTheme(ToolBars::DesktopThemed());
    Guarded("RestoreLayout", [this] { m_toolBars->RestoreStoredLayout(); });
}

void TkavoMain::SetHistory(HistoryStore& history)
{
    if (!m_historyViews) {
        m_historyViews = new HistoryViews(history, m_setting, m_actions, statusBar(), this);
        // A regular on the list on air plays as a double click in the list would play it.
        m_historyViews->SetRegularPlayer([this](const std::string& name) {
            for (const TkavoChItem& channel : m_views->NowList())
                if (channel.ChannelName == name && channel.HasHash()) {
                    m_channelActions->Play(channel.StreamURL, nullptr, &channel);
                    return true;
                }
            return false;
        });
    }
    m_actions[MainVisualYpStatus]->setEnabled(true);
    m_actions[MainVisualHistory]->setEnabled(true);
    m_actions[MainVisualRegulars]->setEnabled(true);
}

void TkavoMain::SettingsChanged(const TkavoSetting& before, const TkavoSetting& after)
{
    if (before.AllFont != after.AllFont)
        applyAllFont();
    if (before.Etc.ApplicationTitle != after.Etc.ApplicationTitle)
        ApplyApplicationTitle(*this, after.Etc.ApplicationTitle);
}

void TkavoMain::applyAllFont()
{
    const FontSetting& allFont = m_setting.AllFont;
    if (allFont.Name.empty())
        return;
    QFont font(FromCp932(allFont.Name));
    if (allFont.Size > 0)
        font.setPointSize(allFont.Size);
    if (font != this->font())
        setFont(font);
    m_findDialog->setFont(font);
}

// The window's options in the settings file, in the order they are written; each part keeps its own.
void TkavoMain::readWindowOptions(const IniFile& ini)
{
    m_actions.ReadSwitches(ini, {MainHelpDebugMode});
    m_maximized = ini.ReadInteger("Window", "Max", 0) != 0;
    m_actions.ReadSwitches(ini, {MainVisualStatusBar, MainVisualEnableEnsureVisible});
    m_ypLike->ReadOptions(ini);
    m_actions.ReadSwitches(
        ini, {FileCanDMS, MainNotifyChannel, MainNotifyRefresh, MainNotifyError, MainModeManual, MainModeAuto});
    m_toolBars->ReadOptions(ini);
    // A radio pair: the later key wins when a hand-edited file checks both.
    if (!m_actions[MainModeAuto]->isChecked())
        m_actions[MainModeManual]->setChecked(true);
    DebugLog::SetEnabled(m_actions[MainHelpDebugMode]->isChecked());
    m_frame->ApplyStatusBar();
    m_views->ReadColumnWidths(ini);
}

void TkavoMain::WriteWindowOptions(IniFile& ini)
{
    m_maximized = isMaximized() || (m_closing && m_maximizedAtClose);
    m_actions.WriteSwitches(ini, {MainHelpDebugMode});
    ini.WriteInteger("Window", "Max", m_maximized ? 1 : 0);
    m_actions.WriteSwitches(ini, {MainVisualStatusBar, MainVisualEnableEnsureVisible});
    m_ypLike->WriteOptions(ini);
    m_actions.WriteSwitches(
        ini, {FileCanDMS, MainNotifyChannel, MainNotifyRefresh, MainNotifyError, MainModeManual, MainModeAuto});
    m_toolBars->WriteOptions(ini);
    m_views->WriteColumnWidths(ini);
}

void TkavoMain::timerInitializeTimer()
{
    TimerInitialize.stop();
    m_frame->SetStatusPanel(0, QStringLiteral("0"));
    m_frame->SetStatusPanel(1, QString());
    m_frame->SetStatusPanel(2, QString());
    // The window has no menu bar of its own: the main menu is a band.
    m_actions[SysVChangeMainMenu]->setChecked(false);
    m_actions[SysVChangeToolBar]->setChecked(!m_toolBars->Band(ToolBars::BandMain)->isHidden());
    m_actions[SysVChangeStatusBar]->setChecked(!statusBar()->isHidden());
    m_toolBars->ApplyBandStyles();
    emit Initializing();
}

void TkavoMain::showContactUrl(const TkavoChItem* channel)
{
    m_frame->SetStatusPanel(2, channel ? FromCp932(channel->ContactURL) : QString());
}

void TkavoMain::showPage(int page)
{
    m_pages->setCurrentIndex(page);
    const std::array<ActionId, 3> tabs = {TabNow, TabLog, TabYpLike};
    m_actions[tabs[static_cast<std::size_t>(page)]]->setChecked(true);
    m_channelActions->SetCurrentView(page == PageLog ? m_views->ListViewLog() : m_views->ListViewNow());
    if (page == PageYpLike) {
        const bool stale = m_ypLikeDirty;
        m_ypLikeDirty = false;
        m_ypLike->Shown(stale);
        return;
    }
    ChannelListView* view = m_channelActions->CurrentView();
    showContactUrl(view->SelectedChannel());
    if (!TimerInitialize.isActive())
        view->setFocus();
}

// Rebuilds the YP-style page now when it is the current page, else at its next showing.
void TkavoMain::ypLikeChanged()
{
    m_ypLikeDirty = true;
    if (m_actions[TabYpLike]->isChecked())
        showPage(PageYpLike);
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

void TkavoMain::PrepareClose()
{
    m_toolBars->KeepLayout();
    m_placement->Save();
    m_closing = true;
    TimerInitialize.stop(); // its tray step would show the window again
    m_maximizedAtClose = isMaximized();
}

void TkavoMain::closeEvent(QCloseEvent* event)
{
    // The close box of the window manager may put an all-day program into the tray; the exit
    // commands and the end of the session close it from within, and a desktop without a tray
    // gets no hidden window.
    if (event->spontaneous() && !m_closeRequested && m_setting.Etc.CloseToTray && m_notifyMgr.TrayAvailable()) {
        event->ignore();
        m_frame->PutIntoTray();
        return;
    }
    // Once: a close while the shutdown waits finds it under way.
    if (!m_closeRequested) {
        m_closeRequested = true;
        emit CloseRequested();
    }
    event->accept();
}

} // namespace kavo
