#include "emulator/host/driver_library.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace tovihost {
namespace {

template <class Fn>
bool Resolve(tovi::platform::LibraryHandle library, const char* name, Fn& target, std::string& error) {
    target = reinterpret_cast<Fn>(tovi::platform::LibrarySymbol(library, name));
    if (target == nullptr) error = std::string("the driver library does not export ") + name;
    return target != nullptr;
}

std::string ExecutableDirectory() {
    char path[4096] = {};
#if defined(_WIN32)
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path - 1);
    if (length == 0) return "";
#else
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return "";
    path[length] = '\0';
#endif
    std::string directory(path);
    const auto slash = directory.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : directory.substr(0, slash + 1);
}

}  // namespace

DriverLibrary::~DriverLibrary() {
    if (library_ != nullptr) tovi::platform::CloseLibrary(library_);
}

bool DriverLibrary::Load(const std::string& path, std::string& error) {
    char reason[512] = {};
    library_ = tovi::platform::OpenLibrary(path.c_str(), sizeof reason - 1, reason);
    if (library_ == nullptr) {
        error = "cannot load the driver library " + path + ": " + reason;
        return false;
    }
    DriverExports& e = exports_;
    return Resolve(library_, "MakeDriver", e.make_driver, error) && Resolve(library_, "Init", e.init, error) &&
           Resolve(library_, "Done", e.done, error) && Resolve(library_, "DisposeDriver", e.dispose_driver, error) &&
           Resolve(library_, "Version", e.version, error) && Resolve(library_, kUnitInitName, e.unit_init, error) &&
           Resolve(library_, "InputRequest", e.input_request, error) &&
           Resolve(library_, "InputRequestCompleted", e.input_request_completed, error) &&
           Resolve(library_, "InputFinalized", e.input_finalized, error) &&
           Resolve(library_, "GetInput", e.get_input, error) &&
           Resolve(library_, "OutputRequest", e.output_request, error) &&
           Resolve(library_, "OutputRequestCompleted", e.output_request_completed, error) &&
           Resolve(library_, "OutputFinalized", e.output_finalized, error) &&
           Resolve(library_, "GetDriverInfo", e.get_driver_info, error) &&
           Resolve(library_, "GetDialogBoxItem", e.get_dialog_box_item, error);
}

std::string DefaultDriverPath() {
#if defined(_WIN32)
    return ExecutableDirectory() + "tovi.dll";
#else
    return ExecutableDirectory() + "libtovi.so";
#endif
}

}  // namespace tovihost
