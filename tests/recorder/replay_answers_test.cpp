// The replay fed recordings whose answers differ call by call: each channel,
// port and device keeps its own order however the calls interleave (over
// threads too), describing calls repeat their last answer after their recorded
// ones, and the counts say how far the replay got.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "device_sim/device_sim.h"
#include "device_sim/exports.h"

namespace {

const char kHeader[] =
    "tovi-recording 1\n"
    "started 2026-12-08T10:00:00Z\n"
    "device-library \"ADSAPI32.dll\"\n"
    "serial-library \"ADSCOMM.dll\"\n";

// Two devices; every answer differs from the one before it.
const char kInterleaved[] =
    "1 1 DRV_DeviceOpen dev=1 -> 0 handle=7\n"
    "2 1 DRV_DeviceOpen dev=2 -> 0 handle=8\n"
    "3 1 DRV_AIVoltageIn handle=7 dev=1 channel=0 gain=0 trigger=0 -> 0 voltage=0.1\n"
    "4 2 DRV_AIVoltageIn handle=7 dev=1 channel=1 gain=0 trigger=0 -> 0 voltage=1.1\n"
    "5 1 DRV_DioReadPortByte handle=8 dev=2 port=0 -> 0 value=1\n"
    "6 1 DRV_AIVoltageIn handle=7 dev=1 channel=0 gain=0 trigger=0 -> 0 voltage=0.2\n"
    "7 2 DRV_AIVoltageIn handle=7 dev=1 channel=1 gain=0 trigger=0 -> 1001 voltage=1.2\n"
    "8 1 DRV_DioReadPortByte handle=8 dev=2 port=0 -> 0 value=2\n"
    "9 2 DRV_DioReadPortByte handle=8 dev=2 port=1 -> 0 value=3\n"
    "10 1 DRV_AIVoltageIn handle=7 dev=1 channel=0 gain=0 trigger=0 -> 0 voltage=0.3\n"
    "11 1 DRV_DeviceClose handle=8 dev=2 -> 0 handle=0\n"
    "12 1 DRV_DeviceClose handle=7 dev=1 -> 0 handle=0\n";

class ReplayAnswersTest : public ::testing::Test {
protected:
    void TearDown() override { devsim_unload(); }

