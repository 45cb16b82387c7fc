#include "emulator/plant/config_walk.h"

#include <utility>

#include "diagnostics/messages.h"

namespace tovihost {
namespace {

namespace messages = tovi::messages;

// Lengths the driver's buffers give the texts it reads.
constexpr std::size_t kKeyLength = 80;
constexpr std::size_t kValueLength = 255;
constexpr std::size_t kNameLength = 79;
constexpr std::size_t kPathLength = 259;

struct Keyword {
    const char* word;
    std::int32_t io_type;
    std::uint32_t parameters;  // parameter channels after the channel number
    bool required;             // whether they must be given
};

constexpr Keyword kKeywords[] = {
    {"ai", 1, 1, false},           {"ao", 2, 0, false},           {"cjc", 3, 0, false},
    {"di_bit", 4, 0, false},       {"do_bit", 5, 0, false},       {"di_byte", 6, 0, false},
    {"do_byte", 7, 0, false},      {"cnt_event_read", 8, 1, false}, {"cnt_event_start", 9, 1, true},
    {"cnt_freq_read", 10, 0, false}, {"alarm_config", 12, 2, true}, {"alarm_enable", 13, 0, false},
    {"alarm_reset", 14, 0, false}, {"alarm_check_lo", 15, 0, false}, {"alarm_check_hi", 16, 0, false},
    {"display_select", 17, 0, false}, {"display_data", 18, 0, false},
};

const Keyword* FindKeyword(const std::string& lowered) {
    for (const Keyword& keyword : kKeywords) {
        if (lowered == keyword.word) return &keyword;
    }
    return nullptr;
}

template <class Text>
std::string Text1250(const Text& text) {
    return std::string(text.c_str());
}

template <class Text>
std::string Quoting(const Text& text, const std::string& quoted) {
    return Text1250(text) + " (" + quoted + ")";
}

// Key and value of a line as the driver's buffers hold them.
std::string KeyOf(const IniLine& line) { return Trim(line.key.substr(0, kKeyLength)); }
std::string ValueOf(const IniLine& line) { return line.value.substr(0, kValueLength); }

bool IsComment(const std::string& key) { return key.empty() || key.front() == ';'; }

// "the key has N characters, at most 80 fit" for a line too long for the driver's
// buffers, or empty when it fits.
std::string TooLong(const IniLine& line) {
    const std::string key = Trim(line.key);
    const std::string value = Trim(line.value);
    if (key.size() > kKeyLength) {
        return "the line is too long: its key has " + std::to_string(key.size()) + " characters, at most " +
               std::to_string(kKeyLength) + " fit";
    }
    if (value.size() > kValueLength) {
        return "the line is too long: its value has " + std::to_string(value.size()) + " characters, at most " +
               std::to_string(kValueLength) + " fit";
    }
    return "";
}

// The last token of text, which is where a cut ended it, and its index.
std::size_t LastToken(const std::string& text, const char* delimiters, std::string& token) {
    std::size_t last = 0;
    for (std::size_t index = 0;; ++index) {
        const std::string probe = Token(text, delimiters, index);
        if (probe.empty()) return last;
        last = index;
        token = probe;
    }
}

}  // namespace

std::vector<std::string> IoKeywords() {
    std::vector<std::string> words;
    for (const Keyword& keyword : kKeywords) words.emplace_back(keyword.word);
    return words;
}

void ConfigWalk::Run(const std::string& param_path, const std::string& types_path) {
    if (!parameters_.Load(param_path)) {
        Fail(Text1250(messages::kCannotOpenParameterFile), InParameters(0),
             "cannot be read: " + parameters_.reason());
        return;
    }
    if (!types_.Load(types_path)) {
        Fail(Text1250(messages::kCannotOpenTypeDatabase), InTypes(0),
             "the module-type database cannot be read: " + types_.reason());
        return;
    }
    if (parameters_.Find("tovi") == nullptr) {
        Fail(Text1250(messages::kInvalidParameterFile), InParameters(0), "the file has no section [tovi]");
        return;
    }
    const IniSection* modules = parameters_.Find("modules");
    if (modules == nullptr) {
        Fail(Text1250(messages::kInvalidParameterFile), InParameters(0), "the file has no section [modules]");
        return;
    }
    if (const IniLine* log = IniText::FindKey(*parameters_.Find("tovi"), "log_file");
        log != nullptr && Trim(log->value).size() > kPathLength) {
        Fail(Text1250(messages::kInvalidParameterFile), InParameters(log->number),
             "the log file's name has " + std::to_string(Trim(log->value).size()) + " characters, at most " +
                 std::to_string(kPathLength) + " fit");
        return;
    }
    if (!ReadModules(*modules)) return;
    for (const ModuleEntry& module : modules_) {
        const IniSection* section = parameters_.Find(module.name);
        if (section == nullptr) {
            Fail(Text1250(messages::kModuleSectionMissing), InParameters(module.line),
                 "module " + module.name + " has no section [" + module.name + "]");
            return;
        }
        for (const IniLine& line : section->lines) {
            if (IsComment(KeyOf(line))) continue;
            if (!ReadChannelLine(module, line)) return;
        }
    }
}

bool ConfigWalk::ReadModules(const IniSection& section) {
    if (section.lines.empty()) {
        if (section.comment_count != 0) return true;
        return Fail(Text1250(messages::kNoModuleDefined), InParameters(section.header_number),
                    "the section lists no module");
    }
    for (const IniLine& line : section.lines) {
        const std::string key = KeyOf(line);
        if (IsComment(key)) continue;
        if (const std::string too_long = TooLong(line); !too_long.empty()) {
            return Fail(Text1250(messages::kInvalidParameterFile), InParameters(line.number), too_long);
        }
        for (const ModuleEntry& earlier : modules_) {
            if (earlier.name == key) {
                return Fail(Quoting(messages::kModuleNameExists, key), InParameters(line.number),
                            "module " + key + " is defined twice",
                            {{"first defined here", InParameters(earlier.line)}});
            }
        }
        const std::string value = ValueOf(line);
        ModuleEntry module;
        module.name = key.substr(0, kNameLength);
        module.type = Trim(Token(value, ",", 0)).substr(0, kNameLength);
        module.device = Trim(Token(value, ",", 1)).substr(0, kNameLength);
        module.subdevice = Trim(Token(value, ",", 2)).substr(0, kNameLength);
        module.line = line.number;
        modules_.push_back(module);
    }
    return true;
}

bool ConfigWalk::ReadChannelLine(const ModuleEntry& module, const IniLine& line) {
    const std::string key = KeyOf(line);
    const std::string value = ValueOf(line);
    const Place here = InParameters(line.number);
    if (const std::string too_long = TooLong(line); !too_long.empty()) return RefuseCut(line, too_long);

    const std::string word = Lower(Token(key, " ,", 0));
    const Keyword* keyword = FindKeyword(word);
    if (keyword == nullptr) {
        return Fail(Quoting(messages::kUnknownIoType, word), here, "\"" + word + "\" is no I/O keyword");
    }
    std::int32_t port = -1;
    std::int32_t bit = -1;
    if (keyword->io_type != 17 && keyword->io_type != 18) {
        const std::string port_token = Token(key, " ,", 1);
        const auto parsed_port = Decimal(port_token);
        if (!parsed_port) {
            return Fail(Quoting(messages::kInvalidPortNumber, port_token), here,
                        port_token.empty() ? "the port number is missing" : "the port is not a decimal number");
        }
        port = *parsed_port;
        if (keyword->io_type == 4 || keyword->io_type == 5) {
            const std::string bit_token = Token(key, " ,", 2);
            const auto parsed_bit = Decimal(bit_token);
            if (!parsed_bit) {
                return Fail(Quoting(messages::kInvalidBitNumber, bit_token), here,
                            bit_token.empty() ? "the bit number is missing" : "the bit is not a decimal number");
            }
            bit = *parsed_bit;
        }
    }
    const std::string number_token = Token(value, " ,", 0);
    const auto number = Decimal(number_token);
    if (!number) {
        return Fail(Quoting(messages::kInvalidChannelNumber, number_token), here,
                    number_token.empty() ? "the channel number is missing"
                                         : "the channel number is not a decimal number within 32 bits");
    }
    if (!Validate(module, line, keyword->io_type, port, bit)) return false;
    ChannelEntry entry;
    entry.number = *number;
    entry.keyword = keyword->word;
    entry.module = module.name;
    entry.port = port;
    entry.bit = bit;
    if (!Register(entry, line)) return false;

    for (std::size_t index = 1; index <= keyword->parameters; ++index) {
        const std::string token = Token(value, " ,", index);
        if (token.empty()) {
            if (!keyword->required) return true;
            return Fail(Quoting(messages::kParameterChannelExpected, std::to_string(*number)), here,
                        std::string("a \"") + keyword->word + "\" channel needs " +
                            (keyword->parameters == 2 ? "two parameter channels" : "a parameter channel"));
        }
        const auto parameter = Decimal(token);
        if (!parameter) {
            return Fail(Quoting(messages::kInvalidChannelNumber, token), here,
                        "the parameter channel is not a decimal number within 32 bits");
        }
        ChannelEntry link = entry;
        link.number = *parameter;
        link.parameter = true;
        link.owner = *number;
        link.parameter_index = static_cast<std::uint32_t>(index);
        if (!Register(link, line)) return false;
    }
    return true;
}

bool ConfigWalk::RefuseCut(const IniLine& line, const std::string& reason) {
    const Place here = InParameters(line.number);
    // The texts as the driver's buffers hold them after the cut.
    const std::string full_key = Trim(line.key);
    const bool key_cut = full_key.size() > kKeyLength;
    const std::string cut = key_cut ? full_key.substr(0, kKeyLength) : Trim(line.value).substr(0, kValueLength);
    const bool between = cut.back() == ' ' || cut.back() == ',';
    std::string token;
    std::size_t index = LastToken(cut, " ,", token);
    if (between) {
        token.clear();
        ++index;
    }
    if (!key_cut) return Fail(Quoting(messages::kInvalidChannelNumber, token), here, reason);
    if (index == 0) return Fail(Quoting(messages::kUnknownIoType, Lower(token)), here, reason);
    const Keyword* keyword = FindKeyword(Lower(Token(cut, " ,", 0)));
    const bool bit = index >= 2 && keyword != nullptr && (keyword->io_type == 4 || keyword->io_type == 5);
    if (bit) return Fail(Quoting(messages::kInvalidBitNumber, token), here, reason);
    return Fail(Quoting(messages::kInvalidPortNumber, token), here, reason);
}

bool ConfigWalk::Validate(const ModuleEntry& module, const IniLine& line, std::int32_t io_type, std::int32_t port,
                          std::int32_t bit) {
    const Place here = InParameters(line.number);
    const IniSection* type = types_.Find(module.type);
    if (type == nullptr) {
        return Fail(Text1250(messages::kModuleWord) + " " + module.type + " " +
                        Text1250(messages::kNotFoundInTypeDatabase),
                    here, "the module type \"" + module.type + "\" is not in " + types_.path(),
                    {{"module " + module.name + " is defined here", InParameters(module.line)}});
    }
    std::string key = "internal";
    if (port != -1) {
        key = std::to_string(port);
        if (bit != -1) key += ", " + std::to_string(bit);
    }
    const IniLine* entry = IniText::FindKey(*type, key);
    if (entry == nullptr) {
        return Fail(module.name + ": " + Quoting(messages::kPortNumberInvalid, key), here,
                    "type " + module.type + " has no port \"" + key + "\"",
                    {{"the ports of type " + module.type + " are listed here", InTypes(type->header_number)}});
    }
    const std::string allowed = entry->value.substr(0, kValueLength);
    if (entry->value.size() > kValueLength) {
        std::string last;
        LastToken(allowed, ",", last);
        return Fail(Quoting(messages::kUnknownPortTypeInDatabase, Lower(Trim(last))), InTypes(entry->number),
                    "the line is too long: its value has " + std::to_string(entry->value.size()) +
                        " characters, at most " + std::to_string(kValueLength) + " fit",
                    {{"checked for this channel", here}});
    }
    for (std::size_t index = 0;; ++index) {
        const std::string word = Lower(Trim(Token(allowed, ",", index)));
        if (word.empty()) {
            return Fail(module.name + ": " + Quoting(messages::kPortTypeInvalid, key), here,
                        "port \"" + key + "\" of type " + module.type + " does not allow this keyword",
                        {{"what the port allows", InTypes(entry->number)}});
        }
        const Keyword* keyword = FindKeyword(word);
        if (keyword == nullptr) {
            return Fail(Quoting(messages::kUnknownPortTypeInDatabase, word), InTypes(entry->number),
                        "\"" + word + "\" is no I/O keyword", {{"checked for this channel", here}});
        }
        if (keyword->io_type == io_type) return true;
    }
}

bool ConfigWalk::Register(ChannelEntry entry, const IniLine& line) {
    const std::int32_t number = entry.number;
    if (const auto earlier = first_use_.find(number); earlier != first_use_.end()) {
        return Fail(Quoting(messages::kDuplicateChannelNumber, std::to_string(number)), InParameters(line.number),
                    "channel " + std::to_string(number) + " is used twice",
                    {{"first used here", InParameters(earlier->second)}});
    }
    first_use_.emplace(number, line.number);
    entry.line = line.number;
    channels_.push_back(std::move(entry));
    return true;
}

bool ConfigWalk::Fail(std::string message, Place place, std::string reason, std::vector<Note> notes) {
    fault_ = ConfigFault{std::move(message), place, std::move(reason), std::move(notes)};
    return false;
}

}  // namespace tovihost
