#include "config/channel.h"

#include <cstring>

#include "host/memory.h"
#include "host/text.h"

namespace tovi {

namespace {

char* PointerIn(const std::uint8_t* payload) {
    char* pointer = nullptr;
    std::memcpy(&pointer, payload, sizeof pointer);
    return pointer;
}

void StorePointer(std::uint8_t* payload, char* pointer) { std::memcpy(payload, &pointer, sizeof pointer); }

}  // namespace

char* ValueCell::StringBlock() const { return type_code == kTypeString ? PointerIn(payload) : nullptr; }

void ValueCell::AssignValue(std::uint32_t new_type, const std::uint8_t* new_payload) {
    char* reusable = nullptr;
    if (char* block = StringBlock(); block != nullptr) {
        if (new_type == kTypeString) {
            reusable = block;
        } else {
            void* released = block;
            host::MemFree(&released);
        }
    }
    type_code = new_type;
    std::memcpy(payload, new_payload, sizeof payload);
    if (new_type != kTypeString) return;

    const char* text = PointerIn(new_payload);
    if (text == nullptr) {
        if (reusable != nullptr) {
            void* released = reusable;
            host::MemFree(&released);
        }
        return;
    }
    char* block = reusable;
    if (block == nullptr) {
        void* allocated = nullptr;
        host::MemAlloc(&allocated, kStringBlockSize);
        block = static_cast<char*>(allocated);
    }
    if (block != nullptr) host::StrCopy(kStringBlockSize - 1, block, kStringBlockSize - 1, text);
    // Without a block the cell holds a string value with no text.
    StorePointer(payload, block);
}

void ValueCell::ReleaseString() {
    if (char* block = StringBlock(); block != nullptr) {
        void* released = block;
        host::MemFree(&released);
        StorePointer(payload, nullptr);
    }
    if (type_code == kTypeString) type_code = kTypeNone;
}

std::int32_t Channel::Compare(const host::CollectionItem& other) const {
    const auto mine = static_cast<std::uint32_t>(number);
    const auto theirs = static_cast<std::uint32_t>(static_cast<const Channel&>(other).number);
    return mine > theirs ? 1 : mine < theirs ? -1 : 0;
}

void Channel::Assign(const host::CollectionItem& other_item) {
    const auto& other = static_cast<const Channel&>(other_item);
    if (&other == this) return;
    module = other.module;
    io_type = other.io_type;
    port = other.port;
    bit = other.bit;
    number = other.number;
    flags = other.flags;
    value.AssignValue(other.value.type_code, other.value.payload);
    expected_type = other.expected_type;
}

void Channel::Release() {
    value.ReleaseString();
    if (links != nullptr) {
        void* block = links;
        host::MemFree(&block);
        links = nullptr;
    }
}

Channel* ChannelCollection::Find(std::int32_t number) const {
    Channel key;
    key.number = number;
    host::CollectionItem* found = nullptr;
    return Search(key, &found) ? static_cast<Channel*>(found) : nullptr;
}

}  // namespace tovi
