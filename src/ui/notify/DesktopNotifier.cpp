#include "ui/notify/DesktopNotifier.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QStringList>
#include <QVariantMap>

namespace kavo {

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
// Ids of notifications the desktop may still list, for their actions.
constexpr int KeptIds = 64;

QDBusMessage Call(const QString& method)
{
    return QDBusMessage::createMethodCall(Service, Path, Service, method);
}

} // namespace

QString DesktopEntryName()
{
    const QString name = QGuiApplication::desktopFileName();
    return name.isEmpty() ? QStringLiteral("kavo") : name;
}

DesktopNotifier::DesktopNotifier(const QDBusConnection& bus, QObject* parent) : QObject(parent), m_bus(bus)
{
    m_bus.connect(Service, Path, Service, QStringLiteral("ActionInvoked"), this, SLOT(actionInvoked(uint, QString)));
    m_bus.connect(Service, Path, Service, QStringLiteral("NotificationClosed"), this,
                  SLOT(notificationClosed(uint, uint)));
}

bool DesktopNotifier::Available() const
{
    if (!m_bus.isConnected() || !m_bus.interface())
        return false;
    QDBusConnectionInterface* bus = m_bus.interface();
    if (bus->isServiceRegistered(Service))
        return true;
    // Notification services are mostly started by the bus on their first call.
    const QDBusReply<QStringList> activatable = m_bus.call(
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                       QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListActivatableNames")));
    return activatable.isValid() && activatable.value().contains(Service);
}

int DesktopNotifier::Show(const QString& title, const QString& text, int kind, int msecs, bool channelActions)
{
    QStringList actions{QStringLiteral("default"), QString::fromUtf8("開く")};
    if (channelActions)
        actions << QString::fromLatin1(PlayAction) << QString::fromUtf8("再生") << QString::fromLatin1(IgnoreAction)
                << QString::fromUtf8("無視");
    QVariantMap hints;
    // An error asks for attention as the desktop's own errors do; the rest are ordinary news.
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(kind == 1 ? 2 : 1));
    hints.insert(QStringLiteral("desktop-entry"), DesktopEntryName());
    static const char* const kindIcons[] = {"", "dialog-error", "dialog-information", "dialog-warning"};
    if (kind >= 1 && kind <= 3)
        hints.insert(QStringLiteral("image-path"), QString::fromLatin1(kindIcons[kind]));
    QDBusMessage message = Call(QStringLiteral("Notify"));
    message << QStringLiteral("kavo") << m_id << DesktopEntryName() << title << text << actions << hints << msecs;
    const int serial = ++m_serial;
    m_pending = true;
    m_closeWhenShown = false;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, serial](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        const QDBusPendingReply<uint> reply = *call;
        if (serial != m_serial)
            return; // a later one is on its way
        m_pending = false;
        if (reply.isError()) {
            m_id = 0;
            return;
        }
        m_id = reply.value();
        if (m_serials.size() >= KeptIds)
            m_serials.clear();
        m_serials.insert(m_id, serial);
        if (m_closeWhenShown)
            Close();
    });
    return serial;
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
    m_bus.asyncCall(message);
    m_id = 0;
}

void DesktopNotifier::actionInvoked(uint id, const QString& action)
{
    const auto serial = m_serials.constFind(id);
    if (serial != m_serials.constEnd() && ActionInvoked)
        ActionInvoked(*serial, action);
}

void DesktopNotifier::notificationClosed(uint id, uint)
{
    // The next one is a new notification: an id the service has let go may not be replaced.
    if (id == m_id && !m_pending)
        m_id = 0;
}

} // namespace kavo
