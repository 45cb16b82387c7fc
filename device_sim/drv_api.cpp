// ADSAPI32's DRV_ functions: the device list, handles, features, error texts and
// the simulated I/O. Every function checks its arguments and answers a status;
// none writes beyond what its block or table holds.
#include <cmath>
#include <cstring>

#include "device_sim/exports.h"
#include "device_sim/call_record.h"
#include "device_sim/replay.h"
#include "device_sim/simulator.h"

using devsim::Call;
using devsim::Fn;
using devsim::Serve;
using devsim::Simulator;
using devsim::Store;
using devsim::Unit;
namespace record = devsim::record;
namespace replay = devsim::replay;
namespace shapes = recording::shapes;

namespace {

int NoUnit(Simulator&) { return -1; }

auto ByHandle(Handle handle) {
    return [handle](Simulator& sim) { return sim.UnitOfHandle(handle); };
}

Unit& UnitAt(Simulator& sim, int index) { return sim.set.units[static_cast<std::size_t>(index)]; }

vendor::DeviceListEntry Entry(const Unit& unit) {
    vendor::DeviceListEntry entry;
    std::memset(&entry, 0, sizeof entry);
    entry.device_number = unit.number;
    std::memcpy(entry.device_name, unit.name.data(), std::min(unit.name.size(), sizeof entry.device_name - 1));
    entry.subdevice_count = static_cast<std::int16_t>(unit.children.size());
    return entry;
}

// Writes `count` entries of `indices` into the caller's table, after the checks
// every list function makes.
Status WriteList(Simulator& sim, Call& call, const std::vector<int>& indices, vendor::DeviceListEntry* list,
                 std::int16_t max_entries, std::int16_t* returned) {
    if (returned == nullptr) return DEVSIM_E_INVALID_ARGUMENT;
    if (max_entries < 0 || static_cast<std::size_t>(max_entries) > indices.size()) return DEVSIM_E_TABLE_SIZE;
    if (max_entries > 0 && list == nullptr) return DEVSIM_E_INVALID_ARGUMENT;
    for (std::int16_t i = 0; i < max_entries; ++i) {
        const vendor::DeviceListEntry entry = Entry(UnitAt(sim, indices[static_cast<std::size_t>(i)]));
        std::memcpy(&list[i], &entry, sizeof entry);
    }
    Store(returned, max_entries);
    call.Result("returned", max_entries);
    return 0;
}

// The 16-bit value an input port shows: the source's integer part, wrapped to 16 bits.
std::uint16_t PortValue(const Unit& unit, std::uint32_t port, double t) {
    const auto found = unit.input_ports.find(port);
    if (found == unit.input_ports.end()) return 0;
    const double value = found->second.Value(t);
    if (!std::isfinite(value)) return 0;
    const double wrapped = std::fmod(std::trunc(value), 65536.0);
    return static_cast<std::uint16_t>(static_cast<std::int32_t>(wrapped < 0 ? wrapped + 65536.0 : wrapped));
}

// The raw count of a counter's source: its value as a non-negative integer.
std::uint64_t RawCount(const devsim::Counter& counter, double t) {
    const double value = counter.source.Value(t);
    if (!(value > 0)) return 0;
    if (value >= 18446744073709551615.0) return UINT64_MAX;
    return static_cast<std::uint64_t>(value);
}

}  // namespace

namespace devsim {

void CounterReading(const Counter& counter, double t, std::uint32_t* count, bool* overflow) {
    const std::uint64_t raw = RawCount(counter, t);
    const std::uint64_t since = raw >= counter.base ? raw - counter.base : raw;
    *count = static_cast<std::uint32_t>(since & 0xFFFFFFFFu);
    *overflow = since > 0xFFFFFFFFu;
}

}  // namespace devsim

