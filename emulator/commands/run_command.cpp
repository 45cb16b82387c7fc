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
#include "emulator/host/driver_library.h"
#include "emulator/run/runner.h"

namespace tovihost {
namespace {

const ArgumentRules kRunRules{
    {"--devices", "--period", "--cycles", "--write", "--csv", "--fault", "--timeout", "--log-dir", "--record"},
    {"--trace"},
    {"--plain"}};

namespace fs = std::filesystem;

// The example's directory: the copy the build puts beside this program (so that a
// copied kit carries it), else the source tree's; empty when neither is there.
fs::path ShippedExamples() {
    std::error_code ignored;
    const std::string own = ExecutableDirectory();
    if (!own.empty() && fs::is_regular_file(fs::path(own) / "examples" / "plant.ini", ignored)) {
        return fs::path(own) / "examples";
    }
#if defined(TOVI_SOURCE_DIR)
    const fs::path source = fs::path(TOVI_SOURCE_DIR) / "examples";
    if (fs::is_regular_file(source / "plant.ini", ignored)) return source;
#endif
    return {};
}

// A path as short as it can be said from here: relative when below the current
// directory, else as it stands.
std::string Shown(const fs::path& path) {
    std::error_code error;
    const fs::path relative = fs::proximate(path, error);
    if (error || relative.empty() || *relative.begin() == "..") return path.lexically_normal().string();
    return relative.string();
}

}  // namespace

int RunCommand(const Options& options) {
    return RunLoop(options, [](RunSettings& settings) { settings.unasked_failures_fail = true; });
}

int RunLoop(const Options& options, const std::function<void(RunSettings&)>& adjust) {
    RunSettings settings;
    std::string error;
    if (!ParseArguments("run", options.arguments, kRunRules, settings.arguments, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kExitUsage;
    }
    const Arguments& a = settings.arguments;
    if (a.positional.size() != 1) {
        std::fprintf(stderr, "usage: tovihost run [OPTIONS] PARAMFILE  (tovihost help run lists the options)\n");
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
    settings.record_path = a.Value("--record");
    settings.trace = a.Has("--trace");
    settings.trace_modules = a.Value("--trace");
    settings.plain = a.Has("--plain");
    settings.arguments.options["--driver"] = {options.driver_path};
    if (adjust) adjust(settings);
    return Runner(std::move(settings)).Run();
}

int DemoCommand(const Options& options) {
    RunSettings settings;
    const fs::path examples = ShippedExamples();
    if (examples.empty()) {
        std::fprintf(stderr,
                     "tovihost: the shipped example is not here: neither examples/plant.ini beside tovihost nor the "
                     "project's; give a command (tovihost help)\n");
        return kExitUsage;
    }
    settings.param_path = Shown(examples / "plant.ini");
    const std::string scenario = Shown(examples / "scenarios" / "boiler.scenario");
    settings.command = "(example)";
    settings.demo = true;
    settings.unasked_failures_fail = true;
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
    const std::string param_path = settings.param_path;
    const int code = Runner(std::move(settings)).Run();
    std::printf("\nnext: tovihost check %s | tovihost run %s --cycles 10 --trace=panel | tovihost scenario %s | "
                "tovihost help\n",
                param_path.c_str(), param_path.c_str(), scenario.c_str());
    return code;
}

}  // namespace tovihost
