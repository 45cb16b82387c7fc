// The simulated device manager's own recording: while started, every DRV_ and COM
// call it answers (simulated or replayed) is written in the recording format,
// with its start and duration, as the recorder writes a plant's calls. Each export
// asks Wanted() first and, if so, records itself by calling itself again inside
// Record. One lock guards the file and the handle book; it is never held across
// the call itself.
#pragma once

#include <chrono>
#include <string>

#include "device/vendor_api.h"
#include "recording/call_shapes.h"

namespace devsim::record {

// Starts a recording into path (replacing the file); false with the reason.
bool Start(const std::string& path, std::string& error);
// Ends it: the file is complete. False when a write failed on the way.
bool Stop(std::string& error);

// True while recording, outside a call being recorded (cheap: checked by every call).
bool Wanted();

// Marks the calling thread as inside a recorded call for its life.
class Inside {
public:
    Inside();
    ~Inside();
    Inside(const Inside&) = delete;
    Inside& operator=(const Inside&) = delete;
};

std::chrono::steady_clock::time_point Now();
void Write(recording::Shape& shape, std::chrono::steady_clock::time_point started,
           std::chrono::steady_clock::time_point finished, vendor::Status status);

// Makes the call (the export again, now inside) and records it.
template <class Call>
vendor::Status Record(recording::Shape shape, Call call) {
    const auto started = Now();
    vendor::Status status;
    {
        Inside inside;
        status = call();
    }
    const auto finished = Now();
    Write(shape, started, finished, status);
    return status;
}

}  // namespace devsim::record
