// tovihost write PARAMFILE CH=VALUE...: one write batch end to end, then each
// channel's status and what its device now holds.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "emulator/commands/commands.h"
#include "emulator/plant/device_view.h"
#include "emulator/host/driver_host.h"
#include "emulator/plant/plant.h"
#include "emulator/text/shown_text.h"
#include "emulator/commands/write_warnings.h"

namespace tovihost {

int WriteCommand(const Options& options) {
    const char* const kUsage = CommandUsage("write");
    Arguments arguments;
    std::string error;
    if (!ParseArguments("write", options.arguments, {{"--devices", "--timeout", "--log-dir"}, {}, {}}, arguments,
                        error)) {
        std::fprintf(stderr, "%s\n%s", error.c_str(), kUsage);
        return kExitUsage;
    }
    if (arguments.positional.size() < 2) {
        std::fprintf(stderr, "%s", kUsage);
        return kExitUsage;
    }
    long long timeout_ms = 5000;
    if (arguments.Has("--timeout")) {
        const auto value = ParseCount(arguments.Value("--timeout"), 1, 3600000);
        if (!value) {
            std::fprintf(stderr, "tovihost write: --timeout takes milliseconds from 1 to 3600000\n");
            return kExitUsage;
        }
        timeout_ms = *value;
    }
    const std::string& param_path = arguments.positional[0];
    DriverHost host;
    if (!host.Load(options.driver_path, error)) {
        std::fprintf(stderr, "tovihost: %s\n", error.c_str());
        return kExitUsage;
    }
    Plant plant;
    if (!plant.Load(param_path, TypesPathBeside(host.driver_path()), error)) {
        if (plant.unreadable()) {
            std::fprintf(stderr, "tovihost write: %s\n", error.c_str());
            return kExitUsage;
        }
        std::fprintf(stderr, "tovihost write: %s\n  (tovihost check %s explains the configuration)\n", error.c_str(),
                     param_path.c_str());
        return kExitRefused;
    }
    std::vector<ChannelValue> values;
    for (std::size_t i = 1; i < arguments.positional.size(); ++i) {
        const std::string& text = arguments.positional[i];
        const auto equals = text.find('=');
        const auto number = Decimal(text.substr(0, equals));
        const PlantChannel* channel = number ? plant.Find(*number) : nullptr;
        std::string why;
        ChannelValue value;
        if (equals == std::string::npos || !number) {
            why = "write CHANNEL=VALUE";
        } else if (channel == nullptr) {
            why = "channel " + std::to_string(*number) + " is not in " + param_path;
        } else if (!channel->IsOutput()) {
            why = "channel " + std::to_string(*number) + " (" + channel->Function() +
                  ") is an input; only outputs and their parameter channels are written";
        } else {
            ParseChannelValue(text.substr(equals + 1), *channel, value, why);
        }
        if (!why.empty()) {
            std::fprintf(stderr, "tovihost write: %s: %s\n", text.c_str(), why.c_str());
            return kExitUsage;
        }
        values.push_back(value);
        const std::string warning = WriteWarning(*channel, value);
        if (!warning.empty()) std::printf("warning: %s\n", warning.c_str());
    }
    std::string devices;
    if (!LoadDevicesFor("write", arguments, param_path, devices)) return kExitUsage;
    plant.ResolveDevices();
    if (!StartForOneBatch(host, param_path, arguments.Value("--log-dir"), plant.modules().size(),
                          "the write batch")) {
        return kExitRefused;
    }
    std::vector<ChannelOutcome> outcomes;
    const bool finished = host.session().Write(values, outcomes, std::chrono::milliseconds(timeout_ms));
    const std::string error_line = host.ErrorLine();
    const std::vector<std::string> messages = host.HostMessages();
    host.Stop(std::chrono::milliseconds(std::max<long long>(timeout_ms, 10000)));

    std::printf("wrote %zu channel%s of %s with devices %s\n", values.size(), values.size() == 1 ? "" : "s",
                param_path.c_str(), devices.empty() ? "(none)" : devices.c_str());
    bool failed = false;
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        const PlantChannel& channel = *plant.Find(outcomes[i].channel);
        const std::string status = !outcomes[i].finished      ? "TIMEOUT"
                                   : outcomes[i].status == 0 ? "ok"
                                                              : "ERROR (status " + std::to_string(outcomes[i].status) + ")";
        failed = failed || !outcomes[i].finished || outcomes[i].status != 0;
        std::printf("  %d %s %s = %s: %s\n    device: %s\n", channel.number, ShownCp1250(channel.module).c_str(),
                    channel.Function().c_str(), FormatValue(values[i]).c_str(), status.c_str(),
                    DescribeOutput(plant, channel).c_str());
    }
    if (!error_line.empty()) std::printf("error line: %s\n", ShownUtf8(error_line).c_str());
    for (const std::string& text : messages) std::printf("host message log: %s\n", ShownUtf8(text).c_str());
    if (!finished) {
        std::fprintf(stderr, "tovihost write: the driver did not finish the write batch within %lld ms: it is hung\n",
                     timeout_ms);
        return kExitHung;
    }
    return failed ? kExitRefused : 0;
}

}  // namespace tovihost
