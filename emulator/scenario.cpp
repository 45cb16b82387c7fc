#include "emulator/scenario.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "device_sim/device_sim.h"
#include "diagnostics/cp1250.h"
#include "emulator/commands.h"
#include "emulator/device_view.h"
#include "emulator/file_text.h"
#include "emulator/shown_text.h"

namespace tovihost {
namespace {

namespace fs = std::filesystem;

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

std::string Joined(const std::vector<std::int32_t>& numbers) {
    std::string text;
    for (const std::int32_t n : numbers) text += (text.empty() ? "" : ", ") + std::to_string(n);
    return text;
}

// The line without its comment: "#" outside quotes where a word begins.
std::string WithoutComment(const std::string& text) {
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (quoted && text[i] == '\\') {
            ++i;
        } else if (text[i] == '"') {
            quoted = !quoted;
        } else if (!quoted && text[i] == '#' && (i == 0 || IsSpace(text[i - 1]))) {
            return text.substr(0, i);
        }
    }
    return text;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<double> NumberOrBoolean(const std::string& text) {
    if (const auto number = ParseNumber(text)) return number;
    if (const auto boolean = ParseBoolean(Lower(text))) return *boolean ? 1.0 : 0.0;
    return std::nullopt;
}

std::string Quote(const std::string& text) { return "\"" + Escaped(text) + "\""; }

bool Near(double got, double expected, std::optional<double> tolerance) {
    if (std::isnan(expected)) return std::isnan(got);
    if (std::isinf(expected)) return got == expected;
    const double allowed = tolerance ? *tolerance : 1e-6 * std::max(1.0, std::fabs(expected));
    return std::fabs(got - expected) <= allowed;
}

const char* const kInputKinds[] = {"ai", "inport", "counter", "freq", "alarm"};

// The simulated input behind an input channel.
const char* InputKindOf(const PlantChannel& channel) {
    const std::string& k = channel.keyword;
    if (channel.parameter) return nullptr;
    if (k == "ai" || k == "cjc") return "ai";
    if (k == "di_byte") return "inport";
    if (k == "cnt_event_read") return "counter";
    if (k == "cnt_freq_read") return "freq";
    if (k == "alarm_check_lo" || k == "alarm_check_hi") return "alarm";
    return nullptr;
}

}  // namespace

bool Tokenize(const std::string& text, bool operators, std::vector<ScenarioToken>& tokens, std::string& error) {
    tokens.clear();
    std::size_t i = 0;
    while (i < text.size()) {
        if (IsSpace(text[i])) {
            ++i;
            continue;
        }
        if (text[i] == '"') {
            ScenarioToken token{"", true};
            ++i;
            bool closed = false;
            while (i < text.size()) {
                char c = text[i++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c == '\\') {
                    if (i >= text.size()) break;
                    const char e = text[i++];
                    if (e == 'r') c = '\r';
                    else if (e == 'n') c = '\n';
                    else if (e == 't') c = '\t';
                    else if (e == 'x') {
                        const int high = i < text.size() ? HexDigit(text[i]) : -1;
                        const int low = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
                        if (high < 0 || low < 0) {
                            error = "\\x needs two hexadecimal digits";
                            return false;
                        }
                        c = static_cast<char>(high * 16 + low);
                        i += 2;
                    } else if (e == '"' || e == '\\') {
                        c = e;
                    } else {
                        error = std::string("unknown escape \\") + e + " in a quoted text";
                        return false;
                    }
                }
                token.text += c;
            }
            if (!closed) {
                error = "a quoted text is not closed";
                return false;
            }
            tokens.push_back(token);
            continue;
        }
        if (operators && (text[i] == '=' || text[i] == '~')) {
            tokens.push_back({std::string(1, text[i++]), false});
            continue;
        }
        if (operators && (text.compare(i, 2, "\xC2\xB1") == 0 || text.compare(i, 2, "+-") == 0)) {
            tokens.push_back({"\xC2\xB1", false});
            i += 2;
            continue;
        }
        // A word; quotes inside it (text="a b") belong to it, as written.
        ScenarioToken token;
        bool quoted = false;
        while (i < text.size() && (quoted || (!IsSpace(text[i]) && !(operators && (text[i] == '=' || text[i] == '~'))))) {
            if (quoted && text[i] == '\\' && i + 1 < text.size()) token.text += text[i++];
            if (text[i] == '"') quoted = !quoted;
            token.text += text[i++];
        }
        if (quoted) {
            error = "a quoted text is not closed";
            return false;
        }
        tokens.push_back(token);
    }
    return true;
}

std::optional<std::int64_t> ParseMicroseconds(const std::string& text) {
    std::size_t digits = 0;
    while (digits < text.size() && (std::isdigit(static_cast<unsigned char>(text[digits])) || text[digits] == '.')) {
        ++digits;
    }
    const auto number = ParseNumber(text.substr(0, digits));
    if (digits == 0 || !number || *number < 0) return std::nullopt;
    const std::string unit = text.substr(digits);
    double scale = 0;
    if (unit == "us") scale = 1;
    else if (unit == "ms") scale = 1e3;
    else if (unit == "s" || unit.empty()) scale = 1e6;
    else if (unit == "min") scale = 60e6;
    else return std::nullopt;
    const double microseconds = *number * scale;
    if (microseconds > 1e15) return std::nullopt;
    return static_cast<std::int64_t>(std::llround(microseconds));
}

Scenario::Scenario(DriverHost& host, const ScenarioSettings& settings, std::string path)
    : host_(host), settings_(settings), path_(std::move(path)) {
    directory_ = fs::path(path_).parent_path().string();
    timeout_ = settings_.timeout;
}

bool Scenario::Read(std::string& error) {
    std::string content, reason;
    std::uint32_t nul_line = 0;
    if (!ReadTextFile(path_, content, reason, nul_line)) {
        error = CannotRead(path_, reason, nul_line);
        return false;
    }
    std::istringstream file(content);
    std::string text;
    std::uint32_t number = 0;
    while (std::getline(file, text)) {
        ++number;
        if (!text.empty() && text.back() == '\r') text.pop_back();
        ScenarioLine line;
        line.number = number;
        line.text = Trim(WithoutComment(text));
        if (line.text.empty()) continue;
        std::size_t end = 0;
        while (end < line.text.size() && !IsSpace(line.text[end])) ++end;
        line.keyword = line.text.substr(0, end);
        line.rest = Trim(line.text.substr(end));
        lines_.push_back(line);
    }
    return true;
}

bool Scenario::Bad(const ScenarioLine& line, const std::string& why) {
    std::printf("%s:%u: error: %s\n    %s\n", path_.c_str(), line.number, ShownUtf8(why).c_str(),
                ShownUtf8(line.text).c_str());
    result_.malformed = true;
    return false;
}

bool Scenario::Pass(const ScenarioLine& line) {
    ++result_.passed;
    std::printf("%s:%u: passed: %s\n", path_.c_str(), line.number, ShownUtf8(line.text).c_str());
    return true;
}

bool Scenario::Fail(const ScenarioLine& line, const std::string& why) {
    ++result_.failed;
    std::printf("%s:%u: FAILED: %s\n    %s\n", path_.c_str(), line.number, ShownUtf8(line.text).c_str(),
                ShownUtf8(why).c_str());
    return true;
}

void Scenario::Abort(const ScenarioLine& line, const std::string& why) {
    Fail(line, why);
    throw Failure{};
}

ScenarioResult Scenario::Run() {
    std::string error;
    if (!Read(error)) {
        std::printf("%s\n", error.c_str());
        result_.malformed = true;
        return result_;
    }
    // Checked whole first: nothing runs from a malformed file.
    std::uint32_t errors = 0;
    for (const ScenarioLine& line : lines_) {
        if (!Step(line, true) && ++errors == 20) break;
    }
    UnloadDeviceSet();
    if (result_.malformed) return result_;

    have_plant_ = false;
    devices_named_ = false;
    devices_loaded_ = false;
    faults_.clear();
    init_message_.reset();
    timeout_ = settings_.timeout;
    try {
        for (const ScenarioLine& line : lines_) {
            if (settings_.verbose && line.keyword != "expect") {
                std::printf("%s:%u: %s\n", path_.c_str(), line.number, line.text.c_str());
            }
            SetCrashContext(path_ + ":" + std::to_string(line.number) + ": " + line.text);
            if (!Step(line, false)) break;
        }
    } catch (const Failure&) {
        std::printf("%s: stopped after the failed step; the lines after it did not run\n", path_.c_str());
    }
    if (host_.started()) host_.Stop(std::max<std::chrono::milliseconds>(timeout_, std::chrono::seconds(10)));
    injected_.Print(stdout);
    return result_;
}

bool Scenario::NeedPlant(const ScenarioLine& line) {
    if (have_plant_) return true;
    return Bad(line, "no parameter file chosen yet: begin the scenario with \"plant FILE\"");
}

const PlantChannel* Scenario::ChannelArgument(const ScenarioLine& line, const std::string& word, bool dry) {
    if (!NeedPlant(line)) return nullptr;
    const auto number = Decimal(word);
    if (!number) {
        Bad(line, "\"" + word + "\" is no channel number");
        return nullptr;
    }
    const PlantChannel* channel = plant_.Find(*number);
    if (channel == nullptr) {
        Bad(line, "channel " + word + " is not in " + plant_.path());
        return nullptr;
    }
    (void)dry;
    return channel;
}

const PlantModule* Scenario::ModuleArgument(const ScenarioLine& line, const std::string& word, bool) {
    if (!NeedPlant(line)) return nullptr;
    const PlantModule* module = plant_.FindModule(word);
    if (module == nullptr) {
        std::string names;
        for (const PlantModule& m : plant_.modules()) names += (names.empty() ? "" : ", ") + m.name;
        Bad(line, "no module \"" + word + "\" in " + plant_.path() + " (its modules: " + names + ")");
    }
    return module;
}

std::uint32_t Scenario::DeviceOf(const ScenarioLine& line, const PlantModule& module) {
    EnsureDevices(line);
    const PlantModule* resolved = plant_.FindModule(module.name);
    if (resolved == nullptr || resolved->device_number < 0) {
        Abort(line, "module " + module.name + " finds no device in the device set " +
                        (devices_.empty() ? std::string("(none)") : devices_));
    }
    return static_cast<std::uint32_t>(resolved->device_number);
}

void Scenario::EnsureDevices(const ScenarioLine& line) {
    if (devices_loaded_) return;
    std::string path = devices_named_ ? devices_ : settings_.default_devices;
    if (path.empty() && have_plant_) path = DefaultDeviceSet(plant_.path());
    injected_.Retire();  // a device set loaded or emptied drops every fault
    if (path.empty() || path == "none") {
        UnloadDeviceSet();
    } else {
        std::string error;
        if (!LoadDeviceSet(path, error)) Abort(line, "device set " + error);
    }
    devices_ = path;
    devices_loaded_ = true;
    faults_.clear();
    if (have_plant_) plant_.ResolveDevices();
}

bool Scenario::StartDriver(const ScenarioLine& line, std::string& message) {
    EnsureDevices(line);
    const std::string& log_directory = settings_.log_directory;
    const bool started = host_.Start(plant_.path(), log_directory, message);
    WarnOtherDeviceManager(host_.driver_path(), plant_.modules().size());
    if (!started) {
        init_message_ = message;
        return false;
    }
    init_message_ = "";
    const std::string& name = plant_.log_file();
    const bool bare = name.find_first_of("/\\:") == std::string::npos;
    log_path_ = bare ? (fs::path(log_directory.empty() ? fs::current_path().string() : log_directory) / name).string()
                     : name;
    std::error_code code;
    const auto size = fs::file_size(log_path_, code);
    log_offset_ = code ? 0 : size;
    return true;
}

void Scenario::EnsureStarted(const ScenarioLine& line) {
    if (host_.started()) return;
    if (!have_plant_) Abort(line, "no parameter file chosen");
    if (init_message_ && !init_message_->empty()) {
        Abort(line, "the driver is not running: Init said " + Quote(*init_message_));
    }
    std::string message;
    if (!StartDriver(line, message)) Abort(line, "the driver did not start: " + message);
}

std::vector<std::string> Scenario::LogLines() const {
    std::vector<std::string> lines;
    std::ifstream file(log_path_, std::ios::binary);
    if (!file) return lines;
    file.seekg(static_cast<std::streamoff>(log_offset_));
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(tovi::text::Utf8FromCp1250(line));
    }
    return lines;
}

