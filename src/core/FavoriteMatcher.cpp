#include "core/FavoriteMatcher.h"

#include "platform/Cp932.h"
#include "platform/HtmlEntities.h"
#include "platform/RegularExpression.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace kavo {

namespace {

bool RegExpMatches(RegularExpression& regExp, std::string_view pattern, std::string_view text)
{
    SetFavoriteFlags(regExp);
    regExp.Pattern = pattern;
    try {
        return regExp.Test(text);
    } catch (const std::exception&) {
        return false;
    }
}

bool PlainWordMatches(std::string_view foldedText, std::string_view word)
{
    return Cp932Find(foldedText, Cp932AsciiLower(word)) != std::string_view::npos;
}

// The fields a favorite searches, as a bit per switch in the order they are joined.
unsigned FieldMask(const TkavoFavoriteItem& favorite)
{
    const std::array switches = {favorite.Channel,    favorite.Description, favorite.Comment,
                                 favorite.ContactURL, favorite.YpAddr,      favorite.StreamURL,
                                 favorite.ChType,     favorite.Listeners,   favorite.Bitrate};
    unsigned mask = 0;
    for (std::size_t i = 0; i < switches.size(); ++i)
        if (switches[i])
            mask |= 1u << i;
    return mask;
}

// The fields of the mask in their order, each after a "," when something was gathered before it,
// written over text.
void JoinFields(const TkavoChItem& channel, unsigned mask, std::string& text)
{
    text.clear();
    auto separate = [&](unsigned bit) {
        const bool selected = mask & (1u << bit);
        if (selected && !text.empty())
            text += ',';
        return selected;
    };
    if (separate(0))
        text += channel.ChannelName;
    if (separate(1)) {
        AppendGenreDescription(text, channel.Genre, channel.Description);
        text += channel.Playing;
    }
    if (separate(2))
        text += channel.Comment;
    if (separate(3))
        text += channel.ContactURL;
    if (separate(4))
        text += channel.YpAddr;
    if (separate(5))
        text += channel.StreamURL;
    if (separate(6))
        text += channel.Type;
    if (separate(7))
        text += std::to_string(channel.Listeners);
    if (separate(8))
        text += std::to_string(channel.BitrateValue);
}

char LowerByte(char c)
{
    return static_cast<char>(static_cast<unsigned>(static_cast<unsigned char>(c) - 'A') < 26u ? c + ('a' - 'A') : c);
}

// Lowers "A"-"Z" in every byte, trail bytes included: a loop the compiler turns into vector code.
void LowerBytes(std::string_view text, std::string& out)
{
    out.resize(text.size());
    std::transform(text.begin(), text.end(), out.begin(), LowerByte);
}

// Whether the text folded as Cp932AsciiLower folds it holds the folded word at the character
// boundary pos: single-byte characters compare folded, the two bytes of a pair exactly.
bool FoldedEqualAt(std::string_view text, std::size_t pos, std::string_view foldedWord)
{
    for (std::size_t i = 0; i < foldedWord.size();) {
        const std::size_t length = Cp932CharLength(text, pos + i);
        if (length == 1) {
            if (LowerByte(text[pos + i]) != foldedWord[i])
                return false;
        } else if (text[pos + i] != foldedWord[i] ||
                   (i + 1 < foldedWord.size() && text[pos + i + 1] != foldedWord[i + 1])) {
            return false;
        }
        i += length;
    }
    return true;
}

std::string Lowered(std::string_view text)
{
    std::string out;
    LowerBytes(text, out);
    return out;
}
} // namespace

void SetFavoriteFlags(RegularExpression& regExp)
{
    regExp.IgnoreCase = true;
    regExp.Global = true;
    regExp.Multiline = false;
}

bool WordMatches(std::string_view text, std::string_view word, bool isRegExp, RegularExpression& regExp)
{
    if (word.empty())
        return false;
    const std::string decoded = HtmlDecode(text);
    return isRegExp ? RegExpMatches(regExp, word, decoded) : PlainWordMatches(Cp932AsciiLower(decoded), word);
}

FavoriteMatcher::FavoriteMatcher(const TkavoFavoriteList& favorites, std::string bbsPattern)
    : m_bbsPattern(std::move(bbsPattern))
{
    for (const TkavoFavoriteItem& favorite : favorites) {
        // A disabled favorite or one without a word never matches and changes nothing.
        if (!favorite.Enabled || favorite.Word.empty())
            continue;
        m_rules.push_back(Rule{FieldMask(favorite), favorite.RegExp,
                               favorite.RegExp ? std::string() : Cp932AsciiLower(favorite.Word),
                               favorite.RegExp ? std::string() : Lowered(favorite.Word),
                               Pattern(favorite.RegExp ? favorite.Word : std::string()), favorite.ColorEnabled,
                               favorite.ColorTextEnabled, favorite.ListDisable, favorite.YpLike, favorite.NotNotify,
                               favorite.Color, favorite.ColorText, favorite.FileName});
    }
}

