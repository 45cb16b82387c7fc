// What a run reports at its end: the values the written devices now hold,
// statistics per module and per batch, the host's message log, the error log and
// the injected faults; for the shipped example also a short account at a glance.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace tovihost {

// A time as "1.234 ms".
std::string Milliseconds(std::chrono::nanoseconds time);

// Lines of a text file; 0 for a file that is not there.
std::size_t LinesOf(const std::string& path);

}  // namespace tovihost
