#include "recorder/recorder_settings.h"

#include <charconv>
#include <filesystem>
#include <fstream>

#include "device/vendor_api.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace recorder {
namespace {

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool IsAbsolute(const std::string& path) {
#if defined(_WIN32)
    return (path.size() > 1 && path[1] == ':') || (!path.empty() && (path[0] == '\\' || path[0] == '/'));
#else
    return !path.empty() && path[0] == '/';
#endif
}

// The vendor's installation: the system's library directory.
std::string SystemLibrary(const char* name) {
#if defined(_WIN32)
    char directory[MAX_PATH + 1] = {};
    const UINT length = GetSystemDirectoryA(directory, MAX_PATH);
    if (length == 0 || length > MAX_PATH) return std::string("C:\\Windows\\System32\\") + name;
    return std::string(directory) + "\\" + name;
#else
    return std::string("/usr/lib/") + name;
#endif
}

// What a setting's value must be, for the message about a value it does not
// take; null for a key that is no setting.
const char* WhatKeyTakes(const std::string& key) {
    if (key == "device_library" || key == "serial_library" || key == "file") return "a path";
    if (key == "max_size_mb") return "a whole number of MiB from 0 to 1048576";
    if (key == "max_size_kb") return "a whole number of KiB from 0 to 1073741824";
    if (key == "flush_ms") return "a whole number of milliseconds from 0 to 3600000";
    if (key == "keep") return "a whole number from 0 to 99";
    if (key == "record") return "on or off";
    return nullptr;
}

}  // namespace

std::string DirectoryOf(const void* address) {
    std::string path;
#if defined(_WIN32)
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCSTR>(address), &module)) {
        return "";
    }
    char name[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(module, name, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return "";
    path.assign(name, length);
    const auto end = path.find_last_of("\\/");
#else
    Dl_info info{};
    if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return "";
    path = info.dli_fname;
    const auto end = path.rfind('/');
#endif
    return end == std::string::npos ? "" : path.substr(0, end + 1);
}

SettingsStamp StampOf(const std::string& directory) {
    const std::filesystem::path path = std::filesystem::path(directory + kSettingsFile);
    std::error_code code;
    SettingsStamp stamp;
    const auto modified = std::filesystem::last_write_time(path, code);
    if (code) return stamp;
    const auto size = std::filesystem::file_size(path, code);
    if (code) return stamp;
    stamp.modified = static_cast<std::int64_t>(modified.time_since_epoch().count());
    stamp.size = static_cast<std::int64_t>(size);
    return stamp;
}

Settings ReadSettings(const std::string& directory, std::string& problems) {
    Settings settings;
    settings.device_library = SystemLibrary(vendor::kDeviceLibraryName);
    settings.serial_library = SystemLibrary(vendor::kSerialLibraryName);
    settings.file = directory + "tovi-recording.txt";
    std::ifstream in(directory + kSettingsFile);
    std::string line;
    int number = 0;
    auto resolve = [&](const std::string& value) { return IsAbsolute(value) ? value : directory + value; };
    while (std::getline(in, line)) {
        ++number;
        line = Trim(line);
        if (line.empty() || line[0] == ';' || line[0] == '#' || line[0] == '[') continue;
        const auto equals = line.find('=');
        const std::string key = equals == std::string::npos ? line : Trim(line.substr(0, equals));
        const std::string value = equals == std::string::npos ? "" : Trim(line.substr(equals + 1));
        const std::string where = std::string(kSettingsFile) + ":" + std::to_string(number) + ": ";
        std::uint64_t count = 0;
        const bool whole = !value.empty() && std::from_chars(value.data(), value.data() + value.size(), count).ptr ==
                                                 value.data() + value.size();
        if (key == "device_library" && !value.empty()) {
            settings.device_library = resolve(value);
        } else if (key == "serial_library" && !value.empty()) {
            settings.serial_library = resolve(value);
        } else if (key == "file" && !value.empty()) {
            settings.file = resolve(value);
        } else if (key == "max_size_mb" && whole && count <= (1u << 20)) {
            settings.max_bytes = count << 20;
        } else if (key == "max_size_kb" && whole && count <= (1u << 30)) {
            settings.max_bytes = count << 10;
        } else if (key == "flush_ms" && whole && count <= 3600000) {
            settings.flush_ms = static_cast<std::uint32_t>(count);
        } else if (key == "keep" && whole && count <= 99) {
            settings.keep = static_cast<int>(count);
        } else if (key == "record" && (value == "on" || value == "off")) {
            settings.record = value == "on";
            settings.record_given = true;
        } else if (const char* takes = WhatKeyTakes(key)) {
            problems += where + "\"" + line + "\": " + key + " takes " + takes + " (skipped)\n";
        } else {
            problems += where + "\"" + line + "\" is not a setting of the recorder (skipped)\n";
        }
    }
    return settings;
}

}  // namespace recorder
