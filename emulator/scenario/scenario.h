// Scenario files: a line-based script of a host session against the driver and
// the simulated devices, with expectations that are reported one by one. The
// language is described in the README's "Scenarios" section.
//
// A file is read whole and checked before anything runs: malformed lines, channels
// the parameter file does not have, values of the wrong type and unknown modules
// are reported as FILE:LINE: error. Then the statements run in order; each
// expectation prints FILE:LINE: passed or FAILED, and a step that cannot go on (the
// driver refuses to start, a batch gets no completion callback) fails and ends
// the file.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "emulator/host/driver_host.h"
#include "emulator/plant/fault_tally.h"
#include "emulator/plant/plant.h"

namespace tovihost {

struct ScenarioSettings {
    std::string default_devices;  // --devices: used when a file names no device set
    std::string log_directory;    // where the error log goes when it names no directory
    std::chrono::milliseconds timeout{5000};
    bool verbose = false;  // print every statement as it runs
};

struct ScenarioResult {
    std::uint32_t passed = 0;
    std::uint32_t failed = 0;
    bool malformed = false;  // the file was not run
    bool hung = false;       // a batch got no completion within the time-out
};

struct ScenarioToken {
    std::string text;
    bool quoted = false;
};

struct ScenarioLine {
    std::uint32_t number = 0;
    std::string text;     // as written, without comment, trimmed
    std::string keyword;  // first word
    std::string rest;     // what follows it, trimmed
};

class Scenario {
public:
    Scenario(DriverHost& host, const ScenarioSettings& settings, std::string path);
    ScenarioResult Run();

private:
    struct Failure {};  // thrown by a step that cannot go on; ends the file

    bool Read(std::string& error);
    bool Step(const ScenarioLine& line, bool dry);
    // A statement's pieces; each reports a malformed line through Bad.
    bool Bad(const ScenarioLine& line, const std::string& why);
    bool Pass(const ScenarioLine& line);
    bool Fail(const ScenarioLine& line, const std::string& why);
    [[noreturn]] void Abort(const ScenarioLine& line, const std::string& why);

    bool DoPlant(const ScenarioLine& line, bool dry);
    bool DoDevices(const ScenarioLine& line, bool dry);
    bool DoSet(const ScenarioLine& line, bool dry);
    bool DoFault(const ScenarioLine& line, bool dry);
    bool DoDelay(const ScenarioLine& line, bool dry);
    bool DoClear(const ScenarioLine& line, bool dry);
    bool DoClock(const ScenarioLine& line, bool dry);
    bool DoRequest(const ScenarioLine& line, const std::string& direction, const std::vector<ScenarioToken>& words,
                   bool complete, bool dry);
    bool DoComplete(const ScenarioLine& line, const std::string& direction, bool dry);
    bool DoGet(const ScenarioLine& line, bool dry);
    bool DoExpect(const ScenarioLine& line, bool dry);
    bool ExpectDevice(const ScenarioLine& line, const std::vector<ScenarioToken>& left, const std::string& op,
                      const ScenarioToken& expected, std::optional<double> tolerance, bool dry);
    bool ExpectText(const ScenarioLine& line, const std::vector<std::string>& texts, const std::vector<ScenarioToken>& left,
                    const std::string& what, const std::string& op, const ScenarioToken& expected, bool dry);

    const PlantChannel* ChannelArgument(const ScenarioLine& line, const std::string& word, bool dry);
    const PlantModule* ModuleArgument(const ScenarioLine& line, const std::string& word, bool dry);
    std::uint32_t DeviceOf(const ScenarioLine& line, const PlantModule& module);
    bool NeedPlant(const ScenarioLine& line);
    void EnsureDevices(const ScenarioLine& line);
    bool StartDriver(const ScenarioLine& line, std::string& message);
    void EnsureStarted(const ScenarioLine& line);
    std::vector<std::string> LogLines() const;

    DriverHost& host_;
    const ScenarioSettings& settings_;
    std::string path_;
    std::string directory_;  // the file's directory, for the paths it names
    std::vector<ScenarioLine> lines_;
    ScenarioResult result_;

    // State while running (and while checking, for the plant in force).
    Plant plant_;
    bool have_plant_ = false;
    std::string devices_;     // the device set named by the file ("none": none)
    bool devices_named_ = false;
    bool devices_loaded_ = false;
    std::chrono::milliseconds timeout_{5000};
    std::optional<std::string> init_message_;  // the driver's answer to the last start: empty ok
    std::vector<std::int32_t> pending_[2];     // channels requested since the last completion
    std::map<std::int32_t, ChannelValue> values_;
    std::map<std::int32_t, std::int32_t> statuses_;  // -1: not finished within the time-out
    std::map<std::string, std::int32_t> faults_;     // named faults
    FaultTally injected_;                             // every fault injected, for the closing report
    std::string log_path_;
    std::uintmax_t log_offset_ = 0;
};

}  // namespace tovihost
