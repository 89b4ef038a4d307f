#pragma once

#include "core/FavoriteMatcher.h"
#include "core/TkavoChItem.h"
#include "core/TkavoFavoriteItem.h"
#include "core/TkavoYpItem.h"
#include "net/HttpClient.h"
#include "net/RetrievalRecord.h"
#include "platform/RegularExpression.h"
#include "settings/TkavoSetting.h"

#include <unordered_set>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

namespace kavo {

class IniFile;
class PcrawLibrary;
class VisitedUrls;
class YpScriptRunner;

// The HTTP settings as SetupHttp reads them: a time-out that is no positive integer counts as 60
// seconds, and a proxy is "host:port" found by the expression "([^:]+):([0-9]+)".
HttpOptions HttpOptionsFromSettings(const TkavoSetting::URLOptions& url);

// A failure to obtain a YP's index (download, script); the message follows "詳細：" in the YP's
// error text.
class RetrievalFailure : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The retrieval module. One cycle downloads every enabled YP of the settings on a worker thread, one
// after the other, and then, on the main thread, merges the YPs' lists into ChList and ChListLog.
//
// The module keeps its own record of every configured YP (YpRecord), identified by its Url:
// the channels, the log and the marks that retrieval keeps from one cycle to the next. The
// settings object holds only what the user configured.
//
// Threads: construct, Prepare, StartRetrieval, SettingsReloaded and destroy on the main thread; the
// settings object is read there only. When a cycle starts it takes what the worker reads (the YP
// entries, the favorites, the URL and Notify options): the main thread may then replace the
// settings at any time. The dispatcher runs a job on the main thread; the finish step (merge,
// OnCycleError, OnSuccess, OnComplate) arrives through it. OnError is raised on the worker. While a
// cycle runs, the handlers must not be replaced.
class TkavoNet
{
public:
    using Dispatcher = std::function<void(std::function<void()>)>;
    using EventHandler = std::function<void(TkavoNet& sender)>;
    using TkavoOnError = std::function<void(TkavoNet& sender, const std::string& error)>;
    using RecordHandler = std::function<void(RetrievalRecord& record)>;
    using ProgressHandler = std::function<void(TkavoNet& sender, int current, int total, const std::string& title)>;

    // What the last finished cycle did, for result lines and exit statuses.
    struct CycleReport
    {
        int Retrieved = 0; // YPs whose retrieval was attempted
        int Failed = 0;    // of those, the ones that raised OnError
        int Skipped = 0;   // enabled YPs left alone by the 10-minute throttle
        bool EndedEarly = false;
        std::string Error; // why the cycle ended early
    };

    // The next cycle was asked for by the user: no throttle.
    bool Manual = false;
    // Retrieval scripts may run; the main thread may switch it while a cycle runs.
    std::atomic<bool> CanDMS{true};

    TkavoOnError OnError;   // one YP failed; the worker thread
    EventHandler OnSuccess; // the combined lists are filled; the main thread
    EventHandler OnComplate;
    // A failure ended the cycle before every YP was done; the main thread, right before OnSuccess.
    // The GUI shows the message in a message box.
    TkavoOnError OnCycleError;
    // What the cycle did YP by YP, for a record of refreshes: raised on the worker once the last YP
    // is done (also when the cycle ended early), before the finish step. The channel lists it
    // points to may be read during the call only; the handler may take the index texts. An
    // exception it throws is dropped.
    RecordHandler OnRecord;
    // Raised on the worker as each YP's fetch starts, within that YP's error handling: whatever it
    // throws fails this YP with its text and the cycle goes on, as any failure inside one YP does.
    std::function<void(const TkavoYpItem& yp)> OnFetchYp;
    // An enabled YP's turn begins: its place among the cycle's enabled YPs (from 1), their number
    // and its title (CP932; its Url when it has none). The main thread, through the dispatcher, so
    // it may arrive after the worker has gone on; always before the finish step.
    ProgressHandler OnProgress;

