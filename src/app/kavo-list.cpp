// kavo-list: runs retrieval cycles with the settings of the program folder and prints the
// combined channel lists, for scripts, for tests and for trying settings out.
#include "common/Templates.h"
#include "common/YpLikePage.h"
#include "common/ukavoCommon.h"
#include "core/ChannelSearch.h"
#include "core/FindPattern.h"
#include "history/HistoryStore.h"
#include "net/EventLoop.h"
#include "net/ukavoNet.h"
#include "platform/Cp932.h"
#include "platform/DateTime.h"
#include "platform/HtmlEntities.h"
#include "platform/ProgramFolder.h"
#include "platform/RegularExpression.h"
#include "platform/RegularFile.h"
#include "settings/IniFile.h"
#include "settings/TkavoSetting.h"
#include "version.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <iostream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace kavo {
namespace {

using Json = nlohmann::ordered_json;

constexpr const char* Program = "kavo-list";

constexpr const char* HelpText = R"(Usage: kavo-list [OPTION]...
Fetches the enabled YPs of kavo's settings, as one refresh of kavo does, and prints the
combined list of channels on air.

  --home DIR          the program folder (settings file kavo.ini); otherwise $KAVO_HOME,
                      the program's own folder when writable, or ~/.config/kavo
  --cycles N          run N refreshes (default 1); the first is manual, the others are
                      automatic and skip a YP fetched less than 10 minutes before
  --manual            make every refresh manual (no 10-minute rule)
  --interval SECONDS  wait this long between refreshes (default 0)
  --time-step MINUTES move kavo's clock on by this much after every refresh, to try the
                      refresh rules without waiting (default 0)
  --format FORMAT     table (default, for people), tsv (for scripts) or json (one object a line)
  --all-cycles        print the lists after every refresh, not only after the last
  --log               also print the ended channels (json output always carries them)
  --all               also list the channels that a favorite with "リストに表示しない" hides
                      (kavo's window never shows them; they carry ListDisable true)
  --find TEXT         search the lists as kavo's find dialog does: the words of TEXT, split at
                      blanks, are alternatives of a regular expression (letter case ignored)
                      looked for in name, genre, description, playing and comment; the
                      channels found have Find true
  --find-only         print only the channels --find finds
  --settings          print the settings as loaded and exit
  --yp-status         instead of a list, print the state of every configured YP as recorded in
                      history.sqlite: its last result, channels, time since the last success,
                      failures in a row and its last ten attempts (json)
  --history           instead of a list, print the broadcasts recorded in history.sqlite,
                      newest first: first and last sighting, highest listener count, name, YP,
                      genre and description of the last sighting
  --since DAYS        with --history: only broadcasts seen in the last DAYS days
  --search TEXT       with --history: only broadcasts whose name, genre or description match
                      TEXT as kavo's find does (words separated by blanks are alternatives,
                      each a regular expression, case ignored)
  --template FILE [--header FILE] [--footer FILE]
                      instead of a list, print the header expanded with the list tags, FILE
                      expanded with the channel tags for every channel on air, and the footer;
                      the files are CP932 like kavo's templates (ie_header.html,
                      ie_channel.html, ie_footer.html)
  --encoding ENC      with --template: utf-8 (default) or sjis, the encoding of what is
                      printed; a charset the templates declare is printed as it stands
  --page              instead of a list, print the page of kavo's YP-style view: its header,
                      one block for every channel the lite mode shows, in the order the list of
                      channels on air first shows them, and its footer, from the templates of
                      the settings' theme; the bytes are the page's own (CP932)
  --lite RULE         the lite mode of --page: off, =0, <=0, <5, <10, range:MIN,MAX (hides
                      MIN to MAX listeners) or top:N; without it, the settings' [Window] keys
  --help              print this help and exit
  --version           print the version and exit

Errors of single YPs go to standard error as they happen.

JSON output: {"cycle": n, "channels": [...], "log": [...], "errors": [...], "StatusText": "..."};
every channel carries every field of kavo's channel record under its own name (No, Diff as a
number, ChannelName, ..., Favorite), texts in UTF-8 and still HTML-escaped as the YP sent them;
TimeStamp is local time in ISO 8601 with its offset (2026-12-10T17:20:05+09:00), and
TimeStampSerial the same moment as kavo keeps it, days since 1899-12-30.
TSV output: a header line, then one line a channel: cycle, list ("on-air" or "ended"), then
the same fields as JSON.

Every refresh is recorded in history.sqlite in the program folder. --yp-status and --history
fetch nothing unless --cycles is given: then they print after the refreshes.

A settings file without an enabled YP is said so on standard error.

Exit status: 0 when at least one enabled YP was fetched without error, or none is enabled;
1 when every enabled YP failed; 2 for a usage error or a template file that cannot be read.
)";

enum class Format {
    Table,
    Tsv,
    Json
};

