#include "recording/call_shapes.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string_view>
#include <vector>

namespace recording {
namespace {

bool IsIdentity(std::string_view key) {
    return key == "dev" || key == "port" || key == "channel" || key == "counter" || key == "code" || key == "index";
}

// Room for the fields of any call at the first one, rather than growing by one.
template <class T>
std::vector<T>& Room(std::vector<T>& items) {
    if (items.capacity() == 0) items.reserve(6);
    return items;
}

std::int64_t IntegerOf(const Call& call, const char* key, bool outputs) {
    for (const Field& field : outputs ? call.outputs : call.inputs) {
        std::int64_t value = 0;
        if (field.key == key &&
            std::from_chars(field.value.data(), field.value.data() + field.value.size(), value).ec == std::errc()) {
            return value;
        }
    }
    return -1;
}

template <class T>
void Put(void* target, T value) {
    std::memcpy(target, &value, sizeof value);
}

template <class T>
T Get(const void* source) {
    T value;
    std::memcpy(&value, source, sizeof value);
    return value;
}

std::string HexOf(const void* bytes, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        const auto byte = static_cast<const unsigned char*>(bytes)[i];
        out += digits[byte >> 4];
        out += digits[byte & 0xF];
    }
    return out;
}

std::string EntryText(const vendor::DeviceListEntry& entry) {
    const void* end = std::memchr(entry.device_name, '\0', sizeof entry.device_name);
    const std::size_t length =
        end == nullptr ? sizeof entry.device_name : static_cast<std::size_t>(static_cast<const char*>(end) - entry.device_name);
    return std::to_string(entry.device_number) + " " + std::to_string(entry.subdevice_count) + " " +
           std::string(entry.device_name, length);
}

vendor::DeviceListEntry EntryOf(const std::string& text) {
    vendor::DeviceListEntry entry;
    std::memset(&entry, 0, sizeof entry);
    const auto first = text.find(' ');
    const auto second = text.find(' ', first + 1);
    std::from_chars(text.data(), text.data() + first, entry.device_number);
    std::from_chars(text.data() + first + 1, text.data() + second, entry.subdevice_count);
    const std::string name = text.substr(second + 1);
    std::memcpy(entry.device_name, name.data(), std::min(name.size(), sizeof entry.device_name));
    return entry;
}

}  // namespace

