// tovihost check PARAMFILE: starts and stops the driver on a parameter file, as a
// host would before taking a configuration into service, and explains the outcome:
// what the configuration holds, or where the fault the driver reported sits.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "diagnostics/cp1250.h"
#include "diagnostics/messages.h"
#include "emulator/commands/commands.h"
#include "emulator/commands/commissioning.h"
#include "emulator/plant/config_walk.h"
#include "emulator/host/driver_host.h"
#include "emulator/host/driver_library.h"
#include "emulator/text/file_text.h"
#include "emulator/plant/plant.h"
#include "emulator/text/shown_text.h"
#include "host_api_standin/host_api_observer.h"

namespace tovihost {
namespace {

void TOVI_CALL IgnoreCompletion(void*, std::int32_t, std::int32_t) {}

constexpr std::uint32_t kMessageCapacity = 255;
constexpr std::size_t kShownLineLength = 160;

// A line of the parameter file or tovi.ini fit for a terminal: cut, and shown as
// the driver reads it (Windows-1250), unprintable bytes as \xHH.
std::string Printable(std::string line) {
    const bool cut = line.size() > kShownLineLength;
    if (cut) line.resize(kShownLineLength);
    return cut ? ShownCp1250(line) + " [...]" : ShownCp1250(line);
}

std::string Where(const Place& place) {
    if (place.file == nullptr) return "";
    if (place.line == 0) return place.file->path() + ": ";
    return place.file->path() + ":" + std::to_string(place.line) + ": ";
}

void PrintPlace(const Place& place, const std::string& prefix = "") {
    if (place.file == nullptr) return;
    std::printf("%s%s%s\n", prefix.c_str(), Where(place).c_str(),
                place.line == 0 ? "" : Printable(place.file->RawLine(place.line)).c_str());
}

void PrintFault(const ConfigFault& fault) {
    if (fault.place.line == 0) {
        std::printf("%s%s\n", Where(fault.place).c_str(), fault.reason.c_str());
    } else {
        PrintPlace(fault.place);
        std::printf("  %s\n", fault.reason.c_str());
    }
    for (const Note& note : fault.notes) {
        std::printf("  note: %s:\n", note.text.c_str());
        PrintPlace(note.place, "    ");
    }
}

std::string Column(const std::string& text, std::size_t width) {
    return Columns(text) >= width ? text + " " : PadColumns(text, width);
}

void PrintConfiguration(const ConfigWalk& walk) {
    std::size_t widths[3] = {4, 4, 6};
    for (const ModuleEntry& m : walk.modules()) {
        widths[0] = std::max(widths[0], Columns(Printable(m.name)));
        widths[1] = std::max(widths[1], Columns(Printable(m.type)));
        widths[2] = std::max(widths[2], Columns(Printable(m.device)));
    }
    std::printf("modules: %zu\n", walk.modules().size());
    if (!walk.modules().empty()) {
        std::printf("  %s%s%s%s\n", Column("name", widths[0] + 2).c_str(), Column("type", widths[1] + 2).c_str(),
                    Column("device", widths[2] + 2).c_str(), "sub-device");
    }
    for (const ModuleEntry& m : walk.modules()) {
        std::printf("  %s%s%s%s\n", Column(Printable(m.name), widths[0] + 2).c_str(),
                    Column(Printable(m.type), widths[1] + 2).c_str(),
                    Column(m.device.empty() ? "-" : Printable(m.device), widths[2] + 2).c_str(),
                    m.subdevice.empty() ? "-" : Printable(m.subdevice).c_str());
    }

    std::map<std::string, std::pair<std::size_t, std::size_t>> counts;  // keyword -> channels, parameter channels
    std::size_t parameters = 0;
    for (const ChannelEntry& c : walk.channels()) {
        auto& count = counts[c.keyword];
        (c.parameter ? count.second : count.first) += 1;
        if (c.parameter) ++parameters;
    }
    std::printf("channels: %zu, %zu of them parameter channels\n", walk.channels().size(), parameters);
    if (walk.channels().empty()) return;
    std::printf("  %s%10s%21s\n", Column("keyword", 17).c_str(), "channels", "parameter channels");
    for (const std::string& keyword : IoKeywords()) {
        const auto found = counts.find(keyword);
        if (found == counts.end()) continue;
        std::printf("  %s%10zu%21zu\n", Column(keyword, 17).c_str(), found->second.first, found->second.second);
    }
    std::printf("  %s%10zu%21zu\n", Column("total", 17).c_str(), walk.channels().size() - parameters, parameters);
}

// A binding fault names the device or sub-device text of the module it stopped at.
bool PrintBindingPlace(const ConfigWalk& walk, const std::string& message) {
    const std::string tail = " : " + std::string(tovi::messages::kDeviceNotInstalled.c_str());
    if (message.size() <= tail.size() || message.compare(message.size() - tail.size(), tail.size(), tail) != 0) {
        return false;
    }
    const std::string token = message.substr(0, message.size() - tail.size());
    for (const ModuleEntry& m : walk.modules()) {
        const bool device = m.device == token;
        if (!device && m.subdevice != token) continue;
        PrintPlace({&walk.parameters(), m.line});
        std::printf("  no installed %s of module %s has a name containing \"%s\"\n",
                    device ? "device" : "sub-device", Printable(m.name).c_str(), Printable(token).c_str());
        return true;
    }
    return false;
}

}  // namespace

int CheckCommand(const Options& options) {
    Arguments arguments;
    std::string error;
    if (!ParseArguments("check", options.arguments, {{"--devices", "--log-dir", "--channels"}, {}, {}}, arguments,
                        error)) {
        std::fprintf(stderr, "%s\n%s", error.c_str(), CommandUsage("check"));
        return kExitUsage;
    }
    if (arguments.positional.size() != 1) {
        std::fprintf(stderr, "%s", CommandUsage("check"));
        return kExitUsage;
    }
    const std::string& param_path = arguments.positional[0];
    std::string devices;
    if (!LoadDevicesFor("check", arguments, param_path, devices)) return kExitUsage;
    DriverLibrary library;
    const std::string driver_path = options.driver_path.empty() ? DefaultDriverPath() : options.driver_path;
    if (!library.Load(driver_path, error)) {
        std::fprintf(stderr, "tovihost: %s\n", error.c_str());
        return kExitUsage;
    }
    const DriverExports& driver = library.exports();
    driver.unit_init();

    char info[81] = {};
    driver.get_driver_info(80, info);
    std::printf("driver: %s (version 0x%X) from %s\n", ShownCp1250(info).c_str(),
                static_cast<unsigned>(driver.version()), driver_path.c_str());
    std::printf("devices: %s\n", devices.empty() ? "none (no device set given or found beside the parameter file)"
                                                 : devices.c_str());

    DriverInstance* instance = driver.make_driver();
    if (instance == nullptr) {
        std::fprintf(stderr, "tovihost: the driver could not create an instance\n");
        return kExitUsage;
    }
    char message[kMessageCapacity + 1] = {};
    int int_context = 0;
    const std::uint8_t started =
        driver.init(instance, static_cast<std::uint32_t>(param_path.size()), param_path.c_str(), kMessageCapacity,
                    message, 0, 0, &int_context, &IgnoreCompletion);
    driver.done(instance);
    driver.dispose_driver(instance);

    // The emulator's own reading of the same files explains the driver's answer.
    ConfigWalk walk;
    walk.Run(param_path, TypesPathBeside(driver_path));
    const auto& fault = walk.fault();
    // A file that cannot be read at all is the user's to fix before the driver's answer means anything.
    std::string unreadable;
    for (const std::string& file : {param_path, TypesPathBeside(driver_path)}) {
        if (unreadable.empty()) CheckTextFile(file, unreadable);
    }
    Plant plant;
    const bool have_plant = !fault && plant.Load(param_path, TypesPathBeside(driver_path), error);
    if (have_plant) plant.ResolveDevices();
    auto report = [&] {
        if (!have_plant) return;
        PrintSettings(plant, arguments.Value("--log-dir"));
        PrintBindings(plant, !devices.empty());
        WarnOtherDeviceManager(driver_path, plant.modules().size());
    };
    auto channel_map = [&]() -> bool {
        if (!arguments.Has("--channels")) return true;
        if (!have_plant) {
            std::fprintf(stderr, "tovihost check: --channels: no channel map of a configuration that does not read\n");
            return false;
        }
        if (!WriteChannelMap(plant, arguments.Value("--channels"), error)) {
            std::fprintf(stderr, "tovihost check: --channels %s\n", error.c_str());
            return false;
        }
        std::printf("channel map: %s (%zu channels)\n", arguments.Value("--channels").c_str(), plant.channels().size());
        return true;
    };

    if (started != 0) {
        std::printf("%s: configuration accepted\n", param_path.c_str());
        if (fault) {
            std::printf("tovihost: its own reading of the files finds a fault the driver did not report:\n  %s\n",
                        ShownCp1250(fault->message).c_str());
            PrintFault(*fault);
        } else {
            report();
            PrintConfiguration(walk);
        }
        return channel_map() ? 0 : kExitUsage;
    }

    const std::string said = message;
    std::printf("error: %s\n", ShownCp1250(said).c_str());
    if (fault && fault->message.substr(0, kMessageCapacity) == said) {
        PrintFault(*fault);
    } else if (fault) {
        std::printf("tovihost: cannot place this fault; its own reading of the files stops at:\n  %s\n",
                    ShownCp1250(fault->message).c_str());
        PrintFault(*fault);
    } else {
        std::printf("the configuration itself reads without fault; the driver stopped after reading it\n");
        if (PrintBindingPlace(walk, said) && devices.empty()) {
            std::printf("  the simulator lists no devices: name a device set with --devices FILE\n");
        }
        report();
        PrintConfiguration(walk);
    }
    if (!unreadable.empty()) {
        std::fprintf(stderr, "tovihost check: %s\n", unreadable.c_str());
        return kExitUsage;
    }
    return channel_map() ? kExitRefused : kExitUsage;
}

}  // namespace tovihost
