#include "net/ukavoNet.h"

#include "platform/VisitedUrls.h"

#include "net/ChannelMerge.h"
#include "net/IndexParser.h"
#include "net/LocalChannels.h"
#include "net/Pcraw.h"
#include "net/UpdateYp.h"
#include "platform/Cp932.h"
#include "platform/DateTime.h"
#include "platform/ProgramFolder.h"
#include "script/YpScriptRunner.h"
#include "settings/IniFile.h"

#include <chrono>
#include <new>
#include <optional>
#include <stdexcept>
#include <sys/resource.h>
#include <unistd.h>

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

// Thread priorities map to nice values of the calling thread; raising one may need a privilege
// the user does not have, which is ignored.
void ApplyThreadPriority(int index)
{
    const int priority = TkavoSetting::ThreadPriority(index);
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), -5 * priority);
}

} // namespace

HttpOptions HttpOptionsFromSettings(const TkavoSetting::URLOptions& url)
{
    HttpOptions options;
    options.Protocol = url.Protocol;
    // A time-out of 0 or less would wait for ever and hang the cycle.
    const auto timeout = ParseIniInteger(url.Timeout);
    options.TimeoutSeconds = timeout && *timeout > 0 ? *timeout : DefaultTimeoutSeconds;

    TkavoRegExp regExp;
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

TkavoNet::TkavoNet(Dispatcher dispatcher)
    : m_dispatcher(std::move(dispatcher)), m_pcraw(std::make_unique<PcrawLibrary>())
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
    *m_alive = false;
    {
        std::lock_guard lock(m_pauseLock);
        m_stopping = true;
    }
    m_pauseWake.notify_all();
    if (m_worker.joinable())
        m_worker.join();
    ClosePcrawChannels();
}

void TkavoNet::Prepare()
{
    const int createTimer = IniFile::Read(TkavoSetting::SettingsFileName()).ReadInteger("PCRAW", "CreateTimer", 1000);
    m_createTimer = createTimer > 0 ? createTimer : 0;
    m_firstCycleDone = false;
    // The HTTP client, and the library behind it, is made by the first cycle: loading it here
    // would hold back the first window.
    m_httpOptions = HttpOptionsFromSettings(Setting().URL);
    if (m_http)
        m_http->Apply(m_httpOptions);
}

