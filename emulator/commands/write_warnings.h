// A value written to a channel that its device cannot hold as given (300 to a byte
// port, 1.5 to a selection, a non-finite number for a display) still goes to the
// driver as the host gives it; the warning says what the device then receives.
#pragma once

#include <string>

#include "emulator/host/host_session.h"
#include "emulator/plant/plant.h"

namespace tovihost {

// The warning for writing value to channel, or empty when the device takes it as given.
std::string WriteWarning(const PlantChannel& channel, const ChannelValue& value);

}  // namespace tovihost
