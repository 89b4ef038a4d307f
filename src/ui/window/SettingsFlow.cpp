#include "ui/window/SettingsFlow.h"

#include "ui/Cp932Text.h"

#include "net/ukavoNet.h"
#include "settings/TkavoSetting.h"
#include "ui/dialogs/ukavoConfig.h"
#include "ui/dialogs/ukavoFavorite.h"
#include "ui/dialogs/ukavoVersion.h"
#include "ui/window/SettingsHolder.h"

#include <QMessageBox>
#include <QWidget>

#include <optional>
#include <string>

namespace kavo {

SettingsFlow::SettingsFlow(QWidget& window, SettingsHolder& settings, TkavoCommon& common, TkavoNet& net,
                           QObject* parent)
    : QObject(parent), m_window(window), m_settings(settings), m_common(common), m_net(net)
{}

bool SettingsFlow::CommitSettings(const TkavoSetting& edited)
{
    const std::optional<std::string> error = m_settings.Commit(edited);
    if (error)
        QMessageBox::critical(&m_window, m_window.windowTitle(), FromCp932(*error));
    return !error;
}

void SettingsFlow::ShowConfigDialog()
{
    if (m_configDialogOpen)
        return;
    m_configDialogOpen = true;
    // The dialog edits a copy of the settings the program runs on; Cancel leaves everything as it was.
    TkavoSetting edited = m_settings.Current();
    TkavoConfig dialog(edited, m_common, &m_window);
    dialog.SetTrayAvailable(!TrayAvailable || TrayAvailable());
    const bool ok = dialog.exec() == QDialog::Accepted;
    m_configDialogOpen = false;
    if (ok)
        CommitSettings(edited);
}

void SettingsFlow::ShowFavoriteDialog()
{
    if (m_favoriteDialogOpen || m_configDialogOpen)
        return;
    m_favoriteDialogOpen = true;
    TkavoSetting edited = m_settings.Current();
    bool ok = false;
    {
        TkavoFavorite dialog(edited.Favorites, m_common, m_net.ChList(), m_window.font(), &m_window);
        ok = dialog.exec() == QDialog::Accepted;
    }
    m_favoriteDialogOpen = false;
    if (ok)
        CommitSettings(edited);
}

void SettingsFlow::ShowVersionDialog()
{
    TkavoVersion dialog(m_window.font(), &m_window);
    dialog.SetApplicationTitle(FromCp932(m_settings.Current().Etc.ApplicationTitle));
    std::optional<QString> pcraw;
    if (const auto version = m_net.PcrawVersion())
        pcraw = QString::fromStdString(*version);
    dialog.SetPcrawVersion(pcraw);
    dialog.exec();
}

} // namespace kavo
