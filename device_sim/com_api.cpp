// ADSCOMM: the serial library's exports, served by the shared simulation in ADSAPI32.
#include "device_sim/exports.h"
#include "device_sim/serial_bridge.h"

extern "C" {

Status TOVI_CALL COMGetConfig(std::int32_t device_index, vendor::SerialConfig* config) {
    return devsim_serial_get_config(device_index, config);
}

Status TOVI_CALL COMOpen(std::uint32_t port, std::uint32_t* unused, Handle* handle) {
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
