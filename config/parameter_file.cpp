#include "config/parameter_file.h"

#include "diagnostics/messages.h"
#include "driver/driver_instance.h"
#include "host/ini_file.h"
#include "platform/platform.h"

namespace tovi {
namespace {

constexpr host::Cap kKeyCapacity = 79;

template <class Text>
bool Fail(host::Cap capacity, char* message, const Text& text) {
    host::StrCopy(capacity, message, text.capacity(), text.c_str());
    return false;
}

void ReadSettings(DriverInstance& driver, host::IniFile& file) {
    if (!file.ReadString(kKeyCapacity, "log_file", kPathCapacity, driver.log_path)) {
        host::StrCopy(kPathCapacity, driver.log_path, kPathCapacity, "tovi.log");
    }
    host::Flag on = 0;
    if (file.ReadBool(kKeyCapacity, "debug", &on) && on != 0) driver.settings |= kSettingDebug;
    on = 0;
    if (file.ReadBool(kKeyCapacity, "check_sum", &on) && on != 0) driver.settings |= kSettingCheckSum;
}

}  // namespace

const char* DriverFileName() {
#if defined(_WIN32)
    return "tovi.dll";
#else
    return "libtovi.so";
#endif
}

void DriverDirectory(host::Cap capacity, char* directory) {
    if (!platform::CurrentDirectory(capacity, directory)) directory[0] = '\0';
    char path[kPathCapacity + 1];
    if (platform::LoadedFilePath(reinterpret_cast<const void*>(&DriverDirectory), DriverFileName(), kPathCapacity,
                                 path)) {
        const char separator[2] = {platform::DirectorySeparator(), '\0'};
        const std::int32_t last = host::StrFindLastChar(kPathCapacity, path, separator[0]);
        if (last >= 0) {
            host::StrDelete(kPathCapacity, path, last + 1, -1);
            host::StrCopy(capacity, directory, kPathCapacity, path);
        }
    }
    const std::uint32_t length = host::StrLength(capacity, directory);
    if (length == 0 || directory[length - 1] != platform::DirectorySeparator()) {
        const char separator[2] = {platform::DirectorySeparator(), '\0'};
        host::StrAppend(capacity, directory, 1, separator);
    }
}

bool ReadParameterFile(DriverInstance& driver, host::Cap param_capacity, const char* param_path,
                       host::Cap message_capacity, char* message) {
    host::IniFile parameters;
    const bool ok = [&] {
        if (!parameters.Open(param_capacity, param_path)) {
            return Fail(message_capacity, message, messages::kCannotOpenParameterFile);
        }
        if (!parameters.FindSection(4, "tovi")) return Fail(message_capacity, message, messages::kInvalidParameterFile);
        ReadSettings(driver, parameters);
        if (!parameters.FindSection(7, "modules")) {
            return Fail(message_capacity, message, messages::kInvalidParameterFile);
        }
        return true;
    }();
    parameters.Close();
    return ok;
}

}  // namespace tovi