bool Scenario::Step(const ScenarioLine& line, bool dry) {
    const std::string& k = line.keyword;
    std::vector<ScenarioToken> words;
    std::string error;
    if (k == "plant") return DoPlant(line, dry);
    if (k == "devices") return DoDevices(line, dry);
    if (k == "set") return DoSet(line, dry);
    if (k == "fault") return DoFault(line, dry);
    if (k == "delay") return DoDelay(line, dry);
    if (k == "clear") return DoClear(line, dry);
    if (k == "clock") return DoClock(line, dry);
    if (k == "expect") return DoExpect(line, dry);
    if (k == "get") return DoGet(line, dry);
    if (k == "timeout" || k == "advance") {
        const auto microseconds = ParseMicroseconds(line.rest);
        if (!microseconds || line.rest.empty()) return Bad(line, k + " takes a duration such as 250ms, 2s, 1min");
        if (k == "timeout" && *microseconds < 1000) return Bad(line, "a time-out under 1ms leaves the driver no time");
        if (dry) return true;
        if (k == "timeout") timeout_ = std::chrono::milliseconds(*microseconds / 1000);
        else devsim_advance_clock(*microseconds);
        return true;
    }
    if (k == "start" || k == "stop") {
        if (!line.rest.empty()) return Bad(line, k + " takes nothing after it");
        if (k == "start" && !NeedPlant(line)) return false;
        if (dry) return true;
        if (k == "stop") {
            host_.Stop(std::max<std::chrono::milliseconds>(timeout_, std::chrono::seconds(10)));
            pending_[0].clear();
            pending_[1].clear();
            return true;
        }
        if (host_.started()) Abort(line, "the driver is running already: stop it first");
        std::string message;
        StartDriver(line, message);
        return true;
    }
    if (!Tokenize(line.rest, false, words, error)) return Bad(line, error);
    if (k == "read" || k == "write") return DoRequest(line, k, words, true, dry);
    if (k == "request") {
        if (words.empty() || (words[0].text != "read" && words[0].text != "write")) {
            return Bad(line, "request read CH... or request write CH=VALUE...");
        }
        const std::string direction = words[0].text;
        words.erase(words.begin());
        return DoRequest(line, direction, words, false, dry);
    }
    if (k == "complete") {
        if (words.size() != 1 || (words[0].text != "read" && words[0].text != "write")) {
            return Bad(line, "complete read or complete write");
        }
        return DoComplete(line, words[0].text, dry);
    }
    return Bad(line, "unknown statement \"" + k +
                         "\" (plant, devices, timeout, start, stop, set, advance, clock, fault, delay, clear, read, "
                         "write, request, complete, get, expect)");
}

