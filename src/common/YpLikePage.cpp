#include "common/YpLikePage.h"

#include "common/ukavoCommon.h"
#include "platform/Cp932.h"
#include "platform/RegularExpression.h"
#include "settings/IniFile.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace kavo {
namespace {

std::optional<int> ParseInt(std::string_view text)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::string_view TrimBlanks(std::string_view text)
{
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ')
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ')
        text.remove_suffix(1);
    return text;
}

constexpr std::string_view LiteSection = "Window";

std::string LiteKey(std::size_t entry)
{
    return "YpLikeLite" + std::to_string(entry);
}

} // namespace

YpLikeLiteOptions ReadLiteOptions(const IniFile& file)
{
    YpLikeLiteOptions options;
    for (std::size_t i = 0; i < options.Lite.size(); ++i)
        options.Lite[i] = file.ReadBool(LiteSection, LiteKey(i), options.Lite[i]);
    options.CustomMin = file.ReadInteger(LiteSection, "YpLikeLiteCustomMin", options.CustomMin);
    options.CustomMax = file.ReadInteger(LiteSection, "YpLikeLiteCustomMax", options.CustomMax);
    options.CustomCount = file.ReadInteger(LiteSection, "YpLikeLiteCustomCount", options.CustomCount);
    return options;
}

void WriteLiteOptions(IniFile& file, const YpLikeLiteOptions& options)
{
    for (std::size_t i = 0; i < options.Lite.size(); ++i)
        file.WriteBool(LiteSection, LiteKey(i), options.Lite[i]);
    file.WriteInteger(LiteSection, "YpLikeLiteCustomMin", options.CustomMin);
    file.WriteInteger(LiteSection, "YpLikeLiteCustomMax", options.CustomMax);
    file.WriteInteger(LiteSection, "YpLikeLiteCustomCount", options.CustomCount);
}

YpLikeLiteFilter::YpLikeLiteFilter(const YpLikeLiteOptions& options, int rank2)
    : m_on(options.Lite[LiteOn]), m_alwaysShownDiff(rank2 == 3 ? 3 : 4)
{
    const auto& lite = options.Lite;
    // One rule at most: the menu offers them as radio items. A hand-edited file that checks several
    // gets the first in this order.
    if (lite[LiteNotZero]) {
        m_rule = Rule::NotZero;
    } else if (lite[LiteRange]) {
        m_rule = Rule::OutsideRange;
        m_min = options.CustomMin;
        m_max = options.CustomMax;
    } else if (lite[LiteAtMostZero] || lite[LiteBelow5] || lite[LiteBelow10]) {
        m_rule = Rule::Above;
        m_min = lite[LiteAtMostZero] ? 0 : (lite[LiteBelow5] ? 4 : 9);
    } else {
        static constexpr std::array<int, 4> tops = {10, 20, 30, 40};
        for (std::size_t i = 0; i < tops.size(); ++i)
            if (lite[LiteTop10 + i]) {
                m_rule = Rule::Top;
                m_limit = tops[i];
            }
        if (m_rule == Rule::None && lite[LiteTopCustom]) {
            m_rule = Rule::Top;
            m_limit = options.CustomCount;
        }
    }
}

bool YpLikeLiteFilter::Passes(const TkavoChItem& channel)
{
    if (!m_on)
        return true;
    const int diff = static_cast<int>(channel.Diff);
    if (diff == m_alwaysShownDiff || channel.Diff == TkavoDiff::Relaying || channel.Diff == TkavoDiff::Playing ||
        channel.Find || channel.YpLike)
        return true;
    switch (m_rule) {
    case Rule::None:
        return true;
    case Rule::NotZero:
        return channel.Listeners != 0;
    case Rule::OutsideRange:
        return channel.Listeners < m_min || channel.Listeners > m_max;
    case Rule::Above:
        return channel.Listeners > m_min;
    case Rule::Top:
        // N - 1 ordinary channels: the count the menu has always shown for "top N".
        return m_counted++ < static_cast<long long>(m_limit) - 1;
    }
    return true;
}

