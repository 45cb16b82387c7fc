// tovihost run PARAMFILE: the host's polling loop. Every period one read batch of
// every input channel, then the writes due, each batch waited for through the
// driver's completion callback; a live table on a terminal, plain lines
// otherwise; statistics and the host's message log at the end. Without a command,
// tovihost runs the shipped example plant this way for a few cycles.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include "device_sim/device_sim.h"
#include "emulator/commands.h"
#include "emulator/device_view.h"
#include "emulator/driver_host.h"
#include "emulator/fault_tally.h"
#include "emulator/file_text.h"
#include "emulator/plant.h"
#include "emulator/shown_text.h"
#include "emulator/system_info.h"
#include "emulator/write_warnings.h"

namespace tovihost {
namespace {

using Clock = std::chrono::steady_clock;

volatile std::sig_atomic_t interrupted = 0;

extern "C" void OnInterrupt(int) { interrupted = 1; }

struct RunSettings {
    std::string command = "run";
    std::string param_path;
    Arguments arguments;  // --devices and --log-dir as given
    long long period_ms = 500;
    long long cycles = 0;  // 0: until interrupted
    std::vector<std::string> writes;
    std::vector<std::string> faults;
    std::string csv_path;
    bool trace = false;
    std::string trace_modules;
    bool plain = false;
    long long timeout_ms = 5000;
    bool demo = false;
    std::function<bool()> stop;
};

// A write given on the command line: a value written in the first cycle, or the
// latest good value of a source channel written every cycle.
struct PlannedWrite {
    const PlantChannel* channel = nullptr;
    ChannelValue value;
    const PlantChannel* source = nullptr;
};

struct Row {
    const PlantChannel* channel = nullptr;
    bool written = false;  // an output row
    ChannelValue value;
    bool has_value = false;
    std::string status = "-";
    bool ever_good = false;
    Clock::time_point last_good;
    std::string shown;  // the row's text when last printed in plain mode
};

struct ModuleStats {
    std::uint64_t reads = 0, writes = 0, errors = 0;
    std::uint64_t batches = 0;
    std::chrono::nanoseconds total{0}, longest{0};
};

struct BatchStats {
    std::uint64_t count = 0;
    std::chrono::nanoseconds total{0}, longest{0};
    void Add(std::chrono::nanoseconds time) {
        ++count;
        total += time;
        longest = std::max(longest, time);
    }
};

bool IsTerminal() {
#if defined(_WIN32)
    return _isatty(_fileno(stdout)) != 0;
#else
    const char* term = std::getenv("TERM");
    return isatty(fileno(stdout)) != 0 && (term == nullptr || std::string(term) != "dumb");
#endif
}

std::string Milliseconds(std::chrono::nanoseconds time) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f ms", std::chrono::duration<double, std::milli>(time).count());
    return text;
}

// Widths count characters, not bytes.
std::string Pad(const std::string& text, std::size_t width) { return PadColumns(text, width); }

std::string PadLeft(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

// Every digit a value holds: the shortest text that reads back as the same double.
std::string ExactValue(const ChannelValue& value) {
    if (value.type_code == kBoolean) return value.boolean ? "true" : "false";
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value.real);
    return std::string(text, result.ptr);
}

std::string StatusText(const ChannelOutcome& outcome) {
    if (!outcome.finished) return "TIMEOUT";
    return outcome.status == 0 ? "ok" : outcome.status == 2 ? "ERROR" : "status " + std::to_string(outcome.status);
}

class Runner {
public:
    explicit Runner(RunSettings settings) : s_(std::move(settings)) {}
    int Run();

private:
    bool Prepare(int& code);
    bool PlanWrites();
    bool InjectFaults();
    void Cycle(long long cycle);
    void RecordOutcomes(const std::vector<ChannelOutcome>& outcomes, bool written, long long cycle);
    void ChargeTimes(const std::map<std::int64_t, std::chrono::nanoseconds>& spent);
    void Show(long long cycle);
    std::vector<std::string> TableLines(long long cycle) const;
    std::string RowLine(const Row& row, const std::vector<bool>& shown) const;
    void Summary(const std::vector<const PlantChannel*>& written);
    void AtAGlance(const std::string& error_line);

