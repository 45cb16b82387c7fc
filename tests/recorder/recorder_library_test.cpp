// The recorder libraries in front of the simulated device manager: results and
// call order unchanged, each call one line, a file that cannot be written,
// rotation, and a recorder that refuses to forward to a recorder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "device_sim/device_sim.h"
#include "device_sim/exports.h"
#include "tests/recorder/recorder_fixture.h"

namespace {

using tovitest::Calls;
using tovitest::Read;
using tovitest::RecorderTest;
namespace fs = std::filesystem;

TEST_F(RecorderTest, ForwardsEveryCallUnchangedAndRecordsItsFieldsInCallOrder) {
    ASSERT_EQ(devsim::LoadText("device 3 \"dio16 Address=3\"\n  di 8\n  do 8\n  inport 0 = 0x5A\n"
                               "device 20 \"bus\"\n  serial 2\nsubdevice 21 \"disp6 Address=7\"\n  display address=7\n"
                               "fault DRV_DioReadPortByte status=7 device=3 every=2 text=\"Bus error\"\n"),
              "");
    Place(Forwarding() + "file=plant.recording\n");
    Handle device = 0;
    ASSERT_EQ(Device<vendor::DeviceOpenFn>("DRV_DeviceOpen")(3, &device), 0);
    Status status = -1;
    EXPECT_EQ(ReadPort(device, 0, status), 0x5A);
    EXPECT_EQ(status, 0);
    ReadPort(device, 0, status);
    EXPECT_EQ(status, 7);
    char text[256] = {};
    EXPECT_EQ(Device<vendor::GetErrorMessageFn>("DRV_GetErrorMessage")(7, text), 0);
    EXPECT_STREQ(text, "Bus error");
    vendor::DioWritePortByteBlock write{0, 0xFF, 0x81};
    EXPECT_EQ(Device<vendor::DioWritePortByteFn>("DRV_DioWritePortByte")(device, &write), 0);
    devsim_port_state port{};
    EXPECT_EQ(devsim_port_output(3, 0, &port), 0);
    EXPECT_EQ(port.value, 0x81);

    Handle serial = 0;
    std::uint32_t unused = 0;
    ASSERT_EQ(Serial<vendor::COMOpenFn>("COMOpen")(2, &unused, &serial), 0);
    const std::string frame = "$079012.50\r";
    EXPECT_EQ(Serial<vendor::COMWriteFn>("COMWrite")(serial, frame.data(), static_cast<std::uint32_t>(frame.size())), 0);
    char reply[16] = {};
    std::uint32_t received = 0;
    EXPECT_EQ(Serial<vendor::COMReadFn>("COMRead")(serial, reply, sizeof reply, 100, 13, &received), 0);
    EXPECT_EQ(std::string(reply, received), "!07\r");
    EXPECT_EQ(Device<vendor::DeviceCloseFn>("DRV_DeviceClose")(&device), 0);
    EXPECT_EQ(device, 0u);
    // Each call reached the simulator once, in the order made.
    EXPECT_EQ(devsim_trace_count(), 9);

    const std::string recording = Read(dir_.Path("plant.recording"));
    EXPECT_EQ(recording.rfind("tovi-recording 2\nstarted ", 0), 0u) << recording;
    EXPECT_NE(recording.find(std::string("\ndevice-library \"") + SIMULATED_DEVICE_LIBRARY + "\"\n"), std::string::npos);
    const std::string h = std::to_string(serial - 1), s = std::to_string(serial);
    const std::vector<std::string> expected = {
        "DRV_DeviceOpen dev=3 -> 0 handle=" + h,
        "DRV_DioReadPortByte handle=" + h + " dev=3 port=0 -> 0 value=90",
        "DRV_DioReadPortByte handle=" + h + " dev=3 port=0 -> 7 value=0",
        "DRV_GetErrorMessage code=7 -> 0 text=\"Bus error\"",
        "DRV_DioWritePortByte handle=" + h + " dev=3 port=0 mask=255 state=129 -> 0",
        "COMOpen port=2 -> 0 handle=" + s,
        "COMWrite handle=" + s + " port=2 length=11 data=\"$079012.50\\r\" -> 0",
        "COMRead handle=" + s + " port=2 size=16 timeout=100 terminator=13 -> 0 data=\"!07\\r\" received=4",
        "DRV_DeviceClose handle=" + h + " dev=3 -> 0 handle=0",
    };
    EXPECT_EQ(Calls(recording), expected);
}

TEST_F(RecorderTest, AFileThatCannotBeWrittenStopsTheRecordingNotTheForwarding) {
    for (const std::string& file : {dir_.Path("no/such/directory/plant.recording"), std::string("/dev/full")}) {
        SCOPED_TRACE(file);
        ASSERT_EQ(devsim::LoadText("device 3 \"dio16\"\n  di 8\n  inport 0 = 0x5A\n"), "");
        fs::remove_all(dir_.path());
        fs::create_directories(dir_.path());
        Place(Forwarding() + "file=" + file + "\n");
        ::testing::internal::CaptureStderr();
        Handle device = 0;
        ASSERT_EQ(Device<vendor::DeviceOpenFn>("DRV_DeviceOpen")(3, &device), 0);
        for (int i = 0; i < 3; ++i) {
            Status status = -1;
            EXPECT_EQ(ReadPort(device, 0, status), 0x5A);
            EXPECT_EQ(status, 0);
        }
        const std::string said = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(said.find("recording stopped"), said.rfind("recording stopped")) << said;
        EXPECT_NE(said.find("tovi recorder: " + file + ": "), std::string::npos) << said;
        tovi::platform::CloseLibrary(serial_);
        tovi::platform::CloseLibrary(device_);
    }
}

TEST_F(RecorderTest, AFullFileMovesAsideAndOnlyTheNewestAreKept) {
    ASSERT_EQ(devsim::LoadText("device 3 \"dio16\"\n  di 8\n  inport 0 = 0x5A\n"), "");
    Place(Forwarding() + "file=r.txt\nmax_size_kb=1\nkeep=2\n");
    Handle device = 0;
    ASSERT_EQ(Device<vendor::DeviceOpenFn>("DRV_DeviceOpen")(3, &device), 0);
    for (int i = 0; i < 100; ++i) {
        Status status = -1;
        ReadPort(device, 0, status);
    }
    EXPECT_FALSE(fs::exists(dir_.Path("r.txt.3")));
    std::size_t calls = 0;
    for (const char* name : {"r.txt", "r.txt.1", "r.txt.2"}) {
        const std::string text = Read(dir_.Path(name));
        EXPECT_EQ(text.rfind("tovi-recording 2\n", 0), 0u) << name;
        // The limit holds the file's own calls, after its header and carried calls.
        std::size_t own = 0;
        while (own < text.size() && !(text[own] >= '0' && text[own] <= '9')) own = text.find('\n', own) + 1;
        EXPECT_LE(text.size() - own, 1024u) << name;
        if (std::string(name) != "r.txt") {
            EXPECT_GT(text.size() - own, 1024u - 80) << name << ": moved aside full";
        }
        calls += Calls(text).size();
    }
    // The newest calls are all there: the current file ends with the last one.
    EXPECT_GT(calls, 10u);
    const std::vector<std::string> last = Calls(Read(dir_.Path("r.txt")));
    ASSERT_FALSE(last.empty());
    EXPECT_EQ(last.back(), "DRV_DioReadPortByte handle=" + std::to_string(device) + " dev=3 port=0 -> 0 value=90");
}

TEST_F(RecorderTest, AFailedCallReachesTheFileAtOnceWithTheLinesBeforeIt) {
    ASSERT_EQ(devsim::LoadText("device 3 \"dio16\"\n  di 8\n  inport 0 = 0x5A\n"
                               "fault DRV_DioReadPortByte status=7 device=3 every=3\n"),
              "");
    Place(Forwarding() + "file=r.txt\nflush_ms=3600000\n");
    Handle device = 0;
    ASSERT_EQ(Device<vendor::DeviceOpenFn>("DRV_DeviceOpen")(3, &device), 0);
    Status status = -1;
    ReadPort(device, 0, status);
    EXPECT_EQ(Calls(Read(dir_.Path("r.txt"))).size(), 0u) << "good calls wait for the next flush";
    ReadPort(device, 0, status);
    ReadPort(device, 0, status);
    ASSERT_EQ(status, 7);
    const std::vector<std::string> calls = Calls(Read(dir_.Path("r.txt")));
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[3], "DRV_DioReadPortByte handle=" + std::to_string(device) + " dev=3 port=0 -> 7 value=0");
}

