#include "emulator/replay/replay_writes.h"

#include "device_sim/device_sim.h"
#include "emulator/replay/derived_writes.h"

namespace tovihost {
namespace {

bool CallOf(const char* line, recording::Call& call) {
    recording::Header header;
    bool call_read = false;
    std::string why;
    return recording::ParseLine(line, recording::kFormatVersion, true, header, call, call_read, why) && call_read;
}

extern "C" void AddCall(std::uint64_t number, const char* line, void* context) {
    RecordedCall recorded;
    recorded.number = number;
    if (CallOf(line, recorded.call)) static_cast<std::vector<RecordedCall>*>(context)->push_back(std::move(recorded));
}

}  // namespace

std::vector<RecordedCall> UpcomingOutputs() {
    std::vector<RecordedCall> calls;
    devsim_replay_upcoming_outputs(AddCall, &calls);
    return calls;
}

std::vector<recording::Call> DescribedCalls() {
    std::vector<RecordedCall> calls;
    devsim_replay_described(AddCall, &calls);
    std::vector<recording::Call> described;
    for (RecordedCall& recorded : calls) described.push_back(std::move(recorded.call));
    return described;
}

ReplayWrites::ReplayWrites(const Plant& plant) : plant_(plant) {}

ReplayWrites::~ReplayWrites() = default;

std::int64_t ReplayWrites::DeviceOf(const PlantModule& module) {
    if (!derived_) derived_ = std::make_unique<DerivedWrites>(plant_, DescribedCalls());
    return derived_->DeviceOf(module);
}

std::vector<ChannelValue> ReplayWrites::ForCycle() {
    if (!derived_) derived_ = std::make_unique<DerivedWrites>(plant_, DescribedCalls());
    std::vector<ChannelValue> writes;
    for (const RecordedCall& recorded : UpcomingOutputs()) {
        std::string why;
        const std::vector<ChannelValue> values = derived_->For(recorded.call, why);
        if (values.empty() && !why.empty()) devsim_replay_pass_over(recorded.number, why.c_str());
        for (const ChannelValue& value : values) writes.push_back(value);
    }
    return writes;
}

}  // namespace tovihost