    RunSettings s_;
    DriverHost host_;
    Plant plant_;
    std::string devices_;
    std::vector<PlannedWrite> writes_;
    std::vector<Row> rows_;
    std::map<std::int32_t, std::size_t> row_of_;
    std::map<std::string, ModuleStats> stats_;
    std::map<std::string, std::uint64_t> calls_;  // vendor calls per module while the driver ran
    BatchStats read_batches_, write_batches_;
    std::unique_ptr<CallTrace> trace_;
    FaultTally faults_;
    std::FILE* csv_ = nullptr;
    bool terminal_ = false;
    std::size_t drawn_lines_ = 0;
    std::string last_error_line_;
    Clock::time_point start_;
    bool hung_ = false;
    std::string log_path_;
    std::size_t log_lines_before_ = 0;
};

// Lines of a text file; 0 for a file that is not there.
std::size_t LinesOf(const std::string& path) {
    std::string text, reason;
    if (!ReadWholeFile(path, text, reason)) return 0;
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

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
    if (!LoadDevicesFor(s_.command, s_.arguments, s_.param_path, devices_)) return false;
    plant_.ResolveDevices();
    if (!PlanWrites() || !InjectFaults()) return false;

    trace_ = std::make_unique<CallTrace>();
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
    if (!s_.csv_path.empty()) {
        std::string why = CannotWrite(s_.csv_path);
        if (why.empty()) {
            errno = 0;
            csv_ = std::fopen(s_.csv_path.c_str(), "w");
            if (csv_ == nullptr) why = std::strerror(errno);
        }
        if (csv_ == nullptr) {
            std::fprintf(stderr, "tovihost %s: --csv %s: cannot be written: %s\n", s_.command.c_str(),
                         s_.csv_path.c_str(), why.c_str());
            return false;
        }
        std::fprintf(csv_, "cycle,time_s,channel,module,function,direction,value,status\n");
    }
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
    for (const PlantModule& module : plant_.modules()) stats_[module.name];
    return true;
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
        if (csv_ != nullptr) {
            // A read that failed has no value: GetInput then answers the channel's last good one.
            const bool has_value = outcome.finished && (written || outcome.status == 0);
            std::fprintf(csv_, "%lld,%.3f,%d,%s,%s,%s,%s,%s\n", cycle,
                         std::chrono::duration<double>(now - start_).count(), outcome.channel,
                         CsvField(ShownCp1250(channel->module)).c_str(), CsvField(channel->Function()).c_str(),
                         written ? "write" : "read", has_value ? ExactValue(outcome.value).c_str() : "",
                         outcome.finished ? std::to_string(outcome.status).c_str() : "unfinished");
        }
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
        RecordOutcomes(outcomes, false, cycle);
        if (!finished) {
            hung_ = true;
            return;
        }
    }
    std::vector<ChannelValue> values;
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
        RecordOutcomes(outcomes, true, cycle);
        if (!finished) hung_ = true;
    }
}

// The table's columns in the order shown, with their widths; a narrow terminal
// drops them from the least needed on (since good, direction, function, module).
struct TableColumn {
    const char* title;
    std::size_t width;
    int drop_order;  // 0: never dropped
};
constexpr TableColumn kTableColumns[] = {{"channel", 9, 0}, {"module", 14, 4}, {"function", 26, 3}, {"dir", 7, 2},
                                         {"value", 13, 0},  {"status", 9, 0},  {"since good", 10, 1}};
constexpr std::size_t kColumnCount = sizeof kTableColumns / sizeof kTableColumns[0];

// Which columns fit in width (all of them when the width is unknown).
std::vector<bool> ShownColumns(std::size_t width) {
    std::vector<bool> shown(kColumnCount, true);
    auto total = [&] {
        std::size_t sum = 0;
        for (std::size_t i = 0; i < kColumnCount; ++i) sum += shown[i] ? kTableColumns[i].width : 0;
        return sum;
    };
    for (int order = 1; width != 0 && total() > width && order <= 4; ++order) {
        for (std::size_t i = 0; i < kColumnCount; ++i) {
            if (kTableColumns[i].drop_order == order) shown[i] = false;
        }
    }
    return shown;
}

std::string Cells(const std::vector<std::string>& cells, const std::vector<bool>& shown) {
    std::string line;
    for (std::size_t i = 0; i < kColumnCount; ++i) {
        if (!shown[i]) continue;
        if (i == 0) line += PadLeft(cells[i], 7) + "  ";
        else if (i + 1 == kColumnCount) line += cells[i];
        else line += Pad(cells[i], kTableColumns[i].width);
    }
    return line.erase(line.find_last_not_of(' ') + 1);
}

