// A recording as the simulated device manager's device set: calls answered with
// the recorded results, in their order per function, device and channel, and
// compared with the recorded inputs. The recording is read as the replay goes: a
// window of recorded calls, filled ahead of the latest call made and dropped
// behind it, so memory stays flat whatever the recording's length. A recorded call
// the window leaves behind unmade is missing, a divergence at its place. One lock
// guards the replay state.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "device/vendor_api.h"
#include "device_sim/device_sim.h"
#include "recording/call_shapes.h"

namespace devsim::replay {

// How far the window reaches: recorded calls read ahead of the latest call made,
// and how far behind it a recorded call may still be made (calls of different
// threads and channels interleave differently from run to run).
inline constexpr std::uint64_t kAhead = 8192;
inline constexpr std::uint64_t kBehind = 8192;

// True while a recording is loaded (cheap: checked by every call).
bool Active();
// Opens the files of one run (one file, or a rotated set in any order) and reads
// their headers; false with "PATH: message" or "PATH:LINE: message", the previous
// state kept.
bool Open(const std::vector<std::string>& paths, std::string& error);
// As Open, for a recording held in text (named origin in messages).
bool Load(std::string_view text, const std::string& origin, std::string& error);
// Back to the recording's first call.
void Rewind();
// No recording any more.
void Clear();
// Answers one call from the recording.
vendor::Status Serve(recording::Shape shape);
bool StateOf(devsim_replay_state& state);
// The driver's stop begins: a call the recording does not hold is answered
// without counting as a divergence (the run may have stopped early).
void Stopping();
// The replay is over: every recorded call it is past that was not made is missing.
void Finish();
// The host's cycle is over: the start of a file that begins mid-run is passed.
void CycleDone();

// A recorded call in the window, numbered in the recording's order.
struct Upcoming {
    std::uint64_t number = 0;
    recording::Call call;
};
// For each device, channel and kind of output write (AO, port byte and bit,
// serial write, counter and alarm settings), the next recorded call the driver
// has not made yet, in recorded order: those of the current cycle, which ends
// where an input the driver read before is read again.
std::vector<Upcoming> UpcomingOutputs();
// The last recorded answer of each describing call made so far (device lists,
// sub-lists, features, serial configurations), in the order first made.
std::vector<recording::Call> Described();
// A recorded call that the run cannot make (number from UpcomingOutputs): missing
// now, with why in its divergence. False when it is no longer waiting.
bool PassOver(std::uint64_t number, const std::string& why);

}  // namespace devsim::replay
