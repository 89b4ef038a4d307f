#include "net/ukavoNet.h"

#include "platform/VisitedUrls.h"

#include "net/ChannelMerge.h"
#include "net/IndexParser.h"
#include "net/LocalChannels.h"
#include "net/Pcraw.h"
#include "net/UpdateYp.h"
#include "platform/Cp932.h"
#include "platform/DateTime.h"
#include "platform/Process.h"
#include "platform/ProgramFolder.h"
#include "script/YpScriptRunner.h"
#include "settings/IniFile.h"

#include <chrono>
#include <new>
#include <optional>
#include <stdexcept>
#include <unordered_map>

namespace kavo {

namespace {

constexpr int DefaultTimeoutSeconds = 60;
constexpr double ThrottleDays = 10.0 / MinutesPerDay;

std::string DownloadErrorText(const std::string& url, const std::string& message)
{
    return url + "\r\n" + Sjis("ダウンロードエラー") + "\r\n" + Sjis("詳細：") + message;
}

std::string ConversionErrorText(const std::string& url)
{
    return url + "\r\n" + Sjis("UTF->SJIS変換エラー");
}

} // namespace

HttpOptions HttpOptionsFromSettings(const TkavoSetting::URLOptions& url)
{
    HttpOptions options;
    options.Protocol = url.Protocol;
    // A time-out of 0 or less would wait for ever and hang the cycle.
    const auto timeout = ParseIniInteger(url.Timeout);
    options.TimeoutSeconds = timeout && *timeout > 0 ? *timeout : DefaultTimeoutSeconds;

    RegularExpression regExp;
    regExp.Global = true;
    regExp.IgnoreCase = true;
    regExp.Pattern = "([^:]+):([0-9]+)";
    const auto matches = regExp.Execute(url.Proxy);
    if (matches.size() == 1 && matches[0].SubMatches.size() > 1) {
        const auto port = ParseIniInteger(matches[0].SubMatches[1]);
        if (port && *port > 0 && *port <= 65535) {
            options.ProxyHost = matches[0].SubMatches[0];
            options.ProxyPort = *port;
        }
    }
    return options;
}

TkavoNet::TkavoNet(Dispatcher dispatcher, const TkavoSetting& setting)
    : m_dispatcher(std::move(dispatcher)), m_setting(setting), m_pcraw(std::make_unique<PcrawLibrary>())
{
    if (!m_dispatcher)
        throw std::invalid_argument("TkavoNet needs a dispatcher to the main thread");
    // A relative script path is taken from the program folder, where the settings file is.
    m_scripts =
        std::make_unique<YpScriptRunner>(ProgramFolder(), [this](const std::string& url) { return scriptFetch(url); });
    LoadPcraw();
}

TkavoNet::~TkavoNet()
{
    Stop();
    ClosePcrawChannels();
}

void TkavoNet::Stop()
{
    *m_alive = false;
    {
        std::lock_guard lock(m_pauseLock);
        m_stopping = true;
    }
    m_pauseWake.notify_all();
    if (m_worker.joinable())
        m_worker.join();
}

void TkavoNet::Prepare(const IniFile& settingsFile)
{
    const int createTimer = settingsFile.ReadInteger("PCRAW", "CreateTimer", 1000);
    m_createTimer = createTimer > 0 ? createTimer : 0;
    m_firstCycleDone = false;
    // The HTTP client, and the library behind it, is made by the first cycle: loading it here
    // would hold back the first window.
    m_httpOptions = HttpOptionsFromSettings(m_setting.URL);
    if (m_http)
        m_http->Apply(m_httpOptions);
    followSettings(false);
}

void TkavoNet::SetupHttp()
{
    m_httpOptions = HttpOptionsFromSettings(m_setting.URL);
    http().Apply(m_httpOptions);
}

const YpRecord* TkavoNet::Yp(const std::string& url) const
{
    for (const YpRecord& yp : m_yps)
        if (yp.Url == url)
            return &yp;
    return nullptr;
}

void TkavoNet::SettingsReloaded(const std::vector<std::string>& removed)
{
    m_droppedUrls.insert(removed.begin(), removed.end());
    if (!m_running) {
        followSettings(true);
        return;
    }
    m_reloadPending = true;
    // Only Urls are compared here: the records belong to the worker until the finish step.
    std::unordered_set<std::string_view> configured;
    for (const TkavoYpItem& yp : m_setting.YpList)
        configured.insert(yp.Url);
    for (const std::string& url : m_cycleUrls)
        if (!configured.contains(url))
            m_droppedUrls.insert(url);
}

void TkavoNet::followSettings(bool reload)
{
    std::vector<std::unique_ptr<TkavoDataItem>> old = m_yps.Release();
    std::unordered_map<std::string_view, std::size_t> oldByUrl;
    for (std::size_t i = 0; i < old.size(); ++i) {
        const auto& yp = static_cast<const YpRecord&>(*old[i]);
        if (!m_droppedUrls.contains(yp.Url))
            oldByUrl.emplace(yp.Url, i);
    }
    m_yps.Reserve(m_setting.YpList.Count());
    for (const TkavoYpItem& configured : m_setting.YpList) {
        std::unique_ptr<TkavoDataItem> record;
        if (const auto found = oldByUrl.find(configured.Url); found != oldByUrl.end() && old[found->second]) {
            record = std::move(old[found->second]);
            if (reload) {
                auto& yp = static_cast<YpRecord&>(*record);
                for (TkavoChList* list : {&yp.ChListLog, &yp.ChListPrev}) {
                    list->Clear();
                    list->Valid = false;
                    list->LastUpdate = 0;
                }
                yp.SuccessCount = 0;
                yp.PCRawLastError = 0;
            }
        } else {
            record = std::make_unique<YpRecord>();
        }
        // Only the configured fields: the record's own state stays.
        record->Assign(configured);
        m_yps.Add(std::move(record));
    }
    for (auto& record : old)
        if (record)
            ClosePcrawChannel(static_cast<YpRecord&>(*record));
    m_droppedUrls.clear();
    m_reloadPending = false;
}

HttpClient& TkavoNet::http()
{
    if (!m_http) {
        m_http = std::make_unique<HttpClient>();
        m_http->Apply(m_httpOptions);
    }
    return *m_http;
}

void TkavoNet::ResetHttp()
{
    try {
        m_http.reset();
        m_http = std::make_unique<HttpClient>();
        // The options of the cycle's start: the worker does not read the settings again.
        m_http->Apply(m_httpOptions);
    } catch (...) {
        // A client that cannot be made fails the next request with its own message.
    }
}

bool TkavoNet::RematchFavorites()
{
    if (m_running) {
        m_rematchPending = true;
        return false;
    }
    rematchFavorites();
    return true;
}

void TkavoNet::rematchFavorites()
{
    m_rematchPending = false;
    const FavoriteMatcher matcher(m_setting.Favorites, m_setting.Etc.TwoChPtn);
    for (TkavoChItem& channel : m_chList)
        matcher.Match(channel, m_regExp);
}

void TkavoNet::StartRetrieval()
{
    if (!*m_alive || m_running.exchange(true))
        return;
    try {
        begin();
        m_working = CycleReport{};
        m_worker = std::thread([this] { execute(); });
    } catch (...) {
        m_running = false;
        throw;
    }
}

void TkavoNet::begin()
{
    SetupHttp();
    const TkavoSetting& setting = m_setting;
    // Entries edited in place since the last reload take effect, without starting logs again.
    followSettings(false);
    m_cycleUrls.clear();
    for (const YpRecord& yp : m_yps)
        m_cycleUrls.push_back(yp.Url);
    m_cycle.Manual = Manual;
    m_cycle.LocalChInfo = setting.URL.LocalChInfo;
    m_cycle.ThreadPriority = setting.Priority.KAVOThread;
    m_cycle.Visit = setting.ColorFont.Visit;
    m_cycle.URL = setting.URL;
    m_cycle.Notify = setting.Notify;
    m_cycle.Favorites = FavoriteMatcher(setting.Favorites, setting.Etc.TwoChPtn);
}

void TkavoNet::execute()
{
    if (m_cycle.ThreadPriority != 0)
        ApplyThreadPriority(m_cycle.ThreadPriority);
    try {
        m_record = RetrievalRecord{};
        m_record.Time = Now();
        ReadLocalChannels();
        int total = 0;
        for (const YpRecord& yp : m_yps)
            total += yp.Enabled ? 1 : 0;
        int current = 0;
        for (YpRecord& yp : m_yps) {
            if (!yp.Enabled) {
                yp.ChList.Clear();
                continue;
            }
            raiseProgress(++current, total, yp.Title.empty() ? yp.Url : yp.Title);
            YpAttempt& attempt = m_record.Attempts.emplace_back();
            attempt.Url = yp.Url;
            attempt.Title = yp.Title;
            attempt.ChList = &yp.ChList;
            retrieveOrSkip(yp, attempt);
            UpdateYp(yp);
            MarkLocal(yp);
            MarkVisited(yp);
            attempt.Channels = yp.ChList.Count();
        }
        m_cycleEnd = Now();
        m_firstCycleDone = true;
    } catch (const std::exception& failure) {
        m_working.EndedEarly = true;
        m_working.Error = failure.what();
    } catch (...) {
        m_working.EndedEarly = true;
        m_working.Error = "unknown failure";
    }
    raiseRecord();
    m_dispatcher([this, alive = m_alive] {
        if (*alive)
            finish();
    });
}

void TkavoNet::raiseProgress(int current, int total, const std::string& title)
{
    if (!OnProgress)
        return;
    m_dispatcher([this, alive = m_alive, current, total, title] {
        if (*alive && OnProgress)
            OnProgress(*this, current, total, title);
    });
}

void TkavoNet::raiseRecord()
{
    if (OnRecord) {
        try {
            OnRecord(m_record);
        } catch (...) {
            // A record that cannot be kept costs the record, not the cycle.
        }
    }
    m_record = RetrievalRecord{};
}

void TkavoNet::retrieveOrSkip(YpRecord& yp, YpAttempt& attempt)
{
    attempt.Time = Now();
    if (m_firstCycleDone && !m_cycle.Manual) {
        const bool throttled = !hasPcrawHandle(yp) || PcrawChannelError(yp) != 0;
        if (throttled && attempt.Time < yp.LastUpdate + ThrottleDays) {
            ++m_working.Skipped;
            attempt.Outcome = YpOutcome::Skipped;
            return;
        }
    }
    ++m_working.Retrieved;
    const auto started = std::chrono::steady_clock::now();
    const std::string error = RetrieveYp(yp, attempt);
    attempt.DurationMs = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count());
    attempt.Error = error;
    if (error.empty()) {
        yp.LastUpdate = Now();
        return;
    }
    // LastUpdate stays, so the next automatic cycle tries this YP again.
    ++m_working.Failed;
    if (OnError)
        OnError(*this, error);
}

