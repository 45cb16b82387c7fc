// The input pass: reads every queued channel of the current batch from its module.
#include "config/module.h"
#include "device/binding.h"
#include "device/channel_values.h"
#include "device/passes.h"
#include "device/vendor_library.h"
#include "diagnostics/error_report.h"
#include "driver/driver_instance.h"

namespace tovi {
namespace {

// What a device read produced, stored under the lock when the channel is finished.
struct Reading {
    vendor::Status status = 0;
    bool called = false;  // a device call was made (Busy was set)
    enum { Nothing, Real, Boolean } kind = Nothing;
    double real = 0.0;
    bool boolean = false;
    bool has_overflow = false;  // a counter's overflow flag goes to its parameter channel
    bool overflow = false;
};

void MarkBusy(DriverInstance& driver, Channel& channel) {
    platform::LockGuard guard(driver.lock);
    channel.flags |= kBusy;
}

std::uint16_t GainCode(DriverInstance& driver, Channel& channel) {
    platform::LockGuard guard(driver.lock);
    channel.flags |= kBusy;
    if (channel.links == nullptr || channel.link_count < 1 || channel.links[0] == nullptr) return 0;
    const Channel& gain = *channel.links[0];
    if ((gain.flags & kParameterValuePresent) == 0) return 0;
    return static_cast<std::uint16_t>(TruncateToInt32(RealOf(gain.value)) & 0xFFFF);
}

// The port's value and its width in bits: from the pass's cache entry when the port
// is cached (one device read per port per pass), else read directly.
vendor::Status ReadPort(DriverInstance& driver, Channel& channel, Module& module, Reading& reading,
                        std::uint32_t& value, std::int32_t& width) {
    const auto port = static_cast<std::uint32_t>(channel.port);
    vendor::DioReadPortByteBlock block{};
    block.port = static_cast<std::uint16_t>(channel.port);
    if (module.input_cache != nullptr && port < module.input_port_count) {
        PortCacheEntry& entry = module.input_cache[port];
        width = 8;
        if ((entry.status & kPortFilled) != 0) {
            value = entry.data;
            return 0;
        }
        MarkBusy(driver, channel);
        reading.called = true;
        // The 16-bit result lands at the start of the packed entry: data and the low
        // byte of the unused mask.
        block.value = reinterpret_cast<std::uint16_t*>(&entry.data);
        const vendor::Status status = Vendor().DioReadPortByte(module.device_handle, &block);
        if (status == 0) {
            entry.status |= kPortFilled;
            value = entry.data;
        }
        return status;
    }
    std::uint16_t direct = 0;
    width = 16;
    MarkBusy(driver, channel);
    reading.called = true;
    block.value = &direct;
    const vendor::Status status = Vendor().DioReadPortByte(module.device_handle, &block);
    value = direct;
    return status;
}

Reading Read(DriverInstance& driver, Channel& channel, Module& module) {
    Reading reading;
    const vendor::Handle handle = module.device_handle;
    switch (channel.io_type) {
        case kIoAi:
        case kIoCjc: {
            float voltage = 0.0f;
            vendor::AIVoltageInBlock block{};
            block.channel = static_cast<std::uint16_t>(channel.port);
            block.gain = GainCode(driver, channel);
            block.trigger = 0;
            block.voltage = &voltage;
            reading.called = true;
            reading.status = Vendor().AIVoltageIn(handle, &block);
            reading.kind = Reading::Real;
            reading.real = voltage;
            break;
        }
        case kIoDiBit:
        case kIoDiByte: {
            std::uint32_t value = 0;
            std::int32_t width = 8;
            reading.status = ReadPort(driver, channel, module, reading, value, width);
            if (channel.io_type == kIoDiBit) {
                reading.kind = Reading::Boolean;
                reading.boolean = BitOf(value, channel.bit, width);
            } else {
                reading.kind = Reading::Real;
                reading.real = value;
            }
            break;
        }
        case kIoCntEventRead: {
            std::uint16_t overflow = 0;
            std::uint32_t count = 0;
            vendor::CounterEventReadBlock block{};
            block.counter = static_cast<std::uint16_t>(channel.port);
            block.overflow = &overflow;
            block.count = &count;
            MarkBusy(driver, channel);
            reading.called = true;
            reading.status = Vendor().CounterEventRead(handle, &block);
            reading.kind = Reading::Real;
            reading.real = count;
            reading.has_overflow = true;
            reading.overflow = overflow != 0;
            break;
        }
        case kIoCntFreqRead: {
            float frequency = 0.0f;
            vendor::CounterFreqReadBlock block{};
            block.counter = static_cast<std::uint16_t>(channel.port);
            block.frequency = &frequency;
            MarkBusy(driver, channel);
            reading.called = true;
            reading.status = Vendor().CounterFreqRead(handle, &block);
            reading.kind = Reading::Real;
            reading.real = frequency;
            break;
        }
        case kIoAlarmCheckLo:
        case kIoAlarmCheckHi: {
            std::uint16_t low = 0;
            std::uint16_t high = 0;
            vendor::AlarmCheckBlock block{};
            block.channel = static_cast<std::uint16_t>(channel.port);
            block.low_state = &low;
            block.high_state = &high;
            MarkBusy(driver, channel);
            reading.called = true;
            reading.status = Vendor().AlarmCheck(handle, &block);
            reading.kind = Reading::Boolean;
            reading.boolean = (channel.io_type == kIoAlarmCheckLo ? low : high) != 0;
            break;
        }
        default:
            break;  // not an input: taken off the queue without a device call
    }
    return reading;
}

// Stores the value or marks the failure, and ends the request, in one holding.
void Finish(DriverInstance& driver, Channel& channel, const Reading& reading) {
    platform::LockGuard guard(driver.lock);
    if (reading.status != 0) {
        channel.flags |= kErrorPending;
    } else if (reading.kind == Reading::Real) {
        StoreReal(channel.value, reading.real);
    } else if (reading.kind == Reading::Boolean) {
        StoreBoolean(channel.value, reading.boolean);
    }
    if (reading.status == 0 && reading.has_overflow && channel.links != nullptr && channel.link_count >= 1 &&
        channel.links[0] != nullptr) {
        StoreBoolean(channel.links[0]->value, reading.overflow);
    }
    channel.flags &= ~static_cast<std::uint32_t>(kBusy | kQueued);
}

}  // namespace

void InputPass(DriverInstance& driver) {
    RequestQueue& queue = driver.input_queue;
    RequestItem* item = nullptr;
    {
        platform::LockGuard guard(driver.lock);
        item = queue.Head();
    }
    while (item != nullptr && !driver.Stopping()) {
        Channel& channel = *item->channel;
        Reading reading;
        if (channel.module != nullptr) reading = Read(driver, channel, *channel.module);
        Finish(driver, channel, reading);
        if (reading.status != 0) ReportDeviceError(driver, Transfer::Read, channel.number, reading.status);
        platform::LockGuard guard(driver.lock);
        item = queue.Retire(item) ? nullptr : queue.Head();
    }
    Module* module = nullptr;
    for (bool more = driver.modules.First(&module); more; more = driver.modules.Next(&module)) {
        ResetInputCache(*module);
    }
}

}  // namespace tovi