extern "C" {

Status TOVI_CALL DRV_DeviceGetNumOfList(std::int16_t* count) {
    if (record::Wanted()) return record::Record(shapes::DeviceGetNumOfList(count),
                                                [&] { return DRV_DeviceGetNumOfList(count); });
    if (replay::Active()) return replay::Serve(shapes::DeviceGetNumOfList(count));
    return Serve(Fn::DeviceGetNumOfList, NoUnit, [&](Simulator& sim, Call& call) -> Status {
        if (auto injected = call.Injected()) return *injected;
        if (count == nullptr) return DEVSIM_E_INVALID_ARGUMENT;
        const auto number = static_cast<std::int16_t>(sim.set.list.size());
        Store(count, number);
        call.Result("count", number);
        return 0;
    });
}

Status TOVI_CALL DRV_DeviceGetList(vendor::DeviceListEntry* list, std::int16_t max_entries, std::int16_t* returned) {
    if (record::Wanted()) return record::Record(shapes::DeviceGetList(list, max_entries, returned),
                                                [&] { return DRV_DeviceGetList(list, max_entries, returned); });
    if (replay::Active()) return replay::Serve(shapes::DeviceGetList(list, max_entries, returned));
    return Serve(Fn::DeviceGetList, NoUnit, [&](Simulator& sim, Call& call) -> Status {
        call.Arg("max", max_entries);
        if (auto injected = call.Injected()) return *injected;
        return WriteList(sim, call, sim.set.list, list, max_entries, returned);
    });
}

Status TOVI_CALL DRV_DeviceGetSubList(std::uint32_t device_number, vendor::DeviceListEntry* list,
                                      std::int16_t max_entries, std::int16_t* returned) {
    if (record::Wanted()) {
        return record::Record(shapes::DeviceGetSubList(device_number, list, max_entries, returned),
                              [&] { return DRV_DeviceGetSubList(device_number, list, max_entries, returned); });
    }
    if (replay::Active()) return replay::Serve(shapes::DeviceGetSubList(device_number, list, max_entries, returned));
    auto resolve = [device_number](Simulator& sim) { return sim.UnitIndex(device_number); };
    return Serve(Fn::DeviceGetSubList, resolve, [&](Simulator& sim, Call& call) -> Status {
        const int unit = sim.UnitIndex(device_number);
        if (unit >= 0) call.SetUnit(unit);
        else call.Arg("dev", device_number);
        call.Arg("max", max_entries);
        if (auto injected = call.Injected()) return *injected;
        if (unit < 0) return DEVSIM_E_DEVICE_NOT_FOUND;
        return WriteList(sim, call, UnitAt(sim, unit).children, list, max_entries, returned);
    });
}

Status TOVI_CALL DRV_DeviceOpen(std::uint32_t device_number, Handle* handle) {
    if (record::Wanted()) return record::Record(shapes::DeviceOpen(device_number, handle),
                                                [&] { return DRV_DeviceOpen(device_number, handle); });
    if (replay::Active()) return replay::Serve(shapes::DeviceOpen(device_number, handle));
    auto resolve = [device_number](Simulator& sim) { return sim.UnitIndex(device_number); };
    return Serve(Fn::DeviceOpen, resolve, [&](Simulator& sim, Call& call) -> Status {
        const int unit = sim.UnitIndex(device_number);
        if (unit >= 0) call.SetUnit(unit);
        else call.Arg("dev", device_number);
        if (auto injected = call.Injected()) return *injected;
        if (handle == nullptr) return DEVSIM_E_INVALID_ARGUMENT;
        if (unit < 0) return DEVSIM_E_DEVICE_NOT_FOUND;
        const Handle opened = sim.NewHandle();
        sim.device_handles[opened] = unit;
        Store(handle, opened);
        call.Result("handle", opened);
        return 0;
    });
}

// A closed handle's variable becomes 0.
Status TOVI_CALL DRV_DeviceClose(Handle* handle) {
    if (record::Wanted()) return record::Record(shapes::DeviceClose(handle), [&] { return DRV_DeviceClose(handle); });
    if (replay::Active()) return replay::Serve(shapes::DeviceClose(handle));
    Handle value = 0;
    if (handle != nullptr) std::memcpy(&value, handle, sizeof value);
    return Serve(Fn::DeviceClose, ByHandle(value), [&](Simulator& sim, Call& call) -> Status {
        if (handle == nullptr) {
            call.Arg("handle", "null");
        } else {
            call.Arg("handle", value);
            call.SetUnit(sim.UnitOfHandle(value));
        }
        if (auto injected = call.Injected()) return *injected;
        if (handle == nullptr) return DEVSIM_E_INVALID_ARGUMENT;
        if (sim.device_handles.erase(value) == 0) return DEVSIM_E_INVALID_HANDLE;
        Store(handle, Handle{0});
        return 0;
    });
}

// The features block is vendor::kFeaturesSize bytes: the digital output count at
// offset 34 and the input count at 36 (unsigned 16-bit little-endian), zeros
// elsewhere. A smaller buffer gets nothing and an error.
Status TOVI_CALL DRV_DeviceGetFeatures(Handle handle, vendor::FeaturesRequest* request) {
    if (record::Wanted()) return record::Record(shapes::DeviceGetFeatures(handle, request),
                                                [&] { return DRV_DeviceGetFeatures(handle, request); });
    if (replay::Active()) return replay::Serve(shapes::DeviceGetFeatures(handle, request));
    return Serve(Fn::DeviceGetFeatures, ByHandle(handle), [&](Simulator& sim, Call& call) -> Status {
        call.Arg("handle", handle);
        const int unit = sim.UnitOfHandle(handle);
        call.SetUnit(unit);
        if (request != nullptr) call.Arg("size", request->size);
        if (auto injected = call.Injected()) return *injected;
        if (unit < 0) return DEVSIM_E_INVALID_HANDLE;
        if (request == nullptr || request->buffer == nullptr) return DEVSIM_E_INVALID_ARGUMENT;
        if (request->size < vendor::kFeaturesSize) return DEVSIM_E_BUFFER_TOO_SMALL;
        const Unit& device = UnitAt(sim, unit);
        std::uint8_t block[vendor::kFeaturesSize] = {};
        block[vendor::kFeatureDigitalOutputs] = static_cast<std::uint8_t>(device.digital_outputs & 0xFF);
        block[vendor::kFeatureDigitalOutputs + 1] = static_cast<std::uint8_t>(device.digital_outputs >> 8);
        block[vendor::kFeatureDigitalInputs] = static_cast<std::uint8_t>(device.digital_inputs & 0xFF);
        block[vendor::kFeatureDigitalInputs + 1] = static_cast<std::uint8_t>(device.digital_inputs >> 8);
        std::memcpy(request->buffer, block, sizeof block);
        call.Result("do", device.digital_outputs);
        call.Result("di", device.digital_inputs);
        return 0;
    });
}

// Writes at most DEVSIM_MAX_ERROR_TEXT characters and a NUL.
Status TOVI_CALL DRV_GetErrorMessage(Status code, char* text) {
    if (record::Wanted()) return record::Record(shapes::GetErrorMessage(code, text),
                                                [&] { return DRV_GetErrorMessage(code, text); });
    if (replay::Active()) return replay::Serve(shapes::GetErrorMessage(code, text));
    return Serve(Fn::GetErrorMessage, NoUnit, [&](Simulator& sim, Call& call) -> Status {
        call.Arg("code", code);
        if (auto injected = call.Injected()) return *injected;
        if (text == nullptr) return DEVSIM_E_INVALID_ARGUMENT;
        const std::string message = sim.ErrorText(code);
        const std::size_t length = std::min<std::size_t>(message.size(), DEVSIM_MAX_ERROR_TEXT);
        std::memcpy(text, message.data(), length);
        text[length] = '\0';
        call.ResultText("text", message.substr(0, length));
        return 0;
    });
}

Status TOVI_CALL DRV_AIVoltageIn(Handle handle, vendor::AIVoltageInBlock* block) {
    if (record::Wanted()) return record::Record(shapes::AIVoltageIn(handle, block),
                                                [&] { return DRV_AIVoltageIn(handle, block); });
    if (replay::Active()) return replay::Serve(shapes::AIVoltageIn(handle, block));
    return Serve(Fn::AIVoltageIn, ByHandle(handle), [&](Simulator& sim, Call& call) -> Status {
        call.Arg("handle", handle);
        const int unit = sim.UnitOfHandle(handle);
        call.SetUnit(unit);
        if (block != nullptr) {
            call.Arg("ch", block->channel);
            call.Arg("gain", block->gain);
            call.Arg("trigger", block->trigger);
            call.SetChannel(block->channel);
        }
        if (auto injected = call.Injected()) return *injected;
        if (unit < 0) return DEVSIM_E_INVALID_HANDLE;
        if (block == nullptr || block->voltage == nullptr) return DEVSIM_E_INVALID_ARGUMENT;
        const Unit& device = UnitAt(sim, unit);
        const auto input = device.analog_inputs.find(block->channel);
        if (input == device.analog_inputs.end()) return DEVSIM_E_CHANNEL;
        if (!device.gains.empty() && device.gains.count(block->gain) == 0) return DEVSIM_E_GAIN;
        const auto voltage = static_cast<float>(input->second.Value(sim.NowSeconds()));
        Store(block->voltage, voltage);
        call.ResultFloat("voltage", voltage);
        return 0;
    });
}

Status TOVI_CALL DRV_AOVoltageOut(Handle handle, vendor::AOVoltageOutBlock* block) {
    if (record::Wanted()) return record::Record(shapes::AOVoltageOut(handle, block),
                                                [&] { return DRV_AOVoltageOut(handle, block); });
    if (replay::Active()) return replay::Serve(shapes::AOVoltageOut(handle, block));
    return Serve(Fn::AOVoltageOut, ByHandle(handle), [&](Simulator& sim, Call& call) -> Status {
        call.Arg("handle", handle);
        const int unit = sim.UnitOfHandle(handle);
        call.SetUnit(unit);
        if (block != nullptr) {
            call.Arg("ch", block->channel);
            call.ArgFloat("voltage", block->voltage);
            call.SetChannel(block->channel);
        }
        if (auto injected = call.Injected()) return *injected;
        if (unit < 0) return DEVSIM_E_INVALID_HANDLE;
        if (block == nullptr) return DEVSIM_E_INVALID_ARGUMENT;
        Unit& device = UnitAt(sim, unit);
        const auto output = device.analog_outputs.find(block->channel);
        if (output == device.analog_outputs.end()) return DEVSIM_E_CHANNEL;
        const float voltage = block->voltage;
        if (!std::isfinite(voltage)) return DEVSIM_E_VALUE;
        if (output->second.limited && !(voltage >= output->second.min && voltage <= output->second.max))
            return DEVSIM_E_VALUE;
        output->second.value = voltage;
        ++output->second.writes;
        return 0;
    });
}

// The 16-bit result is stored bytewise: the target may be unaligned.
Status TOVI_CALL DRV_DioReadPortByte(Handle handle, vendor::DioReadPortByteBlock* block) {
    if (record::Wanted()) return record::Record(shapes::DioReadPortByte(handle, block),
                                                [&] { return DRV_DioReadPortByte(handle, block); });
    if (replay::Active()) return replay::Serve(shapes::DioReadPortByte(handle, block));
    return Serve(Fn::DioReadPortByte, ByHandle(handle), [&](Simulator& sim, Call& call) -> Status {
        call.Arg("handle", handle);
        const int unit = sim.UnitOfHandle(handle);
        call.SetUnit(unit);
        if (block != nullptr) {
            call.Arg("port", block->port);
            call.SetChannel(block->port);
        }
        if (auto injected = call.Injected()) return *injected;
        if (unit < 0) return DEVSIM_E_INVALID_HANDLE;
        if (block == nullptr || block->value == nullptr) return DEVSIM_E_INVALID_ARGUMENT;
        const Unit& device = UnitAt(sim, unit);
        if (!device.HasInputPort(block->port)) return DEVSIM_E_PORT;
        const std::uint16_t value = PortValue(device, block->port, sim.NowSeconds());
        const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>(value >> 8)};
        std::memcpy(static_cast<void*>(block->value), bytes, sizeof bytes);
        call.ResultHex("value", value, 2);
        return 0;
    });
}

