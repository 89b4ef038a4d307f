#pragma once

#include "core/TkavoChItem.h"
#include "core/TkavoYpItem.h"
#include "net/HttpClient.h"
#include "net/RetrievalCycle.h"
#include "net/RetrievalRecord.h"
#include "platform/ThreadRules.h"
#include "settings/TkavoSetting.h"

#include <unordered_set>

#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kavo {

class IniFile;
class PcrawLibrary;
class VisitedUrls;
class YpScriptRunner;

// The HTTP settings as the retrieval reads them: a time-out that is no positive integer counts as
// 60 seconds, and a proxy is "host:port" found by the expression "([^:]+):([0-9]+)".
HttpOptions HttpOptionsFromSettings(const TkavoSetting::URLOptions& url);

// The retrieval module. One refresh downloads every enabled YP of the settings on a worker thread,
// one after the other, and then, on the main thread, merges the YPs' lists into ChList and
// ChListLog.
//
// The module keeps its own record of every configured YP (YpRecord), identified by its Url: the
// channels, the log and the marks that retrieval keeps from one refresh to the next. The settings
// object holds only what the user configured.
//
// Threads: everything here is called on the main thread, the thread that made the module. A
// refresh takes what its worker reads (the YP entries, the favorites, the URL and Notify options)
// when it starts, and the records with it; the main thread may then replace the settings at any
// time, and gets the records back with the finish step (merge, OnCycleError, OnSuccess,
// OnComplate), which arrives through the dispatcher. OnError and OnRecord are raised on the worker.
// While a refresh runs, the handlers must not be replaced. Debug and sanitizer builds check these
// rules and abort when one is broken.
class TkavoNet
{
public:
    using Dispatcher = std::function<void(std::function<void()>)>;
    using EventHandler = std::function<void(TkavoNet& sender)>;
    using TkavoOnError = std::function<void(TkavoNet& sender, const std::string& error)>;
    using RecordHandler = std::function<void(RetrievalRecord& record)>;
    using ProgressHandler = std::function<void(TkavoNet& sender, int current, int total, const std::string& title)>;
    // What the last finished refresh did.
    using CycleReport = RetrievalCycle::Report;

    // The next refresh was asked for by the user: no throttle.
    bool Manual = false;
    // Retrieval scripts may run; the main thread may switch it while a refresh runs.
    std::atomic<bool> CanDMS{true};

    TkavoOnError OnError; // one YP failed; the worker thread
    // Raised with OnError, with the YP's title (its Url without one); the worker thread.
    std::function<void(TkavoNet& sender, const std::string& error, const std::string& ypName)> OnYpError;
    EventHandler OnSuccess; // the combined lists are filled; the main thread
    EventHandler OnComplate;
    // A failure ended the refresh before every YP was done; the main thread, right before
    // OnSuccess. The GUI shows the message in a message box.
    TkavoOnError OnCycleError;
    // What the refresh did YP by YP, for a record of refreshes: raised on the worker once the last
    // YP is done (also when the refresh ended early), before the finish step. The channel lists it
    // points to may be read during the call only; the handler may take the index texts. An
    // exception it throws is dropped.
    RecordHandler OnRecord;
    // Raised on the worker as each YP's fetch starts, within that YP's error handling: whatever it
    // throws fails this YP with its text and the refresh goes on, as any failure inside one YP does.
    std::function<void(const TkavoYpItem& yp)> OnFetchYp;
    // An enabled YP's turn begins: its place among the refresh's enabled YPs (from 1), their number
    // and its title (CP932; its Url when it has none). The main thread, through the dispatcher, so
    // it may arrive after the worker has gone on; always before the finish step.
    ProgressHandler OnProgress;

    // The settings must outlive the module. Loads the PCRaw library.
    TkavoNet(Dispatcher dispatcher, const TkavoSetting& setting);
    // Waits for a running refresh's worker; its finish step is then dropped. Closes the PCRaw
    // channels still open.
    ~TkavoNet();
    // Ends a running refresh's work as the destructor does (its finish step is then dropped, and
    // Running is false) and starts no other.
    void Stop();
    TkavoNet(const TkavoNet&) = delete;
    TkavoNet& operator=(const TkavoNet&) = delete;

    // Combined channels on air and ended channels of the last refresh, in YP order. Any time: the
    // worker never touches them.
    const TkavoChList& ChList() const
    {
        KAVO_ON_MAIN_THREAD(m_mainThread);
        return m_chList;
    }
    const TkavoChList& ChListLog() const
    {
        KAVO_ON_MAIN_THREAD(m_mainThread);
        return m_chListLog;
    }
    const CycleReport& LastCycle() const
    {
        KAVO_ON_MAIN_THREAD(m_mainThread);
        return m_report;
    }
    // From StartRetrieval until the finish step has run (or Stop).
    bool Running() const
    {
        KAVO_ON_MAIN_THREAD(m_mainThread);
        return m_running;
    }

    // The module's records of the configured YPs, in configuration order, as the last refresh (or
    // the last reload) left them. Not while a refresh runs, which holds them.
    const TypedList<YpRecord>& Yps() const;
    // The record of the YP with this Url; nullptr when it has none. Not while a refresh runs.
    const YpRecord* Yp(const std::string& url) const;

