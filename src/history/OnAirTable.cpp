#include "history/OnAirTable.h"

#include <functional>

namespace kavo {

std::uint64_t OnAirTable::KeyHash(std::string_view key)
{
    const std::uint64_t hash = std::hash<std::string_view>{}(key);
    return hash != 0 ? hash : 1;
}

OnAirTable::Entry& OnAirTable::Add(std::uint64_t hash)
{
    if ((m_size + 1) * 2 > m_slots.size())
        rebuild(m_size + 1);
    std::size_t slot = slotOf(hash);
    while (m_slots[slot].KeyHash != 0)
        slot = next(slot);
    Entry& entry = m_slots[slot];
    entry = Entry{};
    entry.KeyHash = hash;
    ++m_size;
    return entry;
}

void OnAirTable::Clear()
{
    m_slots.clear();
    m_size = 0;
}

void OnAirTable::eraseAt(std::size_t slot)
{
    --m_size;
    // Linear probing without tombstones: each later entry of the run that may live in the freed
    // slot moves there.
    std::size_t hole = slot;
    for (std::size_t at = next(hole); m_slots[at].KeyHash != 0; at = next(at)) {
        const std::size_t home = slotOf(m_slots[at].KeyHash);
        // It stays when its home lies cyclically in (hole, at].
        const bool stays = hole <= at ? hole < home && home <= at : hole < home || home <= at;
        if (stays)
            continue;
        m_slots[hole] = m_slots[at];
        hole = at;
    }
    m_slots[hole] = Entry{};
}

void OnAirTable::rebuild(std::size_t entries)
{
    std::size_t slots = 16;
    while (slots < entries * 2)
        slots *= 2;
    std::vector<Entry> old(slots);
    old.swap(m_slots);
    for (const Entry& entry : old) {
        if (entry.KeyHash == 0)
            continue;
        std::size_t slot = slotOf(entry.KeyHash);
        while (m_slots[slot].KeyHash != 0)
            slot = next(slot);
        m_slots[slot] = entry;
    }
}

} // namespace kavo