bool FavoriteMatcher::Pattern::Matches(RegularExpression& regExp, std::string_view subject) const
{
    if (!Tried) {
        Tried = true;
        SetFavoriteFlags(regExp);
        regExp.Pattern = Text;
        try {
            Compiled = regExp.Compile();
        } catch (const RegularExpressionError&) {
            return false; // an invalid pattern: no match for the whole refresh
        } catch (const std::exception&) {
            Tried = false; // out of memory: try again with the next channel
            return false;
        }
    }
    if (!Compiled)
        return false;
    try {
        return regExp.Test(*Compiled, subject);
    } catch (const std::exception&) {
        return false;
    }
}

// Favorites mostly search the same few field sets; each set's text is built and decoded once per
// channel.
FavoriteMatcher::FieldText& FavoriteMatcher::textFor(const TkavoChItem& channel, unsigned mask) const
{
    for (std::size_t i = 0; i < m_textsUsed; ++i)
        if (m_texts[i].Mask == mask)
            return m_texts[i];
    if (m_textsUsed == m_texts.size())
        m_texts.emplace_back();
    FieldText& text = m_texts[m_textsUsed++];
    text.Mask = mask;
    text.LoweredReady = false;
    JoinFields(channel, mask, text.Decoded);
    if (text.Decoded.find('&') != std::string::npos) {
        HtmlDecode(text.Decoded, m_decodeBuffer);
        text.Decoded.swap(m_decodeBuffer);
    }
    return text;
}

// A plain word: ASCII letters folded, and a match must start where a character starts (the trail
// byte of a double-byte character never does). Candidates come from the texts with every byte
// lowered, a superset of the true matches found by fast library searches; each is then checked
// against the character structure of the text.
bool FavoriteMatcher::containsWord(FieldText& text, const std::string& foldedWord, const std::string& loweredWord)
{
    const std::string_view decoded = text.Decoded;
    const std::size_t size = decoded.size();
    const std::size_t length = loweredWord.size();
    if (length > size)
        return false;
    if (!text.LoweredReady) {
        LowerBytes(decoded, text.Lowered);
        text.LoweredReady = true;
    }
    const char* const lowered = text.Lowered.data();
    const char* const last = lowered + (size - length);
    // Whether a candidate starts a character: the byte before a run of lead-range bytes always ends
    // a character (a single byte or a trail byte, neither of which can start a pair), and within the
    // run every lead byte takes the next byte as its trail, so the candidate starts a character when
    // the run just before it has an even length. The run is counted back no further than the last
    // known start, which keeps the whole search linear in the text.
    std::size_t knownStart = 0;
    for (const char* hit = lowered; hit <= last; ++hit) {
        hit = static_cast<const char*>(std::memchr(hit, loweredWord[0], static_cast<std::size_t>(last - hit) + 1));
        if (!hit)
            return false;
        const auto pos = static_cast<std::size_t>(hit - lowered);
        if (std::memcmp(hit + 1, loweredWord.data() + 1, length - 1) != 0)
            continue;
        std::size_t run = 0;
        while (pos - run > knownStart && IsCp932Lead(static_cast<unsigned char>(decoded[pos - run - 1])))
            ++run;
        const bool startsCharacter = run % 2 == 0;
        if (startsCharacter && FoldedEqualAt(decoded, pos, foldedWord))
            return true;
        knownStart = startsCharacter ? pos : pos - 1;
    }
    return false;
}

void FavoriteMatcher::Match(TkavoChItem& channel, RegularExpression& regExp) const
{
    channel.ColorEnabled = false;
    channel.Color = clWindow;
    channel.ColorTextEnabled = false;
    channel.ColorText = clWindowText;
    channel.ListDisable = false;
    channel.YpLike = false;
    channel.NotNotify = false;
    channel.FileName.clear();
    channel.Favorite = false;
    channel.ContactIsBbs = false;

    if (!m_bbsPattern.Text.empty())
        channel.ContactIsBbs = m_bbsPattern.Matches(regExp, channel.ContactURL);

    m_textsUsed = 0;
    for (const Rule& rule : m_rules) {
        FieldText& text = textFor(channel, rule.Fields);
        const bool matches = rule.RegExp ? rule.Expression.Matches(regExp, text.Decoded)
                                         : containsWord(text, rule.Word, rule.LoweredWord);
        if (!matches)
            continue;

        channel.Favorite = true;
        if (!channel.ColorEnabled)
            channel.ColorEnabled = rule.ColorEnabled;
        if (rule.ColorEnabled)
            channel.Color = rule.Color;
        if (!channel.ColorTextEnabled)
            channel.ColorTextEnabled = rule.ColorTextEnabled;
        if (rule.ColorTextEnabled)
            channel.ColorText = rule.ColorText;
        channel.ListDisable = channel.ListDisable || rule.ListDisable;
        channel.YpLike = channel.YpLike || rule.YpLike;
        channel.NotNotify = channel.NotNotify || rule.NotNotify;
        channel.FileName = rule.FileName;
    }
}

void MatchFavorites(TkavoChItem& channel, const TkavoFavoriteList& favorites, RegularExpression& regExp,
                    const std::string& bbsPattern)
{
    FavoriteMatcher(favorites, bbsPattern).Match(channel, regExp);
}

} // namespace kavo
