// How often the exported unit initialisers have run in this process.
#pragma once

#include <cstdint>

namespace tovi {

std::int32_t UnitInitCount();
std::int32_t SecondUnitInitCount();

}  // namespace tovi
