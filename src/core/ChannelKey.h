#pragma once

#include "core/TkavoChItem.h"

#include <bit>
#include <cstddef>
#include <functional>
#include <string_view>
#include <vector>

namespace kavo {

// What makes two records the same channel where a list shows each channel once (Notify/Unique):
// an equal ID and an equal name.
struct ChannelKey
{
    std::string_view Hash;
    std::string_view Name;

    explicit ChannelKey(const TkavoChItem& channel) : Hash(channel.Hash), Name(channel.ChannelName) {}
    bool operator==(const ChannelKey&) const = default;
};

struct ChannelKeyHash
{
    std::size_t operator()(const ChannelKey& key) const
    {
        const std::size_t a = std::hash<std::string_view>{}(key.Hash);
        const std::size_t b = std::hash<std::string_view>{}(key.Name);
        return a ^ (b + 0x9e3779b97f4a7c15ull + (a << 6) + (a >> 2));
    }
};

// The keys of up to a known number of records, by open addressing. The records must outlive the
// set and keep their keys while it is used.
class ChannelKeySet
{
public:
    explicit ChannelKeySet(std::size_t records) : m_slots(std::bit_ceil(records * 2 + 2)) {}

    // False when a record with an equal key was inserted before; otherwise remembers this one.
    bool Insert(const TkavoChItem& channel)
    {
        const ChannelKey key(channel);
        const std::size_t hash = ChannelKeyHash{}(key);
        const std::size_t mask = m_slots.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            Slot& slot = m_slots[i];
            if (!slot.Record) {
                slot = {hash, &channel};
                return true;
            }
            if (slot.Hash == hash && ChannelKey(*slot.Record) == key)
                return false;
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

} // namespace kavo
