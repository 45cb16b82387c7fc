// Display modules: an ASCII frame on the module's serial line, "$" + address +
// command character + data [+ checksum] + carriage return, answered by the module.
#pragma once

#include <cstdint>

#include "host/text.h"

namespace tovi {

struct DriverInstance;
class Channel;
class Module;

// Capacity of the frame and number texts.
constexpr host::Cap kFrameCapacity = 79;

// The six-character data field of a display_data frame (seven with a sign) for
// value, clamped to the module's range. NaN is shown as 0 taken into that range;
// a value that is still not finite after clamping (infinite bounds) is shown as 0.
void FormatDisplayNumber(double value, double minimum, double maximum, bool with_sign, char* text);

// Appends the two-digit checksum of the frame built so far (sum of its character
// codes modulo 256, upper-case hexadecimal).
void AppendChecksum(char* frame);

// Builds the frame for a display channel (IoType 17 or 18), taking its value under
// the lock in the same holding that ends its Queued state and marks it Busy, and
// sends it; 0 or the serial library's error code.
std::int32_t SendDisplayCommand(DriverInstance& driver, Channel& channel, Module& module);

}  // namespace tovi
