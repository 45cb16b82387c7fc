#include <cstdio>

#include "emulator/host/driver_host.h"
#include "emulator/text/shown_text.h"

namespace tovihost {

bool StartForOneBatch(DriverHost& host, const std::string& param_path, const std::string& log_dir,
                      std::size_t modules, const char* batch) {
    std::string message;
    const bool started = host.Start(param_path, log_dir, message);
    WarnOtherDeviceManager(host.driver_path(), modules);
    if (!started) {
        std::printf("error: %s\n  (tovihost check %s explains the configuration)\n", ShownUtf8(message).c_str(),
                    param_path.c_str());
        return false;
    }
    InstallCrashReport();
    SetCrashContext(batch);
    return true;
}

}  // namespace tovihost