// Ports are 8 lines wide: the low byte of mask selects the lines set from state.
Status TOVI_CALL DRV_DioWritePortByte(Handle handle, vendor::DioWritePortByteBlock* block) {
    if (record::Wanted()) return record::Record(shapes::DioWritePortByte(handle, block),
                                                [&] { return DRV_DioWritePortByte(handle, block); });
    if (replay::Active()) return replay::Serve(shapes::DioWritePortByte(handle, block));
    return Serve(Fn::DioWritePortByte, ByHandle(handle), [&](Simulator& sim, Call& call) -> Status {
        call.Arg("handle", handle);
        const int unit = sim.UnitOfHandle(handle);
        call.SetUnit(unit);
        if (block != nullptr) {
            call.Arg("port", block->port);
            call.ArgHex("mask", block->mask, 4);
            call.ArgHex("state", block->state, 4);
            call.SetChannel(block->port);
        }
        if (auto injected = call.Injected()) return *injected;
        if (unit < 0) return DEVSIM_E_INVALID_HANDLE;
        if (block == nullptr) return DEVSIM_E_INVALID_ARGUMENT;
        Unit& device = UnitAt(sim, unit);
        if (!device.HasOutputPort(block->port)) return DEVSIM_E_PORT;
        devsim::OutputPort& port = device.output_ports[block->port];
        const auto mask = static_cast<std::uint8_t>(block->mask & 0xFF);
        port.value = static_cast<std::uint8_t>((port.value & ~mask) | (block->state & mask));
        port.last_mask = block->mask;
        port.last_state = block->state;
        ++port.writes;
        call.ResultHex("out", port.value, 2);
        return 0;
    });
}

