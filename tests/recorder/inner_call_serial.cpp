// A vendor serial library that needs the device library: it imports ADSAPI32 by
// name (DRV_DeviceGetNumOfList and the simulation's serial side) and asks the
// device manager for its device count inside every COMOpen, as a vendor's own
// library may. Otherwise it serves the simulated serial devices.
#include "device_sim/exports.h"
#include "device_sim/serial_bridge.h"

extern "C" {

Status TOVI_CALL COMGetConfig(std::int32_t device_index, vendor::SerialConfig* config) {
    return devsim_serial_get_config(device_index, config);
}

Status TOVI_CALL COMOpen(std::uint32_t port, std::uint32_t* unused, Handle* handle) {
    std::int16_t devices = 0;
    const Status listed = DRV_DeviceGetNumOfList(&devices);
    if (listed != 0) return listed;
    return devsim_serial_open(port, unused, handle);
}

Status TOVI_CALL COMSetConfig(Handle handle, vendor::SerialConfig* config) {
    return devsim_serial_set_config(handle, config);
}

Status TOVI_CALL COMWrite(Handle handle, const char* data, std::uint32_t length) {
    return devsim_serial_write(handle, data, length);
}

Status TOVI_CALL COMRead(Handle handle, char* buffer, std::uint32_t size, std::uint32_t timeout,
                         std::uint32_t terminator, std::uint32_t* received) {
    return devsim_serial_read(handle, buffer, size, timeout, terminator, received);
}

Status TOVI_CALL COMClose(Handle* handle) { return devsim_serial_close(handle); }

}  // extern "C"
