#include "ui/main/ukavoMain.h"

#include "common/Launcher.h"
#include "common/ukavoCommon.h"
#include "net/ukavoNet.h"
#include "platform/Cp932.h"
#include "platform/DateTime.h"
#include "platform/Process.h"
#include "platform/ProgramFolder.h"
#include "platform/VisitedUrls.h"
#include "script/ScriptEngine.h"
#include "script/YpScriptRunner.h"
#include "settings/IniFile.h"
#include "settings/ukavoConfig.h"
#include "ui/main/TkavoDebugLog.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTime>
#include <QToolBar>

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <tuple>

namespace kavo {
namespace {

TkavoMain* g_mainWindow = nullptr;

QString U(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

QString FromCp932(const std::string& text)
{
    return QString::fromStdString(Cp932ToUtf8(text));
}

constexpr int PageNow = 0;
constexpr int PageLog = 1;
constexpr int PageYpLike = 2;

// The retrieval module's script engine is recreated once the module offers it.
template <class Net>
bool RecreateNetScripts(Net& net)
{
    if constexpr (requires { net.RecreateScriptEngine(); })
        return net.RecreateScriptEngine();
    else
        return true;
}

TkavoNotifyItem NotifyItem(const std::string& text, int kind)
{
    TkavoNotifyItem item;
    item.Title = Setting().Notify.Title;
    item.Text = text;
    item.Kind = static_cast<std::uint8_t>(kind);
    return item;
}

} // namespace

TkavoMain* MainWindow()
{
    return g_mainWindow;
}

template <class F>
void TkavoMain::Guarded(const char* where, F&& handler)
{
    try {
        handler();
    } catch (...) {
        DebugLog::Exception(where, std::current_exception());
    }
}

TkavoMain::TkavoMain(TkavoMainServices services, QWidget* parent) : QMainWindow(parent), m_services(std::move(services))
{
    g_mainWindow = this;
    FormCreate();
}

TkavoMain::~TkavoMain()
{
    qApp->removeEventFilter(this);
    // The rows point into the retrieval module's lists, which go first.
    const TkavoChList empty;
    m_modelNow->Fill(empty);
    m_modelLog->Fill(empty);
    m_dms.reset();
    m_launcher.reset();
    try {
        m_net.reset();
    } catch (...) {
    }
    // After the retrieval module: a worker still running reads the visited marks.
    m_visited.reset();
    try {
        m_notifyMgr.reset();
    } catch (...) {
    }
    try {
        m_common.reset();
    } catch (...) {
    }
    if (g_mainWindow == this)
        g_mainWindow = nullptr;
}

QAction* TkavoMain::addAction(const char* name, const char* caption, bool checkable)
{
    auto* action = new QAction(U(caption), this);
    action->setObjectName(QString::fromLatin1(name));
    action->setCheckable(checkable);
    return action;
}

QAction* TkavoMain::Action(const QString& name) const
{
    return findChild<QAction*>(name, Qt::FindDirectChildrenOnly);
}

QString TkavoMain::StatusPanel(int panel) const
{
    return m_panels.at(static_cast<std::size_t>(panel))->text();
}

void TkavoMain::FormCreate()
{
    setObjectName(QStringLiteral("kavoMain"));
    m_creating = true;

    m_common = std::make_unique<TkavoCommon>();
    m_common->OnTemplateError = [this](const std::string& message) {
        auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(), FromCp932(message), QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    };
    m_common->FindValueSource = [this] { return Find.FindValue; };
    // Setting() lives for the whole program; its turn in the order is the load below.
    m_notifyMgr = std::make_unique<TkavoNotifyMgr>(
        *m_common, m_services.NotifyPlatform ? m_services.NotifyPlatform() : TkavoNotifyPlatform::Desktop());
    m_notifyMgr->SetMainWindow(this);
    m_net = std::make_unique<TkavoNet>(
        [](std::function<void()> job) { QMetaObject::invokeMethod(qApp, std::move(job), Qt::QueuedConnection); });

    m_net->OnSuccess = [this](TkavoNet&) { Guarded("OnSuccess", [this] { ListHandler(); }); };
    m_net->OnComplate = [this](TkavoNet&) { Guarded("OnComplate", [this] { CompletionHandler(); }); };
    m_net->OnError = [this](TkavoNet&, const std::string& error) { ErrorHandler(error); };
    m_net->OnCycleError = [this](TkavoNet&, const std::string& error) {
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
    m_modelNow = new TkavoChannelModel(m_common.get(), &Setting().YpList, this);
    m_modelLog = new TkavoChannelModel(m_common.get(), &Setting().YpList, this);
    ListViewNow = new TkavoListView(QStringLiteral("ListViewNow"), m_modelNow);
    ListViewLog = new TkavoListView(QStringLiteral("ListViewLog"), m_modelLog);
    ListViewLog->setToolTip(QString());
    PageControl->addWidget(ListViewNow);
    PageControl->addWidget(ListViewLog);
    auto* ypLike = new QLabel(U("YP風表示"));
    ypLike->setObjectName(QStringLiteral("TabSheetYpLike"));
    ypLike->setAlignment(Qt::AlignCenter);
    PageControl->addWidget(ypLike);
    setCentralWidget(PageControl);
    resize(573, 447);

    CreateActions();
    CreateMenus();
    CreateStatusBar();

    for (TkavoListView* view : {ListViewNow, ListViewLog}) {
        connect(view->header(), &QHeaderView::sectionClicked, this,
                [this, view](int column) { Guarded("ColumnClick", [&] { ColumnClick(view, column); }); });
        connect(view, &TkavoListView::DoubleClickedRow, this, [this, view] {
            if (Setting().Operation.MouseDClickChOpen)
                PlaySelected(view);
        });
        connect(view, &TkavoListView::EnterPressed, this, [this, view] {
            if (Setting().Operation.KeyEnterChOpen)
                PlaySelected(view);
        });
        connect(view, &TkavoListView::MenuKeyReleased, this,
                [this] { Action(QStringLiteral("ActionMainVisualShowContextMenu"))->trigger(); });
        connect(view, &TkavoListView::CurrentChannelChanged, this, [this, view](TkavoChItem* channel) {
            if (view == m_currentListView)
                ShowContactUrl(channel);
        });
        connect(view, &QWidget::customContextMenuRequested, this,
                [this, view](const QPoint& at) { m_popupMenuListItem->popup(view->viewport()->mapToGlobal(at)); });
    }
    connect(ListViewNow, &TkavoListView::Sorted, this,
            [this] { Guarded("ListViewNowSorted", [this] { NowSorted(); }); });
    connect(ListViewLog, &TkavoListView::Sorted, this,
            [this] { Guarded("ListViewLogSorted", [this] { LogSorted(); }); });

    connect(m_notifyMgr.get(), &TkavoNotifyMgr::OnNotifyBegin, this,
            [this] { Action(QStringLiteral("ActionMainNotifyAbort"))->setEnabled(true); });
    connect(m_notifyMgr.get(), &TkavoNotifyMgr::OnNotifyFinish, this,
            [this] { Action(QStringLiteral("ActionMainNotifyAbort"))->setEnabled(false); });

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

    qApp->installEventFilter(this);

    m_ypLikeScrollTop = -1;
    InitialSetup();
    TimerRefresh.start();
    TimerInitialize.start();
}

TkavoLauncher& TkavoMain::Launcher()
{
    // Opened on first use rather than at creation: the store's file is not needed to show the window.
    if (!m_launcher) {
        m_visited = std::make_unique<VisitedUrls>(ProgramFolder() + "/" + VisitedUrls::FileName);
        m_net->SetVisitedUrls(m_visited.get());
        m_launcher = std::make_unique<TkavoLauncher>(
            Setting(), ProgramFolder(),
            [this](const std::string& text, const TkavoChItem* channel) {
                return m_common->ExpandChannelTags(channel, m_common->ExpandPathTags(text));
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

void TkavoMain::CreateActions()
{
    const auto connectAction = [this](QAction* action, const char* where, auto handler) {
        connect(action, &QAction::triggered, this, [this, where, handler] { Guarded(where, handler); });
    };

    QAction* refresh = addAction("ActionMainRefresh", "更新(&R)");
    refresh->setEnabled(false); // until start-up has ended
    connectAction(refresh, "ActionMainRefresh", [this] { Refresh(); });

    auto* modes = new QActionGroup(this);
    QAction* manual = addAction("ActionMainModeManual", "手動更新(&M)", true);
    QAction* automatic = addAction("ActionMainModeAuto", "自動更新(&A)", true);
    modes->addAction(manual);
    modes->addAction(automatic);
    manual->setChecked(true);

    addAction("ActionMainNotifyChannel", "チャンネル(&C)", true)->setChecked(true);
    addAction("ActionMainNotifyRefresh", "更新完了(&R)", true);
    addAction("ActionMainNotifyError", "エラー(&E)", true)->setChecked(true);
    QAction* abort = addAction("ActionMainNotifyAbort", "中止(&A)");
    abort->setEnabled(false);
    connectAction(abort, "ActionMainNotifyAbort", [this] { m_notifyMgr->Abort(); });

    QAction* canDms = addAction("ActionFileCanDMS", "DMSスクリプト実行(&S)", true);
    canDms->setChecked(true);
    connect(canDms, &QAction::toggled, this, [this](bool on) { m_net->CanDMS = on; });

    QAction* debug = addAction("ActionMainHelpDebugMode", "デバッグモード(&D)", true);
    connect(debug, &QAction::toggled, this, [this] { DebugModeChanged(); });

    connectAction(addAction("ActionMainHelpInitDMS", "DMonkeyスクリプトオブジェクト再生成する(&I)"),
                  "ActionMainHelpInitDMS", [this] {
                      bool ok = RecreateNetScripts(*m_net);
                      if (m_dms && !m_dms->reset())
                          ok = false; // a start-up or exit script still runs
                      QMessageBox::information(this, windowTitle(), ok ? U("成功") : U("失敗"));
                  });
    connectAction(addAction("ActionMainHelpInitTemplate", "templatesを再読み込み(&T)"), "ActionMainHelpInitTemplate",
                  [this] {
                      m_common->LoadTemplates();
                      m_ypLikeDirty = true;
                  });
    // The settings, favorites and version dialogs hook in here.
    addAction("ActionMainConfig", "設定(&C)");
    addAction("ActionMainFavorite", "お気に入り");
    addAction("ActionMainHelpVersion", "バージョン情報(&V)");

    connectAction(addAction("ActionMainHelpStartPeerCast", "PeerCast本体起動(&E)"), "ActionMainHelpStartPeerCast",
                  [this] { Launcher().PlayChannel("", "", ""); });
    connectAction(addAction("ActionMainHelpExitPeerCast", "PeerCast本体終了(&X)"), "ActionMainHelpExitPeerCast",
                  [this] { ExitPeerCast(); });

    QAction* exit = addAction("ActionFileExit", "終了(&X)");
    connect(exit, &QAction::triggered, this, &QWidget::close);
    QAction* exitAll = addAction("ActionFileExitAll", "終了(完全)(&A)");
    exitAll->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_F4));
    connect(exitAll, &QAction::triggered, this, [this] {
        Guarded("ActionFileExitAll", [this] { ExitPeerCast(); });
        close();
    });
    QAction* trayExit = addAction("ActionTrayExit", "終了(&X)");
    connect(trayExit, &QAction::triggered, this, &QWidget::close);

    QAction* putTray = addAction("ActionFilePutTaskTray", "タスクトレイに入れる(&Y)");
    putTray->setShortcut(QKeySequence(Qt::Key_F9));
    connectAction(putTray, "ActionFilePutTaskTray", [this] {
        if (!m_notifyMgr->TrayActive())
            m_notifyMgr->SetTrayActive(true);
        m_notifyMgr->HideApplication();
        m_notifyMgr->SetTrayClickRestores(true);
    });

    auto* tabs = new QActionGroup(this);
    const std::array<std::pair<const char*, const char*>, 3> tabActions = {{
        {"ActionTabNow", "放送中(&1)"},
        {"ActionTabLog", "放送終了(&2)"},
        {"ActionTabYpLike", "YP風表示(&3)"},
    }};
    for (int page = 0; page < 3; ++page) {
        QAction* tab = addAction(tabActions[static_cast<std::size_t>(page)].first,
                                 tabActions[static_cast<std::size_t>(page)].second, true);
        tabs->addAction(tab);
        connect(tab, &QAction::triggered, this, [this, page] { ShowPage(page); });
    }
    Action(QStringLiteral("ActionTabNow"))->setChecked(true);
    QAction* next = addAction("ActionTabNext", "次のタブ(&N)");
    next->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab));
    connect(next, &QAction::triggered, this, [this] { ShowPage((PageControl->currentIndex() + 1) % 3); });
    QAction* back = addAction("ActionTabBack", "前のタブ(&B)");
    back->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab));
    connect(back, &QAction::triggered, this, [this] { ShowPage((PageControl->currentIndex() + 2) % 3); });