enum class Encoding {
    Utf8,
    Sjis
};

struct Options
{
    std::string Home;
    int Cycles = 1;
    bool Manual = false;
    double IntervalSeconds = 0;
    double TimeStepMinutes = 0;
    Format OutputFormat = Format::Table;
    bool AllCycles = false;
    bool Log = false;
    bool All = false;
    bool Settings = false;
    bool CyclesGiven = false;
    bool YpStatus = false;
    bool History = false;
    double SinceDays = 0; // 0: every broadcast kept
    std::optional<std::string> Search;
    std::optional<std::string> Find; // UTF-8, as typed
    bool FindOnly = false;
    std::string Template;
    std::string Header;
    std::string Footer;
    std::optional<Encoding> TemplateEncoding;
    bool Page = false;
    std::optional<YpLikeLiteOptions> Lite;
    bool Help = false;
    bool Version = false;
};

struct UsageError
{
    std::string Message;
};

// --lite: "off", "=0", "<=0", "<5", "<10", "range:MIN,MAX" or "top:N".
std::optional<YpLikeLiteOptions> ParseLite(std::string_view text)
{
    YpLikeLiteOptions options;
    options.Lite.fill(false);
    options.Lite[0] = true;
    const auto whole = [](std::string_view digits) -> std::optional<int> {
        int value = 0;
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (digits.empty() || error != std::errc() || end != digits.data() + digits.size())
            return std::nullopt;
        return value;
    };
    if (text == "off") {
        options.Lite[0] = false;
        options.Lite[4] = true;
    } else if (text == "=0") {
        options.Lite[4] = true;
    } else if (text == "<=0") {
        options.Lite[1] = true;
    } else if (text == "<5") {
        options.Lite[2] = true;
    } else if (text == "<10") {
        options.Lite[3] = true;
    } else if (text.starts_with("range:")) {
        const std::string_view range = text.substr(6);
        const std::size_t comma = range.find(',');
        const auto min = comma == std::string_view::npos ? std::nullopt : whole(range.substr(0, comma));
        const auto max = comma == std::string_view::npos ? std::nullopt : whole(range.substr(comma + 1));
        if (!min || !max)
            return std::nullopt;
        options.Lite[5] = true;
        options.CustomMin = *min;
        options.CustomMax = *max;
    } else if (text.starts_with("top:")) {
        const auto count = whole(text.substr(4));
        if (!count)
            return std::nullopt;
        options.Lite[10] = true;
        options.CustomCount = *count;
    } else {
        return std::nullopt;
    }
    return options;
}

