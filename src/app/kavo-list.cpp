// kavo-list: runs retrieval cycles with the settings of the program folder and prints the
// combined channel lists, for scripts, for tests and for trying settings out.
#include "ListOptions.h"
#include "ListOutput.h"
#include "common/Templates.h"
#include "common/YpLikePage.h"
#include "common/ukavoCommon.h"
#include "core/BroadcastIdentity.h"
#include "core/ChannelSearch.h"
#include "core/FindPattern.h"
#include "history/HistoryStore.h"
#include "net/EventLoop.h"
#include "net/ukavoNet.h"
#include "platform/Cp932.h"
#include "platform/DateTime.h"
#include "platform/ProgramFolder.h"
#include "platform/RegularExpression.h"
#include "platform/RegularFile.h"
#include "rules/RulesFile.h"
#include "rules/RulesImport.h"
#include "settings/IniFile.h"
#include "settings/TkavoSetting.h"
#include "version.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kavo {
namespace {

constexpr const char* Program = "kavo-list";

std::string Utf8(std::string_view cp932)
{
    return Cp932ToUtf8(cp932);
}

// ---- Search

// The lists as printed: as the window shows them, without the channels a favorite hides (unless
// --all); with --find copies with the channels the search finds marked, and with --find-only the
// others left out.
class SearchedLists
{
public:
    explicit SearchedLists(const ListOptions& options)
        : m_active(options.Find.has_value()), m_only(options.FindOnly), m_all(options.All),
          m_pattern(m_active ? MakeSearchPattern(Utf8ToCp932(*options.Find), m_regExp) : std::string())
    {}
    // The pattern as the find dialog would hold it (CP932).
    const std::string& Pattern() const { return m_pattern; }
    // Why the pattern cannot be used; "" when it can (or there is none).
    std::string PatternError() { return m_active ? ChannelSearch(m_pattern, m_regExp).Error() : std::string(); }

