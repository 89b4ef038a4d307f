#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

namespace kavo {

class Launcher;
class EventScripts;
class TkavoCommon;
class TkavoMain;
class TkavoNotifyMgr;
class TkavoSetting;

// What closing the window sets off, and never refuses: the window hides, the notifications stop,
// the window's options are written, the refresh under way and a PeerCast being ended are waited
// for, and the exit script runs. TimerFinish ends the program 10 s after the close began, whatever
// still runs then.
class ShutdownSequence : public QObject
{
    Q_OBJECT

public:
    // scripts gives the start-up and exit scripts' engine; launcher the program's launcher when one
    // was made, else null. Everything must outlive the sequence.
    ShutdownSequence(const TkavoSetting& setting, TkavoCommon& common, TkavoNotifyMgr& notifyMgr, TkavoMain& window,
                     std::function<EventScripts&()> scripts, std::function<Launcher*()> launcher,
                     QObject* parent = nullptr);

    QTimer TimerFinish;

    // Runs when the window is first closed.
    void CloseQuery();

signals:
    // The close query has run; the program may end.
    void ClosedDown();

private:
    // Keeps the events flowing, the worker's completion among them, while running() holds.
    static void waitWhile(const std::function<bool()>& running);

    const TkavoSetting& m_setting;
    TkavoCommon& m_common;
    TkavoNotifyMgr& m_notifyMgr;
    TkavoMain& m_window;
    std::function<EventScripts&()> m_scripts;
    std::function<Launcher*()> m_launcher;
};

} // namespace kavo