Status TOVI_CALL DRV_DioWriteBit(Handle handle, vendor::DioWriteBitBlock* block) {
    if (record::Wanted()) return record::Record(shapes::DioWriteBit(handle, block),
                                                [&] { return DRV_DioWriteBit(handle, block); });
    if (replay::Active()) return replay::Serve(shapes::DioWriteBit(handle, block));
    return Serve(Fn::DioWriteBit, ByHandle(handle), [&](Simulator& sim, Call& call) -> Status {
        call.Arg("handle", handle);
        const int unit = sim.UnitOfHandle(handle);
        call.SetUnit(unit);
        if (block != nullptr) {
            call.Arg("port", block->port);
            call.Arg("bit", block->bit);
            call.Arg("state", block->state);
            call.SetChannel(block->port);
        }
        if (auto injected = call.Injected()) return *injected;
        if (unit < 0) return DEVSIM_E_INVALID_HANDLE;
        if (block == nullptr) return DEVSIM_E_INVALID_ARGUMENT;
        Unit& device = UnitAt(sim, unit);
        if (!device.HasOutputPort(block->port)) return DEVSIM_E_PORT;
        if (block->bit > 7) return DEVSIM_E_BIT;
        devsim::OutputPort& port = device.output_ports[block->port];
        const auto line = static_cast<std::uint8_t>(1u << block->bit);
        port.value = static_cast<std::uint8_t>(block->state != 0 ? (port.value | line) : (port.value & ~line));
        port.last_mask = line;
        port.last_state = block->state != 0 ? line : 0;
        ++port.writes;
        call.ResultHex("out", port.value, 2);
        return 0;
    });
}

