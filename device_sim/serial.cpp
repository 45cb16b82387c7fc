// The serial side: configuration by device list position, port handles, and the
// display modules listening on each port. A display takes every frame
//   "$" ADDRESS COMMAND DATA [CHECKSUM] CR
// whose ADDRESS (hexadecimal, at least two digits, any letter case) is its own,
// shows what the frame says, and answers "!" ADDRESS CR when it accepted the frame
// or "?" ADDRESS CR when it refused it. Frames nobody owns get no answer.
#include <charconv>
#include <cmath>
#include <cstring>

#include "device_sim/call_record.h"
#include "device_sim/replay.h"
#include "device_sim/serial_bridge.h"
#include "device_sim/simulator.h"

using devsim::Call;
using devsim::Fn;
using devsim::Serve;
using devsim::Simulator;
using devsim::Store;
namespace record = devsim::record;
namespace replay = devsim::replay;
namespace shapes = recording::shapes;
using devsim::Unit;
using vendor::Handle;
using vendor::Status;

namespace {

// Bytes a display buffers without seeing a CR before it drops them.
constexpr std::size_t kMaxFrame = 256;
// Bytes of written data shown in a trace line.
constexpr std::size_t kTracedData = 256;

std::string AddressText(std::uint32_t address) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    do {
        text.insert(text.begin(), kHex[address & 15]);
        address >>= 4;
    } while (address != 0);
    if (text.size() < 2) text.insert(text.begin(), '0');
    return text;
}

bool SameLetters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The display unit on `port` that a frame (without CR) is addressed to, and the
// length of its address text; -1 when none.
int AddressedDisplay(const Simulator& sim, std::uint32_t port, std::string_view frame, std::size_t* address_length) {
    int best = -1;
    std::size_t best_length = 0;
    if (frame.empty() || frame[0] != '$') return -1;
    for (std::size_t i = 0; i < sim.set.units.size(); ++i) {
        const Unit& unit = sim.set.units[i];
        if (!unit.display || sim.SerialPortOf(unit) != port) continue;
        const std::string address = AddressText(unit.display->address);
        if (frame.size() < 2 + address.size() || !SameLetters(frame.substr(1, address.size()), address)) continue;
        const char command = frame[1 + address.size()];
        if (command != '8' && command != '9') continue;
        if (address.size() > best_length) {
            best = static_cast<int>(i);
            best_length = address.size();
        }
    }
    *address_length = best_length;
    return best;
}

// The display addressed by the first complete frame in pending + data.
int FirstAddressedDisplay(const Simulator& sim, const devsim::SerialHandle& serial, const char* data,
                          std::uint32_t length) {
    std::string text = serial.pending;
    text.append(data, length);
    const std::size_t end = text.find('\r');
    if (end == std::string::npos) return -1;
    std::size_t address_length = 0;
    return AddressedDisplay(sim, serial.port, std::string_view(text).substr(0, end), &address_length);
}

std::string Checksum(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    unsigned sum = 0;
    for (const char c : text) sum += static_cast<unsigned char>(c);
    sum &= 0xFF;
    return std::string{kHex[sum >> 4], kHex[sum & 15]};
}

// A "9" data field: six characters of digits with at most one decimal point
// ('.' or ','), or seven with a leading sign.
bool ParseDataField(std::string_view data, double* value) {
    std::string_view digits = data;
    bool negative = false;
    if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) {
        negative = digits[0] == '-';
        digits.remove_prefix(1);
    }
    if (digits.size() != 6) return false;
    std::string number;
    int points = 0, figures = 0;
    for (const char c : digits) {
        if (c == '.' || c == ',') {
            ++points;
            number += '.';
        } else if (IsDigit(c)) {
            ++figures;
            number += c;
        } else {
            return false;
        }
    }
    if (points > 1 || figures == 0) return false;
    double parsed = 0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), parsed);
    if (result.ec != std::errc() || result.ptr != number.data() + number.size()) return false;
    *value = negative ? -parsed : parsed;
    return true;
}

// An "8" data field: a decimal integer within 32 bits, optionally signed.
bool ParseSelection(std::string_view data, std::int32_t* value) {
    if (!data.empty() && data[0] == '+') data.remove_prefix(1);
    if (data.empty()) return false;
    const auto result = std::from_chars(data.data(), data.data() + data.size(), *value, 10);
    return result.ec == std::errc() && result.ptr == data.data() + data.size();
}

