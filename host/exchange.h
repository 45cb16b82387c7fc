// Records exchanged between the host and the driver, and the calling convention of
// their functions. On 32-bit Windows every exchanged function is stdcall and every
// pointer is 32 bits wide, which gives the record sizes asserted below; 64-bit
// builds keep the field order with pointer-sized pointers.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define TOVI_CALL __stdcall
#else
#define TOVI_CALL
#endif

namespace tovi {
struct DriverInstance;
}

namespace host {

// The host's completion callback: (host context, direction 0 input / 1 output, 0).
using CompletionCallback = void(TOVI_CALL*)(void* host_context, std::int32_t direction, std::int32_t zero);

// A value crossing the interface: TypeCode, then 8 payload bytes.
struct ValueRecord {
    std::uint32_t type_code;
    std::uint8_t payload[8];
};
static_assert(sizeof(ValueRecord) == 12 && offsetof(ValueRecord, payload) == 4);

// The driver's window and dialog entry points that the host window calls.
using FileOpenFn = std::uint8_t(TOVI_CALL*)();
using FileSaveFn = void(TOVI_CALL*)();
using GetItemNumberFn = std::uint32_t(TOVI_CALL*)();
using GetDialogBoxItemFn = void*(TOVI_CALL*)(tovi::DriverInstance* driver, std::uint32_t index);
using NoArgumentFn = void(TOVI_CALL*)();
using DataModifiedFn = std::uint8_t(TOVI_CALL*)(tovi::DriverInstance* driver);
using GetDriverNameFn = std::uint32_t(TOVI_CALL*)(tovi::DriverInstance* driver, std::uint32_t capacity, char* text);

// The record handed to CreateDriverWindow (60 bytes on 32-bit Windows).
struct DriverCallbacks {
    tovi::DriverInstance* driver;
    void* host_context;
    FileOpenFn file_open;
    FileSaveFn file_save;
    FileSaveFn file_save_as;
    GetItemNumberFn get_item_number;
    GetDialogBoxItemFn get_dialog_box_item;
    NoArgumentFn dialog_data_changed;
    NoArgumentFn set_page;
    DataModifiedFn data_modified;
    GetDriverNameFn get_driver_name;
    NoArgumentFn user_proc;
    std::uint32_t host_value;
    std::uint32_t zero;
    std::uint32_t reserved;  // not set by the driver: 0
};

#pragma pack(push, 1)
// One item of the driver window's information page (366 bytes in every build).
struct DialogItem {
    std::int32_t left;
    std::int32_t top;
    std::int32_t width;
    std::int32_t height;
    std::uint8_t flag;
    char text[81];           // capacity 80, NUL-padded
    std::uint8_t rest[268];  // item 0: second text (260) at 98, value at 358; others: two codes at 98, 102
};
#pragma pack(pop)
static_assert(sizeof(DialogItem) == 366);
static_assert(offsetof(DialogItem, text) == 17 && offsetof(DialogItem, rest) == 98);

constexpr std::uint32_t kDialogItemCount = 5;
constexpr std::uint32_t kDialogTextCapacity = 80;

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(DriverCallbacks) == 60);
static_assert(offsetof(DriverCallbacks, host_value) == 48);
#endif

}  // namespace host