std::string Runner::RowLine(const Row& row, const std::vector<bool>& shown) const {
    const PlantChannel& c = *row.channel;
    std::string age = "-";
    if (row.ever_good) {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f s", std::chrono::duration<double>(Clock::now() - row.last_good).count());
        age = text;
    }
    return Cells({std::to_string(c.number), ShownCp1250(c.module), c.Function(), row.written ? "write" : "read",
                  row.has_value ? FormatValue(row.value) : "-", row.status, age},
                 shown);
}

std::vector<std::string> Runner::TableLines(long long cycle) const {
    const auto [width, height] = TerminalSize();
    const std::vector<bool> shown = ShownColumns(width);
    auto fit = [width = width](const std::string& line) { return width == 0 ? line : FitColumns(line, width - 1); };
    std::vector<std::string> lines;
    const std::string of = s_.cycles > 0 ? "/" + std::to_string(s_.cycles) : "";
    char when[64];
    std::snprintf(when, sizeof when, "%.2f s", std::chrono::duration<double>(Clock::now() - start_).count());
    lines.push_back(fit("driver window: " + host_.WindowTitle() + "    cycle " + std::to_string(cycle) + of + " at " +
                        when));
    const std::string error_line = host_.ErrorLine();
    lines.push_back(fit("error line:    " + (error_line.empty() ? std::string("(empty)") : ShownUtf8(error_line))));
    lines.push_back("");
    std::vector<std::string> titles;
    for (const TableColumn& column : kTableColumns) titles.emplace_back(column.title);
    lines.push_back(fit(Cells(titles, shown)));
    // A short terminal shows the rows that fit and says how many it left out; the
    // cursor needs one line below the table.
    std::size_t room = rows_.size();
    if (height != 0) {
        const std::size_t free = height > lines.size() + 1 ? height - lines.size() - 1 : 0;
        if (rows_.size() > free) room = free > 0 ? free - 1 : 0;
    }
    for (std::size_t i = 0; i < room; ++i) lines.push_back(fit(RowLine(rows_[i], shown)));
    if (room < rows_.size()) {
        lines.push_back(fit("(" + std::to_string(rows_.size() - room) + " more channels: a taller window, or --plain)"));
    }
    return lines;
}

void Runner::Show(long long cycle) {
    std::lock_guard<std::mutex> guard(OutputMutex());
    if (terminal_) {
        if (drawn_lines_ != 0) std::printf("\x1b[%zuA\r", drawn_lines_);
        const std::vector<std::string> lines = TableLines(cycle);
        for (const std::string& line : lines) std::printf("%s\x1b[K\n", line.c_str());
        std::printf("\x1b[J");
        drawn_lines_ = lines.size();
        std::fflush(stdout);
        return;
    }
    char when[32];
    std::snprintf(when, sizeof when, "%.2f s", std::chrono::duration<double>(Clock::now() - start_).count());
    std::printf("cycle %lld at %s\n", cycle, when);
    const std::string error_line = host_.ErrorLine();
    if (error_line != last_error_line_) {
        std::printf("  error line: %s\n", ShownUtf8(error_line).c_str());
        last_error_line_ = error_line;
    }
    for (Row& row : rows_) {
        // Only what changed: value and status (the age changes every cycle).
        const std::string shown = (row.has_value ? FormatValue(row.value) : "-") + "|" + row.status;
        if (shown == row.shown) continue;
        row.shown = shown;
        const PlantChannel& c = *row.channel;
        std::printf("  %s  %s%s%s%s\n", PadLeft(std::to_string(c.number), 6).c_str(), Pad(ShownCp1250(c.module), 14).c_str(),
                    Pad(c.Function(), 26).c_str(), Pad(row.written ? "write" : "read", 7).c_str(),
                    (Pad(row.has_value ? FormatValue(row.value) : "-", 13) + row.status).c_str());
    }
    std::fflush(stdout);
}

