// The recorder tells a vendor library's inner calls from the driver's by the
// library that holds the return address.
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/platform.h"
#include "recorder/call_origin.h"

namespace {

int InThisProgram() { return 1; }

TEST(CallOrigins, OnlyAddressesInsideTheVendorLibrariesAreTheVendors) {
    char error[256] = {};
    tovi::platform::LibraryHandle device = tovi::platform::OpenLibrary(DEVICE_LIBRARY, sizeof error - 1, error);
    ASSERT_NE(device, nullptr) << error;
    tovi::platform::LibraryHandle serial = tovi::platform::OpenLibrary(SERIAL_LIBRARY, sizeof error - 1, error);
    ASSERT_NE(serial, nullptr) << error;
    const auto in = [](tovi::platform::LibraryHandle library, const char* name) -> const void* {
        const void* address = tovi::platform::LibrarySymbol(library, name);
        EXPECT_NE(address, nullptr) << name;
        return address;
    };
    const void* here = reinterpret_cast<const void*>(&InThisProgram);

    recorder::CallOrigins origins;
    // Before the vendor libraries are loaded nothing is theirs.
    EXPECT_FALSE(origins.FromVendor(in(device, "DRV_AIVoltageIn")));

    origins.AddVendorLibrary(in(device, "DRV_GetErrorMessage"));
    // Any code of that library, not only the function it was named by.
    EXPECT_TRUE(origins.FromVendor(in(device, "DRV_AIVoltageIn")));
    EXPECT_TRUE(origins.FromVendor(static_cast<const char*>(in(device, "DRV_DeviceOpen")) + 1));
    EXPECT_FALSE(origins.FromVendor(in(serial, "COMOpen")));
    EXPECT_FALSE(origins.FromVendor(here));
    EXPECT_FALSE(origins.FromVendor(nullptr));
    static int data_here = 0;
    EXPECT_FALSE(origins.FromVendor(&data_here));

    origins.AddVendorLibrary(in(serial, "COMOpen"));
    EXPECT_TRUE(origins.FromVendor(in(serial, "COMRead")));
    EXPECT_TRUE(origins.FromVendor(in(device, "DRV_AIVoltageIn")));
    EXPECT_FALSE(origins.FromVendor(here));
    // An address no module holds names no library.
    origins.AddVendorLibrary(nullptr);
    EXPECT_FALSE(origins.FromVendor(reinterpret_cast<const void*>(std::uintptr_t{16})));
}

}  // namespace
