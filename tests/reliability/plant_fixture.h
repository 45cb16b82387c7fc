// The example plant on its simulated devices, driven through the exports by a host
// that waits for completion callbacks (bounded, so that a hang fails instead of
// blocking the suite).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "config/channel.h"
#include "device_sim/device_sim.h"
#include "driver/driver_instance.h"
#include "driver/tovi.h"
#include "host_api_standin/host_api_observer.h"

namespace tovitest {

inline std::string SourceText(const std::string& relative) {
    std::ifstream in(std::string(TOVI_SOURCE_DIR) + "/" + relative, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct PlantChannel {
    std::int32_t number;
    std::uint32_t type_code;
    bool input;      // served by the input pass
    bool parameter;  // a parameter channel (written, never read)
};

class PlantHost {
public:
    static void TOVI_CALL OnCompletion(void* context, std::int32_t, std::int32_t) {
        auto* host = static_cast<PlantHost*>(context);
        std::lock_guard<std::mutex> guard(host->mutex_);
        ++host->callbacks_;
        host->changed_.notify_all();
    }

    // MakeDriver and Init on the example plant; null (with message) when refused.
    DriverInstance* Start(std::string* message = nullptr) {
        DriverInstance* driver = MakeDriver();
        if (driver == nullptr) return nullptr;
        const std::string path = std::string(TOVI_SOURCE_DIR) + "/examples/plant.ini";
        char text[256] = {};
        if (Init(driver, static_cast<std::uint32_t>(path.size()), path.c_str(), 255, text, 0, 0, this,
                 &OnCompletion) == 0) {
            if (message) *message = text;
            Done(driver);
            DisposeDriver(driver);
            return nullptr;
        }
        return driver;
    }

    static std::vector<PlantChannel> Channels(DriverInstance* driver) {
        std::vector<PlantChannel> channels;
        driver->channels.ForEach([&](const host::CollectionItem& item) {
            const auto& channel = static_cast<const tovi::Channel&>(item);
            const bool parameter = (channel.flags & tovi::kParameterChannel) != 0;
            channels.push_back({channel.number, channel.expected_type,
                                !parameter && tovi::IsInputType(channel.io_type), parameter});
        });
        return channels;
    }

    // Waits until Finalized answers every channel or the limit passes; answers go
    // into statuses. False on time-out.
    bool Collect(DriverInstance* driver, const std::vector<std::int32_t>& numbers, bool input,
                 std::map<std::int32_t, std::int32_t>& statuses,
                 std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        std::vector<std::int32_t> pending = numbers;
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, limit, [&] {
            for (auto it = pending.begin(); it != pending.end();) {
                std::int32_t status = -1;
                const std::uint8_t done = input ? InputFinalized(driver, *it, &status)
                                                : OutputFinalized(driver, *it, &status);
                if (done != 0) {
                    statuses[*it] = status;
                    it = pending.erase(it);
                } else {
                    ++it;
                }
            }
            return pending.empty();
        });
    }

    bool ReadBatch(DriverInstance* driver, const std::vector<std::int32_t>& numbers,
                   std::map<std::int32_t, std::int32_t>& statuses) {
        for (const std::int32_t number : numbers) InputRequest(driver, number);
        InputRequestCompleted(driver);
        return Collect(driver, numbers, true, statuses);
    }

    bool WriteBatch(DriverInstance* driver, const std::vector<PlantChannel>& channels, double value,
                    std::map<std::int32_t, std::int32_t>& statuses) {
        std::vector<std::int32_t> numbers;
        for (const PlantChannel& channel : channels) {
            std::uint32_t words[2] = {0, 0};
            if (channel.type_code == tovi::kTypeReal) {
                std::memcpy(words, &value, 8);
            } else {
                words[0] = value != 0.0 ? 1 : 0;
            }
            OutputRequest(driver, channel.number, channel.type_code, words[0], words[1]);
            numbers.push_back(channel.number);
        }
        OutputRequestCompleted(driver);
        return Collect(driver, numbers, false, statuses);
    }

    std::uint64_t callbacks() {
        std::lock_guard<std::mutex> guard(mutex_);
        return callbacks_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t callbacks_ = 0;
};

class PlantTest : public ::testing::Test {
protected:
    void SetUp() override {
        hostapi::Reset();
        const std::string error = devsim::LoadText(SourceText("examples/devices/plant.devices"));
        ASSERT_EQ(error, "");
        devsim_set_clock_step(0);
    }
    void TearDown() override {
        devsim_clear_faults();
        devsim_unload();
        hostapi::Reset();
    }
    static std::vector<std::int32_t> Numbers(const std::vector<PlantChannel>& channels, bool input) {
        std::vector<std::int32_t> numbers;
        for (const PlantChannel& channel : channels) {
            if (channel.input == input && !channel.parameter) numbers.push_back(channel.number);
        }
        return numbers;
    }
    static std::vector<PlantChannel> Outputs(const std::vector<PlantChannel>& channels) {
        std::vector<PlantChannel> outputs;
        for (const PlantChannel& channel : channels) {
            if (!channel.input) outputs.push_back(channel);
        }
        return outputs;
    }

    PlantHost host_;
};

}  // namespace tovitest
