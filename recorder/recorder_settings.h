// What the recorder's own ini file (recorder.ini, beside the recorder libraries)
// says: which vendor libraries to forward to and where the recording goes.
#pragma once

#include <cstdint>
#include <string>

namespace recorder {

inline constexpr char kSettingsFile[] = "recorder.ini";

struct Settings {
    std::string device_library;  // full paths after reading
    std::string serial_library;
    std::string file;
    std::uint64_t max_bytes = 100ull << 20;  // per file; 0: no limit
    int keep = 3;                            // rotated files kept beside the current one
    std::uint32_t flush_ms = 1000;           // lines of good calls reach the file within this; 0: each at once
    bool record = true;
    bool record_given = false;  // the file says record= (a file being written may not yet)
};

// The directory of the library file that holds address, ending in a separator;
// empty when it cannot be told.
std::string DirectoryOf(const void* address);

// When recorder.ini was last changed, as far as a cheap look tells: its
// modification time and size (equal stamps: no change seen).
struct SettingsStamp {
    std::int64_t modified = 0;
    std::int64_t size = -1;  // -1: no file
    bool operator==(const SettingsStamp&) const = default;
};
SettingsStamp StampOf(const std::string& directory);

// Reads DIRECTORY/recorder.ini. Missing file or keys keep the defaults: the vendor
// libraries in the system's library directory, tovi-recording.txt beside the
// recorder. Relative paths count from DIRECTORY. Lines it cannot use are
// described in problems (one per line) and skipped.
Settings ReadSettings(const std::string& directory, std::string& problems);

}  // namespace recorder
