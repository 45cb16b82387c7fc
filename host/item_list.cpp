// ItemList of the host tool library: a doubly linked list through the items; each
// item knows its list, so finding it takes constant time.
#include "host/item_list.h"

#include "host/memory.h"

namespace host {
namespace {

void Destroy(ListItem* item) {
    // The block starts at the most derived object, which need not be where the
    // ListItem part of it is.
    void* block = dynamic_cast<void*>(item);
    item->~ListItem();
    MemFree(&block);
}

}  // namespace

ItemList::~ItemList() { Clear(); }

void ItemList::Append(ListItem* item) {
    // An item already in a list keeps its place there: linking it twice would break both.
    if (item == nullptr || item->list_ != nullptr) return;
    item->list_ = this;
    item->previous_ = tail_;
    item->next_ = nullptr;
    if (tail_ == nullptr) {
        head_ = item;
    } else {
        tail_->next_ = item;
    }
    tail_ = item;
    ++count_;
}

bool ItemList::First(ListItem** variable) {
    current_ = head_;
    if (variable != nullptr) *variable = head_;
    return head_ != nullptr;
}

bool ItemList::Next(ListItem** variable) {
    ListItem* const next = current_ == nullptr ? nullptr : current_->next_;
    if (next != nullptr) current_ = next;
    if (variable != nullptr) *variable = next;
    return next != nullptr;
}

bool ItemList::Last(ListItem** variable) const {
    if (tail_ != nullptr) current_ = tail_;
    if (variable != nullptr) *variable = tail_;
    return tail_ != nullptr;
}

bool ItemList::Find(ListItem* item) {
    if (item == nullptr || item->list_ != this) return false;
    current_ = item;
    return true;
}

void ItemList::RemoveCurrent() {
    ListItem* const item = current_;
    if (item == nullptr) return;
    if (item->previous_ == nullptr) {
        head_ = item->next_;
    } else {
        item->previous_->next_ = item->next_;
    }
    if (item->next_ == nullptr) {
        tail_ = item->previous_;
    } else {
        item->next_->previous_ = item->previous_;
    }
    item->previous_ = nullptr;
    item->next_ = nullptr;
    item->list_ = nullptr;
    current_ = nullptr;
    --count_;
}

void ItemList::Clear() {
    // Detach first, so that a destructor looking at the list finds it empty.
    ListItem* item = head_;
    head_ = nullptr;
    tail_ = nullptr;
    current_ = nullptr;
    count_ = 0;
    while (item != nullptr) {
        ListItem* const next = item->next_;
        Destroy(item);
        item = next;
    }
}

}  // namespace host
