// A fresh simulated device manager for every test.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "device_sim/device_sim.h"
#include "device_sim/exports.h"

namespace simtest {

class SimTest : public ::testing::Test {
protected:
    void TearDown() override {
        devsim_trace_set_callback(nullptr, nullptr);
        devsim_unload();
    }

    static void Load(const std::string& text) { ASSERT_EQ(devsim::LoadText(text), ""); }

    static Handle Open(std::uint32_t number) {
        Handle handle = 0x7FFFFFFF;
        EXPECT_EQ(DRV_DeviceOpen(number, &handle), 0);
        return handle;
    }

    static Handle OpenSerial(std::uint32_t port) {
        Handle handle = 0x7FFFFFFF;
        std::uint32_t unused = 0xDEADBEEF;
        EXPECT_EQ(COMOpen(port, &unused, &handle), 0);
        return handle;
    }
};

}  // namespace simtest
