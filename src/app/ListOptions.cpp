#include "ListOptions.h"

#include "history/Regulars.h"

#include <charconv>
#include <cmath>

namespace kavo {
namespace {

using Error = ListUsageError;

constexpr std::string_view HelpHead = R"(Usage: kavo-list [OPTION]...
Fetches the enabled YPs of kavo's settings, as one refresh of kavo does, and prints the
combined list of channels on air.

)";

constexpr std::string_view HelpTail = R"(
Errors of single YPs go to standard error as they happen.

JSON output: {"cycle": n, "channels": [...], "log": [...], "errors": [...], "StatusText": "..."};
every channel carries every field of kavo's channel record under its own name (No, Diff as a
number, ChannelName, ..., Favorite), texts in UTF-8 and still HTML-escaped as the YP sent them;
TimeStamp is local time in ISO 8601 with its offset (2026-12-10T17:20:05+09:00), and
TimeStampSerial the same moment as kavo keeps it, days since 1899-12-30.
TSV output: a header line, then one line a channel: cycle, list ("on-air" or "ended"), then
the same fields as JSON.

Every refresh is recorded in history.sqlite in the program folder. --yp-status, --history and
--regulars fetch nothing unless --cycles is given: then they print after the refreshes.

A settings file without an enabled YP is said so on standard error.

Rules files are described in kavo's docs/rules-file.md. An import writes kavo.ini in one step, and
the rules file kavo follows too when kavo is set to follow one.

Exit status: 0 when at least one enabled YP was fetched without error, or none is enabled;
1 when every enabled YP failed, or a rules file could not be read, taken or written;
2 for a usage error or a template file that cannot be read.
)";

// The help's columns: two blanks, the usage, the help from this column on.
constexpr std::size_t HelpIndent = 2;
constexpr std::size_t HelpColumn = 22;

std::optional<double> ParseNumber(std::string_view text)
{
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<int> ParseWhole(std::string_view digits)
{
    int value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size())
        return std::nullopt;
    return value;
}

// A number of at least 0 (more than 0 unless zero is allowed), or a usage error naming the unit.
double NonNegative(const char* option, const char* unit, const std::string& text, bool zero = true)
{
    const auto number = ParseNumber(text);
    if (!number || *number < 0 || (!zero && *number == 0))
        throw Error{std::string(option) + " needs a number of " + unit + ", not \"" + text + "\""};
    return *number;
}

// The same, and at most max.
double Bounded(const char* option, const char* unit, const std::string& text, double max)
{
    const double number = NonNegative(option, unit, text);
    if (number > max)
        throw Error{std::string(option) + " takes at most " + std::to_string(static_cast<long long>(max)) + " " + unit +
                    ", not \"" + text + "\""};
    return number;
}

// A day between refreshes, a week of clock a step: more only tries the patience or the calendar.
constexpr double MaxIntervalSeconds = 86400;
constexpr double MaxTimeStepMinutes = 7 * 24 * 60;

int RegularsWeeks(const char* option, const std::string& text)
{
    const auto weeks = ParseWhole(text);
    if (!weeks || *weeks < 1 || *weeks > regulars::MaxWeeks)
        throw Error{std::string(option) + " needs a number of weeks from 1 to " + std::to_string(regulars::MaxWeeks) +
                    ", not \"" + text + "\""};
    return *weeks;
}

} // namespace

std::optional<YpLikeLiteOptions> ParseLiteRule(std::string_view text)
{
    YpLikeLiteOptions options;
    options.Lite.fill(false);
    options.Lite[LiteOn] = true;
    if (text == "off") {
        options.Lite[LiteOn] = false;
        options.Lite[LiteNotZero] = true; // what the window leaves checked when lite is off
    } else if (text == "=0") {
        options.Lite[LiteNotZero] = true;
    } else if (text == "<=0") {
        options.Lite[LiteAtMostZero] = true;
    } else if (text == "<5") {
        options.Lite[LiteBelow5] = true;
    } else if (text == "<10") {
        options.Lite[LiteBelow10] = true;
    } else if (text.starts_with("range:")) {
        const std::string_view range = text.substr(6);
        const std::size_t comma = range.find(',');
        const auto min = comma == std::string_view::npos ? std::nullopt : ParseWhole(range.substr(0, comma));
        const auto max = comma == std::string_view::npos ? std::nullopt : ParseWhole(range.substr(comma + 1));
        if (!min || !max)
            return std::nullopt;
        options.Lite[LiteRange] = true;
        options.CustomMin = *min;
        options.CustomMax = *max;
    } else if (text.starts_with("top:")) {
        const auto count = ParseWhole(text.substr(4));
        if (!count)
            return std::nullopt;
        options.Lite[LiteTopCustom] = true;
        options.CustomCount = *count;
    } else {
        return std::nullopt;
    }
    return options;
}

