#include "emulator/replay/derived_writes.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <optional>

#include "emulator/commands/commissioning.h"
#include "emulator/text/shown_text.h"

namespace tovihost {
namespace {

constexpr std::size_t kListedDevices = 100;  // the driver searches no more
constexpr std::size_t kNameSearched = 49;    // characters of a device name searched
constexpr std::size_t kTokenSearched = 79;   // characters of a device text searched for
constexpr std::size_t kDataWidth = 6;
constexpr std::int64_t kAllBits = 0xFFFF;

std::optional<std::int64_t> Integer(const std::string& text) {
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc{} || stop != end) return std::nullopt;
    return value;
}

// The input field of that key.
const recording::Field* Input(const recording::Call& call, const char* key) {
    for (const recording::Field& field : call.inputs) {
        if (field.key == key) return &field;
    }
    return nullptr;
}

std::optional<std::int64_t> IntegerField(const recording::Call& call, const char* key) {
    const recording::Field* field = Input(call, key);
    return field == nullptr ? std::nullopt : Integer(field->value);
}

// A recorded real: the float the driver handed over, widened so that the driver
// narrows it back to the same float.
std::optional<double> RealField(const recording::Call& call, const char* key) {
    const recording::Field* field = Input(call, key);
    if (field == nullptr) return std::nullopt;
    float value = 0;
    const char* end = field->value.data() + field->value.size();
    const auto [stop, error] = std::from_chars(field->value.data(), end, value);
    if (field->value.empty() || error != std::errc{} || stop != end) return std::nullopt;
    return static_cast<double>(value);
}

ChannelValue Real(const PlantChannel& channel, double value) {
    ChannelValue write;
    write.channel = channel.number;
    write.type_code = kReal;
    write.real = value;
    return write;
}

ChannelValue Boolean(const PlantChannel& channel, bool value) {
    ChannelValue write;
    write.channel = channel.number;
    write.type_code = kBoolean;
    write.boolean = value;
    return write;
}

// "name" -> "module name", for messages.
std::string ModuleWord(const PlantModule& module) { return "module " + ShownCp1250(module.name); }

std::string Hex2(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X", value & 0xFFu);
    return text;
}

// A whole number as the driver writes one (IntToStr, radix 10): its value, or
// nothing for any other text.
std::optional<std::int32_t> DriverDecimal(const std::string& text) {
    const auto value = Integer(text);
    if (!value || *value < INT32_MIN || *value > INT32_MAX || std::to_string(*value) != text) return std::nullopt;
    return static_cast<std::int32_t>(*value);
}

}  // namespace

bool IsOutputCall(const std::string& function) {
    static const char* const kOutputs[] = {"DRV_AOVoltageOut",  "DRV_DioWritePortByte", "DRV_DioWriteBit",
                                           "DRV_CounterEventStart", "DRV_CounterReset", "DRV_AlarmConfig",
                                           "DRV_AlarmEnable",   "DRV_AlarmReset",       "COMWrite"};
    return std::any_of(std::begin(kOutputs), std::end(kOutputs), [&](const char* f) { return function == f; });
}

std::string DisplayDataField(double value, double minimum, double maximum, bool with_sign) {
    if (std::isnan(value)) value = 0.0;
    if (value > maximum) {
        value = maximum;
    } else if (value < minimum) {
        value = minimum;
    }
    if (!std::isfinite(value)) value = 0.0;
    char text[352];
    const auto [end, error] = std::to_chars(text, text + sizeof text, std::fabs(value), std::chars_format::fixed, 4);
    std::string field = error == std::errc{} ? std::string(text, end) : std::string();
    if (!field.empty() && field[0] == '-') field.erase(0, 1);
    if (field.size() > kDataWidth) {
        field.resize(kDataWidth);
    } else {
        field.insert(0, kDataWidth - field.size(), '0');
    }
    if (with_sign) field.insert(0, 1, value < 0 ? '-' : '+');
    return field;
}

DerivedWrites::DerivedWrites(const Plant& plant, const std::vector<recording::Call>& described)
    : plant_(plant), bindings_(plant.modules().size()) {
    for (const recording::Call& call : described) Learn(call);
}