    // The channel actions of the lists' context menu; they act on the current view's selection.
    const auto selectedUrl = [this](std::string TkavoChItem::*field) {
        const TkavoChItem* channel = m_currentListView ? m_currentListView->SelectedChannel() : nullptr;
        return channel ? channel->*field : std::string();
    };
    connectAction(addAction("ActionLVPlay", "視聴(&P)"), "ActionLVPlay", [this] { PlaySelected(m_currentListView); });
    connectAction(addAction("ActionLVPlayDirect", "視聴(ダイレクト)(&D)"), "ActionLVPlayDirect",
                  [this] { PlaySelected(m_currentListView, true); });
    const std::array<std::tuple<const char*, const char*, std::string TkavoChItem::*>, 3> opens = {{
        {"ActionLVOpenContact", "コンタクトURLを開く(&1)", &TkavoChItem::ContactURL},
        {"ActionLVOpenChat", "チャットURLを開く(&2)", &TkavoChItem::ChatURL},
        {"ActionLVOpenStatistics", "統計URLを開く(&3)", &TkavoChItem::StatisticsURL},
    }};
    for (const auto& [name, caption, field] : opens)
        connectAction(addAction(name, caption), name, [this, selectedUrl, field] {
            if (const std::string url = selectedUrl(field); !url.empty())
                Launcher().OpenUrl(url);
        });
    QAction* copy = addAction("ActionLVCopy", "コピー(&C)");
    copy->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    connectAction(copy, "ActionLVCopy", [this] { CopySelected(); });
    for (TkavoListView* view : {ListViewNow, ListViewLog})
        view->addAction(copy); // Ctrl+C while a list has the focus

