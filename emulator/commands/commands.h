// The emulator's commands. Each returns the process exit code: 0 success,
// 1 the driver refused or a device reported an error (said on the output),
// 2 usage, a file that cannot be read or malformed input, 3 the driver hung.
#pragma once

#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tovihost {

inline constexpr int kExitRefused = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitHung = 3;

struct Options {
    std::string driver_path;  // the driver library; empty: the one beside this program
    std::vector<std::string> arguments;  // what follows the command name
};

// A command's own arguments: options that take a value (--name VALUE or
// --name=VALUE), options that may take one only as --name=VALUE, and switches.
struct ArgumentRules {
    std::vector<std::string> with_value;
    std::vector<std::string> optional_value;
    std::vector<std::string> switches;
};

struct Arguments {
    std::map<std::string, std::vector<std::string>> options;  // every value given, in order
    std::vector<std::string> positional;

    bool Has(const std::string& name) const { return options.count(name) != 0; }
    // The last value given, or fallback.
    std::string Value(const std::string& name, const std::string& fallback = "") const;
    const std::vector<std::string>& Values(const std::string& name) const;
};

// False with a message naming the command and the offending argument.
bool ParseArguments(const std::string& command, const std::vector<std::string>& arguments, const ArgumentRules& rules,
                    Arguments& parsed, std::string& error);
// A whole decimal number within [minimum, maximum], or nullopt.
std::optional<long long> ParseCount(const std::string& text, long long minimum, long long maximum);

// --timeout MS when given, into timeout_ms; false with the message printed.
bool ReadTimeout(const std::string& command, const Arguments& arguments, long long& timeout_ms);

// The device set a command uses: --devices FILE, "none", or the default for the
// parameter file. Loads it; false with the message printed.
bool LoadDevicesFor(const std::string& command, const Arguments& arguments, const std::string& param_path,
                    std::string& loaded);

int CheckCommand(const Options& options);
int ReadCommand(const Options& options);
int HelpCommand(const Options& options);
int RunCommand(const Options& options);
int WriteCommand(const Options& options);
int ScenarioCommand(const Options& options);
// A command's usage line ("usage: tovihost ...\n"), for usage errors; its whole
// help, false for an unknown command; the overview of every command.
const char* CommandUsage(const std::string& command);
bool PrintCommandHelp(const std::string& command, std::FILE* out);
void PrintOverview(std::FILE* out);

// tovihost replay RECORDING... PARAMFILE: the polling loop against a recording.
int ReplayCommand(const Options& options);
// tovihost inspect RECORDING... [PARAMFILE]: what a recording holds.
int InspectCommand(const Options& options);
struct RunSettings;
// The run command's polling loop; adjust, when given, sets what a command that
// drives the loop for its own ends adds (RunSettings: stop, progress, ...).
int RunLoop(const Options& options, const std::function<void(RunSettings&)>& adjust);
// tovihost without a command: the shipped example plant for a few cycles.
int DemoCommand(const Options& options);

}  // namespace tovihost
