// SortedCollection of the host tool library: a treap. Keys follow Compare order,
// priorities (from a fixed xorshift sequence) follow heap order with the highest at
// the root, which keeps the expected depth logarithmic whatever the insertion order.
// Nothing here recurses.
#include "host/sorted_collection.h"

#include "host/memory.h"

namespace host {

SortedCollection::~SortedCollection() { SortedCollection::FreeAll(); }

void SortedCollection::Insert(CollectionItem* item) {
    if (item == nullptr) return;
    seed_ ^= seed_ << 13;
    seed_ ^= seed_ >> 17;
    seed_ ^= seed_ << 5;
    item->priority_ = seed_;

    // Descend to where item's priority puts it; equal elements are passed on the right.
    CollectionItem** link = &root_;
    while (*link != nullptr && (*link)->priority_ >= item->priority_) {
        link = item->Compare(**link) < 0 ? &(*link)->left_ : &(*link)->right_;
    }
    // Split the subtree found there into item's left (not after item) and right (after item).
    CollectionItem* node = *link;
    CollectionItem** left = &item->left_;
    CollectionItem** right = &item->right_;
    while (node != nullptr) {
        if (item->Compare(*node) < 0) {
            *right = node;
            right = &node->left_;
            node = node->left_;
        } else {
            *left = node;
            left = &node->right_;
            node = node->right_;
        }
    }
    *left = nullptr;
    *right = nullptr;
    *link = item;
    ++count_;
}

bool SortedCollection::Search(const CollectionItem& key, CollectionItem** found) const {
    // Of several equal elements, the first in order (the earliest inserted) is found.
    CollectionItem* match = nullptr;
    CollectionItem* node = root_;
    while (node != nullptr) {
        const std::int32_t order = key.Compare(*node);
        if (order == 0) match = node;
        node = order <= 0 ? node->left_ : node->right_;
    }
    if (match == nullptr) return false;
    if (found != nullptr) *found = match;
    return true;
}

void SortedCollection::FreeAll() {
    // Detach first, so that Release finds the collection empty.
    CollectionItem* node = root_;
    root_ = nullptr;
    count_ = 0;
    // Rotating left children up turns the tree into a right-leaning chain, freed in order.
    while (node != nullptr) {
        if (CollectionItem* const left = node->left_; left != nullptr) {
            node->left_ = left->right_;
            left->right_ = node;
            node = left;
            continue;
        }
        CollectionItem* const next = node->right_;
        node->Release();
        // The block starts at the most derived object.
        void* block = dynamic_cast<void*>(node);
        node->~CollectionItem();
        MemFree(&block);
        node = next;
    }
}

}  // namespace host
