#pragma once

#include "core/TkavoChItem.h"
#include "core/TkavoYpItem.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kavo {

class RegularExpression;

// A YP's index is one channel a line, at least 19 fields separated by "<>".
constexpr int IndexFieldCount = 19;

// Splits at every separator. Empty fields between two separators count; an empty text after the
// last separator does not, so "a<>b<>" gives two fields. Stops once maxFields are taken.
void SplitFields(std::string_view text, std::string_view separator, std::vector<std::string_view>& fields,
                 std::size_t maxFields = static_cast<std::size_t>(-1));

// Calls line(text) for every line of the text; lines end with CR LF, CR or LF, and a final line
// break does not start another, empty line.
template <class LineFn>
void ForEachLine(std::string_view text, LineFn&& line)
{
    const char* pos = text.data();
    const char* const end = pos + text.size();
    auto find = [end](const char* from, char c) {
        const void* hit = std::memchr(from, c, static_cast<std::size_t>(end - from));
        return hit ? static_cast<const char*>(hit) : end;
    };
    // Most indexes have no CR at all, or one before every LF: look for each kind separately.
    const char* cr = find(pos, '\r');
    while (pos < end) {
        if (cr < pos)
            cr = find(pos, '\r');
        const char* stop = std::min(find(pos, '\n'), cr);
        line(std::string_view(pos, static_cast<std::size_t>(stop - pos)));
        if (stop == end)
            break;
        if (*stop == '\r' && stop + 1 < end && stop[1] == '\n')
            ++stop;
        pos = stop + 1;
    }
}

// A decimal integer with an optional sign (leading blanks allowed); `fallback` for anything else,
// an overflow included.
std::int32_t IndexInteger(std::string_view text, std::int32_t fallback);

// Decides which parsed channels a YP keeps: its ChType expression against the channel's type, and
// its "min,max" bitrate limits (minimum inclusive, maximum exclusive, -1 for no limit).
class ChannelFilter
{
public:
    ChannelFilter(const TkavoYpItem& yp, RegularExpression& regExp);

    bool AcceptChannel(const TkavoChItem& channel);
    bool Accepts(std::int32_t bitrate, std::string_view type);
    bool AcceptsBitrate(std::int32_t bitrate) const;
    bool AcceptsType(std::string_view type) { return typeMatches(type); }

    int MinBitrate() const { return m_min; }
    int MaxBitrate() const { return m_max; }

private:
    bool typeMatches(std::string_view type);

    RegularExpression& m_regExp;
    std::string m_pattern;
    int m_min = -1;
    int m_max = -1;
    // A YP uses a handful of stream types, so each is tested against the expression once.
    std::vector<std::pair<std::string, bool>> m_typeResults;
};

int CountLines(std::string_view text);

// Why a YP's answer is plainly not an index: it has something other than blanks, yet no line with
// the 19 fields (an HTML error or maintenance page, as a rule). "" when it may be one; an empty
// answer is an empty YP.
std::string NotIndexReason(std::string_view text);
// The most channels one YP may list. An index with more lines that hold channel fields is refused
// whole (the YP keeps its previous list), so that a broken or hostile YP cannot take the memory.
constexpr int MaxChannelsPerYp = 50000;
// Lines with at least IndexFieldCount - 1 separators, counted up to limit + 1.
int CountChannelLines(std::string_view index, int limit);

// Appends one record to yp.ChList for every accepted line of the CP932 index. A line that cannot
// be read is skipped; every line, skipped or not, counts for the records' No.
void ParseIndex(YpRecord& yp, std::string_view index, RegularExpression& regExp);
// Clears yp.ChList and parses the index into it, reusing the old records' storage.
void ReplaceFromIndex(YpRecord& yp, std::string_view index, RegularExpression& regExp);

} // namespace kavo