std::optional<double> ParseNumber(std::string_view text)
{
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

Options ParseArguments(int argc, char** argv)
{
    Options options;
    bool formatGiven = false;
    std::vector<std::string_view> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        std::optional<std::string_view> inlineValue;
        if (arg.starts_with("--")) {
            if (const std::size_t equals = arg.find('='); equals != std::string_view::npos) {
                inlineValue = arg.substr(equals + 1);
                arg = arg.substr(0, equals);
            }
        }
        auto value = [&]() -> std::string {
            if (inlineValue)
                return std::string(*inlineValue);
            if (i + 1 >= args.size())
                throw UsageError{"option " + std::string(arg) + " needs a value"};
            return std::string(args[++i]);
        };
        auto flag = [&](bool& target) {
            if (inlineValue)
                throw UsageError{"option " + std::string(arg) + " takes no value"};
            target = true;
        };

        if (arg == "--home") {
            options.Home = value();
            if (options.Home.empty())
                throw UsageError{"--home needs a folder"};
        } else if (arg == "--cycles") {
            const std::string text = value();
            const auto number = ParseNumber(text);
            if (!number || *number < 1 || *number > 1000000 || *number != std::floor(*number))
                throw UsageError{"--cycles needs a whole number of at least 1, not \"" + text + "\""};
            options.Cycles = static_cast<int>(*number);
            options.CyclesGiven = true;
        } else if (arg == "--manual") {
            flag(options.Manual);
        } else if (arg == "--interval") {
            const std::string text = value();
            const auto number = ParseNumber(text);
            if (!number || *number < 0)
                throw UsageError{"--interval needs a number of seconds, not \"" + text + "\""};
            options.IntervalSeconds = *number;
        } else if (arg == "--time-step") {
            const std::string text = value();
            const auto number = ParseNumber(text);
            if (!number || *number < 0)
                throw UsageError{"--time-step needs a number of minutes, not \"" + text + "\""};
            options.TimeStepMinutes = *number;
        } else if (arg == "--format") {
            formatGiven = true;
            const std::string text = value();
            if (text == "table")
                options.OutputFormat = Format::Table;
            else if (text == "tsv")
                options.OutputFormat = Format::Tsv;
            else if (text == "json")
                options.OutputFormat = Format::Json;
            else
                throw UsageError{"--format is table, tsv or json, not \"" + text + "\""};
        } else if (arg == "--all-cycles") {
            flag(options.AllCycles);
        } else if (arg == "--log") {
            flag(options.Log);
        } else if (arg == "--all") {
            flag(options.All);
        } else if (arg == "--find") {
            options.Find = value();
        } else if (arg == "--find-only") {
            flag(options.FindOnly);
        } else if (arg == "--settings") {
            flag(options.Settings);
        } else if (arg == "--yp-status") {
            flag(options.YpStatus);
        } else if (arg == "--history") {
            flag(options.History);
        } else if (arg == "--since") {
            const std::string text = value();
            const auto number = ParseNumber(text);
            if (!number || *number <= 0)
                throw UsageError{"--since needs a number of days, not \"" + text + "\""};
            options.SinceDays = *number;
        } else if (arg == "--search") {
            options.Search = value();
        } else if (arg == "--template") {
            options.Template = value();
        } else if (arg == "--header") {
            options.Header = value();
        } else if (arg == "--footer") {
            options.Footer = value();
        } else if (arg == "--encoding") {
            const std::string text = value();
            if (text == "utf-8")
                options.TemplateEncoding = Encoding::Utf8;
            else if (text == "sjis")
                options.TemplateEncoding = Encoding::Sjis;
            else
                throw UsageError{"--encoding is utf-8 or sjis, not \"" + text + "\""};
        } else if (arg == "--page") {
            flag(options.Page);
        } else if (arg == "--lite") {
            const std::string text = value();
            options.Lite = ParseLite(text);
            if (!options.Lite)
                throw UsageError{"--lite is off, =0, <=0, <5, <10, range:MIN,MAX or top:N, not \"" + text + "\""};
        } else if (arg == "--help" || arg == "-h") {
            flag(options.Help);
        } else if (arg == "--version") {
            flag(options.Version);
        } else {
            throw UsageError{"unknown argument \"" + std::string(arg) + "\""};
        }
    }
    if (options.FindOnly && !options.Find)
        throw UsageError{"--find-only goes with --find"};
    if ((!options.Header.empty() || !options.Footer.empty()) && options.Template.empty())
        throw UsageError{"--header and --footer go with --template"};
    if (!options.Template.empty() && (formatGiven || options.Log))
        throw UsageError{"--template prints the templates; it does not go with --format or --log"};
    if (options.TemplateEncoding && options.Template.empty())
        throw UsageError{"--encoding goes with --template"};
    if (options.Lite && !options.Page)
        throw UsageError{"--lite goes with --page"};
    if (options.Page && (!options.Template.empty() || formatGiven || options.Log || options.All || options.AllCycles ||
                         options.Cycles != 1 || options.Settings || options.YpStatus || options.History))
        throw UsageError{"--page prints one page after one refresh; it goes only with --home and --lite"};
    if (options.YpStatus && options.History)
        throw UsageError{"--yp-status and --history print different tables; give one of them"};
    if ((options.YpStatus || options.History) &&
        (!options.Template.empty() || options.Log || options.All || options.AllCycles))
        throw UsageError{
            "--yp-status and --history print no channel list: not with --template, --log, --all or --all-cycles"};
    if ((options.SinceDays > 0 || options.Search) && !options.History)
        throw UsageError{"--since and --search go with --history"};
    return options;
}

std::string Utf8(std::string_view cp932)
{
    return Cp932ToUtf8(cp932);
}

// ---- Channels

// The fields of a time kept as DateTime, which counts local wall-clock time, so it is broken
// down without a time zone. None for no time (0 and less).
std::optional<std::tm> WallClock(DateTime value)
{
    if (value <= 0)
        return std::nullopt;
    const auto seconds = static_cast<std::time_t>(std::llround((value - 25569.0) * SecondsPerDay));
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    return tm;
}

// ISO 8601 local time to the second with the zone's offset at that moment:
// "2026-12-10T17:20:05+09:00". Empty for no time.
std::string Iso8601Local(DateTime value)
{
    const std::optional<std::tm> fields = WallClock(value);
    if (!fields)
        return {};
    const std::tm& wall = *fields;
    std::tm local = wall;
    local.tm_isdst = -1;
    const std::time_t moment = mktime(&local);
    long offset = 0;
    if (moment != static_cast<std::time_t>(-1)) {
        std::tm zone{};
        localtime_r(&moment, &zone);
        offset = zone.tm_gmtoff;
    }
    const long minutes = (offset < 0 ? -offset : offset) / 60;
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld", wall.tm_year + 1900, wall.tm_mon + 1,
                  wall.tm_mday, wall.tm_hour, wall.tm_min, wall.tm_sec, offset < 0 ? '-' : '+', minutes / 60,
                  minutes % 60);
    return text;
}

struct Field
{
    const char* Name;
    std::function<Json(const TkavoChItem&)> Value;
};

