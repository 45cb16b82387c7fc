// The device passes the worker thread runs over the request queues.
#pragma once

namespace tovi {

struct DriverInstance;

// Serves the input queue: reads the queued channels from their modules.
void InputPass(DriverInstance& driver);
// Serves the output queue: writes the queued channels to their modules.
void OutputPass(DriverInstance& driver);

}  // namespace tovi
