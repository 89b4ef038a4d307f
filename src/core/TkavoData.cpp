#include "core/TkavoData.h"

namespace kavo {

void TkavoDataList::AddFrom(const TkavoDataList& source)
{
    // Copy first: adding a list to itself must not walk the records it appends.
    const int count = source.Count();
    for (int i = 0; i < count; ++i) {
        const TkavoDataItem& record = source.Item(i);
        if (!Accept(record))
            continue;
        auto copy = CreateItem();
        copy->Assign(record);
        Add(std::move(copy));
    }
}

TkavoDataItem& TkavoDataList::Add(std::unique_ptr<TkavoDataItem> item)
{
    item->List = this;
    m_items.push_back(std::move(item));
    return *m_items.back();
}

void TkavoDataList::Delete(int index)
{
    m_items.erase(m_items.begin() + index);
}

} // namespace kavo
