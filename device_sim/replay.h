// A recording as the simulated device manager's device set: calls answered with
// the recorded results, in their order per function, device and channel, and
// compared with the recorded inputs. One lock guards the replay state.
#pragma once

#include <string>
#include <string_view>

#include "device/vendor_api.h"
#include "device_sim/device_sim.h"
#include "recording/call_shapes.h"

namespace devsim::replay {

// True while a recording is loaded (cheap: checked by every call).
bool Active();
// Reads and installs a recording; false with "ORIGIN:LINE: message", the
// previous state kept.
bool Load(std::string_view text, const std::string& origin, std::string& error);
// Back to the recording's first call.
void Rewind();
// No recording any more.
void Clear();
// Answers one call from the recording.
vendor::Status Serve(recording::Shape shape);
bool StateOf(devsim_replay_state& state);

}  // namespace devsim::replay
