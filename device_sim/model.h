// The simulated devices: what a device set declares and what the simulation keeps
// for each device while the driver works with it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace devsim {

// Every function the two libraries export, in one numbering.
enum class Fn : int {
    DeviceGetNumOfList,
    DeviceGetList,
    DeviceGetSubList,
    DeviceOpen,
    DeviceClose,
    DeviceGetFeatures,
    GetErrorMessage,
    AIVoltageIn,
    AOVoltageOut,
    DioReadPortByte,
    DioWritePortByte,
    DioWriteBit,
    CounterEventRead,
    CounterEventStart,
    CounterReset,
    CounterFreqRead,
    AlarmConfig,
    AlarmEnable,
    AlarmReset,
    AlarmCheck,
    COMGetConfig,
    COMOpen,
    COMSetConfig,
    COMWrite,
    COMRead,
    COMClose,
};
constexpr int kFunctionCount = static_cast<int>(Fn::COMClose) + 1;

const char* FunctionName(Fn fn);
// -1 for "*" (every function); false for an unknown name.
bool FunctionFromName(std::string_view name, int* fn);

// A value that is fixed or changes with the simulated time t (seconds).
struct Source {
    enum class Kind { Constant, Ramp, Sine, Count, Square };
    Kind kind = Kind::Constant;
    double p[4] = {0, 0, 0, 0};  // parameters in the order they are written
    bool has_last = false;       // the optional last parameter was given
    std::string text;            // as written

    double Value(double t) const;
};

// Parses "2.5", "0x5A", "ramp(0, 10, 20s)" and the like; false with a message.
bool ParseSource(std::string_view text, Source* source, std::string* error);
// Parses a duration: a number with an optional unit us, ms, s or min (default s).
bool ParseDuration(std::string_view text, std::int64_t* microseconds);

struct AnalogOutput {
    float initial = 0;
    float value = 0;
    double min = 0, max = 0;
    bool limited = false;
    std::uint32_t writes = 0;
};

struct OutputPort {
    std::uint8_t initial = 0;
    std::uint8_t value = 0;
    std::uint32_t writes = 0;
    std::uint16_t last_mask = 0;
    std::uint16_t last_state = 0;
};

struct Counter {
    Source source;
    bool started = false;
    std::uint16_t gate_mode = 0;
    std::uint32_t starts = 0;
    std::uint32_t resets = 0;
    std::uint64_t base = 0;  // raw count at the last reset
};

struct Alarm {
    Source source;  // the monitored value
    bool configured = false;
    float low = 0, high = 0;
    bool enabled = false;
    std::uint16_t latch = 0;
    bool low_latched = false, high_latched = false;
    std::uint32_t configs = 0, enables = 0, resets = 0;
};

enum class ChecksumMode { Auto, On, Off };

struct Display {
    std::uint32_t address = 0;
    ChecksumMode checksum = ChecksumMode::Auto;
    // What it shows.
    std::uint32_t frames = 0, rejected = 0;
    bool has_value = false;
    double value = 0;
    std::string shown;
    bool has_selection = false;
    std::int32_t selection = 0;
    std::string last_frame;
    int last_command = 0;
    bool last_checksum_present = false, last_checksum_ok = false, last_accepted = false;
};

// A device or a sub-device.
struct Unit {
    std::uint32_t number = 0;
    std::string name;
    int parent = -1;            // index of the parent unit for a sub-device
    std::vector<int> children;  // sub-device indices, in list order
    int list_position = -1;     // position in the device list (devices only)
    std::uint32_t serial_port = 1;
    std::uint32_t baud = 9600;
    std::uint8_t data_bits = 8, parity = 0, stop_bits = 1;
    std::uint16_t digital_inputs = 0, digital_outputs = 0;
    std::map<std::uint32_t, Source> analog_inputs;
    std::map<std::uint32_t, AnalogOutput> analog_outputs;
    std::map<std::uint32_t, Source> input_ports;  // explicitly declared; others within the count read 0
    std::map<std::uint32_t, OutputPort> output_ports;
    std::map<std::uint32_t, Counter> counters;
    std::map<std::uint32_t, Source> frequencies;
    std::map<std::uint32_t, Alarm> alarms;
    std::set<std::uint16_t> gains;  // empty: every gain code is accepted
    std::optional<Display> display;

    bool HasInputPort(std::uint32_t port) const {
        return port < (digital_inputs + 7u) / 8u || input_ports.count(port) != 0;
    }
    bool HasOutputPort(std::uint32_t port) const {
        return port < (digital_outputs + 7u) / 8u || output_ports.count(port) != 0;
    }
};

enum class FaultMode { Always, Once, Every };

struct Fault {
    std::int32_t id = 0;
    int function = -1;  // Fn, or -1 for every function
    std::int32_t status = 0;
    std::optional<std::string> text;
    std::optional<std::uint32_t> device_number;
    std::optional<std::string> device_name;
    std::int64_t channel = -1;
    FaultMode mode = FaultMode::Always;
    std::uint32_t every = 1;
    std::uint64_t matches = 0;
    std::uint64_t hits = 0;
};

struct Delay {
    int function = -1;
    std::int64_t device = -1;
    std::uint32_t microseconds = 0;
};

struct DeviceSet {
    std::vector<Unit> units;
    std::vector<int> list;  // device list: unit indices in list order
    std::int64_t clock_step = 0;
    bool clock_real = false;
    std::vector<Fault> faults;
    std::vector<Delay> delays;
    std::uint32_t trace_capacity = 10000;
};

// Parses a fault line: "FUNCTION status=N [text=".."] [device=N|"name"] [channel=N]
// [mode=always|once|every=N]". The id is left 0.
bool ParseFault(std::string_view line, Fault* fault, std::string* error);

// Reads a device set; `origin` names the text in messages ("plant.devices:12: ...").
bool ParseDeviceSet(std::string_view text, std::string_view origin, DeviceSet* set, std::string* error);

}  // namespace devsim
