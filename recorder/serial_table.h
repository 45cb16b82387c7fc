// How the recorder's ADSCOMM reaches the recorder in its sibling ADSAPI32: one
// exported function hands out the recording COM functions.
#pragma once

#include "device/vendor_api.h"

namespace recorder {

struct SerialTable {
    vendor::COMGetConfigFn get_config;
    vendor::COMOpenFn open;
    vendor::COMSetConfigFn set_config;
    vendor::COMWriteFn write;
    vendor::COMReadFn read;
    vendor::COMCloseFn close;
};

inline constexpr char kSerialTableExport[] = "tovi_recorder_serial_table";
using SerialTableFn = const SerialTable* (*)();

}  // namespace recorder

// Exported by both recorder libraries: the recording format they write. The
// recorder refuses to forward to a library that has it.
#if defined(_WIN32)
#define TOVI_RECORDER_EXPORT __declspec(dllexport)
#else
#define TOVI_RECORDER_EXPORT __attribute__((visibility("default")))
#endif
extern "C" TOVI_RECORDER_EXPORT int tovi_recorder_format();
