#include "config/parameter_file.h"

#include <new>
#include <string_view>
#include <unordered_set>

#include "config/channel_line.h"
#include "config/fault_message.h"
#include "config/module.h"
#include "config/module_types.h"
#include "config/reader_context.h"
#include "diagnostics/messages.h"
#include "driver/driver_instance.h"
#include "host/driver_api.h"
#include "host/ini_file.h"
#include "host/memory.h"
#include "platform/platform.h"

namespace tovi {
namespace {

constexpr host::Cap kSettingKeyCapacity = 79;
constexpr host::Cap kNameCapacity = 79;
constexpr auto kTypeDatabaseName = "tovi.ini";

bool IsCommentKey(const char* key) { return key[0] == '\0' || key[0] == ';'; }

// Whether a text ends in one of the channel line's token separators.
bool EndsInSeparator(const char* text) {
    const std::uint32_t length = host::StrLength(kLineValueCapacity, text);
    return length != 0 && (text[length - 1] == ' ' || text[length - 1] == ',');
}

// False when the log file's name does not fit: cut, it would name another file.
bool ReadSettings(DriverInstance& driver, host::IniFile& file) {
    // An empty name counts as none: the log keeps its default file.
    if (!file.ReadString(kSettingKeyCapacity, "log_file", kPathCapacity, driver.log_path) ||
        driver.log_path[0] == '\0') {
        host::StrCopy(kPathCapacity, driver.log_path, kPathCapacity, "tovi.log");
    } else if (file.ValueCut()) {
        return false;
    }
    host::Flag on = 0;
    if (file.ReadBool(kSettingKeyCapacity, "debug", &on) && on != 0) driver.settings |= kSettingDebug;
    on = 0;
    if (file.ReadBool(kSettingKeyCapacity, "check_sum", &on) && on != 0) driver.settings |= kSettingCheckSum;
    return true;
}

// Definition token index of a "modules" value (delimiter ","), trimmed, into field.
void DefinitionToken(const char* value, std::int32_t index, char* field) {
    char token[kLineValueCapacity + 1];
    host::StrToken(kLineValueCapacity, token, kLineValueCapacity, value, 0, ",", index);
    host::StrTrim(kLineValueCapacity, token);
    host::StrCopy(kNameCapacity, field, kLineValueCapacity, token);
}

class Reader {
public:
    Reader(DriverInstance& driver, host::IniFile& parameters, host::IniFile& types, host::Cap capacity,
           char* message)
        : context_{driver, types}, parameters_(parameters), capacity_(capacity), message_(message) {}

    // Steps after both files are open.
    bool Read() {
        if (!parameters_.FindSection(4, "tovi")) return Fault(capacity_, message_, messages::kInvalidParameterFile);
        if (!ReadSettings(context_.driver, parameters_)) {
            return Fault(capacity_, message_, messages::kInvalidParameterFile);
        }
        if (!parameters_.FindSection(7, "modules")) {
            return Fault(capacity_, message_, messages::kInvalidParameterFile);
        }
        return ReadModules() && ReadChannels();
    }

private:
    bool ReadModules() {
        if (!parameters_.FirstLine(kLineKeyCapacity, key_, kLineValueCapacity, value_)) {
            // A section holding nothing but comments declares a plant without modules.
            if (parameters_.CommentLineCount() != 0) return true;
            return Fault(capacity_, message_, messages::kNoModuleDefined);
        }
        // Module names seen so far, for the duplicate test without a walk per line.
        std::unordered_set<std::string_view> names;
        try {
            do {
                host::StrTrim(kLineKeyCapacity, key_);
                if (IsCommentKey(key_)) continue;
                // A name or a device text cut short could name another module or device.
                if (parameters_.KeyCut() || parameters_.ValueCut()) {
                    return Fault(capacity_, message_, messages::kInvalidParameterFile);
                }
                if (names.contains(std::string_view(key_))) {
                    return FaultQuoting(capacity_, message_, messages::kModuleNameExists, kLineKeyCapacity, key_);
                }
                Module* module = host::NewObject<Module>();
                if (module == nullptr) return FaultInternal(capacity_, message_);
                context_.driver.modules.Add(module);
                module->SetDriver(&context_.driver);
                host::StrCopy(kNameCapacity, module->name, kLineKeyCapacity, key_);
                names.insert(std::string_view(module->name));
                DefinitionToken(value_, 0, module->type);
                DefinitionToken(value_, 1, module->device);
                DefinitionToken(value_, 2, module->subdevice);
                ReadDisplayParameters(context_.types, *module);
            } while (parameters_.NextLine(kLineKeyCapacity, key_, kLineValueCapacity, value_));
        } catch (const std::bad_alloc&) {
            return FaultInternal(capacity_, message_);
        }
        return true;
    }

