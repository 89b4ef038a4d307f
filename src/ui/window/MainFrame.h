#pragma once

#include <QObject>
#include <QString>

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QLabel;
class QMainWindow;
class QMenu;
class QStatusBar;

namespace kavo {

class ActionTable;
class TkavoCommon;
class TkavoNotifyMgr;
class TkavoSetting;

// The frame around the channel views: the main menu, the pop-up menus of the tray, the status bar
// and the bands, the "kavo" menu that stands in for the system menu, the status bar with its three
// panels, the tab actions, the theme of the templates and the way into and out of the tray. It
// tells the window by signals what the window has to do.
class MainFrame : public QObject
{
    Q_OBJECT

public:
    static constexpr int PageNow = 0;
    static constexpr int PageLog = 1;
    static constexpr int PageYpLike = 2;

    // ypLikeMenu: "YP風表示(&Y)" of the view menu. Everything must outlive the frame.
    MainFrame(QMainWindow& window, const TkavoSetting& setting, TkavoCommon& common, TkavoNotifyMgr& notifyMgr,
              const ActionTable& actions, QMenu* ypLikeMenu);

    // "  ファイル(&F)" to "  ヘルプ(&H)", in order.
    const std::vector<QMenu*>& MainMenus() const { return m_mainMenus; }
    QMenu* ToolMenu() const { return m_mainMenus.at(3); }
    QMenu* PopupMenuTrayIcon() const { return m_popupMenuTrayIcon; }
    // The "kavo" menu of the tray menu and the bands' pop-up menu.
    QMenu* PopupMenuSysMenu() const { return m_popupMenuSysMenu; }
    QMenu* PopupMenuCoolBar() const { return m_popupMenuCoolBar; }
    QMenu* PopupMenuMode() const { return m_popupMenuMode; }
    QMenu* PopupMenuStatusBar() const { return m_popupMenuStatusBar; }

    QStatusBar* StatusBar() const { return m_statusBar; }
    // Panel 0 (seconds until a manual refresh), 1 (time of the last refresh) or 2 (a URL).
    QString StatusPanel(int panel) const;
    void SetStatusPanel(int panel, const QString& text);
    // The status bar is shown as ActionMainVisualStatusBar says.
    void ApplyStatusBar();

    // The page of the checked tab action.
    int CheckedPage() const;

    // The theme action's caption names the current theme.
    void UpdateThemeCaption();
    // Makes theme (CP932) the template set when its folder exists: true, and ThemeChanged follows.
    // Otherwise shows the folder's path followed by "が見つかりません", keeps the theme and gives false.
    bool ChangeTheme(const std::string& theme);
    // Asks for a theme name (CP932) with the current one preset; nothing when cancelled.
    std::function<std::optional<std::string>(const std::string& current)> AskTheme;

    // F9: into the tray whatever Etc/TaskTray says; the tray icon then restores the window.
    void PutIntoTray();
    bool InTray() const { return m_inTray; }

signals:
    // A tab action, or Ctrl+Tab and Ctrl+Shift+Tab, asks for that page.
    void PageRequested(int page);
    // A double click on the status bar asks to open panel 2's URL.
    void UrlOpenRequested(const QString& url);
    // The theme is another one: templates are to be loaded again.
    void ThemeChanged();
    // The window came back from the tray or the task bar.
    void Restored();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createMenus(QMenu* ypLikeMenu);
    void createStatusBar();
    void connectActions();
    void minimized();
    void restored();

    QMainWindow& m_window;
    const TkavoSetting& m_setting;
    TkavoCommon& m_common;
    TkavoNotifyMgr& m_notifyMgr;
    const ActionTable& m_actions;
    std::vector<QMenu*> m_mainMenus;
    QMenu* m_popupMenuTrayIcon = nullptr;
    QMenu* m_popupMenuSysMenu = nullptr;
    QMenu* m_popupMenuCoolBar = nullptr;
    QMenu* m_popupMenuMode = nullptr;
    QMenu* m_popupMenuStatusBar = nullptr;
    QStatusBar* m_statusBar = nullptr;
    std::array<QLabel*, 3> m_panels{};
    bool m_inTray = false;
};

} // namespace kavo
