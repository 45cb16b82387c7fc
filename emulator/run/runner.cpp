// The host's polling loop: the plant, devices, writes and faults prepared, then
// every period one read batch of every input channel and the writes due, each
// batch waited for through the driver's completion callback, until the cycles are
// done, the caller's stop says so, Ctrl-C or a hung batch.
#include "emulator/run/runner.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "device_sim/device_sim.h"
#include "emulator/commands/commissioning.h"
#include "emulator/commands/write_warnings.h"
#include "emulator/host/system_info.h"
#include "emulator/run/live_table.h"
#include "emulator/run/run_report.h"
#include "emulator/text/shown_text.h"

namespace tovihost {
namespace {

volatile std::sig_atomic_t interrupted = 0;

extern "C" void OnInterrupt(int) { interrupted = 1; }

std::string StatusText(const ChannelOutcome& outcome) {
    if (!outcome.finished) return "TIMEOUT";
    return outcome.status == 0 ? "ok" : outcome.status == 2 ? "ERROR" : "status " + std::to_string(outcome.status);
}

}  // namespace

bool Runner::Prepare(int& code) {
    code = kExitUsage;
    std::string error;
    if (!host_.Load(s_.arguments.Value("--driver"), error)) {
        std::fprintf(stderr, "tovihost: %s\n", error.c_str());
        return false;
    }
    if (!plant_.Load(s_.param_path, TypesPathBeside(host_.driver_path()), error)) {
        std::fprintf(stderr, "tovihost %s: %s\n", s_.command.c_str(), error.c_str());
        if (plant_.unreadable()) return false;
        std::fprintf(stderr, "  (tovihost check %s explains the configuration)\n", s_.param_path.c_str());
        code = kExitRefused;
        return false;
    }
    if (!s_.devices_loaded.empty()) {
        devices_ = s_.devices_loaded;
    } else if (!LoadDevicesFor(s_.command, s_.arguments, s_.param_path, devices_)) {
        return false;
    }
    plant_.ResolveDevices();
    if (!PlanWrites() || !InjectFaults()) return false;

    trace_ = std::make_unique<CallTrace>();
    AttributeDisplayPorts();
    if (s_.trace) {
        std::set<std::int64_t> devices;
        std::string list = s_.trace_modules;
        for (std::size_t start = 0; start < list.size();) {
            std::size_t end = list.find(',', start);
            if (end == std::string::npos) end = list.size();
            const std::string name = list.substr(start, end - start);
            start = end + 1;
            if (name.empty()) continue;
            const PlantModule* module = plant_.FindModule(name);
            if (module == nullptr) {
                std::fprintf(stderr, "tovihost %s: --trace=%s: no module %s in %s\n", s_.command.c_str(),
                             list.c_str(), name.c_str(), s_.param_path.c_str());
                return false;
            }
            devices.insert(module->device_number);
        }
        trace_->Print(stdout, devices);
    }
    if (!s_.csv_path.empty() && !csv_.Open(s_.command, s_.csv_path)) return false;
    for (const PlantChannel& channel : plant_.channels()) {
        const bool written = std::any_of(writes_.begin(), writes_.end(),
                                         [&](const PlannedWrite& w) { return w.channel == &channel; });
        if (!channel.IsInput() && !written) continue;
        Row row;
        row.channel = &channel;
        row.written = written;
        row_of_[channel.number] = rows_.size();
        rows_.push_back(row);
    }
    for (const PlantModule& module : plant_.modules()) {
        stats_[module.name];
        module_width_ = std::max(module_width_, Columns(ShownCp1250(module.name)) + 2);
    }
    return true;
}

// A display without an address answers no frame, and the simulator then ties its
// serial calls to no device: they are the display's when it is alone on its port.
void Runner::AttributeDisplayPorts() {
    std::map<std::int64_t, std::vector<std::int64_t>> displays;  // serial port -> display devices
    for (const PlantModule& module : plant_.modules()) {
        if (module.device_number < 0 || !IsDisplayModule(plant_, module)) continue;
        if (const auto info = DeviceInfo(module.device_number)) displays[info->serial_port].push_back(module.device_number);
    }
    std::map<std::int64_t, std::int64_t> owners;
    for (const auto& [port, devices] : displays) {
        if (devices.size() == 1) owners[port] = devices.front();
    }
    trace_->AttributePorts(std::move(owners));
}

// A real copied into a boolean channel gives true for every value but 0.
void Runner::WarnCopy(const std::string& text, const PlannedWrite& write) {
    if (write.channel->type_code != kBoolean || write.source->type_code == kBoolean) return;
    std::printf("warning: --write %s: channel %d (%s) holds a real, channel %d (%s) takes a boolean: it receives true "
                "for every value but 0\n",
                text.c_str(), write.source->number, write.source->Function().c_str(), write.channel->number,
                write.channel->Function().c_str());
}

bool Runner::PlanWrites() {
    for (const std::string& text : s_.writes) {
        const auto equals = text.find('=');
        const auto number = Decimal(text.substr(0, equals));
        auto fail = [&](const std::string& why) {
            std::fprintf(stderr, "tovihost %s: --write %s: %s\n", s_.command.c_str(), text.c_str(), why.c_str());
            return false;
        };
        if (equals == std::string::npos || !number) return fail("write CHANNEL=VALUE or CHANNEL=@SOURCE");
        const PlantChannel* channel = plant_.Find(*number);
        if (channel == nullptr) return fail("channel " + std::to_string(*number) + " is not in " + s_.param_path);
        if (!channel->IsOutput()) {
            return fail("channel " + std::to_string(*number) + " (" + channel->Function() +
                        ") is an input; only outputs and their parameter channels are written");
        }
        PlannedWrite write;
        write.channel = channel;
        const std::string value = text.substr(equals + 1);
        if (!value.empty() && value[0] == '@') {
            const auto source = Decimal(value.substr(1));
            write.source = source ? plant_.Find(*source) : nullptr;
            if (write.source == nullptr) return fail("no channel " + value.substr(1) + " in " + s_.param_path);
            if (!write.source->IsInput()) return fail("channel " + value.substr(1) + " is not read");
            write.value.channel = channel->number;
            write.value.type_code = channel->type_code;
            WarnCopy(text, write);
        } else {
            std::string error;
            if (!ParseChannelValue(value, *channel, write.value, error)) return fail(error);
            const std::string warning = WriteWarning(*channel, write.value);
            if (!warning.empty()) std::printf("warning: --write %s: %s\n", text.c_str(), warning.c_str());
        }
        writes_.push_back(write);
    }
    return true;
}

bool Runner::InjectFaults() {
    for (const std::string& fault : s_.faults) {
        std::string line, error;
        char said[512] = {};
        if (!FaultLine(plant_, fault, line, error)) {
            std::fprintf(stderr, "tovihost %s: --fault %s: %s\n", s_.command.c_str(), fault.c_str(), error.c_str());
            return false;
        }
        const std::int32_t id = devsim_inject_fault_line(line.c_str(), said, sizeof said);
        if (id < 0) {
            std::fprintf(stderr, "tovihost %s: --fault %s: %s\n", s_.command.c_str(), fault.c_str(), said);
            return false;
        }
        faults_.Add(fault, id);
    }
    return true;
}

void Runner::RecordOutcomes(const std::vector<ChannelOutcome>& outcomes, bool written, long long cycle) {
    const auto now = Clock::now();
    for (const ChannelOutcome& outcome : outcomes) {
        const PlantChannel* channel = plant_.Find(outcome.channel);
        if (channel == nullptr) continue;
        ModuleStats& stats = stats_[channel->module];
        (written ? stats.writes : stats.reads) += 1;
        if (outcome.finished && outcome.status != 0) ++stats.errors;
        csv_.Add(cycle, std::chrono::duration<double>(now - start_).count(), outcome, *channel, written);
        const auto found = row_of_.find(outcome.channel);
        if (found == row_of_.end()) continue;
        Row& row = rows_[found->second];
        row.status = StatusText(outcome);
        if (outcome.finished && (written || outcome.status == 0)) {
            row.value = outcome.value;
            row.has_value = true;
        }
        if (outcome.finished && outcome.status == 0) {
            row.ever_good = true;
            row.last_good = now;
        }
    }
}

void Runner::ChargeTimes(const std::map<std::int64_t, std::chrono::nanoseconds>& spent) {
    for (const auto& [device, time] : spent) {
        const PlantModule* module = plant_.ModuleOnDevice(device);
        if (module == nullptr) continue;
        ModuleStats& stats = stats_[module->name];
        ++stats.batches;
        stats.total += time;
        stats.longest = std::max(stats.longest, time);
    }
}

void Runner::CountUnasked(const std::vector<ChannelOutcome>& outcomes) {
    const std::uint64_t failed = static_cast<std::uint64_t>(std::count_if(
        outcomes.begin(), outcomes.end(), [](const ChannelOutcome& o) { return o.finished && o.status != 0; }));
    const CallTrace::FailedCalls calls = trace_->BatchFailures();
    // The batch's failures are the injected faults' when only injected calls failed.
    if (failed != 0 && (calls.injected == 0 || calls.other != 0)) unasked_failures_ += failed;
}

void Runner::Cycle(long long cycle) {
    const auto timeout = std::chrono::milliseconds(s_.timeout_ms);
    std::vector<ChannelValue> reads;
    for (const Row& row : rows_) {
        if (row.written) continue;
        ChannelValue value;
        value.channel = row.channel->number;
        value.type_code = row.channel->type_code;
        reads.push_back(value);
    }
    std::vector<ChannelOutcome> outcomes;
    if (!reads.empty()) {
        trace_->BeginBatch();
        const auto begin = Clock::now();
        const bool finished = host_.session().Read(reads, outcomes, timeout);
        read_batches_.Add(Clock::now() - begin);
        ChargeTimes(trace_->EndBatch());
        CountUnasked(outcomes);
        RecordOutcomes(outcomes, false, cycle);
        if (!finished) {
            hung_ = true;
            return;
        }
    }
    std::vector<ChannelValue> values;
    if (s_.derived_writes) {
        for (const ChannelValue& value : s_.derived_writes(plant_, cycle)) {
            const bool given = std::any_of(writes_.begin(), writes_.end(), [&](const PlannedWrite& w) {
                return w.channel->number == value.channel;
            });
            if (!given) values.push_back(value);
        }
    }
    for (const PlannedWrite& write : writes_) {
        if (write.source == nullptr) {
            if (cycle == 1) values.push_back(write.value);
            continue;
        }
        const Row& source = rows_[row_of_.at(write.source->number)];
        if (source.status != "ok") continue;  // keep what the output shows until a good reading
        ChannelValue value = write.value;
        const double number = source.value.type_code == kBoolean ? (source.value.boolean ? 1.0 : 0.0) : source.value.real;
        value.real = number;
        value.boolean = number != 0.0;
        values.push_back(value);
    }
    if (!values.empty()) {
        trace_->BeginBatch();
        const auto begin = Clock::now();
        const bool finished = host_.session().Write(values, outcomes, timeout);
        write_batches_.Add(Clock::now() - begin);
        ChargeTimes(trace_->EndBatch());
        CountUnasked(outcomes);
        RecordOutcomes(outcomes, true, cycle);
        if (!finished) hung_ = true;
    }
}

int Runner::Run() {
    int code = kExitUsage;
    if (!Prepare(code)) return code;
    std::string message;
    log_path_ = plant_.LogPath(s_.arguments.Value("--log-dir"));
    log_lines_before_ = LinesOf(log_path_);
    if (plant_.debug()) {
        const std::string writable = LogWritable(log_path_);
        if (writable.rfind("cannot be written", 0) == 0) {
            log_unwritable_ = writable.substr(std::string("cannot be written: ").size());
            std::printf("warning: the error log %s cannot be written: %s: the driver's device errors are lost\n",
                        ShownCp1250(log_path_).c_str(), log_unwritable_.c_str());
        }
    }
    char record_error[512] = {};
    if (!s_.record_path.empty() && devsim_record_start(s_.record_path.c_str(), record_error, sizeof record_error) != 0) {
        std::fprintf(stderr, "tovihost %s: --record %s\n", s_.command.c_str(), ShownUtf8(record_error).c_str());
        csv_.Close();
        return kExitUsage;
    }
    // The recording ends once the driver has stopped, whichever way the run ends.
    struct RecordingEnd {
        bool recording;
        ~RecordingEnd() {
            char error[512] = {};
            if (recording && devsim_record_stop(error, sizeof error) != 0) {
                std::fprintf(stderr, "tovihost: %s\n", ShownUtf8(error).c_str());
            }
        }
    } recording_end{!s_.record_path.empty()};
    const bool started = host_.Start(s_.param_path, s_.arguments.Value("--log-dir"), message);
    WarnOtherDeviceManager(host_.driver_path(), plant_.modules().size());
    if (s_.started) s_.started(started, message);
    if (!started) {
        std::printf("error: %s\n", ShownUtf8(message).c_str());
        if (s_.check_hint) std::printf("  (tovihost check %s explains the configuration)\n", s_.param_path.c_str());
        csv_.Close();
        return kExitRefused;
    }
    devsim_clear_call_counts();  // the statistics count the run, not the binding
    trace_->ClearCounts();
    terminal_ = !s_.plain && !s_.trace && IsTerminal();
    {
        std::lock_guard<std::mutex> guard(OutputMutex());
        std::printf("tovihost %s: %s with devices %s, %zu channels read every %lld ms%s\n", s_.command.c_str(),
                    s_.param_path.c_str(), devices_.empty() ? "(none)" : devices_.c_str(),
                    static_cast<std::size_t>(std::count_if(rows_.begin(), rows_.end(), [](const Row& r) { return !r.written; })),
                    s_.period_ms,
                    s_.cycles > 0 ? (", " + std::to_string(s_.cycles) + " cycles").c_str() : s_.until.c_str());
        if (!terminal_) std::printf("driver window: %s\n", host_.WindowTitle().c_str());
        std::fflush(stdout);
    }
    interrupted = 0;
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    InstallCrashReport();
    start_ = Clock::now();
    long long cycle = 0;
    while (interrupted == 0 && (s_.cycles == 0 || cycle < s_.cycles)) {
        ++cycle;
        SetCrashContext(s_.param_path + ", cycle " + std::to_string(cycle));
        const auto due = start_ + std::chrono::milliseconds(s_.period_ms) * cycle;
        Cycle(cycle);
        Show(cycle);
        if (hung_) break;
        if (s_.cycles != 0 && cycle == s_.cycles) break;
        if (s_.stop && s_.stop()) break;
        while (interrupted == 0 && Clock::now() < due) {
            std::this_thread::sleep_for(std::min<Clock::duration>(due - Clock::now(), std::chrono::milliseconds(20)));
        }
    }
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    csv_.Close();
    std::fflush(stdout);  // the cycles' lines before any message on standard error
    if (terminal_ && s_.progress) {
        std::lock_guard<std::mutex> guard(OutputMutex());
        std::printf("\r%s\x1b[K\n", s_.progress().c_str());  // the progress line stays, as it ended
    }
    if (hung_) {
        std::lock_guard<std::mutex> guard(OutputMutex());
        std::fprintf(stderr,
                     "tovihost %s: the driver did not finish a batch of cycle %lld within %lld ms (no completion "
                     "callback for the channels marked TIMEOUT): the driver or a device call is hung\n",
                     s_.command.c_str(), cycle, s_.timeout_ms);
    } else if (interrupted != 0) {
        std::lock_guard<std::mutex> guard(OutputMutex());
        std::printf("\ninterrupted after %lld cycles: stopping the driver\n", cycle);
    }
    // The device states and the driver's last error line as they were at the end.
    const std::string error_line = host_.ErrorLine();
    for (const PlantModule& module : plant_.modules()) {
        const std::int64_t device = s_.device_of ? s_.device_of(module) : module.device_number;
        calls_[module.name] = device < 0 ? 0 : devsim_call_count(nullptr, device) + trace_->PortCalls(device);
        const std::int64_t serial_device = s_.serial_device_of ? s_.serial_device_of(module) : -1;
        if (serial_device >= 0) calls_[module.name] += devsim_call_count(nullptr, serial_device);
    }
    if (s_.before_stop) s_.before_stop();
    host_.Stop(std::chrono::milliseconds(std::max<long long>(s_.timeout_ms, 10000)));
    trace_.reset();
    std::vector<const PlantChannel*> written;
    for (const PlannedWrite& write : writes_) {
        if (std::find(written.begin(), written.end(), write.channel) == written.end()) written.push_back(write.channel);
    }
    {
        std::lock_guard<std::mutex> guard(OutputMutex());
        std::printf("\ndriver stopped (Done, DisposeDriver); last error line: %s\n",
                    error_line.empty() ? "(empty)" : error_line.c_str());
    }
    Summary(written);
    if (s_.demo) AtAGlance(error_line);
    if (hung_) return kExitHung;
    if (s_.unasked_failures_fail && unasked_failures_ != 0) {
        std::printf("\nfailed transfers: %llu that no --fault asked for: exit status 1\n",
                    static_cast<unsigned long long>(unasked_failures_));
        return kExitRefused;
    }
    return 0;
}

}  // namespace tovihost