void DerivedWrites::Rebind() {
    for (std::size_t i = 0; i < bindings_.size(); ++i) bindings_[i] = Bind(plant_.modules()[i]);
}

void DerivedWrites::Learn(const recording::Call& call) {
    if (call.status != 0) return;  // the driver's binding stops at a failed call
    const bool list = call.function == "DRV_DeviceGetList";
    const bool sublist = call.function == "DRV_DeviceGetSubList";
    if (list || sublist) {
        std::vector<Listed> entries;
        for (const recording::Field& field : call.outputs) {
            if (field.key != "entry") continue;
            // "NUMBER SUBDEVICES NAME"
            const std::size_t first = field.value.find(' ');
            const std::size_t second = first == std::string::npos ? first : field.value.find(' ', first + 1);
            if (second == std::string::npos) continue;
            Listed entry;
            entry.number = Integer(field.value.substr(0, first)).value_or(-1);
            entry.subdevices = static_cast<std::int32_t>(Integer(field.value.substr(first + 1, second - first - 1)).value_or(0));
            entry.name = field.value.substr(second + 1);
            entries.push_back(std::move(entry));
        }
        if (list) {
            devices_ = std::move(entries);
        } else if (const auto device = IntegerField(call, "dev")) {
            subdevices_[*device] = std::move(entries);
        }
        Rebind();
    } else if (call.function == "COMGetConfig") {
        const auto index = IntegerField(call, "index");
        for (const recording::Field& field : call.outputs) {
            if (field.key != "config" || field.value.size() < 8 || !index) continue;
            // The configuration's first field, the port, is 32-bit little-endian.
            std::uint32_t port = 0;
            for (int i = 3; i >= 0; --i) {
                unsigned byte = 0;
                const char* at = field.value.data() + 2 * i;
                if (std::from_chars(at, at + 2, byte, 16).ptr != at + 2) return;
                port = (port << 8) | byte;
            }
            serial_ports_[*index] = port;
            Rebind();
        }
    }
}

DerivedWrites::Binding DerivedWrites::Bind(const PlantModule& module) const {
    Binding binding;
    auto holds = [](const std::string& name, const std::string& text) {
        const std::string token = text.substr(0, kTokenSearched);
        return !token.empty() && name.substr(0, kNameSearched).find(token) != std::string::npos;
    };
    std::int64_t position = -1;
    for (std::size_t i = 0; i < devices_.size() && i < kListedDevices; ++i) {
        if (holds(devices_[i].name, module.device)) position = static_cast<std::int64_t>(i);
    }
    if (position < 0) return binding;
    const Listed& device = devices_[static_cast<std::size_t>(position)];
    const auto port = serial_ports_.find(position);
    if (port != serial_ports_.end()) binding.serial_port = port->second;
    if (device.subdevices <= 0) {
        binding.device = device.number;
        return binding;
    }
    const auto sub = subdevices_.find(device.number);
    if (sub == subdevices_.end()) return binding;
    const std::size_t count = std::min(sub->second.size(), static_cast<std::size_t>(device.subdevices));
    for (std::size_t i = 0; i < count; ++i) {
        if (holds(sub->second[i].name, module.subdevice)) binding.device = sub->second[i].number;
    }
    return binding;
}

std::int64_t DerivedWrites::DeviceOf(const PlantModule& module) const { return Bind(module).device; }

std::int64_t DerivedWrites::SerialDeviceOf(const PlantModule& module) const {
    if (!IsDisplayModule(plant_, module)) return -1;
    const std::int64_t port = Bind(module).serial_port;
    if (port < 0) return -1;
    for (const PlantModule& other : plant_.modules()) {
        if (&other != &module && IsDisplayModule(plant_, other) && Bind(other).serial_port == port) return -1;
    }
    std::int64_t device = -1;
    for (const auto& [position, configured] : serial_ports_) {
        if (configured == port && position >= 0 && static_cast<std::size_t>(position) < devices_.size())
            device = devices_[static_cast<std::size_t>(position)].number;
    }
    return device;
}

std::vector<const PlantModule*> DerivedWrites::ModulesOn(std::int64_t device) const {
    std::vector<const PlantModule*> modules;
    for (std::size_t i = 0; i < bindings_.size(); ++i) {
        if (bindings_[i].device == device) modules.push_back(&plant_.modules()[i]);
    }
    return modules;
}

