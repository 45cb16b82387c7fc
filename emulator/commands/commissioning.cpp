#include "emulator/commands/commissioning.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>

#include "emulator/text/file_text.h"
#include "emulator/text/shown_text.h"

namespace tovihost {
namespace {

namespace fs = std::filesystem;

std::string DeviceName(const devsim_device_info& info) {
    return ShownUtf8(std::string(info.name, strnlen(info.name, DEVSIM_MAX_DEVICE_NAME)));
}

std::string NumberAndName(std::int64_t number) {
    const auto info = DeviceInfo(number);
    return std::to_string(number) + (info ? " \"" + DeviceName(*info) + "\"" : std::string());
}

std::string NumbersAndNames(const std::vector<std::int64_t>& numbers) {
    std::string text;
    for (const std::int64_t number : numbers) text += (text.empty() ? "" : ", ") + NumberAndName(number);
    return text;
}

// Whether the error log can be written there, in words; a file that is not there
// yet is made and removed again to find out.
std::string LogWritable(const std::string& path) {
    std::error_code code;
    const fs::file_status status = fs::status(path, code);
    if (status.type() == fs::file_type::directory) return "cannot be written: it is a directory";
    const bool existed = status.type() != fs::file_type::not_found;
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (file == nullptr) {
        const int error = errno;
        const fs::path parent = fs::path(path).parent_path();
        if (!parent.empty() && !fs::is_directory(parent, code)) return "cannot be written: no directory " + parent.string();
        return std::string("cannot be written: ") + std::strerror(error);
    }
    std::fclose(file);
    if (!existed) fs::remove(path, code);
    return existed ? "can be written (it exists; lines are added to it)" : "can be written (it does not exist yet)";
}

bool IsDisplayModule(const Plant& plant, const PlantModule& module) {
    return std::any_of(plant.channels().begin(), plant.channels().end(), [&](const PlantChannel& c) {
        return c.module == module.name && (c.keyword == "display_select" || c.keyword == "display_data");
    });
}

}  // namespace

std::string DisplayAddress(const std::string& device_text, const std::string& subdevice_text) {
    std::string scratch;
    std::size_t at = std::string::npos;
    for (const std::string* text : {&device_text, &subdevice_text}) {
        scratch = Lower(text->substr(0, 79));
        at = scratch.find("address");
        if (at != std::string::npos) break;
    }
    if (at == std::string::npos) return "";
    scratch.erase(0, at);
    const std::string word = Token(scratch, " =", 1).substr(0, 31);
    const int radix = scratch.find("dec") != std::string::npos ? 10 : 16;
    // A word that is no number in its radix gives 0, as the driver's conversion does.
    long value = 0;
    char* end = nullptr;
    errno = 0;
    const long parsed = word.empty() ? 0 : std::strtol(word.c_str(), &end, radix);
    if (!word.empty() && end == word.c_str() + word.size() && errno == 0 && word[0] != ' ' && parsed >= INT32_MIN &&
        parsed <= INT32_MAX && word.find_first_of("xX") == std::string::npos) {
        value = parsed;
    }
    char text[16];
    std::snprintf(text, sizeof text, value < 0 ? "-%lX" : "%lX", value < 0 ? -value : value);
    std::string address = text;
    while (address.size() < 2) address = "0" + address;
    return address;
}

std::size_t PrintSettings(const Plant& plant, const std::string& log_directory) {
    std::size_t warnings = 0;
    std::printf("settings [tovi], as the driver takes them:\n");
    for (const char* key : {"debug", "check_sum"}) {
        const PlantSetting setting = plant.Setting(key);
        const bool on = std::string(key) == "debug" ? plant.debug() : plant.check_sum();
        std::printf("  %-10s %-4s %s\n", key, on ? "on" : "off",
                    setting.given ? ("(line " + std::to_string(setting.line) + ": " + key + "=" +
                                     ShownCp1250(setting.value) + ")").c_str()
                                  : "(not given)");
    }
    const std::string log_path = plant.LogPath(log_directory);
    std::printf("  %-10s %s\n", "error log", ShownCp1250(log_path).c_str());
    std::printf("  %-10s %s; %s\n", "", plant.debug() ? "written with every device error" : "not written (debug is off)",
                LogWritable(log_path).c_str());
    for (const char* key : {"debug", "check_sum"}) {
        const PlantSetting setting = plant.Setting(key);
        if (!setting.given || ParseBoolean(Lower(setting.value))) continue;
        ++warnings;
        std::printf("warning: %s:%u: %s=%s is not a boolean the driver knows (1, 0, true, false, yes, no, on, off): "
                    "it takes it as off\n",
                    plant.path().c_str(), setting.line, key, ShownCp1250(setting.value).c_str());
    }
    return warnings;
}

std::size_t PrintBindings(const Plant& plant, bool have_devices) {
    std::size_t warnings = 0;
    std::size_t width = 4;
    for (const PlantModule& m : plant.modules()) width = std::max(width, Columns(ShownCp1250(m.name)));
    std::printf("bindings (the last listed device whose name holds the device text, then the last of its "
                "sub-devices holding the sub-device text):\n");
    if (!have_devices) std::printf("  (no device set: no module can bind)\n");
    std::vector<std::string> notes;
    for (const PlantModule& m : plant.modules()) {
        const std::string name = ShownCp1250(m.name);
        std::string text;
        if (m.listed_device < 0) {
            text = "no listed device has a name holding \"" + ShownCp1250(m.device) + "\"";
        } else {
            text = "device " + NumberAndName(m.listed_device);
            const auto listed = DeviceInfo(m.listed_device);
            if (listed && listed->subdevice_count > 0) {
                text += m.device_number < 0 ? ", no sub-device has a name holding \"" + ShownCp1250(m.subdevice) + "\""
                                            : ", sub-device " + NumberAndName(m.device_number);
            }
            const std::string address = DisplayAddress(m.device, m.subdevice);
            if (!address.empty()) text += ", address " + address;
            if (IsDisplayModule(plant, m) && listed) text += ", display on serial port " + std::to_string(listed->serial_port);
        }
        if (have_devices) std::printf("  %s  %s\n", PadColumns(name, width).c_str(), text.c_str());
        if (m.device_candidates.size() > 1) {
            notes.push_back("module " + name + ": the device text \"" + ShownCp1250(m.device) + "\" is held by " +
                            std::to_string(m.device_candidates.size()) + " listed devices (" +
                            NumbersAndNames(m.device_candidates) + "); the driver takes the last, device " +
                            std::to_string(m.listed_device));
        }
        if (m.subdevice_candidates.size() > 1) {
            notes.push_back("module " + name + ": the sub-device text \"" + ShownCp1250(m.subdevice) + "\" is held by " +
                            std::to_string(m.subdevice_candidates.size()) + " sub-devices (" +
                            NumbersAndNames(m.subdevice_candidates) + "); the driver takes the last, sub-device " +
                            std::to_string(m.device_number));
        }
    }
    for (const std::string& note : notes) std::printf("warning: %s\n", note.c_str());
    return warnings + notes.size();
}

bool WriteChannelMap(const Plant& plant, const std::string& path, std::string& error) {
    error = CannotWrite(path);
    std::FILE* file = error.empty() ? std::fopen(path.c_str(), "w") : nullptr;
    if (file == nullptr) {
        if (error.empty()) error = std::strerror(errno);
        error = path + ": cannot be written: " + error;
        return false;
    }
    std::map<std::int32_t, std::string> parameters;  // owner -> its parameter channels
    for (const PlantChannel& c : plant.channels()) {
        if (c.parameter) parameters[c.owner] += (parameters[c.owner].empty() ? "" : " ") + std::to_string(c.number);
    }
    std::fprintf(file, "channel,module,keyword,port,bit,direction,value_type,parameter_channels,owner\n");
    for (const PlantChannel& c : plant.channels()) {
        const auto own = parameters.find(c.number);
        std::fprintf(file, "%d,%s,%s,%s,%s,%s,%s,%s,%s\n", c.number, CsvField(ShownCp1250(c.module)).c_str(),
                     c.keyword.c_str(), c.port < 0 ? "" : std::to_string(c.port).c_str(),
                     c.bit < 0 ? "" : std::to_string(c.bit).c_str(), c.IsInput() ? "read" : "write",
                     c.type_code == kBoolean ? "bool" : "real", own == parameters.end() ? "" : own->second.c_str(),
                     c.parameter ? std::to_string(c.owner).c_str() : "");
    }
    const bool written = std::fflush(file) == 0 && std::ferror(file) == 0;
    std::fclose(file);
    if (!written) error = path + ": cannot be written: " + std::strerror(errno);
    return written;
}

}  // namespace tovihost
