#include "net/ukavoNet.h"

#include "core/ChannelSearch.h"
#include "net/ChannelMerge.h"
#include "net/Pcraw.h"
#include "platform/ProgramFolder.h"
#include "script/YpScriptRunner.h"
#include "settings/IniFile.h"

#include <stdexcept>
#include <unordered_map>

namespace kavo {

namespace {

constexpr int DefaultTimeoutSeconds = 60;

} // namespace

HttpOptions HttpOptionsFromSettings(const TkavoSetting::URLOptions& url)
{
    HttpOptions options;
    options.Protocol = url.Protocol;
    // A time-out of 0 or less would wait for ever and hang the refresh.
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
    : m_dispatcher(std::move(dispatcher)), m_setting(setting), m_state(std::make_unique<RetrievalCycle::State>()),
      m_pcraw(std::make_unique<PcrawLibrary>())
{
    if (!m_dispatcher)
        throw std::invalid_argument("TkavoNet needs a dispatcher to the main thread");
    // A relative script path is taken from the program folder, where the settings file is.
    m_scripts = std::make_unique<YpScriptRunner>(ProgramFolder());
    m_pcraw->Load(ProgramFolder());
}

TkavoNet::~TkavoNet()
{
    Stop();
    closePcrawChannels();
}

void TkavoNet::Stop()
{
    KAVO_ON_MAIN_THREAD(m_mainThread);
    *m_alive = false;
    m_stop->Stop();
    if (m_worker.joinable()) {
        // The records come back without the finish step, for their PCRaw channels to be closed.
        m_state = takeCycle()->TakeState();
    }
    m_running = false;
}

void TkavoNet::Prepare(const IniFile& settingsFile)
{
    KAVO_ON_MAIN_THREAD(m_mainThread);
    KAVO_NO_REFRESH_RUNNING(m_running);
    const int createTimer = settingsFile.ReadInteger("PCRAW", "CreateTimer", 1000);
    m_createTimer = createTimer > 0 ? createTimer : 0;
    m_firstCycleDone = false;
    m_state->Http.Apply(HttpOptionsFromSettings(m_setting.URL));
    followSettings(false);
}

const TypedList<YpRecord>& TkavoNet::Yps() const
{
    KAVO_ON_MAIN_THREAD(m_mainThread);
    KAVO_NO_REFRESH_RUNNING(m_running);
    static const TypedList<YpRecord> none;
    return m_state ? m_state->Yps : none;
}

const YpRecord* TkavoNet::Yp(const std::string& url) const
{
    for (const YpRecord& yp : Yps())
        if (yp.Url == url)
            return &yp;
    return nullptr;
}

void TkavoNet::SettingsReloaded(const std::vector<std::string>& removed)
{
    KAVO_ON_MAIN_THREAD(m_mainThread);
    m_droppedUrls.insert(removed.begin(), removed.end());
    if (!m_running) {
        followSettings(true);
        return;
    }
    m_reloadPending = true;
    std::unordered_set<std::string_view> configured;
    for (const TkavoYpItem& yp : m_setting.YpList)
        configured.insert(yp.Url);
    for (const std::string& url : m_cycleUrls)
        if (!configured.contains(url))
            m_droppedUrls.insert(url);
}

void TkavoNet::SettingsEdited()
{
    KAVO_ON_MAIN_THREAD(m_mainThread);
    if (!m_running) {
        followSettings(false);
        return;
    }
    m_editPending = true;
}

void TkavoNet::followSettings(bool reload)
{
    TypedList<YpRecord>& yps = m_state->Yps;
    std::vector<std::unique_ptr<TkavoDataItem>> old = yps.Release();
    std::unordered_map<std::string_view, std::size_t> oldByUrl;
    for (std::size_t i = 0; i < old.size(); ++i) {
        const auto& yp = static_cast<const YpRecord&>(*old[i]);
        if (!m_droppedUrls.contains(yp.Url))
            oldByUrl.emplace(yp.Url, i);
    }
    yps.Reserve(m_setting.YpList.Count());
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
        yps.Add(std::move(record));
    }
    for (auto& record : old)
        if (record)
            closePcrawChannel(static_cast<YpRecord&>(*record));
    m_droppedUrls.clear();
    m_reloadPending = false;
    m_editPending = false;
}

bool TkavoNet::RematchFavorites()
{
    KAVO_ON_MAIN_THREAD(m_mainThread);
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
        matcher.Match(channel, m_state->RegExp);
}

void TkavoNet::StartRetrieval()
{
    KAVO_ON_MAIN_THREAD(m_mainThread);
    if (!*m_alive || m_running)
        return;
    // Shared until the worker has started: should it fail to start, the records are still here.
    const auto handover = std::make_shared<std::unique_ptr<RetrievalCycle>>(begin());
    std::promise<std::unique_ptr<RetrievalCycle>> done;
    std::future<std::unique_ptr<RetrievalCycle>> finished = done.get_future();
    try {
        m_worker =
            std::thread([this, handover, done = std::move(done), dispatcher = m_dispatcher, alive = m_alive]() mutable {
                std::unique_ptr<RetrievalCycle> cycle = std::move(*handover);
                cycle->Run();
                done.set_value(std::move(cycle));
                dispatcher([this, alive] {
                    if (*alive)
                        finish();
                });
            });
    } catch (...) {
        m_state = (*handover)->TakeState();
        throw;
    }
    m_finished = std::move(finished);
    m_running = true;
}

std::unique_ptr<RetrievalCycle> TkavoNet::begin()
{
    const TkavoSetting& setting = m_setting;
    // Entries edited in place since the last reload take effect, without starting logs again.
    followSettings(false);
    m_state->Http.Apply(HttpOptionsFromSettings(setting.URL));
    m_cycleUrls.clear();
    for (const YpRecord& yp : m_state->Yps)
        m_cycleUrls.push_back(yp.Url);

    RetrievalCycle::Options options;
    options.Manual = Manual;
    options.FirstCycleDone = m_firstCycleDone;
    options.Visit = setting.ColorFont.Visit;
    options.ThreadPriority = setting.Priority.KAVOThread;
    options.CreateTimer = m_createTimer;
    options.URL = setting.URL;
    options.Notify = setting.Notify;
    options.Favorites = FavoriteMatcher(setting.Favorites, setting.Etc.TwoChPtn);

    RetrievalCycle::Events events;
    if (OnError || OnYpError)
        events.Error = [this, handler = OnError, named = OnYpError](const std::string& error,
                                                                    const std::string& ypName) {
            if (handler)
                handler(*this, error);
            if (named)
                named(*this, error, ypName);
        };
    events.Record = OnRecord;
    events.FetchYp = OnFetchYp;
    if (OnProgress)
        events.Progress = [this, dispatcher = m_dispatcher, alive = m_alive](int current, int total,
                                                                             const std::string& title) {
            dispatcher([this, alive, current, total, title] {
                if (*alive && OnProgress)
                    OnProgress(*this, current, total, title);
            });
        };

    return std::make_unique<RetrievalCycle>(std::move(m_state), std::move(options), std::move(events),
                                            RetrievalCycle::Services{*m_pcraw, *m_scripts, CanDMS, m_visited, m_stop});
}

std::unique_ptr<RetrievalCycle> TkavoNet::takeCycle()
{
    m_worker.join();
    return m_finished.get();
}

void TkavoNet::finish()
{
    const std::unique_ptr<RetrievalCycle> cycle = takeCycle();
    m_state = cycle->TakeState();
    m_report = cycle->Result();
    if (cycle->Completed()) {
        m_firstCycleDone = true;
        m_chList.LastUpdate = cycle->EndTime();
    }
    if (m_reloadPending)
        followSettings(true);
    else if (m_editPending)
        followSettings(false);
    if (m_clearLogPending) {
        m_clearLogPending = false;
        for (YpRecord& yp : m_state->Yps)
            yp.ChListLog.Clear();
    }
    // Clear, then AddFrom of every YP's lists in configuration order, enabled or not.
    std::vector<const TkavoChList*> onAir;
    std::vector<const TkavoChList*> ended;
    for (const YpRecord& yp : m_state->Yps) {
        onAir.push_back(&yp.ChList);
        ended.push_back(&yp.ChListLog);
    }
    const bool unique = cycle->Settings().Notify.Unique;
    MergeChannelLists(m_chList, onAir, unique);
    MergeChannelLists(m_chListLog, ended, unique);
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
    KAVO_ON_MAIN_THREAD(m_mainThread);
    if (m_running) {
        m_clearLogPending = true;
        return;
    }
    for (YpRecord& yp : m_state->Yps)
        yp.ChListLog.Clear();
    m_chListLog.Clear();
}

void TkavoNet::SetVisitedUrls(VisitedUrls* store)
{
    KAVO_ON_MAIN_THREAD(m_mainThread);
    KAVO_NO_REFRESH_RUNNING(m_running);
    m_visited = store;
}

TkavoChItem* TkavoNet::ownChannel(const TkavoChItem& channel)
{
    TkavoChList* list = nullptr;
    if (channel.List == &m_chList)
        list = &m_chList;
    else if (channel.List == &m_chListLog)
        list = &m_chListLog;
    if (list)
        for (TkavoChItem& own : *list)
            if (&own == &channel)
                return &own;
    return nullptr;
}

bool TkavoNet::MarkRelaying(const TkavoChItem& channel)
{
    KAVO_ON_MAIN_THREAD(m_mainThread);
    TkavoChItem* own = ownChannel(channel);
    if (own) {
        own->LocalStatus = "CONNECT";
        own->Diff = TkavoDiff::Relaying;
    }
    return own != nullptr;
}

bool TkavoNet::MarkStopped(const TkavoChItem& channel)
{
    KAVO_ON_MAIN_THREAD(m_mainThread);
    TkavoChItem* own = ownChannel(channel);
    if (own) {
        own->LocalStatus.clear();
        own->Diff = TkavoDiff::None;
    }
    return own != nullptr;
}

void TkavoNet::SetFindMarks(const std::vector<const TkavoChItem*>& rows, const std::vector<bool>& found)
{
    KAVO_ON_MAIN_THREAD(m_mainThread);
    MarkFound(m_chList, rows, found);
    MarkFound(m_chListLog, rows, found);
}

void TkavoNet::closePcrawChannel(YpRecord& yp)
{
    if (yp.PCRawHandle && m_pcraw->Owns(yp.PCRawHandle))
        m_pcraw->Close(yp.PCRawHandle);
    yp.PCRawHandle = nullptr;
}

void TkavoNet::closePcrawChannels()
{
    if (!m_pcraw->Loaded())
        return;
    if (m_state)
        for (YpRecord& yp : m_state->Yps)
            closePcrawChannel(yp);
    m_pcraw->Unload();
}

std::optional<std::string> TkavoNet::PcrawVersion() const
{
    KAVO_ON_MAIN_THREAD(m_mainThread);
    if (!m_pcraw->Loaded())
        return std::nullopt;
    return m_pcraw->VersionText();
}

bool TkavoNet::RecreateScriptEngine()
{
    KAVO_ON_MAIN_THREAD(m_mainThread);
    // The worker must never find its engine replaced halfway through a refresh.
    if (m_running)
        return false;
    return m_scripts->RecreateScriptEngine();
}

} // namespace kavo
