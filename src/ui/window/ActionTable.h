#pragma once

#include "ui/app/DebugLog.h"

#include <QAction>
#include <QKeySequence>
#include <QString>

#include <array>
#include <cstddef>
#include <initializer_list>
#include <vector>

class QObject;

namespace kavo {

class IniFile;

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
    MainVisualRegulars,
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
// captions, switches, default shortcuts and the settings-file keys of the stored switches. Code
// reaches an action by its id; the shortcut store and the HTML view's action links by its name.
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
    // "ActionMainRefresh" and so on.
    static const char* Name(ActionId id);

    // Runs handler whenever the action is triggered, while context lives. What the handler throws
    // is logged under the action's name and leaves the window as it was.
    template <class Handler>
    void Connect(ActionId id, const QObject* context, Handler handler) const
    {
        QObject::connect((*this)[id], &QAction::triggered, context,
                         [where = Name(id), handler] { DebugLog::Guarded(where, handler); });
    }

    // Stored switches keep their checked state in the settings file under their own key; these
    // take the listed switches from the file (a missing key gives the switch's default) and give
    // them back to it, in the order listed.
    void ReadSwitches(const IniFile& ini, std::initializer_list<ActionId> ids) const;
    void WriteSwitches(IniFile& ini, std::initializer_list<ActionId> ids) const;

private:
    std::array<QAction*, ActionCount> m_actions{};
};

} // namespace kavo