    // The settings must outlive the module.
    TkavoNet(Dispatcher dispatcher, const TkavoSetting& setting);
    // Waits for a running cycle's worker; its finish step is then dropped. Closes the PCRaw
    // channels still open.
    ~TkavoNet();
    // Ends a running cycle's work as the destructor does (its finish step is then dropped) and
    // starts no other. Main thread.
    void Stop();
    TkavoNet(const TkavoNet&) = delete;
    TkavoNet& operator=(const TkavoNet&) = delete;

    // Combined channels on air and ended channels of the last cycle, in YP order.
    const TkavoChList& ChList() const { return m_chList; }
    const TkavoChList& ChListLog() const { return m_chListLog; }
    const CycleReport& LastCycle() const { return m_report; }
    // From StartRetrieval until the finish step has run.
    bool Running() const { return m_running; }

    // The module's records of the configured YPs, in configuration order, as the last cycle (or the
    // last reload) left them. Main thread; changed by the next finish step or reload.
    const TypedList<YpRecord>& Yps() const { return m_yps; }
    // The record of the YP with this Url; nullptr when it has none yet.
    const YpRecord* Yp(const std::string& url) const;

    // Once at start, after the settings are loaded; the settings file as read then ([PCRAW]).
    void Prepare(const IniFile& settingsFile);
    // The settings were loaded again or replaced. A YP still configured keeps its channels, its
    // update time and its PCRaw channel; its log, its previous list and its counters start again.
    // A YP no longer configured goes, and its PCRaw channel is closed. While a cycle runs, the cycle
    // goes on with what it took at its start, and the records follow the settings when it finishes
    // (a YP removed in the meantime starts again without channels even when it is back). The YPs
    // of removed were taken out of the settings and put back (a dialog's edit that was cancelled):
    // they start again without channels as well.
    void SettingsReloaded(const std::vector<std::string>& removed = {});
    // The records follow YP entries edited in place, keeping all their state; every cycle does
    // this when it starts. Not while a cycle runs.
    void FollowSettings() { followSettings(false); }
    // The favorites of the settings were edited: the channels on air take their favorite marks
    // again (the ended ones keep theirs). While a cycle runs, whose lists were matched with the
    // favorites of its start, its finish step does it, and this returns false. Main thread.
    bool RematchFavorites();
    // Starts a cycle and returns at once; does nothing while one runs.
    void StartRetrieval();
    // Applies the settings to the HTTP client. Not while a cycle runs.
    void SetupHttp();
    // A fresh HTTP client: open connections and cookies are dropped.
    void ResetHttp();
    // Obtains, converts and parses one YP's index into its ChList. The error text, "" on success.
    std::string RetrieveYp(YpRecord& yp);
    // The same, noting the outcome, the HTTP status, the size and, when kept, the index text.
    std::string RetrieveYp(YpRecord& yp, YpAttempt& attempt);
    // The version the PCRaw library reports, when one is loaded.
    std::optional<std::string> PcrawVersion() const;
    // Empties the log of ended channels of every YP and ChListLog; the log starts again from
    // nothing. While a cycle runs, whose worker writes the logs, its finish step does it before the
    // lists are merged. Main thread.
    void ClearLog();
    // A new script engine for the retrieval scripts; false while a cycle runs.
    bool RecreateScriptEngine();
    // The store that marks channels whose contact page was opened (ColorFont/Visit); not owned,
    // safe to read from the worker. Without one no channel is marked visited.
    void SetVisitedUrls(VisitedUrls* store) { m_visited = store; }

private:
    // Everything the worker reads from the settings, taken on the main thread when a cycle starts,
    // so that the dialogs never free what the worker uses.
    struct CycleSettings
    {
        bool Manual = false;
        bool LocalChInfo = false;
        int ThreadPriority = 0;
        bool Visit = true;
        TkavoSetting::URLOptions URL;
        TkavoSetting::NotifyOptions Notify;
        FavoriteMatcher Favorites; // with the bulletin-board pattern
    };