Status TOVI_CALL DRV_CounterEventRead(Handle handle, vendor::CounterEventReadBlock* block) {
    if (record::Wanted()) return record::Record(shapes::CounterEventRead(handle, block),
                                                [&] { return DRV_CounterEventRead(handle, block); });
    if (replay::Active()) return replay::Serve(shapes::CounterEventRead(handle, block));
    return Serve(Fn::CounterEventRead, ByHandle(handle), [&](Simulator& sim, Call& call) -> Status {
        call.Arg("handle", handle);
        const int unit = sim.UnitOfHandle(handle);
        call.SetUnit(unit);
        if (block != nullptr) {
            call.Arg("counter", block->counter);
            call.SetChannel(block->counter);
        }
        if (auto injected = call.Injected()) return *injected;
        if (unit < 0) return DEVSIM_E_INVALID_HANDLE;
        if (block == nullptr || block->overflow == nullptr || block->count == nullptr) return DEVSIM_E_INVALID_ARGUMENT;
        const Unit& device = UnitAt(sim, unit);
        const auto counter = device.counters.find(block->counter);
        if (counter == device.counters.end()) return DEVSIM_E_COUNTER;
        std::uint32_t count = 0;
        bool overflow = false;
        devsim::CounterReading(counter->second, sim.NowSeconds(), &count, &overflow);
        Store(block->count, count);
        Store(block->overflow, static_cast<std::uint16_t>(overflow ? 1 : 0));
        call.Result("count", count);
        call.Result("overflow", overflow ? 1 : 0);
        return 0;
    });
}

