// What a replay needs of a run so far, kept while the run goes on: the calls a
// fresh start of the driver makes to bind its modules, as last recorded. The
// latest device count, device list and each device's sub-list, each device
// index's serial configuration, and every handle opened since the driver started
// with its open call and its latest features (device handles) or configuration
// (serial handles). When the last open handle is closed (the driver stopped),
// nothing is carried until the next start.
// A file that continues the run restates them at its top. Not thread-safe: the
// recorder's lock guards it.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "recording/recording_format.h"

namespace recorder {

class CarriedCalls {
public:
    // Takes a finished call (handles already resolved to their devices and ports).
    void Note(const recording::Call& call);
    // The "carried" lines, in the order the calls were made.
    std::string Text() const;

private:
    struct Open {
        recording::Call open;
        std::optional<recording::Call> latest;  // features or serial configuration
        bool closed = false;
    };

    std::optional<recording::Call> count_, list_;
    std::map<std::string, recording::Call> sub_lists_;       // by device number
    std::map<std::string, recording::Call> serial_configs_;  // by device index
    std::map<std::string, Open> devices_, serials_;          // by handle
};

}  // namespace recorder
