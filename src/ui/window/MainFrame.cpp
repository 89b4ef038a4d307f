#include "ui/window/MainFrame.h"

#include "ui/Cp932Text.h"

#include "common/ukavoCommon.h"
#include "settings/TkavoSetting.h"
#include "ui/app/DebugLog.h"
#include "ui/app/InputBox.h"
#include "ui/notify/ukavoNotifyMgr.h"
#include "ui/window/ActionTable.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QStatusBar>
#include <QTimer>
#include <QWindowStateChangeEvent>

namespace kavo {
namespace {

using enum ActionId;

QString U(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

constexpr std::array<ActionId, 3> TabActions = {TabNow, TabLog, TabYpLike};

} // namespace

MainFrame::MainFrame(QMainWindow& window, const TkavoSetting& setting, TkavoCommon& common, TkavoNotifyMgr& notifyMgr,
                     const ActionTable& actions, QMenu* ypLikeMenu)
    : QObject(&window), m_window(window), m_setting(setting), m_common(common), m_notifyMgr(notifyMgr),
      m_actions(actions)
{
    AskTheme = [this](const std::string& current) -> std::optional<std::string> {
        bool ok = false;
        const QString answer =
            GetInputText(&m_window, U("テーマ変更"), U("フォルダ名入力"), QLineEdit::Normal, FromCp932(current), &ok);
        if (!ok)
            return std::nullopt;
        return ToCp932(answer);
    };
    createMenus(ypLikeMenu);
    // The menus' shortcuts work in the whole window, whether the bands are shown or not.
    for (QMenu* menu : m_mainMenus)
        m_window.addAction(menu->menuAction());
    m_window.addAction(m_popupMenuSysMenu->menuAction());
    createStatusBar();
    connectActions();
    m_window.installEventFilter(this);
    // After the window's own answer to the request, which has shown it.
    connect(&m_notifyMgr, &TkavoNotifyMgr::ShowWindowRequested, this, [this] {
        if (m_inTray)
            restored();
    });
    connect(&m_notifyMgr, &TkavoNotifyMgr::HideWindowRequested, this, [this](bool intoTray) {
        if (intoTray)
            m_inTray = true;
    });
}

void MainFrame::createMenus(QMenu* ypLikeMenu)
{
    const auto add = [this](QMenu* menu, std::initializer_list<ActionId> ids) {
        for (const ActionId id : ids)
            menu->addAction(m_actions[id]);
    };
    const auto top = [this](const char* caption) {
        auto* menu = new QMenu(U(caption), &m_window);
        m_mainMenus.push_back(menu);
        return menu;
    };

    QMenu* file = top("  ファイル(&F)");
    add(file, {FilePutTaskTray, FileCanDMS});
    file->addSeparator();
    add(file, {FileExit, FileExitAll});

    QMenu* view = top("  表示(&V)");
    QMenu* tab = view->addMenu(U("タブ(&T)"));
    add(tab, {TabNext, TabBack});
    tab->addSeparator();
    add(tab, {TabNow, TabLog, TabYpLike});
    QMenu* list = view->addMenu(U("リストビュー(&L)"));
    add(list, {MainVisualEnableEnsureVisible, MainVisualFixedColumn});
    view->addMenu(ypLikeMenu);
    add(view, {MainVisualStatusBar, MainVisualShowContextMenu, MainVisualChangeTheme});
    view->addSeparator();
    add(view, {MainVisualYpStatus, MainVisualHistory, MainVisualRegulars});

    QMenu* notify = top("  通知(&N)");
    add(notify, {MainNotifyChannel, MainNotifyRefresh, MainNotifyError});
    notify->addSeparator();
    add(notify, {MainNotifyAbort});

    QMenu* tools = top("  ツール(&T)");
    tools->setObjectName(QStringLiteral("MenuTool"));

    QMenu* help = top("  ヘルプ(&H)");
    add(help, {MainHelpStartPeerCast, MainHelpExitPeerCast, MainHelpKeyConfigSave, MainHelpKeyConfigLoad});
    help->addSeparator();
    add(help, {MainHelpInitTemplate, MainHelpInitDMS, MainHelpDebugMode});
    help->addSeparator();
    add(help, {MainHelpVersion});

    m_popupMenuMode = new QMenu(&m_window);
    m_popupMenuMode->setObjectName(QStringLiteral("PopupMenuMode"));
    add(m_popupMenuMode, {MainModeManual, MainModeAuto});

    // What the system menu holds on desktops that have one.
    m_popupMenuSysMenu = new QMenu(QStringLiteral("kavo"), &m_window);
    m_popupMenuSysMenu->setObjectName(QStringLiteral("PopupMenuSysMenu"));
    add(m_popupMenuSysMenu, {MainRefresh});
    add(m_popupMenuSysMenu->addMenu(U("更新モード(&M)")), {MainModeManual, MainModeAuto});
    add(m_popupMenuSysMenu, {MainNotifyAbort});
    m_popupMenuSysMenu->addSeparator();
    add(m_popupMenuSysMenu->addMenu(U("一時表示切替")), {SysVChangeToolBar, SysVChangeStatusBar});
    m_popupMenuSysMenu->addSeparator();
    add(m_popupMenuSysMenu->addMenu(U("終了(&X)")), {FileExit, FileExitAll});

    m_popupMenuTrayIcon = new QMenu(&m_window);
    m_popupMenuTrayIcon->setObjectName(QStringLiteral("PopupMenuTrayIcon"));
    add(m_popupMenuTrayIcon, {MainRefresh});
    add(m_popupMenuTrayIcon->addMenu(U("更新モード(&M)")), {MainModeManual, MainModeAuto});
    add(m_popupMenuTrayIcon, {MainNotifyAbort});
    m_popupMenuTrayIcon->addSeparator();
    add(m_popupMenuTrayIcon->addMenu(U("終了(&X)")), {TrayExit, FileExitAll});
    m_popupMenuTrayIcon->addSeparator();
    m_popupMenuTrayIcon->addMenu(m_popupMenuSysMenu);

    m_popupMenuCoolBar = new QMenu(&m_window);
    m_popupMenuCoolBar->setObjectName(QStringLiteral("PopupMenuCoolBar"));
    add(m_popupMenuCoolBar, {CoolFixed});
    m_popupMenuCoolBar->addSeparator();
    m_popupMenuCoolBar->addMenu(m_popupMenuSysMenu);
}

void MainFrame::createStatusBar()
{
    m_statusBar = m_window.statusBar();
    m_statusBar->setObjectName(QStringLiteral("JvStatusBar"));
    const std::array<int, 3> widths = {24, 40, 50};
    for (std::size_t i = 0; i < m_panels.size(); ++i) {
        auto* panel = new QLabel(m_statusBar);
        panel->setObjectName(QStringLiteral("JvStatusBarPanel%1").arg(i));
        panel->setMinimumWidth(widths[i]);
        if (i < 2)
            panel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        m_statusBar->addWidget(panel, i == 2 ? 1 : 0);
        m_panels[i] = panel;
    }
    m_popupMenuStatusBar = new QMenu(&m_window);
    m_popupMenuStatusBar->setObjectName(QStringLiteral("PopupMenuStatusBar"));
    m_popupMenuStatusBar->addAction(m_actions[StatusCopy]);
    m_statusBar->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_statusBar, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { m_popupMenuStatusBar->popup(m_statusBar->mapToGlobal(at)); });
    m_statusBar->installEventFilter(this);
}

void MainFrame::connectActions()
{
    auto* tabs = new QActionGroup(this);
    for (int page = 0; page < 3; ++page) {
        const ActionId tab = TabActions[static_cast<std::size_t>(page)];
        tabs->addAction(m_actions[tab]);
        m_actions.Connect(tab, this, [this, page] { emit PageRequested(page); });
    }
    m_actions[TabNow]->setChecked(true);
    m_actions.Connect(TabNext, this, [this] { emit PageRequested((CheckedPage() + 1) % 3); });
    m_actions.Connect(TabBack, this, [this] { emit PageRequested((CheckedPage() + 2) % 3); });

    m_actions[MainVisualStatusBar]->setChecked(true);
    m_actions[SysVChangeStatusBar]->setChecked(true);
    m_actions[SysVChangeToolBar]->setChecked(true);
    connect(m_actions[MainVisualStatusBar], &QAction::toggled, this, [this] { ApplyStatusBar(); });
    connect(m_actions[SysVChangeStatusBar], &QAction::toggled, m_statusBar, &QWidget::setVisible);
    m_actions.Connect(StatusCopy, this, [this] { QApplication::clipboard()->setText(StatusPanel(2)); });
    m_actions.Connect(MainVisualChangeTheme, this, [this] {
        if (const auto theme = AskTheme(m_common.Theme))
            ChangeTheme(*theme);
    });
    m_actions.Connect(FilePutTaskTray, this, [this] { PutIntoTray(); });
}

QString MainFrame::StatusPanel(int panel) const
{
    return m_panels.at(static_cast<std::size_t>(panel))->text();
}

void MainFrame::SetStatusPanel(int panel, const QString& text)
{
    m_panels.at(static_cast<std::size_t>(panel))->setText(text);
}

void MainFrame::ApplyStatusBar()
{
    const bool on = m_actions[MainVisualStatusBar]->isChecked();
    m_statusBar->setVisible(on);
    m_actions[SysVChangeStatusBar]->setChecked(on);
}

int MainFrame::CheckedPage() const
{
    for (std::size_t page = 0; page < TabActions.size(); ++page)
        if (m_actions[TabActions[page]]->isChecked())
            return static_cast<int>(page);
    return PageNow;
}

void MainFrame::UpdateThemeCaption()
{
    m_actions[MainVisualChangeTheme]->setText(U("テーマ変更[") + FromCp932(m_common.Theme) + U("](&M)"));
}

bool MainFrame::ChangeTheme(const std::string& theme)
{
    const std::string previous = m_common.Theme;
    m_common.Theme = theme;
    if (!m_common.ThemeExists(theme)) {
        const QString message = FromCp932(m_common.GetTemplatePath()) + U("が見つかりません");
        m_common.Theme = previous;
        auto* box = new QMessageBox(QMessageBox::Warning, m_window.windowTitle(), message, QMessageBox::Ok, &m_window);
        box->setObjectName(QStringLiteral("ThemeNotFound"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
        return false;
    }
    UpdateThemeCaption();
    DebugLog::Guarded("SaveTheme", [this] { m_common.SaveTheme(); });
    emit ThemeChanged();
    return true;
}

void MainFrame::PutIntoTray()
{
    if (!m_notifyMgr.TrayActive())
        m_notifyMgr.SetTrayActive(true);
    m_notifyMgr.HideApplication();
    m_notifyMgr.SetTrayClickRestores(true);
}

void MainFrame::minimized()
{
    if (m_notifyMgr.TrayActive() && m_setting.Etc.TaskTray)
        m_notifyMgr.HideApplication();
}

void MainFrame::restored()
{
    m_inTray = false;
    if (!m_notifyMgr.NeedTaskTray())
        m_notifyMgr.SetTrayActive(false);
    emit Restored();
}

bool MainFrame::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == &m_window && event->type() == QEvent::WindowStateChange) {
        const auto* change = static_cast<QWindowStateChangeEvent*>(event);
        const bool was = change->oldState() & Qt::WindowMinimized;
        const bool is = m_window.windowState() & Qt::WindowMinimized;
        // Hidden after the state change has run its course.
        if (is && !was)
            QTimer::singleShot(0, this, [this] {
                if (m_window.isMinimized())
                    minimized();
            });
        else if (was && !is && m_window.isVisible())
            restored();
    } else if (watched == m_statusBar && event->type() == QEvent::MouseButtonDblClick) {
        const QString url = StatusPanel(2);
        if (!m_actions[TabYpLike]->isChecked() && !url.isEmpty())
            emit UrlOpenRequested(url);
    }
    return QObject::eventFilter(watched, event);
}

} // namespace kavo
