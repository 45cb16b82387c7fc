#include "emulator/replay/replay_writes.h"

#include <cstdlib>

#include "device_sim/device_sim.h"
#include "emulator/replay/derived_writes.h"

namespace tovihost {
namespace {

bool CallOf(const char* line, recording::Call& call) {
    recording::Header header;
    header.continues = true;  // a carried call's line as well
    bool call_read = false;
    std::string why;
    return recording::ParseLine(line, recording::kFormatVersion, true, header, call, call_read, why) && call_read;
}

extern "C" void AddCall(std::uint64_t number, const char* line, void* context) {
    RecordedCall recorded;
    recorded.number = number;
    if (CallOf(line, recorded.call)) static_cast<std::vector<RecordedCall>*>(context)->push_back(std::move(recorded));
}

struct Listed {
    std::int64_t number = -1;
    std::int64_t subdevices = 0;
    std::string name;
};

// The entries of a recorded device list: "NUMBER SUBDEVICES NAME".
std::vector<Listed> EntriesOf(const recording::Call& call) {
    std::vector<Listed> entries;
    for (const recording::Field& field : call.outputs) {
        if (field.key != "entry") continue;
        Listed entry;
        const auto first = field.value.find(' ');
        const auto second = field.value.find(' ', first == std::string::npos ? first : first + 1);
        if (second == std::string::npos) continue;
        entry.number = std::strtoll(field.value.c_str(), nullptr, 10);
        entry.subdevices = std::strtoll(field.value.c_str() + first + 1, nullptr, 10);
        entry.name = field.value.substr(second + 1);
        entries.push_back(entry);
    }
    return entries;
}

}  // namespace

std::int64_t RecordedDeviceOf(const PlantModule& module, const std::vector<recording::Call>& described) {
    const Listed* device = nullptr;
    std::vector<Listed> listed;
    for (const recording::Call& call : described)
        if (call.function == "DRV_DeviceGetList" && call.status == 0) listed = EntriesOf(call);
    for (const Listed& entry : listed)
        if (entry.name.find(module.device) != std::string::npos) device = &entry;
    if (device == nullptr) return -1;
    if (device->subdevices <= 0) return device->number;
    std::int64_t bound = -1;
    for (const recording::Call& call : described) {
        const recording::Field* dev = call.Input("dev");
        if (call.function != "DRV_DeviceGetSubList" || call.status != 0 || dev == nullptr ||
            dev->value != std::to_string(device->number))
            continue;
        for (const Listed& entry : EntriesOf(call))
            if (entry.name.find(module.subdevice) != std::string::npos) bound = entry.number;
    }
    return bound;
}

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

void ReplayWrites::Begin() {
    if (derived_) return;
    described_ = DescribedCalls();
    derived_ = std::make_unique<DerivedWrites>(plant_, described_);
}

std::int64_t ReplayWrites::DeviceOf(const PlantModule& module) {
    Begin();
    const std::int64_t device = derived_->DeviceOf(module);
    return device >= 0 ? device : RecordedDeviceOf(module, described_);
}

std::int64_t ReplayWrites::SerialDeviceOf(const PlantModule& module) {
    Begin();
    return derived_->SerialDeviceOf(module);
}

std::vector<ChannelValue> ReplayWrites::ForCycle() {
    Begin();
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
