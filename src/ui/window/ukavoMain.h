#pragma once

#include "core/TkavoChItem.h"
#include "ui/dialogs/ukavoFind.h"
#include "ui/window/ActionTable.h"

#include <QIcon>
#include <QMainWindow>
#include <QTimer>

#include <array>
#include <functional>
#include <stdexcept>

class QStackedWidget;

namespace kavo {

class ChannelActions;
class ChannelFind;
class ChannelListView;
class ChannelViews;
class HistoryStore;
class HistoryViews;
class IniFile;
class Launcher;
class MainFrame;
class PlacementStore;
class RefreshFeedback;
class SettingsFlow;
class SettingsHolder;
class TActionListKeyConfigMgr;
class TkavoCommon;
class TkavoNet;
class TkavoNotifyMgr;
class TkavoSetting;
class ToolBars;
class YpLikeView;

// Start-up cannot go on; the message (UTF-8) names what is missing.
class StartupError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The main window: the frame that holds the channel lists, the YP-style page, the menus and bands,
// and connects these parts among themselves. The program makes what the window shows and connects
// the refreshes, the start-up steps and the shutdown to the parts.
class TkavoMain : public QMainWindow
{
    Q_OBJECT

public:
    // launcher gives the program's launcher, made on first use. Everything must outlive the window.
    TkavoMain(SettingsHolder& settings, TkavoCommon& common, TkavoNotifyMgr& notifyMgr, TkavoNet& net,
              std::function<Launcher&()> launcher, QWidget* parent = nullptr);
    ~TkavoMain() override;

    const ActionTable& Actions() const { return m_actions; }
    MainFrame& Frame() const { return *m_frame; }
    ChannelViews& Views() const { return *m_views; }
    ChannelActions& Channels() const { return *m_channelActions; }
    YpLikeView& YpLike() const { return *m_ypLike; }
    RefreshFeedback& Feedback() const { return *m_refreshFeedback; }
    // What the find dialog keeps between searches.
    const FindState& Search() const { return m_find; }

    // Fires once, 500 ms (or as dfm.ini says) after the program has set the window up.
    QTimer TimerInitialize;

    // Start-up on the settings the program loaded, given the settings file it read them from: the
    // views, the icons and the stored options and placement. Throws StartupError when a state icon
    // cannot be read.
    void InitialSetup(const IniFile& settingsFile);
    // Shows the window (unless it starts minimised) as it was left: maximised as Window/Max says,
    // on the stored tab, with the stored layout of the bands.
    void RestorePlacement();
    // The record of refreshes behind "YPの状態" and "放送履歴"; without one both actions are off.
    void SetHistory(HistoryStore& history);
    // New settings: the window's font and title follow.
    void SettingsChanged(const TkavoSetting& before, const TkavoSetting& after);

    // The close query's steps of the frame: the bands' layout and the placement are kept, start-up
    // steps not yet run are dropped. Then the window's options, written into the settings file.
    void PrepareClose();
    void WriteWindowOptions(IniFile& ini);

signals:
    // TimerInitialize fired and the frame is ready: the program's start-up steps follow.
    void Initializing();
    // The window is being closed for the first time: the shutdown runs before it is gone.
    void CloseRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createParts();
    void connectActions();
    void connectFrame();
    void readWindowOptions(const IniFile& ini);
    void loadIcons();
    void timerInitializeTimer();
    void showPage(int page);
    void ypLikeChanged();
    void showContactUrl(const TkavoChItem* channel);
    void applyAllFont();

    const TkavoSetting& m_setting;
    SettingsHolder& m_settings;
    TkavoCommon& m_common;
    TkavoNotifyMgr& m_notifyMgr;
    TkavoNet& m_net;
    std::function<Launcher&()> m_launcher;
    ActionTable m_actions;
    FindState m_find;
    QStackedWidget* m_pages = nullptr;
    ChannelViews* m_views = nullptr;
    ChannelActions* m_channelActions = nullptr;
    YpLikeView* m_ypLike = nullptr;
    MainFrame* m_frame = nullptr;
    ToolBars* m_toolBars = nullptr;
    PlacementStore* m_placement = nullptr;
    RefreshFeedback* m_refreshFeedback = nullptr;
    TActionListKeyConfigMgr* m_keyConfig = nullptr;
    TkavoFind* m_findDialog = nullptr;
    ChannelFind* m_channelFind = nullptr;
    SettingsFlow* m_settingsFlow = nullptr;
    HistoryViews* m_historyViews = nullptr;
    std::array<QIcon, TkavoDiffCount> m_stateIcons;

    bool m_ypLikeDirty = false;
    bool m_maximized = false; // Window/Max
    bool m_closing = false;
    bool m_maximizedAtClose = false;
    bool m_closeRequested = false;
};

} // namespace kavo