bool Scenario::DoPlant(const ScenarioLine& line, bool dry) {
    std::vector<ScenarioToken> words;
    std::string error;
    if (!Tokenize(line.rest, false, words, error)) return Bad(line, error);
    if (words.size() != 1) return Bad(line, "plant takes one parameter file");
    const fs::path given(words[0].text);
    const std::string path = given.is_absolute() || directory_.empty() ? given.string() : (fs::path(directory_) / given).string();
    if (!dry && host_.started()) Abort(line, "stop the driver before choosing another parameter file");
    if (!plant_.Load(path, TypesPathBeside(host_.driver_path()), error)) {
        have_plant_ = false;
        if (dry) return Bad(line, error);
        Abort(line, error);
    }
    have_plant_ = true;
    init_message_.reset();
    values_.clear();
    statuses_.clear();
    if (!dry && devices_loaded_) {
        if (devices_named_) plant_.ResolveDevices();
        else devices_loaded_ = false;  // the next start takes the new plant's own device set
    }
    return true;
}

bool Scenario::DoDevices(const ScenarioLine& line, bool dry) {
    std::vector<ScenarioToken> words;
    std::string error;
    if (!Tokenize(line.rest, false, words, error)) return Bad(line, error);
    if (words.size() != 1) return Bad(line, "devices takes one device-set file, or none");
    std::string path = words[0].text;
    if (path != "none" && !fs::path(path).is_absolute() && !directory_.empty()) {
        path = (fs::path(directory_) / path).string();
    }
    if (dry) {
        if (path != "none" && !LoadDeviceSet(path, error)) return Bad(line, "device set " + error);
        return true;
    }
    if (host_.started()) Abort(line, "stop the driver before loading another device set");
    devices_named_ = true;
    devices_loaded_ = false;
    devices_ = path;
    EnsureDevices(line);
    return true;
}

