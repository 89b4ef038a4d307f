#include "core/TkavoFavoriteItem.h"

namespace kavo {

void TkavoFavoriteItem::Assign(const TkavoDataItem& source)
{
    if (const auto* favorite = dynamic_cast<const TkavoFavoriteItem*>(&source); favorite && favorite != this)
        static_cast<FavoriteFields&>(*this) = *favorite;
    TkavoDataItem::Assign(source);
}

void TkavoFavoriteList::Assign(const TkavoDataList& source)
{
    if (&source == this)
        return;
    TkavoDataList::Assign(source);
    if (const auto* list = dynamic_cast<const TkavoFavoriteList*>(&source))
        Valid = list->Valid;
}

} // namespace kavo