std::string TkavoNet::RetrieveYp(YpRecord& yp)
{
    YpAttempt attempt;
    return RetrieveYp(yp, attempt);
}

std::string TkavoNet::RetrieveYp(YpRecord& yp, YpAttempt& attempt)
{
    attempt.Outcome = YpOutcome::Failed;
    std::string index;
    bool closedEarly = false;
    try {
        if (OnFetchYp)
            OnFetchYp(yp);
        if (!PcrawHasFreshData(yp)) {
            if (YpScriptAvailable(yp)) {
                index = RunYpScript(yp, {});
            } else {
                HttpResponse response = http().Get(yp.Url + "index.txt?host=" + yp.Host);
                attempt.HttpStatus = response.Status;
                if (response.Outcome == HttpOutcome::Failed)
                    throw RetrievalFailure(response.Error);
                closedEarly = response.Outcome == HttpOutcome::ClosedEarly;
                index = std::move(response.Body);
            }
        } else {
            index = ReadPcrawIndex(yp);
            if (YpScriptAvailable(yp))
                index = RunYpScript(yp, index);
        }
    } catch (const RetrievalFailure& failure) {
        ResetHttp();
        return DownloadErrorText(yp.Url, failure.what());
    } catch (const std::bad_alloc&) {
        ResetHttp();
        return DownloadErrorText(yp.Url, "out of memory");
    } catch (const std::exception& failure) {
        // Whatever else went wrong concerns this YP only.
        ResetHttp();
        return DownloadErrorText(yp.Url, failure.what());
    }

    attempt.Bytes = index.size();
    attempt.Outcome = closedEarly ? YpOutcome::Incomplete : YpOutcome::Fetched;
    // A server that closed the connection early leaves the previous list; that is not an error.
    if (!closedEarly) {
        std::string_view text = StripUtf8Bom(index);
        std::string converted;
        if (yp.UTF2SJIS) {
            try {
                converted = Utf8ToCp932(text);
            } catch (const std::exception&) {
                attempt.Outcome = YpOutcome::Failed;
                return ConversionErrorText(yp.Url);
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
        ReplaceFromIndex(yp, text, m_regExp);
        if (OnRecord)
            attempt.Index.assign(text);
        yp.ChList.Valid = true;
        ++yp.SuccessCount;
    }

    if (PcrawLoaded() && !hasPcrawHandle(yp))
        OpenPcrawChannel(yp);
    return {};
}

void TkavoNet::finish()
{
    if (m_worker.joinable())
        m_worker.join();
    m_report = m_working;
    if (!m_report.EndedEarly)
        m_chList.LastUpdate = m_cycleEnd;
    if (m_reloadPending)
        followSettings(true);
    if (m_clearLogPending) {
        m_clearLogPending = false;
        for (YpRecord& yp : m_yps)
            yp.ChListLog.Clear();
    }
    // Clear, then AddFrom of every YP's lists in configuration order, enabled or not.
    std::vector<const TkavoChList*> onAir;
    std::vector<const TkavoChList*> ended;
    for (const YpRecord& yp : m_yps) {
        onAir.push_back(&yp.ChList);
        ended.push_back(&yp.ChListLog);
    }
    const bool unique = m_cycle.Notify.Unique;
    MergeChannelLists(m_chList, onAir, unique);
    MergeChannelLists(m_chListLog, ended, unique);
    // The worker has ended, so its expression object is free.
    if (m_rematchPending)
        rematchFavorites();
    m_running = false;
    if (m_report.EndedEarly && OnCycleError)
        OnCycleError(*this, m_report.Error);
    if (OnSuccess)
        OnSuccess(*this);
    if (OnComplate)
        OnComplate(*this);
}

void TkavoNet::ClearLog()
{
    if (m_running) {
        m_clearLogPending = true;
        return;
    }
    for (YpRecord& yp : m_yps)
        yp.ChListLog.Clear();
    m_chListLog.Clear();
}

// ---- Steps that later work fills in

void TkavoNet::ReadLocalChannels()
{
    // The client begin() set up, before any YP of the cycle could have replaced it.
    kavo::ReadLocalChannels(m_cycle.URL.LocalChInfo, m_cycle.URL.LocalChInfoAddr, *m_http, m_regExp, m_localChList);
}

void TkavoNet::UpdateYp(YpRecord& yp)
{
    kavo::UpdateYp(yp, {UpdateOptions::From(m_cycle.Notify), m_cycle.Favorites, m_regExp, Now()});
}

void TkavoNet::MarkLocal(YpRecord& yp)
{
    kavo::MarkLocal(yp, m_localChList);
}

void TkavoNet::MarkVisited(YpRecord& yp)
{
    if (!m_cycle.Visit)
        return;
    for (TkavoChItem& channel : yp.ChList)
        channel.Visited = UrlVisited(channel.ContactURL);
}

bool TkavoNet::UrlVisited(const std::string& url)
{
    return m_visited && !url.empty() && m_visited->IsVisited(url);
}

void TkavoNet::LoadPcraw()
{
    m_pcraw->Load(ProgramFolder());
}

void TkavoNet::ClosePcrawChannel(YpRecord& yp)
{
    if (yp.PCRawHandle && m_pcraw->Owns(yp.PCRawHandle))
        m_pcraw->Close(yp.PCRawHandle);
    yp.PCRawHandle = nullptr;
}

void TkavoNet::ClosePcrawChannels()
{
    if (!PcrawLoaded())
        return;
    for (YpRecord& yp : m_yps)
        ClosePcrawChannel(yp);
    m_pcraw->Unload();
}

bool TkavoNet::PcrawLoaded() const
{
    return m_pcraw->Loaded();
}

bool TkavoNet::hasPcrawHandle(const YpRecord& yp) const
{
    return m_pcraw->Owns(yp.PCRawHandle);
}

int TkavoNet::PcrawChannelError(YpRecord& yp)
{
    if (!hasPcrawHandle(yp))
        return 0;
    yp.PCRawLastError = m_pcraw->LastError(yp.PCRawHandle);
    return yp.PCRawLastError;
}

bool TkavoNet::PcrawHasFreshData(YpRecord& yp)
{
    return PcrawLoaded() && kavo::PcrawHasFreshData(*m_pcraw, yp);
}

std::string TkavoNet::ReadPcrawIndex(YpRecord& yp)
{
    try {
        return m_pcraw->Read(yp.PCRawHandle);
    } catch (const PcrawError& failure) {
        throw RetrievalFailure(failure.what());
    }
}

void TkavoNet::OpenPcrawChannel(YpRecord& yp)
{
    // An invalid PCRawChName2 throws past the YP and ends the cycle.
    if (OpenPcrawIndexChannel(*m_pcraw, yp, m_regExp))
        pause(m_createTimer);
}

void TkavoNet::pause(int milliseconds)
{
    std::unique_lock lock(m_pauseLock);
    m_pauseWake.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return m_stopping; });
}