bool Scenario::DoSet(const ScenarioLine& line, bool dry) {
    const auto equals = line.rest.find('=');
    if (equals == std::string::npos) return Bad(line, "set CH = SOURCE, or set MODULE KIND INDEX = SOURCE");
    std::vector<ScenarioToken> left;
    std::string error;
    if (!Tokenize(line.rest.substr(0, equals), false, left, error)) return Bad(line, error);
    const std::string source = Trim(line.rest.substr(equals + 1));
    if (source.empty()) return Bad(line, "set needs a source after \"=\": a number or ramp(), sine(), count(), square()");
    const PlantModule* module = nullptr;
    std::string kind;
    std::int32_t index = 0;
    if (left.size() == 1) {
        const PlantChannel* channel = ChannelArgument(line, left[0].text, dry);
        if (channel == nullptr) return false;
        const char* input = InputKindOf(*channel);
        if (input == nullptr) {
            return Bad(line, "channel " + left[0].text + " (" + channel->Function() +
                                 ") has no simulated input of its own" +
                                 (channel->keyword == "di_bit" ? ": set its port, set " + channel->module +
                                                                     " inport " + std::to_string(channel->port) + " = VALUE"
                                                               : std::string()));
        }
        module = plant_.ModuleOf(*channel);
        kind = input;
        index = channel->port;
    } else if (left.size() == 3) {
        module = ModuleArgument(line, left[0].text, dry);
        if (module == nullptr) return false;
        kind = left[1].text;
        if (std::find(std::begin(kInputKinds), std::end(kInputKinds), kind) == std::end(kInputKinds)) {
            return Bad(line, "\"" + kind + "\" is no input kind (ai, inport, counter, freq, alarm)");
        }
        const auto parsed = Decimal(left[2].text);
        if (!parsed || *parsed < 0 || *parsed > 65535) return Bad(line, "the input number must be 0 to 65535");
        index = *parsed;
    } else {
        return Bad(line, "set CH = SOURCE, or set MODULE KIND INDEX = SOURCE");
    }
    if (dry) return true;
    const std::uint32_t device = DeviceOf(line, *module);
    char said[512] = {};
    if (devsim_set_input(device, kind.c_str(), index, source.c_str(), said, sizeof said) != 0) {
        Abort(line, std::string("the simulator refused it: ") + said);
    }
    return true;
}

bool Scenario::DoFault(const ScenarioLine& line, bool dry) {
    std::vector<ScenarioToken> words;
    std::string error;
    if (!Tokenize(line.rest, false, words, error)) return Bad(line, error);
    std::string name, fault;
    for (const ScenarioToken& word : words) {
        if (word.text.rfind("name=", 0) == 0 && !word.quoted) {
            name = word.text.substr(5);
            if (name.empty()) return Bad(line, "name= needs a name");
            continue;
        }
        if (word.text.rfind("module=", 0) == 0 && ModuleArgument(line, word.text.substr(7), dry) == nullptr) return false;
        fault += (fault.empty() ? "" : " ") + (word.quoted ? Quote(word.text) : word.text);
    }
    if (words.empty() || fault.find("status=") == std::string::npos) {
        return Bad(line, "fault FUNCTION status=CODE [text=\"...\"] [module=NAME|device=N] [channel=N] "
                         "[always|once|every=N] [name=NAME]");
    }
    char said[512] = {};
    if (dry) {
        // The simulator's own check of the syntax, with any module standing for device 0.
        std::string probe;
        for (const ScenarioToken& word : words) {
            if (word.text.rfind("name=", 0) == 0) continue;
            probe += (probe.empty() ? "" : " ") +
                     (word.text.rfind("module=", 0) == 0 ? std::string("device=0") : word.quoted ? Quote(word.text) : word.text);
        }
        const std::int32_t id = devsim_inject_fault_line(probe.c_str(), said, sizeof said);
        if (id < 0) return Bad(line, said);
        devsim_clear_fault(id);
        if (!name.empty()) faults_[name] = 0;
        return true;
    }
    EnsureDevices(line);
    std::string translated;
    if (!FaultLine(plant_, fault, translated, error)) Abort(line, error);
    const std::int32_t id = devsim_inject_fault_line(translated.c_str(), said, sizeof said);
    if (id < 0) Abort(line, std::string("the simulator refused it: ") + said);
    if (!name.empty()) faults_[name] = id;
    injected_.Add(path_ + ":" + std::to_string(line.number) + ": fault " + ShownUtf8(fault), id);
    return true;
}

