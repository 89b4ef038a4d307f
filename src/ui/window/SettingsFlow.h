#pragma once

#include <QObject>

#include <functional>

class QWidget;

namespace kavo {

class SettingsHolder;
class TkavoCommon;
class TkavoNet;
class TkavoSetting;

// The settings, favorites and version dialogs. A dialog edits a copy of the settings and the holder
// commits it; what follows the commit is the parts' business.
class SettingsFlow : public QObject
{
    Q_OBJECT

public:
    // window: the dialogs' parent, whose font they take.
    SettingsFlow(QWidget& window, SettingsHolder& settings, TkavoCommon& common, TkavoNet& net,
                 QObject* parent = nullptr);

    // Commits the edited settings; a save that fails says why and keeps the edits in memory
    // (false then).
    bool CommitSettings(const TkavoSetting& edited);
    // The settings dialog; OK commits what it edited.
    void ShowConfigDialog();
    // The favorites dialog; OK commits the edited favorites.
    void ShowFavoriteDialog();
    void ShowVersionDialog();

    // Does the desktop show a tray? The settings dialog disables the tray's options without one.
    std::function<bool()> TrayAvailable;

private:
    QWidget& m_window;
    SettingsHolder& m_settings;
    TkavoCommon& m_common;
    TkavoNet& m_net;
    bool m_configDialogOpen = false;
    bool m_favoriteDialogOpen = false;
};

} // namespace kavo