    addAction("ActionMainVisualEnableEnsureVisible", "選択中のチャンネルを常に表示(&E)", true);
    connectAction(addAction("ActionMainVisualFixedColumn", "カラムサイズ調整[放送中->放送終了](&C)"),
                  "ActionMainVisualFixedColumn", [this] {
                      for (int i = 0; i < m_modelNow->columnCount() && i < m_modelLog->columnCount(); ++i)
                          ListViewLog->setColumnWidth(i, ListViewNow->columnWidth(i));
                  });
    QAction* statusBarAction = addAction("ActionMainVisualStatusBar", "ステータスバー(&B)", true);
    statusBarAction->setChecked(true);
    connect(statusBarAction, &QAction::toggled, this, [this](bool on) { statusBar()->setVisible(on); });
    connectAction(addAction("ActionMainVisualShowContextMenu", "コンテキストメニュー表示(&P)"),
                  "ActionMainVisualShowContextMenu", [this] {
                      if (PageControl->currentIndex() == PageNow || PageControl->currentIndex() == PageLog)
                          m_popupMenuListItem->popup(PageControl->mapToGlobal(QPoint(0, 0)));
                  });
}

void TkavoMain::CreateMenus()
{
    const auto act = [this](const char* name) { return Action(QString::fromLatin1(name)); };
    QMenu* file = menuBar()->addMenu(U("  ファイル(&F)"));
    file->addAction(act("ActionFilePutTaskTray"));
    file->addAction(act("ActionFileCanDMS"));
    file->addSeparator();
    file->addAction(act("ActionFileExit"));
    file->addAction(act("ActionFileExitAll"));

    QMenu* view = menuBar()->addMenu(U("  表示(&V)"));
    QMenu* tab = view->addMenu(U("タブ(&T)"));
    tab->addAction(act("ActionTabNext"));
    tab->addAction(act("ActionTabBack"));
    tab->addSeparator();
    tab->addAction(act("ActionTabNow"));
    tab->addAction(act("ActionTabLog"));
    tab->addAction(act("ActionTabYpLike"));
    QMenu* list = view->addMenu(U("リストビュー(&L)"));
    list->addAction(act("ActionMainVisualEnableEnsureVisible"));
    list->addAction(act("ActionMainVisualFixedColumn"));
    view->addAction(act("ActionMainVisualStatusBar"));
    view->addAction(act("ActionMainVisualShowContextMenu"));

    QMenu* notify = menuBar()->addMenu(U("  通知(&N)"));
    notify->addAction(act("ActionMainNotifyChannel"));
    notify->addAction(act("ActionMainNotifyRefresh"));
    notify->addAction(act("ActionMainNotifyError"));
    notify->addSeparator();
    notify->addAction(act("ActionMainNotifyAbort"));

    QMenu* tools = menuBar()->addMenu(U("  ツール(&T)"));
    tools->setObjectName(QStringLiteral("MenuTool"));

    QMenu* help = menuBar()->addMenu(U("  ヘルプ(&H)"));
    help->addAction(act("ActionMainHelpStartPeerCast"));
    help->addAction(act("ActionMainHelpExitPeerCast"));
    help->addSeparator();
    help->addAction(act("ActionMainHelpInitTemplate"));
    help->addAction(act("ActionMainHelpInitDMS"));
    help->addAction(act("ActionMainHelpDebugMode"));
    help->addSeparator();
    help->addAction(act("ActionMainHelpVersion"));

    m_toolBar = addToolBar(U("ツール"));
    m_toolBar->setObjectName(QStringLiteral("ToolBarTool"));
    m_toolBar->setMovable(false);
    m_toolBar->addAction(act("ActionMainRefresh"));
    m_toolBar->addAction(act("ActionMainModeManual"));
    m_toolBar->addAction(act("ActionMainModeAuto"));
    m_toolBar->addSeparator();
    m_toolBar->addAction(act("ActionMainConfig"));
    m_toolBar->addAction(act("ActionMainFavorite"));
    m_toolBar->addAction(act("ActionMainNotifyAbort"));
    m_toolBar->addSeparator();
    m_toolBar->addAction(act("ActionTabNow"));
    m_toolBar->addAction(act("ActionTabLog"));
    m_toolBar->addAction(act("ActionTabYpLike"));

    m_popupMenuListItem = new QMenu(this);
    m_popupMenuListItem->setObjectName(QStringLiteral("PopupMenuListItem"));
    m_popupMenuListItem->addAction(act("ActionLVPlay"));
    m_popupMenuListItem->addSeparator();
    m_popupMenuListItem->addAction(act("ActionLVOpenContact"));
    m_popupMenuListItem->addAction(act("ActionLVOpenChat"));
    m_popupMenuListItem->addAction(act("ActionLVOpenStatistics"));
    m_popupMenuListItem->addSeparator();
    QMenu* other = m_popupMenuListItem->addMenu(U("その他(&O)"));
    other->setObjectName(QStringLiteral("N10"));
    other->addAction(act("ActionLVPlayDirect"));
    m_popupMenuListItem->addSeparator();
    m_popupMenuListItem->addAction(act("ActionLVCopy"));
    connect(m_popupMenuListItem, &QMenu::aboutToShow, this, [this] { PrepareListMenu(); });

    m_popupMenuTrayIcon = new QMenu(this);
    m_popupMenuTrayIcon->setObjectName(QStringLiteral("PopupMenuTrayIcon"));
    m_popupMenuTrayIcon->addAction(act("ActionMainRefresh"));
    QMenu* mode = m_popupMenuTrayIcon->addMenu(U("更新モード(&M)"));
    mode->addAction(act("ActionMainModeManual"));
    mode->addAction(act("ActionMainModeAuto"));
    m_popupMenuTrayIcon->addAction(act("ActionMainNotifyAbort"));
    m_popupMenuTrayIcon->addSeparator();
    QMenu* exit = m_popupMenuTrayIcon->addMenu(U("終了(&X)"));
    exit->addAction(act("ActionTrayExit"));
    exit->addAction(act("ActionFileExitAll"));
}

void TkavoMain::CreateStatusBar()
{
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("JvStatusBar"));
    const std::array<int, 3> widths = {24, 40, 50};
    for (std::size_t i = 0; i < m_panels.size(); ++i) {
        auto* panel = new QLabel(bar);
        panel->setObjectName(QStringLiteral("JvStatusBarPanel%1").arg(i));
        panel->setMinimumWidth(widths[i]);
        if (i < 2)
            panel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        bar->addWidget(panel, i == 2 ? 1 : 0);
        m_panels[i] = panel;
    }
}

