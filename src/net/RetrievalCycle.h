#pragma once

#include "core/FavoriteMatcher.h"
#include "core/TkavoChItem.h"
#include "core/TkavoYpItem.h"
#include "net/HttpIndexSource.h"
#include "net/PcrawIndexSource.h"
#include "net/RetrievalRecord.h"
#include "net/ScriptIndexSource.h"
#include "platform/DateTime.h"
#include "platform/RegularExpression.h"
#include "settings/TkavoSetting.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace kavo {

class PcrawLibrary;
class VisitedUrls;
class YpScriptRunner;

// One refresh and everything it works on. The retrieval module builds it on the main thread when
// the refresh starts, moving in what retrieval keeps from one refresh to the next (State); the
// worker thread owns it while the refresh runs; it goes back whole to the main thread, which takes
// the State back and merges the YPs' lists. The main thread holds nothing of it in between.
class RetrievalCycle
{
public:
    // What retrieval keeps from one refresh to the next.
    struct State
    {
        // The records of the configured YPs, in configuration order.
        TypedList<YpRecord> Yps;
        // With the client whose connections and cookies carry over to the next refresh.
        HttpIndexSource Http;
        RegularExpression RegExp;
        // The local server's channels as last read: an unanswered read keeps them.
        TkavoChList LocalChannels;
    };

    // What the worker reads of the settings, taken when the refresh starts.
    struct Options
    {
        bool Manual = false;
        // A refresh has completed since the module was prepared: automatic refreshes are throttled
        // per YP from then on.
        bool FirstCycleDone = false;
        bool Visit = true;
        int ThreadPriority = 0;
        int CreateTimer = 1000; // ms of pause after opening a PCRaw channel
        TkavoSetting::URLOptions URL;
        TkavoSetting::NotifyOptions Notify;
        FavoriteMatcher Favorites; // with the bulletin-board pattern
    };

    // Raised on the worker.
    struct Events
    {
        // A YP failed, or its answer looks wrong: the text, and the YP's title (its Url without one).
        std::function<void(const std::string& error, const std::string& ypName)> Error;
        // Once the last YP is done, also when the refresh ended early; what it throws is dropped.
        std::function<void(RetrievalRecord& record)> Record;
        // As each YP's fetch starts, within that YP's error handling.
        std::function<void(const TkavoYpItem& yp)> FetchYp;
        // An enabled YP's turn begins: its place among the enabled YPs (from 1), their number and
        // its title (its Url when it has none).
        std::function<void(int current, int total, const std::string& title)> Progress;
    };

    // Cuts the pause after opening a PCRaw channel short once the module stops.
    class StopSignal
    {
    public:
        void Stop();
        // Sleeps for this long, or until Stop.
        void Pause(int milliseconds);

    private:
        std::mutex m_lock;
        std::condition_variable m_wake;
        bool m_stopped = false;
    };

    // What the refresh shares with the main thread, each safe to use from the worker: the PCRaw
    // library and the script runner lock for themselves, the switch is atomic, the visited-URL
    // store may be read from any thread.
    struct Services
    {
        PcrawLibrary& Pcraw;
        YpScriptRunner& Scripts;
        const std::atomic<bool>& CanDms;
        VisitedUrls* Visited; // may be null: nothing is visited
        std::shared_ptr<StopSignal> Stop;
    };

    // What the refresh did, for result lines and exit statuses.
    struct Report
    {
        int Retrieved = 0; // YPs whose retrieval was attempted
        int Failed = 0;    // of those, the ones that raised the error event
        int Skipped = 0;   // enabled YPs left alone by the 10-minute throttle
        bool EndedEarly = false;
        std::string Error; // why the refresh ended early
        // The local server's status page was read: the server is there to take admin commands.
        bool LocalAnswered = false;
    };

    RetrievalCycle(std::unique_ptr<State> state, Options options, Events events, Services services);
    RetrievalCycle(const RetrievalCycle&) = delete;
    RetrievalCycle& operator=(const RetrievalCycle&) = delete;

    // The refresh itself, on the worker: the local server's channels, then every configured YP in
    // order. A failure inside one YP costs that YP; any other ends the refresh early.
    void Run();

    const Options& Settings() const { return m_options; }
    const Report& Result() const { return m_report; }
    // Every YP had its turn.
    bool Completed() const { return !m_report.EndedEarly; }
    // When the last YP was done; 0 when the refresh ended early.
    DateTime EndTime() const { return m_end; }
    std::unique_ptr<State> TakeState() { return std::move(m_state); }

private:
    void retrieveOrSkip(YpRecord& yp, YpAttempt& attempt);
    // Obtains, converts and parses the YP's index into its ChList; the error text, "" on success.
    std::string retrieveYp(YpRecord& yp, YpAttempt& attempt);
    // Where the YP's index comes from this turn.
    IndexSource& sourceFor(YpRecord& yp);
    std::string downloadFailed(const YpRecord& yp, const std::string& message);
    bool hasPcrawHandle(const YpRecord& yp) const;
    int pcrawChannelError(YpRecord& yp);
    void markVisited(YpRecord& yp);
    void raiseRecord();

    std::unique_ptr<State> m_state;
    const Options m_options;
    const Events m_events;
    const Services m_services;
    PcrawIndexSource m_pcraw;
    ScriptIndexSource m_script;
    ScriptIndexSource m_pcrawThroughScript;
    Report m_report;
    RetrievalRecord m_record;
    DateTime m_end = 0;
};

} // namespace kavo
