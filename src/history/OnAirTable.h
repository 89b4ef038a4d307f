#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace kavo {

// Asks for the cache line at p ahead of its use. GCC 12 drops __builtin_prefetch in the history's
// loops over channel records, so x86 gets the instruction itself.
inline void PrefetchLine(const void* p)
{
#if defined(__x86_64__) || defined(__i386__)
    asm volatile("prefetcht0 %0" : : "m"(*static_cast<const char*>(p)));
#else
    __builtin_prefetch(p);
#endif
}

// The broadcasts on air of one YP as the history's writer remembers them. Every fetch looks up
// each of its channels here, 10,000 a refresh for a large YP: the entries are small records in one
// open-addressing table, and a look-up reads one entry (and the key where the caller keeps it) and
// allocates nothing. The keys stay with the caller: an entry names the sighting it was last seen
// in, and Find asks the caller whether an entry's key is the one sought.
class OnAirTable
{
public:
    struct Entry
    {
        std::uint64_t KeyHash = 0; // 0: a free slot
        std::int64_t Id = 0;       // the broadcast's row
        std::uint64_t Seen = 0;    // the fetch that listed it last
        std::int32_t Listeners = -1;
        std::uint32_t Sighting = 0; // its place in that fetch
    };

    static std::uint64_t KeyHash(std::string_view key);

    // The entry with this KeyHash for which `sameKey(entry)` holds; nullptr when there is none.
    template <class SameKey>
    Entry* Find(std::uint64_t hash, SameKey&& sameKey);
    // Asks for the slot where a look-up of this hash begins.
    void Prefetch(std::uint64_t hash) const
    {
        if (!m_slots.empty())
            PrefetchLine(&m_slots[slotOf(hash)]);
    }
    // A new entry with only its KeyHash set. Invalidates pointers to other entries.
    Entry& Add(std::uint64_t hash);
    // Removes the entries `keep` returns false for; `keep` may see an entry twice.
    template <class Keep>
    void EraseIf(Keep&& keep);
    void Clear();
    std::size_t Size() const { return m_size; }

private:
    std::size_t slotOf(std::uint64_t hash) const { return static_cast<std::size_t>(hash) & (m_slots.size() - 1); }
    std::size_t next(std::size_t slot) const { return (slot + 1) & (m_slots.size() - 1); }
    void eraseAt(std::size_t slot);
    // At least twice as many slots as entries.
    void rebuild(std::size_t entries);

    std::vector<Entry> m_slots;
    std::size_t m_size = 0;
};

template <class SameKey>
OnAirTable::Entry* OnAirTable::Find(std::uint64_t hash, SameKey&& sameKey)
{
    if (m_slots.empty())
        return nullptr;
    for (std::size_t slot = slotOf(hash); m_slots[slot].KeyHash != 0; slot = next(slot)) {
        Entry& entry = m_slots[slot];
        if (entry.KeyHash == hash && sameKey(static_cast<const Entry&>(entry)))
            return &entry;
    }
    return nullptr;
}

template <class Keep>
void OnAirTable::EraseIf(Keep&& keep)
{
    // Removing shifts later entries of a probe run back, possibly into this slot: it is looked at
    // again. An entry shifted back across the end of the table was looked at before.
    for (std::size_t slot = 0; slot < m_slots.size();) {
        const Entry& entry = m_slots[slot];
        if (entry.KeyHash != 0 && !keep(entry))
            eraseAt(slot);
        else
            ++slot;
    }
}

} // namespace kavo