Status TOVI_CALL DRV_CounterEventStart(Handle handle, vendor::CounterEventStartBlock* block) {
    if (record::Wanted()) return record::Record(shapes::CounterEventStart(handle, block),
                                                [&] { return DRV_CounterEventStart(handle, block); });
    if (replay::Active()) return replay::Serve(shapes::CounterEventStart(handle, block));
    return Serve(Fn::CounterEventStart, ByHandle(handle), [&](Simulator& sim, Call& call) -> Status {
        call.Arg("handle", handle);
        const int unit = sim.UnitOfHandle(handle);
        call.SetUnit(unit);
        if (block != nullptr) {
            call.Arg("counter", block->counter);
            call.Arg("gate", block->gate_mode);
            call.SetChannel(block->counter);
        }
        if (auto injected = call.Injected()) return *injected;
        if (unit < 0) return DEVSIM_E_INVALID_HANDLE;
        if (block == nullptr) return DEVSIM_E_INVALID_ARGUMENT;
        Unit& device = UnitAt(sim, unit);
        const auto counter = device.counters.find(block->counter);
        if (counter == device.counters.end()) return DEVSIM_E_COUNTER;
        counter->second.started = true;
        counter->second.gate_mode = block->gate_mode;
        ++counter->second.starts;
        return 0;
    });
}

// Stops the counter and starts its count from 0.
Status TOVI_CALL DRV_CounterReset(Handle handle, std::int32_t counter_number) {
    if (record::Wanted()) return record::Record(shapes::CounterReset(handle, counter_number),
                                                [&] { return DRV_CounterReset(handle, counter_number); });
    if (replay::Active()) return replay::Serve(shapes::CounterReset(handle, counter_number));
    return Serve(Fn::CounterReset, ByHandle(handle), [&](Simulator& sim, Call& call) -> Status {
        call.Arg("handle", handle);
        const int unit = sim.UnitOfHandle(handle);
        call.SetUnit(unit);
        call.Arg("counter", counter_number);
        call.SetChannel(counter_number);
        if (auto injected = call.Injected()) return *injected;
        if (unit < 0) return DEVSIM_E_INVALID_HANDLE;
        Unit& device = UnitAt(sim, unit);
        if (counter_number < 0) return DEVSIM_E_COUNTER;
        const auto counter = device.counters.find(static_cast<std::uint32_t>(counter_number));
        if (counter == device.counters.end()) return DEVSIM_E_COUNTER;
        counter->second.started = false;
        counter->second.base = RawCount(counter->second, sim.NowSeconds());
        ++counter->second.resets;
        return 0;
    });
}

