#include "net/UpdateYp.h"

#include "core/ChannelKey.h"
#include "core/FavoriteMatcher.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace kavo {

UpdateOptions UpdateOptions::From(const TkavoSetting::NotifyOptions& notify)
{
    return {notify.RankUpOrDown2None, notify.LogRankUp, notify.LogRangeHour, notify.Unique};
}

namespace {

using Records = std::vector<std::unique_ptr<TkavoDataItem>>;

const TkavoChItem& Channel(const Records& records, int index)
{
    return static_cast<const TkavoChItem&>(*records[static_cast<std::size_t>(index)]);
}

DateTime LogLimit(const TkavoChItem& entry, int hours)
{
    return entry.TimeStamp + hours / 24.0;
}

bool ContentChanged(const TkavoChItem& now, const TkavoChItem& prev)
{
    // The joined text is what counts ("[a]" is the same for genre "a" as for description "a"),
    // so only when a part differs is the text built.
    if ((now.Genre != prev.Genre || now.Description != prev.Description) &&
        now.GenreDescription() != prev.GenreDescription())
        return true;
    return now.Playing != prev.Playing || now.Comment != prev.Comment;
}

// What one channel ID stands for in the lists of a YP.
struct IdSlot
{
    const std::string* Hash = nullptr; // the ID as held by a record; null while the slot is free
    std::uint32_t HashValue = 0;
    int FirstPrev = -1; // the first previous record with the ID
    int Current = 0;    // records of ChList with the ID
    int NextLog = -1;   // the first log entry with the ID not yet taken back
    int LastLog = -1;
};

// Lists of a YP easily reach ten thousand channels, so every comparison between two of them goes
// through one table of the IDs of the previous and the current list, filled once per update.
// Keys point at the records' own Hash texts, which stay in place for the whole update.
class IdTable
{
public:
    // Empties the table for up to ids IDs. The block is kept from one update to the next and only
    // the part in use is cleared.
    void Reset(std::size_t ids)
    {
        std::size_t capacity = 16;
        while (capacity < ids + ids / 2)
            capacity *= 2;
        if (m_slots.size() < capacity)
            m_slots.resize(capacity);
        std::fill_n(m_slots.begin(), capacity, IdSlot{});
        m_mask = capacity - 1;
    }

    IdSlot& Insert(const std::string& hash)
    {
        const auto value = static_cast<std::uint32_t>(std::hash<std::string_view>{}(hash));
        IdSlot& slot = probe(hash, value);
        if (!slot.Hash) {
            slot.Hash = &hash;
            slot.HashValue = value;
        }
        return slot;
    }

    IdSlot* Find(const std::string& hash)
    {
        IdSlot& slot = probe(hash, static_cast<std::uint32_t>(std::hash<std::string_view>{}(hash)));
        return slot.Hash ? &slot : nullptr;
    }

private:
    // The slot of the ID, or the free slot where it would go. Sized for every record having an ID
    // of its own, the table stays at most two thirds full, and far less with lists that mostly share
    // their IDs.
    IdSlot& probe(const std::string& hash, std::uint32_t value)
    {
        std::size_t i = value & m_mask;
        while (m_slots[i].Hash && (m_slots[i].HashValue != value || *m_slots[i].Hash != hash))
            i = (i + 1) & m_mask;
        return m_slots[i];
    }

