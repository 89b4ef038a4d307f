#pragma once

#include <QObject>

#include <functional>
#include <string>

class QMenu;
class QWidget;

namespace kavo {

class TkavoActions;
struct TkavoChItem;
class TkavoCommon;
class TkavoLauncher;
class TkavoListView;
class TkavoSetting;

// What the user does with a channel of the lists: play it, open its pages, copy it, and the
// lists' context menu that offers these. They act on the selection of the current view.
class TkavoChannelActions : public QObject
{
    Q_OBJECT

public:
    // launcher gives the window's launcher, made on first use. Everything must outlive this object.
    TkavoChannelActions(const TkavoSetting& setting, TkavoCommon& common, const TkavoActions& actions,
                        std::function<TkavoLauncher&()> launcher, QWidget* window);

    // The view whose selection the actions take; the window sets it as the pages change.
    void SetCurrentView(TkavoListView* view) { m_view = view; }
    TkavoListView* CurrentView() const { return m_view; }
    // Wires a list view: double click, Enter and the context menu.
    void Attach(TkavoListView* view);

    // Plays the view's selected channel (its direct stream URL when direct), falling back to the
    // desktop's handler.
    void PlaySelected(TkavoListView* view, bool direct = false);
    // Plays a URL for a channel (CP932 texts). With the local server's list read, the channel of
    // playItem (may be null) shows as relayed until the next refresh, and Marked is raised.
    void Play(const std::string& url, const std::string& name, const std::string& type, TkavoChItem* playItem);
    // Enables the context menu's channel actions for the current view's selection.
    void PrepareListMenu();
    // The selected channel's clipboard text onto the clipboard.
    void CopySelected();

    QMenu* PopupMenuListItem() const { return m_popupMenuListItem; }

signals:
    // A play request marked its channel as relayed.
    void Marked();

private:
    const TkavoSetting& m_setting;
    TkavoCommon& m_common;
    const TkavoActions& m_actions;
    std::function<TkavoLauncher&()> m_launcher;
    TkavoListView* m_view = nullptr;
    QMenu* m_popupMenuListItem;
};

} // namespace kavo
