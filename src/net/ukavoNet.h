#pragma once

#include "core/FavoriteMatcher.h"
#include "core/TkavoChItem.h"
#include "core/TkavoFavoriteItem.h"
#include "core/TkavoYpItem.h"
#include "net/HttpClient.h"
#include "platform/TkavoRegExp.h"
#include "settings/ukavoConfig.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

namespace kavo {

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

// The retrieval module. One cycle downloads every enabled YP of Setting().YpList on a worker
// thread, one after the other, and then, on the main thread, merges the YPs' lists into ChList and
// ChListLog.
//
// Threads: construct, Prepare, StartRetrieval and destroy on the main thread. The dispatcher runs a
// job on the main thread; the finish step (merge, OnCycleError, OnSuccess, OnComplate) arrives
// through it. OnError is raised on the worker. While a cycle runs, the YP records of
// Setting().YpList must not be changed or freed, and the handlers must not be replaced.
class TkavoNet
{
public:
    using Dispatcher = std::function<void(std::function<void()>)>;
    using TkavoNotifyEvent = std::function<void(TkavoNet& sender)>;
    using TkavoOnError = std::function<void(TkavoNet& sender, const std::string& error)>;

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

    TkavoOnError OnError;       // one YP failed; the worker thread
    TkavoNotifyEvent OnSuccess; // the combined lists are filled; the main thread
    TkavoNotifyEvent OnComplate;
    // A failure ended the cycle before every YP was done; the main thread, right before OnSuccess.
    // The GUI shows the message in a message box.
    TkavoOnError OnCycleError;

    explicit TkavoNet(Dispatcher dispatcher);
    // Waits for a running cycle's worker; its finish step is then dropped. Closes the PCRaw
    // channels still open.
    ~TkavoNet();
    TkavoNet(const TkavoNet&) = delete;
    TkavoNet& operator=(const TkavoNet&) = delete;

    // Combined channels on air and ended channels of the last cycle, in YP order.
    const TkavoChList& ChList() const { return m_chList; }
    const TkavoChList& ChListLog() const { return m_chListLog; }
    const CycleReport& LastCycle() const { return m_report; }
    // From StartRetrieval until the finish step has run.
    bool Running() const { return m_running; }

    // Once at start, after the settings are loaded.
    void Prepare();
    // Starts a cycle and returns at once; does nothing while one runs.
    void StartRetrieval();
    // Applies the settings to the HTTP client. Not while a cycle runs.
    void SetupHttp();
    // A fresh HTTP client: open connections and cookies are dropped.
    void ResetHttp();
    // Obtains, converts and parses one YP's index into its ChList. The error text, "" on success.
    std::string RetrieveYp(TkavoYpItem& yp);
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
        int ThreadPriority = 0;
        bool Visit = true;
        TkavoSetting::URLOptions URL;
        TkavoSetting::NotifyOptions Notify;
        FavoriteMatcher Favorites; // with the bulletin-board pattern
    };

    void begin();
    void execute();
    void finish();
    void retrieveOrSkip(TkavoYpItem& yp);
    HttpClient& http();
    // http.get of the retrieval scripts.
    std::string scriptFetch(const std::string& url);
    // Sleeps on the worker; the destructor cuts it short.
    void pause(int milliseconds);
    bool hasPcrawHandle(const TkavoYpItem& yp) const;

    // Steps that later work fills in. Each is called where the cycle needs it.
    // The local server's channels into m_localChList, before the first YP.
    void ReadLocalChannels();
    // Favorites, change marks and the log against the previous cycle; after every enabled YP's
    // retrieval step, also when the YP was skipped or failed.
    void UpdateYp(TkavoYpItem& yp);
    // Marks the channels the local server holds.
    void MarkLocal(TkavoYpItem& yp);
    // Visited marks from the visited-URL store.
    void MarkVisited(TkavoYpItem& yp);
    bool UrlVisited(const std::string& url);
    // PCRaw index channels: the library is loaded by the constructor, and the channels still open
    // are closed by the destructor.
    void LoadPcraw();
    void ClosePcrawChannels();
    bool PcrawLoaded() const;
    int PcrawChannelError(TkavoYpItem& yp);
    bool PcrawHasFreshData(TkavoYpItem& yp);
    std::string ReadPcrawIndex(TkavoYpItem& yp);
    void OpenPcrawChannel(TkavoYpItem& yp);
    // Retrieval scripts: whether the YP's script runs, and running it on the input text (throws
    // RetrievalFailure).
    bool YpScriptAvailable(const TkavoYpItem& yp);
    std::string RunYpScript(TkavoYpItem& yp, const std::string& input);

    Dispatcher m_dispatcher;
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
    TkavoRegExp m_regExp;

    CycleSettings m_cycle;
    CycleReport m_report;  // filled by the worker, read after the finish step
    CycleReport m_working; // the running cycle's
    TDateTime m_cycleEnd = 0;
    std::atomic<bool> m_running{false};
    std::thread m_worker;
    std::mutex m_pauseLock;
    std::condition_variable m_pauseWake;
    bool m_stopping = false; // the destructor runs
    // Lets a finish step that arrives after destruction see that the module is gone.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace kavo
