#include "emulator/plant/plant.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "device_sim/device_sim.h"
#include "emulator/text/file_text.h"
#include "emulator/text/shown_text.h"

namespace tovihost {
namespace {

bool OneOf(const std::string& word, std::initializer_list<const char*> words) {
    return std::any_of(words.begin(), words.end(), [&](const char* w) { return word == w; });
}

std::uint32_t TypeOf(const ChannelEntry& entry) {
    if (entry.parameter) return entry.keyword == "cnt_event_read" ? kBoolean : kReal;
    return OneOf(entry.keyword, {"di_bit", "do_bit", "cnt_event_start", "alarm_config", "alarm_reset",
                                 "alarm_check_lo", "alarm_check_hi"})
               ? kBoolean
               : kReal;
}

// A real as the driver reads one from tovi.ini: an optional "+", then a number
// that fills the text; anything else (or a value that is not finite) is 0.
double TypeReal(const std::string& text) {
    std::string_view rest(text);
    if (!rest.empty() && rest.front() == '+') {
        rest.remove_prefix(1);
        if (!rest.empty() && rest.front() == '-') return 0.0;
    }
    double value = 0.0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value, std::chars_format::general);
    if (rest.empty() || error != std::errc{} || end != rest.data() + rest.size() || !std::isfinite(value)) return 0.0;
    return value;
}

// The display parameters of a module's type, read as the driver reads them: every
// "display_data" line of the type's PAR section (the key exactly so), the last one
// counting; its value (at most 255 characters) split at commas, each part trimmed.
void ReadDisplayParameters(const IniText& types, PlantModule& module) {
    const IniSection* section = types.Find(module.type.substr(0, 79) + " PAR");
    if (section == nullptr) return;
    for (const IniLine& line : section->lines) {
        if (line.key != "display_data") continue;
        const std::string value = line.value.substr(0, 255);
        module.display_min = TypeReal(Trim(Token(value, ",", 0)));
        module.display_max = TypeReal(Trim(Token(value, ",", 1)));
        module.display_sign = Lower(Trim(Token(value, ",", 2))) == "true";
    }
}

std::string Where(const IniText& file, std::uint32_t line) {
    return line == 0 ? file.path() : file.path() + ":" + std::to_string(line);
}

// The device list as the driver sees it: listed devices in list order, at most 100.
std::vector<devsim_device_info> ListedDevices(const std::vector<devsim_device_info>& devices) {
    std::vector<devsim_device_info> listed;
    for (const devsim_device_info& info : devices) {
        if (info.list_position >= 0 && info.list_position < 100) listed.push_back(info);
    }
    std::stable_sort(listed.begin(), listed.end(), [](const devsim_device_info& a, const devsim_device_info& b) {
        return a.list_position < b.list_position;
    });
    return listed;
}

bool NameHolds(const devsim_device_info& info, const std::string& token) {
    const std::string name(info.name, strnlen(info.name, DEVSIM_MAX_DEVICE_NAME));
    return name.find(token) != std::string::npos;
}

}  // namespace

bool PlantChannel::IsInput() const {
    if (parameter) return keyword == "cnt_event_read";
    return OneOf(keyword, {"ai", "cjc", "di_bit", "di_byte", "cnt_event_read", "cnt_freq_read", "alarm_check_lo",
                           "alarm_check_hi"});
}

bool PlantChannel::IsOutput() const {
    if (parameter) return keyword != "cnt_event_read";
    return !IsInput();
}

std::string PlantChannel::Function() const {
    std::string text = keyword;
    if (port >= 0) text += " " + std::to_string(port);
    if (bit >= 0) text += "." + std::to_string(bit);
    if (!parameter) return text;
    if (keyword == "ai") return text + " gain";
    if (keyword == "cnt_event_read") return text + " overflow";
    if (keyword == "cnt_event_start") return text + " gate";
    if (keyword == "alarm_config") return text + (parameter_index == 1 ? " low" : " high");
    return text + " parameter";
}

