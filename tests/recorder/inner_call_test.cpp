// A plant's process: the driver loads the recorder's ADSAPI32 and ADSCOMM from its
// own directory before anything else of those names, and the vendor serial
// library the recorder loads imports ADSAPI32 by name, so it binds to the
// recorder's. Its inner DRV_ call inside COMOpen reaches the recorder, which
// forwards it and notes it, keeping it out of the driver's sequence.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "device/vendor_api.h"
#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> LinesOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The line without its leading time and thread fields.
std::string Call(const std::string& line) {
    const std::size_t first = line.find(' ');
    const std::size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
    return second == std::string::npos ? line : line.substr(second + 1);
}

TEST(InnerCalls, AVendorLibrarysOwnCallIsANoteNotTheDriversCall) {
    const fs::path plant = fs::path(INNER_CALL_WORK) / "plant";
    fs::remove_all(INNER_CALL_WORK);
    fs::create_directories(plant);
    for (const char* library : {RECORDER_DEVICE_LIBRARY, RECORDER_SERIAL_LIBRARY}) {
        fs::copy_file(library, plant / fs::path(library).filename());
    }
    {
        std::ofstream ini(plant / "recorder.ini", std::ios::binary);
        ini << "[recorder]\ndevice_library=" << fs::path(SIMULATED_DEVICE_LIBRARY).make_preferred().string()
            << "\nserial_library=" << fs::path(INNER_CALL_SERIAL_LIBRARY).make_preferred().string()
            << "\nfile=plant.recording\nflush_ms=0\n";
    }
    char error[256] = {};
    // As the driver loads them: the recorder's libraries first.
    tovi::platform::LibraryHandle device =
        tovi::platform::OpenLibrary((plant / "ADSAPI32.dll").string().c_str(), sizeof error - 1, error);
    ASSERT_NE(device, nullptr) << error;
    tovi::platform::LibraryHandle serial =
        tovi::platform::OpenLibrary((plant / "ADSCOMM.dll").string().c_str(), sizeof error - 1, error);
    ASSERT_NE(serial, nullptr) << error;
    const auto count = reinterpret_cast<vendor::DeviceGetNumOfListFn>(
        tovi::platform::LibrarySymbol(device, "DRV_DeviceGetNumOfList"));
    const auto open = reinterpret_cast<vendor::COMOpenFn>(tovi::platform::LibrarySymbol(serial, "COMOpen"));
    const auto close = reinterpret_cast<vendor::COMCloseFn>(tovi::platform::LibrarySymbol(serial, "COMClose"));
    ASSERT_TRUE(count && open && close);

    std::int16_t devices = -1;
    EXPECT_EQ(count(&devices), 0);
    std::uint32_t unused = 0;
    vendor::Handle handle = 0;
    EXPECT_EQ(open(3, &unused, &handle), 0);
    EXPECT_EQ(handle, 1u);
    EXPECT_EQ(close(&handle), 0);

    std::vector<std::string> calls;
    std::vector<std::string> notes;
    for (const std::string& line : LinesOf(plant / "plant.recording")) {
        if (!line.empty() && line[0] >= '0' && line[0] <= '9') calls.push_back(Call(line));
        if (line.rfind("# inner call", 0) == 0) notes.push_back(line);
    }
    // The driver's three calls in its order; the serial library's own call a note.
    EXPECT_EQ(calls, (std::vector<std::string>{"DRV_DeviceGetNumOfList -> 0 devices=0",
                                               "COMOpen port=3 -> 0 handle=1",
                                               "COMClose handle=1 port=3 -> 0 handle=0"}));
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(Call(notes[0].substr(notes[0].find(": ") + 2)), "DRV_DeviceGetNumOfList -> 0 devices=0");
}

}  // namespace
