#include "ui/notify/TrayPresence.h"

#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusServiceWatcher>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSystemTrayIcon>

namespace kavo {

namespace {

const QString Watcher = QStringLiteral("org.kde.StatusNotifierWatcher");

} // namespace

QDBusConnection DesktopSessionBus()
{
    const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (address.isEmpty() && (runtime.isEmpty() || !QFileInfo::exists(QString::fromLocal8Bit(runtime + "/bus"))))
        return QDBusConnection(QStringLiteral("kavo-no-session-bus"));
    return QDBusConnection::sessionBus();
}

TrayPresence::TrayPresence(const QDBusConnection& bus, QObject* parent) : QObject(parent), m_bus(bus)
{
    if (!m_bus.isConnected())
        return;
    m_watcher = new QDBusServiceWatcher(Watcher, m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this, &TrayPresence::Changed);
}

bool TrayPresence::Available() const
{
    return StatusNotifierHost(m_bus) || QtTray();
}

bool TrayPresence::StatusNotifierHost(const QDBusConnection& bus)
{
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(Watcher))
        return false;
    QDBusInterface watcher(Watcher, QStringLiteral("/StatusNotifierWatcher"), Watcher, bus);
    return watcher.property("IsStatusNotifierHostRegistered").toBool();
}

bool TrayPresence::QtTray()
{
    // Qt's answer on a platform without any tray (offscreen, a bare Wayland compositor) is no.
    return QSystemTrayIcon::isSystemTrayAvailable();
}

} // namespace kavo
