// A plant as the emulator drives it: the channels and modules of a parameter file
// (by the emulator's own reading of it), what type of value each channel carries,
// which channels a host reads, the simulated device set, and which simulated
// device each module is bound to.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "emulator/config_walk.h"
#include "emulator/host_session.h"

namespace tovihost {

inline constexpr std::uint32_t kBoolean = 2;
inline constexpr std::uint32_t kReal = 10;

struct PlantChannel {
    std::int32_t number = 0;
    std::string module;
    std::string keyword;  // the owner's keyword for a parameter channel
    std::int32_t port = -1;
    std::int32_t bit = -1;
    std::uint32_t type_code = 0;  // what the host must use: kBoolean or kReal
    bool parameter = false;
    std::int32_t owner = 0;
    std::uint32_t parameter_index = 0;
    std::uint32_t line = 0;  // its line in the parameter file

    // Read in a host's read batch: input keywords and a counter's overflow flag.
    bool IsInput() const;
    // Written by a host: output keywords and the parameters a host sets.
    bool IsOutput() const;
    // "ai 2", "do_bit 1.3", "display_data", "alarm_config 0 low limit".
    std::string Function() const;
};

struct PlantModule {
    std::string name, type, device, subdevice;
    std::uint32_t line = 0;
    std::int64_t device_number = -1;  // the simulated device it binds to; -1 none
};

class Plant {
public:
    // Reads the parameter file (and tovi.ini at types_path). False with the reason,
    // which names the file and line where there is one.
    bool Load(const std::string& param_path, const std::string& types_path, std::string& error);

    const std::string& path() const { return path_; }
    const std::vector<PlantChannel>& channels() const { return channels_; }
    const std::vector<PlantModule>& modules() const { return modules_; }
    const PlantChannel* Find(std::int32_t number) const;
    const PlantModule* FindModule(const std::string& name) const;
    const PlantModule* ModuleOf(const PlantChannel& channel) const { return FindModule(channel.module); }
    bool debug() const { return debug_; }
    // The error log's name as the parameter file gives it (default tovi.log).
    const std::string& log_file() const { return log_file_; }

    // Finds each module's device in the loaded device set by the driver's binding
    // rule: the last listed device whose name holds the device text, then the last
    // of its sub-devices whose name holds the sub-device text.
    void ResolveDevices();
    // The module bound to a simulated device, or null.
    const PlantModule* ModuleOnDevice(std::int64_t device_number) const;

private:
    std::string path_;
    std::vector<PlantChannel> channels_;
    std::map<std::int32_t, std::size_t> by_number_;
    std::vector<PlantModule> modules_;
    bool debug_ = false;
    std::string log_file_ = "tovi.log";
};

// A fault in the simulator's syntax (device_sim/README.md) in which module=NAME
// may stand for device=NUMBER of the module's device. False with the reason.
bool FaultLine(const Plant& plant, const std::string& fault, std::string& line, std::string& error);

// Where the driver looks for tovi.ini: beside its library file.
std::string TypesPathBeside(const std::string& driver_path);

// The device set used for a parameter file when none is named: DIR/devices/NAME.devices,
// else DIR/NAME.devices, for DIR/NAME.ini; empty when neither exists.
std::string DefaultDeviceSet(const std::string& param_path);
// Loads a device set into the simulator; false with "FILE:LINE: message".
bool LoadDeviceSet(const std::string& path, std::string& error);
// Empties the simulator's device set.
void UnloadDeviceSet();

// A value written for a channel: "true"/"false"/"on"/"off"/"1"/"0" for booleans,
// a decimal or 0x hexadecimal number for reals. "real:" or "bool:" in front forces
// that type whatever the channel's (for trying the driver's type check).
bool ParseChannelValue(const std::string& text, const PlantChannel& channel, ChannelValue& value, std::string& error);
// A number, or nullopt; accepts 0x hexadecimal integers.
std::optional<double> ParseNumber(const std::string& text);
// A boolean word, or nullopt.
std::optional<bool> ParseBoolean(const std::string& text);
// A value without unit: booleans true/false, whole numbers without a point, others
// with up to 6 significant digits.
std::string FormatValue(const ChannelValue& value);
std::string FormatNumber(double number);

}  // namespace tovihost