void TkavoMain::InitialSetup()
{
    m_common->InitColumnNames();
    std::string problem;
    Setting().Load(&problem);
    if (!problem.empty())
        statusBar()->showMessage(FromCp932(problem));
    m_notifyMgr->ApplyTimers();
    m_net->Prepare();
    ApplyPriorities();

    const TkavoFont& allFont = Setting().AllFont;
    if (!allFont.Name.empty()) {
        QFont font(FromCp932(allFont.Name));
        if (allFont.Size > 0)
            font.setPointSize(allFont.Size);
        if (font != this->font())
            setFont(font);
    }
    m_notifyMgr->JvTrayIcon().setContextMenu(m_popupMenuTrayIcon);

    const std::string iconFolder = m_common->GetIconPath();
    Guarded("Main2.ico", [&] {
        const QString path = QString::fromStdString(iconFolder + "Main2.ico");
        if (!QFileInfo::exists(path))
            return;
        const QIcon icon(path);
        if (icon.isNull())
            return;
        setWindowIcon(icon);
        qApp->setWindowIcon(icon);
        m_notifyMgr->JvTrayIcon().setIcon(icon);
    });
    for (std::size_t i = 0; i < m_stateIcons.size(); ++i)
        m_stateIcons[i] = QIcon(QString::fromStdString(iconFolder + StateIconFiles[i]));
    m_modelNow->SetIcons(m_stateIcons);
    m_modelLog->SetIcons(m_stateIcons);

    m_currentListView = ListViewNow;
    BuildColumns(ListViewNow);
    BuildColumns(ListViewLog);
    Guarded("ReadWindowOptions", [this] { ReadWindowOptions(IniFile::Read(TkavoSetting::SettingsFileName())); });
    ApplyListLook(ListViewNow);
    ApplyListLook(ListViewLog);

    FillView(ListViewNow, m_net->ChList());
    FillView(ListViewLog, m_net->ChListLog());
    m_modelNow->SetLastSortedColumn(m_modelNow->FindColumn(ColumnCaptionById("Listener")));
    m_modelLog->SetLastSortedColumn(m_modelLog->FindColumn(ColumnCaptionById("TimeStamp")));
    ListViewNow->header()->setSortIndicator(m_modelNow->LastSortedColumn(), Qt::DescendingOrder);
    ListViewLog->header()->setSortIndicator(m_modelLog->LastSortedColumn(), Qt::DescendingOrder);

    setWindowTitle(FromCp932(Setting().Etc.ApplicationTitle));
}

