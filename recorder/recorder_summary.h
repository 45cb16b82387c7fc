// What a host that finds the recorder's ADSAPI32 beside a driver can ask of it
// without starting it: what the recorder.ini beside it says of the recording and
// of the device library the calls go to.
#pragma once

namespace recorder {

struct Summary {
    const char* file;            // the recording's full path
    const char* device_library;  // the library every DRV_ call is forwarded to
    int record;                  // 1: record=on
};

inline constexpr char kSummaryExport[] = "tovi_recorder_summary";
using SummaryFn = const Summary* (*)();

}  // namespace recorder
