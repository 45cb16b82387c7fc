// tovihost: plays the host's side of the driver interface on this machine.
#include <cstdio>
#include <cstring>
#include <string>

#include "emulator/commands.h"

namespace {

void PrintUsage() {
    std::fprintf(stderr,
                 "usage: tovihost [--driver PATH] COMMAND ARGUMENTS\n"
                 "commands:\n"
                 "  check PARAMFILE   start the driver on PARAMFILE, report what it says, stop it\n"
                 "options:\n"
                 "  --driver PATH     driver library to load (default: the one beside tovihost)\n");
}

}  // namespace

int main(int argc, char** argv) {
    tovihost::Options options;
    std::string command;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--driver") {
            if (i + 1 >= argc) {
                PrintUsage();
                return 2;
            }
            options.driver_path = argv[++i];
        } else if (argument == "--help" || argument == "-h") {
            PrintUsage();
            return 0;
        } else if (command.empty()) {
            command = argument;
        } else {
            options.arguments.push_back(argument);
        }
    }
    if (command == "check") return tovihost::CheckCommand(options);
    PrintUsage();
    return 2;
}
