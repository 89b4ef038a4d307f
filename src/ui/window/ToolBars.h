#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QToolBar>

#include <array>
#include <functional>
#include <string>
#include <vector>

class QMainWindow;
class QMenu;
class QToolButton;

namespace kavo {

class ActionTable;
class IniFile;

// One band's record in [CoolBar]: which band, its width, and whether it starts a row.
struct CoolBand
{
    int ID = -1;
    int Width = -1;
    bool Break = false;
};

// One band of the bars: a tool bar with an ID, whose preferred width can be set so that a restored
// layout keeps the widths it was closed with.
class ToolBand : public QToolBar
{
    Q_OBJECT

public:
    ToolBand(int id, const QString& name, QWidget* parent);
    int Id() const { return m_id; }
    // <= 0: the width of the buttons.
    void SetPreferredWidth(int width);
    QSize sizeHint() const override;

private:
    int m_id;
    int m_preferredWidth = -1;
};

// The three bands at the top of the window: the main menu as text buttons ("ToolBarMain"), the
// tab buttons ("ToolBarTab") and the command buttons ("ToolBarTool"). A band too narrow for its
// buttons offers the hidden ones in the menu of its extension button. With ActionCoolFixed the
// bands cannot be moved and instead move the window when dragged, as the status bar always does.
class ToolBars : public QObject
{
    Q_OBJECT

public:
    enum BandId {
        BandMain = 0,
        BandTab = 1,
        BandTool = 2
    };

    // mainMenus: the top-level menus in order; modeMenu: the refresh button's drop-down; contextMenu:
    // what a right click on a band shows. Everything must outlive the bars.
    ToolBars(QMainWindow& window, const ActionTable& actions, const std::vector<QMenu*>& mainMenus, QMenu* modeMenu,
             QMenu* contextMenu);

    ToolBand* Band(int id) const { return m_bands.at(static_cast<std::size_t>(id)); }
    // The command icons from the icon folder (a path ending with "/"); one that cannot be read is
    // left out.
    void LoadIcons(const std::string& iconFolder);
    // Grippers and dragging as ActionCoolFixed says.
    void ApplyBandStyles();
    // themed: the desktop draws its own menu bar look; the bands are transparent and the menu
    // captions keep their leading blanks. Otherwise the bands are opaque and the captions trimmed.
    void ApplyVisualTheme(bool themed);
    // Whether the running style is a desktop's own rather than one built into Qt.
    static bool DesktopThemed();
    // Shows or hides all bands (for this run only).
    void SetVisible(bool visible);

    // The window has been shown, so the bands have their places.
    bool LaidOut() const { return m_laidOut; }
    // The bands as they stand, top row first, left to right.
    std::array<CoolBand, 3> CaptureLayout() const;
    // Puts the bands in the stored order with their row breaks and widths. A record whose ID names
    // no band, or a band named twice, is skipped; bands not named follow in their designed order.
    void RestoreLayout(const std::array<CoolBand, 3>& layout);

    // The layout kept in [CoolBar]: as read at start-up until the window closes, then the bands as
    // they stood, when the window was ever shown.
    void ReadOptions(const IniFile& ini);
    void WriteOptions(IniFile& ini) const;
    void RestoreStoredLayout() { RestoreLayout(m_stored); }
    void KeepLayout();

    // What the extension button of the band offers: its hidden buttons in order. The menu belongs
    // to the bars and is rebuilt on every call.
    QMenu* ChevronMenu(ToolBand* band);
    // Lets a press and a move on the widget move the window; always, or only while the bands are
    // fixed.
    void AddDragSource(QWidget* widget, bool always);
    // Starts the window manager's move; true when one started. Replaceable where there is none.
    std::function<bool()> StartSystemMove;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void hookExtension(ToolBand* band);
    bool isDragSource(QObject* watched) const;

    QMainWindow& m_window;
    const ActionTable& m_actions;
    std::vector<QMenu*> m_mainMenus;
    QMenu* m_modeMenu;
    std::array<ToolBand*, 3> m_bands{};
    QMenu* m_chevron = nullptr;
    std::vector<std::pair<QWidget*, bool>> m_dragSources;
    QPoint m_pressed;
    bool m_pressRecorded = false;
    bool m_laidOut = false;
    std::array<CoolBand, 3> m_stored{};
};

} // namespace kavo
