#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QString>

#include <functional>

namespace kavo {

// The desktop's notification service (org.freedesktop.Notifications on the session bus). Unlike
// the tray's own balloons, its notifications carry actions and can be replaced and taken back.
// A notifier shows one notification at a time: the next one replaces it in place, so that a run of
// balloons leaves one entry in the desktop's list rather than a stack.
class DesktopNotifier : public QObject
{
    Q_OBJECT

public:
    // The actions a channel notification offers, as sent to the service.
    static constexpr const char* PlayAction = "play";
    static constexpr const char* IgnoreAction = "ignore";

    explicit DesktopNotifier(const QDBusConnection& bus, QObject* parent = nullptr);

    // A notification service runs on the bus or the bus can start one.
    bool Available() const;

    // Shows a notification in place of the one on screen, if any; kind as in TkavoNotifyItem.
    // channelActions: it offers 「再生」 and 「無視」. Gives the number that ActionInvoked reports
    // for it.
    int Show(const QString& title, const QString& text, int kind, int msecs, bool channelActions);
    // Takes back the notification on screen; one whose id is still on its way goes when it comes.
    void Close();

    // A click on a notification (its default action), or one of its actions; serial as Show gave it.
    std::function<void(int serial, const QString& action)> ActionInvoked;

private slots:
    void actionInvoked(uint id, const QString& action);
    void notificationClosed(uint id, uint reason);

private:
    QDBusConnection m_bus;
    uint m_id = 0;
    int m_serial = 0;
    bool m_pending = false;
    bool m_closeWhenShown = false;
    // The serials of the ids the service gave, for actions on notifications still in its list.
    QHash<uint, int> m_serials;
};

// The name desktops know the program by: its desktop entry, whose icon they show; "kavo" without one.
QString DesktopEntryName();

} // namespace kavo
