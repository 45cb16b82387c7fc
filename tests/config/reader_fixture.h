// A driver instance configured from files written by the test. The test runs in a
// directory of its own, where the driver (linked into the test program, not loaded
// as its library) looks for tovi.ini.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "config/channel.h"
#include "config/module.h"
#include "config/parameter_file.h"
#include "diagnostics/messages.h"
#include "driver/driver_instance.h"
#include "driver/tovi.h"
#include "host/memory.h"
#include "tests/support/temp_files.h"

namespace tovitest {

// The module-type database of the worked examples.
inline const char kExampleTypes[] =
    "[dio16]\n"
    "0, 3=di_bit, do_bit\n"
    "1=do_byte, di_byte\n"
    "2=ai, cjc\n"
    "3=cnt_event_start, cnt_event_read\n"
    "4=alarm_config\n"
    "[disp6]\n"
    "internal=display_select, display_data\n"
    "[disp6 PAR]\n"
    "display_select=1, 2\n"
    "display_data=-50, 150.5, true\n";

// The parameter file of the worked example.
inline const char kExamplePlant[] =
    "[tovi]\n"
    "log_file=plant.log\n"
    "[modules]\n"
    "; name = type, device, sub-device\n"
    "m1=dio16, dev1, sub1\n"
    "disp=disp6, dev1, sub2\n"
    "[m1]\n"
    "di_bit 0 3=10\n"
    "do_byte 1=11\n"
    "ai 2=12 13\n"
    "cnt_event_start 3=14 15\n"
    "alarm_config 4=16 17 18\n"
    "[disp]\n"
    "display_data=20\n";

// The Windows-1250 bytes of a message, with " (" + quoted + ")" when quoted is given.
template <class Text>
std::string Msg(const Text& text) {
    return std::string(text.c_str());
}
template <class Text>
std::string Msg(const Text& text, const std::string& quoted) {
    return std::string(text.c_str()) + " (" + quoted + ")";
}

class ReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_directory_ = std::filesystem::current_path();
        std::filesystem::current_path(files_.path());
        live_blocks_ = host::testing::LiveBlocks();
        driver_ = MakeDriver();
        ASSERT_NE(driver_, nullptr);
    }
    void TearDown() override {
        host::testing::FailAllocation(0);
        Release();
        EXPECT_EQ(host::testing::LiveBlocks(), live_blocks_) << "blocks leaked";
        std::filesystem::current_path(previous_directory_);
    }

    void Release() {
        if (driver_ == nullptr) return;
        Done(driver_);
        DisposeDriver(driver_);
        driver_ = nullptr;
    }
    // A fresh instance for a second reading within one test.
    void Renew() {
        Release();
        driver_ = MakeDriver();
        ASSERT_NE(driver_, nullptr);
    }

    void Types(const std::string& content) { files_.Write("tovi.ini", content); }

    // Reads plant (with the worked example's database unless Types() wrote another).
    bool Read(const std::string& plant, std::uint32_t capacity = 255) {
        if (!std::filesystem::exists(files_.path() / "tovi.ini")) Types(kExampleTypes);
        const std::string path = files_.Write("plant.ini", plant);
        return ReadPath(path, capacity);
    }
    bool ReadPath(const std::string& path, std::uint32_t capacity = 255) {
        std::fill(std::begin(message_), std::end(message_), '\x7F');
        const bool ok = tovi::ReadParameterFile(*driver_, static_cast<std::uint32_t>(path.size()), path.c_str(),
                                                capacity, message_);
        EXPECT_EQ(message_[capacity + 1], '\x7F') << "message written beyond its capacity";
        if (!ok) {
            EXPECT_LE(std::string(message_).size(), capacity);
        }
        return ok;
    }
    std::string message() const { return message_; }

    tovi::Channel* Find(std::int32_t number) const { return driver_->channels.Find(number); }
    std::vector<tovi::Module*> Modules() const {
        std::vector<tovi::Module*> modules;
        tovi::Module* module = nullptr;
        for (bool more = driver_->modules.First(&module); more; more = driver_->modules.Next(&module)) {
            modules.push_back(module);
        }
        return modules;
    }
    std::vector<std::int32_t> Numbers() const {
        std::vector<std::int32_t> numbers;
        driver_->channels.ForEach(
            [&](const host::CollectionItem& item) { numbers.push_back(static_cast<const tovi::Channel&>(item).number); });
        return numbers;
    }

    TempDirectory files_;
    DriverInstance* driver_ = nullptr;
    char message_[1024] = {};

private:
    std::filesystem::path previous_directory_;
    std::int64_t live_blocks_ = 0;
};

}  // namespace tovitest
