// Fault-injection switches. Each holds a countdown: 0 is off, n means the nth
// creation from now fails. Creations may run on several threads at once, so the
// countdown is stepped with compare-and-swap and exactly one creation sees it hit 1.
#include "platform/failure_hooks_internal.h"
#include "platform/platform.h"

#include <atomic>

namespace tovi::platform {
namespace {

std::atomic<std::uint32_t> event_countdown{0};
std::atomic<std::uint32_t> thread_countdown{0};

bool Step(std::atomic<std::uint32_t>& countdown) {
    std::uint32_t value = countdown.load(std::memory_order_relaxed);
    while (value != 0) {
        if (countdown.compare_exchange_weak(value, value - 1, std::memory_order_relaxed)) {
            return value == 1;
        }
    }
    return false;
}

}  // namespace

namespace testing {
void FailEventCreation(std::uint32_t nth) { event_countdown.store(nth, std::memory_order_relaxed); }
void FailThreadCreation(std::uint32_t nth) { thread_countdown.store(nth, std::memory_order_relaxed); }
}  // namespace testing

namespace detail {
bool EventCreationShouldFail() { return Step(event_countdown); }
bool ThreadCreationShouldFail() { return Step(thread_countdown); }
}  // namespace detail

}  // namespace tovi::platform
