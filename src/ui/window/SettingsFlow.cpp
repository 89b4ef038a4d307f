#include "ui/window/SettingsFlow.h"

#include "ui/Cp932Text.h"

#include "common/ukavoCommon.h"
#include "net/ukavoNet.h"
#include "platform/Process.h"
#include "settings/IniFile.h"
#include "settings/TkavoSetting.h"
#include "ui/dialogs/ukavoConfig.h"
#include "ui/dialogs/ukavoFavorite.h"
#include "ui/dialogs/ukavoFind.h"
#include "ui/dialogs/ukavoVersion.h"
#include "ui/lists/ChannelActions.h"
#include "ui/lists/ChannelViews.h"
#include "ui/notify/ukavoNotifyMgr.h"
#include "ui/window/ApplicationTitle.h"
#include "ui/window/RefreshFeedback.h"

#include <QMessageBox>
#include <QWidget>

#include <array>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace kavo {

SettingsFlow::SettingsFlow(QWidget& window, TkavoSetting& setting, TkavoCommon& common, TkavoNet& net,
                           TkavoNotifyMgr& notifyMgr, ChannelViews& views, ChannelActions& channelActions,
                           RefreshFeedback& refreshFeedback, TkavoFind& findDialog, QObject* parent)
    : QObject(parent), m_window(window), m_setting(setting), m_common(common), m_net(net), m_notifyMgr(notifyMgr),
      m_views(views), m_channelActions(channelActions), m_refreshFeedback(refreshFeedback), m_findDialog(findDialog)
{}

void SettingsFlow::ReloadSettings(const TkavoSetting* cancelled)
{
    m_setting.Load();
    // A YP the cancelled edit had removed lost its channels with it, as the entry it comes back as
    // is a new one.
    std::vector<std::string> removed;
    if (cancelled)
        for (const TkavoYpItem& yp : m_setting.YpList)
            if (!cancelled->YpList.HasUrl(yp.Url))
                removed.push_back(yp.Url);
    m_net.SettingsReloaded(removed);
    m_refreshFeedback.SettingsChanged();
}

bool SettingsFlow::CommitSettings(const TkavoSetting& edited)
{
    try {
        edited.Save();
    } catch (const IniWriteError& error) {
        // The edits stay in memory; the file is as it was.
        QMessageBox::critical(&m_window, m_window.windowTitle(), FromCp932(error.what()));
        m_setting = edited;
        m_net.SettingsReloaded();
        m_refreshFeedback.SettingsChanged();
        return false;
    }
    ReloadSettings();
    return true;
}

void SettingsFlow::ShowConfigDialog()
{
    if (m_configDialogOpen)
        return;
    m_configDialogOpen = true;
    ReloadSettings();
    const TkavoSetting before = m_setting;
    TkavoSetting edited = m_setting;
    TkavoConfig dialog(edited, m_common, &m_window);
    const bool ok = dialog.exec() == QDialog::Accepted;
    m_configDialogOpen = false;
    if (!ok) {
        ReloadSettings(&edited);
        return;
    }
    CommitSettings(edited);
    applySettings(before, dialog.ColumnsChanged(), dialog.LookChanged());
}

void SettingsFlow::applySettings(const TkavoSetting& before, bool columnsChanged, bool lookChanged)
{
    const std::array<std::string, 2> sortedCaptions = m_views.SortedCaptions();
    ApplyPriorities();
    if (columnsChanged)
        m_views.RebuildColumns();
    if (lookChanged) {
        m_views.ApplyListLook();
        ApplyAllFont();
    }
    if (columnsChanged || lookChanged)
        m_views.Refill(sortedCaptions);
    m_notifyMgr.ApplyTimers();
    m_channelActions.BuildToolMenus();
    const auto trayOptions = [](const TkavoSetting& s) {
        return std::tuple(s.Etc.Minimized, s.Etc.ApplicationTitle, s.Etc.AutoDownLoad, s.Etc.TaskTray,
                          s.Notify.Position);
    };
    if (trayOptions(before) != trayOptions(m_setting))
        m_notifyMgr.ApplyTray();
    ApplyApplicationTitle(m_window, m_setting.Etc.ApplicationTitle);
}

void SettingsFlow::ShowFavoriteDialog()
{
    if (m_favoriteDialogOpen || m_configDialogOpen)
        return;
    m_favoriteDialogOpen = true;
    ReloadSettings();
    TkavoSetting edited = m_setting;
    bool ok = false;
    {
        TkavoFavorite dialog(edited.Favorites, m_common, m_net.ChList(), m_window.font(), &m_window);
        ok = dialog.exec() == QDialog::Accepted;
    }
    m_favoriteDialogOpen = false;
    if (!ok) {
        ReloadSettings();
        return;
    }
    CommitSettings(edited);
    // While a cycle runs, its finish step matches its new lists and its list handler refills.
    if (m_net.RematchFavorites())
        m_views.RefillViews();
}

void SettingsFlow::ShowVersionDialog()
{
    TkavoVersion dialog(m_window.font(), &m_window);
    dialog.SetApplicationTitle(FromCp932(m_setting.Etc.ApplicationTitle));
    std::optional<QString> pcraw;
    if (const auto version = m_net.PcrawVersion())
        pcraw = QString::fromStdString(*version);
    dialog.SetPcrawVersion(pcraw);
    dialog.exec();
}

void SettingsFlow::ApplyPriorities()
{
    const auto& priority = m_setting.Priority;
    ApplyProcessPriority(priority.KAVOProcess);
    if (priority.KAVOThread != 0)
        ApplyThreadPriority(priority.KAVOThread);
}

void SettingsFlow::ApplyAllFont()
{
    const FontSetting& allFont = m_setting.AllFont;
    if (allFont.Name.empty())
        return;
    QFont font(FromCp932(allFont.Name));
    if (allFont.Size > 0)
        font.setPointSize(allFont.Size);
    if (font != m_window.font())
        m_window.setFont(font);
    m_findDialog.setFont(font);
}

} // namespace kavo
