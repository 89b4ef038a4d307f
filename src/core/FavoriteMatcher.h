#pragma once

#include "core/TkavoChItem.h"
#include "core/TkavoFavoriteItem.h"
#include "platform/RegularExpression.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kavo {

// The favorites prepared for matching many channels: the rules are copied (a snapshot the
// retrieval worker can keep while the favorites dialog edits the originals), and the field sets
// and folded words are worked out once instead of once per channel. Like RegularExpression, a matcher
// keeps working buffers and belongs to one thread at a time.
class FavoriteMatcher
{
public:
    // No favorites and no bulletin-board pattern: matching only clears the marks.
    FavoriteMatcher() = default;
    FavoriteMatcher(const TkavoFavoriteList& favorites, std::string bbsPattern);
    FavoriteMatcher(const FavoriteMatcher& other) : m_rules(other.m_rules), m_bbsPattern(other.m_bbsPattern) {}
    FavoriteMatcher(FavoriteMatcher&&) = default;
    FavoriteMatcher& operator=(FavoriteMatcher&&) = default;
    FavoriteMatcher& operator=(const FavoriteMatcher& other)
    {
        m_rules = other.m_rules;
        m_bbsPattern = other.m_bbsPattern;
        return *this;
    }

    void Match(TkavoChItem& channel, RegularExpression& regExp) const;

private:
    // The HTML-decoded text of one field set of the channel being matched, and the same with every
    // byte "A"-"Z" lowered (trail bytes too) when a plain word first needs it.
    struct FieldText
    {
        unsigned Mask = 0;
        std::string Decoded;
        bool LoweredReady = false;
        std::string Lowered;
    };
    FieldText& textFor(const TkavoChItem& channel, unsigned mask) const;
    static bool containsWord(FieldText& text, const std::string& foldedWord, const std::string& loweredWord);

    // A regular expression compiled on its first test; an invalid one never matches.
    struct Pattern
    {
        explicit Pattern(std::string text = {}) : Text(std::move(text)) {}
        std::string Text;
        mutable std::shared_ptr<const RegularExpression::Compiled> Compiled;
        mutable bool Tried = false;
        bool Matches(RegularExpression& regExp, std::string_view subject) const;
    };
    struct Rule
    {
        unsigned Fields;
        bool RegExp;
        std::string Word;        // a plain word folded as Cp932AsciiLower folds it
        std::string LoweredWord; // a plain word with every byte "A"-"Z" lowered
        Pattern Expression;      // a regular expression
        bool ColorEnabled, ColorTextEnabled, ListDisable, YpLike, NotNotify;
        ColorValue Color, ColorText;
        std::string FileName;
    };
    std::vector<Rule> m_rules;
    Pattern m_bbsPattern;
    // Reused from channel to channel, so matching a channel rarely allocates.
    mutable std::vector<FieldText> m_texts;
    mutable std::size_t m_textsUsed = 0;
    mutable std::string m_decodeBuffer;
};

// Applies every enabled favorite to the channel and writes its favorite marks, and marks a contact
// URL that matches bbsPattern (Etc/2chPtn; an invalid pattern marks nothing). Each thread passes
// its own regExp: the object caches compiled patterns and is not shared between threads.
void MatchFavorites(TkavoChItem& channel, const TkavoFavoriteList& favorites, RegularExpression& regExp,
                    const std::string& bbsPattern);

// The flags a favorite's regular expression runs with, and the searches that work like favorites
// (the find dialog, the broadcast history): ignore case and global on, multi-line off.
void SetFavoriteFlags(RegularExpression& regExp);

// Whether word occurs in the HTML-decoded text: a regular expression (case-insensitive; any engine
// failure is no match) or a plain word (ASCII letters folded, matching on character boundaries).
// An empty word never matches.
bool WordMatches(std::string_view text, std::string_view word, bool isRegExp, RegularExpression& regExp);

} // namespace kavo
