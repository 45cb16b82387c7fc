// The control interface of device_sim.h.
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "device_sim/device_sim.h"
#include "device_sim/replay.h"
#include "device_sim/simulator.h"
#include "recording/recording_format.h"

using devsim::Simulator;
using devsim::Unit;

namespace {

using Guard = std::lock_guard<std::mutex>;

void CopyText(const std::string& text, char* buffer, std::uint32_t capacity) {
    if (buffer == nullptr || capacity == 0) return;
    const std::size_t length = std::min<std::size_t>(text.size(), capacity - 1);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
}

int Load(const std::string& text, const std::string& origin, char* error, std::uint32_t capacity) {
    devsim::DeviceSet loaded;
    std::string message;
    // A recording replaces the device set with an empty one and answers every call.
    const bool is_recording = recording::LooksLikeRecording(text);
    if (is_recording ? !devsim::replay::Load(text, origin, message)
                  : !devsim::ParseDeviceSet(text, origin, &loaded, &message)) {
        CopyText(message, error, capacity);
        return -1;
    }
    if (!is_recording) devsim::replay::Clear();
    Simulator& sim = Simulator::Instance();
    Guard lock(sim.mutex);
    sim.initial = std::move(loaded);
    sim.Reset();
    CopyText("", error, capacity);
    return 0;
}

// The inputs of one kind of a device, or null for an unknown kind.
std::map<std::uint32_t, devsim::Source>* SimpleInputs(Unit& unit, std::string_view kind) {
    if (kind == "ai") return &unit.analog_inputs;
    if (kind == "inport") return &unit.input_ports;
    if (kind == "freq") return &unit.frequencies;
    return nullptr;
}

int SetSource(std::uint32_t device, const char* kind, std::int32_t channel, const devsim::Source& source) {
    if (kind == nullptr || channel < 0 || channel > 0xFFFF) return -1;
    Simulator& sim = Simulator::Instance();
    Guard lock(sim.mutex);
    Unit* unit = sim.UnitByNumber(device);
    if (unit == nullptr) return -1;
    const auto key = static_cast<std::uint32_t>(channel);
    const std::string_view which = kind;
    if (auto* inputs = SimpleInputs(*unit, which)) {
        (*inputs)[key] = source;
    } else if (which == "counter") {
        unit->counters[key].source = source;
    } else if (which == "alarm") {
        unit->alarms[key].source = source;
    } else {
        return -1;
    }
    return 0;
}

template <class Map>
auto* Find(Map& map, std::int32_t key) {
    if (key < 0) return static_cast<typename Map::mapped_type*>(nullptr);
    const auto found = map.find(static_cast<std::uint32_t>(key));
    return found == map.end() ? nullptr : &found->second;
}

std::int32_t AddFault(devsim::Fault fault) {
    Simulator& sim = Simulator::Instance();
    Guard lock(sim.mutex);
    fault.id = sim.next_fault_id++;
    fault.matches = fault.hits = 0;
    if (fault.text) sim.error_texts[fault.status] = *fault.text;
    sim.set.faults.push_back(std::move(fault));
    return sim.set.faults.back().id;
}

}  // namespace