// In the order of the help. A new option is a row here; one that chooses a mode of its own also
// gets its refusal in ParseListArguments.
const std::vector<ListOptionSpec>& ListOptionTable()
{
    using O = ListOptions;
    using V = const std::string&;
    static const std::vector<ListOptionSpec> table = {
        {.Name = "--home",
         .Argument = "DIR",
         .Help = "the program folder (settings file kavo.ini); otherwise $KAVO_HOME,\n"
                 "the program's own folder when it holds kavo.portable or kavo.ini,\n"
                 "or $XDG_CONFIG_HOME/kavo (~/.config/kavo)",
         .Modes = AnyMode | RulesMode,
         .Take =
             [](O& o, V v) {
                 if (v.empty())
                     throw Error{"--home needs a folder"};
                 o.Home = v;
             }},
        {.Name = "--cycles",
         .Argument = "N",
         .Help = "run N refreshes (default 1); the first is manual, the others are\n"
                 "automatic and skip a YP fetched less than 10 minutes before",
         .Take =
             [](O& o, V v) {
                 const auto number = ParseNumber(v);
                 if (!number || *number < 1 || *number > 1000000 || *number != std::floor(*number))
                     throw Error{"--cycles needs a whole number of at least 1, not \"" + v + "\""};
                 o.Cycles = static_cast<int>(*number);
                 o.CyclesGiven = true;
             }},
        {.Name = "--manual",
         .Help = "make every refresh manual (no 10-minute rule)",
         .Take = [](O& o, V) { o.Manual = true; }},
        {.Name = "--interval",
         .Argument = "SECONDS",
         .Help = "wait this long between refreshes (default 0, at most 86400)",
         .Take = [](O& o, V v) { o.IntervalSeconds = Bounded("--interval", "seconds", v, MaxIntervalSeconds); }},
        {.Name = "--time-step",
         .Argument = "MINUTES",
         .Help = "move kavo's clock on by this much after every refresh, to try the\n"
                 "refresh rules without waiting (default 0, at most 10080)",
         .Take = [](O& o, V v) { o.TimeStepMinutes = Bounded("--time-step", "minutes", v, MaxTimeStepMinutes); }},
        {.Name = "--format",
         .Argument = "FORMAT",
         .Help = "table (default, for people), tsv (for scripts) or json (one object a line)",
         .Modes = ChannelListMode | YpStatusMode | HistoryMode | NotificationsMode | RegularsMode,
         .Take =
             [](O& o, V v) {
                 if (v == "table")
                     o.Format = OutputFormat::Table;
                 else if (v == "tsv")
                     o.Format = OutputFormat::Tsv;
                 else if (v == "json")
                     o.Format = OutputFormat::Json;
                 else
                     throw Error{"--format is table, tsv or json, not \"" + v + "\""};
             }},
        {.Name = "--all-cycles",
         .Help = "print the lists after every refresh, not only after the last",
         .Modes = ChannelListMode | TemplateMode,
         .Take = [](O& o, V) { o.AllCycles = true; }},
        {.Name = "--log",
         .Help = "also print the ended channels (json output always carries them)",
         .Modes = ChannelListMode,
         .Take = [](O& o, V) { o.Log = true; }},
        {.Name = "--all",
         .Help = "also list the channels that a favorite with \"リストに表示しない\" hides\n"
                 "(kavo's window never shows them; they carry ListDisable true)",
         .Modes = ChannelListMode | TemplateMode,
         .Take = [](O& o, V) { o.All = true; }},
        {.Name = "--find",
         .Argument = "TEXT",
         .Help = "search the lists as kavo's find dialog does: the words of TEXT, split at\n"
                 "blanks, are alternatives of a regular expression (letter case ignored)\n"
                 "looked for in name, genre, description, playing and comment; the\n"
                 "channels found have Find true",
         .Take = [](O& o, V v) { o.Find = v; }},
        {.Name = "--find-only",
         .Help = "print only the channels --find finds",
         .Needs = "--find",
         .NeedsMessage = "--find-only goes with --find",
         .Take = [](O& o, V) { o.FindOnly = true; }},
        {.Name = "--merge",
         .Help = "one row for each broadcast that several YPs list (name and contact URL\n"
                 "alike, the channel ID aside), from the first YP configured; the field Yps\n"
                 "lists the titles of every YP that carries it",
         .Modes = ChannelListMode,
         .Take = [](O& o, V) { o.Merge = true; }},
        {.Name = "--settings",
         .Help = "print the settings as loaded and exit",
         .Modes = AnyMode & ~PageMode,
         .Take = [](O& o, V) { o.Settings = true; }},
        {.Name = "--yp-status",
         .Help = "instead of a list, print the state of every configured YP as recorded in\n"
                 "history.sqlite: its last result, channels, time since the last success,\n"
                 "failures in a row and its last ten attempts (json)",
         .Modes = YpStatusMode,
         .Take = [](O& o, V) { o.YpStatus = true; }},
        {.Name = "--history",
         .Help = "instead of a list, print the broadcasts recorded in history.sqlite,\n"
                 "newest first: first and last sighting, highest listener count, name, YP,\n"
                 "genre and description of the last sighting",
         .Modes = HistoryMode,
         .Take = [](O& o, V) { o.History = true; }},
        {.Name = "--notifications",
         .Help = "instead of a list, print the notification log of history.sqlite, oldest\n"
                 "first: time, trigger, outcome, channel, YP and why one was held back",
         .Modes = NotificationsMode,
         .Take = [](O& o, V) { o.Notifications = true; }},
        {.Name = "--since",
         .Argument = "DAYS",
         .Help = "with --history or --notifications: only what was seen or logged in the\n"
                 "last DAYS days",
         .Modes = HistoryMode | NotificationsMode,
         .Needs = "--history|--notifications",
         .NeedsMessage = "--since goes with --history or --notifications",
         .Take = [](O& o, V v) { o.SinceDays = NonNegative("--since", "days", v, false); }},
        {.Name = "--search",
         .Argument = "TEXT",
         .Help = "with --history: only broadcasts whose name, genre or description match\n"
                 "TEXT as kavo's find does (words separated by blanks are alternatives,\n"
                 "each a regular expression, case ignored)",
         .Modes = HistoryMode,
         .Needs = "--history",
         .NeedsMessage = "--since and --search go with --history",
         .Take = [](O& o, V v) { o.Search = v; }},
        {.Name = "--regulars",
         .Usage = "--regulars [--at WHEN] [--weeks N] [--min-weeks K]",
         .Help = "instead of a list, print who usually broadcasts, from history.sqlite:\n"
                 "the channels on air within an hour of WHEN (\"Fri 21:00\", \"21:00\" for\n"
                 "today; default now) in at least K of the N weeks before (default: the\n"
                 "settings', 4 and 2), with their usual start and length, whether they\n"
                 "are on air, and \"まだ\" for one 30 minutes past its usual start",
         .Modes = RegularsMode,
         .Take = [](O& o, V) { o.Regulars = true; }},
        {.Name = "--at",
         .Argument = "WHEN",
         .Modes = RegularsMode,
         .Needs = "--regulars",
         .NeedsMessage = "--at, --weeks and --min-weeks go with --regulars",
         .Take =
             [](O& o, V v) {
                 if (!ParseWeekTime(v, 0))
                     throw Error{"--at needs a weekday and a time such as \"Fri 21:00\", not \"" + v + "\""};
                 o.At = v;
             }},
        {.Name = "--weeks",
         .Argument = "N",
         .Modes = RegularsMode,
         .Needs = "--regulars",
         .NeedsMessage = "--at, --weeks and --min-weeks go with --regulars",
         .Take = [](O& o, V v) { o.Weeks = RegularsWeeks("--weeks", v); }},
        {.Name = "--min-weeks",
         .Argument = "K",
         .Modes = RegularsMode,
         .Needs = "--regulars",
         .NeedsMessage = "--at, --weeks and --min-weeks go with --regulars",
         .Take = [](O& o, V v) { o.MinWeeks = RegularsWeeks("--min-weeks", v); }},
        {.Name = "--template",
         .Argument = "FILE",
         .Usage = "--template FILE [--header FILE] [--footer FILE]",
         .Help = "instead of a list, print the header expanded with the list tags, FILE\n"
                 "expanded with the channel tags for every channel on air, and the footer;\n"
                 "the files are CP932 like kavo's templates (ie_header.html,\n"
                 "ie_channel.html, ie_footer.html)",
         .Modes = TemplateMode,
         .EmptyIsAbsent = true,
         .Take = [](O& o, V v) { o.Template = v; }},
        {.Name = "--header",
         .Argument = "FILE",
         .Modes = TemplateMode,
         .Needs = "--template",
         .NeedsMessage = "--header and --footer go with --template",
         .EmptyIsAbsent = true,
         .Take = [](O& o, V v) { o.Header = v; }},
        {.Name = "--footer",
         .Argument = "FILE",
         .Modes = TemplateMode,
         .Needs = "--template",
         .NeedsMessage = "--header and --footer go with --template",
         .EmptyIsAbsent = true,
         .Take = [](O& o, V v) { o.Footer = v; }},
        {.Name = "--encoding",
         .Argument = "ENC",
         .Help = "with --template: utf-8 (default) or sjis, the encoding of what is\n"
                 "printed; a charset the templates declare is printed as it stands",
         .Modes = TemplateMode,
         .Needs = "--template",
         .NeedsMessage = "--encoding goes with --template",
         .Take =
             [](O& o, V v) {
                 if (v == "utf-8")
                     o.Encoding = TemplateEncoding::Utf8;
                 else if (v == "sjis")
                     o.Encoding = TemplateEncoding::Sjis;
                 else
                     throw Error{"--encoding is utf-8 or sjis, not \"" + v + "\""};
             }},
        {.Name = "--page",
         .Help = "instead of a list, print the page of kavo's YP-style view: its header,\n"
                 "one block for every channel the lite mode shows, in the order the list of\n"
                 "channels on air first shows them, and its footer, from the templates of\n"
                 "the settings' theme; the bytes are the page's own (CP932)",
         .Modes = PageMode,
         .Take = [](O& o, V) { o.Page = true; }},
        {.Name = "--lite",
         .Argument = "RULE",
         .Help = "the lite mode of --page: off, =0, <=0, <5, <10, range:MIN,MAX (hides\n"
                 "MIN to MAX listeners) or top:N; without it, the settings' [Window] keys",
         .Modes = PageMode,
         .Needs = "--page",
         .NeedsMessage = "--lite goes with --page",
         .Take =
             [](O& o, V v) {
                 o.Lite = ParseLiteRule(v);
                 if (!o.Lite)
                     throw Error{"--lite is off, =0, <=0, <5, <10, range:MIN,MAX or top:N, not \"" + v + "\""};
             }},
        {.Name = "--export-rules",
         .Argument = "FILE",
         .Help = "instead of a list, write the favorites and YPs of the settings to FILE\n"
                 "(a rules file, kavo-rules.json; - for standard output)",
         .Modes = RulesMode,
         .Take =
             [](O& o, V v) {
                 if (v.empty())
                     throw Error{"--export-rules needs a file"};
                 o.ExportRules = v;
             }},
        {.Name = "--import-rules",
         .Argument = "FILE",
         .Usage = "--import-rules FILE [--replace]",
         .Help = "instead of a list, take the favorites and YPs of FILE (a rules file, or\n"
                 "peercast-yt's channelFilters.json; - for standard input) into the\n"
                 "settings: those not there yet are added, or with --replace the file's\n"
                 "lists take the place of the settings' own; a file with a fault changes\n"
                 "nothing",
         .Modes = RulesMode,
         .Take =
             [](O& o, V v) {
                 if (v.empty())
                     throw Error{"--import-rules needs a file"};
                 o.ImportRules = v;
             }},
        {.Name = "--replace",
         .Modes = RulesMode,
         .Needs = "--import-rules",
         .NeedsMessage = "--replace goes with --import-rules",
         .Take = [](O& o, V) { o.Replace = true; }},
        {.Name = "--help",
         .Alias = "-h",
         .Help = "print this help and exit",
         .Modes = AnyMode | RulesMode,
         .Take = [](O& o, V) { o.Help = true; }},
        {.Name = "--version",
         .Help = "print the version and exit",
         .Modes = AnyMode | RulesMode,
         .Take = [](O& o, V) { o.Version = true; }},
    };
    return table;
}

