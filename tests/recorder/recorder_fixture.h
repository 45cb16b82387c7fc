// The recorder libraries copied into a directory of their own beside a
// recorder.ini the test writes, loaded, and what they record read back.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "device_sim/device_sim.h"
#include "device_sim/exports.h"
#include "platform/platform.h"
#include "tests/support/temp_files.h"

namespace tovitest {

namespace fs = std::filesystem;

inline std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Call lines without their time and thread.
inline std::vector<std::string> Calls(const std::string& recording) {
    std::vector<std::string> calls;
    std::istringstream in(recording);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] < '0' || line[0] > '9') continue;
        calls.push_back(line.substr(line.find(' ', line.find(' ') + 1) + 1));
    }
    return calls;
}

class RecorderTest : public ::testing::Test {
protected:
    void TearDown() override { devsim_unload(); }

    // Copies of the recorder libraries with the given recorder.ini, loaded.
    void Place(const std::string& settings) {
        fs::copy_file(RECORDER_DEVICE_LIBRARY, dir_.path() / fs::path(RECORDER_DEVICE_LIBRARY).filename());
        fs::copy_file(RECORDER_SERIAL_LIBRARY, dir_.path() / fs::path(RECORDER_SERIAL_LIBRARY).filename());
        dir_.Write("recorder.ini", settings);
        device_ = tovi::platform::OpenLibrary(dir_.Path(fs::path(RECORDER_DEVICE_LIBRARY).filename().string()).c_str(), 0, nullptr);
        serial_ = tovi::platform::OpenLibrary(dir_.Path(fs::path(RECORDER_SERIAL_LIBRARY).filename().string()).c_str(), 0, nullptr);
        ASSERT_NE(device_, nullptr);
        ASSERT_NE(serial_, nullptr);
    }
    std::string Forwarding() const {
        return std::string("[recorder]\ndevice_library=") + SIMULATED_DEVICE_LIBRARY +
               "\nserial_library=" + SIMULATED_SERIAL_LIBRARY + "\nflush_ms=0\n";
    }
    template <class Fn>
    Fn Device(const char* name) const {
        return reinterpret_cast<Fn>(tovi::platform::LibrarySymbol(device_, name));
    }
    template <class Fn>
    Fn Serial(const char* name) const {
        return reinterpret_cast<Fn>(tovi::platform::LibrarySymbol(serial_, name));
    }
    std::uint16_t ReadPort(Handle handle, std::uint16_t port, Status& status) const {
        std::uint16_t value = 0;
        vendor::DioReadPortByteBlock block{port, 0, &value};
        status = Device<vendor::DioReadPortByteFn>("DRV_DioReadPortByte")(handle, &block);
        return value;
    }

    tovitest::TempDirectory dir_;
    tovi::platform::LibraryHandle device_ = nullptr, serial_ = nullptr;
};

}  // namespace tovitest
