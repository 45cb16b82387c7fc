// The recorder's ADSCOMM: the COM functions, served by the recorder in the
// ADSAPI32 beside this library (loaded by its full path, so that no other library
// of that name can stand in for it).
#include <mutex>
#include <string>

#include "device_sim/exports.h"
#include "platform/platform.h"
#include "recorder/recorder.h"
#include "recorder/recorder_settings.h"
#include "recorder/serial_table.h"

namespace {

const recorder::SerialTable* Table() {
    static const recorder::SerialTable* table = [] {
        const std::string sibling =
            recorder::DirectoryOf(reinterpret_cast<const void*>(&tovi_recorder_format)) + vendor::kDeviceLibraryName;
        tovi::platform::LibraryHandle library = tovi::platform::OpenLibrary(sibling.c_str(), 0, nullptr);
        auto get = reinterpret_cast<recorder::SerialTableFn>(
            tovi::platform::LibrarySymbol(library, recorder::kSerialTableExport));
        return get == nullptr ? nullptr : get();
    }();
    return table;
}

}  // namespace

extern "C" {

TOVI_RECORDER_EXPORT int tovi_recorder_format() { return recording::kFormatVersion; }

Status TOVI_CALL COMGetConfig(std::int32_t device_index, vendor::SerialConfig* config) {
    const recorder::SerialTable* t = Table();
    return t == nullptr ? recorder::kNotForwarded : t->get_config(device_index, config);
}

Status TOVI_CALL COMOpen(std::uint32_t port, std::uint32_t* unused, Handle* handle) {
    const recorder::SerialTable* t = Table();
    return t == nullptr ? recorder::kNotForwarded : t->open(port, unused, handle);
}

Status TOVI_CALL COMSetConfig(Handle handle, vendor::SerialConfig* config) {
    const recorder::SerialTable* t = Table();
    return t == nullptr ? recorder::kNotForwarded : t->set_config(handle, config);
}

Status TOVI_CALL COMWrite(Handle handle, const char* data, std::uint32_t length) {
    const recorder::SerialTable* t = Table();
    return t == nullptr ? recorder::kNotForwarded : t->write(handle, data, length);
}

Status TOVI_CALL COMRead(Handle handle, char* buffer, std::uint32_t size, std::uint32_t timeout,
                         std::uint32_t terminator, std::uint32_t* received) {
    const recorder::SerialTable* t = Table();
    return t == nullptr ? recorder::kNotForwarded : t->read(handle, buffer, size, timeout, terminator, received);
}

Status TOVI_CALL COMClose(Handle* handle) {
    const recorder::SerialTable* t = Table();
    return t == nullptr ? recorder::kNotForwarded : t->close(handle);
}

}  // extern "C"
