#include "net/RetrievalCycle.h"

#include "net/IndexParser.h"
#include "net/LocalChannels.h"
#include "net/Pcraw.h"
#include "net/UpdateYp.h"
#include "platform/Cp932.h"
#include "platform/Process.h"
#include "platform/VisitedUrls.h"
#include "script/YpScriptRunner.h"

#include <algorithm>
#include <chrono>
#include <new>

namespace kavo {

namespace {

constexpr double ThrottleDays = 10.0 / MinutesPerDay;

std::string DownloadErrorText(const std::string& url, const std::string& message)
{
    return url + "\r\n" + Sjis("ダウンロードエラー") + "\r\n" + Sjis("詳細：") + message;
}

std::string ConversionErrorText(const std::string& url)
{
    return url + "\r\n" + Sjis("UTF->SJIS変換エラー");
}

std::string EncodingWarningText(const std::string& url)
{
    return url + "\r\n" + Sjis("文字コードが違うようです: UTF->SJIS を外してください");
}

// An index converted from UTF-8 that was not UTF-8: it reads as CP932, or most of its non-ASCII
// text came out as "?".
bool LooksLikeWrongEncoding(std::string_view original, std::string_view converted)
{
    std::size_t nonAscii = 0;
    for (const char c : original)
        nonAscii += static_cast<unsigned char>(c) >= 0x80 ? 1 : 0;
    if (nonAscii == 0 || IsValidUtf8(original))
        return false;
    if (IsValidCp932(original))
        return true;
    const auto marks = [](std::string_view text) {
        return static_cast<std::size_t>(std::count(text.begin(), text.end(), '?'));
    };
    const std::size_t added = marks(converted) > marks(original) ? marks(converted) - marks(original) : 0;
    return added * 2 > nonAscii;
}

const std::string& NameOf(const TkavoYpItem& yp)
{
    return yp.Title.empty() ? yp.Url : yp.Title;
}

} // namespace

void RetrievalCycle::StopSignal::Stop()
{
    {
        std::lock_guard lock(m_lock);
        m_stopped = true;
    }
    m_wake.notify_all();
}

void RetrievalCycle::StopSignal::Pause(int milliseconds)
{
    std::unique_lock lock(m_lock);
    m_wake.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return m_stopped; });
}

RetrievalCycle::RetrievalCycle(std::unique_ptr<State> state, Options options, Events events, Services services)
    : m_state(std::move(state)), m_options(std::move(options)), m_events(std::move(events)),
      m_services(std::move(services)), m_pcraw(m_services.Pcraw),
      m_script(m_services.Scripts, m_options.URL.Proxy, m_options.URL.Timeout, m_state->Http.Options()),
      m_pcrawThroughScript(m_services.Scripts, m_options.URL.Proxy, m_options.URL.Timeout, m_state->Http.Options(),
                           &m_pcraw)
{}

void RetrievalCycle::Run()
{
    if (m_options.ThreadPriority != 0)
        ApplyThreadPriority(m_options.ThreadPriority);
    State& state = *m_state;
    try {
        m_record.Time = Now();
        m_report.LocalAnswered = ReadLocalChannels(m_options.URL.LocalChInfo, m_options.URL.LocalChInfoAddr,
                                                   state.Http.Client(), state.RegExp, state.LocalChannels);
        int total = 0;
        for (const YpRecord& yp : state.Yps)
            total += yp.Enabled ? 1 : 0;
        int current = 0;
        for (YpRecord& yp : state.Yps) {
            if (!yp.Enabled) {
                yp.ChList.Clear();
                continue;
            }
            if (m_events.Progress)
                m_events.Progress(++current, total, yp.Title.empty() ? yp.Url : yp.Title);
            YpAttempt& attempt = m_record.Attempts.emplace_back();
            attempt.Url = yp.Url;
            attempt.Title = yp.Title;
            attempt.ChList = &yp.ChList;
            retrieveOrSkip(yp, attempt);
            // Also after a skip or a failure: the marks of the records the YP still holds age.
            UpdateYp(yp, {UpdateOptions::From(m_options.Notify), m_options.Favorites, state.RegExp, Now()});
            MarkLocal(yp, state.LocalChannels);
            markVisited(yp);
            attempt.Channels = yp.ChList.Count();
        }
        m_end = Now();
    } catch (const std::exception& failure) {
        m_report.EndedEarly = true;
        m_report.Error = failure.what();
    } catch (...) {
        m_report.EndedEarly = true;
        m_report.Error = "unknown failure";
    }
    raiseRecord();
}

void RetrievalCycle::retrieveOrSkip(YpRecord& yp, YpAttempt& attempt)
{
    attempt.Time = Now();
    if (m_options.FirstCycleDone && !m_options.Manual) {
        const bool throttled = !hasPcrawHandle(yp) || pcrawChannelError(yp) != 0;
        if (throttled && attempt.Time < yp.LastUpdate + ThrottleDays) {
            ++m_report.Skipped;
            attempt.Outcome = YpOutcome::Skipped;
            return;
        }
    }
    ++m_report.Retrieved;
    const auto started = std::chrono::steady_clock::now();
    const std::string error = retrieveYp(yp, attempt);
    attempt.DurationMs = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count());
    if (error.empty()) {
        yp.LastUpdate = Now();
        return;
    }
    attempt.Error = error;
    // LastUpdate stays, so the next automatic refresh tries this YP again.
    ++m_report.Failed;
    if (m_events.Error)
        m_events.Error(error, NameOf(yp));
}

