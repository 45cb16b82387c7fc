#include "device/passes.h"

#include "config/channel.h"
#include "driver/driver_instance.h"
#include "host/memory.h"
#include "requests/request_item.h"

namespace tovi {
namespace {

// Takes every item of the current batch off the queue without a device call.
void ServeWithoutDevice(DriverInstance& driver, RequestQueue& queue) {
    RequestItem* item = nullptr;
    {
        platform::LockGuard guard(driver.lock);
        item = queue.Head();
    }
    while (item != nullptr && !driver.Stopping()) {
        platform::LockGuard guard(driver.lock);
        item->channel->flags &= ~static_cast<std::uint32_t>(kQueued | kBusy);
        item = queue.Retire(item) ? nullptr : queue.Head();
    }
}

}  // namespace

void InputPass(DriverInstance& driver) { ServeWithoutDevice(driver, driver.input_queue); }
void OutputPass(DriverInstance& driver) { ServeWithoutDevice(driver, driver.output_queue); }

}  // namespace tovi
