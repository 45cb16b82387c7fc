// Lock on a critical section constructed inside the Lock's own storage.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "platform/platform.h"

#include <new>

namespace tovi::platform {
namespace {

CRITICAL_SECTION* Native(unsigned char* storage) {
    return std::launder(reinterpret_cast<CRITICAL_SECTION*>(storage));
}

}  // namespace

void Lock::Initialise() {
    static_assert(sizeof(CRITICAL_SECTION) <= sizeof(storage_), "critical section does not fit the Lock storage");
    static_assert(alignof(CRITICAL_SECTION) <= 16, "critical section needs more alignment than the Lock storage has");
    auto* section = ::new (static_cast<void*>(storage_)) CRITICAL_SECTION;
    InitializeCriticalSection(section);
}

void Lock::Delete() { DeleteCriticalSection(Native(storage_)); }

void Lock::Enter() { EnterCriticalSection(Native(storage_)); }

void Lock::Leave() { LeaveCriticalSection(Native(storage_)); }

}  // namespace tovi::platform
