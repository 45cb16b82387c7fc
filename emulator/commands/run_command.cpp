// tovihost run PARAMFILE: the host's polling loop. Every period one read batch of
// every input channel, then the writes due, each batch waited for through the
// driver's completion callback; a live table on a terminal, plain lines
// otherwise; statistics and the host's message log at the end. Without a command,
// tovihost runs the shipped example plant this way for a few cycles.
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>

#include "emulator/commands/commands.h"
#include "emulator/run/runner.h"

namespace tovihost {
namespace {

const ArgumentRules kRunRules{
    {"--devices", "--period", "--cycles", "--write", "--csv", "--fault", "--timeout", "--log-dir"},
    {"--trace"},
    {"--plain"}};

std::string ShippedExample() {
    namespace fs = std::filesystem;
    std::error_code ignored;
    const std::string relative = "examples/plant.ini";
    if (fs::is_regular_file(relative, ignored)) return relative;
#if defined(TOVI_SOURCE_DIR)
    const std::string source = std::string(TOVI_SOURCE_DIR) + "/" + relative;
    if (fs::is_regular_file(source, ignored)) return source;
#endif
    return "";
}

}  // namespace

int RunCommand(const Options& options) { return RunLoop(options, {}); }

int RunLoop(const Options& options, const std::function<void(RunSettings&)>& adjust) {
    RunSettings settings;
    std::string error;
    if (!ParseArguments("run", options.arguments, kRunRules, settings.arguments, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kExitUsage;
    }
    const Arguments& a = settings.arguments;
    if (a.positional.size() != 1) {
        std::fprintf(stderr, "usage: tovihost run [OPTIONS] PARAMFILE  (tovihost --help lists the options)\n");
        return kExitUsage;
    }
    settings.param_path = a.positional[0];
    if (a.Has("--period")) {
        const auto period = ParseCount(a.Value("--period"), 0, 3600000);
        if (!period) {
            std::fprintf(stderr, "tovihost run: --period takes milliseconds from 0 to 3600000, not \"%s\"\n",
                         a.Value("--period").c_str());
            return kExitUsage;
        }
        settings.period_ms = *period;
    }
    if (a.Has("--cycles")) {
        const auto cycles = ParseCount(a.Value("--cycles"), 1, 1000000000);
        if (!cycles) {
            std::fprintf(stderr, "tovihost run: --cycles takes a whole number from 1, not \"%s\"\n",
                         a.Value("--cycles").c_str());
            return kExitUsage;
        }
        settings.cycles = *cycles;
    }
    if (!ReadTimeout("run", a, settings.timeout_ms)) return kExitUsage;
    settings.writes = a.Values("--write");
    settings.faults = a.Values("--fault");
    settings.csv_path = a.Value("--csv");
    settings.trace = a.Has("--trace");
    settings.trace_modules = a.Value("--trace");
    settings.plain = a.Has("--plain");
    settings.arguments.options["--driver"] = {options.driver_path};
    if (adjust) adjust(settings);
    return Runner(std::move(settings)).Run();
}

int DemoCommand(const Options& options) {
    RunSettings settings;
    settings.param_path = ShippedExample();
    if (settings.param_path.empty()) {
        std::fprintf(stderr,
                     "tovihost: the shipped example examples/plant.ini is not here; run tovihost from the project "
                     "directory, or give a command (tovihost --help)\n");
        return kExitUsage;
    }
    settings.command = "(example)";
    settings.demo = true;
    settings.period_ms = 100;
    settings.cycles = 5;
    // Outputs of every kind the example has a value for, the panel display showing
    // the flow temperature, and a read fault on one channel in the third cycle.
    settings.writes = {"200=2.5", "320=true", "400=0x5A", "800=1", "801=@100"};
    settings.faults = {"DRV_AIVoltageIn status=1001 module=boiler_temps channel=2 every=3 text=\"Input overrange\""};
    settings.arguments.options["--driver"] = {options.driver_path};
    std::printf("tovihost: no command given, so it runs the shipped example plant %s for %lld cycles of %lld ms.\n"
                "It writes 2.5 to valve output 200, true to burner bit 320, 0x5A to pump port 400, selects the\n"
                "panel display (800) and shows the flow temperature (channel 100) on it (801) every cycle.\n"
                "An injected device fault makes the read of channel 102 fail in cycle 3.\n\n",
                settings.param_path.c_str(), settings.cycles, settings.period_ms);
    const int code = Runner(std::move(settings)).Run();
    std::printf("\nnext: tovihost check examples/plant.ini | tovihost run examples/plant.ini --cycles 10 "
                "--trace=panel | tovihost scenario tests/scenarios/inputs.scenario | tovihost --help\n");
    return code;
}

}  // namespace tovihost