// Serves one frame (ending in CR) written on `serial`; adds what happened to the
// trace line and queues the display's answer.
void ServeFrame(Simulator& sim, Call& call, devsim::SerialHandle& serial, const std::string& raw) {
    const std::string_view frame = std::string_view(raw).substr(0, raw.size() - 1);  // without CR
    std::size_t address_length = 0;
    const int unit = AddressedDisplay(sim, serial.port, frame, &address_length);
    if (unit < 0) {
        call.Result("display", "none");
        return;
    }
    serial.last_unit = unit;
    Unit& owner = sim.set.units[static_cast<std::size_t>(unit)];
    devsim::Display& display = *owner.display;
    const std::string address = AddressText(display.address);
    const char command = frame[1 + address_length];
    const std::string_view body = frame.substr(2 + address_length);

    // Where the data ends: the checksum, when there is one, is the last two characters.
    std::size_t data_length = body.size();
    bool present = false;
    bool malformed = false;
    switch (display.checksum) {
        case devsim::ChecksumMode::Off:
            break;
        case devsim::ChecksumMode::On:
            present = true;
            if (body.size() < 2) malformed = true;
            else data_length = body.size() - 2;
            break;
        case devsim::ChecksumMode::Auto:
            if (command == '9') {
                const std::size_t field = !body.empty() && (body[0] == '+' || body[0] == '-') ? 7 : 6;
                if (body.size() == field + 2) {
                    present = true;
                    data_length = field;
                } else if (body.size() != field) {
                    malformed = true;
                }
            } else if (body.size() >= 3 && IsHexDigit(body[body.size() - 2]) && IsHexDigit(body.back())) {
                const std::string_view tail = body.substr(body.size() - 2);
                const bool letters = !IsDigit(tail[0]) || !IsDigit(tail[1]);
                const std::string expected = Checksum(frame.substr(0, frame.size() - 2));
                if (letters || tail == expected) {
                    present = true;
                    data_length = body.size() - 2;
                }
            }
            break;
    }
    const std::string_view data = body.substr(0, data_length);
    bool checksum_ok = false;
    if (present && !malformed) {
        const std::string_view sent = body.substr(data_length);
        checksum_ok = sent == Checksum(frame.substr(0, 2 + address_length + data_length));
    }

    double value = 0;
    std::int32_t selection = 0;
    bool accepted = !malformed && (!present || checksum_ok);
    if (accepted) accepted = command == '9' ? ParseDataField(data, &value) : ParseSelection(data, &selection);

    ++display.frames;
    display.last_frame = raw;
    display.last_command = command - '0';
    display.last_checksum_present = present;
    display.last_checksum_ok = checksum_ok;
    display.last_accepted = accepted;
    if (accepted && command == '9') {
        display.has_value = true;
        display.value = value;
        display.shown = std::string(data);
    } else if (accepted) {
        display.has_selection = true;
        display.selection = selection;
    } else {
        ++display.rejected;
    }
    const std::string reply = (accepted ? "!" : "?") + address + "\r";
    serial.received += reply;

    call.Result("addr", address);
    call.Result("cmd", std::string(1, command));
    call.ResultText("field", std::string(data));
    call.Result("checksum", !present ? "none" : checksum_ok ? "ok" : "bad");
    call.Result("accepted", accepted ? 1 : 0);
    if (accepted && command == '9') call.ResultReal("shown", value);
    if (accepted && command == '8') call.Result("selection", selection);
}

auto BySerialHandle(Handle handle) {
    return [handle](Simulator& sim) {
        const auto found = sim.serial_handles.find(handle);
        return found == sim.serial_handles.end() ? -1 : found->second.last_unit;
    };
}

}  // namespace

