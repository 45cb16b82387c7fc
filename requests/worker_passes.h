// The passes the worker thread runs over the request queues. The driver library
// runs the device passes (worker_passes.cpp); test programs and benchmarks link a
// replaceable pair instead (tests/support/replaceable_passes.h), so that no test
// seam ships in the driver.
#pragma once

namespace tovi {

struct DriverInstance;

void RunInputPass(DriverInstance& driver);
void RunOutputPass(DriverInstance& driver);

}  // namespace tovi
