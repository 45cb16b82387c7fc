// The emulator's commands. Each returns the process exit code: 0 success,
// 1 the driver refused (its message was printed), 2 usage or loading problem.
#pragma once

#include <string>
#include <vector>

namespace tovihost {

struct Options {
    std::string driver_path;  // the driver library; empty: the one beside this program
    std::vector<std::string> arguments;  // what follows the command name
};

int CheckCommand(const Options& options);

}  // namespace tovihost
