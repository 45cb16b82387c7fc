#include "requests/worker_passes.h"

#include "device/passes.h"

namespace tovi {

void RunInputPass(DriverInstance& driver) { InputPass(driver); }
void RunOutputPass(DriverInstance& driver) { OutputPass(driver); }

}  // namespace tovi
