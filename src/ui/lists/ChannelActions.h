#pragma once

#include "core/PlayHint.h"

#include <QObject>

#include <functional>
#include <memory>
#include <string>

class QMenu;
class QWidget;

namespace kavo {

class AdminCommandWorker;
class ActionTable;
class TkavoCommon;
class Launcher;
class ChannelListView;
class TkavoNet;
class TkavoNotifyMgr;
class TkavoSetting;
struct TkavoChItem;

// What the user does with a channel of the lists: play it, open its pages, copy it, test its
// notification, send the local PeerCast server stop and bump for it, run the tools with it; and
// the lists' context menu that offers these. They act on the selection of the current view.
class ChannelActions : public QObject
{
    Q_OBJECT

public:
    // launcher gives the window's launcher, made on first use. Everything must outlive this object.
    ChannelActions(const TkavoSetting& setting, TkavoCommon& common, const ActionTable& actions,
                   std::function<Launcher&()> launcher, TkavoNet& net, TkavoNotifyMgr& notifyMgr, QWidget* window);
    ~ChannelActions() override;

    // The view whose selection the actions take; the window sets it as the pages change.
    void SetCurrentView(ChannelListView* view) { m_view = view; }
    ChannelListView* CurrentView() const { return m_view; }
    // Wires a list view: double click, Enter and the context menu.
    void Attach(ChannelListView* view);

    // Plays the view's selected channel (its direct stream URL when direct), falling back to the
    // desktop's handler.
    void PlaySelected(ChannelListView* view, bool direct = false);
    // Plays url with the channel's name and type. The channel, a row of view (both may be null),
    // shows that the local server now holds it, when the local server is watched.
    void Play(const std::string& url, ChannelListView* view, const TkavoChItem* channel);
    // Enables the context menu's actions for the current view's selection and the window's state.
    void PrepareListMenu();
    // The selected channel's clipboard text onto the clipboard.
    void CopySelected();
    // Refills the main menu's tool menu and the context menu's from the settings.
    void BuildToolMenus();
    // New settings: the tool menus follow changed tools.
    void SettingsChanged(const TkavoSetting& before, const TkavoSetting& after);
    // The main menu's tool menu, refilled with the context menu's.
    void SetMainToolMenu(QMenu* menu);

    // Whether an admin command is on its way to the local server.
    bool AdminCommandRunning() const;
    // Bounds an admin request's connecting and silences; for tests.
    void SetAdminTimeout(int seconds);

    QMenu* PopupMenuListItem() const { return m_popupMenuListItem; }
    QMenu* ToolMenu() const { return m_toolMenu; }
    QMenu* MainToolMenu() const { return m_mainToolMenu; }
    // The lite-mode items of the YP-style page, shown under "軽量モード(&L)".
    QMenu* LiteMenu() const { return m_liteMenu; }

signals:
    // A line for the status bar: what failed (an admin command the server did not take, a channel
    // nobody could play).
    void StatusMessage(const QString& text);
    // The channels' marks changed while the YP-style page is shown: the page is to be built again.
    void YpLikeRebuildNeeded();
    // The user asked not to be asked again before playing a channel that will probably not play.
    void PlayHintQuestionsDeclined();

private:
    void buildPopupMenu();
    void connectActions();
    void fillToolMenu(QMenu* menu);
    void runTool(std::size_t entry, const QString& title);
    void adminCommand(bool bump);
    // Asks whether to play a channel that will probably not play; true to play it.
    bool askPlayAnyway(PlayHint hint);
    void viewRelayInfo();
    void notifyTest();
    void clearLog();
    // The admin actions may act on the channel: the local server knows it, answered the last
    // status read, and no cycle runs.
    bool adminAllowed(const TkavoChItem* channel) const;
    // Marks the channel relayed by the local server (played, bumped) or stopped, and redraws its row
    // in the view. A channel of a list the retrieval module did not hand out (an earlier run's)
    // takes no mark.
    void markChannel(ChannelListView* view, const TkavoChItem& channel, bool relaying);
    void requestYpLikeRebuild();
    // The search items of the context menu.
    void addFindItems(QMenu* menu);

    const TkavoSetting& m_setting;
    TkavoCommon& m_common;
    const ActionTable& m_actions;
    std::function<Launcher&()> m_launcher;
    TkavoNet& m_net;
    TkavoNotifyMgr& m_notifyMgr;
    ChannelListView* m_view = nullptr;
    QMenu* m_popupMenuListItem;
    QMenu* m_toolMenu = nullptr;
    QMenu* m_mainToolMenu = nullptr;
    QMenu* m_liteMenu = nullptr;
    std::unique_ptr<AdminCommandWorker> m_admin;
    int m_adminTimeout = 10;
    // Counts the refills of the views: a row taken before a dialog is stale when it moved on.
    unsigned m_fills = 0;
};

} // namespace kavo
