#include "net/ChannelMerge.h"

#include "core/ChannelKey.h"
#include "net/RecordPool.h"

#include <memory>

namespace kavo {

void MergeChannelLists(TkavoChList& target, const std::vector<const TkavoChList*>& sources, bool unique)
{
    std::size_t total = 0;
    for (const TkavoChList* source : sources)
        total += static_cast<std::size_t>(source->Count());
    std::unique_ptr<ChannelKeySet> keys = unique ? std::make_unique<ChannelKeySet>(total) : nullptr;
    // The old records take the copies, so that their strings' buffers are reused.
    RecordPool old(target);
    target.Reserve(static_cast<int>(total));
    for (const TkavoChList* source : sources) {
        for (const TkavoChItem& channel : *source) {
            if (keys && !keys->Insert(channel))
                continue;
            target.Add(old.Copy(channel));
        }
    }
}

} // namespace kavo
