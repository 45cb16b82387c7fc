// The serial side of the simulation, served by ADSAPI32 where the shared state
// lives; ADSCOMM's COM functions forward to these. Plain C functions with the
// default calling convention, so that ADSCOMM links them through the ordinary
// import library on every platform. Not for other users.
#pragma once

#include <cstdint>

#include "device/vendor_api.h"
#include "device_sim/device_sim.h"

extern "C" {
DEVSIM_API std::int32_t devsim_serial_get_config(std::int32_t device_index, vendor::SerialConfig* config);
DEVSIM_API std::int32_t devsim_serial_open(std::uint32_t port, std::uint32_t* unused, vendor::Handle* handle);
DEVSIM_API std::int32_t devsim_serial_set_config(vendor::Handle handle, vendor::SerialConfig* config);
DEVSIM_API std::int32_t devsim_serial_write(vendor::Handle handle, const char* data, std::uint32_t length);
DEVSIM_API std::int32_t devsim_serial_read(vendor::Handle handle, char* buffer, std::uint32_t size,
                                           std::uint32_t timeout, std::uint32_t terminator, std::uint32_t* received);
DEVSIM_API std::int32_t devsim_serial_close(vendor::Handle* handle);
}
