#pragma once

#include "app/Program.h"
#include "support/NotifyTestSupport.h"
#include "ui/lists/ChannelViews.h"
#include "ui/window/ActionTable.h"
#include "ui/window/RefreshCycle.h"

#include <QStringList>

#include <memory>

namespace kavo::test {

// The program over the current program folder as kavo runs it, with its sounds, speech and tray
// replaced by recorders.
class TestProgram
{
public:
    std::unique_ptr<Program> P;
    QStringList TrayMessages; // "kind:text" of every tray balloon

    TestProgram() = default;
    TestProgram(const TestProgram&) = delete;
    TestProgram& operator=(const TestProgram&) = delete;
    ~TestProgram() { Free(); }

    // starter: null to start programs for real. The browser is made ahead only when a test asks.
    void Create(ProcessStarter* starter = nullptr, bool trayAvailable = true, bool preloadBrowser = false)
    {
        ProgramServices services;
        services.Starter = starter;
        services.PreloadBrowser = preloadBrowser;
        services.Sound = [] { return std::unique_ptr<WavePlayer>(); };
        services.Notify = [this, trayAvailable] {
            NotifyPlatform platform;
            platform.BalloonPlayer = std::make_unique<RecordingWavePlayer>(std::make_shared<QStringList>());
            platform.WorkerPlayer = std::make_unique<RecordingFilePlayer>(std::make_shared<RecordingFilePlayer::Log>());
            platform.CreateSpeech = [] { return std::unique_ptr<SpeechEngine>(); };
            platform.TrayAvailable = [trayAvailable] { return trayAvailable; };
            platform.ShowTrayMessage = [this](const QString&, const QString& text, int kind, int) {
                TrayMessages.append(QStringLiteral("%1:").arg(kind) + text);
            };
            return platform;
        };
        P = std::make_unique<Program>(std::move(services));
    }

    TkavoMain& Main() const { return P->Window(); }
    RefreshCycle& Refreshes() const { return P->Cycle(); }
    QAction* Action(const char* name) const { return P->Window().Actions().Find(QLatin1String(name)); }
    ChannelListView* ListViewNow() const { return P->Window().Views().ListViewNow(); }
    ChannelListView* ListViewLog() const { return P->Window().Views().ListViewLog(); }

    // Before whatever the program uses goes (the test's server, folder and clock).
    void Free() { P.reset(); }
};

} // namespace kavo::test
