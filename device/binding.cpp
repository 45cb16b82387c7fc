#include "device/binding.h"

#include "config/module.h"
#include "host/memory.h"

namespace tovi {

bool BindDevice(Module&, host::Cap, char*) { return true; }

void CloseDevice(Module& module) {
    module.device_handle = kClosedHandle;
    module.serial_handle = kClosedHandle;
    module.pending_writes.Clear();
}

}  // namespace tovi
