// Manual-reset events on Windows event objects. The handle is the system handle.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "platform/failure_hooks_internal.h"
#include "platform/platform.h"

namespace tovi::platform {
namespace {

HANDLE Native(EventHandle event) { return reinterpret_cast<HANDLE>(event); }

}  // namespace

EventHandle CreateManualResetEvent() {
    if (detail::EventCreationShouldFail()) {
        return nullptr;
    }
    return reinterpret_cast<EventHandle>(CreateEventA(nullptr, TRUE, FALSE, nullptr));
}

void SignalEvent(EventHandle event) {
    if (event != nullptr) {
        SetEvent(Native(event));
    }
}

void ResetEvent(EventHandle event) {
    if (event != nullptr) {
        ::ResetEvent(Native(event));
    }
}

void CloseEvent(EventHandle event) {
    if (event != nullptr) {
        CloseHandle(Native(event));
    }
}

std::uint32_t WaitForAnyEvent(const EventHandle* events, std::uint32_t count) {
    static_assert(kMaxWaitEvents <= MAXIMUM_WAIT_OBJECTS);
    if (events == nullptr || count == 0 || count > kMaxWaitEvents) {
        return kWaitFailed;
    }
    HANDLE handles[kMaxWaitEvents];
    for (std::uint32_t i = 0; i < count; ++i) {
        if (events[i] == nullptr) {
            return kWaitFailed;
        }
        handles[i] = Native(events[i]);
    }
    // With several signalled, the system reports the lowest index.
    const DWORD result = WaitForMultipleObjects(count, handles, FALSE, INFINITE);
    const DWORD index = result - WAIT_OBJECT_0;
    return index < count ? static_cast<std::uint32_t>(index) : kWaitFailed;
}

bool WaitForEvent(EventHandle event, std::uint32_t timeout_ms) {
    if (event == nullptr) {
        return false;
    }
    // The largest value means "no limit" to the system; keep the wait bounded.
    const DWORD timeout = timeout_ms == INFINITE ? INFINITE - 1 : timeout_ms;
    return WaitForSingleObject(Native(event), timeout) == WAIT_OBJECT_0;
}

}  // namespace tovi::platform
