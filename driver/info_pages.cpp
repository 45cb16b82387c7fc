#include "driver/info_pages.h"

#include <cstring>

#include "diagnostics/messages.h"
#include "driver/driver_instance.h"
#include "host/driver_api.h"

namespace tovi {
namespace {

void Place(host::DialogItem& item, std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height,
           std::uint8_t flag) {
    item.left = left;
    item.top = top;
    item.width = width;
    item.height = height;
    item.flag = flag;
}

// Writes the whole 81-character field: the text, then NUL bytes to its end.
void SetText(host::DialogItem& item, host::Cap capacity, const char* text) {
    std::memset(item.text, 0, sizeof item.text);
    host::StrCopy(host::kDialogTextCapacity, item.text, capacity, text);
}

void SetCodes(host::DialogItem& item, std::int32_t first, std::int32_t second) {
    std::memset(item.rest, 0, sizeof item.rest);
    std::memcpy(item.rest, &first, 4);
    std::memcpy(item.rest + 4, &second, 4);
}

}  // namespace

void FillInfoPages(DriverInstance& driver) {
    host::DialogItem* items = driver.info_pages;
    Place(items[0], 20, 20, 370, 100, 0);
    SetText(items[0], messages::kDriverInfo.capacity(), messages::kDriverInfo.c_str());
    std::memset(items[0].rest, 0, sizeof items[0].rest);  // empty second text, value 0

    Place(items[1], 10, 10, 0, 15, 1);
    SetText(items[1], messages::kDriverTitle.capacity(), messages::kDriverTitle.c_str());
    SetCodes(items[1], 0, 34);

    Place(items[2], 10, 33, 350, 17, 1);
    SetText(items[2], 0, "");
    SetCodes(items[2], 1, 2);

    Place(items[3], 10, 60, 0, 15, 1);
    SetText(items[3], messages::kNoticeDeviceErrors.capacity(), messages::kNoticeDeviceErrors.c_str());
    SetCodes(items[3], 0, 2);

    Place(items[4], 10, 75, 0, 15, 1);
    SetText(items[4], messages::kNoticeErrorLog.capacity(), messages::kNoticeErrorLog.c_str());
    SetCodes(items[4], 0, 2);
}

void ShowErrorLine(DriverInstance& driver, host::Cap capacity, const char* text) {
    host::StrCopy(host::kDialogTextCapacity, driver.info_pages[kErrorLineItem].text, capacity, text);
    MsgSetDialogDataItem(driver.driver_window, kErrorLineItem);
}

}  // namespace tovi