bool TkavoNet::YpScriptAvailable(const TkavoYpItem& yp)
{
    return CanDMS && m_scripts->ScriptFile(yp).has_value();
}

std::string TkavoNet::RunYpScript(YpRecord& yp, const std::string& input)
{
    std::optional<std::string> stdinText;
    if (!input.empty())
        stdinText = input;
    m_scriptHttp.reset();
    YpScriptResult result = m_scripts->RunYpScript(yp, m_cycle.URL.Proxy, m_cycle.URL.Timeout, stdinText);
    m_scriptHttp.reset();
    if (!result.Success)
        throw RetrievalFailure(result.Text);
    return std::move(result.Text);
}

std::string TkavoNet::scriptFetch(const std::string& url)
{
    if (!m_scriptHttp) {
        m_scriptHttp = std::make_unique<HttpClient>();
        m_scriptHttp->Apply(m_httpOptions);
    }
    HttpResponse response = m_scriptHttp->Get(url);
    switch (response.Outcome) {
    case HttpOutcome::Complete:
        return std::move(response.Body);
    case HttpOutcome::ClosedEarly:
        throw std::runtime_error("the server closed the connection before the answer was complete");
    case HttpOutcome::Failed:
        break;
    }
    throw std::runtime_error(response.Error);
}

std::optional<std::string> TkavoNet::PcrawVersion() const
{
    if (!PcrawLoaded())
        return std::nullopt;
    return m_pcraw->VersionText();
}

bool TkavoNet::RecreateScriptEngine()
{
    // The worker must never find its engine replaced halfway through a cycle.
    if (m_running)
        return false;
    return m_scripts->RecreateScriptEngine();
}

} // namespace kavo
