#include "config/module_types.h"

#include "config/channel.h"
#include "config/fault_message.h"
#include "config/io_type.h"
#include "config/module.h"
#include "config/reader_context.h"
#include "diagnostics/messages.h"
#include "host/ini_file.h"

namespace tovi {
namespace {

constexpr host::Cap kNameCapacity = 79;
constexpr host::Cap kNumberCapacity = 31;
// "port, bit" at most: two signed 32-bit numbers and the separator.
constexpr host::Cap kPortKeyCapacity = 31;
// A type name and " PAR".
constexpr host::Cap kParSectionCapacity = kNameCapacity + 4;

// The key a channel is looked up under: "internal" without a port, else the port
// and, for a bit channel, ", " and the bit.
void PortKey(const Channel& channel, char* key) {
    if (channel.port == -1) {
        host::StrCopy(kPortKeyCapacity, key, 7, "internal");
        return;
    }
    host::IntToStr(channel.port, kPortKeyCapacity, key, 10, nullptr);
    if (channel.bit != -1) {
        char bit[kNumberCapacity + 1];
        host::IntToStr(channel.bit, kNumberCapacity, bit, 10, nullptr);
        host::StrAppend(kPortKeyCapacity, key, 1, ", ");
        host::StrAppend(kPortKeyCapacity, key, kNumberCapacity, bit);
    }
}

// Token index of a " PAR" value (delimiter ","), trimmed.
void ParToken(const char* value, std::int32_t index, char* token) {
    host::StrToken(kTypeValueCapacity, token, kTypeValueCapacity, value, 0, ",", index);
    host::StrTrim(kTypeValueCapacity, token);
}

}  // namespace

bool ValidateChannel(ReaderContext& context, const Module& module, const Channel& channel, host::Cap capacity,
                     char* message) {
    if (!context.types.FindSection(kNameCapacity, module.type)) {
        host::StrConcat(capacity, message, messages::kModuleWord.capacity(), messages::kModuleWord.c_str(), 0, " ");
        host::StrAppend(capacity, message, kNameCapacity, module.type);
        host::StrAppend(capacity, message, 0, " ");
        host::StrAppend(capacity, message, messages::kNotFoundInTypeDatabase.capacity(),
                        messages::kNotFoundInTypeDatabase.c_str());
        return false;
    }
    char key[kPortKeyCapacity + 1];
    PortKey(channel, key);
    char allowed[kTypeValueCapacity + 1];
    if (!context.types.ReadString(kPortKeyCapacity, key, kTypeValueCapacity, allowed)) {
        host::StrConcat(capacity, message, kNameCapacity, module.name, 1, ": ");
        host::StrAppend(capacity, message, messages::kPortNumberInvalid.capacity(),
                        messages::kPortNumberInvalid.c_str());
        AppendQuoted(capacity, message, kPortKeyCapacity, key);
        return false;
    }
    char word[kTypeValueCapacity + 1];
    if (context.types.ValueCut()) {
        // The list did not fit: its last word is cut short and any after it are lost.
        char last[kTypeValueCapacity + 1] = {};
        for (std::int32_t index = 0;; ++index) {
            host::StrToken(kTypeValueCapacity, word, kTypeValueCapacity, allowed, 0, ",", index);
            host::StrTrim(kTypeValueCapacity, word);
            if (word[0] == '\0') break;
            host::StrCopy(kTypeValueCapacity, last, kTypeValueCapacity, word);
        }
        host::StrLower(kTypeValueCapacity, last);
        return FaultQuoting(capacity, message, messages::kUnknownPortTypeInDatabase, kTypeValueCapacity, last);
    }
    for (std::int32_t index = 0;; ++index) {
        host::StrToken(kTypeValueCapacity, word, kTypeValueCapacity, allowed, 0, ",", index);
        host::StrTrim(kTypeValueCapacity, word);
        if (word[0] == '\0') {
            host::StrConcat(capacity, message, kNameCapacity, module.name, 1, ": ");
            host::StrAppend(capacity, message, messages::kPortTypeInvalid.capacity(),
                            messages::kPortTypeInvalid.c_str());
            AppendQuoted(capacity, message, kPortKeyCapacity, key);
            return false;
        }
        const IoTypeMatch match = IoTypeFromKeyword(kTypeValueCapacity, word);
        if (!match.found) {
            return FaultQuoting(capacity, message, messages::kUnknownPortTypeInDatabase, kTypeValueCapacity, word);
        }
        if (match.io_type == channel.io_type) return true;
    }
}

void ReadDisplayParameters(host::IniFile& types, Module& module) {
    char section[kParSectionCapacity + 1];
    host::StrConcat(kParSectionCapacity, section, kNameCapacity, module.type, 3, " PAR");
    if (!types.FindSection(kParSectionCapacity, section)) return;

    char key[kNameCapacity + 1];
    char value[kTypeValueCapacity + 1];
    char token[kTypeValueCapacity + 1];
    for (bool more = types.FirstLine(kNameCapacity, key, kTypeValueCapacity, value); more;
         more = types.NextLine(kNameCapacity, key, kTypeValueCapacity, value)) {
        if (host::StrCompare(kNameCapacity, key, 13, "display_select") == 0) {
            for (std::int32_t i = 0; i < 2; ++i) {
                ParToken(value, i, token);
                module.display_select[i] = host::StrToInt(kTypeValueCapacity, token, 10, nullptr);
            }
        } else if (host::StrCompare(kNameCapacity, key, 11, "display_data") == 0) {
            ParToken(value, 0, token);
            module.display_min = host::StrToReal(kTypeValueCapacity, token, nullptr);
            ParToken(value, 1, token);
            module.display_max = host::StrToReal(kTypeValueCapacity, token, nullptr);
            ParToken(value, 2, token);
            host::StrLower(kTypeValueCapacity, token);
            module.display_sign = host::StrCompare(kTypeValueCapacity, token, 3, "true") == 0 ? 1 : 0;
        }
    }
}

}  // namespace tovi