std::string RealText(float value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

void HandleBook::Note(const Call& call) {
    if (call.status != 0) return;
    if (call.function == "DRV_DeviceOpen") {
        devices_[static_cast<vendor::Handle>(IntegerOf(call, "handle", true))] = IntegerOf(call, "dev", false);
    } else if (call.function == "COMOpen") {
        ports_[static_cast<vendor::Handle>(IntegerOf(call, "handle", true))] = IntegerOf(call, "port", false);
    }
}

std::int64_t HandleBook::DeviceOf(vendor::Handle handle) const {
    const auto found = devices_.find(handle);
    return found == devices_.end() ? -1 : found->second;
}

std::int64_t HandleBook::PortOf(vendor::Handle handle) const {
    const auto found = ports_.find(handle);
    return found == ports_.end() ? -1 : found->second;
}

void HandleBook::Clear() {
    devices_.clear();
    ports_.clear();
}

Shape& Shape::In(const char* key, std::int64_t value) {
    Room(call.inputs).push_back({key, std::to_string(value)});
    return *this;
}

Shape& Shape::InReal(const char* key, float value) {
    Room(call.inputs).push_back({key, RealText(value)});
    return *this;
}

Shape& Shape::InHex(const char* key, const void* bytes, std::size_t size) {
    Room(call.inputs).push_back({key, bytes == nullptr ? std::string() : HexOf(bytes, size)});
    return *this;
}

Shape& Shape::InText(const char* key, const char* bytes, std::size_t size) {
    Room(call.inputs).push_back({key, bytes == nullptr ? std::string() : std::string(bytes, size)});
    return *this;
}

Shape& Shape::Out(const char* key, Slot slot, void* target, std::size_t size, const void* count) {
    Room(outputs_).push_back({key, slot, target, size, count, -1});
    return *this;
}

Shape& Shape::AtMost(std::int64_t limit) {
    outputs_.back().limit = limit;
    return *this;
}

Shape& Shape::Handle(vendor::Handle handle, Holder holder) {
    handle_ = handle;
    holder_ = holder;
    return In("handle", handle);
}

void Shape::Resolve(const HandleBook& book) {
    if (holder_ == Holder::None) return;
    const bool device = holder_ == Holder::Device;
    const std::int64_t owner = device ? book.DeviceOf(handle_) : book.PortOf(handle_);
    const auto after = std::find_if(call.inputs.begin(), call.inputs.end(), [](const Field& f) { return f.key == "handle"; });
    call.inputs.insert(after == call.inputs.end() ? after : after + 1, Field{device ? "dev" : "port", std::to_string(owner)});
}

std::string CallKey(const Call& call) {
    std::string key;
    CallKeyInto(call, key);
    return key;
}

void CallKeyInto(const Call& call, std::string& key) {
    key.assign(call.function);
    for (const Field& field : call.inputs) {
        if (!IsIdentity(field.key)) continue;
        key += ' ';
        key += field.key;
        key += '=';
        key += field.value;
    }
}

void Shape::Capture(std::int32_t status) {
    call.status = status;
    call.outputs.clear();
    for (const Output& out : outputs_) {
        if (out.target == nullptr) continue;
        switch (out.slot) {
            case Slot::I16: call.outputs.push_back({out.key, std::to_string(Get<std::int16_t>(out.target))}); break;
            case Slot::U16: call.outputs.push_back({out.key, std::to_string(Get<std::uint16_t>(out.target))}); break;
            case Slot::U32: call.outputs.push_back({out.key, std::to_string(Get<std::uint32_t>(out.target))}); break;
            case Slot::F32: call.outputs.push_back({out.key, RealText(Get<float>(out.target))}); break;
            case Slot::Hex: call.outputs.push_back({out.key, HexOf(out.target, out.size)}); break;
            case Slot::Text: {
                const char* text = static_cast<const char*>(out.target);
                const void* end = std::memchr(text, '\0', out.size);
                const std::size_t length = end == nullptr ? out.size : static_cast<std::size_t>(static_cast<const char*>(end) - text);
                call.outputs.push_back({out.key, std::string(text, length)});
                break;
            }
            case Slot::ReadData: {
                if (out.count == nullptr) break;
                const std::size_t length = std::min<std::size_t>(Get<std::uint32_t>(out.count), out.size);
                call.outputs.push_back({out.key, std::string(static_cast<const char*>(out.target), length)});
                break;
            }
            case Slot::Entries: {
                if (out.count == nullptr) break;
                const std::int16_t returned = Get<std::int16_t>(out.count);
                const std::size_t count = returned < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(returned), out.size);
                const auto* list = static_cast<const vendor::DeviceListEntry*>(out.target);
                for (std::size_t i = 0; i < count; ++i) {
                    vendor::DeviceListEntry entry;
                    std::memcpy(&entry, &list[i], sizeof entry);
                    call.outputs.push_back({out.key, EntryText(entry)});
                }
                break;
            }
        }
    }
}

bool Shape::Apply(const Call& recorded, std::string& why) const {
    for (const Output& out : outputs_) {
        if (out.target == nullptr) continue;
        std::vector<const std::string*> values;
        for (const Field& field : recorded.outputs) {
            if (field.key == out.key) values.push_back(&field.value);
        }
        if (values.empty()) continue;
        const std::string& value = *values.front();
        const char* begin = value.data();
        const char* end = begin + value.size();
        std::int64_t number = 0;
        std::from_chars(begin, end, number);
        if (out.limit >= 0 && number > out.limit) {
            why = std::string(out.key) + "=" + value + " is more than the call gave room for (" +
                  std::to_string(out.limit) + ")";
            return false;
        }
        switch (out.slot) {
            case Slot::I16: {
                std::int16_t number = 0;
                std::from_chars(begin, end, number);
                Put(out.target, number);
                break;
            }
            case Slot::U16: {
                std::uint16_t number = 0;
                std::from_chars(begin, end, number);
                Put(out.target, number);
                break;
            }
            case Slot::U32: {
                std::uint32_t number = 0;
                std::from_chars(begin, end, number);
                Put(out.target, number);
                break;
            }
            case Slot::F32: {
                float number = 0;
                std::from_chars(begin, end, number);
                Put(out.target, number);
                break;
            }
            case Slot::Hex: {
                if (value.size() / 2 > out.size) {
                    why = std::string(out.key) + " holds " + std::to_string(value.size() / 2) + " bytes, the call gave room for " +
                          std::to_string(out.size);
                    return false;
                }
                for (std::size_t i = 0; i < value.size() / 2; ++i) {
                    unsigned byte = 0;
                    std::from_chars(begin + 2 * i, begin + 2 * i + 2, byte, 16);
                    static_cast<unsigned char*>(out.target)[i] = static_cast<unsigned char>(byte);
                }
                break;
            }
            case Slot::Text: {
                const std::size_t length = std::min(value.size(), out.size - 1);
                std::memcpy(out.target, value.data(), length);
                static_cast<char*>(out.target)[length] = '\0';
                break;
            }
            case Slot::ReadData:
                if (value.size() > out.size) {
                    why = "data holds " + std::to_string(value.size()) + " bytes, the call read at most " +
                          std::to_string(out.size);
                    return false;
                }
                std::memcpy(out.target, value.data(), value.size());
                break;
            case Slot::Entries: {
                if (values.size() > out.size) {
                    why = std::to_string(values.size()) + " entries recorded, the call's table holds " + std::to_string(out.size);
                    return false;
                }
                auto* list = static_cast<vendor::DeviceListEntry*>(out.target);
                for (std::size_t i = 0; i < values.size(); ++i) {
                    const vendor::DeviceListEntry entry = EntryOf(*values[i]);
                    std::memcpy(&list[i], &entry, sizeof entry);
                }
                break;
            }
        }
    }
    return true;
}

