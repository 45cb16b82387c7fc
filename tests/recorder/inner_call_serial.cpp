// A vendor serial library that needs the device library: it imports ADSAPI32 by
// name and asks the device manager for its device count inside every COMOpen, as
// a vendor's own library may. Built twice: serving the simulated serial devices
// (the simulation's serial side imported from ADSAPI32 too), and, with
// INNER_CALL_ALONE, importing DRV_DeviceGetNumOfList alone and answering every
// other call itself (a port opens as handle 1), for a process in which the
// recorder's ADSAPI32 is the first library of that name.
#include "device_sim/exports.h"
#if !defined(INNER_CALL_ALONE)
#include "device_sim/serial_bridge.h"
#endif

extern "C" {

#if defined(INNER_CALL_ALONE)
Status TOVI_CALL COMGetConfig(std::int32_t, vendor::SerialConfig* config) {
    config->port = 1;
    return 0;
}

Status TOVI_CALL COMOpen(std::uint32_t, std::uint32_t*, Handle* handle) {
    std::int16_t devices = 0;
    const Status listed = DRV_DeviceGetNumOfList(&devices);
    if (listed != 0) return listed;
    *handle = 1;
    return 0;
}

Status TOVI_CALL COMSetConfig(Handle, vendor::SerialConfig*) { return 0; }
Status TOVI_CALL COMWrite(Handle, const char*, std::uint32_t) { return 0; }
Status TOVI_CALL COMRead(Handle, char*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t* received) {
    *received = 0;
    return 0;
}
Status TOVI_CALL COMClose(Handle* handle) {
    *handle = 0;
    return 0;
}
#else
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
#endif

}  // extern "C"
