#include "emulator/inspect/recording_summary.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace tovihost {
namespace {

bool Integer(const recording::Field* field, std::int64_t& value) {
    if (field == nullptr) return false;
    const char* end = field->value.data() + field->value.size();
    const auto result = std::from_chars(field->value.data(), end, value);
    return result.ec == std::errc() && result.ptr == end;
}

bool Real(const recording::Field* field, double& value) {
    if (field == nullptr) return false;
    const char* end = field->value.data() + field->value.size();
    const auto result = std::from_chars(field->value.data(), end, value);
    return result.ec == std::errc() && result.ptr == end;
}

const recording::Field* Output(const recording::Call& call, std::string_view key) {
    for (const recording::Field& field : call.outputs) {
        if (field.key == key) return &field;
    }
    return nullptr;
}

std::string CallText(const recording::Call& call) {
    std::string text = call.function;
    if (!call.inputs.empty()) text += " " + recording::FieldsText(call.inputs);
    return text + " -> " + std::to_string(call.status);
}

bool IsSerial(const std::string& function) { return function.rfind("COM", 0) == 0; }

// "NUMBER SUBDEVICES NAME" of a device-list entry.
bool ReadEntry(const std::string& text, devsim_device_info& info) {
    const auto first = text.find(' ');
    const auto second = first == std::string::npos ? first : text.find(' ', first + 1);
    if (second == std::string::npos) return false;
    std::uint32_t number = 0;
    std::int32_t subdevices = 0;
    if (std::from_chars(text.data(), text.data() + first, number).ec != std::errc() ||
        std::from_chars(text.data() + first + 1, text.data() + second, subdevices).ec != std::errc()) {
        return false;
    }
    info = devsim_device_info{};
    info.number = number;
    info.subdevice_count = subdevices;
    const std::string name = text.substr(second + 1);
    std::memcpy(info.name, name.data(), std::min(name.size(), sizeof info.name - 1));
    return true;
}

}  // namespace

DeviceKey DeviceKey::Of(const recording::Call& call) {
    DeviceKey key;
    std::int64_t number = 0;
    if (IsSerial(call.function)) {
        if (Integer(call.Input("port"), number)) key = {Kind::SerialPort, number};
    } else if (call.function != "DRV_DeviceGetSubList" && Integer(call.Input("dev"), number)) {
        key = {Kind::Device, number};
    }
    return key;
}

RecordingSummary::RecordingSummary(std::uint64_t from_us, std::uint64_t to_us, bool values)
    : from_us_(from_us), to_us_(to_us), want_values_(values) {}

DeviceStats& RecordingSummary::Device(const DeviceKey& key) {
    auto found = devices_.find(key);
    if (found == devices_.end() && devices_.size() >= kDevices) found = devices_.find(DeviceKey{DeviceKey::Kind::None, 1});
    if (found == devices_.end()) {
        const DeviceKey shown = devices_.size() >= kDevices ? DeviceKey{DeviceKey::Kind::None, 1} : key;
        found = devices_.emplace(shown, DeviceStats{}).first;
        found->second.calls = TimeBuckets(first_us_);
        found->second.durations = TimeBuckets(first_us_);
    }
    return found->second;
}

void RecordingSummary::NoteDeviceList(const recording::Call& call) {
    const bool list = call.function == "DRV_DeviceGetList";
    if ((!list && call.function != "DRV_DeviceGetSubList") || call.status != 0) return;
    std::int64_t parent = -1;
    if (!list && !Integer(call.Input("dev"), parent)) return;
    std::int32_t position = 0;
    for (const recording::Field& field : call.outputs) {
        devsim_device_info info{};
        if (field.key != "entry" || !ReadEntry(field.value, info)) continue;
        info.list_position = list ? position++ : -1;
        info.parent = parent;
        if (!list) info.subdevice_count = 0;
        // A later list of the same device replaces what an earlier one said.
        listed_.erase(std::remove_if(listed_.begin(), listed_.end(),
                                     [&](const devsim_device_info& known) { return known.number == info.number; }),
                      listed_.end());
        listed_.push_back(info);
    }
}

void RecordingSummary::NoteGap(const recording::Call& call) {
    const std::uint64_t end = call.time_us + (call.has_duration ? call.duration_us : 0);
    if (calls_ > 1 && call.time_us > end_us_) {
        const Gap gap{end_us_, call.time_us, call.file, call.line};
        if (gaps_.size() < kLongestGaps || gap.length() > gaps_.back().length()) {
            if (gaps_.size() == kLongestGaps) gaps_.pop_back();
            const auto place = std::upper_bound(gaps_.begin(), gaps_.end(), gap,
                                                [](const Gap& a, const Gap& b) { return a.length() > b.length(); });
            gaps_.insert(place, gap);
        }
    }
    end_us_ = std::max(end_us_, end);
}