std::string DerivedWrites::DeviceText(std::int64_t device) const {
    std::string text = "device " + std::to_string(device);
    auto named = [&](const std::vector<Listed>& list) {
        for (const Listed& entry : list) {
            if (entry.number == device) {
                text += " \"" + ShownUtf8(entry.name) + "\"";
                return true;
            }
        }
        return false;
    };
    if (!named(devices_)) {
        for (const auto& [parent, list] : subdevices_) {
            if (named(list)) break;
        }
    }
    return text;
}

const PlantChannel* DerivedWrites::ChannelOn(const std::vector<const PlantModule*>& modules, const char* keyword,
                                             std::int64_t port, std::int64_t bit) const {
    for (const PlantModule* module : modules) {
        for (const PlantChannel& channel : plant_.channels()) {
            if (channel.parameter || channel.keyword != keyword || channel.module != module->name) continue;
            if (channel.port != port) continue;
            if (bit >= 0 && channel.bit != bit) continue;
            return &channel;
        }
    }
    return nullptr;
}

const PlantChannel* DerivedWrites::Parameter(const PlantChannel& owner, std::uint32_t index) const {
    for (const PlantChannel& channel : plant_.channels()) {
        if (channel.parameter && channel.owner == owner.number && channel.parameter_index == index) return &channel;
    }
    return nullptr;
}

std::vector<ChannelValue> DerivedWrites::For(const recording::Call& recorded, std::string& why) const {
    why.clear();
    const std::string& function = recorded.function;
    if (!IsOutputCall(function)) {
        why = function + " is not written by a host";
        return {};
    }
    if (function == "COMWrite") return DisplayFrame(recorded, why);
    const auto device = IntegerField(recorded, "dev");
    if (!device || *device < 0) {
        why = "the recording does not say which device the call was made on";
        return {};
    }
    const std::vector<const PlantModule*> modules = ModulesOn(*device);
    if (modules.empty()) {
        why = "no module of the parameter file binds to " + DeviceText(*device);
        return {};
    }
    if (function == "DRV_DioWritePortByte") return PortWrite(recorded, why);

    const char* keyword = nullptr;
    const char* number_key = "channel";
    if (function == "DRV_AOVoltageOut") {
        keyword = "ao";
    } else if (function == "DRV_DioWriteBit") {
        keyword = "do_bit";
        number_key = "port";
    } else if (function == "DRV_CounterEventStart" || function == "DRV_CounterReset") {
        keyword = "cnt_event_start";
        number_key = "counter";
    } else if (function == "DRV_AlarmConfig") {
        keyword = "alarm_config";
    } else if (function == "DRV_AlarmEnable") {
        keyword = "alarm_enable";
    } else {
        keyword = "alarm_reset";
    }
    const auto number = IntegerField(recorded, number_key);
    const auto bit = IntegerField(recorded, "bit");
    if (!number || (function == "DRV_DioWriteBit" && !bit)) {
        why = "the recorded call lacks its " + std::string(number ? "bit" : number_key);
        return {};
    }
    const PlantChannel* channel = ChannelOn(modules, keyword, *number, function == "DRV_DioWriteBit" ? *bit : -1);
    if (channel == nullptr) {
        why = ModuleWord(*modules.front()) + " has no " + keyword + " channel on " + number_key + " " +
              std::to_string(*number) + (function == "DRV_DioWriteBit" ? " bit " + std::to_string(*bit) : "");
        return {};
    }

    if (function == "DRV_AOVoltageOut") {
        const auto voltage = RealField(recorded, "voltage");
        if (!voltage) {
            why = "the recorded call has no voltage";
            return {};
        }
        return {Real(*channel, *voltage)};
    }
    if (function == "DRV_DioWriteBit") {
        const auto state = IntegerField(recorded, "state");
        if (!state || (*state != 0 && *state != 1)) {
            why = "the driver writes a bit's state as 0 or 1";
            return {};
        }
        return {Boolean(*channel, *state == 1)};
    }
    if (function == "DRV_CounterReset") return {Boolean(*channel, false)};
    if (function == "DRV_AlarmReset") return {Boolean(*channel, true)};
    if (function == "DRV_CounterEventStart") {
        const auto gate = IntegerField(recorded, "gate");
        const PlantChannel* gate_channel = Parameter(*channel, 1);
        if (!gate || gate_channel == nullptr) {
            why = gate ? "channel " + std::to_string(channel->number) + " has no gate mode channel"
                       : "the recorded call has no gate mode";
            return {};
        }
        return {Real(*gate_channel, static_cast<double>(*gate)), Boolean(*channel, true)};
    }
    if (function == "DRV_AlarmConfig") {
        const auto low = RealField(recorded, "low_limit");
        const auto high = RealField(recorded, "high_limit");
        const PlantChannel* low_channel = Parameter(*channel, 1);
        const PlantChannel* high_channel = Parameter(*channel, 2);
        if (!low || !high || low_channel == nullptr || high_channel == nullptr) {
            why = low && high ? "channel " + std::to_string(channel->number) + " lacks a limit channel"
                              : "the recorded call lacks a limit";
            return {};
        }
        return {Real(*low_channel, *low), Real(*high_channel, *high), Boolean(*channel, true)};
    }
    // DRV_AlarmEnable: the value 1 enables latched, 2 enables, any other disables.
    const auto latch = IntegerField(recorded, "latch");
    const auto enabled = IntegerField(recorded, "enabled");
    if (latch == 1 && enabled == 1) return {Real(*channel, 1.0)};
    if (latch == 0 && enabled == 1) return {Real(*channel, 2.0)};
    if (latch == 0 && enabled == 0) return {Real(*channel, 0.0)};
    why = "the driver never writes latch=" + (latch ? std::to_string(*latch) : std::string("?")) +
          " enabled=" + (enabled ? std::to_string(*enabled) : std::string("?"));
    return {};
}

