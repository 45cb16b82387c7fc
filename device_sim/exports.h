// The functions the two simulated libraries export under the module maker's names:
// DRV_ from ADSAPI32, COM from ADSCOMM. C linkage, TOVI_CALL (stdcall on 32-bit
// Windows, exported without decoration). The driver resolves them by name at run
// time; tests on this platform may also call them directly.
#pragma once

#include <cstdint>
#include <type_traits>

#include "device/vendor_api.h"

#if defined(_WIN32)
#if defined(DEVSIM_BUILDING_DEVICE_LIBRARY)
#define DEVSIM_DRV_EXPORT __declspec(dllexport)
#else
#define DEVSIM_DRV_EXPORT
#endif
#if defined(DEVSIM_BUILDING_SERIAL_LIBRARY)
#define DEVSIM_COM_EXPORT __declspec(dllexport)
#else
#define DEVSIM_COM_EXPORT
#endif
#else
#define DEVSIM_DRV_EXPORT __attribute__((visibility("default")))
#define DEVSIM_COM_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {
using vendor::Handle;
using vendor::Status;

DEVSIM_DRV_EXPORT Status TOVI_CALL DRV_DeviceGetNumOfList(std::int16_t* count);
DEVSIM_DRV_EXPORT Status TOVI_CALL DRV_DeviceGetList(vendor::DeviceListEntry* list, std::int16_t max_entries,
                                                     std::int16_t* returned);
DEVSIM_DRV_EXPORT Status TOVI_CALL DRV_DeviceGetSubList(std::uint32_t device_number, vendor::DeviceListEntry* list,
                                                        std::int16_t max_entries, std::int16_t* returned);
DEVSIM_DRV_EXPORT Status TOVI_CALL DRV_DeviceOpen(std::uint32_t device_number, Handle* handle);
DEVSIM_DRV_EXPORT Status TOVI_CALL DRV_DeviceClose(Handle* handle);
DEVSIM_DRV_EXPORT Status TOVI_CALL DRV_DeviceGetFeatures(Handle handle, vendor::FeaturesRequest* request);
DEVSIM_DRV_EXPORT Status TOVI_CALL DRV_GetErrorMessage(Status code, char* text);
DEVSIM_DRV_EXPORT Status TOVI_CALL DRV_AIVoltageIn(Handle handle, vendor::AIVoltageInBlock* block);
DEVSIM_DRV_EXPORT Status TOVI_CALL DRV_AOVoltageOut(Handle handle, vendor::AOVoltageOutBlock* block);
DEVSIM_DRV_EXPORT Status TOVI_CALL DRV_DioReadPortByte(Handle handle, vendor::DioReadPortByteBlock* block);
DEVSIM_DRV_EXPORT Status TOVI_CALL DRV_DioWritePortByte(Handle handle, vendor::DioWritePortByteBlock* block);
DEVSIM_DRV_EXPORT Status TOVI_CALL DRV_DioWriteBit(Handle handle, vendor::DioWriteBitBlock* block);
DEVSIM_DRV_EXPORT Status TOVI_CALL DRV_CounterEventRead(Handle handle, vendor::CounterEventReadBlock* block);
DEVSIM_DRV_EXPORT Status TOVI_CALL DRV_CounterEventStart(Handle handle, vendor::CounterEventStartBlock* block);
DEVSIM_DRV_EXPORT Status TOVI_CALL DRV_CounterReset(Handle handle, std::int32_t counter);
DEVSIM_DRV_EXPORT Status TOVI_CALL DRV_CounterFreqRead(Handle handle, vendor::CounterFreqReadBlock* block);
DEVSIM_DRV_EXPORT Status TOVI_CALL DRV_AlarmConfig(Handle handle, vendor::AlarmConfigBlock* block);
DEVSIM_DRV_EXPORT Status TOVI_CALL DRV_AlarmEnable(Handle handle, vendor::AlarmEnableBlock* block);
DEVSIM_DRV_EXPORT Status TOVI_CALL DRV_AlarmReset(Handle handle, std::int32_t channel);
DEVSIM_DRV_EXPORT Status TOVI_CALL DRV_AlarmCheck(Handle handle, vendor::AlarmCheckBlock* block);

