#include "diagnostics/error_report.h"

#include "device/vendor_library.h"
#include "diagnostics/messages.h"
#include "driver/driver_instance.h"
#include "driver/info_pages.h"
#include "host/driver_api.h"
#include "host/record_file.h"

namespace tovi {

void ComposeChannelError(Transfer transfer, std::int32_t channel_number, std::int32_t status, char* text) {
    VendorErrorText(status, kErrorMessageCapacity, text);
    char prefix[kErrorMessageCapacity + 1];
    host::IntToStr(channel_number, kErrorMessageCapacity, prefix, 10, nullptr);
    host::StrAppend(kErrorMessageCapacity, prefix, 2, " : ");
    const auto& operation = transfer == Transfer::Read ? messages::kReadChannelPrefix : messages::kWriteChannelPrefix;
    host::StrPrepend(kErrorMessageCapacity, prefix, operation.capacity(), operation.c_str());
    host::StrPrepend(kErrorMessageCapacity, text, kErrorMessageCapacity, prefix);
}

void ReportDeviceError(DriverInstance& driver, Transfer transfer, std::int32_t channel_number, std::int32_t status) {
    char text[kErrorMessageCapacity + 1];
    ComposeChannelError(transfer, channel_number, status, text);
    ShowErrorLine(driver, kErrorMessageCapacity, text);
    if ((driver.settings & kSettingDebug) != 0) WriteErrorLog(driver, kErrorMessageCapacity, text);
}

void WriteErrorLog(DriverInstance& driver, host::Cap capacity, const char* text) {
    char path[kPathCapacity + 1] = {};
    qs_dapi::FindNewPath(driver.host_context, kPathCapacity, driver.log_path, kPathCapacity, path);
    std::int32_t handle = host::RecOpen(kPathCapacity, path, 1);
    if (handle == -1) handle = qs_dapi::RedCreate(driver.host_context, kPathCapacity, path, 1);
    if (handle == -1) return;
    host::RecAddLine(handle, capacity, text);
    host::RecFlush(handle);
    host::RecClose(handle);
}

}  // namespace tovi
