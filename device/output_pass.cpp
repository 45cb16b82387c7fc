// The output pass: writes every queued channel of the current batch to its module;
// digital writes to a cached port are merged and written back once per port.
#include "config/module.h"
#include "device/binding.h"
#include "device/channel_values.h"
#include "device/display_command.h"
#include "device/passes.h"
#include "device/vendor_library.h"
#include "diagnostics/error_report.h"
#include "driver/driver_instance.h"
#include "host/memory.h"

namespace tovi {
namespace {

struct Written {
    bool called = false;  // the channel was Busy: its end is reported
    vendor::Status status = 0;
};

// Takes the value and ends Queued, marking the channel Busy, in one holding.
ValueCell TakeForDevice(DriverInstance& driver, Channel& channel) {
    platform::LockGuard guard(driver.lock);
    channel.flags = (channel.flags & ~static_cast<std::uint32_t>(kWriteQueued)) | kBusy;
    return channel.value;
}

// The present value of parameter channel index of owner; absent: false.
bool ParameterValue(const Channel& owner, std::uint32_t index, double& value) {
    if (owner.links == nullptr || owner.link_count <= index || owner.links[index] == nullptr) return false;
    const Channel& parameter = *owner.links[index];
    if ((parameter.flags & kParameterValuePresent) == 0) return false;
    value = RealOf(parameter.value);
    return true;
}

bool PortCached(const Module& module, const Channel& channel) {
    return module.output_cache != nullptr && static_cast<std::uint32_t>(channel.port) < module.output_port_count;
}

// Writes a port's entry when it holds merged writes and ends every pending write of
// that port; a failure goes to each of them with its own report. The write's status.
vendor::Status WritePort(DriverInstance& driver, Module& module, std::uint32_t port) {
    const PortCacheEntry& entry = module.output_cache[port];
    if ((entry.status & kPortFilled) == 0) return 0;
    vendor::DioWritePortByteBlock block{};
    block.port = static_cast<std::uint16_t>(port);
    block.mask = entry.mask;
    block.state = entry.data;
    const vendor::Status status = Vendor().DioWritePortByte(module.device_handle, &block);
    // The merged channels stayed Busy since their merge: the host learns their
    // outcome only now, with the port's.
    RequestItem* pending = nullptr;
    for (bool more = module.pending_writes.First(&pending); more; more = module.pending_writes.Next(&pending)) {
        Channel& channel = *pending->channel;
        if (static_cast<std::uint32_t>(channel.port) != port) continue;
        {
            platform::LockGuard guard(driver.lock);
            channel.flags &= ~static_cast<std::uint32_t>(kBusy);
            if (status != 0) channel.flags |= kWriteErrorPending;
        }
        if (status != 0) ReportDeviceError(driver, Transfer::Write, channel.number, status);
    }
    return status;
}

// Forgets the pending writes of one port and empties its entry, once the port has
// been written before the write-back.
void DropPort(Module& module, std::uint32_t port) {
    RequestItem* pending = nullptr;
    bool more = module.pending_writes.First(&pending);
    while (more) {
        if (static_cast<std::uint32_t>(pending->channel->port) == port) {
            module.pending_writes.RemoveCurrent();  // ends the walk: start it again
            host::DeleteObject(pending);
            more = module.pending_writes.First(&pending);
        } else {
            more = module.pending_writes.Next(&pending);
        }
    }
    host::MemFill(&module.output_cache[port], static_cast<std::uint32_t>(sizeof(PortCacheEntry)), 0);
}

// Merges a do_bit or do_byte write into the port's cache entry and remembers it
// for the write-back, which reports the outcome. When there is no memory to
// remember it, the port is written at once with everything merged into it so far,
// so that the port's writes keep the host's order; the channel is then Busy during
// that write and its outcome is the write's.
Written Merge(DriverInstance& driver, Channel& channel, Module& module) {
    auto* pending = host::NewObject<RequestItem>(&channel);
    const auto port = static_cast<std::uint32_t>(channel.port);
    PortCacheEntry& entry = module.output_cache[port];
    {
        platform::LockGuard guard(driver.lock);
        if (channel.io_type == kIoDoBit) {
            // Bits beyond the 16-bit mask change nothing; bits 8 to 15 only the mask.
            if (channel.bit >= 0 && channel.bit < 16) {
                entry.mask = static_cast<std::uint16_t>(entry.mask | (1u << channel.bit));
                if (BooleanOf(channel.value) && channel.bit < 8) {
                    entry.data = static_cast<std::uint8_t>(entry.data | (1u << channel.bit));
                }
            }
        } else {
            entry.mask = 0xFFFF;
            entry.data = static_cast<std::uint8_t>(TruncateToInt32(RealOf(channel.value)) & 0xFF);
        }
        // Busy until the port is written: a host that asks before then must not
        // take the merge for a finished write.
        channel.flags = (channel.flags & ~static_cast<std::uint32_t>(kWriteQueued)) | kBusy;
    }
    entry.status |= kPortFilled;
    if (pending != nullptr) {
        module.pending_writes.Append(pending);
        return {false, 0};
    }
    const vendor::Status status = WritePort(driver, module, port);
    DropPort(module, port);
    return {true, status};
}

Written WriteDirect(DriverInstance& driver, Channel& channel, Module& module) {
    Written written{true, 0};
    const VendorFunctions& vendor = Vendor();
    const vendor::Handle handle = module.device_handle;
    switch (channel.io_type) {
        case kIoAo: {
            const ValueCell value = TakeForDevice(driver, channel);
            vendor::AOVoltageOutBlock block{};
            block.channel = static_cast<std::uint16_t>(channel.port);
            block.voltage = static_cast<float>(RealOf(value));
            written.status = vendor.AOVoltageOut(handle, &block);
            break;
        }
        case kIoDoBit: {
            const ValueCell value = TakeForDevice(driver, channel);
            vendor::DioWriteBitBlock block{};
            block.port = static_cast<std::uint16_t>(channel.port);
            block.bit = static_cast<std::uint16_t>(channel.bit);
            block.state = BooleanOf(value) ? 1 : 0;
            written.status = vendor.DioWriteBit(handle, &block);
            break;
        }
        case kIoDoByte: {
            const ValueCell value = TakeForDevice(driver, channel);
            vendor::DioWritePortByteBlock block{};
            block.port = static_cast<std::uint16_t>(channel.port);
            block.mask = 0xFFFF;
            block.state = static_cast<std::uint16_t>(TruncateToInt32(RealOf(value)) & 0xFFFF);
            written.status = vendor.DioWritePortByte(handle, &block);
            break;
        }
        default:
            written.called = false;
            break;
    }
    return written;
}

Written Write(DriverInstance& driver, Channel& channel, Module& module) {
    const VendorFunctions& vendor = Vendor();
    const vendor::Handle handle = module.device_handle;
    Written written{true, 0};
    switch (channel.io_type) {
        case kIoAo:
            return WriteDirect(driver, channel, module);
        case kIoDoBit:
        case kIoDoByte:
            if (PortCached(module, channel)) return Merge(driver, channel, module);
            return WriteDirect(driver, channel, module);
        case kIoCntEventStart: {
            double gate = 0.0;
            bool start = false;
            {
                platform::LockGuard guard(driver.lock);
                channel.flags = (channel.flags & ~static_cast<std::uint32_t>(kWriteQueued)) | kBusy;
                start = BooleanOf(channel.value);
                if (!ParameterValue(channel, 0, gate)) gate = 0.0;
            }
            if (start) {
                vendor::CounterEventStartBlock block{};
                block.counter = static_cast<std::uint16_t>(channel.port);
                block.gate_mode = static_cast<std::uint16_t>(TruncateToInt32(gate) & 0xFFFF);
                written.status = vendor.CounterEventStart(handle, &block);
            } else {
                written.status = vendor.CounterReset(handle, channel.port);
            }
            return written;
        }
        case kIoAlarmConfig: {
            vendor::AlarmConfigBlock block{};
            block.channel = static_cast<std::uint16_t>(channel.port);
            bool configure = false;
            {
                platform::LockGuard guard(driver.lock);
                channel.flags = (channel.flags & ~static_cast<std::uint32_t>(kWriteQueued)) | kBusy;
                configure = BooleanOf(channel.value);
                double limit = 0.0;
                block.low_limit = ParameterValue(channel, 0, limit) ? static_cast<float>(limit) : 0.0f;
                limit = 0.0;
                block.high_limit = ParameterValue(channel, 1, limit) ? static_cast<float>(limit) : 0.0f;
            }
            if (configure) written.status = vendor.AlarmConfig(handle, &block);
            return written;
        }
        case kIoAlarmEnable: {
            const std::int32_t mode = TruncateToInt32(RealOf(TakeForDevice(driver, channel)));
            vendor::AlarmEnableBlock block{};
            block.channel = static_cast<std::uint16_t>(channel.port);
            block.latch = mode == 1 ? 1 : 0;
            block.enabled = (mode == 1 || mode == 2) ? 1 : 0;
            written.status = vendor.AlarmEnable(handle, &block);
            return written;
        }
        case kIoAlarmReset:
            TakeForDevice(driver, channel);
            written.status = vendor.AlarmReset(handle, channel.port);
            return written;
        case kIoDisplaySelect:
        case kIoDisplayData:
            written.status = SendDisplayCommand(driver, channel, module);
            return written;
        default: {
            // Not an output: taken off the queue without a device call.
            platform::LockGuard guard(driver.lock);
            channel.flags &= ~static_cast<std::uint32_t>(kWriteQueued);
            return {false, 0};
        }
    }
}

// One port write per changed port; a failure goes to every channel merged into it.
void PortWriteBack(DriverInstance& driver, Module& module) {
    for (std::uint32_t port = 0; module.output_cache != nullptr && port < module.output_port_count; ++port) {
        WritePort(driver, module, port);
    }
    module.pending_writes.Clear();
    ResetOutputCache(module);
}

}  // namespace

void OutputPass(DriverInstance& driver) {
    RequestQueue& queue = driver.output_queue;
    RequestItem* item = nullptr;
    {
        platform::LockGuard guard(driver.lock);
        item = queue.Head();
    }
    while (item != nullptr && !driver.Stopping()) {
        Channel& channel = *item->channel;
        Written written;
        if (channel.module != nullptr) {
            written = Write(driver, channel, *channel.module);
        } else {
            platform::LockGuard guard(driver.lock);
            channel.flags &= ~static_cast<std::uint32_t>(kWriteQueued);
        }
        if (written.called) {
            {
                platform::LockGuard guard(driver.lock);
                channel.flags &= ~static_cast<std::uint32_t>(kBusy);
                if (written.status != 0) channel.flags |= kWriteErrorPending;
            }
            if (written.status != 0) ReportDeviceError(driver, Transfer::Write, channel.number, written.status);
        }
        platform::LockGuard guard(driver.lock);
        item = queue.Retire(item) ? nullptr : queue.Head();
    }
    Module* module = nullptr;
    for (bool more = driver.modules.First(&module); more; more = driver.modules.Next(&module)) {
        PortWriteBack(driver, *module);
    }
}

}  // namespace tovi
