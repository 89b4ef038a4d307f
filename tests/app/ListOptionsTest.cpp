// kavo-list's command line, from its table of options.
#include "ListOptions.h"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kavo {
namespace {

// A value every option that takes one accepts, by the name the help gives it.
const std::map<std::string_view, std::string> SampleValues = {
    {"DIR", "/tmp/kavo"}, {"N", "3"},        {"SECONDS", "2"},      {"MINUTES", "5"},
    {"FORMAT", "json"},   {"TEXT", "word"},  {"DAYS", "7"},         {"FILE", "t.html"},
    {"ENC", "sjis"},      {"RULE", "top:5"}, {"WHEN", "Fri 21:00"}, {"K", "2"},
};

// Whether the help names the option as a word of its own: after a blank or '[',
// before a blank, ',', ']', a line end or the end.
bool NamesWord(const std::string& help, std::string_view word)
{
    for (std::size_t at = help.find(word); at != std::string::npos; at = help.find(word, at + 1)) {
        const bool startOk = at == 0 || help[at - 1] == ' ' || help[at - 1] == '[';
        const std::size_t end = at + word.size();
        const bool endOk = end == help.size() || std::string_view(" ,]\n").find(help[end]) != std::string_view::npos;
        if (startOk && endOk)
            return true;
    }
    return false;
}

std::string UsageErrorOf(const std::vector<std::string>& args)
{
    try {
        ParseListArguments(args);
    } catch (const ListUsageError& error) {
        return error.Message;
    }
    return {};
}

// Each option: named in the help, taken in both spellings of its value, and doing something.
TEST(ListOptions, EveryOptionIsInTheHelpAndParses)
{
    const std::string help = ListHelpText();
    const auto& table = ListOptionTable();
    const auto argsOf = [&](const ListOptionSpec& option) {
        std::vector<std::string> args = {std::string(option.Name)};
        if (!option.Argument.empty())
            args.push_back(SampleValues.at(option.Argument));
        return args;
    };
    for (const ListOptionSpec& option : table) {
        const std::string name(option.Name);
        SCOPED_TRACE(name);
        ASSERT_TRUE(option.Argument.empty() || SampleValues.contains(option.Argument))
            << "no sample value for " << option.Argument;
        for (const std::string_view spelling : {option.Name, option.Alias})
            if (!spelling.empty()) {
                EXPECT_TRUE(NamesWord(help, spelling)) << spelling << " is not in the help";
            }

        // What it goes with, alone, is the baseline the option must change.
        std::vector<std::string> base;
        for (const ListOptionSpec& other : table)
            if (other.Name == option.Needs.substr(0, option.Needs.find('|')))
                base = argsOf(other);
        std::vector<std::string> args = argsOf(option);
        args.insert(args.end(), base.begin(), base.end());
        const std::string error = UsageErrorOf(args);
        ASSERT_EQ(error, "");
        EXPECT_NE(ParseListArguments(args), ParseListArguments(base)) << "the option changed nothing";

        if (option.Argument.empty()) {
            EXPECT_EQ(UsageErrorOf({name + "=1"}), "option " + name + " takes no value");
        } else {
            std::vector<std::string> joined = {name + "=" + args[1]};
            joined.insert(joined.end(), base.begin(), base.end());
            EXPECT_EQ(ParseListArguments(joined), ParseListArguments(args));
            EXPECT_EQ(UsageErrorOf({name}), "option " + name + " needs a value");
        }
        if (!option.Alias.empty()) {
            EXPECT_EQ(ParseListArguments({std::string(option.Alias)}), ParseListArguments({name}));
        }
    }
    EXPECT_EQ(UsageErrorOf({"--nothing"}), "unknown argument \"--nothing\"");
}

// An option that does nothing in the chosen mode is refused; one that only changes how it runs is
// taken.
TEST(ListOptions, ModesRefuseWhatDoesNothingThere)
{
    struct Case
    {
        std::vector<std::string> Args;
        const char* Refusal; // the start of the message; empty: taken
    };
    const std::array<Case, 28> cases{{
        {{"--page", "--format", "json"}, "--page prints one page"},
        {{"--page", "--cycles", "2"}, "--page prints one page"},
        {{"--page", "--settings"}, "--page prints one page"},
        {{"--page", "--cycles", "1", "--lite", "<5", "--home", "h"}, ""},
        {{"--yp-status", "--history"}, "--yp-status, --history, --notifications and --regulars print different tables"},
        {{"--notifications", "--history"},
         "--yp-status, --history, --notifications and --regulars print different tables"},
        {{"--history", "--all"}, "--yp-status, --history and --notifications print no channel list"},
        {{"--template", "t", "--yp-status"}, "--yp-status, --history and --notifications print no channel list"},
        {{"--notifications", "--merge"}, "--yp-status, --history and --notifications print no channel list"},
        {{"--yp-status", "--since", "1"}, "--since goes with --history or --notifications"},
        {{"--notifications", "--since", "1", "--format", "tsv"}, ""},
        {{"--regulars", "--all"}, "--regulars prints no channel list"},
        {{"--regulars", "--history"}, "--yp-status, --history, --notifications and --regulars print different tables"},
        {{"--at", "Fri 21:00"}, "--at, --weeks and --min-weeks go with --regulars"},
        {{"--regulars", "--weeks", "2", "--min-weeks", "3"}, "--min-weeks cannot be more than --weeks"},
        {{"--regulars", "--at", "金 21:00", "--weeks", "8", "--format", "tsv", "--home", "h"}, ""},
        {{"--yp-status", "--format", "tsv", "--cycles", "2", "--manual", "--find", "x"}, ""},
        {{"--history", "--settings", "--search", "x", "--since", "2"}, ""},
        {{"--template", "t", "--log"}, "--template prints the templates"},
        {{"--template", "t", "--all", "--all-cycles", "--encoding", "sjis", "--header", "h"}, ""},
        {{"--header", "h"}, "--header and --footer go with --template"},
        {{"--log", "--all", "--format", "tsv", "--find", "x", "--find-only", "--time-step", "3"}, ""},
        {{"--export-rules", "f", "--format", "json"}, "--export-rules and --import-rules fetch nothing"},
        {{"--import-rules", "f", "--cycles", "2"}, "--export-rules and --import-rules fetch nothing"},
        {{"--export-rules", "-", "--settings"}, "--export-rules and --import-rules fetch nothing"},
        {{"--import-rules", "f", "--export-rules", "g"}, "give --export-rules or --import-rules, not both"},
        {{"--replace"}, "--replace goes with --import-rules"},
        {{"--import-rules", "-", "--replace", "--home", "h"}, ""},
    }};
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& arg : c.Args)
            line += arg + " ";
        const std::string error = UsageErrorOf(c.Args);
        if (*c.Refusal == '\0')
            EXPECT_EQ(error, "") << line;
        else
            EXPECT_TRUE(error.starts_with(c.Refusal)) << line << "\n" << error;
    }
}