Field Text(const char* name, std::string TkavoChItem::*member)
{
    return {name, [member](const TkavoChItem& c) { return Json(Utf8(c.*member)); }};
}

template <class T>
Field Value(const char* name, T TkavoChItem::*member)
{
    return {name, [member](const TkavoChItem& c) { return Json(c.*member); }};
}

// Every field of the channel record, in declaration order.
const std::vector<Field>& ChannelFields()
{
    static const std::vector<Field> fields = {
        Value("No", &TkavoChItem::No),
        {"Diff", [](const TkavoChItem& c) { return Json(static_cast<int>(c.Diff)); }},
        Text("ChannelName", &TkavoChItem::ChannelName),
        Value("Relays", &TkavoChItem::Relays),
        Value("Listeners", &TkavoChItem::Listeners),
        Text("Bitrate", &TkavoChItem::Bitrate),
        Text("Type", &TkavoChItem::Type),
        Text("ChatURL", &TkavoChItem::ChatURL),
        Text("ContactURL", &TkavoChItem::ContactURL),
        Text("StreamURL", &TkavoChItem::StreamURL),
        Text("DirectStreamURL", &TkavoChItem::DirectStreamURL),
        {"TimeStamp", [](const TkavoChItem& c) { return Json(Iso8601Local(c.TimeStamp)); }},
        Value("TimeStampSerial", &TkavoChItem::TimeStamp),
        Text("Hash", &TkavoChItem::Hash),
        Value("Find", &TkavoChItem::Find),
        Text("Playing", &TkavoChItem::Playing),
        Value("Color", &TkavoChItem::Color),
        Value("ColorEnabled", &TkavoChItem::ColorEnabled),
        Value("BitrateValue", &TkavoChItem::BitrateValue),
        Value("ListDisable", &TkavoChItem::ListDisable),
        Text("StatisticsURL", &TkavoChItem::StatisticsURL),
        Text("YpAddr", &TkavoChItem::YpAddr),
        Text("FileName", &TkavoChItem::FileName),
        Text("Status", &TkavoChItem::Status),
        Text("Comment", &TkavoChItem::Comment),
        Value("ContactIsBbs", &TkavoChItem::ContactIsBbs),
        Text("Description", &TkavoChItem::Description),
        Text("Genre", &TkavoChItem::Genre),
        Text("LocalStatus", &TkavoChItem::LocalStatus),
        Text("BroadcastTime", &TkavoChItem::BroadcastTime),
        Value("YpLike", &TkavoChItem::YpLike),
        Value("NotNotify", &TkavoChItem::NotNotify),
        Text("PrevPlaying", &TkavoChItem::PrevPlaying),
        Text("PrevComment", &TkavoChItem::PrevComment),
        Text("PrevGenre", &TkavoChItem::PrevGenre),
        Text("PrevDescription", &TkavoChItem::PrevDescription),
        Value("ColorTextEnabled", &TkavoChItem::ColorTextEnabled),
        Value("ColorText", &TkavoChItem::ColorText),
        Value("Visited", &TkavoChItem::Visited),
        Value("Favorite", &TkavoChItem::Favorite),
    };
    return fields;
}

std::string Dump(const Json& json, int indent = -1)
{
    return json.dump(indent, ' ', false, Json::error_handler_t::replace);
}

// The channels as a JSON array, written one channel at a time: a document of the whole list would
// take many times the memory of the list itself.
void WriteChannelsJson(std::ostream& out, const TkavoChList& list)
{
    out << '[';
    bool first = true;
    Json object = Json::object();
    for (const TkavoChItem& channel : list) {
        for (const Field& field : ChannelFields())
            object[field.Name] = field.Value(channel);
        if (!first)
            out << ',';
        first = false;
        out << Dump(object);
    }
    out << ']';
}

std::string TsvCell(const Json& value)
{
    std::string text = value.is_string() ? value.get<std::string>() : Dump(value);
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\t' || c == '\r' || c == '\n'; }, ' ');
    return text;
}

void PrintTsvHeader()
{
    std::string line = "cycle\tlist";
    for (const Field& field : ChannelFields())
        line.append("\t").append(field.Name);
    std::cout << line << '\n';
}

void PrintTsv(int cycle, const char* listName, const TkavoChList& list)
{
    for (const TkavoChItem& channel : list) {
        std::string line = std::to_string(cycle) + "\t" + listName;
        for (const Field& field : ChannelFields())
            line.append("\t").append(TsvCell(field.Value(channel)));
        std::cout << line << '\n';
    }
}

// At most maxBytes bytes of CP932 text; a text that had to be cut ends with "…".
std::string CutWithEllipsis(std::string_view text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return std::string(text);
    static const std::string ellipsis = Sjis("…");
    return std::string(Cp932Cut(text, maxBytes - ellipsis.size())) + ellipsis;
}

