// ObjectList of the host tool library: owns ListObjects in the order added.
#pragma once

#include <cstdint>

namespace host {

class ObjectList;

// Base of objects kept in an ObjectList. Objects are made with NewObject (host/memory.h).
class ListObject {
public:
    ListObject() = default;
    virtual ~ListObject() = default;
    ListObject(const ListObject&) = delete;
    ListObject& operator=(const ListObject&) = delete;

private:
    friend class ObjectList;
    ListObject* next_ = nullptr;
};

class ObjectList {
public:
    ObjectList() = default;
    ~ObjectList();
    ObjectList(const ObjectList&) = delete;
    ObjectList& operator=(const ObjectList&) = delete;

    // Appends object; the list owns it from now on.
    void Add(ListObject* object);
    // *variable := the first element; false when the list is empty.
    bool First(ListObject** variable) const;
    // *variable := the element after *variable; false at the end.
    bool Next(ListObject** variable) const;
    // Destroys every element (virtual destructor, then its block is released).
    void DeleteAll();
    std::uint32_t Count() const { return count_; }

    template <class T>
    bool First(T** variable) const {
        ListObject* object = nullptr;
        const bool found = First(&object);
        *variable = static_cast<T*>(object);
        return found;
    }
    template <class T>
    bool Next(T** variable) const {
        ListObject* object = *variable;
        const bool found = Next(&object);
        *variable = static_cast<T*>(object);
        return found;
    }

private:
    ListObject* head_ = nullptr;
    ListObject* tail_ = nullptr;
    std::uint32_t count_ = 0;
};

}  // namespace host
