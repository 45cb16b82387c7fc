// The text of tovihost inspect: the span, calls and threads, per device its calls,
// failures and durations per function, and the longest gaps between calls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "emulator/inspect/recording_summary.h"
#include "emulator/plant/plant.h"

namespace tovihost {

struct InspectSource {
    std::vector<std::string> paths;  // the files in the order read
    recording::Header header;        // the first file's
    bool limited = false;            // --from or --to given
    std::uint64_t from_us = 0, to_us = 0;
};

// The name a device has in the recorded device list, or "".
std::string ListedName(const RecordingSummary& summary, std::int64_t number);
// "device 3 \"COM1 Address=3\"", "serial port 3", "no device".
std::string DeviceTitle(const RecordingSummary& summary, const DeviceKey& key);
// The modules of the plant bound to a device (empty without a plant).
std::vector<std::string> ModulesOn(const Plant* plant, const DeviceKey& key);
// "FILE:LINE" of a call of the set.
std::string PlaceText(const InspectSource& source, std::uint32_t file, std::size_t line);

std::string InspectReport(const InspectSource& source, const RecordingSummary& summary, const Plant* plant);

}  // namespace tovihost
