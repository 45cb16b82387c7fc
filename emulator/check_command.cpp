// tovihost check PARAMFILE: starts and stops the driver on a parameter file, as a
// host would before taking a configuration into service.
#include <cstdio>
#include <cstring>

#include "diagnostics/cp1250.h"
#include "emulator/commands.h"
#include "emulator/driver_library.h"
#include "host_api_standin/host_api_observer.h"

namespace tovihost {
namespace {

void TOVI_CALL IgnoreCompletion(void*, std::int32_t, std::int32_t) {}

constexpr std::uint32_t kMessageCapacity = 255;

}  // namespace

int CheckCommand(const Options& options) {
    if (options.arguments.size() != 1) {
        std::fprintf(stderr, "usage: tovihost check PARAMFILE\n");
        return 2;
    }
    const std::string& param_path = options.arguments[0];
    DriverLibrary library;
    std::string error;
    const std::string driver_path = options.driver_path.empty() ? DefaultDriverPath() : options.driver_path;
    if (!library.Load(driver_path, error)) {
        std::fprintf(stderr, "tovihost: %s\n", error.c_str());
        return 2;
    }
    const DriverExports& driver = library.exports();
    driver.unit_init();

    char info[81] = {};
    driver.get_driver_info(80, info);
    std::printf("driver: %s (version 0x%X) from %s\n", tovi::text::Utf8FromCp1250(info).c_str(),
                static_cast<unsigned>(driver.version()), driver_path.c_str());

    DriverInstance* instance = driver.make_driver();
    if (instance == nullptr) {
        std::fprintf(stderr, "tovihost: the driver could not create an instance\n");
        return 2;
    }
    char message[kMessageCapacity + 1] = {};
    int int_context = 0;
    const std::uint8_t started =
        driver.init(instance, static_cast<std::uint32_t>(param_path.size()), param_path.c_str(), kMessageCapacity,
                    message, 0, 0, &int_context, &IgnoreCompletion);
    driver.done(instance);
    driver.dispose_driver(instance);

    if (started == 0) {
        std::printf("%s\n", tovi::text::Utf8FromCp1250(message).c_str());
        return 1;
    }
    std::printf("%s: configuration accepted\n", param_path.c_str());
    return 0;
}

}  // namespace tovihost
