#include "notify/TkavoNotifyItem.h"

namespace kavo {

void TkavoNotifyQueue::Push(std::unique_ptr<TkavoNotifyItem> item)
{
    if (!item)
        return;
    std::lock_guard lock(m_lock);
    m_items.push_back(std::move(item));
}

std::unique_ptr<TkavoNotifyItem> TkavoNotifyQueue::Pop()
{
    std::lock_guard lock(m_lock);
    if (m_items.empty())
        return nullptr;
    std::unique_ptr<TkavoNotifyItem> item = std::move(m_items.front());
    m_items.pop_front();
    return item;
}

int TkavoNotifyQueue::Count() const
{
    std::lock_guard lock(m_lock);
    return static_cast<int>(m_items.size());
}

void TkavoNotifyQueue::Clear()
{
    std::deque<std::unique_ptr<TkavoNotifyItem>> items;
    {
        std::lock_guard lock(m_lock);
        items.swap(m_items);
    }
}

} // namespace kavo