void RecordingSummary::NoteValues(const recording::Call& call, const DeviceKey& device) {
    if (call.status != 0) return;
    if (device.kind == DeviceKey::Kind::SerialPort) {
        if (call.function != "COMWrite") return;
        if (const recording::Field* data = call.Input("data")) {
            auto& frame = frames_[device.number];
            frame.first = data->value;
            ++frame.second;
            if (TimeBuckets* series = Series({call.function, device.number, "frames"})) series->Count(call.time_us, false);
        }
        return;
    }
    if (device.kind != DeviceKey::Kind::Device) return;
    // Which input names the place and which field holds the value, per function.
    struct Source {
        const char* function;
        const char* place;
        const char* second_place;
        const char* value;
        bool output;
    };
    static constexpr Source kSources[] = {
        {"DRV_AIVoltageIn", "channel", nullptr, "voltage", true},
        {"DRV_AOVoltageOut", "channel", nullptr, "voltage", false},
        {"DRV_DioReadPortByte", "port", nullptr, "value", true},
        {"DRV_DioWritePortByte", "port", nullptr, "state", false},
        {"DRV_DioWriteBit", "port", "bit", "state", false},
        {"DRV_CounterEventRead", "counter", nullptr, "count", true},
        {"DRV_CounterFreqRead", "counter", nullptr, "frequency", true},
        {"DRV_AlarmCheck", "channel", nullptr, "low", true},
        {"DRV_AlarmCheck", "channel", nullptr, "high", true},
    };
    for (const Source& source : kSources) {
        if (call.function != source.function) continue;
        const recording::Field* place = call.Input(source.place);
        double value = 0;
        if (place == nullptr || !Real(source.output ? Output(call, source.value) : call.Input(source.value), value)) {
            continue;
        }
        ValueKey key{call.function, device.number, std::string(source.place) + "=" + place->value};
        if (source.second_place != nullptr) {
            const recording::Field* second = call.Input(source.second_place);
            if (second == nullptr) continue;
            key.place += std::string(" ") + source.second_place + "=" + second->value;
        }
        if (call.function == "DRV_AlarmCheck") key.place += std::string(" ") + source.value;
        if (TimeBuckets* series = Series(key)) series->Value(call.time_us, value);
        // The bits of an input port, each a series of its own.
        if (call.function == "DRV_DioReadPortByte") {
            const auto bits = static_cast<std::uint32_t>(value);
            for (std::uint32_t bit = 0; bit < 8; ++bit) {
                ValueKey bit_key{key.function, key.device, key.place + " bit=" + std::to_string(bit)};
                if (TimeBuckets* series = Series(bit_key)) series->Value(call.time_us, (bits >> bit) & 1u);
            }
        }
    }
}

TimeBuckets* RecordingSummary::Series(const ValueKey& key) {
    auto found = values_.find(key);
    if (found == values_.end()) {
        if (values_.size() >= kValueSeries) return nullptr;
        found = values_.emplace(key, TimeBuckets(first_us_)).first;
    }
    return &found->second;
}

void RecordingSummary::Add(const recording::Call& call) {
    NoteDeviceList(call);
    if (call.carried || call.time_us < from_us_ || call.time_us > to_us_) return;
    if (calls_ == 0) {
        first_us_ = call.time_us;
        end_us_ = call.time_us;
    }
    ++calls_;
    durations_ = durations_ && call.has_duration;
    threads_.insert(call.thread);
    NoteGap(call);
    const DeviceKey key = DeviceKey::Of(call);
    DeviceStats& device = Device(key);
    FunctionStats& function = device.functions[call.function];
    ++function.calls;
    if (call.has_duration) {
        function.durations.Add(call.duration_us);
        if (want_values_) device.durations.Value(call.time_us, static_cast<double>(call.duration_us));
    }
    const bool failed = call.status != 0;
    if (want_values_) {
        device.calls.Count(call.time_us, failed);
        NoteValues(call, key);
    }
    // The device manager's text for a failure: the error-text call that follows it
    // in the same thread.
    const auto awaiting = awaiting_text_.find(call.thread);
    if (awaiting != awaiting_text_.end()) {
        std::int64_t code = 0;
        if (call.function == "DRV_GetErrorMessage" && call.status == 0 && Integer(call.Input("code"), code) &&
            code == awaiting->second.second) {
            StatusStats& status = awaiting->second.first->statuses[awaiting->second.second];
            if (const recording::Field* text = Output(call, "text"); text != nullptr && status.text.empty()) {
                status.text = text->value;
            }
        }
        awaiting_text_.erase(awaiting);
    }
    if (!failed) return;
    ++function.failures;
    ++device.failures;
    StatusStats& status = device.statuses[call.status];
    ++status.count;
    if (status.functions.size() < 8) status.functions.insert(call.function);
    const CallPlace place{call.time_us, call.file, call.line, CallText(call), call.status};
    if (!device.first_failure) device.first_failure = place;
    device.last_failure = place;
    if (device.marked.size() < kMarkedFailures) device.marked.push_back(place);
    if (call.function != "DRV_GetErrorMessage") awaiting_text_[call.thread] = {&device, call.status};
}

std::string ClockText(std::uint64_t microseconds) {
    const std::uint64_t seconds = microseconds / 1000000;
    char text[48];
    std::snprintf(text, sizeof text, "%llu:%02u:%02u.%06u", static_cast<unsigned long long>(seconds / 3600),
                  static_cast<unsigned>(seconds / 60 % 60), static_cast<unsigned>(seconds % 60),
                  static_cast<unsigned>(microseconds % 1000000));
    return text;
}

}  // namespace tovihost