void TkavoMain::RestorePlacement()
{
    const bool minimized = Setting().Etc.Minimized || m_notifyMgr->StartMinimized;
    if (!minimized) {
        if (m_windowMaximized)
            showMaximized();
        else
            show();
    }
    ShowPage(PageNow);
    m_creating = false;
}

void TkavoMain::ApplyPriorities()
{
    const auto& priority = Setting().Priority;
    if (const auto nice = NiceOfPriority(priority.KAVOProcess))
        setpriority(PRIO_PROCESS, 0, *nice); // refused raises need privileges: ignored
    if (const int thread = TkavoSetting::ThreadPriority(priority.KAVOThread); thread != 0) {
        errno = 0;
        const int base = getpriority(PRIO_PROCESS, 0);
        if (errno == 0)
            setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), base - 5 * thread);
    }
}

void TkavoMain::BuildColumns(TkavoListView* view)
{
    std::vector<std::string> captions = Setting().Columns;
    if (captions.empty())
        captions = DefaultColumnCaptions();
    view->Model().SetColumns(captions);
}

void TkavoMain::ReadColumnWidths(const IniFile& ini)
{
    for (auto [view, section] : {std::pair{ListViewNow, "ColumnSize"}, std::pair{ListViewLog, "ColumnSizeLog"}}) {
        const TkavoChannelModel& model = view->Model();
        for (int i = 0; i < model.columnCount(); ++i) {
            const std::string& caption = model.Caption(i);
            const int fallback = ParseIniInteger(m_common->ColumnWidthByCaption.Value(caption)).value_or(50);
            const std::string& id = ColumnIdByCaption(caption);
            view->setColumnWidth(i, id.empty() ? fallback : ini.ReadInteger(section, id, fallback));
        }
    }
}

void TkavoMain::WriteColumnWidths(IniFile& ini) const
{
    for (auto [view, section] : {std::pair{ListViewNow, "ColumnSize"}, std::pair{ListViewLog, "ColumnSizeLog"}}) {
        const TkavoChannelModel& model = view->Model();
        for (int i = 0; i < model.columnCount(); ++i)
            if (const std::string& id = ColumnIdByCaption(model.Caption(i)); !id.empty())
                ini.WriteInteger(section, id, view->columnWidth(i));
    }
}