namespace shapes {
namespace {
Shape Named(const char* function) {
    Shape shape;
    shape.call.function = function;
    return shape;
}
using Slot = Shape::Slot;
using Holder = Shape::Holder;
}  // namespace

Shape DeviceGetNumOfList(std::int16_t* count) {
    Shape s = Named("DRV_DeviceGetNumOfList");
    s.Out("devices", Slot::I16, count);
    return s;
}

Shape DeviceGetList(vendor::DeviceListEntry* list, std::int16_t max_entries, std::int16_t* returned) {
    Shape s = Named("DRV_DeviceGetList");
    s.In("max", max_entries).Out("returned", Slot::I16, returned).AtMost(max_entries < 0 ? 0 : max_entries);
    s.Out("entry", Slot::Entries, list, max_entries < 0 ? 0 : static_cast<std::size_t>(max_entries), returned);
    return s;
}

Shape DeviceGetSubList(std::uint32_t device_number, vendor::DeviceListEntry* list, std::int16_t max_entries,
                       std::int16_t* returned) {
    Shape s = Named("DRV_DeviceGetSubList");
    s.In("dev", device_number).In("max", max_entries).Out("returned", Slot::I16, returned);
    s.AtMost(max_entries < 0 ? 0 : max_entries);
    s.Out("entry", Slot::Entries, list, max_entries < 0 ? 0 : static_cast<std::size_t>(max_entries), returned);
    return s;
}

Shape DeviceOpen(std::uint32_t device_number, vendor::Handle* handle) {
    Shape s = Named("DRV_DeviceOpen");
    s.In("dev", device_number).Out("handle", Slot::U32, handle);
    return s;
}

Shape DeviceClose(vendor::Handle* handle) {
    Shape s = Named("DRV_DeviceClose");
    s.Handle(handle == nullptr ? 0 : Get<vendor::Handle>(handle), Holder::Device).Out("handle", Slot::U32, handle);
    return s;
}

Shape DeviceGetFeatures(vendor::Handle handle, vendor::FeaturesRequest* request) {
    Shape s = Named("DRV_DeviceGetFeatures");
    s.Handle(handle, Holder::Device);
    if (request != nullptr) s.In("size", request->size).Out("features", Slot::Hex, request->buffer, request->size);
    return s;
}

Shape GetErrorMessage(vendor::Status code, char* text) {
    Shape s = Named("DRV_GetErrorMessage");
    s.In("code", code).Out("text", Slot::Text, text, vendor::kErrorMessageSize);
    return s;
}

Shape AIVoltageIn(vendor::Handle handle, vendor::AIVoltageInBlock* block) {
    Shape s = Named("DRV_AIVoltageIn");
    s.Handle(handle, Holder::Device);
    if (block != nullptr) {
        s.In("channel", block->channel).In("gain", block->gain).In("trigger", block->trigger);
        s.Out("voltage", Slot::F32, block->voltage);
    }
    return s;
}

Shape AOVoltageOut(vendor::Handle handle, vendor::AOVoltageOutBlock* block) {
    Shape s = Named("DRV_AOVoltageOut");
    s.Handle(handle, Holder::Device);
    if (block != nullptr) s.In("channel", block->channel).InReal("voltage", block->voltage);
    return s;
}

Shape DioReadPortByte(vendor::Handle handle, vendor::DioReadPortByteBlock* block) {
    Shape s = Named("DRV_DioReadPortByte");
    s.Handle(handle, Holder::Device);
    if (block != nullptr) s.In("port", block->port).Out("value", Slot::U16, block->value);
    return s;
}

Shape DioWritePortByte(vendor::Handle handle, vendor::DioWritePortByteBlock* block) {
    Shape s = Named("DRV_DioWritePortByte");
    s.Handle(handle, Holder::Device);
    if (block != nullptr) s.In("port", block->port).In("mask", block->mask).In("state", block->state);
    return s;
}

Shape DioWriteBit(vendor::Handle handle, vendor::DioWriteBitBlock* block) {
    Shape s = Named("DRV_DioWriteBit");
    s.Handle(handle, Holder::Device);
    if (block != nullptr) s.In("port", block->port).In("bit", block->bit).In("state", block->state);
    return s;
}

Shape CounterEventRead(vendor::Handle handle, vendor::CounterEventReadBlock* block) {
    Shape s = Named("DRV_CounterEventRead");
    s.Handle(handle, Holder::Device);
    if (block != nullptr) {
        s.In("counter", block->counter).Out("count", Slot::U32, block->count).Out("overflow", Slot::U16, block->overflow);
    }
    return s;
}

Shape CounterEventStart(vendor::Handle handle, vendor::CounterEventStartBlock* block) {
    Shape s = Named("DRV_CounterEventStart");
    s.Handle(handle, Holder::Device);
    if (block != nullptr) s.In("counter", block->counter).In("gate", block->gate_mode);
    return s;
}

Shape CounterReset(vendor::Handle handle, std::int32_t counter) {
    Shape s = Named("DRV_CounterReset");
    s.Handle(handle, Holder::Device).In("counter", counter);
    return s;
}

Shape CounterFreqRead(vendor::Handle handle, vendor::CounterFreqReadBlock* block) {
    Shape s = Named("DRV_CounterFreqRead");
    s.Handle(handle, Holder::Device);
    if (block != nullptr) s.In("counter", block->counter).Out("frequency", Slot::F32, block->frequency);
    return s;
}

Shape AlarmConfig(vendor::Handle handle, vendor::AlarmConfigBlock* block) {
    Shape s = Named("DRV_AlarmConfig");
    s.Handle(handle, Holder::Device);
    if (block != nullptr) {
        s.In("channel", block->channel).InReal("low_limit", block->low_limit).InReal("high_limit", block->high_limit);
    }
    return s;
}

Shape AlarmEnable(vendor::Handle handle, vendor::AlarmEnableBlock* block) {
    Shape s = Named("DRV_AlarmEnable");
    s.Handle(handle, Holder::Device);
    if (block != nullptr) s.In("channel", block->channel).In("latch", block->latch).In("enabled", block->enabled);
    return s;
}

Shape AlarmReset(vendor::Handle handle, std::int32_t channel) {
    Shape s = Named("DRV_AlarmReset");
    s.Handle(handle, Holder::Device).In("channel", channel);
    return s;
}

Shape AlarmCheck(vendor::Handle handle, vendor::AlarmCheckBlock* block) {
    Shape s = Named("DRV_AlarmCheck");
    s.Handle(handle, Holder::Device);
    if (block != nullptr) {
        s.In("channel", block->channel).Out("low", Slot::U16, block->low_state).Out("high", Slot::U16, block->high_state);
    }
    return s;
}

Shape COMGetConfig(std::int32_t device_index, vendor::SerialConfig* config) {
    Shape s = Named("COMGetConfig");
    s.In("index", device_index).Out("config", Slot::Hex, config, sizeof(vendor::SerialConfig));
    return s;
}

Shape COMOpen(std::uint32_t port, vendor::Handle* handle) {
    Shape s = Named("COMOpen");
    s.In("port", port).Out("handle", Slot::U32, handle);
    return s;
}

Shape COMSetConfig(vendor::Handle handle, vendor::SerialConfig* config) {
    Shape s = Named("COMSetConfig");
    s.Handle(handle, Holder::Serial).InHex("config", config, sizeof(vendor::SerialConfig));
    return s;
}

Shape COMWrite(vendor::Handle handle, const char* data, std::uint32_t length) {
    Shape s = Named("COMWrite");
    s.Handle(handle, Holder::Serial).In("length", length).InText("data", data, length);
    return s;
}

Shape COMRead(vendor::Handle handle, char* buffer, std::uint32_t size, std::uint32_t timeout, std::uint32_t terminator,
              std::uint32_t* received) {
    Shape s = Named("COMRead");
    s.Handle(handle, Holder::Serial).In("size", size).In("timeout", timeout).In("terminator", terminator);
    s.Out("data", Slot::ReadData, buffer, size, received).Out("received", Slot::U32, received).AtMost(size);
    return s;
}

Shape COMClose(vendor::Handle* handle) {
    Shape s = Named("COMClose");
    s.Handle(handle == nullptr ? 0 : Get<vendor::Handle>(handle), Holder::Serial).Out("handle", Slot::U32, handle);
    return s;
}

}  // namespace shapes
}  // namespace recording
