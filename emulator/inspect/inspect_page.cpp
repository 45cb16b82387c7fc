#include "emulator/inspect/inspect_page.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "emulator/text/shown_text.h"

namespace tovihost {
namespace {

constexpr int kWidth = 960;
constexpr int kHeight = 110;
constexpr int kLeft = 70;  // room for the value labels
constexpr int kPlot = kWidth - kLeft - 10;

constexpr char kStyle[] = R"(body{font:14px sans-serif;margin:1em 2em;color:#222}
h2{font-size:16px;margin:1.5em 0 .3em;border-bottom:1px solid #ccc}
h3{font-size:13px;margin:.6em 0 .1em;font-weight:normal;color:#444}
svg.chart{display:block;background:#fafafa;border:1px solid #ddd}
svg .calls{fill:#7aa6d6}
svg .range{fill:#f0c27a}
svg .last{fill:none;stroke:#b0601a;stroke-width:1}
svg .failure{stroke:#d00;stroke-width:1.5}
svg .failures{fill:#d00}
svg text{font:10px sans-serif;fill:#555}
table{border-collapse:collapse;font-size:12px}
td,th{padding:1px 8px;text-align:left;border-bottom:1px solid #eee}
td.n{text-align:right}
p.note{color:#666;font-size:12px}
)";

// Text for the page, its line ends kept.
std::string Html(const std::string& text) {
    std::string shown;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        shown += ShownUtf8(text.substr(start, end - start));
        if (end < text.size()) shown += '\n';
        start = end + 1;
    }
    std::string out;
    for (const char c : shown) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

std::string Fixed(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

std::string DeviceAttribute(const DeviceKey& key) {
    if (key.kind == DeviceKey::Kind::SerialPort) return "port " + std::to_string(key.number);
    if (key.kind == DeviceKey::Kind::None) return key.number == 0 ? "none" : "further";
    return std::to_string(key.number);
}

// The x of a recorded time over the span.
class Axis {
public:
    Axis(std::uint64_t first, std::uint64_t end) : first_(first), span_(std::max<std::uint64_t>(end - first, 1)) {}
    double X(std::uint64_t t) const {
        const double share = t <= first_ ? 0 : static_cast<double>(t - first_) / static_cast<double>(span_);
        return kLeft + std::min(share, 1.0) * kPlot;
    }
    std::uint64_t first() const { return first_; }
    std::uint64_t end() const { return first_ + span_; }

private:
    std::uint64_t first_, span_;
};

std::string ChartStart(const std::string& kind, const std::string& attributes, const std::string& title) {
    return "<svg class=\"chart " + kind + "\" " + attributes + " width=\"" + std::to_string(kWidth) + "\" height=\"" +
           std::to_string(kHeight) + "\" viewBox=\"0 0 " + std::to_string(kWidth) + " " + std::to_string(kHeight) +
           "\" role=\"img\"><title>" + Html(title) + "</title>";
}

std::string TimeLabels(const Axis& axis) {
    return "<text x=\"" + std::to_string(kLeft) + "\" y=\"" + std::to_string(kHeight - 2) + "\">" +
           ClockText(axis.first()) + "</text><text x=\"" + std::to_string(kWidth - 10) + "\" y=\"" +
           std::to_string(kHeight - 2) + "\" text-anchor=\"end\">" + ClockText(axis.end()) + "</text>";
}

constexpr double kTop = 6, kBottom = kHeight - 16;

double Y(double value, double low, double high) {
    if (!(high > low)) return (kTop + kBottom) / 2;
    return kBottom - (value - low) / (high - low) * (kBottom - kTop);
}

// Minimum-to-maximum bars and the last value's line, per bucket.
std::string ValueChart(const TimeBuckets& series, const Axis& axis, const std::string& unit) {
    double low = INFINITY, high = -INFINITY;
    for (std::size_t i = 0; i < series.used(); ++i) {
        const TimeBucket& bucket = series.at(i);
        if (!bucket.has_value) continue;
        low = std::min(low, bucket.minimum);
        high = std::max(high, bucket.maximum);
    }
    if (!(low <= high)) return "<text x=\"" + std::to_string(kLeft + 4) + "\" y=\"40\">no values recorded</text>";
    std::string out, line;
    for (std::size_t i = 0; i < series.used(); ++i) {
        const TimeBucket& bucket = series.at(i);
        if (!bucket.has_value) continue;
        const std::uint64_t start = series.origin() + i * series.width();
        const double x = axis.X(start);
        const double w = std::max(1.0, axis.X(start + series.width()) - x);
        const double top = Y(bucket.maximum, low, high), bottom = Y(bucket.minimum, low, high);
        out += "<rect class=\"range\" x=\"" + Fixed(x) + "\" y=\"" + Fixed(top) + "\" width=\"" + Fixed(w) +
               "\" height=\"" + Fixed(std::max(1.0, bottom - top)) + "\"/>";
        line += Fixed(x + w / 2) + "," + Fixed(Y(bucket.last, low, high)) + " ";
    }
    out += "<polyline class=\"last\" points=\"" + line + "\"/>";
    out += "<text x=\"4\" y=\"" + Fixed(kTop + 8) + "\">" + Html(Number(high) + unit) + "</text>";
    out += "<text x=\"4\" y=\"" + Fixed(kBottom) + "\">" + Html(Number(low) + unit) + "</text>";
    return out;
}

// Calls per bucket as bars, and a mark per failure kept.
std::string TimelineChart(const DeviceStats& device, const DeviceKey& key, const Axis& axis) {
    const TimeBuckets& series = device.calls;
    std::uint64_t most = 1;
    for (std::size_t i = 0; i < series.used(); ++i) most = std::max(most, series.at(i).count);
    std::string out;
    for (std::size_t i = 0; i < series.used(); ++i) {
        const TimeBucket& bucket = series.at(i);
        if (bucket.count == 0) continue;
        const std::uint64_t start = series.origin() + i * series.width();
        const double x = axis.X(start);
        const double w = std::max(1.0, axis.X(start + series.width()) - x);
        const double top = Y(static_cast<double>(bucket.count), 0, static_cast<double>(most));
        out += "<rect class=\"calls\" x=\"" + Fixed(x) + "\" y=\"" + Fixed(top) + "\" width=\"" + Fixed(w) +
               "\" height=\"" + Fixed(std::max(1.0, kBottom - top)) + "\"><title>" + std::to_string(bucket.count) +
               " calls, " + std::to_string(bucket.failures) + " failed</title></rect>";
    }
    for (std::size_t i = 0; i < device.marked.size(); ++i) {
        const CallPlace& place = device.marked[i];
        const std::string x = Fixed(axis.X(place.time_us));
        out += "<line class=\"failure\" data-device=\"" + DeviceAttribute(key) + "\" data-status=\"" +
               std::to_string(place.status) + "\" x1=\"" + x + "\" x2=\"" + x + "\" y1=\"" + Fixed(kTop) + "\" y2=\"" +
               Fixed(kBottom) + "\"><title>" + Html(ClockText(place.time_us) + " " + place.what) + "</title></line>";
    }
    out += "<text x=\"4\" y=\"" + Fixed(kTop + 8) + "\">" + std::to_string(most) + " calls</text>";
    return out;
}

// The series a channel's values come from, as RecordingSummary keys them.
bool ChannelSeries(const PlantChannel& channel, std::int64_t device, ValueKey& key, std::string& unit) {
    const std::string port = std::to_string(channel.port);
    const std::string& k = channel.keyword;
    unit = "";
    if (k == "ai" || k == "cjc") key = {"DRV_AIVoltageIn", device, "channel=" + port}, unit = " V";
    else if (k == "ao") key = {"DRV_AOVoltageOut", device, "channel=" + port}, unit = " V";
    else if (k == "di_byte") key = {"DRV_DioReadPortByte", device, "port=" + port};
    else if (k == "di_bit") key = {"DRV_DioReadPortByte", device, "port=" + port + " bit=" + std::to_string(channel.bit)};
    else if (k == "do_byte") key = {"DRV_DioWritePortByte", device, "port=" + port};
    else if (k == "do_bit") key = {"DRV_DioWriteBit", device, "port=" + port + " bit=" + std::to_string(channel.bit)};
    else if (k == "cnt_event_read") key = {"DRV_CounterEventRead", device, "counter=" + port};
    else if (k == "cnt_freq_read") key = {"DRV_CounterFreqRead", device, "counter=" + port}, unit = " Hz";
    else if (k == "alarm_check_lo") key = {"DRV_AlarmCheck", device, "channel=" + port + " low"};
    else if (k == "alarm_check_hi") key = {"DRV_AlarmCheck", device, "channel=" + port + " high"};
    else return false;
    return true;
}

const TimeBuckets* FindSeries(const RecordingSummary& summary, const ValueKey& key) {
    const auto found = summary.values().find(key);
    return found == summary.values().end() ? nullptr : &found->second;
}

// The only serial port display frames went to, or -1.
std::int64_t OnlyFramePort(const RecordingSummary& summary) {
    return summary.frames().size() == 1 ? summary.frames().begin()->first : -1;
}

void AppendChannels(std::string& out, const RecordingSummary& summary, const Plant& plant, const DeviceKey& key,
                    const Axis& axis) {
    for (const PlantChannel& channel : plant.channels()) {
        const PlantModule* module = plant.ModuleOf(channel);
        if (channel.parameter || module == nullptr || module->device_number != key.number) continue;
        if (!channel.IsInput() && !channel.IsOutput()) continue;
        const std::string title = "channel " + std::to_string(channel.number) + " " + channel.Function() + " (" +
                                  ShownCp1250(channel.module) + ", " + (channel.IsInput() ? "read" : "written") + ")";
        out += "<h3>" + Html(title) + "</h3>";
        out += ChartStart("channel", "data-device=\"" + DeviceAttribute(key) + "\" data-channel=\"" +
                                         std::to_string(channel.number) + "\"",
                          title);
        ValueKey series_key;
        std::string unit;
        const TimeBuckets* series = nullptr;
        if (ChannelSeries(channel, key.number, series_key, unit)) {
            series = FindSeries(summary, series_key);
        } else if (channel.keyword.rfind("display", 0) == 0 && OnlyFramePort(summary) >= 0) {
            series = FindSeries(summary, {"COMWrite", OnlyFramePort(summary), "frames"});
        }
        if (series != nullptr && series_key.function.empty()) {
            // Display frames: how many were written per bucket, as bars.
            DeviceStats frames;
            frames.calls = *series;
            out += TimelineChart(frames, key, axis);
        } else if (series != nullptr) {
            out += ValueChart(*series, axis, unit);
        } else {
            out += "<text x=\"" + std::to_string(kLeft + 4) + "\" y=\"40\">no values recorded</text>";
        }
        out += TimeLabels(axis) + "</svg>";
    }
}

void AppendFailureList(std::string& out, const InspectSource& source, const RecordingSummary& summary) {
    out += "<h2 id=\"failures\">Failures</h2>";
    std::uint64_t total = 0, listed = 0;
    std::string rows;
    for (const auto& [key, device] : summary.devices()) {
        total += device.failures;
        for (const CallPlace& place : device.marked) {
            ++listed;
            rows += "<tr class=\"failure-row\" data-device=\"" + DeviceAttribute(key) + "\"><td>" +
                    ClockText(place.time_us) + "</td><td>" + Html(PlaceText(source, place.file, place.line)) +
                    "</td><td>" + Html(DeviceTitle(summary, key)) + "</td><td>" + Html(place.what) + "</td></tr>";
        }
    }
    if (total == 0) {
        out += "<p>none</p>";
        return;
    }
    out += "<table><tr><th>time</th><th>line</th><th>device</th><th>call</th></tr>" + rows + "</table>";
    if (listed < total) {
        out += "<p class=\"note\">" + std::to_string(total - listed) + " more failures not listed (the first " +
               std::to_string(RecordingSummary::kMarkedFailures) + " of each device are)</p>";
    }
}

}  // namespace

std::string InspectPage(const InspectSource& source, const RecordingSummary& summary, const Plant* plant) {
    std::string names;
    for (const std::string& path : source.paths) names += (names.empty() ? "" : ", ") + path;
    std::string out = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>tovihost inspect: " +
                      Html(names) + "</title><style>" + kStyle + "</style></head><body>\n";
    out += "<h1>Recording " + Html(names) + "</h1>\n<pre>" + Html(InspectReport(source, summary, plant)) + "</pre>\n";
    const Axis axis(summary.first_us(), summary.end_us());
    for (const auto& [key, device] : summary.devices()) {
        std::string title = DeviceTitle(summary, key);
        const std::vector<std::string> modules = ModulesOn(plant, key);
        for (std::size_t i = 0; i < modules.size(); ++i) title += (i == 0 ? ": " : ", ") + modules[i];
        const std::string attribute = "data-device=\"" + DeviceAttribute(key) + "\"";
        out += "<section class=\"device\" " + attribute + "><h2>" + Html(title) + "</h2>\n";
        out += "<h3>calls per time bucket; a red line per failure</h3>";
        out += ChartStart("timeline", attribute, title + ": calls and failures") + TimelineChart(device, key, axis) +
               TimeLabels(axis) + "</svg>\n";
        if (device.failures > device.marked.size()) {
            out += "<p class=\"note\">" + std::to_string(device.failures - device.marked.size()) +
                   " later failures not marked</p>";
        }
        if (summary.durations()) {
            out += "<h3>call duration: minimum to maximum per time bucket, the line the last</h3>";
            out += ChartStart("durations", attribute, title + ": call durations") +
                   ValueChart(device.durations, axis, " µs") + TimeLabels(axis) + "</svg>\n";
        }
        if (plant != nullptr && key.kind == DeviceKey::Kind::Device) AppendChannels(out, summary, *plant, key, axis);
        if (key.kind == DeviceKey::Kind::SerialPort) {
            const auto frames = summary.frames().find(key.number);
            if (frames != summary.frames().end()) {
                out += "<p>" + std::to_string(frames->second.second) + " frames written, the last " +
                       Html(recording::Quote(frames->second.first)) + "</p>";
            }
        }
        out += "</section>\n";
    }
    AppendFailureList(out, source, summary);
    out += "\n<p class=\"note\">" + std::to_string(TimeBuckets::kBuckets) +
           " time buckets at most per chart; each shows the minimum, maximum and last value that fell in it.</p>\n"
           "</body></html>\n";
    return out;
}

bool WriteInspectPage(const std::string& path, const InspectSource& source, const RecordingSummary& summary,
                      const Plant* plant, std::string& error) {
    const std::string page = InspectPage(source, summary, plant);
    errno = 0;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (file) file.write(page.data(), static_cast<std::streamsize>(page.size()));
    if (file) file.close();
    if (!file) {
        error = path + ": cannot be written: " + (errno != 0 ? std::strerror(errno) : "write failed");
        return false;
    }
    return true;
}

}  // namespace tovihost
