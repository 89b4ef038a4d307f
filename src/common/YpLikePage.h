#pragma once

#include "core/TkavoChItem.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kavo {

class IniFile;
class TkavoCommon;

// The entries of YpLikeLiteOptions::Lite: the switch, then the rules in the order of the menu.
enum LiteEntry : std::size_t {
    LiteOn = 0,
    LiteAtMostZero = 1, // "<=0"
    LiteBelow5 = 2,     // "<5"
    LiteBelow10 = 3,    // "<10"
    LiteNotZero = 4,    // "=0": hides the channels without listeners
    LiteRange = 5,      // hides CustomMin to CustomMax listeners
    LiteTop10 = 6,
    LiteTop20 = 7,
    LiteTop30 = 8,
    LiteTop40 = 9,
    LiteTopCustom = 10, // the top CustomCount
    LiteEntryCount = 11,
};

// The lite mode of the YP-style page, as kept in [Window] (YpLikeLite0 to YpLikeLite10,
// YpLikeLiteCustomMin, YpLikeLiteCustomMax, YpLikeLiteCustomCount).
struct YpLikeLiteOptions
{
    std::array<bool, LiteEntryCount> Lite{false, false, false, false, true, false, false, false, false, false, false};
    int CustomMin = 0;
    int CustomMax = 15;
    int CustomCount = 15;

    bool operator==(const YpLikeLiteOptions&) const = default;
};

// Its keys as the window writes them; a missing or unreadable key takes its default.
YpLikeLiteOptions ReadLiteOptions(const IniFile& file);
void WriteLiteOptions(IniFile& file, const YpLikeLiteOptions& options);

// Which channels of the on-air rows the page shows. Ask in row order: the top rules count the
// ordinary channels they have seen.
class YpLikeLiteFilter
{
public:
    // rank2: Notify/Rank2, which decides whether new channels of this or of the previous refresh
    // are always shown.
    YpLikeLiteFilter(const YpLikeLiteOptions& options, int rank2);

    bool Passes(const TkavoChItem& channel);

private:
    enum class Rule {
        None,
        NotZero,      // "=0" hides channels without listeners
        OutsideRange, // the custom listener range is hidden
        Above,        // "<=0", "<5", "<10"
        Top,
    };

    bool m_on;
    int m_alwaysShownDiff;
    Rule m_rule = Rule::None;
    int m_min = 0;
    int m_max = 0;
    int m_limit = 0;
    int m_counted = 0;
};

// The answer to the custom listener range prompt, "min,max": the two numbers when the text holds
// exactly one such pair, else nothing (the range stays as it was).
std::optional<std::pair<int, int>> ParseLiteRange(std::string_view answer);
// The answer to the custom top count prompt: a decimal integer, else 15.
int ParseLiteCount(std::string_view answer);
// The custom entries' captions for the current values, UTF-8.
std::string LiteRangeCaption(int min, int max);
std::string LiteCountCaption(int count);

// The on-air view's rows right after a refresh, before the user sorts: channels the view hides
// are left out, the rest ordered by listeners, most first (ties keep list order), "raw" channels
// last.
std::vector<const TkavoChItem*> OnAirFirstOrder(const TkavoChList& list);

// The page: the header for the whole list, the channel block for every row the filter passes, in
// row order, and the footer. CP932, as the templates are.
std::string BuildYpLikePage(const TkavoCommon& common, const TkavoChList& list,
                            const std::vector<const TkavoChItem*>& rows, YpLikeLiteFilter filter);

// What a link of the page asks for.
struct YpLikeLink
{
    enum class Kind {
        Play,   // Argument: the channel ID of a playlist link
        Menu,   // Argument: the channel ID whose context menu opens
        Action, // Argument: the action name
        Sort,   // Argument: the column identifier
        Open,   // the target opens in the browser
    };
    Kind What = Kind::Open;
    std::string Argument;
};
// Classifies a link target (as written in the href, entities decoded), first rule that matches.
YpLikeLink ClassifyYpLikeLink(std::string_view target);

} // namespace kavo
