#include "history/LastList.h"

#include "core/FavoriteMatcher.h"
#include "history/HistoryStore.h"
#include "net/ChannelMerge.h"
#include "net/IndexParser.h"
#include "platform/RegularExpression.h"

#include <algorithm>
#include <unordered_map>

namespace kavo {

DateTime LoadLastList(HistoryStore& history, const TkavoSetting& setting, TkavoChList& list)
{
    list.Clear();
    std::unordered_map<std::string, StoredIndex> stored;
    for (StoredIndex& index : history.LastIndexes())
        stored.insert_or_assign(index.Url, std::move(index));
    const FavoriteMatcher favorites(setting.Favorites, setting.Etc.TwoChPtn);
    RegularExpression regExp;
    DateTime newest = 0;
    std::vector<YpRecord> yps(static_cast<std::size_t>(setting.YpList.Count()));
    std::vector<const TkavoChList*> lists;
    std::size_t i = 0;
    for (const TkavoYpItem& configured : setting.YpList) {
        YpRecord& yp = yps[i++];
        const auto found = stored.find(configured.Url);
        if (!configured.Enabled || found == stored.end())
            continue;
        yp.Assign(configured);
        ParseIndex(yp, found->second.Index, regExp);
        for (TkavoChItem& channel : yp.ChList) {
            channel.TimeStamp = found->second.Time;
            favorites.Match(channel, regExp);
        }
        newest = std::max(newest, found->second.Time);
        lists.push_back(&yp.ChList);
    }
    MergeChannelLists(list, lists, setting.Notify.Unique);
    list.LastUpdate = newest;
    return newest;
}

} // namespace kavo
