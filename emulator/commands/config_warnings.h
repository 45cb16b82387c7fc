// What the driver takes from a parameter file without a word but an integrator
// most likely did not mean: sections it never reads, settings it does not know,
// two modules on one device, UTF-8 text it reads as Windows-1250, a display it
// cannot address.
#pragma once

#include <string>
#include <vector>

#include "emulator/plant/config_walk.h"
#include "emulator/plant/plant.h"

namespace tovihost {

// "FILE:LINE: what is wrong and what the driver does with it", in the file's
// order within each kind. The walk must hold no fault; the plant's devices must
// be resolved when have_devices.
std::vector<std::string> ConfigWarnings(const ConfigWalk& walk, const Plant& plant, bool have_devices);

// Whether the text holds bytes above ASCII and all of them form well-formed UTF-8
// sequences: a text saved as UTF-8. Windows-1250 text with accented letters
// almost never does, since its letters are lone bytes above 0x7F.
bool LooksLikeUtf8(const std::string& text);

}  // namespace tovihost
