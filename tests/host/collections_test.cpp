#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "host/item_list.h"
#include "host/memory.h"
#include "host/object_list.h"
#include "host/sorted_collection.h"

namespace {

using host::testing::LiveBlocks;

// A second base placed first, so that the list part of an element does not start its block.
struct Padding {
    virtual ~Padding() = default;
    long pad[3] = {};
};

struct Entry : Padding, host::ListObject {
    Entry(int v, int* destroyed) : value(v), destroyed(destroyed) {}
    ~Entry() override { ++*destroyed; }
    int value;
    int* destroyed;
};

TEST(ObjectList, KeepsOrderAndDeletesEverything) {
    const std::int64_t live = LiveBlocks();
    int destroyed = 0;
    {
        host::ObjectList list;
        for (int i = 0; i < 3; ++i) list.Add(host::NewObject<Entry>(i, &destroyed));
        list.Add(nullptr);
        EXPECT_EQ(list.Count(), 3u);
        std::vector<int> seen;
        Entry* entry = nullptr;
        for (bool more = list.First(&entry); more; more = list.Next(&entry)) seen.push_back(entry->value);
        EXPECT_EQ(seen, (std::vector<int>{0, 1, 2}));
        list.DeleteAll();
        EXPECT_EQ(destroyed, 3);
        EXPECT_FALSE(list.First(&entry));
        list.Add(host::NewObject<Entry>(9, &destroyed));
    }  // the destructor deletes what is left
    EXPECT_EQ(destroyed, 4);
    EXPECT_EQ(LiveBlocks(), live);
}

struct Item : Padding, host::ListItem {
    explicit Item(int v) : value(v) {}
    int value;
};

std::vector<int> Values(host::ItemList& list) {
    std::vector<int> values;
    Item* item = nullptr;
    for (bool more = list.First(&item); more; more = list.Next(&item)) values.push_back(item->value);
    return values;
}

TEST(ItemList, FindRemoveAndLast) {
    const std::int64_t live = LiveBlocks();
    host::ItemList list, other;
    Item* items[4];
    for (int i = 0; i < 4; ++i) list.Append(items[i] = host::NewObject<Item>(i));
    list.Append(items[1]);  // already in the list: ignored
    EXPECT_EQ(list.Count(), 4u);
    EXPECT_FALSE(other.Find(items[1]));

    ASSERT_TRUE(list.Find(items[1]));
    list.RemoveCurrent();
    list.RemoveCurrent();  // nothing current any more
    EXPECT_EQ(Values(list), (std::vector<int>{0, 2, 3}));
    EXPECT_FALSE(list.Find(items[1]));
    other.Append(items[1]);  // a removed item may join another list
    EXPECT_TRUE(other.Find(items[1]));

    Item* last = nullptr;
    ASSERT_TRUE(list.Last(&last));
    EXPECT_EQ(last, items[3]);
    list.RemoveCurrent();
    host::DeleteObject(last);
    ASSERT_TRUE(list.First(&last));
    list.RemoveCurrent();
    host::DeleteObject(last);
    EXPECT_EQ(Values(list), (std::vector<int>{2}));
    ASSERT_TRUE(list.Last(&last));
    EXPECT_EQ(last->value, 2);
    EXPECT_FALSE(list.Next(&last));

    list.Clear();
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_FALSE(list.Last(&last));
    other.Clear();
    EXPECT_EQ(LiveBlocks(), live);
}

struct Number : Padding, host::CollectionItem {
    Number(int v, int tag, int* released) : value(v), tag(tag), released(released) {}
    std::int32_t Compare(const host::CollectionItem& other) const override {
        const int v = static_cast<const Number&>(other).value;
        return value < v ? -1 : value > v ? 1 : 0;
    }
    void Assign(const host::CollectionItem& other) override { value = static_cast<const Number&>(other).value; }
    void Release() override { ++*released; }
    int value;
    int tag;
    int* released;
};

TEST(SortedCollection, OrdersFindsAndFreesEveryElement) {
    const std::int64_t live = LiveBlocks();
    int released = 0;
    host::SortedCollection collection;
    std::mt19937 random(11);
    std::vector<std::pair<int, int>> expected;  // (value, insertion number)
    for (int i = 0; i < 10000; ++i) {
        const int value = static_cast<int>(random() % 20001) - 10000;
        expected.emplace_back(value, i);
        collection.Insert(host::NewObject<Number>(value, i, &released));
    }
    EXPECT_EQ(collection.Count(), 10000u);
    // Value order; equal values in insertion order.
    std::sort(expected.begin(), expected.end());
    std::vector<std::pair<int, int>> order;
    collection.ForEach([&](const host::CollectionItem& item) {
        const auto& number = static_cast<const Number&>(item);
        order.emplace_back(number.value, number.tag);
    });
    EXPECT_EQ(order, expected);

    int unused = 0;
    for (const auto& entry : expected) {
        const int value = entry.first;
        Number key(value, -1, &unused);
        host::CollectionItem* found = nullptr;
        ASSERT_TRUE(collection.Search(key, &found));
        // The earliest inserted of equal elements is found.
        const auto first = *std::lower_bound(expected.begin(), expected.end(), std::pair{value, -1});
        EXPECT_EQ(static_cast<const Number&>(*found).tag, first.second);
    }
    Number absent(20000, -1, &unused);
    host::CollectionItem* untouched = &absent;
    EXPECT_FALSE(collection.Search(absent, &untouched));
    EXPECT_EQ(untouched, &absent);

    collection.FreeAll();
    EXPECT_EQ(released, 10000);
    EXPECT_EQ(collection.Count(), 0u);
    EXPECT_EQ(LiveBlocks(), live);
    collection.Insert(host::NewObject<Number>(1, 0, &released));
}  // the destructor frees the last element (checked by the leak checker)

}  // namespace