    void begin();
    void execute();
    void finish();
    // The records follow the configured YPs (see SettingsReloaded); reload: the settings were loaded
    // again, so the kept records start their logs and counters again.
    void followSettings(bool reload);
    void retrieveOrSkip(YpRecord& yp, YpAttempt& attempt);
    void raiseRecord();
    void raiseProgress(int current, int total, const std::string& title);
    void rematchFavorites();
    HttpClient& http();
    // http.get of the retrieval scripts.
    std::string scriptFetch(const std::string& url);
    // Sleeps on the worker; the destructor cuts it short.
    void pause(int milliseconds);
    bool hasPcrawHandle(const YpRecord& yp) const;

    // Steps that later work fills in. Each is called where the cycle needs it.
    // The local server's channels into m_localChList, before the first YP.
    void ReadLocalChannels();
    // Favorites, change marks and the log against the previous cycle; after every enabled YP's
    // retrieval step, also when the YP was skipped or failed.
    void UpdateYp(YpRecord& yp);
    // Marks the channels the local server holds.
    void MarkLocal(YpRecord& yp);
    // Visited marks from the visited-URL store.
    void MarkVisited(YpRecord& yp);
    bool UrlVisited(const std::string& url);
    // PCRaw index channels: the library is loaded by the constructor, and the channels still open
    // are closed by the destructor.
    void LoadPcraw();
    void ClosePcrawChannel(YpRecord& yp);
    void ClosePcrawChannels();
    bool PcrawLoaded() const;
    int PcrawChannelError(YpRecord& yp);
    bool PcrawHasFreshData(YpRecord& yp);
    std::string ReadPcrawIndex(YpRecord& yp);
    void OpenPcrawChannel(YpRecord& yp);
    // Retrieval scripts: whether the YP's script runs, and running it on the input text (throws
    // RetrievalFailure).
    bool YpScriptAvailable(const TkavoYpItem& yp);
    std::string RunYpScript(YpRecord& yp, const std::string& input);

    Dispatcher m_dispatcher;
    const TkavoSetting& m_setting;
    // The worker's while a cycle runs; the main thread's otherwise.
    TypedList<YpRecord> m_yps;
    // Reloads that arrived while a cycle ran, applied by its finish step: whether one did, and the
    // Urls that were no longer configured after one of them.
    bool m_reloadPending = false;
    bool m_clearLogPending = false;
    bool m_rematchPending = false; // asked for while a cycle ran
    std::unordered_set<std::string> m_droppedUrls;
    std::vector<std::string> m_cycleUrls; // of the records the running cycle works on
    TkavoChList m_chList;
    TkavoChList m_chListLog;
    TkavoChList m_localChList;
    bool m_firstCycleDone = false;
    int m_createTimer = 1000; // ms of pause after opening a PCRaw channel

    std::unique_ptr<PcrawLibrary> m_pcraw;
    VisitedUrls* m_visited = nullptr;
    // The engine `DMS` with the scripts' stream buffers.
    std::unique_ptr<YpScriptRunner> m_scripts;
    // The client of the running script's http.get: one per run, so no cookie crosses from one
    // YP's script to another's.
    std::unique_ptr<HttpClient> m_scriptHttp;

    std::unique_ptr<HttpClient> m_http;
    HttpOptions m_httpOptions;
    // The worker's own; never used on the main thread while a cycle runs.
    RegularExpression m_regExp;

    CycleSettings m_cycle;
    CycleReport m_report;     // filled by the worker, read after the finish step
    CycleReport m_working;    // the running cycle's
    RetrievalRecord m_record; // the running cycle's, for OnRecord
    DateTime m_cycleEnd = 0;
    std::atomic<bool> m_running{false};
    std::thread m_worker;
    std::mutex m_pauseLock;
    std::condition_variable m_pauseWake;
    bool m_stopping = false; // the destructor runs
    // Lets a finish step that arrives after destruction see that the module is gone.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace kavo
