#pragma once

#include "settings/IniFile.h"
#include "settings/TkavoSetting.h"
#include "ui/notify/ukavoNotifyMgr.h"
#include "ui/window/ukavoMain.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kavo {

class BrowserPreload;
class HistoryStore;
class Launcher;
class ProcessStarter;
class RefreshCycle;
class EventScripts;
class RulesFollower;
class SettingsHolder;
class ShutdownSequence;
class TkavoCommon;
class TkavoNet;
class VisitedUrls;
class WavePlayer;

// What the program uses of the desktop, for tests to put in place; what is left empty is the
// desktop's own.
struct ProgramServices
{
    // Starts PeerCast, players, tools and the browser.
    ProcessStarter* Starter = nullptr;
    // The notifications' sounds, speech and tray.
    std::function<NotifyPlatform()> Notify;
    // The common services' sounds.
    std::function<std::unique_ptr<WavePlayer>()> Sound;
    // The browser of the YP-style page is made ahead of its first showing, once the program is idle.
    bool PreloadBrowser = true;
};

// The program: its parts made in their order over the program folder, freed in reverse, and every
// connection between the engine and the window. kavo and the widget tests both run it.
class Program
{
public:
    // Reads the settings file of the program folder, once; nothing is shown yet. startMinimized:
    // the command line asked for it.
    explicit Program(ProgramServices services = {}, bool startMinimized = false);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Takes the settings on and sets the window up, with the history of refreshes and the channel
    // list of the previous run. Throws StartupError when the window cannot show its lists.
    void Start();
    // Shows the window as it was left; the start-up timer then runs the first steps.
    void Show();

    // The settings in memory; tests change them in place, the program only through Settings().
    TkavoSetting& Setting() { return m_setting; }
    SettingsHolder& Settings() const { return *m_settings; }
    HistoryStore& History() const { return *m_history; }
    TkavoCommon& Common() const { return *m_common; }
    TkavoNotifyMgr& NotifyMgr() const { return *m_notifyMgr; }
    TkavoNet& Net() const { return *m_net; }
    TkavoMain& Window() const { return *m_window; }
    RefreshCycle& Cycle() const { return *m_cycle; }
    BrowserPreload& Preload() const { return *m_preload; }
    ShutdownSequence& Shutdown() const { return *m_shutdown; }
    RulesFollower& Rules() const { return *m_rules; }

private:
    void connectEngine();
    void connectSettings();
    void connectActions();
    void startUpSteps();
    void exitPeerCast();
    // Lets the refreshes run once a PeerCast server just started answers at the status address, or
    // when it takes too long.
    void allowRefreshOncePeerCastAnswers();
    // Made on first use: neither is needed to show the window.
    Launcher& launcher();
    EventScripts& scripts();

    ProgramServices m_services;
    TkavoSetting m_setting;
    std::optional<IniFile> m_settingsFile;
    std::string m_settingsProblem;
    std::unique_ptr<ProcessStarter> m_ownStarter;
    // Before the retrieval module, whose last cycle it may still have to write.
    std::unique_ptr<HistoryStore> m_history;
    std::unique_ptr<TkavoCommon> m_common;
    std::unique_ptr<TkavoNotifyMgr> m_notifyMgr;
    std::unique_ptr<TkavoNet> m_net;
    std::unique_ptr<SettingsHolder> m_settings;
    std::unique_ptr<RulesFollower> m_rules;
    std::unique_ptr<TkavoMain> m_window;
    std::unique_ptr<RefreshCycle> m_cycle;
    std::unique_ptr<ShutdownSequence> m_shutdown;
    std::unique_ptr<BrowserPreload> m_preload;
    bool m_firstCycleDone = false;
    std::unique_ptr<VisitedUrls> m_visited;
    std::unique_ptr<Launcher> m_launcher;
    std::unique_ptr<EventScripts> m_scripts;
};

} // namespace kavo