DEVSIM_COM_EXPORT Status TOVI_CALL COMGetConfig(std::int32_t device_index, vendor::SerialConfig* config);
DEVSIM_COM_EXPORT Status TOVI_CALL COMOpen(std::uint32_t port, std::uint32_t* unused, Handle* handle);
DEVSIM_COM_EXPORT Status TOVI_CALL COMSetConfig(Handle handle, vendor::SerialConfig* config);
DEVSIM_COM_EXPORT Status TOVI_CALL COMWrite(Handle handle, const char* data, std::uint32_t length);
DEVSIM_COM_EXPORT Status TOVI_CALL COMRead(Handle handle, char* buffer, std::uint32_t size, std::uint32_t timeout,
                                           std::uint32_t terminator, std::uint32_t* received);
DEVSIM_COM_EXPORT Status TOVI_CALL COMClose(Handle* handle);
}

// The exported functions have exactly the shapes the driver resolves them as.
static_assert(std::is_same_v<decltype(&DRV_DeviceGetNumOfList), vendor::DeviceGetNumOfListFn>);
static_assert(std::is_same_v<decltype(&DRV_DeviceGetList), vendor::DeviceGetListFn>);
static_assert(std::is_same_v<decltype(&DRV_DeviceGetSubList), vendor::DeviceGetSubListFn>);
static_assert(std::is_same_v<decltype(&DRV_DeviceOpen), vendor::DeviceOpenFn>);
static_assert(std::is_same_v<decltype(&DRV_DeviceClose), vendor::DeviceCloseFn>);
static_assert(std::is_same_v<decltype(&DRV_DeviceGetFeatures), vendor::DeviceGetFeaturesFn>);
static_assert(std::is_same_v<decltype(&DRV_GetErrorMessage), vendor::GetErrorMessageFn>);
static_assert(std::is_same_v<decltype(&DRV_AIVoltageIn), vendor::AIVoltageInFn>);
static_assert(std::is_same_v<decltype(&DRV_AOVoltageOut), vendor::AOVoltageOutFn>);
static_assert(std::is_same_v<decltype(&DRV_DioReadPortByte), vendor::DioReadPortByteFn>);
static_assert(std::is_same_v<decltype(&DRV_DioWritePortByte), vendor::DioWritePortByteFn>);
static_assert(std::is_same_v<decltype(&DRV_DioWriteBit), vendor::DioWriteBitFn>);
static_assert(std::is_same_v<decltype(&DRV_CounterEventRead), vendor::CounterEventReadFn>);
static_assert(std::is_same_v<decltype(&DRV_CounterEventStart), vendor::CounterEventStartFn>);
static_assert(std::is_same_v<decltype(&DRV_CounterReset), vendor::CounterResetFn>);
static_assert(std::is_same_v<decltype(&DRV_CounterFreqRead), vendor::CounterFreqReadFn>);
static_assert(std::is_same_v<decltype(&DRV_AlarmConfig), vendor::AlarmConfigFn>);
static_assert(std::is_same_v<decltype(&DRV_AlarmEnable), vendor::AlarmEnableFn>);
static_assert(std::is_same_v<decltype(&DRV_AlarmReset), vendor::AlarmResetFn>);
static_assert(std::is_same_v<decltype(&DRV_AlarmCheck), vendor::AlarmCheckFn>);
static_assert(std::is_same_v<decltype(&COMGetConfig), vendor::COMGetConfigFn>);
static_assert(std::is_same_v<decltype(&COMOpen), vendor::COMOpenFn>);
static_assert(std::is_same_v<decltype(&COMSetConfig), vendor::COMSetConfigFn>);
static_assert(std::is_same_v<decltype(&COMWrite), vendor::COMWriteFn>);
static_assert(std::is_same_v<decltype(&COMRead), vendor::COMReadFn>);
static_assert(std::is_same_v<decltype(&COMClose), vendor::COMCloseFn>);
