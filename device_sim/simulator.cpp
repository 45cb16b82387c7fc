#include "device_sim/simulator.h"

#include <charconv>
#include <cmath>

namespace devsim {
namespace {

struct BuiltInText {
    std::int32_t status;
    const char* text;
};

constexpr BuiltInText kBuiltInTexts[] = {
    {DEVSIM_OK, "No error"},
    {DEVSIM_E_DEVICE_NOT_FOUND, "Device not found"},
    {DEVSIM_E_INVALID_HANDLE, "Invalid device handle"},
    {DEVSIM_E_INVALID_ARGUMENT, "Invalid argument"},
    {DEVSIM_E_TABLE_SIZE, "Table size out of range"},
    {DEVSIM_E_BUFFER_TOO_SMALL, "Buffer too small"},
    {DEVSIM_E_CHANNEL, "Analog channel out of range"},
    {DEVSIM_E_PORT, "Digital port out of range"},
    {DEVSIM_E_BIT, "Bit number out of range"},
    {DEVSIM_E_COUNTER, "Counter out of range"},
    {DEVSIM_E_ALARM, "Alarm channel out of range"},
    {DEVSIM_E_GAIN, "Invalid gain code"},
    {DEVSIM_E_VALUE, "Output value out of range"},
    {DEVSIM_E_SERIAL_PORT, "Serial port not available"},
    {DEVSIM_E_SERIAL_TIMEOUT, "Serial read time-out"},
    {DEVSIM_E_SERIAL_CONFIG, "Serial configuration does not match the port"},
    {DEVSIM_E_LIST_POSITION, "Device list position out of range"},
};

}  // namespace

Simulator& Simulator::Instance() {
    static Simulator instance;
    return instance;
}

void Simulator::Install(const DeviceSet& loaded) {
    set = loaded;
    device_handles.clear();
    serial_handles.clear();
    error_texts.clear();
    next_fault_id = 1;
    for (Fault& fault : set.faults) {
        fault.id = next_fault_id++;
        if (fault.text) error_texts[fault.status] = *fault.text;
    }
    trace.clear();
    trace_dropped = 0;
    sequence = 0;
    for (auto& per_device : counts) per_device.clear();
    clock_ = 0;
    real_base_ = std::chrono::steady_clock::now();
    next_handle_ = 0x00010001;
}

std::int64_t Simulator::NowMicroseconds() const {
    if (!set.clock_real) return clock_;
    const auto elapsed = std::chrono::steady_clock::now() - real_base_;
    return clock_ + std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count();
}

void Simulator::Advance(std::int64_t microseconds) {
    if (microseconds > 0) clock_ += microseconds;
}

void Simulator::SetReal(bool on) {
    if (on == set.clock_real) return;
    if (on) {
        real_base_ = std::chrono::steady_clock::now();
    } else {
        clock_ = NowMicroseconds();  // the clock stops where it is
    }
    set.clock_real = on;
}

int Simulator::UnitIndex(std::uint32_t number) const {
    for (std::size_t i = 0; i < set.units.size(); ++i)
        if (set.units[i].number == number) return static_cast<int>(i);
    return -1;
}

Unit* Simulator::UnitByNumber(std::uint32_t number) {
    const int index = UnitIndex(number);
    return index < 0 ? nullptr : &set.units[static_cast<std::size_t>(index)];
}

int Simulator::UnitOfHandle(vendor::Handle handle) const {
    const auto found = device_handles.find(handle);
    return found == device_handles.end() ? -1 : found->second;
}

std::uint32_t Simulator::SerialPortOf(const Unit& unit) const {
    return unit.parent >= 0 ? set.units[static_cast<std::size_t>(unit.parent)].serial_port : unit.serial_port;
}

vendor::Handle Simulator::NewHandle() {
    for (;;) {
        const vendor::Handle handle = next_handle_++;
        if (handle == 0 || handle == 0x7FFFFFFF) continue;
        if (device_handles.count(handle) != 0 || serial_handles.count(handle) != 0) continue;
        return handle;
    }
}

std::uint32_t Simulator::DelayFor(Fn fn, int unit) const {
    std::uint64_t total = 0;
    for (const Delay& delay : set.delays) {
        if (delay.function >= 0 && delay.function != static_cast<int>(fn)) continue;
        if (delay.device >= 0 &&
            (unit < 0 || set.units[static_cast<std::size_t>(unit)].number != static_cast<std::uint64_t>(delay.device)))
            continue;
        total += delay.microseconds;
    }
    return total > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(total);
}

std::string Simulator::ErrorText(std::int32_t status) const {
    const auto injected = error_texts.find(status);
    if (injected != error_texts.end()) return injected->second.substr(0, DEVSIM_MAX_ERROR_TEXT);
    for (const BuiltInText& entry : kBuiltInTexts)
        if (entry.status == status) return entry.text;
    return "Unknown error code " + std::to_string(status);
}

void Simulator::AppendTrace(std::string line) {
    trace.push_back(std::move(line));
    while (trace.size() > set.trace_capacity) {
        trace.pop_front();
        ++trace_dropped;
    }
}

void Simulator::Notify(const std::string& line) {
    std::lock_guard<std::mutex> lock(callback_mutex);
    if (callback) callback(callback_context, line.c_str());
}

std::string Quote(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            default:
                if (byte < 0x20 || byte >= 0x7F) {
                    out += "\\x";
                    out += kHex[byte >> 4];
                    out += kHex[byte & 15];
                } else {
                    out += c;
                }
        }
    }
    out += '"';
    return out;
}