// A port write is a do_byte channel's whole port (mask 0xFFFF), or the do_bit
// channels of one port merged in one pass: each bit of the mask one channel, set
// when the state has that bit. The driver sets no state bit outside the mask, nor
// above bit 7 of a merged port.
std::vector<ChannelValue> DerivedWrites::PortWrite(const recording::Call& call, std::string& why) const {
    const auto device = IntegerField(call, "dev");
    const auto port = IntegerField(call, "port");
    const auto mask = IntegerField(call, "mask");
    const auto state = IntegerField(call, "state");
    if (!port || !mask || !state) {
        why = "the recorded call lacks its port, mask or state";
        return {};
    }
    const std::vector<const PlantModule*> modules = ModulesOn(*device);
    if (*mask == kAllBits) {
        if (const PlantChannel* byte = ChannelOn(modules, "do_byte", *port)) return {Real(*byte, static_cast<double>(*state))};
    }
    if ((*state & ~*mask) != 0 || (*state & ~0xFF) != 0) {
        why = "the driver merges no port write with state " + std::to_string(*state) + " under mask " +
              std::to_string(*mask) + (*mask == kAllBits ? " and there is no do_byte channel on port " +
                                                               std::to_string(*port) : "");
        return {};
    }
    std::string missing;
    for (const PlantModule* module : modules) {
        std::vector<ChannelValue> writes;
        for (std::int64_t bit = 0; bit < 16; ++bit) {
            if ((*mask & (std::int64_t{1} << bit)) == 0) continue;
            const PlantChannel* channel = ChannelOn({module}, "do_bit", *port, bit);
            if (channel == nullptr) {
                if (missing.empty()) {
                    missing = ModuleWord(*module) + " has no " +
                              (*mask == kAllBits ? "do_byte channel on port " + std::to_string(*port) + " and no " : "") +
                              "do_bit channel on port " + std::to_string(*port) + " bit " + std::to_string(bit);
                }
                writes.clear();
                break;
            }
            writes.push_back(Boolean(*channel, (*state & (std::int64_t{1} << bit)) != 0));
        }
        if (!writes.empty()) return writes;
    }
    why = missing.empty() ? "the port write has an empty mask" : missing;
    return {};
}

