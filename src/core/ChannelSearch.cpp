#include "core/ChannelSearch.h"

#include "core/FavoriteMatcher.h"
#include "platform/HtmlEntities.h"

#include <algorithm>
#include <numeric>

namespace kavo {

namespace {

bool Blank(char c)
{
    return static_cast<unsigned char>(c) <= 0x20;
}

void AppendSearchText(const TkavoChItem& channel, std::string& text)
{
    text += channel.ChannelName;
    AppendGenreDescription(text, channel.Genre, channel.Description);
    text += channel.Playing;
    text += channel.Comment;
}

} // namespace

std::string TrimSearchInput(std::string_view input)
{
    while (!input.empty() && Blank(input.front()))
        input.remove_prefix(1);
    while (!input.empty() && Blank(input.back()))
        input.remove_suffix(1);
    return std::string(input);
}

std::string MakeSearchPattern(std::string_view input, RegularExpression& regExp)
{
    const std::string trimmed = TrimSearchInput(input);
    if (trimmed.empty())
        return {};
    regExp.IgnoreCase = false;
    regExp.Global = true;
    regExp.Multiline = false;
    regExp.Pattern = "\x81\x40|\\s"; // the ideographic space or any white space
    return HtmlEncode(regExp.Replace(trimmed, "|"));
}

std::string ChannelSearchText(const TkavoChItem& channel)
{
    std::string text;
    AppendSearchText(channel, text);
    return text;
}

ChannelSearch::ChannelSearch(std::string_view pattern, RegularExpression& regExp) : m_regExp(regExp)
{
    if (TrimSearchInput(pattern).empty())
        return;
    m_empty = false;
    SetFavoriteFlags(m_regExp);
    m_regExp.Pattern = pattern;
    try {
        m_compiled = m_regExp.Compile();
    } catch (const std::exception& error) {
        m_error = error.what();
    }
}

bool ChannelSearch::Matches(const TkavoChItem& channel)
{
    if (!m_compiled)
        return false;
    m_text.clear();
    AppendSearchText(channel, m_text);
    try {
        return m_regExp.Test(*m_compiled, m_text);
    } catch (const std::exception&) {
        return false;
    }
}

std::vector<int> ApplySearch(const std::vector<TkavoChItem*>& rows, std::string_view pattern, bool moveResultsUp,
                             RegularExpression& regExp)
{
    std::vector<int> order(rows.size());
    std::iota(order.begin(), order.end(), 0);
    for (TkavoChItem* channel : rows)
        channel->Find = false;
    ChannelSearch search(pattern, regExp);
    if (search.Empty())
        return order;
    for (TkavoChItem* channel : rows)
        channel->Find = search.Matches(*channel);
    if (moveResultsUp)
        std::stable_partition(order.begin(), order.end(),
                              [&](int row) { return rows[static_cast<std::size_t>(row)]->Find; });
    return order;
}

} // namespace kavo