TEST_F(RecorderTest, NeverForwardsToARecorderAndSaysWhyThroughTheErrorTextAndTheRecording) {
    const std::string self = dir_.Path(fs::path(RECORDER_DEVICE_LIBRARY).filename().string());
    Place("[recorder]\ndevice_library=" + fs::path(RECORDER_DEVICE_LIBRARY).filename().string() +
          "\nfile=r.txt\nkeep=many\n");
    std::int16_t count = 0;
    const Status status = Device<vendor::DeviceGetNumOfListFn>("DRV_DeviceGetNumOfList")(&count);
    EXPECT_EQ(status, 0x7E5E);
    char text[256] = {};
    Device<vendor::GetErrorMessageFn>("DRV_GetErrorMessage")(status, text);
    EXPECT_EQ(std::string(text), "recorder: " + self +
                                     " is a recorder library, not the vendor's: name the vendor's library in recorder.ini");
    Handle serial = 0;
    std::uint32_t unused = 0;
    EXPECT_EQ(Serial<vendor::COMOpenFn>("COMOpen")(1, &unused, &serial), 0x7E5E);
    // The calls are still recorded, with the reason in the header.
    const std::string recording = Read(dir_.Path("r.txt"));
    EXPECT_NE(recording.find("# not forwarded: " + self + " is a recorder library"), std::string::npos) << recording;
    EXPECT_NE(recording.find("\n# recorder.ini:4: \"keep=many\": keep takes a whole number from 0 to 99 (skipped)\n"),
              std::string::npos)
        << recording;
    EXPECT_NE(recording.find(" DRV_DeviceGetNumOfList -> 32350 devices=0\n"), std::string::npos) << recording;
}

}  // namespace
