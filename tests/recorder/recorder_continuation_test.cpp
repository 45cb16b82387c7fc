// Files that continue a run: a rotated file and a recording started while the
// host runs begin with the calls a fresh start of the driver asks for, as they
// were recorded; a file that cannot be moved aside keeps the recording until it
// can; recorder.ini's record= is followed while the process runs.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "device_sim/device_sim.h"
#include "device_sim/exports.h"
#include "recorder/recorder_settings.h"
#include "recording/recording_format.h"
#include "tests/recorder/recorder_fixture.h"

namespace {

using tovitest::Calls;
using tovitest::Read;
using tovitest::RecorderTest;
namespace fs = std::filesystem;

constexpr char kDevices[] =
    "device 3 \"dio16 Address=3\"\n  di 8\n  do 8\n  inport 0 = 0x5A\n"
    "device 5 \"dio16 Address=5\"\n  di 8\n"
    "device 20 \"bus\"\n  serial 2\nsubdevice 21 \"disp6 Address=7\"\n  display address=7\n";

recording::Recording Parse(const std::string& path) {
    recording::Recording parsed;
    std::string error;
    EXPECT_TRUE(recording::ParseRecording(Read(path), path, parsed, error)) << error;
    return parsed;
}

// Function and inputs of each call, as the replay matches them.
std::vector<std::string> Keys(const std::vector<recording::Call>& calls) {
    std::vector<std::string> keys;
    for (const recording::Call& call : calls) keys.push_back(call.function + " " + recording::FieldsText(call.inputs));
    return keys;
}

std::vector<std::string> Lines(const std::vector<recording::Call>& calls) {
    std::vector<std::string> lines;
    for (recording::Call call : calls) {
        call.carried = false;
        std::string line;
        recording::AppendCallLine(call, line);
        lines.push_back(line);
    }
    return lines;
}

class ContinuationTest : public RecorderTest {
protected:
    // What the driver asks to bind the port module on device 3 and the display
    // behind device 20.
    void Bind() {
        std::int16_t count = 0, returned = 0;
        ASSERT_EQ(Device<vendor::DeviceGetNumOfListFn>("DRV_DeviceGetNumOfList")(&count), 0);
        vendor::DeviceListEntry list[8] = {};
        ASSERT_EQ(Device<vendor::DeviceGetListFn>("DRV_DeviceGetList")(list, count, &returned), 0);
        ASSERT_EQ(Device<vendor::DeviceGetSubListFn>("DRV_DeviceGetSubList")(20, list, 1, &returned), 0);
        ASSERT_EQ(Device<vendor::DeviceOpenFn>("DRV_DeviceOpen")(3, &device_), 0);
        vendor::SerialConfig config{};
        ASSERT_EQ(Serial<vendor::COMGetConfigFn>("COMGetConfig")(2, &config), 0);
        std::uint32_t unused = 0;
        ASSERT_EQ(Serial<vendor::COMOpenFn>("COMOpen")(config.port, &unused, &serial_), 0);
        ASSERT_EQ(Serial<vendor::COMSetConfigFn>("COMSetConfig")(serial_, &config), 0);
        std::uint8_t features[vendor::kFeaturesSize] = {};
        vendor::FeaturesRequest request{features, sizeof features};
        ASSERT_EQ(Device<vendor::DeviceGetFeaturesFn>("DRV_DeviceGetFeatures")(device_, &request), 0);
    }
    // What the driver does when it stops.
    void Close() {
        ASSERT_EQ(Device<vendor::DeviceCloseFn>("DRV_DeviceClose")(&device_), 0);
        ASSERT_EQ(Serial<vendor::COMCloseFn>("COMClose")(&serial_), 0);
    }
    // A call whose line alone is larger than a limit of 1 KiB (the features of a
    // handle nothing opened): the next call begins a file of its own.
    void FillFile() {
        std::uint8_t features[vendor::kFeaturesSize] = {};
        vendor::FeaturesRequest request{features, sizeof features};
        Device<vendor::DeviceGetFeaturesFn>("DRV_DeviceGetFeatures")(0xBAD, &request);
    }
    void ReadPorts(int times) {
        for (int i = 0; i < times; ++i) {
            Status status = -1;
            ASSERT_EQ(ReadPort(device_, 0, status), 0x5A);
        }
    }
    // The recorder looks at its ini on a call made a second or more after its
    // last look. That look was before `after`, so one call a second after it is
    // looked at; the time after that call bounds the next look.
    std::chrono::steady_clock::time_point CallAfterTheNextLook(std::chrono::steady_clock::time_point after) {
        std::this_thread::sleep_until(after + std::chrono::milliseconds(1001));
        ReadPorts(1);
        return std::chrono::steady_clock::now();
    }
    // The binding calls a fresh start needs, as the first file holds them.
    static std::vector<recording::Call> BindingCalls(const recording::Recording& first) {
        std::vector<recording::Call> calls;
        for (const recording::Call& call : first.calls) {
            if (call.function != "DRV_DioReadPortByte") calls.push_back(call);
        }
        return calls;
    }

