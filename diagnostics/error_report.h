// Device errors at run time: the driver window's error line and, with the debug
// setting, the error log.
#pragma once

#include <cstdint>

#include "host/text.h"

namespace tovi {

struct DriverInstance;

enum class Transfer { Read, Write };

// Capacity of a composed device error message.
constexpr host::Cap kErrorMessageCapacity = 79;

// "Čtení z kanálu č. N : vendor text" (or "Zápis do kanálu č. ...") cut at 79
// characters, into text (80 bytes).
void ComposeChannelError(Transfer transfer, std::int32_t channel_number, std::int32_t status, char* text);

// Shows the message for a failed transfer of a channel in the error line and, with
// debug, adds it to the error log. Runs on the worker thread, without the lock.
void ReportDeviceError(DriverInstance& driver, Transfer transfer, std::int32_t channel_number, std::int32_t status);

// Adds one line to the error log; the line is dropped when the log can be neither
// opened nor created.
void WriteErrorLog(DriverInstance& driver, host::Cap capacity, const char* text);

}  // namespace tovi
