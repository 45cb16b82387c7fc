// Helpers shared by the platform tests.
#pragma once

#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace tovi::platform::test {

// Runs body() on a platform thread; body must outlive the thread.
template <class Body>
ThreadHandle StartBody(Body& body) {
    return StartThread(
        [](void* argument) -> std::uint32_t {
            (*static_cast<Body*>(argument))();
            return 0;
        },
        &body);
}

// Events created for one test and closed at its end.
class Events {
public:
    explicit Events(std::uint32_t count) {
        for (std::uint32_t i = 0; i < count; ++i) {
            handles_.push_back(CreateManualResetEvent());
        }
    }
    ~Events() {
        for (EventHandle event : handles_) {
            CloseEvent(event);
        }
    }
    Events(const Events&) = delete;
    Events& operator=(const Events&) = delete;

    bool AllCreated() const {
        for (EventHandle event : handles_) {
            if (event == nullptr) {
                return false;
            }
        }
        return true;
    }
    EventHandle operator[](std::size_t i) const { return handles_[i]; }
    const EventHandle* data() const { return handles_.data(); }

private:
    std::vector<EventHandle> handles_;
};

// Blocks until the event is signalled (no time limit, as the waits under test).
inline void AwaitEvent(EventHandle event) { ASSERT_EQ(WaitForAnyEvent(&event, 1), 0u); }

}  // namespace tovi::platform::test
