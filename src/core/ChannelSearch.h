#pragma once

#include "core/TkavoChItem.h"
#include "platform/RegularExpression.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kavo {

// The input with leading and trailing blanks and control characters (bytes up to 0x20) removed, as
// the search history keeps it. A byte that low is never part of a double-byte character.
std::string TrimSearchInput(std::string_view input);

// The search pattern of a typed input (CP932): trimmed, every white-space character and ideographic
// space turned into "|", so that each blank separates alternatives, then HTML-escaped as the
// channel texts are held. Two blanks in a row give an empty alternative, which finds every channel.
// "" for an input of blanks only.
std::string MakeSearchPattern(std::string_view input, RegularExpression& regExp);

// What a search looks in: name, genre and description, playing and comment run together, as the
// channel holds them (HTML-escaped).
std::string ChannelSearchText(const TkavoChItem& channel);

// A search pattern compiled once for a whole list; letter case is ignored. A pattern that is empty
// after trimming, or not a valid regular expression, finds nothing.
class ChannelSearch
{
public:
    ChannelSearch(std::string_view pattern, RegularExpression& regExp);
    bool Empty() const { return m_empty; }
    // Why the pattern cannot be used; "" when it can.
    const std::string& Error() const { return m_error; }
    bool Matches(const TkavoChItem& channel);

private:
    RegularExpression& m_regExp;
    std::shared_ptr<const RegularExpression::Compiled> m_compiled;
    bool m_empty = true;
    std::string m_error;
    std::string m_text;
};

// Which of the rows the pattern finds: found[i] for rows[i]. A pattern that is empty after trimming,
// or not a valid regular expression, finds none.
std::vector<bool> SearchRows(const std::vector<const TkavoChItem*>& rows, std::string_view pattern,
                             RegularExpression& regExp);
// The rows' order with the found ones first, both groups keeping their order, as indices.
std::vector<int> FoundFirstOrder(const std::vector<bool>& found);
// Sets Find on the records of list that are among the rows: found[i] for rows[i]. The list's other
// records keep theirs.
void MarkFound(TkavoChList& list, const std::vector<const TkavoChItem*>& rows, const std::vector<bool>& found);

} // namespace kavo
