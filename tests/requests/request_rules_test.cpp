// Queueing rules of the request exports, checked without a worker thread: the test
// runs the passes itself.
#include <string>

#include "device/passes.h"
#include "diagnostics/messages.h"
#include "tests/requests/request_fixture.h"

namespace {

using namespace tovi;
using tovitest::RequestTest;

TEST_F(RequestTest, ReadsAreQueuedOnceAndParameterChannelsReadTheirOwner) {
    Channel* counter = AddChannel(5, kIoCntEventRead, kTypeReal);
    Channel* overflow = AddParameter(6, counter, kTypeBoolean);
    InputRequest(driver_, 5);
    InputRequest(driver_, 5);
    InputRequest(driver_, 6);  // redirected to channel 5, which is already queued
    InputRequest(driver_, 999);
    EXPECT_EQ(QueueLength(driver_->input_queue), 1u);
    EXPECT_EQ(counter->flags & kQueued, kQueued);

    std::int32_t status = -1;
    EXPECT_EQ(InputFinalized(driver_, 5, &status), 0);
    EXPECT_EQ(InputFinalized(driver_, 6, &status), 1);  // the parameter channel's own flags
    EXPECT_EQ(status, 0);
    EXPECT_EQ(InputFinalized(driver_, 999, &status), 0);

    EXPECT_FALSE(WorkSignalled());
    InputRequestCompleted(driver_);
    EXPECT_TRUE(WorkSignalled());
    InputPass(*driver_);
    EXPECT_EQ(QueueLength(driver_->input_queue), 0u);
    EXPECT_EQ(InputFinalized(driver_, 5, &status), 1);
    EXPECT_EQ(overflow->flags, static_cast<std::uint32_t>(kParameterChannel));
}

TEST_F(RequestTest, CompletionWithNothingQueuedSignalsNothing) {
    AddChannel(1, kIoAi, kTypeReal);
    InputRequestCompleted(driver_);
    EXPECT_FALSE(WorkSignalled());
    // A batch that a pass already emptied closes without a signal.
    InputRequest(driver_, 1);
    InputPass(*driver_);
    InputRequestCompleted(driver_);
    EXPECT_FALSE(WorkSignalled());
    EXPECT_EQ(driver_->run_state.load() & kInputBatchOpen, 0u);
}

TEST_F(RequestTest, WritesKeepTheNewestValueAndCheckTheTypeFirst) {
    Channel* output = AddChannel(20, kIoAo, kTypeReal);
    Channel* relay = AddChannel(17, kIoDoBit, kTypeBoolean);
    WriteReal(driver_, 20, 1.5);
    WriteReal(driver_, 20, 2.5);
    EXPECT_EQ(QueueLength(driver_->output_queue), 1u);
    EXPECT_EQ(RealOf(output->value), 2.5);

    OutputRequest(driver_, 17, kTypeBoolean, 1, 0);
    relay->value.payload[3] = 0x5A;
    // A real on a boolean channel that is already queued: reported, not stored.
    WriteReal(driver_, 17, 123.0);
    EXPECT_EQ(relay->value.type_code, kTypeBoolean);
    EXPECT_EQ(relay->value.payload[0], 1);
    EXPECT_EQ(relay->value.payload[3], 0x5A);
    // ...and on a channel that is not queued: nothing is queued either.
    AddChannel(30, kIoDoBit, kTypeBoolean);
    WriteReal(driver_, 30, 1.0);
    EXPECT_EQ(QueueLength(driver_->output_queue), 2u);

    const auto log = hostapi::LogMessages();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].text, "Nekompatibiln\xED typ kan\xE1lu (17)");
    EXPECT_EQ(log[0].kind, 1u);
    EXPECT_EQ(log[0].flag, 1);
    EXPECT_EQ(log[1].text, "Nekompatibiln\xED typ kan\xE1lu (30)");
    EXPECT_EQ(output->flags & kErrorPending, 0u);
}

TEST_F(RequestTest, ParameterValuesAreStoredNotQueued) {
    Channel* alarm = AddChannel(16, kIoAlarmConfig, kTypeBoolean);
    Channel* low = AddParameter(17, alarm, kTypeReal);
    WriteReal(driver_, 17, -4.0);
    EXPECT_EQ(QueueLength(driver_->output_queue), 0u);
    EXPECT_NE(low->flags & kParameterValuePresent, 0u);
    EXPECT_EQ(RealOf(low->value), -4.0);
    std::int32_t status = -1;
    EXPECT_EQ(OutputFinalized(driver_, 17, &status), 1);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(driver_->run_state.load() & kOutputBatchOpen, 0u);
}

TEST_F(RequestTest, AnErrorIsReportedOnce) {
    Channel* input = AddChannel(3, kIoAi, kTypeReal);
    InputRequest(driver_, 3);
    {
        platform::LockGuard guard(driver_->lock);
        input->flags = (input->flags & ~kQueued) | kErrorPending;
    }
    std::int32_t status = -1;
    EXPECT_EQ(InputFinalized(driver_, 3, &status), 1);
    EXPECT_EQ(status, 2);
    EXPECT_EQ(InputFinalized(driver_, 3, &status), 1);
    EXPECT_EQ(status, 0);
}

