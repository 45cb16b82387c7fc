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

#include "device_sim/device_sim.h"
#include "emulator/plant/config_walk.h"
#include "emulator/host/host_session.h"

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
    // How the binding went: the listed device whose name held the device text (-1
    // none), every listed device that held it, and every sub-device of the bound
    // device that held the sub-device text (when the device has sub-devices).
    std::int64_t listed_device = -1;
    std::vector<std::int64_t> device_candidates;
    std::vector<std::int64_t> subdevice_candidates;
};

// A setting of the [tovi] section as written: given or not, its value and line.
struct PlantSetting {
    bool given = false;
    std::string value;
    std::uint32_t line = 0;
};

class Plant {
public:
    // Reads the parameter file (and tovi.ini at types_path). False with the reason,
    // which names the file and line where there is one.
    bool Load(const std::string& param_path, const std::string& types_path, std::string& error);
    // After a failed Load: whether a file could not be read at all (missing, a
    // directory, not text), rather than holding a configuration fault.
    bool unreadable() const { return unreadable_; }

    const std::string& path() const { return path_; }
    const std::vector<PlantChannel>& channels() const { return channels_; }
    const std::vector<PlantModule>& modules() const { return modules_; }
    const PlantChannel* Find(std::int32_t number) const;
    const PlantModule* FindModule(const std::string& name) const;
    const PlantModule* ModuleOf(const PlantChannel& channel) const { return FindModule(channel.module); }
    bool debug() const { return debug_; }
    bool check_sum() const { return check_sum_; }
    // The [tovi] section's keys as written: "log_file", "debug", "check_sum".
    PlantSetting Setting(const std::string& key) const;
    // The error log's name as the parameter file gives it (default tovi.log).
    const std::string& log_file() const { return log_file_; }
    // Where the error log goes: a bare file name in log_directory (empty: the
    // current directory), any other name as it stands.
    std::string LogPath(const std::string& log_directory) const;

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
    bool unreadable_ = false;
    bool debug_ = false;
    bool check_sum_ = false;
    std::map<std::string, PlantSetting> settings_;
    std::string log_file_ = "tovi.log";
};

// The simulated device (or sub-device) of that number, when the set has one.
std::optional<devsim_device_info> DeviceInfo(std::int64_t number);

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