// The title of the YP a channel came from, its address when no configured YP has it.
std::string YpTitleOf(const TkavoSetting& setting, const TkavoChItem& channel)
{
    const int index = setting.YpList.IndexOfUrl(channel.YpAddr);
    if (index >= 0 && !setting.YpList[static_cast<std::size_t>(index)].Title.empty())
        return setting.YpList[static_cast<std::size_t>(index)].Title;
    return channel.YpAddr;
}

// Columns are measured in CP932 bytes, which is also their width on a terminal: a double-byte
// character takes two columns.
void PrintTable(const TkavoChList& list, const TkavoSetting& setting)
{
    struct Row
    {
        std::vector<std::string> Cells; // CP932
    };
    const std::vector<std::string> header = {"No",   "!",    "Channel", "Listeners/Relays",   "Bitrate",
                                             "Type", "Time", "YP",      "Genre - Description"};
    std::vector<Row> rows;
    for (const TkavoChItem& c : list) {
        std::string description = HtmlDecode(c.GenreDescription());
        if (!c.Playing.empty())
            description += (description.empty() ? "" : " ") + HtmlDecode(c.Playing);
        rows.push_back(
            {{std::to_string(c.No), DiffText(c.Diff), CutWithEllipsis(HtmlDecode(c.ChannelName), 40),
              std::to_string(c.Listeners) + "/" + std::to_string(c.Relays), c.Bitrate, c.Type, c.BroadcastTime,
              CutWithEllipsis(YpTitleOf(setting, c), 20), CutWithEllipsis(description, 100)}});
    }
    std::vector<std::size_t> widths;
    for (const std::string& title : header)
        widths.push_back(title.size());
    for (const Row& row : rows)
        for (std::size_t i = 0; i < row.Cells.size(); ++i)
            widths[i] = std::max(widths[i], row.Cells[i].size());
    auto print = [&](const std::vector<std::string>& cells) {
        std::string line;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            const bool number = i == 0 || i == 3;
            const std::string padding(widths[i] - cells[i].size(), ' ');
            if (i + 1 == cells.size()) {
                line += cells[i];
                break;
            }
            line += number ? padding + cells[i] : cells[i] + padding;
            line += "  ";
        }
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        std::cout << Utf8(line) << '\n';
    };
    print(header);
    for (const Row& row : rows)
        print(row.Cells);
}

// ---- Settings

Json SettingsJson(const TkavoSetting& setting)
{
    Json json = Json::object();
    // Each option as the settings file holds its text.
    setting.VisitOptions([&](std::string_view name, std::string_view value) { json[std::string(name)] = Utf8(value); });
    Json yps = Json::array();
    for (const TkavoYpItem& yp : setting.YpList)
        yps.push_back(Json{{"Enabled", yp.Enabled},
                           {"Title", Utf8(yp.Title)},
                           {"Url", Utf8(yp.Url)},
                           {"Host", Utf8(yp.Host)},
                           {"Bitrate", Utf8(yp.Bitrate)},
                           {"ChType", Utf8(yp.ChType)},
                           {"Script", Utf8(yp.Script)},
                           {"UTF2SJIS", yp.UTF2SJIS},
                           {"ChatURLFix", yp.ChatURLFix},
                           {"PCRawChName2", Utf8(yp.PCRawChName2)},
                           {"PCRawChIP", Utf8(yp.PCRawChIP)},
                           {"NoNotify2", yp.NoNotify2}});
    json["YpList"] = std::move(yps);
    Json favorites = Json::array();
    for (const TkavoFavoriteItem& f : setting.Favorites)
        favorites.push_back(Json{{"Enabled", f.Enabled},
                                 {"Title", Utf8(f.Title)},
                                 {"Word", Utf8(f.Word)},
                                 {"Channel", f.Channel},
                                 {"Description", f.Description},
                                 {"StreamURL", f.StreamURL},
                                 {"YpAddr", f.YpAddr},
                                 {"Comment", f.Comment},
                                 {"ContactURL", f.ContactURL},
                                 {"ChType", f.ChType},
                                 {"Listeners", f.Listeners},
                                 {"Bitrate", f.Bitrate},
                                 {"RegExp", f.RegExp},
                                 {"FileName", Utf8(f.FileName)},
                                 {"ColorEnabled", f.ColorEnabled},
                                 {"Color", f.Color},
                                 {"ColorTextEnabled", f.ColorTextEnabled},
                                 {"ColorText", f.ColorText},
                                 {"ListDisable", f.ListDisable},
                                 {"YpLike", f.YpLike},
                                 {"NotNotify", f.NotNotify}});
    json["Favorites"] = std::move(favorites);
    Json columns = Json::array();
    for (const std::string& caption : setting.Columns)
        columns.push_back(Utf8(caption));
    json["Columns"] = std::move(columns);
    Json tools = Json::array();
    for (const std::string& tool : setting.Tools)
        tools.push_back(Utf8(tool));
    json["Tools"] = std::move(tools);
    return json;
}

