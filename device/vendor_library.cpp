#include "device/vendor_library.h"

#include <cstring>
#include <mutex>

#include "config/parameter_file.h"
#include "diagnostics/messages.h"
#include "driver/driver_instance.h"
#include "platform/platform.h"

namespace tovi {
namespace {

std::mutex load_mutex;
VendorFunctions functions;
bool loaded = false;

void ReportMissing(host::Cap capacity, char* message, const char* file, const char* function) {
    host::StrCopy(capacity, message, messages::kCannotLoadLibrary.capacity(), messages::kCannotLoadLibrary.c_str());
    host::StrAppend(capacity, message, 1, " (");
    host::StrAppend(capacity, message, 259, file);
    if (function != nullptr) {
        host::StrAppend(capacity, message, 1, ": ");
        host::StrAppend(capacity, message, 79, function);
    }
    host::StrAppend(capacity, message, 0, ")");
}

template <class Fn>
bool Resolve(platform::LibraryHandle library, const char* file, const char* name, Fn& target, host::Cap capacity,
             char* message) {
    target = reinterpret_cast<Fn>(platform::LibrarySymbol(library, name));
    if (target == nullptr) ReportMissing(capacity, message, file, name);
    return target != nullptr;
}

bool ResolveAll(platform::LibraryHandle device, platform::LibraryHandle serial, VendorFunctions& f, host::Cap cap,
                char* message) {
    const char* d = vendor::kDeviceLibraryName;
    const char* s = vendor::kSerialLibraryName;
    return Resolve(device, d, "DRV_DeviceGetNumOfList", f.DeviceGetNumOfList, cap, message) &&
           Resolve(device, d, "DRV_DeviceGetList", f.DeviceGetList, cap, message) &&
           Resolve(device, d, "DRV_DeviceGetSubList", f.DeviceGetSubList, cap, message) &&
           Resolve(device, d, "DRV_DeviceOpen", f.DeviceOpen, cap, message) &&
           Resolve(device, d, "DRV_DeviceClose", f.DeviceClose, cap, message) &&
           Resolve(device, d, "DRV_DeviceGetFeatures", f.DeviceGetFeatures, cap, message) &&
           Resolve(device, d, "DRV_GetErrorMessage", f.GetErrorMessage, cap, message) &&
           Resolve(device, d, "DRV_AIVoltageIn", f.AIVoltageIn, cap, message) &&
           Resolve(device, d, "DRV_AOVoltageOut", f.AOVoltageOut, cap, message) &&
           Resolve(device, d, "DRV_DioReadPortByte", f.DioReadPortByte, cap, message) &&
           Resolve(device, d, "DRV_DioWritePortByte", f.DioWritePortByte, cap, message) &&
           Resolve(device, d, "DRV_DioWriteBit", f.DioWriteBit, cap, message) &&
           Resolve(device, d, "DRV_CounterEventRead", f.CounterEventRead, cap, message) &&
           Resolve(device, d, "DRV_CounterEventStart", f.CounterEventStart, cap, message) &&
           Resolve(device, d, "DRV_CounterReset", f.CounterReset, cap, message) &&
           Resolve(device, d, "DRV_CounterFreqRead", f.CounterFreqRead, cap, message) &&
           Resolve(device, d, "DRV_AlarmConfig", f.AlarmConfig, cap, message) &&
           Resolve(device, d, "DRV_AlarmEnable", f.AlarmEnable, cap, message) &&
           Resolve(device, d, "DRV_AlarmReset", f.AlarmReset, cap, message) &&
           Resolve(device, d, "DRV_AlarmCheck", f.AlarmCheck, cap, message) &&
           Resolve(serial, s, "COMGetConfig", f.COMGetConfig, cap, message) &&
           Resolve(serial, s, "COMOpen", f.COMOpen, cap, message) &&
           Resolve(serial, s, "COMSetConfig", f.COMSetConfig, cap, message) &&
           Resolve(serial, s, "COMWrite", f.COMWrite, cap, message) &&
           Resolve(serial, s, "COMRead", f.COMRead, cap, message) &&
           Resolve(serial, s, "COMClose", f.COMClose, cap, message);
}

// A library beside the driver first, then wherever the system's search finds it.
platform::LibraryHandle OpenVendorLibrary(const char* name) {
    char path[kPathCapacity + 1];
    platform::LibraryHandle library = nullptr;
    // Only a whole path is tried: cut, it would name another file.
    if (DriverDirectory(kPathCapacity, path) &&
        host::StrLength(kPathCapacity, path) + host::StrLength(79, name) <= kPathCapacity) {
        host::StrAppend(kPathCapacity, path, 79, name);
        library = platform::OpenLibrary(path, 0, nullptr);
    }
    return library != nullptr ? library : platform::OpenLibrary(name, 0, nullptr);
}

}  // namespace

const VendorFunctions* LoadVendorLibraries(host::Cap message_capacity, char* message) {
    std::lock_guard<std::mutex> guard(load_mutex);
    if (loaded) return &functions;
    platform::LibraryHandle device = OpenVendorLibrary(vendor::kDeviceLibraryName);
    if (device == nullptr) {
        ReportMissing(message_capacity, message, vendor::kDeviceLibraryName, nullptr);
        return nullptr;
    }
    platform::LibraryHandle serial = OpenVendorLibrary(vendor::kSerialLibraryName);
    if (serial == nullptr) {
        platform::CloseLibrary(device);
        ReportMissing(message_capacity, message, vendor::kSerialLibraryName, nullptr);
        return nullptr;
    }
    VendorFunctions resolved{};
    if (!ResolveAll(device, serial, resolved, message_capacity, message)) {
        platform::CloseLibrary(serial);
        platform::CloseLibrary(device);
        return nullptr;
    }
    // The libraries stay loaded for the life of the process: handles opened through
    // them may outlive any one driver instance.
    functions = resolved;
    loaded = true;
    return &functions;
}

const VendorFunctions& Vendor() { return functions; }

void VendorErrorText(vendor::Status status, host::Cap capacity, char* text) {
    char scratch[vendor::kErrorMessageSize + 1];
    std::memset(scratch, 0, sizeof scratch);
    functions.GetErrorMessage(status, scratch);
    scratch[vendor::kErrorMessageSize] = '\0';
    host::StrCopy(capacity, text, vendor::kErrorMessageSize, scratch);
}

}  // namespace tovi
