#include "emulator/inspect/inspect_report.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "emulator/plant/device_view.h"
#include "emulator/run/live_table.h"
#include "emulator/text/shown_text.h"

namespace tovihost {
namespace {

std::string FileName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

// A length of time: µs below a millisecond, ms below a second, else seconds.
std::string Length(std::uint64_t microseconds) {
    char text[40];
    if (microseconds < 1000) {
        std::snprintf(text, sizeof text, "%llu µs", static_cast<unsigned long long>(microseconds));
    } else if (microseconds < 1000000) {
        std::snprintf(text, sizeof text, "%.3f ms", static_cast<double>(microseconds) / 1e3);
    } else {
        std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(microseconds) / 1e6);
    }
    return text;
}

// The device manager's text in quotes, as it reads in Windows-1250.
std::string QuotedText(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        if (c == '"' || c == '\\') escaped += '\\';
        escaped += c;
    }
    return "\"" + ShownCp1250(escaped) + "\"";
}

std::string Joined(const std::vector<std::string>& words, const char* separator) {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : separator) + word;
    return text;
}

void AppendFunctions(std::string& out, const DeviceStats& device, bool durations) {
    std::size_t width = 8;
    for (const auto& [name, stats] : device.functions) width = std::max(width, name.size());
    out += "  " + Pad("function", width) + "  " + PadLeft("calls", 9) + "  " + PadLeft("failed", 7);
    out += durations ? "  " + PadLeft("median", 8) + "  " + PadLeft("p95", 8) + "  " + PadLeft("max", 8) + "  (µs)\n"
                     : "\n";
    for (const auto& [name, stats] : device.functions) {
        out += "  " + Pad(name, width) + "  " + PadLeft(std::to_string(stats.calls), 9) + "  " +
               PadLeft(std::to_string(stats.failures), 7);
        if (durations) {
            out += "  " + PadLeft(std::to_string(stats.durations.Quantile(0.5)), 8) + "  " +
                   PadLeft(std::to_string(stats.durations.Quantile(0.95)), 8) + "  " +
                   PadLeft(std::to_string(stats.durations.maximum()), 8);
        }
        out += "\n";
    }
}

void AppendFailures(std::string& out, const InspectSource& source, const DeviceStats& device) {
    if (device.failures == 0) return;
    out += "  failures: " + std::to_string(device.failures) + "\n";
    for (const auto& [status, stats] : device.statuses) {
        std::vector<std::string> functions(stats.functions.begin(), stats.functions.end());
        out += "    status " + std::to_string(status) + " " +
               (stats.text.empty() ? std::string("(no text)") : QuotedText(stats.text)) + ": " +
               std::to_string(stats.count) + " (" + Joined(functions, ", ") + ")\n";
    }
    for (const auto& [label, place] : {std::pair{"first", &device.first_failure}, std::pair{"last", &device.last_failure}}) {
        out += std::string("    ") + label + (std::strlen(label) == 4 ? ":  " : ": ") + ClockText((*place)->time_us) +
               " " + PlaceText(source, (*place)->file, (*place)->line) + " " + ShownUtf8((*place)->what) + "\n";
    }
}

}  // namespace

std::string ListedName(const RecordingSummary& summary, std::int64_t number) {
    for (const devsim_device_info& info : summary.listed()) {
        if (info.number == number) return std::string(info.name, strnlen(info.name, sizeof info.name));
    }
    return "";
}

std::string DeviceTitle(const RecordingSummary& summary, const DeviceKey& key) {
    if (key.kind == DeviceKey::Kind::SerialPort) return "serial port " + std::to_string(key.number);
    if (key.kind == DeviceKey::Kind::None) return key.number == 0 ? "no device" : "further devices";
    const std::string name = ListedName(summary, key.number);
    return "device " + std::to_string(key.number) + (name.empty() ? "" : " \"" + Escaped(ShownCp1250(name)) + "\"");
}

std::vector<std::string> ModulesOn(const Plant* plant, const DeviceKey& key) {
    std::vector<std::string> names;
    if (plant == nullptr || key.kind != DeviceKey::Kind::Device) return names;
    for (const PlantModule& module : plant->modules()) {
        if (module.device_number == key.number) names.push_back(ShownCp1250(module.name));
    }
    return names;
}

std::string PlaceText(const InspectSource& source, std::uint32_t file, std::size_t line) {
    const std::string name = file < source.paths.size() ? FileName(source.paths[file]) : "?";
    return name + ":" + std::to_string(line);
}

std::string InspectReport(const InspectSource& source, const RecordingSummary& summary, const Plant* plant) {
    std::vector<std::string> names;
    for (const std::string& path : source.paths) names.push_back(FileName(path));
    std::string out = "recording: " + Joined(names, ", ") + " (format version " +
                      std::to_string(source.header.version) + ", started " + source.header.started + ")\n";
    if (source.limited) {
        out += "selected: calls from " + ClockText(source.from_us) + " to " +
               (source.to_us == UINT64_MAX ? std::string("the end") : ClockText(source.to_us)) + "\n";
    }
    if (summary.calls() == 0) {
        out += source.limited ? "no calls in the selected time\n" : "no calls\n";
        return out;
    }
    out += "span: " + ClockText(summary.first_us()) + " to " + ClockText(summary.end_us()) + " (" +
           Length(summary.end_us() - summary.first_us()) + "), " + std::to_string(summary.calls()) + (summary.calls() == 1 ? " call, " : " calls, ") +
           std::to_string(summary.threads()) + (summary.threads() == 1 ? " thread\n" : " threads\n");
    for (const auto& [key, device] : summary.devices()) {
        out += "\n" + DeviceTitle(summary, key);
        const std::vector<std::string> modules = ModulesOn(plant, key);
        if (!modules.empty()) out += (modules.size() == 1 ? ", module " : ", modules ") + Joined(modules, ", ");
        out += "\n";
        AppendFunctions(out, device, summary.durations());
        AppendFailures(out, source, device);
    }
    out += "\n";
    out += summary.durations()
               ? "durations: median and 95th percentile approximate above 64 µs (within 1/32), maximum exact\n"
               : "durations: none recorded (format version 1)\n";
    out += "longest gaps between calls:";
    if (summary.gaps().empty()) out += " none";
    out += "\n";
    for (const Gap& gap : summary.gaps()) {
        out += "  " + Length(gap.length()) + " from " + ClockText(gap.from_us) + " to " + ClockText(gap.to_us) +
               " (before " + PlaceText(source, gap.file, gap.line) + ")\n";
    }
    return out;
}

}  // namespace tovihost
