#include "emulator/run/run_report.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "device_sim/device_sim.h"
#include "emulator/host/system_info.h"
#include "emulator/plant/device_view.h"
#include "emulator/run/live_table.h"
#include "emulator/run/runner.h"
#include "emulator/text/file_text.h"
#include "emulator/text/shown_text.h"

namespace tovihost {

std::string Milliseconds(std::chrono::nanoseconds time) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f ms", std::chrono::duration<double, std::milli>(time).count());
    return text;
}

std::size_t LinesOf(const std::string& path) {
    std::string text, reason;
    if (!ReadWholeFile(path, text, reason)) return 0;
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
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

}  // namespace tovihost
