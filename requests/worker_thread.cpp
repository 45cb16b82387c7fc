#include "requests/worker_thread.h"

#include "device/passes.h"
#include "driver/driver_instance.h"

namespace tovi {
namespace {

constexpr std::uint32_t kWorkIndex = 1;
constexpr std::int32_t kDirectionInput = 0;
constexpr std::int32_t kDirectionOutput = 1;

bool QueueHasWork(DriverInstance& driver, host::ItemList& queue) {
    platform::LockGuard guard(driver.lock);
    return !queue.IsEmpty();
}

void Complete(DriverInstance& driver, std::int32_t direction) {
    if (driver.completion_callback != nullptr) driver.completion_callback(driver.host_context, direction, 0);
}

}  // namespace

std::uint32_t WorkerThread(void* argument) {
    DriverInstance& driver = *static_cast<DriverInstance*>(argument);
    const platform::EventHandle events[2] = {driver.stop_event, driver.work_event};
    for (;;) {
        // Index 0 is the stop event, which wins when both are signalled; a wait
        // that fails ends the thread rather than spinning.
        if (platform::WaitForAnyEvent(events, 2) != kWorkIndex) return 0;
        platform::ResetEvent(driver.work_event);
        if (QueueHasWork(driver, driver.input_queue)) {
            InputPass(driver);
            Complete(driver, kDirectionInput);
        }
        if (QueueHasWork(driver, driver.output_queue)) {
            OutputPass(driver);
            Complete(driver, kDirectionOutput);
        }
    }
}

}  // namespace tovi