    // Once at start, after the settings are loaded; the settings file as read then ([PCRAW]). Not
    // while a refresh runs.
    void Prepare(const IniFile& settingsFile);
    // The settings were loaded again or replaced. A YP still configured keeps its channels, its
    // update time and its PCRaw channel; its log, its previous list and its counters start again.
    // A YP no longer configured goes, and its PCRaw channel is closed. While a refresh runs, the
    // refresh goes on with what it took at its start, and the records follow the settings when it
    // finishes (a YP removed in the meantime starts again without channels even when it is back).
    // The YPs of removed were taken out of the settings and put back (a dialog's edit that was
    // cancelled): they start again without channels as well.
    void SettingsReloaded(const std::vector<std::string>& removed = {});
    // The settings were edited in a dialog and committed: a YP whose Url is still configured keeps
    // its record whole (channels, log, previous list, counters); a new or changed Url starts fresh
    // and a YP no longer configured goes. While a refresh runs, its finish step does it.
    void SettingsEdited();
    // The favorites of the settings were edited: the channels on air take their favorite marks
    // again (the ended ones keep theirs). While a refresh runs, whose lists were matched with the
    // favorites of its start, its finish step does it, and this returns false.
    bool RematchFavorites();
    // Starts a refresh and returns at once; does nothing while one runs, or after Stop.
    void StartRetrieval();
    // The version the PCRaw library reports, when one is loaded.
    std::optional<std::string> PcrawVersion() const;
    // Empties the log of ended channels of every YP and ChListLog; the log starts again from
    // nothing. While a refresh runs, whose worker writes the logs, its finish step does it before
    // the lists are merged.
    void ClearLog();
    // A new script engine for the retrieval scripts; false while a refresh runs.
    bool RecreateScriptEngine();
    // The store that marks channels whose contact page was opened (ColorFont/Visit); not owned, and
    // read from the worker. Without one no channel is marked visited. Not while a refresh runs,
    // which may be reading the one it took.
    void SetVisitedUrls(VisitedUrls* store);

    // The marks the user's actions put on the channels of ChList and ChListLog. They belong to
    // those lists only: the next finish step replaces the lists, and with them the marks, by what
    // the retrieval learned. Accepted while a refresh runs, as its worker never touches these
    // lists. A channel of another list is left alone (false).
    //
    // The local server was asked to relay the channel (played, or bumped): LocalStatus "CONNECT"
    // and the Relaying state.
    bool MarkRelaying(const TkavoChItem& channel);
    // The local server was told to stop the channel: no local status, no state.
    bool MarkStopped(const TkavoChItem& channel);
    // Find marks: found[i] for rows[i], for the rows that are channels of ChList or ChListLog.
    void SetFindMarks(const std::vector<const TkavoChItem*>& rows, const std::vector<bool>& found);

private:
    // A new refresh with the records and what the worker reads of the settings.
    std::unique_ptr<RetrievalCycle> begin();
    void finish();
    // Waits for the worker and takes the refresh back from it.
    std::unique_ptr<RetrievalCycle> takeCycle();
    // The records follow the configured YPs (see SettingsReloaded), keeping their state; every
    // refresh does this when it starts. reload: the settings were loaded again, so the kept records
    // start their logs and counters again.
    void followSettings(bool reload);
    void rematchFavorites();
    // The record of a channel of ChList or ChListLog, to write; nullptr for another list's.
    TkavoChItem* ownChannel(const TkavoChItem& channel);
    void closePcrawChannel(YpRecord& yp);
    void closePcrawChannels();

    OwnerThread m_mainThread;
    Dispatcher m_dispatcher;
    const TkavoSetting& m_setting;
    // Null while a refresh runs: the refresh holds it.
    std::unique_ptr<RetrievalCycle::State> m_state;
    // Reloads that arrived while a refresh ran, applied by its finish step: whether one did, and
    // the Urls that were no longer configured after one of them.
    bool m_reloadPending = false;
    bool m_editPending = false;
    bool m_clearLogPending = false;
    bool m_rematchPending = false; // asked for while a refresh ran
    std::unordered_set<std::string> m_droppedUrls;
    std::vector<std::string> m_cycleUrls; // of the records the running refresh works on
    TkavoChList m_chList;
    TkavoChList m_chListLog;
    bool m_firstCycleDone = false;
    int m_createTimer = 1000; // ms of pause after opening a PCRaw channel

    std::unique_ptr<PcrawLibrary> m_pcraw;
    VisitedUrls* m_visited = nullptr;
    // The engine `DMS` with the scripts' stream buffers.
    std::unique_ptr<YpScriptRunner> m_scripts;

    CycleReport m_report;
    bool m_running = false;
    std::thread m_worker;
    // The running refresh, handed back by its worker when it is done.
    std::future<std::unique_ptr<RetrievalCycle>> m_finished;
    std::shared_ptr<RetrievalCycle::StopSignal> m_stop = std::make_shared<RetrievalCycle::StopSignal>();
    // Lets a finish step that arrives after destruction see that the module is gone.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace kavo