bool Scenario::DoDelay(const ScenarioLine& line, bool dry) {
    std::vector<ScenarioToken> words;
    std::string error;
    if (!Tokenize(line.rest, false, words, error)) return Bad(line, error);
    if (words.size() < 2 || words.size() > 3) return Bad(line, "delay FUNCTION DURATION [module=NAME|device=N]");
    const auto microseconds = ParseMicroseconds(words[1].text);
    if (!microseconds || *microseconds > 0xFFFFFFFFLL) return Bad(line, "\"" + words[1].text + "\" is no duration");
    std::int64_t device = -1;
    const PlantModule* module = nullptr;
    if (words.size() == 3) {
        const std::string& w = words[2].text;
        if (w.rfind("module=", 0) == 0) {
            module = ModuleArgument(line, w.substr(7), dry);
            if (module == nullptr) return false;
        } else if (w.rfind("device=", 0) == 0 && Decimal(w.substr(7))) {
            device = *Decimal(w.substr(7));
        } else {
            return Bad(line, "the delay's third word is module=NAME or device=N");
        }
    }
    if (dry) return true;
    if (module != nullptr) device = DeviceOf(line, *module);
    EnsureDevices(line);
    if (devsim_set_delay(words[0].text.c_str(), device, static_cast<std::uint32_t>(*microseconds)) != 0) {
        Abort(line, "the simulator refused the delay");
    }
    return true;
}

bool Scenario::DoClear(const ScenarioLine& line, bool dry) {
    std::vector<ScenarioToken> words;
    std::string error;
    if (!Tokenize(line.rest, false, words, error)) return Bad(line, error);
    const std::string what = words.empty() ? "" : words[0].text;
    if (what == "fault" && words.size() == 2) {
        if (faults_.count(words[1].text) == 0) return dry ? Bad(line, "no fault named " + words[1].text) : Fail(line, "no fault named " + words[1].text);
        if (!dry) {
            injected_.Retire(faults_[words[1].text]);
            devsim_clear_fault(faults_[words[1].text]);
        }
        faults_.erase(words[1].text);
        return true;
    }
    if (words.size() != 1 || (what != "faults" && what != "delays" && what != "counts" && what != "trace")) {
        return Bad(line, "clear faults, clear fault NAME, clear delays, clear counts or clear trace");
    }
    if (dry) return true;
    EnsureDevices(line);
    if (what == "faults") {
        injected_.Retire();
        devsim_clear_faults();
    }
    if (what == "delays") devsim_clear_delays();
    if (what == "counts") devsim_clear_call_counts();
    if (what == "trace") devsim_trace_clear();
    return true;
}

bool Scenario::DoClock(const ScenarioLine& line, bool dry) {
    std::vector<ScenarioToken> words;
    std::string error;
    if (!Tokenize(line.rest, false, words, error)) return Bad(line, error);
    if (words.size() == 2 && words[0].text == "step") {
        const auto microseconds = ParseMicroseconds(words[1].text);
        if (!microseconds) return Bad(line, "\"" + words[1].text + "\" is no duration");
        if (!dry) {
            EnsureDevices(line);
            devsim_set_clock_real(0);
            devsim_set_clock_step(*microseconds);
        }
        return true;
    }
    if (words.size() == 1 && words[0].text == "real") {
        if (!dry) {
            EnsureDevices(line);
            devsim_set_clock_real(1);
        }
        return true;
    }
    return Bad(line, "clock step DURATION, or clock real");
}

bool Scenario::DoRequest(const ScenarioLine& line, const std::string& direction,
                         const std::vector<ScenarioToken>& words, bool complete, bool dry) {
    const int d = direction == "read" ? 0 : 1;
    if (words.empty()) return Bad(line, direction == "read" ? "read CH..." : "write CH=VALUE...");
    std::vector<ChannelValue> values;
    std::vector<const PlantChannel*> channels;
    for (const ScenarioToken& word : words) {
        const auto equals = word.text.find('=');
        if (d == 0 && equals != std::string::npos) return Bad(line, "a read takes channel numbers only");
        if (d == 1 && equals == std::string::npos) return Bad(line, "a write takes CH=VALUE, not \"" + word.text + "\"");
        const PlantChannel* channel = ChannelArgument(line, word.text.substr(0, equals), dry);
        if (channel == nullptr) return false;
        ChannelValue value;
        value.channel = channel->number;
        value.type_code = channel->type_code;
        std::string error;
        if (d == 1 && !ParseChannelValue(word.text.substr(equals + 1), *channel, value, error)) return Bad(line, error);
        values.push_back(value);
        channels.push_back(channel);
    }
    if (dry) return true;
    EnsureStarted(line);
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (d == 0) {
            // The driver reads a parameter channel's owner; the wait covers the owner.
            const std::int32_t served_by = channels[i]->parameter ? channels[i]->owner : values[i].channel;
            host_.session().RequestRead(values[i].channel, served_by);
            if (served_by != values[i].channel) pending_[0].push_back(served_by);
        } else {
            host_.session().RequestWrite(values[i]);
        }
        pending_[d].push_back(values[i].channel);
    }
    return complete ? DoComplete(line, direction, dry) : true;
}

bool Scenario::DoComplete(const ScenarioLine& line, const std::string& direction, bool dry) {
    if (dry) return NeedPlant(line);
    const int d = direction == "read" ? 0 : 1;
    EnsureStarted(line);
    if (d == 0) host_.session().CompleteRead();
    else host_.session().CompleteWrite();
    std::vector<ChannelOutcome> outcomes;
    for (const std::int32_t channel : pending_[d]) {
        if (std::any_of(outcomes.begin(), outcomes.end(), [&](const ChannelOutcome& o) { return o.channel == channel; })) {
            continue;
        }
        ChannelOutcome outcome;
        outcome.channel = channel;
        outcomes.push_back(outcome);
    }
    pending_[d].clear();
    const bool finished = host_.session().Wait(d, outcomes, timeout_);
    std::vector<std::int32_t> unfinished;
    for (const ChannelOutcome& outcome : outcomes) {
        statuses_[outcome.channel] = outcome.finished ? outcome.status : -1;
        if (!outcome.finished) {
            unfinished.push_back(outcome.channel);
            continue;
        }
        if (d == 0) {
            ChannelValue value;
            value.channel = outcome.channel;
            value.type_code = plant_.Find(outcome.channel)->type_code;
            host_.session().Fetch(value);
            values_[outcome.channel] = value;
        }
    }
    if (!finished) {
        result_.hung = true;
        Abort(line, "no completion within " + std::to_string(timeout_.count()) + " ms for channel" +
                        (unfinished.size() == 1 ? " " : "s ") + Joined(unfinished) +
                        ": the driver, or a device call it makes, is hung");
    }
    return true;
}