    Handle device_ = 0, serial_ = 0;
};

const std::vector<std::string> kBindingKeys = {
    "DRV_DeviceGetNumOfList ",
    "DRV_DeviceGetList max=3",
    "DRV_DeviceGetSubList dev=20 max=1",
    "DRV_DeviceOpen dev=3",
    "COMGetConfig index=2",
    "COMOpen port=2",
};

// Port 2, 9600 baud, 8 data bits, one stop bit, as the simulated bus gives it.
constexpr char kSerialConfig[] = "0200000080250000080001000000000000000000";

TEST_F(ContinuationTest, EveryRotatedFileBeginsWithTheBindingCallsOfTheRunAndLosesNoCall) {
    ASSERT_EQ(devsim::LoadText(kDevices), "");
    Place(Forwarding() + "file=r.txt\nmax_size_kb=4\nkeep=20\n");
    Bind();
    ReadPorts(400);
    ASSERT_TRUE(fs::exists(dir_.Path("r.txt.3"))) << "too few rotations to tell";
    ASSERT_FALSE(fs::exists(dir_.Path("r.txt.20"))) << "the first file was dropped";
    std::vector<std::string> files;
    for (int n = 19; n >= 1; --n) {
        if (fs::exists(dir_.Path("r.txt." + std::to_string(n)))) files.push_back(dir_.Path("r.txt." + std::to_string(n)));
    }
    files.push_back(dir_.Path("r.txt"));

    const recording::Recording first = Parse(files.front());
    EXPECT_FALSE(first.header.continues);
    const std::vector<recording::Call> binding = BindingCalls(first);
    std::vector<std::string> keys = Keys(binding);
    ASSERT_EQ(keys.size(), 8u);
    EXPECT_EQ(std::vector<std::string>(keys.begin(), keys.begin() + 6), kBindingKeys);
    EXPECT_EQ(keys[6], "COMSetConfig handle=" + std::to_string(serial_) + " port=2 config=" + kSerialConfig);
    EXPECT_EQ(keys[7], "DRV_DeviceGetFeatures handle=" + std::to_string(device_) + " dev=3 size=486");
    std::size_t reads = Calls(Read(files.front())).size() - 8;
    std::uint64_t last_time = first.calls.back().time_us;
    for (std::size_t i = 1; i < files.size(); ++i) {
        SCOPED_TRACE(files[i]);
        const recording::Recording part = Parse(files[i]);
        EXPECT_EQ(part.header.started, first.header.started);
        EXPECT_TRUE(part.header.continues);
        std::vector<recording::Call> carried, own;
        for (const recording::Call& call : part.calls) (call.carried ? carried : own).push_back(call);
        // Restated exactly, times and threads included, ahead of the file's own calls.
        EXPECT_EQ(Lines(carried), Lines(binding));
        ASSERT_FALSE(own.empty());
        EXPECT_TRUE(part.calls[carried.size()].carried == false);
        EXPECT_EQ(part.header.continues_us, own.front().time_us);
        EXPECT_GE(own.front().time_us, last_time);
        last_time = own.back().time_us;
        for (const recording::Call& call : own) EXPECT_EQ(call.function, "DRV_DioReadPortByte");
        // The limit is the file's own calls' (4 KiB of lines of about 69 bytes), on
        // top of what it carries.
        if (i + 1 < files.size()) {
            EXPECT_GE(own.size(), 55u);
        }
        reads += own.size();
    }
    EXPECT_EQ(reads, 400u);
}

TEST_F(ContinuationTest, AFileBegunWhileTheDriverStopsCarriesItsStartAndOneBegunAfterCarriesNothing) {
    ASSERT_EQ(devsim::LoadText(kDevices), "");
    // The calls looked at each begin a file: the one before each fills a file.
    Place(Forwarding() + "file=r.txt\nmax_size_kb=1\nkeep=99\n");
    Bind();
    ReadPorts(1);
    ASSERT_EQ(Device<vendor::DeviceCloseFn>("DRV_DeviceClose")(&device_), 0);
    FillFile();
    ASSERT_EQ(Serial<vendor::COMCloseFn>("COMClose")(&serial_), 0);
    FillFile();
    Bind();  // ends with the features of the new handle, a full file
    ReadPorts(1);
    std::map<std::string, recording::Recording> by_first_call;  // the file's first own call
    for (int n = 0; n < 99; ++n) {
        const std::string path = dir_.Path(n == 0 ? "r.txt" : "r.txt." + std::to_string(n));
        if (!fs::exists(path)) continue;
        recording::Recording part = Parse(path);
        for (const recording::Call& call : part.calls) {
            if (!call.carried) {
                by_first_call[Keys({call}).front()] = part;
                break;
            }
        }
    }
    auto carried_keys = [&](const std::string& first) {
        std::vector<std::string> keys;
        for (const recording::Call& call : by_first_call[first].calls) {
            if (call.carried) keys.push_back(call.function);
        }
        return keys;
    };
    const std::vector<std::string> start = {"DRV_DeviceGetNumOfList", "DRV_DeviceGetList", "DRV_DeviceGetSubList",
                                            "DRV_DeviceOpen",         "COMGetConfig",      "COMOpen",
                                            "COMSetConfig",           "DRV_DeviceGetFeatures"};
    // Begun between the device's close and the serial port's: the whole start.
    ASSERT_TRUE(by_first_call.count("COMClose handle=65538 port=2"));
    EXPECT_EQ(carried_keys("COMClose handle=65538 port=2"), start);
    // Begun with the next start: nothing carried, the start is the file's own.
    ASSERT_TRUE(by_first_call.count("DRV_DeviceGetNumOfList "));
    EXPECT_EQ(carried_keys("DRV_DeviceGetNumOfList "), std::vector<std::string>());
    // After it: the new start, with the new handles.
    const std::string read = "DRV_DioReadPortByte handle=" + std::to_string(device_) + " dev=3 port=0";
    ASSERT_TRUE(by_first_call.count(read));
    EXPECT_EQ(carried_keys(read), start);
    EXPECT_EQ(Keys(by_first_call[read].calls)[3], "DRV_DeviceOpen dev=3");
    EXPECT_EQ(by_first_call[read].calls[3].outputs.front().value, std::to_string(device_));
}

TEST_F(ContinuationTest, CallsFromSeveralThreadsAcrossRotationsAreEachRecordedOnce) {
    ASSERT_EQ(devsim::LoadText(kDevices), "");
    Place(Forwarding() + "file=r.txt\nmax_size_kb=4\nkeep=60\n");
    Bind();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) threads.emplace_back([this] { ReadPorts(100); });
    for (std::thread& thread : threads) thread.join();
    std::size_t reads = 0;
    for (int n = 0; n < 60; ++n) {
        const std::string path = dir_.Path(n == 0 ? "r.txt" : "r.txt." + std::to_string(n));
        if (!fs::exists(path)) continue;
        const recording::Recording part = Parse(path);
        for (const recording::Call& call : part.calls) reads += !call.carried && call.function == "DRV_DioReadPortByte";
    }
    EXPECT_FALSE(fs::exists(dir_.Path("r.txt.60"))) << "a file was dropped";
    EXPECT_TRUE(fs::exists(dir_.Path("r.txt.2")));
    EXPECT_EQ(reads, 400u);
}