Status TOVI_CALL DRV_CounterFreqRead(Handle handle, vendor::CounterFreqReadBlock* block) {
    if (record::Wanted()) return record::Record(shapes::CounterFreqRead(handle, block),
                                                [&] { return DRV_CounterFreqRead(handle, block); });
    if (replay::Active()) return replay::Serve(shapes::CounterFreqRead(handle, block));
    return Serve(Fn::CounterFreqRead, ByHandle(handle), [&](Simulator& sim, Call& call) -> Status {
        call.Arg("handle", handle);
        const int unit = sim.UnitOfHandle(handle);
        call.SetUnit(unit);
        if (block != nullptr) {
            call.Arg("counter", block->counter);
            call.SetChannel(block->counter);
        }
        if (auto injected = call.Injected()) return *injected;
        if (unit < 0) return DEVSIM_E_INVALID_HANDLE;
        if (block == nullptr || block->frequency == nullptr) return DEVSIM_E_INVALID_ARGUMENT;
        const Unit& device = UnitAt(sim, unit);
        const auto frequency = device.frequencies.find(block->counter);
        if (frequency == device.frequencies.end()) return DEVSIM_E_COUNTER;
        const auto value = static_cast<float>(frequency->second.Value(sim.NowSeconds()));
        Store(block->frequency, value);
        call.ResultFloat("frequency", value);
        return 0;
    });
}

Status TOVI_CALL DRV_AlarmConfig(Handle handle, vendor::AlarmConfigBlock* block) {
    if (record::Wanted()) return record::Record(shapes::AlarmConfig(handle, block),
                                                [&] { return DRV_AlarmConfig(handle, block); });
    if (replay::Active()) return replay::Serve(shapes::AlarmConfig(handle, block));
    return Serve(Fn::AlarmConfig, ByHandle(handle), [&](Simulator& sim, Call& call) -> Status {
        call.Arg("handle", handle);
        const int unit = sim.UnitOfHandle(handle);
        call.SetUnit(unit);
        if (block != nullptr) {
            call.Arg("ch", block->channel);
            call.ArgFloat("low", block->low_limit);
            call.ArgFloat("high", block->high_limit);
            call.SetChannel(block->channel);
        }
        if (auto injected = call.Injected()) return *injected;
        if (unit < 0) return DEVSIM_E_INVALID_HANDLE;
        if (block == nullptr) return DEVSIM_E_INVALID_ARGUMENT;
        Unit& device = UnitAt(sim, unit);
        const auto alarm = device.alarms.find(block->channel);
        if (alarm == device.alarms.end()) return DEVSIM_E_ALARM;
        if (!std::isfinite(block->low_limit) || !std::isfinite(block->high_limit)) return DEVSIM_E_VALUE;
        alarm->second.configured = true;
        alarm->second.low = block->low_limit;
        alarm->second.high = block->high_limit;
        ++alarm->second.configs;
        return 0;
    });
}

Status TOVI_CALL DRV_AlarmEnable(Handle handle, vendor::AlarmEnableBlock* block) {
    if (record::Wanted()) return record::Record(shapes::AlarmEnable(handle, block),
                                                [&] { return DRV_AlarmEnable(handle, block); });
    if (replay::Active()) return replay::Serve(shapes::AlarmEnable(handle, block));
    return Serve(Fn::AlarmEnable, ByHandle(handle), [&](Simulator& sim, Call& call) -> Status {
        call.Arg("handle", handle);
        const int unit = sim.UnitOfHandle(handle);
        call.SetUnit(unit);
        if (block != nullptr) {
            call.Arg("ch", block->channel);
            call.Arg("latch", block->latch);
            call.Arg("enabled", block->enabled);
            call.SetChannel(block->channel);
        }
        if (auto injected = call.Injected()) return *injected;
        if (unit < 0) return DEVSIM_E_INVALID_HANDLE;
        if (block == nullptr) return DEVSIM_E_INVALID_ARGUMENT;
        Unit& device = UnitAt(sim, unit);
        const auto alarm = device.alarms.find(block->channel);
        if (alarm == device.alarms.end()) return DEVSIM_E_ALARM;
        alarm->second.enabled = block->enabled != 0;
        alarm->second.latch = block->latch;
        ++alarm->second.enables;
        return 0;
    });
}

