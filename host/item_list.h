// ItemList of the host tool library: an owning list of ListItems with a current element.
#pragma once

#include <cstdint>

namespace host {

class ItemList;

// Base of items kept in an ItemList. Items are made with NewObject (host/memory.h).
class ListItem {
public:
    ListItem() = default;
    virtual ~ListItem() = default;
    ListItem(const ListItem&) = delete;
    ListItem& operator=(const ListItem&) = delete;

private:
    friend class ItemList;
    ListItem* previous_ = nullptr;
    ListItem* next_ = nullptr;
    ItemList* list_ = nullptr;
};

class ItemList {
public:
    ItemList() = default;
    ~ItemList();
    ItemList(const ItemList&) = delete;
    ItemList& operator=(const ItemList&) = delete;

    // Adds item at the end; the list owns it from now on.
    void Append(ListItem* item);
    // *variable := the first element, which becomes current; false when empty.
    bool First(ListItem** variable);
    // *variable := the element after the current one, which becomes current; false at the end.
    bool Next(ListItem** variable);
    // *variable := the most recently appended element, which becomes current; false when empty.
    bool Last(ListItem** variable) const;
    // True when item is in this list; it becomes current. Constant time.
    bool Find(ListItem* item);
    // Unlinks the current element without destroying it (the caller releases it).
    void RemoveCurrent();
    bool IsEmpty() const { return head_ == nullptr; }
    // Destroys every element; the list is empty afterwards.
    void Clear();
    std::uint32_t Count() const { return count_; }

    template <class T>
    bool First(T** variable) {
        ListItem* item = nullptr;
        const bool found = First(&item);
        *variable = static_cast<T*>(item);
        return found;
    }
    template <class T>
    bool Next(T** variable) {
        ListItem* item = nullptr;
        const bool found = Next(&item);
        *variable = static_cast<T*>(item);
        return found;
    }
    template <class T>
    bool Last(T** variable) const {
        ListItem* item = nullptr;
        const bool found = Last(&item);
        *variable = static_cast<T*>(item);
        return found;
    }

private:
    ListItem* head_ = nullptr;
    ListItem* tail_ = nullptr;
    mutable ListItem* current_ = nullptr;  // Last, though const, moves it
    std::uint32_t count_ = 0;
};

}  // namespace host
