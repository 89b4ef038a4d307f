#pragma once

#include <QObject>

class QWidget;

namespace kavo {

class ChannelActions;
class ChannelViews;
class TkavoCommon;
class TkavoFind;
class TkavoNet;
class TkavoNotifyMgr;
class RefreshFeedback;
class TkavoSetting;

// The settings, favorites and version dialogs, and what follows them: a dialog edits a copy of the
// settings, the copy is committed in one call, and what changed takes effect in the window's parts.
class SettingsFlow : public QObject
{
    Q_OBJECT

public:
    // window: the dialogs' parent; its font is the settings' font for the whole window.
    SettingsFlow(QWidget& window, TkavoSetting& setting, TkavoCommon& common, TkavoNet& net, TkavoNotifyMgr& notifyMgr,
                 ChannelViews& views, ChannelActions& channelActions, RefreshFeedback& refreshFeedback,
                 TkavoFind& findDialog, QObject* parent = nullptr);

    // Loads the settings file again; the retrieval module's records follow. cancelled: the edited
    // copy of a dialog that was cancelled, whose removed YPs start again without channels.
    void ReloadSettings(const TkavoSetting* cancelled = nullptr);
    // Saves settings edited in a dialog and loads them back. A save that fails says why and keeps
    // the edits in memory (false then).
    bool CommitSettings(const TkavoSetting& edited);
    // The settings dialog; on OK the window takes the new settings on as the dialog changed them.
    void ShowConfigDialog();
    // The favorites dialog; on OK the channels on air are matched again and both views refilled.
    void ShowFavoriteDialog();
    void ShowVersionDialog();

    // The process and thread priorities of the settings.
    void ApplyPriorities();
    // The settings' font for the window and the find dialog; none set leaves them as they are.
    void ApplyAllFont();

private:
    // After the settings dialog's OK: what changed against before takes effect.
    void applySettings(const TkavoSetting& before, bool columnsChanged, bool lookChanged);

    QWidget& m_window;
    TkavoSetting& m_setting;
    TkavoCommon& m_common;
    TkavoNet& m_net;
    TkavoNotifyMgr& m_notifyMgr;
    ChannelViews& m_views;
    ChannelActions& m_channelActions;
    RefreshFeedback& m_refreshFeedback;
    TkavoFind& m_findDialog;
    bool m_configDialogOpen = false;
    bool m_favoriteDialogOpen = false;
};

} // namespace kavo
