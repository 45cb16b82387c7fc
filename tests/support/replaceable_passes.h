// The worker's passes as test programs link them: the device passes, unless a test
// replaces them to hold a pass at a chosen point.
#pragma once

namespace tovi {

struct DriverInstance;

namespace testing {
// Replaces the passes the worker thread runs (null restores the device passes).
// Set it before the worker starts.
using PassFunction = void (*)(DriverInstance& driver);
void ReplacePasses(PassFunction input_pass, PassFunction output_pass);
}  // namespace testing

}  // namespace tovi
