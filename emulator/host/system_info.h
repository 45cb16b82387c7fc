// What the emulator asks of the operating system beyond the platform layer: the
// terminal's size, and which file the simulated device manager was loaded from.
#pragma once

#include <cstddef>
#include <string>
#include <utility>

namespace tovihost {

// Columns and rows of the terminal standard output goes to; 0 where unknown.
std::pair<std::size_t, std::size_t> TerminalSize();

// Keeps this process's threads, and those it starts from now on, on one
// processor. The host and the driver's worker hand a batch over at every step;
// on one processor a hand-over is a plain switch, across two it wakes the other
// one, which costs more than the batch; and a woken thread waits its turn instead
// of taking the processor from its waker. Answers whether it could.
bool KeepToOneProcessor();

// The file of the simulated device manager this program uses, or empty.
std::string SimulatorPath();

}  // namespace tovihost
