#include "ui/window/ShutdownSequence.h"

#include "common/Launcher.h"
#include "common/ukavoCommon.h"
#include "platform/ProgramFolder.h"
#include "script/ScriptHost.h"
#include "script/YpScriptRunner.h"
#include "settings/IniFile.h"
#include "settings/TkavoSetting.h"
#include "ui/app/DebugLog.h"
#include "ui/notify/ukavoNotifyMgr.h"
#include "ui/window/ukavoMain.h"

#include <QEventLoop>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace kavo {

ShutdownSequence::ShutdownSequence(const TkavoSetting& setting, TkavoCommon& common, TkavoNotifyMgr& notifyMgr,
                                   TkavoMain& window, std::function<EventScripts&()> scripts,
                                   std::function<Launcher*()> launcher, QObject* parent)
    : QObject(parent), m_setting(setting), m_common(common), m_notifyMgr(notifyMgr), m_window(window),
      m_scripts(std::move(scripts)), m_launcher(std::move(launcher))
{
    TimerFinish.setObjectName(QStringLiteral("TimerFinish"));
    TimerFinish.setSingleShot(true);
    TimerFinish.setInterval(10000);
    // Whatever still runs, the program ends now.
    connect(&TimerFinish, &QTimer::timeout, this, [] { std::_Exit(0); });
    connect(&window, &TkavoMain::CloseRequested, this, [this] {
        DebugLog::Guarded("CloseQuery", [this] { CloseQuery(); });
        emit ClosedDown();
    });
}

void ShutdownSequence::waitWhile(const std::function<bool()>& running)
{
    while (running()) {
        QEventLoop loop;
        QTimer::singleShot(200, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

void ShutdownSequence::CloseQuery()
{
    const auto cutoff = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimerFinish.interval());
    m_window.PrepareClose();
    m_common.Closing = true;
    TimerFinish.start();
    m_window.hide();
    m_notifyMgr.Abort();
    // Written before the waits, so that a shutdown cut off by the finish timer keeps them.
    DebugLog::Guarded("WriteWindowOptions", [this] {
        IniFile::Update(TkavoSetting::SettingsFileName(), [this](IniFile& ini) { m_window.WriteWindowOptions(ini); });
    });
    waitWhile([this] { return m_common.Busy.load(); });
    // A PeerCast ended on the way out may still need its SIGKILL.
    waitWhile([this] {
        const Launcher* launcher = m_launcher();
        return launcher && launcher->PeerCastEnding();
    });
    if (!m_window.Actions()[ActionId::FileCanDMS]->isChecked() || m_setting.Event.OnDestroy.empty())
        return;
    EventScripts& scripts = m_scripts();
    std::atomic<bool> done = false;
    std::thread exitScript([&] {
        try {
            scripts.RunExit(m_setting.Event.OnDestroy, ProgramFolder(), cutoff);
        } catch (...) {
        }
        done = true;
    });
    waitWhile([&] { return !done.load(); });
    exitScript.join();
}

} // namespace kavo
