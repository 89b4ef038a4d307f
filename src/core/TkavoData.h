#pragma once

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

namespace kavo {

class TkavoDataList;

// Base of every record. A record belongs to at most one list, which owns it.
struct TkavoDataItem
{
    TkavoDataList* List = nullptr;

    TkavoDataItem() = default;
    virtual ~TkavoDataItem() = default;

    // Deep copy of every field. The base copies only the owner, so a fresh copy points at the
    // source's list until it is added to a list of its own.
    virtual void Assign(const TkavoDataItem& source) { List = source.List; }

protected:
    // Records of value fields copy member-wise (owner included, as Assign does).
    TkavoDataItem(const TkavoDataItem&) = default;
    TkavoDataItem& operator=(const TkavoDataItem&) = default;
};

// An owning list of records in insertion order.
class TkavoDataList
{
public:
    TkavoDataList() = default;
    TkavoDataList(const TkavoDataList&) = delete;
    TkavoDataList& operator=(const TkavoDataList&) = delete;
    virtual ~TkavoDataList() = default;

    int Count() const { return static_cast<int>(m_items.size()); }
    TkavoDataItem& Item(int index) const { return *m_items.at(static_cast<std::size_t>(index)); }

    virtual std::unique_ptr<TkavoDataItem> CreateItem() const { return std::make_unique<TkavoDataItem>(); }
    // May this record be copied in by AddFrom?
    virtual bool Accept(const TkavoDataItem&) const { return true; }
    virtual void Assign(const TkavoDataList& source)
    {
        if (&source == this)
            return;
        Clear();
        AddFrom(source);
    }
    // Appends a deep copy of every accepted record of the source.
    virtual void AddFrom(const TkavoDataList& source);

    // Takes ownership and makes this list the record's owner.
    TkavoDataItem& Add(std::unique_ptr<TkavoDataItem> item);
    void Delete(int index);
    // Frees every record whose index satisfies remove, in one pass; the others keep their order.
    template <class Predicate>
    void DeleteIf(Predicate remove)
    {
        std::size_t kept = 0;
        for (std::size_t i = 0; i < m_items.size(); ++i) {
            if (remove(static_cast<int>(i)))
                continue;
            if (kept != i)
                m_items[kept] = std::move(m_items[i]);
            ++kept;
        }
        m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(kept), m_items.end());
    }
    virtual void Clear() { m_items.clear(); }
    // Hands every record over to the caller and leaves the list empty, as Clear does without freeing.
    std::vector<std::unique_ptr<TkavoDataItem>> Release()
    {
        std::vector<std::unique_ptr<TkavoDataItem>> items;
        items.swap(m_items);
        Clear();
        return items;
    }
    void Reserve(int count) { m_items.reserve(static_cast<std::size_t>(count)); }

protected:
    std::vector<std::unique_ptr<TkavoDataItem>> m_items;
};

// A list of records of one class, with typed access and iteration.
template <class T>
class TypedList : public TkavoDataList
{
public:
    T& Items(int index) const { return static_cast<T&>(Item(index)); }
    T& operator[](int index) const { return Items(index); }

    std::unique_ptr<TkavoDataItem> CreateItem() const override { return std::make_unique<T>(); }
    T& Add(std::unique_ptr<T> item) { return static_cast<T&>(TkavoDataList::Add(std::move(item))); }
    using TkavoDataList::Add;

    class Iterator
    {
    public:
        using Inner = std::vector<std::unique_ptr<TkavoDataItem>>::const_iterator;
        explicit Iterator(Inner it) : m_it(it) {}
        T& operator*() const { return static_cast<T&>(**m_it); }
        T* operator->() const { return static_cast<T*>(m_it->get()); }
        Iterator& operator++()
        {
            ++m_it;
            return *this;
        }
        bool operator==(const Iterator& other) const = default;

    private:
        Inner m_it;
    };
    Iterator begin() const { return Iterator(m_items.begin()); }
    Iterator end() const { return Iterator(m_items.end()); }
};

} // namespace kavo
