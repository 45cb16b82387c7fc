// The unit initialisers, exported under the names "tovi::Init_" and "tovi_::Init_"
// (see kUnitInitName in driver/tovi.h), and how often they have run.
#pragma once

#include <cstdint>

#include "host/exchange.h"

extern "C" {
void TOVI_CALL ToviUnitInit();
void TOVI_CALL ToviUnderscoreUnitInit();
}

namespace tovi {

std::int32_t UnitInitCount();
std::int32_t SecondUnitInitCount();

}  // namespace tovi
