// A started driver whose worker thread the test controls: Init runs with thread
// creation failing, so events, lock and queues exist and no thread serves them until
// the test starts one (or runs a pass itself).
#pragma once

#include <gtest/gtest.h>

#include <cstring>

#include "config/channel.h"
#include "driver/driver_instance.h"
#include "driver/tovi.h"
#include "host/memory.h"
#include "platform/platform.h"
#include "requests/worker_thread.h"
#include "tests/support/replaceable_passes.h"
#include "tests/support/driver_fixture.h"

namespace tovitest {

class RequestTest : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        driver_ = MakeDriver();
        tovi::platform::testing::FailThreadCreation(1);
        ASSERT_EQ(InitOn(files_.Write("plant.ini", kEmptyPlant)), 0);
        tovi::platform::testing::FailThreadCreation(0);
        ASSERT_NE(driver_->work_event, nullptr);
        ASSERT_NE(driver_->stop_event, nullptr);
    }
    void TearDown() override {
        Done(driver_);
        tovi::testing::ReplacePasses(nullptr, nullptr);
        DisposeDriver(driver_);
        driver_ = nullptr;
        DriverTest::TearDown();
    }

    // Starts the worker thread as Init would have.
    void StartWorker() {
        driver_->worker_thread = tovi::platform::StartThread(&tovi::WorkerThread, driver_);
        ASSERT_NE(driver_->worker_thread, nullptr);
    }

    tovi::Channel* AddChannel(std::int32_t number, std::int32_t io_type, std::uint32_t expected_type) {
        auto* channel = host::NewObject<tovi::Channel>();
        channel->number = number;
        channel->io_type = io_type;
        channel->expected_type = expected_type;
        driver_->channels.Insert(channel);
        return channel;
    }

    tovi::Channel* AddParameter(std::int32_t number, tovi::Channel* owner, std::uint32_t expected_type) {
        tovi::Channel* channel = AddChannel(number, owner->io_type, expected_type);
        channel->owner = owner;
        channel->flags = tovi::kParameterChannel;
        return channel;
    }

    std::uint32_t QueueLength(tovi::RequestQueue& queue) {
        tovi::platform::LockGuard guard(driver_->lock);
        return queue.Count();
    }

    bool WorkSignalled() { return tovi::platform::WaitForEvent(driver_->work_event, 0); }

    static void WriteReal(DriverInstance* driver, std::int32_t number, double value) {
        std::uint32_t words[2];
        std::memcpy(words, &value, 8);
        OutputRequest(driver, number, tovi::kTypeReal, words[0], words[1]);
    }
    static double RealOf(const tovi::ValueCell& cell) {
        double value;
        std::memcpy(&value, cell.payload, 8);
        return value;
    }
};

}  // namespace tovitest
