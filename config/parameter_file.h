// The parameter file reader: driver settings, modules and channels from the
// host's parameter file, checked against the module-type database tovi.ini.
#pragma once

#include <cstdint>

#include "host/text.h"

namespace tovi {

struct DriverInstance;

// Reads the whole parameter file into driver. False at the first fault, with one
// message in message (message_capacity + 1 bytes).
bool ReadParameterFile(DriverInstance& driver, host::Cap param_capacity, const char* param_path,
                       host::Cap message_capacity, char* message);

// The directory of the driver's library file, ending in a directory separator, or
// the current directory when the driver is loaded under another file name. False
// when that directory and its separator do not fit capacity characters: cut, it
// would name another directory.
bool DriverDirectory(host::Cap capacity, char* directory);

// The driver's library file name on this platform.
const char* DriverFileName();

}  // namespace tovi