void TkavoNet::SetupHttp()
{
    m_httpOptions = HttpOptionsFromSettings(Setting().URL);
    http().Apply(m_httpOptions);
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

void TkavoNet::StartRetrieval()
{
    if (m_running.exchange(true))
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
    const TkavoSetting& setting = Setting();
    m_cycle.Manual = Manual;
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
        ReadLocalChannels();
        const TkavoYpList& yps = Setting().YpList;
        for (int i = 0; i < yps.Count(); ++i) {
            TkavoYpItem& yp = yps[i];
            if (!yp.Enabled) {
                yp.ChList.Clear();
                continue;
            }
            retrieveOrSkip(yp);
            UpdateYp(yp);
            MarkLocal(yp);
            MarkVisited(yp);
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
    m_dispatcher([this, alive = m_alive] {
        if (*alive)
            finish();
    });
}

void TkavoNet::retrieveOrSkip(TkavoYpItem& yp)
{
    if (m_firstCycleDone && !m_cycle.Manual) {
        const bool throttled = !hasPcrawHandle(yp) || PcrawChannelError(yp) != 0;
        if (throttled && Now() < yp.LastUpdate + ThrottleDays) {
            ++m_working.Skipped;
            return;
        }
    }
    ++m_working.Retrieved;
    const std::string error = RetrieveYp(yp);
    if (error.empty()) {
        yp.LastUpdate = Now();
        return;
    }
    // LastUpdate stays, so the next automatic cycle tries this YP again.
    ++m_working.Failed;
    if (OnError)
        OnError(*this, error);
}

std::string TkavoNet::RetrieveYp(TkavoYpItem& yp)
{
    std::string index;
    bool closedEarly = false;
    try {
        if (!PcrawHasFreshData(yp)) {
            if (YpScriptAvailable(yp)) {
                index = RunYpScript(yp, {});
            } else {
                HttpResponse response = http().Get(yp.Url + "index.txt?host=" + yp.Host);
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
    }

    // A server that closed the connection early leaves the previous list; that is not an error.
    if (!closedEarly) {
        std::string_view text = StripUtf8Bom(index);
        std::string converted;
        if (yp.UTF2SJIS) {
            try {
                converted = Utf8ToCp932(text);
            } catch (const std::exception&) {
                return ConversionErrorText(yp.Url);
            }
            text = converted;
        }
        if (CountChannelLines(text, MaxChannelsPerYp) > MaxChannelsPerYp)
            return DownloadErrorText(yp.Url, "the index lists more than " + std::to_string(MaxChannelsPerYp) +
                                                 " channels; the previous list is kept");
        ReplaceFromIndex(yp, text, m_regExp);
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
    // Clear, then AddFrom of every YP's lists in configuration order, enabled or not.
    std::vector<const TkavoChList*> onAir;
    std::vector<const TkavoChList*> ended;
    for (const TkavoYpItem& yp : Setting().YpList) {
        onAir.push_back(&yp.ChList);
        ended.push_back(&yp.ChListLog);
    }
    const bool unique = Setting().Notify.Unique;
    MergeChannelLists(m_chList, onAir, unique);
    MergeChannelLists(m_chListLog, ended, unique);
    m_running = false;
    if (m_report.EndedEarly && OnCycleError)
        OnCycleError(*this, m_report.Error);
    if (OnSuccess)
        OnSuccess(*this);
    if (OnComplate)
        OnComplate(*this);
}

// ---- Steps that later work fills in

void TkavoNet::ReadLocalChannels()
{
    // The client begin() set up, before any YP of the cycle could have replaced it.
    kavo::ReadLocalChannels(m_cycle.URL.LocalChInfo, m_cycle.URL.LocalChInfoAddr, *m_http, m_regExp, m_localChList);
}

void TkavoNet::UpdateYp(TkavoYpItem& yp)
{
    kavo::UpdateYp(yp, {UpdateOptions::From(m_cycle.Notify), m_cycle.Favorites, m_regExp, Now()});
}

void TkavoNet::MarkLocal(TkavoYpItem& yp)
{
    kavo::MarkLocal(yp, m_localChList);
}

void TkavoNet::MarkVisited(TkavoYpItem& yp)
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

void TkavoNet::ClosePcrawChannels()
{
    if (!PcrawLoaded())
        return;
    for (TkavoYpItem& yp : Setting().YpList) {
        if (!yp.PCRawHandle)
            continue;
        m_pcraw->Close(yp.PCRawHandle);
        // The records outlive the module; a handle left in them would dangle.
        yp.PCRawHandle = nullptr;
    }
    // Channels whose YP went with a settings reload are closed as well.
    m_pcraw->Unload();
}

bool TkavoNet::PcrawLoaded() const
{
    return m_pcraw->Loaded();
}

bool TkavoNet::hasPcrawHandle(const TkavoYpItem& yp) const
{
    return m_pcraw->Owns(yp.PCRawHandle);
}

int TkavoNet::PcrawChannelError(TkavoYpItem& yp)
{
    if (!hasPcrawHandle(yp))
        return 0;
    yp.PCRawLastError = m_pcraw->LastError(yp.PCRawHandle);
    return yp.PCRawLastError;
}

bool TkavoNet::PcrawHasFreshData(TkavoYpItem& yp)
{
    return PcrawLoaded() && kavo::PcrawHasFreshData(*m_pcraw, yp);
}

std::string TkavoNet::ReadPcrawIndex(TkavoYpItem& yp)
{
    try {
        return m_pcraw->Read(yp.PCRawHandle);
    } catch (const PcrawError& failure) {
        throw RetrievalFailure(failure.what());
    } catch (const std::bad_alloc&) {
        throw RetrievalFailure("PCRaw: out of memory while reading the channel");
    }
}

void TkavoNet::OpenPcrawChannel(TkavoYpItem& yp)
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

std::string TkavoNet::RunYpScript(TkavoYpItem& yp, const std::string& input)
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

bool TkavoNet::RecreateScriptEngine()
{
    // The worker must never find its engine replaced halfway through a cycle.
    if (m_running)
        return false;
    return m_scripts->RecreateScriptEngine();
}

} // namespace kavo