std::optional<std::pair<int, int>> ParseLiteRange(std::string_view answer)
{
    RegularExpression regExp;
    regExp.IgnoreCase = true;
    regExp.Global = true;
    regExp.Pattern = "(-?[0-9]+),(-?[0-9]+)";
    const std::vector<RegExpMatch> matches = regExp.Execute(answer);
    if (matches.size() != 1)
        return std::nullopt;
    const auto min = ParseInt(matches[0].SubMatches.at(0));
    const auto max = ParseInt(matches[0].SubMatches.at(1));
    if (!min || !max)
        return std::nullopt; // beyond the range of an int
    return std::pair{*min, *max};
}

int ParseLiteCount(std::string_view answer)
{
    answer = TrimBlanks(answer);
    if (answer.starts_with('+'))
        answer.remove_prefix(1);
    return ParseInt(answer).value_or(15);
}

std::string LiteRangeCaption(int min, int max)
{
    char text[96];
    std::snprintf(text, sizeof text, "カスタム(リスナ)[%d<=%d](&C)", min, max);
    return text;
}

std::string LiteCountCaption(int count)
{
    char text[96];
    std::snprintf(text, sizeof text, "カスタム(上位)[%d](&C)", count);
    return text;
}

std::vector<const TkavoChItem*> OnAirFirstOrder(const TkavoChList& list)
{
    std::vector<const TkavoChItem*> rows;
    for (int i = 0; i < list.Count(); ++i)
        if (!list[i].ListDisable)
            rows.push_back(&list[i]);
    std::stable_sort(rows.begin(), rows.end(),
                     [](const TkavoChItem* a, const TkavoChItem* b) { return a->Listeners > b->Listeners; });
    std::stable_partition(rows.begin(), rows.end(),
                          [](const TkavoChItem* channel) { return Cp932AsciiLower(channel->Type) != "raw"; });
    return rows;
}

std::string BuildYpLikePage(const TkavoCommon& common, const TkavoChList& list,
                            const std::vector<const TkavoChItem*>& rows, YpLikeLiteFilter filter)
{
    std::string page = common.RenderHtmlHeader(list);
    for (const TkavoChItem* channel : rows)
        if (filter.Passes(*channel))
            common.AppendHtmlChannel(page, *channel);
    page += common.RenderHtmlFooter(list);
    return page;
}

YpLikeLink ClassifyYpLikeLink(std::string_view target)
{
    RegularExpression regExp;
    regExp.IgnoreCase = true;
    const auto first = [&](const char* pattern) -> std::optional<RegExpMatch> {
        regExp.Pattern = pattern;
        std::vector<RegExpMatch> matches = regExp.Execute(target);
        if (matches.empty())
            return std::nullopt;
        return std::move(matches.front());
    };
    if (first("(?:http|peercast)://.*?pls/[A-Z0-9]{32}")) {
        const auto id = first("([A-Z0-9]{32})");
        return {YpLikeLink::Kind::Play, id->SubMatches.at(0)};
    }
    // The program's own links only where the target starts with them: an outside address that merely
    // carries one in its query (a contact URL from a YP) opens in the browser.
    if (const auto menu = first("^kavo://menu/\\?([A-Z0-9]{32})"))
        return {YpLikeLink::Kind::Menu, menu->SubMatches.at(0)};
    if (const auto action = first("^kavo://actn/\\?(.+)"))
        return {YpLikeLink::Kind::Action, action->SubMatches.at(0)};
    if (const auto sort = first("^kavo://sort/\\?(.+)"))
        return {YpLikeLink::Kind::Sort, sort->SubMatches.at(0)};
    return {YpLikeLink::Kind::Open, std::string(target)};
}

} // namespace kavo
