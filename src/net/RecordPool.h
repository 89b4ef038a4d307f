#pragma once

#include "core/TkavoChItem.h"

#include <cstddef>
#include <memory>
#include <vector>

namespace kavo {

// The records of a list that is about to be refilled, handed out again instead of being freed: a
// refresh replaces thousands of records whose texts have about the same lengths as before, and
// reusing their string buffers saves an allocation and a free for nearly every text.
class RecordPool
{
public:
    RecordPool() = default;
    // Empties the list (as Clear does) and keeps its records.
    explicit RecordPool(TkavoChList& list) : m_records(list.Release()) {}

    // A record in the state of a new one.
    std::unique_ptr<TkavoChItem> Take()
    {
        std::unique_ptr<TkavoChItem> record = next();
        if (!record)
            return std::make_unique<TkavoChItem>();
        Reset(*record);
        return record;
    }

    // A copy of source.
    std::unique_ptr<TkavoChItem> Copy(const TkavoChItem& source)
    {
        std::unique_ptr<TkavoChItem> record = next();
        if (!record)
            return std::make_unique<TkavoChItem>(source);
        *record = source;
        return record;
    }

    // Back to the state of a new record; copying from a blank one empties every field but keeps
    // the strings' buffers.
    static void Reset(TkavoChItem& record)
    {
        static const TkavoChItem blank;
        record = blank;
    }

private:
    std::unique_ptr<TkavoChItem> next()
    {
        while (m_next < m_records.size()) {
            std::unique_ptr<TkavoDataItem>& held = m_records[m_next++];
            if (dynamic_cast<TkavoChItem*>(held.get()))
                return std::unique_ptr<TkavoChItem>(static_cast<TkavoChItem*>(held.release()));
        }
        return nullptr;
    }

    std::vector<std::unique_ptr<TkavoDataItem>> m_records;
    std::size_t m_next = 0;
};

} // namespace kavo