// The rules of --lite, by the listener counts the page keeps.
TEST(ListOptions, LiteRules)
{
    TkavoChList list;
    for (const int listeners : {-1, 0, 3, 7, 12, 30}) {
        auto channel = std::make_unique<TkavoChItem>();
        channel->Listeners = listeners;
        list.Add(std::move(channel));
    }
    struct Case
    {
        const char* Rule;
        std::vector<int> Shown;
    };
    const std::array<Case, 7> cases{{
        {"off", {-1, 0, 3, 7, 12, 30}},
        {"=0", {-1, 3, 7, 12, 30}},
        {"<=0", {3, 7, 12, 30}},
        {"<5", {7, 12, 30}},
        {"<10", {12, 30}},
        {"range:3,7", {-1, 0, 12, 30}},
        {"top:3", {-1, 0}}, // N - 1 ordinary channels, as the window's menu has always done
    }};
    for (const Case& c : cases) {
        const std::optional<YpLikeLiteOptions> options = ParseLiteRule(c.Rule);
        ASSERT_TRUE(options) << c.Rule;
        YpLikeLiteFilter filter(*options, 4);
        std::vector<int> shown;
        for (const TkavoChItem& channel : list)
            if (filter.Passes(channel))
                shown.push_back(channel.Listeners);
        EXPECT_EQ(shown, c.Shown) << c.Rule;
    }
    for (const char* bad : {"", "OFF", "<3", "range:1", "range:1,x", "range:,", "top:", "top:x", "top:1.5"})
        EXPECT_FALSE(ParseLiteRule(bad)) << bad;
}

} // namespace
} // namespace kavo