TEST_F(ContinuationTest, AFileThatCannotBeMovedAsideKeepsTheRecordingUntilItCan) {
    ASSERT_EQ(devsim::LoadText(kDevices), "");
    // A directory in the way of r.txt.1 that cannot be removed.
    fs::create_directories(dir_.path() / "r.txt.1" / "held");
    Place(Forwarding() + "file=r.txt\nmax_size_kb=1\nkeep=1\n");
    ::testing::internal::CaptureStderr();
    Bind();
    ReadPorts(40);
    const std::string said = ::testing::internal::GetCapturedStderr();
    const std::string why = "cannot move " + dir_.Path("r.txt") + " aside to " + dir_.Path("r.txt.1");
    EXPECT_NE(said.find("tovi recorder: " + why), std::string::npos) << said;
    EXPECT_EQ(said.find("tovi recorder"), said.rfind("tovi recorder")) << "noted once: " << said;
    const std::string held = Read(dir_.Path("r.txt"));
    EXPECT_GT(held.size(), 2048u);
    EXPECT_EQ(held.find("# " + why), held.rfind("# " + why)) << held;
    EXPECT_NE(held.find("# " + why), std::string::npos) << held;
    EXPECT_EQ(Parse(dir_.Path("r.txt")).calls.size(), 48u);

    ::testing::internal::CaptureStderr();
    fs::remove_all(dir_.path() / "r.txt.1");
    ReadPorts(1);
    ASSERT_TRUE(fs::is_regular_file(dir_.Path("r.txt.1")));
    EXPECT_EQ(Read(dir_.Path("r.txt.1")), held);
    const recording::Recording next = Parse(dir_.Path("r.txt"));
    EXPECT_TRUE(next.header.continues);
    ASSERT_FALSE(next.calls.empty());
    EXPECT_FALSE(next.calls.back().carried);
    EXPECT_EQ(next.calls.back().function, "DRV_DioReadPortByte");

    // Later files move aside without a word, until a move fails again: noted again.
    ReadPorts(60);
    const std::string moved = Read(dir_.Path("r.txt.1"));
    EXPECT_EQ(moved.find("# cannot move"), std::string::npos) << moved;
    EXPECT_NE(moved, held);
    fs::remove(dir_.path() / "r.txt.1");
    fs::create_directories(dir_.path() / "r.txt.1" / "held");
    ReadPorts(60);
    const std::string later = ::testing::internal::GetCapturedStderr();
    const std::string at_last = "tovi recorder: " + dir_.Path("r.txt") + ": moved aside at last\n";
    ASSERT_EQ(later.substr(0, at_last.size()), at_last) << later;
    EXPECT_EQ(later.find("tovi recorder", 1), at_last.size()) << later;
    EXPECT_EQ(later.find("tovi recorder: " + why, at_last.size()), at_last.size()) << later;
    EXPECT_EQ(later.find('\n', at_last.size()), later.size() - 1) << "two lines: " << later;
}

