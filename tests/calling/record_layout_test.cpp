// The records exchanged with the 32-bit host and the vendor's libraries, field by
// field at the offsets those declare, and the callbacks record as the driver
// library fills it for the host window.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "device/vendor_api.h"
#include "host/exchange.h"
#include "host_api_standin/host_api_observer.h"
#include "platform/platform.h"
#include "tests/support/temp_files.h"

namespace {

// Offset of a member inside a real object, measured at run time.
template <class Record, class Field>
std::size_t OffsetIn(const Record& record, const Field& field) {
    return static_cast<std::size_t>(reinterpret_cast<const char*>(&field) - reinterpret_cast<const char*>(&record));
}

TEST(RecordLayout, HostRecordsHaveTheHostsSizesAndOffsets) {
    host::DriverCallbacks c{};
    EXPECT_EQ(sizeof c, 60u);
    const std::vector<std::size_t> offsets = {
        OffsetIn(c, c.driver),          OffsetIn(c, c.host_context),        OffsetIn(c, c.file_open),
        OffsetIn(c, c.file_save),       OffsetIn(c, c.file_save_as),        OffsetIn(c, c.get_item_number),
        OffsetIn(c, c.get_dialog_box_item), OffsetIn(c, c.dialog_data_changed), OffsetIn(c, c.set_page),
        OffsetIn(c, c.data_modified),   OffsetIn(c, c.get_driver_name),     OffsetIn(c, c.user_proc),
        OffsetIn(c, c.host_value),      OffsetIn(c, c.zero),                OffsetIn(c, c.reserved)};
    EXPECT_EQ(offsets, (std::vector<std::size_t>{0, 4, 8, 12, 16, 20, 24, 28, 32, 36, 40, 44, 48, 52, 56}));
    EXPECT_EQ(sizeof c.driver, 4u);
    EXPECT_EQ(sizeof c.file_open, 4u);

    host::ValueRecord v{};
    EXPECT_EQ(sizeof v, 12u);
    EXPECT_EQ(OffsetIn(v, v.payload), 4u);
    host::DialogItem item{};
    EXPECT_EQ(sizeof item, 366u);
    EXPECT_EQ((std::vector<std::size_t>{OffsetIn(item, item.top), OffsetIn(item, item.flag), OffsetIn(item, item.text),
                                        OffsetIn(item, item.rest)}),
              (std::vector<std::size_t>{4, 16, 17, 98}));
}

TEST(RecordLayout, VendorBlocksHaveTheVendorsSizesAndOffsets) {
    vendor::DeviceListEntry entry{};
    EXPECT_EQ(sizeof entry, 56u);
    EXPECT_EQ(OffsetIn(entry, entry.device_name), 4u);
    EXPECT_EQ(OffsetIn(entry, entry.subdevice_count), 54u);
    vendor::FeaturesRequest features{};
    EXPECT_EQ(sizeof features, 8u);
    EXPECT_EQ(OffsetIn(features, features.size), 4u);
    vendor::SerialConfig config{};
    EXPECT_EQ(sizeof config, 20u);
    vendor::AIVoltageInBlock ai{};
    EXPECT_EQ(sizeof ai, 12u);
    EXPECT_EQ((std::vector<std::size_t>{OffsetIn(ai, ai.gain), OffsetIn(ai, ai.trigger), OffsetIn(ai, ai.voltage)}),
              (std::vector<std::size_t>{2, 4, 8}));
    vendor::AOVoltageOutBlock ao{};
    EXPECT_EQ(sizeof ao, 8u);
    EXPECT_EQ(OffsetIn(ao, ao.voltage), 4u);
    vendor::DioReadPortByteBlock read_port{};
    EXPECT_EQ(sizeof read_port, 8u);
    EXPECT_EQ(OffsetIn(read_port, read_port.value), 4u);
    vendor::DioWritePortByteBlock write_port{};
    EXPECT_EQ(sizeof write_port, 6u);
    EXPECT_EQ(OffsetIn(write_port, write_port.state), 4u);
    vendor::DioWriteBitBlock bit{};
    EXPECT_EQ(sizeof bit, 6u);
    EXPECT_EQ(OffsetIn(bit, bit.state), 4u);
    vendor::CounterEventReadBlock event_read{};
    EXPECT_EQ(sizeof event_read, 12u);
    EXPECT_EQ(OffsetIn(event_read, event_read.overflow), 4u);
    EXPECT_EQ(OffsetIn(event_read, event_read.count), 8u);
    vendor::CounterEventStartBlock event_start{};
    EXPECT_EQ(sizeof event_start, 4u);
    vendor::CounterFreqReadBlock frequency{};
    EXPECT_EQ(sizeof frequency, 8u);
    EXPECT_EQ(OffsetIn(frequency, frequency.frequency), 4u);
    vendor::AlarmConfigBlock alarm_config{};
    EXPECT_EQ(sizeof alarm_config, 12u);
    EXPECT_EQ(OffsetIn(alarm_config, alarm_config.high_limit), 8u);
    vendor::AlarmEnableBlock alarm_enable{};
    EXPECT_EQ(sizeof alarm_enable, 6u);
    vendor::AlarmCheckBlock alarm_check{};
    EXPECT_EQ(sizeof alarm_check, 12u);
    EXPECT_EQ(OffsetIn(alarm_check, alarm_check.high_state), 8u);
}

std::uint32_t WordAt(const host::DriverCallbacks& record, std::size_t offset) {
    std::uint32_t word;
    std::memcpy(&word, reinterpret_cast<const char*>(&record) + offset, 4);
    return word;
}

// The record the driver library hands to CreateDriverWindow, read as the host reads
// it: 32-bit words at fixed offsets, the functions being the library's exports.
TEST(RecordLayout, TheDriverFillsTheCallbacksRecordAtTheHostsOffsets) {
    char error[256] = {};
    tovi::platform::LibraryHandle library = tovi::platform::OpenLibrary(TOVI_DRIVER_LIBRARY, sizeof error - 1, error);
    ASSERT_NE(library, nullptr) << error;
    using MakeDriverFn = void*(__stdcall*)();
    using InitFn = std::uint8_t(__stdcall*)(void*, std::uint32_t, const char*, std::uint32_t, char*, std::uint32_t,
                                            std::uint8_t, void*, void*);
    using DriverOnlyFn = void(__stdcall*)(void*);
    const auto make = reinterpret_cast<MakeDriverFn>(tovi::platform::LibrarySymbol(library, "MakeDriver"));
    const auto init = reinterpret_cast<InitFn>(tovi::platform::LibrarySymbol(library, "Init"));
    const auto done = reinterpret_cast<DriverOnlyFn>(tovi::platform::LibrarySymbol(library, "Done"));
    const auto dispose = reinterpret_cast<DriverOnlyFn>(tovi::platform::LibrarySymbol(library, "DisposeDriver"));
    ASSERT_TRUE(make && init && done && dispose);
    tovitest::TempDirectory files;
    const std::string plant = files.Write("plant.ini", "[tovi]\r\n[modules]\r\n");
    hostapi::Reset();
    void* driver = make();
    int context = 0;
    char message[256] = {};
    ASSERT_EQ(init(driver, static_cast<std::uint32_t>(plant.size()), plant.c_str(), 255, message, 0x12345678, 1,
                   &context, nullptr),
              1)
        << message;

    const std::vector<hostapi::WindowCall> calls = hostapi::WindowCalls();
    ASSERT_FALSE(calls.empty());
    ASSERT_EQ(calls[0].kind, hostapi::WindowCallKind::Create);
    hostapi::WindowState window;
    ASSERT_TRUE(hostapi::FindWindow(calls[0].window, &window));
    const host::DriverCallbacks& record = window.callbacks;
    const auto address = [&](const char* name) {
        return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(tovi::platform::LibrarySymbol(library, name)));
    };
    EXPECT_EQ(WordAt(record, 0), static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(driver)));
    EXPECT_EQ(WordAt(record, 4), static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&context)));
    const char* functions[] = {"FileOpen",          "FileSave", "FileSaveAs",   "GetItemNumber",
                               "GetDialogBoxItem",  "DialogDataChanged", "SetPage", "DataModified",
                               "GetDriverName",     "UserProc"};
    for (std::size_t i = 0; i < std::size(functions); ++i) {
        EXPECT_NE(address(functions[i]), 0u) << functions[i];
        EXPECT_EQ(WordAt(record, 8 + 4 * i), address(functions[i])) << functions[i] << " at " << 8 + 4 * i;
    }
    EXPECT_EQ(WordAt(record, 48), 0x12345678u);
    EXPECT_EQ(WordAt(record, 52), 0u);
    EXPECT_EQ(WordAt(record, 56), 0u);

    done(driver);
    dispose(driver);
    hostapi::Reset();
    tovi::platform::CloseLibrary(library);
}

}  // namespace