    std::vector<IdSlot> m_slots;
    std::size_t m_mask = 0;
};

// Step 2 for one record: marks against the first previous record with the same ID.
void MarkChange(TkavoChItem& channel, const TkavoChItem* prev, bool markNew, const UpdateOptions& options)
{
    const bool hasId = channel.Hash != NoHash;
    if (!hasId || !prev) {
        // A record carried over from an earlier parse (skipped cycle, reload) must not keep its
        // old mark: unmatched means unmarked unless it is new.
        channel.Diff = hasId && markNew ? TkavoDiff::New : TkavoDiff::None;
        return;
    }
    channel.PrevGenre = prev->Genre;
    channel.PrevDescription = prev->Description;
    channel.PrevPlaying = prev->Playing;
    channel.PrevComment = prev->Comment;

    channel.Diff = TkavoDiff::None;
    if (!options.RankUpOrDown2None) {
        if (channel.No < prev->No)
            channel.Diff = TkavoDiff::Up;
        else if (channel.No > prev->No)
            channel.Diff = TkavoDiff::Down;
    } else if (ContentChanged(channel, *prev)) {
        channel.Diff = TkavoDiff::Change;
    }
    if (prev->Diff == TkavoDiff::New)
        channel.Diff = TkavoDiff::PreNew;
}

// The working memory of the updates on one thread (a refresh's worker updates every YP in turn and
// frees it when the refresh ends). The blocks sized by the lists are kept from one YP to the next
// instead of being allocated anew: a large request makes the allocator first sort through
// everything the refresh freed before it.
struct Scratch
{
    IdTable Ids;
    std::vector<IdSlot*> PrevSlots; // the slot of each previous record
    std::vector<IdSlot*> Slots;     // the slot of each record of ChList
    std::vector<int> NextLog;       // the next log entry with the same ID
    std::vector<char> Removed;      // log entries to delete
};

class Update
{
public:
    Update(YpRecord& yp, const UpdateContext& context, Scratch& scratch)
        : m_yp(yp), m_context(context), m_ids(scratch.Ids), m_prevSlots(scratch.PrevSlots), m_slots(scratch.Slots),
          m_nextLog(scratch.NextLog), m_removed(scratch.Removed)
    {
        m_ids.Reset(static_cast<std::size_t>(yp.ChListPrev.Count()) + static_cast<std::size_t>(yp.ChList.Count()));
    }

    void Run()
    {
        // The previous records are taken out of their list for the update: ended ones move to the
        // log as they are, the others take the copies of the new list at the end. From one cycle
        // to the next a channel's texts mostly keep their lengths, so copying a channel into its
        // own previous record rarely allocates.
        m_prev = m_yp.ChListPrev.Release();
        indexPrevious();
        matchAndMark();
        logEnded();
        takeBackReturning();
        remember();
    }

private:
    void indexPrevious()
    {
        m_prevSlots.resize(m_prev.size());
        for (std::size_t p = 0; p < m_prev.size(); ++p) {
            IdSlot& slot = m_ids.Insert(Channel(m_prev, static_cast<int>(p)).Hash);
            if (slot.FirstPrev < 0)
                slot.FirstPrev = static_cast<int>(p);
            m_prevSlots[p] = &slot;
        }
    }

    // Steps 1 and 2 treat every record on its own, so one pass over the list does both.
    void matchAndMark()
    {
        TkavoChList& list = m_yp.ChList;
        const bool markNew = m_yp.ChListPrev.Valid && !(m_yp.NoNotify2 && m_yp.SuccessCount == 2);
        m_slots.resize(static_cast<std::size_t>(list.Count()));
        for (int c = 0; c < list.Count(); ++c) {
            TkavoChItem& channel = list[c];
            m_context.Favorites.Match(channel, m_context.RegExp);
            IdSlot& slot = m_ids.Insert(channel.Hash);
            ++slot.Current;
            m_slots[static_cast<std::size_t>(c)] = &slot;
            MarkChange(channel, slot.FirstPrev < 0 ? nullptr : &Channel(m_prev, slot.FirstPrev), markNew,
                       m_context.Options);
        }
    }

    // Every previous record whose ID no longer appears, the all-zero one included, goes to the log.
    void logEnded()
    {
        for (std::size_t p = 0; p < m_prev.size(); ++p)
            if (m_prevSlots[p]->Current == 0)
                m_yp.ChListLog.Add(std::move(m_prev[p]));
    }

