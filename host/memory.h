// Memory blocks of the host run-time: every object the driver creates lives in one.
#pragma once

#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

namespace host {

// *block := a new block of size bytes, or null when none can be obtained.
void MemAlloc(void** block, std::uint32_t size);
// Releases *block (null allowed) and sets *block to null.
void MemFree(void** block);
void MemFill(void* block, std::uint32_t count, std::uint8_t value);

// Constructs a T in a MemAlloc block; null when no block is obtained.
template <class T, class... Args>
T* NewObject(Args&&... args) {
    void* block = nullptr;
    MemAlloc(&block, static_cast<std::uint32_t>(sizeof(T)));
    if (block == nullptr) return nullptr;
    return new (block) T(std::forward<Args>(args)...);
}

// Destroys an object made by NewObject and releases its block; sets object to null.
template <class T>
void DeleteObject(T*& object) {
    if (object == nullptr) return;
    // The block starts at the most derived object, which a base pointer need not point at.
    void* block;
    if constexpr (std::is_polymorphic_v<T>) {
        block = dynamic_cast<void*>(object);
    } else {
        block = object;
    }
    object->~T();
    MemFree(&block);
    object = nullptr;
}

namespace testing {
enum class FailMode { Once, FromThenOn };
// The nth MemAlloc from now (1 = the next) fails, once or with every later one;
// nth 0 switches failures off.
void FailAllocation(std::uint64_t nth, FailMode mode = FailMode::Once);
// MemAlloc calls since the process started (failed ones included).
std::uint64_t AllocationCount();
// Blocks obtained and not yet released.
std::int64_t LiveBlocks();
}  // namespace testing

}  // namespace host
