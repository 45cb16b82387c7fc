// The emulator's own reading of a parameter file and the module-type database,
// made by the rules the driver follows but without the driver: it lists what the
// configuration holds and, for a faulty one, finds the line the fault comes from
// together with the message the driver gives for it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "emulator/plant/ini_text.h"

namespace tovihost {

// A line of one of the two files; line 0 stands for the file as a whole.
struct Place {
    const IniText* file = nullptr;
    std::uint32_t line = 0;
};

struct Note {
    std::string text;
    Place place;
};

struct ConfigFault {
    std::string message;  // the driver's message for this fault, Windows-1250, uncut
    Place place;          // where the fault sits
    std::string reason;   // what is wrong there, in plain words
    std::vector<Note> notes;
};

struct ModuleEntry {
    std::string name, type, device, subdevice;
    std::uint32_t line = 0;  // its line in the "modules" section
};

struct ChannelEntry {
    std::int32_t number = 0;
    std::string keyword;     // the owner's keyword for a parameter channel
    bool parameter = false;  // a parameter channel of another channel
    std::uint32_t line = 0;
    std::string module;      // the module's name
    std::int32_t port = -1;  // -1: the keyword has no port
    std::int32_t bit = -1;   // -1: the keyword has no bit
    std::int32_t owner = 0;  // a parameter channel's owner
    std::uint32_t parameter_index = 0;  // 1 or 2: which parameter of its owner
};

// The I/O keywords in the driver's order.
std::vector<std::string> IoKeywords();

class ConfigWalk {
public:
    // Reads both files; the result stays valid as long as this object.
    void Run(const std::string& param_path, const std::string& types_path);

    const IniText& parameters() const { return parameters_; }
    const IniText& types() const { return types_; }
    const std::vector<ModuleEntry>& modules() const { return modules_; }
    const std::vector<ChannelEntry>& channels() const { return channels_; }
    // The first fault, when there is one.
    const std::optional<ConfigFault>& fault() const { return fault_; }

private:
    bool ReadModules(const IniSection& section);
    bool ReadChannelLine(const ModuleEntry& module, const IniLine& line);
    bool RefuseCut(const IniLine& line, const std::string& reason);
    bool Validate(const ModuleEntry& module, const IniLine& line, std::int32_t io_type, std::int32_t port,
                  std::int32_t bit);
    bool Register(ChannelEntry entry, const IniLine& line);
    bool Fail(std::string message, Place place, std::string reason, std::vector<Note> notes = {});
    Place InParameters(std::uint32_t line) const { return {&parameters_, line}; }
    Place InTypes(std::uint32_t line) const { return {&types_, line}; }

    IniText parameters_;
    IniText types_;
    std::vector<ModuleEntry> modules_;
    std::vector<ChannelEntry> channels_;
    std::map<std::int32_t, std::uint32_t> first_use_;  // channel number -> its line
    std::optional<ConfigFault> fault_;
};

}  // namespace tovihost