std::string FloatText(float value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string RealText(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

namespace {
std::string HexText(std::uint32_t value, int digits) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    do {
        out.insert(out.begin(), kHex[value & 15]);
        value >>= 4;
        --digits;
    } while (value != 0 || digits > 0);
    return "0x" + out;
}
}  // namespace

void Call::SetUnit(int index) {
    unit_ = index;
    if (index < 0) return;
    const Unit& unit = sim_.set.units[static_cast<std::size_t>(index)];
    Arg("dev", static_cast<std::int64_t>(unit.number));
    ArgText("name", unit.name);
}

void Call::Arg(const char* key, const std::string& value) {
    arguments_ += ' ';
    arguments_ += key;
    arguments_ += '=';
    arguments_ += value;
}
void Call::ArgHex(const char* key, std::uint32_t value, int digits) { Arg(key, HexText(value, digits)); }
void Call::ArgFloat(const char* key, float value) { Arg(key, FloatText(value)); }
void Call::ArgText(const char* key, const std::string& value) { Arg(key, Quote(value)); }

void Call::Result(const char* key, const std::string& value) {
    results_ += ' ';
    results_ += key;
    results_ += '=';
    results_ += value;
}
void Call::ResultHex(const char* key, std::uint32_t value, int digits) { Result(key, HexText(value, digits)); }
void Call::ResultFloat(const char* key, float value) { Result(key, FloatText(value)); }
void Call::ResultReal(const char* key, double value) { Result(key, RealText(value)); }
void Call::ResultText(const char* key, const std::string& value) { Result(key, Quote(value)); }

std::optional<vendor::Status> Call::Injected() {
    const Unit* unit = unit_ >= 0 ? &sim_.set.units[static_cast<std::size_t>(unit_)] : nullptr;
    std::optional<vendor::Status> status;
    Fault* firing = nullptr;
    for (Fault& fault : sim_.set.faults) {
        if (fault.function >= 0 && fault.function != static_cast<int>(fn_)) continue;
        if (fault.device_number && (!unit || unit->number != *fault.device_number)) continue;
        if (fault.device_name && (!unit || unit->name != *fault.device_name)) continue;
        if (fault.channel >= 0 && fault.channel != channel_) continue;
        if (fault.mode == FaultMode::Once && fault.hits != 0) continue;  // spent
        ++fault.matches;
        const bool fires = fault.mode != FaultMode::Every || fault.matches % fault.every == 0;
        if (fires && !firing) firing = &fault;
    }
    if (firing) {
        ++firing->hits;
        injected_ = true;
        status = firing->status;
    }
    return status;
}

std::string Call::Finish(vendor::Status status) {
    ++sim_.sequence;
    const std::int64_t device =
        unit_ >= 0 ? static_cast<std::int64_t>(sim_.set.units[static_cast<std::size_t>(unit_)].number) : -1;
    ++sim_.counts[static_cast<int>(fn_)][device];
    std::string line = "#" + std::to_string(sim_.sequence) + " " + FunctionName(fn_) + arguments_ + " -> " +
                       std::to_string(status);
    if (injected_) line += " injected";
    line += results_;
    if (status != 0) line += " error=" + Quote(sim_.ErrorText(status));
    sim_.AppendTrace(line);
    return line;
}

}  // namespace devsim
