// Init on a plant whose vendor libraries are missing, or lack a function: one
// message naming the file and the function, in Windows-1250, and nothing worse.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "device/vendor_api.h"
#include "tests/support/driver_fixture.h"

namespace {

namespace fs = std::filesystem;

const std::string kCannotLoad = "Nelze na\xE8\xEDst knihovnu";
const std::string kNotInstalled = " : Za\xF8\xEDzen\xED nen\xED nainstalov\xE1no";
const std::string kDevice = vendor::kDeviceLibraryName;
const std::string kSerial = vendor::kSerialLibraryName;

// One module: binding it loads the vendor libraries.
const char kPlant[] =
    "[tovi]\r\n"
    "[modules]\r\n"
    "temps = ai8, COM1 Address=1\r\n"
    "[temps]\r\n"
    "ai 0 = 100\r\n";

// The test's directory is the current one, where a driver linked into a program
// other than its own library looks for tovi.ini and the vendor libraries first.
class VendorLoading : public tovitest::DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        before_ = fs::current_path();
        fs::copy_file(TOVI_TYPE_DATABASE, files_.path() / "tovi.ini");
        fs::current_path(files_.path());
    }
    void TearDown() override {
        fs::current_path(before_);
        DriverTest::TearDown();
    }

    void Install(const char* built, const std::string& name) { fs::copy_file(built, files_.path() / name); }

    fs::path before_;
};

TEST_F(VendorLoading, AMissingLibraryIsNamed) {
    Install(SERIAL_LIBRARY_COMPLETE, kSerial);
    EXPECT_EQ(Start(kPlant), 0);
    EXPECT_EQ(message(), kCannotLoad + " (" + kDevice + ")");
    Done(driver_);
    DisposeDriver(driver_);
    driver_ = nullptr;

    fs::remove(files_.path() / kSerial);
    Install(DEVICE_LIBRARY_COMPLETE, kDevice);
    EXPECT_EQ(Start(kPlant), 0);
    EXPECT_EQ(message(), kCannotLoad + " (" + kSerial + ")");
}

TEST_F(VendorLoading, ALibraryLackingAFunctionIsNamedWithTheFunction) {
    Install(DEVICE_LIBRARY_INCOMPLETE, kDevice);
    Install(SERIAL_LIBRARY_COMPLETE, kSerial);
    EXPECT_EQ(Start(kPlant), 0);
    EXPECT_EQ(message(), kCannotLoad + " (" + kDevice + ": DRV_AlarmCheck)");
    Done(driver_);
    DisposeDriver(driver_);
    driver_ = nullptr;

    // A failed load keeps no library open: the files can be replaced.
    fs::remove(files_.path() / kDevice);
    fs::remove(files_.path() / kSerial);
    Install(DEVICE_LIBRARY_COMPLETE, kDevice);
    Install(SERIAL_LIBRARY_INCOMPLETE, kSerial);
    EXPECT_EQ(Start(kPlant), 0);
    EXPECT_EQ(message(), kCannotLoad + " (" + kSerial + ": COMRead)");
}

TEST_F(VendorLoading, TheMessageIsCutAtTheCallersCapacity) {
    Install(DEVICE_LIBRARY_INCOMPLETE, kDevice);
    Install(SERIAL_LIBRARY_COMPLETE, kSerial);
    const std::string whole = kCannotLoad + " (" + kDevice + ": DRV_AlarmCheck)";
    const std::string path = files_.Write("plant.ini", kPlant);
    for (const std::uint32_t capacity : {0u, 20u, 23u, static_cast<std::uint32_t>(whole.size() - 1)}) {
        DriverInstance* driver = MakeDriver();
        ASSERT_NE(driver, nullptr);
        char message[64];
        std::memset(message, 'x', sizeof message);
        EXPECT_EQ(Init(driver, static_cast<std::uint32_t>(path.size()), path.c_str(), capacity, message, 0, 0,
                       &context_, &OnCompletion),
                  0);
        EXPECT_EQ(std::string(message), whole.substr(0, capacity)) << capacity;
        EXPECT_EQ(message[capacity + 1], 'x') << capacity;
        Done(driver);
        DisposeDriver(driver);
    }
}

// Nothing of a failed load is remembered: libraries put in place later are found
// at the next start, in the same process. Once found they stay loaded, so this case
// comes last.
TEST_F(VendorLoading, LibrariesInstalledLaterAreFoundAtTheNextStart) {
    EXPECT_EQ(Start(kPlant), 0);
    EXPECT_EQ(message(), kCannotLoad + " (" + kDevice + ")");
    Done(driver_);
    DisposeDriver(driver_);
    driver_ = nullptr;

    // The simulated device manager, with no devices: binding fails on its own terms.
    Install(DEVICE_LIBRARY_SIMULATED, kDevice);
    Install(SERIAL_LIBRARY_SIMULATED, kSerial);
    EXPECT_EQ(Start(kPlant), 0);
    EXPECT_EQ(message(), "COM1 Address=1" + kNotInstalled);
}

}  // namespace
