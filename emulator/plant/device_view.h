// What a simulated device holds for an output channel, in words: the analogue
// output, the port's lines, the counter's or alarm's state, what a display shows.
#pragma once

#include <string>

#include "emulator/plant/plant.h"

namespace tovihost {

std::string DescribeOutput(const Plant& plant, const PlantChannel& channel);

// A text fit for a terminal line: control characters escaped as \r, \n, \xHH.
std::string Escaped(const std::string& text);

}  // namespace tovihost
