// The parts of `tovihost check` that a plant is commissioned by: the driver's
// settings as it takes them, where each module binds in the device set, and the
// channel map to hold against the host's tag list.
#pragma once

#include <string>

#include "emulator/plant/plant.h"

namespace tovihost {

// debug and check_sum on or off, a warning for a value that is no boolean, and the
// error log's path with whether it can be written. Returns the warnings printed.
std::size_t PrintSettings(const Plant& plant, const std::string& log_directory);

// Per module the device and sub-device it binds to, the display address the
// driver derives from the device texts, and a display module's serial port; a
// warning for a device text held by more than one device. Returns the warnings
// printed. The plant's devices must be resolved.
std::size_t PrintBindings(const Plant& plant, bool have_devices);

// The channel map as CSV: channel, module, keyword, port, bit, direction, value
// type, parameter channels and owner. False with the reason.
bool WriteChannelMap(const Plant& plant, const std::string& path, std::string& error);

// The address the driver sends a display: from the first of the device and
// sub-device texts that holds "address" (any case), the word after it in hex
// (decimal when the text holds "dec"), written as at least two upper-case hex
// digits; empty when neither text names an address.
std::string DisplayAddress(const std::string& device_text, const std::string& subdevice_text);

}  // namespace tovihost
