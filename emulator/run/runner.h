// The host's polling loop as tovihost run and tovihost replay drive it: every
// period one read batch of every input channel, then the writes due, each batch
// waited for through the driver's completion callback. Its parts: the loop itself
// (runner.cpp), the live table and plain lines (live_table.cpp), the CSV of every
// outcome (run_csv.cpp) and the end-of-run report (run_report.cpp).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "emulator/commands/commands.h"
#include "emulator/host/driver_host.h"
#include "emulator/plant/fault_tally.h"
#include "emulator/plant/plant.h"
#include "emulator/run/run_csv.h"

namespace tovihost {

using Clock = std::chrono::steady_clock;

struct RunSettings {
    std::string command = "run";
    std::string param_path;
    Arguments arguments;  // --devices and --log-dir as given
    long long period_ms = 500;
    long long cycles = 0;  // 0: until interrupted
    std::vector<std::string> writes;
    std::vector<std::string> faults;
    std::string csv_path;
    std::string record_path;  // where the simulated device manager records the run; empty: nowhere
    bool trace = false;
    std::string trace_modules;
    bool plain = false;
    long long timeout_ms = 5000;
    bool demo = false;
    // Whether a read or write that failed without an injected fault behind it
    // makes the exit status 1 (run and the example; a replay has its own verdict).
    bool unasked_failures_fail = false;
    std::function<bool()> stop;
    // For a command that drives the loop for its own ends (replay):
    std::string until = ", until Ctrl-C";  // how the header says the run ends without --cycles
    std::string devices_loaded;            // the device set the command loaded itself ("": --devices)
    bool check_hint = true;                // a driver that does not start is explained by tovihost check
    // On a terminal (not --plain), this one line redrawn every cycle instead of the table.
    std::function<std::string()> progress;
    // Writes made every cycle before the given ones (which override them per channel).
    std::function<std::vector<ChannelValue>(const Plant& plant, long long cycle)> derived_writes;
    // The device a module's vendor calls count for, when not the simulated device set's.
    std::function<std::int64_t(const PlantModule& module)> device_of;
    // The device a module's serial calls count for besides its own (a display
    // module's serial line), or -1.
    std::function<std::int64_t(const PlantModule& module)> serial_device_of;
    // Told whether the driver started, with its message when not.
    std::function<void(bool started, const std::string& message)> started;
    // Called after the last cycle, before the driver is stopped.
    std::function<void()> before_stop;
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
    // What that text was made from, and the row's unchanging columns.
    ChannelValue shown_value;
    bool shown_has_value = false, shown_made = false;
    std::string prefix;
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
    void CountUnasked(const std::vector<ChannelOutcome>& outcomes);
    void AttributeDisplayPorts();
    void WarnCopy(const std::string& text, const PlannedWrite& write);
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
    RunCsv csv_;
    bool terminal_ = false;
    std::size_t drawn_lines_ = 0;
    Clock::time_point progress_drawn_{};  // the progress line is redrawn at most ten times a second
    Clock::time_point flushed_{};  // standard output, in plain mode
    std::string last_error_line_;
    Clock::time_point start_;
    bool hung_ = false;
    std::string log_path_;
    std::size_t log_lines_before_ = 0;
    std::string log_unwritable_;      // why the error log cannot be written, when debug writes it
    std::uint64_t unasked_failures_ = 0;  // reads and writes failed without an injected fault behind them
    std::size_t module_width_ = 14;   // the module column, wide enough for every name
};

}  // namespace tovihost
