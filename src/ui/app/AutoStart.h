#pragma once

#include <QString>

namespace kavo {

// The entry that starts kavo when the user logs in: an XDG autostart file,
// $XDG_CONFIG_HOME/autostart/<desktop file name>.desktop. The file itself is the setting, so
// that switching it off in the desktop's own session settings (Hidden=true) counts as off.
class AutoStart
{
public:
    // The entry's file; the desktop file name is the application's (QGuiApplication), else "kavo".
    static QString EntryPath();
    // Whether the entry exists and the desktop has not switched it off.
    static bool Enabled();
    // Writes the entry that runs program, with --minimized when minimized, or removes it. On
    // failure returns false and says why in error.
    static bool Set(bool enabled, const QString& program, bool minimized, QString& error);
};

} // namespace kavo
