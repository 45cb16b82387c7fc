// A driver instance started through its exports against the host stand-in.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "driver/tovi.h"
#include "host_api_standin/host_api_observer.h"
#include "tests/support/temp_files.h"

namespace tovitest {

// A parameter file with settings and no modules: the driver starts with nothing to serve.
inline const char kEmptyPlant[] =
    "[tovi]\r\n"
    "log_file=plant.log\r\n"
    "[modules]\r\n"
    "; no modules yet\r\n";

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override { hostapi::Reset(); }
    void TearDown() override {
        if (driver_ != nullptr) {
            Done(driver_);
            DisposeDriver(driver_);
        }
        hostapi::Reset();
    }

    // MakeDriver and Init on a parameter file with content; returns Init's result.
    std::uint8_t Start(const std::string& content = kEmptyPlant) {
        driver_ = MakeDriver();
        EXPECT_NE(driver_, nullptr);
        const std::string path = files_.Write("plant.ini", content);
        return InitOn(path);
    }

    std::uint8_t InitOn(const std::string& path) {
        message_[0] = '\0';
        return Init(driver_, static_cast<std::uint32_t>(path.size()), path.c_str(), sizeof message_ - 1, message_,
                    0xC0FFEE, 7, &context_, &OnCompletion);
    }

    static void TOVI_CALL OnCompletion(void*, std::int32_t, std::int32_t) {}

    std::string message() const { return message_; }

    TempDirectory files_;
    DriverInstance* driver_ = nullptr;
    char message_[256] = {};
    int context_ = 0;
};

}  // namespace tovitest
