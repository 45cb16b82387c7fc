#include "device/binding.h"

#include <cstring>

#include "config/module.h"
#include "device/vendor_library.h"
#include "diagnostics/messages.h"
#include "host/memory.h"

namespace tovi {
namespace {

constexpr host::Cap kTokenCapacity = 79;
constexpr host::Cap kNameCapacity = 49;
constexpr host::Cap kAddressCapacity = 31;

// The device manager's lists, local to one binding so that instances started on
// several host threads cannot disturb each other.
struct DeviceLists {
    vendor::DeviceListEntry devices[vendor::kMaxListEntries];
    vendor::DeviceListEntry subdevices[vendor::kMaxListEntries];
};

bool FailWithVendorText(vendor::Status status, host::Cap capacity, char* message) {
    VendorErrorText(status, capacity, message);
    return false;
}

bool FailNotInstalled(const char* token, host::Cap capacity, char* message) {
    host::StrConcat(capacity, message, kTokenCapacity, token, 2, " : ");
    host::StrAppend(capacity, message, messages::kDeviceNotInstalled.capacity(),
                    messages::kDeviceNotInstalled.c_str());
    return false;
}

// Position of the last entry whose name contains token; -1 when none does (an empty
// token matches none).
std::int32_t LastMatch(const vendor::DeviceListEntry* entries, std::int32_t count, const char* token) {
    std::int32_t match = -1;
    for (std::int32_t i = 0; i < count; ++i) {
        if (host::StrFind(kNameCapacity, entries[i].device_name, kTokenCapacity, token) >= 0) match = i;
    }
    return match;
}

// The bus address named in a token such as "dio16 Address=3" or "ADDRESS = 16 dec",
// written in hexadecimal with at least two digits. False when the token names none.
bool AddressFrom(const char* token, char* address) {
    char scratch[kTokenCapacity + 1];
    host::StrCopy(kTokenCapacity, scratch, kTokenCapacity, token);
    host::StrLower(kTokenCapacity, scratch);
    const std::int32_t at = host::StrFind(kTokenCapacity, scratch, 6, "address");
    if (at < 0) return false;
    host::StrDelete(kTokenCapacity, scratch, 0, at);
    host::StrToken(kAddressCapacity, address, kTokenCapacity, scratch, 1, " =", 1);
    const std::int32_t radix = host::StrFind(kTokenCapacity, scratch, 2, "dec") >= 0 ? 10 : 16;
    const std::int32_t value = host::StrToInt(kAddressCapacity, address, radix, nullptr);
    host::IntToStr(value, kAddressCapacity, address, 16, nullptr);
    while (host::StrLength(kAddressCapacity, address) < 2) host::StrPrepend(kAddressCapacity, address, 0, "0");
    return true;
}

std::uint16_t FeatureCount(const Module& module, std::size_t offset) {
    return static_cast<std::uint16_t>(module.features[offset] | (module.features[offset + 1] << 8));
}

bool AllocateCache(PortCacheEntry*& cache, std::uint32_t& count, std::uint32_t channels) {
    if (channels == 0) return true;
    void* block = nullptr;
    host::MemAlloc(&block, ((channels + 7) / 8) * static_cast<std::uint32_t>(sizeof(PortCacheEntry)));
    if (block == nullptr) return false;
    cache = static_cast<PortCacheEntry*>(block);
    count = (channels + 7) / 8;
    host::MemFill(cache, count * static_cast<std::uint32_t>(sizeof(PortCacheEntry)), 0);
    return true;
}

bool ReadFeatures(Module& module, host::Cap capacity, char* message) {
    vendor::FeaturesRequest request{module.features, vendor::kFeaturesSize};
    const vendor::Status status = Vendor().DeviceGetFeatures(module.device_handle, &request);
    if (status != 0) return FailWithVendorText(status, capacity, message);
    return true;
}

}  // namespace

bool BindDevice(Module& module, host::Cap capacity, char* message) {
    if (LoadVendorLibraries(capacity, message) == nullptr) return false;
    const VendorFunctions& vendor = Vendor();

    DeviceLists lists;
    std::memset(&lists, 0, sizeof lists);
    std::int16_t device_count = 0;
    vendor::Status status = vendor.DeviceGetNumOfList(&device_count);
    if (status != 0) return FailWithVendorText(status, capacity, message);
    if (device_count > vendor::kMaxListEntries) device_count = vendor::kMaxListEntries;
    if (device_count < 0) device_count = 0;
    std::int16_t returned = 0;
    status = vendor.DeviceGetList(lists.devices, device_count, &returned);
    if (status != 0) return FailWithVendorText(status, capacity, message);

    module.device_index = LastMatch(lists.devices, device_count, module.device);
    if (module.device_index < 0) return FailNotInstalled(module.device, capacity, message);
    const vendor::DeviceListEntry& device = lists.devices[module.device_index];

    std::uint32_t device_number = device.device_number;
    std::int16_t subdevice_count = device.subdevice_count;
    if (subdevice_count > 0) {
        // The table holds 100 entries; a device that claims more is searched in its first 100.
        if (subdevice_count > vendor::kMaxListEntries) subdevice_count = vendor::kMaxListEntries;
        status = vendor.DeviceGetSubList(device.device_number, lists.subdevices, subdevice_count, &returned);
        if (status != 0) return FailWithVendorText(status, capacity, message);
        module.subdevice_index = LastMatch(lists.subdevices, subdevice_count, module.subdevice);
        if (module.subdevice_index < 0) return FailNotInstalled(module.subdevice, capacity, message);
        device_number = lists.subdevices[module.subdevice_index].device_number;
    }

    // Handles are taken only from successful opens, so that shutdown never closes
    // what a failed open left in the variable.
    vendor::Handle opened = kClosedHandle;
    status = vendor.DeviceOpen(device_number, &opened);
    if (status != 0) return FailWithVendorText(status, capacity, message);
    module.device_handle = opened;

    if (!AddressFrom(module.device, module.address)) AddressFrom(module.subdevice, module.address);

    vendor::SerialConfig serial{};
    status = vendor.COMGetConfig(module.device_index, &serial);
    if (status != 0) return FailWithVendorText(status, capacity, message);
    std::uint32_t unused = 0;
    opened = kClosedHandle;
    status = vendor.COMOpen(serial.port, &unused, &opened);
    if (status != 0) return FailWithVendorText(status, capacity, message);
    module.serial_handle = opened;
    status = vendor.COMSetConfig(module.serial_handle, &serial);
    if (status != 0) return FailWithVendorText(status, capacity, message);

    char scratch[kTokenCapacity + 1];
    if (!ReadFeatures(module, kTokenCapacity, scratch)) return true;  // no caches: ports are read directly
    if (!AllocateCache(module.input_cache, module.input_port_count,
                       FeatureCount(module, vendor::kFeatureDigitalInputs)) ||
        !AllocateCache(module.output_cache, module.output_port_count,
                       FeatureCount(module, vendor::kFeatureDigitalOutputs))) {
        host::StrCopy(capacity, message, messages::kInternalError.capacity(), messages::kInternalError.c_str());
        return false;
    }
    return true;
}

void ResetInputCache(Module& module) {
    if (module.input_cache != nullptr) {
        host::MemFill(module.input_cache, module.input_port_count * static_cast<std::uint32_t>(sizeof(PortCacheEntry)),
                      0);
    }
}

void ResetOutputCache(Module& module) {
    if (module.output_cache != nullptr) {
        host::MemFill(module.output_cache,
                      module.output_port_count * static_cast<std::uint32_t>(sizeof(PortCacheEntry)), 0);
    }
}

void CloseDevice(Module& module) {
    if (module.device_handle != kClosedHandle) {
        Vendor().DeviceClose(&module.device_handle);
        module.device_handle = kClosedHandle;
    }
    if (module.serial_handle != kClosedHandle) {
        Vendor().COMClose(&module.serial_handle);
        module.serial_handle = kClosedHandle;
    }
    if (module.input_cache != nullptr) {
        void* block = module.input_cache;
        host::MemFree(&block);
        module.input_cache = nullptr;
        module.input_port_count = 0;
    }
    if (module.output_cache != nullptr) {
        void* block = module.output_cache;
        host::MemFree(&block);
        module.output_cache = nullptr;
        module.output_port_count = 0;
    }
    module.pending_writes.Clear();
}

}  // namespace tovi