// ---- Templates

// The texts given with --template, --header and --footer, each as kavo uses a template: its lines
// joined with CR LF.
struct TemplateTexts
{
    std::string Header;
    std::string Channel;
    std::string Footer;
};

struct FileError
{
    std::string Message;
};

std::string ReadTemplateFile(const std::string& path)
{
    if (path.empty())
        return {};
    std::string bytes;
    if (const int error = ReadRegularFile(path, MaxTemplateBytes, bytes); error != 0)
        throw FileError{"cannot read " + path + ": " + ReadErrorText(error, MaxTemplateBytes)};
    return JoinLines(SplitLines(bytes));
}

TemplateTexts ReadTemplates(const Options& options)
{
    return {ReadTemplateFile(options.Header), ReadTemplateFile(options.Template), ReadTemplateFile(options.Footer)};
}

// The page as the HTML view builds it, but over every channel on air.
std::string ExpandTemplates(const TkavoCommon& common, const TemplateTexts& texts, const TkavoChList& list)
{
    std::string page = common.ExpandListTags(list, texts.Header);
    for (const TkavoChItem& channel : list)
        page += common.ExpandChannelTags(&channel, texts.Channel);
    page += common.ExpandListTags(list, texts.Footer);
    return page;
}

// ---- History

std::string DateTimeText(DateTime value)
{
    const std::optional<std::tm> tm = WallClock(value);
    if (!tm)
        return {};
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &*tm);
    return text;
}

const char* OutcomeName(YpOutcome outcome)
{
    static constexpr std::array<const char*, YpOutcomeCount> names = {"fetched", "skipped", "failed", "not-index",
                                                                      "incomplete"};
    return names[static_cast<std::size_t>(outcome) % names.size()];
}

Json AttemptJson(const YpAttemptRow& a)
{
    return Json{{"Time", DateTimeText(a.Time)}, {"Result", OutcomeName(a.Outcome)},
                {"HttpStatus", a.HttpStatus},   {"Bytes", a.Bytes},
                {"Channels", a.Channels},       {"DurationMs", a.DurationMs},
                {"Error", Utf8(a.Error)}};
}

// Prints rows of CP932 cells in columns; the first row is the header. Columns named in `right`
// are aligned to the right.
void PrintColumns(const std::vector<std::vector<std::string>>& rows, const std::vector<bool>& right)
{
    std::vector<std::size_t> widths(rows.empty() ? 0 : rows[0].size(), 0);
    for (const auto& row : rows)
        for (std::size_t i = 0; i < row.size() && i < widths.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            const std::string padding(widths[i] - row[i].size(), ' ');
            if (i + 1 == row.size()) {
                line += right[i] ? padding + row[i] : row[i];
                break;
            }
            line += (right[i] ? padding + row[i] : row[i] + padding) + "  ";
        }
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        std::cout << Utf8(line) << '\n';
    }
}

void PrintYpStatus(HistoryStore& history, const TkavoSetting& setting, Format format)
{
    std::vector<YpHealth> configured;
    for (const TkavoYpItem& yp : setting.YpList)
        configured.push_back(YpHealth::Of(yp.Url, yp.Title, yp.Enabled));
    const std::vector<YpHealth> rows = history.YpStatus(configured);
    const DateTime now = Now();
    if (format == Format::Json) {
        for (const YpHealth& yp : rows) {
            Json line = {{"Url", Utf8(yp.Url)},
                         {"Title", Utf8(yp.Title)},
                         {"Enabled", yp.Enabled},
                         {"Result", yp.Recent.empty() ? "" : OutcomeName(yp.Recent.front().Outcome)},
                         {"Channels", yp.Channels},
                         {"LastSuccess", DateTimeText(yp.LastSuccess)},
                         {"FailuresInRow", yp.FailuresInRow},
                         {"Failing", yp.Failing()},
                         {"Recent", Json::array()}};
            for (const YpAttemptRow& a : yp.Recent)
                line["Recent"].push_back(AttemptJson(a));
            std::cout << Dump(line) << '\n';
        }
        return;
    }
    std::vector<std::vector<std::string>> table;
    if (format == Format::Tsv)
        table.push_back(
            {"Title", "Url", "Enabled", "Result", "HttpStatus", "Channels", "LastSuccess", "FailuresInRow", "Error"});
    else
        table.push_back({"YP", Sjis("状態"), Sjis("チャンネル"), Sjis("最終成功"), Sjis("連続失敗"), "URL"});
    for (const YpHealth& yp : rows) {
        const YpAttemptRow* last = yp.Recent.empty() ? nullptr : &yp.Recent.front();
        if (format == Format::Tsv) {
            std::vector<std::string> cells = {yp.Title,
                                              yp.Url,
                                              yp.Enabled ? "1" : "0",
                                              last ? OutcomeName(last->Outcome) : "",
                                              last ? std::to_string(last->HttpStatus) : "",
                                              std::to_string(yp.Channels),
                                              DateTimeText(yp.LastSuccess),
                                              std::to_string(yp.FailuresInRow),
                                              last ? last->Error : ""};
            std::string line;
            for (const std::string& cell : cells)
                line += (line.empty() ? "" : "\t") + TsvCell(Json(Utf8(cell)));
            std::cout << line << '\n';
            continue;
        }
        table.push_back({yp.Title.empty() ? yp.Url : yp.Title, YpResultText(yp), std::to_string(yp.Channels),
                         SinceText(yp.LastSuccess, now), std::to_string(yp.FailuresInRow), yp.Url});
    }
    if (format == Format::Table)
        PrintColumns(table, {false, false, true, false, true, false});
}

