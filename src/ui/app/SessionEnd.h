#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

class QSocketNotifier;

namespace kavo {

// Ends the program as its close box does when it is told to go from outside: SIGTERM and SIGINT,
// and the end of the desktop session (the session manager's request to save, and the application
// quitting). The window's close then writes its options and waits for a refresh and the exit
// script as on any close. One instance at a time; it puts the signals' previous handling back when
// it goes.
class SessionEnd : public QObject
{
    Q_OBJECT

public:
    explicit SessionEnd(QWidget& window, QObject* parent = nullptr);
    ~SessionEnd() override;
    SessionEnd(const SessionEnd&) = delete;
    SessionEnd& operator=(const SessionEnd&) = delete;

    // Closes the window once; later requests find it closing or closed and do nothing.
    void End();

private:
    void signalArrived();

    QPointer<QWidget> m_window;
    QSocketNotifier* m_notifier = nullptr;
    bool m_ended = false;
};

} // namespace kavo