TEST_F(RequestTest, GetInputReturnsTheStoredValueOfTheRequestedType) {
    Channel* input = AddChannel(8, kIoAi, kTypeReal);
    const double previous = 7.25;
    std::memcpy(input->value.payload, &previous, 8);
    input->value.type_code = kTypeReal;
    InputRequest(driver_, 8);  // a new read is pending

    host::ValueRecord record{kTypeReal, {}};
    GetInput(driver_, 8, &record);
    double read = 0;
    std::memcpy(&read, record.payload, 8);
    EXPECT_EQ(read, 7.25);

    host::ValueRecord wrong{kTypeBoolean, {9, 9, 9, 9, 9, 9, 9, 9}};
    GetInput(driver_, 8, &wrong);
    EXPECT_EQ(wrong.type_code, kTypeBoolean);
    EXPECT_EQ(wrong.payload[0], 9);
    ASSERT_EQ(hostapi::LogMessages().size(), 1u);
    EXPECT_EQ(hostapi::LogMessages()[0].text, "Nekompatibiln\xED typ kan\xE1lu (8)");

    Channel* bit = AddChannel(9, kIoDiBit, kTypeBoolean);
    bit->value.payload[0] = 1;
    host::ValueRecord flag{kTypeBoolean, {0, 7, 7, 7, 7, 7, 7, 7}};
    GetInput(driver_, 9, &flag);
    EXPECT_EQ(flag.payload[0], 1);
    EXPECT_EQ(flag.payload[1], 7);
}

TEST_F(RequestTest, RequestsAfterStopBeganDoNothing) {
    AddChannel(1, kIoAi, kTypeReal);
    AddChannel(2, kIoAo, kTypeReal);
    driver_->run_state.fetch_or(kStopping);
    InputRequest(driver_, 1);
    WriteReal(driver_, 2, 1.0);
    EXPECT_EQ(QueueLength(driver_->input_queue), 0u);
    EXPECT_EQ(QueueLength(driver_->output_queue), 0u);
    std::int32_t status = -1;
    EXPECT_EQ(OutputFinalized(driver_, 2, &status), 1);
}

// A request without memory for its queue item is never made: the host learns it as
// a failure of that direction, once, and the message log says why.
TEST_F(RequestTest, ARequestThatCannotBeQueuedIsAnsweredAsFailedOnce) {
    Channel* input = AddChannel(1, kIoAi, kTypeReal);
    Channel* output = AddChannel(2, kIoAo, kTypeReal);
    host::testing::FailAllocation(1, host::testing::FailMode::FromThenOn);
    InputRequest(driver_, 1);
    WriteReal(driver_, 2, 3.0);
    host::testing::FailAllocation(0);
    EXPECT_EQ(QueueLength(driver_->input_queue) + QueueLength(driver_->output_queue), 0u);
    EXPECT_EQ(RealOf(output->value), 3.0);  // the value stays stored
    EXPECT_EQ(driver_->run_state.load() & (kInputBatchOpen | kOutputBatchOpen), 0u);

    std::int32_t status = -1;
    EXPECT_EQ(InputFinalized(driver_, 1, &status), 1);
    EXPECT_EQ(status, 2);
    EXPECT_EQ(OutputFinalized(driver_, 2, &status), 1);
    EXPECT_EQ(status, 2);
    EXPECT_EQ(InputFinalized(driver_, 1, &status), 1);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(OutputFinalized(driver_, 2, &status), 1);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(input->flags & (kQueued | kBusy), 0u);

    const auto log = hostapi::LogMessages();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].text, "Nedostatek pam\xECti pro po\x9E" "adavek kan\xE1lu (1)");
    EXPECT_EQ(log[1].text, "Nedostatek pam\xECti pro po\x9E" "adavek kan\xE1lu (2)");
    EXPECT_EQ(log[1].kind, 1u);
}

// A write queued behind a queued read of the same channel is a request of its own.
TEST_F(RequestTest, AWriteBehindAQueuedReadIsQueuedToo) {
    Channel* output = AddChannel(20, kIoAo, kTypeReal);
    InputRequest(driver_, 20);
    WriteReal(driver_, 20, 2.5);
    WriteReal(driver_, 20, 4.5);  // replaces the queued write's value
    EXPECT_EQ(QueueLength(driver_->input_queue), 1u);
    EXPECT_EQ(QueueLength(driver_->output_queue), 1u);
    std::int32_t status = -1;
    EXPECT_EQ(OutputFinalized(driver_, 20, &status), 0);
    InputPass(*driver_);
    EXPECT_EQ(InputFinalized(driver_, 20, &status), 1);
    EXPECT_EQ(OutputFinalized(driver_, 20, &status), 0);  // the write still waits
    InputRequest(driver_, 20);  // a read behind the waiting write is queued as well
    EXPECT_EQ(QueueLength(driver_->input_queue), 1u);
    EXPECT_EQ(RealOf(output->value), 4.5);
}

}  // namespace
