// The driver as the emulator sees it: a library loaded by path whose exports are
// resolved by name, as a host resolves them.
#pragma once

#include <string>

#include "driver/tovi.h"
#include "platform/platform.h"

namespace tovihost {

struct DriverExports {
    tovi::exports::MakeDriverFn make_driver = nullptr;
    tovi::exports::InitFn init = nullptr;
    tovi::exports::DoneFn done = nullptr;
    tovi::exports::DisposeDriverFn dispose_driver = nullptr;
    tovi::exports::VersionFn version = nullptr;
    tovi::exports::UnitInitFn unit_init = nullptr;
    tovi::exports::InputRequestFn input_request = nullptr;
    tovi::exports::RequestCompletedFn input_request_completed = nullptr;
    tovi::exports::FinalizedFn input_finalized = nullptr;
    tovi::exports::GetInputFn get_input = nullptr;
    tovi::exports::OutputRequestFn output_request = nullptr;
    tovi::exports::RequestCompletedFn output_request_completed = nullptr;
    tovi::exports::FinalizedFn output_finalized = nullptr;
    tovi::exports::GetDriverInfoFn get_driver_info = nullptr;
    tovi::exports::GetDialogBoxItemFn get_dialog_box_item = nullptr;
};

class DriverLibrary {
public:
    ~DriverLibrary();
    // Loads the library and resolves every export; false with the reason in error.
    bool Load(const std::string& path, std::string& error);
    const DriverExports& exports() const { return exports_; }

private:
    tovi::platform::LibraryHandle library_ = nullptr;
    DriverExports exports_;
};

// The driver library built beside this program.
std::string DefaultDriverPath();

}  // namespace tovihost
