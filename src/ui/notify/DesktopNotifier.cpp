#include "ui/notify/DesktopNotifier.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QVariantMap>

namespace kavo {

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");

QDBusMessage Call(const QString& method)
{
    return QDBusMessage::createMethodCall(Service, Path, Service, method);
}

} // namespace

bool DesktopNotifier::TrayUsesNotifications()
{
    // Without a session bus to find, connecting would try to start one.
    const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (address.isEmpty() && (runtime.isEmpty() || !QFileInfo::exists(QString::fromLocal8Bit(runtime + "/bus"))))
        return false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    if (!bus.interface()->isServiceRegistered(watcher) || !bus.interface()->isServiceRegistered(Service))
        return false;
    QDBusInterface host(watcher, QStringLiteral("/StatusNotifierWatcher"), watcher, bus);
    return host.property("IsStatusNotifierHostRegistered").toBool();
}

DesktopNotifier::DesktopNotifier(QObject* parent) : QObject(parent)
{
    QDBusConnection::sessionBus().connect(Service, Path, Service, QStringLiteral("ActionInvoked"), this,
                                          SLOT(actionInvoked(uint, QString)));
}

void DesktopNotifier::Show(const QString& title, const QString& text, int kind, int msecs)
{
    static const char* const icons[] = {"", "dialog-error", "dialog-information", "dialog-warning"};
    QVariantMap hints;
    // Urgency: low without an icon, normal otherwise, as the tray's own balloons.
    hints.insert(QStringLiteral("urgency"), kind >= 1 && kind <= 3 ? 1 : 0);
    QDBusMessage message = Call(QStringLiteral("Notify"));
    message << QCoreApplication::applicationName() << m_id
            << QString::fromLatin1(kind >= 0 && kind <= 3 ? icons[kind] : "") << title << text
            << QStringList{QStringLiteral("default"), QString()} << hints << msecs;
    m_pending = true;
    m_closeWhenShown = false;
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        const QDBusPendingReply<uint> reply = *call;
        m_pending = false;
        if (reply.isError())
            return;
        m_id = reply.value();
        if (m_closeWhenShown)
            Close();
    });
}

void DesktopNotifier::Close()
{
    if (m_pending) {
        m_closeWhenShown = true;
        return;
    }
    if (m_id == 0)
        return;
    QDBusMessage message = Call(QStringLiteral("CloseNotification"));
    message << m_id;
    QDBusConnection::sessionBus().asyncCall(message);
    m_id = 0;
}

void DesktopNotifier::actionInvoked(uint id, const QString&)
{
    if (id != 0 && id == m_id && Clicked)
        Clicked();
}

} // namespace kavo
