// SortedCollection of the host tool library: elements kept in the order of their
// Compare, found by Search in logarithmic time. Inside it is a randomised balanced
// search tree (treap) whose links live in the elements themselves, so inserting
// allocates nothing.
#pragma once

#include <cstdint>

namespace host {

class SortedCollection;

// Base of collection elements. Elements are made with NewObject (host/memory.h).
class CollectionItem {
public:
    CollectionItem() = default;
    virtual ~CollectionItem() = default;
    CollectionItem(const CollectionItem&) = delete;
    CollectionItem& operator=(const CollectionItem&) = delete;

    // Positive, 0 or negative as this element sorts after, with or before other.
    virtual std::int32_t Compare(const CollectionItem& other) const = 0;
    // Copies other's content into this element.
    virtual void Assign(const CollectionItem& other) = 0;
    // Frees what the element owns; runs before the element itself is freed.
    virtual void Release() = 0;

private:
    friend class SortedCollection;
    CollectionItem* left_ = nullptr;
    CollectionItem* right_ = nullptr;
    std::uint32_t priority_ = 0;
};

class SortedCollection {
public:
    SortedCollection() = default;
    virtual ~SortedCollection();
    SortedCollection(const SortedCollection&) = delete;
    SortedCollection& operator=(const SortedCollection&) = delete;

    // Places item in Compare order; the collection owns it from now on. An element
    // comparing equal to one already held goes after it.
    virtual void Insert(CollectionItem* item);
    // *found := an element comparing equal to key; false (found untouched) when none.
    virtual bool Search(const CollectionItem& key, CollectionItem** found) const;
    // Runs every element's Release, destroys it and releases its block; empty afterwards.
    virtual void FreeAll();

    std::uint32_t Count() const { return count_; }

    // Calls visit(element) for every element in Compare order.
    template <class Visit>
    void ForEach(Visit&& visit) const {
        Walk(root_, visit);
    }

private:
    template <class Visit>
    static void Walk(CollectionItem* node, Visit& visit) {
        while (node != nullptr) {
            Walk(node->left_, visit);
            visit(*node);
            node = node->right_;
        }
    }

    CollectionItem* root_ = nullptr;
    std::uint32_t count_ = 0;
    std::uint32_t seed_ = 0x9E3779B9u;
};

}  // namespace host