void TkavoMain::ReadWindowOptions(const IniFile& ini)
{
    const auto check = [this](const char* name, bool on) { Action(QString::fromLatin1(name))->setChecked(on); };
    check("ActionMainHelpDebugMode", ini.ReadBool("Help", "DebugMode", false));
    DebugModeChanged();
    m_windowMaximized = ini.ReadBool("Window", "Max", false);
    check("ActionMainVisualStatusBar", ini.ReadBool("Window", "StatusBar", true));
    statusBar()->setVisible(Action(QStringLiteral("ActionMainVisualStatusBar"))->isChecked());
    check("ActionMainVisualEnableEnsureVisible", ini.ReadBool("Window", "EnsureVisible", false));
    m_ypLikeRestorePos = ini.ReadBool("Window", "YpLikeRestorePos", false);
    for (std::size_t i = 0; i < m_ypLikeLite.size(); ++i)
        m_ypLikeLite[i] = ini.ReadBool("Window", "YpLikeLite" + std::to_string(i), i == 4);
    m_ypLikeLiteCustomMin = ini.ReadInteger("Window", "YpLikeLiteCustomMin", 0);
    m_ypLikeLiteCustomMax = ini.ReadInteger("Window", "YpLikeLiteCustomMax", 15);
    m_ypLikeLiteCustomCount = ini.ReadInteger("Window", "YpLikeLiteCustomCount", 15);
    m_ypLikeModeFromStream = ini.ReadBool("Window", "YpLikeModeFromStream", true);
    m_ypLikeModeFromTempFile = ini.ReadBool("Window", "YpLikeModeFromTempFile", false);
    check("ActionFileCanDMS", ini.ReadBool("Window", "CanDMS", true));
    m_net->CanDMS = Action(QStringLiteral("ActionFileCanDMS"))->isChecked();
    check("ActionMainNotifyChannel", ini.ReadBool("Notify", "Channel", true));
    check("ActionMainNotifyRefresh", ini.ReadBool("Notify", "Refresh", false));
    check("ActionMainNotifyError", ini.ReadBool("Notify", "Error", true));
    // A radio pair: the later key wins when a hand-edited file checks both.
    const bool manual = ini.ReadBool("Mode", "Manual", true);
    const bool automatic = ini.ReadBool("Mode", "Auto", false);
    check("ActionMainModeManual", manual || !automatic);
    check("ActionMainModeAuto", automatic);
    for (std::size_t i = 0; i < m_coolBandLayout.size(); ++i) {
        const std::string n = std::to_string(i);
        m_coolBandLayout[i].ID = ini.ReadInteger("CoolBar", "ID" + n, -1);
        m_coolBandLayout[i].Width = ini.ReadInteger("CoolBar", "Width" + n, -1);
        m_coolBandLayout[i].Break = ini.ReadBool("CoolBar", "Break" + n, false);
    }
    ReadColumnWidths(ini);
}

void TkavoMain::WriteWindowOptions(IniFile& ini) const
{
    const auto checked = [this](const char* name) { return Action(QString::fromLatin1(name))->isChecked(); };
    ini.WriteBool("Help", "DebugMode", checked("ActionMainHelpDebugMode"));
    ini.WriteBool("Window", "Max", isMaximized() || (m_closing && m_windowMaximizedAtClose));
    ini.WriteBool("Window", "StatusBar", checked("ActionMainVisualStatusBar"));
    ini.WriteBool("Window", "EnsureVisible", checked("ActionMainVisualEnableEnsureVisible"));
    ini.WriteBool("Window", "YpLikeRestorePos", m_ypLikeRestorePos);
    for (std::size_t i = 0; i < m_ypLikeLite.size(); ++i)
        ini.WriteBool("Window", "YpLikeLite" + std::to_string(i), m_ypLikeLite[i]);
    ini.WriteInteger("Window", "YpLikeLiteCustomMin", m_ypLikeLiteCustomMin);
    ini.WriteInteger("Window", "YpLikeLiteCustomMax", m_ypLikeLiteCustomMax);
    ini.WriteInteger("Window", "YpLikeLiteCustomCount", m_ypLikeLiteCustomCount);
    ini.WriteBool("Window", "YpLikeModeFromStream", m_ypLikeModeFromStream);
    ini.WriteBool("Window", "YpLikeModeFromTempFile", m_ypLikeModeFromTempFile);
    ini.WriteBool("Window", "CanDMS", checked("ActionFileCanDMS"));
    ini.WriteBool("Notify", "Channel", checked("ActionMainNotifyChannel"));
    ini.WriteBool("Notify", "Refresh", checked("ActionMainNotifyRefresh"));
    ini.WriteBool("Notify", "Error", checked("ActionMainNotifyError"));
    ini.WriteBool("Mode", "Manual", checked("ActionMainModeManual"));
    ini.WriteBool("Mode", "Auto", checked("ActionMainModeAuto"));
    ini.EraseSection("CoolBar");
    for (std::size_t i = 0; i < m_coolBandLayout.size(); ++i) {
        const std::string n = std::to_string(i);
        ini.WriteInteger("CoolBar", "ID" + n, m_coolBandLayout[i].ID);
        ini.WriteInteger("CoolBar", "Width" + n, m_coolBandLayout[i].Width);
        ini.WriteBool("CoolBar", "Break" + n, m_coolBandLayout[i].Break);
    }
    WriteColumnWidths(ini);
}

void TkavoMain::ApplyListLook(TkavoListView* view)
{
    const auto& look = Setting().ColorFont;
    view->setUpdatesEnabled(false);
    QPalette palette = view->palette();
    palette.setColor(QPalette::Base, ToQColor(look.BackColor, QApplication::palette()));
    palette.setColor(QPalette::Text, ToQColor(look.TextFontColor, QApplication::palette()));
    view->setPalette(palette);
    QFont font = view->font();
    if (!Setting().TextFont.Name.empty())
        font.setFamily(FromCp932(Setting().TextFont.Name));
    if (Setting().TextFont.Size > 0)
        font.setPointSize(Setting().TextFont.Size);
    // Setting the font it already has would still re-resolve it for every child.
    if (font != view->font())
        view->setFont(font);
    view->setUpdatesEnabled(true);
    view->viewport()->update();
}

void TkavoMain::DebugModeChanged()
{
    DebugLog::SetEnabled(Action(QStringLiteral("ActionMainHelpDebugMode"))->isChecked());
}