TEST_F(ContinuationTest, RecordOnAndOffInTheIniStartAndStopTheRecordingWhileTheProcessRuns) {
    ASSERT_EQ(devsim::LoadText(kDevices), "");
    const std::string settings = Forwarding() + "file=r.txt\n";
    Place(settings + "record=off\n");
    Bind();
    auto last = std::chrono::steady_clock::now();
    ReadPorts(3);
    EXPECT_FALSE(fs::exists(dir_.Path("r.txt")));

    dir_.Write("recorder.ini", settings + "record=on\n");
    last = CallAfterTheNextLook(last);
    ASSERT_TRUE(fs::exists(dir_.Path("r.txt")));
    ReadPorts(2);
    const recording::Recording started = Parse(dir_.Path("r.txt"));
    EXPECT_TRUE(started.header.continues);
    std::vector<recording::Call> carried, own;
    for (const recording::Call& call : started.calls) (call.carried ? carried : own).push_back(call);
    const std::vector<std::string> keys = Keys(carried);
    ASSERT_EQ(keys.size(), 8u);
    EXPECT_EQ(std::vector<std::string>(keys.begin(), keys.begin() + 6), kBindingKeys);
    EXPECT_EQ(keys[7], "DRV_DeviceGetFeatures handle=" + std::to_string(device_) + " dev=3 size=486");
    EXPECT_EQ(keys[6], "COMSetConfig handle=" + std::to_string(serial_) + " port=2 config=" + kSerialConfig);
    ASSERT_GE(own.size(), 2u);
    EXPECT_GE(own.front().time_us, started.header.continues_us);
    for (const recording::Call& call : own) EXPECT_EQ(call.function, "DRV_DioReadPortByte");

    dir_.Write("recorder.ini", settings + "record=off\n");
    last = CallAfterTheNextLook(last);
    const std::string stopped = Read(dir_.Path("r.txt"));
    EXPECT_NE(stopped.find("\n# recording stopped at "), std::string::npos) << stopped;
    EXPECT_NE(stopped.find(": record=off in recorder.ini\n"), std::string::npos) << stopped;
    ReadPorts(3);
    EXPECT_EQ(Read(dir_.Path("r.txt")), stopped);

    // Started again: the earlier part of the run moves aside, as a full file would.
    dir_.Write("recorder.ini", settings + "record=on\n");
    CallAfterTheNextLook(last);
    ASSERT_TRUE(fs::exists(dir_.Path("r.txt.1")));
    EXPECT_EQ(Read(dir_.Path("r.txt.1")), stopped);
    const recording::Recording again = Parse(dir_.Path("r.txt"));
    EXPECT_TRUE(again.header.continues);
    EXPECT_EQ(again.header.started, started.header.started);
    EXPECT_GT(again.header.continues_us, started.header.continues_us);
    EXPECT_EQ(Lines(std::vector<recording::Call>(again.calls.begin(), again.calls.begin() + 8)), Lines(carried));
}

