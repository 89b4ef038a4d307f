#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <string>

class QAction;
class QStatusBar;
class QToolButton;

namespace kavo {

class ActionTable;
class BroadcastHistoryWindow;
class HistoryStore;
class RegularsWindow;
class TkavoSetting;
class YpStatusWindow;

// The main window's way into the history: the windows "YPの状態", "放送履歴" and "いつもの配信",
// opened by their actions and kept while open, a status bar button that shows whether a YP is failing and opens
// "YPの状態", and a refresh of all of them whenever the history has written a refresh.
class HistoryViews : public QObject
{
    Q_OBJECT

public:
    // Everything must outlive this object, which belongs to the main window. The two actions of
    // the table open the windows.
    HistoryViews(HistoryStore& history, const TkavoSetting& setting, const ActionTable& actions, QStatusBar* statusBar,
                 QWidget* window);

    YpStatusWindow* ShowYpStatus();
    BroadcastHistoryWindow* ShowBroadcasts();
    // "いつもの配信", for now; a double click plays a regular through the player given, or opens its
    // history in "放送履歴".
    RegularsWindow* ShowRegulars();
    void SetRegularPlayer(std::function<bool(const std::string&)> play) { m_playRegular = std::move(play); }
    QToolButton* StatusButton() const { return m_button; }
    // Reads the YPs' state again for the button and the open windows.
    void Refresh();

private:
    HistoryStore& m_history;
    const TkavoSetting& m_setting;
    QWidget* m_window;
    QToolButton* m_button = nullptr;
    QPointer<YpStatusWindow> m_ypStatus;
    QPointer<BroadcastHistoryWindow> m_broadcasts;
    QPointer<RegularsWindow> m_regulars;
    std::function<bool(const std::string&)> m_playRegular;
};

} // namespace kavo