void Runner::Summary(const std::vector<const PlantChannel*>& written) {
    std::lock_guard<std::mutex> guard(OutputMutex());
    if (!written.empty()) {
        std::printf("\ndevices now hold:\n");
        for (const PlantChannel* channel : written) {
            std::printf("  %s  %s%s%s\n", PadLeft(std::to_string(channel->number), 6).c_str(),
                        Pad(ShownCp1250(channel->module), 14).c_str(), Pad(channel->Function(), 26).c_str(),
                        DescribeOutput(plant_, *channel).c_str());
        }
    }
    std::printf("\nstatistics per module (device time: the worker's time in the module's vendor calls per batch):\n");
    std::printf("  %s%8s%8s%8s%14s%14s%14s\n", Pad("module", 14).c_str(), "reads", "writes", "errors", "vendor calls",
                "mean time", "max time");
    for (const PlantModule& module : plant_.modules()) {
        const ModuleStats& stats = stats_[module.name];
        const std::uint64_t calls = calls_[module.name];
        const std::string mean = stats.batches == 0 ? "-" : Milliseconds(stats.total / stats.batches);
        const std::string longest = stats.batches == 0 ? "-" : Milliseconds(stats.longest);
        std::printf("  %s%8llu%8llu%8llu%14llu%14s%14s\n", Pad(ShownCp1250(module.name), 14).c_str(),
                    static_cast<unsigned long long>(stats.reads), static_cast<unsigned long long>(stats.writes),
                    static_cast<unsigned long long>(stats.errors), static_cast<unsigned long long>(calls), mean.c_str(),
                    longest.c_str());
    }
    auto batches = [](const char* what, const BatchStats& b) {
        if (b.count == 0) return;
        std::printf("  %s batches: %llu, mean %s, max %s\n", what, static_cast<unsigned long long>(b.count),
                    Milliseconds(b.total / b.count).c_str(), Milliseconds(b.longest).c_str());
    };
    batches("read", read_batches_);
    batches("write", write_batches_);
    std::printf("\nhost message log:%s\n", host_.HostMessages().empty() ? " (empty)" : "");
    for (const std::string& message : host_.HostMessages()) std::printf("  %s\n", ShownUtf8(message).c_str());
    if (plant_.debug()) {
        const std::size_t lines = LinesOf(log_path_);
        const std::size_t added = lines >= log_lines_before_ ? lines - log_lines_before_ : lines;
        std::printf("\nerror log: %s, %zu line%s added\n", ShownCp1250(log_path_).c_str(), added,
                    added == 1 ? "" : "s");
    } else {
        std::printf("\nerror log: not written (debug is off in the [tovi] section of %s)\n", s_.param_path.c_str());
    }
    faults_.Print(stdout);
    std::fflush(stdout);
}

void Runner::AtAGlance(const std::string& error_line) {
    std::uint64_t reads = 0, read_errors = 0, writes = 0, write_errors = 0;
    for (const auto& [name, stats] : stats_) {
        reads += stats.reads;
        writes += stats.writes;
    }
    for (const Row& row : rows_) (row.written ? write_errors : read_errors) += row.status != "ok";
    const PlantModule* panel = plant_.FindModule("panel");
    std::string display = "no display";
    if (panel != nullptr && panel->device_number >= 0) {
        devsim_display_state state{};
        if (devsim_display_state_of(static_cast<std::uint32_t>(panel->device_number), &state) == 0) {
            display = std::to_string(state.frames) + " frames, shows \"" + std::string(state.shown) + "\"";
        }
    }
    std::printf("\nat a glance:\n"
                "  inputs read:      %llu channel reads over %llu cycles\n"
                "  outputs written: %llu channel writes, every one finished %s\n"
                "  display driven:   panel %s\n"
                "  fault reported:   %s\n",
                static_cast<unsigned long long>(reads), static_cast<unsigned long long>(read_batches_.count),
                static_cast<unsigned long long>(writes), write_errors == 0 ? "with status 0" : "(some with errors)",
                display.c_str(), error_line.empty() ? "none" : ("error line \"" + error_line + "\"").c_str());
    std::fflush(stdout);
}

int Runner::Run() {
    int code = kExitUsage;
    if (!Prepare(code)) return code;
    std::string message;
    log_path_ = plant_.LogPath(s_.arguments.Value("--log-dir"));
    log_lines_before_ = LinesOf(log_path_);
    const bool started = host_.Start(s_.param_path, s_.arguments.Value("--log-dir"), message);
    WarnOtherDeviceManager(host_.driver_path(), plant_.modules().size());
    if (!started) {
        std::printf("error: %s\n", ShownUtf8(message).c_str());
        std::printf("  (tovihost check %s explains the configuration)\n", s_.param_path.c_str());
        if (csv_ != nullptr) std::fclose(csv_);
        return kExitRefused;
    }
    devsim_clear_call_counts();  // the statistics count the run, not the binding
    terminal_ = !s_.plain && !s_.trace && IsTerminal();
    {
        std::lock_guard<std::mutex> guard(OutputMutex());
        std::printf("tovihost %s: %s with devices %s, %zu channels read every %lld ms%s\n", s_.command.c_str(),
                    s_.param_path.c_str(), devices_.empty() ? "(none)" : devices_.c_str(),
                    static_cast<std::size_t>(std::count_if(rows_.begin(), rows_.end(), [](const Row& r) { return !r.written; })),
                    s_.period_ms,
                    s_.cycles > 0 ? (", " + std::to_string(s_.cycles) + " cycles").c_str() : ", until Ctrl-C");
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
    if (csv_ != nullptr) std::fclose(csv_);
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
        calls_[module.name] = module.device_number < 0 ? 0 : devsim_call_count(nullptr, module.device_number);
    }
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
    return hung_ ? kExitHung : 0;
}

