#pragma once

#include <QDBusConnection>
#include <QObject>

class QDBusServiceWatcher;

namespace kavo {

// The session bus when there is one to find; else a connection that is not connected, since
// asking Qt for a missing session bus would try to start one.
QDBusConnection DesktopSessionBus();

// Whether the desktop shows tray icons: a StatusNotifier host behind a watcher on the session bus
// (KDE, and GNOME with its extension), or an X11 system tray. Without either a window hidden into
// the tray could not be brought back.
class TrayPresence : public QObject
{
    Q_OBJECT

public:
    explicit TrayPresence(const QDBusConnection& bus = DesktopSessionBus(), QObject* parent = nullptr);

    bool Available() const;
    // A StatusNotifier watcher runs on the bus and a host has registered with it.
    static bool StatusNotifierHost(const QDBusConnection& bus);
    // The X11 tray, or whatever else Qt's own tray icon finds.
    static bool QtTray();

signals:
    // The watcher came or went: Available may say otherwise now.
    void Changed();

private:
    QDBusConnection m_bus;
    QDBusServiceWatcher* m_watcher = nullptr;
};

} // namespace kavo