    bool ReadChannels() {
        Module* module = nullptr;
        for (bool more = context_.driver.modules.First(&module); more; more = context_.driver.modules.Next(&module)) {
            if (!parameters_.FindSection(kNameCapacity, module->name)) {
                return Fault(capacity_, message_, messages::kModuleSectionMissing);
            }
            for (bool line = parameters_.FirstLine(kLineKeyCapacity, key_, kLineValueCapacity, value_); line;
                 line = parameters_.NextLine(kLineKeyCapacity, key_, kLineValueCapacity, value_)) {
                const bool key_cut = parameters_.KeyCut();
                const bool value_cut = parameters_.ValueCut();
                const bool between = key_cut ? EndsInSeparator(key_) : EndsInSeparator(value_);
                host::StrTrim(kLineKeyCapacity, key_);
                if (IsCommentKey(key_)) continue;
                if (key_cut || value_cut) {
                    return RefuseCutChannelLine(key_, value_, key_cut, between, capacity_, message_);
                }
                if (!ReadChannelLine(context_, *module, key_, value_, capacity_, message_)) return false;
            }
        }
        return true;
    }

    ReaderContext context_;
    host::IniFile& parameters_;
    host::Cap capacity_;
    char* message_;
    char key_[kLineKeyCapacity + 1] = {};
    char value_[kLineValueCapacity + 1] = {};
};

}  // namespace

const char* DriverFileName() {
#if defined(_WIN32)
    return "tovi.dll";
#else
    return "libtovi.so";
#endif
}

bool DriverDirectory(host::Cap capacity, char* directory) {
    directory[0] = '\0';
    char path[kPathCapacity + 1];
    bool too_long = false;
    if (platform::LoadedFilePath(reinterpret_cast<const void*>(&DriverDirectory), DriverFileName(), kPathCapacity,
                                 path, &too_long)) {
        const std::int32_t last = host::StrFindLastChar(kPathCapacity, path, platform::DirectorySeparator());
        if (last >= 0) {
            host::StrDelete(kPathCapacity, path, last + 1, -1);
            host::StrCopy(capacity, directory, kPathCapacity, path);
        }
    } else if (too_long) {
        return false;  // the driver's own directory does not fit: never take another one for it
    }
    // A driver loaded under another file name looks in the current directory.
    if (directory[0] == '\0' && !platform::CurrentDirectory(capacity, directory)) return false;
    const std::uint32_t length = host::StrLength(capacity, directory);
    if (length == 0) return false;
    if (directory[length - 1] != platform::DirectorySeparator()) {
        if (length >= capacity) return false;
        const char separator[2] = {platform::DirectorySeparator(), '\0'};
        host::StrAppend(capacity, directory, 0, separator);
    }
    return true;
}

bool ReadParameterFile(DriverInstance& driver, host::Cap param_capacity, const char* param_path,
                       host::Cap message_capacity, char* message) {
    host::IniFile types;
    host::IniFile parameters;
    const bool ok = [&] {
        if (!parameters.Open(param_capacity, param_path)) {
            return Fault(message_capacity, message, messages::kCannotOpenParameterFile);
        }
        char directory[kPathCapacity + 1];
        if (!DriverDirectory(kPathCapacity, directory)) {
            return Fault(message_capacity, message, messages::kCannotOpenTypeDatabase);
        }
        char types_path[kPathCapacity + 1] = {};
        qs_dapi::MakePath(driver.host_context, kPathCapacity, types_path, kPathCapacity, directory, 8,
                          kTypeDatabaseName);
        if (!types.Open(kPathCapacity, types_path)) {
            return Fault(message_capacity, message, messages::kCannotOpenTypeDatabase);
        }
        Reader reader(driver, parameters, types, message_capacity, message);
        return reader.Read();
    }();
    parameters.Close();
    types.Close();
    return ok;
}

}  // namespace tovi