bool Plant::Load(const std::string& param_path, const std::string& types_path, std::string& error) {
    unreadable_ = false;
    for (const std::string& file : {param_path, types_path}) {
        if (!CheckTextFile(file, error)) {
            unreadable_ = true;
            return false;
        }
    }
    ConfigWalk walk;
    walk.Run(param_path, types_path);
    if (walk.fault()) {
        const ConfigFault& fault = *walk.fault();
        const std::string where = fault.place.file == nullptr ? param_path : Where(*fault.place.file, fault.place.line);
        error = where + ": " + ShownCp1250(fault.reason);
        return false;
    }
    path_ = param_path;
    channels_.clear();
    by_number_.clear();
    modules_.clear();
    for (const ModuleEntry& m : walk.modules()) {
        modules_.push_back({m.name, m.type, m.device, m.subdevice, m.line, -1, -1, {}, {}});
        ReadDisplayParameters(walk.types(), modules_.back());
    }
    for (const ChannelEntry& c : walk.channels()) {
        PlantChannel channel;
        channel.number = c.number;
        channel.module = c.module;
        channel.keyword = c.keyword;
        channel.port = c.port;
        channel.bit = c.bit;
        channel.type_code = TypeOf(c);
        channel.parameter = c.parameter;
        channel.owner = c.owner;
        channel.parameter_index = c.parameter_index;
        channel.line = c.line;
        by_number_[c.number] = channels_.size();
        channels_.push_back(channel);
    }
    debug_ = false;
    check_sum_ = false;
    settings_.clear();
    log_file_ = "tovi.log";
    if (const IniSection* settings = walk.parameters().Find("tovi")) {
        for (const char* key : {"log_file", "debug", "check_sum"}) {
            if (const IniLine* line = IniText::FindKey(*settings, key)) settings_[key] = {true, line->value, line->number};
        }
    }
    if (!Setting("log_file").value.empty()) log_file_ = Setting("log_file").value;
    debug_ = ParseBoolean(Lower(Setting("debug").value)).value_or(false);
    check_sum_ = ParseBoolean(Lower(Setting("check_sum").value)).value_or(false);
    return true;
}

PlantSetting Plant::Setting(const std::string& key) const {
    const auto found = settings_.find(key);
    return found == settings_.end() ? PlantSetting{} : found->second;
}

const PlantChannel* Plant::Find(std::int32_t number) const {
    const auto found = by_number_.find(number);
    return found == by_number_.end() ? nullptr : &channels_[found->second];
}

const PlantModule* Plant::FindModule(const std::string& name) const {
    for (const PlantModule& module : modules_) {
        if (module.name == name) return &module;
    }
    // A name typed on a terminal arrives in UTF-8; the file holds it in Windows-1250.
    for (const PlantModule& module : modules_) {
        if (ShownCp1250(module.name) == name) return &module;
    }
    return nullptr;
}

void Plant::ResolveDevices() {
    std::vector<devsim_device_info> devices;
    const std::int32_t count = devsim_device_count();
    for (std::int32_t i = 0; i < count; ++i) {
        devsim_device_info info{};
        if (devsim_device_info_at(i, &info) == 0) devices.push_back(info);
    }
    ResolveDevices(devices);
}

void Plant::ResolveDevices(const std::vector<devsim_device_info>& devices) {
    const std::vector<devsim_device_info> listed = ListedDevices(devices);
    for (PlantModule& module : modules_) {
        module.device_number = -1;
        module.listed_device = -1;
        module.device_candidates.clear();
        module.subdevice_candidates.clear();
        const devsim_device_info* device = nullptr;
        for (const devsim_device_info& info : listed) {
            if (!NameHolds(info, module.device)) continue;
            device = &info;
            module.device_candidates.push_back(info.number);
        }
        if (device == nullptr) continue;
        module.listed_device = device->number;
        if (device->subdevice_count <= 0) {
            module.device_number = device->number;
            continue;
        }
        std::int32_t seen = 0;
        for (const devsim_device_info& info : devices) {
            if (seen >= device->subdevice_count) break;
            if (info.parent != device->number) continue;
            ++seen;
            if (!NameHolds(info, module.subdevice)) continue;
            module.device_number = info.number;
            module.subdevice_candidates.push_back(info.number);
        }
    }
}

std::optional<devsim_device_info> DeviceInfo(std::int64_t number) {
    const std::int32_t count = devsim_device_count();
    for (std::int32_t i = 0; i < count; ++i) {
        devsim_device_info info{};
        if (devsim_device_info_at(i, &info) == 0 && info.number == number) return info;
    }
    return std::nullopt;
}

std::string Plant::LogPath(const std::string& log_directory) const {
    namespace fs = std::filesystem;
    if (log_file_.find_first_of("/\\:") != std::string::npos) return log_file_;
    std::error_code ignored;
    const fs::path directory = log_directory.empty() ? fs::current_path(ignored) : fs::path(log_directory);
    return (directory / log_file_).string();
}