// A display frame: "$" + the module's address + "8" and a whole number (a
// display_select channel) or "9" and a number field (display_data), the checksum
// when the parameter file asks for one, a carriage return. The module is a display
// module of that address on the frame's serial port.
std::vector<ChannelValue> DerivedWrites::DisplayFrame(const recording::Call& call, std::string& why) const {
    const recording::Field* data = Input(call, "data");
    const auto port = IntegerField(call, "port");
    if (data == nullptr || data->value.size() < 3 || data->value.front() != '$' || data->value.back() != '\r') {
        why = "the serial write is no display frame (\"$...\\r\")";
        return {};
    }
    std::string body = data->value.substr(1, data->value.size() - 2);
    if (plant_.check_sum()) {
        if (body.size() < 2) {
            why = "the frame has no checksum, the parameter file asks for one";
            return {};
        }
        const std::string given = body.substr(body.size() - 2);
        body.resize(body.size() - 2);
        unsigned sum = '$';
        for (const char c : body) sum += static_cast<unsigned char>(c);
        if (given != Hex2(sum)) {
            why = "the frame's checksum " + given + " is not the sum of its characters (" + Hex2(sum) + ")";
            return {};
        }
    }
    std::string reason;
    bool addressed = false;
    for (const PlantModule& module : plant_.modules()) {
        if (!IsDisplayModule(plant_, module)) continue;
        const std::string address = DisplayAddress(module.device, module.subdevice);
        if (body.compare(0, address.size(), address) != 0 || body.size() <= address.size()) continue;
        const Binding& binding = bindings_[static_cast<std::size_t>(&module - plant_.modules().data())];
        if (port && *port >= 0 && binding.serial_port >= 0 && binding.serial_port != *port) continue;
        addressed = true;
        const char command = body[address.size()];
        const std::string field = body.substr(address.size() + 1);
        const bool select = command == '8';
        if (!select && command != '9') {
            if (reason.empty()) reason = "the frame's command " + std::string(1, command) + " is neither 8 nor 9";
            continue;
        }
        const std::vector<const PlantModule*> one{&module};
        const PlantChannel* channel = ChannelOn(one, select ? "display_select" : "display_data", -1);
        if (channel == nullptr) {
            if (reason.empty()) {
                reason = ModuleWord(module) + " has no " + (select ? "display_select" : "display_data") + " channel";
            }
            continue;
        }
        if (select) {
            if (const auto value = DriverDecimal(field)) return {Real(*channel, static_cast<double>(*value))};
            if (reason.empty()) reason = "the selection \"" + ShownUtf8(field) + "\" is no whole number the driver writes";
            continue;
        }
        // The field's number, with the sign it shows or, unsigned, either sign; the
        // range's ends for a held value; a value just below 0 for "-0.0000".
        std::string digits = field;
        char sign = 0;
        if (module.display_sign && !digits.empty() && (digits[0] == '+' || digits[0] == '-')) {
            sign = digits[0];
            digits.erase(0, 1);
        }
        double magnitude = 0.0;
        const char* end = digits.data() + digits.size();
        const auto parsed = std::from_chars(digits.data(), end, magnitude, std::chars_format::fixed);
        if (!digits.empty() && parsed.ec == std::errc{} && parsed.ptr == end) {
            std::vector<double> candidates;
            if (sign != '-') candidates.push_back(magnitude);
            if (sign != '+') candidates.insert(candidates.end(), {-magnitude, -0.00001});
            candidates.insert(candidates.end(), {module.display_min, module.display_max});
            for (const double value : candidates) {
                if (DisplayDataField(value, module.display_min, module.display_max, module.display_sign) == field) {
                    return {Real(*channel, value)};
                }
            }
        }
        if (reason.empty()) {
            reason = ModuleWord(module) + " shows no value as \"" + ShownUtf8(field) + "\" (range " +
                     FormatNumber(module.display_min) + " to " + FormatNumber(module.display_max) +
                     (module.display_sign ? ", signed)" : ", unsigned)");
        }
    }
    if (!addressed) {
        why = "no display module of the parameter file has the address of frame \"" + ShownUtf8(data->value.substr(0, data->value.size() - 1)) + "\"";
        if (port && *port >= 0) why += " on serial port " + std::to_string(*port);
    } else {
        why = reason;
    }
    return {};
}

}  // namespace tovihost
