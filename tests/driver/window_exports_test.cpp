// The information page, the callbacks record and the window and dialog exports.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "driver/driver_instance.h"
#include "driver/tovi.h"
#include "tests/support/driver_fixture.h"

namespace {

using hostapi::WindowCallKind;
using tovitest::DriverTest;

void PutInt(std::vector<std::uint8_t>& item, std::size_t offset, std::int32_t value) {
    std::memcpy(item.data() + offset, &value, 4);
}

// The expected bytes of one item, written out from the page's layout.
std::vector<std::uint8_t> Item(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height,
                               std::uint8_t flag, const std::string& text, std::int32_t first, std::int32_t second) {
    std::vector<std::uint8_t> item(366, 0);
    PutInt(item, 0, left);
    PutInt(item, 4, top);
    PutInt(item, 8, width);
    PutInt(item, 12, height);
    item[16] = flag;
    std::memcpy(item.data() + 17, text.data(), text.size());
    PutInt(item, 98, first);
    PutInt(item, 102, second);
    return item;
}

std::vector<std::uint8_t> BytesOf(const void* address) {
    const auto* bytes = static_cast<const std::uint8_t*>(address);
    return {bytes, bytes + 366};
}

TEST_F(DriverTest, InformationPageIsFilledByteForByte) {
    driver_ = MakeDriver();
    for (std::uint32_t i = 0; i < 5; ++i) {
        const auto bytes = BytesOf(GetDialogBoxItem(driver_, i));
        EXPECT_EQ(bytes, std::vector<std::uint8_t>(366, 0)) << "item " << i << " before Init";
    }
    ASSERT_EQ(InitOn(files_.Write("plant.ini", tovitest::kEmptyPlant)), 1) << message();

    // The page as the host window copied it while it was being created: complete by then.
    hostapi::WindowState window;
    ASSERT_TRUE(hostapi::FindWindow(driver_->driver_window, &window));
    ASSERT_EQ(window.page.size(), 5u);
    EXPECT_EQ(BytesOf(&window.page[0]), Item(20, 20, 370, 100, 0, "TOVI 4000/5000 v4.0", 0, 0));
    // "Ovladač pro moduly TOVI 4000/5000" with the c-caron as Windows-1250 byte E8.
    EXPECT_EQ(BytesOf(&window.page[1]), Item(10, 10, 0, 15, 1, "Ovlada\xE8 pro moduly TOVI 4000/5000", 0, 34));
    EXPECT_EQ(BytesOf(&window.page[2]), Item(10, 33, 350, 17, 1, "", 1, 2));
    for (std::uint32_t i = 3; i < 5; ++i) {
        const auto bytes = BytesOf(&window.page[i]);
        std::int32_t fields[4];
        std::memcpy(fields, bytes.data(), sizeof fields);
        EXPECT_EQ(fields[0], 10);
        EXPECT_EQ(fields[1], i == 3 ? 60 : 75);
        EXPECT_EQ(fields[3], 15);
        EXPECT_EQ(bytes[16], 1);
        const std::size_t length = strnlen(reinterpret_cast<const char*>(bytes.data() + 17), 81);
        EXPECT_GT(length, 0u);
        EXPECT_LE(length, 80u);
        for (std::size_t k = 17 + length; k < 98; ++k) EXPECT_EQ(bytes[k], 0) << "padding of item " << i;
        std::int32_t codes[2];
        std::memcpy(codes, bytes.data() + 98, sizeof codes);
        EXPECT_EQ(codes[0], 0);
        EXPECT_EQ(codes[1], 2);
    }
    EXPECT_EQ(GetDialogBoxItem(driver_, 4), static_cast<void*>(&driver_->info_pages[4]));
    EXPECT_EQ(GetDialogBoxItem(driver_, 5), nullptr);
    EXPECT_EQ(GetDialogBoxItem(driver_, 0xFFFFFFFFu), nullptr);
}

// Read as the host reads it, slot by slot: twelve pointer-wide slots (the instance,
// the host's context, then the ten exports in the exchange order), then three 32-bit
// words (the host value, 0, 0).
TEST_F(DriverTest, CallbacksRecordHoldsTheExportsInExchangeOrder) {
    ASSERT_EQ(Start(), 1) << message();
    hostapi::WindowState window;
    ASSERT_TRUE(hostapi::FindWindow(driver_->driver_window, &window));
    constexpr std::size_t kSlot = sizeof(void*);
    std::vector<unsigned char> raw(sizeof window.callbacks);
    ASSERT_GE(raw.size(), 12 * kSlot + 12);
    std::memcpy(raw.data(), &window.callbacks, raw.size());
    const auto slot = [&](std::size_t index) {
        std::uintptr_t value = 0;
        std::memcpy(&value, raw.data() + index * kSlot, kSlot);
        return value;
    };
    const auto word = [&](std::size_t index) {
        std::uint32_t value = 0;
        std::memcpy(&value, raw.data() + 12 * kSlot + index * 4, 4);
        return value;
    };
    const auto address = [](auto* pointer) { return reinterpret_cast<std::uintptr_t>(pointer); };
    const std::vector<std::uintptr_t> expected = {
        address(driver_),          address(&context_),         address(&FileOpen),    address(&FileSave),
        address(&FileSaveAs),      address(&GetItemNumber),    address(&GetDialogBoxItem),
        address(&DialogDataChanged), address(&SetPage),        address(&DataModified), address(&GetDriverName),
        address(&UserProc)};
    // Swapped slots show only when the exports lie at different addresses.
    EXPECT_EQ(std::set<std::uintptr_t>(expected.begin(), expected.end()).size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(slot(i), expected[i]) << "slot " << i;
    EXPECT_EQ(word(0), 0xC0FFEEu);
    EXPECT_EQ(word(1), 0u);
    EXPECT_EQ(word(2), 0u);
}

TEST_F(DriverTest, DriverProcForwardsWindowCommands) {
    ASSERT_EQ(Start(), 1) << message();
    const WindowHandle window = driver_->driver_window;
    hostapi::Reset();
    for (std::uint32_t code = 0; code <= 6; ++code) DriverProc(driver_, code, 11, 22, 33, 44);
    DriverProc(driver_, 7, 1, 2, 3, 4);
    DriverProc(driver_, 0x80000000u, 1, 2, 3, 4);
    const auto calls = hostapi::WindowCalls();
    const WindowCallKind expected[] = {WindowCallKind::Hide,     WindowCallKind::Show,    WindowCallKind::Minimize,
                                       WindowCallKind::Restore,  WindowCallKind::Select,  WindowCallKind::NewRect,
                                       WindowCallKind::LoginLevel};
    ASSERT_EQ(calls.size(), 7u);
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].kind, expected[i]) << "code " << i;
        EXPECT_EQ(calls[i].window, window);
    }
    EXPECT_EQ(calls[5].values[0], 11);
    EXPECT_EQ(calls[5].values[1], 22);
    EXPECT_EQ(calls[5].values[2], 33);
    EXPECT_EQ(calls[5].values[3], 44);
    EXPECT_EQ(calls[6].values[0], 11);
}

TEST(WindowExports, NamesAndConstantAnswers) {
    char name[32];
    EXPECT_EQ(GetDriverInfo(31, name), 19u);
    EXPECT_STREQ(name, "TOVI 4000/5000 v4.0");
    char cut[8];
    GetDriverInfo(7, cut);
    EXPECT_STREQ(cut, "TOVI 40");
    char via_instance[32];
    EXPECT_EQ(GetDriverName(nullptr, 31, via_instance), 19u);
    EXPECT_STREQ(via_instance, "TOVI 4000/5000 v4.0");

    EXPECT_EQ(GetItemNumber(), 4u);
    EXPECT_EQ(BufferInfo(), 0);
    EXPECT_EQ(FileOpen(), 0);
    DriverInstance* driver = MakeDriver();
    EXPECT_EQ(DataModified(driver), 0);
    DisposeDriver(driver);
}

}  // namespace
