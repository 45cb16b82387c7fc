// Information, window and dialog exports.
#include "diagnostics/messages.h"
#include "driver/driver_instance.h"
#include "driver/tovi.h"
#include "host/driver_api.h"

using namespace tovi;

extern "C" {

std::uint32_t TOVI_CALL GetDriverInfo(std::uint32_t capacity, char* text) {
    return host::StrCopy(capacity, text, messages::kDriverInfo.capacity(), messages::kDriverInfo.c_str());
}

std::uint32_t TOVI_CALL GetDriverName(DriverInstance*, std::uint32_t capacity, char* text) {
    return GetDriverInfo(capacity, text);
}

std::uint8_t TOVI_CALL BufferInfo() { return 0; }
void TOVI_CALL SetBufferAddr() {}
void TOVI_CALL QueryProc() {}
std::uint8_t TOVI_CALL FileOpen() { return 0; }
void TOVI_CALL FileSave() {}
void TOVI_CALL FileSaveAs() {}
std::uint32_t TOVI_CALL GetItemNumber() { return 4; }
void TOVI_CALL DialogDataChanged() {}
void TOVI_CALL SetPage() {}
void TOVI_CALL UserProc() {}

void* TOVI_CALL GetDialogBoxItem(DriverInstance* driver, std::uint32_t index) {
    if (driver == nullptr || index >= host::kDialogItemCount) return nullptr;
    return &driver->info_pages[index];
}

std::uint8_t TOVI_CALL DataModified(DriverInstance* driver) { return driver == nullptr ? 0 : driver->modified; }

void TOVI_CALL DriverProc(DriverInstance* driver, std::uint32_t code, std::int32_t first, std::int32_t second,
                          std::int32_t third, std::int32_t fourth) {
    if (driver == nullptr) return;
    const WindowHandle window = driver->driver_window;
    switch (code) {
        case 0: HideDriverWindow(window); break;
        case 1: ShowDriverWindow(window); break;
        case 2: MinimizeDriverWindow(window); break;
        case 3: RestoreDriverWindow(window); break;
        case 4: SelectDriverWindow(window); break;
        case 5: DriverWindowNewRect(window, first, second, third, fourth); break;
        case 6: SetUserLoginLevel(window, first); break;
        default: break;
    }
}

}  // extern "C"
