// tovihost scenario FILE...: runs scenario files and reports every expectation;
// the closing line counts them over all files.
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "emulator/commands/commands.h"
#include "emulator/scenario/scenario.h"

namespace tovihost {

int ScenarioCommand(const Options& options) {
    const char* const kUsage = CommandUsage("scenario");
    Arguments arguments;
    std::string error;
    if (!ParseArguments("scenario", options.arguments, {{"--devices", "--timeout", "--log-dir"}, {}, {"--verbose"}},
                        arguments, error)) {
        std::fprintf(stderr, "%s\n%s", error.c_str(), kUsage);
        return kExitUsage;
    }
    if (arguments.positional.empty()) {
        std::fprintf(stderr, "%s", kUsage);
        return kExitUsage;
    }
    ScenarioSettings settings;
    settings.default_devices = arguments.Value("--devices");
    settings.verbose = arguments.Has("--verbose");
    if (arguments.Has("--timeout")) {
        const auto timeout = ParseCount(arguments.Value("--timeout"), 1, 3600000);
        if (!timeout) {
            std::fprintf(stderr, "tovihost scenario: --timeout takes milliseconds from 1 to 3600000\n");
            return kExitUsage;
        }
        settings.timeout = std::chrono::milliseconds(*timeout);
    }
    // The error log goes to a directory of this run's own unless one is named, so that
    // what a scenario expects of it is what this run wrote.
    namespace fs = std::filesystem;
    fs::path own_directory;
    std::error_code code;
    if (arguments.Has("--log-dir")) {
        settings.log_directory = arguments.Value("--log-dir");
        if (!fs::is_directory(settings.log_directory, code)) {
            std::fprintf(stderr, "tovihost scenario: --log-dir %s is no directory\n", settings.log_directory.c_str());
            return kExitUsage;
        }
    } else {
        std::random_device random;
        own_directory = fs::temp_directory_path(code) / ("tovihost-" + std::to_string(random()));
        if (code || !fs::create_directories(own_directory, code)) {
            std::fprintf(stderr, "tovihost scenario: cannot make a directory for the error log in %s\n",
                         fs::temp_directory_path(code).string().c_str());
            return kExitUsage;
        }
        settings.log_directory = own_directory.string();
    }

    DriverHost host;
    if (!host.Load(options.driver_path, error)) {
        std::fprintf(stderr, "tovihost: %s\n", error.c_str());
        fs::remove_all(own_directory, code);
        return kExitUsage;
    }
    InstallCrashReport();
    ScenarioResult total;
    for (const std::string& path : arguments.positional) {
        const ScenarioResult result = Scenario(host, settings, path).Run();
        total.passed += result.passed;
        total.failed += result.failed;
        total.malformed = total.malformed || result.malformed;
        total.hung = total.hung || result.hung;
        if (arguments.positional.size() > 1) {
            std::printf("%s: %u passed, %u failed%s\n", path.c_str(), result.passed, result.failed,
                        result.malformed ? ", not run (malformed)" : "");
        }
    }
    if (!own_directory.empty()) fs::remove_all(own_directory, code);
    std::printf("%u passed, %u failed\n", total.passed, total.failed);
    if (total.malformed) return kExitUsage;
    if (total.hung) return kExitHung;
    return total.failed == 0 ? 0 : kExitRefused;
}

}  // namespace tovihost
