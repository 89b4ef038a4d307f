#include "core/FavoriteMatcher.h"

#include "common/HtmlEntities.h"
#include "platform/Cp932.h"
#include "platform/TkavoRegExp.h"

#include <array>
#include <optional>
#include <vector>

namespace kavo {

namespace {

bool RegExpMatches(TkavoRegExp& regExp, std::string_view pattern, std::string_view text)
{
    regExp.IgnoreCase = true;
    regExp.Global = true;
    regExp.Multiline = false;
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

std::string MatchText(const TkavoChItem& channel, unsigned mask)
{
    std::string text;
    auto append = [&](unsigned bit, auto&& field) {
        if (!(mask & (1u << bit)))
            return;
        if (!text.empty())
            text += ',';
        text += field();
    };
    append(0, [&] { return channel.ChannelName; });
    append(1, [&] { return channel.GenreDescription() + channel.Playing; });
    append(2, [&] { return channel.Comment; });
    append(3, [&] { return channel.ContactURL; });
    append(4, [&] { return channel.YpAddr; });
    append(5, [&] { return channel.StreamURL; });
    append(6, [&] { return channel.Type; });
    append(7, [&] { return std::to_string(channel.Listeners); });
    append(8, [&] { return std::to_string(channel.BitrateValue); });
    return text;
}

// Favorites mostly search the same few field sets; each set's text is built and decoded once
// per channel.
class MatchTexts
{
public:
    explicit MatchTexts(const TkavoChItem& channel) : m_channel(channel) {}

    struct Text
    {
        unsigned Mask;
        std::string Decoded;
        std::optional<std::string> Folded;
    };

    Text& For(unsigned mask)
    {
        for (Text& text : m_texts)
            if (text.Mask == mask)
                return text;
        return m_texts.emplace_back(Text{mask, HtmlDecode(MatchText(m_channel, mask)), std::nullopt});
    }

private:
    const TkavoChItem& m_channel;
    std::vector<Text> m_texts;
};

} // namespace

bool WordMatches(std::string_view text, std::string_view word, bool isRegExp, TkavoRegExp& regExp)
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
                               favorite.RegExp ? favorite.Word : Cp932AsciiLower(favorite.Word), favorite.ColorEnabled,
                               favorite.ColorTextEnabled, favorite.ListDisable, favorite.YpLike, favorite.NotNotify,
                               favorite.Color, favorite.ColorText, favorite.FileName});
    }
}

void FavoriteMatcher::Match(TkavoChItem& channel, TkavoRegExp& regExp) const
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

    if (!m_bbsPattern.empty())
        channel.ContactIsBbs = RegExpMatches(regExp, m_bbsPattern, channel.ContactURL);

    MatchTexts texts(channel);
    for (const Rule& rule : m_rules) {
        MatchTexts::Text& text = texts.For(rule.Fields);
        bool matches;
        if (rule.RegExp) {
            matches = RegExpMatches(regExp, rule.Word, text.Decoded);
        } else {
            if (!text.Folded)
                text.Folded = Cp932AsciiLower(text.Decoded);
            matches = Cp932Find(*text.Folded, rule.Word) != std::string_view::npos;
        }
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

void MatchFavorites(TkavoChItem& channel, const TkavoFavoriteList& favorites, TkavoRegExp& regExp,
                    const std::string& bbsPattern)
{
    FavoriteMatcher(favorites, bbsPattern).Match(channel, regExp);
}

} // namespace kavo
