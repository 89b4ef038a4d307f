#include "net/ChannelMerge.h"

#include "net/RecordPool.h"

#include <bit>
#include <functional>
#include <memory>
#include <string_view>

namespace kavo {

namespace {

std::size_t KeyHash(const TkavoChItem& channel)
{
    const std::size_t a = std::hash<std::string_view>{}(channel.Hash);
    const std::size_t b = std::hash<std::string_view>{}(channel.ChannelName);
    return a ^ (b + 0x9e3779b97f4a7c15ull + (a << 6) + (a >> 2));
}

// Open addressing over the source records taken so far; the sources do not change during a merge.
class KeyTable
{
public:
    explicit KeyTable(std::size_t records) : m_slots(std::bit_ceil(records * 2 + 2)) {}

    // Whether an equal key was there; otherwise the record is remembered.
    bool Insert(const TkavoChItem& channel)
    {
        const std::size_t mask = m_slots.size() - 1;
        const std::size_t hash = KeyHash(channel);
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            Slot& slot = m_slots[i];
            if (!slot.Record) {
                slot = {hash, &channel};
                return false;
            }
            if (slot.Hash == hash && slot.Record->Hash == channel.Hash &&
                slot.Record->ChannelName == channel.ChannelName)
                return true;
        }
    }

private:
    struct Slot
    {
        std::size_t Hash = 0;
        const TkavoChItem* Record = nullptr;
    };
    std::vector<Slot> m_slots;
};

} // namespace

void MergeChannelLists(TkavoChList& target, const std::vector<const TkavoChList*>& sources, bool unique)
{
    std::size_t total = 0;
    for (const TkavoChList* source : sources)
        total += static_cast<std::size_t>(source->Count());
    std::unique_ptr<KeyTable> keys = unique ? std::make_unique<KeyTable>(total) : nullptr;
    // The old records take the copies, so that their strings' buffers are reused.
    RecordPool old(target);
    target.Reserve(static_cast<int>(total));
    for (const TkavoChList* source : sources) {
        for (const TkavoChItem& channel : *source) {
            if (keys && keys->Insert(channel))
                continue;
            target.Add(old.Copy(channel));
        }
    }
}

} // namespace kavo
