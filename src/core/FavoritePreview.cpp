#include "core/FavoritePreview.h"

#include "core/FavoriteMatcher.h"

#include <memory>

namespace kavo {

FavoritePreview PreviewFavorite(const FavoriteFields& favorite, const TkavoChList& channels, RegularExpression& regExp,
                                std::size_t maxNames)
{
    FavoritePreview preview;
    if (favorite.RegExp && !favorite.Word.empty()) {
        SetFavoriteFlags(regExp);
        regExp.Pattern = favorite.Word;
        try {
            regExp.Compile();
        } catch (const RegularExpressionError& error) {
            preview.Error = error.what();
            return preview;
        }
    }
    TkavoFavoriteList rule;
    auto item = std::make_unique<TkavoFavoriteItem>();
    static_cast<FavoriteFields&>(*item) = favorite;
    item->Enabled = true;
    rule.Add(std::move(item));
    const FavoriteMatcher matcher(rule, std::string());
    TkavoChItem scratch;
    for (const TkavoChItem& channel : channels) {
        scratch.Assign(channel);
        matcher.Match(scratch, regExp);
        if (!scratch.Favorite)
            continue;
        ++preview.Count;
        if (preview.Names.size() < maxNames)
            preview.Names.push_back(channel.ChannelName);
    }
    return preview;
}

} // namespace kavo
