#include "ui/window/ActionTable.h"

#include "settings/IniFile.h"

#include <QAction>

#include <algorithm>
#include <stdexcept>
#include <string>

namespace kavo {
namespace {

struct ActionRow
{
    ActionId Id;
    const char* Name;
    const char* Caption; // UTF-8
    bool Checkable = false;
    QKeyCombination Shortcut = {};
};

using enum ActionId;

constexpr std::array<ActionRow, ActionCount> Rows = {{
    {MainRefresh, "ActionMainRefresh", "更新(&R)"},
    {MainModeManual, "ActionMainModeManual", "手動更新(&M)", true},
    {MainModeAuto, "ActionMainModeAuto", "自動更新(&A)", true},
    {MainNotifyChannel, "ActionMainNotifyChannel", "チャンネル(&C)", true},
    {MainNotifyRefresh, "ActionMainNotifyRefresh", "更新完了(&R)", true},
    {MainNotifyError, "ActionMainNotifyError", "エラー(&E)", true},
    {MainNotifyAbort, "ActionMainNotifyAbort", "中止(&A)"},
    {FileCanDMS, "ActionFileCanDMS", "DMSスクリプト実行(&S)", true},
    {MainHelpDebugMode, "ActionMainHelpDebugMode", "デバッグモード(&D)", true},
    {MainHelpInitDMS, "ActionMainHelpInitDMS", "DMonkeyスクリプトオブジェクト再生成する(&I)"},
    {MainHelpInitTemplate, "ActionMainHelpInitTemplate", "templatesを再読み込み(&T)"},
    {MainConfig, "ActionMainConfig", "設定(&C)"},
    {MainFavorite, "ActionMainFavorite", "お気に入り"},
    {MainHelpVersion, "ActionMainHelpVersion", "バージョン情報(&V)"},
    {MainHelpStartPeerCast, "ActionMainHelpStartPeerCast", "PeerCast本体起動(&E)"},
    {MainHelpExitPeerCast, "ActionMainHelpExitPeerCast", "PeerCast本体終了(&X)"},
    {MainHelpKeyConfigSave, "ActionMainHelpKeyConfigSave", "ショートカットキーの設定を保存(&S)"},
    {MainHelpKeyConfigLoad, "ActionMainHelpKeyConfigLoad", "ショートカットキーの設定を読込(&L)"},
    {FileExit, "ActionFileExit", "終了(&X)"},
    {FileExitAll, "ActionFileExitAll", "終了(完全)(&A)", false, Qt::CTRL | Qt::ALT | Qt::Key_F4},
    {TrayExit, "ActionTrayExit", "終了(&X)"},
    {FilePutTaskTray, "ActionFilePutTaskTray", "タスクトレイに入れる(&Y)", false, QKeyCombination(Qt::Key_F9)},
    {TabNow, "ActionTabNow", "放送中(&1)", true},
    {TabLog, "ActionTabLog", "放送終了(&2)", true},
    {TabYpLike, "ActionTabYpLike", "YP風表示(&3)", true},
    {TabNext, "ActionTabNext", "次のタブ(&N)", false, Qt::CTRL | Qt::Key_Tab},
    {TabBack, "ActionTabBack", "前のタブ(&B)", false, Qt::CTRL | Qt::SHIFT | Qt::Key_Tab},
    {LVPlay, "ActionLVPlay", "視聴(&P)"},
    {LVPlayDirect, "ActionLVPlayDirect", "視聴(ダイレクト)(&D)"},
    {LVOpenContact, "ActionLVOpenContact", "コンタクトURLを開く(&1)"},
    {LVOpenChat, "ActionLVOpenChat", "チャットURLを開く(&2)"},
    {LVOpenStatistics, "ActionLVOpenStatistics", "統計URLを開く(&3)"},
    {LVCopy, "ActionLVCopy", "コピー(&C)", false, Qt::CTRL | Qt::Key_C},
    {LVOpen, "ActionLVOpen", "開く(&O)"},
    {LVAdminCmdStop, "ActionLVAdminCmdStop", "&Stop"},
    {LVAdminCmdBump, "ActionLVAdminCmdBump", "&Bump"},
    {LVViewRelayInfo, "ActionLVViewRelayInfo", "&ViewRelayInfo"},
    {LVClear, "ActionLVClear", "クリア(&R)"},
    {LVNotifyTest, "ActionLVNotifyTest", "通知のテスト(&N)"},
    {LVYpLikeLite, "ActionLVYpLikeLite", "軽量モード(&L)"},
    {LVChange, "ActionLVChange", "更新テキスト(&D)"},
    {LVChangeGenreAndDesc, "ActionLVChangeGenreAndDesc", ""},
    {LVChangePlaying, "ActionLVChangePlaying", ""},
    {LVChangeComment, "ActionLVChangeComment", ""},
    {LVFindChannel, "ActionLVFindChannel", "検索(&F)", false, Qt::CTRL | Qt::Key_F},
    {LVFindChannel2, "ActionLVFindChannel2", "検索(&F)", false, QKeyCombination(Qt::Key_F3)},
    {LVFindClear, "ActionLVFindClear", "検索クリア(&G)", false, QKeyCombination(Qt::Key_Escape)},
    {MainVisualEnableEnsureVisible, "ActionMainVisualEnableEnsureVisible", "選択中のチャンネルを常に表示(&E)", true},
    {MainVisualFixedColumn, "ActionMainVisualFixedColumn", "カラムサイズ調整[放送中->放送終了](&C)"},
    {MainVisualStatusBar, "ActionMainVisualStatusBar", "ステータスバー(&B)", true},
    {MainVisualShowContextMenu, "ActionMainVisualShowContextMenu", "コンテキストメニュー表示(&P)"},
    {MainVisualYpLikeRestorePos, "ActionMainVisualYpLikeRestorePos", "スクロール位置を復元する(&R)", true},
    {MainVisualYpLikeModeFromStream, "ActionMainVisualYpLikeModeFromStream", "about:blankに直接書込(&S)", true},
    {MainVisualYpLikeModeFromTempFile, "ActionMainVisualYpLikeModeFromTempFile", "テンポラリファイルをナビゲート(&T)",
     true},
    {MainVisualYpLikeLite0, "ActionMainVisualYpLikeLite0", "有効(&0)", true},
    {MainVisualYpLikeLite1, "ActionMainVisualYpLikeLite1", "<=0(&1)", true},
    {MainVisualYpLikeLite2, "ActionMainVisualYpLikeLite2", "<5(&2)", true},
    {MainVisualYpLikeLite3, "ActionMainVisualYpLikeLite3", "<10(&3)", true},
    {MainVisualYpLikeLite4, "ActionMainVisualYpLikeLite4", "=0(&4)", true},
    {MainVisualYpLikeLite5, "ActionMainVisualYpLikeLite5", "カスタム(リスナ)(&C)", true},
    {MainVisualYpLikeLite6, "ActionMainVisualYpLikeLite6", "上位(10)(&5)", true},
    {MainVisualYpLikeLite7, "ActionMainVisualYpLikeLite7", "上位(20)(&6)", true},
    {MainVisualYpLikeLite8, "ActionMainVisualYpLikeLite8", "上位(30)(&7)", true},
    {MainVisualYpLikeLite9, "ActionMainVisualYpLikeLite9", "上位(40)(&8)", true},
    {MainVisualYpLikeLite10, "ActionMainVisualYpLikeLite10", "カスタム(上位)(&J)", true},
    {MainVisualYpStatus, "ActionMainVisualYpStatus", "YPの状態(&Y)"},
    {MainVisualHistory, "ActionMainVisualHistory", "放送履歴(&H)"},
    {MainVisualRegulars, "ActionMainVisualRegulars", "いつもの配信(&U)"},
    {SysVChangeToolBar, "ActionSysVChangeToolBar", "ツールバー(&C)", true},
    {SysVChangeStatusBar, "ActionSysVChangeStatusBar", "ステータスバー(&S)", true},
    {SysVChangeMainMenu, "ActionSysVChangeMainMenu", "メインメニュー(&M)", true},
    {MainVisualChangeTheme, "ActionMainVisualChangeTheme", "テーマ変更(&T)"},
    {StatusCopy, "ActionStatusCopy", "URLのコピー(&C)"},
    {CoolFixed, "ActionCoolFixed", "ツールバーを固定する(&B)", true},
}};

// The table lists every id once, in the order of the enumeration.
constexpr bool RowsInOrder()
{
    for (std::size_t i = 0; i < Rows.size(); ++i)
        if (static_cast<std::size_t>(Rows[i].Id) != i)
            return false;
    return true;
}
static_assert(RowsInOrder());

// The switches whose checked state the settings file keeps, with their state when the key is
// missing. Booleans are stored as 0 and 1.
struct StoredSwitch
{
    ActionId Id;
    const char* Section;
    const char* Key;
    bool Default;
};

constexpr std::array<StoredSwitch, 12> Switches = {{
    {MainHelpDebugMode, "Help", "DebugMode", false},
    {MainVisualStatusBar, "Window", "StatusBar", true},
    {MainVisualEnableEnsureVisible, "Window", "EnsureVisible", false},
    {MainVisualYpLikeRestorePos, "Window", "YpLikeRestorePos", false},
    {MainVisualYpLikeModeFromStream, "Window", "YpLikeModeFromStream", true},
    {MainVisualYpLikeModeFromTempFile, "Window", "YpLikeModeFromTempFile", false},
    {FileCanDMS, "Window", "CanDMS", true},
    {MainNotifyChannel, "Notify", "Channel", true},
    {MainNotifyRefresh, "Notify", "Refresh", false},
    {MainNotifyError, "Notify", "Error", true},
    {MainModeManual, "Mode", "Manual", true},
    {MainModeAuto, "Mode", "Auto", false},
}};

const StoredSwitch& SwitchOf(ActionId id)
{
    const auto* found =
        std::find_if(Switches.begin(), Switches.end(), [id](const StoredSwitch& entry) { return entry.Id == id; });
    if (found == Switches.end())
        throw std::logic_error(std::string(Rows[static_cast<std::size_t>(id)].Name) + " is no stored switch");
    return *found;
}

} // namespace

ActionTable::ActionTable(QObject* owner)
{
    for (std::size_t i = 0; i < Rows.size(); ++i) {
        const ActionRow& row = Rows[i];
        auto* action = new QAction(QString::fromUtf8(row.Caption), owner);
        action->setObjectName(QString::fromLatin1(row.Name));
        action->setCheckable(row.Checkable);
        if (row.Shortcut != QKeyCombination())
            action->setShortcut(QKeySequence(row.Shortcut));
        m_actions[i] = action;
    }
}

const char* ActionTable::Name(ActionId id)
{
    return Rows[static_cast<std::size_t>(id)].Name;
}

void ActionTable::ReadSwitches(const IniFile& ini, std::initializer_list<ActionId> ids) const
{
    for (const ActionId id : ids) {
        const StoredSwitch& entry = SwitchOf(id);
        (*this)[id]->setChecked(ini.ReadInteger(entry.Section, entry.Key, entry.Default) != 0);
    }
}

void ActionTable::WriteSwitches(IniFile& ini, std::initializer_list<ActionId> ids) const
{
    for (const ActionId id : ids) {
        const StoredSwitch& entry = SwitchOf(id);
        ini.WriteInteger(entry.Section, entry.Key, (*this)[id]->isChecked() ? 1 : 0);
    }
}

QAction* ActionTable::Find(const QString& name) const
{
    for (QAction* action : m_actions)
        if (action->objectName() == name)
            return action;
    return nullptr;
}

} // namespace kavo
