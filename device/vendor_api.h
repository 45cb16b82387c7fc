// The module maker's device-manager library (DRV_ functions) and serial library
// (COM functions), as the driver calls them. Every function returns a 32-bit status:
// 0 is success, any other value an error code that DRV_GetErrorMessage turns into
// a text. Blocks are little-endian; on 32-bit Windows every pointer is 32 bits wide,
// which gives the sizes asserted at the end; 64-bit builds keep the field order with
// pointer-sized pointers. Bytes the driver does not set are marked "unused".
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/exchange.h"  // TOVI_CALL

namespace vendor {

using Status = std::int32_t;
using Handle = std::uint32_t;

// Library file names on this platform.
#if defined(_WIN32)
inline constexpr char kDeviceLibraryName[] = "ADSAPI32.dll";
inline constexpr char kSerialLibraryName[] = "ADSCOMM.dll";
#else
inline constexpr char kDeviceLibraryName[] = "libADSAPI32.so";
inline constexpr char kSerialLibraryName[] = "libADSCOMM.so";
#endif

// Device manager tables hold at most this many entries.
constexpr std::int16_t kMaxListEntries = 100;
// DRV_GetErrorMessage takes no capacity: its buffer must hold this many bytes.
constexpr std::uint32_t kErrorMessageSize = 256;
constexpr std::uint16_t kFeaturesSize = 486;
// Offsets of the digital channel counts (unsigned 16-bit) in the features block.
constexpr std::size_t kFeatureDigitalOutputs = 34;
constexpr std::size_t kFeatureDigitalInputs = 36;

struct DeviceListEntry {
    std::uint32_t device_number;
    char device_name[50];
    std::int16_t subdevice_count;
};
static_assert(sizeof(DeviceListEntry) == 56);
static_assert(offsetof(DeviceListEntry, subdevice_count) == 54);

struct FeaturesRequest {
    std::uint8_t* buffer;
    std::uint16_t size;
};

// The serial configuration: the driver reads only the port number and hands the
// rest back unchanged.
struct SerialConfig {
    std::uint32_t port;
    std::uint8_t rest[16];
};
static_assert(sizeof(SerialConfig) == 20);

struct AIVoltageInBlock {
    std::uint16_t channel;
    std::uint16_t gain;
    std::uint16_t trigger;
    std::uint16_t unused;
    float* voltage;
};

struct AOVoltageOutBlock {
    std::uint16_t channel;
    std::uint16_t unused;
    float voltage;
};

struct DioReadPortByteBlock {
    std::uint16_t port;
    std::uint16_t unused;
    std::uint16_t* value;  // may point into a packed port cache entry: write it bytewise
};

struct DioWritePortByteBlock {
    std::uint16_t port;
    std::uint16_t mask;
    std::uint16_t state;
};

struct DioWriteBitBlock {
    std::uint16_t port;
    std::uint16_t bit;
    std::uint16_t state;
};

struct CounterEventReadBlock {
    std::uint16_t counter;
    std::uint16_t unused;
    std::uint16_t* overflow;
    std::uint32_t* count;
};

struct CounterEventStartBlock {
    std::uint16_t counter;
    std::uint16_t gate_mode;
};

struct CounterFreqReadBlock {
    std::uint16_t counter;
    std::uint16_t unused;
    float* frequency;
};

struct AlarmConfigBlock {
    std::uint16_t channel;
    std::uint16_t unused;
    float low_limit;
    float high_limit;
};

struct AlarmEnableBlock {
    std::uint16_t channel;
    std::uint16_t latch;
    std::uint16_t enabled;
};

struct AlarmCheckBlock {
    std::uint16_t channel;
    std::uint16_t unused;
    std::uint16_t* low_state;
    std::uint16_t* high_state;
};

static_assert(sizeof(AOVoltageOutBlock) == 8 && sizeof(DioWritePortByteBlock) == 6 &&
              sizeof(DioWriteBitBlock) == 6 && sizeof(CounterEventStartBlock) == 4 &&
              sizeof(AlarmConfigBlock) == 12 && sizeof(AlarmEnableBlock) == 6);
#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(FeaturesRequest) == 8);
static_assert(sizeof(AIVoltageInBlock) == 12 && offsetof(AIVoltageInBlock, voltage) == 8);
static_assert(sizeof(DioReadPortByteBlock) == 8 && sizeof(CounterFreqReadBlock) == 8);
static_assert(sizeof(CounterEventReadBlock) == 12 && sizeof(AlarmCheckBlock) == 12);
#endif

// The functions, as pointer types: the driver resolves them by name when it binds
// its first module.
using DeviceGetNumOfListFn = Status(TOVI_CALL*)(std::int16_t* count);
using DeviceGetListFn = Status(TOVI_CALL*)(DeviceListEntry* list, std::int16_t max_entries, std::int16_t* returned);
using DeviceGetSubListFn = Status(TOVI_CALL*)(std::uint32_t device_number, DeviceListEntry* list,
                                              std::int16_t max_entries, std::int16_t* returned);
using DeviceOpenFn = Status(TOVI_CALL*)(std::uint32_t device_number, Handle* handle);
using DeviceCloseFn = Status(TOVI_CALL*)(Handle* handle);
using DeviceGetFeaturesFn = Status(TOVI_CALL*)(Handle handle, FeaturesRequest* request);
using GetErrorMessageFn = Status(TOVI_CALL*)(Status code, char* text);
using AIVoltageInFn = Status(TOVI_CALL*)(Handle handle, AIVoltageInBlock* block);
using AOVoltageOutFn = Status(TOVI_CALL*)(Handle handle, AOVoltageOutBlock* block);
using DioReadPortByteFn = Status(TOVI_CALL*)(Handle handle, DioReadPortByteBlock* block);
using DioWritePortByteFn = Status(TOVI_CALL*)(Handle handle, DioWritePortByteBlock* block);
using DioWriteBitFn = Status(TOVI_CALL*)(Handle handle, DioWriteBitBlock* block);
using CounterEventReadFn = Status(TOVI_CALL*)(Handle handle, CounterEventReadBlock* block);
using CounterEventStartFn = Status(TOVI_CALL*)(Handle handle, CounterEventStartBlock* block);
using CounterResetFn = Status(TOVI_CALL*)(Handle handle, std::int32_t counter);
using CounterFreqReadFn = Status(TOVI_CALL*)(Handle handle, CounterFreqReadBlock* block);
using AlarmConfigFn = Status(TOVI_CALL*)(Handle handle, AlarmConfigBlock* block);
using AlarmEnableFn = Status(TOVI_CALL*)(Handle handle, AlarmEnableBlock* block);
using AlarmResetFn = Status(TOVI_CALL*)(Handle handle, std::int32_t channel);
using AlarmCheckFn = Status(TOVI_CALL*)(Handle handle, AlarmCheckBlock* block);

// device_index is the position of the device in the device list, not its number.
using COMGetConfigFn = Status(TOVI_CALL*)(std::int32_t device_index, SerialConfig* config);
// unused: a 32-bit variable the caller neither sets nor reads.
using COMOpenFn = Status(TOVI_CALL*)(std::uint32_t port, std::uint32_t* unused, Handle* handle);
using COMSetConfigFn = Status(TOVI_CALL*)(Handle handle, SerialConfig* config);
using COMWriteFn = Status(TOVI_CALL*)(Handle handle, const char* data, std::uint32_t length);
// Reads a reply of at most size bytes, ending at terminator, within timeout
// (milliseconds); *received := bytes read.
using COMReadFn = Status(TOVI_CALL*)(Handle handle, char* buffer, std::uint32_t size, std::uint32_t timeout,
                                     std::uint32_t terminator, std::uint32_t* received);
using COMCloseFn = Status(TOVI_CALL*)(Handle* handle);

}  // namespace vendor
