// The host's writes of a replayed cycle: the recorded output calls the driver is
// to make next, asked of the replay, turned back into channel writes. A recorded
// call no channel of the parameter file makes is passed over at once: a missing
// call, named with its recording line and why.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "emulator/host/host_session.h"
#include "emulator/plant/plant.h"
#include "recording/recording_format.h"

namespace tovihost {

class DerivedWrites;

// A recorded call the replay still waits for, numbered in the recording's order.
struct RecordedCall {
    std::uint64_t number = 0;
    recording::Call call;
};

// The recorded output calls of the current cycle not made yet (device_sim.h,
// devsim_replay_upcoming_outputs), in recorded order.
std::vector<RecordedCall> UpcomingOutputs();
// The last recorded answers of the describing calls the driver made.
std::vector<recording::Call> DescribedCalls();
// The recorded device a module binds to by the driver's rule (the last listed
// device whose name holds the module's device text, then the last of its
// sub-devices whose name holds the sub-device text); -1 when none.
std::int64_t RecordedDeviceOf(const PlantModule& module, const std::vector<recording::Call>& described);

class ReplayWrites {
public:
    explicit ReplayWrites(const Plant& plant);
    ~ReplayWrites();
    // The writes that make the driver make this cycle's recorded output calls.
    std::vector<ChannelValue> ForCycle();
    // The recorded device a module's calls went to; -1 when none.
    std::int64_t DeviceOf(const PlantModule& module);
    // The listed device a display module's serial calls are counted for, when it
    // is the only display module on its serial line; -1 otherwise.
    std::int64_t SerialDeviceOf(const PlantModule& module);

private:
    void Begin();

    const Plant& plant_;
    std::vector<recording::Call> described_;
    std::unique_ptr<DerivedWrites> derived_;  // from the described calls, at the first cycle
};

}  // namespace tovihost