bool Scenario::DoGet(const ScenarioLine& line, bool dry) {
    std::vector<ScenarioToken> words;
    std::string error;
    if (!Tokenize(line.rest, false, words, error)) return Bad(line, error);
    if (words.size() != 1 && !(words.size() == 3 && words[1].text == "as" &&
                               (words[2].text == "real" || words[2].text == "bool"))) {
        return Bad(line, "get CH [as real|bool]");
    }
    const PlantChannel* channel = ChannelArgument(line, words[0].text, dry);
    if (channel == nullptr) return false;
    if (dry) return true;
    EnsureStarted(line);
    ChannelValue value;
    value.channel = channel->number;
    value.type_code = words.size() == 3 ? (words[2].text == "real" ? kReal : kBoolean) : channel->type_code;
    host_.session().Fetch(value);
    if (value.type_code == channel->type_code) values_[channel->number] = value;
    return true;
}

bool Scenario::ExpectText(const ScenarioLine& line, const std::vector<std::string>& texts,
                          const std::vector<ScenarioToken>& left, const std::string& what, const std::string& op,
                          const ScenarioToken& expected, bool dry) {
    const std::string selector = left.size() > 1 ? left[1].text : "";
    if (left.size() > 2) return Bad(line, "expect " + what + " [count|N|last] = or ~ TEXT");
    if (selector == "count") {
        const auto count = ParseCount(expected.text, 0, 1000000000);
        if (op != "=" || !count) return Bad(line, "expect " + what + " count = N");
        if (dry) return true;
        if (texts.size() == static_cast<std::size_t>(*count)) return Pass(line);
        std::string listing;
        for (const std::string& t : texts) listing += "\n      " + Quote(t);
        return Fail(line, "there " + std::string(texts.size() == 1 ? "is " : "are ") + std::to_string(texts.size()) +
                              (texts.empty() ? "" : ":" + listing));
    }
    std::optional<std::size_t> index;
    if (!selector.empty() && selector != "last") {
        const auto n = ParseCount(selector, 1, 1000000000);
        if (!n) return Bad(line, "\"" + selector + "\" selects no " + what + ": count, a number from 1, or last");
        index = static_cast<std::size_t>(*n - 1);
    }
    if (dry) return true;
    auto matches = [&](const std::string& text) {
        return op == "=" ? text == expected.text : text.find(expected.text) != std::string::npos;
    };
    if (selector.empty()) {
        if (std::any_of(texts.begin(), texts.end(), matches)) return Pass(line);
    } else {
        if (selector == "last" && !texts.empty()) index = texts.size() - 1;
        if (index && *index < texts.size() && matches(texts[*index])) return Pass(line);
        if (!index || *index >= texts.size()) {
            return Fail(line, "there is no such " + what + " (" + std::to_string(texts.size()) + " in all)");
        }
        return Fail(line, "got " + Quote(texts[*index]));
    }
    if (texts.empty()) return Fail(line, "the " + what + " is empty");
    std::string listing;
    for (const std::string& t : texts) listing += "\n      " + Quote(t);
    return Fail(line, "got" + listing);
}

