#pragma once

#include "core/TkavoChItem.h"
#include "core/TkavoFavoriteItem.h"
#include "platform/RegularExpression.h"

#include <cstddef>
#include <string>
#include <vector>

namespace kavo {

// What one favorite finds among the channels on air, for trying a rule out while it is written.
struct FavoritePreview
{
    int Count = 0;                  // channels the rule matches
    std::vector<std::string> Names; // the first of them, channel names as held (CP932, escaped)
    std::string Error;              // why the word is not a valid regular expression; "" otherwise
};

// Tests the favorite as the refresh would, switched on, against every channel of the list; the
// channels are not changed. A regular expression that cannot be compiled matches nothing and says
// why.
FavoritePreview PreviewFavorite(const FavoriteFields& favorite, const TkavoChList& channels, RegularExpression& regExp,
                                std::size_t maxNames);

} // namespace kavo
