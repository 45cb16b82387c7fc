// What a recording holds, gathered one call at a time: the span, threads, per
// device the calls and failures of each function with their durations, the
// device manager's texts for the failures, the longest gaps between calls, the
// recorded device list, and the calls and values over time for a page of charts.
// Memory stays bounded whatever the length: histograms and time buckets of fixed
// size, and at most kMarkedFailures failures kept one by one per device.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "device_sim/device_sim.h"
#include "emulator/inspect/duration_histogram.h"
#include "emulator/inspect/time_buckets.h"
#include "recording/recording_format.h"

namespace tovihost {

// What a call concerns: a device (dev=), a serial port (port= of a COM call), or
// neither (device lists, error texts).
struct DeviceKey {
    enum class Kind { Device, SerialPort, None };
    Kind kind = Kind::None;
    std::int64_t number = 0;

    static DeviceKey Of(const recording::Call& call);
    bool operator<(const DeviceKey& other) const {
        return kind != other.kind ? kind < other.kind : number < other.number;
    }
};

// A call's place: its time, file and line, and its text without the outputs.
struct CallPlace {
    std::uint64_t time_us = 0;
    std::uint32_t file = 0;
    std::size_t line = 0;
    std::string what;  // "DRV_AIVoltageIn handle=65537 dev=1 channel=2 gain=0 trigger=0 -> 1001"
    std::int32_t status = 0;
};

struct FunctionStats {
    std::uint64_t calls = 0;
    std::uint64_t failures = 0;
    DurationHistogram durations;
};

struct StatusStats {
    std::uint64_t count = 0;
    std::string text;  // the device manager's text, when a DRV_GetErrorMessage followed
    std::set<std::string> functions;
};

struct DeviceStats {
    std::map<std::string, FunctionStats> functions;
    std::map<std::int32_t, StatusStats> statuses;
    std::uint64_t failures = 0;
    std::optional<CallPlace> first_failure, last_failure;
    std::vector<CallPlace> marked;  // the first kMarkedFailures failures
    TimeBuckets calls;      // calls and failures over time
    TimeBuckets durations;  // call durations over time, µs
};

struct Gap {
    std::uint64_t from_us = 0, to_us = 0;  // the end of the activity before, the start of the call after
    std::uint32_t file = 0;
    std::size_t line = 0;  // the call after the gap
    std::uint64_t length() const { return to_us - from_us; }
};

// A value of a call that concerns one device: "voltage" of channel 2, "value" of port 0.
struct ValueKey {
    std::string function;
    std::int64_t device = 0;
    std::string place;  // the input fields that say which channel, port, counter or bit
    bool operator<(const ValueKey& other) const {
        if (function != other.function) return function < other.function;
        if (device != other.device) return device < other.device;
        return place < other.place;
    }
};

class RecordingSummary {
public:
    static constexpr std::size_t kMarkedFailures = 1000;
    static constexpr std::size_t kLongestGaps = 5;
    static constexpr std::size_t kValueSeries = 400;
    // Devices counted one by one; the calls of further devices count together.
    static constexpr std::size_t kDevices = 256;

    // Calls from from_us up to to_us (recorded times) count; with values, the
    // values of every call's input and output fields are gathered per series.
    RecordingSummary(std::uint64_t from_us, std::uint64_t to_us, bool values);

    void Add(const recording::Call& call);

    std::uint64_t calls() const { return calls_; }
    std::uint64_t first_us() const { return first_us_; }
    std::uint64_t end_us() const { return end_us_; }
    std::size_t threads() const { return threads_.size(); }
    bool durations() const { return durations_; }
    const std::map<DeviceKey, DeviceStats>& devices() const { return devices_; }
    const std::vector<Gap>& gaps() const { return gaps_; }  // longest first
    // The devices and sub-devices of the recorded device lists, in list order.
    const std::vector<devsim_device_info>& listed() const { return listed_; }
    const std::map<ValueKey, TimeBuckets>& values() const { return values_; }
    // The last display frame written to each serial port, and how many.
    const std::map<std::int64_t, std::pair<std::string, std::uint64_t>>& frames() const { return frames_; }

private:
    void NoteDeviceList(const recording::Call& call);
    void NoteGap(const recording::Call& call);
    void NoteValues(const recording::Call& call, const DeviceKey& device);
    DeviceStats& Device(const DeviceKey& key);
    // The series of that key; null once kValueSeries series exist.
    TimeBuckets* Series(const ValueKey& key);

    std::uint64_t from_us_, to_us_;
    bool want_values_;
    std::uint64_t calls_ = 0, first_us_ = 0, end_us_ = 0;
    bool durations_ = true;
    std::set<std::uint32_t> threads_;
    std::map<DeviceKey, DeviceStats> devices_;
    std::vector<Gap> gaps_;
    std::vector<devsim_device_info> listed_;
    std::map<std::uint32_t, std::pair<DeviceStats*, std::int32_t>> awaiting_text_;  // per thread: the failure before
    std::map<ValueKey, TimeBuckets> values_;
    std::map<std::int64_t, std::pair<std::string, std::uint64_t>> frames_;
};

// H:MM:SS.UUUUUU of a recorded time in microseconds.
std::string ClockText(std::uint64_t microseconds);

}  // namespace tovihost
