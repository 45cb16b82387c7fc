#include "device/passes.h"

#include "config/channel.h"
#include "driver/driver_instance.h"
#include "host/memory.h"
#include "requests/request_item.h"

namespace tovi {
namespace {

// Takes every item of the current batch off the queue without a device call.
void ServeWithoutDevice(DriverInstance& driver, host::ItemList& queue) {
    for (;;) {
        if (driver.Stopping()) return;
        platform::LockGuard guard(driver.lock);
        RequestItem* item = nullptr;
        if (!queue.First(&item)) return;
        item->channel->flags &= ~static_cast<std::uint32_t>(kQueued);
        const bool last = item->last_in_batch != 0;
        queue.RemoveCurrent();
        host::DeleteObject(item);
        if (last) return;
    }
}

}  // namespace

void InputPass(DriverInstance& driver) { ServeWithoutDevice(driver, driver.input_queue); }
void OutputPass(DriverInstance& driver) { ServeWithoutDevice(driver, driver.output_queue); }

}  // namespace tovi
