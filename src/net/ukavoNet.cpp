#include "net/ukavoNet.h"

#include "net/ChannelMerge.h"
#include "net/IndexParser.h"
#include "net/LocalChannels.h"
#include "net/UpdateYp.h"
#include "platform/Cp932.h"
#include "platform/DateTime.h"
#include "settings/IniFile.h"

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

TkavoNet::TkavoNet(Dispatcher dispatcher) : m_dispatcher(std::move(dispatcher))
{
    if (!m_dispatcher)
        throw std::invalid_argument("TkavoNet needs a dispatcher to the main thread");
    LoadPcraw();
}

TkavoNet::~TkavoNet()
{
    *m_alive = false;
    if (m_worker.joinable())
        m_worker.join();
    ClosePcrawChannels();
}

void TkavoNet::Prepare()
{
    // The pause after opening a PCRaw channel ([PCRAW] CreateTimer) is read with PCRaw support.
    m_createTimer = 1000;
    m_firstCycleDone = false;
    SetupHttp();
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
    m_cycle.Favorites.Assign(setting.Favorites);
    m_cycle.BbsPattern = setting.Etc.TwoChPtn;
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
            m_stdoutText.clear();
            m_stderrText.clear();
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
        const bool throttled = !yp.PCRawHandle || PcrawChannelError(yp) != 0;
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
        ReplaceFromIndex(yp, text, m_regExp);
        yp.ChList.Valid = true;
        ++yp.SuccessCount;
    }

    if (PcrawLoaded() && !yp.PCRawHandle)
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
    kavo::UpdateYp(yp, {UpdateOptions::From(m_cycle.Notify), m_cycle.Favorites, m_regExp, m_cycle.BbsPattern, Now()});
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

bool TkavoNet::UrlVisited(const std::string&)
{
    // Until the visited-URL store exists, no URL has been visited.
    return false;
}

void TkavoNet::LoadPcraw() {}

void TkavoNet::ClosePcrawChannels() {}

bool TkavoNet::PcrawLoaded() const
{
    return false;
}

int TkavoNet::PcrawChannelError(const TkavoYpItem&)
{
    return 0;
}

bool TkavoNet::PcrawHasFreshData(TkavoYpItem&)
{
    // Without PCRaw support no YP has a handle, and there is never fresh data.
    return false;
}

std::string TkavoNet::ReadPcrawIndex(TkavoYpItem&)
{
    return {};
}

void TkavoNet::OpenPcrawChannel(TkavoYpItem&) {}

bool TkavoNet::YpScriptAvailable(const TkavoYpItem&)
{
    // Retrieval scripts need the script engine; until it is present every YP is fetched over HTTP.
    return false;
}

std::string TkavoNet::RunYpScript(TkavoYpItem&, const std::string& input)
{
    return input;
}

} // namespace kavo
