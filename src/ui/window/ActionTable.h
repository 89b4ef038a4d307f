#pragma once

#include <QKeySequence>
#include <QString>

#include <array>
#include <cstddef>
#include <vector>

class QAction;
class QObject;

namespace kavo {

// Every command of the main window. The order is the action list's: the shortcut store writes the
// actions in it.
enum class ActionId {
    MainRefresh,
    MainModeManual,
    MainModeAuto,
    MainNotifyChannel,
    MainNotifyRefresh,
    MainNotifyError,
    MainNotifyAbort,
    FileCanDMS,
    MainHelpDebugMode,
    MainHelpInitDMS,
    MainHelpInitTemplate,
    MainConfig,
    MainFavorite,
    MainHelpVersion,
    MainHelpStartPeerCast,
    MainHelpExitPeerCast,
    MainHelpKeyConfigSave,
    MainHelpKeyConfigLoad,
    FileExit,
    FileExitAll,
    TrayExit,
    FilePutTaskTray,
    TabNow,
    TabLog,
    TabYpLike,
    TabNext,
    TabBack,
    LVPlay,
    LVPlayDirect,
    LVOpenContact,
    LVOpenChat,
    LVOpenStatistics,
    LVCopy,
    LVOpen,
    LVAdminCmdStop,
    LVAdminCmdBump,
    LVViewRelayInfo,
    LVClear,
    LVNotifyTest,
    LVYpLikeLite,
    LVChange,
    LVChangeGenreAndDesc,
    LVChangePlaying,
    LVChangeComment,
    LVFindChannel,
    LVFindChannel2,
    LVFindClear,
    MainVisualEnableEnsureVisible,
    MainVisualFixedColumn,
    MainVisualStatusBar,
    MainVisualShowContextMenu,
    MainVisualYpLikeRestorePos,
    MainVisualYpLikeModeFromStream,
    MainVisualYpLikeModeFromTempFile,
    MainVisualYpLikeLite0,
    MainVisualYpLikeLite1,
    MainVisualYpLikeLite2,
    MainVisualYpLikeLite3,
    MainVisualYpLikeLite4,
    MainVisualYpLikeLite5,
    MainVisualYpLikeLite6,
    MainVisualYpLikeLite7,
    MainVisualYpLikeLite8,
    MainVisualYpLikeLite9,
    MainVisualYpLikeLite10,
    MainVisualYpStatus,
    MainVisualHistory,
    SysVChangeToolBar,
    SysVChangeStatusBar,
    SysVChangeMainMenu,
    MainVisualChangeTheme,
    StatusCopy,
    CoolFixed,
    Count
};
constexpr std::size_t ActionCount = static_cast<std::size_t>(ActionId::Count);

// The action list: one QAction per command, made from one table of names ("ActionMainRefresh"),
// captions, switches and default shortcuts. Code reaches an action by its id; the shortcut store
// and the HTML view's action links by its name.
class ActionTable
{
public:
    // The actions are children of owner, which frees them.
    explicit ActionTable(QObject* owner);

    QAction* operator[](ActionId id) const { return m_actions[static_cast<std::size_t>(id)]; }
    // The action of that name, or nullptr.
    QAction* Find(const QString& name) const;
    // Every action in list order.
    std::vector<QAction*> All() const { return {m_actions.begin(), m_actions.end()}; }

private:
    std::array<QAction*, ActionCount> m_actions{};
};

} // namespace kavo