extern "C" {

// SerialConfig: port, then baud rate (32-bit LE), data bits, parity (0 none,
// 1 odd, 2 even), stop bits, zeros.
std::int32_t devsim_serial_get_config(std::int32_t device_index, vendor::SerialConfig* config) {
    if (record::Wanted()) return record::Record(shapes::COMGetConfig(device_index, config),
                                                [&] { return devsim_serial_get_config(device_index, config); });
    if (replay::Active()) return replay::Serve(shapes::COMGetConfig(device_index, config));
    auto unit_at = [device_index](Simulator& sim) {
        return device_index >= 0 && static_cast<std::size_t>(device_index) < sim.set.list.size()
                   ? sim.set.list[static_cast<std::size_t>(device_index)]
                   : -1;
    };
    return Serve(Fn::COMGetConfig, unit_at, [&](Simulator& sim, Call& call) -> Status {
        call.Arg("index", device_index);
        const int unit = unit_at(sim);
        call.SetUnit(unit);
        if (unit >= 0) call.SetChannel(sim.set.units[static_cast<std::size_t>(unit)].serial_port);
        if (auto injected = call.Injected()) return *injected;
        if (config == nullptr) return DEVSIM_E_INVALID_ARGUMENT;
        if (unit < 0) return DEVSIM_E_LIST_POSITION;
        const Unit& device = sim.set.units[static_cast<std::size_t>(unit)];
        vendor::SerialConfig result;
        std::memset(&result, 0, sizeof result);
        result.port = device.serial_port;
        result.rest[0] = static_cast<std::uint8_t>(device.baud & 0xFF);
        result.rest[1] = static_cast<std::uint8_t>((device.baud >> 8) & 0xFF);
        result.rest[2] = static_cast<std::uint8_t>((device.baud >> 16) & 0xFF);
        result.rest[3] = static_cast<std::uint8_t>(device.baud >> 24);
        result.rest[4] = device.data_bits;
        result.rest[5] = device.parity;
        result.rest[6] = device.stop_bits;
        std::memcpy(static_cast<void*>(config), &result, sizeof result);
        call.Result("port", device.serial_port);
        call.Result("baud", device.baud);
        return 0;
    });
}

// Any port 1..255 opens, as often as asked: modules sharing a line each open it.
std::int32_t devsim_serial_open(std::uint32_t port, std::uint32_t* unused, Handle* handle) {
    if (record::Wanted()) return record::Record(shapes::COMOpen(port, handle),
                                                [&] { return devsim_serial_open(port, unused, handle); });
    if (replay::Active()) return replay::Serve(shapes::COMOpen(port, handle));
    return Serve(Fn::COMOpen, [](Simulator&) { return -1; }, [&](Simulator& sim, Call& call) -> Status {
        call.Arg("port", port);
        call.SetChannel(port);
        if (auto injected = call.Injected()) return *injected;
        if (handle == nullptr) return DEVSIM_E_INVALID_ARGUMENT;
        if (port == 0 || port > 255) return DEVSIM_E_SERIAL_PORT;
        const Handle opened = sim.NewHandle();
        sim.serial_handles[opened].port = port;
        if (unused != nullptr) Store(unused, std::uint32_t{0});
        Store(handle, opened);
        call.Result("handle", opened);
        return 0;
    });
}

std::int32_t devsim_serial_set_config(Handle handle, vendor::SerialConfig* config) {
    if (record::Wanted()) return record::Record(shapes::COMSetConfig(handle, config),
                                                [&] { return devsim_serial_set_config(handle, config); });
    if (replay::Active()) return replay::Serve(shapes::COMSetConfig(handle, config));
    return Serve(Fn::COMSetConfig, BySerialHandle(handle), [&](Simulator& sim, Call& call) -> Status {
        call.Arg("handle", handle);
        const auto found = sim.serial_handles.find(handle);
        if (found != sim.serial_handles.end()) call.SetChannel(found->second.port);
        if (config != nullptr) call.Arg("port", config->port);
        if (auto injected = call.Injected()) return *injected;
        if (found == sim.serial_handles.end()) return DEVSIM_E_INVALID_HANDLE;
        if (config == nullptr) return DEVSIM_E_INVALID_ARGUMENT;
        const std::uint32_t baud = config->rest[0] | (config->rest[1] << 8) | (config->rest[2] << 16) |
                                   (static_cast<std::uint32_t>(config->rest[3]) << 24);
        if (config->port != found->second.port || baud == 0) return DEVSIM_E_SERIAL_CONFIG;
        return 0;
    });
}

std::int32_t devsim_serial_write(Handle handle, const char* data, std::uint32_t length) {
    if (record::Wanted()) return record::Record(shapes::COMWrite(handle, data, length),
                                                [&] { return devsim_serial_write(handle, data, length); });
    if (replay::Active()) return replay::Serve(shapes::COMWrite(handle, data, length));
    auto resolve = [handle, data, length](Simulator& sim) {
        const auto found = sim.serial_handles.find(handle);
        if (found == sim.serial_handles.end() || (data == nullptr && length != 0)) return -1;
        return FirstAddressedDisplay(sim, found->second, data, length);
    };
    return Serve(Fn::COMWrite, resolve, [&](Simulator& sim, Call& call) -> Status {
        call.Arg("handle", handle);
        const auto found = sim.serial_handles.find(handle);
        if (found != sim.serial_handles.end()) {
            call.Arg("port", found->second.port);
            call.SetChannel(found->second.port);
        }
        call.Arg("length", length);
        if (data != nullptr) call.ArgText("data", std::string(data, std::min<std::size_t>(length, kTracedData)));
        call.SetUnit(resolve(sim));
        if (auto injected = call.Injected()) return *injected;
        if (found == sim.serial_handles.end()) return DEVSIM_E_INVALID_HANDLE;
        if (data == nullptr && length != 0) return DEVSIM_E_INVALID_ARGUMENT;
        devsim::SerialHandle& serial = found->second;
        for (std::uint32_t i = 0; i < length; ++i) {
            serial.pending.push_back(data[i]);
            if (data[i] == '\r') {
                ServeFrame(sim, call, serial, serial.pending);
                serial.pending.clear();
            } else if (serial.pending.size() >= kMaxFrame) {
                call.Result("dropped", static_cast<std::int64_t>(serial.pending.size()));
                serial.pending.clear();
            }
        }
        return 0;
    });
}

// Reads what the displays answered: up to `size` bytes, ending after the first
// `terminator` byte (a terminator above 255 means none). Nothing waiting: a time-out
// status at once, and the simulated clock moves on by `timeout` milliseconds. The
// buffer is not NUL-terminated.
std::int32_t devsim_serial_read(Handle handle, char* buffer, std::uint32_t size, std::uint32_t timeout,
                                std::uint32_t terminator, std::uint32_t* received) {
    if (record::Wanted()) {
        return record::Record(shapes::COMRead(handle, buffer, size, timeout, terminator, received),
                              [&] { return devsim_serial_read(handle, buffer, size, timeout, terminator, received); });
    }
    if (replay::Active()) return replay::Serve(shapes::COMRead(handle, buffer, size, timeout, terminator, received));
    return Serve(Fn::COMRead, BySerialHandle(handle), [&](Simulator& sim, Call& call) -> Status {
        call.Arg("handle", handle);
        const auto found = sim.serial_handles.find(handle);
        if (found != sim.serial_handles.end()) {
            call.Arg("port", found->second.port);
            call.SetChannel(found->second.port);
            call.SetUnit(found->second.last_unit);
        }
        call.Arg("size", size);
        call.Arg("timeout", timeout);
        call.Arg("terminator", terminator);
        if (auto injected = call.Injected()) return *injected;
        if (found == sim.serial_handles.end()) return DEVSIM_E_INVALID_HANDLE;
        if (buffer == nullptr || size == 0 || received == nullptr) return DEVSIM_E_INVALID_ARGUMENT;
        std::string& waiting = found->second.received;
        std::size_t count = std::min<std::size_t>(size, waiting.size());
        bool terminated = false;
        if (terminator <= 0xFF) {
            const std::size_t end = waiting.find(static_cast<char>(terminator));
            if (end != std::string::npos && end < count) count = end + 1;
            terminated = end != std::string::npos && end < count;
        }
        std::memcpy(buffer, waiting.data(), count);
        Store(received, static_cast<std::uint32_t>(count));
        call.ResultText("data", waiting.substr(0, count));
        call.Result("received", static_cast<std::int64_t>(count));
        waiting.erase(0, count);
        if (count == 0 || (terminator <= 0xFF && !terminated && count < size)) {
            sim.Advance(static_cast<std::int64_t>(timeout) * 1000);
            return DEVSIM_E_SERIAL_TIMEOUT;
        }
        return 0;
    });
}

// A closed handle's variable becomes 0.
std::int32_t devsim_serial_close(Handle* handle) {
    if (record::Wanted()) return record::Record(shapes::COMClose(handle), [&] { return devsim_serial_close(handle); });
    if (replay::Active()) return replay::Serve(shapes::COMClose(handle));
    Handle value = 0;
    if (handle != nullptr) std::memcpy(&value, handle, sizeof value);
    return Serve(Fn::COMClose, BySerialHandle(value), [&](Simulator& sim, Call& call) -> Status {
        if (handle == nullptr) call.Arg("handle", "null");
        else call.Arg("handle", value);
        const auto found = sim.serial_handles.find(value);
        if (handle != nullptr && found != sim.serial_handles.end()) call.SetChannel(found->second.port);
        if (auto injected = call.Injected()) return *injected;
        if (handle == nullptr) return DEVSIM_E_INVALID_ARGUMENT;
        if (found == sim.serial_handles.end()) return DEVSIM_E_INVALID_HANDLE;
        sim.serial_handles.erase(found);
        Store(handle, Handle{0});
        return 0;
    });
}

}  // extern "C"
