#include "requests/worker_thread.h"

#include "driver/driver_instance.h"
#include "requests/worker_passes.h"

namespace tovi {
namespace {

constexpr std::uint32_t kWorkIndex = 1;
constexpr std::int32_t kDirectionInput = 0;
constexpr std::int32_t kDirectionOutput = 1;

bool QueueHasWork(DriverInstance& driver, RequestQueue& queue) {
    platform::LockGuard guard(driver.lock);
    return !queue.IsEmpty();
}

// A batch the host completed while an earlier one of the same direction was still
// waiting is served by a further cycle at once: its signal may already have been
// consumed by the reset of the work event.
bool CompletedBatchWaiting(DriverInstance& driver) {
    if (driver.Stopping()) return false;
    platform::LockGuard guard(driver.lock);
    return driver.input_queue.HasCompletedBatch() || driver.output_queue.HasCompletedBatch();
}

void Complete(DriverInstance& driver, std::int32_t direction) {
    if (driver.completion_callback != nullptr) driver.completion_callback(driver.host_context, direction, 0);
}

void RunCycle(DriverInstance& driver) {
    platform::ResetEvent(driver.work_event);
    if (QueueHasWork(driver, driver.input_queue)) {
        RunInputPass(driver);
        Complete(driver, kDirectionInput);
    }
    if (QueueHasWork(driver, driver.output_queue)) {
        RunOutputPass(driver);
        Complete(driver, kDirectionOutput);
    }
}

}  // namespace

std::uint32_t WorkerThread(void* argument) {
    DriverInstance& driver = *static_cast<DriverInstance*>(argument);
    const platform::EventHandle events[2] = {driver.stop_event, driver.work_event};
    for (;;) {
        // Index 0 is the stop event, which wins when both are signalled; a wait
        // that fails ends the thread rather than spinning.
        if (platform::WaitForAnyEvent(events, 2) != kWorkIndex) return 0;
        do {
            RunCycle(driver);
        } while (CompletedBatchWaiting(driver));
    }
}

}  // namespace tovi
