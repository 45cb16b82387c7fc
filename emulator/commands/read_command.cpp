// tovihost read PARAMFILE CH...: one read batch of the channels named, then each
// channel's value, or its status and the driver's error line.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "device_sim/device_sim.h"
#include "emulator/commands/commands.h"
#include "emulator/host/driver_host.h"
#include "emulator/plant/fault_tally.h"
#include "emulator/plant/plant.h"
#include "emulator/text/shown_text.h"

namespace tovihost {

int ReadCommand(const Options& options) {
    Arguments arguments;
    std::string error;
    if (!ParseArguments("read", options.arguments, {{"--devices", "--timeout", "--log-dir", "--fault"}, {}, {}},
                        arguments, error)) {
        std::fprintf(stderr, "%s\n%s", error.c_str(), CommandUsage("read"));
        return kExitUsage;
    }
    if (arguments.positional.size() < 2) {
        std::fprintf(stderr, "%s", CommandUsage("read"));
        return kExitUsage;
    }
    long long timeout_ms = 5000;
    if (!ReadTimeout("read", arguments, timeout_ms)) return kExitUsage;
    const std::string& param_path = arguments.positional[0];
    DriverHost host;
    if (!host.Load(options.driver_path, error)) {
        std::fprintf(stderr, "tovihost: %s\n", error.c_str());
        return kExitUsage;
    }
    Plant plant;
    if (!plant.Load(param_path, TypesPathBeside(host.driver_path()), error)) {
        std::fprintf(stderr, "tovihost read: %s\n", error.c_str());
        if (plant.unreadable()) return kExitUsage;
        std::fprintf(stderr, "  (tovihost check %s explains the configuration)\n", param_path.c_str());
        return kExitRefused;
    }
    std::vector<ChannelValue> reads;
    for (std::size_t i = 1; i < arguments.positional.size(); ++i) {
        const std::string& text = arguments.positional[i];
        const auto number = Decimal(text);
        const PlantChannel* channel = number ? plant.Find(*number) : nullptr;
        std::string why;
        if (!number) {
            why = "a channel is a number";
        } else if (channel == nullptr) {
            why = "channel " + text + " is not in " + param_path;
        } else if (!channel->IsInput()) {
            why = "channel " + text + " (" + channel->Function() + ") is written, not read";
        }
        if (!why.empty()) {
            std::fprintf(stderr, "tovihost read: %s: %s\n", text.c_str(), why.c_str());
            return kExitUsage;
        }
        ChannelValue value;
        value.channel = channel->number;
        value.type_code = channel->type_code;
        reads.push_back(value);
    }
    std::string devices;
    if (!LoadDevicesFor("read", arguments, param_path, devices)) return kExitUsage;
    plant.ResolveDevices();
    FaultTally faults;
    for (const std::string& fault : arguments.Values("--fault")) {
        std::string line;
        char said[512] = {};
        const std::int32_t id = FaultLine(plant, fault, line, error)
                                    ? devsim_inject_fault_line(line.c_str(), said, sizeof said)
                                    : -2;
        if (id == -1) error = said;
        if (id < 0) {
            std::fprintf(stderr, "tovihost read: --fault %s: %s\n", fault.c_str(), error.c_str());
            return kExitUsage;
        }
        faults.Add(fault, id);
    }
    if (!StartForOneBatch(host, param_path, arguments.Value("--log-dir"), plant.modules().size(),
                          "the read batch")) {
        return kExitRefused;
    }
    std::vector<ChannelOutcome> outcomes;
    const bool finished = host.session().Read(reads, outcomes, std::chrono::milliseconds(timeout_ms));
    const std::string error_line = host.ErrorLine();
    host.Stop(std::chrono::milliseconds(std::max<long long>(timeout_ms, 10000)));

    std::printf("read %zu channel%s of %s with devices %s\n", reads.size(), reads.size() == 1 ? "" : "s",
                param_path.c_str(), devices.empty() ? "(none)" : devices.c_str());
    bool failed = false;
    for (const ChannelOutcome& outcome : outcomes) {
        const PlantChannel& channel = *plant.Find(outcome.channel);
        const std::string what = std::to_string(channel.number) + " " + ShownCp1250(channel.module) + " " +
                                 channel.Function();
        if (outcome.finished && outcome.status == 0) {
            std::printf("  %s = %s\n", what.c_str(), FormatValue(outcome.value).c_str());
            continue;
        }
        failed = true;
        std::printf("  %s: %s\n", what.c_str(),
                    outcome.finished ? ("ERROR (status " + std::to_string(outcome.status) + ")").c_str()
                                     : "TIMEOUT (no answer)");
    }
    if (failed && !error_line.empty()) std::printf("error line: %s\n", ShownUtf8(error_line).c_str());
    faults.Print(stdout);
    if (!finished) {
        std::fprintf(stderr, "tovihost read: the driver did not finish the read batch within %lld ms: it is hung\n",
                     timeout_ms);
        return kExitHung;
    }
    return failed ? kExitRefused : 0;
}

}  // namespace tovihost