bool Scenario::DoExpect(const ScenarioLine& line, bool dry) {
    std::vector<ScenarioToken> tokens;
    std::string error;
    if (!Tokenize(line.rest, true, tokens, error)) return Bad(line, error);
    std::size_t op_at = 0;
    while (op_at < tokens.size() && (tokens[op_at].quoted || (tokens[op_at].text != "=" && tokens[op_at].text != "~"))) {
        ++op_at;
    }
    if (op_at == 0 || op_at + 1 >= tokens.size()) {
        return Bad(line, "expect SUBJECT = VALUE (or ~ TEXT for a part of a text)");
    }
    const std::vector<ScenarioToken> left(tokens.begin(), tokens.begin() + static_cast<std::ptrdiff_t>(op_at));
    const std::string op = tokens[op_at].text;
    const ScenarioToken expected = tokens[op_at + 1];
    std::optional<double> tolerance;
    const std::size_t after = op_at + 2;
    if (after < tokens.size()) {
        if (tokens[after].text == "\xC2\xB1" && after + 2 == tokens.size()) {
            tolerance = ParseNumber(tokens[after + 1].text);
        }
        if (!tolerance || *tolerance < 0) return Bad(line, "after the value only a tolerance may follow: \xC2\xB1 0.01");
    }
    const std::string subject = left[0].text;
    const bool numeric_op = op == "=";

    if (subject == "value" || subject == "status") {
        if (left.size() != 2) return Bad(line, "expect " + subject + " CH = VALUE");
        const PlantChannel* channel = ChannelArgument(line, left[1].text, dry);
        if (channel == nullptr) return false;
        if (!numeric_op) return Bad(line, "a " + subject + " is compared with =");
        if (subject == "status") {
            if (expected.text != "0" && expected.text != "2" && expected.text != "none") {
                return Bad(line, "a status is 0 (good), 2 (failed) or none (no answer)");
            }
            if (tolerance) return Bad(line, "a status takes no tolerance");
            if (dry) return true;
            const auto found = statuses_.find(channel->number);
            if (found == statuses_.end()) return Fail(line, "channel " + left[1].text + " has not been in a completed batch");
            const std::string got = found->second < 0 ? "none" : std::to_string(found->second);
            return got == expected.text ? Pass(line) : Fail(line, "got " + got);
        }
        std::optional<double> want;
        if (channel->type_code == kBoolean) {
            const auto b = ParseBoolean(Lower(expected.text));
            if (b) want = *b ? 1.0 : 0.0;
        } else {
            want = ParseNumber(expected.text);
        }
        if (!want) {
            return Bad(line, "channel " + left[1].text + " holds a " +
                                 (channel->type_code == kBoolean ? "boolean (true or false)" : "number") + ", not \"" +
                                 expected.text + "\"");
        }
        if (dry) return true;
        const auto found = values_.find(channel->number);
        if (found == values_.end()) return Fail(line, "no value of channel " + left[1].text + " yet: read or get it first");
        const ChannelValue& got = found->second;
        const double number = got.type_code == kBoolean ? (got.boolean ? 1.0 : 0.0) : got.real;
        if (Near(number, *want, tolerance)) return Pass(line);
        char exact[64];
        std::snprintf(exact, sizeof exact, "%.9g", number);
        return Fail(line, "got " + (got.type_code == kBoolean ? FormatValue(got) : std::string(exact)));
    }
    if (subject == "finalized") {
        if (left.size() != 3 || (left[1].text != "read" && left[1].text != "write")) {
            return Bad(line, "expect finalized read|write CH = 0|2|none");
        }
        const PlantChannel* channel = ChannelArgument(line, left[2].text, dry);
        if (channel == nullptr) return false;
        if (!numeric_op || (expected.text != "0" && expected.text != "2" && expected.text != "none")) {
            return Bad(line, "expect finalized read|write CH = 0|2|none");
        }
        if (dry) return true;
        EnsureStarted(line);
        std::int32_t status = -1;
        const bool finished = host_.session().Finalized(left[1].text == "read" ? 0 : 1, channel->number, status) != 0;
        const std::string got = finished ? std::to_string(status) : "none";
        return got == expected.text ? Pass(line) : Fail(line, "got " + got);
    }
    if (subject == "error-line") {
        if (left.size() != 1 || tolerance) return Bad(line, "expect error-line = \"TEXT\" (or ~ \"PART\")");
        if (dry) return NeedPlant(line);
        EnsureStarted(line);
        const std::string got = host_.ErrorLine();
        const bool ok = op == "=" ? got == expected.text : got.find(expected.text) != std::string::npos;
        return ok ? Pass(line) : Fail(line, "got " + Quote(got));
    }
    if (subject == "log" || subject == "message") {
        if (tolerance) return Bad(line, "texts take no tolerance");
        if (dry) return ExpectText(line, {}, left, subject, op, expected, true) && NeedPlant(line);
        EnsureStarted(line);
        return ExpectText(line, subject == "log" ? LogLines() : host_.HostMessages(), left,
                          subject == "log" ? "error log line" : "host message", op, expected, false);
    }
    if (subject == "trace") {
        if (left.size() != 1 || op != "~" || tolerance) return Bad(line, "expect trace ~ \"PART OF A CALL LINE\"");
        if (dry) return true;
        const std::vector<std::string> trace = devsim::Trace();
        if (std::any_of(trace.begin(), trace.end(),
                        [&](const std::string& t) { return t.find(expected.text) != std::string::npos; })) {
            return Pass(line);
        }
        return Fail(line, "no call line holds it (" + std::to_string(trace.size()) + " lines since the last clear)");
    }
    if (subject == "init") {
        if (left.size() != 1 || tolerance || (op == "=" && expected.text != "ok")) {
            return Bad(line, "expect init = ok, or expect init ~ \"PART OF THE DRIVER'S MESSAGE\"");
        }
        if (dry) return true;
        if (!init_message_) return Fail(line, "the driver has not been started");
        if (op == "=") return init_message_->empty() ? Pass(line) : Fail(line, "Init failed: " + *init_message_);
        if (init_message_->empty()) return Fail(line, "Init succeeded");
        return init_message_->find(expected.text) != std::string::npos ? Pass(line)
                                                                       : Fail(line, "Init said " + Quote(*init_message_));
    }
    if (subject == "calls") {
        if (left.size() < 2 || left.size() > 3 || !numeric_op) return Bad(line, "expect calls FUNCTION [MODULE] = N");
        const auto count = ParseCount(expected.text, 0, 1000000000000LL);
        if (!count || tolerance) return Bad(line, "a call count is a whole number");
        const PlantModule* module = left.size() == 3 ? ModuleArgument(line, left[2].text, dry) : nullptr;
        if (left.size() == 3 && module == nullptr) return false;
        if (dry) return true;
        // Without a module: every device's calls.
        const std::int64_t device = module == nullptr ? std::int64_t{-1} : std::int64_t{DeviceOf(line, *module)};
        EnsureDevices(line);
        const std::uint64_t got = devsim_call_count(left[1].text.c_str(), device);
        return got == static_cast<std::uint64_t>(*count) ? Pass(line) : Fail(line, "got " + std::to_string(got));
    }
    if (subject == "ao" || subject == "port" || subject == "counter" || subject == "alarm" || subject == "display") {
        return ExpectDevice(line, left, op, expected, tolerance, dry);
    }
    return Bad(line, "unknown expectation \"" + subject +
                         "\" (value, status, finalized, error-line, log, message, trace, init, calls, ao, port, "
                         "counter, alarm, display)");
}