// Clears the latched alarm states.
Status TOVI_CALL DRV_AlarmReset(Handle handle, std::int32_t channel) {
    if (record::Wanted()) return record::Record(shapes::AlarmReset(handle, channel),
                                                [&] { return DRV_AlarmReset(handle, channel); });
    if (replay::Active()) return replay::Serve(shapes::AlarmReset(handle, channel));
    return Serve(Fn::AlarmReset, ByHandle(handle), [&](Simulator& sim, Call& call) -> Status {
        call.Arg("handle", handle);
        const int unit = sim.UnitOfHandle(handle);
        call.SetUnit(unit);
        call.Arg("ch", channel);
        call.SetChannel(channel);
        if (auto injected = call.Injected()) return *injected;
        if (unit < 0) return DEVSIM_E_INVALID_HANDLE;
        Unit& device = UnitAt(sim, unit);
        if (channel < 0) return DEVSIM_E_ALARM;
        const auto alarm = device.alarms.find(static_cast<std::uint32_t>(channel));
        if (alarm == device.alarms.end()) return DEVSIM_E_ALARM;
        alarm->second.low_latched = alarm->second.high_latched = false;
        ++alarm->second.resets;
        return 0;
    });
}

// An enabled alarm compares its value with the limits at each check: low when
// below the low limit, high when above the high limit; in latch mode a state once
// seen stays until DRV_AlarmReset. A disabled alarm reports 0 and 0.
Status TOVI_CALL DRV_AlarmCheck(Handle handle, vendor::AlarmCheckBlock* block) {
    if (record::Wanted()) return record::Record(shapes::AlarmCheck(handle, block),
                                                [&] { return DRV_AlarmCheck(handle, block); });
    if (replay::Active()) return replay::Serve(shapes::AlarmCheck(handle, block));
    return Serve(Fn::AlarmCheck, ByHandle(handle), [&](Simulator& sim, Call& call) -> Status {
        call.Arg("handle", handle);
        const int unit = sim.UnitOfHandle(handle);
        call.SetUnit(unit);
        if (block != nullptr) {
            call.Arg("ch", block->channel);
            call.SetChannel(block->channel);
        }
        if (auto injected = call.Injected()) return *injected;
        if (unit < 0) return DEVSIM_E_INVALID_HANDLE;
        if (block == nullptr || block->low_state == nullptr || block->high_state == nullptr)
            return DEVSIM_E_INVALID_ARGUMENT;
        Unit& device = UnitAt(sim, unit);
        const auto found = device.alarms.find(block->channel);
        if (found == device.alarms.end()) return DEVSIM_E_ALARM;
        devsim::Alarm& alarm = found->second;
        const double value = alarm.source.Value(sim.NowSeconds());
        bool low = false, high = false;
        if (alarm.enabled) {
            low = value < alarm.low;
            high = value > alarm.high;
            if (alarm.latch != 0) {
                alarm.low_latched = alarm.low_latched || low;
                alarm.high_latched = alarm.high_latched || high;
                low = alarm.low_latched;
                high = alarm.high_latched;
            }
        }
        Store(block->low_state, static_cast<std::uint16_t>(low ? 1 : 0));
        Store(block->high_state, static_cast<std::uint16_t>(high ? 1 : 0));
        call.Result("low", low ? 1 : 0);
        call.Result("high", high ? 1 : 0);
        call.ResultReal("value", value);
        return 0;
    });
}

}  // extern "C"
