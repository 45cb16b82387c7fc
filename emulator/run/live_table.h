// What a run shows while it runs: on a terminal a table redrawn every cycle that
// fits the window (columns dropped from the least needed on, rows left out with a
// note), otherwise plain lines with only what changed.
#pragma once

#include <cstddef>
#include <string>

namespace tovihost {

// Whether stdout is a terminal that takes cursor movements.
bool IsTerminal();

// Text padded to a column's width on the right, or on the left; widths count
// characters, not bytes.
std::string Pad(const std::string& text, std::size_t width);
std::string PadLeft(const std::string& text, std::size_t width);

}  // namespace tovihost