IndexSource& RetrievalCycle::sourceFor(YpRecord& yp)
{
    // Asking the channel for fresh data reads its error code, and closes it when it is dead.
    const bool fresh = m_services.Pcraw.Loaded() && PcrawHasFreshData(m_services.Pcraw, yp);
    const bool scripted = m_services.CanDms && m_services.Scripts.ScriptFile(yp).has_value();
    if (fresh)
        return scripted ? static_cast<IndexSource&>(m_pcrawThroughScript) : m_pcraw;
    return scripted ? static_cast<IndexSource&>(m_script) : m_state->Http;
}

std::string RetrievalCycle::downloadFailed(const YpRecord& yp, const std::string& message)
{
    m_state->Http.Reset();
    return DownloadErrorText(yp.Url, message);
}

std::string RetrievalCycle::retrieveYp(YpRecord& yp, YpAttempt& attempt)
{
    attempt.Outcome = YpOutcome::Failed;
    FetchedIndex index;
    try {
        if (m_events.FetchYp)
            m_events.FetchYp(yp);
        index = sourceFor(yp).Fetch(yp);
    } catch (const RetrievalFailure& failure) {
        attempt.HttpStatus = failure.HttpStatus();
        return downloadFailed(yp, failure.what());
    } catch (const std::bad_alloc&) {
        return downloadFailed(yp, "out of memory");
    } catch (const std::exception& failure) {
        // Whatever else went wrong concerns this YP only.
        return downloadFailed(yp, failure.what());
    }

    attempt.HttpStatus = index.HttpStatus;
    attempt.Bytes = index.Text.size();
    attempt.Outcome = index.ClosedEarly ? YpOutcome::Incomplete : YpOutcome::Fetched;
    // A server that closed the connection early leaves the previous list; that is not an error.
    if (!index.ClosedEarly) {
        std::string_view text = StripUtf8Bom(index.Text);
        std::string converted;
        if (yp.UTF2SJIS) {
            try {
                converted = Utf8ToCp932(text);
            } catch (const std::exception&) {
                attempt.Outcome = YpOutcome::Failed;
                return ConversionErrorText(yp.Url);
            }
            // The channels are read all the same; the user is told the likely cause of the garbage.
            if (LooksLikeWrongEncoding(text, converted)) {
                attempt.Error = EncodingWarningText(yp.Url);
                if (m_events.Error)
                    m_events.Error(attempt.Error, NameOf(yp));
            }
            text = converted;
        }
        if (CountChannelLines(text, MaxChannelsPerYp) > MaxChannelsPerYp)
            return DownloadErrorText(yp.Url, "the index lists more than " + std::to_string(MaxChannelsPerYp) +
                                                 " channels; the previous list is kept");
        // An error page in place of the index would empty the YP's list, or fill it with rubbish.
        if (const std::string reason = NotIndexReason(text); !reason.empty()) {
            attempt.Outcome = YpOutcome::NotIndex;
            return DownloadErrorText(yp.Url, reason);
        }
        const bool hadChannels = yp.ChList.Count() > 0;
        ReplaceFromIndex(yp, text, m_state->RegExp);
        attempt.Filtered = yp.Filtered;
        if (hadChannels && index.HttpStatus == 200 && CountChannelLines(text, 1) == 0)
            attempt.Outcome = YpOutcome::Empty;
        if (m_events.Record)
            attempt.Index.assign(text);
        yp.ChList.Valid = true;
        ++yp.SuccessCount;
    }

    // An invalid PCRawChName2 throws past the YP and ends the refresh.
    if (m_services.Pcraw.Loaded() && !hasPcrawHandle(yp) &&
        OpenPcrawIndexChannel(m_services.Pcraw, yp, m_state->RegExp))
        m_services.Stop->Pause(m_options.CreateTimer);
    return {};
}

bool RetrievalCycle::hasPcrawHandle(const YpRecord& yp) const
{
    return m_services.Pcraw.Owns(yp.PCRawHandle);
}

int RetrievalCycle::pcrawChannelError(YpRecord& yp)
{
    if (!hasPcrawHandle(yp))
        return 0;
    yp.PCRawLastError = m_services.Pcraw.LastError(yp.PCRawHandle);
    return yp.PCRawLastError;
}

void RetrievalCycle::markVisited(YpRecord& yp)
{
    if (!m_options.Visit)
        return;
    VisitedUrls* visited = m_services.Visited;
    for (TkavoChItem& channel : yp.ChList)
        channel.Visited = visited && !channel.ContactURL.empty() && visited->IsVisited(channel.ContactURL);
}

void RetrievalCycle::raiseRecord()
{
    if (m_events.Record) {
        try {
            m_events.Record(m_record);
        } catch (...) {
            // A record that cannot be kept costs the record, not the refresh.
        }
    }
    m_record = RetrievalRecord{};
}

} // namespace kavo
