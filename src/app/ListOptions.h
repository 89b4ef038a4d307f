#pragma once

// The command line of kavo-list: one table of options from which both the parser and --help come.

#include "ListOutput.h"
#include "common/YpLikePage.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kavo {

enum class TemplateEncoding {
    Utf8,
    Sjis
};

struct ListOptions
{
    std::string Home;
    int Cycles = 1;
    bool CyclesGiven = false;
    bool Manual = false;
    double IntervalSeconds = 0;
    double TimeStepMinutes = 0;
    OutputFormat Format = OutputFormat::Table;
    bool AllCycles = false;
    bool Log = false;
    bool All = false;
    std::optional<std::string> Find; // UTF-8, as typed
    bool FindOnly = false;
    bool Merge = false;
    bool Settings = false;
    bool YpStatus = false;
    bool History = false;
    bool Notifications = false;
    double SinceDays = 0; // 0: every broadcast kept
    bool Regulars = false;
    std::string At;              // "Fri 21:00"; empty: now
    std::optional<int> Weeks;    // otherwise the settings'
    std::optional<int> MinWeeks; // otherwise the settings'
    std::optional<std::string> Search;
    std::string Template;
    std::string Header;
    std::string Footer;
    std::optional<TemplateEncoding> Encoding;
    bool Page = false;
    std::optional<YpLikeLiteOptions> Lite;
    std::string ExportRules; // "-": standard output
    std::string ImportRules; // "-": standard input
    bool Replace = false;
    bool Help = false;
    bool Version = false;

    bool operator==(const ListOptions&) const = default;
};

// What kavo-list prints. An option names the modes it may be given in; the option that chooses a
// mode refuses every other option outside it.
enum ListMode : unsigned {
    ChannelListMode = 1U << 0,   // the lists after the refreshes, when no other mode is chosen
    TemplateMode = 1U << 1,      // --template
    PageMode = 1U << 2,          // --page
    YpStatusMode = 1U << 3,      // --yp-status
    HistoryMode = 1U << 4,       // --history
    NotificationsMode = 1U << 5, // --notifications
    RegularsMode = 1U << 6,      // --regulars
    AnyMode = (1U << 7) - 1,
    // --export-rules, --import-rules: they print no list and fetch nothing, so an option must name
    // this mode to go with them.
    RulesMode = 1U << 7,
};
static_assert((RulesMode & AnyMode) == 0, "RulesMode must lie outside the printing modes");

struct ListOptionSpec
{
    std::string_view Name{};
    std::string_view Alias{};    // a second spelling, or empty
    std::string_view Argument{}; // the value's name in the help; empty for a switch
    // The left column of the help when it says more than the name and the argument.
    std::string_view Usage{};
    // Its lines in the help; empty for an option the usage of another one shows.
    std::string_view Help{};
    unsigned Modes = AnyMode;
    // An option it only goes with ("A|B": either of them), and what is said when none is given.
    std::string_view Needs{};
    std::string_view NeedsMessage{};
    // An empty value is as if the option were not given.
    bool EmptyIsAbsent = false;
    // Takes the value (empty for a switch) into the options; throws ListUsageError.
    void (*Take)(ListOptions& options, const std::string& value) = nullptr;
};

struct ListUsageError
{
    std::string Message;
};

const std::vector<ListOptionSpec>& ListOptionTable();

// Throws ListUsageError.
ListOptions ParseListArguments(const std::vector<std::string>& args);

std::string ListHelpText();

// --lite: "off", "=0", "<=0", "<5", "<10", "range:MIN,MAX" or "top:N".
std::optional<YpLikeLiteOptions> ParseLiteRule(std::string_view text);

} // namespace kavo