extern "C" {

int devsim_load_file(const char* path, char* error, std::uint32_t capacity) {
    if (path == nullptr) {
        CopyText("no file name", error, capacity);
        return -1;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        CopyText(std::string(path) + ": cannot be read", error, capacity);
        return -1;
    }
    // A recording is read as the replay goes, never whole.
    char start[sizeof recording::kMagic + 1] = {};
    file.read(start, sizeof start - 1);
    if (recording::LooksLikeRecording(std::string_view(start, static_cast<std::size_t>(file.gcount())))) {
        file.close();
        return devsim_replay_open(&path, 1, error, capacity);
    }
    file.clear();
    file.seekg(0);
    std::ostringstream content;
    content << file.rdbuf();
    if (file.bad()) {
        CopyText(std::string(path) + ": read error", error, capacity);
        return -1;
    }
    return Load(content.str(), path, error, capacity);
}

int devsim_load_text(const char* text, char* error, std::uint32_t capacity) {
    if (text == nullptr) {
        CopyText("no text", error, capacity);
        return -1;
    }
    return Load(text, "text", error, capacity);
}

void devsim_reset(void) {
    devsim::replay::Rewind();
    Simulator& sim = Simulator::Instance();
    Guard lock(sim.mutex);
    sim.Reset();
}

void devsim_unload(void) {
    devsim::replay::Clear();
    Simulator& sim = Simulator::Instance();
    Guard lock(sim.mutex);
    sim.initial = devsim::DeviceSet();
    sim.Reset();
}

int devsim_replay_state_of(devsim_replay_state* state) {
    if (state == nullptr) return -1;
    return devsim::replay::StateOf(*state) ? 0 : -1;
}

int devsim_replay_open(const char* const* paths, std::uint32_t count, char* error, std::uint32_t capacity) {
    std::vector<std::string> files;
    for (std::uint32_t i = 0; paths != nullptr && i < count; ++i) {
        if (paths[i] == nullptr) continue;
        files.emplace_back(paths[i]);
        // Something readable that is no recording is named so before its lines are.
        std::ifstream file(paths[i], std::ios::binary);
        std::error_code code;
        if (!file || !std::filesystem::is_regular_file(paths[i], code)) continue;
        char start[sizeof recording::kMagic + 1] = {};
        file.read(start, sizeof start - 1);
        if (!recording::LooksLikeRecording(std::string_view(start, static_cast<std::size_t>(file.gcount())))) {
            CopyText(files.back() + ":1: not a recording: it must start with \"" + recording::kMagic + " " +
                         std::to_string(recording::kFormatVersion) + "\"",
                     error, capacity);
            return -1;
        }
    }
    std::string message;
    if (files.empty()) {
        CopyText("no recording given", error, capacity);
        return -1;
    }
    if (!devsim::replay::Open(files, message)) {
        CopyText(message, error, capacity);
        return -1;
    }
    Simulator& sim = Simulator::Instance();
    Guard lock(sim.mutex);
    sim.initial = devsim::DeviceSet();
    sim.Reset();
    CopyText("", error, capacity);
    return 0;
}

void devsim_replay_stopping(void) { devsim::replay::Stopping(); }

void devsim_replay_cycle_done(void) { devsim::replay::CycleDone(); }

void devsim_replay_finish(void) { devsim::replay::Finish(); }

int devsim_replay_upcoming_outputs(devsim_replay_call_callback callback, void* context) {
    if (callback == nullptr || !devsim::replay::Active()) return -1;
    std::string line;
    for (const devsim::replay::Upcoming& upcoming : devsim::replay::UpcomingOutputs()) {
        line.clear();
        recording::AppendCallLine(upcoming.call, line);
        if (!line.empty() && line.back() == '\n') line.pop_back();
        callback(upcoming.number, line.c_str(), context);
    }
    return 0;
}

int devsim_replay_described(devsim_replay_call_callback callback, void* context) {
    if (callback == nullptr || !devsim::replay::Active()) return -1;
    std::string line;
    for (const recording::Call& call : devsim::replay::Described()) {
        line.clear();
        recording::AppendCallLine(call, line);
        if (!line.empty() && line.back() == '\n') line.pop_back();
        callback(0, line.c_str(), context);
    }
    return 0;
}

int devsim_replay_pass_over(std::uint64_t number, const char* why) {
    return devsim::replay::PassOver(number, why == nullptr ? "" : why) ? 0 : -1;
}

std::int32_t devsim_device_count(void) {
    Simulator& sim = Simulator::Instance();
    Guard lock(sim.mutex);
    return static_cast<std::int32_t>(sim.set.units.size());
}

int devsim_device_info_at(std::int32_t index, devsim_device_info* info) {
    Simulator& sim = Simulator::Instance();
    Guard lock(sim.mutex);
    if (info == nullptr || index < 0 || static_cast<std::size_t>(index) >= sim.set.units.size()) return -1;
    const Unit& unit = sim.set.units[static_cast<std::size_t>(index)];
    std::memset(info, 0, sizeof *info);
    info->number = unit.number;
    CopyText(unit.name, info->name, sizeof info->name);
    info->list_position = unit.list_position;
    info->parent = unit.parent >= 0 ? sim.set.units[static_cast<std::size_t>(unit.parent)].number : -1;
    info->subdevice_count = static_cast<std::int32_t>(unit.children.size());
    info->serial_port = sim.SerialPortOf(unit);
    info->digital_inputs = unit.digital_inputs;
    info->digital_outputs = unit.digital_outputs;
    info->has_display = unit.display ? 1 : 0;
    info->display_address = unit.display ? unit.display->address : 0;
    return 0;
}

int devsim_find_device(const char* name, std::uint32_t* number) {
    if (name == nullptr || number == nullptr) return -1;
    Simulator& sim = Simulator::Instance();
    Guard lock(sim.mutex);
    for (const Unit& unit : sim.set.units) {
        if (unit.name == name) {
            *number = unit.number;
            return 0;
        }
    }
    return -1;
}

int devsim_set_input(std::uint32_t device, const char* kind, std::int32_t channel, const char* source_text,
                     char* error, std::uint32_t capacity) {
    devsim::Source source;
    std::string message;
    if (source_text == nullptr || !devsim::ParseSource(source_text, &source, &message)) {
        CopyText(source_text == nullptr ? "no source" : message, error, capacity);
        return -1;
    }
    if (SetSource(device, kind, channel, source) != 0) {
        CopyText("unknown device, input kind or channel", error, capacity);
        return -1;
    }
    CopyText("", error, capacity);
    return 0;
}

int devsim_set_input_value(std::uint32_t device, const char* kind, std::int32_t channel, double value) {
    if (!std::isfinite(value)) return -1;
    devsim::Source source;
    source.p[0] = value;
    source.text = devsim::RealText(value);
    return SetSource(device, kind, channel, source);
}

void devsim_advance_clock(std::int64_t microseconds) {
    Simulator& sim = Simulator::Instance();
    Guard lock(sim.mutex);
    sim.Advance(microseconds);
}

void devsim_set_clock_step(std::int64_t microseconds) {
    Simulator& sim = Simulator::Instance();
    Guard lock(sim.mutex);
    sim.SetStep(microseconds);
}

void devsim_set_clock_real(int on) {
    Simulator& sim = Simulator::Instance();
    Guard lock(sim.mutex);
    sim.SetReal(on != 0);
}

std::int64_t devsim_clock(void) {
    Simulator& sim = Simulator::Instance();
    Guard lock(sim.mutex);
    return sim.NowMicroseconds();
}

std::int32_t devsim_inject_fault(const char* function, std::int32_t status, const char* text,
                                 std::int64_t device_number, const char* device_name, std::int32_t channel,
                                 std::int32_t mode, std::uint32_t every_n) {
    devsim::Fault fault;
    if (function == nullptr || !devsim::FunctionFromName(function, &fault.function) || status == 0) return -1;
    if (device_number > 0xFFFFFFFFll) return -1;
    fault.status = status;
    if (text != nullptr) fault.text = std::string(text).substr(0, DEVSIM_MAX_ERROR_TEXT);
    if (device_number >= 0) fault.device_number = static_cast<std::uint32_t>(device_number);
    if (device_name != nullptr) fault.device_name = std::string(device_name);
    fault.channel = channel < 0 ? -1 : channel;
    switch (mode) {
        case DEVSIM_ALWAYS: fault.mode = devsim::FaultMode::Always; break;
        case DEVSIM_ONCE: fault.mode = devsim::FaultMode::Once; break;
        case DEVSIM_EVERY:
            if (every_n == 0) return -1;
            fault.mode = devsim::FaultMode::Every;
            fault.every = every_n;
            break;
        default: return -1;
    }
    return AddFault(std::move(fault));
}

std::int32_t devsim_inject_fault_line(const char* line, char* error, std::uint32_t capacity) {
    devsim::Fault fault;
    std::string message;
    if (line == nullptr || !devsim::ParseFault(line, &fault, &message)) {
        CopyText(line == nullptr ? "no fault line" : message, error, capacity);
        return -1;
    }
    CopyText("", error, capacity);
    return AddFault(std::move(fault));
}

int devsim_clear_fault(std::int32_t id) {
    Simulator& sim = Simulator::Instance();
    Guard lock(sim.mutex);
    auto& faults = sim.set.faults;
    for (auto it = faults.begin(); it != faults.end(); ++it) {
        if (it->id == id) {
            faults.erase(it);
            return 0;
        }
    }
    return -1;
}

void devsim_clear_faults(void) {
    Simulator& sim = Simulator::Instance();
    Guard lock(sim.mutex);
    sim.set.faults.clear();
}

std::uint64_t devsim_fault_hits(std::int32_t id) {
    Simulator& sim = Simulator::Instance();
    Guard lock(sim.mutex);
    for (const devsim::Fault& fault : sim.set.faults)
        if (fault.id == id) return fault.hits;
    return 0;
}

int devsim_set_delay(const char* function, std::int64_t device_number, std::uint32_t microseconds) {
    int fn = -1;
    if (function == nullptr || !devsim::FunctionFromName(function, &fn)) return -1;
    Simulator& sim = Simulator::Instance();
    Guard lock(sim.mutex);
    auto& delays = sim.set.delays;
    const std::int64_t device = device_number < 0 ? -1 : device_number;
    for (auto it = delays.begin(); it != delays.end();) {
        if (it->function == fn && it->device == device) it = delays.erase(it);
        else ++it;
    }
    if (microseconds != 0) delays.push_back(devsim::Delay{fn, device, microseconds});
    return 0;
}

void devsim_clear_delays(void) {
    Simulator& sim = Simulator::Instance();
    Guard lock(sim.mutex);
    sim.set.delays.clear();
}

std::uint32_t devsim_trace_count(void) {
    Simulator& sim = Simulator::Instance();
    Guard lock(sim.mutex);
    return static_cast<std::uint32_t>(sim.trace.size());
}

std::int32_t devsim_trace_line(std::uint32_t index, char* buffer, std::uint32_t capacity) {
    Simulator& sim = Simulator::Instance();
    Guard lock(sim.mutex);
    if (index >= sim.trace.size()) return -1;
    const std::string& line = sim.trace[index];
    CopyText(line, buffer, capacity);
    return static_cast<std::int32_t>(std::min<std::size_t>(line.size(), INT32_MAX));
}

void devsim_trace_clear(void) {
    Simulator& sim = Simulator::Instance();
    Guard lock(sim.mutex);
    sim.trace.clear();
    sim.trace_dropped = 0;
}

void devsim_trace_set_capacity(std::uint32_t lines) {
    Simulator& sim = Simulator::Instance();
    Guard lock(sim.mutex);
    sim.set.trace_capacity = lines == 0 ? 1 : lines;
    while (sim.trace.size() > sim.set.trace_capacity) {
        sim.trace.pop_front();
        ++sim.trace_dropped;
    }
}

std::uint64_t devsim_trace_dropped(void) {
    Simulator& sim = Simulator::Instance();
    Guard lock(sim.mutex);
    return sim.trace_dropped;
}

void devsim_trace_set_callback(devsim_trace_callback callback, void* context) {
    Simulator& sim = Simulator::Instance();
    std::lock_guard<std::mutex> lock(sim.callback_mutex);
    sim.callback = callback;
    sim.callback_context = context;
}

std::uint64_t devsim_call_count(const char* function, std::int64_t device_number) {
    int fn = -1;
    if (function != nullptr && !devsim::FunctionFromName(function, &fn)) return 0;
    Simulator& sim = Simulator::Instance();
    Guard lock(sim.mutex);
    std::uint64_t total = 0;
    for (int i = 0; i < devsim::kFunctionCount; ++i) {
        if (fn >= 0 && fn != i) continue;
        for (const auto& [device, calls] : sim.counts[i])
            if (device_number < 0 || device == device_number) total += calls;
    }
    return total;
}

void devsim_clear_call_counts(void) {
    Simulator& sim = Simulator::Instance();
    Guard lock(sim.mutex);
    for (auto& per_device : sim.counts) per_device.clear();
}

int devsim_analog_output(std::uint32_t device, std::int32_t channel, devsim_analog_output_state* state) {
    Simulator& sim = Simulator::Instance();
    Guard lock(sim.mutex);
    Unit* unit = sim.UnitByNumber(device);
    const devsim::AnalogOutput* output = unit ? Find(unit->analog_outputs, channel) : nullptr;
    if (output == nullptr || state == nullptr) return -1;
    state->voltage = output->value;
    state->writes = output->writes;
    return 0;
}

int devsim_port_output(std::uint32_t device, std::int32_t port, devsim_port_state* state) {
    Simulator& sim = Simulator::Instance();
    Guard lock(sim.mutex);
    Unit* unit = sim.UnitByNumber(device);
    if (unit == nullptr || state == nullptr || port < 0 || !unit->HasOutputPort(static_cast<std::uint32_t>(port)))
        return -1;
    std::memset(state, 0, sizeof *state);
    if (const devsim::OutputPort* output = Find(unit->output_ports, port)) {
        state->value = output->value;
        state->writes = output->writes;
        state->last_mask = output->last_mask;
        state->last_state = output->last_state;
    }
    return 0;
}

int devsim_counter_state_of(std::uint32_t device, std::int32_t counter, devsim_counter_state* state) {
    Simulator& sim = Simulator::Instance();
    Guard lock(sim.mutex);
    Unit* unit = sim.UnitByNumber(device);
    const devsim::Counter* found = unit ? Find(unit->counters, counter) : nullptr;
    if (found == nullptr || state == nullptr) return -1;
    state->started = found->started ? 1 : 0;
    state->gate_mode = found->gate_mode;
    state->starts = found->starts;
    state->resets = found->resets;
    bool overflow = false;
    devsim::CounterReading(*found, sim.NowSeconds(), &state->count, &overflow);
    state->overflow = overflow ? 1 : 0;
    return 0;
}

int devsim_alarm_state_of(std::uint32_t device, std::int32_t channel, devsim_alarm_state* state) {
    Simulator& sim = Simulator::Instance();
    Guard lock(sim.mutex);
    Unit* unit = sim.UnitByNumber(device);
    const devsim::Alarm* alarm = unit ? Find(unit->alarms, channel) : nullptr;
    if (alarm == nullptr || state == nullptr) return -1;
    state->configured = alarm->configured ? 1 : 0;
    state->low_limit = alarm->low;
    state->high_limit = alarm->high;
    state->enabled = alarm->enabled ? 1 : 0;
    state->latch = alarm->latch;
    state->low_latched = alarm->low_latched ? 1 : 0;
    state->high_latched = alarm->high_latched ? 1 : 0;
    state->configs = alarm->configs;
    state->enables = alarm->enables;
    state->resets = alarm->resets;
    return 0;
}

int devsim_display_state_of(std::uint32_t device, devsim_display_state* state) {
    Simulator& sim = Simulator::Instance();
    Guard lock(sim.mutex);
    Unit* unit = sim.UnitByNumber(device);
    if (unit == nullptr || !unit->display || state == nullptr) return -1;
    const devsim::Display& display = *unit->display;
    std::memset(state, 0, sizeof *state);
    state->address = display.address;
    state->frames = display.frames;
    state->rejected = display.rejected;
    state->has_value = display.has_value ? 1 : 0;
    state->value = display.value;
    CopyText(display.shown, state->shown, sizeof state->shown);
    state->has_selection = display.has_selection ? 1 : 0;
    state->selection = display.selection;
    CopyText(display.last_frame, state->last_frame, sizeof state->last_frame);
    state->last_command = display.last_command;
    state->last_checksum_present = display.last_checksum_present ? 1 : 0;
    state->last_checksum_ok = display.last_checksum_ok ? 1 : 0;
    state->last_accepted = display.last_accepted ? 1 : 0;
    return 0;
}

std::int32_t devsim_open_device_handles(std::int64_t device_number) {
    Simulator& sim = Simulator::Instance();
    Guard lock(sim.mutex);
    std::int32_t count = 0;
    for (const auto& [handle, unit] : sim.device_handles)
        if (device_number < 0 || sim.set.units[static_cast<std::size_t>(unit)].number == device_number) ++count;
    return count;
}

std::int32_t devsim_open_serial_handles(std::int64_t port) {
    Simulator& sim = Simulator::Instance();
    Guard lock(sim.mutex);
    std::int32_t count = 0;
    for (const auto& [handle, serial] : sim.serial_handles)
        if (port < 0 || serial.port == port) ++count;
    return count;
}

}  // extern "C"
