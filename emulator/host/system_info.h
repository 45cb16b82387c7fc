// What the emulator asks of the operating system beyond the platform layer: the
// terminal's size, and which file the simulated device manager was loaded from.
#pragma once

#include <cstddef>
#include <string>
#include <utility>

namespace tovihost {

// Columns and rows of the terminal standard output goes to; 0 where unknown.
std::pair<std::size_t, std::size_t> TerminalSize();

// The file of the simulated device manager this program uses, or empty.
std::string SimulatorPath();

}  // namespace tovihost
