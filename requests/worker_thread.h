// The worker thread: sleeps until a batch is completed or the driver stops, runs
// the passes and calls the host's completion callback.
#pragma once

#include <cstdint>

namespace tovi {

// Thread routine; argument is the DriverInstance. Returns 0 when stopped.
std::uint32_t WorkerThread(void* argument);

}  // namespace tovi

namespace tovi {

struct DriverInstance;

namespace testing {
// Replaces the device passes the worker thread runs (null restores them), so that
// tests can hold a pass at a chosen point. Set it before Init.
using PassFunction = void (*)(DriverInstance& driver);
void ReplacePasses(PassFunction input_pass, PassFunction output_pass);
}  // namespace testing

}  // namespace tovi