void TkavoMain::TimerInitializeTimer()
{
    TimerInitialize.stop();
    m_panels[0]->setText(QStringLiteral("0"));
    m_panels[1]->clear();
    m_panels[2]->clear();
    Guarded("StartPeerCast", [this] { Launcher().PlayChannel("", "", ""); });
    Guarded("OnCreate", [this] {
        if (Action(QStringLiteral("ActionFileCanDMS"))->isChecked() && !Setting().Event.OnCreate.empty()) {
            if (!m_dms)
                m_dms = std::make_unique<ScriptEngine>();
            StartEventScript(*m_dms, Setting().Event.OnCreate, ProgramFolder());
        }
    });
    Action(QStringLiteral("ActionMainRefresh"))->setEnabled(true);
    if (Setting().Etc.AutoDownLoad)
        Action(QStringLiteral("ActionMainRefresh"))->trigger();
    Guarded("ApplyTray", [this] { m_notifyMgr->ApplyTray(); });
    m_common->Initialized = true;
}

void TkavoMain::RefreshTimer()
{
    if (!Action(QStringLiteral("ActionMainModeAuto"))->isChecked())
        return;
    if (m_settingsDialogs > 0) {
        // The worker would read what the dialog is about to replace.
        m_refreshWaiting = true;
        return;
    }
    StartCycle(false);
}

void TkavoMain::BeginSettingsDialog()
{
    ++m_settingsDialogs;
}

void TkavoMain::EndSettingsDialog()
{
    if (m_settingsDialogs > 0 && --m_settingsDialogs == 0 && m_refreshWaiting) {
        m_refreshWaiting = false;
        RefreshTimer();
    }
}

void TkavoMain::Refresh()
{
    if (m_reloadCountdown > 0) {
        m_notifyMgr->Notify(NotifyItem(Sjis("手動による更新は１分間に１回のみです"), 1), true);
        return;
    }
    StartCycle(true);
}

void TkavoMain::SetActionsBusy(bool busy)
{
    for (const char* name : {"ActionMainRefresh", "ActionMainConfig", "ActionMainFavorite"})
        Action(QString::fromLatin1(name))->setEnabled(!busy);
}

void TkavoMain::StartCycle(bool manual)
{
    if (m_common->Busy || m_closing)
        return;
    TimerRefresh.stop();
    SetActionsBusy(true);
    m_common->Busy = true;
    m_notifyErrors = Action(QStringLiteral("ActionMainNotifyError"))->isChecked();
    Launcher(); // the cycle marks visited links from the store
    m_net->Manual = manual;
    try {
        m_net->StartRetrieval();
    } catch (...) {
        // No cycle runs, so no completion will clear the flag.
        m_common->Busy = false;
        SetActionsBusy(false);
        TimerRefresh.start();
        throw;
    }
}

void TkavoMain::FillView(TkavoListView* view, const TkavoChList& list)
{
    TkavoChannelModel& model = view->Model();
    // The rows may already point at freed records here: the retrieval module has replaced its lists.
    const std::string hash = model.FindColumn(ColumnCaptionById("Hash")) > 0 ? view->SelectedHash() : std::string();
    model.Fill(list);
    // The all-zero ID is shared by every channel without one: it names no channel to go back to.
    if (hash.empty() || hash == NoHash)
        return;
    if (const int row = model.FindHash(hash, 1); row >= 0) {
        view->SelectRow(row);
        view->scrollTo(model.index(row, 0));
    }
}

void TkavoMain::SortView(TkavoListView* view, int column)
{
    view->Sort(column);
}

void TkavoMain::ListHandler()
{
    if (Find.KeepFind)
        m_reapplyFind = true;
    FillView(ListViewNow, m_net->ChList());
    FillView(ListViewLog, m_net->ChListLog());
    m_panels[1]->setText(QTime::currentTime().toString(QStringLiteral("hh:mm")));
    if (!m_firstListDone) {
        m_firstListDone = true;
        ApplyListLook(ListViewNow);
        ApplyListLook(ListViewLog);
        ListViewNow->SortAscending = true;
        ListViewLog->SortAscending = false;
        SortView(ListViewNow, m_modelNow->FindColumn(ColumnCaptionById("Listener")));
        SortView(ListViewLog, m_modelLog->FindColumn(ColumnCaptionById("TimeStamp")));
        ListViewNow->viewport()->update();
        ListViewLog->viewport()->update();
        if (m_currentListView && isVisible())
            m_currentListView->setFocus();
    } else {
        SortView(ListViewNow, m_modelNow->LastSortedColumn());
        SortView(ListViewLog, m_modelLog->LastSortedColumn());
    }

    TkavoChList ranked;
    for (TkavoChItem* channel : m_modelNow->Rows()) {
        if (static_cast<int>(channel->Diff) != Setting().Notify.Rank2 || channel->ListDisable)
            continue;
        auto copy = std::make_unique<TkavoChItem>();
        copy->Assign(*channel);
        ranked.Add(std::move(copy));
    }
    if (ranked.Count() > 0 && Action(QStringLiteral("ActionMainNotifyChannel"))->isChecked())
        m_notifyMgr->NotifyChannels(ranked);
    if (Action(QStringLiteral("ActionMainNotifyRefresh"))->isChecked() && m_notifyMgr->Count() == 0)
        m_notifyMgr->Notify(NotifyItem(Sjis("更新完了"), 2), false);

    m_reloadCountdown = 60;
    TimerReload.start();
}

void TkavoMain::CompletionHandler()
{
    TimerRefresh.setInterval(m_common->GetRefreshInterval());
    TimerRefresh.start();
    statusBar()->setToolTip(FromCp932(m_net->ChList().StatusText()));
    SetActionsBusy(false);
    m_common->Busy = false;
    emit CycleFinished();
}