    static void Load(const std::string& calls) {
        char error[512] = {};
        ASSERT_EQ(devsim_load_text((kHeader + calls).c_str(), error, sizeof error), 0) << error;
    }
    static devsim_replay_state State() {
        devsim_replay_state state{};
        EXPECT_EQ(devsim_replay_state_of(&state), 0);
        return state;
    }
    // "calls/divergences/remaining/remaining closes/ended"
    static std::string Counts() {
        const devsim_replay_state s = State();
        return std::to_string(s.calls) + "/" + std::to_string(s.divergences) + "/" + std::to_string(s.remaining) + "/" +
               std::to_string(s.remaining_closes) + "/" + std::to_string(s.ended);
    }
    static std::string Voltage(Handle handle, std::uint16_t channel) {
        float volts = -99;
        vendor::AIVoltageInBlock block{channel, 0, 0, 0, &volts};
        const Status status = DRV_AIVoltageIn(handle, &block);
        char text[32];
        std::snprintf(text, sizeof text, "%d:%.9g", static_cast<int>(status), static_cast<double>(volts));
        return text;
    }
    static int Port(Handle handle, std::uint16_t port) {
        std::uint16_t value = 0xFFFF;
        vendor::DioReadPortByteBlock block{port, 0, &value};
        EXPECT_EQ(DRV_DioReadPortByte(handle, &block), 0);
        return value;
    }
};

TEST_F(ReplayAnswersTest, EachChannelPortAndDeviceGetsItsOwnAnswersInAnotherOrderThanRecorded) {
    Load(kInterleaved);
    Handle second = 0, first = 0;
    // The devices opened in the other order: each open has its own device's answer.
    ASSERT_EQ(DRV_DeviceOpen(2, &second), 0);
    ASSERT_EQ(DRV_DeviceOpen(1, &first), 0);
    EXPECT_EQ(first, 7u);
    EXPECT_EQ(second, 8u);
    EXPECT_EQ(Port(second, 1), 3);
    EXPECT_EQ(Voltage(first, 1), "0:1.10000002");
    EXPECT_EQ(Voltage(first, 1), "1001:1.20000005");
    EXPECT_EQ(Port(second, 0), 1);
    EXPECT_EQ(Voltage(first, 0), "0:0.100000001");
    EXPECT_EQ(Voltage(first, 0), "0:0.200000003");
    EXPECT_EQ(Counts(), "8/0/4/2/0");
    EXPECT_EQ(Port(second, 0), 2);
    EXPECT_EQ(Voltage(first, 0), "0:0.300000012");
    EXPECT_EQ(Counts(), "10/0/2/2/0");
    // The closes in the other order too, each counted off the closes still expected.
    EXPECT_EQ(DRV_DeviceClose(&first), 0);
    EXPECT_EQ(Counts(), "11/0/1/1/0");
    EXPECT_EQ(DRV_DeviceClose(&second), 0);
    EXPECT_EQ(Counts(), "12/0/0/0/0");
    EXPECT_STREQ(State().first_divergence, "");
}

TEST_F(ReplayAnswersTest, CallsFromTwoThreadsTakeTheirAnswersByWhatTheyConcernNotByThread) {
    Load(kInterleaved);
    Handle first = 0, second = 0;
    ASSERT_EQ(DRV_DeviceOpen(1, &first), 0);
    ASSERT_EQ(DRV_DeviceOpen(2, &second), 0);
    // Recorded on thread 2, replayed on the first thread; one after the other so
    // that the order is known.
    std::vector<std::string> seen;
    std::thread([&] {
        seen.push_back(Voltage(first, 0));
        seen.push_back(std::to_string(Port(second, 1)));
        seen.push_back(Voltage(first, 0));
    }).join();
    std::thread([&] {
        seen.push_back(Voltage(first, 1));
        seen.push_back(std::to_string(Port(second, 0)));
        seen.push_back(Voltage(first, 1));
    }).join();
    EXPECT_EQ(seen, (std::vector<std::string>{"0:0.100000001", "3", "0:0.200000003", "0:1.10000002", "1",
                                              "1001:1.20000005"}));
    EXPECT_EQ(Counts(), "8/0/4/2/0");
}

TEST_F(ReplayAnswersTest, ADivergentCallUsesUpItsAnswerAndOnlyTheFirstDivergenceIsNamed) {
    Load(kInterleaved);
    Handle first = 0;
    ASSERT_EQ(DRV_DeviceOpen(1, &first), 0);
    float volts = 0;
    vendor::AIVoltageInBlock gained{0, 2, 0, 0, &volts};
    EXPECT_EQ(DRV_AIVoltageIn(first, &gained), 0);
    EXPECT_EQ(volts, 0.1f);
    EXPECT_EQ(Voltage(first, 0), "0:0.200000003");
    EXPECT_EQ(DRV_AIVoltageIn(first, &gained), 0);
    EXPECT_EQ(volts, 0.3f);
    EXPECT_EQ(Counts(), "4/2/8/2/0");
    EXPECT_STREQ(State().first_divergence,
                 "call 2: DRV_AIVoltageIn dev=1 channel=0: expected dev=1 channel=0 gain=0 trigger=0 (text:7), "
                 "got dev=1 channel=0 gain=2 trigger=0");
}

TEST_F(ReplayAnswersTest, DescribingCallsGiveTheirLastAnswerAgainEvenAfterTheRecordingIsUsedUp) {
    Load("1 1 DRV_GetErrorMessage code=7 -> 0 text=\"first\"\n"
         "2 1 DRV_DeviceGetNumOfList -> 0 devices=1\n"
         "3 1 DRV_GetErrorMessage code=7 -> 0 text=\"second\"\n"
         "4 1 DRV_GetErrorMessage code=8 -> 0 text=\"other\"\n"
         "5 1 DRV_DeviceGetNumOfList -> 0 devices=2\n");
    std::vector<std::string> texts;
    for (const vendor::Status code : {7, 8, 7, 7, 8}) {
        char text[256] = {};
        EXPECT_EQ(DRV_GetErrorMessage(code, text), 0);
        texts.push_back(text);
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"first", "other", "second", "second", "other"}));
    std::int16_t count = 0;
    EXPECT_EQ(DRV_DeviceGetNumOfList(&count), 0);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(DRV_DeviceGetNumOfList(&count), 0);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(Counts(), "7/0/0/0/0");
    // Used up: the devices are still described, and nothing ends the replay...
    count = 0;
    EXPECT_EQ(DRV_DeviceGetNumOfList(&count), 0);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(Counts(), "8/0/0/0/0");
    // ...until a call that is no description comes past the end.
    Handle handle = 0;
    EXPECT_NE(DRV_DeviceOpen(1, &handle), 0);
    EXPECT_EQ(Counts(), "9/0/0/0/1");
}

}  // namespace