ListOptions ParseListArguments(const std::vector<std::string>& args)
{
    const std::vector<ListOptionSpec>& table = ListOptionTable();
    ListOptions options;
    std::vector<bool> given(table.size(), false);
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        std::optional<std::string_view> inlineValue;
        if (arg.starts_with("--")) {
            if (const std::size_t equals = arg.find('='); equals != std::string_view::npos) {
                inlineValue = arg.substr(equals + 1);
                arg = arg.substr(0, equals);
            }
        }
        std::size_t row = 0;
        while (row < table.size() && table[row].Name != arg && (table[row].Alias.empty() || table[row].Alias != arg))
            ++row;
        if (row == table.size())
            throw Error{"unknown argument \"" + std::string(arg) + "\""};
        const ListOptionSpec& option = table[row];
        std::string value;
        if (option.Argument.empty()) {
            if (inlineValue)
                throw Error{"option " + std::string(arg) + " takes no value"};
        } else if (inlineValue) {
            value = *inlineValue;
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            throw Error{"option " + std::string(arg) + " needs a value"};
        }
        option.Take(options, value);
        given[row] = !(option.EmptyIsAbsent && value.empty());
    }

    const auto has = [&](std::string_view name) {
        for (std::size_t row = 0; row < table.size(); ++row)
            if (table[row].Name == name)
                return bool(given[row]);
        return false;
    };
    // Whether an option given does nothing in the mode.
    const auto anyOutside = [&](unsigned mode) {
        for (std::size_t row = 0; row < table.size(); ++row)
            if (given[row] && (table[row].Modes & mode) == 0)
                return true;
        return false;
    };
    // The first mistake found is told: an option without the one it goes with, then an option
    // outside the mode chosen.
    for (std::size_t row = 0; row < table.size(); ++row)
        if (given[row] && !table[row].Needs.empty()) {
            const std::string_view needs = table[row].Needs;
            const std::size_t bar = needs.find('|');
            if (!has(needs.substr(0, bar)) && (bar == std::string_view::npos || !has(needs.substr(bar + 1))))
                throw Error{std::string(table[row].NeedsMessage)};
        }
    // --page runs one refresh, so "--cycles 1" is no contradiction.
    if (options.Page && (anyOutside(PageMode) || options.Cycles != 1))
        throw Error{"--page prints one page after one refresh; it goes only with --home and --lite"};
    if (int(options.YpStatus) + int(options.History) + int(options.Notifications) + int(options.Regulars) > 1)
        throw Error{"--yp-status, --history, --notifications and --regulars print different tables; give one of them"};
    if (options.Regulars && anyOutside(RegularsMode))
        throw Error{"--regulars prints no channel list: not with --template, --log, --all or --all-cycles"};
    if (options.Weeks && options.MinWeeks && *options.MinWeeks > *options.Weeks)
        throw Error{"--min-weeks cannot be more than --weeks"};
    if ((options.YpStatus && anyOutside(YpStatusMode)) || (options.History && anyOutside(HistoryMode)) ||
        (options.Notifications && anyOutside(NotificationsMode)))
        throw Error{"--yp-status, --history and --notifications print no channel list: not with --template, --log, "
                    "--all or --all-cycles"};
    if (has("--template") && anyOutside(TemplateMode))
        throw Error{"--template prints the templates; it does not go with --format or --log"};
    const bool rules = !options.ExportRules.empty() || !options.ImportRules.empty();
    if (!options.ExportRules.empty() && !options.ImportRules.empty())
        throw Error{"give --export-rules or --import-rules, not both"};
    if (rules && anyOutside(RulesMode))
        throw Error{"--export-rules and --import-rules fetch nothing and print no list; they go only with --home"};
    return options;
}

std::string ListHelpText()
{
    std::string text(HelpHead);
    for (const ListOptionSpec& option : ListOptionTable()) {
        if (option.Help.empty())
            continue;
        std::string usage(option.Usage);
        if (usage.empty()) {
            usage = option.Alias.empty() ? std::string(option.Name)
                                         : std::string(option.Alias) + ", " + std::string(option.Name);
            if (!option.Argument.empty())
                usage.append(" ").append(option.Argument);
        }
        text.append(HelpIndent, ' ').append(usage);
        // A usage too wide for its column stands on a line of its own.
        if (HelpIndent + usage.size() < HelpColumn)
            text.append(HelpColumn - HelpIndent - usage.size(), ' ');
        else
            text.append("\n").append(HelpColumn, ' ');
        for (const char c : option.Help) {
            text += c;
            if (c == '\n')
                text.append(HelpColumn, ' ');
        }
        text += '\n';
    }
    return text.append(HelpTail);
}

} // namespace kavo
