// The worker thread: sleeps until a batch is completed or the driver stops, runs
// the passes and calls the host's completion callback.
#pragma once

#include <cstdint>

namespace tovi {

// Thread routine; argument is the DriverInstance. Returns 0 when stopped.
std::uint32_t WorkerThread(void* argument);

}  // namespace tovi
