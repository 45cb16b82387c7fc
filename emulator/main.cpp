// tovihost: plays the host's side of the driver interface on this machine.
#include <cstdio>
#include <cstring>
#include <string>

#include "emulator/commands/commands.h"

namespace tovihost {

void PrintOverview(std::FILE* out) {
    std::fprintf(out,
                 "usage: tovihost [--driver PATH] [COMMAND ARGUMENTS]\n"
                 "commands:\n"
                 "  (none)                       run the shipped example plant for a few cycles\n"
                 "  check PARAMFILE              start the driver on PARAMFILE, report what it took, stop it\n"
                 "  run PARAMFILE                play the host's polling loop against the driver\n"
                 "  write PARAMFILE CH=VALUE...  write values end to end, show what the devices hold\n"
                 "  read PARAMFILE CH...         read channels once, show their values or errors\n"
                 "  scenario FILE...             run scenario files, report every expectation\n"
                 "  replay RECORDING... PARAMFILE  replay a recording (or a rotated set), compare every call\n"
                 "  inspect RECORDING...         what a recording holds: calls, failures, durations, gaps\n"
                 "  help [COMMAND]               this overview, or a command's options and value syntax\n"
                 "options of every command:\n"
                 "  --driver PATH     driver library to load (default: the one beside tovihost)\n"
                 "  --devices FILE    simulated device set, or none (default: devices/NAME.devices\n"
                 "                    beside the parameter file NAME.ini, else NAME.devices beside it)\n"
                 "  --timeout MS      how long to wait for the driver's completion callback (5000)\n"
                 "  --log-dir DIR     where the driver's error log goes when it names no directory\n"
                 "tovihost COMMAND --help (or tovihost help COMMAND) tells a command's own options.\n"
                 "exit status: 0 success; 1 the driver refused the configuration, a read or write failed\n"
                 "that no --fault asked for, an expectation failed or check --strict warned; 2 usage, a file\n"
                 "that cannot be read, malformed input; 3 the driver hung; 4 the process crashed inside the\n"
                 "driver or the simulator\n");
}

}  // namespace tovihost

int main(int argc, char** argv) {
    tovihost::Options options;
    std::string command;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--driver" || argument.rfind("--driver=", 0) == 0) {
            if (argument.size() > 8) {
                options.driver_path = argument.substr(9);
            } else if (i + 1 < argc) {
                options.driver_path = argv[++i];
            } else {
                std::fprintf(stderr, "tovihost: option --driver needs a value\n");
                return tovihost::kExitUsage;
            }
        } else if (argument == "--help" || argument == "-h") {
            if (command.empty()) {
                tovihost::PrintOverview(stdout);
                return 0;
            }
            if (tovihost::PrintCommandHelp(command, stdout)) return 0;
            options.arguments.push_back(argument);
        } else if (command.empty()) {
            command = argument;
        } else {
            options.arguments.push_back(argument);
        }
    }
    if (command.empty()) return tovihost::DemoCommand(options);
    if (command == "check") return tovihost::CheckCommand(options);
    if (command == "run") return tovihost::RunCommand(options);
    if (command == "write") return tovihost::WriteCommand(options);
    if (command == "read") return tovihost::ReadCommand(options);
    if (command == "help") return tovihost::HelpCommand(options);
    if (command == "scenario") return tovihost::ScenarioCommand(options);
    if (command == "replay") return tovihost::ReplayCommand(options);
    if (command == "inspect") return tovihost::InspectCommand(options);
    if (command[0] == '-') {
        std::fprintf(stderr, "tovihost: unknown option %s\n", command.c_str());
    } else {
        std::fprintf(stderr, "tovihost: unknown command %s\n", command.c_str());
    }
    tovihost::PrintOverview(stderr);
    return tovihost::kExitUsage;
}