    // Each channel takes back the first log entry with its ID that is still there; then old
    // entries expire.
    void takeBackReturning()
    {
        TkavoChList& log = m_yp.ChListLog;
        const UpdateOptions& options = m_context.Options;

        // The entries of an ID are chained in log order. Those just logged never qualify, their
        // IDs being absent from ChList.
        std::vector<int>& nextLog = m_nextLog;
        nextLog.assign(static_cast<std::size_t>(log.Count()), -1);
        bool anyReturning = false;
        for (int i = 0; i < log.Count(); ++i) {
            IdSlot* slot = m_ids.Find(log[i].Hash);
            if (!slot || slot->Current == 0)
                continue;
            if (slot->LastLog < 0)
                slot->NextLog = i;
            else
                nextLog[static_cast<std::size_t>(slot->LastLog)] = i;
            slot->LastLog = i;
            anyReturning = true;
        }

        std::vector<char>& removed = m_removed;
        removed.assign(static_cast<std::size_t>(log.Count()), false);
        bool anyRemoved = false;
        if (anyReturning) {
            for (int c = 0; c < m_yp.ChList.Count(); ++c) {
                IdSlot& slot = *m_slots[static_cast<std::size_t>(c)];
                const int index = slot.NextLog;
                if (index < 0)
                    continue;
                slot.NextLog = nextLog[static_cast<std::size_t>(index)];
                if (options.LogRankUp &&
                    (options.LogRangeHour <= 0 || m_context.Now < LogLimit(log[index], options.LogRangeHour)))
                    m_yp.ChList[c].Diff = options.RankUpOrDown2None ? TkavoDiff::None : TkavoDiff::Up;
                removed[static_cast<std::size_t>(index)] = true;
                anyRemoved = true;
            }
        }

        if (options.LogRankUp && options.LogRangeHour > 0) {
            for (int i = 0; i < log.Count(); ++i) {
                if (m_context.Now > LogLimit(log[i], options.LogRangeHour)) {
                    removed[static_cast<std::size_t>(i)] = true;
                    anyRemoved = true;
                }
            }
        }
        if (anyRemoved)
            log.DeleteIf([&](int index) { return removed[static_cast<std::size_t>(index)]; });
    }

    // ChListPrev := ChList as the list copy makes it (Valid and LastUpdate included; with
    // Notify/Unique a second record with the same ID and name is left out). A channel's copy goes
    // into its own previous record where there is one.
    void remember()
    {
        TkavoChList& target = m_yp.ChListPrev;
        const TkavoChList& source = m_yp.ChList;
        std::unordered_set<ChannelKey, ChannelKeyHash> seen; // only IDs that ChList lists more than once
        std::size_t spare = 0;
        target.Reserve(source.Count());
        for (int c = 0; c < source.Count(); ++c) {
            const TkavoChItem& channel = source[c];
            const IdSlot& slot = *m_slots[static_cast<std::size_t>(c)];
            if (m_context.Options.Unique && slot.Current > 1 && !seen.insert(ChannelKey(channel)).second)
                continue;
            std::unique_ptr<TkavoDataItem> record;
            if (slot.FirstPrev >= 0 && m_prev[static_cast<std::size_t>(slot.FirstPrev)])
                record = std::move(m_prev[static_cast<std::size_t>(slot.FirstPrev)]);
            else
                record = spareRecord(spare);
            record->Assign(channel);
            target.Add(std::move(record));
        }
        target.LastUpdate = source.LastUpdate;
        target.Valid = source.Valid;
    }

    // A previous record no channel of ChList claims as its own (a later one with a repeated ID),
    // else a new one. The first previous record of a current ID is always claimed by the first
    // channel with that ID, which no uniqueness rule leaves out.
    std::unique_ptr<TkavoDataItem> spareRecord(std::size_t& from)
    {
        for (; from < m_prev.size(); ++from) {
            const IdSlot& slot = *m_prevSlots[from];
            const bool claimed = slot.FirstPrev == static_cast<int>(from) && slot.Current > 0;
            if (m_prev[from] && !claimed)
                return std::move(m_prev[from++]);
        }
        return std::make_unique<TkavoChItem>();
    }

    YpRecord& m_yp;
    const UpdateContext& m_context;
    IdTable& m_ids;
    Records m_prev;
    std::vector<IdSlot*>& m_prevSlots;
    std::vector<IdSlot*>& m_slots;
    std::vector<int>& m_nextLog;
    std::vector<char>& m_removed;
};

} // namespace

void UpdateYp(YpRecord& yp, const UpdateContext& context)
{
    thread_local Scratch scratch;
    Update(yp, context, scratch).Run();
}

} // namespace kavo
