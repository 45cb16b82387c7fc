// The driver's exported interface, for hosts. Every function is exported under its
// plain name with C linkage (stdcall on 32-bit Windows); the two unit initialisers
// are exported under the names "tovi::Init_" and "tovi_::Init_". A host loads the
// library and resolves the names; the *Fn types below are the matching pointers.
#pragma once

#include <cstdint>

#include "host/exchange.h"

#if defined(_WIN32)
#define TOVI_EXPORT  // exported through the module-definition file
#else
#define TOVI_EXPORT __attribute__((visibility("default")))
#endif

namespace tovi {
struct DriverInstance;
}
using tovi::DriverInstance;

extern "C" {
// Lifecycle.
TOVI_EXPORT DriverInstance* TOVI_CALL MakeDriver();
TOVI_EXPORT std::uint8_t TOVI_CALL Init(DriverInstance* driver, std::uint32_t param_capacity, const char* param_path,
                                       std::uint32_t message_capacity, char* message, std::uint32_t host_value,
                                       std::uint8_t host_flag, void* host_context,
                                       host::CompletionCallback completion_callback);
TOVI_EXPORT void TOVI_CALL Done(DriverInstance* driver);
TOVI_EXPORT void TOVI_CALL DisposeDriver(DriverInstance* driver);
TOVI_EXPORT std::int32_t TOVI_CALL Version();

// Requests.
TOVI_EXPORT void TOVI_CALL InputRequest(DriverInstance* driver, std::int32_t channel);
TOVI_EXPORT void TOVI_CALL InputRequestCompleted(DriverInstance* driver);
TOVI_EXPORT std::uint8_t TOVI_CALL InputFinalized(DriverInstance* driver, std::int32_t channel, std::int32_t* status);
TOVI_EXPORT void TOVI_CALL GetInput(DriverInstance* driver, std::int32_t channel, host::ValueRecord* value);
TOVI_EXPORT void TOVI_CALL OutputRequest(DriverInstance* driver, std::int32_t channel, std::uint32_t type_code,
                                         std::uint32_t payload_low, std::uint32_t payload_high);
TOVI_EXPORT void TOVI_CALL OutputRequestCompleted(DriverInstance* driver);
TOVI_EXPORT std::uint8_t TOVI_CALL OutputFinalized(DriverInstance* driver, std::int32_t channel, std::int32_t* status);

// Information, window and dialog.
TOVI_EXPORT std::uint32_t TOVI_CALL GetDriverInfo(std::uint32_t capacity, char* text);
TOVI_EXPORT std::uint32_t TOVI_CALL GetDriverName(DriverInstance* driver, std::uint32_t capacity, char* text);
TOVI_EXPORT std::uint8_t TOVI_CALL BufferInfo();
TOVI_EXPORT void TOVI_CALL SetBufferAddr();
TOVI_EXPORT void TOVI_CALL DriverProc(DriverInstance* driver, std::uint32_t code, std::int32_t first,
                                      std::int32_t second, std::int32_t third, std::int32_t fourth);
TOVI_EXPORT void TOVI_CALL QueryProc();
TOVI_EXPORT std::uint8_t TOVI_CALL FileOpen();
TOVI_EXPORT void TOVI_CALL FileSave();
TOVI_EXPORT void TOVI_CALL FileSaveAs();
TOVI_EXPORT std::uint32_t TOVI_CALL GetItemNumber();
TOVI_EXPORT void* TOVI_CALL GetDialogBoxItem(DriverInstance* driver, std::uint32_t index);
TOVI_EXPORT void TOVI_CALL DialogDataChanged();
TOVI_EXPORT void TOVI_CALL SetPage();
TOVI_EXPORT std::uint8_t TOVI_CALL DataModified(DriverInstance* driver);
TOVI_EXPORT void TOVI_CALL UserProc();
}

// Exported names of the unit initialisers (functions without arguments or result).
inline constexpr const char kUnitInitName[] = "tovi::Init_";
inline constexpr const char kSecondUnitInitName[] = "tovi_::Init_";

// Pointer types for hosts that resolve the exports by name.
namespace tovi::exports {
using MakeDriverFn = DriverInstance*(TOVI_CALL*)();
using InitFn = std::uint8_t(TOVI_CALL*)(DriverInstance*, std::uint32_t, const char*, std::uint32_t, char*,
                                        std::uint32_t, std::uint8_t, void*, host::CompletionCallback);
using DoneFn = void(TOVI_CALL*)(DriverInstance*);
using DisposeDriverFn = void(TOVI_CALL*)(DriverInstance*);
using VersionFn = std::int32_t(TOVI_CALL*)();
using InputRequestFn = void(TOVI_CALL*)(DriverInstance*, std::int32_t);
using RequestCompletedFn = void(TOVI_CALL*)(DriverInstance*);
using FinalizedFn = std::uint8_t(TOVI_CALL*)(DriverInstance*, std::int32_t, std::int32_t*);
using GetInputFn = void(TOVI_CALL*)(DriverInstance*, std::int32_t, host::ValueRecord*);
using OutputRequestFn = void(TOVI_CALL*)(DriverInstance*, std::int32_t, std::uint32_t, std::uint32_t, std::uint32_t);
using GetDriverInfoFn = std::uint32_t(TOVI_CALL*)(std::uint32_t, char*);
using GetDriverNameFn = std::uint32_t(TOVI_CALL*)(DriverInstance*, std::uint32_t, char*);
using DriverProcFn = void(TOVI_CALL*)(DriverInstance*, std::uint32_t, std::int32_t, std::int32_t, std::int32_t,
                                      std::int32_t);
using GetDialogBoxItemFn = void*(TOVI_CALL*)(DriverInstance*, std::uint32_t);
using GetItemNumberFn = std::uint32_t(TOVI_CALL*)();
using DataModifiedFn = std::uint8_t(TOVI_CALL*)(DriverInstance*);
using UnitInitFn = void(TOVI_CALL*)();
}  // namespace tovi::exports