bool Scenario::ExpectDevice(const ScenarioLine& line, const std::vector<ScenarioToken>& left, const std::string& op,
                            const ScenarioToken& expected, std::optional<double> tolerance, bool dry) {
    const std::string& subject = left[0].text;
    const bool indexed = subject != "display";
    static const std::map<std::string, std::vector<std::string>> kFields = {
        {"ao", {"value", "writes"}},
        {"port", {"value", "mask", "state", "writes"}},
        {"counter", {"started", "gate", "starts", "resets", "count", "overflow"}},
        {"alarm", {"configured", "low", "high", "enabled", "latch", "low-latched", "high-latched", "configs", "enables",
                   "resets"}},
        {"display", {"value", "shown", "selection", "frame", "frames", "rejected", "checksum", "accepted"}},
    };
    const std::vector<std::string>& fields = kFields.at(subject);
    const std::size_t base = indexed ? 3 : 2;
    const bool field_required = subject == "counter" || subject == "alarm";
    if (left.size() < base || left.size() > base + 1 || (field_required && left.size() != base + 1)) {
        std::string list;
        for (const std::string& f : fields) list += (list.empty() ? "" : "|") + f;
        return Bad(line, "expect " + subject + " MODULE" + (indexed ? " N" : "") + (field_required ? " " : " [") + list +
                             (field_required ? "" : "]") + " = VALUE");
    }
    const std::string field = left.size() == base + 1 ? left[base].text : "value";
    if (std::find(fields.begin(), fields.end(), field) == fields.end()) {
        return Bad(line, "\"" + field + "\" is not a field of " + subject);
    }
    const PlantModule* module = ModuleArgument(line, left[1].text, dry);
    if (module == nullptr) return false;
    std::int32_t index = 0;
    if (indexed) {
        const auto parsed = Decimal(left[2].text);
        if (!parsed || *parsed < 0 || *parsed > 65535) return Bad(line, "\"" + left[2].text + "\" is no number 0 to 65535");
        index = *parsed;
    }
    const bool text_field = field == "shown" || field == "frame" || field == "checksum";
    std::optional<double> want;
    if (!text_field) {
        want = NumberOrBoolean(expected.text);
        if (!want || op != "=") return Bad(line, "the " + field + " of " + subject + " is compared with = NUMBER");
    } else if (tolerance) {
        return Bad(line, "a text takes no tolerance");
    }
    if (dry) return true;
    const std::uint32_t device = DeviceOf(line, *module);
    double got = 0;
    std::string got_text;
    bool hex = false;
    int found = -1;
    if (subject == "ao") {
        devsim_analog_output_state s{};
        found = devsim_analog_output(device, index, &s);
        got = field == "writes" ? s.writes : s.voltage;
    } else if (subject == "port") {
        devsim_port_state s{};
        found = devsim_port_output(device, index, &s);
        hex = field != "writes";
        got = field == "value" ? s.value : field == "mask" ? s.last_mask : field == "state" ? s.last_state : s.writes;
    } else if (subject == "counter") {
        devsim_counter_state s{};
        found = devsim_counter_state_of(device, index, &s);
        got = field == "started" ? s.started : field == "gate" ? s.gate_mode : field == "starts" ? s.starts
            : field == "resets"  ? s.resets  : field == "count" ? s.count : s.overflow;
    } else if (subject == "alarm") {
        devsim_alarm_state s{};
        found = devsim_alarm_state_of(device, index, &s);
        got = field == "configured"     ? s.configured
              : field == "low"          ? s.low_limit
              : field == "high"         ? s.high_limit
              : field == "enabled"      ? s.enabled
              : field == "latch"        ? s.latch
              : field == "low-latched"  ? s.low_latched
              : field == "high-latched" ? s.high_latched
              : field == "configs"      ? s.configs
              : field == "enables"      ? s.enables
                                        : s.resets;
    } else {
        devsim_display_state s{};
        found = devsim_display_state_of(device, &s);
        got = field == "value" ? s.value : field == "selection" ? s.selection : field == "frames" ? s.frames
            : field == "rejected" ? s.rejected : s.last_accepted;
        if (field == "value" && s.has_value == 0) return Fail(line, "the display has shown no number yet");
        if (field == "selection" && s.has_selection == 0) return Fail(line, "the display has had no selection yet");
        got_text = field == "shown" ? s.shown : field == "frame" ? s.last_frame
                 : s.frames == 0 ? "none" : s.last_checksum_present == 0 ? "none" : s.last_checksum_ok ? "ok" : "bad";
    }
    if (found != 0) Abort(line, "module " + module->name + "'s device has no such " + subject);
    if (text_field) {
        const bool ok = op == "=" ? got_text == expected.text : got_text.find(expected.text) != std::string::npos;
        return ok ? Pass(line) : Fail(line, "got " + Quote(got_text));
    }
    if (Near(got, *want, tolerance)) return Pass(line);
    char text[64];
    if (hex) std::snprintf(text, sizeof text, "0x%02X (%.0f)", static_cast<unsigned>(got), got);
    else std::snprintf(text, sizeof text, "%.9g", got);
    return Fail(line, std::string("got ") + text);
}

}  // namespace tovihost
