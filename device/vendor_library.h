// The vendor libraries, loaded by file name when the first module is bound and kept
// for the life of the process; every function resolved by name.
#pragma once

#include "device/vendor_api.h"
#include "host/text.h"

namespace tovi {

struct VendorFunctions {
    vendor::DeviceGetNumOfListFn DeviceGetNumOfList;
    vendor::DeviceGetListFn DeviceGetList;
    vendor::DeviceGetSubListFn DeviceGetSubList;
    vendor::DeviceOpenFn DeviceOpen;
    vendor::DeviceCloseFn DeviceClose;
    vendor::DeviceGetFeaturesFn DeviceGetFeatures;
    vendor::GetErrorMessageFn GetErrorMessage;
    vendor::AIVoltageInFn AIVoltageIn;
    vendor::AOVoltageOutFn AOVoltageOut;
    vendor::DioReadPortByteFn DioReadPortByte;
    vendor::DioWritePortByteFn DioWritePortByte;
    vendor::DioWriteBitFn DioWriteBit;
    vendor::CounterEventReadFn CounterEventRead;
    vendor::CounterEventStartFn CounterEventStart;
    vendor::CounterResetFn CounterReset;
    vendor::CounterFreqReadFn CounterFreqRead;
    vendor::AlarmConfigFn AlarmConfig;
    vendor::AlarmEnableFn AlarmEnable;
    vendor::AlarmResetFn AlarmReset;
    vendor::AlarmCheckFn AlarmCheck;
    vendor::COMGetConfigFn COMGetConfig;
    vendor::COMOpenFn COMOpen;
    vendor::COMSetConfigFn COMSetConfig;
    vendor::COMWriteFn COMWrite;
    vendor::COMReadFn COMRead;
    vendor::COMCloseFn COMClose;
};

// Loads both libraries (once per process). Null when a library or one of its
// functions is missing, with "Nelze načíst knihovnu (FILE[: FUNCTION])" in message.
const VendorFunctions* LoadVendorLibraries(host::Cap message_capacity, char* message);

// The loaded functions; only valid after LoadVendorLibraries succeeded (every bound
// module implies it).
const VendorFunctions& Vendor();

// The vendor's text for a status, cut to capacity (the library's own text is read
// into a buffer it cannot overrun).
void VendorErrorText(vendor::Status status, host::Cap capacity, char* text);

}  // namespace tovi