TEST_F(ContinuationTest, AnIniRemovedOrWithoutRecordLeavesTheRecordingAsItWas) {
    ASSERT_EQ(devsim::LoadText(kDevices), "");
    const std::string settings = Forwarding() + "file=r.txt\n";
    Place(settings + "record=off\n");
    Bind();
    auto last = std::chrono::steady_clock::now();

    fs::remove(dir_.Path("recorder.ini"));
    last = CallAfterTheNextLook(last);
    EXPECT_FALSE(fs::exists(dir_.Path("r.txt"))) << "a removed ini is not record=on";

    dir_.Write("recorder.ini", settings);
    last = CallAfterTheNextLook(last);
    EXPECT_FALSE(fs::exists(dir_.Path("r.txt"))) << "an ini without record= (half written) is not record=on";

    dir_.Write("recorder.ini", settings + "record=on\n");
    CallAfterTheNextLook(last);
    EXPECT_TRUE(fs::exists(dir_.Path("r.txt")));
}

TEST(RecorderSettings, WhatAnIniWithoutSettingsAndAMissingOneGive) {
    tovitest::TempDirectory dir;
    const std::string directory = dir.path().string() + "/";
    for (const bool written : {true, false}) {
        if (written) dir.Write("recorder.ini", "[recorder]\n; nothing set\n");
        else fs::remove(dir.Path("recorder.ini"));
        std::string problems;
        const recorder::Settings settings = recorder::ReadSettings(directory, problems);
        EXPECT_EQ(problems, "");
        EXPECT_EQ(settings.max_bytes, 104857600u);
        EXPECT_EQ(settings.keep, 3);
        EXPECT_EQ(settings.flush_ms, 1000u);
        EXPECT_TRUE(settings.record);
        EXPECT_FALSE(settings.record_given) << "no record= to follow while the process runs";
        EXPECT_EQ(settings.file, directory + "tovi-recording.txt");
    }
    dir.Write("recorder.ini", "[recorder]\nrecord=off\nrecord=maybe\n");
    std::string problems;
    const recorder::Settings off = recorder::ReadSettings(directory, problems);
    EXPECT_FALSE(off.record);
    EXPECT_TRUE(off.record_given);
    EXPECT_EQ(problems, "recorder.ini:3: \"record=maybe\": record takes on or off (skipped)\n");
}

}  // namespace
