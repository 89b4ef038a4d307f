#pragma once

#include "core/TkavoChItem.h"
#include "core/TkavoFavoriteItem.h"

#include <string>
#include <string_view>
#include <vector>

namespace kavo {

class TkavoRegExp;

// The favorites prepared for matching many channels: the rules are copied (a snapshot the
// retrieval worker can keep while the favorites dialog edits the originals), and the field sets
// and folded words are worked out once instead of once per channel.
class FavoriteMatcher
{
public:
    FavoriteMatcher(const TkavoFavoriteList& favorites, std::string bbsPattern);
    void Match(TkavoChItem& channel, TkavoRegExp& regExp) const;

private:
    struct Rule
    {
        unsigned Fields;
        bool RegExp;
        std::string Word; // folded for plain words
        bool ColorEnabled, ColorTextEnabled, ListDisable, YpLike, NotNotify;
        TColor Color, ColorText;
        std::string FileName;
    };
    std::vector<Rule> m_rules;
    std::string m_bbsPattern;
};

// Applies every enabled favorite to the channel and writes its favorite marks, and marks a contact
// URL that matches bbsPattern (Etc/2chPtn; an invalid pattern marks nothing). Each thread passes
// its own regExp: the object caches compiled patterns and is not shared between threads.
void MatchFavorites(TkavoChItem& channel, const TkavoFavoriteList& favorites, TkavoRegExp& regExp,
                    const std::string& bbsPattern);

// Whether word occurs in the HTML-decoded text: a regular expression (case-insensitive; any engine
// failure is no match) or a plain word (ASCII letters folded, matching on character boundaries).
// An empty word never matches.
bool WordMatches(std::string_view text, std::string_view word, bool isRegExp, TkavoRegExp& regExp);

} // namespace kavo
