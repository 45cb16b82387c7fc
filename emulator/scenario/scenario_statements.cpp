#include "emulator/scenario/scenario.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "device_sim/device_sim.h"
#include "diagnostics/cp1250.h"
#include "emulator/commands/commands.h"
#include "emulator/plant/device_view.h"
#include "emulator/scenario/scenario_reader.h"
#include "emulator/text/file_text.h"
#include "emulator/text/shown_text.h"

namespace tovihost {
namespace {

namespace fs = std::filesystem;

std::string Joined(const std::vector<std::int32_t>& numbers) {
    std::string text;
    for (const std::int32_t n : numbers) text += (text.empty() ? "" : ", ") + std::to_string(n);
    return text;
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

Scenario::Scenario(DriverHost& host, const ScenarioSettings& settings, std::string path)
    : host_(host), settings_(settings), path_(std::move(path)) {
    directory_ = fs::path(path_).parent_path().string();
    timeout_ = settings_.timeout;
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

}  // namespace tovihost
