#include "core/ChannelSearch.h"

#include "platform/HtmlEntities.h"

#include <algorithm>
#include <numeric>
#include <unordered_map>

namespace kavo {

namespace {

bool Blank(char c)
{
    return static_cast<unsigned char>(c) <= 0x20;
}

void SetSearchFlags(RegularExpression& regExp)
{
    regExp.IgnoreCase = true;
    regExp.Global = true;
    regExp.Multiline = false;
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
    SetSearchFlags(m_regExp);
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

std::vector<bool> SearchRows(const std::vector<const TkavoChItem*>& rows, std::string_view pattern,
                             RegularExpression& regExp)
{
    std::vector<bool> found(rows.size(), false);
    ChannelSearch search(pattern, regExp);
    if (search.Empty())
        return found;
    for (std::size_t i = 0; i < rows.size(); ++i)
        found[i] = search.Matches(*rows[i]);
    return found;
}

std::vector<int> FoundFirstOrder(const std::vector<bool>& found)
{
    std::vector<int> order(found.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_partition(order.begin(), order.end(), [&](int row) { return found[static_cast<std::size_t>(row)]; });
    return order;
}

void MarkFound(TkavoChList& list, const std::vector<const TkavoChItem*>& rows, const std::vector<bool>& found)
{
    std::unordered_map<const TkavoChItem*, bool> marks;
    for (std::size_t i = 0; i < rows.size() && i < found.size(); ++i)
        if (rows[i]->List == &list)
            marks.emplace(rows[i], found[i]);
    if (marks.empty())
        return;
    for (TkavoChItem& channel : list)
        if (const auto mark = marks.find(&channel); mark != marks.end())
            channel.Find = mark->second;
}

} // namespace kavo
