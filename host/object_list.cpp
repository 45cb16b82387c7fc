// ObjectList of the host tool library: a singly linked list through the objects.
#include "host/object_list.h"

#include "host/memory.h"

namespace host {
namespace {

void Destroy(ListObject* object) {
    // The block starts at the most derived object, which need not be where the
    // ListObject part of it is.
    void* block = dynamic_cast<void*>(object);
    object->~ListObject();
    MemFree(&block);
}

}  // namespace

ObjectList::~ObjectList() { DeleteAll(); }

void ObjectList::Add(ListObject* object) {
    if (object == nullptr) return;
    object->next_ = nullptr;
    if (tail_ == nullptr) {
        head_ = object;
    } else {
        tail_->next_ = object;
    }
    tail_ = object;
    ++count_;
}

bool ObjectList::First(ListObject** variable) const {
    if (variable == nullptr) return false;
    *variable = head_;
    return head_ != nullptr;
}

bool ObjectList::Next(ListObject** variable) const {
    if (variable == nullptr) return false;
    if (*variable == nullptr) return false;
    *variable = (*variable)->next_;
    return *variable != nullptr;
}

void ObjectList::DeleteAll() {
    // Detach first, so that a destructor looking at the list finds it empty.
    ListObject* object = head_;
    head_ = nullptr;
    tail_ = nullptr;
    count_ = 0;
    while (object != nullptr) {
        ListObject* const next = object->next_;
        Destroy(object);
        object = next;
    }
}

}  // namespace host
