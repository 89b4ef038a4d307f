#pragma once

#include <QObject>
#include <QString>

#include <functional>

namespace kavo {

// The desktop's notification service (org.freedesktop.Notifications on the session bus), for
// tray icons that the desktop shows through its StatusNotifier host: Qt shows their balloons as
// desktop notifications that it cannot take back, so the manager sends them itself and closes the
// one on screen through its id.
class DesktopNotifier : public QObject
{
    Q_OBJECT

public:
    // True when Qt's tray icon goes through a StatusNotifier host and a notification service runs.
    static bool TrayUsesNotifications();

    explicit DesktopNotifier(QObject* parent = nullptr);

    // Replaces the notification on screen, if any. kind as in TkavoNotifyItem.
    void Show(const QString& title, const QString& text, int kind, int msecs);
    // Closes the notification on screen; one whose id is still on its way is closed when it comes.
    void Close();

    // A click on the shown notification.
    std::function<void()> Clicked;

private slots:
    void actionInvoked(uint id, const QString& action);

private:
    uint m_id = 0;
    bool m_pending = false;
    bool m_closeWhenShown = false;
};

} // namespace kavo