const ArgumentRules kRunRules{
    {"--devices", "--period", "--cycles", "--write", "--csv", "--fault", "--timeout", "--log-dir"},
    {"--trace"},
    {"--plain"}};

std::string ShippedExample() {
    namespace fs = std::filesystem;
    std::error_code ignored;
    const std::string relative = "examples/plant.ini";
    if (fs::is_regular_file(relative, ignored)) return relative;
#if defined(TOVI_SOURCE_DIR)
    const std::string source = std::string(TOVI_SOURCE_DIR) + "/" + relative;
    if (fs::is_regular_file(source, ignored)) return source;
#endif
    return "";
}

}  // namespace

int RunCommand(const Options& options) { return RunLoop(options, {}); }

int RunLoop(const Options& options, const std::function<bool()>& stop) {
    RunSettings settings;
    settings.stop = stop;
    std::string error;
    if (!ParseArguments("run", options.arguments, kRunRules, settings.arguments, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kExitUsage;
    }
    const Arguments& a = settings.arguments;
    if (a.positional.size() != 1) {
        std::fprintf(stderr, "usage: tovihost run [OPTIONS] PARAMFILE  (tovihost --help lists the options)\n");
        return kExitUsage;
    }
    settings.param_path = a.positional[0];
    if (a.Has("--period")) {
        const auto period = ParseCount(a.Value("--period"), 0, 3600000);
        if (!period) {
            std::fprintf(stderr, "tovihost run: --period takes milliseconds from 0 to 3600000, not \"%s\"\n",
                         a.Value("--period").c_str());
            return kExitUsage;
        }
        settings.period_ms = *period;
    }
    if (a.Has("--cycles")) {
        const auto cycles = ParseCount(a.Value("--cycles"), 1, 1000000000);
        if (!cycles) {
            std::fprintf(stderr, "tovihost run: --cycles takes a whole number from 1, not \"%s\"\n",
                         a.Value("--cycles").c_str());
            return kExitUsage;
        }
        settings.cycles = *cycles;
    }
    if (!ReadTimeout("run", a, settings.timeout_ms)) return kExitUsage;
    settings.writes = a.Values("--write");
    settings.faults = a.Values("--fault");
    settings.csv_path = a.Value("--csv");
    settings.trace = a.Has("--trace");
    settings.trace_modules = a.Value("--trace");
    settings.plain = a.Has("--plain");
    settings.arguments.options["--driver"] = {options.driver_path};
    return Runner(std::move(settings)).Run();
}

int DemoCommand(const Options& options) {
    RunSettings settings;
    settings.param_path = ShippedExample();
    if (settings.param_path.empty()) {
        std::fprintf(stderr,
                     "tovihost: the shipped example examples/plant.ini is not here; run tovihost from the project "
                     "directory, or give a command (tovihost --help)\n");
        return kExitUsage;
    }
    settings.command = "(example)";
    settings.demo = true;
    settings.period_ms = 100;
    settings.cycles = 5;
    // Outputs of every kind the example has a value for, the panel display showing
    // the flow temperature, and a read fault on one channel in the third cycle.
    settings.writes = {"200=2.5", "320=true", "400=0x5A", "800=1", "801=@100"};
    settings.faults = {"DRV_AIVoltageIn status=1001 module=boiler_temps channel=2 every=3 text=\"Input overrange\""};
    settings.arguments.options["--driver"] = {options.driver_path};
    std::printf("tovihost: no command given, so it runs the shipped example plant %s for %lld cycles of %lld ms.\n"
                "It writes 2.5 to valve output 200, true to burner bit 320, 0x5A to pump port 400, selects the\n"
                "panel display (800) and shows the flow temperature (channel 100) on it (801) every cycle.\n"
                "An injected device fault makes the read of channel 102 fail in cycle 3.\n\n",
                settings.param_path.c_str(), settings.cycles, settings.period_ms);
    const int code = Runner(std::move(settings)).Run();
    std::printf("\nnext: tovihost check examples/plant.ini | tovihost run examples/plant.ini --cycles 10 "
                "--trace=panel | tovihost scenario tests/scenarios/inputs.scenario | tovihost --help\n");
    return code;
}

}  // namespace tovihost