    const TkavoChList& Shown(const TkavoChList& source, TkavoChList& copy)
    {
        bool anyHidden = false;
        for (const TkavoChItem& channel : source)
            anyHidden = anyHidden || (channel.ListDisable && !m_all);
        if (!m_active && !anyHidden)
            return source;
        copy.Clear();
        std::optional<ChannelSearch> search;
        if (m_active)
            search.emplace(m_pattern, m_regExp);
        for (const TkavoChItem& channel : source) {
            if (channel.ListDisable && !m_all)
                continue;
            auto found = std::make_unique<TkavoChItem>();
            found->Assign(channel);
            if (search)
                found->Find = search->Matches(*found);
            if (found->Find || !m_only)
                copy.Add(std::move(found));
        }
        // Channels the pattern could not be tried on are said so, once a run.
        if (search && !search->MatchError().empty() && !m_limitReported) {
            m_limitReported = true;
            std::cerr << Program << ": --find: " << search->MatchError() << std::endl;
        }
        copy.LastUpdate = source.LastUpdate;
        return copy;
    }

private:
    bool m_active;
    bool m_only;
    bool m_all;
    bool m_limitReported = false;
    RegularExpression m_regExp;
    std::string m_pattern;
};

// ---- Templates

struct FileError
{
    std::string Message;
};

// A template file as kavo uses one: its lines joined with CR LF.
std::string ReadTemplateFile(const std::string& path)
{
    if (path.empty())
        return {};
    std::string bytes;
    if (const int error = ReadRegularFile(path, MaxTemplateBytes, bytes); error != 0)
        throw FileError{"cannot read " + path + ": " + ReadErrorText(error, MaxTemplateBytes)};
    return JoinLines(SplitLines(bytes));
}

TemplateTexts ReadTemplates(const ListOptions& options)
{
    return {ReadTemplateFile(options.Header), ReadTemplateFile(options.Template), ReadTemplateFile(options.Footer)};
}

// ---- Cycles

// The system clock moved on by the time steps asked for.
class SteppedClock : public Clock
{
public:
    DateTime Now() const override
    {
        timespec ts{};
        clock_gettime(CLOCK_REALTIME, &ts);
        return DateTimeFromTime(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9 / SecondsPerDay + m_offset.load();
    }
    void AddMinutes(double minutes) { m_offset.store(m_offset.load() + minutes / MinutesPerDay); }

private:
    std::atomic<double> m_offset{0};
};

// The YPs a refresh fetches; none is said so, as the refresh then has nothing to do.
int EnabledYps(const TkavoSetting& setting)
{
    int enabled = 0;
    for (const TkavoYpItem& yp : setting.YpList)
        enabled += yp.Enabled;
    if (enabled == 0)
        std::cerr << Program << ": no YP is enabled in " << TkavoSetting::SettingsFileName()
                  << ", so there is nothing to fetch. Add one in kavo's settings dialog (page \"YP\") or see"
                     " \"Adding a YP\" in kavo's README.\n";
    return enabled;
}

// One row for each broadcast, the listing of the first YP configured, with the titles of its YPs.
void MergeBroadcasts(const TkavoSetting& setting, const TkavoChList& onAir, TkavoChList& merged,
                     std::vector<std::vector<std::string>>& yps)
{
    const auto rank = [&](const TkavoChItem& c) {
        const int index = setting.YpList.IndexOfUrl(c.YpAddr);
        return index >= 0 ? index : setting.YpList.Count();
    };
    for (const auto& group : GroupBroadcasts(onAir, rank)) {
        merged.Add(std::make_unique<TkavoChItem>()).Assign(*group.front());
        std::vector<std::string>& titles = yps.emplace_back();
        for (const TkavoChItem* listing : group) {
            const int index = setting.YpList.IndexOfUrl(listing->YpAddr);
            titles.push_back(Utf8(index >= 0 && !setting.YpList[index].Title.empty() ? setting.YpList[index].Title
                                                                                     : listing->YpAddr));
        }
    }
}

int RunCycles(const ListOptions& options, const std::optional<TemplateTexts>& templates, const TkavoSetting& setting,
              const IniFile& settingsFile, HistoryStore& history)
{
    const bool reportOnly = options.YpStatus || options.History || options.Notifications || options.Regulars;
    std::shared_ptr<SteppedClock> clock;
    if (options.TimeStepMinutes > 0) {
        clock = std::make_shared<SteppedClock>();
        SetClock(clock);
    }
    const int enabled = EnabledYps(setting);

    // Tag expansion only; it plays no sounds.
    std::optional<TkavoCommon> common;
    SearchedLists searched(options);
    if (const std::string error = searched.PatternError(); !error.empty()) {
        std::cerr << Program << ": --find: " << error << std::endl;
        return 2;
    }
    if (templates) {
        common.emplace(setting, CommonPaths::Current(), nullptr);
        common->FindValue2 = searched.Pattern();
        common->FindValueSource = [&searched] { return searched.Pattern(); };
    }

    EventLoop loop;
    TkavoNet net(loop.Dispatcher(), setting);
    std::mutex errorLock;
    std::vector<std::string> errors; // of the running cycle
    auto report = [&](const std::string& text) {
        const std::string utf8 = Utf8(text);
        std::lock_guard lock(errorLock);
        errors.push_back(utf8);
        std::cerr << TerminalLines(utf8) << std::endl;
    };
    net.OnError = [&](TkavoNet&, const std::string& error) { report(error); };
    net.OnCycleError = [&](TkavoNet&, const std::string& message) { report(message); };
    net.OnRecord = [&](RetrievalRecord& record) { history.Record(record); };
    net.Prepare(settingsFile);

    bool succeeded = false;
    if (options.Format == OutputFormat::Tsv && !templates && !reportOnly)
        std::cout << ChannelTsvHeader(options.Merge);
    for (int cycle = 1; cycle <= options.Cycles; ++cycle) {
        {
            std::lock_guard lock(errorLock);
            errors.clear();
        }
        net.Manual = cycle == 1 || options.Manual;
        net.StartRetrieval();
        loop.RunUntil([&] { return !net.Running(); }, std::chrono::hours(24 * 365));
        const TkavoNet::CycleReport& result = net.LastCycle();
        succeeded = succeeded || result.Retrieved > result.Failed;
        // What is printed is in the file too.
        history.Flush();

        TkavoChList onAirCopy;
        TkavoChList endedCopy;
        const TkavoChList& onAir = searched.Shown(net.ChList(), onAirCopy);
        const TkavoChList& ended = searched.Shown(net.ChListLog(), endedCopy);

        if (reportOnly) {
        } else if (templates && (options.AllCycles || cycle == options.Cycles)) {
            const std::string page = ExpandTemplates(*common, *templates, onAir);
            std::cout << TerminalLines(options.Encoding == TemplateEncoding::Sjis ? page : Utf8(page));
            std::cout.flush();
        } else if (options.AllCycles || cycle == options.Cycles) {
            std::lock_guard lock(errorLock);
            TkavoChList merged;
            std::vector<std::vector<std::string>> yps;
            if (options.Merge)
                MergeBroadcasts(setting, onAir, merged, yps);
            const TkavoChList& shown = options.Merge ? merged : onAir;
            const CycleLists lists{cycle,
                                   shown,
                                   ended,
                                   errors,
                                   net.ChList().StatusText(),
                                   IpFamiliesOf(setting.URL.LocalIPFamily),
                                   options.Merge ? &yps : nullptr};
            std::cout << CycleOutput(lists, {options.Format, options.Log, options.AllCycles, cycle < options.Cycles},
                                     setting);
            std::cout.flush();
        }

        if (cycle < options.Cycles) {
            if (clock)
                clock->AddMinutes(options.TimeStepMinutes);
            if (options.IntervalSeconds > 0)
                std::this_thread::sleep_for(std::chrono::duration<double>(options.IntervalSeconds));
        }
    }
    if (clock)
        SetClock(nullptr);
    return enabled == 0 || succeeded ? 0 : 1;
}

// One refresh, then the page of kavo's YP-style view, byte for byte.
int RunPage(const ListOptions& options, const TkavoSetting& setting, const IniFile& settingsFile)
{
    TkavoCommon common(setting, CommonPaths::Current(), nullptr);
    bool templatesRead = true;
    common.OnTemplateError = [&](const std::string& message) {
        std::cerr << Program << ": " << TerminalLines(Utf8(message)) << std::endl;
        templatesRead = false;
    };
    common.ReadTheme(settingsFile);
    common.LoadTemplates();
    if (!templatesRead)
        return 2;
    const YpLikeLiteOptions lite = options.Lite ? *options.Lite : ReadLiteOptions(settingsFile);

    const int enabled = EnabledYps(setting);
    EventLoop loop;
    TkavoNet net(loop.Dispatcher(), setting);
    const auto report = [](TkavoNet&, const std::string& error) {
        static std::mutex lock;
        std::lock_guard guard(lock);
        std::cerr << TerminalLines(Utf8(error)) << std::endl;
    };
    net.OnError = report;
    net.OnCycleError = report;
    net.Prepare(settingsFile);
    net.Manual = true;
    net.StartRetrieval();
    loop.RunUntil([&] { return !net.Running(); }, std::chrono::hours(24 * 365));
    const TkavoNet::CycleReport& result = net.LastCycle();

    const TkavoChList& list = net.ChList();
    std::cout << BuildYpLikePage(common, list, OnAirFirstOrder(list), YpLikeLiteFilter(lite, setting.Notify.Rank2));
    std::cout.flush();
    return enabled == 0 || result.Retrieved > result.Failed ? 0 : 1;
}

// --yp-status, --history, --notifications and --regulars, after the refreshes asked for, if any.
int RunReport(const ListOptions& options, const std::optional<TemplateTexts>& templates, const TkavoSetting& setting,
              const IniFile& settingsFile, HistoryStore& history)
{
    std::string pattern;
    if (options.Search) {
        pattern = FindPatternFromInput(Utf8ToCp932(*options.Search));
        try {
            RegularExpression check;
            check.Pattern = pattern;
            check.Test("");
        } catch (const RegularExpressionError& error) {
            std::cerr << Program << ": --search: " << error.what() << std::endl;
            return 2;
        }
    }
    int status = 0;
    if (options.CyclesGiven)
        status = RunCycles(options, templates, setting, settingsFile, history);
    // An empty table would say that nothing was recorded.
    if (const std::string problem = history.ReadProblem(); !problem.empty()) {
        std::cerr << Program << ": " << problem << std::endl;
        return 1;
    }
    if (options.YpStatus) {
        std::vector<YpHealth> configured;
        for (const TkavoYpItem& yp : setting.YpList)
            configured.push_back(YpHealth::Of(yp.Url, yp.Title, yp.Enabled));
        std::cout << YpStatusOutput(history.YpStatus(configured), options.Format, Now());
    } else if (options.Notifications) {
        const DateTime since = options.SinceDays > 0 ? Now() - options.SinceDays : 0;
        std::cout << NotificationsOutput(history.Notifications(since), options.Format);
    } else if (options.Regulars) {
        RegularsRequest request;
        request.Now = Now();
        if (!options.At.empty())
            request.At = ParseWeekTime(options.At, request.Now);
        request.Weeks = options.Weeks.value_or(setting.History.RegularWeeks);
        request.MinWeeks = options.MinWeeks.value_or(setting.History.RegularMinWeeks);
        std::cout << RegularsOutput(history.Regulars(request), options.Format);
    } else {
        BroadcastQuery query;
        query.Pattern = pattern;
        query.Limit = 0;
        if (options.SinceDays > 0)
            query.Since = Now() - options.SinceDays;
        std::cout << HistoryOutput(history.Broadcasts(query), options.Format);
    }
    std::cout.flush();
    return status;
}

// ---- Rules files

// --export-rules and --import-rules: the settings' favorites and YPs to a rules file and back.
int RunRules(const ListOptions& options, TkavoSetting& setting)
{
    if (!options.ExportRules.empty()) {
        try {
            WriteRulesFile(options.ExportRules, RulesText(RulesOf(setting)));
        } catch (const RulesError& error) {
            std::cerr << Program << ": " << error.what() << std::endl;
            return 1;
        }
        return 0;
    }
    const std::string& file = options.ImportRules;
    const std::string name = file == "-" ? "standard input" : file;
    RulesReading reading;
    try {
        reading = ParseRules(ReadRulesFile(file));
    } catch (const RulesError& error) {
        std::string message = error.what();
        // A fault in the document names its place in it; a file that cannot be read names itself.
        if (!message.starts_with(name + ": "))
            message = name + ": " + message;
        std::cerr << Program << ": " << message << "\n"
                  << Program << ": nothing was imported; " << TkavoSetting::SettingsFileName() << " is unchanged"
                  << std::endl;
        return 1;
    }
    const ImportSummary summary =
        ImportRules(reading, options.Replace ? ImportMode::Replace : ImportMode::Add, setting);
    try {
        setting.Save();
    } catch (const IniWriteError& error) {
        std::cerr << Program << ": " << Cp932ToUtf8(error.what()) << std::endl;
        return 1;
    }
    std::cout << ImportSummaryText(summary);
    std::cout.flush();
    // kavo writes its own changes to the file it follows; an import here is one of them, or kavo
    // would take the followed file's older rules back when it starts.
    if (const std::string followed = FollowedRulesFile(setting); !followed.empty()) {
        try {
            WriteRulesFile(followed, RulesText(RulesOf(setting)));
        } catch (const RulesError& error) {
            std::cerr << Program << ": the rules file kavo follows: " << error.what() << std::endl;
            return 1;
        }
    }
    return 0;
}

int Main(int argc, char** argv)
{
    ListOptions options;
    try {
        options = ParseListArguments(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const ListUsageError& error) {
        std::cerr << Program << ": " << error.Message << "\nTry '" << Program << " --help'." << std::endl;
        return 2;
    }
    if (options.Help) {
        std::cout << ListHelpText();
        return 0;
    }
    if (options.Version) {
        std::cout << Program << " (" << version::ProductName << ") " << version::Version << '\n';
        return 0;
    }

    // kavo makes its folder on a first start; a folder named here that is not there is a typing
    // error, and must not become a new program folder.
    if (std::error_code error; !options.Home.empty() && !std::filesystem::is_directory(options.Home, error)) {
        std::cerr << Program << ": --home: no folder " << options.Home << "\nTry '" << Program << " --help'."
                  << std::endl;
        return 2;
    }
    // The settings file is kavo's own (kavo.ini), not one named after this program.
    SetProgramName("kavo");
    SetProgramFolder(ResolveProgramFolder(ProgramFolderSources::FromEnvironment(options.Home, "")));
    // Read once; the settings and the retrieval module take what they keep there.
    std::string problem;
    const IniFile settingsFile = IniFile::Read(TkavoSetting::SettingsFileName(), &problem);
    if (!problem.empty())
        std::cerr << Program << ": " << Cp932ToUtf8(problem) << std::endl;
    TkavoSetting setting;
    setting.LoadFrom(settingsFile);

    if (!options.ExportRules.empty() || !options.ImportRules.empty())
        return RunRules(options, setting);
    if (options.Settings) {
        std::cout << DumpJson(SettingsJson(setting), 2) << '\n';
        return 0;
    }
    if (options.Page)
        return RunPage(options, setting, settingsFile);
    std::optional<TemplateTexts> templates;
    if (!options.Template.empty()) {
        try {
            templates = ReadTemplates(options);
        } catch (const FileError& error) {
            std::cerr << Program << ": " << error.Message << std::endl;
            return 2;
        }
    }
    HistoryStore history(ProgramFolder() + "/" + HistoryStore::FileName);
    history.SetProblemHandler([](const std::string& problem) { std::cerr << Program << ": " << problem << std::endl; });
    if (options.YpStatus || options.History || options.Notifications || options.Regulars)
        return RunReport(options, templates, setting, settingsFile, history);
    return RunCycles(options, templates, setting, settingsFile, history);
}

} // namespace
} // namespace kavo

int main(int argc, char** argv)
{
    try {
        return kavo::Main(argc, argv);
    } catch (const std::exception& failure) {
        std::cerr << kavo::Program << ": " << failure.what() << std::endl;
        return 1;
    }
}