const PlantModule* Plant::ModuleOnDevice(std::int64_t device_number) const {
    for (const PlantModule& module : modules_) {
        if (module.device_number == device_number && device_number >= 0) return &module;
    }
    return nullptr;
}

bool FaultLine(const Plant& plant, const std::string& fault, std::string& line, std::string& error) {
    line.clear();
    bool quoted = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= fault.size(); ++i) {
        if (i < fault.size() && fault[i] == '"' && (i == 0 || fault[i - 1] != '\\')) quoted = !quoted;
        if (i < fault.size() && (quoted || fault[i] != ' ')) continue;
        const std::string word = fault.substr(start, i - start);
        start = i + 1;
        if (word.empty()) continue;
        if (word.rfind("module=", 0) == 0) {
            const PlantModule* module = plant.FindModule(word.substr(7));
            if (module == nullptr) {
                error = "no module " + word.substr(7) + " in " + plant.path();
                return false;
            }
            if (module->device_number < 0) {
                error = "module " + module->name + " has no device in the device set";
                return false;
            }
            line += (line.empty() ? "" : " ") + std::string("device=") + std::to_string(module->device_number);
        } else {
            line += (line.empty() ? "" : " ") + word;
        }
    }
    if (quoted) {
        error = "a quotation mark is not closed";
        return false;
    }
    return true;
}

std::string TypesPathBeside(const std::string& driver_path) {
    const auto slash = driver_path.find_last_of("/\\");
    return (slash == std::string::npos ? std::string() : driver_path.substr(0, slash + 1)) + "tovi.ini";
}

std::string DefaultDeviceSet(const std::string& param_path) {
    namespace fs = std::filesystem;
    std::error_code ignored;
    const fs::path param(param_path);
    const fs::path directory = param.parent_path();
    const std::string name = param.stem().string() + ".devices";
    for (const fs::path& candidate : {directory / "devices" / name, directory / name}) {
        if (fs::is_regular_file(candidate, ignored)) return candidate.string();
    }
    return "";
}

bool LoadDeviceSet(const std::string& path, std::string& error) {
    if (!CheckTextFile(path, error, kLargestDeviceSet)) return false;
    error = devsim::LoadFile(path);
    return error.empty();
}

void UnloadDeviceSet() { devsim_unload(); }

std::optional<double> ParseNumber(const std::string& text) {
    if (text.empty() || text.front() == ' ') return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size()) return std::nullopt;
    return value;
}

std::optional<bool> ParseBoolean(const std::string& text) {
    if (text == "true" || text == "1" || text == "on" || text == "yes") return true;
    if (text == "false" || text == "0" || text == "off" || text == "no") return false;
    return std::nullopt;
}

bool ParseChannelValue(const std::string& text, const PlantChannel& channel, ChannelValue& value,
                       std::string& error) {
    std::uint32_t type = channel.type_code;
    std::string word = text;
    if (word.rfind("real:", 0) == 0) {
        type = kReal;
        word = word.substr(5);
    } else if (word.rfind("bool:", 0) == 0) {
        type = kBoolean;
        word = word.substr(5);
    }
    value = ChannelValue{};
    value.channel = channel.number;
    value.type_code = type;
    if (type == kBoolean) {
        const auto parsed = ParseBoolean(Lower(word));
        if (!parsed) {
            error = "channel " + std::to_string(channel.number) + " (" + channel.Function() +
                    ") takes a boolean (true, false, on, off, 1, 0), not \"" + word + "\"";
            return false;
        }
        value.boolean = *parsed;
        return true;
    }
    const auto parsed = ParseNumber(word);
    if (!parsed) {
        error = "channel " + std::to_string(channel.number) + " (" + channel.Function() +
                ") takes a number, not \"" + word + "\"";
        return false;
    }
    value.real = *parsed;
    return true;
}

std::string FormatNumber(double number) {
    // to_chars writes what printf's "%.0f" and "%.6g" write, in a fraction of the time.
    char text[64];
    if (number == 0) return "0";
    const bool whole = std::isfinite(number) && number == std::trunc(number) && std::fabs(number) < 1e15;
    const auto written = whole ? std::to_chars(text, text + sizeof text, number, std::chars_format::fixed, 0)
                               : std::to_chars(text, text + sizeof text, number, std::chars_format::general, 6);
    if (written.ec != std::errc()) return "?";
    return std::string(text, written.ptr);
}

std::string FormatValue(const ChannelValue& value) {
    if (value.type_code == kBoolean) return value.boolean ? "true" : "false";
    if (value.type_code == kReal) return FormatNumber(value.real);
    return "-";
}

}  // namespace tovihost