void TkavoMain::ErrorHandler(const std::string& error)
{
    // The worker thread: build the item and queue it, nothing else.
    if (m_notifyErrors)
        m_notifyMgr->Notify(NotifyItem(error, 1), false);
}

void TkavoMain::TimerReloadTimer()
{
    if (m_reloadCountdown < 1) {
        TimerReload.stop();
        return;
    }
    --m_reloadCountdown;
    m_panels[0]->setText(QString::number(m_reloadCountdown));
}

void TkavoMain::ColumnClick(TkavoListView* view, int column)
{
    if (column == view->Model().LastSortedColumn())
        view->SortAscending = !view->SortAscending;
    else
        view->SortAscending = true;
    SortView(view, column);
}

void TkavoMain::NowSorted()
{
    if (m_reapplyFind) {
        // The find dialog re-applies Find.FindValue here once it exists; an empty value finds nothing.
        m_reapplyFind = false;
    }
    m_modelNow->MoveRawToEnd();
    m_ypLikeDirty = true;
    if (Action(QStringLiteral("ActionMainVisualEnableEnsureVisible"))->isChecked())
        ListViewNow->EnsureSelectionVisible(true);
}

void TkavoMain::LogSorted()
{
    if (Action(QStringLiteral("ActionMainVisualEnableEnsureVisible"))->isChecked())
        ListViewLog->EnsureSelectionVisible(false);
}

void TkavoMain::ShowContactUrl(TkavoChItem* channel)
{
    m_panels[2]->setText(channel ? FromCp932(channel->ContactURL) : QString());
}

void TkavoMain::PlaySelected(TkavoListView* view, bool direct)
{
    Guarded("PlayChannel", [&] {
        const TkavoChItem* channel = view ? view->SelectedChannel() : nullptr;
        if (!channel)
            return;
        // Copied: playing may run a dialog, and a refill during it frees the record.
        const std::string url = direct ? channel->DirectStreamURL : channel->StreamURL;
        const std::string name = channel->ChannelName;
        const std::string type = channel->Type;
        if (!Launcher().PlayChannel(url, name, type))
            Launcher().OpenWithDefaultHandler(url);
    });
}

void TkavoMain::PrepareListMenu()
{
    const TkavoChItem* channel = m_currentListView ? m_currentListView->SelectedChannel() : nullptr;
    const auto enable = [this](const char* name, bool on) { Action(QString::fromLatin1(name))->setEnabled(on); };
    enable("ActionLVPlay", channel && !channel->StreamURL.empty());
    enable("ActionLVPlayDirect", channel && !channel->DirectStreamURL.empty());
    enable("ActionLVOpenContact", channel && !channel->ContactURL.empty());
    enable("ActionLVOpenChat", channel && !channel->ChatURL.empty());
    enable("ActionLVOpenStatistics", channel && !channel->StatisticsURL.empty());
    enable("ActionLVCopy", channel != nullptr);
}

void TkavoMain::CopySelected()
{
    const TkavoChItem* channel = m_currentListView ? m_currentListView->SelectedChannel() : nullptr;
    if (!channel)
        return;
    QGuiApplication::clipboard()->setText(FromCp932(m_common->RenderClipboardText(*channel)));
}

void TkavoMain::ShowPage(int page)
{
    PageControl->setCurrentIndex(page);
    const std::array<const char*, 3> tabs = {"ActionTabNow", "ActionTabLog", "ActionTabYpLike"};
    Action(QString::fromLatin1(tabs[static_cast<std::size_t>(page)]))->setChecked(true);
    m_currentListView = page == PageLog ? ListViewLog : ListViewNow;
    if (page == PageYpLike) {
        m_ypLikeDirty = false; // the page shows no channels yet
        return;
    }
    ShowContactUrl(m_currentListView->SelectedChannel());
    if (!TimerInitialize.isActive())
        m_currentListView->setFocus();
}

void TkavoMain::ExitPeerCast()
{
    TkavoCommand command = ParseCommandLine(Cp932ToUtf8(Setting().Etc.PeerCast));
    if (command.Program.empty())
        return;
    command.Arguments = {"-kill"};
    m_services.Starter->Start(command, std::filesystem::path(command.Program).parent_path().string(), 0);
}

bool TkavoMain::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_F5 && isActiveWindow()) {
        // Swallowed whatever the setting, so no child reloads on its own.
        if (!static_cast<QKeyEvent*>(event)->isAutoRepeat() && Setting().Operation.KeyF5Refresh)
            Guarded("F5", [this] { Action(QStringLiteral("ActionMainRefresh"))->trigger(); });
        return true;
    }
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
    m_closing = true;
    TimerInitialize.stop(); // its tray step would show the window again
    m_windowMaximizedAtClose = isMaximized();
    m_common->Closing = true;
    TimerFinish.start();
    hide();
    m_notifyMgr->Abort();
    // Written before the waits, so that a shutdown cut off by the finish timer keeps them.
    Guarded("WriteWindowOptions", [this] {
        IniFile::Update(TkavoSetting::SettingsFileName(), [this](IniFile& ini) { WriteWindowOptions(ini); });
    });
    WaitWhile([this] { return m_common->Busy.load(); });
    if (Action(QStringLiteral("ActionFileCanDMS"))->isChecked() && !Setting().Event.OnDestroy.empty()) {
        if (!m_dms)
            m_dms = std::make_unique<ScriptEngine>();
        std::atomic<bool> done = false;
        std::thread exitScript([&] {
            try {
                RunExitScript(*m_dms, Setting().Event.OnDestroy, ProgramFolder(), cutoff);
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