void PrintHistory(HistoryStore& history, const Options& options, const std::string& pattern)
{
    BroadcastQuery query;
    query.Pattern = pattern;
    query.Limit = 0;
    if (options.SinceDays > 0)
        query.Since = Now() - options.SinceDays;
    const std::vector<BroadcastRow> rows = history.Broadcasts(query);
    switch (options.OutputFormat) {
    case Format::Json:
        for (const BroadcastRow& b : rows)
            std::cout << Dump(Json{{"FirstSeen", DateTimeText(b.FirstSeen)},
                                   {"LastSeen", DateTimeText(b.LastSeen)},
                                   {"OnAir", b.OnAir},
                                   {"MaxListeners", b.MaxListeners},
                                   {"ChannelName", Utf8(b.ChannelName)},
                                   {"Hash", b.Hash},
                                   {"YpTitle", Utf8(b.YpTitle)},
                                   {"YpUrl", Utf8(b.YpUrl)},
                                   {"Genre", Utf8(b.Genre)},
                                   {"Description", Utf8(b.Description)}})
                      << '\n';
        break;
    case Format::Tsv:
        std::cout
            << "FirstSeen\tLastSeen\tOnAir\tMaxListeners\tChannelName\tHash\tYpTitle\tYpUrl\tGenre\tDescription\n";
        for (const BroadcastRow& b : rows) {
            std::string line = DateTimeText(b.FirstSeen) + "\t" + DateTimeText(b.LastSeen) + "\t" +
                               (b.OnAir ? "1" : "0") + "\t" + std::to_string(b.MaxListeners);
            for (const std::string* text : {&b.ChannelName, &b.Hash, &b.YpTitle, &b.YpUrl, &b.Genre, &b.Description})
                line += "\t" + TsvCell(Json(Utf8(*text)));
            std::cout << line << '\n';
        }
        break;
    case Format::Table: {
        std::vector<std::vector<std::string>> table = {
            {Sjis("開始"), Sjis("最終"), Sjis("最大"), "Channel", "YP", "Genre - Description"}};
        for (const BroadcastRow& b : rows)
            table.push_back({FormatMonthDayTime(b.FirstSeen), FormatMonthDayTime(b.LastSeen) + (b.OnAir ? " *" : ""),
                             std::to_string(b.MaxListeners), CutWithEllipsis(HtmlDecode(b.ChannelName), 40), b.YpTitle,
                             CutWithEllipsis(HtmlDecode(GenreDescriptionOf(b.Genre, b.Description)), 100)});
        PrintColumns(table, {false, false, true, false, false, false});
        std::cout << Utf8(Sjis("* 最後の取得で放送中")) << '\n';
        break;
    }
    }
}

// ---- Search

// The lists as printed: as the window shows them, without the channels a favorite hides (unless
// --all); with --find copies with the channels the search finds marked, and with --find-only the
// others left out.
class SearchedLists
{
public:
    explicit SearchedLists(const Options& options)
        : m_active(options.Find.has_value()), m_only(options.FindOnly), m_all(options.All),
          m_pattern(m_active ? MakeSearchPattern(Utf8ToCp932(*options.Find), m_regExp) : std::string())
    {}
    // The pattern as the find dialog would hold it (CP932).
    const std::string& Pattern() const { return m_pattern; }

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
        copy.LastUpdate = source.LastUpdate;
        return copy;
    }

private:
    bool m_active;
    bool m_only;
    bool m_all;
    RegularExpression m_regExp;
    std::string m_pattern;
};

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

std::string ForTerminal(std::string text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            out += text[i];
    return out;
}

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

