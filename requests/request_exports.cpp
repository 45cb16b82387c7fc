// The host's request interface.
#include "driver/driver_instance.h"
#include "driver/tovi.h"

using namespace tovi;

extern "C" {

void TOVI_CALL InputRequest(DriverInstance*, std::int32_t) {}
void TOVI_CALL InputRequestCompleted(DriverInstance*) {}
std::uint8_t TOVI_CALL InputFinalized(DriverInstance*, std::int32_t, std::int32_t*) { return 0; }
void TOVI_CALL GetInput(DriverInstance*, std::int32_t, host::ValueRecord*) {}
void TOVI_CALL OutputRequest(DriverInstance*, std::int32_t, std::uint32_t, std::uint32_t, std::uint32_t) {}
void TOVI_CALL OutputRequestCompleted(DriverInstance*) {}
std::uint8_t TOVI_CALL OutputFinalized(DriverInstance*, std::int32_t, std::int32_t*) { return 0; }

}  // extern "C"
