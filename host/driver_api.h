// The host's library for drivers: driver window, message log, paths and record-file
// creation. The driver imports these by name; on this project's builds the host
// stand-in library (host_api_standin/) provides them.
#pragma once

#include <cstdint>

#include "host/exchange.h"

#if defined(_WIN32)
#if defined(TOVI_BUILDING_HOST_API)
#define HOST_API __declspec(dllexport)
#else
#define HOST_API __declspec(dllimport)
#endif
#else
#define HOST_API __attribute__((visibility("default")))
#endif

// Window handles are 32-bit values; 0 means none.
using WindowHandle = std::uint32_t;

extern "C" {
HOST_API WindowHandle TOVI_CALL CreateDriverWindow(const host::DriverCallbacks* callbacks);
HOST_API void TOVI_CALL DestroyDriverWindow(WindowHandle window);
HOST_API void TOVI_CALL HideDriverWindow(WindowHandle window);
HOST_API void TOVI_CALL ShowDriverWindow(WindowHandle window);
HOST_API void TOVI_CALL MinimizeDriverWindow(WindowHandle window);
HOST_API void TOVI_CALL RestoreDriverWindow(WindowHandle window);
HOST_API void TOVI_CALL SelectDriverWindow(WindowHandle window);
HOST_API void TOVI_CALL DriverWindowNewRect(WindowHandle window, std::int32_t first, std::int32_t second,
                                            std::int32_t third, std::int32_t fourth);
HOST_API void TOVI_CALL SetUserLoginLevel(WindowHandle window, std::int32_t level);
HOST_API void TOVI_CALL MsgSetDialogDataItem(WindowHandle window, std::uint32_t item);
}

namespace qs_dapi {
HOST_API void TOVI_CALL AddLogMessage(std::uint32_t kind, std::uint8_t flag, std::uint32_t capacity, const char* text);
HOST_API void TOVI_CALL MakePath(void* host_context, std::uint32_t dst_cap, char* dst, std::uint32_t dir_cap,
                                 const char* directory, std::uint32_t name_cap, const char* name);
HOST_API std::uint8_t TOVI_CALL FindNewPath(void* host_context, std::uint32_t name_cap, const char* name,
                                            std::uint32_t dst_cap, char* dst);
HOST_API std::int32_t TOVI_CALL RedCreate(void* host_context, std::uint32_t path_cap, const char* path,
                                          std::int32_t mode);
HOST_API void TOVI_CALL Init_();
}  // namespace qs_dapi