int RunCycles(const Options& options, const std::optional<TemplateTexts>& templates, const TkavoSetting& setting,
              const IniFile& settingsFile, HistoryStore& history)
{
    const bool reportOnly = options.YpStatus || options.History;
    std::shared_ptr<SteppedClock> clock;
    if (options.TimeStepMinutes > 0) {
        clock = std::make_shared<SteppedClock>();
        SetClock(clock);
    }
    const int enabled = EnabledYps(setting);

    // Tag expansion only; it plays no sounds.
    std::optional<TkavoCommon> common;
    SearchedLists searched(options);
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
        std::cerr << ForTerminal(utf8) << std::endl;
    };
    net.OnError = [&](TkavoNet&, const std::string& error) { report(error); };
    net.OnCycleError = [&](TkavoNet&, const std::string& message) { report(message); };
    net.OnRecord = [&](RetrievalRecord& record) { history.Record(record); };
    net.Prepare(settingsFile);

    bool succeeded = false;
    if (options.OutputFormat == Format::Tsv && !templates && !reportOnly)
        PrintTsvHeader();
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
            std::cout << ForTerminal(options.TemplateEncoding == Encoding::Sjis ? page : Utf8(page));
            std::cout.flush();
        } else if (options.AllCycles || cycle == options.Cycles) {
            std::lock_guard lock(errorLock);
            switch (options.OutputFormat) {
            case Format::Json: {
                // {"cycle":n,"channels":[...],"log":[...],"errors":[...],"StatusText":"..."}
                std::cout << "{\"cycle\":" << cycle << ",\"channels\":";
                WriteChannelsJson(std::cout, onAir);
                std::cout << ",\"log\":";
                WriteChannelsJson(std::cout, ended);
                std::cout << ",\"errors\":" << Dump(Json(errors))
                          << ",\"StatusText\":" << Dump(Json(Utf8(net.ChList().StatusText()))) << "}\n";
                break;
            }
            case Format::Tsv:
                PrintTsv(cycle, "on-air", onAir);
                if (options.Log)
                    PrintTsv(cycle, "ended", ended);
                break;
            case Format::Table:
                if (options.AllCycles)
                    std::cout << "# cycle " << cycle << '\n';
                PrintTable(onAir, setting);
                if (options.Log) {
                    std::cout << '\n' << Utf8(Sjis("放送終了")) << '\n';
                    PrintTable(ended, setting);
                }
                std::cout << Utf8(net.ChList().StatusText()) << '\n';
                if (options.AllCycles && cycle < options.Cycles)
                    std::cout << '\n';
                break;
            }
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

// The lite mode as kavo keeps it in [Window].
YpLikeLiteOptions LiteFromSettings(const IniFile& settingsFile)
{
    YpLikeLiteOptions lite;
    for (std::size_t i = 0; i < lite.Lite.size(); ++i)
        lite.Lite[i] = settingsFile.ReadInteger("Window", "YpLikeLite" + std::to_string(i), lite.Lite[i]) != 0;
    lite.CustomMin = settingsFile.ReadInteger("Window", "YpLikeLiteCustomMin", lite.CustomMin);
    lite.CustomMax = settingsFile.ReadInteger("Window", "YpLikeLiteCustomMax", lite.CustomMax);
    lite.CustomCount = settingsFile.ReadInteger("Window", "YpLikeLiteCustomCount", lite.CustomCount);
    return lite;
}

// One refresh, then the page of kavo's YP-style view, byte for byte.
int RunPage(const Options& options, const TkavoSetting& setting, const IniFile& settingsFile)
{
    TkavoCommon common(setting, CommonPaths::Current(), nullptr);
    bool templatesRead = true;
    common.OnTemplateError = [&](const std::string& message) {
        std::cerr << Program << ": " << ForTerminal(Utf8(message)) << std::endl;
        templatesRead = false;
    };
    common.ReadTheme(settingsFile);
    common.LoadTemplates();
    if (!templatesRead)
        return 2;
    const YpLikeLiteOptions lite = options.Lite ? *options.Lite : LiteFromSettings(settingsFile);

    const int enabled = EnabledYps(setting);
    EventLoop loop;
    TkavoNet net(loop.Dispatcher(), setting);
    const auto report = [](TkavoNet&, const std::string& error) {
        static std::mutex lock;
        std::lock_guard guard(lock);
        std::cerr << ForTerminal(Utf8(error)) << std::endl;
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

// --yp-status and --history, after the refreshes asked for, if any.
int RunReport(const Options& options, const std::optional<TemplateTexts>& templates, const TkavoSetting& setting,
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
    if (options.YpStatus)
        PrintYpStatus(history, setting, options.OutputFormat);
    else
        PrintHistory(history, options, pattern);
    std::cout.flush();
    return status;
}

int Main(int argc, char** argv)
{
    Options options;
    try {
        options = ParseArguments(argc, argv);
    } catch (const UsageError& error) {
        std::cerr << Program << ": " << error.Message << "\nTry '" << Program << " --help'." << std::endl;
        return 2;
    }
    if (options.Help) {
        std::cout << HelpText;
        return 0;
    }
    if (options.Version) {
        std::cout << Program << " (" << version::ProductName << ") " << version::Version << '\n';
        return 0;
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

    if (options.Settings) {
        std::cout << Dump(SettingsJson(setting), 2) << '\n';
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
    if (options.YpStatus || options.History)
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
