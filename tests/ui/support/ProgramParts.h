#pragma once

#include "common/ukavoCommon.h"
#include "net/ukavoNet.h"
#include "settings/IniFile.h"
#include "settings/TkavoSetting.h"
#include "support/NotifyTestSupport.h"
#include "ui/window/ukavoMain.h"

#include <QCoreApplication>
#include <QStringList>

#include <functional>
#include <memory>

namespace kavo::test {

// The program's parts over the current program folder, made as main() makes them and freed in
// reverse, with sounds, speech and the tray replaced by recorders.
class ProgramParts
{
public:
    TkavoSetting Setting;
    std::unique_ptr<TkavoCommon> Common;
    std::unique_ptr<TkavoNotifyMgr> NotifyMgr;
    std::unique_ptr<TkavoNet> Net;
    std::unique_ptr<TkavoMain> Main;
    QStringList TrayMessages; // "kind:text" of every tray balloon

    ProgramParts() = default;
    ProgramParts(const ProgramParts&) = delete;
    ProgramParts& operator=(const ProgramParts&) = delete;
    ~ProgramParts() { Free(); }

    void Create(MainServices services = {}, bool trayAvailable = true)
    {
        NotifyPlatform platform;
        platform.BalloonPlayer = std::make_unique<RecordingWavePlayer>(std::make_shared<QStringList>());
        platform.WorkerPlayer = std::make_unique<RecordingFilePlayer>(std::make_shared<RecordingFilePlayer::Log>());
        platform.CreateSpeech = [] { return std::unique_ptr<SpeechEngine>(); };
        platform.TrayAvailable = [trayAvailable] { return trayAvailable; };
        platform.ShowTrayMessage = [this](const QString&, const QString& text, int kind, int) {
            TrayMessages.append(QStringLiteral("%1:").arg(kind) + text);
        };
        Common = std::make_unique<TkavoCommon>(Setting, CommonPaths::Current(), nullptr);
        NotifyMgr = std::make_unique<TkavoNotifyMgr>(Setting, *Common, std::move(platform));
        Net = std::make_unique<TkavoNet>(
            [](std::function<void()> job) { QMetaObject::invokeMethod(qApp, std::move(job), Qt::QueuedConnection); },
            Setting);
        Main = std::make_unique<TkavoMain>(Setting, *Common, *NotifyMgr, *Net, services);
    }

    // The start-up step on the settings file of the program folder.
    void InitialSetup() { Main->InitialSetup(IniFile::Read(TkavoSetting::SettingsFileName())); }

    // Before whatever the parts use goes (the test's server, folder and clock).
    void Free()
    {
        Main.reset();
        Net.reset();
        NotifyMgr.reset();
        Common.reset();
    }
};

} // namespace kavo::test
